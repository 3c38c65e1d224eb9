#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "failing_heap.h"
#include "fluid_test_support.h"

TEST(FluidFlowCore, GridsAndDefaults) {
  FluidFlowCore s(0, -3, 2, 0, 7);  // sny is ignored when snx is 0
  EXPECT_EQ(s.nx, 1);
  EXPECT_EQ(s.ny, 1);
  EXPECT_EQ(s.snx, 1);
  EXPECT_EQ(s.sny, 1);
  FluidFlowCore t(16, 8, 2, 5, -2);
  EXPECT_EQ(t.snx, 5);
  EXPECT_EQ(t.sny, 1);
  EXPECT_EQ(t.scalar_scratch1->nx, 5);
  EXPECT_EQ(t.grid_scratch1->nx, 16);
  EXPECT_EQ(t.force->ny, 8);
  EXPECT_TRUE(t.has_storage());
  // The effect's grids run their pressure sweeps in bands.
  EXPECT_LT(t.sor_threshold, 128);
  EXPECT_GE(t.sor_threshold, 16);
}

TEST(FluidFlowCore, SettersClampAndNaNFallsToTheBound) {
  FluidFlowCore s(8, 8, 2, 0, 0);
  struct Case {
    void (FluidFlowCore::*set)(float);
    float FluidFlowCore::*member;
    float given, stored;
  } cases[] = {
      {&FluidFlowCore::set_time_step, &FluidFlowCore::dt, 0.0f, 1e-6f},
      {&FluidFlowCore::set_time_step, &FluidFlowCore::dt, 0.5f, 0.5f},
      {&FluidFlowCore::set_time_step, &FluidFlowCore::dt, NAN, 1e-6f},
      {&FluidFlowCore::set_viscosity, &FluidFlowCore::viscosity, -1.0f, 1e-10f},
      {&FluidFlowCore::set_viscosity, &FluidFlowCore::viscosity, NAN, 1e-10f},
      {&FluidFlowCore::set_viscosity, &FluidFlowCore::viscosity, 0.25f, 0.25f},
      {&FluidFlowCore::set_vorticity_confinement, &FluidFlowCore::vorticity, -2.0f, 0.0f},
      {&FluidFlowCore::set_vorticity_confinement, &FluidFlowCore::vorticity, 3.0f, 3.0f},
      {&FluidFlowCore::set_texture_diffusion_rate, &FluidFlowCore::texture_diffusion, -1.0f, 0.0f},
      {&FluidFlowCore::set_texture_dissipation_rate, &FluidFlowCore::texture_dissipation, 0.1f, 0.1f},
      {&FluidFlowCore::set_texture_dissipation_rate, &FluidFlowCore::texture_dissipation, NAN, 0.0f},
      {&FluidFlowCore::set_gravity_angle, &FluidFlowCore::gravity_angle, -180.0f, -3.14159265f},
      {&FluidFlowCore::set_gravity_angle, &FluidFlowCore::gravity_angle, 90.0f, 1.5707964f},
      {&FluidFlowCore::set_time_value, &FluidFlowCore::time_value, -12.5f, -12.5f},
  };
  for (const Case& c : cases) {
    (s.*c.set)(c.given);
    EXPECT_FLOAT_EQ(s.*c.member, c.stored) << c.given;
  }
  struct Trace {
    int steps;
    float fraction;
    int want_steps;
    float want_fraction;
  } traces[] = {{1, 1.5f, 2, 1.0f}, {0, -0.5f, 2, 0.0f}, {7, 0.25f, 7, 0.25f}, {3, NAN, 3, 0.0f}};
  for (const Trace& t : traces) {
    s.trace_set_params(t.steps, t.fraction);
    EXPECT_EQ(s.trace_steps, t.want_steps);
    EXPECT_EQ(s.trace_weight_start, t.want_fraction);
  }
  EXPECT_TRUE(s.set_boundary_layer_type(3));
  EXPECT_FALSE(s.set_boundary_layer_type(4));
  EXPECT_FALSE(s.set_boundary_layer_type(0));
  EXPECT_EQ(s.boundary_layer_type, 3);
  s.no_boundaries_mode(true);
  EXPECT_FALSE(s.walls.x_low || s.walls.x_high || s.walls.y_high || s.walls.y_low);
  s.no_boundaries_mode(false);
  EXPECT_TRUE(s.walls.x_low && s.walls.x_high && s.walls.y_high && s.walls.y_low);
  s.DIRECT_SOR_set_mp_threshold(8);
  EXPECT_EQ(s.sor_threshold, 16);
  s.DIRECT_SOR_set_mp_threshold(300);
  EXPECT_EQ(s.sor_threshold, 300);
  s.set_wrapping(true, false);
  EXPECT_TRUE(s.wrap_x && !s.wrap_y);
}

TEST(FluidFlowCore, SlotsAreHandedOutReusedAndBounded) {
  FluidFlowCore s(4, 4, 2, 6, 5);
  for (int i = 0; i < 16; ++i) {
    ASSERT_EQ(s.create_scalar_field(("f" + std::to_string(i)).c_str()), i);
  }
  EXPECT_EQ(s.create_scalar_field("seventeenth"), -1);
  EXPECT_EQ(s.fields[3]->nx, 6);
  EXPECT_EQ(s.fields[3]->ny, 5);
  EXPECT_STREQ(s.fields[3]->get_label(), "f3");
  s.delete_scalar_field(4);
  EXPECT_EQ(s.fields[4], nullptr);
  EXPECT_EQ(s.create_scalar_field("again"), 4);
  EXPECT_EQ(s.slots_used, 16);
  for (int bad : {-1, 16, 99}) s.delete_scalar_field(bad);  // nothing
  // A field whose storage cannot be had takes no slot.
  FluidFlowCore t(4, 4, 2, 0, 0);
  {
    FailingHeap heap(0, FailingHeap::image);
    EXPECT_EQ(t.create_scalar_field("none"), -1);
  }
  EXPECT_EQ(t.slots_used, 0);
  EXPECT_EQ(t.create_scalar_field("one"), 0);
}

TEST(FluidFlowCore, SlotOperationsRefuseBadSlots) {
  FluidFlowCore s(4, 4, 2, 0, 0);
  const int a = s.create_scalar_field("a"), b = s.create_scalar_field("b");
  s.fields[a]->set(2.0f);
  s.fields[b]->set(3.0f);
  struct Case {
    const char* what;
    bool ok;
  } cases[] = {
      {"diffusion 15", s.set_scalar_field_diffusion_rate(15, 0.5f)},
      {"diffusion 16", !s.set_scalar_field_diffusion_rate(16, 0.5f)},
      {"dissipation -1", !s.set_scalar_field_dissipation_rate(-1, 0.5f)},
      {"density empty", !s.set_scalar_field_is_density_field(5, 1.0f)},
      {"density -1", !s.set_scalar_field_is_density_field(-1, 1.0f)},
      {"temperature 16", !s.set_scalar_field_is_temperature_field(16, 1.0f, 1.0f)},
      {"barrier empty", !s.set_scalar_field_is_barrier_field(2)},
      {"viscon -1 clears", s.set_scalar_field_is_viscon_field(-1, 0, 0, 0)},
      {"viscon 16", !s.set_scalar_field_is_viscon_field(16, 0, 0, 0)},
      {"viscon empty clears", s.set_scalar_field_is_viscon_field(9, 1, 2, 3) && !s.viscon_field},
      {"rectangle empty", !s.set_scalar_field_rectangle(9, 0, 0, 1, 1, 1)},
      {"time value empty mask", !s.set_scalar_time_value(a, 9, 1)},
      {"source i = 16", !s.set_scalar_field_source_field(16, 0)},
      {"source i = -1", !s.set_scalar_field_source_field(-1, 0)},
      {"source src = 16", !s.set_scalar_field_source_field(0, 16)},
      {"source from an empty slot", !s.set_scalar_field_source_field(0, 7)},
      {"source cleared", s.set_scalar_field_source_field(3, -1)},
      {"put in box without barrier", !s.put_in_box()},
  };
  for (const Case& c : cases) EXPECT_TRUE(c.ok) << c.what;
  EXPECT_EQ(s.diffusion[15], 0.5f);
  EXPECT_EQ(s.evaluate_scalar_field(9, 1, 1, false, false, 0, 0), 0.0f);
  EXPECT_EQ(s.evaluate_scalar_field(-1, 1, 1, false, false, 0, 0), 0.0f);
  EXPECT_EQ(s.evaluate_scalar_field(a, 2, 2, false, false, 0, 0), 2.0f);
  s.copy_scalar_field(a, 9);  // nothing
  s.multiply_scalar_field(a, b);
  EXPECT_EQ(at(s.fields[a], 2, 2), 6.0f);
  s.add_scalar_field(a, b, 0.5f);
  EXPECT_EQ(at(s.fields[a], 2, 2), 7.5f);
  EXPECT_EQ(at(s.fields[a], 0, 0), 2.0f);  // interior only
  s.copy_scalar_field(b, a);
  EXPECT_EQ(at(s.fields[a], 0, 0), 3.0f);
  EXPECT_TRUE(s.set_scalar_time_value(a, b, -1.0f));
  EXPECT_EQ(at(s.fields[a], 2, 2), -1.0f);
  EXPECT_EQ(at(s.fields[a], 0, 0), 3.0f);
  EXPECT_TRUE(s.set_scalar_field_rectangle(b, 0.0f, 0.0f, 0.5f, 0.25f, 9.0f));
  EXPECT_EQ(at(s.fields[b], 2, 1), 9.0f);  // cells int(4 * 0.5) and int(4 * 0.25), no offset
  EXPECT_EQ(at(s.fields[b], 3, 1), 3.0f);
  EXPECT_TRUE(s.set_scalar_field_rectangle(b, NAN, -5.0f, 1e9f, 0.0f, 4.0f));
  EXPECT_EQ(at(s.fields[b], 5, 0), 4.0f);
  s.normalize_scalar_field(b);
  EXPECT_FLOAT_EQ(at(s.fields[b], 2, 1), 1.0f);
}

TEST(FluidFlowCore, RolesFollowTheirFields) {
  FluidFlowCore s(4, 4, 2, 0, 0);
  const int a = s.create_scalar_field("a"), b = s.create_scalar_field("b"), c = s.create_scalar_field("c");
  ASSERT_TRUE(s.set_scalar_field_source_field(a, b));
  ASSERT_TRUE(s.set_scalar_field_source_field(c, b));
  EXPECT_EQ(s.sources[a], s.fields[b]);
  EXPECT_TRUE(s.fields[b]->is_source_field);
  ASSERT_TRUE(s.set_scalar_field_source_field(a, -1));
  EXPECT_TRUE(s.fields[b]->is_source_field);  // still c's source
  ASSERT_TRUE(s.set_scalar_field_source_field(c, -1));
  EXPECT_FALSE(s.fields[b]->is_source_field);
  ASSERT_TRUE(s.set_scalar_field_is_barrier_field(a));
  ASSERT_TRUE(s.set_scalar_field_is_barrier_field(c));
  EXPECT_FALSE(s.fields[a]->is_barrier_field);
  EXPECT_TRUE(s.fields[c]->is_barrier_field);
  ASSERT_TRUE(s.set_scalar_field_is_density_field(b, 0.5f));
  ASSERT_TRUE(s.set_scalar_field_is_temperature_field(b, 0.25f, 0.75f));
  ASSERT_TRUE(s.set_scalar_field_is_viscon_field(b, 1.0f, 2.0f, 3.0f));
  ASSERT_TRUE(s.set_scalar_field_source_field(a, b));
  EXPECT_EQ(s.density_weight, 0.5f);
  EXPECT_EQ(s.temperature_coefficient, 0.75f);
  EXPECT_EQ(s.viscon_high, 3.0f);
  // Deleting a field clears every role and source that named it, so the
  // next step reads no freed memory.
  s.delete_scalar_field(b);
  EXPECT_EQ(s.sources[a], nullptr);
  EXPECT_EQ(s.density_field, nullptr);
  EXPECT_EQ(s.temperature_field, nullptr);
  EXPECT_EQ(s.viscon_field, nullptr);
  s.delete_scalar_field(c);
  EXPECT_EQ(s.barrier_field, nullptr);
  EXPECT_TRUE(s.advance_time_step(true));
}

TEST(FluidFlowCore, PutInBoxPaintsTheFourBorders) {
  FluidFlowCore s(200, 200, 2, 0, 0);
  const int b = s.create_scalar_field("barrier");
  ASSERT_TRUE(s.set_scalar_field_is_barrier_field(b));
  ASSERT_TRUE(s.put_in_box());
  ScalarField* f = s.fields[b];
  // x-low 0..2, x-high 199..200, y-low 0..1, y-high 198..200.
  EXPECT_EQ(at(f, 2, 100), 1.0f);
  EXPECT_EQ(at(f, 3, 100), 0.0f);
  EXPECT_EQ(at(f, 198, 100), 0.0f);
  EXPECT_EQ(at(f, 199, 100), 1.0f);
  EXPECT_EQ(at(f, 100, 1), 1.0f);
  EXPECT_EQ(at(f, 100, 2), 0.0f);
  EXPECT_EQ(at(f, 100, 197), 0.0f);
  EXPECT_EQ(at(f, 100, 198), 1.0f);
  EXPECT_EQ(at(f, 200, 200), 1.0f);
  EXPECT_EQ(at(f, 201, 100), 0.0f);
}

TEST(FluidFlowCore, ColourMapLooksUpAscendingEntries) {
  FluidFlowCore s(2, 2, 2, 0, 0);
  const float pos[] = {0.2f, 0.5f, 1.0f};
  const float R[] = {1, 0, 0}, G[] = {0, 1, 0}, B[] = {0, 0, 1};
  struct Case {
    float value, r, g, b;
  } cases[] = {
      {-5.0f, 1, 0, 0},     // below lo: the first entry
      {0.1f, 1, 0, 0},      // below the first position
      {0.35f, 0.5f, 0.5f, 0},
      {0.75f, 0, 0.5f, 0.5f},
      {3.0f, 0, 0, 1},      // above hi: the last entry
      {NAN, 1, 0, 0},       // no position is NaN: it falls to 0
  };
  for (const Case& c : cases) {
    float r, g, b;
    s.apply_colour_map(c.value, r, g, b, 0.0f, 1.0f, pos, R, G, B, 3);
    EXPECT_NEAR(r, c.r, 1e-6) << c.value;
    EXPECT_NEAR(g, c.g, 1e-6) << c.value;
    EXPECT_NEAR(b, c.b, 1e-6) << c.value;
  }
  // Without entries the map is the grey ramp instead of a read before the table.
  float r, g, b;
  s.apply_colour_map(0.25f, r, g, b, 0.0f, 1.0f, pos, R, G, B, 0);
  EXPECT_NEAR(r, 0.25f, 1e-6);
  EXPECT_EQ(r, g);
  EXPECT_EQ(g, b);
}

TEST(FluidFlowCore, TimingIsReportedForCompletedStepsOnly) {
  FluidFlowCore s(8, 8, 2, 0, 0);
  double total = 1, vel = 1, sc = 1;
  int count = 1;
  EXPECT_FALSE(s.get_ats_timing_info(total, vel, sc, count));
  EXPECT_EQ(total, 0.0);
  EXPECT_EQ(count, 0);
  ASSERT_TRUE(s.create_texture_flow());
  ASSERT_TRUE(s.advance_time_step(true));
  ASSERT_TRUE(s.get_ats_timing_info(total, vel, sc, count));
  EXPECT_EQ(count, 2);  // the two texture fields
  EXPECT_GE(total, vel);
  EXPECT_GE(total, 0.0);
  EXPECT_LE(sc * 2, total - vel + 1e-9);  // their mean
  // A step that fails leaves the timing invalid.
  FluidFlowCore fft(8, 4, 1, 0, 0);
  EXPECT_FALSE(fft.advance_time_step(true));  // the spectral step needs a square grid
  EXPECT_FALSE(fft.get_ats_timing_info(total, vel, sc, count));
  EXPECT_EQ(count, 0);
}

TEST(FluidFlowCore, ExecutorWithoutContextRunsOnTheCallingThread) {
  FluidFlowCore s(8, 8, 2, 0, 0);
  ThreadBandExecutor bands(3);
  s.set_mp_exec(nullptr, ThreadBandExecutor::exec);
  ASSERT_TRUE(s.advance_time_step(true));
  EXPECT_EQ(bands.calls, 0);
  s.set_mp_exec(&bands, ThreadBandExecutor::exec);
  EXPECT_EQ(s.velocity->hook_context, &bands);
  ASSERT_TRUE(s.advance_time_step(true));
  EXPECT_GT(bands.calls, 0);
}

TEST(FluidFlowCore, EveryFailedAllocationOfConstructionIsSurvived) {
  // The image heap holds the ten field blocks, the normal heap the pressure
  // solver's planes; each refusal in turn leaves a solver that paints
  // nothing and refuses to step.
  for (FailingHeap::Heap which : {FailingHeap::image, FailingHeap::normal}) {
    for (int grants = 0;; ++grants) {
      FluidFlowCore* s;
      {
        FailingHeap heap(grants, which);
        s = new FluidFlowCore(16, 16, 2, 0, 0);
      }
      const bool whole = s->has_storage();
      s->set_force(1, 1);
      s->add_force_rectangle(0, 0, 1, 1, 1, 1);
      s->add_random_velocity_rectangle(0, 0, 1, 1, 1);
      s->add_velocity_vortex(1, 0.5f, 0.5f, 0.5f, 1);
      s->set_velocity_vertical_wedge(0, 0, 1, 1, 1, 1);
      s->remove_net_force();
      EXPECT_EQ(s->advance_time_step(true), whole) << grants;
      EXPECT_EQ(s->DIRECT_Velocity_Solver(), whole) << grants;
      delete s;
      if (whole) break;
      ASSERT_LT(grants, 20);
    }
  }
}
