#ifndef FLUID_TEST_SUPPORT_H
#define FLUID_TEST_SUPPORT_H

#include <cstring>
#include <vector>

#include "scalar_field.h"
#include "vector_field.h"

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

inline bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// Cell (i, j) of a field's stored grid.
inline float& at(ScalarField* f, int i, int j) { return f->data[j * f->stride() + i]; }
inline float& at_u(VectorField* f, int i, int j) { return f->u[j * f->stride() + i]; }
inline float& at_v(VectorField* f, int i, int j) { return f->v[j * f->stride() + i]; }

#endif
