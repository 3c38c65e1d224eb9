// Point and area samplers of ImageXfmQ4. Every sampler first checks the
// position in floating point, so positions that are not finite or lie far
// outside the image give a zero pixel before any conversion to an integer.
#include <cmath>
#include <cstring>
#include <type_traits>

#include <immintrin.h>

#include "ImageXfmQ4.h"
#include "q4_simd.h"

namespace {

const PixelQ4 zero_pixel = {0, 0, 0, 0};

inline unsigned short clamp_round(double v) {
  if (v > 32767.0) v = 32767.0;
  if (v < 0.0) v = 0.0;
  return (unsigned short)(v + 0.5);
}

inline unsigned short clamp_fixed(int v) { return (unsigned short)(v < 0 ? 0 : (v > 32767 ? 32767 : v)); }

inline bool inside(const ImageQ4* img, int c, int r) {
  return c >= 0 && c < img->width && r >= 0 && r < img->height;
}

// Neighbours outside the image read as zero.
inline PixelQ4 pixel_or_zero(const ImageQ4* img, int c, int r) {
  return inside(img, c, r) ? img->rows[r][c] : zero_pixel;
}

// floor() for positions already known to be within int range; cheaper than
// the library call in the per-pixel samplers.
inline int floor_int(double v) {
  const int t = (int)v;
  return t > v ? t - 1 : t;
}

// Fraction of x beyond floor(x) in steps of 1/scale, kept below scale even
// when x - floor(x) rounds up to 1.
inline int fraction_steps(double x, int x0, int scale) {
  const int f = (int)((x - x0) * scale);
  return f < scale ? f : scale - 1;
}

// Fixed-point bilinear mix of all four channels at once.
// Channels are 15-bit (0..32767) by the frame image's definition; the signed 16-bit lanes below rely on it.
// With it the differences and the 13-bit fractions fit those lanes and the
// products are exact in 32 bits; shifts are arithmetic (floor), and packing
// back with signed saturation clamps at 32767.
inline PixelQ4 bilinear_mix_fixed(PixelQ4 p00, PixelQ4 p10, PixelQ4 p01, PixelQ4 p11, int f, int g) {
  long long q00, q10, q01, q11;
  std::memcpy(&q00, &p00, 8);
  std::memcpy(&q10, &p10, 8);
  std::memcpy(&q01, &p01, 8);
  std::memcpy(&q11, &p11, 8);
  const __m128i zero = _mm_setzero_si128();
  const __m128i left = _mm_set_epi64x(q01, q00);  // top row low, bottom row high
  const __m128i right = _mm_set_epi64x(q11, q10);
  const __m128i dx = _mm_sub_epi16(right, left);
  const __m128i fx = _mm_set1_epi16((short)f);
  const __m128i lo = _mm_mullo_epi16(dx, fx), hi = _mm_mulhi_epi16(dx, fx);
  const __m128i top = _mm_add_epi32(_mm_unpacklo_epi16(left, zero), _mm_srai_epi32(_mm_unpacklo_epi16(lo, hi), 13));
  const __m128i bottom =
      _mm_add_epi32(_mm_unpackhi_epi16(left, zero), _mm_srai_epi32(_mm_unpackhi_epi16(lo, hi), 13));
  const __m128i dy = _mm_packs_epi32(_mm_sub_epi32(bottom, top), zero);
  const __m128i gy = _mm_set1_epi16((short)g);
  const __m128i prod = _mm_unpacklo_epi16(_mm_mullo_epi16(dy, gy), _mm_mulhi_epi16(dy, gy));
  const __m128i v = _mm_add_epi32(top, _mm_srai_epi32(prod, 13));
  const long long packed = _mm_cvtsi128_si64(_mm_packs_epi32(v, zero));
  PixelQ4 out;
  std::memcpy(&out, &packed, 8);
  return out;
}

// Horizontal or vertical weights of the 5-tap kernel for offsets -2..2,
// adding up to exactly unity (8192 in fixed point). The table entries alone
// do not: each fixed-point entry is rounded on its own (sums 8191..8195 for
// the cubics), and the Lanczos-2 window itself sums to up to 1.019, so a flat
// image would come back with a gain error that also differs between the
// float and the fixed sampler. The nearest tap, the largest weight, absorbs
// the difference, where it disturbs the kernel's shape least; both samplers
// correct the same tap so that they stay within rounding of each other.
template <typename T>
inline void five_tap_weights(const T* k, int f, T unity, T* w) {
  w[0] = f == 0 ? k[1024] : 0;
  w[1] = k[512 + f];
  w[2] = k[f];
  w[3] = k[512 - f];
  w[4] = k[1024 - f];
  T& nearest = f <= 256 ? w[2] : w[3];
  nearest += unity - (w[0] + w[1] + w[2] + w[3] + w[4]);
}

}  // namespace

PixelQ4 ImageXfmQ4::sample(ImageQ4* img, double x, double y) {
  const bool fp = sample_arithmetic == 1;
  switch (sample_mode) {
    case 1: return nearest_sample(img, x, y);
    case 2: return fp ? bilinear_sample(img, x, y) : bilinear_sample_integer(img, x, y);
    case 3:
    case 4:
    case 5:
    case 6: return fp ? general_5_point_sample(img, x, y) : general_5_point_sample_integer(img, x, y);
    default: return zero_pixel;
  }
}

PixelQ4 ImageXfmQ4::sample_down(ImageQ4* img, double x, double y, double sx, double sy) {
  if (sample_mode >= 2 && sample_mode <= 6) return triangle_sample_down(img, x, y, sx, sy);
  return nearest_sample(img, x, y);
}

PixelQ4 ImageXfmQ4::sample_image(ImageQ4* img, double x, double y, double sx, double sy) {
  if (sx > 1.0 || sy > 1.0) return sample_down(img, x, y, sx, sy);
  return sample(img, x, y);
}

PixelQ4 ImageXfmQ4::nearest_sample(ImageQ4* img, double x, double y) {
  const double cx = x + 0.5, cy = y + 0.5;
  // Truncation toward zero: (-1, width) gives columns 0..width-1.
  if (!(cx > -1.0 && cx < img->width && cy > -1.0 && cy < img->height)) return zero_pixel;
  return img->rows[(int)cy][(int)cx];
}

PixelQ4 ImageXfmQ4::bilinear_sample(ImageQ4* img, double x, double y) {
  if (!(x >= -1.0 && x < img->width && y >= -1.0 && y < img->height)) return zero_pixel;
  const int x0 = floor_int(x), y0 = floor_int(y);
  const double fx = x - x0, fy = y - y0;
  const PixelQ4 p00 = pixel_or_zero(img, x0, y0), p10 = pixel_or_zero(img, x0 + 1, y0);
  const PixelQ4 p01 = pixel_or_zero(img, x0, y0 + 1), p11 = pixel_or_zero(img, x0 + 1, y0 + 1);
  auto mix = [fx, fy](double a, double b, double c, double d) {
    const double top = a + (b - a) * fx;
    const double bottom = c + (d - c) * fx;
    const double v = top + (bottom - top) * fy;
    return (unsigned short)((v < 32767.0 ? v : 32767.0) + 0.5);
  };
  PixelQ4 out;
  out.r = mix(p00.r, p10.r, p01.r, p11.r);
  out.g = mix(p00.g, p10.g, p01.g, p11.g);
  out.b = mix(p00.b, p10.b, p01.b, p11.b);
  out.a = mix(p00.a, p10.a, p01.a, p11.a);
  return out;
}

PixelQ4 ImageXfmQ4::bilinear_sample_integer(ImageQ4* img, double x, double y) {
  if (!(x >= -1.0 && x < img->width && y >= -1.0 && y < img->height)) return zero_pixel;
  const int x0 = floor_int(x), y0 = floor_int(y);
  const int f = fraction_steps(x, x0, 8192), g = fraction_steps(y, y0, 8192);
  PixelQ4 p00, p10, p01, p11;
  if (x0 >= 0 && x0 + 1 < img->width && y0 >= 0 && y0 + 1 < img->height) {
    const PixelQ4* top = img->rows[y0] + x0;
    const PixelQ4* bottom = img->rows[y0 + 1] + x0;
    p00 = top[0];
    p10 = top[1];
    p01 = bottom[0];
    p11 = bottom[1];
  } else {
    p00 = pixel_or_zero(img, x0, y0);
    p10 = pixel_or_zero(img, x0 + 1, y0);
    p01 = pixel_or_zero(img, x0, y0 + 1);
    p11 = pixel_or_zero(img, x0 + 1, y0 + 1);
  }
  return bilinear_mix_fixed(p00, p10, p01, p11, f, g);
}

namespace {

// The row sampler, a point at a time. All four neighbours inside (NaN is
// not): floor is truncation and the fractions come out as in double, since
// x - floor(x) is exact.
void bilinear_row_portable(ImageXfmQ4& xfm, ImageQ4* img, const float* xs, const float* ys, int n, PixelQ4* out) {
  const float last_x = (float)(img->width - 1), last_y = (float)(img->height - 1);
  for (int i = 0; i < n; i++) {
    const float x = xs[i], y = ys[i];
    if (x >= 0.0f && x < last_x && y >= 0.0f && y < last_y) {
      const int x0 = (int)x, y0 = (int)y;
      const PixelQ4* top = img->rows[y0] + x0;
      const PixelQ4* bottom = img->rows[y0 + 1] + x0;
      out[i] = bilinear_mix_fixed(top[0], top[1], bottom[0], bottom[1], (int)((x - (float)x0) * 8192.0f),
                                  (int)((y - (float)y0) * 8192.0f));
    } else {
      out[i] = xfm.bilinear_sample_integer(img, x, y);
    }
  }
}

// The same eight points at a time when all eight are inside: positions and
// fractions side by side, then bilinear_mix_fixed's steps on two points at
// once, one in each 128-bit half. Any other group goes point by point.
Q4_SIMD_TARGET_AVX2 void bilinear_row_avx2(ImageXfmQ4& xfm, ImageQ4* img, const float* xs, const float* ys, int n,
                                           PixelQ4* out) {
  const __m256 zero_ps = _mm256_setzero_ps(), scale = _mm256_set1_ps(8192.0f);
  const __m256 last_x = _mm256_set1_ps((float)(img->width - 1)), last_y = _mm256_set1_ps((float)(img->height - 1));
  const __m256i zero = _mm256_setzero_si256();
  alignas(32) int ix[8], iy[8], fx[8], fy[8];
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256 x = _mm256_loadu_ps(xs + i), y = _mm256_loadu_ps(ys + i);
    const __m256 inside = _mm256_and_ps(
        _mm256_and_ps(_mm256_cmp_ps(x, zero_ps, _CMP_GE_OQ), _mm256_cmp_ps(x, last_x, _CMP_LT_OQ)),
        _mm256_and_ps(_mm256_cmp_ps(y, zero_ps, _CMP_GE_OQ), _mm256_cmp_ps(y, last_y, _CMP_LT_OQ)));
    if (_mm256_movemask_ps(inside) != 0xff) {
      bilinear_row_portable(xfm, img, xs + i, ys + i, 8, out + i);
      continue;
    }
    const __m256i x0 = _mm256_cvttps_epi32(x), y0 = _mm256_cvttps_epi32(y);
    _mm256_store_si256((__m256i*)ix, x0);
    _mm256_store_si256((__m256i*)iy, y0);
    const __m256 frac_x = _mm256_sub_ps(x, _mm256_cvtepi32_ps(x0)), frac_y = _mm256_sub_ps(y, _mm256_cvtepi32_ps(y0));
    _mm256_store_si256((__m256i*)fx, _mm256_cvttps_epi32(_mm256_mul_ps(frac_x, scale)));
    _mm256_store_si256((__m256i*)fy, _mm256_cvttps_epi32(_mm256_mul_ps(frac_y, scale)));
    for (int k = 0; k < 8; k += 2) {
      // Each half: the pixel and its right neighbour on the top row, then
      // on the bottom row.
      const __m256i top = _mm256_inserti128_si256(
          _mm256_castsi128_si256(_mm_loadu_si128((const __m128i*)(img->rows[iy[k]] + ix[k]))),
          _mm_loadu_si128((const __m128i*)(img->rows[iy[k + 1]] + ix[k + 1])), 1);
      const __m256i bottom = _mm256_inserti128_si256(
          _mm256_castsi128_si256(_mm_loadu_si128((const __m128i*)(img->rows[iy[k] + 1] + ix[k]))),
          _mm_loadu_si128((const __m128i*)(img->rows[iy[k + 1] + 1] + ix[k + 1])), 1);
      const __m256i left = _mm256_unpacklo_epi64(top, bottom), right = _mm256_unpackhi_epi64(top, bottom);
      const __m256i f = _mm256_inserti128_si256(_mm256_set1_epi16((short)fx[k]), _mm_set1_epi16((short)fx[k + 1]), 1);
      const __m256i g = _mm256_inserti128_si256(_mm256_set1_epi16((short)fy[k]), _mm_set1_epi16((short)fy[k + 1]), 1);
      const __m256i dx = _mm256_sub_epi16(right, left);
      const __m256i lo = _mm256_mullo_epi16(dx, f), hi = _mm256_mulhi_epi16(dx, f);
      const __m256i upper = _mm256_add_epi32(_mm256_unpacklo_epi16(left, zero),
                                             _mm256_srai_epi32(_mm256_unpacklo_epi16(lo, hi), 13));
      const __m256i lower = _mm256_add_epi32(_mm256_unpackhi_epi16(left, zero),
                                             _mm256_srai_epi32(_mm256_unpackhi_epi16(lo, hi), 13));
      const __m256i dy = _mm256_packs_epi32(_mm256_sub_epi32(lower, upper), zero);
      const __m256i prod = _mm256_unpacklo_epi16(_mm256_mullo_epi16(dy, g), _mm256_mulhi_epi16(dy, g));
      const __m256i v = _mm256_packs_epi32(_mm256_add_epi32(upper, _mm256_srai_epi32(prod, 13)), zero);
      // The two results sit in the low quarter of each half.
      _mm_storeu_si128((__m128i*)(out + i + k), _mm256_castsi256_si128(_mm256_permute4x64_epi64(v, 0x08)));
    }
  }
  if (i < n) bilinear_row_portable(xfm, img, xs + i, ys + i, n - i, out + i);
}

}  // namespace

void ImageXfmQ4::bilinear_sample_integer_row(ImageQ4* img, const float* xs, const float* ys, int n, PixelQ4* out) {
  if (q4_simd_use_avx2())
    bilinear_row_avx2(*this, img, xs, ys, n, out);
  else
    bilinear_row_portable(*this, img, xs, ys, n, out);
}

namespace {

// Sums the 5 x 5 neighbourhood of (x0, y0) with separable weights: rows
// first, then the row sums vertically. Acc is double or int; for int each
// stage is shifted back by 13 bits, rounding to nearest: two flooring
// shifts would bias the result low by up to 1 + (sum of the positive
// vertical weights, 1.25 for the a = -1 cubic) levels against the float
// sampler, which rounds. Magnitudes stay below 32767 * 1.5 * 8192 * 1.25,
// well inside 32 bits.
template <typename Acc, typename W>
void five_tap_sum(const ImageQ4* img, int x0, int y0, const W* wx, const W* wy, Acc* total) {
  const bool direct = x0 - 2 >= 0 && x0 + 2 < img->width && y0 - 2 >= 0 && y0 + 2 < img->height;
  for (int ch = 0; ch < 4; ch++) total[ch] = 0;
  for (int j = 0; j < 5; j++) {
    const int r = y0 - 2 + j;
    if (wy[j] == 0 || (!direct && (r < 0 || r >= img->height))) continue;
    const PixelQ4* row = img->rows[r];
    Acc sum[4] = {0, 0, 0, 0};
    for (int i = 0; i < 5; i++) {
      const int c = x0 - 2 + i;
      if (wx[i] == 0 || (!direct && (c < 0 || c >= img->width))) continue;
      const PixelQ4& p = row[c];
      sum[0] += p.r * wx[i];
      sum[1] += p.g * wx[i];
      sum[2] += p.b * wx[i];
      sum[3] += p.a * wx[i];
    }
    for (int ch = 0; ch < 4; ch++) {
      if constexpr (std::is_integral_v<Acc>) total[ch] += ((sum[ch] + 4096) >> 13) * wy[j];
      else total[ch] += sum[ch] * wy[j];
    }
  }
}

}  // namespace

namespace {

// Both five-tap samplers: one axis of weights per direction from the given
// table (unity is its weight of one), then each channel total made a sample.
template <typename W, typename Finish>
PixelQ4 five_point_sample(const ImageQ4* img, double x, double y, const W* table, W unity, Finish finish) {
  if (!(x >= -2.0 && x < img->width + 2.0 && y >= -2.0 && y < img->height + 2.0)) return zero_pixel;
  const int x0 = floor_int(x), y0 = floor_int(y);
  W wx[5], wy[5];
  five_tap_weights(table, fraction_steps(x, x0, 512), unity, wx);
  five_tap_weights(table, fraction_steps(y, y0, 512), unity, wy);
  W total[4];
  five_tap_sum(img, x0, y0, wx, wy, total);
  PixelQ4 out;
  out.r = finish(total[0]);
  out.g = finish(total[1]);
  out.b = finish(total[2]);
  out.a = finish(total[3]);
  return out;
}

}  // namespace

PixelQ4 ImageXfmQ4::general_5_point_sample(ImageQ4* img, double x, double y) {
  return five_point_sample(img, x, y, kernel_table, 1.0, [](double v) { return clamp_round(v); });
}

PixelQ4 ImageXfmQ4::general_5_point_sample_integer(ImageQ4* img, double x, double y) {
  return five_point_sample(img, x, y, kernel_table_fixed, 8192,
                           [](int v) { return clamp_fixed((v + 4096) >> 13); });
}

namespace {

// Taps of one axis of the triangle filter: the window floor(c - s) ..
// ceil(c + s) of the unclamped footprint s, reduced to the taps whose weight
// 1 - |c - t| / s' is positive (s' the footprint clamped to 1..15) and that
// lie in 0..size-1. At most 31 taps remain.
struct TriangleAxis {
  bool whole_window_inside;
  int first;
  int count;
  double weight[32];
  double weight_sum;
};

bool triangle_axis(double c, double s, int size, TriangleAxis& axis) {
  const double lo = std::floor(c - s), hi = std::ceil(c + s);
  if (!(hi >= 0.0 && lo < size)) return false;  // also rejects NaN
  axis.whole_window_inside = lo >= 0.0 && hi <= size - 1;
  const double s_clamped = std::fmin(std::fmax(s, 1.0), 15.0);
  // Positive weights need |c - t| < s_clamped.
  double first = std::fmax(std::fmax(lo, std::floor(c - s_clamped) + 1.0), 0.0);
  double last = std::fmin(std::fmin(hi, std::ceil(c + s_clamped) - 1.0), size - 1.0);
  axis.first = 0;
  axis.count = 0;
  axis.weight_sum = 0.0;
  if (!(first <= last)) return true;  // no tap can have weight
  axis.first = (int)first;
  for (int t = axis.first; t <= (int)last && axis.count < 32; t++) {
    const double w = 1.0 - std::fabs(c - t) / s_clamped;
    axis.weight[axis.count++] = w > 0.0 ? w : 0.0;
    if (w > 0.0) axis.weight_sum += w;
  }
  return true;
}

}  // namespace

PixelQ4 ImageXfmQ4::triangle_sample_down(ImageQ4* img, double x, double y, double sx, double sy) {
  TriangleAxis ax, ay;
  if (!triangle_axis(x, sx, img->width, ax) || !triangle_axis(y, sy, img->height, ay)) return zero_pixel;
  const bool normalise = ax.whole_window_inside && ay.whole_window_inside;
  double total[4] = {0, 0, 0, 0};
  for (int j = 0; j < ay.count; j++) {
    if (ay.weight[j] <= 0.0) continue;
    const PixelQ4* row = img->rows[ay.first + j] + ax.first;
    double sum[4] = {0, 0, 0, 0};
    for (int i = 0; i < ax.count; i++) {
      const double w = ax.weight[i];
      sum[0] += w * row[i].r;
      sum[1] += w * row[i].g;
      sum[2] += w * row[i].b;
      sum[3] += w * row[i].a;
    }
    for (int ch = 0; ch < 4; ch++) {
      if (normalise) sum[ch] = ax.weight_sum != 0.0 ? sum[ch] / ax.weight_sum : 0.0;
      total[ch] += ay.weight[j] * sum[ch];
    }
  }
  // Inside: normalised by the weight sums. Across the edge: by the nominal
  // footprint, so the border darkens.
  double factor;
  if (normalise) factor = ay.weight_sum != 0.0 ? 1.0 / ay.weight_sum : 0.0;
  else factor = (1.0 / std::fmin(std::fmax(sx, 1.0), 15.0)) * (1.0 / std::fmin(std::fmax(sy, 1.0), 15.0));
  PixelQ4 out;
  out.r = clamp_round(total[0] * factor);
  out.g = clamp_round(total[1] * factor);
  out.b = clamp_round(total[2] * factor);
  out.a = clamp_round(total[3] * factor);
  return out;
}
