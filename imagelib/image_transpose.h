#ifndef IMAGE_TRANSPOSE_H
#define IMAGE_TRANSPOSE_H

#include "image_data.h"

// dst(row x, column y) = src(row y, column x), all channels. 0 unless dst is
// src's height wide and src's width high with its channels and type.
int image_transpose(image_data* src, image_data* dst);

// A new transposed image; null for a null source or when memory is short.
image_data* image_transpose(image_data* src);

// Transposes src's columns x0..x0+w-1 of rows y0..y0+h-1 into dst's rows
// x0..x0+w-1, columns y0..y0+h-1, in cache-sized tiles. 0, nothing written,
// when the block leaves either image or the channels or types differ.
int image_transpose_recursive(image_data* src, image_data* dst, int x0, int w, int y0, int h);

#endif
