// Box-pass Gaussian of the frame image: three box passes along each row or
// column in integers, a fractional radius blending the two whole radii
// around it.
#include <cmath>

#include "ImageQ4.h"
#include "box_pass.h"
#include "box_radius.h"
#include "line_filter.h"

BoxRadius box_radius_of(double box_radius, int n) {
  double rho = box_radius > 0.0 ? box_radius : 0.0;  // negative and not-a-number count as 0
  const double half = static_cast<double>(n / 2);
  if (rho > half) rho = half;
  BoxRadius b;
  b.r = static_cast<int>(std::floor(static_cast<float>(rho)));
  const double f = rho - b.r;
  b.blend = f > 0.01;
  b.w1 = b.blend ? static_cast<int>(f * 1024 + 0.5) : 0;
  b.w0 = b.blend ? 1024 - b.w1 : 0;
  if (b.r > n - 1) b.r = n - 1;
  return b;
}

namespace {

template <int C>
void three_box_passes(int radius, int n, int* const* in, int* const* out) {
  if constexpr (C == 1) box_pass_1(radius, 3, n, in[0], out[0]);
  if constexpr (C == 3) box_pass_3(radius, 3, n, in[0], in[1], in[2], out[0], out[1], out[2]);
  if constexpr (C == 4) box_pass_4(radius, 3, n, in[0], in[1], in[2], in[3], out[0], out[1], out[2], out[3]);
}

// One band of lines, K at a time, carrying the channels of `set`. Every line
// and channel has three integer lines of scratch: the input (overwritten by
// the passes), the result at radius r and the result at r + 1.
template <int C, int K, bool Columns>
void box_band(ImageQ4& image, long first, long last, const ChannelSet<C>& set) {
  if (image.AbortRender()) return;
  const ImageQ4* src = worker_source(image);
  const int n = line_length<Columns>(image);
  if (!src || n <= 0) return;
  const BoxRadius b = box_radius_of(image.op_box_radius, n);
  const uint64_t lines_per_role = static_cast<uint64_t>(K) * C;
  BandScratch<int> scratch(3 * lines_per_role * n);
  if (!scratch.get()) return;
  int* roles[3][K * C];
  for (int role = 0; role < 3; ++role)
    for (int k = 0; k < K * C; ++k) roles[role][k] = scratch.get() + (role * lines_per_role + k) * n;
  int* const* in = roles[0];
  int* const* at_r = roles[1];
  int* const* at_r1 = roles[2];

  for_band_groups<Columns>(image, first, last, K, [&](long line0, int lines) {
    auto gather = [&] {
      for_group_samples<Columns>(lines, n, [&](int l, int i) {
        const PixelQ4& px = line_pixel<Columns>(*src, line0 + l, i);
        for (int c = 0; c < C; ++c) in[l * C + c][i] = px.*set.member[c];
      });
    };
    gather();
    for (int l = 0; l < lines; ++l) three_box_passes<C>(b.r, n, in + l * C, at_r + l * C);
    if (b.blend) {
      gather();
      for (int l = 0; l < lines; ++l) three_box_passes<C>(b.r + 1, n, in + l * C, at_r1 + l * C);
    }
    for_group_samples<Columns>(lines, n, [&](int l, int i) {
      PixelQ4& px = line_pixel<Columns>(image, line0 + l, i);
      for (int c = 0; c < C; ++c) {
        const int k = l * C + c;
        const int v = b.blend ? (b.w0 * at_r[k][i] + b.w1 * at_r1[k][i]) >> 10 : at_r[k][i];
        px.*set.member[c] = static_cast<unsigned short>(v);
      }
    });
  });
}

}  // namespace

void ImageQ4::Box_GaussianBlur(float box_radius, ImageQ4* src, int direction, int with_alpha) {
  op_box_radius = box_radius;
  if (with_alpha)
    run_line_passes(src, direction, &ImageQ4::mp_box_gauss_hor_4, &ImageQ4::mp_box_gauss_vert_4);
  else
    run_line_passes(src, direction, &ImageQ4::mp_box_gauss_hor_3, &ImageQ4::mp_box_gauss_vert_3);
}

void ImageQ4::Box_GaussianBlur_Channel(float box_radius, ImageQ4* src, int direction, int channel,
                                       int keep_others) {
  op_box_radius = box_radius;
  channel_range(channel, op_first_channel, op_end_channel);
  copy_or_clear_common(this, src, keep_others);
  run_line_passes(src, direction, &ImageQ4::mp_box_gauss_hor_1, &ImageQ4::mp_box_gauss_vert_1);
}

void ImageQ4::mp_box_gauss_hor_4(long first, long last) { box_band<4, 1, false>(*this, first, last, rgba_channels()); }
void ImageQ4::mp_box_gauss_hor_3(long first, long last) { box_band<3, 1, false>(*this, first, last, rgb_channels()); }
void ImageQ4::mp_box_gauss_vert_4(long first, long last) { box_band<4, 8, true>(*this, first, last, rgba_channels()); }
void ImageQ4::mp_box_gauss_vert_3(long first, long last) { box_band<3, 8, true>(*this, first, last, rgb_channels()); }

// The channel loop runs outside the line loop: one channel of the whole band
// after the other.
void ImageQ4::mp_box_gauss_hor_1(long first, long last) {
  for_each_channel(op_first_channel, op_end_channel,
                   [&](const ChannelSet<1>& set) { box_band<1, 1, false>(*this, first, last, set); });
}

void ImageQ4::mp_box_gauss_vert_1(long first, long last) {
  for_each_channel(op_first_channel, op_end_channel,
                   [&](const ChannelSet<1>& set) { box_band<1, 8, true>(*this, first, last, set); });
}
