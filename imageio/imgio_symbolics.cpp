// Symbolics colour image dumps.
#include "imgio_symbolics.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "imgio_fields.h"
#include "imgio_held.h"
#include "imgio_messages.h"
#include "imgio_stamp.h"
#include "q4_memory.h"

namespace {

enum { KIND_ARRAY = 1, KIND_SYMBOL = 2, KIND_STRING = 3, KIND_PAINT = 4, KIND_INTEGER = 5 };
const int kArrayHeader = 32;
// A repeat count beyond any picture: nested repeats saturate here.
const uint64_t kCountCeiling = uint64_t(1) << 40;

// 32-bit values are two little-endian 16-bit words, the high word first.
uint32_t get32(const unsigned char* p) { return uint32_t(imgio_le16(p)) << 16 | imgio_le16(p + 2); }
void put32(unsigned char* p, uint32_t v) {
  imgio_put_le16(p, v >> 16);
  imgio_put_le16(p + 2, v & 0xFFFF);
}

struct bit_reader {
  const unsigned char* code;
  size_t words;
  size_t next;  // next word to load
  unsigned word;
  int left;  // bits of word not yet taken
  bool get(int n, unsigned* value) {
    *value = 0;
    for (int i = 0; i < n; ++i) {
      if (left == 0) {
        if (next >= words) return false;
        word = imgio_le16(code + 2 * next++);
        left = 16;
      }
      *value = *value << 1 | (word >> --left & 1u);
    }
    return true;
  }
};

struct bit_writer {
  unsigned char* out;
  size_t size;
  unsigned word;
  int used;
  void put(int n, unsigned value) {
    for (int i = n - 1; i >= 0; --i) {
      word = word << 1 | (value >> i & 1u);
      if (++used == 16) flush();
    }
  }
  void flush() {
    if (used == 0) return;
    imgio_put_le16(out + size, (word << (16 - used)) & 0xFFFF);
    size += 2;
    word = 0;
    used = 0;
  }
};

const char* const kSkipMessage[] = {
    nullptr, nullptr, "SYMBOLICS DECODE ERROR: Skip of symbol block failed.\n",
    "SYMBOLICS DECODE ERROR: Skip of string block failed.\n", "SYMBOLICS DECODE ERROR: Skip of paint data block failed.\n",
    "SYMBOLICS DECODE ERROR: Skip of integer data block failed.\n"};
const char* const kDecodeMessage[] = {
    nullptr, "SYMBOLICS DECODE ERROR: Repeat op-code with invalid second part.\n",
    "SYMBOLICS DECODE ERROR: Repeat expecting constant. Didn't get it!\n",
    "SYMBOLICS DECODE ERROR: Repeat/repeat invalid second part.\n"};

bool skip_to(FILE* file, int64_t target, int64_t file_size) {
  return target >= 0 && target <= file_size && fseek(file, static_cast<long>(target), SEEK_SET) == 0;
}

struct dump_reader {
  FILE* file;
  int64_t file_size;
  unsigned int* pixels;
  int width, height;
  int separations;
  int reference;
  bool warned;
};

// One image array whose 8-byte header was read; false ends the read.
bool read_array(dump_reader* d, uint32_t length) {
  unsigned char fields[24];
  const long here = ftell(d->file);
  const int64_t code_bytes = int64_t(length) - (kArrayHeader - 4);
  if (!imgio_read_exact(d->file, fields, sizeof fields)) return false;
  const int element_bits = static_cast<int>(get32(fields));
  const int pixel_bits = static_cast<int>(get32(fields + 12));
  const int64_t width = static_cast<int32_t>(get32(fields + 16)), height = static_cast<int32_t>(get32(fields + 20));
  if (element_bits != 16) {
    messprintf(IMSSYS_INFO, "SYMBOLICS DECODE ERROR: bits-per-element in image array expected to be 16, not %d\n",
               element_bits);
    return false;
  }
  if (pixel_bits != 8) {
    messprintf(IMSSYS_INFO, "SYMBOLICS DECODE ERROR: bits-per-pixel expected to be 8, not %d\n", pixel_bits);
    return false;
  }
  if (code_bytes < 0 || here < 0 || here + 24 + code_bytes > d->file_size) {
    messprintf(IMSSYS_INFO, "SYMBOLICS DECODE ERROR: image array longer than the file.\n");
    return false;
  }
  if (d->separations >= 4) {
    if (!d->warned)
      messprintf(IMSSYS_INFO, "SYMBOLICS DECODE WARNING: Seems to be more than 4 seperations in this file!\n");
    d->warned = true;
    return fseek(d->file, static_cast<long>(code_bytes), SEEK_CUR) == 0;
  }
  // Every separation fills the same pixels.
  if (!imgsizeok(width, height) || (d->pixels && (width != d->width || height != d->height))) {
    messprintf(IMSSYS_INFO, "SYMBOLICS DECODE ERROR: image array of %lldx%lld refused.\n",
               static_cast<long long>(width), static_cast<long long>(height));
    return false;
  }
  const size_t count = size_t(width) * size_t(height);
  unsigned char* separation = static_cast<unsigned char*>(q4_image_malloc_c(unsigned(count), __FILE__, __LINE__));
  unsigned char* code = static_cast<unsigned char*>(imgio_zalloc(code_bytes + 1, 1));
  if (!separation || !code) {
    messprintf(IMSSYS_INFO, "SYMBOLICS DECODE ERROR: Cannot allocate seperation buffer.\n");
    if (separation) q4_image_free_c(separation, __FILE__, __LINE__);
    imgio_free(code);
    return false;
  }
  memset(separation, 0, count);
  bool ok = imgio_read_exact(d->file, code, size_t(code_bytes));
  if (ok) {
    size_t stored = 0;
    const int status = sym_decode_values(code, size_t(code_bytes), separation, count, &d->reference, &stored);
    if (status != SYM_DECODE_OK) {
      messprintf(IMSSYS_INFO, "%s", kDecodeMessage[status]);
      messprintf(IMSSYS_INFO, "SYMBOLICS DECODE WARNING: Decode_stream() notified a problem.\n");
    }
  }
  if (ok && !d->pixels) {
    d->width = static_cast<int>(width);
    d->height = static_cast<int>(height);
    d->pixels = createbuffer(d->width, d->height);
    if (!d->pixels) {
      messprintf(IMSSYS_FATAL, "SYMBOLICS DECODE ERROR: Cannot allocate output buffer.\n");
      ok = false;
    }
  }
  if (ok) {
    const int shift = 8 * d->separations++;
    for (int r = 0; r < d->height; ++r) {
      unsigned int* row = d->pixels + size_t(d->height - 1 - r) * d->width;
      const unsigned char* values = separation + size_t(r) * d->width;
      for (int x = 0; x < d->width; ++x) row[x] |= unsigned(values[x]) << shift;
    }
  }
  q4_image_free_c(separation, __FILE__, __LINE__);
  imgio_free(code);
  return ok;
}

void upper_case(char* text) {
  for (; *text; ++text) *text = static_cast<char>(toupper(static_cast<unsigned char>(*text)));
}

// The descriptor's name: the dump's with the extension of its last
// component replaced by ".image".
bool descriptor_name(const char* path, char* out, size_t size) {
  const char* slash = strrchr(path, '/');
  const char* dot = strrchr(slash ? slash : path, '.');
  const size_t stem = dot ? size_t(dot - path) : strlen(path);
  return snprintf(out, size, "%.*s.image", static_cast<int>(stem), path) < static_cast<int>(size);
}

bool write_descriptor(const char* path, int width, int height, const imgio_stamp& stamp, const tm& when) {
  char name[4096];
  if (!descriptor_name(path, name, sizeof name)) return false;
  const char* slash = strrchr(path, '/');
  const char* base = slash ? slash + 1 : path;
  const char* dot = strrchr(base, '.');
  const int base_length = static_cast<int>(dot ? size_t(dot - base) : strlen(base));
  FILE* file = fopen(name, "w");
  if (!file) return false;
  const bool ok =
      fprintf(file, "(color:make-image 'color:32b-image\n") >= 0 &&
      fprintf(file, "                  :name '\"%.*s\"\n", base_length, base) >= 0 &&
      fprintf(file, "                  :properties '(:author \"%s\"\n", stamp.login) >= 0 &&
      fprintf(file, "                                :date \"%d/%d/%2.2d %2.2d:%2.2d:%2.2d\")\n", when.tm_mon + 1,
              when.tm_mday, when.tm_year, when.tm_hour, when.tm_min, when.tm_sec) >= 0 &&
      fprintf(file, "                  :width %d\n", width) >= 0 &&
      fprintf(file, "                  :height %d\n", height) >= 0 &&
      fprintf(file, "                  :rle '(color:rle-array-1 color:rld-array-1)\n") >= 0 &&
      fprintf(file, "                  :binary-info '(:rle :rld :red :green :blue :alpha))\n") >= 0;
  return imgio_close_stream(file, ok);
}

bool write_dump(FILE* file, const unsigned int* pixels, int width, int height, const imgio_stamp& stamp,
                const tm& when, unsigned char* separation) {
  char host[160];
  snprintf(host, sizeof host, "%s", stamp.host);
  upper_case(host);
  char id[256];
  snprintf(id, sizeof id, "%s:%d/%d/%2.2d %2.2d:%2.2d:%2.2d #%d", host, when.tm_mon + 1, when.tm_mday, when.tm_year,
           when.tm_hour, when.tm_min, when.tm_sec, stamp.process % 999);
  long counter = 0;
  if (!sym_write_ssb(file, ":BINARY-UNIQUE-ID", &counter, KIND_SYMBOL) ||
      !sym_write_ssb(file, id, &counter, KIND_STRING) || !sym_write_ssb(file, ":RLD", &counter, KIND_SYMBOL) ||
      !sym_write_ssb(file, "COLOR:RLD-ARRAY-2", &counter, KIND_SYMBOL)) {
    messprintf(IMSSYS_INFO, "SYMBOLICS ENCODE ERROR: Symbol/string block write failed.\n");
    return false;
  }
  const char* const symbols[4] = {":RED", ":GREEN", ":BLUE", ":ALPHA"};
  const char* const names[4] = {"RED", "GREEN", "BLUE", "ALPHA"};
  for (int c = 0; c < 4; ++c) {
    for (int r = 0; r < height; ++r) {
      const unsigned int* row = pixels + size_t(height - 1 - r) * width;
      unsigned char* values = separation + size_t(r) * width;
      for (int x = 0; x < width; ++x) values[x] = static_cast<unsigned char>(row[x] >> (8 * c));
    }
    if (!sym_write_ssb(file, symbols[c], &counter, KIND_SYMBOL)) {
      messprintf(IMSSYS_INFO, "SYMBOLICS ENCODE ERROR: Symbol/string block write failed.\n");
      return false;
    }
    if (!sym_encode_sep(file, separation, width, height)) {
      messprintf(IMSSYS_INFO, "SYMBOLICS ENCODE ERROR: %s encode/write failed.\n", names[c]);
      return false;
    }
  }
  return true;
}

}  // namespace

int sym_decode_values(const unsigned char* code, size_t size, unsigned char* out, size_t count, int* reference,
                      size_t* stored) {
  bit_reader in{code, size / 2, 0, 0, 0};
  unsigned r = static_cast<unsigned>(*reference) & 255u;
  size_t done = 0;
  int status = SYM_DECODE_OK;
  // An operation of the delta family after its 0 bit: the value, or false
  // when the code ends. op 3 is the caller's.
  const auto delta = [&in, &r](unsigned op, unsigned* value) {
    unsigned x = 0;
    if (op == 2) {
      *value = r;
      return true;
    }
    if (!in.get(2, &x)) return false;
    *value = (op == 0 ? r + x + 1 : r - x - 1) & 255u;
    return true;
  };
  while (done < count && status == SYM_DECODE_OK) {
    unsigned bit = 0, value = 0, op = 0, second = 0;
    if (!in.get(1, &bit)) break;
    if (bit) {
      if (!in.get(8, &value)) break;
      r = value;
      out[done++] = static_cast<unsigned char>(r);
      continue;
    }
    if (!in.get(2, &op)) break;
    if (op != 3) {
      if (!delta(op, &value)) break;
      r = value;
      out[done++] = static_cast<unsigned char>(r);
      continue;
    }
    if (!in.get(2, &second)) break;
    if (second != 2) {
      status = SYM_DECODE_BAD_REPEAT;
      break;
    }
    uint64_t high = 0, repeat = 0;
    bool complete = false;
    for (;;) {
      unsigned marker = 0, constant = 0;
      if (!in.get(1, &marker)) break;
      if (marker != 1) {
        status = SYM_DECODE_NO_CONSTANT;
        break;
      }
      if (!in.get(8, &constant)) break;
      repeat = constant + high;
      if (!in.get(1, &bit)) break;
      if (bit) {
        if (!in.get(8, &value)) break;
        complete = true;
        break;
      }
      if (!in.get(2, &op)) break;
      if (op != 3) {
        complete = delta(op, &value);
        break;
      }
      if (!in.get(2, &second)) break;
      if (second != 2) {
        status = SYM_DECODE_BAD_NESTING;
        break;
      }
      high = repeat < kCountCeiling ? repeat * 256 : kCountCeiling;
    }
    if (!complete) break;
    r = value;
    // No more than the values left.
    const size_t copies = repeat < count - done ? size_t(repeat) : count - done;
    memset(out + done, static_cast<int>(r), copies);
    done += copies;
  }
  *reference = static_cast<int>(r);
  *stored = done;
  return status;
}

size_t sym_encode_values(const unsigned char* values, size_t count, unsigned char* out) {
  bit_writer code{out, 0, 0, 0};
  for (size_t i = 0; i < count; ++i) {
    const int v = values[i];
    const int d = i == 0 ? 256 : v - values[i - 1];
    if (d == 0) {
      code.put(3, 2);  // 0 10
    } else if (d >= 1 && d <= 4) {
      code.put(3, 0);  // 0 00 x
      code.put(2, static_cast<unsigned>(d - 1));
    } else if (d >= -4 && d <= -1) {
      code.put(3, 1);  // 0 01 x
      code.put(2, static_cast<unsigned>(-d - 1));
    } else {
      code.put(1, 1);
      code.put(8, static_cast<unsigned>(v));
    }
  }
  code.flush();
  return code.size;
}

int sym_write_ssb(FILE* file, const char* text, long* counter, int kind) {
  const size_t length = strlen(text);
  const size_t padded = (length + 1) / 2 * 2;
  unsigned char head[20];
  put32(head, static_cast<uint32_t>(padded + 16));
  put32(head + 4, static_cast<uint32_t>(kind));
  put32(head + 8, 8);
  put32(head + 12, 1);
  put32(head + 16, static_cast<uint32_t>(length));
  const unsigned char pad = 0;
  if (!imgio_write_exact(file, head, sizeof head) || !imgio_write_exact(file, text, length) ||
      (padded > length && !imgio_write_exact(file, &pad, 1)))
    return 0;
  if (counter) *counter += static_cast<long>(sizeof head + padded);
  return 1;
}

int sym_encode_sep(FILE* file, const unsigned char* separation, int width, int height) {
  const size_t count = size_t(width) * size_t(height);
  const uint64_t room = (9 * uint64_t(count) + 15) / 16 * 2;
  unsigned char* code = static_cast<unsigned char*>(imgio_zalloc(int64_t(room), 1));
  if (!code) return 0;
  const size_t bytes = sym_encode_values(separation, count, code);
  unsigned char head[kArrayHeader];
  const uint64_t length = kArrayHeader - 4 + uint64_t(bytes);
  put32(head, static_cast<uint32_t>(length));
  put32(head + 4, KIND_ARRAY);
  put32(head + 8, 16);
  put32(head + 12, 1);
  put32(head + 16, static_cast<uint32_t>((length - 12) / 2));
  put32(head + 20, 8);
  put32(head + 24, static_cast<uint32_t>(width));
  put32(head + 28, static_cast<uint32_t>(height));
  const bool ok = length <= UINT32_MAX && imgio_write_exact(file, head, sizeof head) &&
                  imgio_write_exact(file, code, bytes);
  imgio_free(code);
  return ok ? 1 : 0;
}

unsigned int* read_symbolics(const char* path, int* width, int* height) {
  FILE* file = fopen(path, "r");
  if (!file) return nullptr;
  dump_reader d{file, imgio_file_size(file), nullptr, 0, 0, 0, 0, false};
  bool ok = d.file_size >= 0;
  while (ok) {
    unsigned char head[8];
    if (!imgio_read_exact(file, head, sizeof head)) break;
    const uint32_t length = get32(head);
    const uint32_t kind = get32(head + 4);
    if (kind >= KIND_SYMBOL && kind <= KIND_INTEGER) {
      const long here = ftell(file);
      if (length < 4 || here < 0 || !skip_to(file, here + int64_t(length) - 4, d.file_size)) {
        messprintf(IMSSYS_INFO, "%s", kSkipMessage[kind]);
        ok = false;
      }
    } else if (kind == KIND_ARRAY && !read_array(&d, length)) {
      messprintf(IMSSYS_INFO, "SYMBOLICS DECODE ERROR: Array block decode failed!\n");
      ok = false;
    }
  }
  fclose(file);
  if (!ok) {
    destroybuffer(d.pixels);
    return nullptr;
  }
  *width = d.width;
  *height = d.height;
  return d.pixels;
}

int write_symbolics(const char* path, const unsigned int* pixels, int width, int height) {
  FILE* file = fopen(path, "w+");
  if (!file) {
    messprintf(IMSSYS_INFO, "SYMBOLICS ENCODE ERROR: Cannot open output file.\n");
    return 0;
  }
  const imgio_stamp stamp = imgio_current_stamp();
  tm when{};
  localtime_r(&stamp.when, &when);
  if (!write_descriptor(path, width, height, stamp, when)) {
    messprintf(IMSSYS_INFO, "SYMBOLICS ENCODE ERROR: Cannot write .image file.\n");
    fclose(file);
    return 0;
  }
  const size_t count = size_t(width) * size_t(height);
  unsigned char* separation =
      count <= UINT32_MAX ? static_cast<unsigned char*>(q4_image_malloc_c(unsigned(count), __FILE__, __LINE__))
                          : nullptr;
  if (!separation) {
    messprintf(IMSSYS_FATAL, "SYMBOLICS ENCODE ERROR: Cannot allocate separation buffer.\n");
    fclose(file);
    return 0;
  }
  const bool written = write_dump(file, pixels, width, height, stamp, when, separation);
  q4_image_free_c(separation, __FILE__, __LINE__);
  return imgio_close_stream(file, written) ? 1 : 0;
}

int SymOpenf(imginfo* h) { return imgio_held_open(h, read_symbolics); }
int SymCreatef(imginfo* h) { return imgio_held_create(h); }
int SymReadl(imginfo* h) { return imgio_held_readl(h); }
int SymReadl16(imginfo* h) { return imgio_held_readl16(h); }
int SymWritel(imginfo* h) { return imgio_held_writel(h); }
int SymWritel16(imginfo* h) { return imgio_held_writel16(h); }

int SymClosef(imginfo* h) {
  return imgio_held_close(h, [](const char* path, const unsigned int* pixels, int width, int height) {
    return write_symbolics(path, pixels, width, height) != 0;
  });
}

int SymReadb(imginfo* h) { return imgio_read_whole(h, symbolics_driver, false); }
int SymReadb16(imginfo* h) { return imgio_read_whole(h, symbolics_driver, true); }
int SymWriteb(imginfo* h) { return imgio_write_whole(h, symbolics_driver, false); }
int SymWriteb16(imginfo* h) { return imgio_write_whole(h, symbolics_driver, true); }
int SymMakeSeek(imginfo*) { return 1; }
int SymSeekTo(imginfo*) { return 1; }

const imgio_driver symbolics_driver = {SymOpenf,   SymCreatef, SymReadl,   SymWritel,   SymReadl16,
                                       SymWritel16, SymClosef, SymReadb,   SymWriteb,   SymReadb16,
                                       SymWriteb16, nullptr,   SymMakeSeek, SymSeekTo};
