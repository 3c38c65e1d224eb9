// Unsharp masking of the frame image: each channel moves away from a blur of
// itself through a square integer kernel, by an amount.
#include <cmath>
#include <cstring>

#include "ImageQ4.h"
#include "image_rows.h"
#include "line_filter.h"
#include "print_error.h"
#include "row_accumulate.h"

static const char* const kSourcePath = "Library/Q4Image";

int* ImageQ4::sharpen_kernel(float radius, long* size, long* total) {
  // Beyond this side the square of weights cannot be allocated.
  if (radius >= 16384.0f) return nullptr;
  const int r = radius >= 2.0f ? static_cast<int>(radius) : 2;  // not-a-number too
  const int side = 2 * r - 1;
  int* weights = static_cast<int*>(q4_malloc(
      static_cast<unsigned>(side) * static_cast<unsigned>(side) * sizeof(int), kSourcePath, __LINE__));
  if (!weights) return nullptr;
  const int c = r - 1;
  long sum = 0;
  for (int j = 0; j < side; ++j)
    for (int i = 0; i < side; ++i) {
      const float d = std::sqrt(static_cast<float>((i - c) * (i - c) + (j - c) * (j - c))) * 2.5f / r;
      float v = std::exp(-0.347f * d * d);
      v = v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
      weights[j * side + i] = static_cast<int>(std::floor(v * 64));
      sum += weights[j * side + i];
    }
  *size = side;
  *total = sum;
  return weights;
}

void ImageQ4::Sharpen(float radius, float amount, ImageQ4* src, int with_alpha) {
  long side = 0, total = 0;
  int* weights = sharpen_kernel(radius, &side, &total);
  if (!weights) {
    PrintError("Cannot allocate memory for gaussian kernel :-( \n");
    return;
  }
  op_kernel = weights;
  op_kernel_count = side;
  op_kernel_total = total;
  op_amount = amount;
  op_alpha = with_alpha;
  run_area_filter(src, &ImageQ4::mp_sharpen);
  op_kernel = nullptr;
  q4_free(weights, kSourcePath, __LINE__);
}

// Sums are 64-bit: from radius 29 on the weights add up past 65536 and a
// 32-bit sum of weight x channel could overflow.
void ImageQ4::mp_sharpen(long first, long last) {
  if (AbortRender()) return;
  const ImageQ4* src = worker_source(*this);
  const long side = op_kernel_count;
  if (!src || !op_kernel || side < 1 || op_kernel_total <= 0 || width <= 0) return;
  BandScratch<int64_t> acc(4 * static_cast<uint64_t>(width));
  if (!acc.get()) return;
  const int half = static_cast<int>(side / 2);
  const int channels = op_alpha ? 4 : 3;
  for_band_groups<false>(*this, first, last, 1, [&](long y, int) {
    std::memset(acc.get(), 0, 4 * static_cast<size_t>(width) * sizeof(int64_t));
    for (long j = 0; j < side; ++j) {
      const long sy = y - half + j;
      if (sy < 0 || sy >= height) continue;
      for (long i = 0; i < side; ++i)
        accumulate_shifted_row(acc.get(), src->rows[sy], width, static_cast<int>(i - half),
                               op_kernel[j * side + i]);
    }
    const PixelQ4* in = src->rows[y];
    PixelQ4* out = rows[y];
    for (int x = 0; x < width; ++x) {
      const PixelQ4 s = in[x];
      for (int c = 0; c < channels; ++c) {
        const int64_t value = s.*channel_member(c);
        const int64_t blur = acc.get()[4 * x + c] / op_kernel_total;
        const double v =
            std::trunc(static_cast<double>(value) + static_cast<double>(value - blur) * op_amount + 0.5);
        out[x].*channel_member(c) = !(v > 0.0) ? 0 : (v >= 32768.0 ? 32767 : static_cast<unsigned short>(v));
      }
      if (channels == 3) out[x].a = s.a;
    }
  });
}
