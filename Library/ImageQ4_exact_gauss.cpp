// Exact Gaussian of the frame image: direct convolution along rows or
// columns with integer taps that add up to exactly 65536.
#include <cmath>

#include "ImageQ4.h"
#include "line_filter.h"
#include "print_error.h"
#include "q4_simd.h"

static const char* const kSourcePath = "Library/Q4Image";

int* ImageQ4::gaussian_kernel(float radius, long* count, long* scale, long* shift) {
  const float rho = radius >= 0.01f ? radius : 0.01f;  // not-a-number too
  // No heap holds more taps than this; a larger radius fails as an
  // allocation would.
  if (!(rho <= 1.0e8f)) return nullptr;
  const int r = static_cast<int>(std::ceil(rho));
  int* taps = static_cast<int*>(q4_malloc(static_cast<unsigned>(2 * r + 1) * sizeof(int), kSourcePath, __LINE__));
  if (!taps) return nullptr;
  const double s = rho / 3.0;
  long m = 0;
  long total = 0;
  for (int k = 0; k <= 2 * r; ++k) {
    const float e = std::exp(static_cast<float>(-static_cast<double>(k - r) * (k - r) / (2 * s * s)));
    const int t = static_cast<int>(std::floor(e * 65536.0));
    if (t == 0) continue;  // both tails drop alike, so the kernel stays symmetric
    taps[m++] = t;
    total += t;
  }
  long sum = 0;
  for (long k = 0; k < m; ++k) {
    taps[k] = static_cast<int>(taps[k] * (65536.0 / total));
    sum += taps[k];
  }
  taps[m / 2] += static_cast<int>(65536 - sum);
  *count = m;
  *scale = 65536;
  *shift = 16;
  return taps;
}

namespace {

// out[x] = (sum over k of taps[k] * line[x + k]) >> 16 for x = 0..n-1, the
// line extended by m / 2 samples at each end. Sixteen outputs accumulate in
// registers while the taps go by. Samples are at most 65535 and the taps add
// up to 65536, so no sum reaches 2^32.
Q4_SIMD_BODY void convolve_body(const uint32_t* line, const uint32_t* taps, int m, uint32_t* out, int n) {
  int x = 0;
  for (; x + 16 <= n; x += 16) {
    uint32_t acc[16] = {};
    for (int k = 0; k < m; ++k) {
      const uint32_t t = taps[k];
      const uint32_t* at = line + x + k;
      for (int j = 0; j < 16; ++j) acc[j] += t * at[j];
    }
    for (int j = 0; j < 16; ++j) out[x + j] = acc[j] >> 16;
  }
  for (; x < n; ++x) {
    uint32_t acc = 0;
    for (int k = 0; k < m; ++k) acc += taps[k] * line[x + k];
    out[x] = acc >> 16;
  }
}
Q4_SIMD_DISPATCH(void, convolve, (const uint32_t* line, const uint32_t* taps, int m, uint32_t* out, int n),
                 (line, taps, m, out, n))

// One band of lines, K adjacent ones at a time, on the image's channel range.
// A line is gathered with m / 2 samples more at each end: copies of the end
// sample when edges are clamped, zeros when taps outside are left out, which
// is the same sum without them. Kernels longer than the line need nothing
// else.
template <int K, bool Columns>
void exact_band(ImageQ4& image, long first, long last) {
  if (image.AbortRender()) return;
  const ImageQ4* src = worker_source(image);
  const int n = line_length<Columns>(image);
  const long m = image.op_kernel_count;
  if (!src || n <= 0 || !image.op_kernel || m < 1 || m > INT32_MAX - n) return;
  const int first_channel = image.op_first_channel < 0 ? 0 : image.op_first_channel;
  const int end_channel = image.op_end_channel > 4 ? 4 : image.op_end_channel;
  if (first_channel >= end_channel) return;
  static const ChannelSet<4> all = rgba_channels();
  const int h = static_cast<int>(m / 2);
  const uint64_t padded = static_cast<uint64_t>(n) + 2 * h;
  const uint64_t per_line = padded + n;  // the extended line, then its result
  BandScratch<uint32_t> scratch(m + per_line * K * 4);
  if (!scratch.get()) return;
  uint32_t* taps = scratch.get();
  for (long k = 0; k < m; ++k) taps[k] = static_cast<uint32_t>(image.op_kernel[k]);
  auto extended = [&](int l, int c) { return taps + m + (static_cast<uint64_t>(l) * 4 + c) * per_line; };
  const bool clamp = image.op_clamp_edges != 0;
  const bool clamp_to_15 = image.op_clamp_to_15 != 0;

  for_band_groups<Columns>(image, first, last, K, [&](long line0, int lines) {
    for_group_samples<Columns>(lines, n, [&](int l, int i) {
      const PixelQ4& px = line_pixel<Columns>(*src, line0 + l, i);
      for (int c = first_channel; c < end_channel; ++c) extended(l, c)[h + i] = px.*all.member[c];
    });
    for (int l = 0; l < lines; ++l)
      for (int c = first_channel; c < end_channel; ++c) {
        uint32_t* line = extended(l, c);
        const uint32_t before = clamp ? line[h] : 0, after = clamp ? line[h + n - 1] : 0;
        for (int j = 0; j < h; ++j) {
          line[j] = before;
          line[h + n + j] = after;
        }
        convolve(line, taps, static_cast<int>(m), line + padded, n);
      }
    for_group_samples<Columns>(lines, n, [&](int l, int i) {
      PixelQ4& px = line_pixel<Columns>(image, line0 + l, i);
      for (int c = first_channel; c < end_channel; ++c) {
        const uint32_t v = extended(l, c)[padded + i];
        // Only samples above 32767 can make values past it; the one-channel
        // passes then write full scale, the others the value itself.
        px.*all.member[c] = static_cast<unsigned short>(clamp_to_15 && v >= 32768 ? 32767 : v);
      }
    });
  });
}

}  // namespace

void ImageQ4::mp_exact_gauss_horiz(long first, long last) { exact_band<1, false>(*this, first, last); }
void ImageQ4::mp_exact_gauss_vert(long first, long last) { exact_band<8, true>(*this, first, last); }

void ImageQ4::exact_pass(float radius, int clamp_edges, ImageQ4* src, int first_channel, int end_channel,
                         bool one_channel, bool vertical) {
  long m = 0, scale = 0, shift = 0;
  int* kernel = gaussian_kernel(radius, &m, &scale, &shift);
  if (!kernel) {
    PrintError("Cannot allocate memory for gaussian kernel :-( \n");
    return;
  }
  ImageQ4* source = line_filter_source(this, src);
  if (source && width > 0 && height > 0) {
    op_src = source;
    op_kernel = kernel;
    op_kernel_count = m;
    op_clamp_edges = clamp_edges;
    op_clamp_to_15 = one_channel ? 1 : 0;
    op_first_channel = first_channel;
    op_end_channel = end_channel;
    if (vertical)
      MultiProcess(&ImageQ4::mp_exact_gauss_vert, width);
    else
      MultiProcess(&ImageQ4::mp_exact_gauss_horiz, height);
  }
  op_kernel = nullptr;
  q4_free(kernel, kSourcePath, __LINE__);
}

void ImageQ4::Exact_GaussianHoriz(float radius, int clamp_edges, ImageQ4* src, int with_alpha) {
  exact_pass(radius, clamp_edges, src, 0, with_alpha ? 4 : 3, false, false);
}

void ImageQ4::Exact_GaussianVert(float radius, int clamp_edges, ImageQ4* src, int with_alpha) {
  exact_pass(radius, clamp_edges, src, 0, with_alpha ? 4 : 3, false, true);
}

void ImageQ4::Exact_GaussianBlur(float radius, int clamp_edges, ImageQ4* src, int direction, int with_alpha) {
  if (direction == 0 || direction == 2) Exact_GaussianHoriz(radius, clamp_edges, src, with_alpha);
  if (direction == 1) Exact_GaussianVert(radius, clamp_edges, src, with_alpha);
  if (direction == 2) Exact_GaussianVert(radius, clamp_edges, nullptr, with_alpha);
}

void ImageQ4::Exact_GaussianBlurHoriz_Channel(float radius, int clamp_edges, ImageQ4* src, int channel) {
  int first = 0, end = 0;
  channel_range(channel, first, end);
  exact_pass(radius, clamp_edges, src, first, end, true, false);
}

void ImageQ4::Exact_GaussianBlurVert_Channel(float radius, int clamp_edges, ImageQ4* src, int channel) {
  int first = 0, end = 0;
  channel_range(channel, first, end);
  exact_pass(radius, clamp_edges, src, first, end, true, true);
}

void ImageQ4::Exact_GaussianBlur_Channel(float radius, int clamp_edges, ImageQ4* src, int direction, int channel,
                                         int keep_others) {
  copy_or_clear_common(this, src, keep_others);
  if (direction == 0 || direction == 2) Exact_GaussianBlurHoriz_Channel(radius, clamp_edges, src, channel);
  if (direction == 1) Exact_GaussianBlurVert_Channel(radius, clamp_edges, src, channel);
  if (direction == 2) Exact_GaussianBlurVert_Channel(radius, clamp_edges, nullptr, channel);
}
