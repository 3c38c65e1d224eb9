#include "fft_pow2.h"

#include <cstring>

#include <immintrin.h>

#include "fftw_plan_cache.h"
#include "q4_simd.h"

// The transforms run on FFTW's cached single-threaded plans through the
// new-array interface, so any band may call them at once on its own data.

namespace {

const int kMaxSize = 8192;

fftwf_complex* as_fftw(complex4* a) { return reinterpret_cast<fftwf_complex*>(a); }
fftw_complex* as_fftw(complex8* a) { return reinterpret_cast<fftw_complex*>(a); }

fftwf_plan cached_plan(complex4*, FftPlanKind kind, int n, bool aligned) {
  return fft_cached_plan_single(kind, n, aligned);
}
fftw_plan cached_plan(complex8*, FftPlanKind kind, int n, bool aligned) {
  return fft_cached_plan_double(kind, n, aligned);
}
void execute(fftwf_plan plan, complex4* in, complex4* out) { fftwf_execute_dft(plan, as_fftw(in), as_fftw(out)); }
void execute(fftw_plan plan, complex8* in, complex8* out) { fftw_execute_dft(plan, as_fftw(in), as_fftw(out)); }

// FFTW's in-place plans copy through a buffer of their own, allocated on
// every run. Up to this size the sequence is copied to the stack instead and
// transformed out of place back into a: the out-of-place plan then reads
// its scattered inputs from the L1 cache.
const int kStackSamples = 1024;

template <typename C>
bool complex_transform(C* a, int n, bool forward) {
  if (!fft_pow2_size_ok(n)) return false;
  if (n > kStackSamples) {
    auto plan = cached_plan(a, forward ? FFT_PLAN_FORWARD : FFT_PLAN_BACKWARD, n, fft_plan_aligned(a, a));
    if (!plan) return false;
    execute(plan, a, a);
    return true;
  }
  alignas(64) C copy[kStackSamples];
  auto plan = cached_plan(a, forward ? FFT_PLAN_FORWARD_OUT : FFT_PLAN_BACKWARD_OUT, n, fft_plan_aligned(copy, a));
  if (!plan) return false;
  std::memcpy(copy, a, sizeof(C) * n);
  execute(plan, copy, a);
  return true;
}

template <typename R>
void scale(R* a, int count, R factor) {
  for (int i = 0; i < count; ++i) a[i] *= factor;
}

// Kept out of line: inlined into the AVX2 copies below, the compiler would
// widen this loop into fused multiply-adds, which round differently.
template <typename C>
__attribute__((noinline)) void multiply_portable(C* a, const C* b, int n, int k0) {
  for (int k = k0; k < n; ++k) {
    const auto re = a[k].re * b[k].re - a[k].im * b[k].im;
    const auto im = a[k].re * b[k].im + a[k].im * b[k].re;
    a[k].re = re;
    a[k].im = im;
  }
}

// Spectra are multiplied once per transformed line, as often as the
// transforms run, so the products are widened by hand (the compiler's own
// widening fuses them): (a.re b.re) - (a.im b.im) and (a.re b.im) +
// (a.im b.re), each product rounded first, as the portable loop does.
Q4_SIMD_TARGET_AVX2 void multiply_avx2(complex4* a, const complex4* b, int n) {
  int k = 0;
  for (; k + 4 <= n; k += 4) {
    float* at = &a[k].re;
    const __m256 x = _mm256_loadu_ps(at), y = _mm256_loadu_ps(&b[k].re);
    const __m256 direct = _mm256_mul_ps(_mm256_moveldup_ps(x), y);
    const __m256 crossed = _mm256_mul_ps(_mm256_movehdup_ps(x), _mm256_permute_ps(y, 0xB1));
    _mm256_storeu_ps(at, _mm256_addsub_ps(direct, crossed));
  }
  multiply_portable(a, b, n, k);
}

Q4_SIMD_TARGET_AVX2 void multiply_avx2(complex8* a, const complex8* b, int n) {
  int k = 0;
  for (; k + 2 <= n; k += 2) {
    double* at = &a[k].re;
    const __m256d x = _mm256_loadu_pd(at), y = _mm256_loadu_pd(&b[k].re);
    const __m256d direct = _mm256_mul_pd(_mm256_movedup_pd(x), y);
    const __m256d crossed = _mm256_mul_pd(_mm256_permute_pd(x, 0xF), _mm256_permute_pd(y, 0x5));
    _mm256_storeu_pd(at, _mm256_addsub_pd(direct, crossed));
  }
  multiply_portable(a, b, n, k);
}

template <typename C>
void multiply(C* a, const C* b, int n) {
  if (q4_simd_use_avx2())
    multiply_avx2(a, b, n);
  else
    multiply_portable(a, b, n, 0);
}

template <typename C>
bool scale_complex(C* a, int n) {
  if (!fft_pow2_size_ok(n)) return false;
  typedef decltype(a->re) R;
  scale(&a->re, 2 * n, R(1) / n);
  return true;
}

template <typename C>
bool multiply_complex(C* a, const C* b, int n) {
  if (!fft_pow2_size_ok(n)) return false;
  multiply(a, b, n);
  return true;
}

}  // namespace

bool fft_pow2_size_ok(int n) { return n >= 2 && n <= kMaxSize && (n & (n - 1)) == 0; }

bool fftc4(complex4* a, int n) { return complex_transform(a, n, true); }
bool fftc4_un(complex4* a, int n) { return complex_transform(a, n, false); }

bool fftc4_scale(complex4* a, int n) { return scale_complex(a, n); }
bool fftc4_mul(complex4* a, const complex4* b, int n) { return multiply_complex(a, b, n); }

bool fftc8(complex8* a, int n) { return complex_transform(a, n, true); }
bool fftc8_un(complex8* a, int n) { return complex_transform(a, n, false); }

bool fftc8_scale(complex8* a, int n) { return scale_complex(a, n); }
bool fftc8_mul(complex8* a, const complex8* b, int n) { return multiply_complex(a, b, n); }

// The packed spectrum of n reals needs n/2 + 1 complex values on the way
// (FFTW's half spectrum), one more than fits in place: the half spectrum
// lives on the caller's stack.
bool fftr4(float* a, int n) {
  if (!fft_pow2_size_ok(n)) return false;
  alignas(64) complex4 half[kMaxSize / 2 + 1];
  fftwf_plan plan = fft_cached_plan_single(FFT_PLAN_R2C, n, fft_plan_aligned(a, half));
  if (!plan) return false;
  fftwf_execute_dft_r2c(plan, a, as_fftw(half));
  a[0] = half[0].re;
  a[1] = half[n / 2].re;
  for (int k = 1; k < n / 2; ++k) {
    a[2 * k] = half[k].re;
    a[2 * k + 1] = half[k].im;
  }
  return true;
}

bool fftr4_un(float* a, int n) {
  if (!fft_pow2_size_ok(n)) return false;
  alignas(64) complex4 half[kMaxSize / 2 + 1];
  fftwf_plan plan = fft_cached_plan_single(FFT_PLAN_C2R, n, fft_plan_aligned(a, half));
  if (!plan) return false;
  half[0] = {a[0], 0.0f};
  half[n / 2] = {a[1], 0.0f};
  for (int k = 1; k < n / 2; ++k) half[k] = {a[2 * k], a[2 * k + 1]};
  fftwf_execute_dft_c2r(plan, as_fftw(half), a);
  return true;
}

bool fftr4_scale(float* a, int n) {
  if (!fft_pow2_size_ok(n)) return false;
  scale(a, n, 1.0f / n);
  return true;
}

bool fftr4_mul(float* a, const float* b, int n) {
  if (!fft_pow2_size_ok(n)) return false;
  a[0] *= b[0];
  a[1] *= b[1];
  multiply(reinterpret_cast<complex4*>(a) + 1, reinterpret_cast<const complex4*>(b) + 1, n / 2 - 1);
  return true;
}

void fftfreq_ctable(int* table, int n) {
  for (int k = 0; k < n; ++k) table[k] = k;
}
