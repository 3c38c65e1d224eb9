// RGB samples into opaque lines, and 16-bit lines back into RGB.
#include <immintrin.h>

#include <cstring>

#include "imgio_pixel.h"
#include "q4_simd.h"

namespace {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "a pixel's first sample is its word's low part");

// Each pixel's samples are loaded as one word that also holds the next
// pixel's first sample, whose place alpha then takes. The last pixel reads
// only its own.
void rgb_to_line8_portable(const uint8_t* rgb, unsigned int* line, int width) {
  for (int x = 0; x + 1 < width; ++x) {
    uint32_t v;
    memcpy(&v, rgb + 3 * static_cast<size_t>(x), sizeof v);
    line[x] = v | 0xFF000000u;
  }
  if (width > 0) {
    const uint8_t* p = rgb + 3 * static_cast<size_t>(width - 1);
    imgio_put_pixel(line, width - 1, p[0], p[1], p[2], 255);
  }
}

// Four pixels from each half of a 16-byte load spread to a word each, alpha
// in the place the next pixel's red came in.
Q4_SIMD_TARGET_AVX2 void rgb_to_line8_avx2(const uint8_t* rgb, unsigned int* line, int width) {
  const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1, 2, -1, 3, 4, 5,
                                          -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m256i alpha = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  int x = 0;
  // The second load of a step reads four bytes past its eight pixels: it
  // stays within the row while two more pixels follow.
  for (; x + 10 <= width; x += 8) {
    const uint8_t* p = rgb + 3 * static_cast<size_t>(x);
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12));
    const __m256i both = _mm256_inserti128_si256(_mm256_castsi128_si256(first), second, 1);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(line + x), _mm256_or_si256(_mm256_shuffle_epi8(both, spread), alpha));
  }
  rgb_to_line8_portable(rgb + 3 * static_cast<size_t>(x), line + x, width - x);
}

void rgb_to_line16_portable(const uint16_t* rgb, unsigned short* line, int width) {
  for (int x = 0; x + 1 < width; ++x) {
    uint64_t v;
    memcpy(&v, rgb + 3 * static_cast<size_t>(x), sizeof v);
    v |= uint64_t(0xFFFF) << 48;
    memcpy(line + 4 * static_cast<size_t>(x), &v, sizeof v);
  }
  if (width > 0) {
    const uint16_t* p = rgb + 3 * static_cast<size_t>(width - 1);
    imgio_put_pixel(line, width - 1, p[0], p[1], p[2], 65535);
  }
}

// Two pixels from each half of a 16-byte load spread to eight bytes each,
// alpha in the place the next pixel's red came in: the compiler does not
// widen the byte-wise shuffle of three samples into four.
Q4_SIMD_TARGET_AVX2 void rgb_to_line16_avx2(const uint16_t* rgb, unsigned short* line, int width) {
  const __m256i spread = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, -1, -1, 6, 7, 8, 9, 10, 11, -1, -1, 0, 1, 2, 3, 4, 5,
                                          -1, -1, 6, 7, 8, 9, 10, 11, -1, -1);
  const __m256i alpha = _mm256_set1_epi64x(static_cast<int64_t>(uint64_t(0xFFFF) << 48));
  int x = 0;
  // The second load of a step reads two samples past its four pixels: it
  // stays within the row while a fifth pixel follows.
  for (; x + 5 <= width; x += 4) {
    const uint16_t* p = rgb + 3 * static_cast<size_t>(x);
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 6));
    const __m256i both = _mm256_inserti128_si256(_mm256_castsi128_si256(first), second, 1);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(line + 4 * static_cast<size_t>(x)),
                        _mm256_or_si256(_mm256_shuffle_epi8(both, spread), alpha));
  }
  rgb_to_line16_portable(rgb + 3 * static_cast<size_t>(x), line + 4 * static_cast<size_t>(x), width - x);
}

// The first three samples of each pixel, two pixels from each half of a
// load, gathered to the low 24 bytes; the store's last 8 bytes are written
// again by the next step.
Q4_SIMD_TARGET_AVX2 void rgba_to_rgb16_avx2(const uint16_t* rgba, uint16_t* rgb, int width) {
  const __m256i pack = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1, 0, 1, 2, 3, 4, 5, 8,
                                        9, 10, 11, 12, 13, -1, -1, -1, -1);
  const __m256i gather = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
  int x = 0;
  // A step stores 16 samples from its first, four past its own twelve: two
  // more pixels must follow.
  for (; x + 6 <= width; x += 4) {
    const __m256i pixels = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rgba + 4 * static_cast<size_t>(x)));
    const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(pixels, pack), gather);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(rgb + 3 * static_cast<size_t>(x)), packed);
  }
  imgio_rgba_to_rgb<uint16_t>(rgba + 4 * static_cast<size_t>(x), rgb + 3 * static_cast<size_t>(x), width - x);
}

}  // namespace

void imgio_rgb_to_line(const uint8_t* rgb, unsigned int* line, int width) {
  if (q4_simd_use_avx2())
    rgb_to_line8_avx2(rgb, line, width);
  else
    rgb_to_line8_portable(rgb, line, width);
}

void imgio_rgb_to_line(const uint16_t* rgb, unsigned short* line, int width) {
  if (q4_simd_use_avx2())
    rgb_to_line16_avx2(rgb, line, width);
  else
    rgb_to_line16_portable(rgb, line, width);
}

void imgio_rgba_to_rgb(const uint16_t* rgba, uint16_t* rgb, int width) {
  if (q4_simd_use_avx2())
    rgba_to_rgb16_avx2(rgba, rgb, width);
  else
    imgio_rgba_to_rgb<uint16_t>(rgba, rgb, width);
}
