#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "failing_heap.h"
#include "image_pattern.h"
#include "image_ptr.h"
#include "image_sample.h"
#include "imagelib_kernel.h"
#include "q4_memory.h"

namespace {

ImagePtr byte_row(std::initializer_list<int> values) {
  ImagePtr img(image_data_create(static_cast<int>(values.size()), 1, 1, IMAGE_PIXEL_BYTE, 1));
  int i = 0;
  for (int v : values) static_cast<uint8_t*>(img->pixels)[i++] = static_cast<uint8_t>(v);
  return img;
}

// Reference edge maps written independently of the library's formulation.
int floor_mod(int a, int n) { return ((a % n) + n) % n; }
int wrap_ref(int i, int n) { return i >= 0 ? i % n : floor_mod(i - 1, n); }
// Triangle sequence 0, 1, .., n-1, n-1, .., 1, 0 repeated over |i|.
int mirror_ref(int i, int n) {
  std::vector<int> seq;
  for (int k = 0; k < n; ++k) seq.push_back(k);
  for (int k = n - 1; k >= 0; --k) seq.push_back(k);
  return seq[std::abs(i) % (2 * n)];
}

}  // namespace

TEST(Kernel, TablesHoldTheReferenceEntries) {
  int taps = 0, radius = 0;
  double* lin = image_make_kernel(IMAGELIB_KERNEL_LINEAR, taps, radius);
  ASSERT_NE(lin, nullptr);
  EXPECT_EQ(taps, 3);
  EXPECT_EQ(radius, 1);
  EXPECT_DOUBLE_EQ(lin[0], 1.0);
  EXPECT_DOUBLE_EQ(lin[256], 0.5);
  EXPECT_DOUBLE_EQ(lin[512], 0.0);
  q4_free(lin, __FILE__, __LINE__);

  ImagelibKernel linear(IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP);
  ASSERT_TRUE(linear.valid);
  EXPECT_EQ(linear.fixed_table[0], 1024);
  EXPECT_EQ(linear.fixed_table[256], 512);
  EXPECT_EQ(linear.fixed_table[512], 0);
  EXPECT_EQ(linear.fixed_table[1], 1022);  // (1 - 1/512) * 1024

  ImagelibKernel box(IMAGELIB_KERNEL_BOX, IMAGELIB_EDGE_CLAMP);
  EXPECT_EQ(box.table[256], 1.0);
  EXPECT_EQ(box.table[257], 0.0);

  ImagelibKernel bspline(IMAGELIB_KERNEL_BSPLINE, IMAGELIB_EDGE_CLAMP);
  EXPECT_EQ(bspline.taps, 5);
  EXPECT_NEAR(bspline.table[0], 4.0 / 6.0, 1e-15);
  EXPECT_NEAR(bspline.table[512], 1.0 / 6.0, 1e-15);
  EXPECT_EQ(bspline.table[1024], 0.0);
  EXPECT_EQ(bspline.fixed_table[0], 683);  // 682.67 rounded

  ImagelibKernel cubic(IMAGELIB_KERNEL_CUBIC_HALF, IMAGELIB_EDGE_CLAMP);
  EXPECT_EQ(cubic.table[0], 1.0);
  EXPECT_NEAR(cubic.table[512], 0.0, 1e-15);
  EXPECT_EQ(cubic.table[1024], 0.0);
  // Cubic a = -0.5 at x = 1.5: a(3.375 - 11.25 + 12 - 4) = -0.0625; fixed -64.
  EXPECT_NEAR(cubic.table[768], -0.0625, 1e-15);
  EXPECT_EQ(cubic.fixed_table[768], -64);

  ImagelibKernel lanczos(IMAGELIB_KERNEL_LANCZOS2, IMAGELIB_EDGE_CLAMP);
  EXPECT_EQ(lanczos.table[0], 1.0);
  // sinc(0.5) sinc(0.25) = (2/pi) * (sin(pi/4) / (pi/4))
  const double pi = 3.14159265358979323846;
  EXPECT_NEAR(lanczos.table[256], (2.0 / pi) * (std::sin(pi / 4) / (pi / 4)), 1e-12);
  EXPECT_NEAR(lanczos.table[512], 0.0, 1e-15);
}

TEST(Kernel, UnknownTypesAndEdgeModesGiveInvalidKernels) {
  int taps = 7, radius = 7;
  EXPECT_EQ(image_make_kernel(6, taps, radius), nullptr);
  EXPECT_EQ(taps, 0);
  EXPECT_EQ(image_make_kernel(-1, taps, radius), nullptr);
  ImagelibKernel bad_type(6, IMAGELIB_EDGE_CLAMP);
  EXPECT_FALSE(bad_type.valid);
  EXPECT_TRUE(bad_type.set_edge_mode(IMAGELIB_EDGE_ZERO));
  EXPECT_FALSE(bad_type.valid);  // still no tables

  ImagelibKernel bad_edge(IMAGELIB_KERNEL_LINEAR, 4);
  EXPECT_FALSE(bad_edge.valid);
  EXPECT_TRUE(bad_edge.set_edge_mode(IMAGELIB_EDGE_WRAP));
  EXPECT_TRUE(bad_edge.valid);

  ImagelibKernel k(IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_MIRROR);
  EXPECT_FALSE(k.set_edge_mode(4));
  EXPECT_FALSE(k.set_edge_mode(-1));
  EXPECT_FALSE(k.set_x_edge_mode(9));
  EXPECT_EQ(k.edge_mode, IMAGELIB_EDGE_MIRROR);
  EXPECT_EQ(k.x_edge_mode, IMAGELIB_EDGE_MIRROR);
  EXPECT_EQ(k.y_edge_mode, IMAGELIB_EDGE_MIRROR);
  EXPECT_TRUE(k.set_y_edge_mode(IMAGELIB_EDGE_ZERO));
  EXPECT_EQ(k.y_edge_mode, IMAGELIB_EDGE_ZERO);
  EXPECT_EQ(k.x_edge_mode, IMAGELIB_EDGE_MIRROR);
}

TEST(Kernel, EdgeMapsFollowTheirDefinitions) {
  for (int n = 1; n <= 7; ++n) {
    for (int i = -4 * n; i <= 4 * n; ++i) {
      const int clamp = imagelib_edge_map(i, n, IMAGELIB_EDGE_CLAMP);
      EXPECT_EQ(clamp, i < 0 ? 0 : (i >= n ? n - 1 : i));
      EXPECT_EQ(imagelib_edge_map(i, n, IMAGELIB_EDGE_ZERO), (i < 0 || i >= n) ? -1 : i);
      EXPECT_EQ(imagelib_edge_map(i, n, IMAGELIB_EDGE_WRAP), wrap_ref(i, n)) << i << " " << n;
      const int mirror = imagelib_edge_map(i, n, IMAGELIB_EDGE_MIRROR);
      EXPECT_EQ(mirror, mirror_ref(i, n)) << i << " " << n;
      EXPECT_EQ(mirror, imagelib_edge_map(-i, n, IMAGELIB_EDGE_MIRROR));  // symmetric about 0
      EXPECT_EQ(imagelib_edge_map(i, n, 99), clamp);                      // unknown modes clamp
    }
  }
  // Worked cases on n = 4.
  const int wrap_in[] = {-1, -4, -5, 4, 5}, wrap_out[] = {2, 3, 2, 0, 1};
  const int mir_in[] = {-1, -3, 4, 7, 8}, mir_out[] = {1, 3, 3, 0, 0};
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(imagelib_edge_map(wrap_in[k], 4, IMAGELIB_EDGE_WRAP), wrap_out[k]);
    EXPECT_EQ(imagelib_edge_map(mir_in[k], 4, IMAGELIB_EDGE_MIRROR), mir_out[k]);
  }
}

TEST(PointSampler, ReferenceValues) {
  ImagePtr row = byte_row({10, 20, 30, 40});
  ImagelibKernel linear(IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP);
  double out[6] = {-1, -1, -1, -1, -1, -1};
  ASSERT_TRUE(image_data_get_point_value(row.get(), 2.5, 0.0, out, 1, &linear));
  EXPECT_DOUBLE_EQ(out[0], 35.0);
  ASSERT_TRUE(image_data_get_point_value_norm(row.get(), 2.5, 0.0, out, 1, &linear));
  EXPECT_DOUBLE_EQ(out[0], 35.0 / 255.0);
  // Normalised coordinates: x = 0.625 of width 4 is pixel position 2.5.
  ASSERT_TRUE(image_data_get_point_norm_value(row.get(), 0.625, 0.0, out, 1, &linear));
  EXPECT_DOUBLE_EQ(out[0], 35.0);
  ASSERT_TRUE(image_data_get_point_norm_value_norm(row.get(), 0.625, 0.0, out, 1, &linear));
  EXPECT_DOUBLE_EQ(out[0], 35.0 / 255.0);

  // Column -1 under each edge mode (linear at an integer position reads one pixel).
  const int modes[] = {IMAGELIB_EDGE_CLAMP, IMAGELIB_EDGE_ZERO, IMAGELIB_EDGE_WRAP, IMAGELIB_EDGE_MIRROR};
  const double expect[] = {10, 0, 30, 20};
  for (int m = 0; m < 4; ++m) {
    ImagelibKernel k(IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP);
    k.set_x_edge_mode(modes[m]);
    ASSERT_TRUE(image_data_get_point_value(row.get(), -1.0, 0.0, out, 1, &k));
    EXPECT_DOUBLE_EQ(out[0], expect[m]) << m;
  }

  // Box footprint 2 around x = 1.5: taps 0..3 at distances up to 1.5; the
  // stretched box weighs those within 1 pixel (1 and 2), normalised.
  ImagelibKernel box(IMAGELIB_KERNEL_BOX, IMAGELIB_EDGE_CLAMP);
  ASSERT_TRUE(image_data_get_point_value(row.get(), 1.5, 0.0, 2.0, 1.0, out, 1, &box));
  EXPECT_DOUBLE_EQ(out[0], 25.0);
  // Without a footprint a box half-way between two pixels gives their mean.
  ASSERT_TRUE(image_data_get_point_value(row.get(), 1.5, 0.0, out, 1, &box));
  EXPECT_DOUBLE_EQ(out[0], 25.0);
  int iout[2];
  ASSERT_TRUE(image_data_get_point_value_int(row.get(), 1.5, 0.0, 1.0, 1.0, iout, 1, &box));
  EXPECT_EQ(iout[0], 25);
  ASSERT_TRUE(image_data_get_point_value_int(row.get(), 1.5, 0.0, 2.0, 1.0, iout, 1, &box));
  EXPECT_EQ(iout[0], 25);
  ASSERT_TRUE(image_data_get_point_value_int(row.get(), 2.5, 0.0, 1.0, 1.0, iout, 1, &linear));
  EXPECT_EQ(iout[0], 35);
}

TEST(PointSampler, TwoDimensionalAndChannelCounts) {
  ImagePtr img(image_data_create(3, 3, 4, IMAGE_PIXEL_WORD, 1));
  uint16_t* p = static_cast<uint16_t*>(img->pixels);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x)
      for (int c = 0; c < 4; ++c) p[(y * 3 + x) * 4 + c] = static_cast<uint16_t>(1000 * y + 100 * x + c);
  ImagelibKernel linear(IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP);
  double out[6] = {-1, -1, -1, -1, -1, -1};
  // Bilinear at (0.5, 1.5): mean of x 0..1, y 1..2 = 1500 + 50 + c.
  ASSERT_TRUE(image_data_get_point_value(img.get(), 0.5, 1.5, out, 6, &linear));
  for (int c = 0; c < 4; ++c) EXPECT_DOUBLE_EQ(out[c], 1550.0 + c);
  EXPECT_EQ(out[4], 0.0);
  EXPECT_EQ(out[5], 0.0);
  int iout[6] = {-1, -1, -1, -1, -1, -1};
  ASSERT_TRUE(image_data_get_point_value_int(img.get(), 0.5, 1.5, 1.0, 1.0, iout, 6, &linear));
  for (int c = 0; c < 4; ++c) EXPECT_EQ(iout[c], 1550 + c);
  EXPECT_EQ(iout[4], 0);
  EXPECT_EQ(iout[5], 0);
}

TEST(PointSampler, RefusalsLeaveOutputUntouched) {
  ImagelibKernel linear(IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP);
  ImagelibKernel invalid(6, IMAGELIB_EDGE_CLAMP);
  ImagePtr f(image_data_create(2, 2, 1, IMAGE_PIXEL_FLOAT, 1));
  image_data_fill(f.get(), 0.5);
  double out[1] = {-7.0};
  int iout[1] = {-7};
  EXPECT_FALSE(image_data_get_point_value(nullptr, 0, 0, out, 1, &linear));
  EXPECT_FALSE(image_data_get_point_value(f.get(), 0, 0, out, 1, &invalid));
  EXPECT_FALSE(image_data_get_point_value(f.get(), 0, 0, out, 1, nullptr));
  EXPECT_EQ(out[0], -7.0);
  EXPECT_FALSE(image_data_get_point_value_int(f.get(), 0, 0, 1, 1, iout, 1, &linear));
  EXPECT_EQ(iout[0], -7);
  ASSERT_TRUE(image_data_get_point_value(f.get(), 1.0, 1.0, out, 1, &linear));
  EXPECT_DOUBLE_EQ(out[0], 0.5);
}

TEST(PointSampler, CubicLobesClampAtZeroAndCeiling) {
  // A step 0 0 255 255 sampled near its foot with cubic a = -1 has a negative
  // weighted sum (clamped to 0) and near its top an overshoot (clamped to 255).
  ImagePtr step = byte_row({0, 0, 0, 255, 255, 255});
  ImagelibKernel cubic(IMAGELIB_KERNEL_CUBIC_ONE, IMAGELIB_EDGE_CLAMP);
  double out[1];
  ASSERT_TRUE(image_data_get_point_value(step.get(), 1.5, 0.0, out, 1, &cubic));
  EXPECT_EQ(out[0], 0.0);
  ASSERT_TRUE(image_data_get_point_value(step.get(), 3.5, 0.0, out, 1, &cubic));
  EXPECT_EQ(out[0], 255.0);
  ASSERT_TRUE(image_data_get_point_value(step.get(), 2.5, 0.0, out, 1, &cubic));
  EXPECT_DOUBLE_EQ(out[0], 127.5);
}

TEST(PointSampler, HundredChannelsAndSpareOutputs) {
  // 3 x 2 word pixels of 100 channels, value 100 x + 1000 y + c.
  const int ch = 100, n = 120;
  ImagePtr img(image_data_create(3, 2, ch, IMAGE_PIXEL_WORD, 1));
  uint16_t* p = static_cast<uint16_t*>(img->pixels);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      for (int c = 0; c < ch; ++c) p[(y * 3 + x) * ch + c] = static_cast<uint16_t>(100 * x + 1000 * y + c);
  ImagelibKernel linear(IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP);
  std::vector<double> out(n, -1.0);
  std::vector<int> iout(n, -1);
  // Bilinear at (0.5, 0.5): the mean of the four pixels, 50 + 500 + c.
  ASSERT_TRUE(image_data_get_point_value(img.get(), 0.5, 0.5, out.data(), n, &linear));
  ASSERT_TRUE(image_data_get_point_value_int(img.get(), 0.5, 0.5, 1.0, 1.0, iout.data(), n, &linear));
  for (int c = 0; c < ch; ++c) {
    EXPECT_DOUBLE_EQ(out[c], 550.0 + c) << c;
    EXPECT_EQ(iout[c], 550 + c) << c;
  }
  for (int c = ch; c < n; ++c) {  // cleared, as the image has no such channel
    EXPECT_EQ(out[c], 0.0) << c;
    EXPECT_EQ(iout[c], 0) << c;
  }
  // Footprint 2 across at x = 1: weights 0.5, 1, 0.5 over x = 0..2,
  // normalised: (0 + 100 + 100) / 2 = 100, so 100 + 500 + c.
  ASSERT_TRUE(image_data_get_point_value(img.get(), 1.0, 0.5, 2.0, 1.0, out.data(), n, &linear));
  ASSERT_TRUE(image_data_get_point_value_int(img.get(), 1.0, 0.5, 2.0, 1.0, iout.data(), n, &linear));
  for (int c = 0; c < ch; ++c) {
    EXPECT_DOUBLE_EQ(out[c], 600.0 + c) << c;
    EXPECT_EQ(iout[c], 600 + c) << c;
  }
  for (int c = ch; c < n; ++c) {
    EXPECT_EQ(out[c], 0.0) << c;
    EXPECT_EQ(iout[c], 0) << c;
  }
}

TEST(PointSampler, ZeroWeightSumGivesZero) {
  ImagelibKernel zeroed(IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP);
  ASSERT_TRUE(zeroed.valid);
  for (int i = 0; i <= zeroed.radius * zeroed.samples_per_unit; ++i) {
    zeroed.table[i] = 0.0;
    zeroed.fixed_table[i] = 0;
  }
  ImagePtr img(image_data_create(6, 5, 3, IMAGE_PIXEL_WORD, 1));
  image_data_fill(img.get(), 40000.0);
  double out[3] = {-1, -1, -1};
  int iout[3] = {-1, -1, -1};
  // A footprint above one pixel on both axes makes both sums divisors.
  ASSERT_TRUE(image_data_get_point_value(img.get(), 2.5, 2.0, 3.0, 2.0, out, 3, &zeroed));
  ASSERT_TRUE(image_data_get_point_value_int(img.get(), 2.5, 2.0, 3.0, 2.0, iout, 3, &zeroed));
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(out[c], 0.0) << c;
    EXPECT_EQ(iout[c], 0) << c;
  }
  ImagelibKernel linear(IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP);
  ASSERT_TRUE(image_data_get_point_value(img.get(), 2.5, 2.0, 3.0, 2.0, out, 3, &linear));
  EXPECT_DOUBLE_EQ(out[0], 40000.0);  // the untouched kernel keeps the constant
  // So does every kernel at unit footprints, whose taps' weights sum to up to 1.021 per axis between
  // samples. The whole part of t picks the edge mode; zero keeps inside.
  for (int type = 0; type <= 5; ++type) {
    ImagelibKernel k(type, IMAGELIB_EDGE_CLAMP);
    for (double t = 0.0; t < 4.0; t += 0.0047) {
      const int mode = static_cast<int>(t);
      const double f = t - mode, x = mode == IMAGELIB_EDGE_ZERO ? 2.0 + f : 10.0 * f - 2.5;
      const double y = mode == IMAGELIB_EDGE_ZERO ? 2.0 : 9.0 * f - 2.5;
      ASSERT_TRUE(k.set_edge_mode(mode) && image_data_get_point_value(img.get(), x, y, out, 3, &k));
      ASSERT_TRUE(image_data_get_point_value_int(img.get(), x, y, 1.0, 1.0, iout, 3, &k));
      EXPECT_TRUE(std::fabs(out[2] - 40000.0) < 1e-7 && iout[2] == 40000) << type << " " << t << " " << out[2];
    }
  }
}

namespace {

int mapped(int i, int n, int mode) {
  if (i >= 0 && i < n) return i;
  switch (mode) {
    case IMAGELIB_EDGE_ZERO: return -1;
    case IMAGELIB_EDGE_WRAP: return wrap_ref(i, n);
    case IMAGELIB_EDGE_MIRROR: return mirror_ref(i, n);
    default: return i < 0 ? 0 : n - 1;
  }
}

// The point samplers as defined: every tap of the window visited, row by
// row, weights read from the tables at the truncated stretched distance,
// each pass divided by its weight sum; fixed: the integer sampler's sums.
double reference_sample(const image_data* img, double x, double y, double sx, double sy, int c,
                        const ImagelibKernel& k, bool fixed) {
  const double fx = std::max(sx, 1.0), fy = std::max(sy, 1.0);
  const int top = k.radius * 512;
  auto weight = [&](double distance, double f) {
    const int t = std::min(std::abs(static_cast<int>(distance * (f > 1.0 ? 512.0 / f : 512.0))), top);
    return fixed ? static_cast<double>(k.fixed_table[t]) : k.table[t];
  };
  double total = 0.0, ysum = 0.0;
  long long itotal = 0, iysum = 0;
  for (int j = static_cast<int>(std::ceil(y - k.radius * fy)); j <= std::floor(y + k.radius * fy); ++j) {
    const int row = mapped(j, img->height, k.y_edge_mode);
    double racc = 0.0, xsum = 0.0;
    long long iracc = 0, ixsum = 0;
    for (int i = static_cast<int>(std::ceil(x - k.radius * fx)); i <= std::floor(x + k.radius * fx); ++i) {
      const int col = mapped(i, img->width, k.x_edge_mode);
      const double w = weight(i - x, fx);
      if (row >= 0 && col >= 0) {
        racc += sample(img, col, row, c) * w;
        iracc += static_cast<long long>(sample(img, col, row, c)) * static_cast<long long>(w);
      }
      xsum += w;
      ixsum += static_cast<long long>(w);
    }
    racc = xsum == 0.0 ? 0.0 : racc * (1.0 / xsum);
    iracc = ixsum == 0 ? 0 : iracc / ixsum;
    racc = std::max(racc, 0.0);
    iracc = std::max(iracc, 0LL);
    const double yw = weight(j - y, fy);
    total += racc * yw;
    itotal += iracc * static_cast<long long>(yw);
    ysum += yw;
    iysum += static_cast<long long>(yw);
  }
  total = ysum == 0.0 ? 0.0 : total * (1.0 / ysum);
  itotal = iysum == 0 ? 0 : itotal / iysum;
  const double ceiling = img->pixel_type == IMAGE_PIXEL_FLOAT ? 3.4028235e38 : image_full_scale(img->pixel_type);
  return std::min(std::max(fixed ? static_cast<double>(itotal) : total, 0.0), ceiling);
}

// Taps of one axis of the window, as the definition counts them.
int window_taps(double centre, double f, int radius) {
  f = std::max(f, 1.0);
  return static_cast<int>(std::floor(centre + radius * f) - std::ceil(centre - radius * f)) + 1;
}

}  // namespace

TEST(PointSampler, EveryKernelEdgeModeAndFootprintMatchesTheDefinition) {
  // Where the edge mode folds more taps than an axis has samples onto it,
  // the sampler sums their weights first: the integer sampler stays exact,
  // the double one within rounding. Elsewhere both are bit for bit the
  // definition.
  std::mt19937 rng(2024);
  const int sizes[][2] = {{1, 1}, {2, 2}, {3, 2}, {7, 5}, {16, 9}, {40, 3}};
  const double footprints[] = {0.5, 1.0, 1.7, 3.0, 9.5, 40.0};
  std::uniform_real_distribution<double> position(-20.0, 30.0);
  int exact = 0, folded = 0;
  for (const auto& size : sizes)
    for (int type : kAllTypes) {
      ImagePtr img(image_data_create(size[0], size[1], 2, type, 1));
      const double full = type == IMAGE_PIXEL_FLOAT ? 1.0 : image_full_scale(type);
      std::uniform_real_distribution<double> level(0.0, full);
      for (int y = 0; y < size[1]; ++y)
        for (int x = 0; x < size[0]; ++x)
          for (int c = 0; c < 2; ++c) set_sample(img.get(), x, y, c, level(rng));
      for (int kernel_type = 0; kernel_type <= 5; ++kernel_type)
        for (int round = 0; round < 6; ++round) {
          ImagelibKernel k(kernel_type, static_cast<int>(rng() % 4));
          k.set_y_edge_mode(static_cast<int>(rng() % 4));
          const double x = position(rng), y = position(rng);
          const double sx = footprints[rng() % 6], sy = footprints[rng() % 6];
          const bool same_order = window_taps(x, sx, k.radius) <= size[0] && window_taps(y, sy, k.radius) <= size[1];
          SCOPED_TRACE(testing::Message() << size[0] << "x" << size[1] << " type " << type << " kernel "
                                          << kernel_type << " edges " << k.x_edge_mode << "," << k.y_edge_mode
                                          << " at " << x << ", " << y << " footprint " << sx << ", " << sy);
          double out[2];
          ASSERT_TRUE(image_data_get_point_value(img.get(), x, y, sx, sy, out, 2, &k));
          for (int c = 0; c < 2; ++c) {
            const double expected = reference_sample(img.get(), x, y, sx, sy, c, k, false);
            if (same_order)
              EXPECT_EQ(out[c], expected);
            else
              EXPECT_NEAR(out[c], expected, 1e-12 * full);
          }
          (same_order ? exact : folded)++;
          if (type != IMAGE_PIXEL_BYTE && type != IMAGE_PIXEL_WORD) continue;
          int iout[2];
          ASSERT_TRUE(image_data_get_point_value_int(img.get(), x, y, sx, sy, iout, 2, &k));
          for (int c = 0; c < 2; ++c) EXPECT_EQ(iout[c], reference_sample(img.get(), x, y, sx, sy, c, k, true));
        }
    }
  EXPECT_GT(exact, 100);
  EXPECT_GT(folded, 100);
}

TEST(PointSampler, LongFoldedWindowsMatchTheDefinition) {
  // Thousands of taps along x over rows of up to seven pixels: the sampler
  // takes such windows a run of equal table entries at a time.
  std::mt19937 rng(77);
  const double positions[] = {0.0, 2.3, -4999.5, 1e5 + 0.25};
  const double footprints[] = {1500.0, 2600.5};
  for (int width = 1; width <= 7; width += 3) {
    ImagePtr row(image_data_create(width, 1, 1, IMAGE_PIXEL_WORD, 1));
    for (int x = 0; x < width; ++x) static_cast<uint16_t*>(row->pixels)[x] = static_cast<uint16_t>(rng() % 65536);
    for (int kernel_type = 0; kernel_type <= 5; ++kernel_type)
      for (int mode = 0; mode < 4; ++mode)
        for (double x : positions)
          for (double sx : footprints) {
            ImagelibKernel k(kernel_type, mode);
            SCOPED_TRACE(testing::Message() << "width " << width << " kernel " << kernel_type << " mode " << mode
                                            << " at " << x << " footprint " << sx);
            double out[1];
            int iout[1];
            ASSERT_TRUE(image_data_get_point_value(row.get(), x, 0.0, sx, 1.0, out, 1, &k));
            ASSERT_TRUE(image_data_get_point_value_int(row.get(), x, 0.0, sx, 1.0, iout, 1, &k));
            EXPECT_NEAR(out[0], reference_sample(row.get(), x, 0.0, sx, 1.0, 0, k, false), 1e-9 * 65535);
            EXPECT_EQ(iout[0], reference_sample(row.get(), x, 0.0, sx, 1.0, 0, k, true));
          }
  }
}

TEST(PointSampler, HugeFootprintsOnTinyImages) {
  // Windows of up to four million taps per axis folded onto one or two
  // pixels. Every edge mode but zero maps each tap onto the image, so a
  // uniform image keeps its value; zero mode weighs it by the few taps
  // inside. On a two-pixel row, at its centre, both pixels weigh alike.
  const double huge[] = {1e4, 1e6, HUGE_VAL};
  const double positions[] = {0.5, -1e12};
  for (int mode = 0; mode < 4; ++mode) {
    ImagelibKernel k(IMAGELIB_KERNEL_CUBIC_HALF, mode);
    for (int w : {1, 2}) {
      ImagePtr flat(image_data_create(w, w, 1, IMAGE_PIXEL_WORD, 1));
      image_data_fill(flat.get(), 40000.0);
      for (double f : huge)
        for (double at : positions) {
          SCOPED_TRACE(testing::Message() << "mode " << mode << " size " << w << " footprint " << f << " at " << at);
          double out[1] = {-1};
          int iout[1] = {-1};
          ASSERT_TRUE(image_data_get_point_value(flat.get(), at, at, f, f, out, 1, &k));
          ASSERT_TRUE(image_data_get_point_value_int(flat.get(), at, at, f, f, iout, 1, &k));
          if (mode == IMAGELIB_EDGE_ZERO) {
            EXPECT_LT(out[0], 40000.0 * 1e-3);
            EXPECT_LT(iout[0], 40);
          } else {
            EXPECT_NEAR(out[0], 40000.0, 40000.0 * 1e-9);
            EXPECT_EQ(iout[0], 40000);
          }
        }
    }
    if (mode == IMAGELIB_EDGE_ZERO) continue;
    ImagePtr pair = byte_row({40, 200});
    double out[1];
    int iout[1];
    ASSERT_TRUE(image_data_get_point_value(pair.get(), 0.5, 0.0, 1e6, 1e6, out, 1, &k));
    ASSERT_TRUE(image_data_get_point_value_int(pair.get(), 0.5, 0.0, 1e6, 1e6, iout, 1, &k));
    EXPECT_NEAR(out[0], 120.0, 0.01) << mode;
    EXPECT_NEAR(iout[0], 120, 1) << mode;
  }
}

TEST(PointSampler, WideWindowsWithoutMemoryAreRefused) {
  // 121 taps per axis folded onto 100 samples: more than the sampler keeps
  // on its stack.
  ImagePtr img(image_data_create(100, 100, 1, IMAGE_PIXEL_BYTE, 1));
  image_data_fill(img.get(), 77.0);
  ImagelibKernel k(IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_WRAP);
  for (int grants = 0; grants < 2; ++grants) {
    double out[2] = {-5, -5};
    int iout[2] = {-5, -5};
    {
      FailingHeap heap(grants);
      EXPECT_FALSE(image_data_get_point_value(img.get(), 50, 50, 60, 60, out, 2, &k));
      EXPECT_FALSE(image_data_get_point_value_int(img.get(), 50, 50, 60, 60, iout, 2, &k));
    }
    EXPECT_EQ(out[0], -5);
    EXPECT_EQ(out[1], -5);
    EXPECT_EQ(iout[0], -5);
  }
  double out[2] = {-5, -5};
  ASSERT_TRUE(image_data_get_point_value(img.get(), 50, 50, 60, 60, out, 2, &k));
  EXPECT_NEAR(out[0], 77.0, 1e-9);
  EXPECT_EQ(out[1], 0.0);
}
