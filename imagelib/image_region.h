#ifndef IMAGE_REGION_H
#define IMAGE_REGION_H

#include "image_data.h"

// Fills dst with the window of src of dst's size centred on (cx, cy): the
// window's corners lie (dst width - 1) / 2 and (dst height - 1) / 2 from the
// centre, resampled with kernel_type (0..5) and zero outside the source.
// 0 for null images, different types or channel counts, or what the
// translation refuses; 1 when written (all zero when the window misses src).
int image_region_extract(image_data* src, image_data* dst, double cx, double cy, int kernel_type);

#endif
