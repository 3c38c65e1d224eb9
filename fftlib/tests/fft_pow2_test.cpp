#include <cmath>
#include <cstring>
#include <mutex>
#include <random>
#include <vector>

#include <fftw3.h>
#include <gtest/gtest.h>

#include "fft_convolver.h"
#include "fft_pow2.h"
#include "fft_rcs.h"
#include "fftw_threads.h"
#include "previous_pow2.h"
#include "simd_paths.h"
#include "thread_band_executor.h"

namespace {

const long double kTwoPi = 6.283185307179586476925286766559L;

template <typename C>
std::vector<C> random_complex(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<C> v(n);
  for (auto& c : v) {
    c.re = u(gen);
    c.im = u(gen);
  }
  return v;
}

// The definition, exp(-2 pi i j k / n), in long double.
template <typename C>
std::vector<complex8> naive(const std::vector<C>& x) {
  const int n = static_cast<int>(x.size());
  std::vector<complex8> y(n);
  for (int k = 0; k < n; ++k) {
    long double sr = 0, si = 0;
    for (int j = 0; j < n; ++j) {
      const long double a = -kTwoPi * ((static_cast<long long>(j) * k) % n) / n;
      sr += x[j].re * cosl(a) - x[j].im * sinl(a);
      si += x[j].re * sinl(a) + x[j].im * cosl(a);
    }
    y[k] = {static_cast<double>(sr), static_cast<double>(si)};
  }
  return y;
}

template <typename A, typename B>
double max_diff(const std::vector<A>& a, const std::vector<B>& b) {
  double e = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    e = std::fmax(e, std::fabs(a[i].re - b[i].re));
    e = std::fmax(e, std::fabs(a[i].im - b[i].im));
  }
  return e;
}

}  // namespace

TEST(FftPow2, ForwardMatchesNaiveDftInNaturalOrder) {
  for (int n = 2; n <= 512; n *= 2) {
    auto d = random_complex<complex8>(n, n);
    auto f = random_complex<complex4>(n, n + 1);
    const auto ref_d = naive(d), ref_f = naive(f);
    ASSERT_TRUE(fftc8(d.data(), n));
    ASSERT_TRUE(fftc4(f.data(), n));
    EXPECT_LT(max_diff(d, ref_d), 1e-13 * n) << n;
    EXPECT_LT(max_diff(f, ref_f), 2e-6 * n) << n;
  }
}

TEST(FftPow2, LargeSizesAgreeWithMixedRadixFft) {
  // fft_rcs is an independent algorithm; isn = -1 is the same sign.
  for (int n = 1024; n <= 8192; n *= 2) {
    auto d = random_complex<complex8>(n, 3 * n);
    std::vector<double> re(n), im(n);
    for (int i = 0; i < n; ++i) {
      re[i] = d[i].re;
      im[i] = d[i].im;
    }
    ASSERT_EQ(fft_rcs(re.data(), im.data(), n, n, n, -1), 0);
    ASSERT_TRUE(fftc8(d.data(), n));
    double e = 0;
    for (int i = 0; i < n; ++i) e = std::fmax(e, std::fmax(std::fabs(d[i].re - re[i]), std::fabs(d[i].im - im[i])));
    EXPECT_LT(e, 1e-11) << n;
  }
}

TEST(FftPow2, InverseIsUnscaledAndScaleDividesByN) {
  for (int n = 2; n <= 8192; n *= 2) {
    const auto orig = random_complex<complex8>(n, 7 * n);
    auto d = orig;
    ASSERT_TRUE(fftc8(d.data(), n));
    ASSERT_TRUE(fftc8_un(d.data(), n));
    for (int i = 0; i < n; ++i) ASSERT_NEAR(d[i].re, n * orig[i].re, 1e-12 * n * std::log2(n)) << n;
    ASSERT_TRUE(fftc8_scale(d.data(), n));
    EXPECT_LT(max_diff(d, orig), 1e-12 * std::log2(n)) << n;

    const auto origf = random_complex<complex4>(n, 5 * n);
    auto f = origf;
    ASSERT_TRUE(fftc4(f.data(), n));
    ASSERT_TRUE(fftc4_un(f.data(), n));
    ASSERT_TRUE(fftc4_scale(f.data(), n));
    EXPECT_LT(max_diff(f, origf), 1e-6 * std::log2(n)) << n;
  }
}

TEST(FftPow2, MultiplyGivesCircularConvolutionInNaturalOrder) {
  for (int n : {2, 8, 64, 256}) {
    auto a = random_complex<complex8>(n, n + 11);
    auto b = random_complex<complex8>(n, n + 12);
    std::vector<complex8> ref(n, complex8{0, 0});
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) {
        const complex8 &x = a[j], &y = b[(i - j + n) % n];
        ref[i].re += x.re * y.re - x.im * y.im;
        ref[i].im += x.re * y.im + x.im * y.re;
      }
    std::vector<complex4> af(n), bf(n);
    for (int i = 0; i < n; ++i) {
      af[i] = {static_cast<float>(a[i].re), static_cast<float>(a[i].im)};
      bf[i] = {static_cast<float>(b[i].re), static_cast<float>(b[i].im)};
    }
    ASSERT_TRUE(fftc8(a.data(), n) && fftc8(b.data(), n) && fftc8_mul(a.data(), b.data(), n));
    ASSERT_TRUE(fftc8_un(a.data(), n) && fftc8_scale(a.data(), n));
    EXPECT_LT(max_diff(a, ref), 1e-12 * n);
    ASSERT_TRUE(fftc4(af.data(), n) && fftc4(bf.data(), n) && fftc4_mul(af.data(), bf.data(), n));
    ASSERT_TRUE(fftc4_un(af.data(), n) && fftc4_scale(af.data(), n));
    EXPECT_LT(max_diff(af, ref), 1e-5 * n);
  }
}

// Each product rounded before the sum, as plain scalar code does; a fused
// multiply-add would round once and differ in the last bit for many inputs.
template <typename C>
std::vector<C> rounded_products(const std::vector<C>& a, const std::vector<C>& b) {
  std::vector<C> out(a.size());
  for (size_t k = 0; k < a.size(); ++k) {
    const volatile auto rr = a[k].re * b[k].re, ii = a[k].im * b[k].im;
    const volatile auto ri = a[k].re * b[k].im, ir = a[k].im * b[k].re;
    out[k].re = rr - ii;
    out[k].im = ri + ir;
  }
  return out;
}

TEST(FftPow2, MultiplyGivesTheSameBytesOnBothSimdPaths) {
  for (int n : {2, 4, 8, 64, 2048}) {
    const auto a4 = random_complex<complex4>(n, n + 21), b4 = random_complex<complex4>(n, n + 22);
    const auto a8 = random_complex<complex8>(n, n + 23), b8 = random_complex<complex8>(n, n + 24);
    const auto want4 = rounded_products(a4, b4);
    const auto want8 = rounded_products(a8, b8);
    const auto paths = run_on_both_simd_paths([&] {
      std::vector<complex4> x4 = a4;
      std::vector<complex8> x8 = a8;
      EXPECT_TRUE(fftc4_mul(x4.data(), b4.data(), n) && fftc8_mul(x8.data(), b8.data(), n));
      return std::make_pair(x4, x8);
    });
    for (const auto& got : {paths.first, paths.second}) {
      EXPECT_EQ(0, std::memcmp(got.first.data(), want4.data(), sizeof(complex4) * n)) << n;
      EXPECT_EQ(0, std::memcmp(got.second.data(), want8.data(), sizeof(complex8) * n)) << n;
    }
    // The packed real spectrum multiplies n/2 - 1 samples past its two
    // real ones: an odd count leaves a tail after the widened part.
    if (n < 4) continue;
    std::vector<float> ra(n), rb(n);
    for (int i = 0; i < n; ++i) ra[i] = a4[i].re, rb[i] = b4[i].im;
    std::vector<complex4> ca(n / 2 - 1), cb(n / 2 - 1);
    std::memcpy(ca.data(), ra.data() + 2, sizeof(float) * (n - 2));
    std::memcpy(cb.data(), rb.data() + 2, sizeof(float) * (n - 2));
    const auto want_packed = rounded_products(ca, cb);
    const auto packed = run_on_both_simd_paths([&] {
      std::vector<float> x = ra;
      EXPECT_TRUE(fftr4_mul(x.data(), rb.data(), n));
      return x;
    });
    for (const auto& got : {packed.first, packed.second}) {
      EXPECT_EQ(got[0], ra[0] * rb[0]);
      EXPECT_EQ(got[1], ra[1] * rb[1]);
      EXPECT_EQ(0, std::memcmp(got.data() + 2, want_packed.data(), sizeof(float) * (n - 2))) << n;
    }
  }
}

TEST(FftPow2, RealTransformPacksTheComplexSpectrum) {
  std::mt19937 gen(42);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  for (int n = 2; n <= 8192; n *= 2) {
    std::vector<float> x(n);
    for (auto& v : x) v = u(gen);
    std::vector<complex8> full(n);
    for (int i = 0; i < n; ++i) full[i] = {x[i], 0.0};
    ASSERT_TRUE(fftc8(full.data(), n));
    std::vector<float> packed = x;
    ASSERT_TRUE(fftr4(packed.data(), n));
    const double tol = 2e-6 * n;
    EXPECT_NEAR(packed[0], full[0].re, tol) << n;
    EXPECT_NEAR(packed[1], full[n / 2].re, tol) << n;
    for (int k = 1; k < n / 2; ++k) {
      ASSERT_NEAR(packed[2 * k], full[k].re, tol) << n << " k=" << k;
      ASSERT_NEAR(packed[2 * k + 1], full[k].im, tol) << n << " k=" << k;
    }
    ASSERT_TRUE(fftr4_un(packed.data(), n));
    ASSERT_TRUE(fftr4_scale(packed.data(), n));
    for (int i = 0; i < n; ++i) ASSERT_NEAR(packed[i], x[i], 1e-5f) << n;
  }
}

TEST(FftPow2, RealMultiplyGivesCircularConvolution) {
  for (int n : {2, 4, 16, 128}) {
    std::vector<float> a(n), b(n);
    for (int i = 0; i < n; ++i) {
      a[i] = static_cast<float>(std::sin(0.7 * i) + 0.25 * i);
      b[i] = (i < 3) ? 1.0f + i : 0.0f;  // a short kernel that wraps around
    }
    std::vector<double> ref(n, 0.0);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) ref[i] += a[j] * b[(i - j + n) % n];
    ASSERT_TRUE(fftr4(a.data(), n) && fftr4(b.data(), n) && fftr4_mul(a.data(), b.data(), n));
    ASSERT_TRUE(fftr4_un(a.data(), n) && fftr4_scale(a.data(), n));
    for (int i = 0; i < n; ++i) EXPECT_NEAR(a[i], ref[i], 1e-4 * n) << n << " i=" << i;
  }
}

TEST(FftPow2, RefusesOtherSizesAndLeavesDataAlone) {
  std::vector<complex4> f(16, complex4{1.0f, 2.0f});
  std::vector<complex8> d(16, complex8{1.0, 2.0});
  std::vector<float> r(16, 3.0f);
  for (int n : {-2, 0, 1, 3, 6, 12, 16384}) {
    EXPECT_FALSE(fft_pow2_size_ok(n)) << n;
    EXPECT_FALSE(fftc4(f.data(), n));
    EXPECT_FALSE(fftc4_un(f.data(), n));
    EXPECT_FALSE(fftc4_scale(f.data(), n));
    EXPECT_FALSE(fftc4_mul(f.data(), f.data(), n));
    EXPECT_FALSE(fftc8(d.data(), n));
    EXPECT_FALSE(fftc8_un(d.data(), n));
    EXPECT_FALSE(fftc8_scale(d.data(), n));
    EXPECT_FALSE(fftc8_mul(d.data(), d.data(), n));
    EXPECT_FALSE(fftr4(r.data(), n));
    EXPECT_FALSE(fftr4_un(r.data(), n));
    EXPECT_FALSE(fftr4_scale(r.data(), n));
    EXPECT_FALSE(fftr4_mul(r.data(), r.data(), n));
  }
  for (int i = 0; i < 16; ++i) {
    ASSERT_EQ(f[i].re, 1.0f);
    ASSERT_EQ(f[i].im, 2.0f);
    ASSERT_EQ(d[i].im, 2.0);
    ASSERT_EQ(r[i], 3.0f);
  }
  EXPECT_TRUE(fft_pow2_size_ok(2));
  EXPECT_TRUE(fft_pow2_size_ok(8192));
}

TEST(FftPow2, FrequencyTableIsNaturalOrder) {
  int table[8];
  fftfreq_ctable(table, 8);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(table[k], k);
  // Index 1 of the spectrum of exp(2 pi i j / n) sampled at j carries all
  // its energy: frequency 1 really sits at index 1.
  std::vector<complex4> w(8);
  for (int j = 0; j < 8; ++j) w[j] = {static_cast<float>(std::cos(2 * M_PI * j / 8)), static_cast<float>(std::sin(2 * M_PI * j / 8))};
  ASSERT_TRUE(fftc4(w.data(), 8));
  for (int k = 0; k < 8; ++k) EXPECT_NEAR(w[k].re, k == 1 ? 8.0 : 0.0, 1e-5);
}

namespace {

// Largest difference relative to the largest magnitude of the reference.
template <typename A, typename B>
double relative_diff(const std::vector<A>& a, const std::vector<B>& b) {
  double peak = 0;
  for (const auto& v : b) peak = std::fmax(peak, std::fmax(std::fabs(v.re), std::fabs(v.im)));
  return max_diff(a, b) / peak;
}

}  // namespace

TEST(FftPow2, AgreesWithThePreviousLayerAtEverySizeAndAlignment) {
  // Single-precision rounding of an FFT grows with log2(n) steps.
  for (int n = 2; n <= 8192; n *= 2) {
    const double tol4 = 3e-7 * (std::log2(n) + 1), tol8 = 1e-15 * (std::log2(n) + 1);
    for (int offset : {0, 1}) {  // one sample off FFTW's alignment takes the other plans
      auto f = random_complex<complex4>(n + offset, 11 * n);
      auto d = random_complex<complex8>(n + offset, 13 * n);
      auto f_ref = std::vector<complex4>(f.begin() + offset, f.end());
      auto d_ref = std::vector<complex8>(d.begin() + offset, d.end());
      previous_pow2::forward(f_ref.data(), n);
      previous_pow2::forward(d_ref.data(), n);
      ASSERT_TRUE(fftc4(f.data() + offset, n));
      ASSERT_TRUE(fftc8(d.data() + offset, n));
      f.erase(f.begin(), f.begin() + offset);
      d.erase(d.begin(), d.begin() + offset);
      EXPECT_LT(relative_diff(f, f_ref), tol4) << n << " forward, offset " << offset;
      EXPECT_LT(relative_diff(d, d_ref), tol8) << n << " forward, offset " << offset;
      // Inverse of the spectra just made, against the previous inverse of them.
      auto fi = f, fi_ref = f;
      auto di = d, di_ref = d;
      previous_pow2::inverse(fi_ref.data(), n);
      previous_pow2::inverse(di_ref.data(), n);
      ASSERT_TRUE(fftc4_un(fi.data(), n));
      ASSERT_TRUE(fftc8_un(di.data(), n));
      EXPECT_LT(relative_diff(fi, fi_ref), tol4) << n << " inverse, offset " << offset;
      EXPECT_LT(relative_diff(di, di_ref), tol8) << n << " inverse, offset " << offset;

      // The packed real transform, forward and inverse.
      std::vector<float> r(n + offset), r_ref(n);
      for (int i = 0; i < n; ++i) r[i + offset] = r_ref[i] = f_ref[i].re / static_cast<float>(n);
      previous_pow2::real_forward(r_ref.data(), n);
      ASSERT_TRUE(fftr4(r.data() + offset, n));
      auto as_pairs = [](const float* p, int count) {
        std::vector<complex4> v(count / 2);
        for (int k = 0; k < count / 2; ++k) v[k] = {p[2 * k], p[2 * k + 1]};
        return v;
      };
      EXPECT_LT(relative_diff(as_pairs(r.data() + offset, n), as_pairs(r_ref.data(), n)), tol4) << n << " real";
      previous_pow2::real_inverse(r_ref.data(), n);
      ASSERT_TRUE(fftr4_un(r.data() + offset, n));
      EXPECT_LT(relative_diff(as_pairs(r.data() + offset, n), as_pairs(r_ref.data(), n)), tol4) << n << " real inverse";
    }
  }
}

TEST(FftPow2, BandsPlanningAtOnceGetTheSamePlans) {
  // Eight bands meet sizes no one has planned yet: each transform must equal
  // the one made afterwards on this thread, bit for bit.
  const int rows = 64;
  for (int n : {512, 2048}) {
    const auto orig = random_complex<complex4>(rows * n, n);
    auto banded = orig;
    struct Job {
      complex4* data;
      int n;
    } job{banded.data(), n};
    ThreadBandExecutor bands(8);
    ThreadBandExecutor::exec(&bands, [](void* object, int first, int last) {
      Job* j = static_cast<Job*>(object);
      for (int r = first; r <= last; ++r) {
        fftc4(j->data + r * j->n, j->n);
        fftc4_un(j->data + r * j->n, j->n);
        fftr4(&j->data[r * j->n].re, j->n);
      }
    }, rows, &job);
    auto serial = orig;
    for (int r = 0; r < rows; ++r) {
      fftc4(serial.data() + r * n, n);
      fftc4_un(serial.data() + r * n, n);
      fftr4(&serial[r * n].re, n);
    }
    EXPECT_EQ(std::memcmp(serial.data(), banded.data(), sizeof(complex4) * rows * n), 0) << n;
  }
}

TEST(FftPow2, CachedPlansOutliveTheLastFftConvolver) {
  const int n = 64;
  const auto x = random_complex<complex8>(n, 21);
  const auto ref = naive(x);
  auto* owner = new FFTConvolver;
  auto y = x;
  ASSERT_TRUE(fftc8(y.data(), n));
  {
    std::lock_guard<std::mutex> hold(fftw_planner_lock());
    fftw_plan_with_nthreads(3);
  }
  delete owner;  // the last object: FFTW's threads must stay set up
  EXPECT_EQ(fftw_planner_nthreads(), 3) << "FFTW was cleaned up under cached plans";
  y = x;
  ASSERT_TRUE(fftc8(y.data(), n));
  EXPECT_LT(max_diff(y, ref), 1e-12 * n);
}
