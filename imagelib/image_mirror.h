#ifndef IMAGE_MIRROR_H
#define IMAGE_MIRROR_H

#include "image_data.h"

// Flips the image top to bottom in place: row i swaps with row height-1-i.
void image_mirror_in_y(image_data* img);

#endif
