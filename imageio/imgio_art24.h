#ifndef IMGIO_ART24_H
#define IMGIO_ART24_H

// The "art24" driver: a fixed header with two colour tables, then lines of
// three 8-bit planes (green, red, blue), plain or as value-count pairs.

#include <cstddef>

#include "imgio.h"

extern const imgio_driver art24_driver;

int Art24Openf(imginfo* handle);
int Art24Createf(imginfo* handle);
int Art24Readl(imginfo* handle);
int Art24Writel(imginfo* handle);
int Art24Readl16(imginfo* handle);
int Art24Writel16(imginfo* handle);
int Art24Closef(imginfo* handle);
int Art24Readb(imginfo* handle);
int Art24Writeb(imginfo* handle);
int Art24Readb16(imginfo* handle);
int Art24Writeb16(imginfo* handle);
int Art24MakeSeek(imginfo* handle);
int Art24SeekTo(imginfo* handle);

// Decodes one coded plane of width values from value-count pairs of
// in[*used..size); a count past the width is cut to it. 0 for a count of 0
// or input that ends first, else 1; *used advances over the pairs taken.
int art24_decode_plane(const unsigned char* in, size_t size, size_t* used, unsigned char* plane, int width);

#endif
