#ifndef IMGIO_DRIVER_SUPPORT_H
#define IMGIO_DRIVER_SUPPORT_H

// What the file drivers share.

#include <cstdint>
#include <cstdio>

#include "imgio.h"

// 1 when a file's picture of width x height may be read: imgsizeok, and
// both sides small enough for int fields and for 16-bit lines of one block.
int imgio_dimensions_ok(int64_t width, int64_t height);

// The bytes of the file from the stream's position on, 0 when they cannot
// be known: what a header's claims are held against before anything of
// their size is allocated.
uint64_t imgio_bytes_left(FILE* file);

#endif
