#ifndef IMAGE_SCALE_H
#define IMAGE_SCALE_H

#include "image_data.h"
#include "imagelib_kernel.h"

// Resamples src into dst's width and height with kernel 0..5 (see
// imagelib_kernel.h) as two separable passes, the reducing one first. Same
// size: a plain copy. Values are clamped to [0, full scale] except for float
// images with clamp_float false. False for null records, different channels
// or types, an unknown kernel or short memory (dst then unwritten).
bool image_scale(image_data* src, image_data* dst, int kernel_type, bool clamp_float);

// The same with a caller's kernel (its tables as they stand; its edge modes
// are not used, line ends always clamp). False also for an invalid kernel.
bool image_scale_with_kernel(image_data* src, image_data* dst, const ImagelibKernel& kernel, bool clamp_float);

// Copies src into dst whatever their size, channels and type: type and
// channels through image_convert (with channel_mode), size through image_scale.
bool image_general_copy(image_data* src, image_data* dst, int channel_mode, int kernel_type, bool clamp_float);

// dst(x, y) = src(x - dx, y - dy) with a kernel of the given type and edge
// mode (0..3; any other value means zero edges). dst may differ from src in
// width and height. False for null records, different channels or types, or
// an unknown kernel type.
bool image_translate(image_data* src, image_data* dst, float dx, float dy, int kernel_type, int edge_mode);

#endif
