#ifndef XFM_TEST_IMAGES_H
#define XFM_TEST_IMAGES_H

#include <cstring>
#include <functional>
#include <memory>
#include <random>

#include "ImageQ4.h"
#include "q4_mp_hooks.h"

using ImagePtr = std::unique_ptr<ImageQ4>;

inline PixelQ4 make_pixel(int r, int g, int b, int a) {
  return PixelQ4{(unsigned short)r, (unsigned short)g, (unsigned short)b, (unsigned short)a};
}

inline ImagePtr make_image(int width, int height, const std::function<PixelQ4(int x, int y)>& fill) {
  ImagePtr img(new ImageQ4(width, height, 1.0f, nullptr, nullptr));
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) img->rows[y][x] = fill(x, y);
  return img;
}

inline ImagePtr uniform_image(int width, int height, PixelQ4 p) {
  return make_image(width, height, [p](int, int) { return p; });
}

inline ImagePtr random_image(int width, int height, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> value(0, 32767);
  return make_image(width, height, [&](int, int) {
    return make_pixel(value(rng), value(rng), value(rng), value(rng));
  });
}

inline bool same_pixel(const PixelQ4& p, const PixelQ4& q) {
  return p.r == q.r && p.g == q.g && p.b == q.b && p.a == q.a;
}

inline PixelQ4 pixel_or_zero(const ImageQ4& img, int x, int y) {
  return x >= 0 && y >= 0 && x < img.width && y < img.height ? img.rows[y][x] : PixelQ4{0, 0, 0, 0};
}

inline int channel(const PixelQ4& p, int ch) { return ch == 0 ? p.r : ch == 1 ? p.g : ch == 2 ? p.b : p.a; }

inline bool same_pixels(const ImageQ4& a, const ImageQ4& b) {
  if (a.width != b.width || a.height != b.height) return false;
  for (int y = 0; y < a.height; y++)
    if (std::memcmp(a.rows[y], b.rows[y], (size_t)a.width * sizeof(PixelQ4)) != 0) return false;
  return true;
}

// Splits 0..count-1 into *context contiguous inclusive bands, last band
// taking the remainder, and runs them in reverse order so that any
// dependence between bands shows.
inline void banded_exec(void* context, mp_worker_fn worker, int count, void* object) {
  const int bands = *static_cast<int*>(context);
  const int size = count / bands;
  for (int i = bands - 1; i >= 0; i--) {
    const int first = i * size;
    const int last = i < bands - 1 ? first + size - 1 : count - 1;
    worker(object, first, last);
  }
}

#endif
