#include "image_scale.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <climits>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "image_convert.h"
#include "image_scale_divide.h"
#include "imagelib_kernel.h"
#include "q4_memory.h"
#include "q4_simd.h"

namespace {

// The taps of every output position of a pass are worked out once and shared,
// read-only, by all bands; each band keeps its accumulators on its own stack.
struct scale_taps {
  int stride;         // room per output in the tap arrays
  int* count;         // taps of output j
  int* index;         // input sample of each tap, clamped to the line
  int* fixed;         // 10-bit weights (byte and word images)
  double* weight;     // double weights (word32 and float images)
  int64_t* fixed_sum; // fixed weight sum of output j
  double* inverse;    // 1 / weight sum of output j, 0 when the sum is 0; 1 when not normalised
  scale_divisor* divisor;  // narrow passes: division by the weight sum, or the magnifying >> 10
  // Narrow horizontal passes of four channels (pixel_windows): outputs 2P and
  // 2P + 1 read window_count[P] windows of two adjacent input pixels each,
  // windows[P * window_stride ..], and start from window_bias[2P ..].
  int window_stride;
  int* window_count;
  struct window_pair* windows;
  int32_t* window_bias;
};

// Window q of two outputs side by side (an odd last output is paired with
// itself): each window's sample offset and its two pixels' weights as the
// low and high 16 bits of one word; zero weights past an output's windows.
struct window_pair {
  int32_t offset[2];
  int32_t weights[2];
};

}  // namespace

struct tagIMAGE_SCALER_INFO {
  const double* kernel;
  const int* kernel_fixed;
  int in_length;
  int out_length;
  double ratio;
  int radius;
  image_data* src;
  image_data* dst;
  scale_taps contributions;
  // Reducing passes, and box-kernel magnification, divide by the weight sum;
  // other magnifications use the plain weighted sum.
  bool normalise;
  // Horizontal pass over lines of two or more four-channel byte or word
  // pixels with AVX2 at hand: narrow sums get pixel windows for the vector
  // path.
  bool pixel_windows;
  // Every fixed-point sum of the pass fits 31 bits and no weight sum that
  // divides is negative, so 32-bit accumulators and the multiply-and-shift
  // division (scale_divisor) give the same results as 64-bit sums divided.
  bool narrow_sums;
  int band_count;
  bool clamp;
  double maximum;
};

namespace {

const int kMaxChannels = 64;
const int kRowChunk = 1024;  // samples accumulated at a time in a vertical pass

int clamp_index(int64_t i, int n) { return i < 0 ? 0 : (i >= n ? n - 1 : static_cast<int>(i)); }

int64_t floor_div(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

void free_if_held(void* block) {
  if (block) q4_free(block, __FILE__, __LINE__);
}

void free_taps(scale_taps& t) {
  free_if_held(t.count);
  free_if_held(t.index);
  free_if_held(t.fixed);
  free_if_held(t.weight);
  free_if_held(t.fixed_sum);
  free_if_held(t.inverse);
  free_if_held(t.divisor);
  free_if_held(t.window_count);
  free_if_held(t.windows);
  free_if_held(t.window_bias);
}

template <typename T>
T* alloc_array(int64_t n) {
  return static_cast<T*>(q4_malloc(static_cast<unsigned>(n * sizeof(T)), __FILE__, __LINE__));
}

// The taps of an output, clamped at the line ends, read one run of adjacent
// pixels, those at an end more than once: their weights add up (an integer
// sum does not depend on how its terms are grouped), and zero weights at
// either end of the run are dropped. The run is read two pixels at a time;
// an odd last pixel goes with its left neighbour at weight 0, or with a
// neighbour on either side when it is alone, so nothing outside the line is
// read. Returns the windows, or -1 when a weight is beyond 16 bits.
int output_windows(const tagIMAGE_SCALER_INFO& info, int j, int* run, window_pair* windows, int side) {
  const scale_taps& t = info.contributions;
  const int base = j * t.stride, n = t.count[j];
  int lo = n > 0 ? t.index[base] : 0, hi = n > 0 ? t.index[base + n - 1] : -1;
  for (int i = 0; i <= hi - lo; ++i) run[i] = 0;
  for (int k = 0; k < n; ++k) run[t.index[base + k] - lo] += t.fixed[base + k];
  int first = 0;
  while (lo + first <= hi && run[first] == 0) ++first;
  while (hi >= lo + first && run[hi - lo] == 0) --hi;
  const int* w = run + first;
  lo += first;
  const int length = hi - lo + 1;
  for (int i = 0; i < length; ++i)
    if (w[i] < -32767 || w[i] > 32767) return -1;
  int count = 0;
  auto add = [&](int pixel, int w0, int w1) {
    windows[count].offset[side] = 4 * pixel;
    windows[count++].weights[side] =
        static_cast<int32_t>((static_cast<uint32_t>(w0) & 0xFFFF) | (static_cast<uint32_t>(w1) << 16));
  };
  for (int i = 0; i + 1 < length; i += 2) add(lo + i, w[i], w[i + 1]);
  if (length % 2) {
    const int last = length - 1;
    if (length > 1)
      add(lo + last - 1, 0, w[last]);
    else if (lo + 1 < info.in_length)
      add(lo, w[0], 0);
    else
      add(lo - 1, 0, w[0]);
  }
  return count;
}

// Window lists of output pairs; a weight beyond 16 bits leaves the pass to
// scale_row (no windows).
bool build_windows(tagIMAGE_SCALER_INFO& info) {
  scale_taps& t = info.contributions;
  t.window_stride = (t.stride + 1) / 2;
  const int pairs = (info.out_length + 1) / 2;
  t.window_count = alloc_array<int>(pairs);
  t.windows = alloc_array<window_pair>(static_cast<int64_t>(pairs) * t.window_stride);
  t.window_bias = alloc_array<int32_t>(2 * static_cast<int64_t>(pairs));
  int* run = alloc_array<int>(t.stride);
  bool ok = t.window_count && t.windows && t.window_bias && run;
  // Words go to the multiply-add less 32768, to fit 16 signed bits; each
  // output's sum starts with what that takes off.
  const int32_t bias = info.maximum > 255 ? 32768 : 0;
  bool fits = true;
  for (int p = 0; ok && fits && p < pairs; ++p) {
    window_pair* windows = t.windows + static_cast<int64_t>(p) * t.window_stride;
    const int j0 = 2 * p, j1 = j0 + 1 < info.out_length ? j0 + 1 : j0;
    int count[2];
    for (int side = 0; side < 2; ++side) {
      count[side] = output_windows(info, side ? j1 : j0, run, windows, side);
      t.window_bias[2 * p + side] = bias * static_cast<int32_t>(t.fixed_sum[side ? j1 : j0]);
    }
    fits = count[0] >= 0 && count[1] >= 0;
    const int most = std::max(count[0], count[1]);
    for (int side = 0; fits && side < 2; ++side)
      for (int q = count[side]; q < most; ++q) {
        windows[q].offset[side] = count[side] ? windows[0].offset[side] : 0;
        windows[q].weights[side] = 0;
      }
    t.window_count[p] = most;
  }
  free_if_held(run);
  if (ok && !fits) {
    free_if_held(t.window_count);
    t.window_count = nullptr;
  }
  return ok;
}

// Positions: output j sits at input position j * ratio (computed per output,
// so long lines do not drift); taps outside the line read the nearest end but
// weigh by their true distance.
bool build_taps(tagIMAGE_SCALER_INFO& info, bool box) {
  const int r = info.radius;
  const double ratio = info.ratio;
  const bool up = info.in_length < info.out_length;
  const int unit = IMAGELIB_SAMPLES_PER_UNIT;
  const int top = r * unit;
  scale_taps& t = info.contributions;
  t.stride = up ? 2 * r + 2 : static_cast<int>(2.0 * r * ratio) + 3;
  const int64_t slots = static_cast<int64_t>(t.stride) * info.out_length;
  if (slots * static_cast<int64_t>(sizeof(double)) > 0x7fffffff) return false;
  t.count = alloc_array<int>(info.out_length);
  t.index = alloc_array<int>(slots);
  t.fixed = alloc_array<int>(slots);
  t.weight = alloc_array<double>(slots);
  t.fixed_sum = alloc_array<int64_t>(info.out_length);
  t.inverse = alloc_array<double>(info.out_length);
  t.divisor = alloc_array<scale_divisor>(info.out_length);
  if (!t.count || !t.index || !t.fixed || !t.weight || !t.fixed_sum || !t.inverse || !t.divisor) return false;
  info.normalise = !up || box;

  const int exact_ends = up ? static_cast<int>(r / ratio) + 1 : r + 1;
  const double reach = up ? r : r * ratio;
  const double step = up ? unit : unit / ratio;
  int64_t widest = 0;  // largest sum of |fixed weight| over one output
  bool negative_sum = false;
  for (int j = 0; j < info.out_length; ++j) {
    int64_t first, last;
    double c = j * ratio;
    int64_t fixed_c = 0;
    const bool fixed_up = up && info.kernel_fixed;
    if (fixed_up) {
      // Positions in 1/512 sample: trunc(j * 512 * in / out), exact in integers.
      fixed_c = static_cast<int64_t>(j) * unit * info.in_length / info.out_length;
      first = -floor_div(-(fixed_c - top), unit);
      last = floor_div(fixed_c + top, unit);
    } else if (j < exact_ends) {
      first = static_cast<int64_t>(std::ceil(c - reach));
      last = static_cast<int64_t>(std::floor(c + reach));
    } else {
      first = static_cast<int64_t>(c - reach) + 1;
      last = static_cast<int64_t>(c + reach);
    }
    if (last - first + 1 > t.stride) last = first + t.stride - 1;
    const int base = j * t.stride;
    int64_t fixed_sum = 0, abs_sum = 0;
    double sum = 0.0;
    int n = 0;
    for (int64_t i = first; i <= last; ++i, ++n) {
      int k;
      if (fixed_up) {
        const int64_t d = i * unit - fixed_c;
        k = static_cast<int>(d < 0 ? -d : d);
      } else {
        k = static_cast<int>((i - c) * step);
        if (k < 0) k = -k;
      }
      if (k > top) k = top;
      t.index[base + n] = clamp_index(i, info.in_length);
      t.weight[base + n] = info.kernel[k];
      t.fixed[base + n] = info.kernel_fixed ? info.kernel_fixed[k] : 0;
      fixed_sum += t.fixed[base + n];
      abs_sum += t.fixed[base + n] < 0 ? -t.fixed[base + n] : t.fixed[base + n];
      sum += info.kernel[k];
    }
    t.count[j] = n;
    if (abs_sum > widest) widest = abs_sum;
    t.fixed_sum[j] = fixed_sum;
    if (fixed_sum < 0) negative_sum = true;
    t.inverse[j] = !info.normalise ? 1.0 : (sum == 0.0 ? 0.0 : 1.0 / sum);
  }
  info.narrow_sums =
      widest * static_cast<int64_t>(info.maximum) <= INT32_MAX && !(info.normalise && negative_sum);
  // A sum within 31 bits has a weight sum within 31 bits too.
  if (!info.narrow_sums) return true;
  for (int j = 0; j < info.out_length; ++j)
    t.divisor[j] =
        info.normalise ? scale_divisor_for(static_cast<uint32_t>(t.fixed_sum[j])) : scale_divisor{1, 10};
  return !info.pixel_windows || build_windows(info);
}

// The end of output j's sums, its constants read once: 32-bit sums of
// narrow passes end in one multiply and shift (the magnifying >> 10 is one
// too), 64-bit sums divide, double sums multiply by the inverse.
template <typename T, typename Acc>
struct output_finish;

template <typename T>
struct output_finish<T, int32_t> {
  scale_divisor divisor;
  uint32_t maximum;
  output_finish(const tagIMAGE_SCALER_INFO* info, int j)
      : divisor(info->contributions.divisor[j]), maximum(static_cast<uint32_t>(info->maximum)) {}
  T operator()(int32_t acc) const {
    const uint32_t v = acc > 0 ? scale_divide(static_cast<uint32_t>(acc), divisor) : 0;
    return static_cast<T>(v < maximum ? v : maximum);
  }
};

template <typename T>
struct output_finish<T, int64_t> {
  int64_t sum;
  bool normalise;
  int64_t maximum;
  output_finish(const tagIMAGE_SCALER_INFO* info, int j)
      : sum(info->contributions.fixed_sum[j]),
        normalise(info->normalise),
        maximum(static_cast<int64_t>(info->maximum)) {}
  T operator()(int64_t acc) const {
    int64_t v;
    if (normalise)
      v = sum == 0 ? 0 : acc / sum;
    else
      v = acc < 0 ? 0 : acc >> 10;
    if (v < 0) v = 0;
    return static_cast<T>(v > maximum ? maximum : v);
  }
};

template <typename T>
struct output_finish<T, double> {
  double inverse;
  bool clamp;
  double maximum;
  output_finish(const tagIMAGE_SCALER_INFO* info, int j)
      : inverse(info->contributions.inverse[j]), clamp(info->clamp), maximum(info->maximum) {}
  T operator()(double acc) const {
    double v = inverse * acc;
    if (clamp) {
      if (!(v > 0.0)) v = 0.0;
      if (v > maximum) v = maximum;
    }
    return static_cast<T>(v);
  }
};

// One output row of a horizontal pass. An integer Acc selects the 10-bit
// path. CH is the channel count when known at compile time (1, 3, 4), else 0.
template <typename T, typename Acc, int CH>
void scale_row(const tagIMAGE_SCALER_INFO* info, const T* in, T* out, int channels) {
  typedef Acc acc_t;
  constexpr bool Fixed = std::is_integral<Acc>::value;
  const scale_taps& t = info->contributions;
  const int ch = CH ? CH : channels;
  for (int j = 0; j < info->out_length; ++j) {
    const int base = j * t.stride;
    const int n = t.count[j];
    for (int c0 = 0; c0 < ch; c0 += kMaxChannels) {
      const int nc = CH ? CH : (ch - c0 < kMaxChannels ? ch - c0 : kMaxChannels);
      acc_t acc[CH ? CH : kMaxChannels] = {};
      for (int k = 0; k < n; ++k) {
        const T* p = in + static_cast<int64_t>(t.index[base + k]) * ch + c0;
        const acc_t w = Fixed ? static_cast<acc_t>(t.fixed[base + k]) : static_cast<acc_t>(t.weight[base + k]);
        for (int c = 0; c < nc; ++c) acc[c] += w * static_cast<acc_t>(p[c]);
      }
      T* o = out + static_cast<int64_t>(j) * ch + c0;
      const output_finish<T, Acc> finish(info, j);
      for (int c = 0; c < nc; ++c) o[c] = finish(acc[c]);
    }
  }
}

// Four-channel pixels of a narrow pass, two outputs a vector: each half
// holds one output's window of two whole input pixels, channel by channel
// in 16-bit pairs that one multiply-add weighs and sums into the output's
// four 32-bit sums. Integer sums do not depend on the order of the
// additions, so this gives scale_row's results.
Q4_SIMD_TARGET_AVX2 inline __m256i interleave_pixels(__m256i v) {
  const __m256i pairs = _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15,
                                         0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
  return _mm256_shuffle_epi8(v, pairs);
}

Q4_SIMD_TARGET_AVX2 inline __m256i load_windows(const uint16_t* a, const uint16_t* b) {
  const __m256i v = _mm256_setr_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)),
                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)));
  return _mm256_xor_si256(interleave_pixels(v), _mm256_set1_epi16(-32768));
}

Q4_SIMD_TARGET_AVX2 inline __m256i load_windows(const uint8_t* a, const uint8_t* b) {
  const __m128i v = _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)),
                                       _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b)));
  return interleave_pixels(_mm256_cvtepu8_epi16(v));
}

// Values are within the type: packing saturates nothing.
Q4_SIMD_TARGET_AVX2 inline void store_pixel_pair(uint16_t* out, __m256i v, bool both) {
  const __m128i packed = _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packus_epi32(v, v), 0x08));
  if (both)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), packed);
  else
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), packed);
}

Q4_SIMD_TARGET_AVX2 inline void store_pixel_pair(uint8_t* out, __m256i v, bool both) {
  const __m256i words = _mm256_packus_epi32(v, v);
  const __m256i bytes =
      _mm256_permutevar8x32_epi32(_mm256_packus_epi16(words, words), _mm256_setr_epi32(0, 4, 0, 0, 0, 0, 0, 0));
  const int64_t packed = _mm_cvtsi128_si64(_mm256_castsi256_si128(bytes));
  std::memcpy(out, &packed, both ? 8 : 4);
}

// Two 32-bit values, one to each half of a vector.
Q4_SIMD_TARGET_AVX2 inline __m256i spread_pair(const int32_t* pair) {
  const __m128i two = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pair));
  return _mm256_permutevar8x32_epi32(_mm256_castsi128_si256(two), _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1));
}

template <typename T, bool Normalise>
Q4_SIMD_TARGET_AVX2 void scale_row4_avx2(const tagIMAGE_SCALER_INFO* info, const T* in, T* out) {
  const scale_taps& t = info->contributions;
  const int stride = t.window_stride, outputs = info->out_length;
  const int* count = t.window_count;
  const window_pair* windows = t.windows;
  const int32_t* bias = t.window_bias;
  const scale_divisor* divisor = t.divisor;
  const __m256i zero = _mm256_setzero_si256();
  const __m256i top = _mm256_set1_epi32(static_cast<int32_t>(info->maximum));
  for (int j = 0; j < outputs; j += 2, windows += stride, bias += 2, out += 8) {
    __m256i acc = spread_pair(bias);
    for (int q = 0; q < count[j / 2]; ++q) {
      const __m256i pixels = load_windows(in + windows[q].offset[0], in + windows[q].offset[1]);
      acc = _mm256_add_epi32(acc, _mm256_madd_epi16(pixels, spread_pair(windows[q].weights)));
    }
    acc = _mm256_max_epi32(acc, zero);
    const bool both = j + 1 < outputs;
    __m256i v;
    if (Normalise) {
      // 64-bit products of the even and the odd sums, shifted, interleaved.
      const scale_divisor d0 = divisor[j], d1 = divisor[both ? j + 1 : j];
      const __m256i m = _mm256_setr_epi64x(d0.multiplier, d0.multiplier, d1.multiplier, d1.multiplier);
      const __m256i s = _mm256_setr_epi64x(d0.shift, d0.shift, d1.shift, d1.shift);
      const __m256i even = _mm256_srlv_epi64(_mm256_mul_epu32(acc, m), s);
      const __m256i odd = _mm256_srlv_epi64(_mm256_mul_epu32(_mm256_srli_epi64(acc, 32), m), s);
      v = _mm256_blend_epi32(even, _mm256_slli_epi64(odd, 32), 0xAA);
    } else {
      v = _mm256_srli_epi32(acc, 10);
    }
    store_pixel_pair(out, _mm256_min_epi32(v, top), both);
  }
}

template <typename T, typename Acc>
void horizontal_rows(const tagIMAGE_SCALER_INFO* info, int first, int last) {
  const int ch = info->src->channels;
  const bool pixels4_avx2 = info->contributions.window_count && q4_simd_use_avx2();
  for (int y = first; y <= last; ++y) {
    const T* in = reinterpret_cast<const T*>(image_row(info->src, y));
    T* out = reinterpret_cast<T*>(image_row(info->dst, y));
    if constexpr (std::is_same<Acc, int32_t>::value) {
      if (pixels4_avx2) {
        info->normalise ? scale_row4_avx2<T, true>(info, in, out) : scale_row4_avx2<T, false>(info, in, out);
        continue;
      }
    }
    switch (ch) {
      case 1: scale_row<T, Acc, 1>(info, in, out, ch); break;
      case 3: scale_row<T, Acc, 3>(info, in, out, ch); break;
      case 4: scale_row<T, Acc, 4>(info, in, out, ch); break;
      default: scale_row<T, Acc, 0>(info, in, out, ch); break;
    }
  }
}

// Output rows of a vertical pass: whole input rows weighted and summed, so
// every access runs along contiguous memory. Narrow passes are compiled for
// AVX2 and for baseline x86-64 (below): with the output's constants held
// outside the loops, where stores to byte images could not be proved not to
// change them, the compiler widens the multiply-add and the division alike.
template <typename T, typename Acc>
Q4_SIMD_BODY void vertical_rows(const tagIMAGE_SCALER_INFO* info, int first, int last) {
  typedef Acc acc_t;
  constexpr bool Fixed = std::is_integral<Acc>::value;
  const scale_taps& t = info->contributions;
  const int samples = info->src->width * info->src->channels;
  acc_t acc[kRowChunk];
  for (int j = first; j <= last; ++j) {
    const int base = j * t.stride;
    const int n = t.count[j];
    const output_finish<T, Acc> finish(info, j);
    T* out = reinterpret_cast<T*>(image_row(info->dst, j));
    for (int x0 = 0; x0 < samples; x0 += kRowChunk) {
      const int m = samples - x0 < kRowChunk ? samples - x0 : kRowChunk;
      for (int x = 0; x < m; ++x) acc[x] = 0;
      for (int k = 0; k < n; ++k) {
        const T* in = reinterpret_cast<const T*>(image_row(info->src, t.index[base + k])) + x0;
        const acc_t w = Fixed ? static_cast<acc_t>(t.fixed[base + k]) : static_cast<acc_t>(t.weight[base + k]);
        for (int x = 0; x < m; ++x) acc[x] += w * static_cast<acc_t>(in[x]);
      }
      for (int x = 0; x < m; ++x) out[x0 + x] = finish(acc[x]);
    }
  }
}

Q4_SIMD_BODY void vertical_narrow_bytes_body(const tagIMAGE_SCALER_INFO* info, int first, int last) {
  vertical_rows<uint8_t, int32_t>(info, first, last);
}
Q4_SIMD_DISPATCH(void, vertical_narrow_bytes, (const tagIMAGE_SCALER_INFO* info, int first, int last),
                 (info, first, last))

Q4_SIMD_BODY void vertical_narrow_words_body(const tagIMAGE_SCALER_INFO* info, int first, int last) {
  vertical_rows<uint16_t, int32_t>(info, first, last);
}
Q4_SIMD_DISPATCH(void, vertical_narrow_words, (const tagIMAGE_SCALER_INFO* info, int first, int last),
                 (info, first, last))

}  // namespace

void image_scale_horizontal_int(void* object, int first, int last) {
  const tagIMAGE_SCALER_INFO* info = static_cast<const tagIMAGE_SCALER_INFO*>(object);
  const bool byte = info->src->pixel_type == IMAGE_PIXEL_BYTE;
  if (info->narrow_sums)
    byte ? horizontal_rows<uint8_t, int32_t>(info, first, last) : horizontal_rows<uint16_t, int32_t>(info, first, last);
  else
    byte ? horizontal_rows<uint8_t, int64_t>(info, first, last) : horizontal_rows<uint16_t, int64_t>(info, first, last);
}

void image_scale_vertical_int(void* object, int first, int last) {
  const tagIMAGE_SCALER_INFO* info = static_cast<const tagIMAGE_SCALER_INFO*>(object);
  const bool byte = info->src->pixel_type == IMAGE_PIXEL_BYTE;
  if (info->narrow_sums)
    byte ? vertical_narrow_bytes(info, first, last) : vertical_narrow_words(info, first, last);
  else
    byte ? vertical_rows<uint8_t, int64_t>(info, first, last) : vertical_rows<uint16_t, int64_t>(info, first, last);
}

void image_scale_horizontal(void* object, int first, int last) {
  const tagIMAGE_SCALER_INFO* info = static_cast<const tagIMAGE_SCALER_INFO*>(object);
  if (info->src->pixel_type == IMAGE_PIXEL_WORD32)
    horizontal_rows<uint32_t, double>(info, first, last);
  else
    horizontal_rows<float, double>(info, first, last);
}

void image_scale_vertical(void* object, int first, int last) {
  const tagIMAGE_SCALER_INFO* info = static_cast<const tagIMAGE_SCALER_INFO*>(object);
  if (info->src->pixel_type == IMAGE_PIXEL_WORD32)
    vertical_rows<uint32_t, double>(info, first, last);
  else
    vertical_rows<float, double>(info, first, last);
}

namespace {

// One pass of src into dst along one axis; the other axis already agrees.
bool scale_pass(image_data* src, image_data* dst, bool horizontal, const ImagelibKernel& kernel, bool clamp) {
  const bool fixed = src->pixel_type == IMAGE_PIXEL_BYTE || src->pixel_type == IMAGE_PIXEL_WORD;
  tagIMAGE_SCALER_INFO info{};
  info.kernel = kernel.table;
  info.kernel_fixed = fixed ? kernel.fixed_table : nullptr;
  info.in_length = horizontal ? src->width : src->height;
  info.out_length = horizontal ? dst->width : dst->height;
  info.ratio = static_cast<double>(info.in_length) / info.out_length;
  info.radius = kernel.radius;
  info.src = src;
  info.dst = dst;
  info.clamp = clamp;
  info.maximum = image_full_scale(src->pixel_type);
  info.band_count = horizontal ? src->height : dst->height;
  info.pixel_windows = horizontal && fixed && src->channels == 4 && src->width > 1 && q4_simd_use_avx2();
  const bool ok = build_taps(info, kernel.normalises_magnification());
  if (ok) {
    mp_worker_fn worker = horizontal ? (fixed ? image_scale_horizontal_int : image_scale_horizontal)
                                     : (fixed ? image_scale_vertical_int : image_scale_vertical);
    imagelib_dispatch(worker, info.band_count, &info);
  }
  free_taps(info.contributions);
  return ok;
}

}  // namespace

bool image_scale(image_data* src, image_data* dst, int kernel_type, bool clamp_float) {
  const ImagelibKernel kernel(kernel_type, IMAGELIB_EDGE_CLAMP);
  return image_scale_with_kernel(src, dst, kernel, clamp_float);
}

bool image_scale_with_kernel(image_data* src, image_data* dst, const ImagelibKernel& kernel, bool clamp_float) {
  if (image_data_same_layout(src, dst)) return image_data_copy(src, dst) != 0;
  if (!kernel.valid) return false;
  if (!src || !dst || !src->pixels || !dst->pixels) return false;
  if (src->channels != dst->channels || src->pixel_type != dst->pixel_type) return false;
  if (image_sample_bytes(src->pixel_type) == 0) return false;
  const bool clamp = !(src->pixel_type == IMAGE_PIXEL_FLOAT && !clamp_float);

  // The pass with the smaller scale factor goes first, keeping the
  // intermediate small.
  const bool vertical_first =
      static_cast<int64_t>(src->width) * dst->height < static_cast<int64_t>(dst->width) * src->height;
  const bool same_width = src->width == dst->width, same_height = src->height == dst->height;
  // A pass that keeps its length would be a copy: skip it and run the other
  // pass straight from src into dst.
  if (same_width) return scale_pass(src, dst, false, kernel, clamp);
  if (same_height) return scale_pass(src, dst, true, kernel, clamp);

  image_data* mid = vertical_first ? image_data_create(src->width, dst->height, src->channels, src->pixel_type, 1)
                                   : image_data_create(dst->width, src->height, src->channels, src->pixel_type, 1);
  if (!mid) return false;
  bool ok = scale_pass(src, mid, !vertical_first, kernel, clamp);
  if (ok) ok = scale_pass(mid, dst, vertical_first, kernel, clamp);
  image_data_delete(mid);
  return ok;
}

bool image_general_copy(image_data* src, image_data* dst, int channel_mode, int kernel_type, bool clamp_float) {
  if (image_data_same_layout(src, dst)) return image_data_copy(src, dst) != 0;
  if (!src || !dst) return false;
  if (src->width == dst->width && src->height == dst->height)
    return image_convert(src, dst, true, channel_mode, 0.0f, 1.0f);
  if (src->pixel_type == dst->pixel_type && src->channels == dst->channels)
    return image_scale(src, dst, kernel_type, clamp_float);
  image_data* tmp = image_data_create(src->width, src->height, dst->channels, dst->pixel_type, 1);
  if (!tmp) return false;
  bool ok = image_convert(src, tmp, true, channel_mode, 0.0f, 1.0f);
  if (ok) ok = image_scale(tmp, dst, kernel_type, clamp_float);
  image_data_delete(tmp);
  return ok;
}
