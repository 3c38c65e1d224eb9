// Sources added into the texture image, plain or blurred along the flow,
// and the motion blur itself: each pixel is the mean of bilinear samples
// along the trail the flow carried it down, back to where it came from.
#include <cmath>
#include <cstdint>

#include <immintrin.h>

#include "fluid_flow.h"
#include "fluid_numeric.h"
#include "image_line_taps.h"
#include "q4_simd.h"

namespace {

// A flow so fast that its trail would need more samples than this has
// diverged; the cap keeps one pixel from holding up its band.
const int kMaxTrailSamples = 65536;

// Rows a band claims at a time (row_chunks.h): a row of trails is long
// work, so single rows even the bands out finely at the end.
const int kChunkRows = 1;

// The trail of one pixel of a w x h image: n samples from the pixel (x, y)
// to (x, y) + (dx, dy) * (span_x, span_y), the offsets (dx, dy) in 0..1
// units of the image.
struct TrailPath {
  float x, y, dx, dy;
  int n;
  float span_x, span_y;  // w - 1, h - 1
  int w, h;
  // k / (n - 1) for k below n rounded up to a multiple of 8, or null.
  const float* t;
  // The first row when every row follows the one before in one block of
  // fewer than 2^31 pixels, else null.
  const PixelQ4* block;
};

// Trails up to this long take their t from a table kept while n repeats,
// as it does from pixel to pixel in a smooth flow.
const int kTabledSamples = 1024;

// Fills table with k / (n - 1) for k below n rounded up to a multiple of 8
// (the division of the per-sample form, so the values are the same).
void fill_trail_table(float* table, int n) {
  const float steps = static_cast<float>(n - 1);
  for (int k = 0; k < (n + 7) / 8 * 8; ++k) table[k] = static_cast<float>(k) / steps;
}

// Adds the trail's bilinear samples to sums (R, G, B, A), each sample with
// the arithmetic of ImageQ4::PointSampleB: sample k at t = k / (n - 1),
// position clamped to the image, weights in 32768ths (the first three
// truncated, the fourth the rest), the sum shifted down by 15. Positions
// start from the pixel itself, not from its 0..1 position scaled back,
// which can land a hair beside it: a still flow copies exactly. The right
// (lower) neighbour is clamped into the image: it lies outside only on
// the last column (row), where its weight is 0. Samples are integers, so
// the sums are exact in any order.
void trail_sums_portable(const TrailPath& p, PixelQ4* const* rows, uint32_t* sums) {
  const float steps = static_cast<float>(p.n - 1);
  for (int k = 0; k < p.n; ++k) {
    const float t = static_cast<float>(k) / steps;
    const float x = clamped(p.x + p.dx * t * p.span_x, 0.0f, p.span_x);
    const float y = clamped(p.y + p.dy * t * p.span_y, 0.0f, p.span_y);
    // x, y >= 0: truncation is the floor, and the fraction is exact.
    const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
    const int ax = static_cast<int>((x - static_cast<float>(x0)) * 32768.0f);
    const int ay = static_cast<int>((y - static_cast<float>(y0)) * 32768.0f);
    const uint32_t w00 = ((32768 - ax) * (32768 - ay)) >> 15;
    const uint32_t w10 = (ax * (32768 - ay)) >> 15;
    const uint32_t w01 = ((32768 - ax) * ay) >> 15;
    const uint32_t w11 = 32768 - (w00 + w10 + w01);
    const int x1 = x0 + 1 < p.w ? x0 + 1 : p.w - 1;
    const PixelQ4* r0 = rows[y0];
    const PixelQ4* r1 = rows[y0 + 1 < p.h ? y0 + 1 : p.h - 1];
    const PixelQ4 &p00 = r0[x0], &p10 = r0[x1], &p01 = r1[x0], &p11 = r1[x1];
    sums[0] += (w00 * p00.r + w10 * p10.r + w01 * p01.r + w11 * p11.r) >> 15;
    sums[1] += (w00 * p00.g + w10 * p10.g + w01 * p01.g + w11 * p11.g) >> 15;
    sums[2] += (w00 * p00.b + w10 * p10.b + w01 * p01.b + w11 * p11.b) >> 15;
    sums[3] += (w00 * p00.a + w10 * p10.a + w01 * p01.a + w11 * p11.a) >> 15;
  }
}

// clamped(v, 0, top) of eight values (NaN to 0).
Q4_SIMD_TARGET_AVX2 inline __m256 within8(__m256 v, __m256 top) {
  const __m256 positive = _mm256_cmp_ps(v, _mm256_setzero_ps(), _CMP_GT_OQ);
  return _mm256_and_ps(_mm256_blendv_ps(top, v, _mm256_cmp_ps(v, top, _CMP_LT_OQ)), positive);
}

// Two horizontally adjacent pixels (eight channels) times their weights:
// the left pixel's four channels by the low half of w, the right's by the
// high half.
Q4_SIMD_TARGET_AVX2 inline __m256i weighted_pair(const PixelQ4* left, __m256i w) {
  return _mm256_mullo_epi32(_mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(left))),
                            w);
}

// Where sample l's pixel pair starts in one of its rows: at[l] pixels into
// the block, or column x0[l] of row at[l].
template <bool Block>
inline __attribute__((always_inline)) const PixelQ4* pair_at(const TrailPath& p, PixelQ4* const* rows,
                                                             const int* at, const int* x0, int l) {
  return Block ? p.block + at[l] : rows[at[l]] + x0[l];
}

// Sample l of a block of eight: its two rows of pixel pairs weighted, [left
// pixel | right]. Weights of samples 0..3 come from the first vector of each
// row ([left weights | right weights]), of 4..7 from the second.
Q4_SIMD_TARGET_AVX2 inline __attribute__((always_inline)) __m256i sample_pairs(int l, const __m256i* row0,
                                                                              const __m256i* row1,
                                                                              const PixelQ4* at0,
                                                                              const PixelQ4* at1) {
  const __m256i index = _mm256_add_epi32(_mm256_setr_epi32(0, 0, 0, 0, 4, 4, 4, 4), _mm256_set1_epi32(l & 3));
  return _mm256_add_epi32(weighted_pair(at0, _mm256_permutevar8x32_epi32(row0[l >> 2], index)),
                          weighted_pair(at1, _mm256_permutevar8x32_epi32(row1[l >> 2], index)));
}

// The same: positions and weights of eight samples at a time, then each
// sample's two rows of two pixels as two 8-lane products. Compares are
// ordered (NaN false) and no product is fused with a sum. The pixel pair
// starts at x0, or at w - 2 on the last column, where the right weight is 0
// and the weights swap sides: the load stays inside the row, and integer
// sums are the same in any order. Lines one pixel wide take the portable
// copy. With Block, a sample's pairs are found from one pixel offset per
// row (below 2^31, so 32-bit products hold it) instead of through the row
// table.
template <bool Block>
Q4_SIMD_TARGET_AVX2 void trail_sums_avx2(const TrailPath& p, PixelQ4* const* rows, uint32_t* sums) {
  const __m256 steps = _mm256_set1_ps(static_cast<float>(p.n - 1));
  const __m256 lanes = _mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256 px = _mm256_set1_ps(p.x), py = _mm256_set1_ps(p.y), dx = _mm256_set1_ps(p.dx),
               dy = _mm256_set1_ps(p.dy);
  const __m256 span_x = _mm256_set1_ps(p.span_x), span_y = _mm256_set1_ps(p.span_y);
  const __m256 scale = _mm256_set1_ps(32768.0f);
  const __m256i full = _mm256_set1_epi32(32768), step = _mm256_set1_epi32(1);
  const __m256i last_pair = _mm256_set1_epi32(p.w - 2), last_y = _mm256_set1_epi32(p.h - 1);
  const __m256i width = _mm256_set1_epi32(p.w);
  // Where each sample's pixel pairs start: pixel offsets into the block of
  // rows, or a column and two rows.
  alignas(32) int x0[8], y0[8], y1[8];
  __m256i total = _mm256_setzero_si256();  // [even samples | odd samples]
  for (int k = 0; k < p.n; k += 8) {
    // k + lane is below 2^24: exact in float, as the int converted alone.
    const __m256 t = p.t ? _mm256_loadu_ps(p.t + k)
                         : _mm256_div_ps(_mm256_add_ps(_mm256_set1_ps(static_cast<float>(k)), lanes), steps);
    const __m256 x = within8(_mm256_add_ps(px, _mm256_mul_ps(_mm256_mul_ps(dx, t), span_x)), span_x);
    const __m256 y = within8(_mm256_add_ps(py, _mm256_mul_ps(_mm256_mul_ps(dy, t), span_y)), span_y);
    const __m256i ix = _mm256_cvttps_epi32(x), iy = _mm256_cvttps_epi32(y);
    const __m256i ax = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_sub_ps(x, _mm256_cvtepi32_ps(ix)), scale));
    const __m256i ay = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_sub_ps(y, _mm256_cvtepi32_ps(iy)), scale));
    const __m256i bx = _mm256_sub_epi32(full, ax), by = _mm256_sub_epi32(full, ay);
    const __m256i v00 = _mm256_srli_epi32(_mm256_mullo_epi32(bx, by), 15);
    const __m256i v10 = _mm256_srli_epi32(_mm256_mullo_epi32(ax, by), 15);
    const __m256i v01 = _mm256_srli_epi32(_mm256_mullo_epi32(bx, ay), 15);
    const __m256i v11 = _mm256_sub_epi32(full, _mm256_add_epi32(v00, _mm256_add_epi32(v10, v01)));
    const __m256i pair = _mm256_min_epi32(ix, last_pair);
    const __m256i swap = _mm256_cmpgt_epi32(ix, last_pair);
    const __m256i left0 = _mm256_blendv_epi8(v00, v10, swap), right0 = _mm256_blendv_epi8(v10, v00, swap);
    const __m256i left1 = _mm256_blendv_epi8(v01, v11, swap), right1 = _mm256_blendv_epi8(v11, v01, swap);
    const __m256i row0[2] = {_mm256_permute2x128_si256(left0, right0, 0x20),
                             _mm256_permute2x128_si256(left0, right0, 0x31)};
    const __m256i row1[2] = {_mm256_permute2x128_si256(left1, right1, 0x20),
                             _mm256_permute2x128_si256(left1, right1, 0x31)};
    const __m256i below = _mm256_min_epi32(_mm256_add_epi32(iy, step), last_y);
    if (Block) {
      _mm256_store_si256(reinterpret_cast<__m256i*>(y0),
                         _mm256_add_epi32(_mm256_mullo_epi32(iy, width), pair));
      _mm256_store_si256(reinterpret_cast<__m256i*>(y1),
                         _mm256_add_epi32(_mm256_mullo_epi32(below, width), pair));
    } else {
      _mm256_store_si256(reinterpret_cast<__m256i*>(x0), pair);
      _mm256_store_si256(reinterpret_cast<__m256i*>(y0), iy);
      _mm256_store_si256(reinterpret_cast<__m256i*>(y1), below);
    }
    const int count = p.n - k < 8 ? p.n - k : 8;
    // The left and right halves of a sample join before its shift, as in
    // one sum: two samples at a time, [a | b] from [a left | a right] and
    // [b left | b right].
    int l = 0;
    for (; l + 1 < count; l += 2) {
      const __m256i a =
          sample_pairs(l, row0, row1, pair_at<Block>(p, rows, y0, x0, l), pair_at<Block>(p, rows, y1, x0, l));
      const __m256i b = sample_pairs(l + 1, row0, row1, pair_at<Block>(p, rows, y0, x0, l + 1),
                                     pair_at<Block>(p, rows, y1, x0, l + 1));
      const __m256i joined =
          _mm256_add_epi32(_mm256_permute2x128_si256(a, b, 0x20), _mm256_permute2x128_si256(a, b, 0x31));
      total = _mm256_add_epi32(total, _mm256_srli_epi32(joined, 15));
    }
    if (l < count) {
      const __m256i a =
          sample_pairs(l, row0, row1, pair_at<Block>(p, rows, y0, x0, l), pair_at<Block>(p, rows, y1, x0, l));
      // [a left | 0] + [a right | 0]
      const __m256i joined =
          _mm256_add_epi32(_mm256_permute2x128_si256(a, a, 0x80), _mm256_permute2x128_si256(a, a, 0x81));
      total = _mm256_add_epi32(total, _mm256_srli_epi32(joined, 15));
    }
  }
  uint32_t lane_sums[8];
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(lane_sums), total);
  for (int c = 0; c < 4; ++c) sums[c] += lane_sums[c] + lane_sums[4 + c];
}

void trail_sums(const TrailPath& p, PixelQ4* const* rows, uint32_t* sums) {
  if (q4_simd_use_avx2() && p.w > 1 && p.block)
    trail_sums_avx2<true>(p, rows, sums);
  else if (q4_simd_use_avx2() && p.w > 1)
    trail_sums_avx2<false>(p, rows, sums);
  else
    trail_sums_portable(p, rows, sums);
}

// c + v * amount, rounded and held to the channel range; a sink never
// wraps below 0.
unsigned short added(unsigned short c, float v, float amount) {
  return static_cast<unsigned short>(clamped(static_cast<float>(c) + v * amount + 0.5f, 0.0f, 32767.0f));
}

}  // namespace

bool FluidFlow::add_source_for_texture_method(ImageQ4* src, ImageQ4* texture, float amount) {
  if (!(std::fabs(amount) >= 1e-6f)) return true;
  if (!image_usable(src) || !image_usable(texture) || src->width != texture->width ||
      src->height != texture->height)
    return false;
  for (int y = 0; y < texture->height && !stopped(); ++y) {
    const PixelQ4* in = src->rows[y];
    PixelQ4* out = texture->rows[y];
    for (int x = 0; x < texture->width; ++x) {
      const PixelQ4 s = in[x];
      PixelQ4& t = out[x];
      t = PixelQ4{added(t.r, s.r, amount), added(t.g, s.g, amount), added(t.b, s.b, amount),
                  added(t.a, s.a, amount)};
    }
  }
  return true;
}

bool FluidFlow::motion_blur_image(ImageQ4* src, ImageQ4* dst) { return blur_along_flow(src, dst, 1.0f, false); }

bool FluidFlow::add_source_for_texture_method_with_motion_blur(ImageQ4* src, ImageQ4* texture, float amount) {
  if (!(std::fabs(amount) >= 1e-6f)) return true;
  return blur_along_flow(src, texture, amount, true);
}

bool FluidFlow::blur_along_flow(ImageQ4* src, ImageQ4* dst, float amount, bool add) {
  if (!image_usable(src) || !image_usable(dst) || src->width != dst->width || src->height != dst->height ||
      !velocity->has_storage())
    return false;
  const int w = dst->width, h = dst->height;
  const bool fft = velocity->method == FIELD_FFT;
  // The velocity at a pixel is evaluate_velocity at its 0..1 position.
  ImageLines lines;
  const bool made = image_lines_make(lines, w, h, nx, ny, [fft](float unit, int n) {
    const float g = static_cast<float>(n) * unit + 1.0f;
    return fft ? field_sampling::vector_fft(g, n) : field_sampling::vector_direct(g, n);
  });
  if (!made) return false;
  // A trail reaches into other bands' rows: in place, bands read a copy.
  ImageQ4* copy;
  ImageQ4* source = source_for_bands(src, dst, copy);
  if (!source) {
    image_lines_free(lines);
    return false;
  }
  worker_source = source;
  worker_target = dst;
  worker_amount = amount;
  blur_block = BlurBlock{lines};
  row_chunks.reset(h, kChunkRows);
  mp_exec(add ? mp_motion_blur_core_add : mp_motion_blur_core, h);
  worker_source = worker_target = nullptr;
  delete copy;
  image_lines_free(lines);
  return true;
}

void FluidFlow::mp_motion_blur_core(void* flow, int, int) {
  blur_band(static_cast<FluidFlow*>(static_cast<FluidFlowCore*>(flow)), false);
}

void FluidFlow::mp_motion_blur_core_add(void* flow, int, int) {
  blur_band(static_cast<FluidFlow*>(static_cast<FluidFlowCore*>(flow)), true);
}

void FluidFlow::blur_band(FluidFlow* self, bool add) {
  const ImageLines& lines = self->blur_block.lines;
  const ImageQ4* src = self->worker_source;
  const int w = src->width, h = src->height;
  const float longest = static_cast<float>(w > h ? w : h);
  const float amount = self->worker_amount;
  const VectorField* vel = self->velocity;
  const int stride = vel->stride();
  TrailPath path{0.0f, 0.0f, 0.0f, 0.0f, 2, static_cast<float>(w - 1), static_cast<float>(h - 1),
                 w, h, nullptr, nullptr};
  bool block = static_cast<long>(w) * h < (1L << 31);
  for (int y = 0; y < h && block; ++y) block = src->rows[y] == src->rows[0] + static_cast<long>(y) * w;
  path.block = block ? src->rows[0] : nullptr;
  float t_table[kTabledSamples + 8];
  int tabled_n = 0;

  RowCursor rows(self->row_chunks);
  int y = 0;
  while (!self->stopped() && rows.next(y)) {
    PixelQ4* out = self->worker_target->rows[y];
    const float fy = lines.f[w + y], gy = 1.0f - fy;
    const float* u0 = vel->u + lines.a[w + y] * stride;
    const float* u1 = vel->u + lines.b[w + y] * stride;
    const float* v0 = vel->v + lines.a[w + y] * stride;
    const float* v1 = vel->v + lines.b[w + y] * stride;
    // Image columns advance through the grid cells in order: the row blend
    // of a cell's two columns serves every pixel in it. The arithmetic of
    // VectorField::evaluate.
    int cell = -1;
    float u_a = 0.0f, u_b = 0.0f, v_a = 0.0f, v_b = 0.0f;
    for (int x = 0; x < w; ++x) {
      const int a = lines.a[x], b = lines.b[x];
      if (a != cell) {
        cell = a;
        u_a = gy * u0[a] + fy * u1[a];
        u_b = gy * u0[b] + fy * u1[b];
        v_a = gy * v0[a] + fy * v1[a];
        v_b = gy * v0[b] + fy * v1[b];
      }
      const float fx = lines.f[x], gx = 1.0f - fx;
      float vx = gx * u_a + fx * u_b;
      float vy = gx * v_a + fx * v_b;
      // A diverged flow has no direction to blur along.
      if (!std::isfinite(vx) || !std::isfinite(vy)) vx = vy = 0.0f;
      // The trail runs backwards, against the flow.
      path.x = static_cast<float>(x);
      path.y = static_cast<float>(y);
      path.dx = -vx;
      path.dy = -vy;
      const int wanted = truncated_within(3.0f * std::sqrt(vx * vx + vy * vy) * longest, 0, kMaxTrailSamples);
      path.n = wanted > 2 ? wanted : 2;
      if (path.n <= kTabledSamples && path.n != tabled_n) {
        fill_trail_table(t_table, path.n);
        tabled_n = path.n;
      }
      path.t = path.n == tabled_n ? t_table : nullptr;
      uint32_t sums[4] = {0, 0, 0, 0};
      trail_sums(path, src->rows, sums);
      const float samples = static_cast<float>(path.n);
      PixelQ4& t = out[x];
      if (add) {
        t = PixelQ4{added(t.r, static_cast<float>(sums[0]) / samples, amount),
                    added(t.g, static_cast<float>(sums[1]) / samples, amount),
                    added(t.b, static_cast<float>(sums[2]) / samples, amount),
                    added(t.a, static_cast<float>(sums[3]) / samples, amount)};
      } else {
        auto mean = [samples](uint32_t sum) {
          const float m = static_cast<float>(sum) / samples;
          return static_cast<unsigned short>(m < 32767.0f ? m : 32767.0f);
        };
        t = PixelQ4{mean(sums[0]), mean(sums[1]), mean(sums[2]), mean(sums[3])};
      }
    }
  }
}
