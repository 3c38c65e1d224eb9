#include <cstdint>

#include "image_interpolate1d.h"
#include "image_scale.h"

namespace {

struct translate_block {
  image_data* src;
  image_data* dst;
  double offset;  // subtracted from the output position
  ImagelibKernel* kernel;
  image_interpolate1D_fn interpolate;
};

}  // namespace

// Rows of src into the same rows of the (dst-wide) intermediate.
void image_translate_horizontal(void* object, int first, int last) {
  const translate_block* b = static_cast<const translate_block*>(object);
  const int pb = b->dst->pixel_bytes;
  for (int y = first; y <= last; ++y) {
    unsigned char* in = image_row(b->src, y);
    unsigned char* out = image_row(b->dst, y);
    for (int x = 0; x < b->dst->width; ++x)
      b->interpolate(in, b->src->width, b->src->pixel_bytes, x - b->offset, 1.0, out + static_cast<int64_t>(x) * pb,
                     b->dst->channels, b->kernel);
  }
}

// Columns of the intermediate into the same columns of dst.
void image_translate_vertical(void* object, int first, int last) {
  const translate_block* b = static_cast<const translate_block*>(object);
  const int pb = b->dst->pixel_bytes;
  for (int x = first; x <= last; ++x) {
    unsigned char* in = static_cast<unsigned char*>(b->src->pixels) + static_cast<int64_t>(x) * b->src->pixel_bytes;
    for (int y = 0; y < b->dst->height; ++y)
      b->interpolate(in, b->src->height, static_cast<int>(b->src->row_bytes), y - b->offset, 1.0,
                     image_row(b->dst, y) + static_cast<int64_t>(x) * pb, b->dst->channels, b->kernel);
  }
}

bool image_translate(image_data* src, image_data* dst, float dx, float dy, int kernel_type, int edge_mode) {
  if (image_data_same_layout(src, dst) && dx == 0.0f && dy == 0.0f) return image_data_copy(src, dst) != 0;
  if (!src || !dst || !src->pixels || !dst->pixels) return false;
  if (src->channels != dst->channels || src->pixel_type != dst->pixel_type) return false;
  image_interpolate1D_fn interpolate = image_interpolate1D_for_type(src->pixel_type);
  if (!interpolate) return false;
  if (edge_mode < IMAGELIB_EDGE_CLAMP || edge_mode > IMAGELIB_EDGE_MIRROR) edge_mode = IMAGELIB_EDGE_ZERO;
  ImagelibKernel* kernel = new ImagelibKernel(kernel_type, edge_mode);
  if (!kernel->valid) {
    delete kernel;
    return false;
  }
  image_data* mid = image_data_create(dst->width, src->height, src->channels, src->pixel_type, 1);
  if (!mid) {
    delete kernel;
    return false;
  }
  if (image_data_same_layout(src, dst) && dx == 0.0f) {
    image_data_copy(src, mid);
  } else {
    translate_block block{src, mid, static_cast<double>(dx), kernel, interpolate};
    imagelib_dispatch(image_translate_horizontal, src->height, &block);
  }
  if (image_data_same_layout(mid, dst) && dy == 0.0f) {
    image_data_copy(mid, dst);
  } else {
    translate_block block{mid, dst, static_cast<double>(dy), kernel, interpolate};
    imagelib_dispatch(image_translate_vertical, dst->width, &block);
  }
  image_data_delete(mid);
  delete kernel;
  return true;
}
