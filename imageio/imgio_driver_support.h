#ifndef IMGIO_DRIVER_SUPPORT_H
#define IMGIO_DRIVER_SUPPORT_H

// What the file drivers share.

#include <cstdint>

#include "imgio.h"

// 1 when a file's picture of width x height may be read: imgsizeok, and
// both sides small enough for int fields and for 16-bit lines of one block.
int imgio_dimensions_ok(int64_t width, int64_t height);

#endif
