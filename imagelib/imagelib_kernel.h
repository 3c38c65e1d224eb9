#ifndef IMAGELIB_KERNEL_H
#define IMAGELIB_KERNEL_H

// Kernel types: 0 box, 1 linear, 2 cubic a=-0.5, 3 cubic a=-1, 4 cubic
// B-spline, 5 Lanczos-2. Tables hold K(i/512) for i = 0..radius*512.
enum {
  IMAGELIB_KERNEL_BOX = 0,
  IMAGELIB_KERNEL_LINEAR = 1,
  IMAGELIB_KERNEL_CUBIC_HALF = 2,
  IMAGELIB_KERNEL_CUBIC_ONE = 3,
  IMAGELIB_KERNEL_BSPLINE = 4,
  IMAGELIB_KERNEL_LANCZOS2 = 5
};

// Edge modes: how a sample index outside 0..n-1 is mapped.
enum {
  IMAGELIB_EDGE_CLAMP = 0,
  IMAGELIB_EDGE_ZERO = 1,
  IMAGELIB_EDGE_WRAP = 2,
  IMAGELIB_EDGE_MIRROR = 3
};

const int IMAGELIB_SAMPLES_PER_UNIT = 512;

// New q4_malloc table of the kernel (free with q4_free), with taps and radius
// set; null for an unknown type (taps and radius then 0) or when memory is short.
double* image_make_kernel(int type, int& taps, int& radius);

// Fixed-point weight (x 1024) of a table weight, rounded half away from zero.
int imagelib_fixed_weight(double weight);

// Index of sample i on an axis of n samples under an edge mode, or -1 when the
// mode gives no sample. Unknown modes clamp, so nothing outside is ever read.
inline int imagelib_edge_map(int i, int n, int mode) {
  if (i >= 0 && i < n) return i;
  switch (mode) {
    case IMAGELIB_EDGE_ZERO: return -1;
    case IMAGELIB_EDGE_WRAP: return i >= 0 ? i % n : n - ((-i) % n) - 1;
    case IMAGELIB_EDGE_MIRROR: {
      const int m = (i < 0 ? -i : i) % (2 * n);
      return m >= n ? 2 * n - m - 1 : m;
    }
    default: return i < 0 ? 0 : n - 1;
  }
}

class ImagelibKernel {
 public:
  ImagelibKernel(int type, int edge);
  virtual ~ImagelibKernel();
  ImagelibKernel(const ImagelibKernel&) = delete;
  ImagelibKernel& operator=(const ImagelibKernel&) = delete;

  bool set_edge_mode(int m);
  bool set_x_edge_mode(int m);
  bool set_y_edge_mode(int m);

  // A box weighs both neighbours of a half-way position by 1; samplers then
  // divide by the weight sum so that the result is their mean, not their sum.
  bool normalises_magnification() const { return type == IMAGELIB_KERNEL_BOX; }

  double* table;
  int* fixed_table;
  int radius;
  int taps;
  int samples_per_unit;
  int fixed_one;
  int fixed_shift;
  int edge_mode;
  int x_edge_mode;
  int y_edge_mode;
  // Both tables exist and the type and edge mode were known.
  bool valid;
  int type;
};

#endif
