#ifndef IMGIO_FIELDS_H
#define IMGIO_FIELDS_H

// What the drivers share to read and write their files safely: numbers of
// a fixed width in an explicit byte order, exact reads, file sizes, closes
// that report lost writes, refusals filed as messages, byte sources for
// decoders that work alike on memory and on a stream, and the whole-image
// operations that every line driver builds the same way.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "imgio.h"

inline unsigned imgio_be16(const unsigned char* p) { return unsigned(p[0]) << 8 | p[1]; }
inline unsigned imgio_le16(const unsigned char* p) { return unsigned(p[1]) << 8 | p[0]; }
inline uint32_t imgio_be32(const unsigned char* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint32_t imgio_le32(const unsigned char* p) {
  return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}
inline void imgio_put_be16(unsigned char* p, unsigned v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}
inline void imgio_put_le16(unsigned char* p, unsigned v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void imgio_put_be32(unsigned char* p, uint32_t v) {
  imgio_put_be16(p, v >> 16);
  imgio_put_be16(p + 2, v & 0xFFFF);
}
inline void imgio_put_le32(unsigned char* p, uint32_t v) {
  imgio_put_le16(p, v & 0xFFFF);
  imgio_put_le16(p + 2, v >> 16);
}

// true when all bytes were read.
bool imgio_read_exact(FILE* file, void* out, size_t bytes);
// true when the file is positioned at offset and all bytes were read there.
bool imgio_read_at(FILE* file, int64_t offset, void* out, size_t bytes);
bool imgio_write_exact(FILE* file, const void* data, size_t bytes);
// The file's size in bytes, -1 when it cannot be told; the position is kept.
int64_t imgio_file_size(FILE* file);
// Closes the stream; false when an earlier write had failed (ok false), the
// stream holds an error or the close itself fails. A null stream is ok.
bool imgio_close_stream(FILE* file, bool ok);

// The close of a driver whose record holds its stream as file: the stream
// closed (a failed close fails), the record released, the handle cleared.
template <typename Record>
int imgio_close_record(imginfo* handle, void (*release)(Record*)) {
  Record* r = static_cast<Record*>(handle->driver);
  if (!r) return 0;
  const bool ok = imgio_close_stream(r->file, true);
  r->file = nullptr;
  release(r);
  handle->driver = nullptr;
  return ok ? 1 : 0;
}

// Files "ERROR: <word> file [<name>] refused: <why>.\n" at level INFO, the
// name cut to fit the message line; returns 0 so a driver can return it.
int imgio_refuse(const char* file_name, const char* word, const char* why, ...)
    __attribute__((format(printf, 3, 4)));

// Bytes for a decoder: a span in memory or a stream. get() gives the next
// byte or -1 at the end; read() is all or nothing.
struct imgio_span_source {
  const unsigned char* data;
  size_t size;
  size_t pos;
  int get() { return pos < size ? data[pos++] : -1; }
  bool read(unsigned char* out, size_t bytes) {
    if (size - pos < bytes) return false;
    for (size_t i = 0; i < bytes; ++i) out[i] = data[pos + i];
    pos += bytes;
    return true;
  }
};

struct imgio_file_source {
  FILE* file;
  int get() { return getc(file); }
  bool read(unsigned char* out, size_t bytes) { return imgio_read_exact(file, out, bytes); }
};

// Buffer row of file line i in a whole-image buffer (rows from the bottom).
inline int imgio_buffer_row(const imginfo* handle, int i) {
  return handle->line_order == IMGIO_BOTTOM_FIRST ? i : handle->file_height - 1 - i;
}

// Whole images through a driver's own line operations: open (create), every
// line into (from) its buffer row, close. Reading leaves a createbuffer or
// createbuffer16 block in line or line16; any failure releases it. 1 or 0.
int imgio_read_whole(imginfo* handle, const imgio_driver& driver, bool deep);
int imgio_write_whole(imginfo* handle, const imgio_driver& driver, bool deep);

// Seek tables of files whose lines carry no offsets: every line is read
// once from start through read_line and its offset kept in the handle's
// extra block; the file is left where it stood, so reading goes on in step
// with the handle (also when the walk fails). Seeking puts the file at the
// kept offset of seek_line. 1 or 0.
int imgio_scan_line_offsets(imginfo* handle, FILE* file, long start, bool (*read_line)(imginfo*));
int imgio_seek_scanned_line(imginfo* handle, FILE* file);

// Heap blocks of the normal heap for driver records and tables: zeroed,
// null for a count below 1 or a size beyond one block.
void* imgio_zalloc(int64_t count, int64_t size);
void imgio_free(void* block);

#endif
