#ifndef IMGIO_PIXEL_H
#define IMGIO_PIXEL_H

// One RGBA pixel into either line width: an 8-bit line's word R | G << 8 |
// B << 16 | A << 24, or a 16-bit line's four samples. Values are already of
// the line's width.

#include <cstddef>
#include <cstdint>
#include <cstring>

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

// Opaque RGB pixels into lines, the common case of reading: eight 8-bit or
// four 16-bit pixels a step on processors with AVX2; the same values either
// way.
void imgio_rgb_to_line(const uint8_t* rgb, unsigned int* line, int width);
void imgio_rgb_to_line(const uint16_t* rgb, unsigned short* line, int width);

// Lines into packed RGB samples, the common case of writing: each pixel's
// four samples are stored whole, the next pixel's red then taking the place
// of its alpha; the last pixel stores three. S is a byte (an 8-bit line
// seen as bytes); 16-bit samples take the overload below.
template <typename S>
inline void imgio_rgba_to_rgb(const S* rgba, S* rgb, int width) {
  for (size_t x = 0; x + 1 < static_cast<size_t>(width); ++x) memcpy(rgb + 3 * x, rgba + 4 * x, 4 * sizeof(S));
  if (width > 0) {
    const size_t last = static_cast<size_t>(width) - 1;
    memcpy(rgb + 3 * last, rgba + 4 * last, 3 * sizeof(S));
  }
}

// Sixteen-bit samples, four pixels a step on processors with AVX2; the same
// values either way.
void imgio_rgba_to_rgb(const uint16_t* rgba, uint16_t* rgb, int width);

#endif
