#ifndef IMAGE_PORTERDUFF_H
#define IMAGE_PORTERDUFF_H

#include "image_data.h"

// Operators of image_composite_porterduff, each a pair of fractions Fa, Fb of
// the alpha fractions aa, ab (stored alpha x 1/full scale): out = a Fa + b Fb.
enum {
  IMAGE_PD_A_OVER_B = 1,  // 1, 1 - aa
  IMAGE_PD_B_OVER_A = 2,  // 1 - ab, 1
  IMAGE_PD_A_IN_B = 3,    // ab, 0
  IMAGE_PD_B_IN_A = 4,    // 0, aa
  IMAGE_PD_A_OUT_B = 5,   // 1 - ab, 0
  IMAGE_PD_B_OUT_A = 6,   // 0, 1 - aa
  IMAGE_PD_A_ATOP_B = 7,  // ab, 1 - aa
  IMAGE_PD_B_ATOP_A = 8,  // 1 - ab, aa
  IMAGE_PD_XOR = 9        // 1 - ab, 1 - aa
};

// Operators of image_unary_op_porterduff: the channels multiplied.
enum {
  IMAGE_PD_SCALE_COLOUR = 10,  // every channel but alpha
  IMAGE_PD_SCALE_ALL = 11,
  IMAGE_PD_SCALE_ALPHA = 12
};

// The region x0 <= x < x1, y0 <= y < y1 of the destination: all four
// negative is the whole image; otherwise a negative x0 or y0 is 0, a negative
// x1 or y1 the width or height, reversed corners are exchanged and the far
// corner is limited to the image. Alpha is channel 3, so every image needs
// four channels or more. Results are truncated toward zero and limited to
// the full scale; integer alpha fractions never exceed 1.

// dst = op(a, b) over the region, premultiplied or straight alpha. a and b
// need dst's type and channels and at least its width and height; dst may be
// one of them. 1 on success (an empty region or an unknown op write nothing),
// 0 when refused.
int image_composite_porterduff(image_data* dst, image_data* a, int op, image_data* b, bool premultiplied, int x0,
                               int y0, int x1, int y1);

// dst = a (1 - t) + b t over the region, t limited to 0..1; the same checks.
int image_cross_dissolve_porterduff(image_data* dst, image_data* a, image_data* b, double t, int x0, int y0, int x1,
                                    int y1);

// Multiplies the channels that op selects by value limited to 0..1, in place.
// 1 on success (an unknown op changes nothing), 0 for fewer than four
// channels or a null image.
int image_unary_op_porterduff(image_data* img, int op, double value, int x0, int y0, int x1, int y1);

#endif
