#include "fftw_plan_cache.h"

#include <atomic>
#include <mutex>

#include "fftw_threads.h"

namespace {

const int kMaxBits = 13;

template <typename R>
struct Fftw;

template <>
struct Fftw<float> {
  typedef fftwf_plan Plan;
  typedef fftwf_complex Complex;
  static void* alloc(size_t bytes) { return fftwf_malloc(bytes); }
  static void release(void* p) { fftwf_free(p); }
  static Plan c2c(int n, void* in, void* out, int sign, unsigned flags) {
    return fftwf_plan_dft_1d(n, static_cast<Complex*>(in), static_cast<Complex*>(out), sign, flags);
  }
  static Plan r2c(int n, void* in, void* out, unsigned flags) {
    return fftwf_plan_dft_r2c_1d(n, static_cast<float*>(in), static_cast<Complex*>(out), flags);
  }
  static Plan c2r(int n, void* in, void* out, unsigned flags) {
    return fftwf_plan_dft_c2r_1d(n, static_cast<Complex*>(in), static_cast<float*>(out), flags);
  }
};

template <>
struct Fftw<double> {
  typedef fftw_plan Plan;
  typedef fftw_complex Complex;
  static void* alloc(size_t bytes) { return fftw_malloc(bytes); }
  static void release(void* p) { fftw_free(p); }
  static Plan c2c(int n, void* in, void* out, int sign, unsigned flags) {
    return fftw_plan_dft_1d(n, static_cast<Complex*>(in), static_cast<Complex*>(out), sign, flags);
  }
  static Plan r2c(int n, void* in, void* out, unsigned flags) {
    return fftw_plan_dft_r2c_1d(n, static_cast<double*>(in), static_cast<Complex*>(out), flags);
  }
  static Plan c2r(int n, void* in, void* out, unsigned flags) {
    return fftw_plan_dft_c2r_1d(n, static_cast<Complex*>(in), static_cast<double*>(out), flags);
  }
};

// Estimated plans: a plan picked by timing candidates differs from process
// to process, and so would the last bits of every result. The scratch
// arrays give the planner the shape and alignment class; it does not
// touch them.
template <typename R>
typename Fftw<R>::Plan make_plan(FftPlanKind kind, int n, bool aligned) {
  typedef Fftw<R> F;
  const unsigned flags = FFTW_ESTIMATE | (aligned ? 0u : FFTW_UNALIGNED);
  R* a = static_cast<R*>(F::alloc(sizeof(R) * (2 * n + 2)));
  R* b = static_cast<R*>(F::alloc(sizeof(R) * (2 * n + 2)));
  typename F::Plan plan = nullptr;
  if (a && b) {
    // Band workers run these plans side by side, so they are single-threaded:
    // the double planner is set to one thread here (the convolution pipeline
    // sets it for its own plans); the single-precision planner keeps FFTW's
    // default of one thread, as fftlib never sets up its threads.
    if (fftw_planner_nthreads() != 1) fftw_plan_with_nthreads(1);
    switch (kind) {
      case FFT_PLAN_FORWARD: plan = F::c2c(n, a, a, FFTW_FORWARD, flags); break;
      case FFT_PLAN_BACKWARD: plan = F::c2c(n, a, a, FFTW_BACKWARD, flags); break;
      case FFT_PLAN_FORWARD_OUT: plan = F::c2c(n, a, b, FFTW_FORWARD, flags); break;
      case FFT_PLAN_BACKWARD_OUT: plan = F::c2c(n, a, b, FFTW_BACKWARD, flags); break;
      case FFT_PLAN_R2C: plan = F::r2c(n, a, b, flags); break;
      case FFT_PLAN_C2R: plan = F::c2r(n, a, b, flags); break;
      default: break;
    }
  }
  F::release(a);
  F::release(b);
  return plan;
}

template <typename R>
struct Cache {
  std::atomic<typename Fftw<R>::Plan> plans[FFT_PLAN_KINDS][kMaxBits + 1][2] = {};
};

template <typename R>
Cache<R>& cache() {
  static Cache<R> store;
  return store;
}

int size_bits(int n) {
  if (n < 2 || n > (1 << kMaxBits) || (n & (n - 1)) != 0) return 0;
  return __builtin_ctz(static_cast<unsigned>(n));
}

template <typename R>
typename Fftw<R>::Plan cached_plan(FftPlanKind kind, int n, bool aligned) {
  const int bits = size_bits(n);
  if (bits == 0 || kind < 0 || kind >= FFT_PLAN_KINDS) return nullptr;
  std::atomic<typename Fftw<R>::Plan>& slot = cache<R>().plans[kind][bits][aligned ? 1 : 0];
  typename Fftw<R>::Plan plan = slot.load(std::memory_order_acquire);
  if (plan) return plan;
  // The cache keeps FFTW's thread set-up alive for as long as the process
  // runs: a clean-up by the last FFTConvolver would invalidate these plans.
  static std::once_flag holds_threads;
  std::call_once(holds_threads, [] { fftw_threads_acquire(); });
  std::lock_guard<std::mutex> hold(fftw_planner_lock());
  plan = slot.load(std::memory_order_relaxed);
  if (!plan) {
    plan = make_plan<R>(kind, n, aligned);
    slot.store(plan, std::memory_order_release);
  }
  return plan;
}

}  // namespace

fftwf_plan fft_cached_plan_single(FftPlanKind kind, int n, bool aligned) {
  return cached_plan<float>(kind, n, aligned);
}

fftw_plan fft_cached_plan_double(FftPlanKind kind, int n, bool aligned) {
  return cached_plan<double>(kind, n, aligned);
}

bool fft_plan_aligned(const void* a, const void* b) {
  // fftw_alignment_of and fftwf_alignment_of measure the same SIMD boundary.
  return fftw_alignment_of(static_cast<double*>(const_cast<void*>(a))) == 0 &&
         fftw_alignment_of(static_cast<double*>(const_cast<void*>(b))) == 0;
}
