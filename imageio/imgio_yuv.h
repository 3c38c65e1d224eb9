#ifndef IMGIO_YUV_H
#define IMGIO_YUV_H

// The "yuv" driver: headerless 4:2:2 frame files (Cb, Y, Cr, Y for each
// pair of pixels, 8-bit studio range, top line first) whose size comes
// from the settings. The whole image is held in memory: the file is
// converted at open and written at close.

#include "imgio.h"

extern const imgio_driver yuv_driver;

int YuvOpenf(imginfo* handle);
int YuvCreatef(imginfo* handle);
int YuvReadl(imginfo* handle);
int YuvWritel(imginfo* handle);
int YuvReadl16(imginfo* handle);
int YuvWritel16(imginfo* handle);
int YuvClosef(imginfo* handle);
int YuvReadb(imginfo* handle);
int YuvWriteb(imginfo* handle);
int YuvReadb16(imginfo* handle);
int YuvWriteb16(imginfo* handle);
int YuvMakeSeek(imginfo* handle);
int YuvSeekTo(imginfo* handle);

// The picture size of the files, from the settings "IMGIO_YUV_LINESIZE"
// (default 720, even, 2..720) and "IMGIO_YUV_LINES" (default 576, 1..576).
// Both outputs receive the values read; the result is 1 when they lie
// within those limits, else 0.
int getyuvsize(int* line_size, int* lines);
// The file converted into a new whole-image buffer (createbuffer, rows from
// the bottom), or null; *width and *height receive its size.
unsigned int* readyuvimage(const char* path, int* width, int* height);
// Writes a whole-image buffer, resized to the configured size first when it
// differs ("IMGIO_YUV_FILTER" "yes" low-passes before sampling): 0 on
// success, 1 on failure.
int writeyuvimage(const unsigned int* buffer, int width, int height, const char* path);

#endif
