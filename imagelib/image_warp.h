#ifndef IMAGE_WARP_H
#define IMAGE_WARP_H

#include "image_data.h"
#include "imagelib_pyramid.h"

// General warps: dst(x, y) is the pyramid's area lookup at the position
// that the float coordinate image holds for (x, y) (channel 0 the source x,
// channel 1 the source y; further channels ignored). The footprint of each
// lookup follows how fast the positions move from one destination pixel to
// the next, so shrinking warps read coarser levels. Values keep the
// source's scale and are stored rounded half up (integer types) and
// limited to dst's range.
//
// 0, dst untouched, unless coords is float with at least two channels and
// dst's width and height, dst has level 0's channel count (at most
// ImagelibPyramid::kMaxValues), and the pyramid has levels and a usable
// kernel; else 1.
int warp_general(ImagelibPyramid* pyramid, image_data* coords, image_data* dst);
// Coordinates as fractions 0..1 of level 0's spans (w0 - 1, h0 - 1): the
// same as warp_general of the coordinates times the spans.
int warp_general_point_norm(ImagelibPyramid* pyramid, image_data* coords, image_data* dst);

// The same through a pyramid of a copy of src, built with kernel_type
// (0..5) and edge_mode (0..3) for this call.
int warp_general(image_data* src, image_data* coords, image_data* dst, int kernel_type, int edge_mode);
int warp_general_point_norm(image_data* src, image_data* coords, image_data* dst, int kernel_type, int edge_mode);

#endif
