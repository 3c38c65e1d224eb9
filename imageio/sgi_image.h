#ifndef SGI_IMAGE_H
#define SGI_IMAGE_H

// The SGI image library: SGI image files of 1-byte or 2-byte values,
// verbatim or run-length coded, one to many channels of ysize rows of xsize
// values. Files are written big-endian (magic bytes 01 DA), the format's own
// order; both orders are read. Rows pass as xsize 16-bit values whatever the
// file holds. Failures return -1 (null from the open functions) and leave
// their text in g_errbuf; nothing is printed.

#include <cstddef>
#include <cstdint>

enum { SGI_MAGIC = 474, SGI_HEADER_BYTES = 512 };
// Type: storage in the high byte, bytes per value in the low byte.
enum { SGI_VERBATIM = 0x0000, SGI_RLE = 0x0100 };
enum { SGI_READ = 1, SGI_WRITE = 2, SGI_FLUSH_FAILED = 32 };

struct SgiImage {
  // The header's fields, host order.
  uint16_t imagic;
  uint16_t type;
  uint16_t dim;
  uint16_t xsize;
  uint16_t ysize;
  uint16_t zsize;
  uint32_t min;
  uint32_t max;
  uint32_t wastebytes;  // coded rows that a later write of the row superseded
  char name[80];        // not necessarily terminated
  uint32_t colormap;

  int file;     // descriptor
  int flags;    // SGI_READ or SGI_WRITE, SGI_FLUSH_FAILED after a short flush
  int reverse;  // the file's byte order is not the host's
  uint16_t x, y, z;
  // Writes are gathered here (writing only) and go to the file at
  // out_offset in one piece.
  uint8_t* out;
  size_t out_count;
  int64_t out_offset;
  uint8_t* tmpbuf;  // one coded row: sgi_row_units(xsize) units of 2 bytes
  int64_t offset;   // where the next read or write goes; -1 after a short one
  uint32_t rleend;  // the next free file offset for a coded row
  uint32_t* rowstart;  // run-length files: ysize * zsize entries each
  uint32_t* rowsize;
};

// Units of a coded row of n values: more than the coder's worst case (a
// header unit for every 126 values, two one-value runs at the row's end, the
// end mark) and than the longest row that decodes to n values (packets of
// one value and the end mark).
constexpr size_t sgi_row_units(size_t n) { return 2 * n + 2; }

extern char g_errbuf[4096];

SgiImage* iopen(const char* path, const char* mode, unsigned type, unsigned dim, unsigned xsize,
                unsigned ysize, unsigned zsize);
SgiImage* fiopen(int file, const char* mode, unsigned type, unsigned dim, unsigned xsize, unsigned ysize,
                 unsigned zsize);
SgiImage* imgopen(int file, const char* path, const char* mode, unsigned type, unsigned dim, unsigned xsize,
                  unsigned ysize, unsigned zsize);
// Row y of channel z into (from) buffer; xsize, or -1.
int getrow(SgiImage* image, uint16_t* buffer, unsigned y, unsigned z);
int putrow(SgiImage* image, const uint16_t* buffer, unsigned y, unsigned z);
// Writes the gathered output; 0, or -1 (flag SGI_FLUSH_FAILED) when short.
int iflush(SgiImage* image);
// Finishes the file (a written file's header and tables) and closes it;
// 0, or -1. The record itself stays the caller's to release (q4_free_c).
int iclose(SgiImage* image);
void isetname(SgiImage* image, const char* name);
void isetcolormap(SgiImage* image, uint32_t colormap);

int64_t img_seek(SgiImage* image, unsigned y, unsigned z);
int64_t img_optseek(SgiImage* image, int64_t offset);
int64_t img_read(SgiImage* image, void* buffer, size_t count);
int64_t img_write(SgiImage* image, const void* buffer, size_t count);
uint32_t img_getrowsize(const SgiImage* image);
void img_setrowsize(SgiImage* image, uint32_t count, unsigned y, unsigned z);
int img_badrow(const SgiImage* image, unsigned y, unsigned z);

// Codes count values of in_unit bytes into packets of out_unit-byte units
// (units 1 and 2); the units written, the end mark included, or -1.
long img_rle_compact(const void* in, int in_unit, void* out, int out_unit, size_t count);
// Expands packets of in_count units into at most out_count values; the
// values written, or -1 for packets passing out_count or the input.
long img_rle_expand(const void* in, int in_unit, size_t in_count, void* out, int out_unit,
                    size_t out_count);
int ibufalloc(SgiImage* image);
void cvtshorts(void* buffer, size_t bytes);
void cvtlongs(void* buffer, size_t bytes);
void cvtimage(SgiImage* image);
uint32_t reverse(uint32_t value);

#endif
