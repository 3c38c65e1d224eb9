// Young-van Vliet recursive Gaussian of the frame image.
#include "fast_gauss.h"

#include <cmath>
#include <vector>

#include "filter_fixture.h"

namespace {

typedef FilterTest FastGaussTest;

// 32767 times a sampled Gaussian normalised to sum 1, centred on `centre`.
std::vector<double> sampled_gaussian(int n, int centre, double sigma) {
  std::vector<double> g(n);
  double total = 0.0;
  for (int x = 0; x < n; ++x) total += g[x] = std::exp(-(x - centre) * (x - centre) / (2.0 * sigma * sigma));
  for (double& v : g) v *= 32767.0 / total;
  return g;
}

}  // namespace

TEST_F(FastGaussTest, ParameterFollowsTheSigmaBranches) {
  struct Case {
    float radius;
    double sigma, q;
  };
  // Worked out by hand from q's three branches; 1.8 is just below 2 sigma
  // = 0.5 in single precision, so it takes the lowest branch.
  const Case cases[] = {{10.0f, 2.55, 1.5538305},
                        {1.79f, 0.4974999904632568, 0.38149153048},
                        {1.8f, 0.49999998807907103, 0.38340857156},
                        {2.0f, 0.55, 0.14484370936},
                        {0.0f, 0.05, 0.03834085807},
                        {-4.0f, 0.05, 0.03834085807}};
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(yvv_sigma(c.radius), c.sigma) << c.radius;
    const YvvCoefficients k = yvv_coefficients(yvv_sigma(c.radius));
    EXPECT_NEAR(k.q, c.q, 1e-10) << c.radius;
    EXPECT_NEAR(k.B + k.a1 + k.a2 + k.a3, 1.0, 1e-15);
  }
}

// The row of 40 pixels at 10000 with radius 10: both ends sag because the
// recursions start from rest only a few samples before the line.
TEST_F(FastGaussTest, FlatRowSagsAtItsEndsAsKnown) {
  Image image = new_image(40, 1);
  image->Fill(10000, 10000, 10000, 10000);
  image->Fast_GaussianBlur(10.0f, nullptr, 0, 1);
  const PixelQ4* row = image->rows[0];
  const unsigned short left[] = {9084, 9513, 9751}, right[] = {9983, 9973, 9952};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(row[i].r, left[i]) << i;
    EXPECT_EQ(row[37 + i].r, right[i]) << i;
  }
  for (int x = 0; x < 40; ++x) {
    EXPECT_LE(row[x].r, 10000) << x;
    EXPECT_TRUE(same_pixel(row[x], PixelQ4{row[x].r, row[x].r, row[x].r, row[x].r})) << x;
  }
  EXPECT_GE(row[20].r, 9990);
}

// A lone 32767 on a long row spreads like the sampled Gaussian (within 6 % of
// its peak, plus one for truncation) and keeps its sum but for truncation.
TEST_F(FastGaussTest, ImpulseResponseFollowsTheGaussian) {
  const int n = 1201, centre = 600;
  for (float radius : {7.8f, 19.8f, 39.8f, 99.8f}) {  // sigma 2, 5, 10, 25
    const double sigma = yvv_sigma(radius);
    Image image = new_image(n, 1);
    image->Fill(0, 0, 0, 0);
    image->rows[0][centre].g = 32767;
    image->Fast_GaussianBlur_Channel(radius, nullptr, 0, 1, 1);
    const std::vector<double> reference = sampled_gaussian(n, centre, sigma);
    long sum = 0;
    for (int x = 0; x < n; ++x) {
      sum += image->rows[0][x].g;
      EXPECT_NEAR(image->rows[0][x].g, reference[x], 0.06 * reference[centre] + 1.0) << sigma << " at " << x;
    }
    EXPECT_LE(sum, 32767);
    EXPECT_GE(sum, 32767 - static_cast<long>(12 * sigma)) << sigma;  // at most 1 lost per pixel touched
  }
}

TEST_F(FastGaussTest, AlphaOnlyWhenAskedAndOtherChannelsCopiedOrCleared) {
  Image source = new_image(23, 17), target = new_image(23, 17);
  fill_noise(*source, 1);
  fill_noise(*target, 2);
  Image rgb = copy_image(*target);
  rgb->Fast_GaussianBlur(6.0f, source.get(), 2, 0);
  Image rgba = copy_image(*target);
  rgba->Fast_GaussianBlur(6.0f, source.get(), 2, 1);
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 23; ++x) {
      const PixelQ4 &a = rgb->rows[y][x], &b = rgba->rows[y][x];
      ASSERT_EQ(a.a, target->rows[y][x].a);  // this image's alpha, not the source's
      ASSERT_TRUE(a.r == b.r && a.g == b.g && a.b == b.b);
    }
  EXPECT_FALSE(same_pixels(*rgba, *rgb));  // the alpha was blurred there

  for (int keep : {0, 1}) {
    Image one = copy_image(*target);
    one->Fast_GaussianBlur_Channel(6.0f, source.get(), 2, 2, keep);
    for (int y = 0; y < 17; ++y)
      for (int x = 0; x < 23; ++x) {
        const PixelQ4 &p = one->rows[y][x], &s = source->rows[y][x];
        ASSERT_EQ(p.b, rgba->rows[y][x].b);  // the same blur of the source's blue
        ASSERT_TRUE(
            same_pixel(PixelQ4{p.r, p.g, 0, p.a}, keep ? PixelQ4{s.r, s.g, 0, s.a} : PixelQ4{0, 0, 0, 0}));
      }
  }
  // Direction 3 and channel 4 run no pass, but the copy-or-clear still runs.
  for (int direction_channel : {0, 1}) {
    Image none = copy_image(*target);
    none->Fast_GaussianBlur_Channel(6.0f, source.get(), direction_channel ? 2 : 3, direction_channel ? 4 : 0,
                                    1);
    EXPECT_TRUE(same_pixels(*none, *source));
    none->Fast_GaussianBlur_Channel(6.0f, source.get(), direction_channel ? 2 : 3, direction_channel ? 4 : 0,
                                    0);
    EXPECT_EQ(pixels_of(*none)[100].r + pixels_of(*none)[100].a, 0);
  }
  Image untouched = copy_image(*target);
  untouched->Fast_GaussianBlur(6.0f, source.get(), 3, 1);
  untouched->Fast_GaussianBlur(6.0f, source.get(), -1, 1);
  EXPECT_TRUE(same_pixels(*untouched, *target));
}

// With no source the image blurs its own pixels, and direction 2 is the
// horizontal pass followed by a vertical pass over its result; per channel it
// is the same blur.
TEST_F(FastGaussTest, TwoDirectionsAreTwoExplicitPasses) {
  Image input = new_image(31, 29);
  fill_noise(*input, 3);
  Image both = copy_image(*input), stepwise = copy_image(*input), channels = copy_image(*input);
  both->Fast_GaussianBlur(9.0f, nullptr, 2, 1);
  stepwise->Fast_GaussianBlur(9.0f, nullptr, 0, 1);
  stepwise->Fast_GaussianBlur(9.0f, nullptr, 1, 1);
  for (int c = 0; c < 4; ++c) channels->Fast_GaussianBlur_Channel(9.0f, nullptr, 2, c, 1);
  EXPECT_TRUE(same_pixels(*both, *stepwise));
  EXPECT_TRUE(same_pixels(*both, *channels));
  EXPECT_FALSE(same_pixels(*both, *input));
}

TEST_F(FastGaussTest, HugeAndUnusableRadiiLeaveTheImageAlone) {
  Image input = new_image(9, 7);
  fill_noise(*input, 9);
  Image out = copy_image(*input);
  out->Fast_GaussianBlur(1e30f, nullptr, 2, 1);
  out->Fast_GaussianBlur(INFINITY, nullptr, 2, 1);
  EXPECT_TRUE(same_pixels(*out, *input));
  Image nan = copy_image(*input), zero = copy_image(*input);
  nan->Fast_GaussianBlur(NAN, nullptr, 2, 1);  // counts as 0, as a negative radius does
  zero->Fast_GaussianBlur(0.0f, nullptr, 2, 1);
  EXPECT_TRUE(same_pixels(*nan, *zero));
}
