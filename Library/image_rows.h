#ifndef IMAGE_ROWS_H
#define IMAGE_ROWS_H

#include <initializer_list>

#include "ImageQ4.h"

// Visits rows first..last of dst that every given image has, passing the row
// index and the column count they all share, so that a band worker never
// reads or writes past any of them.
template <typename Fn>
void for_common_rows(ImageQ4& dst, long first, long last, const ImageQ4* a, const ImageQ4* b,
                     Fn fn) {
  long rows = dst.height;
  int cols = dst.width;
  for (const ImageQ4* other : {a, b}) {
    if (!other) continue;
    if (other->height < rows) rows = other->height;
    if (other->width < cols) cols = other->width;
  }
  if (first < 0) first = 0;
  if (last > rows - 1) last = rows - 1;
  for (long y = first; y <= last; ++y) fn(y, cols);
}

// fn(source pixel, pixel) along the rows first..last of dst that dst and its
// source op_src share.
template <typename Fn>
void for_source_pixels(ImageQ4& dst, long first, long last, Fn fn) {
  for_common_rows(dst, first, last, dst.op_src, nullptr, [&](long y, int cols) {
    const PixelQ4* in = dst.op_src->rows[y];
    PixelQ4* out = dst.rows[y];
    for (int x = 0; x < cols; ++x) fn(in[x], out[x]);
  });
}

inline unsigned short clamp15(long value) {
  return static_cast<unsigned short>(value < 0 ? 0 : (value > 32767 ? 32767 : value));
}

// The channel 0 R, 1 G, 2 B, 3 A of a pixel; null for any other number.
inline unsigned short PixelQ4::*channel_member(int channel) {
  switch (channel) {
    case 0: return &PixelQ4::r;
    case 1: return &PixelQ4::g;
    case 2: return &PixelQ4::b;
    case 3: return &PixelQ4::a;
    default: return nullptr;
  }
}

#endif
