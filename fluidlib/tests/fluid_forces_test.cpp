#include <cmath>

#include <gtest/gtest.h>

#include "fluid_test_support.h"

namespace {

int stop_always(void*) { return 1; }
// Every interior force cell of a DIRECT solver.
template <typename Check>
void for_interior(FluidFlowCore& s, Check check) {
  for (int j = 1; j <= s.ny; ++j)
    for (int i = 1; i <= s.nx; ++i) check(i, j);
}

}  // namespace

TEST(FluidForces, RectanglesMapNormalisedBoundsToCells) {
  FluidFlowCore d(6, 4, 2, 0, 0);
  d.add_force_rectangle(0, 0, 1, 1, 1, 2);
  // DIRECT: cells 1..7 x 1..5, so the x-high and y-high ghosts are painted.
  for (int j = 0; j <= 5; ++j)
    for (int i = 0; i <= 7; ++i) {
      const bool painted = i >= 1 && j >= 1;
      ASSERT_EQ(at_u(d.force, i, j), painted ? 1.0f : 0.0f) << i << "," << j;
      ASSERT_EQ(at_v(d.force, i, j), painted ? 2.0f : 0.0f);
    }
  FluidFlowCore p(6, 4, 1, 0, 0);
  p.add_force_rectangle(0, 0, 1, 1, 1, 2);  // FFT: 0..6 x 0..4, clamped to the grid
  for (float u : std::vector<float>(p.force->u, p.force->u + 24)) ASSERT_EQ(u, 1.0f);
  EXPECT_EQ(d.add_force(0.5f, 0.0f), 8 * 6);
  EXPECT_EQ(at_u(d.force, 0, 0), 0.5f);
  FluidFlowCore none(6, 4, 3, 0, 0);
  EXPECT_EQ(none.add_force(1, 1), 0);
  // Positions no cell can hold are held at the grid's edge.
  d.set_force(0, 0);
  d.add_force_rectangle(NAN, -1e30f, 1e30f, 0.0f, 1, 1);
  EXPECT_EQ(at_u(d.force, 0, 0), 1.0f);
  EXPECT_EQ(at_u(d.force, 7, 1), 1.0f);
  EXPECT_EQ(at_u(d.force, 7, 2), 0.0f);
}

TEST(FluidForces, PaintedVelocityClearsTheForceInItsCells) {
  FluidFlowCore s(8, 8, 2, 0, 0);
  s.set_force(5, 5);
  s.add_velocity_rectangle(0, 0, 1, 1, 0.25f, -0.5f);
  for_interior(s, [&](int i, int j) {
    ASSERT_EQ(at_u(s.force, i, j), 0.0f);
    ASSERT_EQ(at_v(s.velocity, i, j), -0.5f);
  });
  EXPECT_EQ(at_u(s.force, 0, 3), 5.0f);  // the x-low ghost is outside the rectangle
  s.set_force(5, 5);
  s.set_velocity_rectangle(0.5f, 0.5f, 1, 1, 1, 1, 3);
  EXPECT_EQ(at_u(s.force, 5, 5), 0.0f);
  EXPECT_EQ(at_u(s.force, 4, 4), 5.0f);
  EXPECT_EQ(at_v(s.velocity, 5, 5), 1.0f);
  EXPECT_EQ(at_u(s.velocity, 5, 5), 0.25f);
  s.set_force(5, 5);
  s.add_random_velocity_rectangle(0, 0, 0.5f, 0.5f, 1.0f);
  EXPECT_EQ(at_u(s.force, 2, 2), 0.0f);
  s.set_force(5, 5);
  s.add_kolmogorov_random_velocity_rectangle(0, 0, 1, 1, 1.0f, 0.0f);  // leaves the force alone
  EXPECT_EQ(at_u(s.force, 2, 2), 5.0f);
  s.set_kolmogorov_k_inertial(1.0f);
  EXPECT_EQ(s.force->kolmogorov_k, 2.0f);
  EXPECT_EQ(s.velocity->kolmogorov_k, 2.0f);
}

TEST(FluidForces, ShapesUseGridUnitsWithoutTheLayoutOffset) {
  FluidFlowCore s(8, 8, 2, 0, 0);
  VectorField ref(8, 8, 2);
  s.add_force_vortex(0.5f, 0.5f, 0.25f, 0.25f, 2.0f);
  ref.add_vortex(0.5f, 4.0f, 2.0f, 2.0f, 2.0f);
  s.add_force_divergence(0.5f, 0.25f, 0.5f, 0.5f, 1.0f);
  ref.add_divergence(0.5f, 2.0f, 4.0f, 4.0f, 1.0f);
  s.add_force_angular_wind(0.5f, 0.0f, 0.0f, 1.0f, 0.5f, 2.0f, true);
  ref.add_angular_wind(0.5f, 0.0f, 0.0f, 8.0f, 4.0f, 2.0f, true);
  EXPECT_TRUE(same_bits(cells_of(s.force), cells_of(&ref)));
  VectorField vref(8, 8, 2);
  s.add_velocity_vortex(1.0f, 0.5f, 0.5f, 0.5f, 1.0f);
  vref.add_vortex(1.0f, 4.0f, 4.0f, 4.0f, 1.0f);
  s.add_velocity_divergence(1.0f, 0.5f, 0.5f, 0.5f, 1.0f);
  vref.add_divergence(1.0f, 4.0f, 4.0f, 4.0f, 1.0f);
  EXPECT_TRUE(same_bits(cells_of(s.velocity), cells_of(&vref)));
}

TEST(FluidForces, BuoyancyPressureAndGravity) {
  FluidFlowCore s(8, 8, 2, 0, 0);
  const int rho = s.create_scalar_field("density");
  const int temp = s.create_scalar_field("temperature");
  s.fields[rho]->set(1.0f);
  s.set_gravity_angle(90.0f);  // up is +x
  s.set_scalar_field_is_density_field(rho, 1e-11f);
  s.add_buoyancy_forces();
  for (float v : cells_of(s.force)) ASSERT_EQ(v, 0.0f);
  s.set_scalar_field_is_density_field(rho, 1.0f);
  s.add_buoyancy_forces();  // b = 1/2 - 1
  for_interior(s, [&](int i, int j) { ASSERT_FLOAT_EQ(at_u(s.force, i, j), -0.5f); });
  EXPECT_EQ(at_u(s.force, 0, 0), 0.0f);
  s.set_force(0, 0);
  s.set_scalar_field_is_density_field(rho, -1.0f);  // 1 + a = 0 at every cell
  s.add_buoyancy_forces();
  for (float v : cells_of(s.force)) ASSERT_EQ(v, 0.0f);

  s.set_gravity_angle(0.0f);
  s.add_gravitational_forces(0.3f);
  for_interior(s, [&](int i, int j) {
    ASSERT_EQ(at_u(s.force, i, j), 0.0f);
    ASSERT_FLOAT_EQ(at_v(s.force, i, j), -0.3f);
  });

  // Temperature buoyancy: a uniform temperature relative to its mean and no
  // density adds nothing; absolute negative temperatures count as 0.
  s.set_force(0, 0);
  s.fields[rho]->set(0.0f);
  s.fields[temp]->set(-2.0f);
  s.set_scalar_field_is_temperature_field(temp, 0.5f, 3.0f);
  s.add_temperature_dependent_buoyancy_forces(true);
  for (float v : cells_of(s.force)) ASSERT_EQ(v, 0.0f);
  s.fields[rho]->set(2.0f);
  s.add_temperature_dependent_buoyancy_forces(false);
  for_interior(s, [&](int i, int j) { ASSERT_FLOAT_EQ(at_v(s.force, i, j), -1.0f); });
  s.set_force(0, 0);
  s.fields[rho]->set(0.0f);
  for (int j = 0; j < 10; ++j)
    for (int i = 0; i < 10; ++i) at(s.fields[temp], i, j) = i <= 4 ? 1.0f : 3.0f;
  s.add_temperature_dependent_buoyancy_forces(true);  // mean 2 over the interior
  EXPECT_FLOAT_EQ(at_v(s.force, 2, 3), -3.0f);
  EXPECT_FLOAT_EQ(at_v(s.force, 7, 3), 3.0f);

  // Pressure: a density rising one unit a grid cell pushes down the slope.
  s.set_force(0, 0);
  for (int j = 0; j < 10; ++j)
    for (int i = 0; i < 10; ++i) at(s.fields[rho], i, j) = static_cast<float>(i);
  s.add_pressure_forces(2.0f);
  EXPECT_FLOAT_EQ(at_u(s.force, 4, 4), -2.0f);
  EXPECT_FLOAT_EQ(at_v(s.force, 4, 4), 0.0f);
}

TEST(FluidForces, MeansOverNoCellsAreSkipped) {
  FluidFlowCore s(4, 4, 2, 0, 0);
  s.set_force(3, 4);
  s.remove_net_force();
  for_interior(s, [&](int i, int j) {
    ASSERT_EQ(at_u(s.force, i, j), 0.0f);
    ASSERT_EQ(at_v(s.force, i, j), 0.0f);
  });
  EXPECT_EQ(at_u(s.force, 0, 2), 3.0f);
  EXPECT_EQ(at_v(s.force, 5, 5), 4.0f);
  // An abort before the first row leaves nothing to average: no 0 / 0.
  const int t = s.create_scalar_field("t"), r = s.create_scalar_field("r");
  s.set_scalar_field_is_density_field(r, 1.0f);
  s.set_scalar_field_is_temperature_field(t, 1.0f, 1.0f);
  int context = 0;
  s.set_mp_exec(&context, no_work);
  s.set_abort_test(&context, stop_always);
  s.set_force(3, 4);
  s.remove_net_force();
  s.add_temperature_dependent_buoyancy_forces(true);
  for (int k = 0; k < 36; ++k) ASSERT_EQ(s.force->u[k], 3.0f);
}

TEST(FluidForces, VerticalWedgeFansUpAndStaysInsideTheGrid) {
  FluidFlowCore s(8, 8, 2, 0, 0);
  s.set_velocity_vertical_wedge(0.25f, 0.25f, 0.5f, 0.5f, 2.0f, 0.0f);
  for (int j = 3; j <= 5; ++j)
    for (int i = 3; i <= 5; ++i) {
      ASSERT_EQ(at_u(s.velocity, i, j), 0.0f);
      ASSERT_EQ(at_v(s.velocity, i, j), 2.0f);
    }
  EXPECT_EQ(at_v(s.velocity, 6, 4), 0.0f);
  // Tilt: X0 = 3, X1 = 5, centre 4; column 5 has t = k (5 - 4) / 2.
  s.set_velocity_vertical_wedge(0.25f, 0.25f, 0.5f, 0.25f, 1.0f, 2.0f);
  EXPECT_FLOAT_EQ(at_u(s.velocity, 5, 3), 1.0f / std::sqrt(2.0f));
  EXPECT_FLOAT_EQ(at_v(s.velocity, 5, 3), 1.0f / std::sqrt(2.0f));
  EXPECT_FLOAT_EQ(at_u(s.velocity, 3, 3), -1.0f / std::sqrt(2.0f));
  // A rectangle past the grid writes its clamped cells only; one of no
  // width has no tilt instead of 0 / 0.
  s.velocity->set(0, 0);
  s.set_velocity_vertical_wedge(0.5f, 0.5f, 5.0f, 9.0f, 1.0f, 3.0f);
  EXPECT_NE(at_v(s.velocity, 9, 9), 0.0f);
  s.set_velocity_vertical_wedge(0.5f, 0.0f, 0.5f, 0.0f, 1.0f, 3.0f);
  EXPECT_EQ(at_u(s.velocity, 5, 1), 0.0f);
  EXPECT_EQ(at_v(s.velocity, 5, 1), 1.0f);
  s.velocity->set(0, 0);
  s.set_velocity_vertical_wedge(0.0f, 0.5f, 1.0f, 0.25f, 1.0f, 0.0f);  // last row below the first
  for (float v : cells_of(s.velocity)) ASSERT_EQ(v, 0.0f);
  s.set_velocity_vertical_wedge(NAN, NAN, NAN, NAN, 1.0f, 0.0f);
}
