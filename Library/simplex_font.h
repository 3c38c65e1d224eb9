#ifndef SIMPLEX_FONT_H
#define SIMPLEX_FONT_H

// Stroke font for the overlay text, characters 32 to 126. Each glyph: vertex
// count, advance width, then up to 55 (x, y) pairs, y up with the baseline at
// 0; the pair (-1, -1) lifts the pen.
extern const int simplex[95][112];

#endif
