// Repeated box filters of integer lines: one pass driver for planar lines and
// for lanes side by side.
#include "box_pass.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "box_divide8.h"
#include "box_walk.h"
#include "q4_simd.h"

BoxDivisor box_divisor(uint32_t divisor, uint32_t largest_sample) {
  BoxDivisor d{divisor, 0, 0, false, 0.0f};
  if (divisor < 2) return d;
  const uint32_t float_divisors =
      largest_sample <= 32767 ? kFloatDivisors : largest_sample <= 65535 ? kFloatDivisors16 : 0;
  if (divisor <= float_divisors) {
    // The least float not below 1 / d: c * d is exact in double.
    d.reciprocal = 1.0f / static_cast<float>(divisor);
    if (static_cast<double>(d.reciprocal) * divisor < 1.0) d.reciprocal = std::nextafter(d.reciprocal, 2.0f);
  }
  // (S * m) >> k = floor(S / d + S * e / (d * 2^k)) with e = m * d - 2^k in
  // 0..d-1; the added term stays below 1 / d, so the floor cannot move past
  // the next multiple of d, exactly when S * e < 2^k for the largest S.
  const uint64_t largest_sum = static_cast<uint64_t>(largest_sample) * divisor;
  if (largest_sum > UINT32_MAX) return d;
  for (int k = 32; k < 64; ++k) {
    const uint64_t power = 1ull << k;
    const uint64_t m = (power + divisor - 1) / divisor;
    if (m > UINT32_MAX) break;
    const uint64_t e = m * divisor - power;
    if (largest_sum * e < power) {
      d.multiplier = static_cast<uint32_t>(m);
      d.shift = k;
      d.exact = true;
      return d;
    }
  }
  return d;
}

namespace {

// Lanes handled in one sweep; wider layouts run in chunks of lanes.
const int kLaneChunk = 64;

// Any samples: 64-bit sums, divided as written.
void box_lanes_any(const int* in, int* out, int n, int stride, int lanes, int R) {
  int64_t S[kLaneChunk];
  const int64_t d = 2 * R + 1;
  box_walk_first(in, stride, lanes, R, S);
  box_walk(in, out, n, stride, lanes, R, 0, n, S, [d](int& o, int64_t s) { o = static_cast<int>(s / d); });
}

// 15-bit samples: sums stay below 2^32 and the multiply divides exactly.
Q4_SIMD_BODY void box_lanes_15_body(const int* in, int* out, int n, int stride, int lanes, int R,
                                    const BoxDivisor& dv) {
  uint32_t S[kLaneChunk];
  box_walk_first(in, stride, lanes, R, S);
  box_walk(in, out, n, stride, lanes, R, 0, n, S,
           [&dv](int& o, uint32_t s) { o = static_cast<int>(box_divide(s, dv)); });
}
Q4_SIMD_DISPATCH(void, box_lanes_15,
                 (const int* in, int* out, int n, int stride, int lanes, int R, const BoxDivisor& dv),
                 (in, out, n, stride, lanes, R, dv))

// One planar line of 15-bit samples. The running sum is a prefix sum of the
// differences entering minus leaving the window; eight positions at a time
// it is a scan inside one register. The carry between blocks grows by each
// block's total, kept off the scan so that one addition is all that links a
// block to the next. Only positions whose window lies inside the line run
// in the vector loop, so no index needs clamping there.
Q4_SIMD_TARGET_AVX2 void box_line_15_avx2(const int* in, int* out, int n, int R, const BoxDivisor& dv) {
  uint32_t S;
  box_walk_first(in, 1, 1, R, &S);
  auto divide = [&dv](int& o, uint32_t s) { o = static_cast<int>(box_divide(s, dv)); };
  box_walk(in, out, n, 1, 1, R, 0, R, &S, divide);
  int i = R;
  if (i + R + 8 <= n - 1) {
    const Divide8 d = divide8_for(dv);
    const __m256i last_lane = _mm256_set1_epi32(7);
    __m256i carry = _mm256_set1_epi32(static_cast<int>(S));
    for (; i + R + 8 <= n - 1; i += 8) {
      const __m256i delta = _mm256_sub_epi32(load8(in + i + R + 1), load8(in + i - R));
      __m256i scan = _mm256_add_epi32(delta, _mm256_slli_si256(delta, 4));
      scan = _mm256_add_epi32(scan, _mm256_slli_si256(scan, 8));
      const __m256i low_total = _mm256_shuffle_epi32(scan, 0xFF);
      scan = _mm256_add_epi32(scan, _mm256_permute2x128_si256(low_total, low_total, 0x08));
      const __m256i sums = _mm256_add_epi32(carry, _mm256_sub_epi32(scan, delta));  // at i .. i+7
      carry = _mm256_add_epi32(carry, _mm256_permutevar8x32_epi32(scan, last_lane));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), divide8(sums, d));
    }
    S = static_cast<uint32_t>(_mm256_cvtsi256_si32(carry));
  }
  box_walk(in, out, n, 1, 1, R, i, n, &S, divide);
}

// Sample i of channel c of row q into lane [i * L + 4 * q + c], and back
// (the low 16 bits of each value). Each pixel's four channels are one
// short vector step, where a gather through generic channel maps goes
// sample by sample.
Q4_SIMD_BODY void lanes_from_rows_body(const unsigned short* const* rows, int lines, int n, int L, int* to) {
  for (int i = 0; i < n; ++i)
    for (int q = 0; q < lines; ++q) {
      const unsigned short* s = rows[q] + 4 * static_cast<long>(i);
      int* d = to + static_cast<long>(i) * L + 4 * q;
      for (int c = 0; c < 4; ++c) d[c] = s[c];
    }
}
Q4_SIMD_DISPATCH(void, lanes_from_rows, (const unsigned short* const* rows, int lines, int n, int L, int* to),
                 (rows, lines, n, L, to))

void lanes_to_rows_portable(const int* from, int lines, int n, int L, unsigned short* const* rows) {
  for (int i = 0; i < n; ++i)
    for (int q = 0; q < lines; ++q) {
      const int* s = from + static_cast<long>(i) * L + 4 * q;
      unsigned short* d = rows[q] + 4 * static_cast<long>(i);
      for (int c = 0; c < 4; ++c) d[c] = static_cast<unsigned short>(s[c]);
    }
}

// The compiler narrows the way back sample by sample: here the low halves
// of a pixel's four values are picked by one shuffle.
Q4_SIMD_TARGET_AVX2 void lanes_to_rows_avx2(const int* from, int lines, int n, int L,
                                            unsigned short* const* rows) {
  const __m128i low_halves = _mm_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1);
  for (int i = 0; i < n; ++i)
    for (int q = 0; q < lines; ++q) {
      const __m128i v =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + static_cast<long>(i) * L + 4 * q));
      _mm_storel_epi64(reinterpret_cast<__m128i*>(rows[q] + 4 * static_cast<long>(i)),
                       _mm_shuffle_epi8(v, low_halves));
    }
}

void lanes_to_rows(const int* from, int lines, int n, int L, unsigned short* const* rows) {
  if (q4_simd_use_avx2())
    lanes_to_rows_avx2(from, lines, n, L, rows);
  else
    lanes_to_rows_portable(from, lines, n, L, rows);
}

// Runs of `samples` samples, one a position, into lanes [i * L + k] and
// back (the low 16 bits of each value, picked as on the way back from rows).
Q4_SIMD_BODY void lanes_from_runs_body(const unsigned short* const* runs, int count, int samples, int L,
                                       int* to) {
  for (int i = 0; i < count; ++i) {
    const unsigned short* s = runs[i];
    int* d = to + static_cast<long>(i) * L;
    for (int k = 0; k < samples; ++k) d[k] = s[k];
  }
}
Q4_SIMD_DISPATCH(void, lanes_from_runs, (const unsigned short* const* runs, int count, int samples, int L, int* to),
                 (runs, count, samples, L, to))

void lanes_to_runs_portable(const int* from, int count, int samples, int L, unsigned short* const* runs) {
  for (int i = 0; i < count; ++i) {
    const int* s = from + static_cast<long>(i) * L;
    unsigned short* d = runs[i];
    for (int k = 0; k < samples; ++k) d[k] = static_cast<unsigned short>(s[k]);
  }
}

Q4_SIMD_TARGET_AVX2 void lanes_to_runs_avx2(const int* from, int count, int samples, int L,
                                            unsigned short* const* runs) {
  const __m256i low_halves = _mm256_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 4,
                                              5, 8, 9, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1);
  for (int i = 0; i < count; ++i) {
    const int* s = from + static_cast<long>(i) * L;
    unsigned short* d = runs[i];
    int k = 0;
    for (; k + 8 <= samples; k += 8) {
      const __m256i v = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(load8(s + k), low_halves), 0x08);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + k), _mm256_castsi256_si128(v));
    }
    for (; k < samples; ++k) d[k] = static_cast<unsigned short>(s[k]);
  }
}

void lanes_to_runs(const int* from, int count, int samples, int L, unsigned short* const* runs) {
  if (q4_simd_use_avx2())
    lanes_to_runs_avx2(from, count, samples, L, runs);
  else
    lanes_to_runs_portable(from, count, samples, L, runs);
}

Q4_SIMD_BODY int bits_above_15_body(const int* line, long count) {
  int outside = 0;
  for (long i = 0; i < count; ++i) outside |= line[i] & ~0x7FFF;  // negatives too
  return outside;
}
Q4_SIMD_DISPATCH(int, bits_above_15, (const int* line, long count), (line, count))

// One pass of one line (lanes == 1) or of lanes side by side.
void box_pass_line(const int* in, int* out, int n, int lanes, int R, const BoxDivisor& dv, bool fast,
                   bool avx2) {
  if (R == 0) {
    std::memcpy(out, in, static_cast<size_t>(n) * lanes * sizeof(int));
    return;
  }
  if (lanes == 1 && fast && avx2) {
    box_line_15_avx2(in, out, n, R, dv);
    return;
  }
  for (int l = 0; l < lanes; l += kLaneChunk) {
    const int count = std::min(kLaneChunk, lanes - l);
    if (fast)
      box_lanes_15(in + l, out + l, n, lanes, count, R, dv);
    else
      box_lanes_any(in + l, out + l, n, lanes, count, R);
  }
}

// Whether every sample of the lines is 15-bit.
bool samples_15(int n, int lanes, int lines, int* const* in) {
  for (int l = 0; l < lines; ++l)
    if (bits_above_15(in[l], static_cast<long>(n) * lanes) != 0) return false;
  return true;
}

// `passes` passes at radius R: the first reads `from` and writes a, the
// others alternate between a and b (b -> a, then a -> b, ...). A pass keeps
// its samples' range, so the check of `from` serves every pass.
void run_passes(int R, int passes, int n, int lanes, int lines, int* const* from, int* const* a,
                int* const* b, bool fast_samples) {
  const BoxDivisor dv = box_divisor(static_cast<uint32_t>(2 * R + 1));
  const bool fast = fast_samples && dv.exact;
  const bool avx2 = q4_simd_use_avx2();
  int* const* to = a;
  for (int pass = 0; pass < passes; ++pass) {
    for (int l = 0; l < lines; ++l) box_pass_line(from[l], to[l], n, lanes, R, dv, fast, avx2);
    from = to;
    to = to == a ? b : a;
  }
}

// The one body behind every box pass: `lines` separate lines, each of n
// positions of `lanes` samples.
void box_pass_lines(int radius, int passes, int n, int lanes, int lines, int* const* in, int* const* out) {
  if (passes < 1 || n < 1 || lanes < 1) return;
  const int R = box_walk_radius(radius, n);
  run_passes(R, passes, n, lanes, lines, in, out, in, samples_15(n, lanes, lines, in));
}

}  // namespace

void box_pass_1(int radius, int passes, int n, int* in, int* out) {
  int* const in_lines[1] = {in};
  int* const out_lines[1] = {out};
  box_pass_lines(radius, passes, n, 1, 1, in_lines, out_lines);
}

void box_pass_3(int radius, int passes, int n, int* in0, int* in1, int* in2, int* out0, int* out1,
                int* out2) {
  int* const in_lines[3] = {in0, in1, in2};
  int* const out_lines[3] = {out0, out1, out2};
  box_pass_lines(radius, passes, n, 1, 3, in_lines, out_lines);
}

void box_pass_4(int radius, int passes, int n, int* in0, int* in1, int* in2, int* in3, int* out0, int* out1,
                int* out2, int* out3) {
  int* const in_lines[4] = {in0, in1, in2, in3};
  int* const out_lines[4] = {out0, out1, out2, out3};
  box_pass_lines(radius, passes, n, 1, 4, in_lines, out_lines);
}


void box_lanes_from_rows(const unsigned short* const* rows, int lines, int n, int L, int* to) {
  lanes_from_rows(rows, lines, n, L, to);
}

void box_lanes_to_rows(const int* from, int lines, int n, int L, unsigned short* const* rows) {
  lanes_to_rows(from, lines, n, L, rows);
}

void box_lanes_from_runs(const unsigned short* const* runs, int count, int samples, int L, int* to) {
  lanes_from_runs(runs, count, samples, L, to);
}

void box_lanes_to_runs(const int* from, int count, int samples, int L, unsigned short* const* runs) {
  lanes_to_runs(from, count, samples, L, runs);
}
