#include "scalar_field.h"

#include <cstdio>

#include "fft_convolver.h"
#include "q4_memory.h"

namespace {

int at_least_one(int n) { return n < 1 ? 1 : n; }

}  // namespace

ScalarField::ScalarField(int nx_, int ny_, int method_)
    : method(method_),
      nx(at_least_one(nx_)),
      ny(at_least_one(ny_)),
      data(field_storage_new(field_cell_count(method_, at_least_one(nx_), at_least_one(ny_)))),
      spectrum(nullptr),
      spectrum_width(-1),
      spectrum_height(-1),
      label{},
      is_source_field(0),
      is_barrier_field(0),
      is_texture_field(0),
      hook_context(nullptr),
      executor(nullptr),
      abort_test(nullptr),
      render_range{0.0f, 0.0f, 0} {}

ScalarField::~ScalarField() {
  field_storage_free(data);
  mem_align_free(spectrum, true);
}

void ScalarField::get_bounds(int& x0, int& x1, int& gx, int& y0, int& y1, int& gy) const {
  int first, end, ghost;
  if (!field_axis_bounds(method, nx, first, end, ghost)) return;
  x0 = first, x1 = end, gx = ghost;
  field_axis_bounds(method, ny, first, end, ghost);
  y0 = first, y1 = end, gy = ghost;
}

void ScalarField::get_steps(float& dx, float& dy) const {
  dx = 1.0f / static_cast<float>(nx);
  dy = 1.0f / static_cast<float>(ny);
}

void ScalarField::set_label(const char* text) { field_set_label(label, text); }

void ScalarField::set_mp_exec(void* context, mp_exec_fn exec) {
  hook_context = context;
  executor = exec;
}

void ScalarField::set_abort_test(void*, abort_test_fn test) { abort_test = test; }

bool ScalarField::copy(const ScalarField* src) { return copy_rows(src, 0, rows() - 1); }

bool ScalarField::copy_rows(const ScalarField* src, int first, int last) {
  if (!same_grid(src) || !data || !src->data) return false;
  const int w = stride();
  for (int k = first * w; k < (last + 1) * w; ++k) data[k] = src->data[k];
  return true;
}

void ScalarField::set(float v) { set_rows(v, 0, rows() - 1); }

void ScalarField::set_rows(float v, int first, int last) {
  if (!data) return;
  const int w = stride();
  for (int k = first * w; k < (last + 1) * w; ++k) data[k] = v;
}

void ScalarField::add(float v) {
  if (!data) return;
  const int cells = field_cell_count(method, nx, ny);
  for (int k = 0; k < cells; ++k) data[k] += v;
}

void ScalarField::set_rectangle(int x0, int y0, int x1, int y1, float v) {
  if (!data || !field_clamp_rectangle(method, nx, ny, x0, y0, x1, y1)) return;
  const int w = stride();
  for (int j = y0; j <= y1; ++j)
    for (int i = x0; i <= x1; ++i) data[j * w + i] = v;
}

bool ScalarField::evaluate_at_normalized_pos(float x, float y, float& out, bool cubic, bool clamp,
                                             float lo, float hi) const {
  return evaluate(static_cast<float>(nx) * x + 1.0f, static_cast<float>(ny) * y + 1.0f, out, cubic,
                  clamp, lo, hi);
}

template <typename Visit>
bool ScalarField::for_interior(Visit visit) const {
  int x0, x1, gx, y0, y1, gy;
  if (!data || !field_axis_bounds(method, nx, x0, x1, gx) || !field_axis_bounds(method, ny, y0, y1, gy))
    return false;
  const int w = stride();
  for (int j = y0; j < y1; ++j)
    for (int i = x0; i < x1; ++i) visit(j * w + i);
  return true;
}

void ScalarField::normalize(float* min_out, float* max_out) {
  bool first = true;
  float lo = 0.0f, hi = 0.0f;
  const bool any = for_interior([&](int k) {
    const float v = data[k];
    if (first) {
      lo = hi = v;
      first = false;
    } else if (v < lo) {
      lo = v;
    } else if (v > hi) {
      hi = v;
    }
  });
  if (!any) return;
  if (min_out && max_out) {
    *min_out = lo;
    *max_out = hi;
  }
  const float scale = 1.0f / (hi - lo + 1e-7f);
  for_interior([&](int k) { data[k] = (data[k] - lo) * scale; });
}

bool ScalarField::multiply_field(const ScalarField* f) {
  if (!same_grid(f) || !f->data || !data) return false;
  return for_interior([&](int k) { data[k] *= f->data[k]; });
}

bool ScalarField::add_field(const ScalarField* f, float s) {
  if (!same_grid(f) || !f->data || !data) return false;
  return for_interior([&](int k) { data[k] += f->data[k] * s; });
}

bool ScalarField::add_time_field(const ScalarField* f, float t) {
  if (!same_grid(f) || !f->data || !data) return false;
  return for_interior([&](int k) {
    if (f->data[k] > 1e-8f) data[k] = t;
  });
}

void ScalarField::get_range(float& min, float& max) const {
  min = max = 0.0f;
  const int cells = data ? field_cell_count(method, nx, ny) : 0;
  if (cells < 1) return;
  min = max = data[0];
  for (int k = 1; k < cells; ++k) {
    if (data[k] < min) min = data[k];
    if (data[k] > max) max = data[k];
  }
}

bool ScalarField::dump(const char* path) const {
  if (!data || !path) return false;
  FILE* file = fopen(path, "w+");
  if (!file) return false;
  const int w = stride(), h = field_rows(method, ny);
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i) fprintf(file, "%5d %5d %f\n", i, j, data[j * w + i]);
  return fclose(file) == 0;
}
