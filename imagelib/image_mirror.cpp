#include "image_mirror.h"

#include <algorithm>

void image_mirror_in_y(image_data* img) {
  if (!img || !img->pixels || image_sample_bytes(img->pixel_type) == 0) return;
  for (int i = 0, j = img->height - 1; i < j; ++i, --j) {
    unsigned char* a = image_row(img, i);
    std::swap_ranges(a, a + img->row_bytes, image_row(img, j));
  }
}
