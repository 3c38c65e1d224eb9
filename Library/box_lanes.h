#ifndef BOX_LANES_H
#define BOX_LANES_H

// The four-channel lines of the box-pass blurs in and out of lanes side by
// side: rows through the pixel-at-a-time kernels of box_pass.h, columns
// (runs of each row) through the shared gathers.

#include "box_pass.h"
#include "line_filter.h"

template <bool Columns>
void gather_rgba_lanes(const ImageQ4& src, long line0, int lines, int n, int L, int* to) {
  if (Columns) {
    gather_lanes<true>(src, line0, lines, n, L, RgbaChannels{}, to);
    return;
  }
  const unsigned short* rows[kMaxGroup];
  for (int q = 0; q < lines; ++q) rows[q] = samples_of(src.rows[line0 + q]);
  box_lanes_from_rows(rows, lines, n, L, to);
}

template <bool Columns>
void scatter_rgba_lanes(ImageQ4& dst, long line0, int lines, int n, int L, const int* from) {
  if (Columns) {
    scatter_lanes<true>(dst, line0, lines, n, L, RgbaChannels{}, from,
                        [](int v) { return static_cast<unsigned short>(v); });
    return;
  }
  unsigned short* rows[kMaxGroup];
  for (int q = 0; q < lines; ++q) rows[q] = samples_of(dst.rows[line0 + q]);
  box_lanes_to_rows(from, lines, n, L, rows);
}

#endif
