#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include "q4_byteorder.h"

TEST(ByteOrder, ScalarSwapsReverseBytes) {
  EXPECT_EQ(word32_swab(0x11223344u), 0x44332211u);
  EXPECT_EQ(word32_swab(0xff000080u), 0x800000ffu);
  EXPECT_EQ(word16_swab(0x1234), 0x3412);
  EXPECT_EQ(word16_swab(0x00ff), 0xff00);
  // 1.0f is 3f 80 00 00; reversed the bits are 00 00 80 3f.
  const float swapped = float_swab(1.0f);
  uint32_t bits;
  memcpy(&bits, &swapped, sizeof bits);
  EXPECT_EQ(bits, 0x0000803fu);
  EXPECT_EQ(float_swab(float_swab(-123.456f)), -123.456f);
}

TEST(ByteOrder, VectorSwapsActOnEveryValueAndRoundTrip) {
  unsigned words[3] = {0x01020304u, 0xa0b0c0d0u, 0};
  word32_swab_vec(words, 2);
  EXPECT_EQ(words[0], 0x04030201u);
  EXPECT_EQ(words[1], 0xd0c0b0a0u);
  EXPECT_EQ(words[2], 0u);
  unsigned short halves[4] = {0x0102, 0xabcd, 0x00ff, 0x7777};
  word16_swab_vec(halves, 3);
  EXPECT_EQ(halves[0], 0x0201);
  EXPECT_EQ(halves[1], 0xcdab);
  EXPECT_EQ(halves[2], 0xff00);
  EXPECT_EQ(halves[3], 0x7777);  // past the count: untouched
  float values[2] = {3.5f, -0.25f};
  float_swab_vec(values, 2);
  float_swab_vec(values, 2);
  EXPECT_EQ(values[0], 3.5f);
  EXPECT_EQ(values[1], -0.25f);
  word16_swab_vec(halves, 0);
  EXPECT_EQ(halves[0], 0x0201);
}
