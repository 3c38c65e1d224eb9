#include <cmath>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

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
}
