#include <cstdint>
#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "image_ptr.h"
#include "image_q4.h"

namespace {

// A 256 x 128 frame holding every 15-bit value once in each channel.
std::unique_ptr<ImageQ4> every_value_frame() {
  std::unique_ptr<ImageQ4> frame(new ImageQ4(256, 128, 1.0f, nullptr, nullptr));
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 256; ++x) {
      const int v = y * 256 + x;
      PixelQ4& p = frame->rows[y][x];
      p.r = static_cast<unsigned short>(v);
      p.g = static_cast<unsigned short>(32767 - v);
      p.b = static_cast<unsigned short>((v * 7919) & 0x7FFF);  // a permutation of 0..32767
      p.a = static_cast<unsigned short>(v ^ 0x2AAA);
    }
  return frame;
}

bool same_frames(const ImageQ4& a, const ImageQ4& b) {
  for (int y = 0; y < a.height; ++y)
    if (std::memcmp(a.rows[y], b.rows[y], sizeof(PixelQ4) * a.width) != 0) return false;
  return true;
}

}  // namespace

TEST(Q4Image, EveryFifteenBitValueRoundTripsThroughWord) {
  std::unique_ptr<ImageQ4> frame = every_value_frame();
  ImagePtr img(from_Q4Image(frame.get()));
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->pixel_type, IMAGE_PIXEL_WORD);
  EXPECT_EQ(img->channels, 4);
  EXPECT_EQ(px<uint16_t>(img)[4 * 32767], 65534);  // 32767 doubles to 65534
  ImageQ4 back(256, 128, 1.0f, nullptr, nullptr);
  ASSERT_TRUE(to_Q4Image(img.get(), &back));
  EXPECT_TRUE(same_frames(*frame, back));
}

TEST(Q4Image, SampleScalingIntoTheFrame) {
  ImageQ4 frame(4, 1, 1.0f, nullptr, nullptr);
  ImagePtr b(image_data_create(4, 1, 4, IMAGE_PIXEL_BYTE, 1));
  const uint8_t bytes[] = {0, 1, 128, 255, 255, 128, 1, 0, 7, 7, 7, 7, 200, 100, 50, 25};
  std::memcpy(b->pixels, bytes, sizeof bytes);
  ASSERT_TRUE(to_Q4Image(b.get(), &frame));
  EXPECT_EQ(frame.rows[0][0].r, 0);
  EXPECT_EQ(frame.rows[0][0].g, 128);
  EXPECT_EQ(frame.rows[0][0].b, 16448);
  EXPECT_EQ(frame.rows[0][0].a, 32767);
  EXPECT_EQ(frame.rows[0][3].r, (200 << 7) | (200 >> 1));

  ImagePtr w(image_data_create(4, 1, 4, IMAGE_PIXEL_WORD, 1));
  const uint16_t words[] = {65535, 1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::memcpy(w->pixels, words, sizeof words);
  ASSERT_TRUE(to_Q4Image(w.get(), &frame));
  EXPECT_EQ(frame.rows[0][0].r, 32767);
  EXPECT_EQ(frame.rows[0][0].g, 0);
  EXPECT_EQ(frame.rows[0][0].b, 1);
  EXPECT_EQ(frame.rows[0][0].a, 1);
}

TEST(Q4Image, ThreeChannelsGiveFullAlphaAndRowsKeepTheirIndex) {
  const int types[] = {IMAGE_PIXEL_BYTE, IMAGE_PIXEL_WORD};
  for (int type : types) {
    ImageQ4 frame(2, 3, 1.0f, nullptr, nullptr);
    ImagePtr img(image_data_create(2, 3, 3, type, 1));
    image_data_zero(img.get());
    // Mark record row 0 (the bottom row of the picture) only.
    if (type == IMAGE_PIXEL_BYTE)
      px<uint8_t>(img)[0] = 255;
    else
      px<uint16_t>(img)[0] = 65535;
    ASSERT_TRUE(to_Q4Image(img.get(), &frame));
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 2; ++x) EXPECT_EQ(frame.rows[y][x].a, 32767);
    // Row r of the record is row r of the frame: no flip.
    EXPECT_EQ(frame.rows[0][0].r, 32767);
    EXPECT_EQ(frame.rows[2][0].r, 0);
  }
}

TEST(Q4Image, RefusalsLeaveTheFrameUnchanged) {
  ImageQ4 frame(4, 2, 1.0f, nullptr, nullptr);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) frame.rows[y][x] = PixelQ4{1, 2, 3, 4};
  ImagePtr narrow(image_data_create(3, 2, 4, IMAGE_PIXEL_WORD, 1));
  ImagePtr two(image_data_create(4, 2, 2, IMAGE_PIXEL_WORD, 1));
  ImagePtr flt(image_data_create(4, 2, 4, IMAGE_PIXEL_FLOAT, 1));
  ImagePtr w32(image_data_create(4, 2, 4, IMAGE_PIXEL_WORD32, 1));
  for (image_data* img : {narrow.get(), two.get(), flt.get(), w32.get()}) {
    image_data_zero(img);
    EXPECT_FALSE(to_Q4Image(img, &frame));
  }
  EXPECT_FALSE(to_Q4Image(nullptr, &frame));
  EXPECT_FALSE(to_Q4Image(flt.get(), nullptr));
  EXPECT_EQ(frame.rows[1][3].a, 4);
  EXPECT_EQ(frame.rows[0][0].r, 1);

  ImagePtr rgb(image_data_create(4, 2, 3, IMAGE_PIXEL_WORD, 1));
  EXPECT_FALSE(from_Q4Image(rgb.get(), &frame));
  EXPECT_FALSE(from_Q4Image(w32.get(), &frame));
  EXPECT_FALSE(from_Q4Image(narrow.get(), &frame));
  EXPECT_EQ(from_Q4Image(static_cast<ImageQ4*>(nullptr)), nullptr);
}

TEST(Q4Image, FloatRecordsScaleByOneOver32767) {
  ImageQ4 frame(2, 1, 1.0f, nullptr, nullptr);
  frame.rows[0][0] = PixelQ4{32767, 0, 16384, 1};
  frame.rows[0][1] = PixelQ4{100, 200, 300, 400};
  ImagePtr f(from_Q4Image_float(&frame));
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->pixel_type, IMAGE_PIXEL_FLOAT);
  EXPECT_NEAR(px<float>(f)[0], 1.0f, 1e-6f);
  EXPECT_EQ(px<float>(f)[1], 0.0f);
  EXPECT_NEAR(px<float>(f)[2], 16384.0f / 32767.0f, 1e-6f);
  EXPECT_NEAR(px<float>(f)[7], 400.0f / 32767.0f, 1e-7f);
}
