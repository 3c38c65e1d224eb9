// Sun raster driver: eight big-endian header words, an optional colour map
// of red, green and blue tables, then the lines from the top, each pixel
// blue, green, red (or one map index). Lines are not padded to an even byte
// count: files of this library have always been written so.
#include "imgio_sun.h"

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "imgio_driver_support.h"
#include "imgio_fields.h"
#include "imgio_messages.h"
#include "imgio_whole_lines.h"
#include "q4_memory.h"

namespace {

enum { kMagic = 0x59A66A95, kHeaderBytes = 32, kMaxMapBytes = 768 };
enum { kMagicField, kWidth, kHeight, kDepth, kLength, kType, kMapType, kMapLength };

struct SunRecord {
  FILE* file;
  uint32_t header[8];
  int64_t line_bytes;  // of one file line
  int64_t first_line;  // file offset of line 0
  int64_t position;    // where the stream stands; -1 when unknown
  uint8_t* buffer;     // one line, width x 3 bytes
  int map_entries;     // per table; 0 without a map
  uint8_t map[kMaxMapBytes];
};

SunRecord* record(imginfo* h) { return static_cast<SunRecord*>(h->driver); }

void release(imginfo* h) {
  SunRecord* r = record(h);
  if (!r) return;
  if (r->buffer) q4_free_c(r->buffer, __FILE__, __LINE__);
  q4_free_c(r, __FILE__, __LINE__);
  h->driver = nullptr;
}

// Closes the stream and releases the record; 0 when the close failed (for a
// written file: its last bytes did not reach the disk).
int close_and_release(imginfo* h) {
  SunRecord* r = record(h);
  if (!r) return 0;
  const bool closed = !r->file || fclose(r->file) == 0;
  release(h);
  return closed ? 1 : 0;
}

SunRecord* new_record(imginfo* h, int64_t width) {
  SunRecord* r = static_cast<SunRecord*>(q4_calloc_c(1, sizeof(SunRecord), __FILE__, __LINE__));
  if (!r) return nullptr;
  h->driver = r;
  r->buffer = static_cast<uint8_t*>(q4_malloc_c(static_cast<unsigned>(width * 3), __FILE__, __LINE__));
  if (!r->buffer) {
    messprintf(IMSSYS_FATAL, "SUN: Cannot allocate scanline buffer.\n");
    release(h);
    return nullptr;
  }
  return r;
}

// The header's refusals; the layout of the lines when it is readable.
bool check_header(const uint32_t* header, int64_t* line_bytes, int64_t* first_line, int* map_entries) {
  if (header[kMagicField] != kMagic) {
    messprintf(IMSSYS_INFO, "SUN: Bad magic number.\n");
    return false;
  }
  if (!imgio_dimensions_ok(header[kWidth], header[kHeight])) {
    messprintf(IMSSYS_INFO, "SUN: Bad image size %ux%u.\n", header[kWidth], header[kHeight]);
    return false;
  }
  // Run-length coded (2) and RGB-ordered (3) rasters are not decoded.
  if (header[kType] > 1) {
    messprintf(IMSSYS_INFO, "SUN: Raster type %u is not supported.\n", header[kType]);
    return false;
  }
  const bool mapped = header[kMapType] != 0;
  const uint32_t map_bytes = header[kMapLength];
  if (mapped && (map_bytes == 0 || map_bytes > kMaxMapBytes || map_bytes % 3 != 0)) {
    messprintf(IMSSYS_INFO, "SUN: Bad colour map length %u.\n", map_bytes);
    return false;
  }
  if (header[kDepth] != 24 && !(header[kDepth] == 8 && mapped)) {
    messprintf(IMSSYS_INFO, "SUN: Depth %u is not supported.\n", header[kDepth]);
    return false;
  }
  *map_entries = mapped && header[kDepth] == 8 ? static_cast<int>(map_bytes / 3) : 0;
  *line_bytes = int64_t(header[kWidth]) * (*map_entries ? 1 : 3);
  *first_line = kHeaderBytes + (mapped ? map_bytes : 0);
  return true;
}

int SunOpenf(imginfo* h) {
  FILE* file = fopen(h->file_name, "rb");
  if (!file) {
    messprintf(IMSSYS_INFO, "SUN: Could not open input file %s\n", h->file_name);
    return 0;
  }
  uint8_t bytes[kHeaderBytes];
  uint32_t header[8];
  int64_t line_bytes = 0, first_line = 0;
  int map_entries = 0;
  if (fread(bytes, 1, kHeaderBytes, file) != kHeaderBytes) {
    messprintf(IMSSYS_INFO, "SUN: Could not read header\n");
    fclose(file);
    return 0;
  }
  for (int i = 0; i < 8; ++i) header[i] = imgio_be32(bytes + 4 * i);
  if (!check_header(header, &line_bytes, &first_line, &map_entries)) {
    fclose(file);
    return 0;
  }
  uint8_t map[kMaxMapBytes];
  const size_t map_bytes = header[kMapType] != 0 ? header[kMapLength] : 0;
  if (fread(map, 1, map_bytes, file) != map_bytes) {
    messprintf(IMSSYS_INFO, "SUN: Cannot read colour map.\n");
    fclose(file);
    return 0;
  }
  // Every line must be in the file before a line buffer of the width the
  // header claims is allocated.
  if (uint64_t(header[kHeight]) * line_bytes > imgio_bytes_left(file)) {
    messprintf(IMSSYS_INFO, "SUN: The image data passes the end of the file.\n");
    fclose(file);
    return 0;
  }
  SunRecord* r = new_record(h, header[kWidth]);
  if (!r) {
    fclose(file);
    return 0;
  }
  r->file = file;
  memcpy(r->header, header, sizeof header);
  memcpy(r->map, map, map_bytes);
  r->line_bytes = line_bytes;
  r->first_line = first_line;
  r->map_entries = map_entries;
  r->position = first_line;
  h->file_width = static_cast<int>(header[kWidth]);
  h->file_height = static_cast<int>(header[kHeight]);
  h->bits16 = 0;
  return 1;
}

// File line current_line as blue, green, red bytes in the line buffer.
bool read_pixels(imginfo* h) {
  SunRecord* r = record(h);
  if (!r) return false;
  const int64_t offset = r->first_line + int64_t(h->current_line) * r->line_bytes;
  // Lines read in order need no seek, which would drop the stream's buffer.
  if (offset != r->position && fseeko(r->file, static_cast<off_t>(offset), SEEK_SET) != 0) {
    r->position = -1;
    return false;
  }
  if (fread(r->buffer, 1, static_cast<size_t>(r->line_bytes), r->file) != static_cast<size_t>(r->line_bytes)) {
    r->position = -1;
    return false;
  }
  r->position = offset + r->line_bytes;
  if (!r->map_entries) return true;
  // Indices become colours from the end back, in place. An index beyond the
  // map is black.
  const int entries = r->map_entries;
  for (int x = h->file_width - 1; x >= 0; --x) {
    const int i = r->buffer[x];
    uint8_t* bgr = r->buffer + 3 * x;
    const bool inside = i < entries;
    bgr[2] = inside ? r->map[i] : 0;
    bgr[1] = inside ? r->map[entries + i] : 0;
    bgr[0] = inside ? r->map[2 * entries + i] : 0;
  }
  return true;
}

int SunReadl(imginfo* h) {
  if (!read_pixels(h)) return 0;
  const uint8_t* bgr = record(h)->buffer;
  for (int x = 0; x < h->file_width; ++x, bgr += 3)
    h->line[x] = bgr[2] | unsigned(bgr[1]) << 8 | unsigned(bgr[0]) << 16 | 0xFF000000u;
  return 1;
}

int SunReadl16(imginfo* h) {
  if (!read_pixels(h)) return 0;
  const uint8_t* bgr = record(h)->buffer;
  unsigned short* out = h->line16;
  for (int x = 0; x < h->file_width; ++x, bgr += 3, out += 4) {
    out[0] = static_cast<unsigned short>(bgr[2] * 257);
    out[1] = static_cast<unsigned short>(bgr[1] * 257);
    out[2] = static_cast<unsigned short>(bgr[0] * 257);
    out[3] = 65535;
  }
  return 1;
}

int SunCreatef(imginfo* h) {
  const int64_t length = int64_t(h->file_width) * h->file_height * 3;
  if (length > UINT32_MAX) {
    messprintf(IMSSYS_INFO, "SUN: Image of %dx%d is too large for a raster file.\n", h->file_width,
               h->file_height);
    return 0;
  }
  SunRecord* r = new_record(h, h->file_width);
  if (!r) return 0;
  const uint32_t header[8] = {kMagic, uint32_t(h->file_width), uint32_t(h->file_height), 24,
                              uint32_t(length), 1, 0, 0};
  memcpy(r->header, header, sizeof header);
  r->line_bytes = int64_t(h->file_width) * 3;
  r->first_line = kHeaderBytes;
  uint8_t bytes[kHeaderBytes];
  for (int i = 0; i < 8; ++i) imgio_put_be32(bytes + 4 * i, header[i]);
  r->file = fopen(h->file_name, "wb+");
  if (!r->file || fwrite(bytes, 1, kHeaderBytes, r->file) != kHeaderBytes) {
    close_and_release(h);
    return 0;
  }
  return 1;
}

bool write_pixels(imginfo* h) {
  SunRecord* r = record(h);
  const size_t bytes = static_cast<size_t>(r->line_bytes);
  return fwrite(r->buffer, 1, bytes, r->file) == bytes;
}

int SunWritel(imginfo* h) {
  SunRecord* r = record(h);
  if (!r) return 0;
  uint8_t* bgr = r->buffer;
  for (int x = 0; x < h->file_width; ++x, bgr += 3) {
    const unsigned p = h->line[x];
    bgr[0] = static_cast<uint8_t>(p >> 16);
    bgr[1] = static_cast<uint8_t>(p >> 8);
    bgr[2] = static_cast<uint8_t>(p);
  }
  return write_pixels(h) ? 1 : 0;
}

int SunWritel16(imginfo* h) {
  SunRecord* r = record(h);
  if (!r) return 0;
  uint8_t* bgr = r->buffer;
  const unsigned short* in = h->line16;
  for (int x = 0; x < h->file_width; ++x, bgr += 3, in += 4) {
    bgr[0] = static_cast<uint8_t>(in[2] >> 8);
    bgr[1] = static_cast<uint8_t>(in[1] >> 8);
    bgr[2] = static_cast<uint8_t>(in[0] >> 8);
  }
  return write_pixels(h) ? 1 : 0;
}

int SunClosef(imginfo* h) { return close_and_release(h); }
int SunReadb(imginfo* h) { return imgio_whole_read(h, sun_driver, false); }
int SunReadb16(imginfo* h) { return imgio_whole_read(h, sun_driver, true); }
int SunWriteb(imginfo* h) { return imgio_whole_write(h, sun_driver, false); }
int SunWriteb16(imginfo* h) { return imgio_whole_write(h, sun_driver, true); }
// Every line is read at its own offset.
int SunMakeSeek(imginfo*) { return 1; }
int SunSeekTo(imginfo*) { return 1; }

}  // namespace

const imgio_driver sun_driver = {SunOpenf,  SunCreatef, SunReadl,  SunWritel,   SunReadl16,
                                 SunWritel16, SunClosef, SunReadb, SunWriteb,   SunReadb16,
                                 SunWriteb16, nullptr,   SunMakeSeek, SunSeekTo};
