// Mixing, cut-outs, fills, lookup tables and the negative.
#include <cstring>

#include "ImageQ4.h"
#include "image_rows.h"

void ImageQ4::InBlend(float b, ImageQ4* src) {
  if (!src) return;
  const float keep = 1.0f - b;
  for_common_rows(*this, 0, height - 1, src, nullptr, [&](long y, int cols) {
    const unsigned short* in = &src->rows[y][0].r;
    unsigned short* out = &rows[y][0].r;
    const int n = cols * 4;
    for (int i = 0; i < n; ++i) {
      const float v = static_cast<float>(in[i]) * b + static_cast<float>(out[i]) * keep;
      // Only a factor outside 0..1 can leave the sample range.
      out[i] = static_cast<unsigned short>(v > 0.0f ? (v < 65535.0f ? static_cast<int>(v) : 65535) : 0);
    }
  });
}

namespace {

// a = (int)(32767 b), c = 32768 - a, with b held to 0..1 so that neither
// weight turns negative.
void blend_weights(float b, int& a, int& c) {
  if (!(b > 0.0f)) b = 0.0f;
  if (b > 1.0f) b = 1.0f;
  a = static_cast<int>(32767.0f * b);
  c = 32768 - a;
}

}  // namespace

int ImageQ4::BlendBack(float b, ImageQ4* src) {
  blend_weights(b, op_weight_a, op_weight_c);
  return run_with_src(&ImageQ4::mp_blendback, src);
}

int ImageQ4::BlendBackCol(float b, PixelQ4 colour) {
  blend_weights(b, op_weight_a, op_weight_c);
  background = colour;
  return MultiProcess(&ImageQ4::mp_blendbackcol, height);
}

void ImageQ4::mp_blendback(long first, long last) {
  const unsigned a = static_cast<unsigned>(op_weight_a), c = static_cast<unsigned>(op_weight_c);
  for_common_rows(*this, first, last, op_src, nullptr, [&](long y, int cols) {
    const unsigned short* in = &op_src->rows[y][0].r;
    unsigned short* out = &rows[y][0].r;
    const int n = cols * 4;
    for (int i = 0; i < n; ++i) out[i] = static_cast<unsigned short>((in[i] * a + out[i] * c) >> 15);
  });
}

void ImageQ4::mp_blendbackcol(long first, long last) {
  const unsigned a = static_cast<unsigned>(op_weight_a), c = static_cast<unsigned>(op_weight_c);
  const unsigned bg[4] = {background.r * a, background.g * a, background.b * a, background.a * a};
  for_common_rows(*this, first, last, nullptr, nullptr, [&](long y, int cols) {
    unsigned short* out = &rows[y][0].r;
    const int n = cols * 4;
    for (int i = 0; i < n; ++i) out[i] = static_cast<unsigned short>((bg[i & 3] + out[i] * c) >> 15);
  });
}

int ImageQ4::CutOut(ImageQ4* matte, int channel, int invert, int alpha_mode) {
  // No key for channels other than R, G, B, A and luminance: nothing to cut.
  if (!matte || channel < 0 || channel > 4) return 0;
  op_matte = matte;
  op_channel = channel;
  op_flag = invert;
  op_mode = alpha_mode;
  return MultiProcess(&ImageQ4::mp_cutout, height);
}

void ImageQ4::mp_cutout(long first, long last) {
  unsigned short PixelQ4::*key_channel = channel_member(op_channel);
  for_common_rows(*this, first, last, op_matte, nullptr, [&](long y, int cols) {
    const PixelQ4* matte = op_matte->rows[y];
    PixelQ4* out = rows[y];
    for (int x = 0; x < cols; ++x) {
      unsigned short key;
      if (key_channel)
        key = matte[x].*key_channel;
      else
        matte[x].GetLuminance(key);
      const unsigned k = key > 32767 ? 32767u : key;
      const unsigned m = op_flag ? 32767u - k : k;
      out[x].r = static_cast<unsigned short>((out[x].r * m) >> 15);
      out[x].g = static_cast<unsigned short>((out[x].g * m) >> 15);
      out[x].b = static_cast<unsigned short>((out[x].b * m) >> 15);
      switch (op_mode) {
        case 0: out[x].a = static_cast<unsigned short>((m * out[x].a) >> 15); break;
        case 1: out[x].a = static_cast<unsigned short>(m); break;
        case 2:
        case 3: out[x].a = static_cast<unsigned short>((m * matte[x].a) >> 15); break;
        default: break;
      }
    }
  });
}

void ImageQ4::Fill(unsigned short r, unsigned short g, unsigned short b, unsigned short a) {
  if (width <= 0 || height <= 0) return;
  const PixelQ4 colour{r, g, b, a};
  for (int x = 0; x < width; ++x) rows[0][x] = colour;
  for (int y = 1; y < height; ++y)
    std::memcpy(rows[y], rows[0], static_cast<size_t>(width) * sizeof(PixelQ4));
}

void ImageQ4::FillChannel(unsigned short value, unsigned short channel) {
  unsigned short PixelQ4::*member = channel_member(channel);
  if (!member) return;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) rows[y][x].*member = value;
}

// A null table leaves its channel as it is.
void ImageQ4::ApplyLUT(unsigned short* lut_r, unsigned short* lut_g, unsigned short* lut_b,
                       unsigned short* lut_a) {
  for (int y = 0; y < height; ++y) {
    PixelQ4* p = rows[y];
    for (int x = 0; x < width; ++x) {
      if (lut_r) p[x].r = lut_r[p[x].r];
      if (lut_g) p[x].g = lut_g[p[x].g];
      if (lut_b) p[x].b = lut_b[p[x].b];
      if (lut_a) p[x].a = lut_a[p[x].a];
    }
  }
}

int ImageQ4::Negative(ImageQ4* src) {
  if (src) return run_with_src(&ImageQ4::mp_negative, src);
  ImageQ4* copy = new ImageQ4(*this);
  const int result = run_with_src(&ImageQ4::mp_negative, copy);
  delete copy;
  return result;
}

void ImageQ4::mp_negative(long first, long last) {
  for_common_rows(*this, first, last, op_src, nullptr, [&](long y, int cols) {
    const unsigned short* in = &op_src->rows[y][0].r;
    unsigned short* out = &rows[y][0].r;
    const int n = cols * 4;
    for (int i = 0; i < n; ++i) out[i] = static_cast<unsigned short>(in[i] > 32767 ? 0 : 32767 - in[i]);
  });
}
