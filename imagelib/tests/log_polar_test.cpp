#include <cmath>
#include <cstdint>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "image_log_polar.h"
#include "image_pattern.h"
#include "image_region.h"
#include "imagelib_kernel.h"

namespace {

const double kPi = 3.14159265358979323846;

// A float image with f(x, y) in every channel c, given the channel.
ImagePtr function_image(int w, int h, int channels, const std::function<double(double, double, int)>& f) {
  ImagePtr img = make(w, h, channels, IMAGE_PIXEL_FLOAT);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < channels; ++c) set_sample(img.get(), x, y, c, f(x, y, c));
  return img;
}

double radius_at(int column, int width, double rmin, double rmax) {
  return rmin * std::pow(rmax / rmin, column / (width - 1.0));
}

}  // namespace

TEST(RegionExtract, WindowsAroundACentre) {
  for (int type : kAllTypes) {
    ImagePtr src = make(9, 6, 3, type), same = make(9, 6, 3, type);
    fill_pattern(src, 40 + type);
    ASSERT_EQ(image_region_extract(src.get(), same.get(), 4.0, 2.5, IMAGELIB_KERNEL_LINEAR), 1);
    EXPECT_TRUE(same_pixels(same, src)) << type;

    // A 4 x 3 window centred on (7.5, 1): columns 6..9, rows 0..2; column 9
    // lies outside and is zero.
    ImagePtr win = make(4, 3, 3, type);
    ASSERT_EQ(image_region_extract(src.get(), win.get(), 7.5, 1.0, IMAGELIB_KERNEL_CUBIC_HALF), 1);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 4; ++x)
        for (int c = 0; c < 3; ++c)
          ASSERT_EQ(sample(win.get(), x, y, c), x + 6 < 9 ? sample(src.get(), x + 6, y, c) : 0.0)
              << type << " " << x << "," << y;

    image_data_fill(win.get(), 5);
    ASSERT_EQ(image_region_extract(src.get(), win.get(), 20.0, 1.0, IMAGELIB_KERNEL_LINEAR), 1);
    for (int i = 0; i < 36; ++i) ASSERT_EQ(sample(win.get(), i), 0.0) << type;
  }
  ImagePtr a = make(4, 4, 1, IMAGE_PIXEL_BYTE), b = make(4, 4, 1, IMAGE_PIXEL_WORD), c = make(4, 4, 2, IMAGE_PIXEL_BYTE);
  EXPECT_EQ(image_region_extract(a.get(), b.get(), 1.5, 1.5, 1), 0);
  EXPECT_EQ(image_region_extract(a.get(), c.get(), 1.5, 1.5, 1), 0);
  EXPECT_EQ(image_region_extract(nullptr, a.get(), 1.5, 1.5, 1), 0);
  EXPECT_EQ(image_region_extract(a.get(), nullptr, 1.5, 1.5, 1), 0);
}

TEST(LogPolar, RowsAreAnglesAndColumnsRadii) {
  const int n = 64;
  const double cx = 31.5, cy = 30.0, rmin = 2.0, rmax = 28.0;
  // Channel 0 holds x, channel 1 y: the log-polar image holds the positions.
  ImagePtr xy = function_image(n, n, 2, [](double x, double y, int c) { return c == 0 ? x : y; });
  ImagePtr lp = make(n, n, 2, IMAGE_PIXEL_FLOAT);
  ASSERT_EQ(image_cartesian_to_log_polar(xy.get(), lp.get(), rmin, rmax, cx, cy, IMAGELIB_KERNEL_LINEAR, 0), 1);
  for (int i = 0; i < n; ++i) {
    const double r = radius_at(i, n, rmin, rmax);
    // Row 0 runs along +x, row n/4 along +y. The sampler's tabulated
    // weights sum to 1 only within 1/512, and a footprint's weighted mean
    // moves a position by a fraction of a pixel.
    EXPECT_NEAR(sample(lp.get(), i, 0, 0), cx + r, 0.3) << i;
    EXPECT_NEAR(sample(lp.get(), i, 0, 1), cy, 0.1) << i;
    EXPECT_NEAR(sample(lp.get(), i, n / 4, 0), cx, 0.3) << i;
    EXPECT_NEAR(sample(lp.get(), i, n / 4, 1), cy + r, 0.3) << i;
  }
  EXPECT_NEAR(sample(lp.get(), 0, 0, 0), cx + rmin, 1e-9);
  EXPECT_NEAR(sample(lp.get(), n - 1, 0, 0), cx + rmax, 0.3);

  // A picture of the radius alone gives constant columns; of the angle
  // alone, constant rows.
  ImagePtr radial = function_image(n, n, 1, [&](double x, double y, int) { return std::hypot(x - cx, y - cy); });
  // (Samplers clamp negative values to 0.)
  ImagePtr angular =
      function_image(n, n, 1, [&](double x, double y, int) { return 1 + std::cos(std::atan2(y - cy, x - cx)); });
  ImagePtr lp_r = make(n, n, 1, IMAGE_PIXEL_FLOAT), lp_a = make(n, n, 1, IMAGE_PIXEL_FLOAT);
  ASSERT_EQ(image_cartesian_to_log_polar(radial.get(), lp_r.get(), 4.0, rmax, cx, cy, IMAGELIB_KERNEL_LINEAR, 0), 1);
  ASSERT_EQ(image_cartesian_to_log_polar(angular.get(), lp_a.get(), 4.0, rmax, cx, cy, IMAGELIB_KERNEL_LINEAR, 0), 1);
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      ASSERT_NEAR(sample(lp_r.get(), i, j, 0), radius_at(i, n, 4.0, rmax), 0.3) << i << "," << j;
      ASSERT_NEAR(sample(lp_a.get(), i, j, 0), 1 + std::cos(2 * kPi * j / n), 0.1) << i << "," << j;
    }
}

TEST(LogPolar, RoundTripHoldsInsideTheRing) {
  const int n = 128;
  const double cx = 63.5, cy = 63.5, rmin = 4.0, rmax = 60.0;
  auto f = [](double x, double y, int) { return 0.5 + 0.25 * std::sin(x / 9.0) + 0.25 * std::cos(y / 11.0); };
  ImagePtr src = function_image(n, n, 1, f);
  ImagePtr lp = make(n, n, 1, IMAGE_PIXEL_FLOAT), back = make(n, n, 1, IMAGE_PIXEL_FLOAT);
  ASSERT_EQ(image_cartesian_to_log_polar(src.get(), lp.get(), rmin, rmax, cx, cy, IMAGELIB_KERNEL_LINEAR, 0), 1);
  ASSERT_EQ(image_log_polar_to_cartesian(lp.get(), back.get(), rmin, rmax, cx, cy, IMAGELIB_KERNEL_LINEAR, 0), 1);
  int checked = 0;
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      const double r = std::hypot(x - cx, y - cy);
      if (r < rmin + 1 || r > rmax - 1) continue;
      ASSERT_NEAR(sample(back.get(), x, y, 0), f(x, y, 0), 0.02) << x << "," << y;
      ++checked;
    }
  EXPECT_GT(checked, 10000);

  // The centre itself reads column 0 (row 0 at angle 0).
  ImagePtr marks = make(16, 8, 1, IMAGE_PIXEL_WORD), out = make(16, 8, 1, IMAGE_PIXEL_WORD);
  image_data_fill(marks.get(), 100);
  set_sample(marks.get(), 0, 0, 0, 777);
  ASSERT_EQ(image_log_polar_to_cartesian(marks.get(), out.get(), 1.0, 5.0, 6.0, 3.0, IMAGELIB_KERNEL_LINEAR, 0), 1);
  EXPECT_EQ(sample(out.get(), 6, 3, 0), 777);
  EXPECT_EQ(sample(out.get(), 7, 3, 0), 777);  // r = 1 = rmin, angle 0
}

TEST(LogPolar, RefusesBadArgumentsAndLeavesDstAlone) {
  ImagePtr src = make(8, 8, 2, IMAGE_PIXEL_BYTE), dst = make(8, 8, 2, IMAGE_PIXEL_BYTE);
  ImagePtr narrow = make(1, 8, 2, IMAGE_PIXEL_BYTE), narrow_dst = make(1, 8, 2, IMAGE_PIXEL_BYTE);
  ImagePtr other = make(8, 8, 2, IMAGE_PIXEL_WORD);
  fill_pattern(src);
  image_data_fill(dst.get(), 9);
  struct Case {
    const char* what;
    image_data* s;
    image_data* d;
    double rmin, rmax;
    int kernel, edge;
  } cases[] = {
      {"rmin 0.5", src.get(), dst.get(), 0.5, 4, 1, 0},      {"rmax = rmin", src.get(), dst.get(), 2, 2, 1, 0},
      {"rmin NaN", src.get(), dst.get(), NAN, 4, 1, 0},      {"kernel 6", src.get(), dst.get(), 1, 4, 6, 0},
      {"kernel -1", src.get(), dst.get(), 1, 4, -1, 0},      {"edge 4", src.get(), dst.get(), 1, 4, 1, 4},
      {"type differs", src.get(), other.get(), 1, 4, 1, 0}, {"width 1", narrow.get(), narrow_dst.get(), 1, 4, 1, 0},
      {"null", nullptr, dst.get(), 1, 4, 1, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(image_cartesian_to_log_polar(c.s, c.d, c.rmin, c.rmax, 4, 4, c.kernel, c.edge), 0) << c.what;
    EXPECT_EQ(image_log_polar_to_cartesian(c.s, c.d, c.rmin, c.rmax, 4, 4, c.kernel, c.edge), 0) << c.what;
  }
  for (int i = 0; i < 128; ++i) ASSERT_EQ(px<uint8_t>(dst)[i], 9);
}

TEST(LogPolar, BandedEqualsSerial) {
  for (int type : kAllTypes) {
    ImagePtr src = make(40, 33, 3, type);
    fill_pattern(src, 6);
    const std::string name = "type " + std::to_string(type);
    expect_same_on_every_split(
        [&] {
          ImagePtr lp = make(40, 33, 3, type);
          image_cartesian_to_log_polar(src.get(), lp.get(), 1.5, 25, 19.5, 16, IMAGELIB_KERNEL_CUBIC_HALF, 3);
          return lp;
        },
        name + " to log-polar");
    expect_same_on_every_split(
        [&] {
          ImagePtr cart = make(40, 33, 3, type);
          image_log_polar_to_cartesian(src.get(), cart.get(), 1.5, 25, 19.5, 16, IMAGELIB_KERNEL_LANCZOS2, 0);
          return cart;
        },
        name + " from log-polar");
    expect_same_on_every_split(
        [&] {
          ImagePtr win = make(17, 12, 3, type);
          image_region_extract(src.get(), win.get(), 30.25, 8.6, IMAGELIB_KERNEL_BSPLINE);
          return win;
        },
        name + " region");
  }
}
