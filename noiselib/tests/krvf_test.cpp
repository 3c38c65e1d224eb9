#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "failing_heap.h"
#include "fft_rcs.h"
#include "krvf.h"
#include "mtrandom.h"

namespace {

// The Fourier coefficients a field was built from: its lattice transformed
// back with the opposite sign and divided by N³.
struct Spectrum {
  int N;
  std::vector<double> re[3], im[3];
  size_t at(int i, int j, int l) const { return (size_t(l) * N + j) * N + i; }
};

Spectrum spectrum_of(const KRVF& field) {
  Spectrum s;
  s.N = field.get_N();
  const int total = s.N * s.N * s.N;
  const double* res[3] = {field.u_real(), field.v_real(), field.w_real()};
  const double* ims[3] = {field.u_imag(), field.v_imag(), field.w_imag()};
  for (int c = 0; c < 3; ++c) {
    s.re[c].assign(res[c], res[c] + total);
    s.im[c].assign(ims[c], ims[c] + total);
    EXPECT_EQ(fft_rcs(s.re[c].data(), s.im[c].data(), total, s.N, s.N, 1), 0);
    EXPECT_EQ(fft_rcs(s.re[c].data(), s.im[c].data(), total, s.N, s.N * s.N, 1), 0);
    EXPECT_EQ(fft_rcs(s.re[c].data(), s.im[c].data(), total, s.N, total, 1), 0);
    for (int p = 0; p < total; ++p) {
      s.re[c][p] /= total;
      s.im[c][p] /= total;
    }
  }
  return s;
}

double largest_abs(const double* a, int count) {
  double m = 0.0;
  for (int p = 0; p < count; ++p) m = std::max(m, std::fabs(a[p]));
  return m;
}

int signed_index(int x, int N) { return x <= N / 2 ? x : x - N; }

TEST(KRVF, RefusesBadParameters) {
  KRVF field;
  EXPECT_FALSE(field.set_parameters(1, 3, 4.0, 1.0));
  EXPECT_FALSE(field.set_parameters(1, 512, 4.0, 1.0));
  EXPECT_FALSE(field.set_parameters(1, 0, 4.0, 1.0));
  EXPECT_FALSE(field.set_parameters(1, -4, 4.0, 1.0));
  EXPECT_FALSE(field.set_parameters(1, 2, 0.5, 1.0));
  EXPECT_FALSE(field.set_parameters(1, 2, std::nan(""), 1.0));
  EXPECT_FALSE(field.has_field());
  double u, v, w;
  EXPECT_FALSE(field.vector_at_norm_pos(0.5, 0.5, 0.5, u, v, w));
  EXPECT_EQ(u, 0.0);
  EXPECT_EQ(v, 0.0);
  EXPECT_EQ(w, 0.0);
}

TEST(KRVF, TransformedFieldIsRealAndReproducible) {
  KRVF a, b, c;
  ASSERT_TRUE(a.set_parameters(17, 4, 1.5, 2.0));
  ASSERT_TRUE(b.set_parameters(17, 4, 1.5, 2.0));
  ASSERT_TRUE(c.set_parameters(18, 4, 1.5, 2.0));
  EXPECT_EQ(a.get_N(), 8);
  EXPECT_EQ(a.get_degenerate_count(), 0);
  const int total = 8 * 8 * 8;
  const double* re[3] = {a.u_real(), a.v_real(), a.w_real()};
  const double* im[3] = {a.u_imag(), a.v_imag(), a.w_imag()};
  for (int k = 0; k < 3; ++k) {
    const double scale = largest_abs(re[k], total);
    EXPECT_GT(scale, 0.0);
    EXPECT_LT(largest_abs(im[k], total), 1e-10 * scale);
  }
  EXPECT_EQ(0, std::memcmp(a.u_real(), b.u_real(), total * sizeof(double)));
  EXPECT_EQ(0, std::memcmp(a.w_real(), b.w_real(), total * sizeof(double)));
  EXPECT_NE(0, std::memcmp(a.u_real(), c.u_real(), total * sizeof(double)));

  // Statistics agree with a direct pass over the lattice.
  double umin = 1e300, umax = -1e300, msum = 0.0;
  for (int p = 0; p < total; ++p) {
    umin = std::min(umin, a.u_real()[p]);
    umax = std::max(umax, a.u_real()[p]);
    msum += std::sqrt(a.u_real()[p] * a.u_real()[p] + a.v_real()[p] * a.v_real()[p] +
                      a.w_real()[p] * a.w_real()[p]);
  }
  EXPECT_EQ(a.u_min, umin);
  EXPECT_EQ(a.u_max, umax);
  EXPECT_NEAR(a.magnitude_mean, msum / total, 1e-12 * msum / total);
}

TEST(KRVF, SpectrumHasCutOffConjugateSymmetryAndReflectedMirrors) {
  KRVF field;
  const double k = 2.5;
  ASSERT_TRUE(field.set_parameters(5, 4, k, 1.0));
  const Spectrum s = spectrum_of(field);
  const int N = s.N;
  double scale = 0.0;
  for (int c = 0; c < 3; ++c) scale = std::max(scale, largest_abs(s.re[c].data(), N * N * N));
  ASSERT_GT(scale, 0.0);
  const double tol = 1e-9 * scale;
  int nonzero = 0;
  for (int l = 0; l < N; ++l)
    for (int j = 0; j < N; ++j)
      for (int i = 0; i < N; ++i) {
        const int si = signed_index(i, N), sj = signed_index(j, N), sl = signed_index(l, N);
        const size_t p = s.at(i, j, l);
        const double kappa = std::sqrt(double(si * si + sj * sj + sl * sl));
        for (int c = 0; c < 3; ++c) {
          if (kappa <= k) {
            EXPECT_NEAR(s.re[c][p], 0.0, tol);
            EXPECT_NEAR(s.im[c][p], 0.0, tol);
          }
          if (std::fabs(s.re[c][p]) > tol) ++nonzero;
        }
        // The wave vector −k holds the conjugate, so the field is real.
        const size_t opposite = s.at((N - i) % N, (N - j) % N, (N - l) % N);
        for (int c = 0; c < 3; ++c) {
          EXPECT_NEAR(s.re[c][opposite], s.re[c][p], tol);
          EXPECT_NEAR(s.im[c][opposite], -s.im[c][p], tol);
        }
        // Inside the drawn octant a mirror along i or j reflects the
        // coefficient along that axis.
        if (i > 0 && i < N / 2 && j > 0 && j < N / 2 && l > 0 && l < N / 2) {
          const size_t mirror_i = s.at(N - i, j, l), mirror_j = s.at(i, N - j, l);
          for (int c = 0; c < 3; ++c) {
            const double flip_i = c == 0 ? -1.0 : 1.0, flip_j = c == 1 ? -1.0 : 1.0;
            EXPECT_NEAR(s.re[c][mirror_i], flip_i * s.re[c][p], tol);
            EXPECT_NEAR(s.im[c][mirror_i], flip_i * s.im[c][p], tol);
            EXPECT_NEAR(s.re[c][mirror_j], flip_j * s.re[c][p], tol);
            EXPECT_NEAR(s.im[c][mirror_j], flip_j * s.im[c][p], tol);
          }
        }
      }
  EXPECT_GT(nonzero, 100);
}

// Discrete Fourier transform of a real N³ lattice along all three axes,
// written out as sums over each axis in turn (independent of fft_rcs).
void naive_dft3(const double* field, int N, std::vector<double>& re, std::vector<double>& im) {
  const size_t total = size_t(N) * N * N;
  std::vector<double> cosines(N), sines(N);
  for (int t = 0; t < N; ++t) {
    cosines[t] = std::cos(2.0 * M_PI * t / N);
    sines[t] = -std::sin(2.0 * M_PI * t / N);
  }
  re.assign(field, field + total);
  im.assign(total, 0.0);
  std::vector<double> out_re(total), out_im(total);
  const size_t strides[3] = {1, size_t(N), size_t(N) * N};
  for (size_t stride : strides) {
    for (size_t p = 0; p < total; ++p) {
      const int index = int((p / stride) % N);
      const size_t base = p - index * stride;
      double sr = 0.0, si = 0.0;
      for (int t = 0; t < N; ++t) {
        const int w = int((size_t(index) * t) % N);
        const double xr = re[base + t * stride], xi = im[base + t * stride];
        sr += xr * cosines[w] - xi * sines[w];
        si += xr * sines[w] + xi * cosines[w];
      }
      out_re[p] = sr;
      out_im[p] = si;
    }
    re.swap(out_re);
    im.swap(out_im);
  }
}

TEST(KRVF, FieldIsDivergenceFreeRealPeriodicAndReproducible) {
  for (int n : {4, 8, 16}) {
    SCOPED_TRACE(n);
    KRVF field, again, other;
    ASSERT_TRUE(field.set_parameters(31 + n, n, 1.0, 1.0));
    ASSERT_TRUE(again.set_parameters(31 + n, n, 1.0, 1.0));
    ASSERT_TRUE(other.set_parameters(32 + n, n, 1.0, 1.0));
    const int N = field.get_N();
    const int total = N * N * N;
    const double* re[3] = {field.u_real(), field.v_real(), field.w_real()};
    const double* im[3] = {field.u_imag(), field.v_imag(), field.w_imag()};
    const double* again_arrays[6] = {again.u_real(), again.u_imag(), again.v_real(),
                                     again.v_imag(), again.w_real(), again.w_imag()};
    const double* arrays[6] = {re[0], im[0], re[1], im[1], re[2], im[2]};
    for (int a = 0; a < 6; ++a)
      EXPECT_EQ(0, std::memcmp(arrays[a], again_arrays[a], total * sizeof(double))) << a;
    EXPECT_NE(0, std::memcmp(re[0], other.u_real(), total * sizeof(double)));

    // Real: the imaginary parts are rounding noise of the real ones.
    for (int c = 0; c < 3; ++c) {
      const double scale = largest_abs(re[c], total);
      ASSERT_GT(scale, 0.0);
      EXPECT_LT(largest_abs(im[c], total), 1e-13 * scale) << c;
    }

    // Divergence-free: sum |k.U|^2 / sum |k|^2 |U|^2 over every wave vector
    // without a Nyquist index, from the spectrum of the real field.
    std::vector<double> spec_re[3], spec_im[3];
    for (int c = 0; c < 3; ++c) naive_dft3(re[c], N, spec_re[c], spec_im[c]);
    double divergence = 0.0, energy = 0.0;
    for (int l = 0; l < N; ++l)
      for (int j = 0; j < N; ++j)
        for (int i = 0; i < N; ++i) {
          if (i == N / 2 || j == N / 2 || l == N / 2) continue;
          const double q[3] = {double(signed_index(i, N)), double(signed_index(j, N)),
                               double(signed_index(l, N))};
          const size_t p = (size_t(l) * N + j) * N + i;
          double dot_re = 0.0, dot_im = 0.0, size2 = 0.0;
          for (int c = 0; c < 3; ++c) {
            dot_re += q[c] * spec_re[c][p];
            dot_im += q[c] * spec_im[c][p];
            size2 += spec_re[c][p] * spec_re[c][p] + spec_im[c][p] * spec_im[c][p];
          }
          divergence += dot_re * dot_re + dot_im * dot_im;
          energy += (q[0] * q[0] + q[1] * q[1] + q[2] * q[2]) * size2;
        }
    ASSERT_GT(energy, 0.0);
    EXPECT_LT(divergence / energy, 1e-12);

    // Periodic with period 1 along every axis.
    const double p[3] = {0.2, 0.55, 0.8};
    const double shifted[3] = {-0.8, 2.55, 1.8};
    double a[3], b[3];
    ASSERT_TRUE(field.vector_at_norm_pos(p, a));
    ASSERT_TRUE(field.vector_at_norm_pos(shifted, b));
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(a[c], b[c], 1e-12 * largest_abs(re[c], total));
  }
}

TEST(KRVF, AxisAndPlaneWaveVectors) {
  KRVF field;
  ASSERT_TRUE(field.set_parameters(9, 4, 1.0, 1.0));
  const Spectrum s = spectrum_of(field);
  const size_t axis = s.at(3, 0, 0);
  const double size = std::fabs(s.re[1][axis]) + std::fabs(s.re[2][axis]);
  ASSERT_GT(size, 0.0);
  EXPECT_NEAR(s.re[0][axis], 0.0, 1e-9 * size);
  EXPECT_NEAR(s.im[0][axis], 0.0, 1e-9 * size);
  // (i, j, 0): u and v come from one draw along (j, −i); w from its own.
  const size_t plane = s.at(1, 2, 0);
  ASSERT_NE(s.re[0][plane], 0.0);
  EXPECT_NEAR(s.re[1][plane] / s.re[0][plane], -0.5, 1e-9);
  EXPECT_NE(s.re[2][plane], 0.0);
}

TEST(KRVF, CoefficientMatchesHandDerivation) {
  const int seed = 4242, n = 2;
  KRVF field;
  ASSERT_TRUE(field.set_parameters(seed, n, 1.0, 1.0));
  const Spectrum s = spectrum_of(field);

  // Replay the draws up to wave vector (1, 1, 1).
  MTRandom master(seed);
  std::vector<MTRandom> g;
  for (int a = 0; a < 6; ++a) g.emplace_back(static_cast<unsigned>(master.int_random()));
  int earlier = 0;
  for (int l = 0; l <= n; ++l)
    for (int j = 0; j <= n; ++j)
      for (int i = 0; i <= n; ++i)
        if (l * 256 + j * 16 + i < 1 * 256 + 1 * 16 + 1 && i * i + j * j + l * l > 1) ++earlier;
  EXPECT_EQ(earlier, 9);
  for (int d = 0; d < earlier; ++d)
    for (int a = 0; a < 3; ++a) {
      g[2 * a].double_gaussian_random();
      g[2 * a + 1].uint_random();
    }
  double zr[3], zi[3];
  for (int a = 0; a < 3; ++a) {
    const double gauss = g[2 * a].double_gaussian_random();
    const double phi = 6.2831853 * (g[2 * a + 1].uint_random() / 4294967295.0);
    zr[a] = gauss * std::cos(phi);
    zi[a] = gauss * std::sin(phi);
  }
  // κ = √3, M = F(3I − 11ᵀ): L = √F [[√2,0,0],[−1/√2,√1.5,0],[−1/√2,−√1.5,0]].
  const double kappa = std::sqrt(3.0);
  const double F = 1.5 * std::pow(kappa, -2.5) / (12.5663706 * std::pow(kappa, 4));
  const double r = std::sqrt(F);
  auto apply = [r](const double* z, double* c) {
    c[0] = r * std::sqrt(2.0) * z[0];
    c[1] = r * (-z[0] / std::sqrt(2.0) + std::sqrt(1.5) * z[1]);
    c[2] = r * (-z[0] / std::sqrt(2.0) - std::sqrt(1.5) * z[1]);
  };
  double cr[3], ci[3];
  apply(zr, cr);
  apply(zi, ci);
  const double tol = 1e-7 * r;
  for (int c = 0; c < 3; ++c) {
    EXPECT_NEAR(s.re[c][s.at(1, 1, 1)], cr[c], tol) << c;
    EXPECT_NEAR(s.im[c][s.at(1, 1, 1)], ci[c], tol) << c;
    // (−1, −1, 1) holds c reflected along i and j; (1, 1, −1), its
    // opposite, the conjugate of that.
    const double flip = c < 2 ? -1.0 : 1.0;
    EXPECT_NEAR(s.re[c][s.at(3, 3, 1)], flip * cr[c], tol) << c;
    EXPECT_NEAR(s.im[c][s.at(3, 3, 1)], flip * ci[c], tol) << c;
    EXPECT_NEAR(s.re[c][s.at(1, 1, 3)], flip * cr[c], tol) << c;
    EXPECT_NEAR(s.im[c][s.at(1, 1, 3)], -flip * ci[c], tol) << c;
  }
}

TEST(KRVF, FieldBeyondTheCutOffIsZero) {
  KRVF field;
  ASSERT_TRUE(field.set_parameters(3, 2, 3.5, 1.0));  // 3.5 > √3 · 2
  const int total = 4 * 4 * 4;
  EXPECT_EQ(largest_abs(field.u_real(), total), 0.0);
  EXPECT_EQ(largest_abs(field.v_real(), total), 0.0);
  EXPECT_EQ(largest_abs(field.w_real(), total), 0.0);
  EXPECT_EQ(field.magnitude_max, 0.0);
}

TEST(KRVF, SamplingIsTrilinearAndPeriodic) {
  KRVF field;
  ASSERT_TRUE(field.set_parameters(21, 4, 1.0, 1.0));
  const int N = field.get_N();
  const double* u = field.u_real();
  auto at = [N](int i, int j, int l) { return (size_t(l) * N + j) * N + i; };
  double a[3], b[3];
  const double lattice[3] = {3.0 / N, 5.0 / N, 1.0 / N};
  field.vector_at_norm_pos(lattice, a);
  EXPECT_EQ(a[0], u[at(3, 5, 1)]);
  EXPECT_EQ(a[1], field.v_real()[at(3, 5, 1)]);
  EXPECT_EQ(a[2], field.w_real()[at(3, 5, 1)]);

  const double mid[3] = {3.5 / N, 5.0 / N, 1.0 / N};
  field.vector_at_norm_pos(mid, a);
  EXPECT_NEAR(a[0], 0.5 * (u[at(3, 5, 1)] + u[at(4, 5, 1)]), 1e-15);

  // Past the last lattice point the interpolation wraps to index 0.
  double uu, vv, ww;
  ASSERT_TRUE(field.vector_at_norm_pos(0.99999, 0.0, 0.0, uu, vv, ww));
  const double t = 0.99999 * N - (N - 1);
  EXPECT_NEAR(uu, u[at(N - 1, 0, 0)] + (u[at(0, 0, 0)] - u[at(N - 1, 0, 0)]) * t, 1e-15);

  double cu, cv, cw;
  field.vector_at_norm_pos(1.0 - 1e-9, 0.0, 0.0, cu, cv, cw);
  EXPECT_EQ(cu, uu);
  EXPECT_EQ(cw, ww);

  const double p[3] = {0.3125, 0.71875, 0.15625};
  const double shifted[3] = {1.3125, -2.0 + 0.71875, 3.15625};
  field.vector_at_norm_pos(p, a);
  field.vector_at_norm_pos(shifted, b);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(a[c], b[c]);

  // Non-finite positions sample the origin instead of reading outside.
  EXPECT_TRUE(field.vector_at_norm_pos(std::nan(""), 0.0, 0.0, uu, vv, ww));
  EXPECT_EQ(uu, u[at(0, 0, 0)]);
}

TEST(KRVF, FailedAllocationLeavesAnEmptyField) {
  KRVF field;
  ASSERT_TRUE(field.set_parameters(1, 2, 1.0, 1.0));
  {
    FailingHeap heap(3);
    EXPECT_FALSE(field.set_parameters(1, 4, 1.0, 1.0));
  }
  EXPECT_FALSE(field.has_field());
  EXPECT_EQ(field.get_N(), 0);
  double u = 1, v = 1, w = 1;
  EXPECT_FALSE(field.vector_at_norm_pos(0.25, 0.5, 0.75, u, v, w));
  EXPECT_EQ(u, 0.0);
  EXPECT_EQ(v, 0.0);
  EXPECT_EQ(w, 0.0);
  EXPECT_TRUE(field.set_parameters(1, 2, 1.0, 1.0));
  EXPECT_TRUE(field.vector_at_norm_pos(0.25, 0.5, 0.75, u, v, w));
}

TEST(KRVF, PrintListsEveryPointAndPausesPerRow) {
  KRVF field;
  ASSERT_TRUE(field.set_parameters(2, 2, 1.0, 1.0));
  FILE* out = tmpfile();
  FILE* in = tmpfile();
  ASSERT_TRUE(out && in);
  fputs("yyyyyyyyyyyyyyyyyyyyyyyy", in);
  rewind(in);
  EXPECT_TRUE(field.print_u(out, in));
  EXPECT_EQ(ftell(in), 16);  // one character per row of i: N² rows
  rewind(out);
  std::string text;
  char buffer[256];
  while (fgets(buffer, sizeof buffer, out)) text += buffer;
  fclose(out);
  fclose(in);
  EXPECT_EQ(text.rfind("n = 4\n\n", 0), 0u);
  size_t points = 0, pauses = 0;
  for (size_t at = text.find("]{("); at != std::string::npos; at = text.find("]{(", at + 1)) ++points;
  for (size_t at = text.find("PAUSE> "); at != std::string::npos; at = text.find("PAUSE> ", at + 1))
    ++pauses;
  EXPECT_EQ(points, 64u);
  EXPECT_EQ(pauses, 16u);
  EXPECT_NE(text.find("PAUSE> [ 0, 1, 0]{("), std::string::npos);
}

}  // namespace
