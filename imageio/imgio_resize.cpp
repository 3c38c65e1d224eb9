// Reshaping and resizing 8-bit whole-image buffers, and byte swapping.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "imgio_area.h"
#include "imgio_utils.h"
#include "q4_byteorder.h"

int reshapeimage(const unsigned int* src, int src_width, int src_height, unsigned int* dst,
                 int dst_width, int dst_height) {
  if (!src || !dst || src_width < 1 || src_height < 1 || dst_width < 1 || dst_height < 1) return 1;
  memset(dst, 0, sizeof(unsigned int) * static_cast<size_t>(dst_width) * dst_height);
  const int width = std::min(src_width, dst_width);
  const int height = std::min(src_height, dst_height);
  // Centred in the larger of the two buffers, in each direction.
  const int src_x = std::max(0, (src_width - dst_width) / 2);
  const int src_y = std::max(0, (src_height - dst_height) / 2);
  const int dst_x = std::max(0, (dst_width - src_width) / 2);
  const int dst_y = std::max(0, (dst_height - src_height) / 2);
  for (int y = 0; y < height; ++y)
    memcpy(dst + static_cast<size_t>(dst_y + y) * dst_width + dst_x,
           src + static_cast<size_t>(src_y + y) * src_width + src_x, sizeof(unsigned int) * width);
  return 0;
}

void resample(const unsigned char* src, unsigned char* dst, int n_in, int n_out, int src_stride,
              int dst_stride) {
  if (!src || !dst || n_in < 1 || n_out < 1) return;
  const auto in = [src, src_stride](int i) { return src[static_cast<ptrdiff_t>(i) * src_stride]; };
  unsigned char* const out = dst;
  const auto put = [out, dst_stride](int k, unsigned char value) {
    out[static_cast<ptrdiff_t>(k) * dst_stride] = value;
  };
  // One sample has no neighbour to blend toward: it is replicated.
  if (n_in == 1) {
    for (int k = 0; k < n_out; ++k) put(k, in(0));
    return;
  }
  const float factor = n_in < n_out   ? static_cast<float>(n_out) / (n_in - 0.5f)
                       : n_in > n_out ? (n_out - 0.5f) / static_cast<float>(n_in)
                                      : 1.0f;
  const float step = 1.0f / factor;
  if (imgsystem.filter == 0) {
    for (int k = 0; k < n_out; ++k) put(k, in(std::min(n_in - 1, static_cast<int>(k * step))));
    return;
  }
  // The weights of an output sum to step only within float error, so a
  // constant row would truncate to one less; the slack absorbs that error.
  const double slack = 1.0 / 256.0;
  imgio_area_pass([&in](int i) { return static_cast<float>(in(i)); }, n_in, n_out, factor, step,
                  [&put, slack](int k, double value) {
                    put(k, static_cast<unsigned char>(std::min(255.0, value + slack)));
                  });
}

int resizeimage(const unsigned int* src, int src_width, int src_height, unsigned int* dst,
                int dst_width, int dst_height, int filter) {
  if (!src || !dst || src_width < 1 || src_height < 1 || dst_width < 1 || dst_height < 1) return 1;
  imgsystem.filter = filter;
  if (src_width == dst_width && src_height == dst_height) {
    memcpy(dst, src, sizeof(unsigned int) * static_cast<size_t>(src_width) * src_height);
    return 0;
  }
  unsigned int* middle = createbuffer(dst_width, src_height);
  if (!middle) return 1;
  const unsigned char* from = reinterpret_cast<const unsigned char*>(src);
  unsigned char* across = reinterpret_cast<unsigned char*>(middle);
  unsigned char* to = reinterpret_cast<unsigned char*>(dst);
  const int middle_stride = dst_width * 4;
  for (int c = 0; c < 4; ++c) {
    for (int y = 0; y < src_height; ++y)
      resample(from + static_cast<size_t>(y) * src_width * 4 + c,
               across + static_cast<size_t>(y) * middle_stride + c, src_width, dst_width, 4, 4);
    for (int x = 0; x < dst_width; ++x)
      resample(across + static_cast<size_t>(x) * 4 + c, to + static_cast<size_t>(x) * 4 + c,
               src_height, dst_height, middle_stride, middle_stride);
  }
  destroybuffer(middle);
  return 0;
}

void valswap(unsigned int* values, int count) {
  if (values && count > 0) word32_swab_vec(values, count);
}

void vasswap(unsigned short* values, int count) {
  if (values && count > 0) word16_swab_vec(values, count);
}
