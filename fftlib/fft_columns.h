#ifndef FFT_COLUMNS_H
#define FFT_COLUMNS_H

#include <cstddef>

#include "fft_pow2.h"

// Moves `count` columns, from column c on, of a grid of h rows with rows of
// w samples to and from a buffer that holds each column as one line of h
// samples: buffer[b * h + i] is grid[i * w + c + b].
// C is complex4 or complex8.
template <typename C>
void gather_columns(const C* grid, int w, int h, int c, int count, C* buffer);
template <typename C>
void scatter_columns(C* grid, int w, int h, int c, int count, const C* buffer);

// The mirror image of an n x n spectrum of real data: the conjugate of
// buffer line b, sample i, goes to row (n - i) mod n, column n - c - b.
// None of the columns may be 0 or n/2 (their own mirrors).
void scatter_mirrored_columns(complex4* grid, int w, int n, int c, int count, const complex4* buffer);
// The symmetric part of gathered columns of an n x n spectrum: buffer line b
// becomes (line + conj of column n - c - b read from row n - i down) / 2,
// columns taken mod n.
void add_mirrored_columns(const complex4* grid, int w, int n, int c, int count, complex4* buffer);

#endif
