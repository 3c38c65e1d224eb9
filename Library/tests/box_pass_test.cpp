// Repeated box filters of integer lines against a brute-force clamped window
// mean, on both kernel copies, and the frame image's box-pass Gaussian built
// on them.
#include "box_pass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "box_radius.h"
#include "filter_fixture.h"
#include "simd_paths.h"
#include "window_mean.h"

namespace {

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
            const auto paths =
                run_on_both_simd_paths([&] { return run_box_pass(lines, radius, passes, input); });
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

// Rows of pixels into lanes and back, on both kernel copies: every sample
// lands at its lane, lanes past the rows' stay as they were, and the way
// back keeps the low 16 bits.
TEST(BoxPass, RowsIntoLanesAndBack) {
  const int n = 37, L = 40;
  for (int lines : {1, 3, 8, 10}) {
    std::vector<std::vector<unsigned short>> rows(lines, std::vector<unsigned short>(4 * n));
    unsigned seed = 5;
    for (auto& row : rows)
      for (unsigned short& v : row)
        v = static_cast<unsigned short>((seed = seed * 1664525u + 1013904223u) >> 16);
    const auto lanes = run_on_both_simd_paths([&] {
      std::vector<const unsigned short*> from;
      for (auto& row : rows) from.push_back(row.data());
      Line to(static_cast<size_t>(n) * L, -3);
      box_lanes_from_rows(from.data(), lines, n, L, to.data());
      return to;
    });
    ASSERT_EQ(lanes.first, lanes.second);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < L; ++j)
        ASSERT_EQ(lanes.second[i * L + j], j < 4 * lines ? rows[j / 4][4 * i + j % 4] : -3)
            << lines << " " << i;
    Line values = lanes.second;
    for (int& v : values) v = v * 3 + 65536 * (v % 5) - 70000 * (v % 2);
    const auto back = run_on_both_simd_paths([&] {
      std::vector<std::vector<unsigned short>> out(lines + 1, std::vector<unsigned short>(4 * n, 9));
      std::vector<unsigned short*> to;
      for (auto& row : out) to.push_back(row.data());
      box_lanes_to_rows(values.data(), lines, n, L, to.data());
      return out;
    });
    ASSERT_EQ(back.first, back.second);
    for (int q = 0; q < lines; ++q)
      for (int i = 0; i < 4 * n; ++i)
        ASSERT_EQ(back.second[q][i], static_cast<unsigned short>(values[(i / 4) * L + 4 * q + i % 4]));
    EXPECT_EQ(back.second[lines], std::vector<unsigned short>(4 * n, 9));
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

// The float reciprocal: trunc(float(S) * c) never decreases as S grows, so
// the first and last sum of each quotient settle every sum between; every
// divisor that has one is checked at every quotient up to 32767, and the
// first without one has none.
TEST(BoxPass, FloatReciprocalDividesExactlyUpToTheLargestSums) {
  for (uint32_t d = 3; d <= kFloatDivisors; d += 2) {
    const BoxDivisor dv = box_divisor(d);
    ASSERT_GT(dv.reciprocal, 0.0f) << d;
    for (uint32_t q = 0; q <= 32767; ++q) {
      ASSERT_EQ(box_float_divide(q * d, dv), q) << "d " << d;
      if (q < 32767) {
        ASSERT_EQ(box_float_divide(q * d + d - 1, dv), q) << "d " << d;
      }
    }
  }
  EXPECT_EQ(box_divisor(kFloatDivisors + 2).reciprocal, 0.0f);
  EXPECT_EQ(box_divisor(1).reciprocal, 0.0f);
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

namespace {

typedef FilterTest BoxGaussTest;

// Three brute-force passes at `radius`.
Line three_means(Line line, int radius) {
  for (int p = 0; p < 3; ++p) line = window_mean(line, radius);
  return line;
}

// What the box-pass Gaussian makes of one line, from the brute force.
Line box_gauss_reference(const Line& line, int r, int w0, int w1) {
  const Line a = three_means(line, r);
  if (w0 + w1 == 0) return a;
  const Line b = three_means(line, r + 1);
  Line out(line.size());
  for (size_t i = 0; i < line.size(); ++i) out[i] = (w0 * a[i] + w1 * b[i]) >> 10;
  return out;
}

}  // namespace

TEST_F(BoxGaussTest, RadiusSplitsIntoTwoWholeRadiiAndWeights) {
  struct Case {
    double radius;
    int n;
    BoxRadius expected;
  };
  const Case cases[] = {{2.5, 40, {2, true, 512, 512}},  {2.005f, 40, {2, false, 0, 0}},
                        {2.02, 40, {2, true, 1004, 20}}, {7.0, 40, {7, false, 0, 0}},
                        {30.7, 40, {20, false, 0, 0}},   {5.6, 11, {5, false, 0, 0}},
                        {4.75, 11, {4, true, 256, 768}}, {-3.0, 10, {0, false, 0, 0}},
                        {0.4, 1, {0, false, 0, 0}},      {2.9999999999, 40, {3, false, 0, 0}}};
  for (const Case& c : cases) {
    const BoxRadius b = box_radius_of(c.radius, c.n);
    EXPECT_EQ(b.r, c.expected.r) << c.radius;
    EXPECT_EQ(b.blend, c.expected.blend) << c.radius;
    EXPECT_EQ(b.w0, c.expected.w0) << c.radius;
    EXPECT_EQ(b.w1, c.expected.w1) << c.radius;
  }
}

// Rows and columns of the image, every channel, against three brute-force
// window means at r and at r + 1 mixed by the weights: radius 2.5 mixes 2 and
// 3 half and half, 2.005 takes 2 alone, and radii past half a line are
// limited to it.
TEST_F(BoxGaussTest, RowsAndColumnsMatchBruteForcePasses) {
  Image input = new_image(40, 23);
  fill_noise(*input, 21);
  for (float radius : {2.5f, 2.005f, 6.3f, 11.9f, 25.0f, 0.0f})
    for (int direction : {0, 1}) {
      Image out = copy_image(*input);
      out->Box_GaussianBlur(radius, nullptr, direction, 1);
      const int n = direction == 0 ? 40 : 23;
      const BoxRadius b = box_radius_of(radius, n);
      for (int line = 0; line < (direction == 0 ? 23 : 40); ++line)
        for (int c = 0; c < 4; ++c) {
          Line in(n);
          for (int i = 0; i < n; ++i)
            in[i] = channel_value(direction == 0 ? input->rows[line][i] : input->rows[i][line], c);
          const Line expected = box_gauss_reference(in, b.r, b.w0, b.w1);
          for (int i = 0; i < n; ++i)
            ASSERT_EQ(channel_value(direction == 0 ? out->rows[line][i] : out->rows[i][line], c), expected[i])
                << "radius " << radius << " direction " << direction << " line " << line << " at " << i;
        }
    }
}

TEST_F(BoxGaussTest, FlatStaysFlatAndChannelsAreKeptAsAsked) {
  Image flat = new_image(33, 18);
  flat->Fill(32767, 0, 4321, 77);
  Image blurred = copy_image(*flat);
  blurred->Box_GaussianBlur(4.4f, nullptr, 2, 1);
  EXPECT_TRUE(same_pixels(*blurred, *flat));

  Image source = new_image(33, 18), target = new_image(33, 18);
  fill_noise(*source, 22);
  fill_noise(*target, 23);
  Image rgba = copy_image(*target), rgb = copy_image(*target);
  rgba->Box_GaussianBlur(3.3f, source.get(), 2, 1);
  rgb->Box_GaussianBlur(3.3f, source.get(), 2, 0);
  for (int keep : {0, 1}) {
    Image green = copy_image(*target);
    green->Box_GaussianBlur_Channel(3.3f, source.get(), 2, 1, keep);
    for (int y = 0; y < 18; ++y)
      for (int x = 0; x < 33; ++x) {
        const PixelQ4 &s = source->rows[y][x], &t = target->rows[y][x], &g = green->rows[y][x];
        const PixelQ4 &all = rgba->rows[y][x], &three = rgb->rows[y][x];
        ASSERT_TRUE(same_pixel(three, PixelQ4{all.r, all.g, all.b, t.a}));
        ASSERT_EQ(g.g, all.g);
        ASSERT_TRUE(
            same_pixel(PixelQ4{g.r, 0, g.b, g.a}, keep ? PixelQ4{s.r, 0, s.b, s.a} : PixelQ4{0, 0, 0, 0}));
      }
  }
  Image untouched = copy_image(*target);
  untouched->BoxBlur(5.0f, 5.0f);
  untouched->Box_GaussianBlur(3.3f, source.get(), 7, 1);
  untouched->Box_GaussianBlur_Channel(3.3f, nullptr, 2, 9, 1);
  EXPECT_TRUE(same_pixels(*untouched, *target));
}
