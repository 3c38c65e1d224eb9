#ifndef FLUID_TEST_SUPPORT_H
#define FLUID_TEST_SUPPORT_H

#include <cstring>
#include <utility>
#include <vector>

#include "fluid_flow_core.h"
#include "thread_band_executor.h"

// Stored cells of a scalar field, of both components of a vector field.
inline std::vector<float> cells_of(const ScalarField* f) {
  const int n = field_cell_count(f->method, f->nx, f->ny);
  return std::vector<float>(f->data, f->data + n);
}

inline std::vector<float> cells_of(const VectorField* f) {
  const int n = f->cell_count();
  std::vector<float> out(2 * static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) {
    out[k] = f->u[k];
    out[n + k] = f->v[k];
  }
  return out;
}

// Everything a step leaves behind, for bit comparisons.
inline std::vector<float> state_of(const FluidFlowCore& s) {
  std::vector<float> out;
  auto append = [&](const std::vector<float>& c) {
    for (float v : c) out.push_back(v);
  };
  for (const VectorField* f : {s.force, s.velocity, s.advected}) append(cells_of(f));
  for (const ScalarField* f : s.fields)
    if (f) append(cells_of(f));
  for (const ScalarField* f : {s.texture_u, s.texture_v})
    if (f) append(cells_of(f));
  return out;
}

inline bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// Cell (i, j) of a field's stored grid.
inline float& at(ScalarField* f, int i, int j) { return f->data[j * f->stride() + i]; }
inline float& at_u(VectorField* f, int i, int j) { return f->u[j * f->stride() + i]; }
inline float& at_v(VectorField* f, int i, int j) { return f->v[j * f->stride() + i]; }

// An abort test that answers "go on" `allowed` times, then "stop"; exec
// runs a pass's bands as one on the calling thread.
struct StopAfter {
  int allowed;
  int asked = 0;
  static int test(void* context) {
    StopAfter* self = static_cast<StopAfter*>(context);
    return self->asked++ >= self->allowed;
  }
  static void exec(void*, mp_worker_fn worker, int count, void* object) { worker(object, 0, count - 1); }
};

// An executor that runs no band: what a pass does on the calling thread.
inline void no_work(void*, mp_worker_fn, int, void*) {}

#endif
