#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "image_convert.h"
#include "image_ptr.h"
#include "test_executor.h"

namespace {

// Converts one sample of type S into type D through 1x1 one-channel images.
template <typename S, typename D>
D convert_one(S value, int src_type, int dst_type, bool rescale) {
  ImagePtr s = make(1, 1, 1, src_type), d = make(1, 1, 1, dst_type);
  px<S>(s)[0] = value;
  EXPECT_TRUE(image_convert(s.get(), d.get(), rescale, 0, 0.0f, 1.0f));
  return px<D>(d)[0];
}

}  // namespace

TEST(Convert, SampleScalingBetweenTypes) {
  EXPECT_EQ((convert_one<uint8_t, uint16_t>(255, IMAGE_PIXEL_BYTE, IMAGE_PIXEL_WORD, true)), 65535);
  EXPECT_EQ((convert_one<uint8_t, uint16_t>(128, IMAGE_PIXEL_BYTE, IMAGE_PIXEL_WORD, true)), 32896);
  EXPECT_EQ((convert_one<uint8_t, uint16_t>(128, IMAGE_PIXEL_BYTE, IMAGE_PIXEL_WORD, false)), 128);
  EXPECT_EQ((convert_one<uint8_t, uint32_t>(0xAB, IMAGE_PIXEL_BYTE, IMAGE_PIXEL_WORD32, true)), 0xABABABABu);
  EXPECT_NEAR((convert_one<uint8_t, float>(255, IMAGE_PIXEL_BYTE, IMAGE_PIXEL_FLOAT, true)), 1.0f, 1e-6f);
  EXPECT_EQ((convert_one<uint8_t, float>(200, IMAGE_PIXEL_BYTE, IMAGE_PIXEL_FLOAT, false)), 200.0f);

  EXPECT_EQ((convert_one<uint16_t, uint8_t>(65535, IMAGE_PIXEL_WORD, IMAGE_PIXEL_BYTE, true)), 255);
  EXPECT_EQ((convert_one<uint16_t, uint8_t>(0x12FF, IMAGE_PIXEL_WORD, IMAGE_PIXEL_BYTE, true)), 0x12);
  EXPECT_EQ((convert_one<uint16_t, uint8_t>(300, IMAGE_PIXEL_WORD, IMAGE_PIXEL_BYTE, false)), 255);
  EXPECT_EQ((convert_one<uint16_t, uint32_t>(0x1234, IMAGE_PIXEL_WORD, IMAGE_PIXEL_WORD32, true)), 0x12341234u);
  EXPECT_NEAR((convert_one<uint16_t, float>(32768, IMAGE_PIXEL_WORD, IMAGE_PIXEL_FLOAT, true)), 0.5f, 1e-4f);

  EXPECT_EQ((convert_one<uint32_t, uint8_t>(0xFE000000u, IMAGE_PIXEL_WORD32, IMAGE_PIXEL_BYTE, true)), 0xFE);
  EXPECT_EQ((convert_one<uint32_t, uint8_t>(1000u, IMAGE_PIXEL_WORD32, IMAGE_PIXEL_BYTE, false)), 255);
  EXPECT_EQ((convert_one<uint32_t, uint16_t>(0xBEEF0000u, IMAGE_PIXEL_WORD32, IMAGE_PIXEL_WORD, true)), 0xBEEF);
  EXPECT_EQ((convert_one<uint32_t, uint16_t>(70000u, IMAGE_PIXEL_WORD32, IMAGE_PIXEL_WORD, false)), 65535);
  EXPECT_EQ((convert_one<uint32_t, float>(4294967295u, IMAGE_PIXEL_WORD32, IMAGE_PIXEL_FLOAT, true)), 1.0f);
  EXPECT_EQ((convert_one<uint32_t, float>(16777216u, IMAGE_PIXEL_WORD32, IMAGE_PIXEL_FLOAT, false)), 16777216.0f);

  EXPECT_EQ((convert_one<float, uint8_t>(0.5f, IMAGE_PIXEL_FLOAT, IMAGE_PIXEL_BYTE, true)), 127);
  EXPECT_EQ((convert_one<float, uint8_t>(1.5f, IMAGE_PIXEL_FLOAT, IMAGE_PIXEL_BYTE, true)), 255);
  EXPECT_EQ((convert_one<float, uint8_t>(-0.2f, IMAGE_PIXEL_FLOAT, IMAGE_PIXEL_BYTE, true)), 0);
  EXPECT_EQ((convert_one<float, uint8_t>(3.9f, IMAGE_PIXEL_FLOAT, IMAGE_PIXEL_BYTE, false)), 3);
  EXPECT_EQ((convert_one<float, uint8_t>(300.0f, IMAGE_PIXEL_FLOAT, IMAGE_PIXEL_BYTE, false)), 255);
  EXPECT_EQ((convert_one<float, uint16_t>(0.25f, IMAGE_PIXEL_FLOAT, IMAGE_PIXEL_WORD, true)), 16383);
  EXPECT_EQ((convert_one<float, uint32_t>(1.0f, IMAGE_PIXEL_FLOAT, IMAGE_PIXEL_WORD32, true)), 4294967295u);
  EXPECT_EQ((convert_one<float, uint32_t>(-5.0f, IMAGE_PIXEL_FLOAT, IMAGE_PIXEL_WORD32, false)), 0u);
  EXPECT_EQ((convert_one<float, uint16_t>(NAN, IMAGE_PIXEL_FLOAT, IMAGE_PIXEL_WORD, true)), 0);
}

TEST(Convert, ByteRoundTripsThroughWiderTypes) {
  ImagePtr b = make(256, 1, 1, IMAGE_PIXEL_BYTE);
  for (int i = 0; i < 256; ++i) px<uint8_t>(b)[i] = static_cast<uint8_t>(i);
  const int wide[] = {IMAGE_PIXEL_WORD, IMAGE_PIXEL_WORD32};
  for (int type : wide) {
    ImagePtr w = make(256, 1, 1, type), back = make(256, 1, 1, IMAGE_PIXEL_BYTE);
    ASSERT_TRUE(image_convert(b.get(), w.get(), true, 0, 0.0f, 1.0f));
    ASSERT_TRUE(image_convert(w.get(), back.get(), true, 0, 0.0f, 1.0f));
    EXPECT_EQ(std::memcmp(b->pixels, back->pixels, 256), 0) << type;
  }
}

TEST(Convert, AddedAndDroppedChannels) {
  ImagePtr grey = make(2, 2, 1, IMAGE_PIXEL_BYTE), rgb = make(2, 2, 3, IMAGE_PIXEL_BYTE);
  for (int i = 0; i < 4; ++i) px<uint8_t>(grey)[i] = static_cast<uint8_t>(10 + i);
  ImagePtr rgbw = make(2, 2, 3, IMAGE_PIXEL_WORD);
  ASSERT_TRUE(image_convert(grey.get(), rgbw.get(), false, 1, 0.0f, 1.0f));
  for (int p = 0; p < 4; ++p)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(px<uint16_t>(rgbw)[p * 3 + c], 10 + p);
  ASSERT_TRUE(image_convert(grey.get(), rgb.get(), false, 1, 0.0f, 1.0f));
  for (int p = 0; p < 4; ++p)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(px<uint8_t>(rgb)[p * 3 + c], 10 + p);

  ImagePtr w3 = make(2, 1, 3, IMAGE_PIXEL_WORD), w4 = make(2, 1, 4, IMAGE_PIXEL_WORD);
  const uint16_t src[] = {1, 2, 3, 4, 5, 6};
  std::memcpy(w3->pixels, src, sizeof src);
  ASSERT_TRUE(image_convert(w3.get(), w4.get(), true, 3, 0.0f, 1.0f));
  EXPECT_EQ(px<uint16_t>(w4)[3], 65535);
  EXPECT_EQ(px<uint16_t>(w4)[6], 6);
  ASSERT_TRUE(image_convert(w3.get(), w4.get(), true, 0, 0.0f, 1.0f));
  EXPECT_EQ(px<uint16_t>(w4)[7], 0);
  ASSERT_TRUE(image_convert(w3.get(), w4.get(), true, 1, 0.0f, 1.0f));
  EXPECT_EQ(px<uint16_t>(w4)[3], 3);
  EXPECT_EQ(px<uint16_t>(w4)[7], 6);

  ImagePtr f4 = make(2, 2, 4, IMAGE_PIXEL_FLOAT);
  ASSERT_TRUE(image_convert(rgb.get(), f4.get(), true, 3, 0.0f, 1.0f));
  EXPECT_EQ(px<float>(f4)[3], 1.0f);
  EXPECT_NEAR(px<float>(f4)[0], 10.0f / 255.0f, 1e-7f);
  ASSERT_TRUE(image_convert(rgb.get(), f4.get(), true, 2, 0.25f, 1.0f));
  EXPECT_EQ(px<float>(f4)[15], 0.25f);

  ImagePtr b3 = make(2, 2, 3, IMAGE_PIXEL_BYTE);
  ASSERT_TRUE(image_convert(f4.get(), b3.get(), true, 0, 0.0f, 1.0f));  // alpha dropped
  for (int p = 0; p < 4; ++p) EXPECT_EQ(px<uint8_t>(b3)[p * 3 + 2], 10 + p);
}

TEST(Convert, RefusalsAndPlainCopy) {
  ImagePtr a = make(3, 2, 1, IMAGE_PIXEL_BYTE), b = make(3, 3, 1, IMAGE_PIXEL_WORD);
  EXPECT_FALSE(image_convert(a.get(), b.get(), true, 0, 0.0f, 1.0f));
  EXPECT_FALSE(image_convert(nullptr, b.get(), true, 0, 0.0f, 1.0f));
  ImagePtr c = make(3, 2, 1, IMAGE_PIXEL_BYTE);
  image_data_fill(a.get(), 42.0);
  a->range_valid = 1;
  a->range_max = 42.0;
  EXPECT_TRUE(image_convert(a.get(), c.get(), true, 0, 0.0f, 1.0f));
  EXPECT_EQ(px<uint8_t>(c)[5], 42);
  EXPECT_EQ(c->range_max, 42.0);  // equal layout is a whole copy
}

TEST(Convert, BandedConversionMatchesDirect) {
  ImagePtr src = make(31, 23, 3, IMAGE_PIXEL_FLOAT);
  for (int i = 0; i < 31 * 23 * 3; ++i) px<float>(src)[i] = static_cast<float>((i * 37) % 101) / 90.0f - 0.05f;
  ImagePtr direct = make(31, 23, 4, IMAGE_PIXEL_WORD);
  ASSERT_TRUE(image_convert(src.get(), direct.get(), true, 3, 0.0f, 1.0f));
  for (int bands : {1, 2, 7, 30}) {
    ScopedExecutor scoped(bands, bands == 7);
    ImagePtr banded = make(31, 23, 4, IMAGE_PIXEL_WORD);
    ASSERT_TRUE(image_convert(src.get(), banded.get(), true, 3, 0.0f, 1.0f));
    EXPECT_EQ(std::memcmp(banded->pixels, direct->pixels, direct->row_bytes * 23), 0) << bands;
    EXPECT_EQ(scoped.executor.last_count, 23);
  }
}
