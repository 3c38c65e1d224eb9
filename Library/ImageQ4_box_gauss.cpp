// Box-pass Gaussian of the frame image: three box passes along each row or
// column in integers, a fractional radius blending the two whole radii
// around it. Rows, like columns, go through the passes a few at a time side
// by side, which gives every pass whole vector steps.
#include <algorithm>
#include <cmath>

#include "ImageQ4.h"
#include "box_lanes.h"
#include "box_radius.h"
#include "box_sweep.h"
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

// One band of lines, K at a time side by side, carrying the channels `ch`
// (all four pixel by pixel) through one sweep per group.
template <int K, bool Columns, typename Ch>
void box_band(ImageQ4& image, long first, long last, const Ch& ch) {
  const int n = line_length<Columns>(image);
  const ImageQ4* src = band_source<K>(image, n);
  if (!src) return;
  const BoxRadius b = box_radius_of(image.op_box_radius, n);
  const BoxSweep sweep{n, K * Ch::count, b.r, b.blend, b.w0, b.w1, 1.0f};
  BandScratch<int> scratch(box_sweep_scratch(sweep));
  int* work = scratch.get();
  if (!work) return;
  for_band_groups<Columns>(image, first, last, K, [&](long line0, int lines) {
    ImageSweepLines<Columns, Ch> io(*src, image, line0, lines, sweep.lanes, ch);
    box_sweep(sweep, work, io);
  });
}

}  // namespace

void ImageQ4::Box_GaussianBlur(float box_radius, ImageQ4* src, int direction, int with_alpha) {
  op_box_radius = box_radius;
  run_line_passes(src, direction, with_alpha ? &ImageQ4::mp_box_gauss_hor_4 : &ImageQ4::mp_box_gauss_hor_3,
                  with_alpha ? &ImageQ4::mp_box_gauss_vert_4 : &ImageQ4::mp_box_gauss_vert_3);
}

void ImageQ4::Box_GaussianBlur_Channel(float box_radius, ImageQ4* src, int direction, int channel,
                                       int keep_others) {
  op_box_radius = box_radius;
  run_channel_passes(src, direction, channel, keep_others, &ImageQ4::mp_box_gauss_hor_1,
                     &ImageQ4::mp_box_gauss_vert_1);
}

void ImageQ4::mp_box_gauss_hor_4(long first, long last) {
  box_band<8, false>(*this, first, last, RgbaChannels());
}
void ImageQ4::mp_box_gauss_hor_3(long first, long last) {
  box_band<8, false>(*this, first, last, RgbChannels());
}
void ImageQ4::mp_box_gauss_vert_4(long first, long last) {
  box_band<8, true>(*this, first, last, RgbaChannels());
}
void ImageQ4::mp_box_gauss_vert_3(long first, long last) {
  box_band<8, true>(*this, first, last, RgbChannels());
}

// The channel loop runs outside the line loop: one channel of the whole band
// after the other.
void ImageQ4::mp_box_gauss_hor_1(long first, long last) {
  for_each_channel(op_first_channel, op_end_channel,
                   [&](const OneChannel& ch) { box_band<16, false>(*this, first, last, ch); });
}

void ImageQ4::mp_box_gauss_vert_1(long first, long last) {
  for_each_channel(op_first_channel, op_end_channel,
                   [&](const OneChannel& ch) { box_band<16, true>(*this, first, last, ch); });
}
