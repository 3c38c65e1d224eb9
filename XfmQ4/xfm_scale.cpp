// Separable whole-image scaling of ImageXfmQ4: a horizontal pass into an
// intermediate image, then a vertical pass into the target. The tap lists of
// a pass (sources clamped to the line, table weights, normalisation) are
// worked out once per pass, so the band workers only multiply and add. The
// first pass runs in bands of source rows, the second in bands of target
// rows, so every band writes whole rows.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <new>

#include <immintrin.h>

#include "ImageXfmQ4.h"
#include "q4_memory.h"
#include "q4_simd.h"

namespace {

// Four channel sums in two SSE2 registers (r, g) and (b, a); per channel the
// same double arithmetic as a scalar sum.
struct ChannelSums {
  __m128d rg = _mm_setzero_pd();
  __m128d ba = _mm_setzero_pd();

  void add(const PixelQ4& p, double weight) {
    long long bits;
    std::memcpy(&bits, &p, 8);
    const __m128i wide = _mm_unpacklo_epi16(_mm_cvtsi64_si128(bits), _mm_setzero_si128());
    const __m128d w = _mm_set1_pd(weight);
    rg = _mm_add_pd(rg, _mm_mul_pd(w, _mm_cvtepi32_pd(wide)));
    ba = _mm_add_pd(ba, _mm_mul_pd(w, _mm_cvtepi32_pd(_mm_unpackhi_epi64(wide, wide))));
  }

  // Sum times norm, clamped to 0..32767, rounded by adding 0.5.
  PixelQ4 store(double norm) const {
    const __m128d n = _mm_set1_pd(norm), lo = _mm_setzero_pd(), hi = _mm_set1_pd(32767.0), half = _mm_set1_pd(0.5);
    const __m128d a = _mm_add_pd(_mm_min_pd(_mm_max_pd(_mm_mul_pd(rg, n), lo), hi), half);
    const __m128d b = _mm_add_pd(_mm_min_pd(_mm_max_pd(_mm_mul_pd(ba, n), lo), hi), half);
    const __m128i v = _mm_unpacklo_epi64(_mm_cvttpd_epi32(a), _mm_cvttpd_epi32(b));
    const long long packed = _mm_cvtsi128_si64(_mm_packs_epi32(v, v));
    PixelQ4 out;
    std::memcpy(&out, &packed, 8);
    return out;
  }
};

// The same with the whole pixel in one AVX2 register: each lane does what
// its channel does above, in the same order, so both give the same bits.
struct PixelSums {
  __m256d sum;

  Q4_SIMD_TARGET_AVX2 PixelSums() : sum(_mm256_setzero_pd()) {}

  Q4_SIMD_TARGET_AVX2 void add(const PixelQ4& p, double weight) {
    const __m128i wide = _mm_cvtepu16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&p)));
    sum = _mm256_add_pd(sum, _mm256_mul_pd(_mm256_set1_pd(weight), _mm256_cvtepi32_pd(wide)));
  }

  Q4_SIMD_TARGET_AVX2 PixelQ4 store(double norm) const {
    const __m256d lo = _mm256_setzero_pd(), hi = _mm256_set1_pd(32767.0), half = _mm256_set1_pd(0.5);
    const __m256d scaled = _mm256_mul_pd(sum, _mm256_set1_pd(norm));
    const __m256d v = _mm256_add_pd(_mm256_min_pd(_mm256_max_pd(scaled, lo), hi), half);
    const __m128i i = _mm256_cvttpd_epi32(v);
    PixelQ4 out;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(&out), _mm_packs_epi32(i, i));
    return out;
  }
};

// A pass's tap lists, as the band workers read them (see ScaleTaps).
struct TapLists {
  const int* first;
  const int* source;
  const double* weight;
  const double* norm;
};

// Outputs go kGroup at a time: each keeps its own sum and adds its taps in
// their order, as alone, and no output's additions wait on another's.
const int kGroup = 4;

template <typename Sums>
Q4_SIMD_BODY void scale_line_with(const TapLists& taps, int dst_size, const PixelQ4* src, PixelQ4* dst) {
  int i = 0;
  for (; i + kGroup <= dst_size; i += kGroup) {
    const int* first = taps.first + i;
    Sums sums[kGroup];
    int shared = first[1] - first[0];
    for (int g = 1; g < kGroup; g++) shared = std::min(shared, first[g + 1] - first[g]);
    for (int k = 0; k < shared; k++)
      for (int g = 0; g < kGroup; g++) sums[g].add(src[taps.source[first[g] + k]], taps.weight[first[g] + k]);
    for (int g = 0; g < kGroup; g++) {
      for (int k = first[g] + shared; k < first[g + 1]; k++) sums[g].add(src[taps.source[k]], taps.weight[k]);
      dst[i + g] = sums[g].store(taps.norm[i + g]);
    }
  }
  for (; i < dst_size; i++) {
    Sums sums;
    for (int k = taps.first[i]; k < taps.first[i + 1]; k++) sums.add(src[taps.source[k]], taps.weight[k]);
    dst[i] = sums.store(taps.norm[i]);
  }
}

// An enlarging output (norm 1) whose weights are all whole numbers k of
// 1/512, as every tent weight is, has an exact double sum: it is S / 512 for
// the integer S = sum of k p over its taps, and with |k| <= 512, p < 65536
// and at most 3 taps |S| < 2^27. Clamping S / 512 to 0..32767, adding 0.5
// and truncating then equals clamp((S + 256) >> 9, 0, 32767), so integers
// give the same bits without the round trip through double.
const int kFixedOne = 512;
const int kMaxFixedTaps = 3;

bool fixed_weights(const TapLists& taps, int i, int* k) {
  const int k0 = taps.first[i], count = taps.first[i + 1] - k0;
  if (taps.norm[i] != 1.0 || count < 2 || count > kMaxFixedTaps) return false;
  for (int j = 0; j < count; j++) {
    const double scaled = taps.weight[k0 + j] * kFixedOne;
    if (!(scaled >= -kFixedOne && scaled <= kFixedOne)) return false;
    k[j] = (int)scaled;
    if (k[j] != scaled) return false;
  }
  return true;
}

// The rounded, clamped channel of a fixed sum that already holds the 256.
Q4_SIMD_BODY unsigned short fixed_channel(int sum) {
  sum >>= 9;
  return (unsigned short)(sum < 0 ? 0 : (sum > 32767 ? 32767 : sum));
}

// Fixed taps of a run of outputs along a line, each output padded to
// kMaxFixedTaps taps by zero weights on its last source: they add nothing,
// and every output then takes the same steps. Tap j of output i is
// source[j][i], weight[j][i], so neighbouring outputs' weights load together.
// A tent output takes 3 taps only where it sits on a source (at least the
// first and the last of a line); `taps`, the most of any output, lets a run
// without one skip the padding.
const int kRun = 256;
struct FixedRun {
  int taps;
  int source[kMaxFixedTaps][kRun];
  int weight[kMaxFixedTaps][kRun];
};

bool fixed_run(const TapLists& taps, int from, int count, FixedRun& run) {
  run.taps = 0;
  for (int i = 0; i < count; i++) {
    int k[kMaxFixedTaps];
    if (!fixed_weights(taps, from + i, k)) return false;
    const int k0 = taps.first[from + i], n = taps.first[from + i + 1] - k0;
    run.taps = std::max(run.taps, n);
    for (int j = 0; j < kMaxFixedTaps; j++) {
      run.source[j][i] = taps.source[k0 + std::min(j, n - 1)];
      run.weight[j][i] = j < n ? k[j] : 0;
    }
  }
  return true;
}

// Outputs from..count-1 of the run.
void fixed_line_portable(const FixedRun& run, int from, int count, const PixelQ4* src, PixelQ4* dst) {
  const unsigned short* in = reinterpret_cast<const unsigned short*>(src);
  unsigned short* out = reinterpret_cast<unsigned short*>(dst);
  for (int i = from; i < count; i++)
    for (int c = 0; c < 4; c++) {
      int sum = kFixedOne / 2;
      for (int j = 0; j < kMaxFixedTaps; j++) sum += run.weight[j][i] * in[4 * run.source[j][i] + c];
      out[4 * i + c] = fixed_channel(sum);
    }
}

// Two outputs a register, four 32-bit channels each; the compiler keeps the
// loop above scalar.
template <int Taps>
Q4_SIMD_TARGET_AVX2 void fixed_line_avx2(const FixedRun& run, int count, const PixelQ4* src, PixelQ4* dst) {
  const __m256i spread = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
  const __m256i top = _mm256_set1_epi16(32767);
  int i = 0;
  for (; i + 2 <= count; i += 2) {
    __m256i sum = _mm256_set1_epi32(kFixedOne / 2);
    for (int j = 0; j < Taps; j++) {
      const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + run.source[j][i]));
      const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + run.source[j][i + 1]));
      const __m128i pair = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&run.weight[j][i]));
      const __m256i weights = _mm256_permutevar8x32_epi32(_mm256_castsi128_si256(pair), spread);
      sum = _mm256_add_epi32(sum, _mm256_mullo_epi32(_mm256_cvtepu16_epi32(_mm_unpacklo_epi64(a, b)), weights));
    }
    // packus clamps below at 0, the min above at 32767.
    const __m256i shifted = _mm256_srai_epi32(sum, 9);
    const __m256i words = _mm256_min_epu16(_mm256_packus_epi32(shifted, shifted), top);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                     _mm256_castsi256_si128(_mm256_permute4x64_epi64(words, 0x08)));
  }
  fixed_line_portable(run, i, count, src, dst);
}

// Channels from..n-1 of the taps' lines blended into out.
template <int Taps>
void blend_fixed(const unsigned short* const* in, const int* k, int from, int n, unsigned short* __restrict out) {
  const unsigned short* __restrict line[Taps];
  int weight[Taps];
  for (int j = 0; j < Taps; j++) {
    line[j] = in[j];
    weight[j] = k[j];
  }
  for (int x = from; x < n; x++) {
    int sum = kFixedOne / 2;
    for (int j = 0; j < Taps; j++) sum += weight[j] * line[j][x];
    out[x] = fixed_channel(sum);
  }
}

void blend_lines_portable(const unsigned short* const* in, const int* k, int taps, int from, int n,
                          unsigned short* out) {
  if (taps == 2)
    blend_fixed<2>(in, k, from, n, out);
  else
    blend_fixed<3>(in, k, from, n, out);
}

// Sixteen channels a step, two taps to one multiply-add: the channels are
// taken as signed p - 32768 so that any 16-bit value fits, and the bias puts
// back 32768 times the weights' sum (and the 256 that rounds).
template <bool Three>
Q4_SIMD_TARGET_AVX2 void blend_lines_avx2(const unsigned short* const* in, const int* k, int n,
                                          unsigned short* out) {
  const int k2 = Three ? k[2] : 0;
  const __m256i flip = _mm256_set1_epi16(-32768), top = _mm256_set1_epi16(32767);
  const __m256i w01 = _mm256_set1_epi32((int)(((unsigned)k[1] << 16) | ((unsigned)k[0] & 0xffff)));
  const __m256i w2 = _mm256_set1_epi32(k2 & 0xffff);
  const __m256i bias = _mm256_set1_epi32(kFixedOne / 2 + 32768 * (k[0] + k[1] + k2));
  int x = 0;
  for (; x + 16 <= n; x += 16) {
    const __m256i a = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in[0] + x)), flip);
    const __m256i b = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in[1] + x)), flip);
    __m256i lo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), w01), bias);
    __m256i hi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), w01), bias);
    if (Three) {
      const __m256i c = _mm256_xor_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in[2] + x)), flip);
      lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(c, c), w2));
      hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(c, c), w2));
    }
    // packus clamps below at 0 and keeps the channel order within each half.
    const __m256i words = _mm256_packus_epi32(_mm256_srai_epi32(lo, 9), _mm256_srai_epi32(hi, 9));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), _mm256_min_epu16(words, top));
  }
  blend_lines_portable(in, k, Three ? 3 : 2, x, n, out);
}

// n channels of the taps' lines blended into out; taps is 2 or 3.
void blend_lines(const unsigned short* const* in, const int* k, int taps, int n, unsigned short* out) {
  if (!q4_simd_use_avx2())
    blend_lines_portable(in, k, taps, 0, n, out);
  else if (taps == 2)
    blend_lines_avx2<false>(in, k, n, out);
  else
    blend_lines_avx2<true>(in, k, n, out);
}

// Output rows first..last, each written once along its whole width.
template <typename Sums>
Q4_SIMD_BODY void scale_rows_with(const TapLists& taps, int first, int last, int width, PixelQ4* const* in,
                                  PixelQ4* const* out) {
  for (int i = first; i <= last; i++) {
    PixelQ4* row = out[i];
    const int k0 = taps.first[i], k1 = taps.first[i + 1];
    int fixed[kMaxFixedTaps];
    if (fixed_weights(taps, i, fixed)) {
      const unsigned short* lines[kMaxFixedTaps];
      for (int k = k0; k < k1; k++) lines[k - k0] = reinterpret_cast<const unsigned short*>(in[taps.source[k]]);
      blend_lines(lines, fixed, k1 - k0, 4 * width, reinterpret_cast<unsigned short*>(row));
      continue;
    }
    const double norm = taps.norm[i];
    int x = 0;
    for (; x + kGroup <= width; x += kGroup) {
      Sums sums[kGroup];
      for (int k = k0; k < k1; k++) {
        const PixelQ4* line = in[taps.source[k]] + x;
        for (int g = 0; g < kGroup; g++) sums[g].add(line[g], taps.weight[k]);
      }
      for (int g = 0; g < kGroup; g++) row[x + g] = sums[g].store(norm);
    }
    for (; x < width; x++) {
      Sums sums;
      for (int k = k0; k < k1; k++) sums.add(in[taps.source[k]][x], taps.weight[k]);
      row[x] = sums.store(norm);
    }
  }
}

Q4_SIMD_TARGET_AVX2 void scale_line_avx2(const TapLists& taps, int dst_size, const PixelQ4* src, PixelQ4* dst) {
  scale_line_with<PixelSums>(taps, dst_size, src, dst);
}

Q4_SIMD_TARGET_AVX2 void scale_rows_avx2(const TapLists& taps, int first, int last, int width, PixelQ4* const* in,
                                         PixelQ4* const* out) {
  scale_rows_with<PixelSums>(taps, first, last, width, in, out);
}

// Rows first..last of `from` into `to`, the first `pixels` pixels of each.
void copy_rows(ImageQ4* to, const ImageQ4* from, int first, int last, int pixels) {
  for (int y = first; y <= last; y++) std::memcpy(to->rows[y], from->rows[y], (size_t)pixels * sizeof(PixelQ4));
}

}  // namespace

bool ImageXfmQ4::build_scale_taps(bool reduce) {
  const int n = scale_dst_size, size = scale_src_size;
  const double r = scale_radius;
  const double reach = reduce ? r * scale_ratio : r;
  const double inverse = reduce ? 1.0 / scale_ratio : 1.0;
  // A single output takes the mean of the whole line.
  const bool mean = reduce && n == 1;
  auto span = [&](int i, int& lo, int& hi) {
    const double c = i * scale_ratio;
    lo = mean ? 0 : (int)std::ceil(c - reach);
    hi = mean ? size - 1 : (int)std::floor(c + reach);
  };
  long long total = 0;
  for (int i = 0; i < n; i++) {
    int lo, hi;
    span(i, lo, hi);
    total += hi - lo + 1;
  }
  const long long bytes = total * (long long)(sizeof(double) + sizeof(int)) +
                          (long long)n * (sizeof(double) + sizeof(int)) + sizeof(int);
  if (bytes > UINT_MAX) return false;
  char* block = static_cast<char*>(q4_malloc((unsigned)bytes, __FILE__, __LINE__));
  if (!block) return false;
  scale_taps.tap_weight = reinterpret_cast<double*>(block);
  scale_taps.tap_norm = scale_taps.tap_weight + total;
  scale_taps.tap_first = reinterpret_cast<int*>(scale_taps.tap_norm + n);
  scale_taps.tap_source = scale_taps.tap_first + n + 1;

  int k = 0;
  for (int i = 0; i < n; i++) {
    const double c = i * scale_ratio;
    int lo, hi;
    span(i, lo, hi);
    scale_taps.tap_first[i] = k;
    double weight_sum = 0.0;
    for (int t = lo; t <= hi; t++, k++) {
      double w = 1.0;
      if (!mean) {
        int index = (int)(inverse * (t - c) * 512.0);
        index = index < 0 ? -index : index;
        w = scale_kernel[index < 1536 ? index : 1536];
      }
      scale_taps.tap_weight[k] = w;
      scale_taps.tap_source[k] = t < 0 ? 0 : (t >= size ? size - 1 : t);
      weight_sum += w;
    }
    // Enlarging passes use the table weights as they are.
    scale_taps.tap_norm[i] = !reduce ? 1.0 : (weight_sum != 0.0 ? 1.0 / weight_sum : 0.0);
  }
  scale_taps.tap_first[n] = k;
  return true;
}

void ImageXfmQ4::free_scale_taps() {
  if (scale_taps.tap_weight) q4_free(scale_taps.tap_weight, __FILE__, __LINE__);
  scale_taps = ScaleTaps{nullptr, nullptr, nullptr, nullptr};
}

bool ImageXfmQ4::scale_pass(mp_worker_fn copy, mp_worker_fn up, mp_worker_fn down, int count) {
  if (scale_dst_size == scale_src_size) {
    mp_exec(copy, count);
    return true;
  }
  const bool reduce = scale_dst_size < scale_src_size;
  if (!build_scale_taps(reduce)) return false;
  mp_exec(reduce ? down : up, count);
  free_scale_taps();
  return true;
}

bool ImageXfmQ4::scale_image(ImageQ4* src, ImageQ4* dst) {
  if (!src || !dst || !src->rows || !dst->rows || src->width < 1 || src->height < 1 || dst->width < 1 ||
      dst->height < 1)
    return false;
  if (src->width == dst->width && src->height == dst->height) {
    if (src == dst) return true;
    scale_dst_size = src->width;
    scale_src = src;
    scale_dst = dst;
    mp_exec(mp_copy_all, src->height);
    return true;
  }
  // Frame after frame the sizes repeat: the intermediate stays for the next call.
  if (!scale_tmp || scale_tmp->width != dst->width || scale_tmp->height != src->height) {
    scale_tmp.reset(new (std::nothrow) ImageQ4((long)dst->width, (long)src->height, 1.0f, nullptr, nullptr));
    if (scale_tmp && (!scale_tmp->storage || !scale_tmp->rows)) scale_tmp.reset();
    if (!scale_tmp) return false;
  }
  const ImageQ4* tmp = scale_tmp.get();
  auto ratio = [](int from, int to) { return to > 1 ? (from - 1) / (double)(to - 1) : 0.0; };
  scale_kernel = kernel_table;
  scale_radius = kernel_radius;
  scale_src = src;
  scale_dst_size = dst->width;
  scale_src_size = src->width;
  scale_ratio = ratio(src->width, dst->width);
  bool ok = scale_pass(mp_copy_horiz, mp_scale_image_horiz_up, mp_scale_image_horiz_down, src->height);
  if (ok) {
    scale_dst = dst;
    scale_dst_size = dst->height;
    scale_src_size = tmp->height;
    scale_ratio = ratio(src->height, dst->height);
    ok = scale_pass(mp_copy_vert, mp_scale_image_vert_up, mp_scale_image_vert_down, dst->height);
  }
  return ok;
}
void ImageXfmQ4::mp_copy_all(void* object, int first, int last) {
  ImageXfmQ4* self = static_cast<ImageXfmQ4*>(object);
  copy_rows(self->scale_dst, self->scale_src, first, last, self->scale_dst_size);
}

void ImageXfmQ4::mp_copy_horiz(void* object, int first, int last) {
  ImageXfmQ4* self = static_cast<ImageXfmQ4*>(object);
  copy_rows(self->scale_tmp.get(), self->scale_src, first, last, self->scale_dst_size);
}

void ImageXfmQ4::mp_copy_vert(void* object, int first, int last) {
  ImageXfmQ4* self = static_cast<ImageXfmQ4*>(object);
  copy_rows(self->scale_dst, self->scale_tmp.get(), first, last, self->scale_tmp->width);
}

void ImageXfmQ4::scale_line(const ScaleTaps& taps, int dst_size, const PixelQ4* src, PixelQ4* dst) {
  const TapLists lists{taps.tap_first, taps.tap_source, taps.tap_weight, taps.tap_norm};
  if (q4_simd_use_avx2())
    scale_line_avx2(lists, dst_size, src, dst);
  else
    scale_line_with<ChannelSums>(lists, dst_size, src, dst);
}

void ImageXfmQ4::mp_scale_image_horiz_up(void* object, int first, int last) {
  ImageXfmQ4* self = static_cast<ImageXfmQ4*>(object);
  if (first > last) return;
  const ScaleTaps& taps = self->scale_taps;
  const TapLists lists{taps.tap_first, taps.tap_source, taps.tap_weight, taps.tap_norm};
  // Run by run of outputs, each run's fixed taps worked out once for the band.
  FixedRun run;
  const bool avx2 = q4_simd_use_avx2();
  for (int from = 0; from < self->scale_dst_size; from += kRun) {
    const int count = std::min(kRun, self->scale_dst_size - from);
    const bool fixed = fixed_run(lists, from, count, run);
    // The tap lists from output `from` on; tap_first holds absolute indexes.
    const ScaleTaps part{taps.tap_first + from, taps.tap_source, taps.tap_weight, taps.tap_norm + from};
    for (int y = first; y <= last; y++) {
      PixelQ4* dst = self->scale_tmp->rows[y] + from;
      if (fixed && avx2 && run.taps == 2)
        fixed_line_avx2<2>(run, count, self->scale_src->rows[y], dst);
      else if (fixed && avx2)
        fixed_line_avx2<kMaxFixedTaps>(run, count, self->scale_src->rows[y], dst);
      else if (fixed)
        fixed_line_portable(run, 0, count, self->scale_src->rows[y], dst);
      else
        scale_line(part, count, self->scale_src->rows[y], dst);
    }
  }
}

void ImageXfmQ4::mp_scale_image_horiz_down(void* object, int first, int last) {
  // The tap lists already carry the stretched kernel and the normalisation.
  mp_scale_image_horiz_up(object, first, last);
}

void ImageXfmQ4::mp_scale_image_vert_up(void* object, int first, int last) {
  ImageXfmQ4* self = static_cast<ImageXfmQ4*>(object);
  const ScaleTaps& taps = self->scale_taps;
  const TapLists lists{taps.tap_first, taps.tap_source, taps.tap_weight, taps.tap_norm};
  PixelQ4* const* in = self->scale_tmp->rows;
  PixelQ4* const* out = self->scale_dst->rows;
  if (q4_simd_use_avx2())
    scale_rows_avx2(lists, first, last, self->scale_tmp->width, in, out);
  else
    scale_rows_with<ChannelSums>(lists, first, last, self->scale_tmp->width, in, out);
}

void ImageXfmQ4::mp_scale_image_vert_down(void* object, int first, int last) {
  mp_scale_image_vert_up(object, first, last);
}
