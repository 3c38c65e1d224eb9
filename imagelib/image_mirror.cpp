#include "image_mirror.h"

#include <algorithm>
#include <cstdint>

namespace {

bool flippable(const image_data* img) { return img && img->pixels && image_sample_bytes(img->pixel_type) != 0; }

image_data* flipped_copy(image_data* img, void (*flip)(image_data*)) {
  image_data* copy = image_data_copy(img);
  if (copy) flip(copy);
  return copy;
}

}  // namespace

void image_mirror_in_y(image_data* img) {
  if (!flippable(img)) return;
  for (int i = 0, j = img->height - 1; i < j; ++i, --j) {
    unsigned char* a = image_row(img, i);
    std::swap_ranges(a, a + img->row_bytes, image_row(img, j));
  }
}

void image_mirror_in_x(image_data* img) {
  if (!flippable(img)) return;
  const int64_t pb = img->pixel_bytes;
  for (int y = 0; y < img->height; ++y) {
    unsigned char* row = image_row(img, y);
    for (int i = 0, j = img->width - 1; i < j; ++i, --j)
      std::swap_ranges(row + i * pb, row + (i + 1) * pb, row + j * pb);
  }
}

image_data* image_mirror_in_y_new(image_data* img) { return flipped_copy(img, image_mirror_in_y); }

image_data* image_mirror_in_x_new(image_data* img) { return flipped_copy(img, image_mirror_in_x); }
