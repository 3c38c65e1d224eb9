#include <cmath>

#include <gtest/gtest.h>

#include "fluid_test_support.h"

namespace {

// Solid-body rotation at omega radians per unit time about (0.5, 0.5), in
// normalised units, written into every stored cell of a DIRECT field so the
// bilinear samples are exact up to rounding.
void rotation(VectorField* f, float omega) {
  for (int j = 0; j < f->ny + 2; ++j)
    for (int i = 0; i < f->nx + 2; ++i) {
      const float x = (i - 1.0f) / f->nx, y = (j - 1.0f) / f->ny;
      at_u(f, i, j) = -omega * (y - 0.5f);
      at_v(f, i, j) = omega * (x - 0.5f);
    }
}

}  // namespace

TEST(FluidTrace, UniformFlowMovesByDtTimesVelocity) {
  for (int method : {1, 2}) {
    for (bool rk4 : {true, false}) {
      FluidFlowCore s(32, 16, method, 0, 0);
      s.rk4 = rk4;
      s.set_time_step(0.5f);
      s.velocity->set(0.01f, -0.02f);
      float xo, yo;
      s.trace_position_thru_velocity(0.5f, 0.25f, xo, yo, s.velocity, 5, nullptr, 1.0f);
      EXPECT_NEAR(xo, 0.5f - 0.005f, 1e-6) << method << rk4;
      EXPECT_NEAR(yo, 0.25f + 0.01f, 1e-6) << method << rk4;
    }
  }
}

TEST(FluidTrace, RotationKeepsTheRadiusAndRk4IsFarCloser) {
  const float omega = 1.0f;
  double error[2];
  for (int rk4 : {0, 1}) {
    FluidFlowCore s(64, 64, 2, 0, 0);
    s.rk4 = static_cast<unsigned char>(rk4);
    rotation(s.velocity, omega);
    float xo, yo;
    s.trace_position_thru_velocity(0.75f, 0.5f, xo, yo, s.velocity, 5, nullptr, 1.0f);
    const double r = std::hypot(xo - 0.5, yo - 0.5);
    error[rk4] = std::fabs(r - 0.25);
    // Traced backward: the point turned by -omega dt.
    if (rk4) {
      EXPECT_NEAR(std::atan2(yo - 0.5, xo - 0.5), -omega, 5e-5);
    }
  }
  EXPECT_LT(error[1], 2e-6);
  EXPECT_GT(error[0], 50 * error[1]);
}

TEST(FluidTrace, PathWeightsRiseFromTheStartFraction) {
  FluidFlowCore s(16, 16, 2, 0, 0);
  const float c = 0.02f;
  s.velocity->set(c, 0.0f);
  ScalarField ramp(16, 16, 2);  // value = grid column, so a sample shows its position
  for (int j = 0; j < 18; ++j)
    for (int i = 0; i < 18; ++i) at(&ramp, i, j) = static_cast<float>(i);
  const float x0 = 0.5f, y0 = 0.5f;
  // Sub-step k ends at x0 - (k + 1) h c, sampled at grid 16 x + 1.
  auto sample = [&](int k, int steps) { return 16.0 * (x0 - (k + 1) * (1.0 / steps) * c) + 1.0; };
  struct Case {
    int steps;
    float fraction;
    std::vector<double> weights;
  } cases[] = {
      {5, 0.0f, {0.2, 0.4, 0.6, 0.8, 1.0}},
      {5, 1.0f, {0, 0, 0, 0, 1}},
      {2, 0.5f, {1.0 / 3.0, 1.0}},
      {5, 0.5f, {0, 0, 1.0 / 3.0, 2.0 / 3.0, 1.0}},
  };
  for (const Case& t : cases) {
    double sum = 0, total = 0;
    for (int k = 0; k < t.steps; ++k) {
      sum += t.weights[k] * sample(k, t.steps);
      total += t.weights[k];
    }
    float xo, yo;
    const float mean = s.trace_position_thru_velocity(x0, y0, xo, yo, s.velocity, t.steps, &ramp, t.fraction);
    EXPECT_NEAR(mean, sum / total, 2e-5) << t.steps << " " << t.fraction;
    EXPECT_NEAR(xo, x0 - c, 1e-6);
  }
  // The solver's own parameters: trace_set_params(1, 0.5) gives the two
  // sub-steps weighted 1/3 and 1.
  s.trace_set_params(1, 0.5f);
  float xo, yo;
  const float mean =
      s.trace_position_thru_velocity(x0, y0, xo, yo, s.velocity, s.trace_steps, &ramp, s.trace_weight_start);
  EXPECT_NEAR(mean, (sample(0, 2) / 3.0 + sample(1, 2)) / (4.0 / 3.0), 2e-5);
}
