// The flowed picture over a background, and its matte, on the 15-bit
// integer channels.
#include <cstdint>
#include <cstring>

#include "fluid_flow.h"
#include "fluid_numeric.h"
#include "q4_simd.h"

namespace {

// Pixels composited at a time through a buffer of their own, so that out
// may be bg or fg: each piece of the inputs is read before it is written.
const int kPiece = 256;

// A sum taken as 16 bits with its top bit set means full.
inline unsigned short full_if_top_bit(uint32_t sum) {
  const uint32_t v = sum & 0xffffu;
  return static_cast<unsigned short>(v >= 32768u ? 32767u : v);
}

// fg over bg, n pixels of four channels: a = (fg alpha * alpha_scale) >> 15
// (32768 keeps the alpha), k = 32767 - a kept to 16 bits, each colour
// ((bg * k) >> 15) + fg (premultiplied: + ((fg * a) >> 15)), alpha
// ((bg alpha * k) >> 15) + a. Unsigned 32 bits hold every product. The
// two forms are separate loops so that each widens.
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

Q4_SIMD_BODY void over_premultiplied_body(const unsigned short* bg, const unsigned short* fg,
                                          unsigned short* __restrict out, int n, uint32_t alpha_scale) {
  over_body<true>(bg, fg, out, n, alpha_scale);
}
Q4_SIMD_DISPATCH(void, over_premultiplied,
                 (const unsigned short* bg, const unsigned short* fg, unsigned short* __restrict out, int n,
                  uint32_t alpha_scale),
                 (bg, fg, out, n, alpha_scale))

Q4_SIMD_BODY void over_straight_body(const unsigned short* bg, const unsigned short* fg,
                                     unsigned short* __restrict out, int n, uint32_t alpha_scale) {
  over_body<false>(bg, fg, out, n, alpha_scale);
}
Q4_SIMD_DISPATCH(void, over_straight,
                 (const unsigned short* bg, const unsigned short* fg, unsigned short* __restrict out, int n,
                  uint32_t alpha_scale),
                 (bg, fg, out, n, alpha_scale))

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
  mp_exec(mp_composite, bg->height);
  return true;
}

void FluidFlow::mp_composite(void* flow, int first_row, int last_row) {
  FluidFlow* self = static_cast<FluidFlow*>(static_cast<FluidFlowCore*>(flow));
  const CompositeBlock& job = self->composite_block;
  const int w = job.bg->width;
  unsigned short piece[4 * kPiece];
  for (int y = first_row; y <= last_row && !self->stopped(); ++y) {
    const unsigned short* bg = &job.bg->rows[y][0].r;
    const unsigned short* fg = &job.fg->rows[y][0].r;
    unsigned short* out = &job.out->rows[y][0].r;
    for (int x = 0; x < w; x += kPiece) {
      const int n = w - x < kPiece ? w - x : kPiece;
      const uint32_t scale = static_cast<uint32_t>(job.alpha_scale);
      if (job.matte)
        matte(fg + 4 * x, piece, n);
      else if (job.premultiply)
        over_premultiplied(bg + 4 * x, fg + 4 * x, piece, n, scale);
      else
        over_straight(bg + 4 * x, fg + 4 * x, piece, n, scale);
      std::memcpy(out + 4 * x, piece, static_cast<size_t>(n) * sizeof(PixelQ4));
    }
  }
}
