#ifndef IMAGE_INTERPOLATE1D_H
#define IMAGE_INTERPOLATE1D_H

#include "imagelib_kernel.h"

// Filtered value of every channel of a line of n pixels (stride bytes apart)
// at a real position; scale is the footprint (below 1 counts as 1). One value
// of the line's pixel type per channel is written to out, one after another.
// An invalid kernel or a channel count below 1 writes nothing.
typedef void (*image_interpolate1D_fn)(unsigned char* base, int n, int stride, double position,
                                       double scale, unsigned char* out, int channels,
                                       ImagelibKernel* kernel);

#define IMAGE_INTERPOLATE1D_DECLARE(name)                                                    \
  void name(unsigned char* base, int n, int stride, double position, double scale,          \
            unsigned char* out, int channels, ImagelibKernel* kernel)

IMAGE_INTERPOLATE1D_DECLARE(image_interpolate1D_byte_clamp);
IMAGE_INTERPOLATE1D_DECLARE(image_interpolate1D_byte_zero);
IMAGE_INTERPOLATE1D_DECLARE(image_interpolate1D_byte_wrap_direct);
IMAGE_INTERPOLATE1D_DECLARE(image_interpolate1D_byte_wrap_mirror);
IMAGE_INTERPOLATE1D_DECLARE(image_interpolate1D_word_clamp);
IMAGE_INTERPOLATE1D_DECLARE(image_interpolate1D_word_zero);
IMAGE_INTERPOLATE1D_DECLARE(image_interpolate1D_word_wrap_direct);
IMAGE_INTERPOLATE1D_DECLARE(image_interpolate1D_word_wrap_mirror);
IMAGE_INTERPOLATE1D_DECLARE(image_interpolate1D_word32_clamp);
IMAGE_INTERPOLATE1D_DECLARE(image_interpolate1D_word32_zero);
IMAGE_INTERPOLATE1D_DECLARE(image_interpolate1D_word32_wrap_direct);
IMAGE_INTERPOLATE1D_DECLARE(image_interpolate1D_word32_wrap_mirror);
IMAGE_INTERPOLATE1D_DECLARE(image_interpolate1D_float_clamp);
IMAGE_INTERPOLATE1D_DECLARE(image_interpolate1D_float_zero);
IMAGE_INTERPOLATE1D_DECLARE(image_interpolate1D_float_wrap_direct);
IMAGE_INTERPOLATE1D_DECLARE(image_interpolate1D_float_wrap_mirror);

// Choose the variant by the kernel's edge_mode; other modes write nothing.
IMAGE_INTERPOLATE1D_DECLARE(image_interpolate1D_byte);
IMAGE_INTERPOLATE1D_DECLARE(image_interpolate1D_word);
IMAGE_INTERPOLATE1D_DECLARE(image_interpolate1D_word32);
IMAGE_INTERPOLATE1D_DECLARE(image_interpolate1D_float);

// The dispatcher for a pixel type, null for an unknown type.
image_interpolate1D_fn image_interpolate1D_for_type(int pixel_type);

#endif
