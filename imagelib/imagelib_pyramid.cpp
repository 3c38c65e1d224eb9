#include "imagelib_pyramid.h"

#include <cmath>

#include "image_sample.h"
#include "image_scale.h"

namespace {

bool kernel_args_known(int kernel_type, int edge_mode) {
  return static_cast<unsigned>(kernel_type) <= IMAGELIB_KERNEL_LANCZOS2 &&
         static_cast<unsigned>(edge_mode) <= IMAGELIB_EDGE_MIRROR;
}

double inverse_span(int side) { return side > 1 ? 1.0 / (side - 1) : 0.0; }

}  // namespace

ImagelibPyramid::ImagelibPyramid(image_data* src, int kernel_type, int edge_mode, bool copy)
    : kernel_(new ImagelibKernel(kernel_type, edge_mode)),
      levels_(),
      inverse_width_span_(0.0),
      inverse_height_span_(0.0),
      width_span_(0.0),
      height_span_(0.0),
      top_(-1),
      owns_level0_(false),
      inverse_full_scale_(0.0) {
  if (!src || !src->pixels) return;
  image_data* level0 = copy ? image_data_copy(src) : src;
  if (!level0) return;
  levels_[0] = level0;
  owns_level0_ = copy;
  top_ = 0;
  const int w0 = level0->width, h0 = level0->height;
  width_span_ = w0 - 1;
  height_span_ = h0 - 1;
  inverse_width_span_ = inverse_span(w0);
  inverse_height_span_ = inverse_span(h0);
  inverse_full_scale_ = 1.0 / image_full_scale(level0->pixel_type);
  const int shorter = w0 < h0 ? w0 : h0;
  for (int k = 1; k < kMaxLevels && (shorter >> k) >= 2; ++k) {
    image_data* level = image_data_create(w0 >> k, h0 >> k, level0->channels, level0->pixel_type, 1);
    if (!level || !image_scale(levels_[k - 1], level, kernel_type, false)) {
      image_data_delete(level);
      return;
    }
    levels_[k] = level;
    top_ = k;
  }
}

ImagelibPyramid::~ImagelibPyramid() {
  for (int k = 1; k <= top_; ++k) image_data_delete(levels_[k]);
  if (owns_level0_) image_data_delete(levels_[0]);
  delete kernel_;
}

bool ImagelibPyramid::set_lookup_kernel(int kernel_type, int edge_mode) {
  if (!kernel_args_known(kernel_type, edge_mode)) return false;
  ImagelibKernel* kernel = new ImagelibKernel(kernel_type, edge_mode);
  if (!kernel->valid) {
    delete kernel;
    return false;
  }
  delete kernel_;
  kernel_ = kernel;
  return true;
}

image_data* ImagelibPyramid::get_level(int k) const { return k >= 0 && k <= top_ ? levels_[k] : nullptr; }

// Positions map corner to corner: level-0 position x lies at
// x (wk - 1) / (w0 - 1) on level k.
bool ImagelibPyramid::sample_level(int k, double x, double y, double* out, int n) const {
  const image_data* level = levels_[k];
  if (k > 0) {
    x *= (level->width - 1) * inverse_width_span_;
    y *= (level->height - 1) * inverse_height_span_;
  }
  return image_data_get_point_value(levels_[k], x, y, 1.0, 1.0, out, n, kernel_);
}

bool ImagelibPyramid::lookup_scaled(double x, double y, double dx, double dy, double* out, int n,
                                    double value_scale) const {
  if (!out || n < 1 || n > kMaxValues) return false;
  for (int c = 0; c < n; ++c) out[c] = 0.0;
  if (!usable()) return false;
  double s = std::sqrt(dx * dx + dy * dy);
  if (!(s > 1.0)) s = 1.0;  // not-a-number too: the finest level
  const double L = std::log(s) / std::log(2.0);
  bool sampled;
  if (L >= top_) {
    sampled = sample_level(top_, x, y, out, n);
  } else {
    const int i = static_cast<int>(L);
    const double t = L - i;
    if (t < 0.001) {
      sampled = sample_level(i, x, y, out, n);
    } else if (t > 0.999) {
      sampled = sample_level(i + 1, x, y, out, n);
    } else {
      double finer[kMaxValues], coarser[kMaxValues];
      sampled = sample_level(i, x, y, finer, n) && sample_level(i + 1, x, y, coarser, n);
      for (int c = 0; c < n; ++c) out[c] = (1 - t) * finer[c] + t * coarser[c];
    }
  }
  for (int c = 0; c < n; ++c) out[c] = sampled ? out[c] * value_scale : 0.0;
  return sampled;
}

bool ImagelibPyramid::lookup(double x, double y, double dx, double dy, double* out, int n) const {
  return lookup_scaled(x, y, dx, dy, out, n, 1.0);
}

bool ImagelibPyramid::lookup_value_norm(double x, double y, double dx, double dy, double* out, int n) const {
  return lookup_scaled(x, y, dx, dy, out, n, inverse_full_scale_);
}

bool ImagelibPyramid::lookup_point_norm(double x, double y, double dx, double dy, double* out, int n) const {
  return lookup_scaled(x * width_span_, y * height_span_, dx * width_span_, dy * height_span_, out, n, 1.0);
}

bool ImagelibPyramid::lookup_point_norm_value_norm(double x, double y, double dx, double dy, double* out,
                                                   int n) const {
  return lookup_scaled(x * width_span_, y * height_span_, dx * width_span_, dy * height_span_, out, n,
                       inverse_full_scale_);
}

bool ImagelibPyramid::interpolate_level_point_norm(int k, double x, double y, double* out, int n) const {
  if (!out || n < 1 || n > kMaxValues) return false;
  for (int c = 0; c < n; ++c) out[c] = 0.0;
  if (!usable() || k < 0 || k > top_) return false;
  const image_data* level = levels_[k];
  return image_data_get_point_value(levels_[k], x * (level->width - 1), y * (level->height - 1), 1.0, 1.0, out,
                                    n, kernel_);
}
