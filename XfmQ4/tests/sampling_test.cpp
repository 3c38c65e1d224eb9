#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "ImageXfmQ4.h"
#include "simd_paths.h"
#include "xfm_test_images.h"

namespace {

const PixelQ4 zero = {0, 0, 0, 0};

TEST(XfmKernels, TableEntriesAndModeSelection) {
  ImageXfmQ4 xfm;
  EXPECT_EQ(xfm.sample_mode, 1);
  EXPECT_EQ(xfm.sampleMode(2), 1);  // new mode: the radius
  EXPECT_EQ(xfm.sampleMode(2), 2);  // unchanged: the mode itself
  EXPECT_EQ(xfm.kernel_table_fixed[0], 8192);
  EXPECT_EQ(xfm.kernel_table_fixed[256], 4096);
  EXPECT_EQ(xfm.kernel_table_fixed[512], 0);
  EXPECT_EQ(xfm.kernel_taps, 3);
  const int entry0[7] = {0, 0, 0, 8192, 8192, 5461, 8192};
  for (int mode = 3; mode <= 6; mode++) {
    EXPECT_EQ(xfm.sampleMode(mode), 2);
    EXPECT_EQ(xfm.kernel_table_fixed[0], entry0[mode]) << mode;
    EXPECT_EQ(xfm.kernel_table_fixed[1024], 0) << mode;
    EXPECT_EQ(xfm.kernel_taps, 5);
  }
  xfm.sampleMode(3);
  EXPECT_EQ(xfm.kernel_table_fixed[768], -511);  // -511.5 truncated toward zero
  xfm.sampleMode(4);                              // a = -1 at 0.5: 0.125 - 0.5 + 1
  EXPECT_DOUBLE_EQ(xfm.kernel_table[256], 0.625);
  xfm.sampleMode(6);  // sinc(1/2) sinc(1/4) = 4 sqrt(2) / pi^2
  EXPECT_NEAR(xfm.kernel_table[256], 4.0 * std::sqrt(2.0) / (M_PI * M_PI), 1e-12);

  // Builders change the tables but not the mode; reset restores mode 1.
  xfm.sampleMode(2);
  xfm.make_bspline_kernel();
  EXPECT_EQ(xfm.sample_mode, 2);
  EXPECT_EQ(xfm.kernel_table_fixed[0], 5461);
  xfm.sample_arithmetic = 1;
  xfm.reset();
  EXPECT_EQ(xfm.sample_mode, 1);
  EXPECT_EQ(xfm.sample_arithmetic, 2);
  EXPECT_EQ(xfm.kernel_radius, 1);

  // Unknown modes: tent tables, zero point samples, nearest area samples.
  EXPECT_EQ(xfm.sampleMode(0), 1);
  EXPECT_EQ(xfm.sampleMode(7), 1);
  EXPECT_EQ(xfm.kernel_table_fixed[256], 4096);
  ImagePtr img = make_image(4, 4, [](int x, int y) { return make_pixel(x * 1000, y * 1000, 7, 32767); });
  EXPECT_TRUE(same_pixel(xfm.sample(img.get(), 1, 1), zero));
  EXPECT_TRUE(same_pixel(xfm.sample_image(img.get(), 1.2, 2.3, 2, 2), img->rows[2][1]));
}

TEST(XfmKernels, CubicKernelsReproduceConstants) {
  // The four weights at distances f, 1 - f, 1 + f, 2 - f add to 1.
  ImageXfmQ4 xfm;
  for (int mode : {3, 4, 5}) {
    xfm.sampleMode(mode);
    const double* k = xfm.kernel_table;
    const int* kf = xfm.kernel_table_fixed;
    for (int f = 0; f <= 512; f++) {
      ASSERT_NEAR(k[f] + k[512 - f] + k[512 + f] + k[1024 - f], 1.0, 1e-12) << mode << " " << f;
      // Rounding by +0.5 and truncation toward zero: positive entries are
      // off by at most 0.5, negative ones by -0.5 .. +1.5.
      const int sum = kf[f] + kf[512 - f] + kf[512 + f] + kf[1024 - f];
      ASSERT_TRUE(sum >= 8192 - 1 && sum <= 8192 + 3) << mode << " " << f << " " << sum;
    }
  }
}

TEST(XfmSampling, NearestPixel) {
  ImageXfmQ4 xfm;  // mode 1
  ImagePtr img = make_image(3, 2, [](int x, int y) { return make_pixel(x + 1, y + 1, 0, 0); });
  EXPECT_TRUE(same_pixel(xfm.sample(img.get(), -0.7, 0.0), img->rows[0][0]));
  EXPECT_TRUE(same_pixel(xfm.sample(img.get(), -1.5, 0.0), zero));
  EXPECT_TRUE(same_pixel(xfm.sample(img.get(), 1.49, 0.51), img->rows[1][1]));
  EXPECT_TRUE(same_pixel(xfm.sample(img.get(), 2.4, 1.4), img->rows[1][2]));
  EXPECT_TRUE(same_pixel(xfm.sample(img.get(), 2.5, 0.0), zero));
}

TEST(XfmSampling, BilinearIntegerReferences) {
  ImageXfmQ4 xfm;
  xfm.sampleMode(2);
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> px(0.0, 9.0), py(0.0, 6.0);

  const PixelQ4 grey = make_pixel(12345, 32767, 1, 20000);
  ImagePtr flat = uniform_image(10, 7, grey);
  for (int i = 0; i < 500; i++)
    ASSERT_TRUE(same_pixel(xfm.sample(flat.get(), px(rng), py(rng)), grey));

  // Columns 0 and 32767: half way gives 16383 (floor of the half).
  ImagePtr step = make_image(2, 2, [](int x, int) { return make_pixel(x * 32767, x * 32767, 0, 100 + x * 101); });
  PixelQ4 half = xfm.sample(step.get(), 0.5, 0.0);
  EXPECT_EQ(half.r, 16383);
  EXPECT_EQ(half.a, 150);
  half = xfm.sample(step.get(), 0.0, 0.5);  // rows equal: vertical mix is exact
  EXPECT_EQ(half.r, 0);
  EXPECT_EQ(half.a, 100);

  // Last column is returned unchanged although its right neighbour is
  // outside; outside neighbours count as zero elsewhere.
  ImagePtr ramp = make_image(4, 3, [](int x, int y) { return make_pixel(1000 * (x + 1), 2000 + y, 0, 32767); });
  EXPECT_TRUE(same_pixel(xfm.sample(ramp.get(), 3.0, 1.0), ramp->rows[1][3]));
  const PixelQ4 left = xfm.sample(ramp.get(), -0.5, 2.0);
  EXPECT_EQ(left.r, 500);
  EXPECT_EQ(left.a, 16383);
  const PixelQ4 corner = xfm.sample(ramp.get(), 3.5, 2.5);
  EXPECT_EQ(corner.a, 8191);  // one of four neighbours inside
  EXPECT_TRUE(same_pixel(xfm.sample(ramp.get(), -1.01, 1.0), zero));
  EXPECT_TRUE(same_pixel(xfm.sample(ramp.get(), 4.0, 1.0), zero));
}

TEST(XfmSampling, BilinearIntegerMatchesPerChannelFormula) {
  // Full-range noise, positions inside and across the border, against the
  // fixed-point formula worked channel by channel in floating point.
  ImagePtr img = random_image(23, 17, 77);
  ImageXfmQ4 xfm;
  xfm.sampleMode(2);
  std::mt19937 rng(6);
  std::uniform_real_distribution<double> px(-1.5, 23.5), py(-1.5, 17.5);
  for (int i = 0; i < 5000; i++) {
    const double x = px(rng), y = py(rng);
    const int x0 = (int)std::floor(x), y0 = (int)std::floor(y);
    const double f = (int)((x - x0) * 8192) / 8192.0, g = (int)((y - y0) * 8192) / 8192.0;
    const PixelQ4 got = xfm.sample(img.get(), x, y);
    const PixelQ4 p00 = pixel_or_zero(*img, x0, y0), p10 = pixel_or_zero(*img, x0 + 1, y0);
    const PixelQ4 p01 = pixel_or_zero(*img, x0, y0 + 1), p11 = pixel_or_zero(*img, x0 + 1, y0 + 1);
    const bool near = x >= -1 && x < 23 && y >= -1 && y < 17;
    for (int ch = 0; ch < 4; ch++) {
      const int top = channel(p00, ch) + (int)std::floor((channel(p10, ch) - channel(p00, ch)) * f);
      const int bottom = channel(p01, ch) + (int)std::floor((channel(p11, ch) - channel(p01, ch)) * f);
      const int expected = near ? top + (int)std::floor((bottom - top) * g) : 0;
      ASSERT_EQ(channel(got, ch), expected) << x << " " << y << " channel " << ch;
    }
  }
}

// Smooth test picture: neighbouring pixels differ by at most about
// 0.3 * amplitude, values within base +- amplitude.
ImagePtr smooth_image(double base, double amplitude) {
  return make_image(40, 30, [=](int x, int y) {
    const double v = base + amplitude * std::sin(x * 0.3) * std::cos(y * 0.25);
    const double w = base + amplitude * std::sin(x * 0.2 + y * 0.1);
    return make_pixel((int)v, (int)(2 * base - v), (int)w, (int)base);
  });
}

int worst_difference(ImageQ4* img, int mode, double lo, double hi_x, double hi_y) {
  ImageXfmQ4 fixed, floating;
  floating.sample_arithmetic = 1;
  fixed.sampleMode(mode);
  floating.sampleMode(mode);
  std::mt19937 rng(9 + mode);
  std::uniform_real_distribution<double> px(lo, hi_x), py(lo, hi_y);
  int worst = 0;
  for (int i = 0; i < 4000; i++) {
    const double x = px(rng), y = py(rng);
    const PixelQ4 a = fixed.sample(img, x, y), b = floating.sample(img, x, y);
    worst = std::max({worst, std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b), std::abs(a.a - b.a)});
  }
  return worst;
}

// Full range 0..32767 with gentle slopes (at most about 1700 levels per
// pixel): a diagonal ramp, a low-frequency sinusoid, the inverted ramp and
// a channel at full scale.
ImagePtr full_range_image() {
  return make_image(48, 36, [](int x, int y) {
    const double ramp = 32767.0 * (x + y) / (47.0 + 35.0);
    const double wave = 16383.5 + 16383.5 * std::sin(x * 0.1 + 0.3) * std::cos(y * 0.09 - 0.2);
    return make_pixel((int)std::lround(ramp), (int)std::lround(wave), 32767 - (int)std::lround(ramp), 32767);
  });
}

TEST(XfmSampling, FloatAndFixedAgreeForEveryMode) {
  // The bound of 2 holds on smooth content only. Inside the image both
  // arithmetics use the same taps with weights that add up to one, and both
  // round, so only the 1/8192 rounding of the table entries against the
  // smooth image's slopes separates them; on noise that rounding meets
  // full-scale jumps between taps (see FloatAndFixedAgreeOnNoise).
  ImagePtr full = full_range_image();
  for (int mode = 1; mode <= 6; mode++) EXPECT_LE(worst_difference(full.get(), mode, 2, 45, 33), 2) << mode;

  // 11-bit picture: every mode agrees within 2 everywhere, borders included.
  ImagePtr small = smooth_image(1000, 900);
  for (int mode = 1; mode <= 6; mode++) EXPECT_LE(worst_difference(small.get(), mode, -3, 43, 33), 2) << mode;

  // Across the border the neighbours outside drop to 0, a step of up to
  // 32767 that the table rounding does not see as smooth. Bilinear: the
  // 13-bit fraction then costs up to 32767 / 8192 = 4.
  ImagePtr wide = smooth_image(16383, 16000);
  EXPECT_LE(worst_difference(wide.get(), 2, -1, 40, 30), 5);
  // 5-tap: the entries' own rounding (up to 1.5 / 8192 each for negative
  // entries, 0.5 / 8192 for positive ones) here meets values up to 32383
  // next to zeros, about 4 / 8192 of weight per axis.
  for (int mode = 3; mode <= 6; mode++)
    EXPECT_LE(worst_difference(wide.get(), mode, -3, 43, 33), 2 + 32383 * 8 / 8192) << mode;
}

TEST(XfmSampling, FloatAndFixedAgreeOnNoise) {
  // Full-range noise, positions whose whole 5 x 5 window lies inside. Each
  // fixed-point table entry is off by up to 1.5 / 8192, which neighbouring
  // taps up to 32767 apart do not cancel: several levels per tap. The
  // bounds sit one level above the worst difference these fixed positions
  // give (nearest reads the same pixel in both arithmetics). Without the
  // weight correction in the fixed-point sampler modes 3, 4 and 5 reach 19,
  // 17 and 7 here; Lanczos-2, whose window itself sums to up to 1.019, is off by
  // hundreds of levels when either sampler drops the correction or puts it on
  // a different tap from the other.
  ImagePtr noise = random_image(48, 36, 31);
  const int bound[7] = {0, 0, 7, 17, 16, 5, 18};
  for (int mode = 1; mode <= 6; mode++) EXPECT_LE(worst_difference(noise.get(), mode, 2, 45, 33), bound[mode]) << mode;
}

TEST(XfmSampling, UniformImagesComeBackExactly) {
  // Whatever the fraction, the weights of each axis add up to exactly one
  // (8192), so a flat picture passes unchanged at full scale and below.
  const PixelQ4 values[] = {make_pixel(32767, 32767, 32767, 32767), make_pixel(12345, 12345, 12345, 12345),
                            make_pixel(32767, 12345, 1, 20000)};
  for (const PixelQ4& v : values) {
    ImagePtr flat = uniform_image(12, 11, v);
    for (int mode = 2; mode <= 6; mode++) {
      for (int arithmetic = 1; arithmetic <= 2; arithmetic++) {
        ImageXfmQ4 xfm;
        xfm.sampleMode(mode);
        xfm.sample_arithmetic = arithmetic;
        // Every table fraction on x, a spread of them on y, and offsets
        // within a step, all far enough from the border for the widest kernel.
        for (int fx = 0; fx < 512; fx++)
          for (int fy = 0; fy < 512; fy += 37) {
            const double x = 4 + (fx + 0.25 + 0.5 * (fy % 2)) / 512.0;
            const double y = 5 + (fy + 0.75) / 512.0;
            const PixelQ4 got = xfm.sample(flat.get(), x, y);
            ASSERT_TRUE(same_pixel(got, v)) << "mode " << mode << " arithmetic " << arithmetic << " at " << x << ", "
                                            << y << ": " << got.r << " " << got.g << " " << got.b << " " << got.a;
            const PixelQ4 swapped = xfm.sample(flat.get(), y + 1, x + 1);
            ASSERT_TRUE(same_pixel(swapped, v)) << "mode " << mode << " at " << y + 1 << ", " << x + 1;
          }
      }
    }
  }
}

// The kernels of modes 3..6 at distance x, from their definitions.
double kernel_definition(int mode, double x) {
  x = std::fabs(x);
  if (x >= 2.0) return 0.0;
  const double a = mode == 3 ? -0.5 : -1.0;
  switch (mode) {
    case 3:
    case 4:
      return x < 1.0 ? (a + 2) * x * x * x - (a + 3) * x * x + 1 : a * x * x * x - 5 * a * x * x + 8 * a * x - 4 * a;
    case 5:
      return x < 1.0 ? (3 * x * x * x - 6 * x * x + 4) / 6 : (2 - x) * (2 - x) * (2 - x) / 6;
    default:
      return x == 0.0 ? 1.0 : std::sin(M_PI * x) / (M_PI * x) * std::sin(M_PI * x / 2) / (M_PI * x / 2);
  }
}

// Fixed point, 8192 = 1: the value times 8192 plus one half, truncated
// toward zero.
long long fixed_definition(int mode, double x) { return (long long)(kernel_definition(mode, x) * 8192.0 + 0.5); }

// Weights of the taps at offsets -2..2 for the fraction f/512, made to add up
// to one: the tap nearest the position (offset 0 up to one half, else +1)
// takes what the kernel misses.
template <typename T>
void five_tap_definition(int mode, int f, T unity, T (*weigh)(int, double), T* w) {
  const double d = f / 512.0;
  const double distance[5] = {2 + d, 1 + d, d, 1 - d, 2 - d};
  T sum = 0;
  for (int t = 0; t < 5; t++) sum += w[t] = weigh(mode, distance[t]);
  w[f <= 256 ? 2 : 3] += unity - sum;
}

long long round_down_13(long long v) { return (long long)std::floor((v + 4096) / 8192.0); }

TEST(XfmSampling, FiveTapMatchesTheKernelDefinitions) {
  // The tables hold the definitions, in floating and in fixed point.
  for (int mode = 3; mode <= 6; mode++) {
    ImageXfmQ4 xfm;
    xfm.sampleMode(mode);
    for (int i = 0; i <= 1024; i++) {
      ASSERT_NEAR(xfm.kernel_table[i], kernel_definition(mode, i / 512.0), 1e-12) << mode << " " << i;
      ASSERT_EQ(xfm.kernel_table_fixed[i], fixed_definition(mode, i / 512.0)) << mode << " " << i;
    }
  }
  // Full-range noise, positions inside and across the border (taps outside
  // count as 0). Floating point: the weighted sum rounded. Fixed point: rows
  // summed and rounded to whole levels first, then the rows, then clamped.
  ImagePtr img = random_image(23, 17, 78);
  std::mt19937 rng(12);
  std::uniform_real_distribution<double> px(-2.5, 25.0), py(-2.5, 19.0);
  for (int mode = 3; mode <= 6; mode++) {
    ImageXfmQ4 fixed, floating;
    fixed.sampleMode(mode);
    floating.sampleMode(mode);
    floating.sample_arithmetic = 1;
    for (int i = 0; i < 3000; i++) {
      const double x = px(rng), y = py(rng);
      const int x0 = (int)std::floor(x), y0 = (int)std::floor(y);
      const int fx = std::min((int)((x - x0) * 512), 511), fy = std::min((int)((y - y0) * 512), 511);
      double wx[5], wy[5];
      long long kx[5], ky[5];
      five_tap_definition<double>(mode, fx, 1.0, kernel_definition, wx);
      five_tap_definition<double>(mode, fy, 1.0, kernel_definition, wy);
      five_tap_definition<long long>(mode, fx, 8192, fixed_definition, kx);
      five_tap_definition<long long>(mode, fy, 8192, fixed_definition, ky);
      const PixelQ4 got_fixed = fixed.sample(img.get(), x, y), got_floating = floating.sample(img.get(), x, y);
      for (int ch = 0; ch < 4; ch++) {
        double total = 0.0;
        long long itotal = 0;
        for (int j = 0; j < 5; j++) {
          double row = 0.0;
          long long irow = 0;
          for (int t = 0; t < 5; t++) {
            const int v = channel(pixel_or_zero(*img, x0 - 2 + t, y0 - 2 + j), ch);
            row += v * wx[t];
            irow += v * kx[t];
          }
          total += row * wy[j];
          itotal += round_down_13(irow) * ky[j];
        }
        const double level = std::min(std::max(total, 0.0), 32767.0);
        ASSERT_NEAR(channel(got_floating, ch), level, 0.5 + 1e-6)
            << "mode " << mode << " at " << x << ", " << y << " channel " << ch;
        const long long expected = std::min(std::max(round_down_13(itotal), 0LL), 32767LL);
        ASSERT_EQ(channel(got_fixed, ch), expected) << "mode " << mode << " at " << x << ", " << y << " channel " << ch;
      }
    }
  }
}

TEST(XfmSampling, FiveTapExactAtWholePixelsAndClamped) {
  ImagePtr img = random_image(9, 8, 3);
  for (int mode = 3; mode <= 6; mode++) {
    ImageXfmQ4 xfm;
    xfm.sampleMode(mode);
    if (mode == 5) continue;  // the B-spline smooths even at whole pixels
    for (int y = 0; y < 8; y++)
      for (int x = 0; x < 9; x++) ASSERT_TRUE(same_pixel(xfm.sample(img.get(), x, y), img->rows[y][x]));
  }
  // Keys cubic reproduces a linear ramp: at x = 2.5 the weights are
  // -0.0625, 0.5625, 0.5625, -0.0625 (fixed -511, 4608, 4608, -511).
  ImagePtr ramp = make_image(6, 6, [](int x, int) { return make_pixel(1000 * x, 0, 0, 32767); });
  for (int arithmetic = 1; arithmetic <= 2; arithmetic++) {
    ImageXfmQ4 keys;
    keys.sampleMode(3);
    keys.sample_arithmetic = arithmetic;
    EXPECT_EQ(keys.sample(ramp.get(), 2.5, 2.0).r, 2500);
    EXPECT_EQ(keys.sample(ramp.get(), 2.5, 2.5).r, 2500);
    EXPECT_EQ(keys.sample(ramp.get(), 2.25, 3.0).r, 2250);
  }
  ImageXfmQ4 xfm;
  xfm.sampleMode(5);
  EXPECT_TRUE(same_pixel(xfm.sample(ramp.get(), -2.5, 4.0), zero));  // x0 + 2 < 0
  EXPECT_TRUE(same_pixel(xfm.sample(ramp.get(), 8.0, 4.0), zero));   // x0 - 2 >= width
  // Only column 5 reaches x = 6.5, at distance 1.5 with weight 0.5^3 / 6:
  // 682.65 in floating point; the fixed entry 171 / 8192 (170.67 rounded)
  // gives 32767 * 171 / 8192 = 683.97. The rows' weights 1365, 5462, 1365
  // add up to 8192 and keep that level.
  EXPECT_EQ(xfm.sample(ramp.get(), 6.5, 4.0).a, 684);
  xfm.sample_arithmetic = 1;
  EXPECT_EQ(xfm.sample(ramp.get(), 6.5, 4.0).a, 683);
}

TEST(XfmSampling, NonFiniteAndFarPositionsGiveZero) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  ImagePtr img = uniform_image(6, 6, make_pixel(1000, 2000, 3000, 32767));
  const double bad[][2] = {{nan, 2}, {2, nan}, {inf, 2}, {-inf, 2}, {2, inf}, {1e300, 2}, {-1e300, 2}, {2, 3e10}};
  for (int mode = 1; mode <= 6; mode++) {
    for (int arithmetic = 1; arithmetic <= 2; arithmetic++) {
      ImageXfmQ4 xfm;
      xfm.sampleMode(mode);
      xfm.sample_arithmetic = arithmetic;
      for (const auto& p : bad) {
        EXPECT_TRUE(same_pixel(xfm.sample(img.get(), p[0], p[1]), zero)) << mode << " " << p[0];
        EXPECT_TRUE(same_pixel(xfm.sample_image(img.get(), p[0], p[1], 3, 3), zero)) << mode << " " << p[0];
      }
      if (mode >= 2) {
        EXPECT_TRUE(same_pixel(xfm.sample_image(img.get(), 2, 2, nan, 3), zero));
      }
    }
  }
}

// Triangle filter written straight from its definition over every pixel of
// the image (taps outside contribute nothing).
PixelQ4 reference_triangle(const ImageQ4& img, double x, double y, double sx, double sy) {
  const double lx = std::floor(x - sx), hx = std::ceil(x + sx), ly = std::floor(y - sy), hy = std::ceil(y + sy);
  if (hx < 0 || lx >= img.width || hy < 0 || ly >= img.height) return zero;
  const bool inside = lx >= 0 && hx <= img.width - 1 && ly >= 0 && hy <= img.height - 1;
  const double cx = std::min(std::max(sx, 1.0), 15.0), cy = std::min(std::max(sy, 1.0), 15.0);
  double sum[4] = {0, 0, 0, 0}, wsum = 0;
  for (int r = 0; r < img.height; r++)
    for (int c = 0; c < img.width; c++) {
      if (c < lx || c > hx || r < ly || r > hy) continue;
      const double wx = 1 - std::fabs(x - c) / cx, wy = 1 - std::fabs(y - r) / cy;
      if (wx <= 0 || wy <= 0) continue;
      const PixelQ4& p = img.rows[r][c];
      const double w = wx * wy;
      sum[0] += w * p.r;
      sum[1] += w * p.g;
      sum[2] += w * p.b;
      sum[3] += w * p.a;
      wsum += w;
    }
  const double norm = inside ? (wsum > 0 ? 1 / wsum : 0) : 1 / (cx * cy);
  auto out = [norm](double v) { return (unsigned short)(std::min(v * norm, 32767.0) + 0.5); };
  return PixelQ4{out(sum[0]), out(sum[1]), out(sum[2]), out(sum[3])};
}

TEST(XfmSampling, TriangleAreaMatchesDefinitionForAnyFootprint) {
  ImagePtr img = random_image(40, 30, 21);
  ImageXfmQ4 xfm;
  xfm.sampleMode(2);
  std::mt19937 rng(4);
  std::uniform_real_distribution<double> px(-20, 60), py(-20, 50), s(0.5, 25);
  for (int i = 0; i < 3000; i++) {
    const double x = px(rng), y = py(rng);
    double sx = s(rng), sy = s(rng);
    if (i % 10 == 0) sx = 1e12;  // huge footprint: only taps with weight are visited
    if (i % 15 == 0) sy = std::numeric_limits<double>::infinity();
    const PixelQ4 a = xfm.triangle_sample_down(img.get(), x, y, sx, sy);
    const PixelQ4 b = reference_triangle(*img, x, y, sx, sy);
    ASSERT_NEAR(a.r, b.r, 1) << x << " " << y << " " << sx << " " << sy;
    ASSERT_NEAR(a.g, b.g, 1);
    ASSERT_NEAR(a.b, b.b, 1);
    ASSERT_NEAR(a.a, b.a, 1);
  }
  // A flat picture comes back exactly while the window is inside.
  const PixelQ4 v = make_pixel(20000, 10000, 5000, 32767);
  ImagePtr flat = uniform_image(30, 30, v);
  EXPECT_TRUE(same_pixel(xfm.triangle_sample_down(flat.get(), 15.3, 14.6, 3.5, 2.2), v));
}

TEST(XfmSampling, SampleImageChoosesByFootprint) {
  ImagePtr img = random_image(16, 16, 8);
  ImageXfmQ4 xfm;
  xfm.sampleMode(2);
  const double x = 6.37, y = 8.81;
  EXPECT_TRUE(same_pixel(xfm.sample_image(img.get(), x, y, 1, 1), xfm.bilinear_sample_integer(img.get(), x, y)));
  EXPECT_TRUE(same_pixel(xfm.sample_image(img.get(), x, y, 1.0001, 1),
                         xfm.triangle_sample_down(img.get(), x, y, 1.0001, 1)));
  EXPECT_FALSE(same_pixel(xfm.sample_image(img.get(), x, y, 1.0001, 1), xfm.sample_image(img.get(), x, y, 1, 1)));
}

struct RecordingXfm : ImageXfmQ4 {
  std::vector<std::pair<int, int>> bands;
};

void record_worker(void* object, int first, int last) {
  static_cast<RecordingXfm*>(object)->bands.push_back({first, last});
}

TEST(XfmExecutor, InlineUnlessBothContextAndExecutorAreSet) {
  RecordingXfm xfm;
  int bands = 3;
  xfm.set_mp_exec(nullptr, banded_exec);
  xfm.mp_exec(record_worker, 10);
  xfm.set_mp_exec(&bands, nullptr);
  xfm.mp_exec(record_worker, 10);
  EXPECT_TRUE(xfm.set_mp_exec(&bands, banded_exec));
  xfm.mp_exec(record_worker, 10);
  const std::vector<std::pair<int, int>> expected = {{0, 9}, {0, 9}, {6, 9}, {3, 5}, {0, 2}};
  EXPECT_EQ(xfm.bands, expected);
}

}  // namespace

TEST(XfmSampling, RowSamplerMatchesThePointSampler) {
  ImageXfmQ4 xfm;
  ImagePtr img = random_image(23, 17, 31);
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> across(-2.0f, 25.0f), down(-2.0f, 19.0f);
  std::vector<float> xs, ys;
  for (int i = 0; i < 4000; i++) {
    xs.push_back(across(rng));
    ys.push_back(down(rng));
  }
  // Whole pixels, the last row and column, the edges of the image and
  // positions no pixel can answer.
  const float special[][2] = {{0, 0},      {22, 16},   {21.999998f, 15.999999f}, {-1, 3},      {-1.0000001f, 3},
                              {22.5f, 16}, {23, 0},    {0, 17},                  {NAN, 2},     {2, NAN},
                              {INFINITY, 1}, {1e30f, 1}, {-0.0f, -0.0f},          {0.99999994f, 5}};
  for (const auto& s : special) {
    xs.push_back(s[0]);
    ys.push_back(s[1]);
  }
  // Runs of points all inside, then the edge cases among them.
  for (int i = 0; i < 400; i++) {
    xs.push_back(0.5f + 21.0f * (float)i / 400.0f);
    ys.push_back(15.9f * (float)((i * 7) % 400) / 400.0f);
  }
  const auto paths = run_on_both_simd_paths([&] {
    std::vector<PixelQ4> row(xs.size());
    xfm.bilinear_sample_integer_row(img.get(), xs.data(), ys.data(), (int)xs.size(), row.data());
    return row;
  });
  for (size_t i = 0; i < xs.size(); i++) {
    const PixelQ4 want = xfm.bilinear_sample_integer(img.get(), xs[i], ys[i]);
    ASSERT_TRUE(same_pixel(paths.first[i], want)) << xs[i] << ", " << ys[i];
    ASSERT_TRUE(same_pixel(paths.second[i], want)) << xs[i] << ", " << ys[i];
  }
}
