#include <algorithm>
#include <chrono>
#include <cmath>

#include "fluid_flow_core.h"

// Pressure projection: the divergence of the velocity, a Poisson solve for
// the pressure by red-black successive over-relaxation with the Chebyshev
// schedule of the relaxation factor, and the pressure gradient taken off.
// The half-sweeps themselves are in pressure_sweeps.cpp.

namespace {

// The relaxation factor of the pass after `pass`, whose factor was omega.
double next_omega(double rho, int pass, double omega) {
  return pass == 1 ? 1.0 / (1.0 - rho * rho * 0.5) : 1.0 / (1.0 - rho * rho * omega * 0.25);
}

}  // namespace

// When the solve ends, from each pass's sums of |residual| by row.
//
// A single-precision p cannot take the residual below the rounding of its
// largest terms: p grows with the square of the grid against a smooth
// right-hand side, and from 256 cells on that floor can sit above the
// limit. Once the residual has started to fall, a solve whose residual does
// not fall by a 32nd within the window has reached its floor; it stops as
// it does at the cap. A converging solve falls by that much at least every
// quarter of the longer side, plateaus included; before its first fall
// (Chebyshev start-up, a diverging system) the window does not run.
class FluidFlowCore::SorStopRule {
 public:
  SorStopRule(const float* rhs, int nx, int ny) : ny_(ny), window_(std::max(64, std::max(nx, ny))) {
    const int w = nx + 2;
    for (int j = 1; j <= ny; ++j)
      for (int i = 1; i <= nx; ++i) anorm_ += std::fabs(static_cast<double>(rhs[j * w + i]));
  }
  // 1 converged, -1 settled at the floor, 0 go on.
  int verdict(int pass, const double* row_residual) {
    if (pass < 3) return 0;
    if (anorm_ < 1e-8) return 1;
    // Rows are summed in order, whatever the split of the sweep.
    double residual = 0.0;
    for (int j = 1; j <= ny_; ++j) residual += row_residual[j];
    if (residual < 0.0002 * anorm_) return 1;
    if (pass == 3 || residual < level_ * (1.0 - 1.0 / 32.0)) {
      falling_ = pass > 3;
      level_ = residual;
      level_pass_ = pass;
    }
    return falling_ && pass - level_pass_ >= window_ ? -1 : 0;
  }

 private:
  const int ny_, window_;
  double anorm_ = 0.0;
  double level_ = 0.0;
  int level_pass_ = 0;
  bool falling_ = false;
};

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
  SorStopRule rule(rhs, gnx, gny);
  sor.a = a, sor.b = b, sor.c = c, sor.d = d, sor.e = e;
  sor.nx = gnx;
  sor.ny = gny;
  sor.banded = sor_threshold < gnx;
  sor.front[0] = sor.front[1] = 0;
  sor_pack(p, rhs);
  double omega = 1.0;
  for (int pass = 1;;) {
    if (aborted()) {
      sor_unpack(p);
      return false;
    }
    int stop = sor_plan_fork(pass, omega, rho);
    sor_run_fork();
    // A band that had no room for the rows beyond its own ran the first
    // pass alone: the fork did that pass, and a stop due in it comes now.
    if (sor.first_only.load(std::memory_order_relaxed)) {
      sor.passes = 1;
      stop = stop >= 0 ? 0 : -1;
    }
    const int said = sor_take_fork(rule, stop);
    if (said != 0) {
      sor_unpack(p);
      return said > 0;
    }
    omega = next_omega(rho, sor.pass, sor.omega[sor.passes - 1]);
    pass = sor.pass + 1;
  }
}

// Every place of both rings gets the ghosts, which no sweep writes; the
// first place gets the interior. Moved in bands when the sweeps are.
void FluidFlowCore::sor_pack(const float* p, const float* rhs) {
  const int gnx = sor.nx, gny = sor.ny, w = gnx + 2;
  sor_bands(gny + 2, [&](int first, int last) {
    for (int j = first; j <= last; ++j) {
      for (int i = 0; i <= gnx + 1; ++i) {
        const int colour = (i + j) & 1;
        sor.p_plane(colour, 0)[sor.cell(i, j)] = p[j * w + i];
        sor.plane(SorBlock::RHS_COLOUR0 + colour)[sor.cell(i, j)] = rhs[j * w + i];
      }
      const bool ghost_row = j == 0 || j == gny + 1;
      for (int i = 0; i <= gnx + 1; i += ghost_row ? 1 : gnx + 1)
        for (int place = 1; place < SorBlock::RING; ++place)
          sor.p_plane((i + j) & 1, place)[sor.cell(i, j)] = p[j * w + i];
    }
  });
}

void FluidFlowCore::sor_unpack(float* p) {
  const int gnx = sor.nx, w = gnx + 2;
  sor_bands(sor.ny, [&](int first, int last) {
    for (int j = first + 1; j <= last + 1; ++j)
      for (int i = 1; i <= gnx; ++i) {
        const int colour = (i + j) & 1;
        p[j * w + i] = sor.p_plane(colour, sor.front[colour])[sor.cell(i, j)];
      }
  });
}

// The tests that would come before the fork's later passes come before the
// fork; a stop still lands between two passes.
int FluidFlowCore::sor_plan_fork(int pass, double omega, double rho) {
  const int most = SorBlock::MAX_FORK_PASSES;
  const int wanted = sor.fork_passes > 0 ? sor.fork_passes : sor.costs.passes(sor.banded, sor.ny, most);
  int passes = 1, stop = pass >= SOR_MAX_HALF_SWEEPS ? 0 : -1;
  sor.omega[0] = omega;
  while (stop < 0 && passes < wanted) {
    if (aborted()) {
      stop = passes - 1;
      break;
    }
    sor.omega[passes] = next_omega(rho, pass + passes - 1, sor.omega[passes - 1]);
    if (pass + passes >= SOR_MAX_HALF_SWEEPS) stop = passes;
    ++passes;
  }
  sor.pass = pass;
  sor.passes = passes;
  return stop;
}

// In bands, timed for the half-sweeps of the forks after it; else on the
// calling thread.
void FluidFlowCore::sor_run_fork() {
  sor.costs.start_fork(sor.ny);
  sor.first_only.store(false, std::memory_order_relaxed);
  if (!sor.banded) {
    mp_SOR(this, 0, sor.ny - 1);
    return;
  }
  const auto started = std::chrono::steady_clock::now();
  mp_exec(mp_SOR, sor.ny);
  const std::chrono::duration<double, std::nano> fork = std::chrono::steady_clock::now() - started;
  sor.costs.fork_done(fork.count());
}

// The fork's passes in order, as one half-sweep at a time takes them: the
// ring places of each colour's latest values after each, and the verdict.
int FluidFlowCore::sor_take_fork(SorStopRule& rule, int stop) {
  const int first = sor.pass, start[2] = {sor.front[0], sor.front[1]};
  int swept[2] = {0, 0};
  for (int m = 0; m < sor.passes; ++m) {
    ++swept[(first + m) & 1];
    for (int colour : {0, 1}) sor.front[colour] = SorBlock::after(start[colour], swept[colour]);
    sor.pass = first + m;
    const int said = rule.verdict(first + m, sor.row_residual + static_cast<size_t>(m) * (sor.ny + 2));
    if (said != 0) return said;
    if (m == stop) return -1;
  }
  return 0;
}

void FluidFlowCore::mp_SOR(void* solver, int first, int last) {
  sor_sweep_band(static_cast<FluidFlowCore*>(solver)->sor, first, last);
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
