#ifndef IMAGE_ARITH_H
#define IMAGE_ARITH_H

#include "image_data.h"

// In-place arithmetic on every sample, row-parallel through the library's
// executor. Integer results saturate at 0 and the type's limit; float results
// are not clamped.
//
// With a scalar (every channel, or the channels whose bit c % 32 is set in
// mask): results round half up; divide by |s| < 1e-10 leaves the image
// unchanged. False only for a null image.
bool image_add(image_data* img, double s);
bool image_subtract(image_data* img, double s);
bool image_multiply(image_data* img, double s);
bool image_divide(image_data* img, double s);
bool image_add(image_data* img, double s, unsigned int mask);
bool image_subtract(image_data* img, double s, unsigned int mask);
bool image_multiply(image_data* img, double s, unsigned int mask);
bool image_divide(image_data* img, double s, unsigned int mask);

// With one value per channel: values[c] for c < count, values[count - 1]
// for every further channel. False, image unchanged, for a null image or
// values, count < 1 or more than 64 channels.
bool image_add(image_data* img, double* values, int count, unsigned int mask);
bool image_subtract(image_data* img, double* values, int count, unsigned int mask);
bool image_multiply(image_data* img, double* values, int count, unsigned int mask);
bool image_divide(image_data* img, double* values, int count, unsigned int mask);

// Sample by sample with a second image of the same layout (false, nothing
// written, otherwise). Byte and word divide truncates and gives the limit for
// a zero divisor; word32 rounds; float leaves x where |y| <= 1e-6.
// multiply_norm multiplies fractions of the full scale.
bool image_add(image_data* img, image_data* other);
bool image_subtract(image_data* img, image_data* other);
bool image_multiply(image_data* img, image_data* other);
bool image_multiply_norm(image_data* img, image_data* other);
bool image_divide(image_data* img, image_data* other);
bool image_add(image_data* img, image_data* other, unsigned int mask);
bool image_subtract(image_data* img, image_data* other, unsigned int mask);
bool image_multiply(image_data* img, image_data* other, unsigned int mask);
bool image_multiply_norm(image_data* img, image_data* other, unsigned int mask);
bool image_divide(image_data* img, image_data* other, unsigned int mask);

// dst = |a - b| sample by sample, on the calling thread. False, nothing
// written, for null images or different layouts.
bool image_difference(image_data* dst, image_data* a, image_data* b);

#endif
