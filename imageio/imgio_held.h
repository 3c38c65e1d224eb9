#ifndef IMGIO_HELD_H
#define IMGIO_HELD_H

// Drivers whose files are read and written whole: between open (create)
// and close the picture is held as a buffer of 32-bit pixels, and lines
// move in and out of its rows. 16-bit lines widen each byte v to v << 8 and
// narrow by the high byte.

#include "imgio.h"

typedef unsigned int* (*imgio_whole_reader)(const char* path, int* width, int* height);
// True when the whole picture went out.
typedef bool (*imgio_whole_writer)(const char* path, const unsigned int* pixels, int width, int height);

int imgio_held_open(imginfo* h, imgio_whole_reader read);
int imgio_held_create(imginfo* h);
int imgio_held_readl(imginfo* h);
int imgio_held_readl16(imginfo* h);
int imgio_held_writel(imginfo* h);
int imgio_held_writel16(imginfo* h);
// Writes the picture in write mode; the buffer goes whether or not the
// write succeeded, as the handle does.
int imgio_held_close(imginfo* h, imgio_whole_writer write);

#endif
