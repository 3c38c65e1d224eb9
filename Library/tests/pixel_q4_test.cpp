#include <cmath>
#include <cstdlib>

#include <gtest/gtest.h>

#include "PixelQ4.h"

namespace {

struct Hsv {
  unsigned short h, s, v;
};

Hsv hsv_of(unsigned short r, unsigned short g, unsigned short b) {
  const PixelQ4 p{r, g, b, 0};
  Hsv out;
  p.GetHSV(out.h, out.s, out.v);
  return out;
}

}  // namespace

TEST(PixelQ4Test, LuminanceUsesFixedSixteenthWeights) {
  PixelQ4 p{1000, 2000, 3000, 77};
  unsigned short l = 0;
  p.GetLuminance(l);
  EXPECT_EQ(l, 1875);  // (5000 + 16000 + 9000) / 16
  p = PixelQ4{32767, 32767, 32767, 0};
  p.GetLuminance(l);
  EXPECT_EQ(l, 32767);
  p.SetLuminance(1234);
  EXPECT_EQ(p.r, 1234);
  EXPECT_EQ(p.g, 1234);
  EXPECT_EQ(p.b, 1234);
  EXPECT_EQ(p.a, 0);
}

TEST(PixelQ4Test, HsvOfPrimariesAndGreys) {
  const Hsv red = hsv_of(32767, 0, 0);
  EXPECT_EQ(red.h, 0);
  EXPECT_EQ(red.s, 32766);
  EXPECT_EQ(red.v, 32766);
  EXPECT_EQ(hsv_of(0, 32767, 0).h, 10922);
  EXPECT_EQ(hsv_of(0, 0, 32767).h, 21844);
  EXPECT_EQ(hsv_of(32767, 32767, 0).h, 5460);  // yellow: red tested first
  const Hsv grey = hsv_of(1001, 1001, 1001);
  EXPECT_EQ(grey.h, 0);
  EXPECT_EQ(grey.s, 0);
  EXPECT_EQ(grey.v, 1000);
  const Hsv black = hsv_of(0, 0, 0);
  EXPECT_EQ(black.s, 0);
  EXPECT_EQ(black.v, 0);
}

TEST(PixelQ4Test, SetHsvGivesBackPrimariesAndGreys) {
  PixelQ4 p{0, 0, 0, 555};
  p.SetHSV(0, 32766, 32766);
  EXPECT_EQ(p.r, 32766);
  EXPECT_EQ(p.g, 0);
  EXPECT_EQ(p.b, 0);
  EXPECT_EQ(p.a, 555);
  p.SetHSV(10922, 32766, 32766);
  EXPECT_EQ(p.r, 0);
  EXPECT_EQ(p.g, 32766);
  EXPECT_EQ(p.b, 0);
  p.SetHSV(21844, 32766, 32766);
  EXPECT_EQ(p.r, 0);
  EXPECT_EQ(p.g, 0);
  EXPECT_EQ(p.b, 32766);
  for (unsigned short v : {0, 1, 1001, 20000, 32767}) {
    p.SetHSV(12345, 0, v);
    const unsigned short expect = static_cast<unsigned short>(2 * (v >> 1));
    EXPECT_EQ(p.r, expect);
    EXPECT_EQ(p.g, expect);
    EXPECT_EQ(p.b, expect);
  }
}

TEST(PixelQ4Test, SetHsvScalesInSinglePrecision) {
  // Worked out with exact rational arithmetic rounded to single precision
  // at every step; in double precision each case has one channel 2 higher
  // or lower.
  const struct {
    unsigned short h, s, v, r, g, b;
  } cases[] = {
      {0, 427, 10922, 10922, 10778, 10780},      {26235, 7920, 26622, 25360, 20186, 26622},
      {19194, 8864, 29702, 21666, 25566, 29702}, {32187, 24873, 17865, 17864, 4302, 5744},
      {13461, 19299, 4239, 1740, 4238, 2902},    {15404, 30859, 30634, 1782, 30634, 25462},
      {1942, 12074, 22633, 22632, 17258, 14292}, {20230, 11531, 6866, 4448, 5164, 6866},
      {6392, 31172, 18830, 15776, 18830, 916},   {5000, 20000, 30000, 30000, 28454, 11688},
      {30000, 32767, 32767, 32766, 0, 16596},    {16000, 100, 32767, 32666, 32766, 32758},
  };
  for (const auto& c : cases) {
    PixelQ4 p{0, 0, 0, 4321};
    p.SetHSV(c.h, c.s, c.v);
    EXPECT_EQ(p.r, c.r) << c.h << " " << c.s << " " << c.v;
    EXPECT_EQ(p.g, c.g) << c.h << " " << c.s << " " << c.v;
    EXPECT_EQ(p.b, c.b) << c.h << " " << c.s << " " << c.v;
    EXPECT_EQ(p.a, 4321);
  }
}

// Compared with floating-point HSV (hue as a fraction of 32768), and back.
TEST(PixelQ4Test, HsvAgreesWithFloatingPointAndRoundTrips) {
  std::srand(7);
  for (int i = 0; i < 20000; ++i) {
    const unsigned short r = static_cast<unsigned short>(std::rand() % 32768);
    const unsigned short g = static_cast<unsigned short>(std::rand() % 32768);
    const unsigned short b = static_cast<unsigned short>(std::rand() % 32768);
    const double max = std::max({r, g, b}), min = std::min({r, g, b});
    const Hsv got = hsv_of(r, g, b);
    EXPECT_NEAR(got.v, max, 2.0);
    if (max - min > 64) {
      // Channels are halved to 14 bits first, so the ratios lose up to a
      // unit of (max - min) / 2.
      const double coarse = 4.0 + 2.0 * 32768.0 / (max - min);
      EXPECT_NEAR(got.s, (max - min) / max * 32767.0, coarse);
      double hue;
      if (r == max)
        hue = (g - b) / (max - min);
      else if (g == max)
        hue = 2.0 + (b - r) / (max - min);
      else
        hue = 4.0 + (r - g) / (max - min);
      if (hue < 0) hue += 6.0;
      double diff = std::fabs(got.h - hue / 6.0 * 32768.0);
      diff = std::min(diff, 32768.0 - diff);
      EXPECT_LE(diff, coarse) << r << " " << g << " " << b;
      PixelQ4 back{0, 0, 0, 9};
      back.SetHSV(got.h, got.s, got.v);
      // Halving, the integer divisions and the doubling each truncate on the
      // 14-bit scale: a few units of it either way.
      EXPECT_NEAR(back.r, r, 16.0);
      EXPECT_NEAR(back.g, g, 16.0);
      EXPECT_NEAR(back.b, b, 16.0);
      EXPECT_EQ(back.a, 9);
    }
  }
}
