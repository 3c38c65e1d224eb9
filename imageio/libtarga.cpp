// Targa files: an 18-byte little-endian header, an image ID, an optional
// colour map, then pixels (raw or in run-length packets) from the origin
// the descriptor names, each little-endian with blue in its lowest byte.
#include "libtarga.h"

#include <cstdio>
#include <cstring>

#include "imgio_driver_support.h"
#include "imgio_fields.h"
#include "q4_memory.h"

int TargaError = TGA_NO_ERROR;

namespace {

enum { kHeaderBytes = 18, kIdBytes = 21 };

struct Header {
  unsigned id_length;
  unsigned map_type;
  unsigned image_type;
  unsigned map_first;
  unsigned map_length;
  unsigned map_bits;
  unsigned width;
  unsigned height;
  unsigned depth;
  unsigned descriptor;
};

Header parse_header(const uint8_t* b) {
  return Header{b[0], b[1], b[2], imgio_le16(b + 3), imgio_le16(b + 5), b[7], imgio_le16(b + 12),
                imgio_le16(b + 14), b[16], b[17]};
}

unsigned char* failure(int code) {
  TargaError = code;
  return nullptr;
}

// A little-endian value of bytes bytes; false at the end of the file.
bool get_value(FILE* file, unsigned bytes, uint32_t* value) {
  uint32_t v = 0;
  for (unsigned j = 0; j < bytes; ++j) {
    const int c = getc_unlocked(file);
    if (c == EOF) return false;
    v |= uint32_t(c) << (8 * j);
  }
  *value = v;
  return true;
}

uint32_t rgba(unsigned r, unsigned g, unsigned b, unsigned a) { return r | g << 8 | b << 16 | a << 24; }

// 5-bit and 6-bit channels are widened by these factors in single precision
// and truncated, so that all ones give 254: stored files were read so.
unsigned widen5(uint32_t v) { return static_cast<unsigned>(static_cast<float>(v & 31) * 8.2258f); }
unsigned widen6(uint32_t v) { return static_cast<unsigned>(static_cast<float>(v & 63) * 4.0476f); }

// The colour R | G << 8 | B << 16 | A << 24 of a file value (blue lowest)
// of the given depth.
uint32_t colour_of(uint32_t v, unsigned depth, unsigned alpha_bits, bool grey) {
  if (grey) {
    const unsigned level = v & 255;
    return rgba(level, level, level, depth > 8 && alpha_bits ? (v >> 8) & 255 : 255);
  }
  if (depth == 15 || (depth == 16 && alpha_bits == 1))
    return rgba(widen5(v >> 10), widen5(v >> 5), widen5(v), 255);
  if (depth == 16) return rgba(widen5(v >> 11), widen6(v >> 5), widen5(v), 255);
  const bool opaque = depth == 24 || (depth == 32 && alpha_bits == 0);
  return rgba((v >> 16) & 255, (v >> 8) & 255, v & 255, opaque ? 255 : v >> 24);
}

// Whether the bytes left can code the pixels: raw, bytes a pixel each;
// packed, at most 128 pixels for every packet of a header and one pixel.
bool could_code(uint64_t bytes, uint64_t pixels, unsigned pixel_bytes, bool packets) {
  return packets ? bytes / (1 + pixel_bytes) * 128 >= pixels : bytes / pixel_bytes >= pixels;
}

unsigned char* allocate(int width, int height, unsigned format) {
  const uint64_t bytes = uint64_t(width) * height * format;
  if (width < 1 || height < 1 || bytes > UINT32_MAX) return nullptr;
  unsigned char* image =
      static_cast<unsigned char*>(q4_image_malloc_c(static_cast<unsigned>(bytes), __FILE__, __LINE__));
  if (image) memset(image, 0, bytes);
  return image;
}

// What turns file values into stored pixels.
struct Decoder {
  const Header* header;
  const uint32_t* map;  // map_length entries; null unless colour-mapped
  unsigned depth;       // of the colours: the map's entries, else the pixels
  bool grey;
  unsigned char* image;
  unsigned format;

  void store(uint64_t n, uint32_t v) const {
    if (map) {
      // Pixel v takes entry v - first; values outside the map are black.
      const uint32_t entry = v - header->map_first;
      v = v >= header->map_first && entry < header->map_length ? map[entry] : 0;
    }
    tga_write_pixel_to_mem(image, header->descriptor, n, header->width, header->height,
                           colour_of(v, depth, header->descriptor & 15, grey), format);
  }
};

// Every pixel of the image data; false at a premature end of the file.
bool decode(FILE* file, const Decoder& d, unsigned bytes) {
  const uint64_t total = uint64_t(d.header->width) * d.header->height;
  const bool packets = d.header->image_type > 8;
  uint64_t n = 0;
  uint32_t v = 0;
  while (n < total) {
    if (!packets) {
      if (!get_value(file, bytes, &v)) return false;
      d.store(n++, v);
      continue;
    }
    const int packet = getc_unlocked(file);
    if (packet == EOF) return false;
    const unsigned count = (packet & 127) + 1;
    if (packet & 128) {
      if (!get_value(file, bytes, &v)) return false;
      for (unsigned k = 0; k < count && n < total; ++k) d.store(n++, v);
    } else {
      // Pixels past the last are neither read nor stored.
      for (unsigned k = 0; k < count && n < total; ++k) {
        if (!get_value(file, bytes, &v)) return false;
        d.store(n++, v);
      }
    }
  }
  return true;
}

unsigned char* load(FILE* file, int* width, int* height, unsigned format) {
  uint8_t bytes[kHeaderBytes];
  if (fread(bytes, 1, kHeaderBytes, file) != kHeaderBytes) return failure(TGA_BAD_HEADER);
  const Header header = parse_header(bytes);
  if (header.width == 0 || header.height == 0) return failure(TGA_ZERO_SIZE);
  // Wider pixels than 32 bits would shift beyond a 32-bit value.
  if (header.depth > 32 || !imgio_dimensions_ok(header.width, header.height)) return failure(TGA_BAD_HEADER);
  if (fseek(file, header.id_length, SEEK_CUR) != 0) return failure(TGA_EOF);
  const unsigned type = header.image_type;
  if (type == 0) return failure(TGA_NO_DATA);
  if (type != 1 && type != 2 && type != 3 && type != 9 && type != 10 && type != 11)
    return failure(TGA_UNKNOWN_TYPE);
  const bool mapped = type == 1 || type == 9;
  const bool grey = type == 3 || type == 11;
  if (mapped && (header.map_type == 0 || header.map_length == 0)) return failure(TGA_BAD_MAP);
  uint32_t* map = nullptr;
  if (header.map_type != 0) {
    if (grey) return failure(TGA_GREY_WITH_MAP);
    const unsigned bits = header.map_bits;
    if (bits != 15 && bits != 16 && bits != 24 && bits != 32) return failure(TGA_BAD_MAP_ENTRY_SIZE);
    // The map must be in the file before it is allocated.
    if (!could_code(imgio_bytes_left(file), header.map_length, (bits + 7) / 8, false)) return failure(TGA_BAD_MAP);
    map = static_cast<uint32_t*>(q4_malloc_c(header.map_length * 4 + 4, __FILE__, __LINE__));
    if (!map) return nullptr;
    for (unsigned i = 0; i < header.map_length; ++i)
      if (!get_value(file, (bits + 7) / 8, map + i)) {
        q4_free_c(map, __FILE__, __LINE__);
        return failure(TGA_BAD_MAP);
      }
  }
  const unsigned pixel_bytes = header.depth > 8 ? (header.depth + 7) / 8 : 1;
  // No more pixels are allocated than the rest of the file could code: its
  // end would come first.
  const uint64_t pixels = uint64_t(header.width) * header.height;
  if (!could_code(imgio_bytes_left(file), pixels, pixel_bytes, type > 8)) {
    if (map) q4_free_c(map, __FILE__, __LINE__);
    return failure(TGA_EOF);
  }
  unsigned char* image = allocate(header.width, header.height, format);
  if (image) {
    // A map in a file of true colours is not the pixels' concern.
    const Decoder decoder{&header, mapped ? map : nullptr, mapped ? header.map_bits : header.depth, grey,
                          image, format};
    if (!decode(file, decoder, pixel_bytes)) {
      q4_image_free_c(image, __FILE__, __LINE__);
      image = failure(TGA_EOF);
    }
  }
  if (map) q4_free_c(map, __FILE__, __LINE__);
  if (image) {
    *width = static_cast<int>(header.width);
    *height = static_cast<int>(header.height);
  }
  return image;
}

// Output of the writers: bytes through the stream, the first failure kept.
struct Output {
  FILE* file;
  void byte(unsigned v) { putc_unlocked(static_cast<int>(v & 255), file); }
  void pixel(const unsigned char* p, unsigned format) {
    byte(p[2]);
    byte(p[1]);
    byte(p[0]);
    if (format == 4) byte(p[3]);
  }
};

void write_header(Output& out, int width, int height, unsigned format, unsigned type) {
  uint8_t b[kHeaderBytes] = {kIdBytes, 0, static_cast<uint8_t>(type)};
  imgio_put_le16(b + 12, width);
  imgio_put_le16(b + 14, height);
  b[16] = static_cast<uint8_t>(8 * format);
  b[17] = format == 4 ? 8 : 0;
  for (uint8_t v : b) out.byte(v);
  const char id[kIdBytes] = "Written with imgio";
  for (char c : id) out.byte(static_cast<unsigned char>(c));
}

// Packets in memory order, none crossing from one row to the next: runs of
// equal pixels and literal stretches of at most 128 pixels.
void write_packets(Output& out, int width, uint64_t total, const unsigned char* image, unsigned format) {
  enum { kOne, kRun, kLiteral } state = kOne;
  auto px = [&](uint64_t n) { return image + n * format; };
  auto same = [&](uint64_t a, uint64_t b) { return memcmp(px(a), px(b), format) == 0; };
  auto literal = [&](uint64_t first, unsigned count) {
    out.byte(count - 1);
    for (unsigned k = 0; k < count; ++k) out.pixel(px(first + k), format);
  };
  auto run = [&](uint64_t pixel, unsigned count) {
    out.byte((count - 1) | 128);
    out.pixel(px(pixel), format);
  };
  uint64_t pending = 0;  // kOne: the pixel not yet written; kRun: the run's pixel
  uint64_t start = 0;    // kLiteral: the first pixel of the stretch
  unsigned counter = 0;
  for (uint64_t n = 1; n < total; ++n) {
    const bool row_start = n % width == 0;
    switch (state) {
      case kOne:
        if (row_start) {
          literal(pending, 1);
          pending = n;
        } else if (same(n, pending)) {
          counter = 0;
          state = kRun;
        } else {
          start = pending;
          counter = 0;
          state = kLiteral;
        }
        break;
      case kRun:
        // The run holds counter + 1 pixels before n.
        ++counter;
        if (row_start || !same(n, pending) || counter == 127) {
          run(pending, counter + 1);
          pending = n;
          state = kOne;
        }
        break;
      case kLiteral:
        // The stretch holds start .. n - 2 (counter pixels), n - 1 waits.
        ++counter;
        if (row_start || counter == 127) {
          literal(start, counter + 1);
          pending = n;
          state = kOne;
        } else if (same(n, n - 1)) {
          literal(start, counter);
          pending = n - 1;
          counter = 0;
          state = kRun;
        }
        break;
    }
  }
  // After the last pixel a run holds pending .. total - 1 and a stretch
  // start .. total - 1.
  if (state == kOne) literal(pending, 1);
  if (state == kRun) run(pending, counter + 2);
  if (state == kLiteral) literal(start, counter + 2);
}

int write_file(const char* path, int width, int height, const unsigned char* image, unsigned format,
               bool packets) {
  TargaError = TGA_NO_ERROR;
  if (format != 3 && format != 4) {
    TargaError = TGA_BAD_FORMAT;
    return 0;
  }
  FILE* file = image && width > 0 && height > 0 && width <= 65535 && height <= 65535 ? fopen(path, "wb") : nullptr;
  if (!file) {
    TargaError = TGA_CANNOT_OPEN;
    return 0;
  }
  Output out{file};
  write_header(out, width, height, format, packets ? 10 : 2);
  const uint64_t total = uint64_t(width) * height;
  if (packets)
    write_packets(out, width, total, image, format);
  else
    for (uint64_t n = 0; n < total; ++n) out.pixel(image + n * format, format);
  // Buffered bytes reach the disk at the close: a full disk shows there.
  const bool written = !ferror(file);
  if (fclose(file) != 0 || !written) {
    TargaError = TGA_CANNOT_OPEN;
    return 0;
  }
  return 1;
}

}  // namespace

unsigned char* tga_load(const char* path, int* width, int* height, unsigned format) {
  TargaError = TGA_NO_ERROR;
  if (format != 3 && format != 4) return failure(TGA_BAD_FORMAT);
  FILE* file = fopen(path, "rb");
  if (!file) return failure(TGA_CANNOT_OPEN);
  unsigned char* image = load(file, width, height, format);
  fclose(file);
  return image;
}

int tga_write_raw(const char* path, int width, int height, const unsigned char* image, unsigned format) {
  return write_file(path, width, height, image, format, false);
}

int tga_write_rle(const char* path, int width, int height, const unsigned char* image, unsigned format) {
  return write_file(path, width, height, image, format, true);
}

unsigned char* tga_create(int width, int height, unsigned format) {
  TargaError = TGA_NO_ERROR;
  if (format != 3 && format != 4) return failure(TGA_BAD_FORMAT);
  return allocate(width, height, format);
}

const char* tga_error_string(int code) {
  static const char* const texts[] = {"no error",
                                      "bad image header",
                                      "cannot open file",
                                      "bad format argument",
                                      "unexpected end-of-file",
                                      "image contains no data",
                                      "found colormap for a grayscale image",
                                      "unsupported colormap entry size",
                                      "bad colormap",
                                      "cannot read from file",
                                      "unknown image type",
                                      "image has size 0 width or height (or both)"};
  return code >= 0 && code <= TGA_ZERO_SIZE ? texts[code] : "unknown error";
}

int tga_get_last_error() { return TargaError; }

void tga_write_pixel_to_mem(unsigned char* image, unsigned descriptor, uint64_t n, unsigned width,
                            unsigned height, uint32_t value, unsigned bytes_per_pixel) {
  const unsigned origin = (descriptor >> 4) & 3;
  uint64_t x = n % width;
  uint64_t y = n / width;
  if (origin & 1) x = width - 1 - x;
  if (origin & 2) y = height - 1 - y;
  unsigned char* p = image + (y * width + x) * bytes_per_pixel;
  for (unsigned j = 0; j < bytes_per_pixel; ++j) p[j] = static_cast<unsigned char>(value >> (8 * j));
}
