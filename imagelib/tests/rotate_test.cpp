#include <cmath>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "image_pattern.h"
#include "image_rotate.h"
#include "image_transpose.h"
#include "imagelib_kernel.h"
#include "simd_paths.h"

namespace {

const double kPi = 3.14159265358979323846;

ImagePtr rotated(const ImagePtr& src, double angle) {
  return ImagePtr(image_rotate(src.get(), angle, IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP));
}

// Every pixel of out is the source pixel that index(x, y) names.
template <typename Index>
void expect_moved(const ImagePtr& out, const ImagePtr& src, int out_w, int out_h, Index index, const std::string& what) {
  ASSERT_TRUE(out) << what;
  ASSERT_EQ(out->width, out_w) << what;
  ASSERT_EQ(out->height, out_h) << what;
  for (int y = 0; y < src->height; ++y)
    for (int x = 0; x < src->width; ++x) {
      int ox, oy;
      index(x, y, ox, oy);
      for (int c = 0; c < src->channels; ++c)
        ASSERT_EQ(sample(out.get(), ox, oy, c), sample(src.get(), x, y, c)) << what << " source " << x << "," << y;
    }
}

// Centroid of channel c.
void centroid(const ImagePtr& img, int c, double& cx, double& cy) {
  double sum = 0, sx = 0, sy = 0;
  for (int y = 0; y < img->height; ++y)
    for (int x = 0; x < img->width; ++x) {
      const double v = sample(img.get(), x, y, c);
      sum += v;
      sx += v * x;
      sy += v * y;
    }
  cx = sx / sum;
  cy = sy / sum;
}

}  // namespace

TEST(Transpose, MovesRowsToColumnsAndTwiceGivesBackTheSource) {
  const int sizes[][2] = {{3, 2}, {1030, 37}, {5, 2000}, {17, 33}};
  // Pixels of 1, 2, 3, 4, 6, 8, 12 and 16 bytes.
  for (int type : kAllTypes)
    for (int channels = 1; channels <= 4; ++channels)
      for (const auto& size : sizes) {
        const int w = size[0], h = size[1];
        const std::string what =
            std::to_string(type) + " " + std::to_string(channels) + " " + std::to_string(w) + "x" + std::to_string(h);
        ImagePtr src = make(w, h, channels, type);
        fill_pattern(src, w + h);
        ImagePtr t(image_transpose(src.get()));
        expect_moved(t, src, h, w, [](int x, int y, int& ox, int& oy) { ox = y, oy = x; }, what);
        ImagePtr back(image_transpose(t.get()));
        EXPECT_TRUE(same_pixels(back, src)) << what;
      }
  // Five-byte pixels; a square image transposes in place.
  ImagePtr odd = make(6, 6, 5, IMAGE_PIXEL_BYTE), odd_t = make(6, 6, 5, IMAGE_PIXEL_BYTE);
  fill_pattern(odd);
  ASSERT_EQ(image_transpose(odd.get(), odd_t.get()), 1);
  ImagePtr in_place(image_data_copy(odd.get()));
  ASSERT_EQ(image_transpose(in_place.get(), in_place.get()), 1);
  EXPECT_TRUE(same_pixels(in_place, odd_t));
  expect_moved(odd_t, odd, 6, 6, [](int x, int y, int& ox, int& oy) { ox = y, oy = x; }, "five bytes");
}

TEST(Transpose, BlocksAndRefusals) {
  ImagePtr src = make(7, 5, 1, IMAGE_PIXEL_WORD), dst = make(5, 7, 1, IMAGE_PIXEL_WORD);
  fill_pattern(src);
  image_data_fill(dst.get(), 9);
  // Columns 2..5 of rows 1..3 land in rows 2..5, columns 1..3.
  ASSERT_EQ(image_transpose_recursive(src.get(), dst.get(), 2, 4, 1, 3), 1);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 5; ++x) {
      const bool inside = y >= 2 && y <= 5 && x >= 1 && x <= 3;
      ASSERT_EQ(sample(dst.get(), x, y, 0), inside ? sample(src.get(), y, x, 0) : 9) << x << "," << y;
    }
  EXPECT_EQ(image_transpose_recursive(src.get(), dst.get(), 4, 4, 0, 1), 0);  // past src's width
  EXPECT_EQ(image_transpose_recursive(src.get(), dst.get(), 0, 1, 3, 3), 0);  // past src's height
  EXPECT_EQ(image_transpose_recursive(src.get(), dst.get(), -1, 2, 0, 1), 0);
  EXPECT_EQ(image_transpose_recursive(src.get(), src.get(), 0, 6, 0, 5), 0);  // past dst's height
  ImagePtr same_size = make(7, 5, 1, IMAGE_PIXEL_WORD), bytes = make(5, 7, 1, IMAGE_PIXEL_BYTE);
  EXPECT_EQ(image_transpose(src.get(), same_size.get()), 0);
  EXPECT_EQ(image_transpose(src.get(), bytes.get()), 0);
  EXPECT_EQ(image_transpose(nullptr, dst.get()), 0);
  EXPECT_EQ(image_transpose(nullptr), nullptr);

  // A wide image goes to the executor in one call, not one per block.
  ImagePtr wide = make(1920, 40, 4, IMAGE_PIXEL_WORD), wide_t = make(40, 1920, 4, IMAGE_PIXEL_WORD);
  ScopedCountRecorder recorder(8);
  ASSERT_EQ(image_transpose(wide.get(), wide_t.get()), 1);
  EXPECT_EQ(recorder.counts.size(), 1u);
}

TEST(Transpose, VectorAndPortablePathsGiveTheSameBytes) {
  // Pixels of 8 bytes go through register tiles of 8 x 8; sizes and block
  // corners off the tile grid leave partial tiles on both edges.
  const int layouts[][2] = {{IMAGE_PIXEL_WORD, 4}, {IMAGE_PIXEL_WORD32, 2}, {IMAGE_PIXEL_FLOAT, 2}};
  const int sizes[][2] = {{8, 8}, {41, 29}, {64, 17}, {3, 70}};
  for (const auto& layout : layouts)
    for (const auto& size : sizes) {
      const int w = size[0], h = size[1];
      const std::string what = std::to_string(layout[0]) + " " + std::to_string(w) + "x" + std::to_string(h);
      ImagePtr src = make(w, h, layout[1], layout[0]);
      fill_pattern(src, w * h);
      const auto whole = run_on_both_simd_paths([&] { return ImagePtr(image_transpose(src.get())); });
      EXPECT_TRUE(same_pixels(whole.first, whole.second)) << what;
      expect_moved(whole.first, src, h, w, [](int x, int y, int& ox, int& oy) { ox = y, oy = x; }, what);
      const auto block = run_on_both_simd_paths([&] {
        ImagePtr dst = make(h, w, layout[1], layout[0]);
        image_data_fill(dst.get(), 5);
        image_transpose_recursive(src.get(), dst.get(), 1, w - 2, 2, h - 2);
        return dst;
      });
      EXPECT_TRUE(same_pixels(block.first, block.second)) << what << " block";
    }
}

TEST(Rotate, QuarterAndHalfTurnsAreExactIndexMoves) {
  for (int type : kAllTypes) {
    const int w = 7, h = 4;
    ImagePtr src = make(w, h, 3, type);
    fill_pattern(src, 60 + type);
    const std::string t = std::to_string(type);
    auto ccw = [&](int x, int y, int& ox, int& oy) { ox = h - 1 - y, oy = x; };
    auto cw = [&](int x, int y, int& ox, int& oy) { ox = y, oy = w - 1 - x; };
    auto half = [&](int x, int y, int& ox, int& oy) { ox = w - 1 - x, oy = h - 1 - y; };
    expect_moved(rotated(src, 90), src, h, w, ccw, t + " 90");
    expect_moved(rotated(src, 89.9995), src, h, w, ccw, t + " 89.9995");
    expect_moved(rotated(src, -270), src, h, w, ccw, t + " -270");
    expect_moved(rotated(src, -90), src, h, w, cw, t + " -90");
    expect_moved(rotated(src, 180), src, w, h, half, t + " 180");
    expect_moved(rotated(src, -180), src, w, h, half, t + " -180");

    ImagePtr turned(image_data_copy(src.get()));
    for (int k = 0; k < 4; ++k) turned = rotated(turned, 90);
    EXPECT_TRUE(same_pixels(turned, src)) << t;
    for (double angle : {0.0, 360.0, -720.0, -0.0005}) EXPECT_TRUE(same_pixels(rotated(src, angle), src)) << t << " " << angle;
    EXPECT_FALSE(same_pixels(rotated(src, 0.0005), src)) << t;
  }
  ImagePtr src = make(3, 3, 1, IMAGE_PIXEL_BYTE);
  EXPECT_EQ(image_rotate(nullptr, 10, 1, 0), nullptr);
  EXPECT_EQ(image_rotate(src.get(), NAN, 1, 0), nullptr);
  EXPECT_EQ(image_rotate(src.get(), INFINITY, 1, 0), nullptr);
}

TEST(Rotate, ShearsGiveTheRotatedSizeZeroCornersAndTheRightTurn) {
  for (int type : kAllTypes) {
    const int w = 31, h = 18;
    ImagePtr src = make(w, h, 2, type);
    fill_pattern(src, 9);
    const double phi = 10 * kPi / 180;
    const int w3 = static_cast<int>(w * std::cos(phi) + h * std::sin(phi)) + 1;
    const int h2 = static_cast<int>(h * std::cos(phi) + w * std::sin(phi)) + 1;
    ImagePtr out = rotated(src, -10);
    ASSERT_TRUE(out) << type;
    EXPECT_EQ(out->width, w3) << type;
    EXPECT_EQ(out->height, h2) << type;
    for (int c = 0; c < 2; ++c) {
      EXPECT_EQ(sample(out.get(), 0, 0, c), 0) << type;
      EXPECT_EQ(sample(out.get(), w3 - 1, 0, c), 0) << type;
      EXPECT_EQ(sample(out.get(), 0, h2 - 1, c), 0) << type;
      EXPECT_EQ(sample(out.get(), w3 - 1, h2 - 1, c), 0) << type;
    }
  }
  // Two blobs, at the centre (channel 0) and 10 pixels right of it (channel
  // 1): after a turn by angle the second lies at 10 (cos, sin) from the first
  // (within a fifth of a pixel: the cubic's clamped negative lobes move a
  // centroid a little).
  const int n = 61;
  ImagePtr blobs = make(n, n - 6, 2, IMAGE_PIXEL_FLOAT);
  for (int y = 0; y < n - 6; ++y)
    for (int x = 0; x < n; ++x)
      for (int c = 0; c < 2; ++c) {
        const double dx = x - 30 - 10 * c, dy = y - 27;
        set_sample(blobs.get(), x, y, c, std::exp(-(dx * dx + dy * dy) / 8.0));
      }
  for (double angle : {-10.0, 30.0, 95.0, 200.0, -135.0, 300.0}) {
    ImagePtr out = rotated(blobs, angle);
    ASSERT_TRUE(out) << angle;
    double x0, y0, x1, y1;
    centroid(out, 0, x0, y0);
    centroid(out, 1, x1, y1);
    EXPECT_NEAR(x1 - x0, 10 * std::cos(angle * kPi / 180), 0.2) << angle;
    EXPECT_NEAR(y1 - y0, 10 * std::sin(angle * kPi / 180), 0.2) << angle;
  }
}

TEST(Rotate, TwoImageFormExtractsTheCentre) {
  ImagePtr src = make(12, 8, 1, IMAGE_PIXEL_WORD), dst = make(8, 12, 1, IMAGE_PIXEL_WORD);
  fill_pattern(src);
  // A quarter turn is exact and its centre (0.5 x size) is the extraction's
  // ((size - 1) / 2) plus half a pixel: the result is shifted by half a
  // pixel, so the linear kernel averages neighbours.
  ASSERT_EQ(image_rotate(src.get(), dst.get(), 90, IMAGELIB_KERNEL_LINEAR, 0), 1);
  ImagePtr turned = rotated(src, 90);
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 7; ++x) {
      const double mean = (sample(turned.get(), x, y, 0) + sample(turned.get(), x + 1, y, 0) +
                           sample(turned.get(), x, y + 1, 0) + sample(turned.get(), x + 1, y + 1, 0)) / 4;
      ASSERT_NEAR(sample(dst.get(), x, y, 0), mean, 1.0) << x << "," << y;
    }
  EXPECT_EQ(image_rotate(nullptr, dst.get(), 90, 1, 0), 0);
  ImagePtr bytes = make(8, 12, 1, IMAGE_PIXEL_BYTE);
  EXPECT_EQ(image_rotate(src.get(), bytes.get(), 90, 1, 0), 0);
}

TEST(Rotate, BandedEqualsSerial) {
  for (int type : kAllTypes) {
    ImagePtr src = make(45, 38, 3, type);
    fill_pattern(src, 70);
    const std::string t = "type " + std::to_string(type);
    expect_same_on_every_split([&] { return rotated(src, 17); }, t + " rotate 17");
    expect_same_on_every_split([&] { return rotated(src, -100); }, t + " rotate -100");
    expect_same_on_every_split([&] { return ImagePtr(image_transpose(src.get())); }, t + " transpose");
  }
}
