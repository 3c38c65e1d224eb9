#include "image_rotate.h"

#include <cmath>
#include <cstdint>

#include "image_interpolate1d.h"
#include "image_mirror.h"
#include "image_region.h"
#include "image_transpose.h"
#include "imagelib_kernel.h"

namespace {

struct shear_args {
  double t, d, s;
  image_data* src;
  image_data* dst;
  ImagelibKernel* kernel;
  image_interpolate1D_fn interpolate;
};

// dst(x, y) = src row y at x - (y - origin) t.
void skew_rows(const shear_args* a, int first, int last, double origin) {
  const int64_t pb = a->dst->pixel_bytes;
  for (int y = first; y <= last; ++y) {
    unsigned char* in = image_row(a->src, y);
    unsigned char* out = image_row(a->dst, y);
    const double shift = (y - origin) * a->t;
    for (int x = 0; x < a->dst->width; ++x)
      a->interpolate(in, a->src->width, a->src->pixel_bytes, x - shift, 1.0, out + x * pb, a->dst->channels,
                     a->kernel);
  }
}

}  // namespace

void image_skew_horizontal_1(void* object, int first, int last) {
  skew_rows(static_cast<const shear_args*>(object), first, last, 0.0);
}

// dst(x, y) = src column x at y - (d - x s). Bands are output rows rather
// than columns: each value depends on its position alone, and rows keep
// the writes and the neighbouring columns' reads in cache.
void image_skew_vertical_2(void* object, int first, int last) {
  const shear_args* a = static_cast<const shear_args*>(object);
  const int64_t pb = a->dst->pixel_bytes;
  unsigned char* columns = static_cast<unsigned char*>(a->src->pixels);
  for (int y = first; y <= last; ++y) {
    unsigned char* out = image_row(a->dst, y);
    for (int x = 0; x < a->dst->width; ++x)
      a->interpolate(columns + x * pb, a->src->height, static_cast<int>(a->src->row_bytes), y - (a->d - x * a->s),
                     1.0, out + x * pb, a->dst->channels, a->kernel);
  }
}

void image_skew_horizontal_3(void* object, int first, int last) {
  const shear_args* a = static_cast<const shear_args*>(object);
  skew_rows(a, first, last, a->d);
}

namespace {

// One shear pass of src into a new width x height image; null when it
// cannot be created.
image_data* shear_pass(shear_args args, image_data* src, int width, int height, mp_worker_fn worker) {
  image_data* dst = image_data_create(width, height, src->channels, src->pixel_type, 1);
  if (!dst) return nullptr;
  args.src = src;
  args.dst = dst;
  imagelib_dispatch(worker, height, &args);
  return dst;
}

// Turns the picture clockwise by a degrees (0 < a < 90) with three shears;
// the picture is deleted after the first when it is owned.
image_data* shear(image_data* picture, bool owned, double a) {
  const double phi = a * 0.017453292519943295;
  const double s = std::sin(phi), c = std::cos(phi), t = std::tan(phi / 2.0);
  const int W = picture->width, H = picture->height;
  const double w1 = std::trunc(t * H + W) + 1, h2 = std::trunc(H * c + W * s) + 1, w3 = std::trunc(W * c + H * s) + 1;
  image_data* result = nullptr;
  ImagelibKernel* kernel = new ImagelibKernel(IMAGELIB_KERNEL_CUBIC_ONE, IMAGELIB_EDGE_ZERO);
  image_interpolate1D_fn interpolate = image_interpolate1D_for_type(picture->pixel_type);
  if (kernel->valid && interpolate && w1 <= 65535 && h2 <= 65535 && w3 <= 65535) {
    const shear_args args{t, (W - 1) * s, s, nullptr, nullptr, kernel, interpolate};
    image_data* pass1 = shear_pass(args, picture, static_cast<int>(w1), H, image_skew_horizontal_1);
    if (owned) image_data_delete(picture);
    owned = false;
    image_data* pass2 = pass1 ? shear_pass(args, pass1, static_cast<int>(w1), static_cast<int>(h2), image_skew_vertical_2)
                              : nullptr;
    image_data_delete(pass1);
    if (pass2) result = shear_pass(args, pass2, static_cast<int>(w3), static_cast<int>(h2), image_skew_horizontal_3);
    image_data_delete(pass2);
  }
  if (owned) image_data_delete(picture);
  delete kernel;
  return result;
}

}  // namespace

image_data* image_rotate(image_data* src, double angle, int, int) {
  if (!src || !src->pixels || !std::isfinite(angle)) return nullptr;
  // The clockwise turn, in 0 <= a < 360.
  double a = std::fmod(-angle, 360.0);
  if (a < 0.0) a += 360.0;
  if (a >= 360.0) a -= 360.0;
  if (std::fabs(a) < 0.001) return image_data_copy(src);
  if (a < 90.0) return shear(src, false, a);

  image_data* turned;
  if (a < 180.0) {
    turned = image_transpose(src);
    image_mirror_in_y(turned);
    a -= 90.0;
  } else if (a < 270.0) {
    turned = image_data_copy(src);
    image_mirror_in_y(turned);
    image_mirror_in_x(turned);
    a -= 180.0;
  } else {
    turned = image_transpose(src);
    image_mirror_in_x(turned);
    a -= 270.0;
  }
  if (!turned || std::fabs(a) < 0.001) return turned;
  return shear(turned, true, a);
}

int image_rotate(image_data* src, image_data* dst, double angle, int kernel_type, int edge_mode) {
  image_data* rotated = image_rotate(src, angle, kernel_type, edge_mode);
  if (!rotated) return 0;
  const int result = image_region_extract(rotated, dst, 0.5 * rotated->width, 0.5 * rotated->height, kernel_type);
  image_data_delete(rotated);
  return result;
}
