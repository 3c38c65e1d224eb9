#ifndef FLUID_IMAGE_TEST_SUPPORT_H
#define FLUID_IMAGE_TEST_SUPPORT_H

#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "fluid_flow.h"
#include "fluid_test_support.h"

using ImagePtr = std::unique_ptr<ImageQ4>;

inline PixelQ4 px(int r, int g, int b, int a) {
  return PixelQ4{static_cast<unsigned short>(r), static_cast<unsigned short>(g), static_cast<unsigned short>(b),
                 static_cast<unsigned short>(a)};
}

inline ImagePtr make_image(int w, int h, const std::function<PixelQ4(int x, int y)>& fill) {
  ImagePtr img(new ImageQ4(w, h, 1.0f, nullptr, nullptr));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img->rows[y][x] = fill(x, y);
  return img;
}

inline ImagePtr uniform_image(int w, int h, PixelQ4 p) {
  return make_image(w, h, [p](int, int) { return p; });
}

// Channels up to top (32767 for valid frames; more to reach the clamps).
inline ImagePtr random_image(int w, int h, unsigned seed, int top = 32767) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> value(0, top);
  return make_image(w, h, [&](int, int) { return px(value(rng), value(rng), value(rng), value(rng)); });
}

inline ImagePtr copy_of(ImageQ4& img) { return ImagePtr(new ImageQ4(img)); }

inline bool same_pixel(const PixelQ4& a, const PixelQ4& b) { return std::memcmp(&a, &b, sizeof(PixelQ4)) == 0; }

inline bool same_pixels(const ImageQ4& a, const ImageQ4& b) {
  if (a.width != b.width || a.height != b.height) return false;
  for (int y = 0; y < a.height; ++y)
    if (std::memcmp(a.rows[y], b.rows[y], sizeof(PixelQ4) * a.width) != 0) return false;
  return true;
}

inline int channel(const PixelQ4& p, int c) { return c == 0 ? p.r : c == 1 ? p.g : c == 2 ? p.b : p.a; }

// A flow of a few steps of two opposite swirls, the texture coordinates
// carried along without restarting, so that they wander well off the
// identity.
inline void develop_flow(FluidFlow& flow, int steps) {
  flow.set_time_step(1.0f);
  flow.create_texture_flow();
  flow.init_texture_field();
  for (int k = 0; k < steps; ++k) {
    flow.set_force(0, 0);
    flow.add_force_vortex(0.01f, 0.3f, 0.4f, 0.3f, 1.0f);
    flow.add_force_vortex(-0.008f, 0.7f, 0.6f, 0.3f, 1.0f);
    flow.advance_time_step(false);
  }
}

#endif
