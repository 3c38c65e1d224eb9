#include <cmath>

#include <gtest/gtest.h>

#include "random_q4.h"

// Runs first among the ran2Q4 users: a large positive seed on the very first
// call used to drive the shuffle index below the table.
TEST(RandomQ4Test, Ran2FirstCallWithLargePositiveSeedStaysInRange) {
  long seed = 2000000000L;
  for (int i = 0; i < 1000; ++i) {
    const float v = ran2Q4(&seed);
    ASSERT_GE(v, 0.0f);
    ASSERT_LT(v, 1.0f);
  }
  EXPECT_EQ(seed, 1);
}

TEST(RandomQ4Test, LinearCongruentialReference) {
  long seed = 0;
  EXPECT_EQ(randQ4(seed), 38);
  EXPECT_EQ(seed, 2531011);
  // Next: 2531011 * 214013 + 2531011 wraps to 505908858 in 32 bits.
  EXPECT_EQ(randQ4(seed), (505908858 >> 16) & 0x7FFF);
  EXPECT_EQ(seed, 505908858);
  long wide = 0x100000000L;  // only the low 32 bits count
  EXPECT_EQ(randQ4(wide), 38);
}

// The seed handed back is the plain minimal-standard sequence from 1 after
// the 40 warm-up steps; its 10000th value is the well-known 1043618065.
TEST(RandomQ4Test, MinimalStandardSequence) {
  long seed = -1;
  for (int i = 0; i < 9960; ++i) {
    const long v = ran1Q4(&seed);
    ASSERT_GE(v, 1);
    ASSERT_LE(v, 2147483646);
  }
  EXPECT_EQ(seed, 1043618065);
  long fseed = -1;
  const float first = ran1fQ4(&fseed);
  EXPECT_GT(first, 0.0f);
  EXPECT_LT(first, 1.0f);
  const long after_first = fseed;
  ran1fQ4(&fseed);  // continues without re-seeding
  EXPECT_NE(fseed, after_first);
  long again = -1;
  EXPECT_EQ(ran1fQ4(&again), first);  // a negative seed starts over
  for (int i = 0; i < 200000; ++i) {
    const float v = ran1fQ4(&again);
    ASSERT_GT(v, 0.0f);
    ASSERT_LE(v, 0.9999999f);
  }
}

TEST(RandomQ4Test, Ran2IsUniformAndReseedable) {
  long seed = -1;
  const float first = ran2Q4(&seed);
  EXPECT_EQ(seed, 1);
  double sum = 0.0;
  for (int i = 0; i < 100000; ++i) {
    const float v = ran2Q4(&seed);
    ASSERT_GE(v, 0.0f);
    ASSERT_LT(v, 1.0f);
    sum += v;
  }
  EXPECT_NEAR(sum / 100000, 0.5, 0.01);
  seed = -1;
  EXPECT_EQ(ran2Q4(&seed), first);
}

TEST(RandomQ4Test, GaussianMoments) {
  long seed = -3;
  ran2Q4(&seed);
  double sum = 0.0, squares = 0.0;
  const int n = 200000;
  for (int i = 0; i < n; ++i) {
    const double v = gasdevQ4(&seed);
    sum += v;
    squares += v * v;
  }
  EXPECT_NEAR(sum / n, 0.0, 0.01);
  EXPECT_NEAR(squares / n, 1.0, 0.02);
}
