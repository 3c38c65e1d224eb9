#ifndef IMAGE_RANGE_H
#define IMAGE_RANGE_H

#include "image_data.h"

// Stores the smallest and largest sample over all channels in range_min and
// range_max and sets range_valid. False only for a null image.
bool image_get_range(image_data* img);

// Maps the measured range linearly onto [low, high] in place. The targets are
// first clamped to the type's range (float: unclamped) and swapped when
// reversed; an image or target of no extent is filled with low. Byte and word
// results round half away from zero, word32 truncates. range_min and
// range_max keep the measured values. False for a null image.
bool image_set_range(image_data* img, double low, double high);

// image_set_range to the type's full scale ([0, 1] for float). The flag has
// no effect: the stretch always starts from the measured minimum.
bool image_normalize(image_data* img, bool flag);

#endif
