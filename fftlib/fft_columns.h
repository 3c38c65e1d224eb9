#ifndef FFT_COLUMNS_H
#define FFT_COLUMNS_H

#include <cstddef>

#include "fft_pow2.h"

// Moves `count` columns, from column c on, of a grid of h rows with rows of
// w samples to and from a buffer that holds each column as one line of h
// samples, lines `line` samples apart: buffer[b * line + i] is
// grid[i * w + c + b]. C is complex4 or complex8, or float for gathers.
template <typename C>
void gather_columns(const C* grid, int w, int h, int c, int count, C* buffer, int line);
template <typename C>
void scatter_columns(C* grid, int w, int h, int c, int count, const C* buffer, int line);

// The row of an n x n spectrum of real data that mirrors `row`:
// mirror[c] is the conjugate of row[(n - c) mod n]. `stream` sends the
// mirror past the caches, for grids too large to still be cached when read.
void mirror_row(const complex4* row, complex4* mirror, int n, bool stream);
// The symmetric part of gathered columns of an n x n spectrum: buffer line b
// becomes (line + conj of column n - c - b read from row n - i down) / 2,
// columns taken mod n.
void add_mirrored_columns(const complex4* grid, int w, int n, int c, int count, complex4* buffer);

#endif
