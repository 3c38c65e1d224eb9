#include <cstdint>
#include <numeric>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "imgio_pixel.h"
#include "simd_paths.h"

namespace {

// On the portable path, then the best: a row of RGB samples spread into an
// opaque line, and the line packed back into a row. Both are exactly their
// size, so that a read or write past them shows in the sanitized build. S is
// the sample, P the line's unit (a word per 8-bit pixel, four per 16-bit
// pixel).
template <typename S, typename P>
auto spread_and_pack(const std::vector<S>& rgb) {
  const int width = static_cast<int>(rgb.size() / 3);
  return run_on_both_simd_paths([&] {
    std::vector<P> line((sizeof(S) == 1 ? 1 : 4) * rgb.size() / 3);
    imgio_rgb_to_line(rgb.data(), line.data(), width);
    std::vector<S> back(rgb.size());
    imgio_rgba_to_rgb(reinterpret_cast<const S*>(line.data()), back.data(), width);
    return std::make_pair(line, back);
  });
}

// `worked` is the line, written out by hand, of the row whose sample k is
// first + k; every other width must come back as it went, opaque.
template <typename S, typename P>
void expect_lines(S first, const std::vector<P>& worked) {
  std::vector<S> row(3 * worked.size() / (sizeof(S) == 1 ? 1 : 4));
  std::iota(row.begin(), row.end(), first);
  const auto want = std::make_pair(worked, row);
  EXPECT_EQ((spread_and_pack<S, P>(row)), std::make_pair(want, want));
  for (int width : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 17, 18, 31, 2048}) {
    SCOPED_TRACE(width);
    std::vector<S> rgb(3 * static_cast<size_t>(width));
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<S>(i * 40503u + 7);
    const auto paths = spread_and_pack<S, P>(rgb);
    EXPECT_EQ(paths.first, paths.second);
    EXPECT_EQ(paths.second.second, rgb);
    const S* samples = reinterpret_cast<const S*>(paths.second.first.data());
    for (int x = 0; x < width; ++x) ASSERT_EQ(samples[4 * x + 3], S(~S(0))) << "alpha of " << x;
  }
}

}  // namespace

// Ten 8-bit pixels take one AVX2 step of eight, then one pixel of the loop
// and the last alone; six 16-bit pixels a step of four and the same two, and
// their packing a step of four and two more. The 16-bit samples start at
// 0xA000, so that swapped bytes show.
TEST(Pixel, RowsSpreadToOpaqueLinesAndPackBackOnBothPathsAtEitherDepth) {
  expect_lines<uint8_t, unsigned int>(0, {0xFF020100, 0xFF050403, 0xFF080706, 0xFF0B0A09, 0xFF0E0D0C, 0xFF11100F,
                                          0xFF141312, 0xFF171615, 0xFF1A1918, 0xFF1D1C1B});
  expect_lines<uint16_t, unsigned short>(
      0xA000, {0xA000, 0xA001, 0xA002, 0xFFFF, 0xA003, 0xA004, 0xA005, 0xFFFF, 0xA006, 0xA007, 0xA008, 0xFFFF,
               0xA009, 0xA00A, 0xA00B, 0xFFFF, 0xA00C, 0xA00D, 0xA00E, 0xFFFF, 0xA00F, 0xA010, 0xA011, 0xFFFF});
}
