// Repeated box filters of one, three or four integer lines.
#include "box_pass.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "q4_simd.h"

BoxDivisor box_divisor(uint32_t divisor) {
  BoxDivisor d{divisor, 0, 0, false};
  if (divisor < 2) return d;
  // (S * m) >> k = floor(S / d + S * e / (d * 2^k)) with e = m * d - 2^k in
  // 0..d-1; the added term stays below 1 / d, so the floor cannot move past
  // the next multiple of d, exactly when S * e < 2^k for the largest S.
  const uint64_t largest_sum = 32767ull * divisor;
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

// Outputs positions from..to-1 of one pass from the window sum at `from`,
// leaving the sum at `to`. Indices are clamped, so any span of the line may
// run here; Sum is wide enough for the samples at hand.
template <typename Sum, typename Divide>
inline void box_run(const int* in, int* out, int n, int R, int from, int to, Sum& S, Divide divide) {
  for (int i = from; i < to; ++i) {
    out[i] = divide(S);
    S += static_cast<Sum>(in[std::min(i + R + 1, n - 1)]) - static_cast<Sum>(in[std::max(i - R, 0)]);
  }
}

template <typename Sum>
inline Sum first_window(const int* in, int R) {
  Sum S = static_cast<Sum>(R) * static_cast<Sum>(in[0]);
  for (int j = 0; j <= R; ++j) S += static_cast<Sum>(in[j]);
  return S;
}

// Any samples: 64-bit sums, divided as written.
void box_line_any(const int* in, int* out, int n, int R) {
  int64_t S = first_window<int64_t>(in, R);
  const int64_t d = 2 * R + 1;
  box_run(in, out, n, R, 0, n, S, [d](int64_t s) { return static_cast<int>(s / d); });
}

// 15-bit samples: sums stay below 2^32 and the multiply divides exactly.
void box_line_15_portable(const int* in, int* out, int n, int R, const BoxDivisor& dv) {
  uint32_t S = first_window<uint32_t>(in, R);
  box_run(in, out, n, R, 0, n, S, [&dv](uint32_t s) { return static_cast<int>(box_divide(s, dv)); });
}

// The running sum is a prefix sum of the differences entering minus leaving
// the window; eight positions at a time it is a scan inside one register.
// The carry between blocks grows by each block's total, kept off the scan so
// that one addition is all that links a block to the next. Only positions
// whose window lies inside the line run here, so no index needs clamping.
Q4_SIMD_TARGET_AVX2 void box_line_15_avx2(const int* in, int* out, int n, int R, const BoxDivisor& dv) {
  uint32_t S = first_window<uint32_t>(in, R);
  auto divide = [&dv](uint32_t s) { return static_cast<int>(box_divide(s, dv)); };
  box_run(in, out, n, R, 0, R, S, divide);
  int i = R;
  if (i + R + 8 <= n - 1) {
    const __m256i multiplier = _mm256_set1_epi32(static_cast<int>(dv.multiplier));
    const __m128i shift = _mm_cvtsi32_si128(dv.shift);
    const __m128i shift_odd = _mm_cvtsi32_si128(dv.shift - 32);
    const __m256i last_lane = _mm256_set1_epi32(7);
    __m256i carry = _mm256_set1_epi32(static_cast<int>(S));
    for (; i + R + 8 <= n - 1; i += 8) {
      const __m256i entering = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i + R + 1));
      const __m256i leaving = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i - R));
      const __m256i delta = _mm256_sub_epi32(entering, leaving);
      __m256i scan = _mm256_add_epi32(delta, _mm256_slli_si256(delta, 4));
      scan = _mm256_add_epi32(scan, _mm256_slli_si256(scan, 8));
      const __m256i low_total = _mm256_shuffle_epi32(scan, 0xFF);
      scan = _mm256_add_epi32(scan, _mm256_permute2x128_si256(low_total, low_total, 0x08));
      const __m256i sums = _mm256_add_epi32(carry, _mm256_sub_epi32(scan, delta));  // at i .. i+7
      carry = _mm256_add_epi32(carry, _mm256_permutevar8x32_epi32(scan, last_lane));
      // 64-bit products of the even and the odd lanes; each quotient is bits
      // shift .. shift+31 of its product, which the odd lanes already hold in
      // their upper half after a shift by shift - 32.
      const __m256i even = _mm256_srl_epi64(_mm256_mul_epu32(sums, multiplier), shift);
      const __m256i odd =
          _mm256_srl_epi64(_mm256_mul_epu32(_mm256_srli_epi64(sums, 32), multiplier), shift_odd);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_blend_epi32(even, odd, 0xAA));
    }
    S = static_cast<uint32_t>(_mm256_cvtsi256_si32(carry));
  }
  box_run(in, out, n, R, i, n, S, divide);
}

Q4_SIMD_BODY int bits_above_15_body(const int* line, int n) {
  int outside = 0;
  for (int i = 0; i < n; ++i) outside |= line[i] & ~0x7FFF;  // negatives too
  return outside;
}
Q4_SIMD_DISPATCH(int, bits_above_15, (const int* line, int n), (line, n))

bool all_15_bit(int lines, int* const* line, int n) {
  for (int l = 0; l < lines; ++l)
    if (bits_above_15(line[l], n) != 0) return false;
  return true;
}

// The one body behind box_pass_1, _3 and _4.
void box_pass_lines(int radius, int passes, int n, int lines, int* const* in, int* const* out) {
  if (passes < 1 || n < 1) return;
  const int R = radius > 0 ? std::min(radius, n / 2) : 0;
  const BoxDivisor dv = box_divisor(static_cast<uint32_t>(2 * R + 1));
  const bool fast = dv.exact && all_15_bit(lines, in, n);
  const bool avx2 = fast && q4_simd_use_avx2();
  int* const* from = in;
  int* const* to = out;
  for (int pass = 0; pass < passes; ++pass) {
    for (int l = 0; l < lines; ++l) {
      if (R == 0)
        std::memcpy(to[l], from[l], static_cast<size_t>(n) * sizeof(int));
      else if (avx2)
        box_line_15_avx2(from[l], to[l], n, R, dv);
      else if (fast)
        box_line_15_portable(from[l], to[l], n, R, dv);
      else
        box_line_any(from[l], to[l], n, R);
    }
    std::swap(from, to);
  }
}

}  // namespace

void box_pass_1(int radius, int passes, int n, int* in, int* out) {
  int* const in_lines[1] = {in};
  int* const out_lines[1] = {out};
  box_pass_lines(radius, passes, n, 1, in_lines, out_lines);
}

void box_pass_3(int radius, int passes, int n, int* in0, int* in1, int* in2, int* out0, int* out1,
                int* out2) {
  int* const in_lines[3] = {in0, in1, in2};
  int* const out_lines[3] = {out0, out1, out2};
  box_pass_lines(radius, passes, n, 3, in_lines, out_lines);
}

void box_pass_4(int radius, int passes, int n, int* in0, int* in1, int* in2, int* in3, int* out0,
                int* out1, int* out2, int* out3) {
  int* const in_lines[4] = {in0, in1, in2, in3};
  int* const out_lines[4] = {out0, out1, out2, out3};
  box_pass_lines(radius, passes, n, 4, in_lines, out_lines);
}
