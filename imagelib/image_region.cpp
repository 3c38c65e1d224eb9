#include "image_region.h"

#include <algorithm>

#include "image_scale.h"
#include "imagelib_kernel.h"

int image_region_extract(image_data* src, image_data* dst, double cx, double cy, int kernel_type) {
  if (!src || !dst || !src->pixels || !dst->pixels) return 0;
  if (src->pixel_type != dst->pixel_type || src->channels != dst->channels) return 0;
  const double half_w = (dst->width - 1) / 2.0, half_h = (dst->height - 1) / 2.0;
  const double left = cx - half_w, right = cx + half_w;
  const double bottom = cy - half_h, top = cy + half_h;
  if (std::max(left, 0.0) <= std::min(right, src->width - 1.0) &&
      std::max(bottom, 0.0) <= std::min(top, src->height - 1.0))
    return image_translate(src, dst, static_cast<float>(-left), static_cast<float>(-bottom), kernel_type,
                           IMAGELIB_EDGE_ZERO)
               ? 1
               : 0;
  image_data_zero(dst);
  return 1;
}
