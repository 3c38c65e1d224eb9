#ifndef FLUID_TEST_SUPPORT_H
#define FLUID_TEST_SUPPORT_H

#include <cstring>
#include <utility>
#include <vector>

#include "fluid_flow_core.h"
#include "thread_band_executor.h"

// Runs every split of the pool executor, and first hands the worker empty
// bands (first > last) at the start, middle and end of the range, as a
// host does when it has more workers than rows.
struct EmptyBandExecutor {
  ThreadBandExecutor bands;
  explicit EmptyBandExecutor(int count) : bands(count) {}
  static void exec(void* context, mp_worker_fn worker, int count, void* object) {
    EmptyBandExecutor* self = static_cast<EmptyBandExecutor*>(context);
    worker(object, 0, -1);
    worker(object, count / 2, count / 2 - 1);
    worker(object, count, count - 1);
    ThreadBandExecutor::exec(&self->bands, worker, count, object);
  }
};

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

// The executors every banded operation is checked with: one, three and
// eight even bands, uneven bands, and empty bands before the real ones.
struct BandSplits {
  ThreadBandExecutor one{1}, three{3}, eight{8}, uneven{5, true};
  EmptyBandExecutor empty{4};
  std::vector<std::pair<void*, mp_exec_fn>> all() {
    return {{&one, ThreadBandExecutor::exec},
            {&three, ThreadBandExecutor::exec},
            {&eight, ThreadBandExecutor::exec},
            {&uneven, ThreadBandExecutor::exec},
            {&empty, EmptyBandExecutor::exec}};
  }
};

inline bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// Cell (i, j) of a field's stored grid.
inline float& at(ScalarField* f, int i, int j) { return f->data[j * f->stride() + i]; }
inline float& at_u(VectorField* f, int i, int j) { return f->u[j * f->stride() + i]; }
inline float& at_v(VectorField* f, int i, int j) { return f->v[j * f->stride() + i]; }

#endif
