#ifndef IMAGE_PIXEL_H
#define IMAGE_PIXEL_H

#include <cstdint>
#include <limits>
#include <type_traits>

#include "image_data.h"

// Calls fn with a value of the C++ sample type of a pixel type (uint8_t,
// uint16_t, uint32_t, float), so one generic body serves all four; false for
// an unknown type, which runs nothing.
template <typename Fn>
bool image_with_sample_type(int pixel_type, Fn&& fn) {
  switch (pixel_type) {
    case IMAGE_PIXEL_BYTE: fn(uint8_t()); return true;
    case IMAGE_PIXEL_WORD: fn(uint16_t()); return true;
    case IMAGE_PIXEL_WORD32: fn(uint32_t()); return true;
    case IMAGE_PIXEL_FLOAT: fn(float()); return true;
    default: return false;
  }
}

// Largest value of an integer sample type as a double.
template <typename T>
constexpr double image_sample_limit() {
  static_assert(std::is_integral<T>::value, "integer samples only");
  return static_cast<double>(std::numeric_limits<T>::max());
}

// A double as an integer sample: clamped to the type's range (NaN gives 0,
// so no conversion is ever undefined), then truncated toward zero. Float
// samples take the value as it is, in single precision.
template <typename T>
inline T image_store_trunc(double v) {
  if constexpr (std::is_same<T, float>::value) {
    return static_cast<float>(v);
  } else {
    if (!(v > 0.0)) return 0;
    const double top = image_sample_limit<T>();
    return v >= top ? std::numeric_limits<T>::max() : static_cast<T>(v);
  }
}

// The same, rounded half up for integer samples.
template <typename T>
inline T image_store_round(double v) {
  if constexpr (std::is_same<T, float>::value)
    return static_cast<float>(v);
  else
    return image_store_trunc<T>(v + 0.5);
}

// Sampled values into one pixel of n samples: integers round half up within
// the type's range (a sample from a wider source cannot wrap), float stores
// single precision.
template <typename T>
inline void image_store_pixel(T* out, const double* values, int n) {
  for (int c = 0; c < n; ++c) out[c] = image_store_round<T>(values[c]);
}

#endif
