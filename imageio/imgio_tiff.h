#ifndef IMGIO_TIFF_H
#define IMGIO_TIFF_H

// The driver of the "tiff" entry, on libtiff. It reads grey files of 1 to
// 16 bits, palettes of 1 to 8 bits, RGB and RGBA of 8 and 16 bits (samples
// contiguous or in separate planes), JPEG-compressed YCbCr as RGB and CMYK
// of 8 and 16 bits, stored in strips; it writes RGB, RGBA or CMYK of 8 or
// 16 bits, uncompressed or LZW, as the "IMGIO_TIFF_*" settings choose.
// Operations return 1 for success and 0 for failure.

#include "imgio.h"

extern const imgio_driver tiff_driver;

int TiffOpenf(imginfo* handle);
int TiffCreatef(imginfo* handle);
int TiffReadl(imginfo* handle);
int TiffWritel(imginfo* handle);
int TiffReadl16(imginfo* handle);
int TiffWritel16(imginfo* handle);
int TiffClosef(imginfo* handle);
int TiffReadb(imginfo* handle);
int TiffWriteb(imginfo* handle);
int TiffReadb16(imginfo* handle);
int TiffWriteb16(imginfo* handle);
int TiffSheader(imginfo* handle);
int TiffMakeSeek(imginfo* handle);
int TiffSeekTo(imginfo* handle);

// 2 when the open file is CMYK, 1 for any other photometric, 0 when the
// handle has no record of this driver.
int TiffGetCsp(imginfo* handle);

#endif
