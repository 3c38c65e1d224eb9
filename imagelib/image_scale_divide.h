#ifndef IMAGE_SCALE_DIVIDE_H
#define IMAGE_SCALE_DIVIDE_H

#include <cstdint>

// A reducing pass divides every fixed-point sum of an output by that output's
// weight sum. The divisor is the same for all pixels of the output, so the
// division becomes a multiply and a shift: with c = ceil(log2 d), s = 31 + c
// and m = ceil(2^s / d), the error e = m d - 2^s lies in [0, d), and for
// every sum x below 2^31, x m / 2^s = x / d + x e / (d 2^s) with x e < 2^s,
// which never carries x / d past the next integer: floor(x m / 2^s) is
// floor(x / d) exactly. m stays below 2^32 and x m below 2^63.
struct scale_divisor {
  uint32_t multiplier;
  uint32_t shift;
};

// d is 0 .. 2^31 - 1; a weight sum of 0 gives quotients of 0.
inline scale_divisor scale_divisor_for(uint32_t d) {
  if (d == 0) return {0, 0};
  uint32_t c = 0;
  while ((uint64_t{1} << c) < d) ++c;
  const uint32_t s = 31 + c;
  return {static_cast<uint32_t>(((uint64_t{1} << s) + d - 1) / d), s};
}

// floor(sum / d) for sum below 2^31.
inline uint32_t scale_divide(uint32_t sum, scale_divisor d) {
  return static_cast<uint32_t>((static_cast<uint64_t>(sum) * d.multiplier) >> d.shift);
}

#endif
