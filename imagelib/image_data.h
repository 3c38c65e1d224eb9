#ifndef IMAGE_DATA_H
#define IMAGE_DATA_H

#include <cstdint>

#include "q4_mp_hooks.h"

// Sample types of image_data::pixel_type.
enum {
  IMAGE_PIXEL_BYTE = 0,    // unsigned 8-bit, full scale 255
  IMAGE_PIXEL_WORD = 1,    // unsigned 16-bit, full scale 65535
  IMAGE_PIXEL_WORD32 = 2,  // unsigned 32-bit, full scale 4294967295
  IMAGE_PIXEL_FLOAT = 3    // 32-bit float, full scale 1.0
};

// The library's image: one contiguous, unpadded block of interleaved samples,
// row 0 at the bottom, channel 3 (when present) alpha.
struct image_data {
  uint16_t width;
  uint16_t height;
  uint16_t channels;
  uint16_t pixel_type;
  uint16_t reserved;
  uint16_t owns_pixels;
  double range_min;
  double range_max;
  uint32_t range_valid;
  double display_aspect;
  uint32_t row_bytes;
  uint16_t pixel_bytes;
  uint16_t sample_bytes;
  void* pixels;
};

// Bytes per sample of a type, 0 for an invalid type.
int image_sample_bytes(int pixel_type);
// Full-scale value of a type (255, 65535, 4294967295, 1.0); 0 for an invalid type.
double image_full_scale(int pixel_type);

inline unsigned char* image_row(const image_data* img, int y) {
  return static_cast<unsigned char*>(img->pixels) + static_cast<int64_t>(y) * img->row_bytes;
}

image_data* image_data_create(int width, int height, int channels, int pixel_type, int allocate);
image_data* image_data_create(image_data* header);
int image_data_delete(image_data* img);
int image_display_aspect(image_data* img, double aspect);

// True when both records exist, hold pixels and agree in size, channels and type.
bool image_data_same_layout(const image_data* a, const image_data* b);

image_data* image_data_copy(image_data* src);
int image_data_copy(image_data* src, image_data* dst);
int image_data_copy_channels(image_data* src, image_data* dst, unsigned mask);
int image_data_copy_channels_and_permute(image_data* src, image_data* dst, int* list, int n);
int image_data_copy_set_mp_thresh(int bytes);
int image_data_fill_set_mp_thresh(int bytes);

void image_data_zero(image_data* img);
void image_data_fill(image_data* img, double value);
void image_data_fill_norm(image_data* img, double fraction);
void image_data_channel_fill(image_data* img, double value, int channel);
void image_data_channel_fill_norm(image_data* img, double fraction, int channel);
void image_data_channel_fill_vector(image_data* img, double* values, int n);
void image_data_channel_fill_vector_norm(image_data* img, double* values, int n);

// Library-wide executor: a null exec runs row workers on the caller's thread.
void imagelib_set_mp_exec(void* context, mp_exec_fn exec);
// Stores the library's maximum thread count (16 at start; n < 1 keeps it) and
// returns it. Row workers keep their working storage per band, so no band
// split of the executor, however many bands, is limited by it.
int imagelib_set_max_threads(int n);

// Runs worker over rows 0..count-1 through the installed executor, or once
// over the whole range when none is installed.
void imagelib_dispatch(mp_worker_fn worker, int count, void* block);

#endif
