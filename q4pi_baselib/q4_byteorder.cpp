#include "q4_byteorder.h"

#include <cstdint>
#include <cstring>

unsigned word32_swab(unsigned value) { return __builtin_bswap32(value); }

unsigned short word16_swab(unsigned short value) {
  return static_cast<unsigned short>((value >> 8) | (value << 8));
}

float float_swab(float value) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  bits = __builtin_bswap32(bits);
  memcpy(&value, &bits, sizeof bits);
  return value;
}

void word32_swab_vec(unsigned* values, int count) {
  for (int i = 0; i < count; ++i) values[i] = __builtin_bswap32(values[i]);
}

void word16_swab_vec(unsigned short* values, int count) {
  for (int i = 0; i < count; ++i) values[i] = word16_swab(values[i]);
}

void float_swab_vec(float* values, int count) {
  static_assert(sizeof(float) == sizeof(unsigned), "float and unsigned differ in size");
  for (int i = 0; i < count; ++i) values[i] = float_swab(values[i]);
}
