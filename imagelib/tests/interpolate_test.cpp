#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "image_data.h"
#include "image_interpolate1d.h"

namespace {

unsigned char* bytes(void* p) { return static_cast<unsigned char*>(p); }

}  // namespace

TEST(Interpolate1D, ByteLinearMagnification) {
  uint8_t line[] = {0, 1, 2, 7};
  ImagelibKernel linear(IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP);
  uint8_t out = 99;
  image_interpolate1D_byte(line, 4, 1, 2.0, 1.0, &out, 1, &linear);
  EXPECT_EQ(out, 2);
  image_interpolate1D_byte(line, 4, 1, 1.5, 1.0, &out, 1, &linear);
  EXPECT_EQ(out, 1);  // (512 + 1024) >> 10
  image_interpolate1D_byte(line, 4, 1, 2.25, 1.0, &out, 1, &linear);
  EXPECT_EQ(out, 3);  // 2 * 768 + 7 * 256 = 3328, >> 10 = 3
  image_interpolate1D_byte_clamp(line, 4, 1, -3.0, 1.0, &out, 1, &linear);
  EXPECT_EQ(out, 0);
  image_interpolate1D_byte_clamp(line, 4, 1, 30.0, 1.0, &out, 1, &linear);
  EXPECT_EQ(out, 7);
}

TEST(Interpolate1D, EdgeModesReadTheMappedPixels) {
  // A linear kernel at a whole position reads exactly one (mapped) pixel.
  uint16_t line[] = {100, 200, 300, 400};
  ImagelibKernel k(IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_WRAP);
  const int wrap_taps[] = {-1, -4, -5, 4, 5}, wrap_pixels[] = {2, 3, 2, 0, 1};
  for (int i = 0; i < 5; ++i) {
    uint16_t out = 0;
    image_interpolate1D_word(bytes(line), 4, 2, wrap_taps[i], 1.0, bytes(&out), 1, &k);
    EXPECT_EQ(out, line[wrap_pixels[i]]) << wrap_taps[i];
  }
  k.set_edge_mode(IMAGELIB_EDGE_MIRROR);
  const int mirror_taps[] = {-1, -3, 4, 7, 8}, mirror_pixels[] = {1, 3, 3, 0, 0};
  for (int i = 0; i < 5; ++i) {
    uint16_t out = 0;
    image_interpolate1D_word(bytes(line), 4, 2, mirror_taps[i], 1.0, bytes(&out), 1, &k);
    EXPECT_EQ(out, line[mirror_pixels[i]]) << mirror_taps[i];
  }
  k.set_edge_mode(IMAGELIB_EDGE_ZERO);
  uint16_t out = 5;
  image_interpolate1D_word(bytes(line), 4, 2, -3.0, 1.0, bytes(&out), 1, &k);
  EXPECT_EQ(out, 0);
  // Zero edges fade a minified value: footprint 2 at the first pixel, taps
  // -2..2 with linear weights 0, 0.5, 1, 0.5, 0 (fixed 0, 512, 1024, 512, 0):
  // (100 * 1024 + 200 * 512) / 2048 = 100.
  image_interpolate1D_word_zero(bytes(line), 4, 2, 0.0, 2.0, bytes(&out), 1, &k);
  EXPECT_EQ(out, 100);
  image_interpolate1D_word_clamp(bytes(line), 4, 2, 0.0, 2.0, bytes(&out), 1, &k);
  EXPECT_EQ(out, 125);  // (100 * 512 + 100 * 1024 + 200 * 512) / 2048
}

TEST(Interpolate1D, WordClampsNegativeAndOverflowingSums) {
  uint16_t line[] = {0, 0, 0, 65535, 65535, 65535};
  ImagelibKernel cubic(IMAGELIB_KERNEL_CUBIC_ONE, IMAGELIB_EDGE_CLAMP);
  uint16_t out = 7;
  // Taps 0..3 weigh -128, 640, 640, -128: only the negative lobe sees 65535.
  image_interpolate1D_word(bytes(line), 6, 2, 1.5, 1.0, bytes(&out), 1, &cubic);
  EXPECT_EQ(out, 0);
  // Taps 2..5: 1152 * 65535 > 65535 * 1024.
  image_interpolate1D_word(bytes(line), 6, 2, 3.5, 1.0, bytes(&out), 1, &cubic);
  EXPECT_EQ(out, 65535);
  image_interpolate1D_word(bytes(line), 6, 2, 2.5, 1.0, bytes(&out), 1, &cubic);
  EXPECT_EQ(out, 32767);  // 512 * 65535 >> 10

  // A footprint of 50000 samples would overflow 32-bit sums of a word line.
  std::vector<uint16_t> big(100000, 65535);
  ImagelibKernel linear(IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP);
  image_interpolate1D_word(bytes(big.data()), 100000, 2, 50000.0, 50000.0, bytes(&out), 1, &linear);
  EXPECT_EQ(out, 65535);
}

TEST(Interpolate1D, Word32AndFloatUseDoubleWeights) {
  uint32_t line32[] = {4000000000u, 10u, 20u};
  ImagelibKernel linear(IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP);
  uint32_t out32 = 0;
  image_interpolate1D_word32(bytes(line32), 3, 4, 0.0, 1.0, bytes(&out32), 1, &linear);
  EXPECT_EQ(out32, 4000000000u);
  image_interpolate1D_word32(bytes(line32), 3, 4, 1.5, 1.0, bytes(&out32), 1, &linear);
  EXPECT_EQ(out32, 15u);

  float linef[] = {-1.0f, 3.0f, 6e9f, 6e9f};
  float outf = 0;
  image_interpolate1D_float(bytes(linef), 4, 4, 0.5, 1.0, bytes(&outf), 1, &linear);
  EXPECT_EQ(outf, 1.0f);  // no cap at 1.0
  image_interpolate1D_float(bytes(linef), 4, 4, 0.0, 1.0, bytes(&outf), 1, &linear);
  EXPECT_EQ(outf, 0.0f);  // negative becomes 0
  image_interpolate1D_float_clamp(bytes(linef), 4, 4, 2.5, 1.0, bytes(&outf), 1, &linear);
  EXPECT_EQ(outf, 4294967295.0f);
  image_interpolate1D_float_wrap_direct(bytes(linef), 4, 4, 2.5, 1.0, bytes(&outf), 1, &linear);
  EXPECT_EQ(outf, 6e9f);  // the wrap variants do not cap
}

TEST(Interpolate1D, StridedInterleavedChannelsBeyondSixtyFour) {
  // A column of 3 pixels with 70 channels, every pixel row padded apart.
  const int ch = 70, stride = 80;
  std::vector<uint8_t> data(3 * stride, 0);
  for (int k = 0; k < 3; ++k)
    for (int c = 0; c < ch; ++c) data[k * stride + c] = static_cast<uint8_t>(k * 70 + c);
  ImagelibKernel linear(IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP);
  std::vector<uint8_t> out(ch + 4, 0xAB);
  image_interpolate1D_byte(data.data(), 3, stride, 1.5, 1.0, out.data(), ch, &linear);
  for (int c = 0; c < ch; ++c) EXPECT_EQ(out[c], (70 + c + 140 + c) / 2) << c;
  for (int c = ch; c < ch + 4; ++c) EXPECT_EQ(out[c], 0xAB);  // nothing past the pixel
}

TEST(Interpolate1D, BoxHalfwayIsTheMeanOfBothNeighbours) {
  uint8_t line[] = {100, 200, 250};
  ImagelibKernel box(IMAGELIB_KERNEL_BOX, IMAGELIB_EDGE_CLAMP);
  uint8_t out = 0;
  image_interpolate1D_byte(line, 3, 1, 0.5, 1.0, &out, 1, &box);
  EXPECT_EQ(out, 150);  // not 255 (the clamped sum 300)
  image_interpolate1D_byte(line, 3, 1, 1.2, 1.0, &out, 1, &box);
  EXPECT_EQ(out, 200);
  float fline[] = {0.25f, 0.5f};
  float fout = 0;
  image_interpolate1D_float(reinterpret_cast<unsigned char*>(fline), 2, 4, 0.5, 1.0,
                            reinterpret_cast<unsigned char*>(&fout), 1, &box);
  EXPECT_EQ(fout, 0.375f);
}

TEST(Interpolate1D, InvalidKernelOrModeWritesNothing) {
  uint8_t line[] = {1, 2, 3};
  uint8_t out = 0xEE;
  ImagelibKernel bad_type(9, IMAGELIB_EDGE_CLAMP);
  image_interpolate1D_byte(line, 3, 1, 1.0, 1.0, &out, 1, &bad_type);
  image_interpolate1D_byte_clamp(line, 3, 1, 1.0, 1.0, &out, 1, &bad_type);
  image_interpolate1D_byte_clamp(line, 3, 1, 1.0, 1.0, &out, 1, nullptr);
  EXPECT_EQ(out, 0xEE);
  ImagelibKernel bad_edge(IMAGELIB_KERNEL_LINEAR, 4);
  image_interpolate1D_byte(line, 3, 1, 1.0, 1.0, &out, 1, &bad_edge);
  EXPECT_EQ(out, 0xEE);
  ImagelibKernel good(IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP);
  image_interpolate1D_byte(line, 3, 1, 1.0, 1.0, &out, 1, &good);
  EXPECT_EQ(out, 2);
  EXPECT_EQ(image_interpolate1D_for_type(4), nullptr);
}
