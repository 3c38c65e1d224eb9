#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "failing_heap.h"
#include "mtrandom.h"
#include "solid_noise.h"

namespace {

// Gradient of the lattice point's hash, read back through unit offsets.
void gradient_of(const SolidNoise& noise, int i, int j, int k, float g[3]) {
  g[0] = noise.glattice(i, j, k, 1, 0, 0);
  g[1] = noise.glattice(i, j, k, 0, 1, 0);
  g[2] = noise.glattice(i, j, k, 0, 0, 1);
}

TEST(SolidNoise, PermutationIsAPermutation) {
  int seen[256] = {0};
  for (unsigned char p : SolidNoise::permutation) ++seen[p];
  for (int v = 0; v < 256; ++v) EXPECT_EQ(seen[v], 1) << v;
  EXPECT_EQ(SolidNoise::permutation[0], 225);
  EXPECT_EQ(SolidNoise::permutation[127], 202);
  EXPECT_EQ(SolidNoise::permutation[255], 52);
}

TEST(SolidNoise, GradientsAreSeededUnitVectors) {
  SolidNoise a(42), b(42), c(43);
  ASSERT_TRUE(a.has_gradients());
  double mean[3] = {0, 0, 0};
  int differing = 0;
  for (int i = 0; i < 256; ++i) {
    float ga[3], gb[3], gc[3];
    gradient_of(a, i, 0, 0, ga);
    gradient_of(b, i, 0, 0, gb);
    gradient_of(c, i, 0, 0, gc);
    EXPECT_NEAR(ga[0] * ga[0] + ga[1] * ga[1] + ga[2] * ga[2], 1.0f, 1e-5f);
    for (int d = 0; d < 3; ++d) {
      EXPECT_EQ(ga[d], gb[d]);
      mean[d] += ga[d] / 256.0;
    }
    if (ga[0] != gc[0] || ga[1] != gc[1] || ga[2] != gc[2]) ++differing;
  }
  EXPECT_GT(differing, 250);
  for (double m : mean) EXPECT_LT(std::fabs(m), 0.15);
  // The hash only sees lattice indices modulo 256.
  EXPECT_EQ(a.glattice(-1, 3, 5, 0.3f, -0.2f, 0.9f), a.glattice(255, 259, -251, 0.3f, -0.2f, 0.9f));
}

TEST(SolidNoise, GradientTableReplaysTheSeededDraws) {
  for (unsigned seed : {0u, 42u, 0xfffffffeu}) {
    // Entry e: z from the first closed float draw, the angle from the second.
    MTRandom replay(seed);
    float table[256][3];
    for (auto& g : table) {
      const float z = 2.0f * replay.float_random() - 1.0f;
      const float r = std::sqrt(1.0f - z * z);
      const float phi = replay.float_random() * 6.2831855f;
      g[0] = r * std::cos(phi);
      g[1] = r * std::sin(phi);
      g[2] = z;
    }
    SolidNoise noise(seed);
    ASSERT_TRUE(noise.has_gradients());
    // Along i with j = k = 0 the hash visits every entry once.
    const unsigned char* p = SolidNoise::permutation;
    bool visited[256] = {false};
    for (int i = 0; i < 256; ++i) {
      const int h = p[(p[(p[0] + 0) & 255] + i) & 255];
      visited[h] = true;
      float g[3];
      gradient_of(noise, i, 0, 0, g);
      for (int d = 0; d < 3; ++d) ASSERT_EQ(g[d], table[h][d]) << seed << " entry " << h << " axis " << d;
    }
    for (bool v : visited) EXPECT_TRUE(v);
  }
}

TEST(SolidNoise, ZeroAtLatticePoints) {
  SolidNoise noise(11);
  for (int x = -3; x <= 3; ++x)
    for (int y = -2; y <= 2; ++y)
      for (int z = -2; z <= 2; ++z)
        EXPECT_EQ(noise.GradientNoise(float(x), float(y), float(z)), 0.0f) << x << y << z;
}

TEST(SolidNoise, AlongAnAxisMatchesHandBlend) {
  SolidNoise noise(3);
  // y = z = 0: only the two x corners of the cell count.
  const float n0 = noise.glattice(0, 0, 0, 0.3f, 0, 0);
  const float n1 = noise.glattice(1, 0, 0, -0.7f, 0, 0);
  const float s = 0.216f;  // 0.3² · (3 − 0.6)
  EXPECT_NEAR(noise.GradientNoise(0.3f, 0.0f, 0.0f), n0 + (n1 - n0) * s, 1e-6f);
  // Negative coordinates fall in cell −1 with offset 0.5.
  const float m0 = noise.glattice(-1, 0, 0, 0.5f, 0, 0);
  const float m1 = noise.glattice(0, 0, 0, -0.5f, 0, 0);
  EXPECT_NEAR(noise.GradientNoise(-0.5f, 0.0f, 0.0f), m0 + (m1 - m0) * 0.5f, 1e-6f);
}

TEST(SolidNoise, ContinuousAcrossCellFaces) {
  SolidNoise noise(5);
  const float eps = 1e-4f;
  for (int face = -2; face <= 2; ++face) {
    const float f = float(face);
    EXPECT_NEAR(noise.GradientNoise(f - eps, 0.37f, 0.61f), noise.GradientNoise(f + eps, 0.37f, 0.61f),
                1e-3f);
    EXPECT_NEAR(noise.GradientNoise(0.37f, f - eps, 0.61f), noise.GradientNoise(0.37f, f + eps, 0.61f),
                1e-3f);
    EXPECT_NEAR(noise.GradientNoise(0.61f, 0.37f, f - eps), noise.GradientNoise(0.61f, 0.37f, f + eps),
                1e-3f);
  }
  // Bounded: each corner contributes at most |offset| ≤ √3.
  for (int i = 0; i < 1000; ++i) {
    const float v = noise.GradientNoise(i * 0.137f, i * 0.071f - 20.0f, i * 0.013f);
    EXPECT_LE(std::fabs(v), 1.8f);
  }
}

TEST(SolidNoise, FractalSumsOctaves) {
  SolidNoise noise(9);
  const float x = 0.31f, y = 0.47f, z = 0.83f;
  EXPECT_EQ(noise.FractalNoise(x, y, z, 0.5f, 0.5f), 0.0f);
  EXPECT_EQ(noise.FractalNoise(x, y, z, -3.0f, 0.01f), 0.0f);
  const float f1 = 2.17f, f2 = f1 * 2.17f;
  const float expected = noise.GradientNoise(x, y, z) + noise.GradientNoise(x * f1, y * f1, z * f1) / f1 +
                         noise.GradientNoise(x * f2, y * f2, z * f2) / f2;
  EXPECT_FLOAT_EQ(noise.FractalNoise(x, y, z, 1.0f, 5.0f), expected);

  // fmin 0.2 starts at frequency 1 with weight 1; the next octave has weight 1/2.17.
  EXPECT_FLOAT_EQ(noise.FractalNoiseMinFreqNormalized(x, y, z, 0.2f, 1.5f), noise.GradientNoise(x, y, z));
  EXPECT_FLOAT_EQ(noise.FractalNoiseMinFreqNormalized(x, y, z, 0.2f, 3.0f),
                  noise.GradientNoise(x, y, z) + noise.GradientNoise(x * f1, y * f1, z * f1) / f1);

  const double p[3] = {x, y, z};
  EXPECT_EQ(noise.GradientNoise(p), noise.GradientNoise(x, y, z));
  EXPECT_EQ(noise.FractalNoise(p, 1.0f, 5.0f), noise.FractalNoise(x, y, z, 1.0f, 5.0f));
  EXPECT_EQ(noise.FractalNoiseMinFreqNormalized(p, 0.2f, 3.0f),
            noise.FractalNoiseMinFreqNormalized(x, y, z, 0.2f, 3.0f));
}

TEST(SolidNoise, HostileCoordinatesStayFinite) {
  SolidNoise noise(1);
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_LE(std::fabs(noise.GradientNoise(3e9f, -7e12f, 1.5f)), 1.8f);
  EXPECT_LE(std::fabs(noise.GradientNoise(-2.5e38f, 0.25f, 1e20f)), 1.8f);
  EXPECT_TRUE(std::isnan(noise.GradientNoise(nan, 0.5f, 0.5f)));
  EXPECT_TRUE(std::isnan(noise.GradientNoise(inf, -inf, 0.5f)));
  EXPECT_TRUE(std::isfinite(noise.FractalNoise(0.2f, 0.3f, 0.4f, 1.0f, inf)));
  EXPECT_EQ(noise.FractalNoise(0.2f, 0.3f, 0.4f, nan, 4.0f), 0.0f);
}

TEST(SolidNoise, WithoutGradientsYieldsZero) {
  FailingHeap heap(0);
  SolidNoise noise(4);
  EXPECT_FALSE(noise.has_gradients());
  EXPECT_EQ(noise.glattice(1, 2, 3, 0.5f, 0.5f, 0.5f), 0.0f);
  EXPECT_EQ(noise.GradientNoise(0.3f, 0.4f, 0.5f), 0.0f);
  EXPECT_EQ(noise.FractalNoise(0.3f, 0.4f, 0.5f, 1.0f, 10.0f), 0.0f);
}

}  // namespace
