#ifndef COLOUR_RAMP_H
#define COLOUR_RAMP_H

// Lookup in a ramp of n >= 1 control points at ascending positions: below
// the first position the first value, above the last the last, and between
// them the straight line through the two points around t.
struct RampPoint {
  int lo, hi;
  float w;  // weight of hi
};

inline RampPoint ramp_point(float t, const float* pos, int n) {
  if (pos[0] >= t) return RampPoint{0, 0, 0.0f};
  if (pos[n - 1] <= t) return RampPoint{n - 1, n - 1, 0.0f};
  // pos[0] < t < pos[n - 1]: some k >= 1 has pos[k] > t >= pos[k - 1] (the
  // bound only matters for positions that are not ascending).
  int k = 1;
  while (k < n - 1 && !(pos[k] > t)) ++k;
  return RampPoint{k - 1, k, (t - pos[k - 1]) / (pos[k] - pos[k - 1])};
}

inline float ramp_value(const RampPoint& p, const float* values) {
  if (p.lo == p.hi) return values[p.lo];
  return values[p.lo] + (values[p.hi] - values[p.lo]) * p.w;
}

#endif
