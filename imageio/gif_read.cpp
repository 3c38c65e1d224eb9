// GIF decoding: the screen descriptor and colour table, blocks up to the
// first image, then the published variable-length LZW decoder over the
// image's sub-blocks.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "gif_codec.h"
#include "imgio_driver_support.h"
#include "imgio_fields.h"
#include "imgio_messages.h"
#include "q4_memory.h"
#include "q4_strings.h"

namespace {

enum { kMaxCodes = 4096, kStack = 2 * kMaxCodes };

struct Decoder {
  FILE* file;
  // The logical screen; its colour tables, then the image's when it has one.
  unsigned width, height;
  uint8_t red[256], green[256], blue[256];
  // Bit reader: the last two bytes of the previous sub-block, then the
  // current one.
  uint8_t buf[280];
  int curbit, lastbit, done, last_byte;
  // LZW.
  bool fresh;
  int code_size, set_code_size, max_code, max_code_size;
  int firstcode, oldcode, clear_code, end_code;
  uint16_t table[2][kMaxCodes];
  uint16_t stack[kStack];
  int sp;
};

void info(const char* text) { messprintf(IMSSYS_INFO, "%s", text); }

bool read_colour_table(Decoder& d, unsigned entries) {
  for (unsigned i = 0; i < entries; ++i) {
    uint8_t rgb[3];
    if (fread(rgb, 1, 3, d.file) != 3) {
      info("GIF: Invalid colormap.\n");
      return false;
    }
    d.red[i] = rgb[0];
    d.green[i] = rgb[1];
    d.blue[i] = rgb[2];
  }
  // Pixel values beyond a short table are black, never another file's.
  for (unsigned i = entries; i < 256; ++i) d.red[i] = d.green[i] = d.blue[i] = 0;
  return true;
}

// A data sub-block into buf; its count, or -1 at the end of the file.
int data_block(Decoder& d, uint8_t* into) {
  const int count = getc(d.file);
  if (count == EOF) return -1;
  if (count && fread(into, 1, count, d.file) != size_t(count)) return -1;
  return count;
}

int GetCode(Decoder& d, int code_size, bool reset) {
  if (reset) {
    d.curbit = d.lastbit = d.done = 0;
    // Two bytes of nothing precede the first sub-block.
    d.buf[0] = d.buf[1] = 0;
    d.last_byte = 2;
    return 0;
  }
  // Bits up to lastbit are there; a code that needs more takes the next
  // sub-block, behind the last two bytes of this one.
  if (d.curbit + code_size > d.lastbit) {
    if (!d.done) {
      d.buf[0] = d.buf[d.last_byte - 2];
      d.buf[1] = d.buf[d.last_byte - 1];
      const int count = getc(d.file);
      if (count == EOF) {
        info("GIF: Error in getting buffer size\n");
        return -1;
      }
      if (count == 0) d.done = 1;
      if (count && fread(d.buf + 2, 1, count, d.file) != size_t(count)) {
        info("GIF: Error in getting buffer\n");
        return -1;
      }
      d.last_byte = count + 2;
      d.curbit = d.curbit - d.lastbit + 16;
      d.lastbit = (count + 2) * 8;
    }
    if (d.curbit + code_size > d.lastbit) {
      if (d.done && d.curbit >= d.lastbit) info("GIF: Ran off the end of my bits\n");
      return -1;
    }
  }
  int code = 0;
  for (int i = d.curbit, j = 0; j < code_size; ++i, ++j) code |= ((d.buf[i / 8] >> (i % 8)) & 1) << j;
  d.curbit += code_size;
  return code;
}

void reset_table(Decoder& d) {
  for (int i = 0; i < d.clear_code; ++i) {
    d.table[0][i] = 0;
    d.table[1][i] = uint16_t(i);
  }
  for (int i = d.clear_code; i < kMaxCodes; ++i) d.table[0][i] = d.table[1][i] = 0;
  d.code_size = d.set_code_size + 1;
  d.max_code_size = 2 * d.clear_code;
  d.max_code = d.clear_code + 2;
  d.sp = 0;
}

// The first code of a table: a root, or the end of the data.
int first_code(Decoder& d) {
  int code;
  do code = GetCode(d, d.code_size, false);
  while (code == d.clear_code);
  if (code == d.end_code) return -2;
  if (code > d.clear_code) {
    messprintf(IMSSYS_INFO, "GIF: Invalid code %d after a clear.\n", code);
    return -1;
  }
  d.firstcode = d.oldcode = code;
  return code;
}

void start_lzw(Decoder& d, int input_code_size) {
  d.set_code_size = input_code_size;
  d.clear_code = 1 << input_code_size;
  d.end_code = d.clear_code + 1;
  GetCode(d, 0, true);
  d.fresh = true;
  reset_table(d);
}

// The next pixel value, or a negative number at the end of the data (-2),
// a missing end of the data (-3) or an error (-1).
int LWZReadByte(Decoder& d) {
  if (d.fresh) {
    d.fresh = false;
    return first_code(d);
  }
  if (d.sp > 0) return d.stack[--d.sp];
  int code;
  while ((code = GetCode(d, d.code_size, false)) >= 0) {
    if (code == d.clear_code) {
      reset_table(d);
      return first_code(d);
    }
    if (code == d.end_code) {
      uint8_t skipped[256];
      int count;
      while ((count = data_block(d, skipped)) > 0) {
      }
      if (count == 0) return -2;
      info("GIF: missing EOD in data stream.\n");
      return -3;
    }
    const int incode = code;
    if (code >= d.max_code) {
      d.stack[d.sp++] = uint16_t(d.firstcode);
      code = d.oldcode;
    }
    // Every chain ends at a root within the table's size; a longer one
    // goes round in circles.
    while (code >= d.clear_code) {
      if (d.sp >= kMaxCodes || code == d.table[0][code]) {
        info("GIF: Circular table entry! Burble!\n");
        return -1;
      }
      d.stack[d.sp++] = d.table[1][code];
      code = d.table[0][code];
    }
    d.stack[d.sp++] = d.table[1][code];
    d.firstcode = d.table[1][code];
    if (d.max_code < kMaxCodes) {
      d.table[0][d.max_code] = uint16_t(d.oldcode);
      d.table[1][d.max_code] = uint16_t(d.firstcode);
      ++d.max_code;
      if (d.max_code >= d.max_code_size && d.max_code_size < kMaxCodes) {
        d.max_code_size *= 2;
        ++d.code_size;
      }
    }
    d.oldcode = incode;
    if (d.sp > 0) return d.stack[--d.sp];
  }
  return code;
}

// Skips an extension's sub-blocks; false (with the message) at the end of
// the file.
bool skip_extension(Decoder& d) {
  if (getc(d.file) == EOF) {
    info("GIF: No extension function code -- EOF\n");
    return false;
  }
  for (;;) {
    const int count = getc(d.file);
    if (count == EOF) {
      info("GIF: EOF in extension\n");
      return false;
    }
    if (count == 0) return true;
    uint8_t skipped[256];
    if (fread(skipped, 1, count, d.file) != size_t(count)) {
      info("GIF: EOF in extension.\n");
      return false;
    }
  }
}

// Decodes the image into the screen-sized buffer.
unsigned int* read_image(Decoder& d) {
  for (;;) {
    const int c = getc(d.file);
    if (c == EOF) {
      info("GIF: No image data -- EOF\n");
      return nullptr;
    }
    if (c == ';') return nullptr;
    if (c == '!') {
      if (!skip_extension(d)) return nullptr;
      continue;
    }
    if (c == ',') break;
    messprintf(IMSSYS_INFO, "GIF WARNING: Invalid character (wanted ,). Ignoring '%s'\n",
               printable_bytes(std::string(1, static_cast<char>(c))).c_str());
  }
  uint8_t desc[9];
  if (fread(desc, 1, 9, d.file) != 9) {
    info("GIF: Couldn't read left/top/width/height\n");
    return nullptr;
  }
  const unsigned w = imgio_le16(desc + 4), h = imgio_le16(desc + 6);
  const bool interlaced = desc[8] & 0x40;
  if (!imgio_dimensions_ok(w, h)) {
    messprintf(IMSSYS_INFO, "GIF: Bad image size %ux%u.\n", w, h);
    return nullptr;
  }
  if ((desc[8] & 0x80) && !read_colour_table(d, 1u << ((desc[8] & 7) + 1))) return nullptr;
  const int code_size = getc(d.file);
  if (code_size == EOF) {
    info("GIF: Invalid image data -- EOF\n");
    return nullptr;
  }
  if (code_size > 8) {
    messprintf(IMSSYS_INFO, "GIF: Invalid LZW code size %d.\n", code_size);
    return nullptr;
  }
  // A code of code_size + 1 bits or more stands for at most kMaxCodes
  // pixels: a screen larger than the rest of the file could code is not
  // allocated.
  if (uint64_t(d.width) * d.height > imgio_bytes_left(d.file) * 8 / (code_size + 1) * kMaxCodes) {
    messprintf(IMSSYS_INFO, "GIF: Too little image data for a screen of %ux%u.\n", d.width, d.height);
    return nullptr;
  }
  unsigned int* image = createbuffer(int(d.width), int(d.height));
  if (!image) {
    messprintf(IMSSYS_FATAL, "GIF: cannot allocate image buffer.\n");
    return nullptr;
  }
  start_lzw(d, code_size);
  // Interlaced rows: every 8th from 0, every 8th from 4, every 4th from 2,
  // every 2nd from 1.
  static const unsigned starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
  unsigned x = 0, y = 0, pass = 0;
  int v;
  while (y < h && (v = LWZReadByte(d)) >= 0) {
    // What lies beyond the screen is dropped.
    if (x < d.width && y < d.height)
      image[size_t(d.height - 1 - y) * d.width + x] =
          d.red[v] | unsigned(d.green[v]) << 8 | unsigned(d.blue[v]) << 16 | 0xFF000000u;
    if (++x < w) continue;
    x = 0;
    if (!interlaced) {
      ++y;
      continue;
    }
    y += steps[pass];
    while (y >= h && pass < 3) y = starts[++pass];
  }
  return image;
}

}  // namespace

unsigned int* ReadGIF(const char* path, int* width, int* height) {
  FILE* file = fopen(path, "rb");
  if (!file) return nullptr;
  Decoder* d = static_cast<Decoder*>(q4_calloc_c(1, sizeof(Decoder), __FILE__, __LINE__));
  if (!d) {
    messprintf(IMSSYS_FATAL, "GIF: cannot allocate image buffer.\n");
    fclose(file);
    return nullptr;
  }
  d->file = file;
  unsigned int* image = nullptr;
  char magic[6];
  uint8_t screen[7];
  if (fread(magic, 1, 6, file) != 6) {
    info("GIF: Error reading magic number\n");
  } else if (memcmp(magic, "GIF87a", 6) != 0) {
    info("GIF: bad magic number (version mismatch?)\n");
  } else if (fread(screen, 1, 7, file) != 7) {
    info("GIF: error reading screen descriptor\n");
  } else {
    d->width = imgio_le16(screen);
    d->height = imgio_le16(screen + 2);
    if (!imgio_dimensions_ok(d->width, d->height)) {
      messprintf(IMSSYS_INFO, "GIF: Bad screen size %ux%u.\n", d->width, d->height);
    } else if (!(screen[4] & 0x80) || read_colour_table(*d, 2u << (screen[4] & 7))) {
      image = read_image(*d);
    }
  }
  if (image) {
    *width = int(d->width);
    *height = int(d->height);
  }
  q4_free_c(d, __FILE__, __LINE__);
  fclose(file);
  return image;
}
