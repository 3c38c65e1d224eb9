#include "vector_field.h"

#include <cstdio>

#include "krvft.h"
#include "q4_memory.h"

namespace {

int at_least_one(int n) { return n < 1 ? 1 : n; }

int positive_seed(int seed) {
  // The absolute value of INT_MIN is not an int; it becomes the largest one.
  if (seed < 0) seed = seed == -2147483647 - 1 ? 2147483647 : -seed;
  return seed == 0 ? 1 : seed;
}

}  // namespace

VectorField::VectorField(int nx_, int ny_, int method_)
    : method(method_),
      nx(at_least_one(nx_)),
      ny(at_least_one(ny_)),
      u(nullptr),
      v(nullptr),
      u_spectrum(nullptr),
      v_spectrum(nullptr),
      spectrum_width(-1),
      spectrum_height(-1),
      label{},
      hook_context(nullptr),
      executor(nullptr),
      abort_test(nullptr),
      random_seed(54321),
      kolmogorov(nullptr),
      kolmogorov_seed(12345),
      kolmogorov_k(4.0f),
      magnitude_range{0.0f, 0.0f, 0},
      vector_range{0.0f, 0.0f, 0} {
  const int cells = cell_count();
  u = field_storage_new(cells);
  v = u ? field_storage_new(cells) : nullptr;
  // Half a field would be read as a whole one: keep both or neither.
  if (!v) {
    field_storage_free(u);
    u = nullptr;
  }
}

VectorField::~VectorField() {
  field_storage_free(u);
  field_storage_free(v);
  mem_align_free(u_spectrum, true);
  mem_align_free(v_spectrum, true);
  delete kolmogorov;
}

void VectorField::get_bounds(int& x0, int& x1, int& gx, int& y0, int& y1, int& gy) const {
  int first, end, ghost;
  if (!field_axis_bounds(method, nx, first, end, ghost)) return;
  x0 = first, x1 = end, gx = ghost;
  field_axis_bounds(method, ny, first, end, ghost);
  y0 = first, y1 = end, gy = ghost;
}

void VectorField::get_steps(float& dx, float& dy) const {
  dx = 1.0f / static_cast<float>(nx);
  dy = 1.0f / static_cast<float>(ny);
}

void VectorField::set_label(const char* text) { field_set_label(label, text); }

void VectorField::set_mp_exec(void* context, mp_exec_fn exec) {
  hook_context = context;
  executor = exec;
}

void VectorField::set_abort_test(void*, abort_test_fn test) { abort_test = test; }

bool VectorField::copy(const VectorField* src) {
  if (!src || src->nx != nx || src->ny != ny || !has_storage() || !src->has_storage()) return false;
  const int cells = cell_count();
  for (int k = 0; k < cells; ++k) {
    u[k] = src->u[k];
    v[k] = src->v[k];
  }
  return true;
}

void VectorField::set(float fu, float fv) {
  if (!has_storage()) return;
  const int cells = cell_count();
  for (int k = 0; k < cells; ++k) {
    u[k] = fu;
    v[k] = fv;
  }
}

void VectorField::add(float fu, float fv) {
  if (!has_storage()) return;
  const int cells = cell_count();
  for (int k = 0; k < cells; ++k) {
    u[k] += fu;
    v[k] += fv;
  }
}

void VectorField::get_component_pointers(float** pu, float** pv) const {
  if (pu) *pu = u;
  if (pv) *pv = v;
}

void VectorField::set_continuity_boundaries() {
  if (method != FIELD_DIRECT || !has_storage()) return;
  field_continuity_boundaries(u, nx, ny);
  field_continuity_boundaries(v, nx, ny);
}

void VectorField::set_random_vector_seed(int seed) { random_seed = positive_seed(seed); }

void VectorField::set_kolmogorov_seed(int seed) { kolmogorov_seed = positive_seed(seed); }

void VectorField::set_kolmogorov_k_inertial(float k) { kolmogorov_k = k > 2.0f ? k : 2.0f; }

bool VectorField::evaluate_at_normalized_pos(float x, float y, float& ou, float& ov, bool cubic) const {
  return evaluate(static_cast<float>(nx) * x + 1.0f, static_cast<float>(ny) * y + 1.0f, ou, ov, cubic);
}

void VectorField::get_range(float& umin, float& umax, float& vmin, float& vmax) const {
  umin = umax = vmin = vmax = 0.0f;
  const int cells = has_storage() ? cell_count() : 0;
  if (cells < 1) return;
  umin = umax = u[0];
  vmin = vmax = v[0];
  for (int k = 1; k < cells; ++k) {
    if (u[k] < umin) umin = u[k];
    if (u[k] > umax) umax = u[k];
    if (v[k] < vmin) vmin = v[k];
    if (v[k] > vmax) vmax = v[k];
  }
}

bool VectorField::dump(const char* path) const {
  if (!has_storage() || !path) return false;
  FILE* file = fopen(path, "w+");
  if (!file) return false;
  const int w = stride(), h = field_rows(method, ny);
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i) fprintf(file, "%5d %5d %f %f\n", i, j, u[j * w + i], v[j * w + i]);
  return fclose(file) == 0;
}
