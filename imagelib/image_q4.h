#ifndef IMAGE_Q4_H
#define IMAGE_Q4_H

#include "ImageQ4.h"
#include "image_data.h"

// Conversions between image_data and the 15-bit frame image. Sizes must agree
// exactly; record row r is frame row r (no flip); channels 0..3 are R, G, B, A.

// 3 or 4 byte or word channels into the frame (byte v -> (v << 7) | (v >> 1),
// word v -> v >> 1, alpha 32767 for three channels). False, frame unchanged,
// for any other record.
bool to_Q4Image(image_data* src, ImageQ4* frame);

// Frame into a 4-channel word (v * 2) or float (v / 32767) record.
bool from_Q4Image(image_data* dst, ImageQ4* frame);
image_data* from_Q4Image(ImageQ4* frame);
image_data* from_Q4Image_float(ImageQ4* frame);

#endif
