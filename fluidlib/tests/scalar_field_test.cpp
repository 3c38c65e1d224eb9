#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "failing_heap.h"
#include "fft_convolver.h"
#include "fluid_test_support.h"
#include "scalar_field.h"

namespace {

void fill_random(ScalarField& f, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> d(-1.0f, 1.0f);
  const int n = field_cell_count(f.method, f.nx, f.ny);
  for (int k = 0; k < n; ++k) f.data[k] = d(gen);
}

// The interpolation rules, written out plainly in double.
double ref_hermite(double t, double m, double a, double b, double c) {
  return (2 * t * t * t - 3 * t * t + 1) * a + (3 * t * t - 2 * t * t * t) * b + (t * t * t - 2 * t * t + t) * 0.5 * (b - m) +
         (t * t * t - t * t) * 0.5 * (c - a);
}

double ref_evaluate(ScalarField& f, double x, double y, bool cubic) {
  const bool fft = f.method == FIELD_FFT;
  auto axis = [&](double p, int n, int& m, int& a, int& b, int& c, double& t) {
    if (fft) {
      const double base = std::floor(p);
      t = p - base;
      a = static_cast<int>(std::clamp(base, 0.0, n - 1.0));
      b = static_cast<int>(std::clamp(base + 1, 0.0, n - 1.0));
      c = (a + 2) % n;
      m = a == 0 ? n - 1 : a - 1;
    } else {
      const double pc = p < 0 ? 0 : std::min(p, static_cast<double>(static_cast<float>(n) + 0.999f));
      a = static_cast<int>(pc);
      b = a + 1;
      t = static_cast<float>(pc) - a;
      c = std::min(a + 2, n + 1);
      m = std::max(a - 1, 0);
    }
  };
  int xm, xa, xb, xc, ym, ya, yb, yc;
  double tx, ty;
  axis(x, f.nx, xm, xa, xb, xc, tx);
  axis(y, f.ny, ym, ya, yb, yc, ty);
  auto v = [&](int i, int j) { return static_cast<double>(at(&f, i, j)); };
  if (!cubic)
    return (1 - tx) * ((1 - ty) * v(xa, ya) + ty * v(xa, yb)) + tx * ((1 - ty) * v(xb, ya) + ty * v(xb, yb));
  double r[4];
  const int rows[4] = {ym, ya, yb, yc};
  for (int k = 0; k < 4; ++k) r[k] = ref_hermite(tx, v(xm, rows[k]), v(xa, rows[k]), v(xb, rows[k]), v(xc, rows[k]));
  return ref_hermite(ty, r[0], r[1], r[2], r[3]);
}

}  // namespace

TEST(ScalarField, SizesLayoutsAndBounds) {
  struct Case {
    int nx, ny, method;
    int want_nx, want_ny, cells;
    int x0, x1, gx;
  } cases[] = {
      {4, 3, 1, 4, 3, 12, 0, 4, 0},
      {4, 3, 2, 4, 3, 30, 1, 5, 1},
      {0, -3, 2, 1, 1, 9, 1, 2, 1},
      {4, 3, 7, 4, 3, 0, -9, -9, -9},
  };
  for (const Case& c : cases) {
    ScalarField f(c.nx, c.ny, c.method);
    EXPECT_EQ(f.nx, c.want_nx);
    EXPECT_EQ(f.ny, c.want_ny);
    EXPECT_EQ(field_cell_count(f.method, f.nx, f.ny), c.cells);
    EXPECT_EQ(f.has_storage(), c.cells > 0);
    int x0 = -9, x1 = -9, gx = -9, y0 = -9, y1 = -9, gy = -9;
    f.get_bounds(x0, x1, gx, y0, y1, gy);
    EXPECT_EQ(x0, c.x0);
    EXPECT_EQ(x1, c.x1);
    EXPECT_EQ(gx, c.gx);
    float dx, dy;
    f.get_steps(dx, dy);
    EXPECT_FLOAT_EQ(dx, 1.0f / c.want_nx);
    EXPECT_FLOAT_EQ(dy, 1.0f / c.want_ny);
    for (int k = 0; k < c.cells; ++k) ASSERT_EQ(f.data[k], 0.0f);
  }
  // A grid whose block cannot be sized gets no storage rather than a short one.
  ScalarField huge(70000, 70000, 2);
  EXPECT_FALSE(huge.has_storage());
}

TEST(ScalarField, LabelKeepsAtMost127Characters) {
  ScalarField f(2, 2, 2);
  EXPECT_STREQ(f.get_label(), "");
  const std::string longer(200, 'x');
  f.set_label(longer.c_str());
  EXPECT_EQ(std::string(f.get_label()), std::string(127, 'x'));
  f.set_label("density");
  EXPECT_STREQ(f.get_label(), "density");
}

TEST(ScalarField, RectanglesAreOrderedAndClampedIntoTheStorage) {
  struct Case {
    int method, x0, y0, x1, y1;
    int want_x0, want_y0, want_x1, want_y1;
  } cases[] = {
      {2, 1, 1, 2, 2, 1, 1, 2, 2},
      {2, 2, 3, 1, 1, 1, 1, 2, 3},        // reversed pairs
      {2, -5, -1, 100, 100, 0, 0, 5, 4},  // the ghost ring can be painted
      {1, -5, -1, 100, 100, 0, 0, 3, 2},
      {1, 3, 2, 3, 2, 3, 2, 3, 2},
  };
  for (const Case& c : cases) {
    ScalarField f(4, 3, c.method);
    f.set_rectangle(c.x0, c.y0, c.x1, c.y1, 7.0f);
    const int w = f.stride(), h = field_rows(c.method, 3);
    for (int j = 0; j < h; ++j)
      for (int i = 0; i < w; ++i) {
        const bool inside = i >= c.want_x0 && i <= c.want_x1 && j >= c.want_y0 && j <= c.want_y1;
        ASSERT_EQ(at(&f, i, j), inside ? 7.0f : 0.0f) << c.x0 << "," << c.y0 << " cell " << i << "," << j;
      }
  }
}

TEST(ScalarField, SetAddAndCopyCoverTheWholeStorage) {
  ScalarField a(3, 2, 2), b(3, 2, 2), other(2, 3, 2);
  a.set(2.0f);
  a.add(0.5f);
  for (float v : cells_of(&a)) ASSERT_EQ(v, 2.5f);
  EXPECT_TRUE(b.copy(&a));
  EXPECT_EQ(cells_of(&b), cells_of(&a));
  EXPECT_FALSE(other.copy(&a));
  EXPECT_FALSE(a.copy(nullptr));
}

TEST(ScalarField, EvaluateFollowsTheLayoutRules) {
  for (int method : {1, 2}) {
    ScalarField f(6, 5, method);
    fill_random(f, 7 + method);
    std::mt19937 gen(3);
    std::uniform_real_distribution<float> pos(-2.0f, 9.0f);
    for (int k = 0; k < 400; ++k) {
      const float x = pos(gen), y = pos(gen);
      for (bool cubic : {false, true}) {
        float out;
        ASSERT_TRUE(f.evaluate(x, y, out, cubic, false, 0, 0));
        EXPECT_NEAR(out, ref_evaluate(f, x, y, cubic), 2e-5) << method << " " << x << "," << y << " " << cubic;
      }
    }
  }
  // Named edge cases: FFT x = -0.3 uses column 0 twice; x >= nx uses the last
  // column twice; DIRECT x = nx + 5 reads columns nx and nx + 1 at 0.999.
  ScalarField fft(4, 1, 1);
  for (int i = 0; i < 4; ++i) at(&fft, i, 0) = static_cast<float>(i + 1);
  float out;
  fft.evaluate(-0.3f, 0.0f, out, false, false, 0, 0);
  EXPECT_FLOAT_EQ(out, 1.0f);
  fft.evaluate(7.0f, 0.0f, out, false, false, 0, 0);
  EXPECT_FLOAT_EQ(out, 4.0f);
  ScalarField direct(4, 1, 2);
  at(&direct, 4, 1) = 1.0f;
  at(&direct, 5, 1) = 2.0f;
  direct.evaluate(9.0f, 1.0f, out, false, false, 0, 0);
  EXPECT_FLOAT_EQ(out, 1.0f + (4.999f - 4.0f));
  // Cubic wraps only its outer taps in the FFT layout: at i0 = 0 the left tap
  // is the last column.
  ScalarField wrap(4, 1, 1);
  at(&wrap, 3, 0) = 1.0f;
  wrap.evaluate(0.5f, 0.0f, out, true, false, 0, 0);
  EXPECT_NEAR(out, ref_hermite(0.5, 1, 0, 0, 0), 1e-7);
  EXPECT_NE(out, 0.0f);
  // The clamp flag bounds the value.
  direct.evaluate(5.0f, 1.0f, out, false, true, 0.0f, 1.5f);
  EXPECT_EQ(out, 1.5f);
  direct.evaluate(0.0f, 1.0f, out, false, true, 0.25f, 1.5f);
  EXPECT_EQ(out, 0.25f);
  // The normalised form maps 0..1 onto n x + 1 in both layouts.
  float a, b;
  direct.evaluate_at_normalized_pos(0.75f, 0.0f, a, false, false, 0, 0);
  direct.evaluate(4.0f, 1.0f, b, false, false, 0, 0);
  EXPECT_EQ(a, b);
}

TEST(ScalarField, EvaluateStaysInsideTheStorageForAnyPosition) {
  for (int method : {1, 2}) {
    ScalarField f(3, 3, method);
    f.set(1.0f);
    const float far[] = {NAN, INFINITY, -INFINITY, 1e30f, -1e30f, 2.5e9f};
    for (float x : far)
      for (float y : far)
        for (bool cubic : {false, true}) {
          float out = 0.0f;
          EXPECT_TRUE(f.evaluate(x, y, out, cubic, false, 0, 0));
          if (std::isfinite(x) && std::isfinite(y)) {
            EXPECT_NEAR(out, 1.0f, 1e-6);
          }
        }
  }
}

TEST(ScalarField, NormalizeRangeAndFieldArithmetic) {
  ScalarField f(3, 2, 2);
  f.set(-7.0f);  // the ghost ring stays out of the range and the rescale
  const float interior[] = {2, 4, 6, 3, 5, 8};
  for (int k = 0; k < 6; ++k) at(&f, 1 + k % 3, 1 + k / 3) = interior[k];
  float lo = 0, hi = 0;
  f.normalize(&lo, &hi);
  EXPECT_EQ(lo, 2.0f);
  EXPECT_EQ(hi, 8.0f);
  for (int k = 0; k < 6; ++k)
    EXPECT_FLOAT_EQ(at(&f, 1 + k % 3, 1 + k / 3), (interior[k] - 2.0f) / (6.0f + 1e-7f));
  EXPECT_EQ(at(&f, 0, 0), -7.0f);
  f.get_range(lo, hi);  // every stored cell
  EXPECT_EQ(lo, -7.0f);
  EXPECT_FLOAT_EQ(hi, 1.0f);

  ScalarField a(2, 2, 2), b(2, 2, 2), small(1, 2, 2);
  a.set(3.0f);
  b.set(2.0f);
  at(&b, 1, 1) = 1e-8f;  // exactly the threshold: not marked
  at(&b, 2, 2) = 0.0f;
  EXPECT_TRUE(a.multiply_field(&b));
  EXPECT_EQ(at(&a, 2, 1), 6.0f);
  EXPECT_EQ(at(&a, 0, 0), 3.0f);  // ghost untouched
  EXPECT_TRUE(a.add_field(&b, 0.5f));
  EXPECT_EQ(at(&a, 2, 1), 7.0f);
  EXPECT_TRUE(a.add_time_field(&b, -4.0f));
  EXPECT_EQ(at(&a, 2, 1), -4.0f);
  EXPECT_EQ(at(&a, 1, 1), 3.0f * 1e-8f + 0.5f * 1e-8f);
  EXPECT_EQ(at(&a, 2, 2), 0.0f);
  EXPECT_FALSE(a.multiply_field(&small));
  EXPECT_FALSE(a.add_field(&small, 1.0f));
  EXPECT_FALSE(a.add_time_field(&small, 1.0f));
}

TEST(ScalarField, DumpWritesEveryStoredCell) {
  ScalarField f(2, 1, 2);
  at(&f, 1, 1) = 0.5f;
  const std::string path = (std::filesystem::temp_directory_path() / "scalar_field_dump.txt").string();
  ASSERT_TRUE(f.dump(path.c_str()));
  std::ifstream in(path);
  std::string line;
  std::vector<std::string> lines;
  while (std::getline(in, line)) lines.push_back(line);
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[0], "    0     0 0.000000");
  EXPECT_EQ(lines[5], "    1     1 0.500000");
  std::filesystem::remove(path);
  EXPECT_FALSE(f.dump("/nonexistent-folder/dump.txt"));
}

TEST(ScalarField, TransformsRoundTripAndRefuseWhatTheyCannotTransform) {
  FFTConvolver conv;
  ScalarField f(16, 16, 1);
  fill_random(f, 11);
  const auto before = cells_of(&f);
  double sum = 0;
  for (float v : before) sum += v;
  ASSERT_TRUE(f.forward_FFT(&conv));
  EXPECT_EQ(f.spectrum_width, 16);
  EXPECT_NEAR(f.spectrum[0].re, sum, 1e-4);  // the mean term holds the sum
  f.set(0.0f);
  ASSERT_TRUE(f.inverse_FFT(&conv));
  const auto after = cells_of(&f);
  for (size_t k = 0; k < before.size(); ++k) ASSERT_NEAR(after[k], before[k], 1e-5);

  // An 8 x 16 field would be transformed as 8 x 8 over a block of 8 x 16.
  ScalarField wide(8, 16, 1), direct(16, 16, 2), odd(12, 12, 1);
  EXPECT_FALSE(wide.forward_FFT(&conv));
  EXPECT_FALSE(direct.forward_FFT(&conv));
  EXPECT_FALSE(odd.forward_FFT(&conv));
  EXPECT_FALSE(f.forward_FFT(nullptr));
  ScalarField fresh(16, 16, 1);
  EXPECT_FALSE(fresh.inverse_FFT(&conv));  // no spectrum yet
  {
    FailingHeap heap(0, FailingHeap::image);
    EXPECT_FALSE(fresh.forward_FFT(&conv));
  }
  EXPECT_EQ(fresh.spectrum, nullptr);
  EXPECT_EQ(fresh.spectrum_width, -1);
  // A transform the service could not run is not reported as done.
  FFTConvolver starved;
  {
    FailingHeap heap(0);
    EXPECT_FALSE(fresh.forward_FFT(&starved));
  }
}

TEST(ScalarField, WithoutStorageNothingIsReadOrWritten) {
  FailingHeap heap(0, FailingHeap::image);
  ScalarField f(4, 4, 2), g(4, 4, 2);
  EXPECT_FALSE(f.has_storage());
  f.set(1.0f);
  f.add(1.0f);
  f.set_rectangle(0, 0, 3, 3, 1.0f);
  float out = 5.0f, lo = 5.0f, hi = 5.0f;
  EXPECT_FALSE(f.evaluate(1.0f, 1.0f, out, false, false, 0, 0));
  EXPECT_EQ(out, 0.0f);
  f.normalize(&lo, &hi);
  EXPECT_EQ(lo, 5.0f);
  f.get_range(lo, hi);
  EXPECT_EQ(lo, 0.0f);
  EXPECT_FALSE(f.copy(&g));
  EXPECT_FALSE(f.add_field(&g, 1.0f));
  EXPECT_FALSE(f.dump("unused.txt"));
}
