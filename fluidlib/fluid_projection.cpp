#include <immintrin.h>

#include <algorithm>
#include <cmath>

#include "fluid_flow_core.h"
#include "q4_simd.h"

// Pressure projection: the divergence of the velocity, a Poisson solve for
// the pressure by red-black successive over-relaxation with the Chebyshev
// schedule of the relaxation factor, and the pressure gradient taken off.

namespace {

// One colour's half-sweep over whole rows. Cell (i, j) has colour (i + j) & 1
// and sits at i / 2 of its colour row; a row's cells of the colour start at
// column i0, their neighbours in the row are the other colour's entries
// k + i0 and k + i0 - 1, those above and below its entries k. The swept
// colour is read from one plane and written to another, so that a band can
// work out rows next to it while their owner overwrites them.
struct SorSweep {
  const float* own;    // the colour swept, before the pass
  float* out;          // its values after the pass
  const float* other;  // the colour read
  // Where the rows of the colour read just outside the swept rows come
  // from: other, or planes of rows worked out apart.
  const float* below;
  const float* above;
  const float* rhs;  // the swept colour's right-hand sides
  int stride, nx, colour;
  float a, b, c, d, e;
  double omega;
  // omega / e when 1 / e is exact (e a power of two), else 0 and the step
  // divides. Scaling by a power of two is exact, so omega * res / e and
  // (omega / e) * res round the same real number: the same double.
  double factor;
};

struct SorRow {
  const float* p;
  float* out;
  const float *right, *left, *up, *down, *rhs;
  int n;
};

SorRow sor_row(const SorSweep& s, int j, int first, int last) {
  const int i0 = (s.colour + j) & 1;
  const int begin = 1 - i0;
  const size_t at = static_cast<size_t>(j) * s.stride + begin;
  const float* other = s.other + at;
  return SorRow{s.own + at,
                s.out + at,
                other + i0,
                other + i0 - 1,
                (j == last ? s.above : s.other) + at + s.stride,
                (j == first ? s.below : s.other) + at - s.stride,
                s.rhs + at,
                (s.nx - i0) / 2 + 1 - begin};
}

// Cell k of a row: res = a p(i+1) + b p(i-1) + c p(j+1) + d p(j-1) + e p -
// rhs, p -= omega res / e, and |res| added to lane k mod 8. The lanes keep
// the sum's order the same on every path and every band split.
inline void sor_cell(const SorSweep& s, const SorRow& r, int k, double* lanes) {
  const float res = s.a * r.right[k] + s.b * r.left[k] + s.c * r.up[k] + s.d * r.down[k] + s.e * r.p[k] - r.rhs[k];
  const double step = s.factor != 0.0 ? s.factor * res : s.omega * res / s.e;
  r.out[k] = r.p[k] - static_cast<float>(step);
  lanes[k & 7] += std::fabs(static_cast<double>(res));
}

double lane_sum(const double* lanes) {
  return ((lanes[0] + lanes[1]) + (lanes[2] + lanes[3])) + ((lanes[4] + lanes[5]) + (lanes[6] + lanes[7]));
}

// Rows first..last; row j's sum of |residual| goes to residual[j - first].
void sor_rows_portable(const SorSweep& s, int first, int last, double* residual) {
  for (int j = first; j <= last; ++j) {
    const SorRow r = sor_row(s, j, first, last);
    double lanes[8] = {};
    for (int k = 0; k < r.n; ++k) sor_cell(s, r, k, lanes);
    residual[j - first] = lane_sum(lanes);
  }
}

// The compiler keeps the lanes of the widened loop in memory, one scalar at
// a time: eight cells here are one vector of residuals and two of lanes.
Q4_SIMD_TARGET_AVX2 void sor_rows_avx2(const SorSweep& s, int first, int last, double* residual) {
  const __m256 a = _mm256_set1_ps(s.a), b = _mm256_set1_ps(s.b), c = _mm256_set1_ps(s.c), d = _mm256_set1_ps(s.d),
               e = _mm256_set1_ps(s.e);
  const __m256d factor = _mm256_set1_pd(s.factor), omega = _mm256_set1_pd(s.omega), divisor = _mm256_set1_pd(s.e);
  const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffffLL));
  const bool divide = s.factor == 0.0;
  for (int j = first; j <= last; ++j) {
    const SorRow r = sor_row(s, j, first, last);
    __m256d low = _mm256_setzero_pd(), high = _mm256_setzero_pd();
    int k = 0;
    for (; k + 8 <= r.n; k += 8) {
      const __m256 p = _mm256_loadu_ps(r.p + k);
      __m256 res = _mm256_mul_ps(a, _mm256_loadu_ps(r.right + k));
      res = _mm256_add_ps(res, _mm256_mul_ps(b, _mm256_loadu_ps(r.left + k)));
      res = _mm256_add_ps(res, _mm256_mul_ps(c, _mm256_loadu_ps(r.up + k)));
      res = _mm256_add_ps(res, _mm256_mul_ps(d, _mm256_loadu_ps(r.down + k)));
      res = _mm256_add_ps(res, _mm256_mul_ps(e, p));
      res = _mm256_sub_ps(res, _mm256_loadu_ps(r.rhs + k));
      const __m256d res_low = _mm256_cvtps_pd(_mm256_castps256_ps128(res));
      const __m256d res_high = _mm256_cvtps_pd(_mm256_extractf128_ps(res, 1));
      __m256d step_low, step_high;
      if (divide) {
        step_low = _mm256_div_pd(_mm256_mul_pd(omega, res_low), divisor);
        step_high = _mm256_div_pd(_mm256_mul_pd(omega, res_high), divisor);
      } else {
        step_low = _mm256_mul_pd(factor, res_low);
        step_high = _mm256_mul_pd(factor, res_high);
      }
      const __m256 step = _mm256_set_m128(_mm256_cvtpd_ps(step_high), _mm256_cvtpd_ps(step_low));
      _mm256_storeu_ps(r.out + k, _mm256_sub_ps(p, step));
      low = _mm256_add_pd(low, _mm256_and_pd(res_low, magnitude));
      high = _mm256_add_pd(high, _mm256_and_pd(res_high, magnitude));
    }
    alignas(32) double lanes[8];
    _mm256_store_pd(lanes, low);
    _mm256_store_pd(lanes + 4, high);
    for (; k < r.n; ++k) sor_cell(s, r, k, lanes);
    residual[j - first] = lane_sum(lanes);
  }
}

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
  self->band_cells(first, last,
                   [&](int k) { g.a[k] = -0.5f * g.h * (g.u[k + 1] - g.u[k - 1] + g.v[k + w] - g.v[k - w]); });
}

void FluidFlowCore::mp_subtract_gradient(void* solver, int first, int last) {
  FluidFlowCore* self = static_cast<FluidFlowCore*>(solver);
  const GridBlock& g = self->grid;
  const int w = g.nx + 2;
  self->band_cells(first, last, [&](int k) {
    g.u[k] -= 0.5f * (g.b[k + 1] - g.b[k - 1]) / g.h;
    g.v[k] -= 0.5f * (g.b[k + w] - g.b[k - w]) / g.h;
  });
}

bool FluidFlowCore::DIRECT_SOR(float a, float b, float c, float d, float e, float* p, float* rhs, int gnx, int gny) {
  sor.pass = 0;
  if (!p || !rhs || gnx < 1 || gny < 1 || e == 0.0f || !ensure_sor_planes(gnx, gny)) return false;
  const double rho = (std::cos(3.14159265 / gnx) + std::cos(3.14159265 * (1.0 / gny))) * 0.5;
  const int w = gnx + 2, H = sor.plane_stride;
  double anorm = 0.0;
  for (int j = 1; j <= gny; ++j)
    for (int i = 1; i <= gnx; ++i) anorm += std::fabs(static_cast<double>(rhs[j * w + i]));
  // Cell (i, j) has colour (i + j) & 1 and sits at i / 2 of its colour row.
  // Both buffers get the ghosts, which no sweep writes.
  auto cell = [&](int i, int j) { return static_cast<size_t>(j) * H + (i >> 1); };
  for (int j = 0; j <= gny + 1; ++j)
    for (int i = 0; i <= gnx + 1; ++i) {
      const int colour = (i + j) & 1;
      sor.p_plane(0, colour)[cell(i, j)] = p[j * w + i];
      sor.p_plane(1, colour)[cell(i, j)] = p[j * w + i];
      sor.plane(SorBlock::RHS_COLOUR0 + colour)[cell(i, j)] = rhs[j * w + i];
    }
  // buffer[colour]: the buffer holding that colour's latest values.
  auto unpack = [&](const int (&buffer)[2]) {
    for (int j = 1; j <= gny; ++j)
      for (int i = 1; i <= gnx; ++i) {
        const int colour = (i + j) & 1;
        p[j * w + i] = sor.p_plane(buffer[colour], colour)[cell(i, j)];
      }
  };
  auto next_omega = [&](int pass, double omega) {
    return pass == 1 ? 1.0 / (1.0 - rho * rho * 0.5) : 1.0 / (1.0 - rho * rho * omega * 0.25);
  };
  // A single-precision p cannot take the residual below the rounding of
  // its largest terms: p grows with the square of the grid against a
  // smooth right-hand side, and from 256 cells on that floor can sit above
  // the limit. Once the residual has started to fall, a solve whose
  // residual does not fall by a 32nd within the window has reached its
  // floor; it stops as it does at the cap. A converging solve falls by that
  // much at least every quarter of the longer side, plateaus included;
  // before its first fall (Chebyshev start-up, a diverging system) the
  // window does not run.
  const int window = std::max(64, std::max(gnx, gny));
  double level = 0.0;
  int level_pass = 0;
  bool falling = false;
  // 1 converged, -1 settled at the floor, 0 go on.
  auto verdict = [&](int pass, const double* row_residual) {
    if (pass < 3) return 0;
    if (anorm < 1e-8) return 1;
    // Rows are summed in order, whatever the split of the sweep.
    double residual = 0.0;
    for (int j = 1; j <= gny; ++j) residual += row_residual[j];
    if (residual < 0.0002 * anorm) return 1;
    if (pass == 3 || residual < level * (1.0 - 1.0 / 32.0)) {
      falling = pass > 3;
      level = residual;
      level_pass = pass;
    }
    return falling && pass - level_pass >= window ? -1 : 0;
  };
  sor.a = a, sor.b = b, sor.c = c, sor.d = d, sor.e = e;
  sor.nx = gnx;
  sor.ny = gny;
  sor.front = 0;
  double omega = 1.0;
  // Each fork runs two half-sweeps, one of each colour: a fork costs more
  // than a band's share of a half-sweep.
  for (int pass = 1;; pass += 2) {
    const int read = sor.front, written = 1 - read, colour = pass & 1;
    if (aborted()) {
      unpack({read, read});
      return false;
    }
    sor.pass = pass;
    sor.omega = omega;
    sor.next_omega = next_omega(pass, omega);
    // The test that would come after the first pass comes before the fork;
    // a stop still lands between the two.
    sor.paired = pass < SOR_MAX_HALF_SWEEPS && !aborted();
    if (sor_threshold >= gnx)
      mp_SOR(this, 0, gny - 1);
    else
      mp_exec(mp_SOR, gny);
    int buffer[2];
    buffer[colour] = written;
    buffer[1 - colour] = read;
    const int first_verdict = verdict(pass, sor.row_residual);
    if (first_verdict != 0 || !sor.paired) {
      unpack(buffer);
      return first_verdict > 0;
    }
    sor.pass = pass + 1;
    buffer[1 - colour] = written;
    const int second_verdict = verdict(pass + 1, sor.row_residual + gny + 2);
    if (second_verdict != 0 || pass + 1 >= SOR_MAX_HALF_SWEEPS) {
      unpack(buffer);
      return second_verdict > 0;
    }
    sor.front = written;
    omega = next_omega(pass + 1, sor.next_omega);
  }
}

// The fork's first pass sweeps colour c over the band's rows. Its second
// sweeps the other colour, which reads the new colour-c values of the rows
// just outside the band: other bands write those, so the band works them
// out itself, from the buffer no band writes, into halo rows of its own (at
// its first row of HALO_BELOW, its last of HALO_ABOVE), with the same row
// kernel, so they come out bit for bit as the owners' rows.
void FluidFlowCore::mp_SOR(void* solver, int first, int last) {
  FluidFlowCore* self = static_cast<FluidFlowCore*>(solver);
  const SorBlock& s = self->sor;
  if (first > last) return;
  const int top = first + 1, bottom = last + 1, colour = s.pass & 1, read = s.front, written = 1 - read;
  const double factor = exact_inverse(s.e);
  const float* other = s.p_plane(read, 1 - colour);
  SorSweep sweep{s.p_plane(read, colour), s.p_plane(written, colour), other, other, other,
                 s.plane(SorBlock::RHS_COLOUR0 + colour), s.plane_stride, s.nx, colour, s.a, s.b, s.c, s.d, s.e,
                 s.omega, s.omega * factor};
  void (*const rows)(const SorSweep&, int, int, double*) = q4_simd_use_avx2() ? sor_rows_avx2 : sor_rows_portable;
  rows(sweep, top, bottom, s.row_residual + top);
  if (!s.paired) return;

  // Planes whose rows top - 1 and bottom + 1 are the band's halo rows.
  float* const below = s.plane(SorBlock::HALO_BELOW) + s.plane_stride;
  float* const above = s.plane(SorBlock::HALO_ABOVE) - s.plane_stride;
  double unused;
  if (top > 1) {
    sweep.out = below;
    rows(sweep, top - 1, top - 1, &unused);
  }
  if (bottom < s.ny) {
    sweep.out = above;
    rows(sweep, bottom + 1, bottom + 1, &unused);
  }
  const float* swept = s.p_plane(written, colour);
  const SorSweep then{s.p_plane(read, 1 - colour),
                      s.p_plane(written, 1 - colour),
                      swept,
                      top > 1 ? below : swept,
                      bottom < s.ny ? above : swept,
                      s.plane(SorBlock::RHS_COLOUR0 + 1 - colour),
                      s.plane_stride,
                      s.nx,
                      1 - colour,
                      s.a,
                      s.b,
                      s.c,
                      s.d,
                      s.e,
                      s.next_omega,
                      s.next_omega * factor};
  rows(then, top, bottom, s.row_residual + s.ny + 2 + top);
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
