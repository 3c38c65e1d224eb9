// Float planes (luminance with two colour differences, or alpha) and the
// hyperbolic tone curve.
#include <cmath>

#include "ImageQ4.h"

namespace {

const float kInv32767 = 3.0518509e-5f;

float clamp01(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }

unsigned short to_channel(float v) {
  return static_cast<unsigned short>(static_cast<int>(clamp01(v) * 32767.0f + 0.5f));
}

}  // namespace

float ImageQ4::hyperb(float x, float g) {
  if (!(g - 1.0f >= 0.001f)) return x;
  const float xc = clamp01(x);
  const float c = 1.0f / g;
  const float d = g - c;
  const float base = (1.0f / ((1.0f - xc) * d + c) - c) / d;
  if (g > 50.0f) return std::pow(base, 1.0f + ((g < 100.0f ? g : 100.0f) - 50.0f) * 0.03f);
  return base;
}

float ImageQ4::invhyperb(float y, float g) {
  if (!(g - 1.0f >= 0.001f)) return y;
  float yc = clamp01(y);
  float gg = g;
  if (g > 50.0f) {
    const float capped = g < 100.0f ? g : 100.0f;
    yc = std::pow(yc, 1.0f / (1.0f + (capped - 50.0f) * 0.03f));
    gg = capped;
  }
  const float c = 1.0f / gg;
  const float d = gg - c;
  return 1.0f - (1.0f / (yc * d + c) - c) / d;
}

void ImageQ4::to_colour_diff(ImageQ4* src, float* lum, float* c1, float* c2, float curve) {
  if (!src || !lum || !c1 || !c2) return;
  for (int y = 0; y < src->height; ++y) {
    const PixelQ4* p = src->rows[y];
    const long at = static_cast<long>(y) * src->width;
    for (int x = 0; x < src->width; ++x) {
      const float r = p[x].r * kInv32767, g = p[x].g * kInv32767, b = p[x].b * kInv32767;
      lum[at + x] = hyperb(0.299f * r + 0.587f * g + 0.114f * b, curve);
      c1[at + x] = 0.5f * r - 0.418688f * g - 0.081312f * b + 0.5f;
      c2[at + x] = -0.213267f * r - 0.418688f * g + 0.617689f * b + 0.5f;
    }
  }
}

void ImageQ4::from_colour_diff(ImageQ4* dst, float* lum, float* c1, float* c2, float curve) {
  if (!dst || !lum || !c1 || !c2) return;
  for (int y = 0; y < dst->height; ++y) {
    PixelQ4* p = dst->rows[y];
    const long at = static_cast<long>(y) * dst->width;
    for (int x = 0; x < dst->width; ++x) {
      const float l = invhyperb(lum[at + x], curve);
      const float d1 = c1[at + x] - 0.5f, d2 = c2[at + x] - 0.5f;
      p[x].r = to_channel(l + 1.402f * d1);
      p[x].g = to_channel(0.996036f * l - 0.714136f * d1 - 0.277836f * d2);
      p[x].b = to_channel(1.020408f * l + 1.430612f * d2);
    }
  }
}

void ImageQ4::get_alpha(ImageQ4* src, float* plane, float curve) {
  if (!src || !plane) return;
  for (int y = 0; y < src->height; ++y) {
    const PixelQ4* p = src->rows[y];
    const long at = static_cast<long>(y) * src->width;
    for (int x = 0; x < src->width; ++x) plane[at + x] = hyperb(p[x].a * kInv32767, curve);
  }
}

void ImageQ4::put_alpha(ImageQ4* dst, float* plane, float curve) {
  if (!dst || !plane) return;
  for (int y = 0; y < dst->height; ++y) {
    PixelQ4* p = dst->rows[y];
    const long at = static_cast<long>(y) * dst->width;
    for (int x = 0; x < dst->width; ++x) p[x].a = to_channel(invhyperb(plane[at + x], curve));
  }
}
