#ifndef IMAGE_LOG_POLAR_H
#define IMAGE_LOG_POLAR_H

#include "image_data.h"

// Log-polar images of width W and height H around a centre (cx, cy): column i
// stands for the radius rmin (rmax / rmin)^(i / (W - 1)), row j for the angle
// 2 pi j / H (row 0 along +x, angles growing with the row).

// dst becomes the log-polar image of src, each sample filtered over the
// distance to its neighbour along the row. Sampling uses kernel_type (0..5)
// and edge_mode (0..3) for positions outside src.
int image_cartesian_to_log_polar(image_data* src, image_data* dst, double rmin, double rmax, double cx, double cy,
                                 int kernel_type, int edge_mode);

// src is a log-polar image; dst becomes the cartesian image around (cx, cy).
// The angle wraps round; radii outside [rmin, rmax] follow edge_mode, and
// the centre itself samples column 0.
int image_log_polar_to_cartesian(image_data* src, image_data* dst, double rmin, double rmax, double cx, double cy,
                                 int kernel_type, int edge_mode);

// Both return 1 when dst was written and 0, dst untouched, unless src and dst
// share their layout, the width is at least 2, 1 <= rmin < rmax and the
// kernel type and edge mode are known (0 also when memory is short).

#endif
