// Source choice, copy-or-clear and pass order shared by the frame-image
// filters.
#include <cstring>

#include "ImageQ4.h"
#include "line_filter.h"

ImageQ4* line_filter_source(ImageQ4* dst, ImageQ4* src) {
  if (!src || src == dst) return dst;
  if (src->width < dst->width || src->height < dst->height) return nullptr;
  return src;
}

void copy_or_clear_common(ImageQ4* dst, ImageQ4* src, int keep_others, int channel) {
  if (!src || (src == dst && keep_others)) return;
  if (src == dst) {
    for (int y = 0; y < dst->height; ++y)
      for (int x = 0; x < dst->width; ++x) {
        unsigned short* samples = samples_of(dst->rows[y] + x);
        for (int c = 0; c < 4; ++c)
          if (c != channel) samples[c] = 0;
      }
    return;
  }
  const int w = src->width < dst->width ? src->width : dst->width;
  const int h = src->height < dst->height ? src->height : dst->height;
  const size_t bytes = static_cast<size_t>(w) * sizeof(PixelQ4);
  for (int y = 0; y < h; ++y) {
    if (keep_others)
      std::memcpy(dst->rows[y], src->rows[y], bytes);
    else
      std::memset(dst->rows[y], 0, bytes);
  }
}

void ImageQ4::run_line_passes(ImageQ4* src, int direction, BandWorker horizontal, BandWorker vertical) {
  if (direction < 0 || direction > 2 || width <= 0 || height <= 0) return;
  ImageQ4* source = line_filter_source(this, src);
  if (!source) return;
  op_src = source;
  if (direction == 0 || direction == 2) MultiProcess(horizontal, height);
  if (direction == 2) op_src = this;  // the columns of the horizontal result
  if (direction == 1 || direction == 2) MultiProcess(vertical, width);
}

void ImageQ4::run_channel_passes(ImageQ4* src, int direction, int channel, int keep_others, BandWorker horizontal,
                                 BandWorker vertical) {
  channel_range(channel, op_first_channel, op_end_channel);
  copy_or_clear_common(this, src, keep_others, channel);
  run_line_passes(src, direction, horizontal, vertical);
}

// Every output pixel reads its neighbours in other bands' rows: this image is
// read through a copy. A copy that could not be made is smaller than this
// image, so nothing runs.
void ImageQ4::run_area_filter(ImageQ4* src, BandWorker worker) {
  if (width <= 0 || height <= 0) return;
  ImageQ4* copy = !src || src == this ? new ImageQ4(*this) : nullptr;
  ImageQ4* source = line_filter_source(this, copy ? copy : src);
  if (source) {
    op_src = source;
    MultiProcess(worker, height);
  }
  delete copy;
}
