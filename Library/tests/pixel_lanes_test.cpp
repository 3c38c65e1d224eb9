// The recursive blurs' way into doubles and back for one pixel, on both
// kernel copies: every 16-bit sample comes in exactly, and every double goes
// out clamped to 0..32767 and truncated toward zero, not-a-number as 0.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "line_filter.h"
#include "simd_paths.h"

namespace {

// Each group of four values stored as one pixel, then the first three of the
// same values stored over a pixel of 7s, whose fourth sample must stay.
Q4_SIMD_BODY void store_pixels_body(const double* v, unsigned short* out, int pixels) {
  for (int p = 0; p < pixels; ++p) {
    store_pixel_lanes<4>(v + 4 * p, out + 8 * p);
    store_pixel_lanes<3>(v + 4 * p, out + 8 * p + 4);
  }
}
Q4_SIMD_DISPATCH(void, store_pixels, (const double* v, unsigned short* out, int pixels), (v, out, pixels))

Q4_SIMD_BODY void load_pixels_body(const unsigned short* s, double* out, int pixels) {
  for (int p = 0; p < pixels; ++p) load_pixel_lanes(s + 4 * p, out + 4 * p);
}
Q4_SIMD_DISPATCH(void, load_pixels, (const unsigned short* s, double* out, int pixels), (s, out, pixels))

// The rule written out on its own.
unsigned short expected_sample(double v) {
  if (std::isnan(v) || v <= 0.0) return 0;
  if (v >= 32767.0) return 32767;
  return static_cast<unsigned short>(std::trunc(v));
}

}  // namespace

TEST(PixelLanes, SamplesComeInExactlyAndGoOutClampedAndTruncated) {
  const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> values = {-1e300, -inf, -1.0,    -0.5,      -0.0,    0.0,     0.4,     0.999999,
                                      1.0,    1.5,  12345.9, 32766.999, 32767.0, 32767.5, 65535.0, 4e9,
                                      1e300,  inf,  nan,     -nan,      2.0,     3.75,    100.25,  31000.0};
  const int pixels = static_cast<int>(values.size()) / 4;
  const auto stored = run_on_both_simd_paths([&] {
    std::vector<unsigned short> out(8 * pixels, 7);
    store_pixels(values.data(), out.data(), pixels);
    return out;
  });
  EXPECT_EQ(stored.first, stored.second);
  for (int p = 0; p < pixels; ++p)
    for (int c = 0; c < 4; ++c) {
      EXPECT_EQ(stored.second[8 * p + c], expected_sample(values[4 * p + c])) << values[4 * p + c];
      EXPECT_EQ(stored.second[8 * p + 4 + c], c < 3 ? expected_sample(values[4 * p + c]) : 7) << p << " " << c;
    }

  const std::vector<unsigned short> samples = {0, 1, 2, 32767, 32768, 40000, 65534, 65535, 7, 0, 65535, 12};
  const auto loaded = run_on_both_simd_paths([&] {
    std::vector<double> out(samples.size(), -1.0);
    load_pixels(samples.data(), out.data(), static_cast<int>(samples.size()) / 4);
    return out;
  });
  EXPECT_EQ(loaded.first, loaded.second);
  for (size_t i = 0; i < samples.size(); ++i) EXPECT_EQ(loaded.second[i], static_cast<double>(samples[i]));
}
