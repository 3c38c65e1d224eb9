#include <cmath>
#include <complex>
#include <mutex>
#include <random>

#include <fftw3.h>
#include <gtest/gtest.h>

#include "failing_heap.h"
#include "fftw_threads.h"
#include "fluid_test_support.h"
#include "simd_paths.h"

namespace {

using cplx = std::complex<double>;
const double kTwoPi = 6.283185307179586;

// Double-precision 2-D DFTs planned here, independent of the service's
// single-precision path. Index r * n + c is row r, column c; the forward
// sign is negative, as the service's.
struct DoubleDft {
  int n;
  fftw_complex* a;
  fftw_plan forward, backward;
  explicit DoubleDft(int side) : n(side), a(fftw_alloc_complex(static_cast<size_t>(side) * side)) {
    std::lock_guard<std::mutex> hold(fftw_planner_lock());
    forward = fftw_plan_dft_2d(n, n, a, a, FFTW_FORWARD, FFTW_ESTIMATE);
    backward = fftw_plan_dft_2d(n, n, a, a, FFTW_BACKWARD, FFTW_ESTIMATE);
  }
  ~DoubleDft() {
    std::lock_guard<std::mutex> hold(fftw_planner_lock());
    fftw_destroy_plan(forward);
    fftw_destroy_plan(backward);
    fftw_free(a);
  }
  std::vector<cplx> spectrum(const float* field) {
    for (int k = 0; k < n * n; ++k) a[k][0] = field[k], a[k][1] = 0.0;
    fftw_execute(forward);
    std::vector<cplx> out(static_cast<size_t>(n) * n);
    for (int k = 0; k < n * n; ++k) out[k] = cplx(a[k][0], a[k][1]);
    return out;
  }
  // The real part of the normalised inverse.
  std::vector<double> real_field(const std::vector<cplx>& s) {
    for (int k = 0; k < n * n; ++k) a[k][0] = s[k].real(), a[k][1] = s[k].imag();
    fftw_execute(backward);
    std::vector<double> out(static_cast<size_t>(n) * n);
    for (int k = 0; k < n * n; ++k) out[k] = a[k][0] / (static_cast<double>(n) * n);
    return out;
  }
  // Signed frequency of index k: 0 .. n/2 - 1, then -n/2 .. -1.
  int frequency(int k) const { return k < n / 2 ? k : k - n; }
};

// A spectral solver without walls.
std::unique_ptr<FluidFlowCore> open_solver(int n, float viscosity = 0.0f, float dt = 1.0f) {
  auto s = std::make_unique<FluidFlowCore>(n, n, 1, 0, 0);
  s->no_boundaries_mode(true);
  s->set_viscosity(viscosity);
  s->set_time_step(dt);
  return s;
}

void fill_random(float* d, int cells, unsigned seed, float scale) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> r(-1.0f, 1.0f);
  for (int k = 0; k < cells; ++k) d[k] = scale * r(gen);
}

double max_abs(const float* d, int cells) {
  double m = 0;
  for (int k = 0; k < cells; ++k) m = std::max(m, std::fabs(static_cast<double>(d[k])));
  return m;
}

// Largest distance of a field from a constant.
double off_constant(const float* d, int cells, float c) {
  double m = 0;
  for (int k = 0; k < cells; ++k) m = std::max(m, std::fabs(static_cast<double>(d[k]) - c));
  return m;
}

// Velocities this small move no cell centre of these grids by a float's
// rounding step, so a step's advection is exactly the identity and what
// remains of the step is the spectrum pass.
const float kStill = 1e-12f;

int never_stop(void*) { return 0; }

}  // namespace

TEST(FluidSpectral, SpectrumPassMatchesADoublePrecisionProjection) {
  struct Case {
    int n;
    float viscosity, dt;
    bool abort_test;  // the service's complex path instead of its half spectra
  } cases[] = {{16, 0.004f, 1.0f, false}, {32, 0.001f, 0.5f, false}, {32, 0.001f, 0.5f, true},
               {64, 0.0f, 1.0f, false}};
  for (const Case& c : cases) {
    const int n = c.n, cells = n * n;
    auto s = open_solver(n, c.viscosity, c.dt);
    if (c.abort_test) s->set_abort_test(nullptr, never_stop);
    fill_random(s->velocity->u, cells, 3 * n, kStill);
    fill_random(s->velocity->v, cells, 5 * n, kStill);

    DoubleDft dft(n);
    std::vector<cplx> U = dft.spectrum(s->velocity->u), V = dft.spectrum(s->velocity->v);
    const double nu = s->viscosity, dt = s->dt;
    for (int r = 0; r < n; ++r)
      for (int col = 0; col < n; ++col) {
        const double kx = dft.frequency(col), ky = dft.frequency(r), k2 = kx * kx + ky * ky;
        if (k2 == 0) continue;
        const int k = r * n + col;
        const double damp = std::exp(-k2 * dt * nu);
        const cplx u = U[k], v = V[k];
        U[k] = ((1 - kx * kx / k2) * u - (kx * ky / k2) * v) * damp;
        V[k] = (-(kx * ky / k2) * u + (1 - ky * ky / k2) * v) * damp;
      }
    const std::vector<double> want_u = dft.real_field(U), want_v = dft.real_field(V);
    const std::vector<float> before_u(s->velocity->u, s->velocity->u + cells);

    ASSERT_TRUE(s->FFT_Velocity_Solver()) << n;
    double err = 0, change = 0;
    for (int k = 0; k < cells; ++k) {
      err = std::max({err, std::fabs(s->velocity->u[k] - want_u[k]), std::fabs(s->velocity->v[k] - want_v[k])});
      change = std::max(change, std::fabs(want_u[k] - before_u[k]));
    }
    EXPECT_LT(err, 1e-6 * kStill) << n << " " << c.abort_test;
    EXPECT_GT(change, 0.1 * kStill) << "the projection must have work to do";
  }
}

TEST(FluidSpectral, AStepLeavesNoDivergence) {
  const int n = 32, cells = n * n;
  auto s = open_solver(n, 0.001f);
  fill_random(s->velocity->u, cells, 1, 0.01f);
  fill_random(s->velocity->v, cells, 2, 0.01f);
  fill_random(s->force->u, cells, 3, 0.002f);
  fill_random(s->force->v, cells, 4, 0.002f);
  DoubleDft dft(n);
  // Largest |k . U(k)| / |k| against the largest |U(k)|. A real field's
  // Nyquist lines carry +n/2 and -n/2 at once, so no direction there is
  // orthogonal to both: they are left out.
  auto divergence = [&](const VectorField* f) {
    const std::vector<cplx> U = dft.spectrum(f->u), V = dft.spectrum(f->v);
    double div = 0, size = 0;
    for (int r = 0; r < n; ++r)
      for (int c = 0; c < n; ++c) {
        const int k = r * n + c;
        size = std::max(size, std::sqrt(std::norm(U[k]) + std::norm(V[k])));
        const double kx = dft.frequency(c), ky = dft.frequency(r);
        if ((kx == 0 && ky == 0) || kx == -n / 2 || ky == -n / 2) continue;
        div = std::max(div, std::abs(kx * U[k] + ky * V[k]) / std::sqrt(kx * kx + ky * ky));
      }
    return div / size;
  };
  EXPECT_GT(divergence(s->velocity), 0.1);
  for (int step = 0; step < 2; ++step) {
    ASSERT_TRUE(s->FFT_Velocity_Solver());
    EXPECT_LT(divergence(s->velocity), 5e-7) << step;
  }
}

TEST(FluidSpectral, ShearModesDecayAndRideAStream) {
  // u = A sin(2 pi k (j + 0.5) / n) varies with y only, so advection along
  // x leaves it in place; a uniform v carries it along y by whole cells.
  struct Case {
    int n, k;
    float viscosity, dt;
    int stream;  // cells per step along y
  } cases[] = {{32, 1, 0.01f, 1.0f, 0}, {32, 4, 0.02f, 1.0f, 0}, {64, 3, 0.002f, 2.0f, 0},
               {32, 2, 0.01f, 1.0f, 2}, {64, 5, 0.001f, 0.5f, 3}};
  const float A = 0.05f;
  for (const Case& c : cases) {
    const int n = c.n;
    auto s = open_solver(n, c.viscosity, c.dt);
    const float stream = static_cast<float>(c.stream) / (static_cast<float>(n) * c.dt);
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) {
        at_u(s->velocity, i, j) = A * static_cast<float>(std::sin(kTwoPi * c.k * (j + 0.5) / n));
        at_v(s->velocity, i, j) = stream;
      }
    ASSERT_TRUE(s->FFT_Velocity_Solver());
    const double decay = std::exp(-static_cast<double>(c.k) * c.k * c.dt * s->viscosity);
    double err_u = 0, err_v = 0;
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) {
        const double want = A * decay * std::sin(kTwoPi * c.k * (j - c.stream + 0.5) / n);
        err_u = std::max(err_u, std::fabs(at_u(s->velocity, i, j) - want));
        err_v = std::max(err_v, std::fabs(static_cast<double>(at_v(s->velocity, i, j)) - stream));
      }
    // Along a stream the traced rows carry the rounding of five sub-steps.
    EXPECT_LT(err_u, (c.stream ? 1e-5 : 2e-6) * A) << n << " k " << c.k << " stream " << c.stream;
    EXPECT_LT(err_v, 2e-7) << n << " k " << c.k;
  }
}

TEST(FluidSpectral, UniformFlowStaysAndGradientModesGo) {
  {
    auto s = open_solver(32);  // viscosity 1e-10
    s->velocity->set(0.3f, -0.2f);
    s->set_force(0.01f, 0.02f);
    ASSERT_TRUE(s->FFT_Velocity_Solver());
    EXPECT_LT(off_constant(s->velocity->u, 32 * 32, 0.31f), 1e-6);
    EXPECT_LT(off_constant(s->velocity->v, 32 * 32, -0.18f), 1e-6);
  }
  // (u, v) along (kx, ky) at that one frequency: the gradient of a sine.
  const int modes[][2] = {{1, 0}, {0, 3}, {2, 5}, {-3, 1}, {7, -6}, {15, 15}};
  const int n = 32;
  for (const auto& m : modes) {
    auto s = open_solver(n, 0.001f);
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) {
        const double c = std::cos(kTwoPi * (m[0] * i + m[1] * j) / n);
        at_u(s->velocity, i, j) = static_cast<float>(kStill * m[0] * c);
        at_v(s->velocity, i, j) = static_cast<float>(kStill * m[1] * c);
      }
    ASSERT_TRUE(s->FFT_Velocity_Solver());
    const double size = kStill * std::hypot(m[0], m[1]);
    EXPECT_LT(max_abs(s->velocity->u, n * n), 1e-6 * size) << m[0] << "," << m[1];
    EXPECT_LT(max_abs(s->velocity->v, n * n), 1e-6 * size) << m[0] << "," << m[1];
  }
}

TEST(FluidSpectral, StillScalarDecaysByDiffusionThenDissipation) {
  struct Case {
    int n, kx, ky;
    float diffusion, dissipation, dt;
  } cases[] = {{32, 1, 0, 0.01f, 0.0f, 1.0f}, {32, 3, -2, 0.005f, 0.5f, 1.0f}, {64, 0, 7, 0.001f, 1.0f, 0.5f},
               {16, 4, 4, 0.0f, 2.0f, 1.0f}, {32, 0, 0, 0.1f, 0.25f, 2.0f}, {32, 5, 1, -0.3f, 0.0f, 1.0f}};
  for (const Case& c : cases) {
    const int n = c.n;
    auto s = open_solver(n, 0.0f, c.dt);
    ScalarField* f = s->fields[s->create_scalar_field("dye")];
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) at(f, i, j) = static_cast<float>(std::cos(kTwoPi * (c.kx * i + c.ky * j) / n));
    ASSERT_TRUE(s->FFT_Scalar_Solver(f, nullptr, c.diffusion, c.dissipation));
    const double k2 = c.kx * c.kx + c.ky * c.ky;
    // A negative rate diffuses nothing, as in the finite-difference step:
    // it would amplify every frequency without bound.
    const double factor = std::exp(-k2 * c.dt * std::max(0.0f, c.diffusion)) / (1.0 + c.dissipation * c.dt);
    double err = 0;
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i)
        err = std::max(err, std::fabs(at(f, i, j) - factor * std::cos(kTwoPi * (c.kx * i + c.ky * j) / n)));
    EXPECT_LT(err, 1e-6) << c.kx << "," << c.ky;
  }
}

TEST(FluidSpectral, ZeroRatesKeepFieldsAndASourceAdds) {
  const int n = 32, cells = n * n;
  auto s = open_solver(n, 0.0f, 0.5f);
  ASSERT_TRUE(s->create_texture_flow());
  const int dye = s->create_scalar_field("dye"), src = s->create_scalar_field("source");
  fill_random(s->fields[dye]->data, cells, 8, 1.0f);
  fill_random(s->fields[src]->data, cells, 9, 1.0f);
  const std::vector<float> dye0 = cells_of(s->fields[dye]), src0 = cells_of(s->fields[src]);
  s->set_scalar_field_source_field(dye, src);
  ASSERT_TRUE(s->advance_time_step(true));
  double err = 0, err_u = 0, err_v = 0;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const int k = j * n + i;
      err = std::max(err, std::fabs(s->fields[dye]->data[k] - (dye0[k] + 0.5 * src0[k])));
      err_u = std::max(err_u, std::fabs(at(s->texture_u, i, j) - i / (n - 1.0)));
      err_v = std::max(err_v, std::fabs(at(s->texture_v, i, j) - j / (n - 1.0)));
    }
  EXPECT_LT(err, 2e-6);
  EXPECT_LT(err_u, 1e-6);
  EXPECT_LT(err_v, 1e-6);
  EXPECT_TRUE(same_bits(cells_of(s->fields[src]), src0));  // a source field is not solved
  double total, velocity, scalar;
  int count;
  ASSERT_TRUE(s->get_ats_timing_info(total, velocity, scalar, count));
  EXPECT_EQ(count, 3);  // the dye and the two texture fields
}

TEST(FluidSpectral, ScalarsMoveWithTheFlowFromCellCentres) {
  // Two cells right and one up per step, wrapped: each cell takes the value
  // from exactly that far back, so the start at the cell centre and the
  // sample at n x - 0.5 must agree.
  const int n = 32, cells = n * n;
  for (bool cubic : {false, true}) {
    auto s = open_solver(n);
    s->cubic = cubic;
    s->set_wrapping(true, true);
    s->velocity->set(2.0f / n, 1.0f / n);
    ScalarField* f = s->fields[s->create_scalar_field("dye")];
    fill_random(f->data, cells, 11, 1.0f);
    const std::vector<float> before = cells_of(f);
    ASSERT_TRUE(s->FFT_Scalar_Solver(f, nullptr, 0.0f, 0.0f));
    double err = 0;
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) {
        const float from = before[((j + n - 1) % n) * n + (i + n - 2) % n];
        err = std::max(err, std::fabs(static_cast<double>(at(f, i, j)) - from));
      }
    // The traced ends carry the rounding of five sub-steps (a few 1e-6 of a
    // cell), against neighbour differences of up to 2.
    EXPECT_LT(err, 3e-5) << cubic;
  }
}

TEST(FluidSpectral, ChecksComeBeforeAnyChange) {
  struct Case {
    int nx, ny, method, snx;
    bool scalar_only;  // the velocity grid itself can be stepped
  } cases[] = {{100, 100, 1, 0, false}, {32, 16, 1, 0, false}, {32, 32, 2, 0, false}, {1, 1, 1, 0, false},
               {32, 32, 1, 16, true}};
  for (const Case& c : cases) {
    FluidFlowCore s(c.nx, c.ny, c.method, c.snx, c.snx);
    const int f = s.create_scalar_field("dye"), g = s.create_scalar_field("source");
    for (VectorField* v : {s.force, s.velocity, s.advected}) {
      fill_random(v->u, v->cell_count(), 1, 0.1f);
      fill_random(v->v, v->cell_count(), 2, 0.1f);
    }
    ScalarField* const scratch[] = {s.scalar_scratch1, s.scalar_scratch2};
    for (ScalarField* x : {s.fields[f], s.fields[g], scratch[0], scratch[1]})
      fill_random(x->data, field_cell_count(x->method, x->nx, x->ny), 3, 1.0f);
    auto everything = [&] {
      std::vector<float> all = state_of(s);
      for (ScalarField* x : scratch) {
        const std::vector<float> cells = cells_of(x);
        all.insert(all.end(), cells.begin(), cells.end());
      }
      return all;
    };
    const std::vector<float> before = everything();
    EXPECT_FALSE(s.FFT_Scalar_Solver(s.fields[f], s.fields[g], 0.1f, 0.1f)) << c.nx;
    EXPECT_FALSE(s.FFT_Scalar_Solver(s.fields[f], nullptr, 0.0f, 0.0f)) << c.nx;
    if (!c.scalar_only) {
      EXPECT_FALSE(s.FFT_Velocity_Solver()) << c.nx;
    }
    EXPECT_TRUE(same_bits(everything(), before)) << c.nx << "x" << c.ny << " method " << c.method << " " << c.snx;
    if (c.method == 1 && !c.scalar_only) {
      // A step that fails leaves the timing invalid.
      double t, v, sc;
      int count;
      EXPECT_FALSE(s.advance_time_step(true)) << c.nx;
      EXPECT_FALSE(s.get_ats_timing_info(t, v, sc, count));
    }
  }
  // Fields the scalar step cannot take on a grid it can step.
  auto s = open_solver(16);
  ScalarField* f = s->fields[s->create_scalar_field("dye")];
  fill_random(f->data, 256, 4, 1.0f);
  const std::vector<float> before = cells_of(f);
  ScalarField other_grid(8, 8, 1), other_layout(16, 16, 2);
  EXPECT_FALSE(s->FFT_Scalar_Solver(nullptr, nullptr, 0.0f, 0.0f));
  EXPECT_FALSE(s->FFT_Scalar_Solver(&other_grid, nullptr, 0.0f, 0.0f));
  EXPECT_FALSE(s->FFT_Scalar_Solver(&other_layout, nullptr, 0.0f, 0.0f));
  EXPECT_FALSE(s->FFT_Scalar_Solver(f, &other_grid, 0.1f, 0.0f));
  EXPECT_FALSE(s->FFT_Scalar_Solver(f, &other_layout, 0.1f, 0.0f));
  EXPECT_TRUE(same_bits(cells_of(f), before));
}

TEST(FluidSpectral, WallsFlipTheirColumnsAndRows) {
  const int n = 8, cells = n * n;
  struct Case {
    FluidFlowCore::Walls walls;  // x-low, x-high, y-high, y-low
    int u_column_a, u_column_b;  // negated columns of u, -1 for none
    int v_row_a, v_row_b;        // negated rows of v
  } cases[] = {{{0, 0, 0, 0}, -1, -1, -1, -1}, {{1, 0, 0, 0}, 0, -1, -1, -1}, {{0, 1, 0, 0}, n - 2, -1, -1, -1},
               {{0, 0, 1, 0}, -1, -1, n - 2, -1}, {{0, 0, 0, 1}, -1, -1, 0, -1}, {{1, 1, 1, 1}, 0, n - 2, n - 2, 0}};
  for (const Case& c : cases) {
    FluidFlowCore s(n, n, 1, 0, 0);
    s.walls = c.walls;
    fill_random(s.velocity->u, cells, 1, 1.0f);
    fill_random(s.velocity->v, cells, 2, 1.0f);
    const std::vector<float> u0 = cells_of(s.velocity);
    s.FFT_fix_velocities(s.velocity);
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) {
        const int k = j * n + i;
        const float su = (i == c.u_column_a || i == c.u_column_b) ? -1.0f : 1.0f;
        const float sv = (j == c.v_row_a || j == c.v_row_b) ? -1.0f : 1.0f;
        ASSERT_EQ(s.velocity->u[k], su * u0[k]) << i << "," << j;
        ASSERT_EQ(s.velocity->v[k], sv * u0[cells + k]) << i << "," << j;
      }
  }
  // A one-cell grid has no second-to-last column to flip.
  FluidFlowCore one(1, 1, 1, 0, 0);
  one.velocity->set(0.5f, 0.25f);
  one.FFT_fix_velocities(one.velocity);
  EXPECT_EQ(one.velocity->u[0], -0.5f);
  EXPECT_EQ(one.velocity->v[0], -0.25f);
}

TEST(FluidSpectral, BarrierCellsComeToRestInsideTheWalls) {
  const int n = 8, cells = n * n;
  for (bool walls : {false, true}) {
    FluidFlowCore s(n, n, 1, 0, 0);
    s.no_boundaries_mode(!walls);
    ScalarField* b = s.fields[s.create_scalar_field("barrier")];
    ASSERT_TRUE(s.set_scalar_field_is_barrier_field(0));
    const float values[] = {0.0f, 0.01f, 0.0101f, 1.0f};  // 0.01 itself is no barrier
    for (int k = 0; k < cells; ++k) b->data[k] = values[(k * 7 + k / n) % 4];
    fill_random(s.velocity->u, cells, 5, 1.0f);
    fill_random(s.velocity->v, cells, 6, 1.0f);
    const std::vector<float> v0 = cells_of(s.velocity);
    s.FFT_fix_velocities(s.velocity);
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) {
        const int k = j * n + i;
        const bool edge = walls && (i == 0 || i == n - 1 || j == 0 || j == n - 1);
        if (b->data[k] > 0.01f && !edge) {
          ASSERT_EQ(s.velocity->u[k], 0.0f) << i << "," << j;
          ASSERT_EQ(s.velocity->v[k], 0.0f) << i << "," << j;
        } else {
          // Untouched, or negated by a wall.
          ASSERT_EQ(std::fabs(s.velocity->u[k]), std::fabs(v0[k])) << i << "," << j;
          ASSERT_EQ(std::fabs(s.velocity->v[k]), std::fabs(v0[cells + k])) << i << "," << j;
        }
      }
  }
  // A whole step ends with the barrier at rest.
  auto s = open_solver(16, 0.001f);
  ScalarField* b = s->fields[s->create_scalar_field("barrier")];
  s->set_scalar_field_is_barrier_field(0);
  b->set_rectangle(4, 5, 9, 11, 1.0f);
  fill_random(s->velocity->u, 256, 7, 0.05f);
  fill_random(s->velocity->v, 256, 8, 0.05f);
  ASSERT_TRUE(s->FFT_Velocity_Solver());
  for (int k = 0; k < 256; ++k)
    if (b->data[k] > 0.5f) {
      ASSERT_TRUE(s->velocity->u[k] == 0.0f && s->velocity->v[k] == 0.0f) << k;
    }
  // A barrier on another grid (a solver with its own scalar grid) would be
  // read past its end: it is skipped.
  FluidFlowCore coarse(16, 16, 1, 8, 8);
  coarse.no_boundaries_mode(true);
  coarse.fields[coarse.create_scalar_field("barrier")]->set(1.0f);
  coarse.set_scalar_field_is_barrier_field(0);
  coarse.velocity->set(0.5f, 0.25f);
  coarse.FFT_fix_velocities(coarse.velocity);
  EXPECT_EQ(off_constant(coarse.velocity->u, 256, 0.5f), 0.0);
  EXPECT_EQ(off_constant(coarse.velocity->v, 256, 0.25f), 0.0);
}

TEST(FluidSpectral, FailedAllocationsAreRefusedWithoutReadingNull) {
  // Construction: each refusal of the image heap in turn leaves a solver
  // without some field's storage (or without its slot field), which both
  // solvers refuse.
  for (int grants = 0;; ++grants) {
    FluidFlowCore* s;
    int f;
    {
      FailingHeap heap(grants, FailingHeap::image);
      s = new FluidFlowCore(16, 16, 1, 0, 0);
      f = s->create_scalar_field("dye");
    }
    ScalarField* dye = f >= 0 ? s->fields[f] : nullptr;
    const bool whole = s->has_storage() && dye;
    EXPECT_EQ(s->FFT_Velocity_Solver(), s->has_storage()) << grants;
    EXPECT_EQ(s->FFT_Scalar_Solver(dye, nullptr, 0.1f, 0.1f), whole) << grants;
    delete s;
    if (whole) break;
    ASSERT_LT(grants, 20);
  }
  // Spectra (image heap), frequency table and column buffers (normal heap)
  // refused in the middle of a step, one allocation or all from one on, on
  // fresh spectra and on spectra left by earlier steps. A refused step
  // leaves the velocity exactly as advected: the bits of a step stopped
  // right after its advection (one abort question a row), never the
  // inverse of a half-made or stale spectrum.
  const int n = 16;
  auto solver = [&](int earlier) {
    auto s = open_solver(n, 0.01f);
    fill_random(s->velocity->u, n * n, 1, 0.02f);
    fill_random(s->velocity->v, n * n, 2, 0.02f);
    for (int k = 0; k < earlier; ++k) EXPECT_TRUE(s->FFT_Velocity_Solver());
    return s;
  };
  for (int earlier : {0, 2}) {
    auto advected_only = solver(earlier), whole = solver(earlier);
    StopAfter stop{n};
    advected_only->set_mp_exec(&stop, nullptr);
    advected_only->set_abort_test(&stop, StopAfter::test);
    ASSERT_TRUE(advected_only->FFT_Velocity_Solver());
    ASSERT_TRUE(whole->FFT_Velocity_Solver());
    const std::vector<float> advected = cells_of(advected_only->velocity);
    EXPECT_FALSE(same_bits(cells_of(whole->velocity), advected));
    int refused = 0;
    for (FailingHeap::Heap which : {FailingHeap::image, FailingHeap::normal})
      for (bool once : {false, true})
        for (int grants = 0; grants < 8; ++grants) {
          auto s = solver(earlier);
          bool ok;
          {
            FailingHeap heap(grants, which, once);
            ok = s->FFT_Velocity_Solver();
          }
          refused += !ok;
          EXPECT_TRUE(same_bits(cells_of(s->velocity), ok ? cells_of(whole->velocity) : advected))
              << earlier << " " << which << " " << once << " " << grants;
        }
    EXPECT_GT(refused, 4) << earlier;
  }
  // A refused scalar transform keeps the field as it was, source and all;
  // a granted one gives the bits of an undisturbed step.
  auto dye_solver = [&](std::vector<float>* before) {
    auto s = open_solver(n);
    fill_random(s->velocity->u, n * n, 3, 0.02f);
    ScalarField* f = s->fields[s->create_scalar_field("dye")];
    s->fields[s->create_scalar_field("source")]->set(0.5f);
    fill_random(f->data, n * n, 4, 1.0f);
    *before = cells_of(f);
    return s;
  };
  std::vector<float> before, stepped;
  {
    auto s = dye_solver(&before);
    ASSERT_TRUE(s->FFT_Scalar_Solver(s->fields[0], s->fields[1], 0.1f, 0.1f));
    stepped = cells_of(s->fields[0]);
  }
  for (FailingHeap::Heap which : {FailingHeap::image, FailingHeap::normal})
    for (bool once : {false, true})
      for (int grants = 0; grants < 4; ++grants) {
        auto s = dye_solver(&before);
        bool ok;
        {
          FailingHeap heap(grants, which, once);
          ok = s->FFT_Scalar_Solver(s->fields[0], s->fields[1], 0.1f, 0.1f);
        }
        EXPECT_TRUE(same_bits(cells_of(s->fields[0]), ok ? stepped : before)) << which << " " << once << " " << grants;
        if (grants == 0) {
          EXPECT_FALSE(ok) << which;
        }
      }
}

TEST(FluidSpectral, AStoppedStepKeepsTheAdvectedFlow) {
  // Stopped anywhere, even in the middle of a transform, the step returns
  // true and never leaves a half-transformed field behind: a uniform flow
  // stays uniform (rows the advection did not reach keep the advected
  // field's old values, uniform too), a scalar field is either as it was or
  // fully stepped.
  const int n = 16;
  auto run = [&](StopAfter* stop, std::vector<float>* dye) {
    auto s = open_solver(n, 0.01f);
    s->set_mp_exec(stop, nullptr);  // no executor: the context reaches the test
    s->set_abort_test(stop, StopAfter::test);
    s->velocity->set(0.03f, -0.02f);
    s->advected->set(0.03f, -0.02f);
    ScalarField* f = s->fields[s->create_scalar_field("dye")];
    fill_random(f->data, n * n, 2, 1.0f);
    *dye = cells_of(f);
    EXPECT_TRUE(s->FFT_Velocity_Solver());
    EXPECT_LT(off_constant(s->velocity->u, n * n, 0.03f), 1e-7);
    EXPECT_LT(off_constant(s->velocity->v, n * n, -0.02f), 1e-7);
    EXPECT_TRUE(s->FFT_Scalar_Solver(f, nullptr, 0.05f, 0.0f));
    return cells_of(f);
  };
  std::vector<float> start, stepped;
  StopAfter counter{1 << 30};
  stepped = run(&counter, &start);
  const int asks = counter.asked;
  ASSERT_GT(asks, 6 * n);
  for (int allowed = 0; allowed <= asks; ++allowed) {
    StopAfter stop{allowed};
    const std::vector<float> dye = run(&stop, &start);
    EXPECT_TRUE(same_bits(dye, start) || same_bits(dye, stepped)) << allowed;
  }
}

namespace {

// A few steps of a 64 grid with everything the spectral step has: forces,
// walls, a barrier, texture flow, a dye with a source, diffusion and
// dissipation, cubic sampling and wrapping on alternate steps.
std::vector<float> spectral_steps(void* context, mp_exec_fn exec, abort_test_fn test) {
  FluidFlowCore s(64, 64, 1, 0, 0);
  s.set_mp_exec(context, exec);
  if (test) s.set_abort_test(context, test);
  s.set_viscosity(0.0005f);
  EXPECT_TRUE(s.create_texture_flow());
  const int dye = s.create_scalar_field("dye"), src = s.create_scalar_field("source");
  const int barrier = s.create_scalar_field("barrier");
  s.set_scalar_field_is_barrier_field(barrier);
  s.fields[barrier]->set_rectangle(30, 10, 34, 20, 1.0f);
  s.fields[src]->set_rectangle(5, 5, 12, 12, 0.1f);
  s.set_scalar_field_source_field(dye, src);
  s.set_scalar_field_diffusion_rate(dye, 0.001f);
  s.set_scalar_field_dissipation_rate(dye, 0.05f);
  s.add_random_velocity_rectangle(0, 0, 1, 1, 0.003f);
  for (int step = 0; step < 3; ++step) {
    s.cubic = step & 1;
    s.set_wrapping(step == 1, step == 1);
    s.set_force(0, 0);
    s.add_random_force_rectangle(0, 0, 1, 1, 0.001f);
    s.add_force_vortex(0.002f, 0.5f, 0.5f, 0.3f, 1.0f);
    EXPECT_TRUE(s.advance_time_step(step != 1));
  }
  return state_of(s);
}

}  // namespace

TEST(FluidSpectral, BandedTransformsGiveTheSameBits) {
  for (abort_test_fn test : {static_cast<abort_test_fn>(nullptr), never_stop}) {
    const auto want = spectral_steps(nullptr, nullptr, test);
    double moved = 0;
    for (float v : want) {
      ASSERT_TRUE(std::isfinite(v));
      moved += std::fabs(v);
    }
    EXPECT_GT(moved, 0.0);
    BandSplits splits;
    for (const auto& e : splits.all()) EXPECT_TRUE(same_bits(spectral_steps(e.first, e.second, test), want));
    EXPECT_GT(splits.eight.calls.load(), 0);
  }
  // Hooks the solver drops are dropped by the service too: it must not
  // call an executor whose context may be gone.
  ThreadBandExecutor bands(3);
  auto s = open_solver(16);
  s->set_mp_exec(&bands, ThreadBandExecutor::exec);
  ASSERT_TRUE(s->FFT_Velocity_Solver());
  const int calls = bands.calls;
  EXPECT_GT(calls, 0);
  s->set_mp_exec(nullptr, nullptr);
  ASSERT_TRUE(s->FFT_Velocity_Solver());
  EXPECT_EQ(bands.calls.load(), calls);
}

TEST(FluidSpectral, BothSimdPathsGiveTheSameBits) {
  const auto paths = run_on_both_simd_paths([] { return spectral_steps(nullptr, nullptr, nullptr); });
  EXPECT_TRUE(same_bits(paths.first, paths.second));
}

TEST(FluidSpectral, AStepTracesOnceForAllScalarsWithoutChangingABit) {
  // advance_time_step traces the paths once for every scalar field; the
  // solvers called one by one trace them each time. Both SIMD paths.
  for (bool cubic : {false, true}) {
    auto run = [cubic](bool whole_step) {
      auto s = open_solver(32, 0.001f);
      s->cubic = cubic;
      s->set_wrapping(true, false);
      fill_random(s->velocity->u, 1024, 1, 0.08f);  // paths cross the wrapped edges
      fill_random(s->velocity->v, 1024, 2, 0.08f);
      const int a = s->create_scalar_field("a"), b = s->create_scalar_field("b"), src = s->create_scalar_field("s");
      fill_random(s->fields[a]->data, 1024, 3, 1.0f);
      fill_random(s->fields[b]->data, 1024, 4, 1.0f);
      s->fields[src]->set(0.25f);
      s->set_scalar_field_source_field(b, src);
      s->set_scalar_field_diffusion_rate(a, 0.002f);
      s->set_scalar_field_dissipation_rate(b, 0.1f);
      if (whole_step) {
        EXPECT_TRUE(s->advance_time_step(false));
      } else {
        EXPECT_TRUE(s->FFT_Velocity_Solver());
        EXPECT_TRUE(s->FFT_Scalar_Solver(s->fields[a], nullptr, 0.002f, 0.0f));
        EXPECT_TRUE(s->FFT_Scalar_Solver(s->fields[b], s->fields[src], 0.0f, 0.1f));
      }
      return state_of(*s);
    };
    const auto whole = run_on_both_simd_paths([&] { return run(true); });
    const auto single = run_on_both_simd_paths([&] { return run(false); });
    EXPECT_TRUE(same_bits(whole.first, whole.second)) << cubic;
    EXPECT_TRUE(same_bits(single.first, single.second)) << cubic;
    EXPECT_TRUE(same_bits(whole.first, single.first)) << cubic;
  }
}
