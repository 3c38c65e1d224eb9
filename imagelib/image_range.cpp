#include "image_range.h"

#include <utility>

#include "image_pixel.h"

namespace {

template <typename T>
void measure_range(image_data* img) {
  const T* p = static_cast<const T*>(img->pixels);
  const int64_t n = static_cast<int64_t>(img->width) * img->height * img->channels;
  T lo = p[0], hi = p[0];
  for (int64_t i = 1; i < n; ++i) {
    if (p[i] < lo)
      lo = p[i];
    else if (p[i] > hi)
      hi = p[i];
  }
  img->range_min = static_cast<double>(lo);
  img->range_max = static_cast<double>(hi);
  img->range_valid = 1;
}

template <typename T>
T stretched(double v) {
  if constexpr (std::is_same<T, float>::value) {
    return static_cast<float>(v);
  } else if constexpr (sizeof(T) == 4) {
    // Rounding error can carry v an ulp past 4294967295; the store clamps.
    return image_store_trunc<T>(v);
  } else {
    // Half away from zero, with a guard against products a hair below .5.
    return image_store_trunc<T>(v >= 0.0 ? v + 0.500000001 : v - 0.4999999999);
  }
}

template <typename T>
void stretch(image_data* img, double low, double k) {
  T* p = static_cast<T*>(img->pixels);
  const double m = img->range_min;
  const int64_t n = static_cast<int64_t>(img->width) * img->height * img->channels;
  for (int64_t i = 0; i < n; ++i) p[i] = stretched<T>((static_cast<double>(p[i]) - m) * k + low);
}

double clamped(double v, double top) {
  if (!(v > 0.0)) return 0.0;
  return v > top ? top : v;
}

}  // namespace

bool image_get_range(image_data* img) {
  if (!img || !img->pixels) return false;
  return image_with_sample_type(img->pixel_type, [&](auto zero) { measure_range<decltype(zero)>(img); });
}

bool image_set_range(image_data* img, double low, double high) {
  if (!image_get_range(img)) return false;
  if (img->pixel_type != IMAGE_PIXEL_FLOAT) {
    const double top = image_full_scale(img->pixel_type);
    low = clamped(low, top);
    high = clamped(high, top);
  }
  if (low > high) std::swap(low, high);
  const double extent = img->range_max - img->range_min;
  if (high - low < 1e-6 || extent < 1e-6) {
    image_data_fill(img, low);
    return true;
  }
  const double k = (high - low) / extent;
  image_with_sample_type(img->pixel_type, [&](auto zero) { stretch<decltype(zero)>(img, low, k); });
  return true;
}

bool image_normalize(image_data* img, bool) {
  if (!img) return false;
  return image_set_range(img, 0.0, image_full_scale(img->pixel_type));
}
