#ifndef IMAGE_SAMPLE_H
#define IMAGE_SAMPLE_H

#include "image_data.h"
#include "imagelib_kernel.h"

// Point samplers: the kernel-weighted value of every channel at (x, y) in
// pixels (row 0 at the bottom), stretched over a footprint sx x sy when it is
// larger than one pixel, and divided by the weight sum of the window's taps
// (those that an edge mode of zero maps outside included), so that a uniform
// image keeps its value wherever the window lies inside. out[0..n-1] is
// cleared and out[0..min(n, channels)-1] written; a null image or out, an
// invalid kernel, or a window too wide for the memory left gives false with
// out untouched. A window that the edge mode folds over a smaller image
// costs its runs of equal kernel entries (a thousand or so per axis) plus
// at most every pixel once, however large the footprint.
bool image_data_get_point_value(image_data* img, double x, double y, double sx, double sy, double* out,
                                int n, ImagelibKernel* kernel);
bool image_data_get_point_value(image_data* img, double x, double y, double* out, int n,
                                ImagelibKernel* kernel);

// Results divided by the type's full scale.
bool image_data_get_point_value_norm(image_data* img, double x, double y, double sx, double sy,
                                     double* out, int n, ImagelibKernel* kernel);
bool image_data_get_point_value_norm(image_data* img, double x, double y, double* out, int n,
                                     ImagelibKernel* kernel);

// Position and footprint in fractions of the width and height.
bool image_data_get_point_norm_value(image_data* img, double x, double y, double sx, double sy,
                                     double* out, int n, ImagelibKernel* kernel);
bool image_data_get_point_norm_value(image_data* img, double x, double y, double* out, int n,
                                     ImagelibKernel* kernel);
bool image_data_get_point_norm_value_norm(image_data* img, double x, double y, double sx, double sy,
                                          double* out, int n, ImagelibKernel* kernel);
bool image_data_get_point_norm_value_norm(image_data* img, double x, double y, double* out, int n,
                                          ImagelibKernel* kernel);

// Integer sampler with the fixed-point table; byte and word images only.
bool image_data_get_point_value_int(image_data* img, double x, double y, double sx, double sy, int* out,
                                    int n, ImagelibKernel* kernel);

#endif
