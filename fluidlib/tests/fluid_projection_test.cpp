#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>

#include <Eigen/Dense>
#include <Eigen/Sparse>
#include <gtest/gtest.h>

#include "fluid_test_support.h"
#include "simd_paths.h"

namespace {

// A DIRECT-layout grid of (nx + 2) x (ny + 2) floats, zero ghosts.
struct Grid {
  int nx, ny;
  std::vector<float> cells;
  Grid(int nx_, int ny_) : nx(nx_), ny(ny_), cells(static_cast<size_t>(nx_ + 2) * (ny_ + 2)) {}
  float& operator()(int i, int j) { return cells[static_cast<size_t>(j) * (nx + 2) + i]; }
  float* data() { return cells.data(); }
};

Grid random_rhs(int nx, int ny, unsigned seed) {
  Grid g(nx, ny);
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> d(-1.0f, 1.0f);
  for (int j = 1; j <= ny; ++j)
    for (int i = 1; i <= nx; ++i) g(i, j) = d(gen);
  return g;
}

// 4 p(i, j) - p(i +- 1, j) - p(i, j +- 1) = rhs(i, j), p = 0 outside.
Eigen::SparseMatrix<double> poisson(int nx, int ny) {
  std::vector<Eigen::Triplet<double>> entries;
  auto index = [&](int i, int j) { return (j - 1) * nx + (i - 1); };
  for (int j = 1; j <= ny; ++j)
    for (int i = 1; i <= nx; ++i) {
      entries.emplace_back(index(i, j), index(i, j), 4.0);
      const int di[] = {1, -1, 0, 0}, dj[] = {0, 0, 1, -1};
      for (int k = 0; k < 4; ++k) {
        const int a = i + di[k], b = j + dj[k];
        if (a >= 1 && a <= nx && b >= 1 && b <= ny) entries.emplace_back(index(i, j), index(a, b), -1.0);
      }
    }
  Eigen::SparseMatrix<double> A(nx * ny, nx * ny);
  A.setFromTriplets(entries.begin(), entries.end());
  return A;
}

double divergence_away_from_walls(VectorField* f, int margin) {
  double sum = 0;
  for (int j = 1 + margin; j <= f->ny - margin; ++j)
    for (int i = 1 + margin; i <= f->nx - margin; ++i)
      sum += std::fabs(at_u(f, i + 1, j) - at_u(f, i - 1, j) + at_v(f, i, j + 1) - at_v(f, i, j - 1));
  return sum;
}

}  // namespace

TEST(FluidProjection, PressureMatchesASparseSolveWithinTheStoppingRule) {
  const int nx = 24, ny = 20;
  Grid rhs = random_rhs(nx, ny, 5), p(nx, ny);
  FluidFlowCore s(8, 8, 2, 0, 0);
  ASSERT_TRUE(s.DIRECT_SOR(-1, -1, -1, -1, 4, p.data(), rhs.data(), nx, ny));
  EXPECT_GE(s.get_sor_half_sweeps(), 3);

  const auto A = poisson(nx, ny);
  Eigen::VectorXd b(nx * ny), q(nx * ny);
  double anorm = 0;
  for (int j = 1; j <= ny; ++j)
    for (int i = 1; i <= nx; ++i) {
      b[(j - 1) * nx + i - 1] = rhs(i, j);
      q[(j - 1) * nx + i - 1] = p(i, j);
      anorm += std::fabs(rhs(i, j));
    }
  Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>> solver(A);
  const Eigen::VectorXd exact = solver.solve(b);
  // |p - exact| <= max |A^-1| * |A p - b|_1, and the stopping rule keeps the
  // residual near 0.0002 of |b|_1 (it is summed before each colour's update).
  const Eigen::MatrixXd inverse = solver.solve(Eigen::MatrixXd::Identity(nx * ny, nx * ny));
  const double green = inverse.cwiseAbs().maxCoeff();
  const double residual = (A * q - b).lpNorm<1>();
  EXPECT_LT(residual, 2 * 0.0002 * anorm);
  EXPECT_LT((q - exact).lpNorm<Eigen::Infinity>(), green * residual + 1e-5);
  EXPECT_LT((q - exact).lpNorm<Eigen::Infinity>(), green * 2 * 0.0002 * anorm);
  // Ghosts are never written.
  EXPECT_EQ(p(0, 5), 0.0f);
  EXPECT_EQ(p(nx + 1, ny + 1), 0.0f);
}

TEST(FluidProjection, SmoothFlowLosesItsDivergence) {
  const int n = 128;
  FluidFlowCore s(n, n, 2, 0, 0);
  VectorField* f = s.velocity;
  for (int j = 0; j < n + 2; ++j)
    for (int i = 0; i < n + 2; ++i) {
      const double x = (i - 0.5) / n, y = (j - 0.5) / n;
      at_u(f, i, j) = static_cast<float>(0.01 * std::sin(M_PI * x) * std::sin(2 * M_PI * y) + 0.004 * x);
      at_v(f, i, j) = static_cast<float>(0.01 * std::cos(M_PI * x) * std::sin(M_PI * y) - 0.003 * y * y);
    }
  const double before = divergence_away_from_walls(f, 16);
  s.DIRECT_Project(f, s.grid_scratch1, s.grid_scratch2);
  const double after = divergence_away_from_walls(f, 16);
  EXPECT_LT(after * 100, before);

  // A divergence-free field stays as it is and the pressure stays 0.
  f->set(0.25f, -0.5f);
  s.DIRECT_Project(f, s.grid_scratch1, s.grid_scratch2);
  EXPECT_EQ(s.get_sor_half_sweeps(), 3);
  for (float v : cells_of(s.grid_scratch2)) ASSERT_EQ(v, 0.0f);
  for (int k = 0; k < f->cell_count(); ++k) ASSERT_EQ(f->u[k], 0.25f);
}

TEST(FluidProjection, ZeroRightHandSideAndAbortAnswers) {
  FluidFlowCore s(8, 8, 2, 0, 0);
  Grid zero(10, 6), p(10, 6);
  EXPECT_TRUE(s.DIRECT_SOR(-1, -1, -1, -1, 4, p.data(), zero.data(), 10, 6));
  EXPECT_EQ(s.get_sor_half_sweeps(), 3);
  for (float v : p.cells) ASSERT_EQ(v, 0.0f);

  Grid rhs = random_rhs(10, 6, 2);
  StopAfter always{0};
  s.set_mp_exec(&always, no_work);
  s.set_abort_test(&always, StopAfter::test);
  EXPECT_FALSE(s.DIRECT_SOR(-1, -1, -1, -1, 4, p.data(), rhs.data(), 10, 6));
  EXPECT_EQ(s.get_sor_half_sweeps(), 0);
  for (float v : p.cells) ASSERT_EQ(v, 0.0f);
  EXPECT_FALSE(s.DIRECT_SOR(-1, -1, -1, -1, 0, p.data(), rhs.data(), 10, 6));  // no diagonal

  // A system the sweeps cannot solve stops at the cap.
  FluidFlowCore t(8, 8, 2, 0, 0);
  Grid q(4, 4), r = random_rhs(4, 4, 3);
  EXPECT_FALSE(t.DIRECT_SOR(-1, -1, -1, -1, 1.5f, q.data(), r.data(), 4, 4));
  EXPECT_EQ(t.get_sor_half_sweeps(), FluidFlowCore::SOR_MAX_HALF_SWEEPS);
}

TEST(FluidProjection, HalfSweepsAlternateColoursOddFirst) {
  for (int allowed : {1, 2}) {
    FluidFlowCore s(8, 8, 2, 0, 0);
    StopAfter stop{allowed};
    s.set_mp_exec(&stop, no_work);
    s.set_abort_test(&stop, StopAfter::test);
    Grid p(2, 2), rhs(2, 2);
    for (int j = 1; j <= 2; ++j)
      for (int i = 1; i <= 2; ++i) rhs(i, j) = 1.0f;
    EXPECT_FALSE(s.DIRECT_SOR(-1, -1, -1, -1, 4, p.data(), rhs.data(), 2, 2));
    // Pass 1 takes the cells with i + j odd: each gets rhs / 4.
    EXPECT_EQ(p(2, 1), 0.25f);
    EXPECT_EQ(p(1, 2), 0.25f);
    // Pass 2 (omega now above 1) takes the even cells.
    EXPECT_EQ(p(1, 1) != 0.0f, allowed == 2);
    EXPECT_EQ(p(2, 2) != 0.0f, allowed == 2);
  }
}

TEST(FluidProjection, BandsThresholdsAndVectorPathsGiveTheSameBits) {
  const int nx = 40, ny = 23;
  const Grid rhs = random_rhs(nx, ny, 9);
  auto solve = [&](FluidFlowCore& s) {
    Grid p(nx, ny), r = rhs;
    s.DIRECT_SOR(-1, -1, -1, -1, 4, p.data(), r.data(), nx, ny);
    return p.cells;
  };
  FluidFlowCore serial(8, 8, 2, 0, 0);
  const auto want = solve(serial);
  ThreadBandExecutor one(1), three(3), eight(8), uneven(6, true);
  EmptyBandExecutor empty(8);
  const std::pair<void*, mp_exec_fn> executors[] = {{&one, ThreadBandExecutor::exec},
                                                    {&three, ThreadBandExecutor::exec},
                                                    {&eight, ThreadBandExecutor::exec},
                                                    {&uneven, ThreadBandExecutor::exec},
                                                    {&empty, EmptyBandExecutor::exec}};
  // Plan 0 leaves the half-sweeps a fork to what forks cost.
  for (int threshold : {16, 40, 1000})
    for (const auto& e : executors)
      for (int plan = 0; plan <= FluidFlowCore::SOR_MAX_FORK_PASSES; ++plan) {
        FluidFlowCore s(8, 8, 2, 0, 0);
        s.set_mp_exec(e.first, e.second);
        s.DIRECT_SOR_set_mp_threshold(threshold);
        s.DIRECT_SOR_set_fork_passes(plan);
        EXPECT_TRUE(same_bits(solve(s), want)) << threshold << " " << plan;
      }
  // The threshold decides who sweeps: at or above the width, the caller.
  for (int threshold : {256, 257}) {
    FluidFlowCore s(8, 8, 2, 0, 0);
    ThreadBandExecutor counting(2);
    s.set_mp_exec(&counting, ThreadBandExecutor::exec);
    s.DIRECT_SOR_set_mp_threshold(threshold);
    Grid p(257, 3), r(257, 3);
    s.DIRECT_SOR(-1, -1, -1, -1, 4, p.data(), r.data(), 257, 3);
    EXPECT_EQ(counting.calls > 0, threshold < 257);
  }
  // More bands than rows: empty bands return at once.
  FluidFlowCore few(8, 8, 2, 0, 0), few_serial(8, 8, 2, 0, 0);
  EmptyBandExecutor many(8);
  few.set_mp_exec(&many, EmptyBandExecutor::exec);
  few.DIRECT_SOR_set_mp_threshold(16);
  const Grid small = random_rhs(20, 3, 4);
  Grid a(20, 3), b(20, 3), ra = small, rb = small;
  few.DIRECT_SOR(-1, -1, -1, -1, 4, a.data(), ra.data(), 20, 3);
  few_serial.DIRECT_SOR(-1, -1, -1, -1, 4, b.data(), rb.data(), 20, 3);
  EXPECT_TRUE(same_bits(a.cells, b.cells));

  const auto paths = run_on_both_simd_paths([&] {
    FluidFlowCore s(8, 8, 2, 0, 0);
    return solve(s);
  });
  EXPECT_TRUE(same_bits(paths.first, paths.second));
  EXPECT_TRUE(same_bits(paths.first, want));
}

// The red-black over-relaxation written out cell by cell on the full grid:
// odd cells (i + j odd) first, each step omega res / e in double, and the
// stopping sum of every row's |res| kept in eight lanes by the cell's place
// among the row's cells of its colour, the lanes added pairwise, the rows in
// order.
struct NaiveSor {
  std::vector<float> p;
  int passes;
  bool converged;
};

// Stops unconverged after `limit` passes, as an abort before the next does.
NaiveSor naive_sor(const float (&k)[5], Grid p, Grid rhs, int limit = FluidFlowCore::SOR_MAX_HALF_SWEEPS) {
  const int nx = p.nx, ny = p.ny;
  const double rho = (std::cos(3.14159265 / nx) + std::cos(3.14159265 / ny)) / 2;
  double anorm = 0;
  for (int j = 1; j <= ny; ++j)
    for (int i = 1; i <= nx; ++i) anorm += std::fabs(static_cast<double>(rhs(i, j)));
  double omega = 1;
  for (int pass = 1;; ++pass) {
    double residual = 0;
    for (int j = 1; j <= ny; ++j) {
      double lanes[8] = {};
      int place = 0;
      for (int i = 1; i <= nx; ++i) {
        if (((i + j) & 1) != (pass & 1)) continue;
        const float res =
            k[0] * p(i + 1, j) + k[1] * p(i - 1, j) + k[2] * p(i, j + 1) + k[3] * p(i, j - 1) + k[4] * p(i, j) - rhs(i, j);
        p(i, j) -= static_cast<float>(omega * res / k[4]);
        lanes[place++ % 8] += std::fabs(static_cast<double>(res));
      }
      residual += ((lanes[0] + lanes[1]) + (lanes[2] + lanes[3])) + ((lanes[4] + lanes[5]) + (lanes[6] + lanes[7]));
    }
    omega = pass == 1 ? 1 / (1 - rho * rho / 2) : 1 / (1 - rho * rho * omega / 4);
    if (pass >= 3 && (residual < 0.0002 * anorm || anorm < 1e-8)) return {p.cells, pass, true};
    if (pass >= FluidFlowCore::SOR_MAX_HALF_SWEEPS || pass >= limit) return {p.cells, pass, false};
  }
}

// Runs bands of `size` rows one after another on the calling thread, the
// last band first, so a band that read rows another band writes in the same
// run would see them changed; answers "go on" to the abort test `allowed`
// times, then "stop".
struct ReversedBands {
  int size;
  int allowed;
  int asked = 0;
  static void exec(void* context, mp_worker_fn worker, int count, void* object) {
    const int size = static_cast<ReversedBands*>(context)->size;
    for (int first = (count - 1) / size * size; first >= 0; first -= size)
      worker(object, first, std::min(first + size, count) - 1);
  }
  static int test(void* context) {
    ReversedBands* self = static_cast<ReversedBands*>(context);
    return self->asked++ >= self->allowed;
  }
};

TEST(FluidProjection, HalfSweepsMatchACellByCellSweepBitForBit) {
  struct Case {
    int nx, ny;
    float k[5];
  } cases[] = {
      {40, 23, {-1, -1, -1, -1, 4}},           // rows of 20 cells: vectors and no tail
      {37, 12, {-1, -1, -1, -1, 4}},           // odd width: rows of 18 and 19 cells
      {130, 5, {-1, -1, -1, -1, 4}},           // rows of 65
      {21, 16, {-0.5f, -1, -0.75f, -1, 4}},    // uneven neighbours
      {27, 11, {-1, -1, -1, -1, 4.5f}},        // 1 / e inexact: the step divides
      {19, 8, {-0.25f, -0.25f, -0.25f, -0.25f, 1}},
      {3, 1, {-1, -1, -1, -1, 4}},             // rows shorter than a vector
      {4, 4, {-1, -1, -1, -1, 1.5f}},          // never converges: the cap
  };
  // Two half-sweeps share a fork: the stop must fall after either.
  bool stopped_after[2] = {false, false};
  for (const Case& c : cases) {
    Grid p = random_rhs(c.nx, c.ny, 11), rhs = random_rhs(c.nx, c.ny, 12);
    // The ghosts of p are the boundary values every sweep reads.
    for (int i = 0; i <= c.nx + 1; ++i) p(i, 0) = 0.5f, p(i, c.ny + 1) = -0.25f;
    for (int j = 0; j <= c.ny + 1; ++j) p(0, j) = 0.125f, p(c.nx + 1, j) = 1.0f;
    const NaiveSor want = naive_sor(c.k, p, rhs);
    if (want.converged) stopped_after[want.passes & 1] = true;
    ThreadBandExecutor one(1), three(3), eight(8), uneven(6, true), single_rows(8, false, true);
    EmptyBandExecutor empty(8);
    ReversedBands pairs{2, 1 << 30};
    // No executor with the threshold at the width: the caller sweeps alone.
    const std::pair<void*, mp_exec_fn> executors[] = {{nullptr, nullptr},
                                                      {&one, ThreadBandExecutor::exec},
                                                      {&three, ThreadBandExecutor::exec},
                                                      {&eight, ThreadBandExecutor::exec},
                                                      {&uneven, ThreadBandExecutor::exec},
                                                      {&single_rows, ThreadBandExecutor::exec},
                                                      {&empty, EmptyBandExecutor::exec},
                                                      {&pairs, ReversedBands::exec}};
    // Every plan of half-sweeps a fork; 0 leaves them to what forks cost.
    for (const auto& executor : executors)
      for (int plan = 0; plan <= FluidFlowCore::SOR_MAX_FORK_PASSES; ++plan) {
        const auto paths = run_on_both_simd_paths([&] {
          FluidFlowCore s(8, 8, 2, 0, 0);
          if (executor.first) s.set_mp_exec(executor.first, executor.second);
          s.DIRECT_SOR_set_mp_threshold(executor.first ? 16 : c.nx);
          s.DIRECT_SOR_set_fork_passes(plan);
          Grid q = p, r = rhs;
          const bool converged =
              s.DIRECT_SOR(c.k[0], c.k[1], c.k[2], c.k[3], c.k[4], q.data(), r.data(), c.nx, c.ny);
          return std::make_tuple(q.cells, s.get_sor_half_sweeps(), converged);
        });
        for (const auto& got : {paths.first, paths.second}) {
          EXPECT_TRUE(same_bits(std::get<0>(got), want.p)) << c.nx << " x " << c.ny << " plan " << plan;
          EXPECT_EQ(std::get<1>(got), want.passes) << c.nx << " x " << c.ny << " plan " << plan;
          EXPECT_EQ(std::get<2>(got), want.converged) << c.nx << " x " << c.ny << " plan " << plan;
        }
      }
    // An abort ends a fork after any of its passes, as a cap of that count
    // would; bands of one row, run last first.
    for (int plan = 0; plan <= FluidFlowCore::SOR_MAX_FORK_PASSES; ++plan)
      for (int allowed = 1; allowed <= 9; ++allowed) {
        const NaiveSor stopped = naive_sor(c.k, p, rhs, allowed);
        ReversedBands rows{1, allowed};
        FluidFlowCore s(8, 8, 2, 0, 0);
        s.set_mp_exec(&rows, ReversedBands::exec);
        s.set_abort_test(&rows, ReversedBands::test);
        s.DIRECT_SOR_set_mp_threshold(16);
        s.DIRECT_SOR_set_fork_passes(plan);
        Grid q = p, r = rhs;
        EXPECT_EQ(s.DIRECT_SOR(c.k[0], c.k[1], c.k[2], c.k[3], c.k[4], q.data(), r.data(), c.nx, c.ny),
                  stopped.converged);
        EXPECT_TRUE(same_bits(q.cells, stopped.p)) << c.nx << " x " << c.ny << " " << allowed << " plan " << plan;
        EXPECT_EQ(s.get_sor_half_sweeps(), stopped.passes) << c.nx << " x " << c.ny << " " << allowed;
      }
  }
  EXPECT_TRUE(stopped_after[0] && stopped_after[1]);
}

TEST(FluidProjection, GaussSeidelKeepsTheSolutionAndShrinksTheResidual) {
  const int nx = 6, ny = 5;
  Grid rhs = random_rhs(nx, ny, 6);
  const auto A = poisson(nx, ny);
  Eigen::VectorXd b(nx * ny);
  for (int j = 1; j <= ny; ++j)
    for (int i = 1; i <= nx; ++i) b[(j - 1) * nx + i - 1] = rhs(i, j);
  const Eigen::VectorXd exact = Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>>(A).solve(b);
  FluidFlowCore s(8, 8, 2, 0, 0);
  Grid p(nx, ny);
  for (int j = 1; j <= ny; ++j)
    for (int i = 1; i <= nx; ++i) p(i, j) = static_cast<float>(exact[(j - 1) * nx + i - 1]);
  ASSERT_TRUE(s.DIRECT_GS(p.data(), rhs.data(), nx, ny));
  for (int j = 1; j <= ny; ++j)
    for (int i = 1; i <= nx; ++i) EXPECT_NEAR(p(i, j), exact[(j - 1) * nx + i - 1], 1e-5);
  Grid q(nx, ny);
  ASSERT_TRUE(s.DIRECT_GS(q.data(), rhs.data(), nx, ny));
  double error = 0;
  for (int j = 1; j <= ny; ++j)
    for (int i = 1; i <= nx; ++i) error += std::fabs(q(i, j) - exact[(j - 1) * nx + i - 1]);
  EXPECT_LT(error, 0.05 * exact.lpNorm<1>());
}

// At 256 cells a smooth flow's single-precision pressure meets a residual
// floor above the limit; the solve stops there, as good as a double solve.
TEST(FluidProjection, SolveStopsAtTheSinglePrecisionFloor) {
  const int n = 256, w = n + 2;
  FluidFlowCore s(n, n, 2, 0, 0);
  std::mt19937 gen(7);
  std::uniform_real_distribution<float> noise(-1e-5f, 1e-5f);
  for (int k = 0; k < w * w; ++k) {
    const double x = (k % w - 0.5) / n, y = (k / w - 0.5) / n;
    s.velocity->u[k] = static_cast<float>(0.01 * std::sin(2 * M_PI * x) * std::cos(2 * M_PI * y)) + noise(gen);
    s.velocity->v[k] = static_cast<float>(0.01 * std::cos(3 * M_PI * x) * std::sin(M_PI * y)) + noise(gen);
  }
  // The same projection in double: p = A^-1 div exactly, its gradient taken off.
  std::vector<double> u(s.velocity->u, s.velocity->u + w * w), v(s.velocity->v, s.velocity->v + w * w), p(w * w);
  auto interior = [&](auto cell) {
    for (int j = 1; j <= n; ++j)
      for (int i = 1; i <= n; ++i) cell(j * w + i, (j - 1) * n + i - 1);
  };
  Eigen::VectorXd b(n * n);
  interior([&](int k, int e) { b[e] = -0.5 / n * (u[k + 1] - u[k - 1] + v[k + w] - v[k - w]); });
  const Eigen::VectorXd q = Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>>(poisson(n, n)).solve(b);
  interior([&](int k, int e) { p[k] = q[e]; });
  interior([&](int k, int) { u[k] -= 0.5 * n * (p[k + 1] - p[k - 1]), v[k] -= 0.5 * n * (p[k + w] - p[k - w]); });
  double exact = 0, off = 0;
  interior([&](int k, int) { exact += std::fabs(u[k + 1] - u[k - 1] + v[k + w] - v[k - w]); });

  s.DIRECT_Project(s.velocity, s.grid_scratch1, s.grid_scratch2);
  EXPECT_GT(s.get_sor_half_sweeps(), 1000);
  EXPECT_LE(s.get_sor_half_sweeps(), 3000);
  EXPECT_LT(divergence_away_from_walls(s.velocity, 0), 2 * exact);
  interior([&](int k, int) { off = std::max(off, std::fabs(s.grid_scratch2->data[k] - p[k])); });
  EXPECT_LT(off, 1e-5 * q.lpNorm<Eigen::Infinity>());  // a few float steps of p
}
