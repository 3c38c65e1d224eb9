#ifndef IMGIO_PIXEL_H
#define IMGIO_PIXEL_H

// One RGBA pixel into either line width: an 8-bit line's word R | G << 8 |
// B << 16 | A << 24, or a 16-bit line's four samples. Values are already of
// the line's width.

#include <cstddef>

inline void imgio_put_pixel(unsigned int* line, int x, unsigned r, unsigned g, unsigned b, unsigned a) {
  line[x] = r | g << 8 | b << 16 | a << 24;
}

inline void imgio_put_pixel(unsigned short* line, int x, unsigned r, unsigned g, unsigned b, unsigned a) {
  unsigned short* p = line + 4 * static_cast<size_t>(x);
  p[0] = static_cast<unsigned short>(r);
  p[1] = static_cast<unsigned short>(g);
  p[2] = static_cast<unsigned short>(b);
  p[3] = static_cast<unsigned short>(a);
}

#endif
