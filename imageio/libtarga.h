#ifndef LIBTARGA_H
#define LIBTARGA_H

// A small Targa (TGA) file library. Images in memory are width x height
// pixels of 3 (R, G, B) or 4 (R, G, B, A) bytes, the bottom row first
// whatever the file's origin, on the image heap (q4_image_free_c).
// Failures leave a code in TargaError, which every call resets first.

#include <cstdint>

enum { TGA_TRUECOLOR_24 = 3, TGA_TRUECOLOR_32 = 4 };

enum {
  TGA_NO_ERROR = 0,
  TGA_BAD_HEADER = 1,
  TGA_CANNOT_OPEN = 2,
  TGA_BAD_FORMAT = 3,
  TGA_EOF = 4,
  TGA_NO_DATA = 5,
  TGA_GREY_WITH_MAP = 6,
  TGA_BAD_MAP_ENTRY_SIZE = 7,
  TGA_BAD_MAP = 8,
  TGA_READ_ERROR = 9,
  TGA_UNKNOWN_TYPE = 10,
  TGA_ZERO_SIZE = 11,
};

extern int TargaError;

// The image of the file in format (3 or 4 bytes a pixel) and its size, or
// null: with a code, or with code 0 when memory ran out.
unsigned char* tga_load(const char* path, int* width, int* height, unsigned format);
// Uncompressed (type 2) and run-length coded (type 10) files of an image in
// format 3 or 4; 1, or 0 with code 2 (the file could not be made or
// written) or 3 (format).
int tga_write_raw(const char* path, int width, int height, const unsigned char* image, unsigned format);
int tga_write_rle(const char* path, int width, int height, const unsigned char* image, unsigned format);
// A zeroed image, or null (code 3 for a format other than 3 or 4).
unsigned char* tga_create(int width, int height, unsigned format);
const char* tga_error_string(int code);
int tga_get_last_error();
// Stores file pixel n of an image whose file origin is descriptor bits 4-5
// (0 lower left, 1 lower right, 2 upper left, 3 upper right): byte j of the
// memory pixel is (value >> 8j) & 255.
void tga_write_pixel_to_mem(unsigned char* image, unsigned descriptor, uint64_t n, unsigned width,
                            unsigned height, uint32_t value, unsigned bytes_per_pixel);

#endif
