#ifndef IMAGE_LINE_TAPS_H
#define IMAGE_LINE_TAPS_H

#include "fluid_flow.h"

// Position of pixel k of a line of n pixels across 0..1. A line of one
// pixel sits at 0: k / (n - 1) would be 0 / 0, a NaN that no later clamp
// could make a position again.
inline float image_unit(int k, int n) {
  return n > 1 ? static_cast<float>(k) / static_cast<float>(n - 1) : 0.0f;
}

// Fills lines for the w columns of an image and then its h rows, each with
// the bilinear taps that taps(unit, cells) gives on a grid of nx cells
// across and ny down. False when the block cannot be had.
template <typename Taps>
bool image_lines_make(ImageLines& lines, int w, int h, int nx, int ny, Taps taps) {
  if (!image_lines_alloc(lines, w, h)) return false;
  for (int k = 0; k < w + h; ++k) {
    const bool column = k < w;
    const float unit = column ? image_unit(k, w) : image_unit(k - w, h);
    const AxisTaps t = taps(unit, column ? nx : ny);
    lines.unit[k] = unit;
    lines.a[k] = t.a;
    lines.b[k] = t.b;
    lines.f[k] = t.f;
  }
  return true;
}

#endif
