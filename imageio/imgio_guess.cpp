// Guessing a file's format from its first bytes.
#include <cstdio>
#include <cstring>

#include "imgio_internal.h"
#include "imgio_utils.h"

namespace {

struct magic {
  const char* bytes;  // compared at offset 0
  int length;
  const char* format;
  int swapped;
};

const magic magics[] = {
    {"\x80\xe8\x00\x00", 4, "pixar", 0},
    {"\x00\x00\xe8\x80", 4, "pixar", 1},
    {"\x53\x80\xf6\x34", 4, "softimage", 0},
    {"\x34\xf6\x80\x53", 4, "softimage", 1},
    {"\x01\xda", 2, "sgirgb", 0},
    {"\xda\x01", 2, "sgirgb", 1},
    {"\x00\x00\x01\xca", 4, "vertigo", 0},
    {"\xca\x01\x00\x00", 4, "vertigo", 1},
    {"\x4d\x4d", 2, "tiff", 0},
    {"\x49\x49", 2, "tiff", 1},
    {"\x59\xa6\x6a\x95", 4, "sun", 0},
    {"\x95\x6a\xa6\x59", 4, "sun", 1},
    {"\x25\x21\x50\x53", 4, "ps", 0},
    {"GIF87a", 6, "gif", 0},
    {"\x80\x2a\x5f\xd7", 4, "cin", 0},
    {"\xd7\x5f\x2a\x80", 4, "cin", 1},
    {"\x00\x00\x22\x00\x00\x00\x02\x00", 8, "symbolics", 0},
    {"\x46\x4f\x52\x34", 4, "tdi", 0},
};

// The JFIF mark sits at offset 6, the RLA channel names at offset 580.
const unsigned char jfif[] = {0x4a, 0x46, 0x49, 0x46};

bool rla_channels(FILE* file) {
  char text[3];
  return fseek(file, 580, SEEK_SET) == 0 && fread(text, 1, 3, file) == 3 &&
         (memcmp(text, "rgb", 3) == 0 || memcmp(text, "xyz", 3) == 0);
}

// An Alias header: width and height 1..16383 and 8 or 24 bits, five
// big-endian 16-bit numbers.
bool alias_header(FILE* file) {
  unsigned char bytes[10];
  if (fseek(file, 0, SEEK_SET) != 0 || fread(bytes, 1, 10, file) != 10) return false;
  unsigned number[5];
  for (int i = 0; i < 5; ++i) number[i] = static_cast<unsigned>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
  return number[0] >= 1 && number[0] <= 16383 && number[1] >= 1 && number[1] <= 16383 &&
         (number[4] == 8 || number[4] == 24);
}

const char* guess(FILE* file, const unsigned char* head, int* swapped) {
  *swapped = 0;
  for (const magic& m : magics) {
    if (memcmp(head, m.bytes, static_cast<size_t>(m.length)) == 0) {
      *swapped = m.swapped;
      return m.format;
    }
  }
  if (memcmp(head + 6, jfif, sizeof jfif) == 0) return "jpeg";
  if (rla_channels(file)) return "rla";
  if (alias_header(file)) return "alias";
  return "unknown";
}

}  // namespace

int imgguessformat(const char* path, char* format, char* ext, int* swapped) {
  if (!path || !format || !ext || !swapped) return 1;
  strcpy(ext, path + imgio_stem_length(path));

  FILE* file = fopen(path, "r");
  if (!file) return 1;
  unsigned char head[16];
  const bool whole = fread(head, 1, sizeof head, file) == sizeof head;
  if (whole) {
    const char* name = guess(file, head, swapped);
    snprintf(format, 10, "%s", name);
  }
  fclose(file);
  return whole ? 0 : 1;
}
