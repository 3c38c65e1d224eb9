// Template (gradient operator) edge detection of the frame image: one square
// horizontal-derivative kernel, applied as is and transposed, per channel.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "ImageQ4.h"
#include "image_rows.h"
#include "line_filter.h"
#include "print_error.h"
#include "row_accumulate.h"

static const char* const kSourcePath = "Library/Q4Image";

void ImageQ4::SobelEdge(float size, float gain, ImageQ4* src, int) {
  op_gain = 0.2f * gain;
  template_edge(2, size, gain, src, 1);
}

void ImageQ4::GradientEdge(float size, float gain, ImageQ4* src, int) {
  op_gain = 0.4f * gain;
  template_edge(1, size, gain, src, 1);
}

// The output gain is the one the wrapper stored; `gain` itself is not read.
void ImageQ4::template_edge(int type, float size, float, ImageQ4* src, int alpha) {
  if (width <= 0 || height <= 0) return;
  const float largest = static_cast<float>(((width < height ? width : height) + 1) / 2);
  float s = size >= 0.01f ? size : 0.01f;  // not-a-number too
  if (s > largest) s = largest;
  const int R = static_cast<int>(std::ceil(s));
  const int K = 2 * R + 1;
  int* kernel =
      static_cast<int*>(q4_malloc(static_cast<unsigned>(K) * K * sizeof(int), kSourcePath, __LINE__));
  if (!kernel) {
    PrintError("Cannot allocate memory for kernel");
    return;
  }
  for (int i = 0; i < K; ++i) {
    const int di = std::abs(i - R);
    const float wy = type * (1.0f - (di - 1) / s);
    for (int j = 0; j < K; ++j) {
      const int dj = std::abs(j - R);
      const float wx = dj == 0 ? 0.0f : type * (1.0f - (dj - 1) / s);
      const int k = static_cast<int>(std::floor(256.0f * wy * wx));
      kernel[i * K + j] = j < R ? -k : k;
    }
  }
  op_kernel = kernel;
  op_kernel_count = K;
  op_alpha = alpha;
  run_area_filter(src, &ImageQ4::mp_template_edge);
  op_kernel = nullptr;
  q4_free(kernel, kSourcePath, __LINE__);
}

// Sums are 64-bit: large kernels on full-scale samples pass 32 bits.
void ImageQ4::mp_template_edge(long first, long last) {
  if (AbortRender()) return;
  const ImageQ4* src = worker_source(*this);
  const long K = op_kernel_count;
  if (!src || !op_kernel || K < 1 || width <= 0) return;
  BandScratch<int64_t> sums(8 * static_cast<uint64_t>(width));
  if (!sums.get()) return;
  int64_t* across = sums.get();         // Sx: the kernel as it is
  int64_t* down = across + 4L * width;  // Sy: the kernel transposed
  const int R = static_cast<int>(K / 2);
  for_band_groups<false>(*this, first, last, 1, [&](long y, int) {
    std::memset(across, 0, 8 * static_cast<size_t>(width) * sizeof(int64_t));
    for (long i = 0; i < K; ++i) {
      const long sy = y - R + i;
      if (sy < 0 || sy >= height) continue;
      for (long j = 0; j < K; ++j) {
        const int offset = static_cast<int>(j - R);
        accumulate_shifted_row(across, src->rows[sy], width, offset, op_kernel[i * K + j]);
        accumulate_shifted_row(down, src->rows[sy], width, offset, op_kernel[j * K + i]);
      }
    }
    PixelQ4* out = rows[y];
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 4; ++c) {
        if (c == 3 && !op_alpha) {
          out[x].a = 0;
          continue;
        }
        const int64_t sx = across[4 * x + c], sy = down[4 * x + c];
        const float v = static_cast<float>(((sx < 0 ? -sx : sx) >> 8) + ((sy < 0 ? -sy : sy) >> 8)) * op_gain;
        out[x].*channel_member(c) = clamp_truncate(v);
      }
  });
}
