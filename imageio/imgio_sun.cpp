// Sun raster driver: eight big-endian header words, an optional colour map
// of red, green and blue tables, then the lines from the top: 1-bit or 8-bit
// map indices (1-bit without a map: a set bit is black), or blue, green, red
// bytes (type 3: red, green, blue) of 24 bits or of 32 bits after a pad
// byte; type 2 codes the bytes in runs that pass from line to line.
//
// Peers pad every line to an even byte count; files of this library have
// always been written unpadded. A file is read padded when its data holds
// exactly the padded lines: the bytes after the map or the header's length,
// for a coded file the bytes its runs decode to.
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
enum { kCoded = 2, kRedFirst = 3 };

// Where the decoding of a coded file stands: the next coded byte's offset
// and what is left of the run in hand.
struct Runs {
  int64_t offset;
  int left;
  uint8_t value;
};

struct SunRecord {
  FILE* file;
  uint32_t header[8];
  int64_t line_bytes;  // of one file line, padding included
  int64_t first_line;  // file offset of line 0 (of the coded data)
  int64_t data_end;    // coded: file offset past the coded data
  int64_t position;    // where the stream stands; -1 when unknown
  uint8_t* stored;     // reading: one file line as stored
  uint8_t* buffer;     // one line, width x 3 bytes blue, green, red
  int map_entries;     // per table; 0 without a map
  uint8_t map[kMaxMapBytes];
  Runs runs;           // coded: the decoding at the start of runs_line
  int runs_line;
  Runs* runs_table;    // coded, once seekable: the decoding at every line
};

SunRecord* record(imginfo* h) { return static_cast<SunRecord*>(h->driver); }

void release(imginfo* h) {
  SunRecord* r = record(h);
  if (!r) return;
  imgio_free(r->stored);
  imgio_free(r->buffer);
  imgio_free(r->runs_table);
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

// stored_bytes: 0 for a written file, which codes from the buffer alone.
SunRecord* new_record(imginfo* h, int64_t width, int64_t stored_bytes) {
  SunRecord* r = static_cast<SunRecord*>(q4_calloc_c(1, sizeof(SunRecord), __FILE__, __LINE__));
  if (!r) return nullptr;
  h->driver = r;
  r->buffer = static_cast<uint8_t*>(imgio_zalloc(width, 3));
  if (stored_bytes) r->stored = static_cast<uint8_t*>(imgio_zalloc(stored_bytes, 1));
  if (!r->buffer || (stored_bytes && !r->stored)) {
    messprintf(IMSSYS_FATAL, "SUN: Cannot allocate scanline buffer.\n");
    release(h);
    return nullptr;
  }
  return r;
}

// The next coded byte, -1 past the coded data.
int coded_byte(FILE* file, int64_t end, Runs& runs) {
  if (runs.offset >= end) return -1;
  const int byte = getc(file);
  if (byte >= 0) ++runs.offset;
  return byte;
}

// Decodes up to count bytes into out (null: counted only) from the stream,
// which stands at runs.offset: 0x80 0 is one byte 0x80, 0x80 n v is n + 1
// bytes v, any other byte itself. The bytes decoded, fewer than count when
// the coded data ends.
int64_t decode_runs(FILE* file, int64_t end, Runs& runs, uint8_t* out, int64_t count) {
  int64_t done = 0;
  while (done < count) {
    if (runs.left > 0) {
      const int n = runs.left < count - done ? runs.left : static_cast<int>(count - done);
      if (out) memset(out + done, runs.value, n);
      runs.left -= n;
      done += n;
      continue;
    }
    const int byte = coded_byte(file, end, runs);
    if (byte < 0) break;
    if (byte != 0x80) {
      if (out) out[done] = static_cast<uint8_t>(byte);
      ++done;
      continue;
    }
    const int n = coded_byte(file, end, runs);
    const int value = n > 0 ? coded_byte(file, end, runs) : 0x80;
    if (n < 0 || value < 0) break;
    runs.value = static_cast<uint8_t>(value);
    runs.left = n + 1;
  }
  return done;
}

// The coded bytes of a coded file: as the header gives them, within the
// bytes left after the map.
int64_t coded_bytes(const uint32_t* header, int64_t left) {
  return header[kLength] && header[kLength] < left ? header[kLength] : left;
}

// What a file's data holds: the bytes left after the map, or for a coded
// file the bytes its runs decode to, counted to their end or to one past
// limit. The stream stands at the data.
int64_t data_bytes(FILE* file, const uint32_t* header, int64_t left, int64_t limit) {
  if (header[kType] != kCoded) return left;
  Runs runs{ftello(file), 0, 0};
  return decode_runs(file, runs.offset + coded_bytes(header, left), runs, nullptr, limit + 1);
}

// The header's refusals; the colour map's entries per table when it is
// readable.
bool check_header(const uint32_t* header, int* map_entries) {
  if (header[kMagicField] != kMagic) {
    messprintf(IMSSYS_INFO, "SUN: Bad magic number.\n");
    return false;
  }
  if (!imgio_dimensions_ok(header[kWidth], header[kHeight])) {
    messprintf(IMSSYS_INFO, "SUN: Bad image size %ux%u.\n", header[kWidth], header[kHeight]);
    return false;
  }
  if (header[kType] > kRedFirst) {
    messprintf(IMSSYS_INFO, "SUN: Raster type %u is not supported.\n", header[kType]);
    return false;
  }
  const bool mapped = header[kMapType] != 0;
  const uint32_t map_bytes = header[kMapLength];
  if (mapped && (map_bytes == 0 || map_bytes > kMaxMapBytes || map_bytes % 3 != 0)) {
    messprintf(IMSSYS_INFO, "SUN: Bad colour map length %u.\n", map_bytes);
    return false;
  }
  const uint32_t depth = header[kDepth];
  if (depth != 1 && depth != 24 && depth != 32 && !(depth == 8 && mapped)) {
    messprintf(IMSSYS_INFO, "SUN: Depth %u is not supported.\n", depth);
    return false;
  }
  *map_entries = mapped && depth <= 8 ? static_cast<int>(map_bytes / 3) : 0;
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
  int map_entries = 0;
  if (fread(bytes, 1, kHeaderBytes, file) != kHeaderBytes) {
    messprintf(IMSSYS_INFO, "SUN: Could not read header\n");
    fclose(file);
    return 0;
  }
  for (int i = 0; i < 8; ++i) header[i] = imgio_be32(bytes + 4 * i);
  if (!check_header(header, &map_entries)) {
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
  const int64_t first_line = kHeaderBytes + int64_t(map_bytes);
  const int64_t left = int64_t(imgio_bytes_left(file));
  const int64_t lines = header[kHeight];
  const int64_t unpadded = (int64_t(header[kWidth]) * header[kDepth] + 7) / 8;
  const int64_t padded = unpadded + (unpadded & 1);
  // The header's length alone would not do: a peer gives the unpadded size
  // when that is even.
  const int64_t data = data_bytes(file, header, left, lines * padded);
  const bool pad = data == lines * padded || (header[kType] != kCoded && header[kLength] == lines * padded);
  const int64_t line_bytes = pad ? padded : unpadded;
  // Every line must be in the file before a line buffer of the width the
  // header claims is allocated.
  if (lines * line_bytes > (header[kType] == kCoded ? data : left)) {
    messprintf(IMSSYS_INFO, "SUN: The image data passes the end of the file.\n");
    fclose(file);
    return 0;
  }
  SunRecord* r = new_record(h, header[kWidth], line_bytes);
  if (!r) {
    fclose(file);
    return 0;
  }
  r->file = file;
  memcpy(r->header, header, sizeof header);
  memcpy(r->map, map, map_bytes);
  r->line_bytes = line_bytes;
  r->first_line = first_line;
  r->data_end = first_line + coded_bytes(header, left);
  r->map_entries = map_entries;
  r->position = -1;
  r->runs = Runs{first_line, 0, 0};
  h->file_width = static_cast<int>(header[kWidth]);
  h->file_height = static_cast<int>(header[kHeight]);
  h->bits16 = 0;
  return 1;
}

// The stream at offset; no seek when it stands there, which would drop the
// stream's buffer.
bool stand_at(SunRecord* r, int64_t offset) {
  if (offset == r->position) return true;
  r->position = fseeko(r->file, static_cast<off_t>(offset), SEEK_SET) == 0 ? offset : -1;
  return r->position >= 0;
}

// File line `line` of a coded file as stored: decoded from the nearest
// known start, the table's entry or the last line read.
bool decode_line(SunRecord* r, int line) {
  if (r->runs_table) {
    r->runs = r->runs_table[line];
    r->runs_line = line;
  } else if (line < r->runs_line) {
    r->runs = Runs{r->first_line, 0, 0};
    r->runs_line = 0;
  }
  const int64_t skip = (line - r->runs_line) * r->line_bytes;
  bool ok = stand_at(r, r->runs.offset) &&
            decode_runs(r->file, r->data_end, r->runs, nullptr, skip) == skip &&
            decode_runs(r->file, r->data_end, r->runs, r->stored, r->line_bytes) == r->line_bytes;
  r->position = r->runs.offset;
  r->runs_line = line + 1;
  if (!ok) {
    // Where a failed decoding stopped is no line's start.
    r->runs = Runs{r->first_line, 0, 0};
    r->runs_line = 0;
    r->position = -1;
  }
  return ok;
}

bool read_stored(SunRecord* r, int line) {
  if (r->header[kType] == kCoded) return decode_line(r, line);
  const int64_t offset = r->first_line + int64_t(line) * r->line_bytes;
  const size_t bytes = static_cast<size_t>(r->line_bytes);
  const bool ok = stand_at(r, offset) && fread(r->stored, 1, bytes, r->file) == bytes;
  r->position = ok ? offset + r->line_bytes : -1;
  return ok;
}

// The stored line as blue, green, red bytes in the line buffer. An index
// beyond the map is black.
void unpack(SunRecord* r, int width) {
  const uint8_t* in = r->stored;
  uint8_t* bgr = r->buffer;
  const int depth = static_cast<int>(r->header[kDepth]);
  if (depth >= 24) {
    const int step = depth / 8;
    const bool red_first = r->header[kType] == kRedFirst;
    // The pad byte of 32-bit pixels comes first.
    in += step - 3;
    for (int x = 0; x < width; ++x, in += step, bgr += 3) {
      bgr[0] = in[red_first ? 2 : 0];
      bgr[1] = in[1];
      bgr[2] = in[red_first ? 0 : 2];
    }
    return;
  }
  const int entries = r->map_entries;
  for (int x = 0; x < width; ++x, bgr += 3) {
    const int i = depth == 1 ? in[x >> 3] >> (7 - (x & 7)) & 1 : in[x];
    if (!entries) {
      memset(bgr, i ? 0 : 255, 3);
      continue;
    }
    const bool inside = i < entries;
    bgr[2] = inside ? r->map[i] : 0;
    bgr[1] = inside ? r->map[entries + i] : 0;
    bgr[0] = inside ? r->map[2 * entries + i] : 0;
  }
}

// File line current_line as blue, green, red bytes in the line buffer.
bool read_pixels(imginfo* h) {
  SunRecord* r = record(h);
  if (!r || !read_stored(r, h->current_line)) return false;
  unpack(r, h->file_width);
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
  SunRecord* r = new_record(h, h->file_width, 0);
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

// Plain lines are read at their own offsets; a coded file keeps the
// decoding at every line's start, walked without moving its own.
int SunMakeSeek(imginfo* h) {
  SunRecord* r = record(h);
  if (!r) return 0;
  if (r->header[kType] != kCoded || r->runs_table) return 1;
  Runs* table = static_cast<Runs*>(imgio_zalloc(h->file_height, sizeof(Runs)));
  Runs runs{r->first_line, 0, 0};
  r->position = -1;
  bool ok = table && stand_at(r, runs.offset);
  for (int y = 0; ok && y < h->file_height; ++y) {
    table[y] = runs;
    ok = decode_runs(r->file, r->data_end, runs, nullptr, r->line_bytes) == r->line_bytes;
  }
  r->position = -1;
  if (!ok) imgio_free(table);
  r->runs_table = ok ? table : nullptr;
  return ok ? 1 : 0;
}

int SunSeekTo(imginfo*) { return 1; }

}  // namespace

const imgio_driver sun_driver = {SunOpenf,  SunCreatef, SunReadl,  SunWritel,   SunReadl16,
                                 SunWritel16, SunClosef, SunReadb, SunWriteb,   SunReadb16,
                                 SunWriteb16, nullptr,   SunMakeSeek, SunSeekTo};
