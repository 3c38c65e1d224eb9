#include <cmath>
#include <cstdlib>
#include <vector>

#include "ImageQ4.h"
#include "frame_fixture.h"

namespace {

typedef FrameTest PixelOpsTest;

void fill_random(ImageQ4& image, unsigned seed) {
  std::srand(seed);
  for (int i = 0; i < image.width * image.height; ++i)
    image.storage[i] = PixelQ4{static_cast<unsigned short>(std::rand() % 32768),
                               static_cast<unsigned short>(std::rand() % 32768),
                               static_cast<unsigned short>(std::rand() % 32768),
                               static_cast<unsigned short>(std::rand() % 32768)};
}

}  // namespace

TEST_F(PixelOpsTest, InBlendMixesAllFourChannels) {
  ImageQ4 self(3, 2, 1.0f, nullptr, nullptr), src(3, 2, 1.0f, nullptr, nullptr);
  fill_random(src, 1);
  fill_random(self, 2);
  ImageQ4 before(self);
  self.InBlend(0.0f, &src);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(self.storage[i].a, before.storage[i].a);
  self.InBlend(1.0f, &src);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(self.storage[i].r, src.storage[i].r);
    EXPECT_EQ(self.storage[i].a, src.storage[i].a);
  }
  self.Fill(1001, 0, 32767, 10);
  src.Fill(2000, 32767, 0, 20);
  self.InBlend(0.5f, &src);
  EXPECT_EQ(self.rows[1][2].r, 1500);  // (int)(1000 + 500.5)
  EXPECT_EQ(self.rows[1][2].g, 16383);
  EXPECT_EQ(self.rows[1][2].b, 16383);
  EXPECT_EQ(self.rows[1][2].a, 15);
  self.InBlend(3.0f, &src);  // a factor far outside 0..1 stays in the sample range
  EXPECT_EQ(self.rows[0][0].g, 65535);
  EXPECT_EQ(self.rows[0][0].b, 0);
}

TEST_F(PixelOpsTest, BlendBackWeights) {
  use_workers(3);
  ImageQ4 self(4, 5, 1.0f, nullptr, nullptr), src(4, 5, 1.0f, nullptr, nullptr);
  fill_random(self, 3);
  ImageQ4 before(self);
  src.Fill(32767, 32767, 32767, 32767);
  self.BlendBack(0.0f, &src);  // weight 32768 on this image
  for (int i = 0; i < 20; ++i) EXPECT_EQ(self.storage[i].g, before.storage[i].g);
  self.BlendBack(1.0f, &src);
  for (int i = 0; i < 20; ++i)
    EXPECT_EQ(self.storage[i].r, (32767 * 32767 + before.storage[i].r) >> 15);
  self.Fill(1000, 1000, 1000, 1000);
  self.BlendBackCol(0.25f, PixelQ4{32767, 0, 20000, 0});
  const int a = static_cast<int>(32767 * 0.25f), c = 32768 - a;
  EXPECT_EQ(self.rows[4][3].r, (32767 * a + 1000 * c) >> 15);
  EXPECT_EQ(self.rows[4][3].g, (1000 * c) >> 15);
  EXPECT_EQ(self.rows[0][0].b, (20000 * a + 1000 * c) >> 15);
  EXPECT_EQ(self.background.b, 20000);
}

TEST_F(PixelOpsTest, CutOutKeysAndAlphaModes) {
  ImageQ4 matte(2, 1, 1.0f, nullptr, nullptr);
  matte.rows[0][0] = PixelQ4{100, 200, 300, 16384};
  matte.rows[0][1] = PixelQ4{32767, 32767, 32767, 8192};
  ImageQ4 self(2, 1, 1.0f, nullptr, nullptr);
  self.Fill(20000, 10000, 30000, 32767);
  self.CutOut(&matte, 3, 0, 1);  // matte alpha multiplies RGB and becomes A
  EXPECT_EQ(self.rows[0][0].r, (20000 * 16384) >> 15);
  EXPECT_EQ(self.rows[0][0].a, 16384);
  EXPECT_EQ(self.rows[0][1].b, (30000 * 8192) >> 15);
  self.Fill(20000, 10000, 30000, 32767);
  self.CutOut(&matte, 4, 1, 0);  // inverted luminance, alpha scaled
  unsigned short l;
  matte.rows[0][0].GetLuminance(l);
  const int m = 32767 - l;
  EXPECT_EQ(self.rows[0][0].g, (10000 * m) >> 15);
  EXPECT_EQ(self.rows[0][0].a, (32767 * m) >> 15);
  self.Fill(20000, 10000, 30000, 32767);
  self.CutOut(&matte, 0, 0, 2);  // red key, alpha from the matte's alpha
  EXPECT_EQ(self.rows[0][1].a, (32767 * 8192) >> 15);
  self.Fill(20000, 10000, 30000, 32767);
  self.CutOut(&matte, 1, 0, 9);  // other modes keep alpha
  EXPECT_EQ(self.rows[0][0].a, 32767);
  self.Fill(5, 5, 5, 5);
  EXPECT_EQ(self.CutOut(&matte, 9, 0, 0), 0);  // no key: unchanged
  EXPECT_EQ(self.rows[0][0].r, 5);
}

TEST_F(PixelOpsTest, FillsTablesAndNegative) {
  ImageQ4 image(3, 3, 1.0f, nullptr, nullptr);
  image.Fill(1, 2, 3, 4);
  EXPECT_EQ(image.rows[2][2].b, 3);
  image.FillChannel(99, 3);
  EXPECT_EQ(image.rows[1][1].a, 99);
  image.FillChannel(77, 7);
  EXPECT_EQ(image.rows[1][1].r, 1);
  EXPECT_EQ(image.rows[1][1].a, 99);
  std::vector<unsigned short> invert(32768);
  for (int i = 0; i < 32768; ++i) invert[i] = static_cast<unsigned short>(32767 - i);
  image.ApplyLUT(invert.data(), nullptr, invert.data(), invert.data());
  EXPECT_EQ(image.rows[0][1].r, 32766);
  EXPECT_EQ(image.rows[0][1].g, 2);
  EXPECT_EQ(image.rows[0][1].a, 32767 - 99);
  ImageQ4 empty(0, 0, 1.0f, nullptr, nullptr);
  empty.Fill(1, 1, 1, 1);  // no rows: nothing to fill
}

TEST_F(PixelOpsTest, NegativeInPlaceKeepsCallerStorage) {
  use_workers(2);
  std::vector<PixelQ4> block(6, PixelQ4{0, 100, 32767, 5});
  ImageQ4* image = new ImageQ4(3, 2, 1.0f, block.data(), nullptr);
  image->Negative(nullptr);
  EXPECT_EQ(image->storage, block.data());
  EXPECT_EQ(image->owns_storage, 0);
  delete image;
  EXPECT_EQ(block[5].r, 32767);
  EXPECT_EQ(block[5].g, 32667);
  EXPECT_EQ(block[5].b, 0);
  EXPECT_EQ(block[5].a, 32762);
}

TEST_F(PixelOpsTest, ToneCurveValuesAndInverse) {
  EXPECT_FLOAT_EQ(ImageQ4::hyperb(0.5f, 1.0f), 0.5f);
  EXPECT_FLOAT_EQ(ImageQ4::hyperb(1.5f, 1.0f), 1.5f);  // no curve, no clamp
  EXPECT_FLOAT_EQ(ImageQ4::hyperb(1.0f, 4.0f), 1.0f);
  EXPECT_FLOAT_EQ(ImageQ4::hyperb(0.0f, 4.0f), 0.0f);
  EXPECT_NEAR(ImageQ4::hyperb(0.5f, 4.0f), 0.0588235, 1e-6);  // (1/2.125 - 0.25) / 3.75
  for (float g : {4.0f, 20.0f, 80.0f, 100.0f})
    for (float x = 0.0f; x <= 1.0f; x += 0.0625f)
      EXPECT_NEAR(ImageQ4::invhyperb(ImageQ4::hyperb(x, g), g), x, 2e-3) << g << " " << x;
}

TEST_F(PixelOpsTest, ColourDifferencePlanesRoundTrip) {
  for (float curve : {1.0f, 4.0f}) {
    ImageQ4 src(17, 9, 1.0f, nullptr, nullptr), dst(17, 9, 1.0f, nullptr, nullptr);
    fill_random(src, 8);
    dst.Fill(0, 0, 0, 1234);
    std::vector<float> lum(17 * 9), c1(17 * 9), c2(17 * 9), alpha(17 * 9);
    src.to_colour_diff(&src, lum.data(), c1.data(), c2.data(), curve);
    dst.from_colour_diff(&dst, lum.data(), c1.data(), c2.data(), curve);
    const int tolerance = curve == 1.0f ? 1 : 4;  // the curve flattens darks
    for (int i = 0; i < 17 * 9; ++i) {
      ASSERT_NEAR(dst.storage[i].r, src.storage[i].r, tolerance) << i;
      ASSERT_NEAR(dst.storage[i].g, src.storage[i].g, tolerance) << i;
      ASSERT_NEAR(dst.storage[i].b, src.storage[i].b, tolerance) << i;
      ASSERT_EQ(dst.storage[i].a, 1234);
      ASSERT_GE(c1[i], 0.0f);
      ASSERT_LE(c1[i], 1.0f);
    }
    src.get_alpha(&src, alpha.data(), curve);
    dst.put_alpha(&dst, alpha.data(), curve);
    for (int i = 0; i < 17 * 9; ++i) ASSERT_NEAR(dst.storage[i].a, src.storage[i].a, tolerance);
  }
}
