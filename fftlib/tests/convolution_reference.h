#ifndef CONVOLUTION_REFERENCE_H
#define CONVOLUTION_REFERENCE_H

// Test images and direct spatial convolutions for the convolution engine.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "image_data.h"

struct OwnedImage {
  image_data* img;
  explicit OwnedImage(image_data* i) : img(i) {}
  ~OwnedImage() { image_data_delete(img); }
  OwnedImage(const OwnedImage&) = delete;
  OwnedImage& operator=(const OwnedImage&) = delete;
  image_data* operator->() const { return img; }
  operator image_data*() const { return img; }
};

inline double get_sample(const image_data* img, int x, int y, int c) {
  const unsigned char* row = image_row(img, y);
  const int i = x * img->channels + c;
  switch (img->pixel_type) {
    case IMAGE_PIXEL_BYTE: return row[i];
    case IMAGE_PIXEL_WORD: return reinterpret_cast<const uint16_t*>(row)[i];
    case IMAGE_PIXEL_WORD32: return reinterpret_cast<const uint32_t*>(row)[i];
    default: return reinterpret_cast<const float*>(row)[i];
  }
}

inline void set_sample(image_data* img, int x, int y, int c, double v) {
  unsigned char* row = image_row(img, y);
  const int i = x * img->channels + c;
  switch (img->pixel_type) {
    case IMAGE_PIXEL_BYTE: row[i] = static_cast<uint8_t>(v); break;
    case IMAGE_PIXEL_WORD: reinterpret_cast<uint16_t*>(row)[i] = static_cast<uint16_t>(v); break;
    case IMAGE_PIXEL_WORD32: reinterpret_cast<uint32_t*>(row)[i] = static_cast<uint32_t>(v); break;
    default: reinterpret_cast<float*>(row)[i] = static_cast<float>(v); break;
  }
}

inline image_data* random_image(int w, int h, int channels, int type, unsigned seed) {
  image_data* img = image_data_create(w, h, channels, type, 1);
  std::mt19937 gen(seed);
  const double full = image_full_scale(type);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < channels; ++c)
        set_sample(img, x, y, c, type == IMAGE_PIXEL_FLOAT ? u(gen) : std::floor(u(gen) * full));
  return img;
}

// Sample (x, y) of channel c with the image's edges: zeros outside (mode 1)
// or the nearest edge sample (mode 2).
inline double edge_sample(const image_data* img, int x, int y, int c, int edge_mode) {
  if (edge_mode == 1 && (x < 0 || y < 0 || x >= img->width || y >= img->height)) return 0.0;
  x = std::min(std::max(x, 0), img->width - 1);
  y = std::min(std::max(y, 0), img->height - 1);
  return get_sample(img, x, y, c);
}

// The integer sample of a real result: clamped, truncated.
inline double stored(double v, int type) {
  if (type == IMAGE_PIXEL_FLOAT) return v;
  return std::floor(std::min(std::max(v, 0.0), image_full_scale(type)));
}

#endif
