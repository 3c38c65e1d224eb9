#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "image_data.h"
#include "image_interpolate1d.h"

namespace {

unsigned char* bytes(void* p) { return static_cast<unsigned char*>(p); }

// The named variants of one pixel type in the order clamp, zero, wrap direct,
// wrap mirror, checked on the line a 2a 3a 4a with the linear kernel (a whole
// position reads the one mapped pixel; a half position averages two). The
// unit a differs per type so that a variant reading another type's samples
// (bytes of a word, bits of a float as an integer) gets other values.
template <typename T>
void check_named_variants(const image_interpolate1D_fn (&variants)[4], T a, const char* type_name) {
  const T line[] = {a, static_cast<T>(2 * a), static_cast<T>(3 * a), static_cast<T>(4 * a)};
  const double positions[] = {-5, -4, -3, -1, -0.5, 1.5, 4, 5, 7, 8};
  // In units of a, worked by hand: wrap maps i < 0 to n - (-i mod n) - 1 and
  // i >= n to i mod n; mirror reflects |i| mod 2n, so -1 reads pixel 2
  // (wrap) and pixel 1 (mirror).
  const double expect[10][4] = {
      {1, 0, 3, 3},           // -5: wrap 2, mirror 2
      {1, 0, 4, 4},           // -4: wrap 3, mirror 3
      {1, 0, 1, 4},           // -3: wrap 0, mirror 3
      {1, 0, 3, 2},           // -1: wrap 2, mirror 1
      {1, 0.5, 2, 1.5},       // -0.5: pixel 0 with clamp 0, zero none, wrap 2, mirror 1
      {2.5, 2.5, 2.5, 2.5},   // 1.5: pixels 1 and 2 in every mode
      {4, 0, 1, 4},           // 4: wrap 0, mirror 3
      {4, 0, 2, 3},           // 5: wrap 1, mirror 2
      {4, 0, 4, 1},           // 7: wrap 3, mirror 0
      {4, 0, 1, 1},           // 8: wrap 0, mirror 0
  };
  for (int m = 0; m < 4; ++m) {
    // The kernel carries another edge mode than the variant's name, so a
    // variant that followed the kernel would read other pixels.
    ImagelibKernel k(IMAGELIB_KERNEL_LINEAR, (m + 1) % 4);
    ASSERT_TRUE(k.valid);
    for (int p = 0; p < 10; ++p) {
      // The second slot must stay as it is: one sample of T is written.
      T out[2] = {static_cast<T>(99), static_cast<T>(99)};
      variants[m](bytes(const_cast<T*>(line)), 4, sizeof(T), positions[p], 1.0, bytes(out), 1, &k);
      EXPECT_EQ(static_cast<double>(out[0]), expect[p][m] * static_cast<double>(a))
          << type_name << " variant " << m << " at " << positions[p];
      EXPECT_EQ(out[1], static_cast<T>(99)) << type_name << " variant " << m;
    }
  }
}

// Fills a line of 5 pixels x 3 channels with value, interpolates it with a
// kernel whose tables are all zero over a footprint of 2, and checks that
// every channel comes out 0.
template <typename T>
void check_zero_weight_sum(T value, ImagelibKernel* zeroed, image_interpolate1D_fn fn) {
  std::vector<T> line(15, value);
  T out[3] = {value, value, value};
  fn(bytes(line.data()), 5, 3 * sizeof(T), 2.0, 2.0, bytes(out), 3, zeroed);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(out[c], static_cast<T>(0)) << c;
}

}  // namespace

TEST(Interpolate1D, EveryNamedVariantKeepsItsTypeAndEdgeMode) {
  const image_interpolate1D_fn byte_fns[4] = {image_interpolate1D_byte_clamp, image_interpolate1D_byte_zero,
                                              image_interpolate1D_byte_wrap_direct,
                                              image_interpolate1D_byte_wrap_mirror};
  const image_interpolate1D_fn word_fns[4] = {image_interpolate1D_word_clamp, image_interpolate1D_word_zero,
                                              image_interpolate1D_word_wrap_direct,
                                              image_interpolate1D_word_wrap_mirror};
  const image_interpolate1D_fn word32_fns[4] = {image_interpolate1D_word32_clamp, image_interpolate1D_word32_zero,
                                                image_interpolate1D_word32_wrap_direct,
                                                image_interpolate1D_word32_wrap_mirror};
  const image_interpolate1D_fn float_fns[4] = {image_interpolate1D_float_clamp, image_interpolate1D_float_zero,
                                               image_interpolate1D_float_wrap_direct,
                                               image_interpolate1D_float_wrap_mirror};
  check_named_variants<uint8_t>(byte_fns, 10, "byte");
  check_named_variants<uint16_t>(word_fns, 1000, "word");
  check_named_variants<uint32_t>(word32_fns, 100000000u, "word32");
  // 0.75 .. 3 spans two binary exponents, so means of the raw bits differ
  // from means of the values.
  check_named_variants<float>(float_fns, 0.75f, "float");

  // Float lines cap at 4294967295 in the clamp and zero variants only.
  float big[] = {6e9f, 6e9f, 6e9f, 6e9f};
  const float capped[] = {4294967295.0f, 4294967295.0f, 6e9f, 6e9f};
  ImagelibKernel linear(IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP);
  for (int m = 0; m < 4; ++m) {
    float out = 0;
    float_fns[m](bytes(big), 4, 4, 1.0, 1.0, bytes(&out), 1, &linear);
    EXPECT_EQ(out, capped[m]) << m;
  }
}

TEST(Interpolate1D, ZeroWeightSumGivesZero) {
  ImagelibKernel zeroed(IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP);
  ASSERT_TRUE(zeroed.valid);
  for (int i = 0; i <= zeroed.radius * zeroed.samples_per_unit; ++i) {
    zeroed.table[i] = 0.0;
    zeroed.fixed_table[i] = 0;
  }
  check_zero_weight_sum<uint8_t>(200, &zeroed, image_interpolate1D_byte);
  check_zero_weight_sum<uint16_t>(51234, &zeroed, image_interpolate1D_word);
  check_zero_weight_sum<uint32_t>(3000000000u, &zeroed, image_interpolate1D_word32);
  check_zero_weight_sum<float>(0.75f, &zeroed, image_interpolate1D_float);
}

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

// A constant line comes back unchanged, whatever the kernel's weights sum
// to: every kernel, edge mode and footprint, at fractional positions inside
// the line (beyond it a zero edge fades by design).
TEST(Interpolate1D, AConstantLineStaysConstant) {
  const uint16_t word[9] = {1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000};
  const float real[9] = {0.3f, 0.3f, 0.3f, 0.3f, 0.3f, 0.3f, 0.3f, 0.3f, 0.3f};
  for (int type = IMAGELIB_KERNEL_BOX; type <= IMAGELIB_KERNEL_LANCZOS2; ++type)
    for (int edge = 0; edge < 4; ++edge) {
      ImagelibKernel k(type, edge);
      ASSERT_TRUE(k.valid);
      for (double position : {3.1, 3.37, 3.5, 4.75, 4.9})
        for (double scale : {1.0, 1.4}) {
          uint16_t w = 0;
          float f = 0;
          image_interpolate1D_word(bytes(const_cast<uint16_t*>(word)), 9, 2, position, scale, bytes(&w), 1, &k);
          image_interpolate1D_float(bytes(const_cast<float*>(real)), 9, 4, position, scale, bytes(&f), 1, &k);
          EXPECT_NEAR(w, 1000, 0.5) << type << " " << edge << " " << position << " " << scale;
          EXPECT_NEAR(f, 0.3f, 1e-6) << type << " " << edge << " " << position << " " << scale;
        }
    }
}
