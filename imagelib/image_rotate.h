#ifndef IMAGE_ROTATE_H
#define IMAGE_ROTATE_H

#include "image_data.h"

// A new image holding src turned by angle degrees (counter-clockwise with
// row 0 at the bottom), sized to hold the whole picture. Quarter and half
// turns (within 0.001 degrees) are exact; the rest of the angle is three
// shears resampled with the cubic kernel (a = -1), zero outside the picture.
// The kernel arguments do not change the shears. Null for a null source, a
// non-finite angle or short memory.
image_data* image_rotate(image_data* src, double angle, int kernel_type, int edge_mode);

// Rotates as above and fills dst with the centre of the turned picture
// (image_region_extract at half its width and height with kernel_type).
// The extraction's result, 0 when the rotation failed.
int image_rotate(image_data* src, image_data* dst, double angle, int kernel_type, int edge_mode);

#endif
