#ifndef IMAGELIB_TIF_H
#define IMAGELIB_TIF_H

// The library's own uncompressed TIFF files (".tq4"): image_data of every
// pixel type and channel count, stored as one strip exactly as the pixels
// lie in memory (rows bottom-up, Orientation 4, samples little-endian), with
// a private tag holding the pixel type. The reader also takes other
// single-image, uncompressed, contiguous TIFF files in either byte order with
// 8, 16 or 32 bits per sample.
//
// Calling order: header, then data, then image_tiff_free_info; the caller
// opens the file ("rb" to read, "wb+" to write) and closes it. Results are 1
// for success and 0 for failure; refusals of a file say why through the
// image-file message channel.

#include <cstdint>
#include <cstdio>

#include "image_data.h"

enum {
  TIFF_TAG_PIXEL_TYPE = 44411,  // private: the image_data pixel type
  TIFF_MAX_SAMPLES = 1024       // samples per pixel the reader and writer take
};

// One directory entry as read: value holds the value itself when count
// values fit in 4 bytes, else the file offset of the values.
struct TiffField {
  uint16_t tag;
  uint16_t type;
  uint32_t count;
  uint32_t value;
  unsigned char raw[4];  // the value bytes in file order
};

struct TiffInfo {
  FILE* file;
  uint16_t byte_order;  // 0x4949 "II" or 0x4D4D "MM"
  uint16_t magic;
  uint32_t directory;
  uint16_t entry_count;
  TiffField* entries;
  uint32_t width;
  uint32_t height;
  uint32_t samples;
  uint32_t bits;
  uint32_t strip_offset;  // the one strip's, when there is one
  uint32_t strip_bytes;
  uint32_t rows_per_strip;
  uint32_t* strip_offsets;  // with two or more strips
  uint32_t* strip_byte_counts;
  uint32_t strip_count;
  uint32_t orientation;
  int pixel_type;
  int64_t file_size;
};

int image_tiff_write_header(FILE* file, int width, int height, int channels, int type, void** info);
// Writes all pixel bytes at the header's data offset; the image must have
// the header's size, channels and type.
int image_tiff_write_data(image_data* image, void** info);
int image_tiff_read_header(FILE* file, int& width, int& height, int& channels, int& type, void** info);
int image_tiff_read_data(image_data* image, void** info);
void image_tiff_free_info(void** info);
// Reads the count values of a BYTE, SHORT or LONG tag from the offset in its
// entry; 0 when the tag is missing, holds more than max values, has another
// type or lies outside the file.
int get_tag_array(TiffInfo* info, int tag, unsigned int* out, int max);

#endif
