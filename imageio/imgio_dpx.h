#ifndef IMGIO_DPX_H
#define IMGIO_DPX_H

// Cineon files (the "cin" entry): cells of 8, 16 or 32 bits holding fields
// of 1 to 16 bits, pixel or line interleave, one to eight channels, any of
// the eight orientations, are read line by line; written files are three
// 10-bit channels in one 32-bit cell a pixel, top line first.

#include "imgio.h"

extern const imgio_driver dpx_driver;

// Bits of a value as the open file holds them, 1 to 16; its 16-bit lines
// hold each value shifted to their top. 0 when the handle has no record of
// this driver.
int DpxGetBits(imginfo* handle);

#endif
