#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "PlaneXfmQ4.h"
#include "q4_memory.h"

namespace {

void set_corners(PlaneXfmQ4& plane, const float (&x)[4], const float (&y)[4]) {
  for (int c = 0; c < 4; c++) plane.set_corner(x[c], y[c], c + 1);
}

TEST(PlaneXfm, CornerPinnedRectangle) {
  PlaneXfmQ4 unit;
  set_corners(unit, {0, 0, 1, 1}, {0, 1, 1, 0});
  const double* h = unit.find_xfm(0);
  ASSERT_NE(h, nullptr);
  const double identity[8] = {1, 0, 0, 0, 1, 0, 0, 0};
  for (int k = 0; k < 8; k++) EXPECT_NEAR(h[k], identity[k], 1e-12) << k;

  PlaneXfmQ4 plane;
  set_corners(plane, {10, 10, 210, 210}, {20, 120, 120, 20});
  plane.set_corner(999, 999, 0);  // ignored
  plane.set_corner(999, 999, 5);
  EXPECT_EQ(plane.corner_x[2], 210);  // corner 4 is stored third
  EXPECT_EQ(plane.corner_y[2], 20);
  ASSERT_NE(plane.find_xfm(0), nullptr);
  tagDPT2 in = {0.5, 0.5}, out;
  plane.p1_to_p2(&in, &out, 1);
  EXPECT_NEAR(out.x, 110, 1e-9);
  EXPECT_NEAR(out.y, 70, 1e-9);
  ASSERT_NE(plane.find_xfm(1), nullptr);  // the first block is released
  in = {110, 70};
  plane.p1_to_p2(&in, &out, 1);
  EXPECT_NEAR(out.x, 0.5, 1e-9);
  EXPECT_NEAR(out.y, 0.5, 1e-9);
}

TEST(PlaneXfm, RecoversKnownHomography) {
  const double h[8] = {1.2, 0.3, -4, -0.2, 0.9, 7, 0.01, -0.02};
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> d(-10, 10);
  for (int n : {4, 10}) {
    tagDPT2 p1[10], p2[10];
    for (int i = 0; i < n; i++) {
      p1[i] = {d(rng), d(rng)};
      const double w = h[6] * p1[i].x + h[7] * p1[i].y + 1;
      p2[i] = {(h[0] * p1[i].x + h[1] * p1[i].y + h[2]) / w, (h[3] * p1[i].x + h[4] * p1[i].y + h[5]) / w};
    }
    PlaneXfmQ4 plane;
    double* found = plane.get_matrix(p1, p2, n);
    ASSERT_NE(found, nullptr);
    for (int k = 0; k < 8; k++) EXPECT_NEAR(found[k], h[k], 1e-8) << n << " " << k;
    q4_free(found, __FILE__, __LINE__);
    EXPECT_EQ(plane.get_matrix(p1, p2, 3), nullptr);
  }
}

TEST(PlaneXfm, RandomConvexQuadrilateralsRoundTrip) {
  std::mt19937 rng(8);
  std::uniform_real_distribution<double> jitter(-30, 30), unit(0.05, 0.95);
  for (int trial = 0; trial < 40; trial++) {
    // Jittered corners of a 200 x 150 rectangle stay convex.
    float x[4], y[4];
    const float bx[4] = {100, 100, 300, 300}, by[4] = {50, 200, 200, 50};
    for (int c = 0; c < 4; c++) {
      x[c] = bx[c] + (float)jitter(rng);
      y[c] = by[c] + (float)jitter(rng);
    }
    PlaneXfmQ4 forward, backward;
    set_corners(forward, x, y);
    set_corners(backward, x, y);
    ASSERT_NE(forward.find_xfm(0), nullptr);
    ASSERT_NE(backward.find_xfm(1), nullptr);
    tagDPT2 p[9], q[9], r[9];
    p[8] = {1, 1};
    for (int i = 0; i < 8; i++) p[i] = {unit(rng), unit(rng)};
    forward.p1_to_p2(p, q, 9);
    EXPECT_NEAR(q[8].x, x[2], 1e-6);  // (1, 1) lands on corner 3
    EXPECT_NEAR(q[8].y, y[2], 1e-6);
    backward.p1_to_p2(q, r, 9);
    for (int i = 0; i < 9; i++) {
      EXPECT_NEAR(r[i].x, p[i].x, 1e-9);
      EXPECT_NEAR(r[i].y, p[i].y, 1e-9);
    }
  }
}

TEST(PlaneXfm, VanishingLineAndMissingCoefficients) {
  PlaneXfmQ4 plane;
  tagDPT2 in[2] = {{-1, 5}, {1, 0}}, out[2] = {{-7, -7}, {-7, -7}};
  tagDPT3 out3[2] = {{-7, -7, -7}, {-7, -7, -7}};
  plane.p1_to_p2(in, out, 2);  // nothing solved yet: untouched
  plane.p1_to_p2_z(in, out3, 2);
  EXPECT_EQ(out[0].x, -7);
  EXPECT_EQ(out3[1].z, -7);

  // Unit square to the quad (0,0) (0,2) (1,1) (1,0): worked by hand,
  // U = 2X / (X + 1), V = 2Y / (X + 1), so the line X = -1 goes to infinity.
  set_corners(plane, {0, 0, 1, 1}, {0, 2, 1, 0});
  const double* h = plane.find_xfm(0);
  ASSERT_NE(h, nullptr);
  EXPECT_NEAR(h[6], 1, 1e-12);
  EXPECT_NEAR(h[7], 0, 1e-12);
  plane.p1_to_p2(in, out, 2);
  EXPECT_EQ(out[0].x, 1000.0);
  EXPECT_EQ(out[0].y, 1000.0);
  plane.p1_to_p2_z(in, out3, 2);
  EXPECT_EQ(out3[0].x, 1000.0);
  EXPECT_NEAR(out3[0].z, 0, 1e-12);
  EXPECT_NEAR(out3[1].z, 2, 1e-12);
  EXPECT_NEAR(out3[1].x, 1, 1e-12);  // (1, 0) goes to corner 4

  // A failed solve clears the coefficients and leaves outputs alone.
  plane.set_corner(std::nanf(""), 0, 1);
  EXPECT_EQ(plane.find_xfm(0), nullptr);
  EXPECT_EQ(plane.coefficients, nullptr);
  out[1] = {-7, -7};
  plane.p1_to_p2(in, out, 2);
  EXPECT_EQ(out[1].x, -7);
}

TEST(PlaneXfm, DecompositionRefusalAndBackSubstitution) {
  PlaneXfmQ4 plane;
  const int m = 4, n = 4;
  double** a = plane.matrix(1, m, 1, n);
  double** v = plane.matrix(1, n, 1, n);
  double* w = plane.vector(1, n);
  double* b = plane.vector(1, m);
  double* x = plane.vector(1, n);
  // U = V = I: the exactly zero singular value drops its component, a tiny
  // one is divided by.
  for (int i = 1; i <= m; i++) {
    b[i] = i;
    for (int j = 1; j <= n; j++) a[i][j] = v[i][j] = i == j;
  }
  EXPECT_EQ(plane.svdcmp(a, 3, 4, w, v), 1);  // m < n: refused, a untouched
  EXPECT_EQ(a[1][1], 1);
  const double ws[4] = {2, 0, 1e-12, 1};
  for (int j = 0; j < n; j++) w[j + 1] = ws[j];
  plane.svbksb(a, w, v, m, n, b, x);
  EXPECT_DOUBLE_EQ(x[1], 0.5);
  EXPECT_EQ(x[2], 0.0);
  EXPECT_DOUBLE_EQ(x[3], 3e12);
  EXPECT_DOUBLE_EQ(x[4], 4);
  plane.free_matrix(a, 1, m, 1, n);
  plane.free_matrix(v, 1, n, 1, n);
  plane.free_vector(w, 1, n);
  plane.free_vector(b, 1, m);
  plane.free_vector(x, 1, n);
}

}  // namespace
