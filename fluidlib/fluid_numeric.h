#ifndef FLUID_NUMERIC_H
#define FLUID_NUMERIC_H

// Clamps written so that NaN falls to the lower bound: a NaN compared with
// anything is false, and a NaN that reached an integer conversion would be
// undefined.

inline float at_least(float v, float lo) { return v > lo ? v : lo; }

inline float clamped(float v, float lo, float hi) { return v > lo ? (v < hi ? v : hi) : lo; }

// v clamped into lo..hi, then truncated toward zero.
inline int truncated_within(float v, int lo, int hi) {
  return static_cast<int>(clamped(v, static_cast<float>(lo), static_cast<float>(hi)));
}

// The spacing 1/(n - 1) of n samples spread over 0..1; a single sample has
// no spacing, not an infinite one.
inline float unit_spacing(int n) { return n > 1 ? 1.0f / static_cast<float>(n - 1) : 0.0f; }

#endif
