// Repeated box filters of integer lines against a brute-force clamped window
// mean, on both kernel copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "box_pass.h"
#include "simd_paths.h"

namespace {

typedef std::vector<int> Line;

// One pass written the slow way: every window summed afresh, indices clamped.
Line window_mean(const Line& in, int radius) {
  const int n = static_cast<int>(in.size());
  const int R = std::max(0, std::min(radius, n / 2));
  Line out(in.size());
  for (int i = 0; i < n; ++i) {
    int64_t sum = 0;
    for (int j = i - R; j <= i + R; ++j) sum += in[std::min(std::max(j, 0), n - 1)];
    out[i] = static_cast<int>(sum / (2 * R + 1));
  }
  return out;
}

Line random_line(int n, unsigned& seed, int low, int high) {
  Line line(n);
  for (int& v : line) {
    seed = seed * 1664525u + 1013904223u;
    v = low + static_cast<int>((seed >> 4) % static_cast<unsigned>(high - low + 1));
  }
  return line;
}

// Runs box_pass_<lines> over copies of the inputs and returns the in and out
// lines afterwards, in that order.
std::vector<Line> run_box_pass(int lines, int radius, int passes, std::vector<Line> in) {
  const size_t n = in[0].size();
  std::vector<Line> out(in.size(), Line(n, -7));
  const int count = static_cast<int>(n);
  if (lines == 1) box_pass_1(radius, passes, count, in[0].data(), out[0].data());
  if (lines == 3)
    box_pass_3(radius, passes, count, in[0].data(), in[1].data(), in[2].data(), out[0].data(), out[1].data(),
               out[2].data());
  if (lines == 4)
    box_pass_4(radius, passes, count, in[0].data(), in[1].data(), in[2].data(), in[3].data(), out[0].data(),
               out[1].data(), out[2].data(), out[3].data());
  std::vector<Line> both = in;
  both.insert(both.end(), out.begin(), out.end());
  return both;
}

struct Range {
  int low, high;
};

}  // namespace

// Every length class (1, 2, odd, even, shorter than the vector block, longer),
// radii up to and past n / 2 and negative, 1 to 4 passes, one, three and four
// lines: the result sits in out after odd and in in after even pass counts,
// the other buffer holds the pass before (the input after one pass), and both
// kernel copies agree with the brute force. 15-bit samples take the fast
// path, others the wide one.
TEST(BoxPass, MatchesBruteForceWindowMeans) {
  const int lengths[] = {1, 2, 3, 4, 7, 8, 16, 17, 25, 40, 64, 101};
  const Range ranges[] = {{0, 32767}, {-40000, 2000000}, {32767, 32767}};
  unsigned seed = 7;
  for (const Range& range : ranges)
    for (int n : lengths)
      for (int lines : {1, 3, 4}) {
        std::vector<Line> input;
        for (int l = 0; l < lines; ++l) input.push_back(random_line(n, seed, range.low, range.high));
        std::vector<int> radii = {-3, 0, 1, 2, 3, n / 2 - 1, n / 2, n / 2 + 1, n, 3 * n + 5};
        for (int radius : radii)
          for (int passes = 1; passes <= 4; ++passes) {
            const auto paths = run_on_both_simd_paths([&] { return run_box_pass(lines, radius, passes, input); });
            ASSERT_EQ(paths.first, paths.second) << n << " r" << radius << " p" << passes;
            const std::vector<Line>& got = paths.second;
            for (int l = 0; l < lines; ++l) {
              Line previous = input[l], result = input[l];
              for (int p = 0; p < passes; ++p) {
                previous = result;
                result = window_mean(result, radius);
              }
              const Line& in_after = got[l];
              const Line& out_after = got[lines + l];
              const bool odd = passes % 2 == 1;
              ASSERT_EQ(odd ? out_after : in_after, result)
                  << "n " << n << " radius " << radius << " passes " << passes << " line " << l;
              ASSERT_EQ(odd ? in_after : out_after, previous)
                  << "n " << n << " radius " << radius << " passes " << passes << " line " << l;
            }
          }
      }
}

TEST(BoxPass, NoPassesAndEmptyLinesTouchNothing) {
  Line in = {5, 6, 7}, out = {1, 2, 3};
  box_pass_1(1, 0, 3, in.data(), out.data());
  box_pass_1(1, -2, 3, in.data(), out.data());
  box_pass_1(1, 3, 0, in.data(), out.data());
  EXPECT_EQ(in, (Line{5, 6, 7}));
  EXPECT_EQ(out, (Line{1, 2, 3}));
}

// A flat line stays flat through any number of passes, at every radius and on
// lines long enough for many vector blocks.
TEST(BoxPass, FlatLinesStayFlat) {
  for (int value : {0, 1, 12345, 32767})
    for (int radius : {1, 4, 37, 500}) {
      Line in(1000, value), out(1000);
      box_pass_1(radius, 3, 1000, in.data(), out.data());
      EXPECT_EQ(out, Line(1000, value)) << value << " r" << radius;
    }
}

// The quotient (S * m) >> k never decreases as S grows, and its error over
// S / d grows with S: so the largest sums of each quotient, up to the largest
// reachable one (32767 * d), settle exactness for every smaller sum. Every
// divisor up to the first one without a multiplier is checked there, the
// smaller ones over their whole top range.
TEST(BoxPass, MultiplyDividesExactlyUpToTheLargestSums) {
  int inexact = 0;
  for (uint32_t d = 3; d < 93385; d += 2) {
    const BoxDivisor dv = box_divisor(d);
    if (!dv.exact) {
      ++inexact;
      continue;
    }
    const uint64_t top = 32767ull * d;
    const uint64_t span = d <= 4097 ? 2 * d : 2;
    for (uint64_t s = top - span; s <= top; ++s)
      ASSERT_EQ(box_divide(static_cast<uint32_t>(s), dv), s / d) << "d " << d << " sum " << s;
    for (uint32_t q : {1u, 2u, 1000u, 32767u}) {
      ASSERT_EQ(box_divide(q * d - 1, dv), q - 1) << d;
      ASSERT_EQ(box_divide(q * d, dv), q) << d;
    }
  }
  EXPECT_EQ(inexact, 0);
  for (uint32_t d = 3; d <= 65; d += 2) {
    const BoxDivisor dv = box_divisor(d);
    for (uint32_t s = 0; s <= 32767 * d; ++s) ASSERT_EQ(box_divide(s, dv), s / d) << d;
  }
  EXPECT_FALSE(box_divisor(1).exact);
  EXPECT_FALSE(box_divisor(93385).exact);
}

// A window too wide for the multiply (2R + 1 = 93385) divides as written.
TEST(BoxPass, WindowsWithoutAMultiplierDivideAsWritten) {
  const int n = 100000, R = 46692;
  unsigned seed = 3;
  const Line input = random_line(n, seed, 0, 32767);
  std::vector<int64_t> prefix(n + 2 * R + 2, 0);  // of the line extended by R on each side
  for (int j = 0; j < n + 2 * R + 1; ++j)
    prefix[j + 1] = prefix[j] + input[std::min(std::max(j - R, 0), n - 1)];
  Line in = input, out(n);
  box_pass_1(R, 1, n, in.data(), out.data());
  for (int i = 0; i < n; ++i) ASSERT_EQ(out[i], (prefix[i + 2 * R + 1] - prefix[i]) / (2 * R + 1)) << i;
}
