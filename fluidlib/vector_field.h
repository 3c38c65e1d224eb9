#ifndef VECTOR_FIELD_H
#define VECTOR_FIELD_H

#include "field_sampling.h"
#include "field_storage.h"
#include "q4_mp_hooks.h"

class FFTConvolver;
class KRVFT;
struct complex4;
struct image_data;

// Two float components per cell of an nx x ny grid in the FFT or DIRECT
// layout, with the painters that put forces and velocities into it. Grid
// coordinates throughout. A field whose storage could not be allocated has
// both components null and paints nothing.
class VectorField {
 public:
  VectorField(int nx, int ny, int method);
  virtual ~VectorField();
  VectorField(const VectorField&) = delete;
  VectorField& operator=(const VectorField&) = delete;

  bool has_storage() const { return u != nullptr && v != nullptr; }
  int stride() const { return field_stride(method, nx); }
  int cell_count() const { return field_cell_count(method, nx, ny); }

  void get_bounds(int& x0, int& x1, int& gx, int& y0, int& y1, int& gy) const;
  void get_steps(float& dx, float& dy) const;
  void set_label(const char* text);
  const char* get_label() const { return label; }
  void set_mp_exec(void* context, mp_exec_fn executor);
  void set_abort_test(void* context, abort_test_fn test);

  bool copy(const VectorField* src);
  void set(float fu, float fv);
  void add(float fu, float fv);
  void get_component_pointers(float** pu, float** pv) const;
  // DIRECT layout: ghosts copy their interior neighbours, corners the mean
  // of their two ghost neighbours. Other layouts have no ghosts.
  void set_continuity_boundaries();

  void add_angular_wind(float s, float cx, float cy, float px, float py, float power, bool falloff);
  void add_vortex(float s, float cx, float cy, float radius, float y_scale);
  void add_divergence(float s, float cx, float cy, float radius, float y_scale);
  // Modes: 1 set both, 2 set u, 3 set v, 4 negate both, 5 negate u,
  // 6 negate v; any other mode changes nothing.
  void set_rectangle(int x0, int y0, int x1, int y1, float fu, float fv, int mode);
  void add_rectangle(int x0, int y0, int x1, int y1, float fu, float fv);
  void add_random_vector_rectangle(int x0, int y0, int x1, int y1, float scale);
  void set_random_vector_seed(int seed);
  void set_kolmogorov_seed(int seed);
  void set_kolmogorov_k_inertial(float k);
  void add_kolmogorov_random_vector_rectangle(int x0, int y0, int x1, int y1, float scale, float time);

  bool evaluate(float x, float y, float& ou, float& ov, bool cubic) const;
  bool evaluate_at_normalized_pos(float x, float y, float& ou, float& ov, bool cubic) const;

  // Square FFT-layout fields only; false when the service refuses.
  bool forward_FFT(FFTConvolver* conv);
  bool inverse_FFT(FFTConvolver* conv);

  void get_range(float& umin, float& umax, float& vmin, float& vmax) const;
  bool dump(const char* path) const;

  // Heat maps of the magnitude (see ScalarField::magnitude_image), from 0 to
  // the largest magnitude; each keeps its own range between renderings.
  image_data* magnitude_image(bool recompute, int type);
  image_data* vector_image(bool recompute, int type);

  int method;
  int nx, ny;
  float* u;
  float* v;
  complex4* u_spectrum;
  complex4* v_spectrum;
  int spectrum_width, spectrum_height;
  char label[FIELD_LABEL_SIZE];
  void* hook_context;
  mp_exec_fn executor;
  abort_test_fn abort_test;
  int random_seed;
  KRVFT* kolmogorov;
  int kolmogorov_seed;
  float kolmogorov_k;
  FieldRenderRange magnitude_range;
  FieldRenderRange vector_range;

 private:
  bool aborted() const { return abort_test && abort_test(hook_context); }
  // Calls visit(index, i, j) for every cell of a clamped rectangle, row by
  // row, asking the abort test before each row when asked to.
  template <typename Visit>
  void for_rectangle(int x0, int y0, int x1, int y1, bool abortable, Visit visit);
  // Calls visit(index, i, j) for every interior cell in the executor's
  // bands, asking the abort test before each row, then restores the ghost
  // ring of the DIRECT layout.
  template <typename Visit>
  void for_interior_painting(Visit visit);
  // Swirl (vortex) or radial flow (divergence) weighted by 1 - r / radius.
  void paint_around(float s, float cx, float cy, float radius, float y_scale, bool swirl);
};

// Interpolation of both components at grid positions, with the field's
// layout and size read once: a trace samples the same field many times.
struct VectorSampler {
  const float* u;
  const float* v;
  int nx, ny, stride;
  bool fft, cubic;

  __attribute__((always_inline)) void operator()(float x, float y, float& ou, float& ov) const {
    AxisTaps tx, ty;
    if (fft) {
      tx = field_sampling::vector_fft(x, nx);
      ty = field_sampling::vector_fft(y, ny);
    } else {
      tx = field_sampling::vector_direct(x, nx);
      ty = field_sampling::vector_direct(y, ny);
    }
    ou = field_sampling::sample(u, stride, tx, ty, cubic);
    ov = field_sampling::sample(v, stride, tx, ty, cubic);
  }
};

inline bool VectorField::evaluate(float x, float y, float& ou, float& ov, bool cubic) const {
  ou = ov = 0.0f;
  if (!has_storage()) return false;
  const VectorSampler sample{u, v, nx, ny, stride(), method == FIELD_FFT, cubic};
  sample(x, y, ou, ov);
  return true;
}

#endif
