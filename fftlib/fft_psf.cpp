#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "fft_convolver.h"
#include "q4_memory.h"

// Generated filters and PSFs. Shapes are drawn with area anti-aliasing: each
// pixel the outline may cross gets the area of the shape clipped to its
// square.

namespace {

const float kPi = 3.1415927f;

float sinc(float x) { return x == 0.0f ? 1.0f : std::sin(kPi * x) / (kPi * x); }

// Tap i of a filter kind at x = i / r; the kinds' table is in
// set_standard_filter.
float tap(int kind, int i, float r, float param) {
  const float x = static_cast<float>(i) / r;
  switch (kind) {
    case 1: return static_cast<float>(i) < r ? 1.0f : 0.0f;
    case 2: return std::max(0.0f, 1.0f - x);
    case 3: {
      const float sigma = r / 3.0f;
      return std::exp(-static_cast<float>(i * i) / (2.0f * sigma * sigma));
    }
    case 4: {
      const float a = param == 0.0f ? -0.75f : param;
      if (x < 1.0f) return (a + 2.0f) * x * x * x - (a + 3.0f) * x * x + 1.0f;
      if (x < 2.0f) return a * x * x * x - 5.0f * a * x * x + 8.0f * a * x - 4.0f * a;
      return 0.0f;
    }
    case 5:
      if (x < 1.0f) return (3.0f * x * x * x - 6.0f * x * x + 4.0f) / 6.0f;
      if (x < 2.0f) return (2.0f - x) * (2.0f - x) * (2.0f - x) / 6.0f;
      return 0.0f;
    case 6: return x < 2.0f ? sinc(x) * (0.5f + 0.5f * std::cos(x * 0.7853982f)) : 0.0f;
    default: return x < 2.0f ? sinc(x) * sinc(x / 2.0f) : 0.0f;  // 9, Lanczos-2
  }
}

// The margin round a shape that reaches `extent` pixels from the centre.
// Shapes too large (or not numbers) get a margin no grid can hold, so the
// set-up refuses them with error 1 instead of converting a huge float.
int margin_for(float extent) {
  if (!(extent < 16384.0f)) return 16384;
  return static_cast<int>(std::ceil(std::max(extent, 0.0f))) + 1;
}

float polygon_area(const tagFFTPOLY& poly) {
  float twice = 0.0f;
  for (int i = 0, j = poly.n - 1; i < poly.n; j = i++)
    twice += poly.p[j][0] * poly.p[i][1] - poly.p[i][0] * poly.p[j][1];
  return std::fabs(twice) * 0.5f;
}

}  // namespace

void fftpolycliphalf2D(const tagFFTPOLY* in, tagFFTPOLY* out, int axis, float s, float o) {
  out->n = 0;
  const int n = std::min(std::max(in->n, 0), static_cast<int>(FFTPOLY_MAX_POINTS));
  if (n == 0) return;
  auto append = [out](float x, float y) {
    if (out->n >= FFTPOLY_MAX_POINTS) return;  // a clip of a convex shape never gets here
    out->p[out->n][0] = x;
    out->p[out->n][1] = y;
    ++out->n;
  };
  const float* prev = in->p[n - 1];
  float d_prev = s * prev[axis] - o;
  for (int i = 0; i < n; ++i) {
    const float* cur = in->p[i];
    const float d = s * cur[axis] - o;
    if ((d_prev > 0.0f) != (d > 0.0f)) {
      const float t = d_prev / (d_prev - d);
      append(prev[0] + t * (cur[0] - prev[0]), prev[1] + t * (cur[1] - prev[1]));
    }
    if (d <= 0.0f) append(cur[0], cur[1]);
    prev = cur;
    d_prev = d;
  }
}

int fftpolyclip(tagFFTPOLY* poly, const tagFFTPOLYBOX* box) {
  const int n = std::min(std::max(poly->n, 0), static_cast<int>(FFTPOLY_MAX_POINTS));
  int beyond[4] = {0, 0, 0, 0};  // x < xmin, x > xmax, y < ymin, y > ymax
  for (int i = 0; i < n; ++i) {
    beyond[0] += poly->p[i][0] < box->box[0];
    beyond[1] += poly->p[i][0] > box->box[1];
    beyond[2] += poly->p[i][1] < box->box[2];
    beyond[3] += poly->p[i][1] > box->box[3];
  }
  if (beyond[0] + beyond[1] + beyond[2] + beyond[3] == 0) return 2;
  for (int side = 0; side < 4; ++side) {
    if (beyond[side] == n) {
      poly->n = 0;
      return 0;
    }
  }
  // Half-planes x >= xmin, x <= xmax, y >= ymin, y <= ymax as s p - o <= 0.
  const float s[4] = {-1.0f, 1.0f, -1.0f, 1.0f};
  const float o[4] = {-box->box[0], box->box[1], -box->box[2], box->box[3]};
  tagFFTPOLY local;
  tagFFTPOLY* from = poly;
  tagFFTPOLY* to = &local;
  for (int side = 0; side < 4; ++side) {
    if (!beyond[side]) continue;
    fftpolycliphalf2D(from, to, side / 2, s[side], o[side]);
    std::swap(from, to);
    if (from->n == 0) break;
  }
  if (from != poly) *poly = *from;
  if (poly->n == 0) return 0;
  return 1;
}

void fftdraw_polygon(image_data* img, const tagFFTPOLY* poly) {
  if (!img || !img->pixels || img->pixel_type != IMAGE_PIXEL_BYTE || poly->n < 3) return;
  const int n = std::min(poly->n, static_cast<int>(FFTPOLY_MAX_POINTS));
  float xmin = poly->p[0][0], xmax = xmin, ymin = poly->p[0][1], ymax = ymin;
  for (int i = 1; i < n; ++i) {
    xmin = std::min(xmin, poly->p[i][0]);
    xmax = std::max(xmax, poly->p[i][0]);
    ymin = std::min(ymin, poly->p[i][1]);
    ymax = std::max(ymax, poly->p[i][1]);
  }
  if (!(std::isfinite(xmin) && std::isfinite(xmax) && std::isfinite(ymin) && std::isfinite(ymax))) return;
  // Pixels x from floor(xmin) to ceil(xmax) - 1, clamped to the image
  // before any conversion to int.
  const float right = static_cast<float>(img->width - 1), top = static_cast<float>(img->height - 1);
  const int x0 = static_cast<int>(std::max(0.0f, std::floor(xmin)));
  const int x1 = static_cast<int>(std::min(right, std::ceil(xmax) - 1.0f));
  const int y0 = static_cast<int>(std::max(0.0f, std::floor(ymin)));
  const int y1 = static_cast<int>(std::min(top, std::ceil(ymax) - 1.0f));
  const int ch = img->channels;
  for (int y = y0; y <= y1; ++y) {
    uint8_t* row = image_row(img, y);
    for (int x = x0; x <= x1; ++x) {
      tagFFTPOLY piece = *poly;
      piece.n = n;
      const tagFFTPOLYBOX square = {{static_cast<float>(x), static_cast<float>(x + 1), static_cast<float>(y),
                                     static_cast<float>(y + 1)}};
      // Result 2 leaves a polygon that lies inside the pixel: it covers its
      // own area, not the whole pixel.
      const int result = fftpolyclip(&piece, &square);
      const float coverage = result == 0 ? 0.0f : polygon_area(piece);
      row[x * ch] = static_cast<uint8_t>(std::min(coverage, 1.0f) * 255.0f + 0.5f);
    }
  }
}

bool FFTConvolver::set_standard_filter(int kind, float radius, float param, float) {
  if (kind < 1 || kind > 9 || kind == 7 || kind == 8 || !std::isfinite(radius) || !std::isfinite(param)) return false;
  const float r = std::max(kind == 1 ? 1.0f : 0.01f, radius);
  // Lines of at most 8192 samples hold at most 4096 taps on a side.
  if (r > 4096.0f) return false;
  const int n = kind <= 2 ? static_cast<int>(r) + 1 : 2 * static_cast<int>(std::ceil(r)) + 1;
  float* taps = static_cast<float*>(q4_malloc(static_cast<unsigned>(sizeof(float)) * n, __FILE__, __LINE__));
  if (!taps) return false;
  for (int i = 0; i < n; ++i) taps[i] = tap(kind, i, r, param);
  const bool ok = set_filter_1D(taps, n);
  q4_free(taps, __FILE__, __LINE__);
  return ok;
}

// The owned one-channel byte image for drawn PSFs, kept while the size stays
// the same, cleared.
static image_data* cleared_psf_image(image_data*& psf, int width, int height) {
  if (psf && (psf->width != width || psf->height != height)) {
    image_data_delete(psf);
    psf = nullptr;
  }
  if (!psf) psf = image_data_create(width, height, 1, IMAGE_PIXEL_BYTE, 1);
  if (psf) memset(psf->pixels, 0, static_cast<size_t>(psf->row_bytes) * psf->height);
  return psf;
}

bool FFTConvolver::set_standard_PSF(int width, int height, int kind, float a, float b, float angle, int sides) {
  if (!cleared_psf_image(standard_psf, width, height)) {
    error_code = FFT_ERR_MEMORY;
    return false;
  }
  a = std::isnan(a) ? 1.0f : std::min(std::max(a, 1.0f), 16384.0f);
  b = std::isnan(b) ? 1.0f : std::min(std::max(b, 1.0f), 16384.0f);
  if (!std::isfinite(angle)) angle = 0.0f;
  const float cx = static_cast<float>(width / 2), cy = static_cast<float>(height / 2);
  float ux = 0.0f, uy = 0.0f;  // shape centre's offset from the PSF centre
  tagFFTPOLY poly;
  poly.n = 0;
  auto add = [&](float x, float y, float rot) {
    const float c = std::cos(rot), s = std::sin(rot);
    poly.p[poly.n][0] = cx + (x * c - y * s + ux) / x_aspect;
    poly.p[poly.n][1] = cy + (x * s + y * c + uy) / y_aspect;
    ++poly.n;
  };
  const float rad = angle * (kPi / 180.0f);
  if (kind == 1 || kind == 2) {
    const int count = kind == 1 ? FFTPOLY_MAX_SHAPE : std::min(std::max(sides, 3), static_cast<int>(FFTPOLY_MAX_SHAPE));
    const float step = kind == 1 ? 0.12566371f : 2.0f * kPi / count;
    for (int k = 0; k < count; ++k) add(a * std::cos(k * step), b * std::sin(k * step), rad);
  } else if (kind == 3 || kind == 4) {
    if (kind == 4) {
      // Moved along its length so that the line starts at the PSF centre.
      ux = -a * std::cos(-rad);
      uy = -a * std::sin(-rad);
    }
    const float corners[4][2] = {{-a, -b}, {a, -b}, {a, b}, {-a, b}};
    for (const auto& p : corners) add(p[0], p[1], -rad);
  }
  if (poly.n) fftdraw_polygon(standard_psf, &poly);
  return set_up_psf_by_mode(standard_psf, margin_for(std::max(a, b)));
}

bool FFTConvolver::set_image_PSF(image_data* img, int cx, int cy, float r, float soft) {
  if (!img || !img->pixels) {
    error_code = FFT_ERR_MISSING;
    return false;
  }
  if (img->pixel_type == IMAGE_PIXEL_FLOAT) {
    error_code = FFT_ERR_FLOAT;
    return false;
  }
  const int w = img->width, h = img->height;
  if (!cleared_psf_image(standard_psf, w, h)) {
    error_code = FFT_ERR_MEMORY;
    return false;
  }
  if (!std::isfinite(r)) r = 0.0f;
  const float width_of_edge = std::isfinite(soft) ? std::max(soft, 1.0f) : 1.0f;
  const int shift = img->pixel_type == IMAGE_PIXEL_WORD ? 8 : img->pixel_type == IMAGE_PIXEL_WORD32 ? 24 : 0;
  const int ch = img->channels;
  bool all_equal = true;
  int first_value = -1;
  for (int y = 0; y < h; ++y) {
    const int py = h / 2 + (y - cy);
    const unsigned char* src = image_row(img, y);
    for (int x = 0; x < w; ++x) {
      const int px = w / 2 + (x - cx);
      if (px < 0 || px >= w || py < 0 || py >= h) continue;
      const float d = std::hypot(static_cast<float>(x - cx), static_cast<float>(y - cy));
      const float t = (d - r) / width_of_edge;
      const float weight = t < 0.0f ? 1.0f : t <= 1.0f ? 1.0f - t : 0.0f;
      unsigned value;
      switch (img->pixel_type) {
        case IMAGE_PIXEL_BYTE: value = src[x * ch]; break;
        case IMAGE_PIXEL_WORD: value = reinterpret_cast<const uint16_t*>(src)[x * ch] >> shift; break;
        default: value = reinterpret_cast<const uint32_t*>(src)[x * ch] >> shift; break;
      }
      image_row(standard_psf, py)[px] = static_cast<uint8_t>(weight * static_cast<float>(value));
    }
  }
  // Every byte the same (all 0, say): a delta at the centre instead.
  const uint8_t* bytes = static_cast<const uint8_t*>(standard_psf->pixels);
  for (long k = 0; k < static_cast<long>(w) * h; ++k) {
    if (first_value < 0) first_value = bytes[k];
    if (bytes[k] != first_value) {
      all_equal = false;
      break;
    }
  }
  if (all_equal) {
    memset(standard_psf->pixels, 0, static_cast<size_t>(w) * h);
    image_row(standard_psf, h / 2)[w / 2] = 255;
  }
  return set_up_psf_by_mode(standard_psf, margin_for(r + width_of_edge));
}
