#ifndef IMAGE_MIRROR_H
#define IMAGE_MIRROR_H

#include "image_data.h"

// Flips the image top to bottom in place: row i swaps with row height-1-i.
void image_mirror_in_y(image_data* img);
// Flips every row in place: pixel j swaps with pixel width-1-j, all channels.
void image_mirror_in_x(image_data* img);

// A flipped copy; null for a null source or when memory is short.
image_data* image_mirror_in_y_new(image_data* img);
image_data* image_mirror_in_x_new(image_data* img);

#endif
