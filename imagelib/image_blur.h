#ifndef IMAGE_BLUR_H
#define IMAGE_BLUR_H

#include "image_data.h"

// A Gaussian blur approximated by three box filters along every row (radius
// x) and then down every column (radius y), in place, on the channels whose
// bit is set in channel_mask (bit c selects channel c, so channels from 32 up
// are never blurred). A radius is limited to half the line; its fraction,
// when above 0.01, blends the results of the whole radii below and above.
// Values are rounded half up into integer samples, single precision into
// float ones, and never exceed the type's full scale (the largest float for
// float images).
//
// 0 for a null image or when a band could not get its working lines (those
// lines are left as they were; the other bands still blur); otherwise 1,
// also when the mask is 0 or neither radius is above 0.
int image_gaussian_blur(image_data* img, double radius_x, double radius_y, unsigned channel_mask);

// The same into dst, which must match src in size, channels and type (0
// otherwise, dst unchanged): src is copied into dst, which is then blurred.
int image_gaussian_blur(image_data* src, image_data* dst, double radius_x, double radius_y, unsigned channel_mask);

// `passes` box filters over a line of n doubles: each replaces sample i by
// the mean of samples i - R .. i + R (positions past the ends repeat the end
// samples, R = min(radius, n / 2)), computed as the window sum times
// 1 / (2R + 1) and limited to max. The lines exchange roles after every
// pass: after an odd number of passes the result is in out, after an even
// number in in. passes < 1, n < 1 or a null line does nothing.
void box_filter_multi_pass(int radius, int passes, int n, double* in, double* out, double max);

#endif
