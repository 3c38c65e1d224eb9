#ifndef IMGIO_JPEG_H
#define IMGIO_JPEG_H

// The driver of the "jpeg" entry, on libjpeg (API 62, stdio source and
// destination). The whole picture lives in memory: an open reads the
// file's header alone (refusing a file too short to code the frame it
// declares), the first line read decodes the file completely, failing when
// its data ends early, and a file being written is compressed at close
// with the library's default settings. Operations return 1 for success and
// 0 for failure.

#include "imgio.h"

extern const imgio_driver jpeg_driver;

int JpegOpenf(imginfo* handle);
int JpegCreatef(imginfo* handle);
int JpegReadl(imginfo* handle);
int JpegWritel(imginfo* handle);
int JpegReadl16(imginfo* handle);
int JpegWritel16(imginfo* handle);
int JpegClosef(imginfo* handle);
int JpegReadb(imginfo* handle);
int JpegWriteb(imginfo* handle);
int JpegReadb16(imginfo* handle);
int JpegWriteb16(imginfo* handle);
int JpegMakeSeek(imginfo* handle);
int JpegSeekTo(imginfo* handle);

// 2 when the open file holds CMYK, as Adobe's files do: inverted, each
// component full scale where there is no ink; 1 for any other colour
// space, 0 when the handle has no record of this driver.
int JpegGetCsp(imginfo* handle);

// libjpeg's warnings about a file (data it skipped or mended), which it
// would print on its own, reach the message channel instead, one line each
// beginning with this text, so that a caller may name the file with them.
extern const char jpeg_warning_prefix[];

#endif
