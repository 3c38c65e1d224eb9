#include <cmath>
#include <memory>

#include <gtest/gtest.h>

#include "fluid_test_support.h"

namespace {

// Ten steps of the effect's 128 grid with everything switched on: barriers,
// vorticity, a viscosity-control field for half the steps, and the forces
// the effect paints every frame.
std::vector<float> ten_steps(void* context, mp_exec_fn exec, int threshold) {
  FluidFlowCore s(128, 128, 2, 0, 0);
  s.set_mp_exec(context, exec);
  if (threshold > 0) s.DIRECT_SOR_set_mp_threshold(threshold);
  s.set_time_step(1.0f);
  s.no_boundaries_mode(false);
  EXPECT_TRUE(s.create_texture_flow());
  const int density = s.create_scalar_field("density");
  const int temperature = s.create_scalar_field("temperature");
  const int barrier = s.create_scalar_field("barrier");
  const int viscon = s.create_scalar_field("viscosity");
  s.set_scalar_field_is_barrier_field(barrier);
  s.set_boundary_layer_type(FluidFlowCore::ROUGH);
  for (int j = 0; j < 130; ++j)
    for (int i = 0; i < 130; ++i) {
      const float dx = i - 80.0f, dy = j - 50.0f;
      at(s.fields[barrier], i, j) = dx * dx + dy * dy < 100.0f ? 1.0f : 0.0f;
      at(s.fields[viscon], i, j) = i / 129.0f;
    }
  s.add_random_velocity_rectangle(0, 0, 1, 1, 0.005f);
  for (int step = 0; step < 10; ++step) {
    s.set_scalar_field_is_viscon_field(step < 5 ? viscon : -1, 0.02f, 0.0f, 1.0f);
    s.set_viscosity(std::pow(10.0f, -2.97f));
    s.add_velocity_rectangle(0.1f, 0.6f, 0.3f, 0.8f, 0.002f, -0.001f);
    s.set_force(0, 0);
    s.add_random_force_rectangle(0, 0, 1, 1, 0.001f);
    s.add_force_angular_wind(0.002f, 0.2f, 0.2f, 0.6f, 0.5f, 1.0f, true);
    s.add_force_vortex(0.001f, 0.5f, 0.5f, 0.2f, 1.0f);
    s.set_scalar_field_is_density_field(density, 0.01f);
    s.set_scalar_field_is_temperature_field(temperature, 0.0f, 0.001f);
    for (int j = 1; j <= 128; ++j)
      for (int i = 1; i <= 128; ++i)
        at(s.fields[density], i, j) = 0.5f + 0.5f * std::sin(0.05f * i + 0.3f * step) * std::cos(0.07f * j);
    s.copy_scalar_field(density, temperature);
    s.add_temperature_dependent_buoyancy_forces(false);
    s.set_gravity_angle(-(90.0f + 270.0f));
    s.add_gravitational_forces(0.001f);
    s.set_vorticity_confinement(0.3f);
    s.remove_net_force();
    EXPECT_TRUE(s.advance_time_step(true));
  }
  return state_of(s);
}

}  // namespace

TEST(FluidBanding, TenStepsGiveTheSameBitsForEverySplitAndThreshold) {
  const auto want = ten_steps(nullptr, nullptr, 0);
  double moved = 0;
  for (float v : want) {
    ASSERT_TRUE(std::isfinite(v));
    moved += std::fabs(v);
  }
  EXPECT_GT(moved, 0.0);
  BandSplits splits;
  for (const auto& e : splits.all()) EXPECT_TRUE(same_bits(ten_steps(e.first, e.second, 0), want));
  // The pressure sweeps on the calling thread, or in bands whatever the width.
  for (int threshold : {16, 100000})
    EXPECT_TRUE(same_bits(ten_steps(&splits.three, ThreadBandExecutor::exec, threshold), want)) << threshold;
}
