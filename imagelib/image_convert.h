#ifndef IMAGE_CONVERT_H
#define IMAGE_CONVERT_H

#include "image_data.h"

// Writes src into dst of the same width and height but another pixel type
// and/or channel count. rescale converts between full scales (else values
// carry over as numbers, clamped to the destination's range). Channels that
// dst has beyond src's: channel_mode 1 repeats src's last channel, 3 fills
// full scale (float_fill_mode3 for float), any other mode 0 (float_fill for
// float). Equal type and channels is a plain copy. False on different sizes.
bool image_convert(image_data* src, image_data* dst, bool rescale, int channel_mode, float float_fill,
                   float float_fill_mode3);

#endif
