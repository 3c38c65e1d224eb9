// Exact Gaussian of the frame image: direct convolution along rows or
// columns with integer taps that add up to exactly 65536.
#include <cmath>
#include <cstring>

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
  int* taps =
      static_cast<int*>(q4_malloc(static_cast<unsigned>(2 * r + 1) * sizeof(int), kSourcePath, __LINE__));
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

// out[p] = (sum over k of taps[k] * line[p + k * stride]) >> 16 for p =
// 0..count-1: lines side by side, `stride` lanes to a position, each extended
// by m / 2 positions at both ends. Sixteen outputs accumulate in registers
// while the taps go by; they are written as the compiler's generic vectors of
// eight (two AVX2 registers, or four baseline ones) because its own widening
// splits this block unevenly. Samples are at most 65535 and the taps add up
// to 65536, so no sum reaches 2^32.
typedef uint32_t Lanes8 __attribute__((vector_size(32)));

Q4_SIMD_BODY void convolve_body(const uint32_t* line, const uint32_t* taps, int m, int stride, uint32_t* out,
                                long count) {
  long p = 0;
  for (; p + 16 <= count; p += 16) {
    Lanes8 low = {}, high = {};
    const uint32_t* at = line + p;
    for (int k = 0; k < m; ++k, at += stride) {
      Lanes8 a, b;
      std::memcpy(&a, at, sizeof a);
      std::memcpy(&b, at + 8, sizeof b);
      low += taps[k] * a;
      high += taps[k] * b;
    }
    low >>= 16;
    high >>= 16;
    std::memcpy(out + p, &low, sizeof low);
    std::memcpy(out + p + 8, &high, sizeof high);
  }
  for (; p < count; ++p) {
    uint32_t acc = 0;
    for (int k = 0; k < m; ++k) acc += taps[k] * line[p + static_cast<long>(k) * stride];
    out[p] = acc >> 16;
  }
}
Q4_SIMD_DISPATCH(void, convolve,
                 (const uint32_t* line, const uint32_t* taps, int m, int stride, uint32_t* out, long count),
                 (line, taps, m, stride, out, count))

// One band of lines, K at a time side by side, carrying the channels `ch`.
// Each line is extended by m / 2 positions at both ends: copies of its end
// samples when edges are clamped, zeros when taps outside are left out,
// which is the same sum without them. Kernels longer than the line need
// nothing else.
template <int K, bool Columns, typename Ch>
void exact_band(ImageQ4& image, long first, long last, const Ch& ch) {
  constexpr int L = K * Ch::count;
  const int n = line_length<Columns>(image);
  const ImageQ4* src = band_source<K>(image, n);
  const long m = image.op_kernel_count;
  if (!src || !image.op_kernel || m < 1 || m > INT32_MAX - n) return;
  const long h = m / 2;
  const uint64_t extended = (static_cast<uint64_t>(n) + 2 * h) * L;
  const long values = static_cast<long>(n) * L;
  BandScratch<uint32_t> scratch(m + extended + values);
  if (!scratch.get()) return;
  uint32_t* taps = scratch.get();
  uint32_t* line = taps + m;
  uint32_t* out = line + extended;
  for (long k = 0; k < m; ++k) taps[k] = static_cast<uint32_t>(image.op_kernel[k]);
  const bool clamp = image.op_clamp_edges != 0;
  // Only samples above 32767 can make values past it; the one-channel passes
  // then write full scale, the others the value itself.
  const bool clamp_to_15 = image.op_clamp_to_15 != 0;
  auto store = [clamp_to_15](uint32_t v) {
    return static_cast<unsigned short>(clamp_to_15 && v >= 32768 ? 32767 : v);
  };
  uint32_t* inside = line + h * L;
  for_band_groups<Columns>(image, first, last, K, [&](long line0, int lines) {
    gather_group<Columns>(*src, line0, lines, K, n, L, ch, inside);
    const uint32_t* head = inside;
    const uint32_t* tail = inside + values - L;
    for (long i = 0; i < h; ++i)
      for (int l = 0; l < L; ++l) {
        line[i * L + l] = clamp ? head[l] : 0;
        inside[values + i * L + l] = clamp ? tail[l] : 0;
      }
    convolve(line, taps, static_cast<int>(m), L, out, values);
    scatter_lanes<Columns>(image, line0, lines, n, L, ch, out, store);
  });
}

// The image's channel range as the workers carry it.
template <bool Columns>
void exact_channels(ImageQ4& image, long first, long last) {
  const int from = image.op_first_channel, end = image.op_end_channel;
  if (from == 0 && end == 4)
    exact_band<4, Columns>(image, first, last, RgbaChannels());
  else if (from == 0 && end == 3)
    exact_band<4, Columns>(image, first, last, RgbChannels());
  else
    for_each_channel(from, end,
                     [&](const OneChannel& ch) { exact_band<16, Columns>(image, first, last, ch); });
}

}  // namespace

void ImageQ4::mp_exact_gauss_horiz(long first, long last) { exact_channels<false>(*this, first, last); }
void ImageQ4::mp_exact_gauss_vert(long first, long last) { exact_channels<true>(*this, first, last); }

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

// The vertical pass of direction 2 reads the horizontal result: when a source
// too small stops the horizontal pass, the vertical one has nothing to read.
void ImageQ4::Exact_GaussianBlur(float radius, int clamp_edges, ImageQ4* src, int direction, int with_alpha) {
  if (!line_filter_source(this, src)) return;
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

void ImageQ4::Exact_GaussianBlur_Channel(float radius, int clamp_edges, ImageQ4* src, int direction,
                                         int channel, int keep_others) {
  copy_or_clear_common(this, src, keep_others, channel);
  if (!line_filter_source(this, src)) return;
  if (direction == 0 || direction == 2) Exact_GaussianBlurHoriz_Channel(radius, clamp_edges, src, channel);
  if (direction == 1) Exact_GaussianBlurVert_Channel(radius, clamp_edges, src, channel);
  if (direction == 2) Exact_GaussianBlurVert_Channel(radius, clamp_edges, nullptr, channel);
}
