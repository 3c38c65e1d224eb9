#ifndef FIELD_SAMPLING_H
#define FIELD_SAMPLING_H

#include <cmath>

// Interpolation of a stored field component at a grid position. Each axis
// is resolved to its taps first, by the rule of the field kind and layout;
// the bilinear and Catmull-Rom forms then read the same taps for every kind.
// These run per cell in every trace, so they live here to be inlined.

struct AxisTaps {
  int m, a, b, c;  // the outer taps m and c around the base pair a, b
  float f;         // fraction between a and b
};

// Forced inline: the kernels that sample are compiled for two instruction
// sets, and a helper left out of line in one of them costs a call per tap.
#define FIELD_SAMPLING_INLINE inline __attribute__((always_inline))

namespace field_sampling {

// Outer taps: periodic in the FFT layout, clamped to the ghost ring in the
// DIRECT layout. The base tap a lies in 0..n-1, so the outer taps wrap by
// subtraction (twice only when n is 1) instead of a division each: a trace
// samples a field many times a cell.
FIELD_SAMPLING_INLINE void wrap_outer(AxisTaps& t, int n) {
  t.c = t.a + 2;
  while (t.c >= n) t.c -= n;
  t.m = t.a == 0 ? n - 1 : t.a - 1;
}

FIELD_SAMPLING_INLINE void clamp_outer(AxisTaps& t, int n) {
  t.c = t.a + 2 < n + 1 ? t.a + 2 : n + 1;
  t.m = t.a > 0 ? t.a - 1 : 0;
}

// Scalar field, FFT layout: each tap of the base pair is clamped to the
// grid while the fraction keeps its value, so a position left of column 0
// reads column 0 twice. NaN falls to column 0.
FIELD_SAMPLING_INLINE int clamped_column(float c, int n) {
  return !(c >= 0.0f) ? 0 : (c >= static_cast<float>(n - 1) ? n - 1 : static_cast<int>(c));
}

FIELD_SAMPLING_INLINE AxisTaps scalar_fft(float x, int n) {
  AxisTaps t;
  const float base = std::floor(x);
  t.f = x - base;
  t.a = clamped_column(base, n);
  t.b = clamped_column(base + 1.0f, n);
  wrap_outer(t, n);
  return t;
}

// Scalar field, DIRECT layout: positions reach into the ghost ring on both
// sides.
FIELD_SAMPLING_INLINE AxisTaps scalar_direct(float x, int n) {
  AxisTaps t;
  const float top = static_cast<float>(n) + 0.999f;
  const float xc = x >= 0.0f ? (x < top ? x : top) : 0.0f;
  t.a = static_cast<int>(xc);
  t.b = t.a + 1;
  t.f = xc - static_cast<float>(t.a);
  clamp_outer(t, n);
  return t;
}

// Vector field, FFT layout: periodic. A position too far out to be an int
// counts as 0 (NaN too).
FIELD_SAMPLING_INLINE AxisTaps vector_fft(float x, int n) {
  AxisTaps t;
  float base = std::floor(x);
  if (!(base > -1e9f && base < 1e9f)) base = 0.0f;
  t.f = x - base;
  // One division finds the base tap; the others follow from it.
  t.a = static_cast<int>(base) % n;
  if (t.a < 0) t.a += n;
  t.b = t.a + 1 == n ? 0 : t.a + 1;
  wrap_outer(t, n);
  return t;
}

// Vector field, DIRECT layout: clamped to the half cell inside the ghosts.
FIELD_SAMPLING_INLINE AxisTaps vector_direct(float x, int n) {
  AxisTaps t;
  const float hi = static_cast<float>(n) + 0.5f;
  const float xc = x > 0.5f ? (x < hi ? x : hi) : 0.5f;
  t.a = static_cast<int>(xc);
  t.b = t.a + 1;
  t.f = xc - static_cast<float>(t.a);
  clamp_outer(t, n);
  return t;
}

FIELD_SAMPLING_INLINE float bilinear(const float* d, int stride, const AxisTaps& x, const AxisTaps& y) {
  const float* r0 = d + y.a * stride;
  const float* r1 = d + y.b * stride;
  return (1.0f - x.f) * ((1.0f - y.f) * r0[x.a] + y.f * r1[x.a]) +
         x.f * ((1.0f - y.f) * r0[x.b] + y.f * r1[x.b]);
}

// Catmull-Rom: the tangents are half the central differences.
FIELD_SAMPLING_INLINE float hermite(float t, float vm, float v0, float v1, float v2) {
  const float t2 = t * t, t3 = t2 * t;
  const float h00 = 2.0f * t3 - 3.0f * t2 + 1.0f;
  const float h01 = 3.0f * t2 - 2.0f * t3;
  const float h10 = t3 - 2.0f * t2 + t;
  const float h11 = t3 - t2;
  return h00 * v0 + h01 * v1 + h10 * 0.5f * (v1 - vm) + h11 * 0.5f * (v2 - v0);
}

FIELD_SAMPLING_INLINE float cubic(const float* d, int stride, const AxisTaps& x, const AxisTaps& y) {
  const int rows[4] = {y.m, y.a, y.b, y.c};
  float r[4];
  for (int k = 0; k < 4; ++k) {
    const float* row = d + rows[k] * stride;
    r[k] = hermite(x.f, row[x.m], row[x.a], row[x.b], row[x.c]);
  }
  return hermite(y.f, r[0], r[1], r[2], r[3]);
}

FIELD_SAMPLING_INLINE float sample(const float* d, int stride, const AxisTaps& x, const AxisTaps& y, bool use_cubic) {
  return use_cubic ? cubic(d, stride, x, y) : bilinear(d, stride, x, y);
}

}  // namespace field_sampling

#endif
