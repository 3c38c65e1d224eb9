#include <cstdint>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "imgio_pixel.h"
#include "simd_paths.h"

TEST(Pixel, SixteenBitRgbSpreadsToOpaqueLinesOnBothPaths) {
  for (int width : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 13, 31, 2048}) {
    SCOPED_TRACE(width);
    // Exactly a row of samples, so that a read past it shows in the
    // sanitized build.
    std::vector<uint16_t> rgb(3 * static_cast<size_t>(width));
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint16_t>(i * 40503u + 7);
    std::vector<unsigned short> want(4 * static_cast<size_t>(width) + 4, 0x5A5A);
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) want[4 * x + c] = rgb[3 * x + c];
      want[4 * x + 3] = 65535;
    }
    const auto paths = run_on_both_simd_paths([&] {
      std::vector<unsigned short> line(want.size(), 0x5A5A);
      imgio_rgb_to_line(rgb.data(), line.data(), width);
      return line;
    });
    EXPECT_EQ(paths.first, want);
    EXPECT_EQ(paths.second, want);
  }
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
