#ifndef FFTW_PLAN_CACHE_H
#define FFTW_PLAN_CACHE_H

#include <fftw3.h>

// One FFTW plan per precision, kind, power-of-two size (2 to 8192) and
// alignment class, made on first use under the planner lock and kept for
// the life of the process. Plans are single-threaded and meant for FFTW's
// new-array execution on any arrays of the same shape, from any thread:
// aligned plans need every array at FFTW's SIMD alignment, the others take
// any address. Null for a size outside the range or a failed planning.
enum FftPlanKind {
  FFT_PLAN_FORWARD,   // complex, in place, exp(-2 pi i jk/n)
  FFT_PLAN_BACKWARD,  // complex, in place, unscaled inverse
  FFT_PLAN_R2C,       // n reals to n/2 + 1 complex, out of place, input kept
  FFT_PLAN_C2R,       // n/2 + 1 complex to n reals, out of place, input lost
  FFT_PLAN_FORWARD_OUT,   // complex, out of place, input kept
  FFT_PLAN_BACKWARD_OUT,  // complex, out of place, input kept
  FFT_PLAN_KINDS
};

fftwf_plan fft_cached_plan_single(FftPlanKind kind, int n, bool aligned);
fftw_plan fft_cached_plan_double(FftPlanKind kind, int n, bool aligned);

// True when both addresses suit an aligned plan.
bool fft_plan_aligned(const void* a, const void* b);

#endif
