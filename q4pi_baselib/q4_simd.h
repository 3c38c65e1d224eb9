#ifndef Q4_SIMD_H
#define Q4_SIMD_H

// Hot kernels are compiled twice from one body: once for AVX2 (with FMA) and
// once for baseline x86-64, and the AVX2 copy runs when the processor has it.
// The tree is built with -ffp-contract=off and without fast-math, so the
// compiler may widen a loop but never reorders or fuses float arithmetic:
// both copies give the same bits, which each kernel's test checks by running
// both.
//
//   Q4_SIMD_BODY float blend_row_body(const float* a, float* b, int n) { ...loop... }
//   Q4_SIMD_DISPATCH(float, blend_row, (const float* a, float* b, int n), (a, b, n))
//
// defines blend_row_avx2, blend_row_portable and the dispatching blend_row,
// all static to the file that holds the body. The body is plain C++ that the
// compiler widens in each copy; a kernel that needs hand-written intrinsics
// writes its AVX2 function with Q4_SIMD_TARGET_AVX2 itself and picks it with
// q4_simd_use_avx2(), beside a portable one.

#define Q4_SIMD_BODY static inline __attribute__((always_inline))
#define Q4_SIMD_TARGET_AVX2 __attribute__((target("avx2,fma")))

// True when kernels take their AVX2 copy: the processor supports it and no
// test has asked for the portable one.
bool q4_simd_use_avx2();

// Test seam: forces the portable copies (true) or returns to the processor's
// best (false). Not for use while kernels run on other threads.
void q4_simd_force_portable(bool portable);

#define Q4_SIMD_DISPATCH(ret, name, params, args)                                     \
  Q4_SIMD_TARGET_AVX2 __attribute__((noinline)) static ret name##_avx2 params {     \
    return name##_body args;                                                       \
  }                                                                                \
  __attribute__((noinline)) static ret name##_portable params { return name##_body args; } \
  static inline ret name params { return q4_simd_use_avx2() ? name##_avx2 args : name##_portable args; }

#endif
