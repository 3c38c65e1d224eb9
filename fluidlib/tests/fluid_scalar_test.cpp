#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "fluid_test_support.h"
#include "simd_paths.h"

namespace {

void fill_random(ScalarField* f, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> d(-1.0f, 1.0f);
  for (int k = 0; k < field_cell_count(f->method, f->nx, f->ny); ++k) f->data[k] = d(gen);
}

std::vector<float> interior(ScalarField* f) {
  std::vector<float> out;
  for (int j = 1; j <= f->ny; ++j)
    for (int i = 1; i <= f->nx; ++i) out.push_back(at(f, i, j));
  return out;
}

}  // namespace

TEST(FluidScalar, TextureIdentityRampsAcrossTheInterior) {
  FluidFlowCore s(3, 3, 2, 0, 0);
  EXPECT_FALSE(s.init_texture_field());  // no fields yet
  ASSERT_TRUE(s.create_texture_flow());
  ASSERT_TRUE(s.create_texture_flow());  // made again, the first pair freed
  EXPECT_TRUE(s.texture_u->is_texture_field);
  ASSERT_TRUE(s.init_texture_field());
  const float columns[] = {0, 0, 0.5f, 1, 1};
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 5; ++i) {
      ASSERT_EQ(at(s.texture_u, i, j), columns[i]);
      ASSERT_EQ(at(s.texture_v, i, j), columns[j]);
    }
  s.set_wrapping(true, true);
  ASSERT_TRUE(s.init_texture_field());
  const float wrapped[] = {-1.0f, 0, 0.5f, 1, 2.0f};  // -2 h and 1 + 2 h with h = 0.5
  for (int i = 0; i < 5; ++i) EXPECT_EQ(at(s.texture_u, i, 2), wrapped[i]);
  // A single cell has no spacing: its coordinate is 0, not 0 / 0.
  FluidFlowCore one(1, 1, 2, 0, 0);
  ASSERT_TRUE(one.create_texture_flow());
  ASSERT_TRUE(one.init_texture_field());
  EXPECT_EQ(at(one.texture_u, 1, 1), 0.0f);
  // FFT layout: every cell from index 0.
  FluidFlowCore fft(3, 3, 1, 0, 0);
  ASSERT_TRUE(fft.create_texture_flow());
  ASSERT_TRUE(fft.init_texture_field());
  EXPECT_EQ(fft.texture_u->data[2], 1.0f);
  EXPECT_EQ(fft.texture_v->data[3], 0.5f);
  // Texture coordinates need the scalar grid to be the velocity grid.
  FluidFlowCore odd(4, 4, 2, 5, 5);
  EXPECT_FALSE(odd.create_texture_flow());
  EXPECT_FALSE(odd.init_texture_field());
}

TEST(FluidScalar, StillFluidKeepsFieldsAndTextureIdentity) {
  FluidFlowCore s(9, 7, 2, 0, 0);
  const int f = s.create_scalar_field("dye");
  fill_random(s.fields[f], 4);
  const auto before = interior(s.fields[f]);
  ASSERT_TRUE(s.create_texture_flow());
  ASSERT_TRUE(s.advance_time_step(true));
  EXPECT_TRUE(same_bits(interior(s.fields[f]), before));
  for (int j = 1; j <= 7; ++j)
    for (int i = 1; i <= 9; ++i) {
      ASSERT_FLOAT_EQ(at(s.texture_u, i, j), (i - 1) / 8.0f);
      ASSERT_FLOAT_EQ(at(s.texture_v, i, j), (j - 1) / 6.0f);
    }
}

TEST(FluidScalar, OneCellPerStepShiftsByOneCell) {
  const int n = 16;
  FluidFlowCore s(n, n, 2, 0, 0);
  s.velocity->set(1.0f / n, 0.0f);
  ScalarField f(n, n, 2);
  fill_random(&f, 6);
  const auto before = cells_of(&f);
  ASSERT_TRUE(s.DIRECT_Scalar_Solver(&f, nullptr, 0.0f, 0.0f));
  for (int j = 1; j <= n; ++j)
    for (int i = 2; i <= n; ++i) ASSERT_NEAR(at(&f, i, j), before[j * (n + 2) + i - 1], 2e-5) << i << "," << j;
}

TEST(FluidScalar, SourceDissipationAndDiffusion) {
  FluidFlowCore s(8, 8, 2, 0, 0);
  ScalarField f(8, 8, 2), src(8, 8, 2);
  fill_random(&f, 1);
  src.set(1.0f);
  const auto before = interior(&f);
  s.set_time_step(0.5f);
  ASSERT_TRUE(s.DIRECT_Scalar_Solver(&f, &src, 0.0f, 0.0f));
  auto after = interior(&f);
  for (size_t k = 0; k < after.size(); ++k) ASSERT_EQ(after[k], before[k] + 0.5f);
  s.set_time_step(1.0f);
  ASSERT_TRUE(s.DIRECT_Scalar_Solver(&f, nullptr, 0.0f, 1.0f));  // halves
  for (size_t k = 0; k < after.size(); ++k) ASSERT_EQ(interior(&f)[k], 0.5f * after[k]);
  // Continuity ghosts after the step.
  EXPECT_EQ(at(&f, 0, 3), at(&f, 1, 3));
  EXPECT_EQ(at(&f, 4, 9), at(&f, 4, 8));

  // A texture field is never diffused, whatever the rate; a dye field is.
  ASSERT_TRUE(s.create_texture_flow());
  ScalarField dye(8, 8, 2);
  fill_random(&dye, 2);
  fill_random(s.texture_u, 2);
  ASSERT_TRUE(s.DIRECT_Scalar_Solver(s.texture_u, nullptr, 5.0f, 0.0f));
  ASSERT_TRUE(s.DIRECT_Scalar_Solver(&dye, nullptr, 5.0f, 0.0f));
  ScalarField plain(8, 8, 2);
  fill_random(&plain, 2);
  ASSERT_TRUE(s.DIRECT_Scalar_Solver(&plain, nullptr, 0.0f, 0.0f));
  EXPECT_TRUE(same_bits(cells_of(s.texture_u), cells_of(&plain)));
  EXPECT_FALSE(same_bits(cells_of(&dye), cells_of(&plain)));

  // Fields the step cannot hold are refused.
  ScalarField other(9, 8, 2), fft(8, 8, 1);
  EXPECT_FALSE(s.DIRECT_Scalar_Solver(&other, nullptr, 0, 0));
  EXPECT_FALSE(s.DIRECT_Scalar_Solver(&fft, nullptr, 0, 0));
  EXPECT_FALSE(s.DIRECT_Scalar_Solver(&f, &other, 0, 0));
  EXPECT_FALSE(s.DIRECT_Scalar_Solver(nullptr, nullptr, 0, 0));
}

TEST(FluidScalar, SharedTracesGiveWhatEachSolveTracesAlone) {
  // A step traces each scalar cell once for all its solves; solving the
  // same fields one by one outside a step traces every time.
  for (bool cubic : {false, true}) {
    auto build = [&] {
      auto s = std::make_unique<FluidFlowCore>(24, 20, 2, 0, 0);
      s->cubic = cubic;
      s->trace_set_params(3, 0.3f);
      s->add_velocity_vortex(0.05f, 0.4f, 0.5f, 0.3f, 1.0f);
      s->add_force_rectangle(0.1f, 0.1f, 0.6f, 0.4f, 0.002f, 0.001f);
      for (const char* name : {"a", "b"}) fill_random(s->fields[s->create_scalar_field(name)], 8);
      s->set_scalar_field_diffusion_rate(1, 0.01f);
      s->set_scalar_field_dissipation_rate(0, 0.1f);
      s->create_texture_flow();
      return s;
    };
    auto stepped = build(), by_hand = build();
    ASSERT_TRUE(stepped->advance_time_step(true));
    by_hand->init_texture_field();
    ASSERT_TRUE(by_hand->DIRECT_Velocity_Solver());
    for (int i = 0; i < 2; ++i)
      ASSERT_TRUE(by_hand->DIRECT_Scalar_Solver(by_hand->fields[i], nullptr, by_hand->diffusion[i],
                                                by_hand->dissipation[i]));
    ASSERT_TRUE(by_hand->DIRECT_Scalar_Solver(by_hand->texture_u, nullptr, 0, 0));
    ASSERT_TRUE(by_hand->DIRECT_Scalar_Solver(by_hand->texture_v, nullptr, 0, 0));
    EXPECT_TRUE(same_bits(state_of(*stepped), state_of(*by_hand))) << cubic;
  }
}

TEST(FluidScalar, AStopAnswerEndsPassesButNotTheStep) {
  for (int allowed : {0, 5, 60, 200}) {
    FluidFlowCore s(16, 16, 2, 0, 0);
    const int f = s.create_scalar_field("dye");
    fill_random(s.fields[f], 3);
    s.add_velocity_vortex(0.05f, 0.5f, 0.5f, 0.3f, 1.0f);
    ASSERT_TRUE(s.create_texture_flow());
    StopAfter stop{allowed};
    s.set_mp_exec(&stop, no_work);  // the context of the abort test; bands run on the caller
    s.set_abort_test(&stop, StopAfter::test);
    s.executor = nullptr;
    EXPECT_TRUE(s.advance_time_step(true)) << allowed;
    for (float v : state_of(s)) ASSERT_TRUE(std::isfinite(v)) << allowed;
  }
}

TEST(FluidScalar, AdvectionKernelsGiveTheSameBytesOnBothVectorPaths) {
  // A step runs the velocity advection rows, the shared traces and the path
  // means; the second solver solves outside a step, cell by cell.
  for (bool outside_step : {false, true}) {
    const auto paths = run_on_both_simd_paths([&] {
      FluidFlowCore s(40, 36, 2, 0, 0);
      s.trace_set_params(4, 0.25f);
      s.set_wrapping(true, true);
      s.add_velocity_vortex(0.08f, 0.45f, 0.55f, 0.35f, 1.0f);
      fill_random(s.fields[s.create_scalar_field("dye")], 5);
      if (outside_step) {
        s.DIRECT_Velocity_Solver();
        s.DIRECT_Scalar_Solver(s.fields[0], nullptr, 0.0f, 0.0f);
      } else {
        s.advance_time_step(true);
      }
      return state_of(s);
    });
    EXPECT_TRUE(same_bits(paths.first, paths.second)) << outside_step;
  }
}
