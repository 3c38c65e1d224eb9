// Deriche's recursive Gaussian of the frame image.
#include <cmath>
#include <vector>

#include "filter_fixture.h"

namespace {

typedef FilterTest DericheTest;

struct Coefficients {
  double np[5], nm[5], dp[5], dm[5], ep[5], em[5];
};

Coefficients coefficients(double sigma) {
  Coefficients c;
  ImageQ4::make_coeffs(sigma, c.np, c.nm, c.dp, c.dm, c.ep, c.em);
  return c;
}

}  // namespace

TEST_F(DericheTest, CoefficientsHaveUnitGainAndTheirZeros) {
  for (double sigma : {0.5, 1.0, 3.0, 10.0, 50.0}) {
    const Coefficients c = coefficients(sigma);
    EXPECT_EQ(c.np[4], 0.0);
    EXPECT_EQ(c.nm[0], 0.0);
    EXPECT_EQ(c.dp[0], 0.0);
    EXPECT_EQ(c.ep[0], 0.0);
    EXPECT_EQ(c.em[0], 0.0);
    double sn = 0, sm = 0, sd = 0, se = 0;
    for (int k = 0; k < 5; ++k) {
      sn += c.np[k];
      sm += c.nm[k];
      sd += c.dp[k];
      se += c.ep[k] + c.em[k];
      EXPECT_EQ(c.dm[k], c.dp[k]);
    }
    EXPECT_NEAR(sn + sm, 1.0 + sd, 1e-12) << sigma;
    EXPECT_NEAR(se, sd, 1e-12) << sigma;  // the boundary terms split the feedback
    // The anti-causal numerator mirrors the causal one.
    for (int k = 1; k < 5; ++k) EXPECT_NEAR(c.nm[k], c.np[k] - c.np[0] * c.dp[k], 1e-12);
  }
}

// A flat line comes out flat, both ends included, whatever its length and
// sigma, but for truncation of values a hair below the level.
TEST_F(DericheTest, FlatLinesStayFlatUpToTheirEnds) {
  for (float sigma : {0.5f, 1.0f, 3.0f, 10.0f, 50.0f})
    for (int n : {1, 2, 3, 4, 5, 9, 64})
      for (int direction : {0, 1}) {
        Image image = direction == 0 ? new_image(n, 3) : new_image(3, n);
        image->Fill(12345, 32767, 1, 20000);
        image->Deriche_GaussianBlur(sigma, nullptr, direction, 1);
        for (const PixelQ4& p : pixels_of(*image)) {
          ASSERT_NEAR(p.r, 12345, 1) << sigma << " " << n;
          ASSERT_NEAR(p.g, 32767, 1) << sigma << " " << n;
          ASSERT_NEAR(p.b, 1, 1) << sigma << " " << n;
          ASSERT_NEAR(p.a, 20000, 1) << sigma << " " << n;
        }
      }
}

// A lone 32767 on a long row against the sampled, normalised Gaussian: within
// 0.1 % of the peak plus one for truncation, and the sum kept.
TEST_F(DericheTest, ImpulseResponseFollowsTheGaussianClosely) {
  const int n = 1601, centre = 800;
  for (float sigma : {1.0f, 2.0f, 5.0f, 12.0f, 50.0f}) {
    std::vector<double> reference(n);
    double total = 0;
    for (int x = 0; x < n; ++x)
      total += reference[x] = std::exp(-(x - centre) * (x - centre) / (2.0 * sigma * sigma));
    Image image = new_image(n, 1);
    image->Fill(0, 0, 0, 0);
    image->rows[0][centre].r = 32767;
    image->Deriche_GaussianBlur_Channel(sigma, nullptr, 0, 0, 1);
    const double peak = 32767.0 / total;
    long sum = 0;
    for (int x = 0; x < n; ++x) {
      sum += image->rows[0][x].r;
      ASSERT_NEAR(image->rows[0][x].r, reference[x] * peak, 0.001 * peak + 1.0) << sigma << " at " << x;
    }
    EXPECT_LE(sum, 32767);
    EXPECT_GE(sum, 32767 - static_cast<long>(10 * sigma) - 2) << sigma;
  }
}

TEST_F(DericheTest, ChannelSubsetsLeaveTheOthersAlone) {
  Image source = new_image(17, 13), target = new_image(17, 13);
  fill_noise(*source, 11);
  fill_noise(*target, 12);
  for (int direction : {0, 1}) {
    Image rgb = copy_image(*target);
    rgb->Deriche_GaussianBlur(2.0f, source.get(), direction, 0);
    Image blue = copy_image(*target);
    blue->op_src = source.get();
    blue->op_first_channel = 2;
    blue->op_end_channel = 3;
    blue->make_coeffs(2.0, blue->op_n_causal, blue->op_n_anticausal, blue->op_d_causal, blue->op_d_anticausal,
                      blue->op_e_causal, blue->op_e_anticausal);
    if (direction == 0)
      blue->mp_fgb_horiz(0, 12);
    else
      blue->mp_fgb_vert(0, 16);
    for (int y = 0; y < 13; ++y)
      for (int x = 0; x < 17; ++x) {
        const PixelQ4 &t = target->rows[y][x], &c = rgb->rows[y][x], &b = blue->rows[y][x];
        ASSERT_EQ(c.a, t.a);  // the three-channel workers keep this image's alpha
        ASSERT_TRUE(same_pixel(b, PixelQ4{t.r, t.g, c.b, t.a}));  // only blue, and the same blue
      }
  }
  Image none = copy_image(*target);
  none->Deriche_GaussianBlur_Channel(2.0f, nullptr, 2, 4, 1);
  EXPECT_TRUE(same_pixels(*none, *target));
  for (int keep : {0, 1}) {
    Image one = copy_image(*target);
    one->Deriche_GaussianBlur_Channel(2.0f, source.get(), 3, 1, keep);  // no pass: copy or clear only
    EXPECT_TRUE(same_pixel(one->rows[5][5], keep ? source->rows[5][5] : PixelQ4{0, 0, 0, 0}));
  }
}

TEST_F(DericheTest, UnusableSigmaLeavesTheImageUnchanged) {
  Image source = new_image(6, 5), target = new_image(6, 5);
  fill_noise(*source, 13);
  fill_noise(*target, 14);
  Image out = copy_image(*target);
  for (float sigma : {0.0f, -1.0f, NAN, INFINITY, -INFINITY}) {
    out->Deriche_GaussianBlur(sigma, source.get(), 2, 1);
    out->Deriche_GaussianBlur_Channel(sigma, source.get(), 2, 1, 0);
  }
  EXPECT_TRUE(same_pixels(*out, *target));
}

// Lines of one to three samples are filtered as if the last one went on; on
// a ramp that is a blend of the line's own values (no reading outside it),
// less up to one per pass for truncation.
TEST_F(DericheTest, ShortLinesBlendTheirOwnSamples) {
  for (int n : {1, 2, 3}) {
    Image image = new_image(n, n);
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x)
        image->rows[y][x] = PixelQ4{static_cast<unsigned short>(1000 * (x + 1)),
                                    static_cast<unsigned short>(1000 * (y + 1)), 7, 32767};
    image->Deriche_GaussianBlur(1.5f, nullptr, 2, 1);
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        const PixelQ4& p = image->rows[y][x];
        EXPECT_GE(p.r, 998);
        EXPECT_LE(p.r, 1000 * n);
        EXPECT_GE(p.g, 998);
        EXPECT_LE(p.g, 1000 * n);
        EXPECT_NEAR(p.b, 7, 2);
        EXPECT_NEAR(p.a, 32767, 2);
      }
  }
}

// The kernels' portable and AVX2 copies write the same bytes: every channel
// choice, both directions and both in turn, on lines of one to a few more
// samples than the four the recursions look back (where their start-up and
// the positions they keep meet) and on longer ones, at sigmas from one that
// barely blurs to one wider than the image.
TEST_F(DericheTest, BothKernelCopiesWriteTheSameBytes) {
  const int sizes[][2] = {{1, 4}, {4, 1}, {2, 5}, {5, 6}, {6, 7}, {8, 9}, {9, 8}, {37, 23}};
  for (const auto& size : sizes) {
    Image input = new_image(size[0], size[1]);
    fill_noise(*input, 17 + size[0] * 3 + size[1]);
    Image source = new_image(size[0] + 2, size[1] + 1);
    fill_noise(*source, 19);
    for (float sigma : {0.5f, 3.0f, 40.0f})
      for (int direction = 0; direction < 3; ++direction) {
        SCOPED_TRACE(::testing::Message() << size[0] << "x" << size[1] << " sigma " << sigma << " direction "
                                          << direction);
        for (int alpha = 0; alpha < 2; ++alpha)
          same_on_both_paths(*input, [&](ImageQ4& im) { im.Deriche_GaussianBlur(sigma, nullptr, direction, alpha); });
        same_on_both_paths(*input, [&](ImageQ4& im) { im.Deriche_GaussianBlur(sigma, source.get(), direction, 1); });
        for (int channel = 0; channel < 4; ++channel)
          same_on_both_paths(*input, [&](ImageQ4& im) {
            im.Deriche_GaussianBlur_Channel(sigma, source.get(), direction, channel, channel & 1);
          });
      }
  }
}
