#include <cmath>
#include <cstring>
#include <new>
#include <utility>

#include "fft_convolver.h"
#include "fluid_flow_core.h"

// The spectral step (method 1) on a square, periodic grid without a ghost
// ring: semi-Lagrangian advection on the grid, then viscosity and the
// pressure projection in one pass over the spectrum, where both act on each
// frequency alone: the damping e^(-k^2 dt nu) and the removal of each
// spectral vector's component along its wave vector k.

bool FluidFlowCore::spectral_ready() {
  if (method != METHOD_FFT || nx != ny || !has_storage()) return false;
  if (!fft) fft = new (std::nothrow) FFTConvolver();
  if (!fft || !fft->fft_check_dimension(nx, nullptr)) return false;
  // The service bands with the solver's hooks as they are now: a field
  // hands them on only when it has some, so hooks the solver has since
  // dropped would otherwise stay with the service.
  fft->set_mp_exec(hook_context, executor);
  fft->set_abort_test(hook_context, abort_test);
  return true;
}

template <typename Visit>
void FluidFlowCore::for_nonzero_frequencies(int n, Visit visit) {
  for (int j = 0; j < n; ++j) {
    if (aborted()) return;
    for (int i = 0; i < n; ++i) {
      // The service names the frequency of every index: no order is assumed.
      float kx, ky;
      if (!fft->fft_2D_frequency(i, j, kx, ky)) return;
      const float k2 = kx * kx + ky * ky;
      if (k2 != 0.0f) visit(j * n + i, kx, ky, k2);
    }
  }
}

bool FluidFlowCore::FFT_project(VectorField* f) {
  // A refused forward transform leaves the spectra stale or half made:
  // nothing of them may reach the field.
  if (!f->forward_FFT(fft)) return false;
  complex4* U = f->u_spectrum;
  complex4* V = f->v_spectrum;
  const float rate = dt * viscosity;
  for_nonzero_frequencies(f->spectrum_width, [&](int k, float kx, float ky, float k2) {
    const float damp = std::exp(-k2 * rate);
    const float uu = (1.0f - kx * kx / k2) * damp, vv = (1.0f - ky * ky / k2) * damp, uv = -(kx * ky / k2) * damp;
    const complex4 a = U[k], b = V[k];
    U[k] = complex4{uu * a.re + uv * b.re, uu * a.im + uv * b.im};
    V[k] = complex4{uv * a.re + vv * b.re, uv * a.im + vv * b.im};
  });
  return f->inverse_FFT(fft);
}

bool FluidFlowCore::FFT_Velocity_Solver() {
  if (!spectral_ready()) return false;
  const int cells = nx * ny;
  for (int k = 0; k < cells; ++k) {
    velocity->u[k] += dt * force->u[k];
    velocity->v[k] += dt * force->v[k];
  }
  FFT_fix_velocities(velocity);
  // The field just updated is the one advection reads; the other one, with
  // its spectra and caches, receives the result.
  std::swap(velocity, advected);
  velocity_advection = VelocityAdvectionBlock{texture_u != nullptr, cubic, wrap_x, wrap_y, advected, velocity, ny, nx};
  mp_DSV_Advect(this, 0, ny - 1);  // on the calling thread
  FFT_fix_velocities(velocity);

  // The advected velocity is kept aside in the grid scratch fields, which
  // this method does not otherwise use. A refused transform, or one the
  // abort test stopped part-way, leaves spectra and components that are no
  // result at all: the velocity then keeps its advected value.
  const size_t bytes = sizeof(float) * static_cast<size_t>(cells);
  memcpy(grid_scratch1->data, velocity->u, bytes);
  memcpy(grid_scratch2->data, velocity->v, bytes);
  const bool projected = FFT_project(velocity);
  if (!projected || aborted()) {
    memcpy(velocity->u, grid_scratch1->data, bytes);
    memcpy(velocity->v, grid_scratch2->data, bytes);
    return projected;
  }
  FFT_fix_velocities(velocity);
  return true;
}

bool FluidFlowCore::FFT_Scalar_Solver(ScalarField* s, ScalarField* source, float rate, float fade) {
  if (!on_spectral_grid(s) || (source && !on_spectral_grid(source)) || !on_spectral_grid(scalar_scratch1) ||
      !on_spectral_grid(scalar_scratch2) || !spectral_ready())
    return false;
  const int cells = nx * ny;
  // The source joins in a scratch copy, so that s is written only once the
  // transforms have succeeded.
  const ScalarField* from = s;
  if (source) {
    for (int k = 0; k < cells; ++k) scalar_scratch2->data[k] = s->data[k] + dt * source->data[k];
    from = scalar_scratch2;
  }
  FFT_advect_scalar(from, scalar_scratch1);
  if (!scalar_scratch1->forward_FFT(fft)) return false;
  // As in the finite-difference step, only a positive rate diffuses: a
  // negative one would amplify every frequency without bound.
  if (rate > 0.0f) {
    complex4* S = scalar_scratch1->spectrum;
    const float r = dt * rate;
    for_nonzero_frequencies(scalar_scratch1->spectrum_width, [&](int k, float, float, float k2) {
      const float damp = std::exp(-k2 * r);
      S[k].re *= damp;
      S[k].im *= damp;
    });
  }
  if (!scalar_scratch1->inverse_FFT(fft)) return false;
  // A transform the abort test stopped part-way leaves no result to keep.
  if (aborted()) return true;
  const float keep = 1.0f / (fade * dt + 1.0f);
  for (int k = 0; k < cells; ++k) s->data[k] = scalar_scratch1->data[k] * keep;
  return true;
}

void FluidFlowCore::FFT_fix_velocities(VectorField* f) {
  if (!f || !f->has_storage() || f->method != FIELD_FFT) return;
  const int w = f->nx, h = f->ny;
  float* u = f->u;
  float* v = f->v;
  // The barrier pass leaves out the outermost column or row of a side with
  // a wall.
  int i0 = 0, i1 = w, j0 = 0, j1 = h;
  if (walls.x_low) {
    for (int j = 0; j < h; ++j) u[j * w] = -u[j * w];
    i0 = 1;
  }
  if (walls.x_high) {
    if (w >= 2)
      for (int j = 0; j < h; ++j) u[j * w + w - 2] = -u[j * w + w - 2];
    i1 = w - 1;
  }
  if (walls.y_low) {
    for (int i = 0; i < w; ++i) v[i] = -v[i];
    j0 = 1;
  }
  if (walls.y_high) {
    if (h >= 2)
      for (int i = 0; i < w; ++i) v[(h - 2) * w + i] = -v[(h - 2) * w + i];
    j1 = h - 1;
  }
  // The barrier is read at the velocity's own index: one on another grid
  // (a solver with its own scalar grid) would be read past its end.
  const ScalarField* b = barrier_field;
  if (!b || !b->has_storage() || b->method != FIELD_FFT || b->nx != w || b->ny != h) return;
  for (int j = j0; j < j1; ++j)
    for (int i = i0; i < i1; ++i)
      if (b->data[j * w + i] > 0.01f) u[j * w + i] = v[j * w + i] = 0.0f;
}
