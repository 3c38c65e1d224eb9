#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "fft_columns.h"
#include "simd_paths.h"

namespace {

struct CopyCase {
  int w, h, c, count, line;
};

// Grids of w x h with every sample distinct, copied by column blocks both
// ways; checked against the definition buffer[b * line + i] = grid[i * w + c + b]
// and, between the two SIMD paths, byte for byte. Whole tiles, partial tiles
// in both directions, padded lines and single rows and columns.
template <typename C>
std::vector<C> copies(const CopyCase& t, C (*make)(int)) {
  std::vector<C> grid(static_cast<size_t>(t.w) * t.h), lines(static_cast<size_t>(t.count) * t.line, make(-1));
  for (size_t k = 0; k < grid.size(); ++k) grid[k] = make(static_cast<int>(k));
  gather_columns(grid.data(), t.w, t.h, t.c, t.count, lines.data(), t.line);
  for (int b = 0; b < t.count; ++b)
    for (int i = 0; i < t.line; ++i) {
      const C expect = i < t.h ? grid[static_cast<size_t>(i) * t.w + t.c + b] : make(-1);
      EXPECT_EQ(std::memcmp(&lines[static_cast<size_t>(b) * t.line + i], &expect, sizeof(C)), 0)
          << t.w << "x" << t.h << " column " << t.c + b << " sample " << i;
    }
  std::vector<C> out = lines;
  if constexpr (sizeof(C) > sizeof(float)) {
    // Scattered lines land in their columns and nowhere else.
    std::vector<C> back(grid.size(), make(-2));
    scatter_columns(back.data(), t.w, t.h, t.c, t.count, lines.data(), t.line);
    for (int i = 0; i < t.h; ++i)
      for (int x = 0; x < t.w; ++x) {
        const size_t k = static_cast<size_t>(i) * t.w + x;
        const C expect = x >= t.c && x < t.c + t.count ? grid[k] : make(-2);
        EXPECT_EQ(std::memcmp(&back[k], &expect, sizeof(C)), 0) << t.w << "x" << t.h << " at " << i << "," << x;
      }
    out.insert(out.end(), back.begin(), back.end());
  }
  return out;
}

template <typename C>
void check_copies(C (*make)(int)) {
  const CopyCase cases[] = {
      {16, 16, 0, 16, 16}, {64, 24, 8, 48, 24}, {20, 13, 3, 11, 16}, {9, 7, 0, 9, 8},
      {64, 33, 5, 1, 40},  {17, 1, 16, 1, 1},   {40, 16, 2, 37, 19},
  };
  for (const CopyCase& t : cases) {
    const auto both = run_on_both_simd_paths([&] { return copies<C>(t, make); });
    ASSERT_EQ(both.first.size(), both.second.size());
    EXPECT_EQ(std::memcmp(both.first.data(), both.second.data(), sizeof(C) * both.first.size()), 0)
        << sizeof(C) << ": " << t.w << "x" << t.h;
  }
}

float make_float(int k) { return 0.25f * k; }
complex4 make_complex4(int k) { return {0.5f * k, -1.0f * k}; }
complex8 make_complex8(int k) { return {0.5 * k, -0.25 * k}; }

}  // namespace

TEST(FftColumns, BlockCopiesMatchTheirDefinitionOnBothSimdPaths) {
  check_copies<float>(make_float);
  check_copies<complex4>(make_complex4);
  check_copies<complex8>(make_complex8);
}

TEST(FftColumns, MirrorRowIsTheConjugateReadBackwards) {
  // Streamed mirrors start at every offset from a 32-byte boundary.
  for (int n : {1, 2, 4, 5, 8, 13, 64})
    for (int offset : {0, 1, 2, 3})
      for (bool stream : {false, true}) {
        std::vector<complex4> row(n);
        for (int c = 0; c < n; ++c) row[c] = {1.0f + c, 0.5f - c};
        const auto both = run_on_both_simd_paths([&] {
          std::vector<complex4> mirror(n + 5, complex4{9.0f, 9.0f});
          mirror_row(row.data(), mirror.data() + offset, n, stream);
          return std::vector<complex4>(mirror.begin() + offset, mirror.begin() + offset + n + 1);
        });
        for (int c = 0; c < n; ++c) {
          const complex4 source = row[(n - c) % n];
          EXPECT_EQ(both.first[c].re, source.re) << n << " " << c << " " << offset << " " << stream;
          EXPECT_EQ(both.first[c].im, -source.im) << n << " " << c << " " << offset << " " << stream;
        }
        EXPECT_EQ(both.first[n].re, 9.0f) << "nothing past the row";
        EXPECT_EQ(std::memcmp(both.first.data(), both.second.data(), sizeof(complex4) * (n + 1)), 0) << n;
      }
}
