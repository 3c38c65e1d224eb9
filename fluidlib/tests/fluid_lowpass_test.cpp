#include <algorithm>
#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "failing_heap.h"
#include "fluid_test_support.h"
#include "simd_paths.h"

namespace {

std::vector<float> random_values(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> d(-1.0f, 1.0f);
  std::vector<float> v(n);
  for (float& x : v) x = d(gen);
  return v;
}

// Three passes of a clamped window mean, summed plainly in double.
std::vector<double> naive_box(std::vector<double> line, int radius) {
  const int n = static_cast<int>(line.size());
  const int r = std::min(radius, n / 2);
  for (int pass = 0; pass < 3; ++pass) {
    std::vector<double> out(n);
    for (int i = 0; i < n; ++i) {
      double sum = 0;
      for (int k = -r; k <= r; ++k) sum += line[std::clamp(i + k, 0, n - 1)];
      out[i] = sum / (2 * r + 1);
    }
    line.swap(out);
  }
  return line;
}

// One line filtered with a fractional radius: the two neighbouring integer
// radii blended when the fraction exceeds 0.01.
std::vector<double> naive_blend(const std::vector<double>& line, double radius) {
  const double R = std::min(radius, static_cast<double>(line.size() / 2));
  const int ri = static_cast<int>(std::floor(R));
  const double f = R - ri;
  auto a = naive_box(line, ri);
  if (f <= 0.01) return a;
  const auto b = naive_box(line, ri + 1);
  for (size_t i = 0; i < a.size(); ++i) a[i] = (1 - f) * a[i] + f * b[i];
  return a;
}

// Rows, then columns.
std::vector<double> naive_blend_2d(const std::vector<float>& src, int w, int h, double radius) {
  std::vector<double> grid(src.begin(), src.end());
  for (int j = 0; j < h; ++j) {
    std::vector<double> row(w);
    for (int i = 0; i < w; ++i) row[i] = grid[j * w + i];
    row = naive_blend(row, radius);
    for (int i = 0; i < w; ++i) grid[j * w + i] = row[i];
  }
  for (int i = 0; i < w; ++i) {
    std::vector<double> column(h);
    for (int j = 0; j < h; ++j) column[j] = grid[j * w + i];
    column = naive_blend(column, radius);
    for (int j = 0; j < h; ++j) grid[j * w + i] = column[j];
  }
  return grid;
}

}  // namespace

TEST(FluidLowpass, BoxCoreMatchesAClampedWindowForEveryRadius) {
  for (int n : {1, 2, 7, 16}) {
    const auto line = random_values(n, n);
    for (int r = 0; r <= n / 2 + 3; ++r) {
      std::vector<float> buf(line), out(n);
      FluidFlowCore::mp_DIRECT_box_lowpass_core(r, 3, n, buf.data(), out.data());
      const auto want = naive_box(std::vector<double>(line.begin(), line.end()), r);
      for (int i = 0; i < n; ++i) ASSERT_NEAR(out[i], want[i], 1e-5) << n << " r " << r << " at " << i;
    }
  }
  std::vector<float> constant(9, 0.3f), out(9);
  FluidFlowCore::mp_DIRECT_box_lowpass_core(2, 3, 9, constant.data(), out.data());
  for (float v : out) EXPECT_FLOAT_EQ(v, 0.3f);
}

TEST(FluidLowpass, FractionalRadiiBlendTheNeighbouringIntegers) {
  const int w = 12, h = 9;
  const auto src = random_values(w * h, 4);
  FluidFlowCore s(8, 8, 2, 0, 0);
  // The radius given is four times the box radius: 10 is 2.5, the mean of
  // radii 2 and 3; 8.02 is 2.005, radius 2 alone; 0.2 blends 0 and 1.
  for (float radius : {10.0f, 8.02f, 8.0f, 9.0f, 0.2f, 30.0f}) {
    std::vector<float> in(src), tmp(w * h), dst(w * h);
    s.DIRECT_diffuse_lowpass(in.data(), tmp.data(), dst.data(), w, h, radius);
    const auto want = naive_blend_2d(src, w, h, 0.25 * radius);
    for (int k = 0; k < w * h; ++k) ASSERT_NEAR(dst[k], want[k], 1e-5) << radius << " at " << k;
  }
  // Along one axis the blend is exact: 2.5 is the mean of radii 2 and 3.
  std::vector<float> row(src.begin(), src.begin() + w), tmp(w), dst(w);
  s.DIRECT_diffuse_lowpass(row.data(), tmp.data(), dst.data(), w, 1, 10.0f);
  const auto a = naive_box(std::vector<double>(row.begin(), row.end()), 2);
  const auto b = naive_box(std::vector<double>(row.begin(), row.end()), 3);
  for (int i = 0; i < w; ++i) EXPECT_NEAR(dst[i], 0.5 * (a[i] + b[i]), 1e-5);
}

TEST(FluidLowpass, BandsGiveTheSameBitsAndAFailedScratchCopiesThrough) {
  const int w = 37, h = 29;
  const auto src = random_values(w * h, 8);
  FluidFlowCore serial(8, 8, 2, 0, 0);
  std::vector<float> tmp(w * h), want(w * h);
  std::vector<float> in(src);
  serial.DIRECT_diffuse_lowpass(in.data(), tmp.data(), want.data(), w, h, 13.7f);
  ThreadBandExecutor one(1), three(3), eight(8), uneven(5, true);
  EmptyBandExecutor empty(4);
  const std::pair<void*, mp_exec_fn> executors[] = {{&one, ThreadBandExecutor::exec},
                                                    {&three, ThreadBandExecutor::exec},
                                                    {&eight, ThreadBandExecutor::exec},
                                                    {&uneven, ThreadBandExecutor::exec},
                                                    {&empty, EmptyBandExecutor::exec}};
  for (const auto& e : executors) {
    FluidFlowCore s(8, 8, 2, 0, 0);
    s.set_mp_exec(e.first, e.second);
    std::vector<float> dst(w * h);
    s.DIRECT_diffuse_lowpass(in.data(), tmp.data(), dst.data(), w, h, 13.7f);
    EXPECT_TRUE(same_bits(dst, want));
  }
  // A radius that is not a number filters with radius 0: the grid as it was.
  std::vector<float> same(w * h);
  serial.DIRECT_diffuse_lowpass(in.data(), tmp.data(), same.data(), w, h, NAN);
  EXPECT_TRUE(same_bits(same, src));
  std::vector<float> dst(w * h);
  {
    FailingHeap heap(0);
    serial.DIRECT_diffuse_lowpass(in.data(), tmp.data(), dst.data(), w, h, 13.7f);
  }
  EXPECT_TRUE(same_bits(dst, src));
}

TEST(FluidLowpass, VariableGaussianFollowsTheControlField) {
  const int w = 10, h = 8;  // a DIRECT-sized block of 8 x 6 cells
  const auto src = random_values(w * h, 12);
  FluidFlowCore s(8, 6, 2, 0, 0);
  ScalarField control(8, 6, 2);
  // Reference: the Gaussian whose size is three standard deviations, every
  // tap of its window summed plainly onto the sample it clamps to. The
  // Gaussian is the product of one per axis, so the window's weight on a
  // sample is too.
  auto naive = [&](int r, int c, double sigma) {
    const int R = static_cast<int>(std::ceil(sigma));
    const double var = (sigma / 3) * (sigma / 3);
    std::vector<double> wx(w), wy(h);
    for (int d = -R; d <= R; ++d) {
      wx[std::clamp(c + d, 0, w - 1)] += std::exp(-d * d / (2 * var));
      wy[std::clamp(r + d, 0, h - 1)] += std::exp(-d * d / (2 * var));
    }
    double sum = 0, total = 0;
    for (int i = 0; i < h; ++i)
      for (int j = 0; j < w; ++j) sum += wy[i] * wx[j] * src[i * w + j], total += wy[i] * wx[j];
    return sum / total;
  };
  // The control holds `left` in cell columns 0-4 and `right` in 5-9. Image
  // column c samples it at 1 + 8 (c - 1) / 9: columns 0-4 at 0.1 to 3.7, all
  // left; 6-9 at 5.4 to 9, all right; column 5 at 4.56, where a step from
  // -1000 to 1000 has reached 111: right too, once clamped to hi. Each size
  // is worked by hand.
  struct Case {
    float lo, hi, rmin, rmax, left, right;
    double sigma_left, sigma_right;
  } cases[] = {{0, 1, 1, 3, -1e3f, 1e3f, 1, 3},                    // clamped to lo and hi: rmin and rmax
               {0.2f, 0.6f, 1.5f, 2.5f, 0.5f, 0.5f, 2.25, 2.25},  // (0.5 - 0.2) / 0.4 = 3/4 of the way
               {0.5f, 0.5f, 2, 9, -1e3f, 1e3f, 2, 2},             // equal bounds leave no range: rmin
               {0, 1, 0.2f, 0.6f, 0.5f, 0.5f, 1, 1},              // 0.4, raised to the narrowest window
               // Windows far wider than the grid: summed taps, then the closed form.
               {0, 1, 1, 600, -1e3f, 1e3f, 1, 600},
               {0, 1, 1e4f, 1e4f, 0.5f, 0.5f, 4096, 4096},  // lowered to the widest window
               {0.5f, 0.5f, INFINITY, 0, 0.5f, 0.5f, 4096, 4096},
               // inf - inf, from an infinite step or viscosity: the widest window.
               {0, 1, NAN, NAN, 0.5f, 0.5f, 4096, 4096},
               {0, 1, INFINITY, 1, -1e3f, 1e3f, 4096, 4096}};
  for (const Case& c : cases) {
    for (int j = 0; j < 8; ++j)
      for (int i = 0; i < 10; ++i) at(&control, i, j) = i <= 4 ? c.left : c.right;
    const auto paths = run_on_both_simd_paths([&] {
      std::vector<float> dst(w * h);
      s.DIRECT_diffuse_variable_lowpass(&control, const_cast<float*>(src.data()), dst.data(), w, h, c.lo, c.hi, c.rmin,
                                        c.rmax);
      return dst;
    });
    EXPECT_TRUE(same_bits(paths.first, paths.second));
    for (int k = 0; k < w * h; ++k)
      ASSERT_NEAR(paths.second[k], naive(k / w, k % w, k % w < 5 ? c.sigma_left : c.sigma_right), 1e-5)
          << c.lo << " " << c.hi << " " << c.rmin << " " << c.rmax << " at " << k;
  }
}

TEST(FluidLowpass, VariableGaussianHearsAnAbortWithinARowAndCopiesThroughWithoutScratch) {
  const int w = 1000, h = 3;
  const auto src = random_values(w * h, 3);
  FluidFlowCore s(8, 8, 2, 0, 0);
  ScalarField control(8, 8, 2);
  StopAfter stop{1};
  s.set_mp_exec(&stop, StopAfter::exec);
  s.set_abort_test(&stop, StopAfter::test);
  std::vector<float> dst(w * h, NAN);
  s.DIRECT_diffuse_variable_lowpass(&control, const_cast<float*>(src.data()), dst.data(), w, h, 0, 1, 30, 30);
  const auto done = std::count_if(dst.begin(), dst.end(), [](float v) { return !std::isnan(v); });
  EXPECT_GT(done, 0);
  EXPECT_LT(done, w / 2);  // a row of these windows is too long to go unheard
  stop.allowed = 1 << 30;
  {
    FailingHeap heap(0);
    s.DIRECT_diffuse_variable_lowpass(&control, const_cast<float*>(src.data()), dst.data(), w, h, 0, 1, 30, 30);
  }
  EXPECT_TRUE(same_bits(dst, src));
}
