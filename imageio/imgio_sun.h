#ifndef IMGIO_SUN_H
#define IMGIO_SUN_H

// Sun raster files: 1-bit, 8-bit colour-mapped, 24-bit and 32-bit rasters
// are read, plain or coded as runs, lines padded or not; uncompressed 24-bit
// rasters are written, lines unpadded.

#include "imgio.h"

extern const imgio_driver sun_driver;

#endif
