#ifndef BOX_PASS_H
#define BOX_PASS_H

#include <cstdint>

// Repeated box filters of integer lines: three passes approximate a Gaussian
// at a fixed cost per sample whatever the radius. The frame-image box blurs
// and the fluid layer's texture diffusion run the same passes, all three at
// once, through box_sweep.h.
//
// Each pass replaces sample i by the sum of the 2R + 1 samples i - R .. i + R
// divided by 2R + 1 (truncated toward zero), where R = min(radius, n / 2) and
// a negative radius counts as 0; positions beyond the ends repeat the end
// samples. Passes alternate between the in and out lines, so after an odd
// number of passes the result is in the out lines and after an even number in
// the in lines; the other lines then hold the result of the pass before the
// last (the untouched input after a single pass). passes < 1 or n < 1 does
// nothing. In and out lines must not overlap.
//
// Any int samples are accepted; lines of 15-bit samples (0..32767), which is
// what frame images and the fluid texture hold, take the fast path.
void box_pass_1(int radius, int passes, int n, int* in, int* out);
void box_pass_3(int radius, int passes, int n, int* in0, int* in1, int* in2, int* out0, int* out1, int* out2);
void box_pass_4(int radius, int passes, int n, int* in0, int* in1, int* in2, int* in3, int* out0, int* out1,
                int* out2, int* out3);

// Rows of n four-channel pixels of 16-bit samples (R G B A) as lanes side
// by side and back: sample i of channel c of row q of `lines` rows at
// [i * L + 4 * q + c]; the way back stores the low 16 bits of each value.
// Lanes from 4 * lines up to L are neither read nor written.
void box_lanes_from_rows(const unsigned short* const* rows, int lines, int n, int L, int* to);
void box_lanes_to_rows(const int* from, int lines, int n, int L, unsigned short* const* rows);

// Runs of `samples` adjacent 16-bit samples, one run a position (down
// columns, the run of adjacent pixels a row holds), as lanes and back:
// sample k of the run of position i at [i * L + k]; the way back stores the
// low 16 bits. Lanes from `samples` up to L are neither read nor written.
void box_lanes_from_runs(const unsigned short* const* runs, int count, int samples, int L, int* to);
void box_lanes_to_runs(const int* from, int count, int samples, int L, unsigned short* const* runs);

// The fast path divides a window sum S by d = 2R + 1 as (S * multiplier) >>
// shift, which equals S / d for every S from 0 to largest_sample * d: the
// sums that samples up to largest_sample can reach (32767 for the 15-bit
// samples of frame images, 65535 for any 16-bit sample). `exact` is false
// when no 32-bit multiplier with a shift of at least 32 achieves that, or
// when those sums do not fit 32 bits (d = 1, and some d from 93385 up for
// 15-bit samples, from 46665 up for 16-bit ones); such lines divide as
// written.
//
// Small divisors also have a float reciprocal c, the least float not below
// 1 / d (else 0), with which trunc(float(S) * c) equals S / d for the same
// sums: up to kFloatDivisors for 15-bit samples, up to kFloatDivisors16 for
// 16-bit ones. S < 2^24 converts exactly; c >= 1 / d keeps the product from
// falling below the quotient k, and for S = k d + j, j < d, the product
// stays below k + 1 - 1 / d + (k + 1) 2^-23, that is below k + 1 - 2^-8 for
// k < 2^15 and d <= 127, below k + 1 - 2^-8.9 for k < 2^16 and d <= 101,
// which rounding (by at most 2^-10 below 2^15, 2^-9 below 2^16) cannot
// carry to k + 1.
const uint32_t kFloatDivisors = 127;
const uint32_t kFloatDivisors16 = 101;
struct BoxDivisor {
  uint32_t divisor;
  uint32_t multiplier;
  int shift;
  bool exact;
  float reciprocal;
};
BoxDivisor box_divisor(uint32_t divisor, uint32_t largest_sample = 32767);

inline uint32_t box_divide(uint32_t sum, const BoxDivisor& d) {
  return static_cast<uint32_t>((static_cast<uint64_t>(sum) * d.multiplier) >> d.shift);
}
inline uint32_t box_float_divide(uint32_t sum, const BoxDivisor& d) {
  return static_cast<uint32_t>(static_cast<float>(sum) * d.reciprocal);
}

#endif
