#include "ImageXfmQ4.h"

#include <cmath>

namespace {

double cubic_kernel(double x, double a) {
  if (x < 1.0) return (a + 2.0) * x * x * x - (a + 3.0) * x * x + 1.0;
  if (x < 2.0) return a * x * x * x - 5.0 * a * x * x + 8.0 * a * x - 4.0 * a;
  return 0.0;
}

double bspline_kernel(double x, double) {
  if (x < 1.0) return (3.0 * x * x * x - 6.0 * x * x + 4.0) * 0.16666666666666666;
  if (x < 2.0) return (6.0 * x * x - x * x * x - 12.0 * x + 8.0) * 0.16666666666666666;
  return 0.0;
}

double lanczos2_kernel(double x, double) {
  if (x == 0.0) return 1.0;
  if (x >= 2.0) return 0.0;
  const double px = 3.141592653589793 * x;
  const double px2 = 1.5707963267948966 * x;
  return std::sin(px) / px * (std::sin(px2) / px2);
}

double tent_kernel(double x, double) { return x < 1.0 ? 1.0 - x : 0.0; }

}  // namespace

ImageXfmQ4::ImageXfmQ4()
    : scale_dst_size(0), scale_src_size(0), scale_src(nullptr), scale_tmp(nullptr), scale_dst(nullptr),
      scale_ratio(0.0), scale_radius(0), scale_kernel(nullptr), mp_context(nullptr), mp_exec_hook(nullptr),
      scale_taps{nullptr, nullptr, nullptr, nullptr} {
  // Defined even before the first operation: compose() and apply() then act
  // as the identity instead of reading uninitialised memory.
  static const double identity[7] = {1, 0, 0, 1, 0, 0, 1};
  for (int i = 0; i < 6; i++) op_matrix[i] = product_matrix[i] = identity[i];
  for (int i = 0; i < 7; i++) inverse_matrix[i] = identity[i];
  reset();
}

ImageXfmQ4::~ImageXfmQ4() {}

void ImageXfmQ4::reset() {
  sample_arithmetic = 2;
  sample_mode = -1;
  compose_order = 1;
  sampleMode(1);
  static const double identity[6] = {1, 0, 0, 1, 0, 0};
  for (int i = 0; i < 6; i++) matrix[i] = identity[i];
}

void ImageXfmQ4::fill_kernel(double (*kernel)(double, double), double a, int last_entry, int taps, int radius) {
  for (int i = 0; i <= last_entry; i++) {
    const double value = kernel(i * 0.001953125, a);
    kernel_table[i] = value;
    kernel_table_fixed[i] = (int)(value * 8192.0 + 0.5);
  }
  kernel_taps = taps;
  kernel_radius = radius;
}

void ImageXfmQ4::make_tent_kernel() { fill_kernel(tent_kernel, 0.0, 512, 3, 1); }
void ImageXfmQ4::make_bicubic_kernel(double a) { fill_kernel(cubic_kernel, a, 1024, 5, 2); }
void ImageXfmQ4::make_bspline_kernel() { fill_kernel(bspline_kernel, 0.0, 1024, 5, 2); }
void ImageXfmQ4::make_lanczos2_kernel() { fill_kernel(lanczos2_kernel, 0.0, 1024, 5, 2); }

int ImageXfmQ4::sampleMode(int mode) {
  if (mode == sample_mode) return mode;
  sample_mode = mode;
  switch (mode) {
    case 3: make_bicubic_kernel(-0.5); break;
    case 4: make_bicubic_kernel(-1.0); break;
    case 5: make_bspline_kernel(); break;
    case 6: make_lanczos2_kernel(); break;
    default: make_tent_kernel(); break;
  }
  return kernel_radius;
}

bool ImageXfmQ4::set_mp_exec(void* context, mp_exec_fn exec) {
  mp_context = context;
  mp_exec_hook = exec;
  return true;
}

void ImageXfmQ4::mp_exec(mp_worker_fn worker, int count) {
  if (mp_exec_hook && mp_context) mp_exec_hook(mp_context, worker, count, this);
  else worker(this, 0, count - 1);
}
