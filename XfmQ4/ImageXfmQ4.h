#ifndef IMAGE_XFM_Q4_H
#define IMAGE_XFM_Q4_H

#include <memory>

#include "ImageQ4.h"
#include "q4_mp_hooks.h"

// Resampler of frame images: tabulated kernels with point and area
// samplers, separable whole-image scaling and affine transforms.
//
// Sampling modes: 1 nearest, 2 bilinear (tent), 3 cubic a = -0.5,
// 4 cubic a = -1, 5 cubic B-spline, 6 Lanczos-2. Kernel tables hold the
// kernel at distance i / 512; the fixed-point copy has 8192 = 1.0.
// Positions are pixel coordinates: pixel (c, r) sits at (c, r).
class ImageXfmQ4 {
public:
  ImageXfmQ4();
  virtual ~ImageXfmQ4();
  ImageXfmQ4(const ImageXfmQ4&) = delete;
  ImageXfmQ4& operator=(const ImageXfmQ4&) = delete;

  void reset();
  // Returns mode itself when unchanged, else the new kernel radius.
  int sampleMode(int mode);
  void make_tent_kernel();
  void make_bicubic_kernel(double a);
  void make_bspline_kernel();
  void make_lanczos2_kernel();

  // Point sampling by mode; a zero pixel for modes outside 1..6.
  PixelQ4 sample(ImageQ4* img, double x, double y);
  // Area sampling: triangle filter for modes 2..6, nearest otherwise.
  PixelQ4 sample_down(ImageQ4* img, double x, double y, double sx, double sy);
  // sx, sy: footprint of one output pixel in input pixels.
  PixelQ4 sample_image(ImageQ4* img, double x, double y, double sx, double sy);
  PixelQ4 bilinear_sample(ImageQ4* img, double x, double y);
  PixelQ4 bilinear_sample_integer(ImageQ4* img, double x, double y);
  // bilinear_sample_integer at n positions (x[i], y[i]) into out[i], the
  // points inside the image without a call each (a row of a warp).
  void bilinear_sample_integer_row(ImageQ4* img, const float* x, const float* y, int n, PixelQ4* out);
  PixelQ4 general_5_point_sample(ImageQ4* img, double x, double y);
  PixelQ4 general_5_point_sample_integer(ImageQ4* img, double x, double y);
  PixelQ4 triangle_sample_down(ImageQ4* img, double x, double y, double sx, double sy);

  bool set_mp_exec(void* context, mp_exec_fn exec);
  // Runs worker over 0..count-1 through the executor, or inline.
  void mp_exec(mp_worker_fn worker, int count);

  // Fills all of dst from src; false for null images or when working
  // storage cannot be had (dst is then untouched). Not for two calls at once.
  bool scale_image(ImageQ4* src, ImageQ4* dst);

  // Affine operations compose into matrix (see compose_order).
  void translate(double tx, double ty);
  void rotate(double degrees);
  void scale(double sx, double sy);
  void shearx(double s);
  void sheary(double s);
  void compose();
  // Mode 2: matrix already maps target to source; otherwise it is inverted.
  void set_transform(int mode);
  // Resamples src into dst rows first_row..last_row (a band operation).
  void apply(ImageQ4* src, ImageQ4* dst, int first_row, int last_row);

  // Scaling band workers; the object is the argument.
  static void mp_copy_all(void* object, int first, int last);
  static void mp_copy_horiz(void* object, int first, int last);
  static void mp_scale_image_horiz_up(void* object, int first, int last);
  static void mp_scale_image_horiz_down(void* object, int first, int last);
  static void mp_copy_vert(void* object, int first, int last);
  static void mp_scale_image_vert_up(void* object, int first, int last);
  static void mp_scale_image_vert_down(void* object, int first, int last);

  double op_matrix[6];
  double product_matrix[6];
  double matrix[6];          // x' = a0 x + a2 y + a4, y' = a1 x + a3 y + a5
  double inverse_matrix[7];  // target to source, i6 the divisor
  int compose_order;         // 1: a new operation acts first on a point
  int sample_mode;           // -1 until a mode is selected
  double kernel_table[1537];
  int kernel_table_fixed[1537];
  int kernel_taps;
  int sample_arithmetic;     // 1 floating point, otherwise fixed point
  int kernel_radius;
  int scale_dst_size;
  int scale_src_size;
  ImageQ4* scale_src;
  // scale_image's intermediate (the target's width by the source's height),
  // kept for the next call of the same sizes.
  std::unique_ptr<ImageQ4> scale_tmp;
  ImageQ4* scale_dst;
  double scale_ratio;
  int scale_radius;
  double* scale_kernel;
  void* mp_context;
  mp_exec_fn mp_exec_hook;

private:
  PixelQ4 nearest_sample(ImageQ4* img, double x, double y);

  // Per-output tap lists of the scaling pass in progress: output i reads
  // sources tap_source[tap_first[i] .. tap_first[i + 1] - 1] with the
  // matching weights, and its sums are multiplied by tap_norm[i].
  struct ScaleTaps {
    int* tap_first;
    int* tap_source;
    double* tap_weight;
    double* tap_norm;
  };
  ScaleTaps scale_taps;

  void fill_kernel(double (*kernel)(double x, double a), double a, int last_entry, int taps, int radius);
  void compose_op(double m0, double m1, double m2, double m3, double m4, double m5);
  bool build_scale_taps(bool reduce);
  void free_scale_taps();
  bool scale_pass(mp_worker_fn copy, mp_worker_fn up, mp_worker_fn down, int count);
  static void scale_line(const ScaleTaps& taps, int dst_size, const PixelQ4* src, PixelQ4* dst);
};

#endif
