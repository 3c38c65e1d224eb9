// Diagnostic pictures of the fields: a heat map of a scalar value or of a
// vector magnitude, and control-point maps of a scalar value, optionally
// weighted by a second field. One pixel per interior cell; image row r is
// interior row r, so a picture read back with to_Q4Image stands the way the
// fields are filled from frames.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "colour_ramp.h"
#include "fluid_numeric.h"
#include "image_data.h"
#include "scalar_field.h"
#include "vector_field.h"

namespace {

// Interior cells of one layout: cell (i, j) counted from the first interior
// cell is stored at (j + ghost) * stride + i + ghost.
struct Interior {
  const float* data;
  int stride, ghost;
  float at(int i, int j) const { return data[(j + ghost) * stride + i + ghost]; }
};

Interior interior_of(const float* data, int method, int nx) {
  return Interior{data, field_stride(method, nx), method == FIELD_DIRECT ? 1 : 0};
}

// The abort test of a DIRECT-layout field, asked before each row.
struct RowStop {
  abort_test_fn test;
  void* context;
  bool operator()() const { return test && test(context); }
};

RowStop row_stop(int method, abort_test_fn test, void* context) {
  return RowStop{method == FIELD_DIRECT ? test : nullptr, context};
}

// A channel value in 0..1 as a sample of the image's type. Control points
// and weights may reach outside 0..1 (or be NaN); the sample never wraps.
template <typename Sample>
Sample quantised(float c, float full) {
  return static_cast<Sample>(clamped(c, 0.0f, 1.0f) * full + 0.5f);
}

template <typename Sample, typename Shade>
void fill_rows(image_data* img, float full, const RowStop& stop, Shade shade) {
  const int channels = img->channels;
  float c[3] = {0.0f, 0.0f, 0.0f};
  for (int j = 0; j < img->height; ++j) {
    if (stop()) {
      // What a stopped rendering did not reach shows black, not old memory.
      std::memset(image_row(img, j), 0, static_cast<size_t>(img->height - j) * img->row_bytes);
      return;
    }
    Sample* out = reinterpret_cast<Sample*>(image_row(img, j));
    for (int i = 0; i < img->width; ++i) {
      shade(i, j, c);
      for (int k = 0; k < channels; ++k) *out++ = quantised<Sample>(c[k], full);
    }
  }
}

// A new nx x ny picture of `channels` channels filled by shade(i, j, c);
// null for a type other than bytes or words (before allocating anything)
// or when the image cannot be made.
bool renderable(int type) { return type == IMAGE_PIXEL_BYTE || type == IMAGE_PIXEL_WORD; }

template <typename Shade>
image_data* render(int nx, int ny, int channels, int type, const RowStop& stop, Shade shade) {
  if (!renderable(type)) return nullptr;
  image_data* img = image_data_create(nx, ny, channels, type, 1);
  if (!img) return nullptr;
  if (type == IMAGE_PIXEL_BYTE)
    fill_rows<uint8_t>(img, 255.0f, stop, shade);
  else
    fill_rows<uint16_t>(img, 65535.0f, stop, shade);
  return img;
}

// Low values red, the middle green, high values blue.
void heat(float t, float* c) {
  c[0] = clamped(1.0f - 2.0f * t, 0.0f, 1.0f);
  c[1] = clamped(t <= 0.5f ? 2.0f * t : 2.0f - 2.0f * t, 0.0f, 1.0f);
  c[2] = clamped(2.0f * t - 1.0f, 0.0f, 1.0f);
}

// Grey ramp without control points (or without their tables).
float mono(float t, const float* pos, const float* val, int n) {
  if (n < 1 || !pos || !val) return t;
  return ramp_value(ramp_point(t, pos, n), val);
}

void colour(float t, const float* r, const float* g, const float* b, const float* pos, int n, float* c) {
  if (n < 1 || !pos || !r || !g || !b) {
    c[0] = c[1] = c[2] = t;
    return;
  }
  const RampPoint p = ramp_point(t, pos, n);
  c[0] = ramp_value(p, r);
  c[1] = ramp_value(p, g);
  c[2] = ramp_value(p, b);
}

float unit_position(float v, float lo, float hi) { return clamped((v - lo) / (hi - lo + 1e-7f), 0.0f, 1.0f); }

// The weight of a _transp map: a span of 0 would divide 0 by 0, so it
// weighs fully.
float weight_of(float s, float lo, float hi) {
  if (hi == lo) return 1.0f;
  return clamped((s - lo) / (hi - lo), 0.0f, 1.0f);
}

}  // namespace

image_data* ScalarField::magnitude_image(bool recompute, bool fixed_range, float lo, float hi, int type) {
  if (!data || !renderable(type)) return nullptr;
  const Interior cells = interior_of(data, method, nx);
  float base, span;
  if (fixed_range) {
    base = lo;
    span = hi - lo + 1e-7f;
  } else {
    if (recompute || !render_range.valid) {
      float mn = cells.at(0, 0), mx = mn;
      for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
          const float v = cells.at(i, j);
          if (v < mn) mn = v;
          if (v > mx) mx = v;
        }
      render_range = FieldRenderRange{mn, mx, 1};
    }
    base = render_range.min;
    span = render_range.max - render_range.min + 1e-7f;
  }
  return render(nx, ny, 3, type, row_stop(method, abort_test, hook_context),
                [&](int i, int j, float* c) { heat((cells.at(i, j) - base) / span, c); });
}

image_data* ScalarField::magnitude_image_mono_map(float lo, float hi, const float* pos, const float* val, int n,
                                                  int type) {
  return magnitude_image_mono_map_transp(lo, hi, pos, val, n, nullptr, 0.0f, 0.0f, type);
}

image_data* ScalarField::magnitude_image_mono_map_transp(float lo, float hi, const float* pos, const float* val,
                                                         int n, const ScalarField* weight, float w_lo, float w_hi,
                                                         int type) {
  // The weight is read cell for cell: another grid would be read past its end.
  if (!data || (weight && (!weight->data || !same_grid(weight)))) return nullptr;
  const Interior cells = interior_of(data, method, nx);
  const Interior weights = weight ? interior_of(weight->data, weight->method, weight->nx) : cells;
  return render(nx, ny, 1, type, row_stop(method, abort_test, hook_context), [&](int i, int j, float* c) {
    const float w = weight ? weight_of(weights.at(i, j), w_lo, w_hi) : 1.0f;
    c[0] = mono(unit_position(cells.at(i, j), lo, hi), pos, val, n) * w;
  });
}

image_data* ScalarField::magnitude_image_colour_map(float lo, float hi, const float* r, const float* g,
                                                    const float* b, const float* pos, int n, int type) {
  return magnitude_image_colour_map_transp(lo, hi, r, g, b, pos, n, nullptr, 0.0f, 0.0f, type);
}

image_data* ScalarField::magnitude_image_colour_map_transp(float lo, float hi, const float* r, const float* g,
                                                           const float* b, const float* pos, int n,
                                                           const ScalarField* weight, float w_lo, float w_hi,
                                                           int type) {
  if (!data || (weight && (!weight->data || !same_grid(weight)))) return nullptr;
  const Interior cells = interior_of(data, method, nx);
  const Interior weights = weight ? interior_of(weight->data, weight->method, weight->nx) : cells;
  return render(nx, ny, 3, type, row_stop(method, abort_test, hook_context), [&](int i, int j, float* c) {
    colour(unit_position(cells.at(i, j), lo, hi), r, g, b, pos, n, c);
    if (!weight) return;
    const float w = weight_of(weights.at(i, j), w_lo, w_hi);
    for (int k = 0; k < 3; ++k) c[k] *= w;
  });
}

namespace {

float magnitude(float u, float v) { return std::sqrt(u * u + v * v); }

// Heat map of the magnitude from 0 to the largest magnitude, kept in range.
// The range covers the first nx * ny stored cells of both components.
image_data* vector_heat_map(const VectorField& f, FieldRenderRange& range, bool recompute, int type) {
  if (!f.has_storage() || !renderable(type)) return nullptr;
  if (recompute || !range.valid) {
    const int cells = f.nx * f.ny;
    float mn = magnitude(f.u[0], f.v[0]), mx = mn;
    for (int k = 1; k < cells; ++k) {
      const float m = magnitude(f.u[k], f.v[k]);
      if (m < mn) mn = m;
      if (m > mx) mx = m;
    }
    range = FieldRenderRange{mn, mx, 1};
  }
  const float span = range.max;
  const Interior u = interior_of(f.u, f.method, f.nx), v = interior_of(f.v, f.method, f.nx);
  return render(f.nx, f.ny, 3, type, row_stop(f.method, f.abort_test, f.hook_context),
                [&](int i, int j, float* c) {
                  // A field at rest has no range to divide by: it shows black.
                  if (!(span > 0.0f)) {
                    c[0] = c[1] = c[2] = 0.0f;
                    return;
                  }
                  heat(magnitude(u.at(i, j), v.at(i, j)) / span, c);
                });
}

}  // namespace

image_data* VectorField::magnitude_image(bool recompute, int type) {
  return vector_heat_map(*this, magnitude_range, recompute, type);
}

image_data* VectorField::vector_image(bool recompute, int type) {
  return vector_heat_map(*this, vector_range, recompute, type);
}
