// RGB samples into opaque lines, and 16-bit lines back into RGB.
#include <immintrin.h>

#include <cstring>

#include "imgio_pixel.h"
#include "q4_simd.h"

namespace {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "a pixel's first sample is its word's low part");

// S is the sample, Word a whole pixel of the line: a 32-bit word of 8-bit
// samples or a 64-bit word of 16-bit ones. Each pixel's samples are loaded
// as one Word that also holds the next pixel's first sample, whose place
// alpha then takes. The last pixel reads only its own.
template <typename S, typename Word>
struct Spread {
  static constexpr Word kAlpha = Word(S(~S(0))) << (3 * 8 * sizeof(S));
  // Pixels a step of 24 bytes holds, and pixels past them that its second
  // load reaches into.
  static constexpr int kStep = 8 / sizeof(S);
  static constexpr int kPast = sizeof(S) == 1 ? 2 : 1;

  static void portable(const S* rgb, uint8_t* line, int width) {
    for (int x = 0; x + 1 < width; ++x) {
      Word v;
      memcpy(&v, rgb + 3 * static_cast<size_t>(x), sizeof v);
      v |= kAlpha;
      memcpy(line + sizeof(Word) * static_cast<size_t>(x), &v, sizeof v);
    }
    if (width > 0) {
      const S* p = rgb + 3 * static_cast<size_t>(width - 1);
      const Word v = Word(p[0]) | Word(p[1]) << (8 * sizeof(S)) | Word(p[2]) << (16 * sizeof(S)) | kAlpha;
      memcpy(line + sizeof(Word) * static_cast<size_t>(width - 1), &v, sizeof v);
    }
  }

  // Each half of a 16-byte load holds twelve bytes of samples that spread to
  // sixteen: the compiler does not widen the byte-wise shuffle of three
  // samples into four. Returns the pixels done.
  Q4_SIMD_TARGET_AVX2 static int avx2(const S* rgb, uint8_t* line, int width) {
    const __m256i spread = sizeof(S) == 1 ? _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0,
                                                             1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1)
                                          : _mm256_setr_epi8(0, 1, 2, 3, 4, 5, -1, -1, 6, 7, 8, 9, 10, 11, -1, -1, 0,
                                                             1, 2, 3, 4, 5, -1, -1, 6, 7, 8, 9, 10, 11, -1, -1);
    const __m256i alpha = _mm256_set1_epi64x(static_cast<int64_t>(sizeof(S) == 1 ? kAlpha | uint64_t(kAlpha) << 32
                                                                                 : uint64_t(kAlpha)));
    const uint8_t* in = reinterpret_cast<const uint8_t*>(rgb);
    int x = 0;
    for (; x + kStep + kPast <= width; x += kStep, in += 24, line += 32) {
      const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
      const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12));
      const __m256i both = _mm256_inserti128_si256(_mm256_castsi128_si256(first), second, 1);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(line), _mm256_or_si256(_mm256_shuffle_epi8(both, spread), alpha));
    }
    return x;
  }

  static void run(const S* rgb, void* line, int width) {
    uint8_t* out = static_cast<uint8_t*>(line);
    const int x = q4_simd_use_avx2() ? avx2(rgb, out, width) : 0;
    portable(rgb + 3 * static_cast<size_t>(x), out + sizeof(Word) * static_cast<size_t>(x), width - x);
  }
};

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
  Spread<uint8_t, uint32_t>::run(rgb, line, width);
}

void imgio_rgb_to_line(const uint16_t* rgb, unsigned short* line, int width) {
  Spread<uint16_t, uint64_t>::run(rgb, line, width);
}

void imgio_rgba_to_rgb(const uint16_t* rgba, uint16_t* rgb, int width) {
  if (q4_simd_use_avx2())
    rgba_to_rgb16_avx2(rgba, rgb, width);
  else
    imgio_rgba_to_rgb<uint16_t>(rgba, rgb, width);
}
