// The flowed picture over a background, and its matte, on the 15-bit
// integer channels.
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "fluid_flow.h"
#include "fluid_numeric.h"
#include "q4_simd.h"

namespace {

// Pixels composited at a time through a buffer of their own, so that out
// may be bg or fg: each piece of the inputs is read before it is written.
const int kPiece = 256;
// Rows a band claims at a time (row_chunks.h).
const int kChunkRows = 16;

// A sum taken as 16 bits with its top bit set means full.
inline unsigned short full_if_top_bit(uint32_t sum) {
  const uint32_t v = sum & 0xffffu;
  return static_cast<unsigned short>(v >= 32768u ? 32767u : v);
}

// fg over bg, n pixels of four channels: a = (fg alpha * alpha_scale) >> 15
// (32768 keeps the alpha), k = 32767 - a kept to 16 bits, each colour
// ((bg * k) >> 15) + fg (premultiplied: + ((fg * a) >> 15)), alpha
// ((bg alpha * k) >> 15) + a. Unsigned 32 bits hold every product.
template <bool premultiply>
Q4_SIMD_BODY void over_body(const unsigned short* bg, const unsigned short* fg, unsigned short* __restrict out,
                            int n, uint32_t alpha_scale) {
  for (int i = 0; i < 4 * n; i += 4) {
    const uint32_t a = (fg[i + 3] * alpha_scale) >> 15;
    const uint32_t k = (32767u - a) & 0xffffu;
    for (int c = 0; c < 3; ++c) {
      const uint32_t f = premultiply ? (fg[i + c] * a) >> 15 : fg[i + c];
      out[i + c] = full_if_top_bit(((bg[i + c] * k) >> 15) + f);
    }
    out[i + 3] = full_if_top_bit(((bg[i + 3] * k) >> 15) + a);
  }
}

// Four pixels at a time, each in one 128-bit half as 32-bit lanes: the
// same integer steps as over_body, so the bytes are the same.
template <bool premultiply>
Q4_SIMD_TARGET_AVX2 void over_avx2(const unsigned short* bg, const unsigned short* fg, unsigned short* __restrict out,
                                   int n, uint32_t alpha_scale) {
  const __m256i scale = _mm256_set1_epi32(static_cast<int>(alpha_scale));
  const __m256i low16 = _mm256_set1_epi32(0xffff), full = _mm256_set1_epi32(32767);
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    __m256i pairs[2];
    for (int h = 0; h < 2; ++h) {
      const __m256i b = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bg + 4 * i + 8 * h)));
      const __m256i f = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(fg + 4 * i + 8 * h)));
      const __m256i a = _mm256_srli_epi32(_mm256_mullo_epi32(_mm256_shuffle_epi32(f, 0xff), scale), 15);
      const __m256i k = _mm256_and_si256(_mm256_sub_epi32(full, a), low16);
      const __m256i colour = premultiply ? _mm256_srli_epi32(_mm256_mullo_epi32(f, a), 15) : f;
      const __m256i add = _mm256_blend_epi32(colour, a, 0x88);
      const __m256i sum = _mm256_add_epi32(_mm256_srli_epi32(_mm256_mullo_epi32(b, k), 15), add);
      // full_if_top_bit: 16 bits, at most 32767.
      pairs[h] = _mm256_min_epu32(_mm256_and_si256(sum, low16), full);
    }
    // The pack interleaves the halves' pixels 0, 2 | 1, 3: put them back.
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(pairs[0], pairs[1]), 0xd8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i), packed);
  }
  if (i < n) over_body<premultiply>(bg + 4 * i, fg + 4 * i, out + 4 * i, n - i, alpha_scale);
}

template <bool premultiply>
void over(const unsigned short* bg, const unsigned short* fg, unsigned short* __restrict out, int n,
          uint32_t alpha_scale) {
  if (q4_simd_use_avx2())
    over_avx2<premultiply>(bg, fg, out, n, alpha_scale);
  else
    over_body<premultiply>(bg, fg, out, n, alpha_scale);
}

// The foreground's alpha in all four channels.
Q4_SIMD_BODY void matte_body(const unsigned short* fg, unsigned short* __restrict out, int n) {
  for (int i = 0; i < 4 * n; i += 4) {
    const unsigned short a = fg[i + 3] >= 32768 ? 32767 : fg[i + 3];
    out[i] = out[i + 1] = out[i + 2] = out[i + 3] = a;
  }
}
Q4_SIMD_DISPATCH(void, matte, (const unsigned short* fg, unsigned short* __restrict out, int n), (fg, out, n))

}  // namespace

bool FluidFlow::composite_over_by_alpha(ImageQ4* bg, ImageQ4* fg, ImageQ4* out, bool premultiply) {
  return composite(bg, fg, out, 32768, premultiply, false);
}

bool FluidFlow::composite_over_by_value(ImageQ4* bg, ImageQ4* fg, ImageQ4* out, bool premultiply, float value) {
  // A value outside 0..1 (or NaN) would scale the alpha past 16 bits.
  const int scale = static_cast<int>(32767.0 * clamped(value, 0.0f, 1.0f));
  return composite(bg, fg, out, scale, premultiply, false);
}

bool FluidFlow::composite_over_extract_matte(ImageQ4* bg, ImageQ4* fg, ImageQ4* out) {
  return composite(bg, fg, out, 32768, false, true);
}

bool FluidFlow::composite(ImageQ4* bg, ImageQ4* fg, ImageQ4* out, int alpha_scale, bool premultiply, bool matte) {
  if (!bg || !fg || !out || !bg->rows || !fg->rows || !out->rows || fg->width != bg->width ||
      out->width != bg->width || fg->height != bg->height || out->height != bg->height)
    return false;
  composite_block = CompositeBlock{bg, fg, out, alpha_scale, premultiply, matte};
  row_chunks.reset(bg->height, kChunkRows);
  mp_exec(mp_composite, bg->height);
  return true;
}

void FluidFlow::mp_composite(void* flow, int, int) {
  FluidFlow* self = static_cast<FluidFlow*>(static_cast<FluidFlowCore*>(flow));
  const CompositeBlock& job = self->composite_block;
  const int w = job.bg->width;
  unsigned short piece[4 * kPiece];
  RowCursor rows(self->row_chunks);
  int y = 0;
  while (!self->stopped() && rows.next(y)) {
    const unsigned short* bg = &job.bg->rows[y][0].r;
    const unsigned short* fg = &job.fg->rows[y][0].r;
    unsigned short* out = &job.out->rows[y][0].r;
    for (int x = 0; x < w; x += kPiece) {
      const int n = w - x < kPiece ? w - x : kPiece;
      const uint32_t scale = static_cast<uint32_t>(job.alpha_scale);
      if (job.matte)
        matte(fg + 4 * x, piece, n);
      else if (job.premultiply)
        over<true>(bg + 4 * x, fg + 4 * x, piece, n, scale);
      else
        over<false>(bg + 4 * x, fg + 4 * x, piece, n, scale);
      std::memcpy(out + 4 * x, piece, static_cast<size_t>(n) * sizeof(PixelQ4));
    }
  }
}
