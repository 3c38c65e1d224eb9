#ifndef ROW_ACCUMULATE_H
#define ROW_ACCUMULATE_H

#include <cstdint>

#include "PixelQ4.h"

// One step of a two-dimensional integer convolution, shared by sharpening and
// the edge templates: adds weight x the source row shifted by `offset` pixels
// (pixel x + offset feeds output x) into 64-bit accumulators, four per pixel
// in R G B A order, for the output columns whose shifted pixel lies in the
// row. Positions outside contribute nothing.
void accumulate_shifted_row(int64_t* acc, const PixelQ4* row, int width, int offset, int64_t weight);

#endif
