#include <cmath>
#include <cstdint>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "image_arith.h"
#include "image_pattern.h"

namespace {

// A one-pixel, one-channel image of a type holding v.
ImagePtr one(int type, double v) {
  ImagePtr img = make(1, 1, 1, type);
  set_sample(img.get(), 0, 0, 0, v);
  return img;
}

double only(const ImagePtr& img) { return sample(img.get(), 0); }

}  // namespace

TEST(Arith, ScalarFormsRoundHalfUpAndSaturate) {
  struct Case {
    const char* what;
    int type;
    double x;
    std::function<bool(image_data*)> op;
    double expect;
  } cases[] = {
      {"byte + 10.4", IMAGE_PIXEL_BYTE, 100, [](image_data* i) { return image_add(i, 10.4); }, 110},
      {"byte + 10.5", IMAGE_PIXEL_BYTE, 100, [](image_data* i) { return image_add(i, 10.5); }, 111},
      {"byte + 300", IMAGE_PIXEL_BYTE, 100, [](image_data* i) { return image_add(i, 300); }, 255},
      {"byte - 300", IMAGE_PIXEL_BYTE, 100, [](image_data* i) { return image_subtract(i, 300); }, 0},
      {"byte - 0.6", IMAGE_PIXEL_BYTE, 100, [](image_data* i) { return image_subtract(i, 0.6); }, 99},
      {"byte / 0", IMAGE_PIXEL_BYTE, 10, [](image_data* i) { return image_divide(i, 0.0); }, 10},
      {"byte / 1e-11", IMAGE_PIXEL_BYTE, 10, [](image_data* i) { return image_divide(i, 1e-11); }, 10},
      {"byte / 4", IMAGE_PIXEL_BYTE, 10, [](image_data* i) { return image_divide(i, 4.0); }, 3},
      {"byte * -2", IMAGE_PIXEL_BYTE, 10, [](image_data* i) { return image_multiply(i, -2.0); }, 0},
      {"byte * NaN", IMAGE_PIXEL_BYTE, 10, [](image_data* i) { return image_multiply(i, NAN); }, 0},
      {"word * 1.5", IMAGE_PIXEL_WORD, 50001, [](image_data* i) { return image_multiply(i, 1.5); }, 65535},
      {"word32 + 0.5", IMAGE_PIXEL_WORD32, 4294967294.0, [](image_data* i) { return image_add(i, 0.5); },
       4294967295.0},
      {"word32 * 3", IMAGE_PIXEL_WORD32, 2e9, [](image_data* i) { return image_multiply(i, 3); }, 4294967295.0},
      {"float - 2 unclamped", IMAGE_PIXEL_FLOAT, 0.5, [](image_data* i) { return image_subtract(i, 2.0); }, -1.5},
      {"float / 4", IMAGE_PIXEL_FLOAT, 0.5, [](image_data* i) { return image_divide(i, 4.0); }, 0.125},
      {"float + 0.25, masked", IMAGE_PIXEL_FLOAT, 0.5, [](image_data* i) { return image_add(i, 0.25, 1u); }, 0.75},
  };
  for (const Case& c : cases) {
    ImagePtr img = one(c.type, c.x);
    ASSERT_TRUE(c.op(img.get())) << c.what;
    EXPECT_EQ(only(img), c.expect) << c.what;
  }
  EXPECT_FALSE(image_add(nullptr, 1.0));
  EXPECT_FALSE(image_divide(nullptr, 1.0, 1u));
}

TEST(Arith, ImageFormsFollowTheTypeTable) {
  struct Case {
    const char* what;
    int type;
    double x, y;
    bool (*op)(image_data*, image_data*);
    double expect;
  } cases[] = {
      {"byte 200 + 100", IMAGE_PIXEL_BYTE, 200, 100, image_add, 255},
      {"byte 10 - 20", IMAGE_PIXEL_BYTE, 10, 20, image_subtract, 0},
      {"byte 20 * 20", IMAGE_PIXEL_BYTE, 20, 20, image_multiply, 255},
      {"byte 10 / 4", IMAGE_PIXEL_BYTE, 10, 4, image_divide, 2},
      {"byte 10 / 0", IMAGE_PIXEL_BYTE, 10, 0, image_divide, 255},
      {"byte norm 128 128", IMAGE_PIXEL_BYTE, 128, 128, image_multiply_norm, 64},
      {"byte norm 255 255", IMAGE_PIXEL_BYTE, 255, 255, image_multiply_norm, 255},
      {"word 65535 * 65535", IMAGE_PIXEL_WORD, 65535, 65535, image_multiply, 65535},
      {"word norm 65535 32768", IMAGE_PIXEL_WORD, 65535, 32768, image_multiply_norm, 32768},
      {"word 7 / 0", IMAGE_PIXEL_WORD, 7, 0, image_divide, 65535},
      {"word32 10 / 4", IMAGE_PIXEL_WORD32, 10, 4, image_divide, 3},
      {"word32 10 / 0", IMAGE_PIXEL_WORD32, 10, 0, image_divide, 4294967295.0},
      {"word32 3e9 + 3e9", IMAGE_PIXEL_WORD32, 3e9, 3e9, image_add, 4294967295.0},
      {"word32 norm max max", IMAGE_PIXEL_WORD32, 4294967295.0, 4294967295.0, image_multiply_norm, 4294967294.0},
      {"float 1 / 1e-7", IMAGE_PIXEL_FLOAT, 1, 1e-7, image_divide, 1},
      {"float 1 / 4", IMAGE_PIXEL_FLOAT, 1, 4, image_divide, 0.25},
      {"float 0.5 * 3", IMAGE_PIXEL_FLOAT, 0.5, 3, image_multiply_norm, 1.5},
  };
  for (const Case& c : cases) {
    ImagePtr img = one(c.type, c.x), other = one(c.type, c.y);
    ASSERT_TRUE(c.op(img.get(), other.get())) << c.what;
    EXPECT_EQ(only(img), c.expect) << c.what;
  }
  // Mismatched or missing images: false, nothing written.
  ImagePtr img = make(2, 2, 4, IMAGE_PIXEL_BYTE), three = make(2, 2, 3, IMAGE_PIXEL_BYTE);
  image_data_fill(img.get(), 9);
  EXPECT_FALSE(image_add(img.get(), three.get()));
  EXPECT_FALSE(image_multiply_norm(img.get(), three.get(), 1u));
  EXPECT_FALSE(image_divide(img.get(), nullptr));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(px<uint8_t>(img)[i], 9);
}

TEST(Arith, MasksAndPerChannelValues) {
  // Channel c of every pixel starts at 10 (c + 1).
  auto start = [](int channels) {
    ImagePtr img = make(3, 2, channels, IMAGE_PIXEL_WORD);
    for (int i = 0; i < 6; ++i)
      for (int c = 0; c < channels; ++c) px<uint16_t>(img)[i * channels + c] = static_cast<uint16_t>(10 * (c + 1));
    return img;
  };
  auto expect_channels = [](const ImagePtr& img, std::vector<int> values, const std::string& what) {
    for (int i = 0; i < 6; ++i)
      for (int c = 0; c < img->channels; ++c)
        ASSERT_EQ(px<uint16_t>(img)[i * img->channels + c], values[c]) << what << " channel " << c;
  };
  ImagePtr img = start(4);
  ASSERT_TRUE(image_add(img.get(), 5.0, 0x8u));
  expect_channels(img, {10, 20, 30, 45}, "mask 0x8");
  ASSERT_TRUE(image_add(img.get(), 5.0, 0u));
  expect_channels(img, {10, 20, 30, 45}, "mask 0");

  double five = 5.0;
  img = start(4);
  ASSERT_TRUE(image_add(img.get(), &five, 1, 0xFFFFFFFFu));
  expect_channels(img, {15, 25, 35, 45}, "count 1");
  double six[] = {1, 2, 3, 4, 1000, 1000};
  img = start(4);
  ASSERT_TRUE(image_multiply(img.get(), six, 6, 0xFFFFFFFFu));
  expect_channels(img, {10, 40, 90, 160}, "count 6");
  double two[] = {2, 4};
  img = start(4);
  ASSERT_TRUE(image_divide(img.get(), two, 2, 0x5u));
  expect_channels(img, {5, 20, 8, 40}, "count 2, mask 0x5");  // 30 / 4 = 7.5 rounds up
  double sub[] = {0, 0, 50, 0};
  ASSERT_TRUE(image_subtract(img.get(), sub, 4, 0xFFFFFFFFu));
  expect_channels(img, {5, 20, 0, 40}, "subtract");

  // Mask bits repeat every 32 channels: bit 1 selects channels 1 and 33.
  ImagePtr wide = start(40);
  ASSERT_TRUE(image_add(wide.get(), 1.0, 0x2u));
  for (int c = 0; c < 40; ++c)
    EXPECT_EQ(px<uint16_t>(wide)[c], 10 * (c + 1) + (c == 1 || c == 33 ? 1 : 0)) << c;

  // Refusals leave the image as it was.
  ImagePtr masked = start(4), other = start(4);
  image_data_fill(other.get(), 1);
  ASSERT_TRUE(image_subtract(masked.get(), other.get(), 0x2u));
  expect_channels(masked, {10, 19, 30, 40}, "image mask");
  img = start(4);
  EXPECT_FALSE(image_add(img.get(), six, 0, 0xFFFFFFFFu));
  EXPECT_FALSE(image_add(img.get(), nullptr, 2, 0xFFFFFFFFu));
  ImagePtr too_wide = start(65);
  EXPECT_FALSE(image_add(too_wide.get(), six, 6, 0xFFFFFFFFu));
  EXPECT_EQ(px<uint16_t>(too_wide)[64], 650);
  expect_channels(img, {10, 20, 30, 40}, "refused");
}

TEST(Arith, DifferenceIsTheMagnitudePerType) {
  for (int type : kAllTypes) {
    ImagePtr a = make(6, 4, 3, type), b = make(6, 4, 3, type), d = make(6, 4, 3, type);
    fill_pattern(a, 1);
    fill_pattern(b, 2);
    ASSERT_TRUE(image_difference(d.get(), a.get(), b.get()));
    for (int i = 0; i < 72; ++i) {
      const double expect = std::fabs(sample(a.get(), i) - sample(b.get(), i));
      if (type == IMAGE_PIXEL_FLOAT)
        ASSERT_FLOAT_EQ(sample(d.get(), i), expect) << i;
      else
        ASSERT_EQ(sample(d.get(), i), expect) << type << " " << i;
    }
  }
  ImagePtr a = make(2, 2, 1, IMAGE_PIXEL_BYTE), b = make(2, 3, 1, IMAGE_PIXEL_BYTE);
  EXPECT_FALSE(image_difference(a.get(), a.get(), b.get()));
  EXPECT_FALSE(image_difference(nullptr, a.get(), a.get()));
}

TEST(Arith, BandedEqualsSerial) {
  for (int type : kAllTypes) {
    ImagePtr source = make(37, 41, 3, type), other = make(37, 41, 3, type);
    fill_pattern(source, 4);
    fill_pattern(other, 5);
    // Keep float divisors away from zero.
    if (type == IMAGE_PIXEL_FLOAT) image_add(other.get(), 0.5);
    double values[] = {1.5, 0.75, 3};
    const std::function<void(image_data*)> ops[] = {
        [](image_data* i) { image_multiply(i, 0.7); },
        [&](image_data* i) { image_subtract(i, values, 3, 0x5u); },
        [&](image_data* i) { image_divide(i, other.get()); },
        [&](image_data* i) { image_multiply_norm(i, other.get(), 0x6u); },
    };
    for (size_t k = 0; k < 4; ++k)
      expect_same_on_every_split(
          [&] {
            ImagePtr img(image_data_copy(source.get()));
            ops[k](img.get());
            return img;
          },
          "type " + std::to_string(type) + " op " + std::to_string(k));
  }
}
