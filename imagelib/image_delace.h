#ifndef IMAGE_DELACE_H
#define IMAGE_DELACE_H

#include "image_data.h"

// dst = src with the rows of one parity rebuilt as the mean of their
// neighbours (an edge row averages itself with its one neighbour). The rows
// rebuilt have parity (field == 1) ^ flip1 ^ flip2; the other parity is the
// kept field. False, nothing written, for null images or a different layout.
bool image_delace(image_data* src, image_data* dst, int field, bool flip1, bool flip2);

// Interleaves the kept rows of two delaced images (fields 0 and 1, delaced
// with the same flags) into dst, which then holds the original frame.
bool image_relace(image_data* field0, image_data* field1, image_data* dst, bool flip1, bool flip2);

#endif
