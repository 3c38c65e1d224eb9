#ifndef IMAGELIB_TESTS_IMAGE_PATTERN_H
#define IMAGELIB_TESTS_IMAGE_PATTERN_H

#include <cstdint>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "image_ptr.h"
#include "test_executor.h"

// Deterministic pseudo-random content in the type's range (float in [0, 1)).
inline void fill_pattern(const ImagePtr& img, uint32_t seed = 12345) {
  const int n = img->width * img->height * img->channels;
  uint32_t s = seed;
  for (int i = 0; i < n; ++i) {
    s = s * 1664525u + 1013904223u;
    switch (img->pixel_type) {
      case IMAGE_PIXEL_BYTE: px<uint8_t>(img)[i] = static_cast<uint8_t>(s >> 24); break;
      case IMAGE_PIXEL_WORD: px<uint16_t>(img)[i] = static_cast<uint16_t>(s >> 16); break;
      case IMAGE_PIXEL_WORD32: px<uint32_t>(img)[i] = s; break;
      default: px<float>(img)[i] = static_cast<float>(s >> 8) / 16777216.0f; break;
    }
  }
}

inline bool same_pixels(const ImagePtr& a, const ImagePtr& b) {
  return a && b && a->width == b->width && a->height == b->height && a->row_bytes == b->row_bytes &&
         std::memcmp(a->pixels, b->pixels, static_cast<size_t>(a->row_bytes) * a->height) == 0;
}

// Sample i (in memory order) of any type, as a double.
inline double sample(const image_data* img, int64_t i) {
  switch (img->pixel_type) {
    case IMAGE_PIXEL_BYTE: return static_cast<const uint8_t*>(img->pixels)[i];
    case IMAGE_PIXEL_WORD: return static_cast<const uint16_t*>(img->pixels)[i];
    case IMAGE_PIXEL_WORD32: return static_cast<const uint32_t*>(img->pixels)[i];
    default: return static_cast<const float*>(img->pixels)[i];
  }
}

inline double sample(const image_data* img, int x, int y, int c) {
  return sample(img, (static_cast<int64_t>(y) * img->width + x) * img->channels + c);
}

inline void set_sample(image_data* img, int x, int y, int c, double v) {
  const int64_t i = (static_cast<int64_t>(y) * img->width + x) * img->channels + c;
  switch (img->pixel_type) {
    case IMAGE_PIXEL_BYTE: static_cast<uint8_t*>(img->pixels)[i] = static_cast<uint8_t>(v); break;
    case IMAGE_PIXEL_WORD: static_cast<uint16_t*>(img->pixels)[i] = static_cast<uint16_t>(v); break;
    case IMAGE_PIXEL_WORD32: static_cast<uint32_t*>(img->pixels)[i] = static_cast<uint32_t>(v); break;
    default: static_cast<float*>(img->pixels)[i] = static_cast<float>(v); break;
  }
}

const int kAllTypes[] = {IMAGE_PIXEL_BYTE, IMAGE_PIXEL_WORD, IMAGE_PIXEL_WORD32, IMAGE_PIXEL_FLOAT};

// Runs an operation (a function returning its result image) without an
// executor, then on 1, 2 and 7 even bands and 5 uneven ones, and expects the
// same bytes every time.
template <typename Run>
void expect_same_on_every_split(Run run, const std::string& what) {
  const ImagePtr serial = run();
  ASSERT_TRUE(serial) << what;
  const int splits[][2] = {{1, 0}, {2, 0}, {7, 0}, {5, 1}};
  for (const auto& split : splits) {
    ScopedExecutor scoped(split[0], split[1] != 0);
    const ImagePtr banded = run();
    EXPECT_TRUE(same_pixels(serial, banded)) << what << ": " << split[0] << (split[1] ? " uneven" : " even");
    EXPECT_GT(scoped.executor.calls.load(), 0) << what;
  }
}

#endif
