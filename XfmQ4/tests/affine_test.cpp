#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "ImageXfmQ4.h"
#include "xfm_test_images.h"

namespace {

void map(const double* a, double x, double y, double& u, double& v) {
  u = a[0] * x + a[2] * y + a[4];
  v = a[1] * x + a[3] * y + a[5];
}

TEST(XfmAffine, CompositionOrder) {
  double u, v;
  ImageXfmQ4 first;  // order 1: the new operation acts on the point first
  first.translate(10, 0);
  first.scale(2, 2);
  map(first.matrix, 3, 5, u, v);
  EXPECT_DOUBLE_EQ(u, 16);
  EXPECT_DOUBLE_EQ(v, 10);
  first.reset();
  first.shearx(0.5);
  first.sheary(2);  // y' = 2x + y first, then x' = x + 0.5 y'
  map(first.matrix, 1, 1, u, v);
  EXPECT_DOUBLE_EQ(u, 2.5);
  EXPECT_DOUBLE_EQ(v, 3);

  ImageXfmQ4 last;
  last.compose_order = 0;
  last.translate(10, 0);
  last.scale(2, 2);
  map(last.matrix, 3, 5, u, v);
  EXPECT_DOUBLE_EQ(u, 26);
  EXPECT_DOUBLE_EQ(v, 10);

  ImageXfmQ4 twice;
  twice.translate(3, 4);
  twice.compose();
  map(twice.matrix, 0, 0, u, v);
  EXPECT_DOUBLE_EQ(u, 6);
  EXPECT_DOUBLE_EQ(v, 8);

  // Degrees use pi = 3.1415926: cos of "90" is about 2.68e-8.
  ImageXfmQ4 turn;
  turn.rotate(90);
  EXPECT_NEAR(turn.matrix[0], 2.6795e-8, 0.0001e-8);
  turn.reset();
  turn.rotate(180);
  map(turn.matrix, 1, 0, u, v);
  EXPECT_NEAR(u, -1, 1e-12);
  EXPECT_NEAR(v, 5.359e-8, 0.001e-8);
}

TEST(XfmAffine, InverseAndSingularMatrices) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> d(-5, 5), s(0.2, 3);
  for (int trial = 0; trial < 40; trial++) {
    ImageXfmQ4 xfm;
    xfm.compose_order = trial % 2;
    xfm.translate(d(rng), d(rng));
    xfm.rotate(d(rng) * 30);
    xfm.scale(s(rng), s(rng));
    xfm.shearx(d(rng) / 5);
    xfm.sheary(d(rng) / 5);
    xfm.set_transform(0);
    const double* i = xfm.inverse_matrix;
    const double x = d(rng), y = d(rng);
    double u, v;
    map(xfm.matrix, x, y, u, v);
    EXPECT_NEAR((i[0] * u + i[2] * v + i[4]) / i[6], x, 1e-9);
    EXPECT_NEAR((i[1] * u + i[3] * v + i[5]) / i[6], y, 1e-9);
  }
  const double identity[7] = {1, 0, 0, 1, 0, 0, 1};
  const double singular[][2] = {{0, 1}, {1e-4, 1e-3}, {std::nan(""), 1}};
  for (const auto& sc : singular) {
    ImageXfmQ4 xfm;
    xfm.scale(sc[0], sc[1]);
    xfm.translate(5, 5);
    xfm.set_transform(0);
    for (int k = 0; k < 7; k++) EXPECT_EQ(xfm.inverse_matrix[k], identity[k]) << sc[0];
  }
}

TEST(XfmAffine, ApplyIdentityEnlargeAndReduce) {
  ImagePtr src = random_image(17, 11, 6);
  ImagePtr copy = uniform_image(17, 11, make_pixel(1, 1, 1, 1));
  ImageXfmQ4 identity;
  identity.sampleMode(2);
  identity.apply(src.get(), copy.get(), 0, 10);  // defined before set_transform
  EXPECT_TRUE(same_pixels(*src, *copy));
  identity.compose();
  identity.set_transform(0);
  copy = uniform_image(17, 11, make_pixel(1, 1, 1, 1));
  identity.apply(src.get(), copy.get(), 0, 10);
  EXPECT_TRUE(same_pixels(*src, *copy));

  // Footprint 0.5: bilinear point samples at half positions.
  ImagePtr ramp = make_image(8, 8, [](int x, int y) { return make_pixel(x * 1000, y * 2000, 0, 32767); });
  ImagePtr big = uniform_image(16, 16, make_pixel(0, 0, 0, 0));
  ImageXfmQ4 enlarge;
  enlarge.sampleMode(2);
  enlarge.scale(2, 2);
  enlarge.set_transform(0);
  enlarge.apply(ramp.get(), big.get(), 0, 15);
  EXPECT_EQ(big->rows[0][3].r, 1500);
  EXPECT_EQ(big->rows[5][0].g, 5000);

  // Footprint 2: the inverted reduction and the direct mapping (mode 2 of
  // set_transform) agree; a flat interior stays flat, the edge darkens.
  ImagePtr flat = uniform_image(20, 20, make_pixel(9000, 18000, 27000, 32767));
  ImagePtr a = uniform_image(10, 10, make_pixel(0, 0, 0, 0));
  ImagePtr b = uniform_image(10, 10, make_pixel(0, 0, 0, 0));
  ImageXfmQ4 down, direct;
  down.sampleMode(3);
  down.scale(0.5, 0.5);
  down.set_transform(0);
  down.apply(flat.get(), a.get(), 0, 9);
  direct.sampleMode(3);
  direct.scale(2, 2);
  direct.set_transform(2);
  direct.apply(flat.get(), b.get(), 0, 9);
  EXPECT_TRUE(same_pixels(*a, *b));
  EXPECT_TRUE(same_pixel(a->rows[5][5], flat->rows[0][0]));
  EXPECT_EQ(a->rows[0][0].r, 5063);  // 9000 * 0.75 * 0.75

  ImagePtr small = uniform_image(4, 4, make_pixel(0, 0, 0, 0));
  ImageXfmQ4 nearest;  // mode 1 reduces by picking pixels
  nearest.scale(2, 2);
  nearest.set_transform(2);
  nearest.apply(ramp.get(), small.get(), 0, 3);
  EXPECT_TRUE(same_pixel(small->rows[1][3], ramp->rows[2][6]));
}

TEST(XfmAffine, ApplyClampsRowRange) {
  ImagePtr src = random_image(6, 5, 1);
  const PixelQ4 mark = make_pixel(7, 7, 7, 7);
  ImagePtr dst = uniform_image(6, 5, mark);
  ImageXfmQ4 xfm;
  xfm.sampleMode(2);
  xfm.translate(1, 0);
  xfm.set_transform(0);
  xfm.apply(src.get(), dst.get(), 3, 2);  // empty range
  EXPECT_TRUE(same_pixel(dst->rows[3][3], mark));
  xfm.apply(src.get(), dst.get(), -100, 100000);
  for (int y = 0; y < 5; y++) {
    EXPECT_EQ(dst->rows[y][0].r, 0);  // source column -1
    for (int x = 1; x < 6; x++) ASSERT_TRUE(same_pixel(dst->rows[y][x], src->rows[y][x - 1]));
  }
}

}  // namespace
