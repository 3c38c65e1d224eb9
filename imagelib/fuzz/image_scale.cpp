// Separable scaling and translation of small images of fuzzed sizes (down
// to one pixel, up to far larger), channels, types and pixels, with fuzzed
// kernels, edge modes and shifts (NaN and huge included). The sanitizers
// watch every pass; a uniform integer image must stay uniform.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "fuzz_input.h"
#include "image_data.h"
#include "image_scale.h"
#include "imagelib_kernel.h"

namespace {

// Every sample of an integer image equals its first one.
bool uniform(const image_data* img) {
  const size_t sample = img->sample_bytes;
  const size_t total = static_cast<size_t>(img->row_bytes) * img->height;
  const unsigned char* p = static_cast<const unsigned char*>(img->pixels);
  for (size_t k = sample; k < total; k += sample)
    if (std::memcmp(p, p + k, sample) != 0) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const int sw = in.in_range(1, 40), sh = in.in_range(1, 40);
  const int dw = in.in_range(1, 90), dh = in.in_range(1, 90);
  const int channels = in.in_range(1, 4);
  const int type = in.in_range(0, 3);
  const int kernel_type = in.in_range(-1, 6);
  const int edge = in.in_range(-1, 4);
  const bool clamp_float = in.in_range(0, 1) != 0;
  const bool flat = in.in_range(0, 3) == 0;
  const float dx = in.raw<float>(), dy = in.raw<float>();

  image_data* src = image_data_create(sw, sh, channels, type, 1);
  image_data* dst = image_data_create(dw, dh, channels, type, 1);
  if (!src || !dst) {
    image_data_delete(src);
    image_data_delete(dst);
    return 0;
  }
  const size_t bytes = static_cast<size_t>(src->row_bytes) * sh;
  if (flat) {
    const size_t sample = src->sample_bytes;
    unsigned char value[4] = {};
    std::memcpy(value, in.rest(), in.left() < sample ? in.left() : sample);
    for (size_t k = 0; k < bytes; k += sample) std::memcpy(static_cast<unsigned char*>(src->pixels) + k, value, sample);
  } else {
    std::memcpy(src->pixels, in.rest(), in.left() < bytes ? in.left() : bytes);
  }
  if (type == IMAGE_PIXEL_FLOAT) {
    float* f = static_cast<float*>(src->pixels);
    for (size_t k = 0; k < bytes / sizeof(float); ++k)
      if (!std::isfinite(f[k])) f[k] = 0.0f;
  }

  // Byte and word images are scaled in fixed point, where the box and
  // linear weights of one output sample add up exactly (or are divided by
  // their exact sum): a flat image stays flat to the last bit.
  const bool keeps_flat = flat && (type == IMAGE_PIXEL_BYTE || type == IMAGE_PIXEL_WORD) &&
                          (kernel_type == IMAGELIB_KERNEL_BOX || kernel_type == IMAGELIB_KERNEL_LINEAR);
  if (image_scale(src, dst, kernel_type, clamp_float) && keeps_flat) FUZZ_CHECK(uniform(dst));
  ImagelibKernel kernel(kernel_type, edge);
  image_scale_with_kernel(src, dst, kernel, clamp_float);
  image_translate(src, dst, dx, dy, kernel_type, edge);
  image_data_delete(src);
  image_data_delete(dst);
  return 0;
}
