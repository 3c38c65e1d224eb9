#include "imagelib_kernel.h"

#include <cmath>

#include "q4_memory.h"

namespace {

const int kTableCapacity = 1537;  // room for a radius of 3

long double cubic(long double x, long double a) {
  if (x < 1.0L) return (a + 2.0L) * x * x * x - (a + 3.0L) * x * x + 1.0L;
  if (x < 2.0L) return a * x * x * x - 5.0L * a * x * x + 8.0L * a * x - 4.0L * a;
  return 0.0L;
}

long double sinc(long double t) {
  const long double pt = 3.14159265358979323846264338327950288L * t;
  return std::sin(pt) / pt;
}

long double kernel_value(int type, long double x) {
  switch (type) {
    case IMAGELIB_KERNEL_BOX: return x <= 0.5L ? 1.0L : 0.0L;
    case IMAGELIB_KERNEL_LINEAR: return x < 1.0L ? 1.0L - x : 0.0L;
    case IMAGELIB_KERNEL_CUBIC_HALF: return cubic(x, -0.5L);
    case IMAGELIB_KERNEL_CUBIC_ONE: return cubic(x, -1.0L);
    case IMAGELIB_KERNEL_BSPLINE:
      if (x < 1.0L) return (3.0L * x * x * x - 6.0L * x * x + 4.0L) / 6.0L;
      if (x < 2.0L) return (-x * x * x + 6.0L * x * x - 12.0L * x + 8.0L) / 6.0L;
      return 0.0L;
    default:  // Lanczos-2
      if (x == 0.0L) return 1.0L;
      if (x < 2.0L) return sinc(x) * sinc(x / 2.0L);
      return 0.0L;
  }
}

bool edge_mode_known(int m) { return static_cast<unsigned>(m) <= IMAGELIB_EDGE_MIRROR; }

}  // namespace

double* image_make_kernel(int type, int& taps, int& radius) {
  if (type < IMAGELIB_KERNEL_BOX || type > IMAGELIB_KERNEL_LANCZOS2) {
    taps = 0;
    radius = 0;
    return nullptr;
  }
  double* table = static_cast<double*>(q4_calloc(kTableCapacity, sizeof(double), __FILE__, __LINE__));
  if (!table) return nullptr;
  radius = type <= IMAGELIB_KERNEL_LINEAR ? 1 : 2;
  taps = 2 * radius + 1;
  const int last = radius * IMAGELIB_SAMPLES_PER_UNIT;
  for (int i = 0; i <= last; ++i) {
    const long double x = static_cast<long double>(i) * 0.001953125L;
    table[i] = static_cast<double>(kernel_value(type, x));
  }
  return table;
}

int imagelib_fixed_weight(double weight) {
  const double v = weight * 1024.0;
  return v >= 0.0 ? static_cast<int>(v + 0.500000001) : static_cast<int>(v - 0.4999999999);
}

ImagelibKernel::ImagelibKernel(int type, int edge)
    : table(nullptr),
      fixed_table(nullptr),
      radius(0),
      taps(0),
      samples_per_unit(IMAGELIB_SAMPLES_PER_UNIT),
      fixed_one(1024),
      fixed_shift(10),
      edge_mode(edge),
      x_edge_mode(edge),
      y_edge_mode(edge),
      valid(false),
      type(type) {
  table = image_make_kernel(type, taps, radius);
  if (!table) return;
  const int entries = radius * IMAGELIB_SAMPLES_PER_UNIT + 1;
  fixed_table = static_cast<int*>(q4_malloc(sizeof(int) * entries, __FILE__, __LINE__));
  if (!fixed_table) return;
  for (int i = 0; i < entries; ++i) fixed_table[i] = imagelib_fixed_weight(table[i]);
  valid = edge_mode_known(edge);
}

ImagelibKernel::~ImagelibKernel() {
  if (table) q4_free(table, __FILE__, __LINE__);
  if (fixed_table) q4_free(fixed_table, __FILE__, __LINE__);
}

bool ImagelibKernel::set_edge_mode(int m) {
  if (!edge_mode_known(m)) return false;
  edge_mode = x_edge_mode = y_edge_mode = m;
  // A kernel built with an unknown mode becomes usable once given a known one.
  valid = table && fixed_table;
  return true;
}

bool ImagelibKernel::set_x_edge_mode(int m) {
  if (!edge_mode_known(m)) return false;
  x_edge_mode = m;
  return true;
}

bool ImagelibKernel::set_y_edge_mode(int m) {
  if (!edge_mode_known(m)) return false;
  y_edge_mode = m;
  return true;
}
