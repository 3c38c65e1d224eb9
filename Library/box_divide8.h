#ifndef BOX_DIVIDE8_H
#define BOX_DIVIDE8_H

// Window sums of the box passes divided eight lanes at a time, by the exact
// multiply or the float reciprocal of a BoxDivisor.

#include <immintrin.h>

#include "box_pass.h"
#include "q4_simd.h"

// Eight window sums divided at once: 64-bit products of the even and the odd
// lanes; each quotient is bits shift .. shift+31 of its product, which the
// odd lanes already hold in their upper half after a shift by shift - 32.
struct Divide8 {
  __m256i multiplier;
  __m128i shift, shift_odd;
};

Q4_SIMD_TARGET_AVX2 inline Divide8 divide8_for(const BoxDivisor& dv) {
  return Divide8{_mm256_set1_epi32(static_cast<int>(dv.multiplier)), _mm_cvtsi32_si128(dv.shift),
                 _mm_cvtsi32_si128(dv.shift - 32)};
}

Q4_SIMD_TARGET_AVX2 inline __m256i divide8(__m256i sums, const Divide8& d) {
  const __m256i even = _mm256_srl_epi64(_mm256_mul_epu32(sums, d.multiplier), d.shift);
  const __m256i odd = _mm256_srl_epi64(_mm256_mul_epu32(_mm256_srli_epi64(sums, 32), d.multiplier), d.shift_odd);
  return _mm256_blend_epi32(even, odd, 0xAA);
}

// The same for divisors with a float reciprocal (box_float_divide), in half
// the steps.
struct DivideFloat8 {
  __m256 reciprocal;
};

Q4_SIMD_TARGET_AVX2 inline __m256i divide8(__m256i sums, const DivideFloat8& d) {
  return _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(sums), d.reciprocal));
}

Q4_SIMD_TARGET_AVX2 inline __m256i load8(const int* at) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
}

#endif
