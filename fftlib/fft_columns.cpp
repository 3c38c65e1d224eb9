#include "fft_columns.h"

#include <immintrin.h>

#include <cstdint>

#include "q4_simd.h"

// Column passes copy a block of columns out of a row-major grid into
// contiguous lines and back: a transpose. With AVX2 it moves 8 x 8 tiles of
// floats, 4 x 4 tiles of 64-bit samples (complex4) or 2 x 2 tiles of 128-bit
// ones (complex8) through registers, and the samples past the last whole
// tile one at a time, as the portable copy moves them all. Both move the
// same bytes.

namespace {

// Rows i0 .. h - 1 of columns 0 .. count - 1, and rows 0 .. i0 - 1 of
// columns b0 .. count - 1: what the tiles of the AVX2 copy leave over.
template <typename C>
void gather_portable(const C* grid, int w, int h, int c, int count, C* buffer, int line, int i0, int b0) {
  for (int i = 0; i < h; ++i) {
    const C* row = grid + static_cast<ptrdiff_t>(i) * w + c;
    for (int b = i < i0 ? b0 : 0; b < count; ++b) buffer[b * line + i] = row[b];
  }
}

template <typename C>
void scatter_portable(C* grid, int w, int h, int c, int count, const C* buffer, int line, int i0, int b0) {
  for (int i = 0; i < h; ++i) {
    C* row = grid + static_cast<ptrdiff_t>(i) * w + c;
    for (int b = i < i0 ? b0 : 0; b < count; ++b) row[b] = buffer[b * line + i];
  }
}

void mirror_row_portable(const complex4* row, complex4* mirror, int n, int c0) {
  if (c0 == 0) mirror[0] = {row[0].re, -row[0].im};
  for (int c = c0 > 1 ? c0 : 1; c < n; ++c) mirror[c] = {row[n - c].re, -row[n - c].im};
}

void symmetric_portable(const complex4* grid, int w, int n, int c, int count, complex4* buffer) {
  for (int i = 0; i < n; ++i) {
    const complex4* mirror = grid + static_cast<ptrdiff_t>((n - i) & (n - 1)) * w;
    for (int b = 0; b < count; ++b) {
      const complex4 m = mirror[(n - c - b) & (n - 1)];
      complex4& v = buffer[b * n + i];
      v = {0.5f * (v.re + m.re), 0.5f * (v.im - m.im)};
    }
  }
}

// Rows r0..r3 of four 64-bit samples become columns.
Q4_SIMD_TARGET_AVX2 inline void transpose4(__m256d& r0, __m256d& r1, __m256d& r2, __m256d& r3) {
  const __m256d t0 = _mm256_unpacklo_pd(r0, r1), t1 = _mm256_unpackhi_pd(r0, r1);
  const __m256d t2 = _mm256_unpacklo_pd(r2, r3), t3 = _mm256_unpackhi_pd(r2, r3);
  r0 = _mm256_permute2f128_pd(t0, t2, 0x20);
  r1 = _mm256_permute2f128_pd(t1, t3, 0x20);
  r2 = _mm256_permute2f128_pd(t0, t2, 0x31);
  r3 = _mm256_permute2f128_pd(t1, t3, 0x31);
}

// Samples on a side of one register tile.
template <typename C>
constexpr int kTile = sizeof(C) == sizeof(float) ? 8 : sizeof(C) == sizeof(complex4) ? 4 : 2;

// One 8 x 8 tile of floats.
Q4_SIMD_TARGET_AVX2 inline void tile(const float* from, ptrdiff_t from_stride, float* to, ptrdiff_t to_stride) {
  __m256 r[8], t[8];
  for (int k = 0; k < 8; ++k) r[k] = _mm256_loadu_ps(from + k * from_stride);
  for (int k = 0; k < 8; k += 2) {
    t[k] = _mm256_unpacklo_ps(r[k], r[k + 1]);
    t[k + 1] = _mm256_unpackhi_ps(r[k], r[k + 1]);
  }
  for (int k = 0; k < 8; k += 4) {
    r[k] = _mm256_shuffle_ps(t[k], t[k + 2], 0x44);
    r[k + 1] = _mm256_shuffle_ps(t[k], t[k + 2], 0xEE);
    r[k + 2] = _mm256_shuffle_ps(t[k + 1], t[k + 3], 0x44);
    r[k + 3] = _mm256_shuffle_ps(t[k + 1], t[k + 3], 0xEE);
  }
  for (int k = 0; k < 4; ++k) {
    _mm256_storeu_ps(to + k * to_stride, _mm256_permute2f128_ps(r[k], r[k + 4], 0x20));
    _mm256_storeu_ps(to + (k + 4) * to_stride, _mm256_permute2f128_ps(r[k], r[k + 4], 0x31));
  }
}

// One 4 x 4 tile: four rows of `from` (row stride from_stride, in samples)
// into four rows of `to`.
Q4_SIMD_TARGET_AVX2 inline void tile(const complex4* from, ptrdiff_t from_stride, complex4* to, ptrdiff_t to_stride) {
  __m256d r0 = _mm256_loadu_pd(reinterpret_cast<const double*>(from));
  __m256d r1 = _mm256_loadu_pd(reinterpret_cast<const double*>(from + from_stride));
  __m256d r2 = _mm256_loadu_pd(reinterpret_cast<const double*>(from + 2 * from_stride));
  __m256d r3 = _mm256_loadu_pd(reinterpret_cast<const double*>(from + 3 * from_stride));
  transpose4(r0, r1, r2, r3);
  _mm256_storeu_pd(reinterpret_cast<double*>(to), r0);
  _mm256_storeu_pd(reinterpret_cast<double*>(to + to_stride), r1);
  _mm256_storeu_pd(reinterpret_cast<double*>(to + 2 * to_stride), r2);
  _mm256_storeu_pd(reinterpret_cast<double*>(to + 3 * to_stride), r3);
}

// Conjugates, and reverses the order of four samples.
Q4_SIMD_TARGET_AVX2 inline __m256d conj_reversed(__m256d v) {
  const __m256d sign = _mm256_castsi256_pd(_mm256_set1_epi64x(static_cast<long long>(0x8000000000000000ull)));
  return _mm256_xor_pd(_mm256_permute4x64_pd(v, 0x1B), sign);
}

// Four samples at a time from the far end of the row, reversed and
// conjugated. Streamed, they go to memory without first reading the lines
// they overwrite, from the first 32-byte boundary on.
Q4_SIMD_TARGET_AVX2 void mirror_row_avx2(const complex4* row, complex4* mirror, int n, bool stream) {
  mirror[0] = {row[0].re, -row[0].im};
  int c = 1;
  if (stream && reinterpret_cast<uintptr_t>(mirror) % sizeof(complex4) == 0) {
    for (; c < n && reinterpret_cast<uintptr_t>(mirror + c) % 32 != 0; ++c)
      mirror[c] = {row[n - c].re, -row[n - c].im};
    for (; c + 4 <= n; c += 4)
      _mm256_stream_pd(reinterpret_cast<double*>(mirror + c),
                       conj_reversed(_mm256_loadu_pd(reinterpret_cast<const double*>(row + n - c - 3))));
    _mm_sfence();
  }
  for (; c + 4 <= n; c += 4)
    _mm256_storeu_pd(reinterpret_cast<double*>(mirror + c),
                     conj_reversed(_mm256_loadu_pd(reinterpret_cast<const double*>(row + n - c - 3))));
  mirror_row_portable(row, mirror, n, c);
}

// The mirror reads of symmetric_portable by tiles: row n - i - t, columns
// n - c - b - 3 .. n - c - b, reversed and conjugated, transposed onto the
// buffer lines b .. b + 3 at samples i .. i + 3.
Q4_SIMD_TARGET_AVX2 void symmetric_avx2(const complex4* grid, int w, int n, int c, int count, complex4* buffer) {
  const __m256 half = _mm256_set1_ps(0.5f);
  for (int i = 0; i < n; i += 4)
    for (int b = 0; b < count; b += 4) {
      __m256d r[4];
      for (int t = 0; t < 4; ++t) {
        const complex4* mirror = grid + static_cast<ptrdiff_t>((n - i - t) & (n - 1)) * w + n - c - b - 3;
        r[t] = conj_reversed(_mm256_loadu_pd(reinterpret_cast<const double*>(mirror)));
      }
      transpose4(r[0], r[1], r[2], r[3]);
      for (int k = 0; k < 4; ++k) {
        float* line = reinterpret_cast<float*>(buffer + (b + k) * n + i);
        const __m256 sum = _mm256_add_ps(_mm256_loadu_ps(line), _mm256_castpd_ps(r[k]));
        _mm256_storeu_ps(line, _mm256_mul_ps(half, sum));
      }
    }
}

// 2 x 2 tiles of complex8 samples.
Q4_SIMD_TARGET_AVX2 inline void tile(const complex8* from, ptrdiff_t from_stride, complex8* to, ptrdiff_t to_stride) {
  const __m256d r0 = _mm256_loadu_pd(reinterpret_cast<const double*>(from));
  const __m256d r1 = _mm256_loadu_pd(reinterpret_cast<const double*>(from + from_stride));
  _mm256_storeu_pd(reinterpret_cast<double*>(to), _mm256_permute2f128_pd(r0, r1, 0x20));
  _mm256_storeu_pd(reinterpret_cast<double*>(to + to_stride), _mm256_permute2f128_pd(r0, r1, 0x31));
}

// Whole tiles over rows 0 .. h - 1 and columns 0 .. count - 1, both
// multiples of the tile.
// The gather reads a short stretch of each of many rows, which the hardware
// prefetchers do not follow from row to row: the stretches of the rows a few
// tiles down are asked for ahead.
template <typename C>
Q4_SIMD_TARGET_AVX2 void gather_avx2(const C* grid, int w, int h, int c, int count, C* buffer, int line) {
  const int ahead = 2 * kTile<C>, bytes = count * static_cast<int>(sizeof(C));
  for (int i = 0; i < h; i += kTile<C>) {
    for (int k = i + ahead; k < i + ahead + kTile<C> && k < h; ++k) {
      const char* row = reinterpret_cast<const char*>(grid + static_cast<ptrdiff_t>(k) * w + c);
      for (int at = 0; at < bytes; at += 64) _mm_prefetch(row + at, _MM_HINT_T0);
    }
    for (int b = 0; b < count; b += kTile<C>)
      tile(grid + static_cast<ptrdiff_t>(i) * w + c + b, w, buffer + b * line + i, line);
  }
}

template <typename C>
Q4_SIMD_TARGET_AVX2 void scatter_avx2(C* grid, int w, int h, int c, int count, const C* buffer, int line) {
  for (int i = 0; i < h; i += kTile<C>)
    for (int b = 0; b < count; b += kTile<C>)
      tile(buffer + b * line + i, line, grid + static_cast<ptrdiff_t>(i) * w + c + b, w);
}

// Rows and columns the AVX2 copy covers by whole tiles (none on the
// portable path).
template <typename C>
int tiled(int length) {
  return q4_simd_use_avx2() ? length - length % kTile<C> : 0;
}

}  // namespace

template <typename C>
void gather_columns(const C* grid, int w, int h, int c, int count, C* buffer, int line) {
  const int th = tiled<C>(h), tc = tiled<C>(count);
  if (th > 0 && tc > 0) gather_avx2(grid, w, th, c, tc, buffer, line);
  gather_portable(grid, w, h, c, count, buffer, line, th, tc);
}

template <typename C>
void scatter_columns(C* grid, int w, int h, int c, int count, const C* buffer, int line) {
  const int th = tiled<C>(h), tc = tiled<C>(count);
  if (th > 0 && tc > 0) scatter_avx2(grid, w, th, c, tc, buffer, line);
  scatter_portable(grid, w, h, c, count, buffer, line, th, tc);
}

template void gather_columns(const float*, int, int, int, int, float*, int);
template void gather_columns(const complex4*, int, int, int, int, complex4*, int);
template void gather_columns(const complex8*, int, int, int, int, complex8*, int);
template void scatter_columns(complex4*, int, int, int, int, const complex4*, int);
template void scatter_columns(complex8*, int, int, int, int, const complex8*, int);

void add_mirrored_columns(const complex4* grid, int w, int n, int c, int count, complex4* buffer) {
  if (c >= 1 && q4_simd_use_avx2() && n % 4 == 0 && count % 4 == 0)
    symmetric_avx2(grid, w, n, c, count, buffer);
  else
    symmetric_portable(grid, w, n, c, count, buffer);
}

void mirror_row(const complex4* row, complex4* mirror, int n, bool stream) {
  if (q4_simd_use_avx2())
    mirror_row_avx2(row, mirror, n, stream);
  else
    mirror_row_portable(row, mirror, n, 0);
}
