// Young-van Vliet recursive Gaussian of the frame image: a causal pass
// forward and an anti-causal pass backward along each row or column.
#include <cmath>

#include "ImageQ4.h"
#include "fast_gauss.h"
#include "line_filter.h"
#include "q4_simd.h"

YvvCoefficients yvv_coefficients(double sigma) {
  double q;
  if (sigma >= 2.5)
    q = 0.98711 * sigma - 0.9633;
  else if (sigma >= 0.5)
    q = 3.97156 - 4.14554 * std::sqrt(1.0 - 0.26891 * sigma);
  else
    q = (sigma + sigma) * 0.3834085807;
  const double q2 = q * q, q3 = q2 * q;
  const double b0 = ((0.422205 * q + 1.4281) * q + 2.44413) * q + 1.57825;
  const double b1 = 2.44413 * q + 2.85619 * q2 + 1.26661 * q3;
  const double b2 = -(1.4281 * q2 + 1.26661 * q3);
  const double b3 = 0.422205 * q3;
  YvvCoefficients k;
  k.q = q;
  k.a1 = b1 / b0;
  k.a2 = b2 / b0;
  k.a3 = b3 / b0;
  k.B = 1.0 - (k.a1 + k.a2 + k.a3);
  return k;
}

double yvv_sigma(float radius) { return 0.25 * static_cast<double>(radius > 0.0f ? radius : 0.0f) + 0.05; }

namespace {

// Lines processed side by side, straight from and to the images: each
// position holds L lanes (lines x channels) in a row, so every step of a
// recursion is one loop over independent lanes that the compiler widens.
// The line is extended by p samples of its first value before it and 2p of
// its last after it, so that both recursions settle before they reach it;
// w holds 3p + n positions. The causal recursion starts from rest three
// positions in and keeps its results; the anti-causal one starts from rest
// at the far end and replaces them going back: down columns it writes each
// position of the line as it reaches it, along rows the group writes the
// line out afterwards in the order of the samples (store_group_line). The
// positions before the line feed nothing the line needs on the way back, so
// it stops there.
template <bool Columns, int K, typename Ch>
Q4_SIMD_BODY void yvv_group(const LineGroup<K>& g, int n, int p, const Ch& ch, const YvvCoefficients& k, double* w) {
  constexpr int L = K * lanes_per_line<Ch>();
  const double B = k.B, a1 = k.a1, a2 = k.a2, a3 = k.a3;
  const int count = 3 * p + n;
  double x[L];
  for (int l = 0; l < 3 * L; ++l) w[l] = 0.0;
  for (int i = 3; i < count; ++i) {
    load_group_position<Columns, K>(g, i < p ? 0 : (i < p + n ? i - p : n - 1), ch, x);
    double* cur = w + static_cast<long>(i) * L;
    for (int l = 0; l < L; ++l)
      cur[l] = B * x[l] + a1 * cur[l - L] + a2 * cur[l - 2 * L] + a3 * cur[l - 3 * L];
  }
  for (int l = 0; l < 3 * L; ++l) w[static_cast<long>(count - 3) * L + l] = 0.0;
  for (int i = count - 4; i >= p; --i) {
    double* cur = w + static_cast<long>(i) * L;
    for (int l = 0; l < L; ++l)
      cur[l] = B * cur[l] + a1 * cur[l + L] + a2 * cur[l + 2 * L] + a3 * cur[l + 3 * L];
    if (Columns && i < p + n) store_group_position<Columns, K>(g, i - p, ch, cur);
  }
  if (!Columns) store_group_line<Columns, K>(g, n, ch, w + static_cast<long>(p) * L);
}

// One dispatched copy per direction and channel choice.
#define YVV_KERNEL(name, Columns, Ch)                                                                              \
  Q4_SIMD_BODY void name##_body(const RecursiveGroup<Ch>& g, int n, int p, const Ch& ch, const YvvCoefficients& k, \
                                double* w) {                                                                       \
    yvv_group<Columns, recursive_group_lines<Ch>()>(g, n, p, ch, k, w);                                            \
  }                                                                                                                \
  Q4_SIMD_DISPATCH(void, name, (const RecursiveGroup<Ch>& g, int n, int p, const Ch& ch, const YvvCoefficients& k, \
                                double* w),                                                                        \
                   (g, n, p, ch, k, w))
RECURSIVE_LINE_KERNELS(YVV_KERNEL, yvv)
#undef YVV_KERNEL

template <bool Columns, typename Ch>
void yvv_lines(const RecursiveGroup<Ch>& g, int n, int p, const Ch& ch, const YvvCoefficients& k, double* w) {
  RECURSIVE_LINE_CALL(yvv, Columns, Ch, (g, n, p, ch, k, w));
}

// Beyond this the line buffers could not be allocated anyway.
const double kLongestExtension = 1 << 28;

// One band of lines, a group at a time, carrying the channels `ch`.
template <bool Columns, typename Ch>
void yvv_band(ImageQ4& image, long first, long last, const Ch& ch) {
  constexpr int K = recursive_group_lines<Ch>();
  constexpr int L = K * lanes_per_line<Ch>();
  const int n = line_length<Columns>(image);
  const ImageQ4* src = band_source<K>(image, n);
  const double extension = std::trunc(image.op_sigma) + 4.0;
  if (!src || !(extension <= kLongestExtension)) return;
  const int p = static_cast<int>(extension);
  const YvvCoefficients k = yvv_coefficients(image.op_sigma);
  BandScratch<double> buffer((3 * static_cast<uint64_t>(p) + n) * L);
  double* w = buffer.get();
  if (!w) return;
  for_band_groups<Columns>(image, first, last, K, [&](long line0, int lines) {
    yvv_lines<Columns>(line_group<Columns, K>(src, &image, line0, lines), n, p, ch, k, w);
  });
}

}  // namespace

void ImageQ4::Fast_GaussianBlur(float radius, ImageQ4* src, int direction, int with_alpha) {
  op_sigma = yvv_sigma(radius);
  run_line_passes(src, direction, with_alpha ? &ImageQ4::mp_vl_fgb_horiz_4 : &ImageQ4::mp_vl_fgb_horiz_3,
                  with_alpha ? &ImageQ4::mp_vl_fgb_vert_4 : &ImageQ4::mp_vl_fgb_vert_3);
}

void ImageQ4::Fast_GaussianBlur_Channel(float radius, ImageQ4* src, int direction, int channel,
                                        int keep_others) {
  op_sigma = yvv_sigma(radius);
  run_channel_passes(src, direction, channel, keep_others, &ImageQ4::mp_vl_fgb_horiz, &ImageQ4::mp_vl_fgb_vert);
}

void ImageQ4::mp_vl_fgb_horiz_4(long first, long last) {
  yvv_band<false>(*this, first, last, RgbaChannels());
}
void ImageQ4::mp_vl_fgb_horiz_3(long first, long last) {
  yvv_band<false>(*this, first, last, RgbChannels());
}
void ImageQ4::mp_vl_fgb_vert_4(long first, long last) {
  yvv_band<true>(*this, first, last, RgbaChannels());
}
void ImageQ4::mp_vl_fgb_vert_3(long first, long last) {
  yvv_band<true>(*this, first, last, RgbChannels());
}

void ImageQ4::mp_vl_fgb_horiz(long first, long last) {
  for_each_channel(op_first_channel, op_end_channel,
                   [&](const OneChannel& ch) { yvv_band<false>(*this, first, last, ch); });
}

void ImageQ4::mp_vl_fgb_vert(long first, long last) {
  for_each_channel(op_first_channel, op_end_channel,
                   [&](const OneChannel& ch) { yvv_band<true>(*this, first, last, ch); });
}
