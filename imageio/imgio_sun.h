#ifndef IMGIO_SUN_H
#define IMGIO_SUN_H

// Sun raster files: uncompressed 24-bit and 8-bit colour-mapped rasters are
// read, uncompressed 24-bit rasters written, lines unpadded.

#include "imgio.h"

extern const imgio_driver sun_driver;

#endif
