#ifndef SCALAR_FIELD_H
#define SCALAR_FIELD_H

#include "field_sampling.h"
#include "field_storage.h"
#include "q4_mp_hooks.h"

class FFTConvolver;
struct complex4;
struct image_data;

// One float per cell of an nx x ny grid, in the FFT or the DIRECT layout
// (field_storage.h), with a label, the role flags the solver sets, the
// spectrum of the FFT method and the hooks handed on to the FFT service.
// A field whose storage could not be allocated has null data: it paints
// nothing and every operation that needs the data refuses.
class ScalarField {
 public:
  ScalarField(int nx, int ny, int method);
  virtual ~ScalarField();
  ScalarField(const ScalarField&) = delete;
  ScalarField& operator=(const ScalarField&) = delete;

  bool has_storage() const { return data != nullptr; }
  int stride() const { return field_stride(method, nx); }
  bool same_grid(const ScalarField* other) const {
    return other && other->nx == nx && other->ny == ny;
  }

  void get_bounds(int& x0, int& x1, int& gx, int& y0, int& y1, int& gy) const;
  void get_steps(float& dx, float& dy) const;
  void set_label(const char* text);
  const char* get_label() const { return label; }
  void set_mp_exec(void* context, mp_exec_fn executor);
  void set_abort_test(void* context, abort_test_fn test);

  // Whole storage, ghost ring included; false when the grids differ or
  // either field has no storage.
  bool copy(const ScalarField* src);
  // The stored rows first..last alone (0 .. rows() - 1, ghosts included).
  bool copy_rows(const ScalarField* src, int first, int last);
  void set(float v);
  void set_rows(float v, int first, int last);
  int rows() const { return field_rows(method, ny); }
  void add(float v);
  void set_rectangle(int x0, int y0, int x1, int y1, float v);

  // Interpolated value at a grid position; false (and 0) without storage.
  bool evaluate(float x, float y, float& out, bool cubic, bool clamp, float lo, float hi) const;
  bool evaluate_at_normalized_pos(float x, float y, float& out, bool cubic, bool clamp, float lo,
                                  float hi) const;

  // Square FFT-layout fields only; false when the service refuses.
  bool forward_FFT(FFTConvolver* conv);
  bool inverse_FFT(FFTConvolver* conv);

  void normalize(float* min_out, float* max_out);
  // Interior cells, both fields indexed in this field's layout.
  bool multiply_field(const ScalarField* f);
  bool add_field(const ScalarField* f, float s);
  bool add_time_field(const ScalarField* f, float t);
  void get_range(float& min, float& max) const;
  bool dump(const char* path) const;

  // Renderings: a new image_data of one pixel per interior cell, rows in
  // field order, pixel type 0 (bytes) or 1 (words); null for another type or
  // short memory. The caller deletes it. The heat map reuses the range of
  // the last auto-ranged rendering unless asked to recompute it. The mapped
  // renderings look t = (value - lo) / (hi - lo) up in n control points
  // (none: a grey ramp); the _transp forms multiply by a weight field of the
  // same grid, mapped from w_lo..w_hi to 0..1.
  image_data* magnitude_image(bool recompute, bool fixed_range, float lo, float hi, int type);
  image_data* magnitude_image_mono_map(float lo, float hi, const float* pos, const float* val, int n, int type);
  image_data* magnitude_image_mono_map_transp(float lo, float hi, const float* pos, const float* val, int n,
                                              const ScalarField* weight, float w_lo, float w_hi, int type);
  image_data* magnitude_image_colour_map(float lo, float hi, const float* r, const float* g, const float* b,
                                         const float* pos, int n, int type);
  image_data* magnitude_image_colour_map_transp(float lo, float hi, const float* r, const float* g,
                                                const float* b, const float* pos, int n,
                                                const ScalarField* weight, float w_lo, float w_hi, int type);

  int method;
  int nx, ny;
  float* data;
  complex4* spectrum;
  int spectrum_width, spectrum_height;
  char label[FIELD_LABEL_SIZE];
  unsigned char is_source_field;
  unsigned char is_barrier_field;
  unsigned char is_texture_field;
  void* hook_context;
  mp_exec_fn executor;
  abort_test_fn abort_test;
  FieldRenderRange render_range;

 private:
  // Visits every interior cell of this field's layout with its index.
  template <typename Visit>
  bool for_interior(Visit visit) const;
};

// Interpolation at grid positions with the field's layout and size read
// once: an advection samples the same field many times.
struct ScalarSampler {
  const float* data;
  int nx, ny, stride;
  bool fft, cubic;

  __attribute__((always_inline)) float operator()(float x, float y) const {
    AxisTaps tx, ty;
    if (fft) {
      tx = field_sampling::scalar_fft(x, nx);
      ty = field_sampling::scalar_fft(y, ny);
    } else {
      tx = field_sampling::scalar_direct(x, nx);
      ty = field_sampling::scalar_direct(y, ny);
    }
    return field_sampling::sample(data, stride, tx, ty, cubic);
  }
};

inline bool ScalarField::evaluate(float x, float y, float& out, bool cubic, bool clamp, float lo,
                                  float hi) const {
  out = 0.0f;
  if (!data) return false;
  float v = ScalarSampler{data, nx, ny, stride(), method == FIELD_FFT, cubic}(x, y);
  if (clamp) v = v < lo ? lo : (v > hi ? hi : v);
  out = v;
  return true;
}

#endif
