#include <cmath>
#include <cstdint>
#include <random>

#include <gtest/gtest.h>

#include "mtrandom.h"

namespace {

const unsigned seeds[] = {5489u, 0u, 1u, 12345u, 0xffffffffu};

TEST(MTRandom, MatchesReferenceTwisterForSeveralSeeds) {
  for (unsigned seed : seeds) {
    MTRandom ours(seed);
    std::mt19937 reference(seed);
    for (int i = 0; i < 5000; ++i) ASSERT_EQ(ours.uint_random(), reference()) << seed << " " << i;
  }
  MTRandom fresh(5489);
  EXPECT_EQ(fresh.uint_random(), 3499211612u);
  MTRandom halved(5489);
  EXPECT_EQ(halved.int_random(), 1749605806);
}

// The closed forms multiply by this rounded 1 / (2^32 - 1).
const double closed_factor = 2.3283064370807974e-10;

TEST(MTRandom, UniformFormsScaleEachOutput) {
  MTRandom ours(777);
  std::mt19937 reference(777);
  for (int i = 0; i < 4000; ++i) {
    const double closed = static_cast<double>(reference()) * closed_factor;
    const double open = std::ldexp(static_cast<double>(reference()), -32);
    const uint32_t third = reference();
    const uint32_t fourth = reference();
    const uint32_t fifth = reference();
    EXPECT_EQ(ours.double_random(), closed);
    EXPECT_EQ(ours.double_random_exclusive(), open);
    EXPECT_EQ(ours.int_random(), static_cast<int>(third >> 1));
    EXPECT_EQ(ours.double_random_in_range(-2.0, 6.0), -2.0 + 8.0 * (static_cast<double>(fourth) * closed_factor));
    EXPECT_EQ(ours.float_random(), static_cast<float>(static_cast<double>(fifth) * closed_factor));
  }
}

void skip(MTRandom& g, int count) {
  for (int i = 0; i < count; ++i) g.uint_random();
}

// Positions where the reference twister yields its extreme outputs (found by
// a one-off search over seeds).
TEST(MTRandom, ClosedFormReachesBothEndpointsExactly) {
  const unsigned top_seed = 5751081, bottom_seed = 7603642;
  const int top_position = 281, bottom_position = 141;
  std::mt19937 top_reference(top_seed), bottom_reference(bottom_seed);
  top_reference.discard(top_position);
  bottom_reference.discard(bottom_position);
  ASSERT_EQ(top_reference(), 0xffffffffu);
  ASSERT_EQ(bottom_reference(), 0u);

  MTRandom top(top_seed), bottom(bottom_seed);
  skip(top, top_position);
  skip(bottom, bottom_position);
  EXPECT_EQ(top.double_random(), 1.0);
  EXPECT_EQ(bottom.double_random(), 0.0);

  MTRandom top_open(top_seed), bottom_open(bottom_seed);
  skip(top_open, top_position);
  skip(bottom_open, bottom_position);
  EXPECT_EQ(top_open.double_random_exclusive(), 1.0 - std::ldexp(1.0, -32));
  EXPECT_EQ(bottom_open.double_random_exclusive(), 0.0);

  MTRandom top_range(top_seed);
  skip(top_range, top_position);
  EXPECT_EQ(top_range.double_random_in_range(-3.0, 5.0), 5.0);
}

// Seed 508205 gives an output in the top 2^7 values at position 35, where
// the float forms meet their upper endpoint (found by a one-off search).
TEST(MTRandom, FloatFormsAtTheUpperEndpoint) {
  const unsigned seed = 508205;
  const int position = 35;
  std::mt19937 reference(seed);
  reference.discard(position);
  ASSERT_GE(reference(), 0xffffff80u);
  MTRandom closed(seed), open(seed);
  for (int i = 0; i < position; ++i) {
    closed.uint_random();
    open.uint_random();
  }
  EXPECT_EQ(closed.float_random(), 1.0f);
  const float x = open.float_random_exclusive();
  EXPECT_LT(x, 1.0f);
  EXPECT_EQ(x, std::nextafter(1.0f, 0.0f));
}

// Polar method on the reference twister, both draws scaled by 2^-32.
void reference_pair(std::mt19937& reference, double& first, double& second) {
  double x, y, s;
  do {
    x = 2.0 * std::ldexp(static_cast<double>(reference()), -32) - 1.0;
    y = 2.0 * std::ldexp(static_cast<double>(reference()), -32) - 1.0;
    s = x * x + y * y;
  } while (s >= 1.0 || s == 0.0);
  const double f = std::sqrt(-2.0 * std::log(s) / s);
  first = y * f;
  second = x * f;
}

// The single-precision polar method: each draw rounded to float, the
// arithmetic in float, and the factor worked out in double then rounded.
void reference_float_pair(std::mt19937& reference, float& first, float& second) {
  float x, y, s;
  do {
    const float u1 = static_cast<float>(std::ldexp(static_cast<double>(reference()), -32));
    const float u2 = static_cast<float>(std::ldexp(static_cast<double>(reference()), -32));
    x = 2.0f * u1 - 1.0f;
    y = 2.0f * u2 - 1.0f;
    s = x * x + y * y;
  } while (s >= 1.0f || s == 0.0f);
  const double sd = s;
  const float f = static_cast<float>(std::sqrt(-2.0 * std::log(sd) / sd));
  first = y * f;
  second = x * f;
}

TEST(MTRandom, GaussianPairsAndSpares) {
  MTRandom ours(2024);
  std::mt19937 reference(2024);
  for (int i = 0; i < 500; ++i) {
    double first, second;
    reference_pair(reference, first, second);
    EXPECT_EQ(ours.double_gaussian_random(), first);
    // A uniform call in between takes the next output but keeps the spare.
    EXPECT_EQ(ours.uint_random(), reference());
    EXPECT_EQ(ours.double_gaussian_random(), second);
  }
  // Two calls consume exactly the outputs of one pair.
  MTRandom pair(99);
  std::mt19937 pair_reference(99);
  double first, second;
  reference_pair(pair_reference, first, second);
  pair.double_gaussian_random();
  pair.double_gaussian_random();
  EXPECT_EQ(pair.uint_random(), pair_reference());

  // The float generator keeps its own spare beside the double one.
  MTRandom mixed(5);
  std::mt19937 mixed_reference(5);
  double d1, d2;
  float f1, f2;
  reference_pair(mixed_reference, d1, d2);
  reference_float_pair(mixed_reference, f1, f2);
  EXPECT_EQ(mixed.double_gaussian_random(), d1);
  EXPECT_EQ(mixed.float_gaussian_random(), f1);
  EXPECT_EQ(mixed.double_gaussian_random(), d2);
  EXPECT_EQ(mixed.float_gaussian_random(), f2);
  EXPECT_EQ(mixed.uint_random(), mixed_reference());
}

TEST(MTRandom, FloatGaussianFollowsTheSinglePrecisionPolarMethod) {
  for (unsigned seed : seeds) {
    MTRandom ours(seed);
    std::mt19937 reference(seed);
    for (int i = 0; i < 2000; ++i) {
      float first, second;
      reference_float_pair(reference, first, second);
      ASSERT_EQ(ours.float_gaussian_random(), first) << seed << " " << i;
      ASSERT_EQ(ours.float_gaussian_random(), second) << seed << " " << i;
    }
    EXPECT_EQ(ours.uint_random(), reference());
  }
  MTRandom shifted(31);
  MTRandom plain(31);
  EXPECT_EQ(shifted.float_gaussian_random_in_range(4.0f, 0.5f), 4.0f + 0.5f * plain.float_gaussian_random());
}

TEST(MTRandom, GaussianMomentsAndRanges) {
  MTRandom g(123);
  const int count = 200000;
  double sum = 0.0, sum2 = 0.0;
  for (int i = 0; i < count; ++i) {
    const double d = i % 2 ? g.double_gaussian_random() : g.float_gaussian_random();
    sum += d;
    sum2 += d * d;
  }
  EXPECT_NEAR(sum / count, 0.0, 0.01);
  EXPECT_NEAR(sum2 / count, 1.0, 0.02);

  EXPECT_EQ(g.double_gaussian_random_in_range(3.0, 0.0), 3.0);
  EXPECT_EQ(g.float_gaussian_random_in_range(-2.5f, 0.0f), -2.5f);
  MTRandom a(8), b(8);
  const double unit = a.double_gaussian_random();
  EXPECT_DOUBLE_EQ(b.double_gaussian_random_in_range(10.0, 2.0), 10.0 + 2.0 * unit);
}

}  // namespace
