// Image operations driven by a scalar field read at each pixel's centre.
#include <cmath>

#include "fluid_flow.h"
#include "fluid_numeric.h"

namespace {

// c * k * m truncated; a factor below 0 (or NaN) cannot wrap the channel
// round in 16 bits.
unsigned short scaled_channel(unsigned short c, float k, float m) {
  return static_cast<unsigned short>(clamped(static_cast<float>(c) * k * m, 0.0f, 32767.0f));
}

}  // namespace

bool FluidFlow::temperature_controlled_transparency(int slot, float threshold, float width, ImageQ4* img) {
  if (slot < 0 || slot >= SLOT_COUNT || !fields[slot] || !img) return false;
  const ScalarField* f = fields[slot];
  width = at_least(width, 1e-6f);
  float lo, hi;
  f->get_range(lo, hi);
  const int w = img->width, h = img->height;
  for (int y = 0; y < h; ++y) {
    const float py = (static_cast<float>(y) + 0.5f) / static_cast<float>(h);
    PixelQ4* row = img->rows[y];
    for (int x = 0; x < w; ++x) {
      float t;
      f->evaluate_at_normalized_pos((static_cast<float>(x) + 0.5f) / static_cast<float>(w), py, t, false, false,
                                    0.0f, 0.0f);
      if (std::fabs(hi) > 1e-6f) t /= hi;
      if (!(t > threshold)) continue;
      const float a = std::fmin((t - threshold) / width, 1.0f);
      const float k = 1.0f - a * a * (3.0f - 2.0f * a);
      PixelQ4& p = row[x];
      p.r = static_cast<unsigned short>(static_cast<float>(p.r) * k + 0.5f);
      p.g = static_cast<unsigned short>(static_cast<float>(p.g) * k + 0.5f);
      p.b = static_cast<unsigned short>(static_cast<float>(p.b) * k + 0.5f);
      p.a = static_cast<unsigned short>(static_cast<float>(p.a) * k + 0.5f);
    }
  }
  return true;
}

bool FluidFlow::modulate_image_with_scalar_field(int slot, ImageQ4* src, ImageQ4* dst, float a, float b, float c) {
  if (slot < 0 || slot >= SLOT_COUNT || !fields[slot] || !src || !dst || src->width != dst->width ||
      src->height != dst->height)
    return false;
  const ScalarField* f = fields[slot];
  const int w = src->width, h = src->height;
  for (int y = 0; y < h && !stopped(); ++y) {
    const float py = (static_cast<float>(y) + 0.5f) / static_cast<float>(h);
    const PixelQ4* in = src->rows[y];
    PixelQ4* out = dst->rows[y];
    for (int x = 0; x < w; ++x) {
      const float px = (static_cast<float>(x) + 0.5f) / static_cast<float>(w);
      float t, vx, vy;
      f->evaluate_at_normalized_pos(px, py, t, false, false, 0.0f, 0.0f);
      evaluate_velocity(px, py, vx, vy);
      const float m = std::fmin(std::sqrt(vx * vx + vy * vy) * c, 1.0f);
      // A band of 0 has no depth to scale by: nothing passes.
      const float k = b != 0.0f ? std::fmax(0.0f, std::fmin(a - t, b)) / b : 0.0f;
      const PixelQ4 p = in[x];
      out[x] = PixelQ4{scaled_channel(p.r, k, m), scaled_channel(p.g, k, m), scaled_channel(p.b, k, m),
                       scaled_channel(p.a, k, m)};
    }
  }
  return true;
}
