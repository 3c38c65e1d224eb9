#ifndef MEDIAN_CUT_H
#define MEDIAN_CUT_H

// Median-cut colour quantisation on 15-bit colours (each channel's top 5
// bits): boxes of colour cells are split until there are max_colors of them
// or none can be split, each box's colour is the mean of its cells weighted
// by the square of their pixel counts, and each pixel takes the index of
// its box (with dithering: of the box nearest its colour plus the error
// diffused so far, Floyd-Steinberg, the first row offset by rand()).

#include <cstdint>

// pixels: width x height words R | G << 8 | B << 16 (alpha ignored). The
// palette arrays receive 256 entries, those beyond the boxes 0. The result
// is width x height palette indices (base + box), clamped to 0..255, from
// the image heap (q4_image_free_c), or null with a message.
uint8_t* med_cut_gen(const unsigned int* pixels, int width, int height, int dither, uint16_t* red,
                     uint16_t* green, uint16_t* blue, int max_colors, int base);

#endif
