// The one-sweep box passes against brute-force clamped window means, on both
// kernel copies, read and written in place; the column runs into lanes and
// back; the 16-bit divisions at their largest sums.
#include "box_sweep.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "box_pass.h"
#include "simd_paths.h"
#include "window_mean.h"

namespace {

// Lines side by side in one array that the sweep reads and writes in place,
// checking that positions come in order, each once, and that no result
// lands on a position whose samples were not taken.
class InPlaceLines final : public BoxSweepLines {
 public:
  InPlaceLines(Line& values, int L) : values_(values), L_(L) {}
  void gather(int i0, int count, int* to) override {
    EXPECT_EQ(i0, gathered_);
    EXPECT_LE(count, kSweepStep);
    std::copy(values_.begin() + static_cast<long>(i0) * L_, values_.begin() + static_cast<long>(i0 + count) * L_, to);
    gathered_ = i0 + count;
  }
  void scatter(int i0, int count, const int* from) override {
    EXPECT_EQ(i0, scattered_);
    EXPECT_LE(count, kSweepStep);
    EXPECT_LE(i0 + count, gathered_);
    std::copy(from, from + static_cast<long>(count) * L_, values_.begin() + static_cast<long>(i0) * L_);
    scattered_ = i0 + count;
  }
  int scattered_ = 0;

 private:
  Line& values_;
  int L_;
  int gathered_ = 0;
};

}  // namespace

// Every length class, radii up to and past half the line (where r + 1 is
// limited like r), radii whose three passes at r + 1 span more positions
// than a ring holds (44 and up), the vector lane counts and
// others, mixed or not, faded or not, 16-bit samples with values past 15 bits: the sweep gives the brute
// force of fade, three passes at r (and at r + 1, mixed) on both paths.
TEST(BoxSweep, MatchesBruteForcePassesInPlaceOnBothPaths) {
  unsigned seed = 29;
  for (int n : {1, 2, 3, 9, 16, 17, 40, 131, 300})
    for (int L : {4, 8, 16, 24, 32, 40}) {
      Line input(static_cast<size_t>(n) * L);
      for (int& v : input) v = static_cast<int>(((seed = seed * 1664525u + 1013904223u) >> 8) % 65536);
      if (n > 2) input[L + 1] = 65535;
      for (int radius : {-2, 0, 1, 4, 5, 44, 49, 50, n / 2 - 1, n / 2, n + 3})
        for (int mix = 0; mix < 2; ++mix)
          for (float fade : {1.0f, 0.7f}) {
            const BoxSweep sweep{n, L, radius, mix == 1, 1024 - 300, 300, fade};
            const auto paths = run_on_both_simd_paths([&] {
              Line values = input;
              std::vector<int> scratch(box_sweep_scratch(sweep), -9);
              InPlaceLines lines(values, L);
              box_sweep(sweep, scratch.data(), lines);
              EXPECT_EQ(lines.scattered_, n);
              return values;
            });
            ASSERT_EQ(paths.first, paths.second) << n << " L " << L << " r " << radius;
            const int r1 = radius < n ? radius + 1 : radius;
            for (int l = 0; l < L; ++l) {
              Line line(n);
              for (int i = 0; i < n; ++i) line[i] = static_cast<int>(static_cast<float>(input[i * L + l]) * fade);
              Line a = line, b = line;
              for (int p = 0; p < 3; ++p) {
                a = window_mean(a, radius);
                b = window_mean(b, r1);
              }
              for (int i = 0; i < n; ++i) {
                const int expected = mix ? (724 * a[i] + 300 * b[i]) >> 10 : a[i];
                ASSERT_EQ(paths.second[i * L + l], expected)
                    << "n " << n << " L " << L << " r " << radius << " mix " << mix << " fade " << fade;
              }
            }
          }
    }
}

TEST(BoxSweep, UnusableShapesNeedNothingAndTouchNothing) {
  Line values = {1, 2, 3};
  InPlaceLines lines(values, 1);
  for (const BoxSweep& s : {BoxSweep{0, 1, 2, false, 0, 0, 1.0f}, BoxSweep{3, 0, 2, false, 0, 0, 1.0f},
                            BoxSweep{3, kSweepLanes + 1, 2, false, 0, 0, 1.0f}}) {
    EXPECT_EQ(box_sweep_scratch(s), 0u);
    box_sweep(s, nullptr, lines);
  }
  EXPECT_EQ(values, (Line{1, 2, 3}));
}

// Runs of samples into lanes and back on both kernel copies: lanes past the
// run stay as they were, and the way back keeps the low 16 bits.
TEST(BoxSweep, RunsIntoLanesAndBack) {
  const int count = 11, L = 40;
  for (int samples : {1, 7, 8, 20, 32, 40}) {
    std::vector<std::vector<unsigned short>> runs(count, std::vector<unsigned short>(samples));
    unsigned seed = 3;
    for (auto& run : runs)
      for (unsigned short& v : run) v = static_cast<unsigned short>((seed = seed * 1664525u + 1013904223u) >> 16);
    const auto lanes = run_on_both_simd_paths([&] {
      std::vector<const unsigned short*> from;
      for (auto& run : runs) from.push_back(run.data());
      Line to(static_cast<size_t>(count) * L, -3);
      box_lanes_from_runs(from.data(), count, samples, L, to.data());
      return to;
    });
    ASSERT_EQ(lanes.first, lanes.second);
    for (int i = 0; i < count; ++i)
      for (int k = 0; k < L; ++k) ASSERT_EQ(lanes.second[i * L + k], k < samples ? runs[i][k] : -3) << samples;
    Line values = lanes.second;
    for (int& v : values) v = v * 3 + 65536 * (v % 5) - 70000 * (v % 2);
    const auto back = run_on_both_simd_paths([&] {
      std::vector<std::vector<unsigned short>> out(count, std::vector<unsigned short>(samples + 2, 9));
      std::vector<unsigned short*> to;
      for (auto& run : out) to.push_back(run.data());
      box_lanes_to_runs(values.data(), count, samples, L, to.data());
      return out;
    });
    ASSERT_EQ(back.first, back.second);
    for (int i = 0; i < count; ++i) {
      for (int k = 0; k < samples; ++k)
        ASSERT_EQ(back.second[i][k], static_cast<unsigned short>(values[i * L + k])) << samples;
      EXPECT_EQ(back.second[i][samples], 9);
    }
  }
}

// The divisions of 16-bit sums: the float reciprocal up to kFloatDivisors16
// at the first and last sum of every quotient up to 65535 (the truncated
// product never decreases as the sum grows, so these settle every sum
// between), none past it; the multiply at the largest sums and across the
// whole range of small divisors, for every divisor below the first
// without one; none where the sums pass 32 bits.
TEST(BoxSweep, DivisionsOfSixteenBitSumsAreExact) {
  for (uint32_t d = 3; d <= kFloatDivisors16; d += 2) {
    const BoxDivisor dv = box_divisor(d, 65535);
    ASSERT_GT(dv.reciprocal, 0.0f) << d;
    for (uint32_t q = 0; q <= 65535; ++q) {
      ASSERT_EQ(box_float_divide(q * d, dv), q) << "d " << d;
      ASSERT_EQ(box_float_divide(q * d + d - 1, dv), q) << "d " << d;
    }
  }
  EXPECT_EQ(box_divisor(kFloatDivisors16 + 2, 65535).reciprocal, 0.0f);
  EXPECT_GT(box_divisor(kFloatDivisors16 + 2).reciprocal, 0.0f);
  for (uint32_t d = 3; d < 46665; d += 2) {
    const BoxDivisor dv = box_divisor(d, 65535);
    ASSERT_TRUE(dv.exact) << d;
    const uint64_t top = 65535ull * d;
    for (uint64_t s : {top - d - 1, top - d, top - 1, top})
      ASSERT_EQ(box_divide(static_cast<uint32_t>(s), dv), s / d) << "d " << d << " sum " << s;
  }
  for (uint32_t d = 3; d <= 33; d += 2) {
    const BoxDivisor dv = box_divisor(d, 65535);
    for (uint32_t s = 0; s <= 65535 * d; ++s) ASSERT_EQ(box_divide(s, dv), s / d) << d;
  }
  EXPECT_FALSE(box_divisor(46665, 65535).exact);
  EXPECT_FALSE(box_divisor(65539, 65535).exact);
}

// Windows too wide for the multiply of 16-bit sums (2R + 1 = 46665) divide
// as written, against passes through prefix sums of the clamped line.
TEST(BoxSweep, WindowsWithoutAMultiplierDivideAsWritten) {
  const int n = 50000, L = 8, R = 23332;
  Line input(static_cast<size_t>(n) * L);
  unsigned seed = 41;
  for (int& v : input) v = static_cast<int>(((seed = seed * 1664525u + 1013904223u) >> 8) % 65536);
  Line values = input;
  const BoxSweep sweep{n, L, R, true, 1000, 24, 1.0f};
  std::vector<int> scratch(box_sweep_scratch(sweep));
  InPlaceLines lines(values, L);
  box_sweep(sweep, scratch.data(), lines);
  auto pass = [n](const Line& in, int r) {
    std::vector<int64_t> prefix(n + 2 * r + 2, 0);  // of the line extended by r on each side
    for (int j = 0; j < n + 2 * r + 1; ++j) prefix[j + 1] = prefix[j] + in[std::min(std::max(j - r, 0), n - 1)];
    Line out(n);
    for (int i = 0; i < n; ++i) out[i] = static_cast<int>((prefix[i + 2 * r + 1] - prefix[i]) / (2 * r + 1));
    return out;
  };
  for (int l = 0; l < L; l += 7) {
    Line a(n);
    for (int i = 0; i < n; ++i) a[i] = input[i * L + l];
    Line b = a;
    for (int p = 0; p < 3; ++p) {
      a = pass(a, R);
      b = pass(b, R + 1);
    }
    for (int i = 0; i < n; ++i) ASSERT_EQ(values[i * L + l], (1000 * a[i] + 24 * b[i]) >> 10) << i;
  }
}
