#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "fluid_test_support.h"

namespace {

void fill_random(VectorField* f, unsigned seed, float scale) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> d(-scale, scale);
  for (int k = 0; k < f->cell_count(); ++k) {
    f->u[k] = d(gen);
    f->v[k] = d(gen);
  }
}

// A 9 x 9 velocity grid over an 8 x 8 barrier field: cell i samples the
// barrier exactly at its grid column i, and its neighbours at i +- 1.
struct BarrierSetup {
  FluidFlowCore s{9, 9, 2, 8, 8};
  ScalarField* barrier;
  BarrierSetup() {
    const int b = s.create_scalar_field("barrier");
    s.set_scalar_field_is_barrier_field(b);
    barrier = s.fields[b];
    fill_random(s.velocity, 3, 1.0f);
  }
  void columns_from(int first, float value) {
    for (int j = 0; j < 10; ++j)
      for (int i = first; i < 10; ++i) at(barrier, i, j) = value;
  }
};

}  // namespace

TEST(FluidVelocity, StillFluidStaysStill) {
  FluidFlowCore s(16, 16, 2, 0, 0);
  s.set_vorticity_confinement(0.5f);
  ASSERT_TRUE(s.create_texture_flow());
  for (int step = 0; step < 3; ++step) ASSERT_TRUE(s.DIRECT_Velocity_Solver());
  for (float v : cells_of(s.velocity)) ASSERT_EQ(v, 0.0f);
  FluidFlowCore fft(16, 16, 1, 0, 0);
  EXPECT_FALSE(fft.DIRECT_Velocity_Solver());
}

TEST(FluidVelocity, WallGhostsAreNegatedOrCopied) {
  for (bool open : {false, true}) {
    FluidFlowCore s(12, 10, 2, 0, 0);
    s.no_boundaries_mode(open);
    fill_random(s.velocity, 1, 0.01f);
    s.set_force(0.001f, -0.002f);
    ASSERT_TRUE(s.DIRECT_Velocity_Solver());
    VectorField* f = s.velocity;
    const float sign = open ? 1.0f : -1.0f;
    for (int j = 1; j <= 10; ++j) {
      ASSERT_EQ(at_u(f, 0, j), sign * at_u(f, 1, j));
      ASSERT_EQ(at_u(f, 13, j), sign * at_u(f, 12, j));
    }
    for (int i = 1; i <= 12; ++i) {
      ASSERT_EQ(at_v(f, i, 0), sign * at_v(f, i, 1));
      ASSERT_EQ(at_v(f, i, 11), sign * at_v(f, i, 10));
    }
    for (float* c : {f->u, f->v}) {
      EXPECT_EQ(c[0], 0.5f * (c[1] + c[14]));
      EXPECT_EQ(c[11 * 14 + 13], 0.5f * (c[10 * 14 + 13] + c[11 * 14 + 12]));
    }
  }
}

TEST(FluidVelocity, BarriersStopSlowOrTurnTheFlow) {
  {  // 0.6 everywhere: every cell is inside a barrier.
    BarrierSetup b;
    b.barrier->set(0.6f);
    b.s.DIRECT_fix_velocities(b.s.velocity);
    for (int j = 1; j <= 9; ++j)
      for (int i = 1; i <= 9; ++i) ASSERT_EQ(at_u(b.s.velocity, i, j), 0.0f);
  }
  {  // Exactly 0.5 is not a barrier, inside or next door.
    BarrierSetup b;
    b.columns_from(6, 0.5f);
    const auto before = cells_of(b.s.velocity);
    b.s.DIRECT_fix_velocity_components(b.s.velocity->u, b.s.velocity->v, 9, 9);
    for (int j = 1; j <= 9; ++j)
      for (int i = 1; i <= 9; ++i) ASSERT_EQ(at_u(b.s.velocity, i, j), before[j * 11 + i]);
  }
  for (int type : {1, 2, 3}) {  // a barrier from column 6 on: its normal at column 5 is (-1, 0)
    BarrierSetup b;
    b.columns_from(6, 1.0f);
    b.s.set_boundary_layer_type(type);
    const auto before = cells_of(b.s.velocity);
    b.s.DIRECT_fix_velocities(b.s.velocity);
    const int n = b.s.velocity->cell_count();
    for (int j = 1; j <= 9; ++j)
      for (int i = 1; i <= 9; ++i) {
        const float u0 = before[j * 11 + i], v0 = before[n + j * 11 + i];
        const float u = at_u(b.s.velocity, i, j), v = at_v(b.s.velocity, i, j);
        if (i >= 6) {
          ASSERT_EQ(u, 0.0f);
          ASSERT_EQ(v, 0.0f);
        } else if (i == 5) {
          const float c = v0 / std::sqrt(u0 * u0 + v0 * v0);
          const float scale = type == 1 ? c : (type == 2 ? -c : 0.5f);
          ASSERT_NEAR(u, u0 * scale, 1e-6) << type;
          ASSERT_NEAR(v, v0 * scale, 1e-6) << type;
        } else {
          ASSERT_EQ(u, u0);
          ASSERT_EQ(v, v0);
        }
      }
  }
  // One column or row has no spacing between samples: 0, not 1 / 0.
  FluidFlowCore thin(1, 1, 2, 0, 0);
  const int b = thin.create_scalar_field("barrier");
  thin.set_scalar_field_is_barrier_field(b);
  thin.velocity->set(1.0f, 1.0f);
  thin.DIRECT_fix_velocities(thin.velocity);
  EXPECT_EQ(at_u(thin.velocity, 1, 1), 1.0f);
}

TEST(FluidVelocity, VorticityConfinementStartsAtItsThreshold) {
  const int n = 12;
  auto confined = [&](float strength, bool dirty_ghosts) {
    FluidFlowCore s(n, n, 2, 0, 0);
    fill_random(s.velocity, 8, 0.1f);
    s.set_vorticity_confinement(strength);
    if (dirty_ghosts) s.grid_scratch2->set(5.0f);
    s.DIRECT_vorticity_confinement(s.velocity, s.grid_scratch1, s.grid_scratch2);
    return cells_of(s.velocity);
  };
  FluidFlowCore ref(n, n, 2, 0, 0);
  fill_random(ref.velocity, 8, 0.1f);
  const auto before = cells_of(ref.velocity);
  EXPECT_TRUE(same_bits(confined(0.00009f, false), before));
  const auto after = confined(0.5f, false);
  EXPECT_FALSE(same_bits(after, before));
  // The magnitude's ghost ring counts as 0 whatever the scratch held.
  EXPECT_TRUE(same_bits(confined(0.5f, true), after));
  // The formula, in double, at every interior cell.
  const int w = n + 2, cells = w * w;
  auto u = [&](int i, int j) { return static_cast<double>(before[j * w + i]); };
  auto v = [&](int i, int j) { return static_cast<double>(before[cells + j * w + i]); };
  auto curl = [&](int i, int j) {
    if (i < 1 || i > n || j < 1 || j > n) return 0.0;
    return 0.5 * ((u(i, j + 1) - u(i, j - 1)) - (v(i + 1, j) - v(i - 1, j)));
  };
  for (int j = 1; j <= n; ++j)
    for (int i = 1; i <= n; ++i) {
      const double Nx = 0.5 * (std::fabs(curl(i + 1, j)) - std::fabs(curl(i - 1, j)));
      const double Ny = 0.5 * (std::fabs(curl(i, j + 1)) - std::fabs(curl(i, j - 1)));
      const double q = 1.0 / std::sqrt(Nx * Nx + Ny * Ny + 1e-6);
      EXPECT_NEAR(after[j * w + i], u(i, j) + 0.5 * (-Ny * q * curl(i, j)), 1e-6);
      EXPECT_NEAR(after[cells + j * w + i], v(i, j) + 0.5 * (Nx * q * curl(i, j)), 1e-6);
    }
}

TEST(FluidVelocity, AdvectionWrapsOnlyWithoutTextureFlow) {
  // u carries everything 0.3 of the grid to the right; v shows where a
  // sample came from.
  for (bool texture : {false, true}) {
    FluidFlowCore s(10, 10, 2, 0, 0);
    s.set_wrapping(true, false);
    s.no_boundaries_mode(true);  // open walls keep u uniform in the ghosts
    s.set_viscosity(1e-10f);
    if (texture) {
      ASSERT_TRUE(s.create_texture_flow());
    }
    for (int j = 0; j < 12; ++j)
      for (int i = 0; i < 12; ++i) {
        at_u(s.velocity, i, j) = 0.3f;
        at_v(s.velocity, i, j) = 0.001f * static_cast<float>(i);
      }
    ASSERT_TRUE(s.DIRECT_Velocity_Solver());
    // Cell column 2 (x = 0.1) traces back to x = -0.2: wrapped it reads the
    // column at 0.8 (grid 9); unwrapped it is held at the edge, grid 0.5,
    // halfway between columns 0 and 1.
    const float v = at_v(s.advected, 2, 5);
    EXPECT_NEAR(v, texture ? 0.0005f : 0.009f, 2e-6) << texture;
  }
}
