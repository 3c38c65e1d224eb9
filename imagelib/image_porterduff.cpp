#include "image_porterduff.h"

#include <immintrin.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "image_pixel.h"
#include "q4_simd.h"

namespace {

const int kAlpha = 3;

// Fa = p + q ab and Fb = r + s aa: 1, 0 and 1 - alpha are exact in this
// form, so one loop serves all nine operators.
struct fractions {
  double p, q, r, s;
};

const fractions kOperators[] = {
    {1, 0, 1, -1},  // a over b
    {1, -1, 1, 0},  // b over a
    {0, 1, 0, 0},   // a in b
    {0, 0, 0, 1},   // b in a
    {1, -1, 0, 0},  // a out b
    {0, 0, 1, -1},  // b out a
    {0, 1, 1, -1},  // a atop b
    {1, -1, 0, 1},  // b atop a
    {1, -1, 1, -1}  // xor
};

struct pd_args {
  image_data* a;
  image_data* b;
  image_data* dst;
  int op;
  int x0, x1, y0, y1;
  double factor;
};

// Stored alpha to a fraction. The single-precision 1/255 makes 255 x k a
// hair above 1, which would darken an opaque "a over b" by one step; integer
// fractions are therefore limited to 1.
template <typename T>
struct alpha_scale {
  static constexpr bool integer = !std::is_same<T, float>::value;
  static double k() {
    if constexpr (integer)
      return static_cast<float>(1.0 / image_sample_limit<T>());  // 2^-32 for word32
    else
      return 1.0;
  }
  static double full() {
    if constexpr (integer)
      return image_sample_limit<T>();
    else
      return 1.0;
  }
  static double fraction(double stored, double k) {
    const double f = stored * k;
    return integer && f > 1.0 ? 1.0 : f;
  }
};

template <typename T>
inline T store(double v, double full) {
  return image_store_trunc<T>(v < full ? v : full);
}

// One row of a two-image blend. An alpha whose coefficient is 0 is not read:
// Fa = p exactly then (a cross-dissolve reads neither). The fractions lie in
// 0..1 and samples are not negative, so an integer sum only needs the upper
// limit before it is truncated.
template <typename T, bool AlphaOfB, bool AlphaOfA>
void blend_pixels(const T* a, const T* b, T* out, int pixels, int ch, const fractions& f) {
  const double k = alpha_scale<T>::k(), full = alpha_scale<T>::full();
  for (int x = 0; x < pixels; ++x, a += ch, b += ch, out += ch) {
    double fa = f.p, fb = f.r;
    if (AlphaOfB) fa = f.p + f.q * alpha_scale<T>::fraction(b[kAlpha], k);
    if (AlphaOfA) fb = f.r + f.s * alpha_scale<T>::fraction(a[kAlpha], k);
    for (int c = 0; c < ch; ++c) out[c] = static_cast<T>(std::min(a[c] * fa + b[c] * fb, full));
  }
}

// The same for four byte or word channels, one pixel to a vector of four
// doubles: the compiler keeps the scalar loop scalar. Each lane does the
// scalar loop's operations in its order, so both give the same bits.
//
// A sample v below 2^52 in the low bits of 2^52's pattern reads as 2^52 + v,
// so one exact subtraction converts it, cheaper than a conversion
// instruction.
Q4_SIMD_TARGET_AVX2 inline __m256d from_low_bits(__m256i samples) {
  const __m256i two52 = _mm256_set1_epi64x(0x4330000000000000);
  return _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(samples, two52)), _mm256_castsi256_pd(two52));
}

Q4_SIMD_TARGET_AVX2 inline __m256d load_pixel(const uint16_t* p) {
  return from_low_bits(_mm256_cvtepu16_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
}

Q4_SIMD_TARGET_AVX2 inline __m256d load_pixel(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return from_low_bits(_mm256_cvtepu8_epi64(_mm_cvtsi32_si128(v)));
}

Q4_SIMD_TARGET_AVX2 inline void store_pixel(uint16_t* p, __m128i i) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi32(i, i));
}

Q4_SIMD_TARGET_AVX2 inline void store_pixel(uint8_t* p, __m128i i) {
  i = _mm_packus_epi32(i, i);
  const int32_t w = _mm_cvtsi128_si32(_mm_packus_epi16(i, i));
  std::memcpy(p, &w, 4);
}

// Alphas of four pixels, pixel i in lane i.
Q4_SIMD_TARGET_AVX2 inline __m256d load_alphas4(const uint16_t* p) {
  const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i even = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
  return _mm256_cvtepi32_pd(_mm256_castsi256_si128(_mm256_permutevar8x32_epi32(_mm256_srli_epi64(raw, 48), even)));
}

Q4_SIMD_TARGET_AVX2 inline __m256d load_alphas4(const uint8_t* p) {
  return _mm256_cvtepi32_pd(_mm_srli_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), 24));
}

// Four pixels' results, truncated to 32-bit lanes, packed and stored.
Q4_SIMD_TARGET_AVX2 inline void store_pixels4(uint16_t* p, const __m128i* v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_packus_epi32(v[0], v[1]));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 8), _mm_packus_epi32(v[2], v[3]));
}

Q4_SIMD_TARGET_AVX2 inline void store_pixels4(uint8_t* p, const __m128i* v) {
  const __m128i bytes = _mm_packus_epi16(_mm_packus_epi32(v[0], v[1]), _mm_packus_epi32(v[2], v[3]));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), bytes);
}

// The weights Fa = p + q ab or Fb = r + s aa of the vector's lanes.
Q4_SIMD_TARGET_AVX2 inline __m256d weights(__m256d alpha, __m256d k, __m256d offset, __m256d slope) {
  const __m256d fraction = _mm256_min_pd(_mm256_mul_pd(alpha, k), _mm256_set1_pd(1.0));
  return _mm256_add_pd(offset, _mm256_mul_pd(slope, fraction));
}

template <typename T, bool AlphaOfB, bool AlphaOfA>
struct blend4_avx2 {
  __m256d k, full, p, q, r, s;

  Q4_SIMD_TARGET_AVX2 explicit blend4_avx2(const fractions& f)
      : k(_mm256_set1_pd(alpha_scale<T>::k())),
        full(_mm256_set1_pd(alpha_scale<T>::full())),
        p(_mm256_set1_pd(f.p)),
        q(_mm256_set1_pd(f.q)),
        r(_mm256_set1_pd(f.r)),
        s(_mm256_set1_pd(f.s)) {}

  // One pixel whose weights are given in every lane, truncated to 32 bits.
  Q4_SIMD_TARGET_AVX2 __m128i pixel(const T* a, const T* b, __m256d fa, __m256d fb) const {
    const __m256d sum = _mm256_add_pd(_mm256_mul_pd(load_pixel(a), fa), _mm256_mul_pd(load_pixel(b), fb));
    return _mm256_cvttpd_epi32(_mm256_min_pd(sum, full));
  }

  // Pixel I of four whose weights lie in the lanes of fa4 and fb4.
  template <int I>
  Q4_SIMD_TARGET_AVX2 __m128i of_four(const T* a, const T* b, __m256d fa4, __m256d fb4) const {
    return pixel(a + 4 * I, b + 4 * I, AlphaOfB ? _mm256_permute4x64_pd(fa4, I * 0x55) : p,
                 AlphaOfA ? _mm256_permute4x64_pd(fb4, I * 0x55) : r);
  }

  // The weights are worked out for four pixels at a time; every lane still
  // does the scalar loop's operations in its order, so both give the same
  // bits.
  Q4_SIMD_TARGET_AVX2 void row(const T* a, const T* b, T* out, int pixels) const {
    int x = 0;
    for (; x + 4 <= pixels; x += 4, a += 16, b += 16, out += 16) {
      const __m256d fa4 = AlphaOfB ? weights(load_alphas4(b), k, p, q) : p;
      const __m256d fb4 = AlphaOfA ? weights(load_alphas4(a), k, r, s) : r;
      const __m128i v[4] = {of_four<0>(a, b, fa4, fb4), of_four<1>(a, b, fa4, fb4), of_four<2>(a, b, fa4, fb4),
                            of_four<3>(a, b, fa4, fb4)};
      store_pixels4(out, v);
    }
    for (; x < pixels; ++x, a += 4, b += 4, out += 4) {
      const __m256d alpha_b = _mm256_permute4x64_pd(load_pixel(b), 0xFF);
      const __m256d alpha_a = _mm256_permute4x64_pd(load_pixel(a), 0xFF);
      const __m256d fa = AlphaOfB ? weights(alpha_b, k, p, q) : p;
      const __m256d fb = AlphaOfA ? weights(alpha_a, k, r, s) : r;
      store_pixel(out, pixel(a, b, fa, fb));
    }
  }
};

template <typename T, bool AlphaOfB, bool AlphaOfA>
Q4_SIMD_TARGET_AVX2 void blend_pixels4_avx2(const T* a, const T* b, T* out, int pixels, const fractions& f) {
  blend4_avx2<T, AlphaOfB, AlphaOfA>(f).row(a, b, out, pixels);
}

template <typename T, bool AlphaOfB, bool AlphaOfA>
void blend_row_with(const T* a, const T* b, T* out, int pixels, int ch, const fractions& f) {
  if constexpr (sizeof(T) <= 2 && std::is_integral<T>::value) {
    if (ch == 4 && q4_simd_use_avx2()) {
      blend_pixels4_avx2<T, AlphaOfB, AlphaOfA>(a, b, out, pixels, f);
      return;
    }
  }
  blend_pixels<T, AlphaOfB, AlphaOfA>(a, b, out, pixels, ch, f);
}

template <typename T>
void blend_row(const T* a, const T* b, T* out, int pixels, int ch, const fractions& f) {
  if (f.q != 0.0)
    f.s != 0.0 ? blend_row_with<T, true, true>(a, b, out, pixels, ch, f)
               : blend_row_with<T, true, false>(a, b, out, pixels, ch, f);
  else
    f.s != 0.0 ? blend_row_with<T, false, true>(a, b, out, pixels, ch, f)
               : blend_row_with<T, false, false>(a, b, out, pixels, ch, f);
}

// Straight alpha: colours are weighted by their own alpha and divided by the
// result's, unless that is (nearly) transparent.
template <typename T>
void blend_row_straight(const T* a, const T* b, T* out, int pixels, int ch, const fractions& f) {
  const double k = alpha_scale<T>::k(), full = alpha_scale<T>::full();
  for (int x = 0; x < pixels; ++x, a += ch, b += ch, out += ch) {
    const double aa = alpha_scale<T>::fraction(a[kAlpha], k), ab = alpha_scale<T>::fraction(b[kAlpha], k);
    const double fa = f.p + f.q * ab, fb = f.r + f.s * aa;
    double alpha = a[kAlpha] * fa + b[kAlpha] * fb;
    if (alpha > full) alpha = full;
    out[kAlpha] = image_store_trunc<T>(alpha);
    const double ao = alpha_scale<T>::fraction(alpha, k);  // before the store truncates
    const bool divide = ao > 1e-6;
    const double inv = divide ? 1.0 / ao : 1.0;
    for (int c = 0; c < ch; ++c) {
      if (c == kAlpha) continue;
      double v = a[c] * aa * fa + b[c] * ab * fb;
      if (divide) v = v * inv;
      out[c] = store<T>(v, full);
    }
  }
}

struct region_rows {
  int first, last;
};

region_rows rows_in(const pd_args* args, int first, int last) {
  return {first > args->y0 ? first : args->y0, last < args->y1 - 1 ? last : args->y1 - 1};
}

template <typename T>
const T* at(const image_data* img, int x, int y) {
  return reinterpret_cast<const T*>(image_row(img, y)) + static_cast<int64_t>(x) * img->channels;
}

template <typename T>
T* at(image_data* img, int x, int y) {
  return reinterpret_cast<T*>(image_row(img, y)) + static_cast<int64_t>(x) * img->channels;
}

template <bool Premultiplied>
void blend_rows(const pd_args* args, int first, int last, const fractions& f) {
  const region_rows r = rows_in(args, first, last);
  const int pixels = args->x1 - args->x0, ch = args->dst->channels;
  image_with_sample_type(args->dst->pixel_type, [&](auto zero) {
    typedef decltype(zero) T;
    for (int y = r.first; y <= r.last; ++y) {
      const T* a = at<T>(args->a, args->x0, y);
      const T* b = at<T>(args->b, args->x0, y);
      T* out = at<T>(args->dst, args->x0, y);
      if (Premultiplied)
        blend_row<T>(a, b, out, pixels, ch, f);
      else
        blend_row_straight<T>(a, b, out, pixels, ch, f);
    }
  });
}

bool known_operator(int op) { return op >= IMAGE_PD_A_OVER_B && op <= IMAGE_PD_XOR; }

// NaN counts as 0, so no factor leaves 0..1.
double unit(double v) {
  if (!(v > 0.0)) return 0.0;
  return v > 1.0 ? 1.0 : v;
}

}  // namespace

void mp_image_composite_porter_and_duff(void* object, int first, int last) {
  const pd_args* args = static_cast<const pd_args*>(object);
  if (known_operator(args->op)) blend_rows<true>(args, first, last, kOperators[args->op - 1]);
}

void mp_image_composite_porter_and_duff_unpremultiplied(void* object, int first, int last) {
  const pd_args* args = static_cast<const pd_args*>(object);
  if (known_operator(args->op)) blend_rows<false>(args, first, last, kOperators[args->op - 1]);
}

void mp_image_cross_dissolve_porter_and_duff(void* object, int first, int last) {
  const pd_args* args = static_cast<const pd_args*>(object);
  blend_rows<true>(args, first, last, fractions{1.0 - args->factor, 0.0, args->factor, 0.0});
}

void mp_image_unary_op_porter_and_duff(void* object, int first, int last) {
  const pd_args* args = static_cast<const pd_args*>(object);
  const region_rows r = rows_in(args, first, last);
  image_data* img = args->dst;
  const int ch = img->channels;
  const int from = args->op == IMAGE_PD_SCALE_ALPHA ? kAlpha : 0;
  const int to = args->op == IMAGE_PD_SCALE_ALPHA ? kAlpha : ch - 1;
  const bool skip_alpha = args->op == IMAGE_PD_SCALE_COLOUR;
  image_with_sample_type(img->pixel_type, [&](auto zero) {
    typedef decltype(zero) T;
    for (int y = r.first; y <= r.last; ++y) {
      T* p = at<T>(img, args->x0, y);
      for (int x = args->x0; x < args->x1; ++x, p += ch)
        for (int c = from; c <= to; ++c)
          if (!(skip_alpha && c == kAlpha)) p[c] = image_store_trunc<T>(p[c] * args->factor);
    }
  });
}

namespace {

// Normalises the region on img; false when it is empty.
bool region(const image_data* img, pd_args& args, int x0, int y0, int x1, int y1) {
  if (x0 < 0 && y0 < 0 && x1 < 0 && y1 < 0) {
    x0 = y0 = 0;
    x1 = img->width;
    y1 = img->height;
  } else {
    if (x0 < 0) x0 = 0;
    if (y0 < 0) y0 = 0;
    if (x1 < 0) x1 = img->width;
    if (y1 < 0) y1 = img->height;
    if (x1 < x0) std::swap(x0, x1);
    if (y1 < y0) std::swap(y0, y1);
    if (x1 > img->width) x1 = img->width;
    if (y1 > img->height) y1 = img->height;
  }
  args.x0 = x0;
  args.x1 = x1;
  args.y0 = y0;
  args.y1 = y1;
  // A region that starts beyond the image is empty too.
  return x0 < x1 && y0 < y1;
}

bool has_alpha(const image_data* img) { return img && img->pixels && img->channels > kAlpha; }

// A source is read at dst's positions, so it must cover dst.
bool covers(const image_data* src, const image_data* dst) {
  return has_alpha(src) && src->pixel_type == dst->pixel_type && src->channels == dst->channels &&
         src->width >= dst->width && src->height >= dst->height;
}

int run_two_image(image_data* dst, image_data* a, image_data* b, int op, double factor, int x0, int y0, int x1,
                  int y1, mp_worker_fn worker) {
  if (!has_alpha(dst) || !covers(a, dst) || !covers(b, dst)) return 0;
  pd_args args{a, b, dst, op, 0, 0, 0, 0, factor};
  if (region(dst, args, x0, y0, x1, y1)) imagelib_dispatch(worker, dst->height, &args);
  return 1;
}

}  // namespace

int image_composite_porterduff(image_data* dst, image_data* a, int op, image_data* b, bool premultiplied, int x0,
                               int y0, int x1, int y1) {
  return run_two_image(dst, a, b, op, 0.0, x0, y0, x1, y1,
                       premultiplied ? mp_image_composite_porter_and_duff
                                     : mp_image_composite_porter_and_duff_unpremultiplied);
}

int image_cross_dissolve_porterduff(image_data* dst, image_data* a, image_data* b, double t, int x0, int y0, int x1,
                                    int y1) {
  const double single = static_cast<float>(unit(t));
  return run_two_image(dst, a, b, 0, single, x0, y0, x1, y1, mp_image_cross_dissolve_porter_and_duff);
}

int image_unary_op_porterduff(image_data* img, int op, double value, int x0, int y0, int x1, int y1) {
  if (!has_alpha(img)) return 0;
  if (op < IMAGE_PD_SCALE_COLOUR || op > IMAGE_PD_SCALE_ALPHA) return 1;
  pd_args args{nullptr, nullptr, img, op, 0, 0, 0, 0, unit(value)};
  if (region(img, args, x0, y0, x1, y1)) imagelib_dispatch(mp_image_unary_op_porter_and_duff, img->height, &args);
  return 1;
}
