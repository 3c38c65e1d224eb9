#include "dl_image_exchange.h"

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "band_split.h"
#include "q4_simd.h"

namespace {

template <bool Deep>
struct HostSample;

template <>
struct HostSample<false> {
  typedef uint8_t type;
  static unsigned short in(uint8_t v) { return static_cast<unsigned short>((v << 7) | (v >> 1)); }
  static uint8_t out(unsigned short c, uint8_t, int) {
    const unsigned v = c >> 7;
    return static_cast<uint8_t>(v > 255 ? 255 : v);
  }
};

template <>
struct HostSample<true> {
  typedef uint16_t type;
  static unsigned short in(uint16_t w) {
    const unsigned t = w >> 4;
    return static_cast<unsigned short>((t << 3) | (t >> 9));
  }
  static uint16_t out(unsigned short c, uint16_t host, int truncate) {
    unsigned v = c >> 3;
    if (v > 4095) v = 4095;
    if (truncate) v &= 0xFF0;
    return static_cast<uint16_t>((host & 15) | (v << 4));
  }
};

// The same rules four pixels at a time, for full-resolution rows: a vector
// holds four pixels' channels in 16-bit lanes, the host's three samples and
// an alpha lane. Loads and stores touch exactly the host pixels' own bytes.
template <bool Deep>
struct HostVector;

template <>
struct HostVector<false> {
  Q4_SIMD_TARGET_AVX2 static __m256i load(const uint8_t* in) {
    int32_t last;
    std::memcpy(&last, in + 8, 4);
    const __m128i first = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in));
    const __m128i bytes = _mm_unpacklo_epi64(first, _mm_cvtsi32_si128(last));
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    return _mm256_cvtepu8_epi16(_mm_shuffle_epi8(bytes, spread));
  }
  Q4_SIMD_TARGET_AVX2 static __m256i in(__m256i v) {
    return _mm256_or_si256(_mm256_slli_epi16(v, 7), _mm256_srli_epi16(v, 1));
  }
  // Channels above 255 after the shift saturate in the pack.
  Q4_SIMD_TARGET_AVX2 static void store(uint8_t* out, __m256i c, int) {
    const __m256i v = _mm256_srli_epi16(c, 7);
    const __m128i bytes = _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packus_epi16(v, v), 0x08));
    const __m128i rgb = _mm_shuffle_epi8(bytes, _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), rgb);
    const int32_t last = _mm_extract_epi32(rgb, 2);
    std::memcpy(out + 8, &last, 4);
  }
};

template <>
struct HostVector<true> {
  // Words 0..5 of the host's twelve to the low lane, 6..11 to the high one.
  Q4_SIMD_TARGET_AVX2 static __m256i twelve_words(__m128i first, __m128i rest) {
    return _mm256_permutevar8x32_epi32(_mm256_setr_m128i(first, rest), _mm256_setr_epi32(0, 1, 2, 2, 3, 4, 5, 5));
  }
  Q4_SIMD_TARGET_AVX2 static __m256i load(const uint16_t* in) {
    const __m256i words = twelve_words(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)),
                                       _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + 8)));
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, -1, -1, 6, 7, 8, 9, 10, 11, -1, -1,
                                            0, 1, 2, 3, 4, 5, -1, -1, 6, 7, 8, 9, 10, 11, -1, -1);
    return _mm256_shuffle_epi8(words, spread);
  }
  Q4_SIMD_TARGET_AVX2 static __m256i in(__m256i w) {
    const __m256i t = _mm256_srli_epi16(w, 4);
    return _mm256_or_si256(_mm256_slli_epi16(t, 3), _mm256_srli_epi16(t, 9));
  }
  Q4_SIMD_TARGET_AVX2 static void store(uint16_t* out, __m256i c, int truncate) {
    const __m256i top = _mm256_set1_epi16(truncate ? 0xFF0 : 0xFFF);
    const __m256i twelve = _mm256_min_epu16(_mm256_srli_epi16(c, 3), _mm256_set1_epi16(4095));
    const __m256i v = _mm256_slli_epi16(_mm256_and_si256(twelve, top), 4);
    const __m256i drop_alpha = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1,
                                                0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1);
    const __m256i rgb =
        _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(v, drop_alpha), _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
    const __m128i host_first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out));
    const __m128i host_rest = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(out + 8));
    const __m256i host = _mm256_and_si256(_mm256_setr_m128i(host_first, host_rest), _mm256_set1_epi16(15));
    const __m256i words = _mm256_or_si256(rgb, host);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(words));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 8), _mm256_extracti128_si256(words, 1));
  }
};

// Image rows (or columns) that sampling reaches: k with N/2 + k N < full.
long reached(long full, int N, long image_size) {
  const long half = N / 2;
  const long n = full > half ? (full - half - 1) / N + 1 : 0;
  return n < image_size ? n : image_size;
}

template <bool Deep>
inline void load_span(const typename HostSample<Deep>::type* __restrict in,
                      PixelQ4* __restrict out, long count, size_t step) {
  for (long m = 0; m < count; ++m, in += step) {
    out[m].r = HostSample<Deep>::in(in[0]);
    out[m].g = HostSample<Deep>::in(in[1]);
    out[m].b = HostSample<Deep>::in(in[2]);
    out[m].a = 32767;
  }
}

template <bool Deep>
Q4_SIMD_TARGET_AVX2 void load_span_avx2(const typename HostSample<Deep>::type* __restrict in,
                                        PixelQ4* __restrict out, long count) {
  const __m256i alpha = _mm256_setr_epi16(0, 0, 0, 32767, 0, 0, 0, 32767, 0, 0, 0, 32767, 0, 0, 0, 32767);
  long m = 0;
  for (; m + 4 <= count; m += 4) {
    const __m256i v = HostVector<Deep>::in(HostVector<Deep>::load(in + 3 * m));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + m), _mm256_or_si256(v, alpha));
  }
  load_span<Deep>(in + 3 * m, out + m, count - m, 3);
}

template <bool Deep>
void load_rows(const void* buffer, ImageQ4* image, long W, long H, int N, long k_first,
               long k_last) {
  typedef typename HostSample<Deep>::type Sample;
  const long rows_reached = reached(H, N, image->height);
  const long cols_reached = reached(W, N, image->width);
  if (rows_reached == 0 || cols_reached == 0) return;
  if (k_first < 0) k_first = 0;
  if (k_last > rows_reached - 1) k_last = rows_reached - 1;
  const Sample* host = static_cast<const Sample*>(buffer);
  for (long k = k_first; k <= k_last; ++k) {
    const size_t y = static_cast<size_t>(N / 2) + static_cast<size_t>(k) * N;
    const Sample* in = host + y * static_cast<size_t>(W) * 3;
    PixelQ4* out = image->rows[k];
    // A constant stride at full resolution lets the compiler vectorise.
    if (N == 1 && q4_simd_use_avx2())
      load_span_avx2<Deep>(in, out, cols_reached);
    else if (N == 1)
      load_span<Deep>(in, out, cols_reached, 3);
    else
      load_span<Deep>(in, out, cols_reached, static_cast<size_t>(N) * 3);
    for (long m = cols_reached; m < image->width; ++m) out[m] = out[cols_reached - 1];
    if (k == rows_reached - 1)
      for (long kk = rows_reached; kk < image->height; ++kk)
        std::memcpy(image->rows[kk], out, static_cast<size_t>(image->width) * sizeof(PixelQ4));
  }
}

template <bool Deep>
inline void store_pixel(const PixelQ4& p, typename HostSample<Deep>::type* out, int truncate) {
  out[0] = HostSample<Deep>::out(p.r, out[0], truncate);
  out[1] = HostSample<Deep>::out(p.g, out[1], truncate);
  out[2] = HostSample<Deep>::out(p.b, out[2], truncate);
}

template <bool Deep>
inline void store_span(const PixelQ4* __restrict in, typename HostSample<Deep>::type* __restrict out,
                       long count, int truncate) {
  for (long x = 0; x < count; ++x) {
    out[3 * x] = HostSample<Deep>::out(in[x].r, out[3 * x], truncate);
    out[3 * x + 1] = HostSample<Deep>::out(in[x].g, out[3 * x + 1], truncate);
    out[3 * x + 2] = HostSample<Deep>::out(in[x].b, out[3 * x + 2], truncate);
  }
}

template <bool Deep>
Q4_SIMD_TARGET_AVX2 void store_span_avx2(const PixelQ4* __restrict in, typename HostSample<Deep>::type* __restrict out,
                                         long count, int truncate) {
  long x = 0;
  for (; x + 4 <= count; x += 4)
    HostVector<Deep>::store(out + 3 * x, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + x)), truncate);
  store_span<Deep>(in + x, out + 3 * x, count - x, truncate);
}

template <bool Deep>
void paste_rows(const ImageQ4* image, void* buffer, long W, long H, int N, int truncate,
                long r_first, long r_last) {
  typedef typename HostSample<Deep>::type Sample;
  if (r_first < 0) r_first = 0;
  if (r_last > H - 1) r_last = H - 1;
  const size_t row_samples = static_cast<size_t>(W) * 3;
  Sample* host = static_cast<Sample*>(buffer);
  const long w = image->width, h = image->height;
  long previous_iy = -1;
  for (long r = r_first; r <= r_last; ++r) {
    Sample* out = host + static_cast<size_t>(r) * row_samples;
    if (w <= 0 || h <= 0) {
      // Nothing to replicate: the host still gets a defined (black) frame.
      for (size_t i = 0; i < row_samples; ++i) out[i] = HostSample<Deep>::out(0, out[i], truncate);
      continue;
    }
    const long iy = r / N < h - 1 ? r / N : h - 1;
    if (iy == previous_iy) {  // a replicated row: copy the one above
      const Sample* above = out - row_samples;
      if (Deep)  // keeping this row's own host bits
        for (size_t i = 0; i < row_samples; ++i)
          out[i] = static_cast<Sample>((out[i] & 15) | (above[i] & 0xFFF0));
      else
        std::memcpy(out, above, row_samples * sizeof(Sample));
      continue;
    }
    previous_iy = iy;
    const PixelQ4* in = image->rows[iy];
    long c = 0;
    if (N == 1) {  // one host pixel per image pixel, then the last repeated
      const long n = w < W ? w : W;
      if (q4_simd_use_avx2())
        store_span_avx2<Deep>(in, out, n, truncate);
      else
        store_span<Deep>(in, out, n, truncate);
      c = n;
      out += 3 * n;
    }
    for (long ix = c; ix < w && c < W; ++ix) {
      long run = ix == w - 1 ? W - c : (N < W - c ? N : W - c);
      for (; run > 0; --run, ++c, out += 3) store_pixel<Deep>(in[ix], out, truncate);
    }
    for (; c < W; ++c, out += 3) store_pixel<Deep>(in[w - 1], out, truncate);
  }
}

template <bool Deep>
ImageQ4* convert_from(void* buffer, long width, long height, double aspect, int N,
                      ImageQ4* image, int copy) {
  if (!buffer) return nullptr;
  if (N < 1) N = 1;
  if (width < 0) width = 0;
  if (height < 0) height = 0;
  if (!image)
    image = new ImageQ4(preview_size(width, N), preview_size(height, N), 1.0f, nullptr, nullptr);
  image->pixel_aspect = aspect;
  image->scale = static_cast<float>(N);
  if (copy) load_rows<Deep>(buffer, image, width, height, N, 0, image->height - 1);
  return image;
}

template <bool Deep>
void convert_to(ImageQ4* image, void* buffer, int width, int height, int N, int truncate) {
  if (!image || !buffer || width <= 0 || height <= 0) return;
  if (N < 1) N = 1;
  paste_rows<Deep>(image, buffer, width, height, N, truncate, 0, height - 1);
}

int image_factor(const ImageQ4* image) {
  const int N = static_cast<int>(image->scale);
  return N > 1 ? N : 1;
}

// Host rows [first, last] of this worker's band over H host rows.
bool worker_band(void* processes, long H, long& first, long& last) {
  if (H <= 0) return false;
  band_split(host_worker_index(), H, arg_int(processes), first, last);
  return first <= last;
}

template <bool Deep>
void copy_band(void* buffer, ImageQ4* image, void* processes, long H, long W, int N) {
  long first, last;
  if (!buffer || !image || W <= 0 || !worker_band(processes, H, first, last)) return;
  // Image rows whose host row N/2 + k N lies in the band.
  const long half = N / 2;
  const long k_first = first <= half ? 0 : (first - half + N - 1) / N;
  if (last < half) return;
  const long k_last = (last - half) / N;
  load_rows<Deep>(buffer, image, W, H, N, k_first, k_last);
}

template <bool Deep>
void paste_band(void* buffer, ImageQ4* image, void* processes, long H, long W, int N) {
  long first, last;
  if (!buffer || !image || W <= 0 || !worker_band(processes, H, first, last)) return;
  paste_rows<Deep>(image, buffer, W, H, N, 0, first, last);
}

ImageQ4* as_image(void* image) { return static_cast<ImageQ4*>(image); }

}  // namespace

long preview_size(long full, int N) {
  if (full < 0) full = 0;
  if (N <= 1) return full;
  const long size = full / N;
  return size % 2 ? size + 1 : size;
}

ImageQ4* ConvertFromDLImage8(void* buffer, long width, long height, double aspect, int N,
                             ImageQ4* image, int copy) {
  return convert_from<false>(buffer, width, height, aspect, N, image, copy);
}

ImageQ4* ConvertFromDLImage12(void* buffer, long width, long height, double aspect, int N,
                              ImageQ4* image, int copy) {
  return convert_from<true>(buffer, width, height, aspect, N, image, copy);
}

void ConvertToDLImage8(ImageQ4* image, void* buffer, int width, int height, int N) {
  convert_to<false>(image, buffer, width, height, N, 0);
}

void ConvertToDLImage12(ImageQ4* image, void* buffer, int width, int height, int N,
                        int truncate) {
  convert_to<true>(image, buffer, width, height, N, truncate);
}

void mp_copy_pixel_data(void* buffer, void* image, void* processes) {
  ImageQ4* img = as_image(image);
  if (img) copy_band<false>(buffer, img, processes, img->height, img->width, 1);
}

void mp_copy_pixel_data_deep12(void* buffer, void* image, void* processes) {
  ImageQ4* img = as_image(image);
  if (img) copy_band<true>(buffer, img, processes, img->height, img->width, 1);
}

void mp_paste_pixel_data(void* buffer, void* image, void* processes) {
  ImageQ4* img = as_image(image);
  if (img) paste_band<false>(buffer, img, processes, img->height, img->width, 1);
}

void mp_paste_pixel_data_deep12(void* buffer, void* image, void* processes) {
  ImageQ4* img = as_image(image);
  if (img) paste_band<true>(buffer, img, processes, img->height, img->width, 1);
}

void mp_copy_pixel_data_scale(void* buffer, void* image, void* processes, void* H, void* W) {
  ImageQ4* img = as_image(image);
  if (img) copy_band<false>(buffer, img, processes, arg_int(H), arg_int(W), image_factor(img));
}

void mp_copy_pixel_data_scale_deep12(void* buffer, void* image, void* processes, void* H,
                                     void* W) {
  ImageQ4* img = as_image(image);
  if (img) copy_band<true>(buffer, img, processes, arg_int(H), arg_int(W), image_factor(img));
}

void mp_paste_pixel_data_scale(void* buffer, void* image, void* processes, void* H, void* W) {
  ImageQ4* img = as_image(image);
  if (img) paste_band<false>(buffer, img, processes, arg_int(H), arg_int(W), image_factor(img));
}

void mp_paste_pixel_data_scale_deep12(void* buffer, void* image, void* processes, void* H,
                                      void* W) {
  ImageQ4* img = as_image(image);
  if (img) paste_band<true>(buffer, img, processes, arg_int(H), arg_int(W), image_factor(img));
}
