#ifndef FFT_COLUMN_PASS_H
#define FFT_COLUMN_PASS_H

#include "fft_columns.h"
#include "fft_convolver.h"
#include "q4_memory.h"

// Columns gathered together, 256 bytes of each grid row at a time: a column
// pass touches every row of the grid once per block, and on large grids each
// touch of a row costs an address-cache miss, so wide blocks pay fewer.
template <typename C>
constexpr int column_block() {
  return 256 / static_cast<int>(sizeof(C));
}

// Each column is asked about once; the first stop answer ends the band,
// after the columns of its block that were let through are written back.
template <typename C, typename Line>
void FFTConvolver::column_pass(void* object, int first, int last, Line line) {
  FFTConvolver* self = static_cast<FFTConvolver*>(object);
  const int w = self->band_width, h = self->band_height, block = column_block<C>();
  C* buffer = static_cast<C*>(mem_align_alloc(static_cast<unsigned>(sizeof(C)) * h * block, -1, false));
  if (!buffer) {
    self->error_code = FFT_ERR_MEMORY;
    return;
  }
  C* grid = static_cast<C*>(self->work_grid);
  for (int c = first; c <= last; c += block) {
    const int count = last - c + 1 < block ? last - c + 1 : block;
    int ready = 0;
    while (ready < count && !self->aborted()) ++ready;
    gather_columns(grid, w, h, c, ready, buffer, h);
    for (int b = 0; b < ready; ++b) line(buffer + b * h, h);
    scatter_columns(grid, w, h, c, ready, buffer, h);
    if (ready < count) break;
  }
  mem_align_free(buffer, false);
}

#endif
