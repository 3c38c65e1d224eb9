#include <cstdint>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "imgio_pixel.h"
#include "simd_paths.h"

// S is the sample, P the line's unit: a word per 8-bit pixel, four per
// 16-bit pixel.
template <typename S, typename P>
void expect_opaque_lines_on_both_paths() {
  const int per = sizeof(S) == 1 ? 1 : 4;
  const unsigned max = sizeof(S) == 1 ? 255 : 65535;
  for (int width : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 17, 18, 31, 2048}) {
    SCOPED_TRACE(width);
    // Exactly a row of samples, so that a read past it shows in the
    // sanitized build.
    std::vector<S> rgb(3 * static_cast<size_t>(width));
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<S>(i * 40503u + 7);
    std::vector<P> want(per * static_cast<size_t>(width) + 4, P(0x5A5A));
    for (int x = 0; x < width; ++x) {
      const unsigned r = rgb[3 * x], g = rgb[3 * x + 1], b = rgb[3 * x + 2];
      if (per == 1)
        want[x] = P(r | g << 8 | b << 16 | 0xFF000000u);
      else
        for (unsigned c = 0, v[] = {r, g, b, max}; c < 4; ++c) want[4 * x + c] = P(v[c]);
    }
    const auto paths = run_on_both_simd_paths([&] {
      std::vector<P> line(want.size(), P(0x5A5A));
      imgio_rgb_to_line(rgb.data(), line.data(), width);
      return line;
    });
    EXPECT_EQ(paths.first, want);
    EXPECT_EQ(paths.second, want);
  }
}

TEST(Pixel, RgbSpreadsToOpaqueLinesOnBothPathsAtEitherDepth) {
  expect_opaque_lines_on_both_paths<uint8_t, unsigned int>();
  expect_opaque_lines_on_both_paths<uint16_t, unsigned short>();
}

TEST(Pixel, SixteenBitLinesPackToRgbOnBothPaths) {
  for (int width : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 13, 31, 2048}) {
    SCOPED_TRACE(width);
    std::vector<unsigned short> line(4 * static_cast<size_t>(width));
    for (size_t i = 0; i < line.size(); ++i) line[i] = static_cast<unsigned short>(i * 2654435761u >> 13);
    // Exactly a row of samples, so that a write past it shows in the
    // sanitized build.
    std::vector<uint16_t> want(3 * static_cast<size_t>(width));
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c) want[3 * x + c] = line[4 * x + c];
    const auto paths = run_on_both_simd_paths([&] {
      std::vector<uint16_t> rgb(want.size(), 0x5A5A);
      imgio_rgba_to_rgb(line.data(), rgb.data(), width);
      return rgb;
    });
    EXPECT_EQ(paths.first, want);
    EXPECT_EQ(paths.second, want);
  }
}
