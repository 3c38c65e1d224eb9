#include <cmath>

#include "fluid_flow_core.h"
#include "q4_simd.h"

// Pressure projection: the divergence of the velocity, a Poisson solve for
// the pressure by red-black successive over-relaxation with the Chebyshev
// schedule of the relaxation factor, and the pressure gradient taken off.

namespace {

// One colour of one row: res = a p(i+1) + b p(i-1) + c p(j+1) + d p(j-1) +
// e p - rhs at each of n cells, p -= omega res / e (inverse: 1 / e when that
// is exact, else 0), and |res| added to lane k mod 8. The lanes keep the
// sum's order the same on every path and every band split; n is at most
// kSorChunk.
const int kSorChunk = 256;

Q4_SIMD_BODY void sor_chunk_body(float* __restrict p, const float* __restrict rhs, const float* __restrict right,
                                 const float* __restrict left, const float* __restrict up,
                                 const float* __restrict down, int n, const float* coef, double omega,
                                 double inverse, double* __restrict lanes) {
  float res[kSorChunk];
  const float a = coef[0], b = coef[1], c = coef[2], d = coef[3], e = coef[4];
  for (int k = 0; k < n; ++k) res[k] = a * right[k] + b * left[k] + c * up[k] + d * down[k] + e * p[k] - rhs[k];
  // The reciprocal of a power of two is exact, and multiplying by it rounds
  // the same real number as dividing: the same double either way.
  if (inverse != 0.0)
    for (int k = 0; k < n; ++k) p[k] -= static_cast<float>(omega * res[k] * inverse);
  else
    for (int k = 0; k < n; ++k) p[k] -= static_cast<float>(omega * res[k] / e);
  int k = 0;
  for (; k + 8 <= n; k += 8)
    for (int l = 0; l < 8; ++l) lanes[l] += std::fabs(static_cast<double>(res[k + l]));
  for (; k < n; ++k) lanes[k & 7] += std::fabs(static_cast<double>(res[k]));
}

Q4_SIMD_DISPATCH(void, sor_chunk,
                 (float* __restrict p, const float* __restrict rhs, const float* __restrict right,
                  const float* __restrict left, const float* __restrict up, const float* __restrict down, int n,
                  const float* coef, double omega, double inverse, double* __restrict lanes),
                 (p, rhs, right, left, up, down, n, coef, omega, inverse, lanes))

// 1 / e when that is exact (e a power of two), else 0.
double exact_inverse(float e) {
  int exponent;
  const double mantissa = std::frexp(static_cast<double>(e), &exponent);
  return mantissa == 0.5 || mantissa == -0.5 ? 1.0 / e : 0.0;
}

}  // namespace

void FluidFlowCore::DIRECT_Project(VectorField* vel, ScalarField* div, ScalarField* p) {
  if (!on_velocity_grid(vel) || !on_grid(div, nx, ny) || !on_grid(p, nx, ny)) return;
  const float h = 1.0f / std::sqrt(static_cast<float>(nx * ny));
  p->set(0.0f);
  grid = GridBlock{vel->u, vel->v, div->data, p->data, nx, ny, h};
  mp_exec(mp_divergence, ny);
  DIRECT_set_continuity_boundaries(div);
  // An unconverged pressure is applied all the same: it is the best there is.
  DIRECT_SOR(-1.0f, -1.0f, -1.0f, -1.0f, 4.0f, p->data, div->data, nx, ny);
  grid = GridBlock{vel->u, vel->v, div->data, p->data, nx, ny, h};
  mp_exec(mp_subtract_gradient, ny);
}

void FluidFlowCore::mp_divergence(void* solver, int first, int last) {
  FluidFlowCore* self = static_cast<FluidFlowCore*>(solver);
  const GridBlock& g = self->grid;
  const int w = g.nx + 2;
  for (int j = first + 1; j <= last + 1; ++j) {
    if (self->aborted()) return;
    for (int i = 1; i <= g.nx; ++i) {
      const int k = j * w + i;
      g.a[k] = -0.5f * g.h * (g.u[k + 1] - g.u[k - 1] + g.v[k + w] - g.v[k - w]);
    }
  }
}

void FluidFlowCore::mp_subtract_gradient(void* solver, int first, int last) {
  FluidFlowCore* self = static_cast<FluidFlowCore*>(solver);
  const GridBlock& g = self->grid;
  const int w = g.nx + 2;
  for (int j = first + 1; j <= last + 1; ++j) {
    if (self->aborted()) return;
    for (int i = 1; i <= g.nx; ++i) {
      const int k = j * w + i;
      g.u[k] -= 0.5f * (g.b[k + 1] - g.b[k - 1]) / g.h;
      g.v[k] -= 0.5f * (g.b[k + w] - g.b[k - w]) / g.h;
    }
  }
}

bool FluidFlowCore::DIRECT_SOR(float a, float b, float c, float d, float e, float* p, float* rhs, int gnx, int gny) {
  sor.pass = 0;
  if (!p || !rhs || gnx < 1 || gny < 1 || e == 0.0f || !ensure_sor_planes(gnx, gny)) return false;
  const double rho = (std::cos(3.14159265 / gnx) + std::cos(3.14159265 * (1.0 / gny))) * 0.5;
  const int w = gnx + 2, H = sor.plane_stride;
  const size_t plane = static_cast<size_t>(H) * (gny + 2);
  double anorm = 0.0;
  for (int j = 1; j <= gny; ++j)
    for (int i = 1; i <= gnx; ++i) anorm += std::fabs(static_cast<double>(rhs[j * w + i]));
  // Cell (i, j) has colour (i + j) & 1 and sits at i / 2 of its colour row.
  for (int j = 0; j <= gny + 1; ++j)
    for (int i = 0; i <= gnx + 1; ++i) {
      const size_t at = static_cast<size_t>((i + j) & 1) * plane + static_cast<size_t>(j) * H + (i >> 1);
      sor.planes[at] = p[j * w + i];
      sor.planes[2 * plane + at] = rhs[j * w + i];
    }
  auto unpack = [&] {
    for (int j = 1; j <= gny; ++j)
      for (int i = 1; i <= gnx; ++i)
        p[j * w + i] = sor.planes[static_cast<size_t>((i + j) & 1) * plane + static_cast<size_t>(j) * H + (i >> 1)];
  };
  sor.a = a, sor.b = b, sor.c = c, sor.d = d, sor.e = e;
  sor.nx = gnx;
  sor.ny = gny;
  double omega = 1.0;
  for (int pass = 1;; ++pass) {
    if (aborted()) {
      unpack();
      return false;
    }
    sor.pass = pass;
    sor.omega = omega;
    if (sor_threshold >= gnx)
      mp_SOR(this, 0, gny - 1);
    else
      mp_exec(mp_SOR, gny);
    // Rows are summed in order here, whatever the split of the sweep.
    double residual = 0.0;
    for (int j = 1; j <= gny; ++j) residual += sor.row_residual[j];
    omega = pass == 1 ? 1.0 / (1.0 - rho * rho * 0.5) : 1.0 / (1.0 - rho * rho * omega * 0.25);
    if (pass >= 3 && (residual < 0.0002 * anorm || anorm < 1e-8)) {
      unpack();
      return true;
    }
    if (pass >= SOR_MAX_HALF_SWEEPS) {
      unpack();
      return false;
    }
  }
}

void FluidFlowCore::mp_SOR(void* solver, int first, int last) {
  FluidFlowCore* self = static_cast<FluidFlowCore*>(solver);
  const SorBlock& s = self->sor;
  const int H = s.plane_stride;
  const size_t plane = static_cast<size_t>(H) * (s.ny + 2);
  const int colour = s.pass & 1;
  const float coef[5] = {s.a, s.b, s.c, s.d, s.e};
  const double inverse = exact_inverse(s.e);
  for (int j = first + 1; j <= last + 1; ++j) {
    // This row's cells of the colour start at column i0; their neighbours
    // in the row are the other colour's entries k + i0 and k + i0 - 1, those
    // above and below its entries k.
    const int i0 = (colour + j) & 1;
    const int begin = 1 - i0, end = (s.nx - i0) / 2 + 1;
    float* own = s.planes + colour * plane + static_cast<size_t>(j) * H;
    const float* other = s.planes + (1 - colour) * plane + static_cast<size_t>(j) * H;
    const float* rhs = s.planes + (2 + colour) * plane + static_cast<size_t>(j) * H;
    double lanes[8] = {};
    for (int k = begin; k < end; k += kSorChunk) {
      const int n = end - k < kSorChunk ? end - k : kSorChunk;
      sor_chunk(own + k, rhs + k, other + k + i0, other + k + i0 - 1, other + H + k, other - H + k, n, coef, s.omega,
                inverse, lanes);
    }
    s.row_residual[j] = ((lanes[0] + lanes[1]) + (lanes[2] + lanes[3])) + ((lanes[4] + lanes[5]) + (lanes[6] + lanes[7]));
  }
}

bool FluidFlowCore::DIRECT_GS(float* p, float* rhs, int gnx, int gny) {
  if (!p || !rhs || gnx < 1 || gny < 1) return false;
  const int w = gnx + 2;
  for (int sweep = 0; sweep < 20; ++sweep)
    for (int j = 1; j <= gny; ++j)
      for (int i = 1; i <= gnx; ++i) {
        const int k = j * w + i;
        p[k] = 0.25f * (p[k + 1] + p[k - 1] + p[k - w] + p[k + w] + rhs[k]);
      }
  return true;
}
