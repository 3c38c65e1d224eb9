#ifndef IMGIO_PIXAR_H
#define IMGIO_PIXAR_H

// The "pixar" driver: tiled, block-structured picture files; this system
// writes single-tile, four-channel, 8-bit run-length files and reads 8-bit
// files of any tiling and channel set.

#include <cstdint>

#include "imgio.h"

extern const imgio_driver pixar_driver;

int PixarOpenf(imginfo* handle);
int PixarCreatef(imginfo* handle);
int PixarReadl(imginfo* handle);
int PixarWritel(imginfo* handle);
int PixarReadl16(imginfo* handle);
int PixarWritel16(imginfo* handle);
int PixarClosef(imginfo* handle);
int PixarReadb(imginfo* handle);
int PixarWriteb(imginfo* handle);
int PixarReadb16(imginfo* handle);
int PixarWriteb16(imginfo* handle);
int PixarSheader(imginfo* handle);
int PixarMakeSeek(imginfo* handle);
int PixarSeekTo(imginfo* handle);

// Channel mask bits of the header.
enum { PIXAR_RED = 8, PIXAR_GREEN = 4, PIXAR_BLUE = 2, PIXAR_ALPHA = 1 };
enum { PIXAR_LINE_DONE = 0, PIXAR_BLOCK_USED = 1, PIXAR_BAD = 2 };

// Decodes the run-length packets of block[*pos..size) into the pixels
// out[*done..count) of one tile's part of a line (R | G<<8 | B<<16 | A<<24;
// absent colours 0, absent alpha 255). Returns PIXAR_LINE_DONE when count
// pixels are there, PIXAR_BLOCK_USED when the block holds no further packet
// (the next block comes next) and PIXAR_BAD for a packet that runs past the
// block or the line. *pos and *done advance over what was taken.
int pixar_decode_packets(const unsigned char* block, int size, int* pos, int mask, uint32_t* out,
                         int count, int* done);

#endif
