// Box-filter Gaussian of image_data images: lines are gathered into doubles
// a few at a time side by side (every selected channel of several adjacent
// rows or columns), so each box pass is whole vector steps, and stored back
// rounded.
#include "image_blur.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "box_walk.h"
#include "image_pixel.h"
#include "image_scale.h"
#include "q4_memory.h"
#include "q4_simd.h"

namespace {

// Channels a mask can select, lanes a group of lines aims to fill, and the
// most lanes a group can have (one line of every channel a mask can select).
const int kMaskChannels = 32;
const int kTargetLanes = 16;
const int kMaxLanes = kMaskChannels;

// Four lines side by side as one value, so that the window sums of a block
// of lines stay in registers (the compiler keeps an array of plain doubles
// in memory from position to position). Vectors go by reference only:
// passed by value, their calling convention would differ between the two
// kernel copies.
typedef double Doubles4 __attribute__((vector_size(32)));

// One pass over N lanes of V (double, or Doubles4 for four lines) in a
// layout `stride` lanes of V wide.
template <typename V, int N>
Q4_SIMD_BODY void box_pass_block(const V* in, V* out, int n, long stride, int R, double max) {
  const V scale = V() + 1.0 / (2 * R + 1);
  const V top = V() + max;
  // Written as min(max, v) so that a not-a-number stays one instead of
  // posing as the full scale.
  auto finish = [&scale, &top](V& out, const V& s) {
    const V v = s * scale;
    out = top < v ? top : v;
  };
  V S[N];
  box_walk_first(in, stride, N, R, S);
  box_walk(in, out, n, stride, N, R, 0, n, S, finish);
}

bool vector_aligned(const double* p) { return reinterpret_cast<uintptr_t>(p) % sizeof(Doubles4) == 0; }

// Passes over `lanes` lines side by side (sample i of lane l at
// [i * lanes + l]): four lines to a vector when the lanes come in fours and
// the lines are aligned for it, else line by line.
Q4_SIMD_BODY void box_passes_body(int radius, int passes, int n, int lanes, double* in, double* out, double max) {
  const int R = box_walk_radius(radius, n);
  const bool fours = lanes % 4 == 0 && vector_aligned(in) && vector_aligned(out);
  for (int p = 0; p < passes; ++p) {
    if (fours) {
      const int vectors = lanes / 4;
      const Doubles4* from = reinterpret_cast<const Doubles4*>(in);
      Doubles4* to = reinterpret_cast<Doubles4*>(out);
      int v = 0;
      for (; v + 4 <= vectors; v += 4) box_pass_block<Doubles4, 4>(from + v, to + v, n, vectors, R, max);
      for (; v < vectors; ++v) box_pass_block<Doubles4, 1>(from + v, to + v, n, vectors, R, max);
    } else {
      for (int l = 0; l < lanes; ++l) box_pass_block<double, 1>(in + l, out + l, n, lanes, R, max);
    }
    std::swap(in, out);
  }
}
Q4_SIMD_DISPATCH(void, box_passes,
                 (int radius, int passes, int n, int lanes, double* in, double* out, double max),
                 (radius, passes, n, lanes, in, out, max))

struct blur_args {
  double radius_x, radius_y;
  unsigned mask;
  image_data* img;
  std::atomic<bool> short_of_memory{false};
};

// The largest value a blurred sample may take.
double blur_ceiling(int pixel_type) {
  return pixel_type == IMAGE_PIXEL_FLOAT ? 3.4028234663852886e+38 : image_full_scale(pixel_type);
}

// The radius of a line of n samples as a whole radius and a blend fraction
// (0 when the whole radius serves alone).
void split_radius(double radius, int n, int& whole, double& fraction) {
  const double half = n / 2;
  const double r = radius < half ? radius : half;
  whole = static_cast<int>(std::floor(r));
  fraction = r - whole;
  if (!(fraction > 0.01)) fraction = 0.0;
}

// Lanes of a group of lines: lane k of every position reads and writes the
// sample offset[k] past the position's first sample (offset 0 when the
// whole run is one stretch of memory, `run`).
struct lane_map {
  int lanes;   // lines x selected channels
  int stride;  // lanes rounded up to whole vectors; the extra lanes hold 0
  bool run;
  long offset[kMaxLanes];
};

lane_map map_lanes(int lines, long line_step, const int* channel, int selected) {
  lane_map m;
  m.lanes = lines * selected;
  m.stride = (m.lanes + 3) / 4 * 4;
  m.run = true;
  for (int q = 0; q < lines; ++q)
    for (int s = 0; s < selected; ++s) {
      const int k = q * selected + s;
      m.offset[k] = q * line_step + channel[s];
      m.run = m.run && m.offset[k] == k;
    }
  return m;
}

// Lines first..last of one direction: rows (positions are columns) or, with
// Columns, columns (positions are rows).
template <bool Columns, typename T>
void blur_lines(image_data* img, int first, int last, const int* channel, int selected, int whole, double fraction,
                double* w1, double* w2, double* w3, double* w4) {
  const int n = Columns ? img->height : img->width;
  const long position_step = Columns ? static_cast<long>(img->width) * img->channels : img->channels;
  const long line_step = Columns ? img->channels : static_cast<long>(img->width) * img->channels;
  const int group = kTargetLanes / selected > 1 ? kTargetLanes / selected : 1;
  const double max = blur_ceiling(img->pixel_type);
  const double keep = 1.0 - fraction;
  T* pixels = static_cast<T*>(img->pixels);
  lane_map m = map_lanes(group, line_step, channel, selected);
  for (int line = first; line <= last; line += group) {
    const int lines = last - line + 1 < group ? last - line + 1 : group;
    if (lines < group) m = map_lanes(lines, line_step, channel, selected);
    const long values = static_cast<long>(n) * m.stride;
    T* base = pixels + line * line_step;
    for (int i = 0; i < n; ++i) {
      const T* p = base + i * position_step;
      double* d = w1 + static_cast<long>(i) * m.stride;
      if (m.run)
        for (int k = 0; k < m.lanes; ++k) d[k] = static_cast<double>(p[k]);
      else
        for (int k = 0; k < m.lanes; ++k) d[k] = static_cast<double>(p[m.offset[k]]);
      for (int k = m.lanes; k < m.stride; ++k) d[k] = 0.0;
    }
    if (fraction > 0.0) std::memcpy(w3, w1, sizeof(double) * values);
    box_passes(whole, 3, n, m.stride, w1, w2, max);
    if (fraction > 0.0) {
      box_passes(whole + 1, 3, n, m.stride, w3, w4, max);
      for (long i = 0; i < values; ++i) w2[i] = keep * w2[i] + fraction * w4[i];
    }
    for (int i = 0; i < n; ++i) {
      T* p = base + i * position_step;
      const double* d = w2 + static_cast<long>(i) * m.stride;
      if (m.run)
        for (int k = 0; k < m.lanes; ++k) p[k] = image_store_round<T>(d[k]);
      else
        for (int k = 0; k < m.lanes; ++k) p[m.offset[k]] = image_store_round<T>(d[k]);
    }
  }
}

template <bool Columns>
void blur_band(blur_args* args, int first, int last) {
  image_data* img = args->img;
  int channel[kMaskChannels];
  int selected = 0;
  for (int c = 0; c < img->channels && c < kMaskChannels; ++c)
    if ((args->mask >> c) & 1u) channel[selected++] = c;
  if (selected == 0 || first > last) return;
  const int n = Columns ? img->height : img->width;
  int whole;
  double fraction;
  split_radius(Columns ? args->radius_y : args->radius_x, n, whole, fraction);
  // Groups fill at most kTargetLanes lanes, or one line's channels, rounded
  // up to whole vectors; the block is aligned for them.
  const int lanes = selected > kTargetLanes ? (selected + 3) / 4 * 4 : kTargetLanes;
  const long values = static_cast<long>(n) * lanes;
  const int lines = fraction > 0.0 ? 4 : 2;
  const size_t bytes = sizeof(double) * lines * values + sizeof(Doubles4);
  void* block = q4_malloc(static_cast<unsigned>(bytes), __FILE__, __LINE__);
  if (!block) {
    args->short_of_memory = true;
    return;
  }
  double* w1 = reinterpret_cast<double*>((reinterpret_cast<uintptr_t>(block) + sizeof(Doubles4) - 1) /
                                         sizeof(Doubles4) * sizeof(Doubles4));
  double* w3 = fraction > 0.0 ? w1 + 2 * values : nullptr;
  double* w4 = fraction > 0.0 ? w1 + 3 * values : nullptr;
  image_with_sample_type(img->pixel_type, [&](auto zero) {
    blur_lines<Columns, decltype(zero)>(img, first, last, channel, selected, whole, fraction, w1, w1 + values, w3,
                                        w4);
  });
  q4_free(block, __FILE__, __LINE__);
}
}  // namespace

void gaussian_blur_horizontal(void* object, int first, int last) {
  blur_band<false>(static_cast<blur_args*>(object), first, last);
}

void gaussian_blur_vertical(void* object, int first, int last) {
  blur_band<true>(static_cast<blur_args*>(object), first, last);
}

void box_filter_multi_pass(int radius, int passes, int n, double* in, double* out, double max) {
  if (passes < 1 || n < 1 || !in || !out) return;
  box_passes(radius, passes, n, 1, in, out, max);
}

int image_gaussian_blur(image_data* img, double radius_x, double radius_y, unsigned channel_mask) {
  if (!img || !img->pixels) return 0;
  if (channel_mask == 0 || (!(radius_x > 0.0) && !(radius_y > 0.0))) return 1;
  blur_args args{radius_x, radius_y, channel_mask, img};
  if (radius_x > 0.0) imagelib_dispatch(gaussian_blur_horizontal, img->height, &args);
  if (radius_y > 0.0) imagelib_dispatch(gaussian_blur_vertical, img->width, &args);
  return args.short_of_memory ? 0 : 1;
}

int image_gaussian_blur(image_data* src, image_data* dst, double radius_x, double radius_y, unsigned channel_mask) {
  if (!image_data_same_layout(src, dst)) return 0;
  if (src != dst && !image_general_copy(src, dst, 1, IMAGELIB_KERNEL_CUBIC_ONE, false)) return 0;
  return image_gaussian_blur(dst, radius_x, radius_y, channel_mask);
}
