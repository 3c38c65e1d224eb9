#include "image_warp.h"

#include <cmath>

#include "image_pixel.h"

namespace {

struct warp_args {
  const image_data* coords;
  image_data* dst;
  const ImagelibPyramid* pyramid;
};

// The layouts a warp of `source` (level 0) can work with.
bool warp_fits(const image_data* source, const image_data* coords, const image_data* dst) {
  if (!source || !source->pixels || !coords || !coords->pixels || !dst || !dst->pixels) return false;
  if (coords->pixel_type != IMAGE_PIXEL_FLOAT || coords->channels < 2) return false;
  if (coords->width != dst->width || coords->height != dst->height) return false;
  return dst->channels == source->channels && dst->channels <= ImagelibPyramid::kMaxValues;
}

// Rows first..last of dst. The footprint is half the length of the lookup's
// movement per destination pixel (x along channel 0, y along channel 1),
// differences taken across both neighbours and one-sided (still halved) at
// the borders. Fractions of the spans become level-0 pixels, each along its
// own axis, before the rates combine: a footprint that mixed fractions of a
// wide span with fractions of a short one would read coarser levels than
// the movement asks for (identity positions would blur).
template <bool PointNorm>
void warp_rows(const warp_args* args, int first, int last) {
  const image_data* coords = args->coords;
  image_data* dst = args->dst;
  const int w = coords->width, h = coords->height, cc = coords->channels, ch = dst->channels;
  const double sx = PointNorm ? args->pyramid->width_span() : 1.0;
  const double sy = PointNorm ? args->pyramid->height_span() : 1.0;
  auto coord_row = [coords](int y) { return reinterpret_cast<const float*>(image_row(coords, y)); };
  double values[ImagelibPyramid::kMaxValues];
  image_with_sample_type(dst->pixel_type, [&](auto zero) {
    typedef decltype(zero) T;
    for (int y = first; y <= last; ++y) {
      const float* row = coord_row(y);
      const float* below = coord_row(y > 0 ? y - 1 : 0);
      const float* above = coord_row(y < h - 1 ? y + 1 : h - 1);
      T* out = reinterpret_cast<T*>(image_row(dst, y));
      for (int x = 0; x < w; ++x, out += ch) {
        const long at = static_cast<long>(x) * cc;
        const long left = static_cast<long>(x > 0 ? x - 1 : 0) * cc;
        const long right = static_cast<long>(x < w - 1 ? x + 1 : w - 1) * cc;
        const double a = (static_cast<double>(row[right]) - row[left]) * sx / 2;
        const double b = (static_cast<double>(above[at + 1]) - below[at + 1]) * sy / 2;
        const double f = std::sqrt(a * a + b * b) / 2;
        args->pyramid->lookup(row[at] * sx, row[at + 1] * sy, f, f, values, ch);
        image_store_pixel<T>(out, values, ch);
      }
    }
  });
}

int run(ImagelibPyramid* pyramid, image_data* coords, image_data* dst, mp_worker_fn worker) {
  if (!pyramid || !pyramid->usable() || !warp_fits(pyramid->get_level(0), coords, dst)) return 0;
  warp_args args{coords, dst, pyramid};
  imagelib_dispatch(worker, coords->height, &args);
  return 1;
}

// Through a pyramid of a copy of src, made only once the layouts fit.
int run_on_copy(image_data* src, image_data* coords, image_data* dst, int kernel_type, int edge_mode,
                mp_worker_fn worker) {
  if (!warp_fits(src, coords, dst)) return 0;
  ImagelibPyramid* pyramid = new ImagelibPyramid(src, kernel_type, edge_mode, true);
  const int result = run(pyramid, coords, dst, worker);
  delete pyramid;
  return result;
}

}  // namespace

void mp_warp_general(void* object, int first, int last) {
  warp_rows<false>(static_cast<const warp_args*>(object), first, last);
}

void mp_warp_general_point_norm(void* object, int first, int last) {
  warp_rows<true>(static_cast<const warp_args*>(object), first, last);
}

int warp_general(ImagelibPyramid* pyramid, image_data* coords, image_data* dst) {
  return run(pyramid, coords, dst, mp_warp_general);
}

int warp_general_point_norm(ImagelibPyramid* pyramid, image_data* coords, image_data* dst) {
  return run(pyramid, coords, dst, mp_warp_general_point_norm);
}

int warp_general(image_data* src, image_data* coords, image_data* dst, int kernel_type, int edge_mode) {
  return run_on_copy(src, coords, dst, kernel_type, edge_mode, mp_warp_general);
}

int warp_general_point_norm(image_data* src, image_data* coords, image_data* dst, int kernel_type, int edge_mode) {
  return run_on_copy(src, coords, dst, kernel_type, edge_mode, mp_warp_general_point_norm);
}
