#include <algorithm>
#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "failing_heap.h"
#include "fft_convolver.h"
#include "fluid_test_support.h"
#include "krvft.h"
#include "mtrandom.h"
#include "vector_field.h"

namespace {

void fill_random(VectorField& f, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> d(-1.0f, 1.0f);
  for (int k = 0; k < f.cell_count(); ++k) {
    f.u[k] = d(gen);
    f.v[k] = d(gen);
  }
}

}  // namespace

TEST(VectorField, StorageIsBothComponentsOrNeither) {
  VectorField f(4, 3, 2);
  EXPECT_TRUE(f.has_storage());
  EXPECT_EQ(f.cell_count(), 30);
  for (int grants : {0, 1}) {
    FailingHeap heap(grants, FailingHeap::image);
    VectorField g(4, 3, 2);
    EXPECT_FALSE(g.has_storage());
    EXPECT_EQ(g.u, nullptr);
    EXPECT_EQ(g.v, nullptr);
    g.set(1, 1);
    g.add_rectangle(0, 0, 3, 3, 1, 1);
    g.add_vortex(1, 2, 2, 3, 1);
    g.add_random_vector_rectangle(0, 0, 3, 3, 1);
    float u = 9, v = 9;
    EXPECT_FALSE(g.evaluate(1, 1, u, v, false));
    EXPECT_EQ(u, 0.0f);
  }
}

TEST(VectorField, RectangleModesSetNegateOrLeaveAlone) {
  struct Case {
    int mode;
    float u, v;  // expected at a cell that held (2, 3), painted with (5, 7)
  } cases[] = {{0, 2, 3}, {1, 5, 7}, {2, 5, 3}, {3, 2, 7}, {4, -2, -3}, {5, -2, 3}, {6, 2, -3}, {7, 2, 3}, {-1, 2, 3}};
  for (const Case& c : cases) {
    VectorField f(4, 4, 2);
    f.set(2, 3);
    f.set_rectangle(3, 2, 1, 1, 5, 7, c.mode);  // x pair given reversed
    for (int j = 0; j < 6; ++j)
      for (int i = 0; i < 6; ++i) {
        const bool inside = i >= 1 && i <= 3 && j >= 1 && j <= 2;
        ASSERT_EQ(at_u(&f, i, j), inside ? c.u : 2.0f) << c.mode;
        ASSERT_EQ(at_v(&f, i, j), inside ? c.v : 3.0f) << c.mode;
      }
  }
  VectorField f(5, 5, 1);
  fill_random(f, 3);
  const auto before = cells_of(&f);
  f.set_rectangle(-3, -3, 40, 40, 0, 0, 4);
  f.set_rectangle(-3, -3, 40, 40, 0, 0, 4);
  EXPECT_TRUE(same_bits(cells_of(&f), before));
  f.add_rectangle(4, 4, 9, 9, 1.0f, -1.0f);  // clamped to the last cell
  EXPECT_EQ(at_u(&f, 4, 4), before[24] + 1.0f);
  EXPECT_EQ(at_u(&f, 3, 4), before[23]);
}

TEST(VectorField, ContinuityBoundariesCopyNeighboursAndAverageCorners) {
  VectorField f(3, 2, 2);
  fill_random(f, 5);
  f.set_continuity_boundaries();
  for (float* c : {f.u, f.v}) {
    auto a = [&](int i, int j) { return c[j * 5 + i]; };
    for (int i = 1; i <= 3; ++i) {
      EXPECT_EQ(a(i, 0), a(i, 1));
      EXPECT_EQ(a(i, 3), a(i, 2));
    }
    for (int j = 1; j <= 2; ++j) {
      EXPECT_EQ(a(0, j), a(1, j));
      EXPECT_EQ(a(4, j), a(3, j));
    }
    EXPECT_EQ(a(0, 0), 0.5f * (a(0, 1) + a(1, 0)));
    EXPECT_EQ(a(0, 3), 0.5f * (a(0, 2) + a(1, 3)));
    EXPECT_EQ(a(4, 0), 0.5f * (a(4, 1) + a(3, 0)));
    EXPECT_EQ(a(4, 3), 0.5f * (a(4, 2) + a(3, 3)));
  }
  VectorField fft(3, 2, 1);  // no ghost ring: nothing to fill
  fill_random(fft, 5);
  const auto before = cells_of(&fft);
  fft.set_continuity_boundaries();
  EXPECT_TRUE(same_bits(cells_of(&fft), before));
}

TEST(VectorField, ShapePaintersAddTheirFormulas) {
  // Reference values at a few cells, by hand from the formulas.
  VectorField f(8, 8, 2);
  f.add_vortex(2.0f, 4.0f, 4.0f, 5.0f, 1.0f);
  // Cell (7, 4): dx = 3, dy = 0, r = 3, f = 1 - 3/5 = 0.4: v += 2 * 0.4 * 3/3.
  EXPECT_FLOAT_EQ(at_v(&f, 7, 4), 0.8f);
  EXPECT_FLOAT_EQ(at_u(&f, 7, 4), 0.0f);
  // Cell (4, 6): dx = 0, dy = 2: u -= 2 * 0.6 * 2/2.
  EXPECT_FLOAT_EQ(at_u(&f, 4, 6), -1.2f);
  EXPECT_EQ(at_u(&f, 4, 4), 0.0f);  // r = 0: unchanged
  // After a painter the ghost ring repeats its neighbours.
  EXPECT_EQ(at_u(&f, 4, 9), at_u(&f, 4, 8));
  EXPECT_EQ(at_v(&f, 0, 4), at_v(&f, 1, 4));

  VectorField d(8, 8, 2);
  d.add_divergence(2.0f, 4.0f, 4.0f, 5.0f, 2.0f);  // y scale 2: cell (4, 5) has dy = 2
  EXPECT_FLOAT_EQ(at_v(&d, 4, 5), 2.0f * 0.6f);
  EXPECT_FLOAT_EQ(at_u(&d, 7, 4), 0.8f);

  // Radius 0 (taken as 1e-5) and strength 0 change nothing inside.
  for (float s : {0.0f, 1.0f}) {
    VectorField z(6, 6, 2);
    z.add_vortex(s, 3.0f, 3.0f, s == 0.0f ? 4.0f : 0.0f, 1.0f);
    z.add_divergence(s, 3.0f, 3.0f, s == 0.0f ? 4.0f : 0.0f, 1.0f);
    for (float v : cells_of(&z)) ASSERT_EQ(v, 0.0f);
  }

  // Wind from (2, 2) towards (6, 2): cells ahead get the strength along
  // +x, cells behind nothing; with power 0 cells behind get it too.
  VectorField w(8, 4, 2);
  w.add_angular_wind(1.5f, 2.0f, 2.0f, 6.0f, 2.0f, 2.0f, false);
  EXPECT_FLOAT_EQ(at_u(&w, 5, 2), 1.5f);
  // Cell (4, 4): e = (2, 2)/sqrt(8), c = 1/sqrt(2), c^2 = 0.5.
  EXPECT_FLOAT_EQ(at_u(&w, 4, 4), 0.75f);
  EXPECT_EQ(at_u(&w, 1, 2), 0.0f);
  EXPECT_EQ(at_v(&w, 5, 2), 0.0f);
  VectorField all(8, 4, 2);
  all.add_angular_wind(1.5f, 2.0f, 2.0f, 6.0f, 2.0f, 0.0f, false);
  EXPECT_FLOAT_EQ(at_u(&all, 1, 2), 1.5f);
  // Falloff: reach R = 4, cell (4, 2) at r = 2 keeps half.
  VectorField fade(8, 4, 2);
  fade.add_angular_wind(1.0f, 2.0f, 2.0f, 6.0f, 2.0f, 1.0f, true);
  EXPECT_FLOAT_EQ(at_u(&fade, 4, 2), 0.5f);
  EXPECT_EQ(at_u(&fade, 7, 2), 0.0f);
  // No direction: nothing, whatever the power.
  VectorField none(8, 4, 2);
  none.add_angular_wind(1.0f, 2.0f, 2.0f, 2.0f, 2.0f, -1.0f, false);
  for (float v : cells_of(&none)) ASSERT_EQ(v, 0.0f);

  // The FFT layout paints from index 0 and has no ghost ring to restore.
  VectorField p(4, 4, 1);
  p.add_divergence(1.0f, 0.0f, 0.0f, 4.0f, 1.0f);
  EXPECT_FLOAT_EQ(at_u(&p, 2, 0), 0.5f);
}

TEST(VectorField, ShapePaintersStopAtTheAbortAnswer) {
  VectorField f(4, 4, 2);
  StopAfter stop{2};
  f.set_mp_exec(&stop, StopAfter::exec);
  f.set_abort_test(nullptr, StopAfter::test);  // called with the exec context
  f.add_divergence(1.0f, 0.0f, 0.0f, 10.0f, 1.0f);
  EXPECT_NE(at_u(&f, 2, 2), 0.0f);
  EXPECT_EQ(at_u(&f, 2, 3), 0.0f);  // rows from the third on are not painted
  EXPECT_EQ(at_u(&f, 2, 5), at_u(&f, 2, 4));  // the ghost ring is restored all the same
}

TEST(VectorField, WhiteRandomVectorsRepeatPerCallAndFollowTheSeed) {
  VectorField f(3, 2, 2);
  f.set_random_vector_seed(-77);
  EXPECT_EQ(f.random_seed, 77);
  f.add_random_vector_rectangle(1, 1, 3, 2, 0.5f);
  // The generator of the seed draws the angle, then the length, per cell.
  MTRandom ref(77);
  for (int j = 1; j <= 2; ++j)
    for (int i = 1; i <= 3; ++i) {
      const double a = ref.double_random() * 6.283185;
      const double g = ref.double_gaussian_random_in_range(0.0, 0.5);
      EXPECT_EQ(at_u(&f, i, j), static_cast<float>(g * std::cos(a)));
      EXPECT_EQ(at_v(&f, i, j), static_cast<float>(g * std::sin(a)));
    }
  const auto once = cells_of(&f);
  f.add_random_vector_rectangle(1, 1, 3, 2, 0.5f);
  const auto twice = cells_of(&f);
  for (size_t k = 0; k < once.size(); ++k) ASSERT_EQ(twice[k], 2.0f * once[k]);
  f.set_random_vector_seed(0);
  EXPECT_EQ(f.random_seed, 1);
  f.set_random_vector_seed(-2147483647 - 1);  // its absolute value is no int
  EXPECT_EQ(f.random_seed, 2147483647);
  f.set_random_vector_seed(1);
  f.add_random_vector_rectangle(0, 0, 9, 9, 0.0f);  // strength 0: nothing
  EXPECT_TRUE(same_bits(cells_of(&f), twice));
}

TEST(VectorField, KolmogorovVectorsComeFromTheTimeVaryingField) {
  VectorField f(4, 3, 2);
  f.set_kolmogorov_k_inertial(1.0f);
  EXPECT_EQ(f.kolmogorov_k, 2.0f);
  f.set_kolmogorov_k_inertial(6.0f);
  f.set_kolmogorov_seed(-99);
  // Strength 0 at the first times paints nothing but keeps the generator's
  // keyframes where a painting would have left them.
  for (float t : {0.0f, 1.0f, 2.5f}) f.add_kolmogorov_random_vector_rectangle(0, 0, 9, 9, 0.0f, t);
  for (float v : cells_of(&f)) ASSERT_EQ(v, 0.0f);
  f.add_kolmogorov_random_vector_rectangle(0, 0, 9, 9, 0.25f, 3.5f);

  KRVFT ref;
  ASSERT_TRUE(ref.set_parameters(0.0, 99, 32, 6.0, 1.0));
  double a, b, c;
  for (double t : {0.0, 1.0, 2.5}) ref.vector_at_norm_pos(0, 0, 0, t, a, b, c);
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 6; ++i) {
      ref.vector_at_norm_pos(i / 5.0, j / 4.0, 0.0, 3.5, a, b, c);
      EXPECT_EQ(at_u(&f, i, j), static_cast<float>(0.25f * a));
      EXPECT_EQ(at_v(&f, i, j), static_cast<float>(0.25f * b));
    }

  // The FFT layout spreads the stored index range over 1/(n - 1); a single
  // column has spacing 0 rather than an infinite one.
  VectorField line(1, 2, 1);
  line.add_kolmogorov_random_vector_rectangle(0, 0, 0, 1, 1.0f, 0.0f);
  KRVFT ref2;
  ref2.set_parameters(0.0, 12345, 32, 4.0, 1.0);
  ref2.vector_at_norm_pos(0.0, 1.0, 0.0, 0.0, a, b, c);
  EXPECT_EQ(line.u[1], static_cast<float>(a));
}

TEST(VectorField, AKolmogorovGeneratorThatCouldNotBeBuiltIsBuiltAgain) {
  VectorField f(4, 4, 2);
  {
    FailingHeap heap(0);
    f.add_kolmogorov_random_vector_rectangle(0, 0, 9, 9, 1.0f, 0.0f);
  }
  EXPECT_EQ(f.kolmogorov, nullptr);
  for (float v : cells_of(&f)) ASSERT_EQ(v, 0.0f);
  f.add_kolmogorov_random_vector_rectangle(0, 0, 9, 9, 1.0f, 0.0f);
  ASSERT_NE(f.kolmogorov, nullptr);
  double sum = 0;
  for (float v : cells_of(&f)) sum += std::fabs(v);
  EXPECT_GT(sum, 0.0);
}

TEST(VectorField, EvaluateWrapsInFftLayoutAndClampsInDirectLayout) {
  VectorField p(4, 4, 1);
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i) {
      at_u(&p, i, j) = static_cast<float>(i);
      at_v(&p, i, j) = static_cast<float>(10 * j);
    }
  float u, v;
  p.evaluate(-0.5f, 1.0f, u, v, false);  // halfway between column 3 and column 0
  EXPECT_FLOAT_EQ(u, 1.5f);
  EXPECT_FLOAT_EQ(v, 10.0f);
  p.evaluate(5.25f, 4.5f, u, v, false);  // columns 1, 2 and rows 0, 1
  EXPECT_FLOAT_EQ(u, 1.25f);
  EXPECT_FLOAT_EQ(v, 5.0f);

  VectorField d(4, 4, 2);
  for (int j = 0; j < 6; ++j)
    for (int i = 0; i < 6; ++i) {
      at_u(&d, i, j) = static_cast<float>(i);
      at_v(&d, i, j) = static_cast<float>(j);
    }
  d.evaluate(-3.0f, 99.0f, u, v, false);  // clamped to 0.5 and 4.5
  EXPECT_FLOAT_EQ(u, 0.5f);
  EXPECT_FLOAT_EQ(v, 4.5f);
  d.evaluate(2.25f, 3.0f, u, v, true);  // Catmull-Rom reproduces a straight line
  EXPECT_FLOAT_EQ(u, 2.25f);
  d.evaluate_at_normalized_pos(0.5f, 0.25f, u, v, false);
  EXPECT_FLOAT_EQ(u, 3.0f);
  EXPECT_FLOAT_EQ(v, 2.0f);
  for (float far : {NAN, INFINITY, -1e30f}) {
    EXPECT_TRUE(p.evaluate(far, far, u, v, true));
    EXPECT_TRUE(d.evaluate(far, far, u, v, true));
  }
}

TEST(VectorField, CopyRangeAndTransforms) {
  VectorField a(8, 8, 1), b(8, 8, 1), c(4, 8, 1);
  fill_random(a, 9);
  EXPECT_TRUE(b.copy(&a));
  EXPECT_TRUE(same_bits(cells_of(&b), cells_of(&a)));
  EXPECT_FALSE(c.copy(&a));
  const auto all = cells_of(&a);
  float umin, umax, vmin, vmax;
  a.get_range(umin, umax, vmin, vmax);
  EXPECT_EQ(vmax, *std::max_element(all.begin() + 64, all.end()));

  FFTConvolver conv;
  ASSERT_TRUE(a.forward_FFT(&conv));
  a.set(0, 0);
  ASSERT_TRUE(a.inverse_FFT(&conv));
  const auto back = cells_of(&a);
  for (size_t k = 0; k < back.size(); ++k) ASSERT_NEAR(back[k], all[k], 1e-5);
  EXPECT_FALSE(c.forward_FFT(&conv));  // not square
  VectorField direct(8, 8, 2);
  EXPECT_FALSE(direct.forward_FFT(&conv));
  EXPECT_FALSE(b.inverse_FFT(&conv));  // no spectrum yet
}
