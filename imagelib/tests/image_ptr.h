#ifndef IMAGELIB_TESTS_IMAGE_PTR_H
#define IMAGELIB_TESTS_IMAGE_PTR_H

#include <memory>

#include "image_data.h"

// Frees the image however the test leaves the scope, the early return of a
// failed assertion included.
struct ImageDeleter {
  void operator()(image_data* img) const { image_data_delete(img); }
};
typedef std::unique_ptr<image_data, ImageDeleter> ImagePtr;

// An image with its pixel block allocated.
inline ImagePtr make(int w, int h, int ch, int type) { return ImagePtr(image_data_create(w, h, ch, type, 1)); }

template <typename T>
T* px(const ImagePtr& img) {
  return static_cast<T*>(img->pixels);
}

#endif
