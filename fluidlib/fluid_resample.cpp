// Resampling through the flow: every output pixel looks up, in the two
// texture-coordinate fields, where it came from in the texture image and
// samples it there (bilinear, or over the area the flow stretched it to).
//
// A row is done a piece at a time: first the source positions and edge
// fades of the piece's pixels side by side, then the samples.
#include <immintrin.h>

#include <cstring>

#include "ImageXfmQ4.h"
#include "fluid_flow.h"
#include "fluid_numeric.h"
#include "image_line_taps.h"
#include "q4_simd.h"

namespace {

const int kPiece = 64;

// Rows a band claims at a time (row_chunks.h).
const int kChunkRows = 4;

// What the positions of one row's pixels need: the two field rows around
// the image row with their blend, the column taps from the piece's first
// pixel on, and the image's extent.
struct FlowRow {
  const float* u0;
  const float* u1;
  const float* v0;
  const float* v1;
  float fy;
  const int* a;
  const int* b;
  const float* f;
  float span_x, span_y;    // w - 1, h - 1
  float inner_x, inner_y;  // w - 1.5, h - 1.5
  bool wrap_x, wrap_y, fade;
};

inline float wrapped(float t, bool wrap) {
  if (wrap) {
    if (t < 0.0f) return t + 1.0f;
    if (t > 1.0f) return t - 1.0f;
  }
  return t;
}

// Fade toward transparent black over the outer pixel of a line whose last
// pixel is at inner + 1.5, at sample position s. Coordinates that left the
// image give factors outside 0..1 (or NaN): they show black.
inline float edge_fade(float s, float inner) {
  float f;
  if (s <= 0.5f)
    f = 2.0f * s;
  else if (s < inner)
    f = 1.0f;
  else
    f = 1.0f - 2.0f * (s - inner);
  return clamped(f, 0.0f, 1.0f);
}

// The texture coordinates of n pixels: the bilinear value of each field at
// the pixels' taps, with the arithmetic of ScalarField::evaluate. Pixels
// advance through the grid cells in order, so the row blend of a cell's two
// columns serves every pixel in it.
void texture_coordinates(const FlowRow& r, int n, float* tx, float* ty) {
  const float gy = 1.0f - r.fy;
  int cell = -1;
  float u_a = 0.0f, u_b = 0.0f, v_a = 0.0f, v_b = 0.0f;
  for (int i = 0; i < n; ++i) {
    const int a = r.a[i], b = r.b[i];
    if (a != cell) {
      cell = a;
      u_a = gy * r.u0[a] + r.fy * r.u1[a];
      u_b = gy * r.u0[b] + r.fy * r.u1[b];
      v_a = gy * r.v0[a] + r.fy * r.v1[a];
      v_b = gy * r.v0[b] + r.fy * r.v1[b];
    }
    const float fx = r.f[i], gx = 1.0f - fx;
    tx[i] = gx * u_a + fx * u_b;
    ty[i] = gx * v_a + fx * v_b;
  }
}

// Texture coordinates to source positions in pixels (wrapped, scaled to
// the image) and edge fades, in place.
void placements_portable(const FlowRow& r, int n, float* cx, float* cy, float* fade) {
  for (int i = 0; i < n; ++i) {
    cx[i] = wrapped(cx[i], r.wrap_x) * r.span_x;
    cy[i] = wrapped(cy[i], r.wrap_y) * r.span_y;
    fade[i] = r.fade ? edge_fade(cx[i], r.inner_x) * edge_fade(cy[i], r.inner_y) : 1.0f;
  }
}

// The same eight pixels at a time. Compares are ordered (NaN false), as in
// the branches above.
Q4_SIMD_TARGET_AVX2 inline __m256 wrapped8(__m256 t, bool wrap) {
  if (!wrap) return t;
  const __m256 one = _mm256_set1_ps(1.0f);
  const __m256 below = _mm256_cmp_ps(t, _mm256_setzero_ps(), _CMP_LT_OQ);
  const __m256 above = _mm256_cmp_ps(t, one, _CMP_GT_OQ);
  const __m256 up = _mm256_blendv_ps(t, _mm256_add_ps(t, one), below);
  return _mm256_blendv_ps(up, _mm256_sub_ps(t, one), above);
}

Q4_SIMD_TARGET_AVX2 inline __m256 edge_fade8(__m256 s, __m256 inner) {
  const __m256 one = _mm256_set1_ps(1.0f), two = _mm256_set1_ps(2.0f);
  const __m256 end = _mm256_sub_ps(one, _mm256_mul_ps(two, _mm256_sub_ps(s, inner)));
  __m256 f = _mm256_blendv_ps(end, one, _mm256_cmp_ps(s, inner, _CMP_LT_OQ));
  f = _mm256_blendv_ps(f, _mm256_mul_ps(two, s), _mm256_cmp_ps(s, _mm256_set1_ps(0.5f), _CMP_LE_OQ));
  const __m256 positive = _mm256_cmp_ps(f, _mm256_setzero_ps(), _CMP_GT_OQ);
  const __m256 below_one = _mm256_blendv_ps(one, f, _mm256_cmp_ps(f, one, _CMP_LT_OQ));
  return _mm256_and_ps(below_one, positive);
}

Q4_SIMD_TARGET_AVX2 void placements_avx2(const FlowRow& r, int n, float* cx, float* cy, float* fade) {
  const __m256 one = _mm256_set1_ps(1.0f);
  const __m256 span_x = _mm256_set1_ps(r.span_x), span_y = _mm256_set1_ps(r.span_y);
  const __m256 inner_x = _mm256_set1_ps(r.inner_x), inner_y = _mm256_set1_ps(r.inner_y);
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256 x = _mm256_mul_ps(wrapped8(_mm256_loadu_ps(cx + i), r.wrap_x), span_x);
    const __m256 y = _mm256_mul_ps(wrapped8(_mm256_loadu_ps(cy + i), r.wrap_y), span_y);
    _mm256_storeu_ps(cx + i, x);
    _mm256_storeu_ps(cy + i, y);
    _mm256_storeu_ps(fade + i, r.fade ? _mm256_mul_ps(edge_fade8(x, inner_x), edge_fade8(y, inner_y)) : one);
  }
  if (i < n) placements_portable(r, n - i, cx + i, cy + i, fade + i);
}

void placements(const FlowRow& r, int n, float* cx, float* cy, float* fade) {
  if (q4_simd_use_avx2())
    placements_avx2(r, n, cx, cy, fade);
  else
    placements_portable(r, n, cx, cy, fade);
}

inline PixelQ4 faded(PixelQ4 p, float f) {
  auto c = [f](unsigned short v) { return static_cast<unsigned short>(static_cast<float>(v) * f); };
  return PixelQ4{c(p.r), c(p.g), c(p.b), c(p.a)};
}

}  // namespace

bool FluidFlow::resample_image_using_texture_field(ImageQ4* src, ImageQ4* dst, bool edge_escape, ImageQ4* kept) {
  return resample(src, dst, edge_escape, false, kept);
}

bool FluidFlow::resample_image_using_texture_field_not_recursive(ImageQ4* src, ImageQ4* dst, bool edge_escape) {
  return resample(src, dst, edge_escape, true, nullptr);
}

bool FluidFlow::resample(ImageQ4* src, ImageQ4* dst, bool edge_escape, bool footprint, ImageQ4* kept) {
  if (!texture_u || !texture_v || !texture_u->has_storage() || !texture_v->has_storage() ||
      !texture_u->same_grid(texture_v) || texture_u->method != texture_v->method || !resampler)
    return false;
  if (!image_usable(src) || !image_usable(dst) || src->width != dst->width || src->height != dst->height)
    return false;
  // Bands write the kept rows while others still read the source.
  if (kept && (kept == src || kept == dst || !image_usable(kept) || kept->width != dst->width ||
               kept->height != dst->height))
    return false;
  const int w = dst->width, h = dst->height;
  const int layout = texture_u->method;
  const float ghost = layout == FIELD_DIRECT ? 1.0f : 0.0f;
  ImageLines lines;
  const bool made = image_lines_make(lines, w, h, texture_u->nx, texture_u->ny, [&](float unit, int n) {
    const float g = unit * static_cast<float>(n - 1) + ghost;
    return layout == FIELD_FFT ? field_sampling::scalar_fft(g, n) : field_sampling::scalar_direct(g, n);
  });
  if (!made) return false;
  // Bands read the source all over: in place, they read a copy.
  ImageQ4* copy;
  ImageQ4* source = source_for_bands(src, dst, copy);
  if (!source) {
    image_lines_free(lines);
    return false;
  }

  resampler->sampleMode(2);
  if (footprint && edge_escape) {
    // Pinned borders: the outermost interior cells map to the image edges.
    int x0, x1, gx, y0, y1, gy;
    texture_u->get_bounds(x0, x1, gx, y0, y1, gy);
    const int stride = texture_u->stride();
    for (int j = y0; j < y1; ++j) {
      texture_u->data[j * stride + x0] = 0.0f;
      texture_u->data[j * stride + x1 - 1] = 1.0f;
    }
    for (int i = x0; i < x1; ++i) {
      texture_v->data[y0 * stride + i] = 0.0f;
      texture_v->data[(y1 - 1) * stride + i] = 1.0f;
    }
  }
  worker_source = source;
  worker_target = dst;
  resample_block =
      ResampleBlock{lines, kept, edge_escape && !wrap_x && !wrap_y, wrap_x != 0, wrap_y != 0, footprint};
  row_chunks.reset(h, kChunkRows);
  mp_exec(mp_resample, h);
  worker_source = worker_target = nullptr;
  delete copy;
  image_lines_free(lines);
  return true;
}

void FluidFlow::mp_resample(void* flow, int, int) {
  FluidFlow* self = static_cast<FluidFlow*>(static_cast<FluidFlowCore*>(flow));
  const ResampleBlock& job = self->resample_block;
  ImageQ4* src = self->worker_source;
  ImageXfmQ4* sampler = self->resampler;
  const int w = src->width, h = src->height;
  const ImageLines& lines = job.lines;
  const ScalarField* fu = self->texture_u;
  const ScalarField* fv = self->texture_v;
  const int stride = fu->stride();
  const bool float_samples = sampler->sample_arithmetic == 1;
  FlowRow row{nullptr, nullptr, nullptr, nullptr, 0.0f, nullptr, nullptr, nullptr,
              static_cast<float>(w - 1), static_cast<float>(h - 1), static_cast<float>(w) - 1.5f,
              static_cast<float>(h) - 1.5f, job.wrap_x, job.wrap_y, job.fade};
  // The area variant: the texture coordinates at the four corners a few
  // hundredths of a cell around the pixel's grid position.
  const ScalarSampler at_u{fu->data, fu->nx, fu->ny, stride, fu->method == FIELD_FFT, false};
  const ScalarSampler at_v{fv->data, fv->nx, fv->ny, stride, fv->method == FIELD_FFT, false};
  const float ghost = fu->method == FIELD_DIRECT ? 1.0f : 0.0f;
  const float reach_x = 3.0f / static_cast<float>(fu->nx), reach_y = 3.0f / static_cast<float>(fu->ny);
  float cx[kPiece], cy[kPiece], fade[kPiece], sx[kPiece], sy[kPiece];

  RowCursor rows(self->row_chunks);
  int y = 0;
  while (rows.next(y)) {
    PixelQ4* out = self->worker_target->rows[y];
    // After a stop the rows left keep what the target held, and so does
    // the kept image: the texture goes on from the result as it stands.
    if (self->stopped()) {
      if (!job.kept) break;
      std::memcpy(job.kept->rows[y], out, static_cast<size_t>(w) * sizeof(PixelQ4));
      continue;
    }
    const int ta = lines.a[w + y], tb = lines.b[w + y];
    row.u0 = fu->data + ta * stride;
    row.u1 = fu->data + tb * stride;
    row.v0 = fv->data + ta * stride;
    row.v1 = fv->data + tb * stride;
    row.fy = lines.f[w + y];
    for (int x0 = 0; x0 < w; x0 += kPiece) {
      const int n = w - x0 < kPiece ? w - x0 : kPiece;
      if (!job.footprint) {
        row.a = lines.a + x0;
        row.b = lines.b + x0;
        row.f = lines.f + x0;
        texture_coordinates(row, n, cx, cy);
        placements(row, n, cx, cy, fade);
        PixelQ4* dst = out + x0;
        if (float_samples) {
          for (int i = 0; i < n; ++i) dst[i] = sampler->bilinear_sample(src, cx[i], cy[i]);
        } else {
          sampler->bilinear_sample_integer_row(src, cx, cy, n, dst);
        }
        for (int i = 0; i < n; ++i)
          if (fade[i] != 1.0f) dst[i] = faded(dst[i], fade[i]);
        continue;
      }
      const float gy = lines.unit[w + y] * static_cast<float>(fu->ny - 1) + ghost;
      for (int i = 0; i < n; ++i) {
        const float gx = lines.unit[x0 + i] * static_cast<float>(fu->nx - 1) + ghost;
        float lo_x = at_u(gx - reach_x, gy - reach_y), hi_x = lo_x;
        float lo_y = at_v(gx - reach_x, gy - reach_y), hi_y = lo_y;
        for (int k = 1; k < 4; ++k) {
          const float px = (k & 1) ? gx + reach_x : gx - reach_x;
          const float py = (k & 2) ? gy + reach_y : gy - reach_y;
          const float su = at_u(px, py), sv = at_v(px, py);
          lo_x = su < lo_x ? su : lo_x;
          hi_x = su > hi_x ? su : hi_x;
          lo_y = sv < lo_y ? sv : lo_y;
          hi_y = sv > hi_y ? sv : hi_y;
        }
        cx[i] = wrapped((lo_x + hi_x) * 0.5f, job.wrap_x) * row.span_x;
        cy[i] = wrapped((lo_y + hi_y) * 0.5f, job.wrap_y) * row.span_y;
        sx[i] = (hi_x - lo_x) * row.span_x;
        sy[i] = (hi_y - lo_y) * row.span_y;
        fade[i] = job.fade ? edge_fade(cx[i], row.inner_x) * edge_fade(cy[i], row.inner_y) : 1.0f;
      }
      for (int i = 0; i < n; ++i) {
        PixelQ4 p = sampler->sample_image(src, cx[i], cy[i], sx[i], sy[i]);
        if (fade[i] != 1.0f) p = faded(p, fade[i]);
        out[x0 + i] = p;
      }
    }
    if (job.kept) std::memcpy(job.kept->rows[y], out, static_cast<size_t>(w) * sizeof(PixelQ4));
  }
}
