#ifndef IMGIO_UTILS_H
#define IMGIO_UTILS_H

// Around the handles: format guessing, file names with frame numbers and
// extensions, header printing, statistics and summaries of an open image,
// and reshaping and resizing of 8-bit whole-image buffers.

#include "imgio.h"

// The "extension" of a name is the text after the last '.' of its last
// component, when that '.' is not the name's first character, something
// follows it and not all of that is decimal digits (shot.0012 has none).

// format receives the guessed name (at least 10 characters), ext the name's
// extension with its dot or "" (room for it is the caller's), swapped 1 when
// the magic was read in the other byte order. 1 when the file cannot be
// opened or is shorter than 16 bytes, else 0.
int imgguessformat(const char* path, char* format, char* ext, int* swapped);
// out = name without its extension, then "." and ext when ext is not empty;
// out holds strlen(name) + strlen(ext) + 2 characters.
void extreplace(char* out, const char* name, const char* ext);

// Results in static buffers of IMGIO_NAME_SIZE characters, overwritten by
// the next call; null when the result would not fit.
enum { IMGIO_NAME_SIZE = 1024 };
// The name with the extension of the named format ("?": the current one);
// null for an unknown format.
char* getformatextension(const char* name, const char* format);
char* stripimgname(const char* path, int strip_frame);

const char* stripimgdir(const char* path);
// Heap copies (q4_free_c). A negative frame gives a copy of the name.
char* addframenumber(const char* name, int frame);
char* addframenumberdir(const char* dir, const char* name, int frame);

struct imgstats {
  int32_t r_min, r_max, g_min, g_max, b_min, b_max, a_min, a_max;
  uint32_t count;
  double r_mean, g_mean, b_mean, a_mean;
};

int showheader(imginfo* handle);
// A q4_malloc_c record over every line, or null; the handle is back at line 0.
imgstats* statsimg(imginfo* handle);
// A createbuffer block of width x height point samples, or null.
unsigned int* readsummaryimg(imginfo* handle, int width, int height);

// Centres one pixel buffer in another (the rest zero); 1 for bad arguments.
int reshapeimage(const unsigned int* src, int src_width, int src_height, unsigned int* dst,
                 int dst_width, int dst_height);
// One byte channel of one row or column; strides in bytes. The library's
// filter picks point sampling (0) or area averaging.
void resample(const unsigned char* src, unsigned char* dst, int n_in, int n_out, int src_stride,
              int dst_stride);
int resizeimage(const unsigned int* src, int src_width, int src_height, unsigned int* dst,
                int dst_width, int dst_height, int filter);
void valswap(unsigned int* values, int count);
void vasswap(unsigned short* values, int count);

#endif
