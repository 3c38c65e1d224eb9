#ifndef IMAGELIB_FILEIO_H
#define IMAGELIB_FILEIO_H

// Whole image_data images to and from files whose format follows the file
// name's extension (compared without regard to case): ".tq4" is the
// library's own TIFF variant (imagelib_tif.h), every other format of the
// table goes through the image-file library's driver of that name, in 8-bit
// or 16-bit RGBA lines. Beyond the table, an extension that names a format
// of the image-file library whose files have no extension of their own
// (".cin") reaches that format, always in 16-bit lines. One call at a time:
// the image-file library is global.

#include "image_data.h"

enum { IMAGE_IO_NAME_SIZE = 4096 };  // the name buffers of the sequence calls

int image_io_number_of_formats();
// Extension with its dot; an index outside the table gives entry 0's.
const char* image_io_get_format_extension(int index);
// Whether the path's extension selects a format, in the table or beyond it.
bool image_io_format_known(const char* path);

// The outputs are zeroed, then filled from the file's header (an image-file
// library format reports 4 channels, type word for 16-bit and byte for 8-bit
// files); 1 on success.
int image_read_file_info(const char* path, int& width, int& height, int& channels, int& type);
// Into an existing image of the file's size (for ".tq4" also its channels and
// type); 1 on success.
int image_read_file(const char* path, image_data* image);
// A new image, or null.
image_data* image_read_file(const char* path);

// What a read found in the file, from the open that read the picture. bits:
// of a sample as the file holds it; 16 or 8 as the driver's lines are, but
// a Cineon file's own (its 16-bit lines hold each value shifted to their
// top) and the own TIFF variant's 8, 16 or 32. Drivers hand CMYK over in
// the places of R, G, B and A; a grey file whose driver does not tell it
// apart counts as RGB.
enum image_file_colours { IMAGE_FILE_GREY, IMAGE_FILE_RGB, IMAGE_FILE_CMYK };
struct image_file_found {
  int bits;
  image_file_colours colours;
  bool inverted;  // CMYK as Adobe's JPEG files hold it: full scale where there is no ink
};
// A new image, or null, and what the file held.
image_data* image_read_file_described(const char* path, image_file_found& found);
// True when every byte is written and the file closed without error.
// compress selects LZW for ".tif" and run-length coding for ".tga".
bool image_write_file(const char* path, image_data* image, bool compress);
bool write_float_image_as_byte(const char* path, image_data* image);

// Frame `frame` of the numbered sequence that path names: the frame number
// takes the digits of path's own number ("take_0042.tq4", 12:
// "take_0012.tq4"); a negative frame uses path as it is. name_out, when not
// null, receives the name used (IMAGE_IO_NAME_SIZE characters).
image_data* read_image_sequence_file(const char* path, int frame, char* name_out);
bool write_image_sequence_file(image_data* image, const char* path, int frame, char* name_out);

#endif
