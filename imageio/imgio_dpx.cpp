// Cineon driver: a 1024-byte generic header, an optional 1024-byte industry
// header, then the image data: big-endian cells of one, two or four bytes,
// each holding one or more fields. A line's cells are read (written) in one
// file access and unpacked (packed) in memory.
#include "imgio_dpx.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <cstring>

#include "imgio_dpx_internal.h"
#include "imgio_driver_support.h"
#include "imgio_messages.h"
#include "imgio_whole_lines.h"
#include "q4_memory.h"
#include "q4_simd.h"

// The kernels take cells as host words: their bytes are reversed.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "cells are loaded as little-endian words");

namespace {

// The direct layout's kernels, each a plain loop both SIMD copies widen.
// shifts: of red, green and blue in a cell; mask: of a value.
Q4_SIMD_BODY void unpack16_body(const uint8_t* cells, unsigned short* out, int n, const int* shifts,
                                uint32_t mask, int up, unsigned short alpha) {
  const int s0 = shifts[0], s1 = shifts[1], s2 = shifts[2];
  for (int x = 0; x < n; ++x) {
    uint32_t word;
    memcpy(&word, cells + 4 * x, 4);
    const uint32_t cell = __builtin_bswap32(word);
    out[4 * x] = static_cast<unsigned short>(((cell >> s0) & mask) << up);
    out[4 * x + 1] = static_cast<unsigned short>(((cell >> s1) & mask) << up);
    out[4 * x + 2] = static_cast<unsigned short>(((cell >> s2) & mask) << up);
    out[4 * x + 3] = alpha;
  }
}
Q4_SIMD_DISPATCH(void, unpack16,
                 (const uint8_t* cells, unsigned short* out, int n, const int* shifts, uint32_t mask, int up,
                  unsigned short alpha),
                 (cells, out, n, shifts, mask, up, alpha))

// 8-bit lines: values above 8 bits lose their low bits (down), values
// below move up.
Q4_SIMD_BODY void unpack8_body(const uint8_t* cells, unsigned int* out, int n, const int* shifts, uint32_t mask,
                               int down, int up) {
  const int s0 = shifts[0], s1 = shifts[1], s2 = shifts[2];
  for (int x = 0; x < n; ++x) {
    uint32_t word;
    memcpy(&word, cells + 4 * x, 4);
    const uint32_t cell = __builtin_bswap32(word);
    out[x] = (((cell >> s0) & mask) >> down << up) | (((cell >> s1) & mask) >> down << up) << 8 |
             (((cell >> s2) & mask) >> down << up) << 16 | 0xFF000000u;
  }
}
Q4_SIMD_DISPATCH(void, unpack8,
                 (const uint8_t* cells, unsigned int* out, int n, const int* shifts, uint32_t mask, int down, int up),
                 (cells, out, n, shifts, mask, down, up))

// The written layout: red in bits 22-31, green 12-21, blue 2-11.
Q4_SIMD_BODY void pack16_body(const unsigned short* line, uint8_t* cells, int n) {
  for (int x = 0; x < n; ++x) {
    const uint32_t cell = uint32_t(line[4 * x] >> 6) << 22 | uint32_t(line[4 * x + 1] >> 6) << 12 |
                          uint32_t(line[4 * x + 2] >> 6) << 2;
    const uint32_t word = __builtin_bswap32(cell);
    memcpy(cells + 4 * x, &word, 4);
  }
}
Q4_SIMD_DISPATCH(void, pack16, (const unsigned short* line, uint8_t* cells, int n), (line, cells, n))

Q4_SIMD_BODY void pack8_body(const unsigned int* line, uint8_t* cells, int n) {
  for (int x = 0; x < n; ++x) {
    const uint32_t p = line[x];
    const uint32_t cell = (p & 255) << 24 | ((p >> 8) & 255) << 14 | ((p >> 16) & 255) << 4;
    const uint32_t word = __builtin_bswap32(cell);
    memcpy(cells + 4 * x, &word, 4);
  }
}
Q4_SIMD_DISPATCH(void, pack8, (const unsigned int* line, uint8_t* cells, int n), (line, cells, n))

// Where each channel's values go: red, green, blue, all three (black and
// white), or nowhere.
enum Target { kRed, kGreen, kBlue, kGrey, kDrop };

// How the image data of a header is laid out.
struct Layout {
  uint32_t width;
  uint32_t height;
  int channels;
  int bits;         // of a value
  int cell_bytes;   // 1, 2 or 4
  int fields;       // per cell
  int unused_low;   // bits below the fields
  bool line_interleave;
  bool pixel_cells;  // every pixel starts a new cell
  bool mirrored;     // lines run right to left
  int line_order;
  uint32_t eol_pad;
  Target targets[8];
  // Every line starts on a cell: the lines have a stride and can be sought.
  bool aligned;
  int64_t line_cells;  // cells a line ends on when aligned
  // One 32-bit cell a pixel holding red, green and blue in that order, lines
  // left to right: the layout this system and most others write, unpacked
  // straight into the caller's line.
  bool direct;
  int shifts[3];  // of the three fields
};

// Black and white fills all three in a file of one channel; other writers
// give that semantics to every channel of a colour file, whose channels then
// count by position.
Target target_of(unsigned semantics, int channel, int channels) {
  switch (semantics) {
    case 0: return channels == 1 ? kGrey : channel < 3 ? Target(channel) : kDrop;
    case 1: case 4: return kRed;
    case 2: case 5: return kGreen;
    case 3: case 6: return kBlue;
    default: return kDrop;
  }
}

// The layout of a generic header, or false with the message at level.
bool layout_of(const uint8_t* generic, Layout* out, int level) {
  Layout l{};
  const unsigned interleave = generic[DPX_INTERLEAVE];
  const unsigned code = generic[DPX_PACKING] & 0x7f;
  if (interleave > 1) {
    messprintf(level, "Cineon: Only pixel or line channel interleave is supported.\n");
    return false;
  }
  if (code == 0) {
    messprintf(level, "Cineon: Bit field packed data is not supported.\n");
    return false;
  }
  if (code > 6) {
    messprintf(level, "Cineon: Unknown field packing code.\n");
    return false;
  }
  l.channels = generic[DPX_CHANNELS];
  if (l.channels < 1 || l.channels > 8) {
    messprintf(level, "Cineon: Channel count %d is not supported.\n", l.channels);
    return false;
  }
  const uint8_t* first = dpx_channel(generic, 0);
  for (int c = 1; c < l.channels; ++c) {
    const uint8_t* other = dpx_channel(generic, c);
    if (other[2] != first[2] || memcmp(other + 4, first + 4, 8) != 0) {
      messprintf(level, "Cineon: Channels differ in bits or resolution. This is not supported.\n");
      return false;
    }
  }
  l.bits = first[2];
  if (l.bits < 1 || l.bits > 16) {
    messprintf(level, "Cineon: Value bits %d are not supported.\n", l.bits);
    return false;
  }
  l.width = imgio_be32(first + 4);
  l.height = imgio_be32(first + 8);
  if (!imgio_dimensions_ok(l.width, l.height)) {
    messprintf(level, "Cineon: Bad image size %ux%u.\n", l.width, l.height);
    return false;
  }
  const int cell_bits = code <= 2 ? 8 : code <= 4 ? 16 : 32;
  l.cell_bytes = cell_bits / 8;
  l.fields = cell_bits / l.bits;
  if (l.fields == 0) {
    messprintf(level, "Cineon: Cell size smaller than field size! Burble!\n");
    return false;
  }
  const unsigned orientation = generic[DPX_ORIENTATION];
  if (orientation >= 8) {
    messprintf(level, "Cineon: Orientation %u is not supported.\n", orientation);
    return false;
  }
  l.mirrored = (orientation & 2) != 0;
  l.line_order = orientation % 2 == 0 ? IMGIO_TOP_FIRST : IMGIO_BOTTOM_FIRST;
  const bool right_justified = code % 2 == 0;
  l.unused_low = right_justified ? 0 : cell_bits - l.fields * l.bits;
  l.line_interleave = interleave == 1;
  l.pixel_cells = !l.line_interleave && !(generic[DPX_PACKING] & 0x80);
  l.eol_pad = imgio_be32(generic + DPX_EOL_PAD);
  for (int c = 0; c < l.channels; ++c) l.targets[c] = target_of(dpx_channel(generic, c)[1], c, l.channels);
  const int64_t fields = int64_t(l.width) * l.channels;
  const int64_t cells_a_pixel = (l.channels + l.fields - 1) / l.fields;
  l.line_cells = l.pixel_cells ? l.width * cells_a_pixel : (fields + l.fields - 1) / l.fields;
  l.aligned = l.pixel_cells || l.eol_pad > 0 || fields % l.fields == 0;
  for (int c = 0; c < 3; ++c) l.shifts[c] = (l.fields - 1 - c) * l.bits + l.unused_low;
  l.direct = !l.line_interleave && !l.mirrored && l.cell_bytes == 4 && l.channels == 3 && l.fields >= 3 &&
             (l.pixel_cells || l.fields == 3) && l.targets[0] == kRed && l.targets[1] == kGreen &&
             l.targets[2] == kBlue;
  *out = l;
  return true;
}

struct DpxRecord {
  FILE* file;
  uint8_t generic[DPX_HEADER_BYTES];
  uint8_t industry[DPX_HEADER_BYTES];
  Layout layout;
  int64_t data_offset;
  int index;      // of the next field in cell; layout.fields: a new cell is due
  uint32_t cell;
  uint8_t* bytes;  // one line of cells as stored
  uint16_t* planes[3];  // reading: red, green, blue, width values each
  char* stream;  // the file's stdio buffer
};

// Lines go to and come from the file many at a time: a system call per line
// costs more than its bytes.
const size_t kStreamBytes = size_t(1) << 20;

// Gives the stream the larger buffer; without it the stream keeps its own.
void buffer_stream(DpxRecord* r) {
  r->stream = static_cast<char*>(q4_malloc_c(kStreamBytes, __FILE__, __LINE__));
  if (r->stream) setvbuf(r->file, r->stream, _IOFBF, kStreamBytes);
}

DpxRecord* record(imginfo* h) { return static_cast<DpxRecord*>(h->driver); }

void release(imginfo* h) {
  DpxRecord* r = record(h);
  if (!r) return;
  if (r->bytes) q4_free_c(r->bytes, __FILE__, __LINE__);
  for (uint16_t* plane : r->planes)
    if (plane) q4_free_c(plane, __FILE__, __LINE__);
  if (r->stream) q4_free_c(r->stream, __FILE__, __LINE__);
  q4_free_c(r, __FILE__, __LINE__);
  h->driver = nullptr;
}

int close_and_release(imginfo* h) {
  DpxRecord* r = record(h);
  if (!r) return 0;
  const bool closed = !r->file || fclose(r->file) == 0;
  release(h);
  return closed ? 1 : 0;
}

// The record's line of cells, and for reading the planes; false when
// memory is short.
bool allocate_lines(DpxRecord* r, bool reading) {
  const Layout& l = r->layout;
  const uint64_t bytes = uint64_t(l.line_cells + 1) * l.cell_bytes;
  if (bytes > UINT32_MAX) return false;
  r->bytes = static_cast<uint8_t*>(q4_malloc_c(unsigned(bytes), __FILE__, __LINE__));
  bool ok = r->bytes != nullptr;
  if (reading)
    for (uint16_t*& plane : r->planes)
      ok = (plane = static_cast<uint16_t*>(q4_calloc_c(l.width, 2, __FILE__, __LINE__))) && ok;
  return ok;
}

// Whether the image data fits the bytes the file holds from its offset
// on; the last line's padding may be missing. Sizes stay below 2^64: a
// picture has fewer than 2^59 pixels.
bool data_fits(const Layout& l, uint64_t available) {
  if (!l.aligned) {
    const uint64_t fields = uint64_t(l.width) * l.height * l.channels;
    return (fields + l.fields - 1) / l.fields * l.cell_bytes <= available;
  }
  const uint64_t line = uint64_t(l.line_cells) * l.cell_bytes, stride = line + l.eol_pad;
  return line <= available && l.height - 1 <= (available - line) / stride;
}

int DpxOpenf(imginfo* h) {
  FILE* file = fopen(h->file_name, "rb");
  if (!file) {
    messprintf(IMSSYS_INFO, "Cineon: Cannot open: %s for read.\n", h->file_name);
    return 0;
  }
  DpxRecord* r = static_cast<DpxRecord*>(q4_calloc_c(1, sizeof(DpxRecord), __FILE__, __LINE__));
  if (!r) {
    messprintf(IMSSYS_FATAL, "Cineon: Cannot allocate the record of %s\n", h->file_name);
    fclose(file);
    return 0;
  }
  h->driver = r;
  r->file = file;
  buffer_stream(r);
  if (fread(r->generic, 1, DPX_HEADER_BYTES, file) != DPX_HEADER_BYTES) {
    messprintf(IMSSYS_INFO, "Cineon: Failed to read generic header.\n");
    close_and_release(h);
    return 0;
  }
  if (imgio_be32(r->generic) != DPX_MAGIC) {
    messprintf(IMSSYS_INFO, "Cineon: Bad magic. Is this a DPX file?\n");
    close_and_release(h);
    return 0;
  }
  if (imgio_be32(r->generic + DPX_INDUSTRY_LENGTH) != 0 &&
      fread(r->industry, 1, DPX_HEADER_BYTES, file) != DPX_HEADER_BYTES) {
    messprintf(IMSSYS_INFO, "Cineon: Failed to read motion picture industry header.\n");
    close_and_release(h);
    return 0;
  }
  // A seek past the end succeeds: the offset must lie in the file.
  r->data_offset = imgio_be32(r->generic + DPX_DATA_OFFSET);
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || r->data_offset > info.st_size ||
      fseeko(file, off_t(r->data_offset), SEEK_SET) != 0) {
    messprintf(IMSSYS_INFO, "Cineon: Error seeking to image data.\n");
    close_and_release(h);
    return 0;
  }
  if (!layout_of(r->generic, &r->layout, IMSSYS_INFO)) {
    close_and_release(h);
    return 0;
  }
  // The lines must be in the file before buffers of their width are
  // allocated.
  if (!data_fits(r->layout, imgio_bytes_left(file))) {
    messprintf(IMSSYS_INFO, "Cineon: The image data passes the end of the file.\n");
    close_and_release(h);
    return 0;
  }
  if (!allocate_lines(r, true)) {
    messprintf(IMSSYS_FATAL, "Cineon: Cannot allocate the lines of %s\n", h->file_name);
    close_and_release(h);
    return 0;
  }
  r->index = r->layout.fields;
  h->file_width = int(r->layout.width);
  h->file_height = int(r->layout.height);
  h->line_order = r->layout.line_order;
  h->bits16 = r->layout.bits > 8;
  return 1;
}

// The next line's cells, past its padding; null at a short read.
const uint8_t* read_cells(DpxRecord* r) {
  const Layout& l = r->layout;
  const int64_t values = int64_t(l.width) * l.channels;
  const int64_t waiting = r->index < l.fields ? l.fields - r->index : 0;
  const int64_t cells = l.pixel_cells ? l.line_cells
                        : values > waiting ? (values - waiting + l.fields - 1) / l.fields
                                           : 0;
  const size_t bytes = size_t(cells) * l.cell_bytes;
  if (fread(r->bytes, 1, bytes, r->file) != bytes) return nullptr;
  // Padding ends the line's last cell.
  if (l.eol_pad && fseeko(r->file, off_t(l.eol_pad), SEEK_CUR) != 0) return nullptr;
  return r->bytes;
}

// The cells' values into the planes, by channel semantics and direction.
void unpack_planes(DpxRecord* r, const uint8_t* next) {
  const Layout& l = r->layout;
  const uint32_t mask = (1u << l.bits) - 1;
  auto value = [&]() {
    if (r->index == l.fields) {
      r->cell = l.cell_bytes == 4 ? imgio_be32(next) : l.cell_bytes == 2 ? imgio_be16(next) : *next;
      next += l.cell_bytes;
      r->index = 0;
    }
    const int shift = (l.fields - 1 - r->index++) * l.bits + l.unused_low;
    return static_cast<uint16_t>((r->cell >> shift) & mask);
  };
  auto store = [&](int c, uint32_t x, uint16_t v) {
    const uint32_t at = l.mirrored ? l.width - 1 - x : x;
    const Target t = l.targets[c];
    if (t == kGrey)
      r->planes[0][at] = r->planes[1][at] = r->planes[2][at] = v;
    else if (t != kDrop)
      r->planes[t][at] = v;
  };
  if (l.line_interleave) {
    for (int c = 0; c < l.channels; ++c)
      for (uint32_t x = 0; x < l.width; ++x) store(c, x, value());
  } else {
    for (uint32_t x = 0; x < l.width; ++x) {
      for (int c = 0; c < l.channels; ++c) store(c, x, value());
      if (l.pixel_cells) r->index = l.fields;
    }
  }
  if (l.eol_pad) r->index = l.fields;
}

// The next line's cells, unpacked into the planes unless the layout is
// direct; null at a short read.
const uint8_t* next_line(imginfo* h) {
  DpxRecord* r = record(h);
  if (!r) return nullptr;
  const uint8_t* cells = read_cells(r);
  if (cells && !r->layout.direct) unpack_planes(r, cells);
  return cells;
}

int DpxReadl(imginfo* h) {
  const uint8_t* cells = next_line(h);
  if (!cells) return 0;
  const Layout& l = record(h)->layout;
  // Below 8 bits values move up, above they lose their low bits.
  const int down = l.bits > 8 ? l.bits - 8 : 0, up = l.bits < 8 ? 8 - l.bits : 0;
  if (l.direct) {
    unpack8(cells, h->line, h->file_width, l.shifts, (1u << l.bits) - 1, down, up);
    return 1;
  }
  uint16_t* const* planes = record(h)->planes;
  for (int x = 0; x < h->file_width; ++x)
    h->line[x] = unsigned(planes[0][x] >> down << up) | unsigned(planes[1][x] >> down << up) << 8 |
                 unsigned(planes[2][x] >> down << up) << 16 | 0xFF000000u;
  return 1;
}

int DpxReadl16(imginfo* h) {
  const uint8_t* cells = next_line(h);
  if (!cells) return 0;
  const Layout& l = record(h)->layout;
  const int up = 16 - l.bits;
  const uint32_t mask = (1u << l.bits) - 1;
  const unsigned short alpha = static_cast<unsigned short>(mask << up);
  if (l.direct) {
    unpack16(cells, h->line16, h->file_width, l.shifts, mask, up, alpha);
    return 1;
  }
  uint16_t* const* planes = record(h)->planes;
  unsigned short* out = h->line16;
  for (int x = 0; x < h->file_width; ++x, out += 4) {
    for (int c = 0; c < 3; ++c) out[c] = static_cast<unsigned short>(planes[c][x] << up);
    out[3] = alpha;
  }
  return 1;
}

void put_text(uint8_t* at, const char* text, size_t size) {
  const size_t n = strnlen(text, size - 1);
  memcpy(at, text, n);
}

// The header of a written file: three 10-bit channels in 32-bit cells.
void make_header(imginfo* h, uint8_t* g, uint8_t* industry) {
  memset(g, 0, DPX_HEADER_BYTES);
  memset(industry, 0, DPX_HEADER_BYTES);
  const uint32_t w = uint32_t(h->file_width), ht = uint32_t(h->file_height);
  imgio_put_be32(g, DPX_MAGIC);
  imgio_put_be32(g + DPX_DATA_OFFSET, 2 * DPX_HEADER_BYTES);
  imgio_put_be32(g + 8, DPX_HEADER_BYTES);
  imgio_put_be32(g + DPX_INDUSTRY_LENGTH, DPX_HEADER_BYTES);
  imgio_put_be32(g + DPX_FILE_SIZE, w * ht * 4 + 2 * DPX_HEADER_BYTES);
  put_text(g + DPX_VERSION, "V4.5", 8);
  put_text(g + DPX_FILE_NAME, h->file_name, 100);
  g[DPX_CHANNELS] = 3;
  for (int c = 0; c < 3; ++c) {
    uint8_t* channel = g + DPX_CHANNEL + DPX_CHANNEL_BYTES * c;
    channel[1] = static_cast<uint8_t>(c + 1);
    channel[2] = 10;
    imgio_put_be32(channel + 4, w);
    imgio_put_be32(channel + 8, ht);
    // The maximum data value is little-endian in the files of this system.
    imgio_put_le32(channel + 20, dpx_bits(1023.0f));
    imgio_put_be32(channel + 24, dpx_bits(2.0f));
  }
  const float white[2] = {0.3324f, 0.3474f};
  for (int i = 0; i < 2; ++i) imgio_put_be32(g + DPX_WHITE + 4 * i, dpx_bits(white[i]));
  for (int i = 0; i < 6; ++i) imgio_put_be32(g + DPX_WHITE + 8 + 4 * i, 0x4EFF0000u);
  g[DPX_PACKING] = 5;
  memcpy(g + DPX_SOURCE_NAME, g + DPX_FILE_NAME, 100);
  put_text(g + DPX_DEVICE, "imgio", 64);
  imgio_put_be32(g + DPX_X_SAMPLES, dpx_bits(166.67f));
  imgio_put_be32(g + DPX_Y_SAMPLES, dpx_bits(166.67f));
  imgio_put_be32(g + DPX_GAMMA, dpx_bits(1.0f));
  industry[DPX_PERFS] = 255;
  imgio_put_be32(industry + DPX_PREFIX, 0xFFFFFFFFu);
  imgio_put_be32(industry + DPX_COUNT, 0xFFFFFFFFu);
  imgio_put_be32(industry + DPX_FRAME, 1);
  imgio_put_be32(industry + DPX_RATE, dpx_bits(24.0f));
}

int DpxCreatef(imginfo* h) {
  if (int64_t(h->file_width) * h->file_height * 4 + 2 * DPX_HEADER_BYTES > int64_t(UINT32_MAX)) {
    messprintf(IMSSYS_INFO, "Cineon: Image of %dx%d is too large for a Cineon file.\n", h->file_width,
               h->file_height);
    return 0;
  }
  DpxRecord* r = static_cast<DpxRecord*>(q4_calloc_c(1, sizeof(DpxRecord), __FILE__, __LINE__));
  if (!r) {
    messprintf(IMSSYS_FATAL, "Cineon: Cannot allocate the record of %s\n", h->file_name);
    return 0;
  }
  h->driver = r;
  make_header(h, r->generic, r->industry);
  // The writer takes its own header through the reader's checks.
  if (!layout_of(r->generic, &r->layout, IMSSYS_FATAL) || !allocate_lines(r, false)) {
    release(h);
    return 0;
  }
  r->file = fopen(h->file_name, "wb+");
  if (!r->file) {
    messprintf(IMSSYS_FATAL, "Cineon: Cannot open: %s for write.\n", h->file_name);
    release(h);
    return 0;
  }
  buffer_stream(r);
  if (fwrite(r->generic, 1, DPX_HEADER_BYTES, r->file) != DPX_HEADER_BYTES) {
    messprintf(IMSSYS_FATAL, "Cineon: Failed to write generic header.\n");
    close_and_release(h);
    return 0;
  }
  if (fwrite(r->industry, 1, DPX_HEADER_BYTES, r->file) != DPX_HEADER_BYTES) {
    messprintf(IMSSYS_FATAL, "Cineon:  Failed to write motion picture industry header.\n");
    close_and_release(h);
    return 0;
  }
  return 1;
}

// The packed line goes to the file; false when short.
bool write_cells(DpxRecord* r, int width) {
  const size_t bytes = size_t(width) * 4;
  return fwrite(r->bytes, 1, bytes, r->file) == bytes;
}

int DpxWritel(imginfo* h) {
  DpxRecord* r = record(h);
  if (!r) return 0;
  pack8(h->line, r->bytes, h->file_width);
  return write_cells(r, h->file_width) ? 1 : 0;
}

int DpxWritel16(imginfo* h) {
  DpxRecord* r = record(h);
  if (!r) return 0;
  pack16(h->line16, r->bytes, h->file_width);
  return write_cells(r, h->file_width) ? 1 : 0;
}

int DpxClosef(imginfo* h) { return close_and_release(h); }
int DpxReadb(imginfo* h) { return imgio_whole_read(h, dpx_driver, false); }
int DpxReadb16(imginfo* h) { return imgio_whole_read(h, dpx_driver, true); }
int DpxWriteb(imginfo* h) { return imgio_whole_write(h, dpx_driver, false); }
int DpxWriteb16(imginfo* h) { return imgio_whole_write(h, dpx_driver, true); }

int DpxMakeSeek(imginfo* h) {
  DpxRecord* r = record(h);
  if (!r) return 0;
  if (!r->layout.aligned) {
    messprintf(IMSSYS_INFO, "Cineon: Lines of %s share cells: they can only be read in order.\n",
               h->file_name);
    return 0;
  }
  return 1;
}

int DpxSeekTo(imginfo* h) {
  DpxRecord* r = record(h);
  if (!r || !h->seekable || !r->layout.aligned || h->seek_line < 0 || h->seek_line >= h->file_height) return 0;
  const Layout& l = r->layout;
  const int64_t stride = l.line_cells * l.cell_bytes + l.eol_pad;
  if (fseeko(r->file, off_t(r->data_offset + stride * h->seek_line), SEEK_SET) != 0) return 0;
  r->index = l.fields;
  return 1;
}

int DpxSheader(imginfo* h) {
  const DpxRecord* r = record(h);
  if (!r) return 0;
  dpx_print_header(r->generic, r->industry);
  return 1;
}

}  // namespace

int DpxGetBits(imginfo* h) {
  const DpxRecord* r = imgrunby(h, dpx_driver) ? record(h) : nullptr;
  return r ? r->layout.bits : 0;
}

const imgio_driver dpx_driver = {DpxOpenf,   DpxCreatef, DpxReadl,  DpxWritel,   DpxReadl16,
                                 DpxWritel16, DpxClosef, DpxReadb, DpxWriteb,   DpxReadb16,
                                 DpxWriteb16, DpxSheader, DpxMakeSeek, DpxSeekTo};
