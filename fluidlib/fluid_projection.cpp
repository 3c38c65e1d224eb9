#include <immintrin.h>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "band_scratch.h"
#include "fluid_flow_core.h"
#include "q4_memory.h"
#include "q4_simd.h"

// Pressure projection: the divergence of the velocity, a Poisson solve for
// the pressure by red-black successive over-relaxation with the Chebyshev
// schedule of the relaxation factor, and the pressure gradient taken off.

namespace {

// The weights of one half-sweep. omega / e stands in for the division when
// 1 / e is exact (e a power of two), else factor is 0 and the step divides.
// Scaling by a power of two is exact, so omega * res / e and (omega / e) *
// res round the same real number: the same double.
struct SorCoefficients {
  float a, b, c, d, e;
  double omega;
  double factor;
};

// A run of rows first..last of the swept colour: each pointer is at the
// first entry of row `first` of its plane and moves on by `stride` a row.
// own and out: the colour's values before and after the pass; below,
// middle and above: rows j - 1, j and j + 1 of the other colour; rhs: the
// right-hand sides. Cell (i, j) has colour (i + j) & 1 and sits at i / 2 of
// its colour row; a row's cells of the colour start at column i0, their
// neighbours in the row are the other colour's entries k + i0 and
// k + i0 - 1, those above and below its entries k.
struct SorRun {
  const float* own;
  float* out;
  const float *below, *middle, *above, *rhs;
  int first, last, stride, nx, colour;
};

// Row j's pointers, at its first cell of the colour.
struct SorRow {
  const float* p;
  float* out;
  const float *right, *left, *up, *down, *rhs;
  int n;
};

SorRow sor_row(const SorRun& run, int j) {
  const int i0 = (run.colour + j) & 1;
  const size_t at = static_cast<size_t>(j - run.first) * run.stride + 1 - i0;
  const float* other = run.middle + at;
  return SorRow{run.own + at,   run.out + at,   other + i0, other + i0 - 1, run.above + at,
                run.below + at, run.rhs + at, (run.nx - i0) / 2 + i0};
}

// Cell k of a row: res = a p(i+1) + b p(i-1) + c p(j+1) + d p(j-1) + e p -
// rhs, p -= omega res / e, and |res| added to lane k mod 8. The lanes keep
// the sum's order the same on every path and every band split.
inline void sor_cell(const SorCoefficients& s, const SorRow& r, int k, double* lanes) {
  const float res = s.a * r.right[k] + s.b * r.left[k] + s.c * r.up[k] + s.d * r.down[k] + s.e * r.p[k] - r.rhs[k];
  const double step = s.factor != 0.0 ? s.factor * res : s.omega * res / s.e;
  r.out[k] = r.p[k] - static_cast<float>(step);
  lanes[k & 7] += std::fabs(static_cast<double>(res));
}

double lane_sum(const double* lanes) {
  return ((lanes[0] + lanes[1]) + (lanes[2] + lanes[3])) + ((lanes[4] + lanes[5]) + (lanes[6] + lanes[7]));
}

// The run's rows; row j's sum of |residual| goes to residual[j - first].
void sor_rows_portable(const SorCoefficients& s, const SorRun& run, double* residual) {
  for (int j = run.first; j <= run.last; ++j) {
    const SorRow r = sor_row(run, j);
    double lanes[8] = {};
    for (int k = 0; k < r.n; ++k) sor_cell(s, r, k, lanes);
    residual[j - run.first] = lane_sum(lanes);
  }
}

// The compiler keeps the lanes of the widened loop in memory, one scalar at
// a time: eight cells here are one vector of residuals and two of lanes.
Q4_SIMD_TARGET_AVX2 void sor_rows_avx2(const SorCoefficients& s, const SorRun& run, double* residual) {
  const __m256 a = _mm256_set1_ps(s.a), b = _mm256_set1_ps(s.b), c = _mm256_set1_ps(s.c), d = _mm256_set1_ps(s.d),
               e = _mm256_set1_ps(s.e);
  const __m256d factor = _mm256_set1_pd(s.factor), omega = _mm256_set1_pd(s.omega), divisor = _mm256_set1_pd(s.e);
  const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffffLL));
  const bool divide = s.factor == 0.0;
  for (int j = run.first; j <= run.last; ++j) {
    const SorRow r = sor_row(run, j);
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
    residual[j - run.first] = lane_sum(lanes);
  }
}

// The rows a band works out beyond its own, each pass's on rows of their
// own, kept by the thread: neighbouring bands work out the same rows, and
// their owners write them. Grown as a band needs, never shrunk.
struct HaloRows {
  float* rows = nullptr;
  void* raw = nullptr;
  size_t floats = 0;
  ~HaloRows() { q4_free(raw, __FILE__, __LINE__); }
  // Room for `wanted` floats; null when the heap refuses it.
  float* reserve(size_t wanted) {
    if (wanted <= floats) return rows;
    void* more_raw = nullptr;
    float* more = static_cast<float*>(band_scratch_alloc(wanted * sizeof(float), &more_raw));
    if (!more) return nullptr;
    q4_free(raw, __FILE__, __LINE__);
    rows = more;
    raw = more_raw;
    floats = wanted;
    return rows;
  }
};

thread_local HaloRows halo_rows;

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
  in_bands(p->rows(), [&](int first, int last) { p->set_rows(0.0f, first, last); });
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
  // Every place of both rings gets the ghosts, which no sweep writes; the
  // first place gets the interior.
  auto cell = [&](int i, int j) { return static_cast<size_t>(j) * H + (i >> 1); };
  // Moved in bands when the sweeps are.
  const bool banded = sor_threshold < gnx;
  auto rows = [&](int count, auto body) {
    if (banded)
      in_bands(count, body);
    else
      body(0, count - 1);
  };
  rows(gny + 2, [&](int first, int last) {
    for (int j = first; j <= last; ++j) {
      for (int i = 0; i <= gnx + 1; ++i) {
        const int colour = (i + j) & 1;
        sor.p_plane(colour, 0)[cell(i, j)] = p[j * w + i];
        sor.plane(SorBlock::RHS_COLOUR0 + colour)[cell(i, j)] = rhs[j * w + i];
      }
      const bool ghost_row = j == 0 || j == gny + 1;
      for (int i = 0; i <= gnx + 1; i += ghost_row ? 1 : gnx + 1)
        for (int place = 1; place < SorBlock::RING; ++place)
          sor.p_plane((i + j) & 1, place)[cell(i, j)] = p[j * w + i];
    }
  });
  // place[colour]: the ring place holding that colour's latest values.
  auto unpack = [&](const int (&place)[2]) {
    rows(gny, [&](int first, int last) {
      for (int j = first + 1; j <= last + 1; ++j)
        for (int i = 1; i <= gnx; ++i) {
          const int colour = (i + j) & 1;
          p[j * w + i] = sor.p_plane(colour, place[colour])[cell(i, j)];
        }
    });
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
  sor.front[0] = sor.front[1] = 0;
  // Half-sweeps a fork runs. The first pass of a fork sweeps passes - 1
  // rows beyond each end of a band, one fewer each pass after it: a band of
  // b rows sweeps b + passes - 1 rows a pass, and a fork costs its overhead
  // once. At w a row and s a fork, a pass takes w (b + passes - 1) + s /
  // passes, least at passes = sqrt(s / w). One band sweeps no rows beyond
  // its own.
  auto passes_for_next_fork = [&] {
    const int most = SorBlock::MAX_FORK_PASSES;
    if (!banded || sor.fewest_rows.load(std::memory_order_relaxed) >= gny) return most;
    if (!(sor.row_ns > 0.0)) return 2;
    return std::max(2, std::min(static_cast<int>(std::lround(std::sqrt(sor.overhead_ns / sor.row_ns))), most));
  };
  double omega = 1.0;
  for (int pass = 1;;) {
    if (aborted()) {
      unpack(sor.front);
      return false;
    }
    // The tests that would come before the fork's later passes come before
    // the fork; a stop still lands between two passes. stop: the pass of
    // the fork after which the solve ends, stopped or capped.
    int passes = 1, stop = pass >= SOR_MAX_HALF_SWEEPS ? 0 : -1;
    sor.omega[0] = omega;
    const int wanted = passes_for_next_fork();
    while (stop < 0 && passes < wanted) {
      if (aborted()) {
        stop = passes - 1;
        break;
      }
      sor.omega[passes] = next_omega(pass + passes - 1, sor.omega[passes - 1]);
      if (pass + passes >= SOR_MAX_HALF_SWEEPS) stop = passes;
      ++passes;
    }
    sor.pass = pass;
    sor.passes = passes;
    sor.fewest_rows.store(gny, std::memory_order_relaxed);
    sor.first_only.store(false, std::memory_order_relaxed);
    sor.slowest_ps.store(0, std::memory_order_relaxed);
    sor.row_ps.store(0, std::memory_order_relaxed);
    if (banded) {
      const auto started = std::chrono::steady_clock::now();
      mp_exec(mp_SOR, gny);
      const std::chrono::duration<double, std::nano> fork = std::chrono::steady_clock::now() - started;
      const double fork_ns = fork.count();
      const double slowest_ns = 1e-3 * sor.slowest_ps.load(std::memory_order_relaxed);
      const double row_ns = 1e-3 * sor.row_ps.load(std::memory_order_relaxed);
      if (row_ns > 0.0) {
        sor.overhead_ns += (std::max(0.0, fork_ns - slowest_ns) - sor.overhead_ns) / 8.0;
        sor.row_ns += (row_ns - sor.row_ns) / 8.0;
      }
    } else {
      mp_SOR(this, 0, gny - 1);
    }
    // A band that had no room for the rows beyond its own ran the first
    // pass alone: the fork did that pass, and a stop due in it comes now.
    if (sor.first_only.load(std::memory_order_relaxed)) {
      passes = 1;
      stop = stop >= 0 ? 0 : -1;
    }
    int swept[2] = {0, 0}, place[2];
    for (int m = 0; m < passes; ++m) {
      ++swept[(pass + m) & 1];
      for (int colour : {0, 1}) place[colour] = SorBlock::after(sor.front[colour], swept[colour]);
      const int said = verdict(pass + m, sor.row_residual + static_cast<size_t>(m) * (gny + 2));
      if (said != 0 || m == stop) {
        sor.pass = pass + m;
        unpack(place);
        return said > 0;
      }
    }
    sor.front[0] = place[0];
    sor.front[1] = place[1];
    sor.pass = pass + passes - 1;
    omega = next_omega(pass + passes - 1, sor.omega[passes - 1]);
    pass += passes;
  }
}

// Pass m of the fork sweeps its colour over the band's rows and, to be read
// by the passes after it, over the passes - 1 - m rows beyond each end:
// other bands write those, so the band works them out itself, from the
// values the fork started from, which no band writes, into rows of its own
// (halo_rows), with the same row kernel, so they come out bit for bit as
// their owners' rows. Each band times itself, for the next fork's count of
// half-sweeps.
void FluidFlowCore::mp_SOR(void* solver, int first, int last) {
  FluidFlowCore* self = static_cast<FluidFlowCore*>(solver);
  SorBlock& s = self->sor;
  if (first > last) return;
  const auto started = std::chrono::steady_clock::now();
  const int top = first + 1, bottom = last + 1, ny = s.ny, stride = s.plane_stride, colour0 = s.pass & 1;
  int fewest = s.fewest_rows.load(std::memory_order_relaxed);
  while (last - first + 1 < fewest &&
         !s.fewest_rows.compare_exchange_weak(fewest, last - first + 1, std::memory_order_relaxed)) {
  }
  int passes = s.passes;
  float* halo = nullptr;
  if (passes > 1 && (top > 1 || bottom < ny)) {
    halo = halo_rows.reserve(static_cast<size_t>(passes) * 2 * (passes - 1) * stride);
    if (!halo) {
      s.first_only.store(true, std::memory_order_relaxed);
      passes = 1;
    }
  }
  const int depth = passes - 1;
  // Half-sweeps of colour x among passes 0..m of the fork.
  auto updates = [&](int x, int m) { return m < 0 ? 0 : x == colour0 ? m / 2 + 1 : (m + 1) / 2; };
  // Row j beyond the band as pass m left it.
  auto halo_row = [&](int m, int j) {
    const int side = j > bottom, distance = side ? j - bottom : top - j;
    return halo + (static_cast<size_t>(m * 2 + side) * depth + distance - 1) * stride;
  };
  // The band's own rows and the ghost rows are in the planes, whoever swept
  // them last.
  auto in_planes = [&](int j) { return j < 1 || j > ny || (j >= top && j <= bottom); };
  const double factor = exact_inverse(s.e);
  void (*const rows)(const SorCoefficients&, const SorRun&, double*) =
      q4_simd_use_avx2() ? sor_rows_avx2 : sor_rows_portable;
  long long swept_rows = 0;
  for (int m = 0; m < passes; ++m) {
    const int colour = (s.pass + m) & 1, other = 1 - colour, reach = depth - m;
    const int own_done = updates(colour, m - 1), other_done = updates(other, m - 1);
    const SorCoefficients k{s.a, s.b, s.c, s.d, s.e, s.omega[m], s.omega[m] * factor};
    const float* const start = s.p_plane(colour, s.front[colour]);
    const float* const own = s.p_plane(colour, SorBlock::after(s.front[colour], own_done));
    const float* const read = s.p_plane(other, SorBlock::after(s.front[other], other_done));
    float* const swept = s.p_plane(colour, SorBlock::after(s.front[colour], own_done + 1));
    const float* const rhs = s.plane(SorBlock::RHS_COLOUR0 + colour);
    // The rows as the passes before this one left them: the swept colour's
    // last swept two passes back, the other's one.
    auto own_row = [&](int j) -> const float* {
      return own_done == 0 || in_planes(j) ? own + static_cast<size_t>(j) * stride : halo_row(m - 2, j);
    };
    auto read_row = [&](int j) -> const float* {
      return other_done == 0 || in_planes(j) ? read + static_cast<size_t>(j) * stride : halo_row(m - 1, j);
    };
    // Rows from..to, all of whose neighbours come from the same planes or
    // the same halo rows.
    auto run_of = [&](int from, int to, float* out) {
      return SorRun{own_row(from), out,  read_row(from - 1),       read_row(from), read_row(from + 1),
                    rhs + static_cast<size_t>(from) * stride, from, to, stride, s.nx, colour};
    };
    // A row beyond the band, into the band's halo rows.
    auto single = [&](int j) {
      double unused;
      float* const out = halo_row(m, j);
      rows(k, run_of(j, j, out), &unused);
      // The row's ghosts, which the kernel does not write, as the other
      // colour reads them.
      const float* ghosts = start + static_cast<size_t>(j) * stride;
      const int i0 = (colour + j) & 1, begin = 1 - i0, end = begin + (s.nx - i0) / 2 + i0;
      for (int i = 0; i < begin; ++i) out[i] = ghosts[i];
      for (int i = end; i < stride; ++i) out[i] = ghosts[i];
    };
    const int lo = std::max(1, top - reach), hi = std::min(ny, bottom + reach);
    swept_rows += hi - lo + 1;
    for (int j = lo; j < top; ++j) single(j);
    // The band's rows, the first and last alone when a neighbour of theirs
    // is one the band worked out itself.
    double* const residual = s.row_residual + static_cast<size_t>(m) * (ny + 2);
    const bool own_below = other_done == 0 || top == 1, own_above = other_done == 0 || bottom == ny;
    const int from = own_below ? top : top + 1, to = own_above ? bottom : bottom - 1;
    auto edge = [&](int j) { rows(k, run_of(j, j, swept + static_cast<size_t>(j) * stride), residual + j); };
    if (!own_below) edge(top);
    if (from <= to) rows(k, run_of(from, to, swept + static_cast<size_t>(from) * stride), residual + from);
    if (!own_above && (bottom > top || own_below)) edge(bottom);
    for (int j = bottom + 1; j <= hi; ++j) single(j);
  }
  const long long ps = std::chrono::duration_cast<std::chrono::duration<long long, std::pico>>(
                           std::chrono::steady_clock::now() - started)
                           .count();
  const long long per_row = ps / std::max(1LL, swept_rows);
  for (long long seen = s.slowest_ps.load(std::memory_order_relaxed);
       ps > seen && !s.slowest_ps.compare_exchange_weak(seen, ps, std::memory_order_relaxed);) {
  }
  for (long long seen = s.row_ps.load(std::memory_order_relaxed);
       per_row > seen && !s.row_ps.compare_exchange_weak(seen, per_row, std::memory_order_relaxed);) {
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
