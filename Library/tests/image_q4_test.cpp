#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "ImageQ4.h"
#include "frame_fixture.h"

namespace {

typedef FrameTest ImageQ4Test;

// Deterministic, varied pixels (full 15-bit range) for operation tests.
void fill_pattern(ImageQ4& image, unsigned seed) {
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const unsigned v = (x * 2654435761u + y * 40503u + seed * 977u);
      image.rows[y][x] = PixelQ4{static_cast<unsigned short>(v % 32768),
                                 static_cast<unsigned short>((v >> 7) % 32768),
                                 static_cast<unsigned short>((v >> 13) % 32768),
                                 static_cast<unsigned short>((v >> 3) % 32768)};
    }
}

bool same_pixel(const PixelQ4& a, const PixelQ4& b) {
  return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a;
}

}  // namespace

TEST_F(ImageQ4Test, OwnStorageIsOneRowMajorBlock) {
  ImageQ4 image(360L, 5L, 2.0f, nullptr, nullptr);
  EXPECT_EQ(image.owns_storage, 1);
  ASSERT_NE(image.storage, nullptr);
  for (int y = 0; y < 5; ++y) EXPECT_EQ(image.rows[y], image.storage + y * 360);
  EXPECT_EQ(image.width, 360);
  EXPECT_EQ(image.height, 5);
  EXPECT_FLOAT_EQ(image.scale, 2.0f);  // 720 / width
  EXPECT_DOUBLE_EQ(image.pixel_aspect, 1.0);  // the aspect argument is not used
  EXPECT_EQ(image.gamma_table, nullptr);
  EXPECT_TRUE(same_pixel(image.background, PixelQ4{0, 0, 0, 0}));
  // Pixels of their own, and of a copy, start on a 64-byte cache line
  // (large blocks of the C library start 16 bytes into a page); the last
  // pixel is still inside the block.
  for (int w : {1, 3, 360, 1920, 2048}) {
    ImageQ4 frame(w, 1080, 1.0f, nullptr, nullptr);
    ImageQ4 copy(frame);
    for (const ImageQ4* owned : {&frame, &copy}) {
      ASSERT_NE(owned->storage, nullptr) << w;
      EXPECT_EQ(reinterpret_cast<uintptr_t>(owned->storage) % 64, 0u) << w;
      owned->rows[1079][w - 1] = PixelQ4{1, 2, 3, 4};
    }
  }
}

TEST_F(ImageQ4Test, CallerStorageIsLeftToTheCaller) {
  std::vector<PixelQ4> block(4 * 3, PixelQ4{1, 2, 3, 4});
  ImageQ4* image = new ImageQ4(4, 3, 1.0f, block.data(), nullptr);
  EXPECT_EQ(image->owns_storage, 0);
  EXPECT_EQ(image->storage, block.data());
  EXPECT_EQ(image->rows[2], block.data() + 8);
  image->rows[2][3] = PixelQ4{9, 9, 9, 9};
  delete image;
  EXPECT_EQ(block[11].r, 9);  // still ours, still readable
  EXPECT_EQ(block[0].a, 4);
}

TEST_F(ImageQ4Test, CopyConstructorOwnsACopy) {
  ImageQ4 src(7, 6, 1.0f, nullptr, nullptr);
  fill_pattern(src, 1);
  src.pixel_aspect = 1.5;
  src.scale = 3.0f;
  src.background = PixelQ4{5, 5, 5, 5};
  ImageQ4 copy(src);
  EXPECT_EQ(copy.owns_storage, 1);
  EXPECT_NE(copy.storage, src.storage);
  EXPECT_EQ(0, std::memcmp(copy.storage, src.storage, 7 * 6 * sizeof(PixelQ4)));
  EXPECT_DOUBLE_EQ(copy.pixel_aspect, 1.5);
  EXPECT_FLOAT_EQ(copy.scale, 3.0f);
  EXPECT_TRUE(same_pixel(copy.background, PixelQ4{0, 0, 0, 0}));
}

TEST_F(ImageQ4Test, EmptyImagesHaveNoRows) {
  ImageQ4 empty(0, 5, 1.0f, nullptr, nullptr);
  EXPECT_EQ(empty.width, 0);
  EXPECT_EQ(empty.height, 0);
  ImageQ4 negative(-3L, -2L, 1.0f, nullptr, nullptr);
  EXPECT_EQ(negative.height, 0);
  ImageQ4 copy(empty);
  EXPECT_EQ(copy.width, 0);
}

TEST_F(ImageQ4Test, PointSampleAtIntegerPositionsAndEdges) {
  ImageQ4 image(5, 4, 1.0f, nullptr, nullptr);
  fill_pattern(image, 3);
  PixelQ4 out;
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) {
      image.PointSampleB(static_cast<float>(x), static_cast<float>(y), out);
      EXPECT_TRUE(same_pixel(out, image.rows[y][x]));
    }
  image.Fill(32000, 16000, 100, 32767);
  image.PointSampleB(4.5f, 2.0f, out);  // half the weight falls outside
  EXPECT_EQ(out.r, 16000);
  EXPECT_EQ(out.g, 8000);
  EXPECT_EQ(out.b, 50);
  EXPECT_EQ(out.a, 16383);
  image.PointSampleB(-1.0f, -1.0f, out);
  EXPECT_TRUE(same_pixel(out, PixelQ4{0, 0, 0, 0}));
  image.PointSampleB(-0.25f, 1.0f, out);  // three quarters of column 0
  EXPECT_EQ(out.r, 24000);
}

// On a flat image every interior sample returns the value exactly, which
// holds only if the four weights add up to exactly 32768.
TEST_F(ImageQ4Test, PointSampleWeightsSumToOne) {
  ImageQ4 image(9, 9, 1.0f, nullptr, nullptr);
  image.Fill(32767, 12345, 1, 7);
  std::srand(11);
  PixelQ4 out;
  for (int i = 0; i < 20000; ++i) {
    const float x = 8.0f * std::rand() / RAND_MAX, y = 8.0f * std::rand() / RAND_MAX;
    image.PointSampleB(x, y, out);
    ASSERT_TRUE(same_pixel(out, PixelQ4{32767, 12345, 1, 7})) << x << "," << y;
  }
}

TEST_F(ImageQ4Test, PointSampleMatchesBilinearInterpolation) {
  ImageQ4 image(6, 5, 1.0f, nullptr, nullptr);
  fill_pattern(image, 5);
  std::srand(13);
  PixelQ4 out;
  for (int i = 0; i < 5000; ++i) {
    const float x = 5.0f * std::rand() / RAND_MAX, y = 4.0f * std::rand() / RAND_MAX;
    image.PointSampleB(x, y, out);
    const int x0 = static_cast<int>(x), y0 = static_cast<int>(y);
    const double fx = x - x0, fy = y - y0;
    auto at = [&](int xx, int yy) -> double {
      return (xx < image.width && yy < image.height) ? image.rows[yy][xx].g : 0.0;
    };
    const double expect = at(x0, y0) * (1 - fx) * (1 - fy) + at(x0 + 1, y0) * fx * (1 - fy) +
                          at(x0, y0 + 1) * (1 - fx) * fy + at(x0 + 1, y0 + 1) * fx * fy;
    EXPECT_NEAR(out.g, expect, 3.0);
  }
  PixelQ4 area;
  image.AreaSampleB(1.0f, 1.0f, 2.0f, 3.0f, area);
  image.PointSampleB(1.5f, 2.0f, out);
  EXPECT_TRUE(same_pixel(area, out));
}

TEST_F(ImageQ4Test, PointSampleRefusesNonFiniteAndHugeCoordinates) {
  ImageQ4 image(4, 4, 1.0f, nullptr, nullptr);
  image.Fill(100, 200, 300, 400);
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (float bad : {nan, inf, -inf, 1e30f, -1e30f, 3e9f}) {
    PixelQ4 out{1, 1, 1, 1};
    image.PointSampleB(bad, 1.0f, out);
    EXPECT_TRUE(same_pixel(out, PixelQ4{0, 0, 0, 0}));
    out = PixelQ4{1, 1, 1, 1};
    image.PointSampleB(1.0f, bad, out);
    EXPECT_TRUE(same_pixel(out, PixelQ4{0, 0, 0, 0}));
  }
}

TEST_F(ImageQ4Test, CopyValuesWithGains) {
  ImageQ4 src(3, 2, 1.0f, nullptr, nullptr), dst(3, 2, 1.0f, nullptr, nullptr);
  fill_pattern(src, 2);
  dst.CopyValues(&src, 1.0f, 1.0f, 1.0f, 1.0f);
  EXPECT_EQ(0, std::memcmp(dst.storage, src.storage, 3 * 2 * sizeof(PixelQ4)));
  src.Fill(20000, 3, 32767, 100);
  dst.CopyValues(&src, 2.0f, 0.5f, -1.0f, 1.0f);
  EXPECT_EQ(dst.rows[1][2].r, 32767);
  EXPECT_EQ(dst.rows[1][2].g, 1);
  EXPECT_EQ(dst.rows[1][2].b, 0);
  EXPECT_EQ(dst.rows[1][2].a, 100);
  dst.CopyValues(nullptr, 1.0f, 1.0f, 1.0f, 1.0f);  // nothing happens
  EXPECT_EQ(dst.rows[0][0].r, 32767);
}

TEST_F(ImageQ4Test, CopyValuesCoversOnlyTheCommonSize) {
  ImageQ4 big(9, 7, 1.0f, nullptr, nullptr), small(4, 3, 1.0f, nullptr, nullptr);
  big.Fill(1, 1, 1, 1);
  small.Fill(5, 5, 5, 5);
  small.CopyValues(&big, 1.0f, 1.0f, 1.0f, 1.0f);  // would write past small
  EXPECT_EQ(small.rows[2][3].r, 1);
  big.Fill(1, 1, 1, 1);
  small.Fill(5, 5, 5, 5);
  big.CopyValues(&small, 2.0f, 2.0f, 2.0f, 2.0f);  // would read past small
  EXPECT_EQ(big.rows[2][3].r, 10);
  EXPECT_EQ(big.rows[2][4].r, 1);
  EXPECT_EQ(big.rows[3][0].r, 1);
}

// Every whole-image operation must give the same pixels on any number of
// workers, including more workers than rows and a process count of 0.
TEST_F(ImageQ4Test, BandedOperationsMatchSerialResults) {
  for (int height : {1, 2, 3, 10, 37}) {
    ImageQ4 src(13, height, 1.0f, nullptr, nullptr), matte(13, height, 1.0f, nullptr, nullptr);
    fill_pattern(src, 21);
    fill_pattern(matte, 22);
    std::vector<PixelQ4> reference;
    for (int workers : {1, 3, 4, 7, 16, 0, -2}) {
      standin_set_processes(workers < 1 ? 1 : workers);
      DLnumProc = workers;
      ImageQ4 dst(13, height, 1.0f, nullptr, nullptr);
      fill_pattern(dst, 23);
      dst.Merge(&src, &matte, true, 1);
      dst.UseHSV(&src);
      dst.CopyLumaToChannel(&matte, 1);
      dst.MapGamma_Alpha(&matte, 2.2f);
      dst.Negative(nullptr);
      std::vector<PixelQ4> result(dst.storage, dst.storage + 13 * height);
      if (reference.empty()) {
        reference = result;
        continue;
      }
      ASSERT_EQ(0, std::memcmp(result.data(), reference.data(), result.size() * sizeof(PixelQ4)))
          << "height " << height << " workers " << workers;
    }
  }
}

TEST_F(ImageQ4Test, ChannelCopies) {
  use_workers(3);
  ImageQ4 src(5, 4, 1.0f, nullptr, nullptr), base(5, 4, 1.0f, nullptr, nullptr);
  fill_pattern(src, 31);
  fill_pattern(base, 32);
  struct Case {
    int (ImageQ4::*op)(ImageQ4*);
    bool r, g, b, a;
  } cases[] = {{&ImageQ4::CopyAlpha, false, false, false, true},
               {&ImageQ4::CopyRGB, true, true, true, false},
               {&ImageQ4::CopyR, true, false, false, false},
               {&ImageQ4::CopyG, false, true, false, false},
               {&ImageQ4::CopyB, false, false, true, false}};
  for (const Case& c : cases) {
    ImageQ4 dst(base);
    (dst.*c.op)(&src);
    for (int i = 0; i < 20; ++i) {
      const PixelQ4 &d = dst.storage[i], &s = src.storage[i], &o = base.storage[i];
      EXPECT_EQ(d.r, c.r ? s.r : o.r);
      EXPECT_EQ(d.g, c.g ? s.g : o.g);
      EXPECT_EQ(d.b, c.b ? s.b : o.b);
      EXPECT_EQ(d.a, c.a ? s.a : o.a);
    }
  }
  for (int channel = 0; channel < 6; ++channel) {
    ImageQ4 dst(base);
    dst.CopyLumaToChannel(&src, channel);
    for (int i = 0; i < 20; ++i) {
      unsigned short l;
      src.storage[i].GetLuminance(l);
      const PixelQ4 &d = dst.storage[i], &o = base.storage[i];
      EXPECT_EQ(d.r, channel == 0 ? l : o.r);
      EXPECT_EQ(d.g, channel == 1 ? l : o.g);
      EXPECT_EQ(d.b, channel == 2 ? l : o.b);
      EXPECT_EQ(d.a, channel == 3 ? l : o.a);
    }
  }
}

TEST_F(ImageQ4Test, HsvImagesFollowThePixelOperations) {
  use_workers(2);
  ImageQ4 src(6, 5, 1.0f, nullptr, nullptr), dst(6, 5, 1.0f, nullptr, nullptr);
  fill_pattern(src, 41);
  dst.UseHSV(&src);
  for (int i = 0; i < 30; ++i) {
    PixelQ4 e;
    src.storage[i].GetHSV(e.r, e.g, e.b);
    EXPECT_EQ(dst.storage[i].r, e.r);
    EXPECT_EQ(dst.storage[i].b, e.b);
    EXPECT_EQ(dst.storage[i].a, src.storage[i].a);
  }
  ImageQ4 back(6, 5, 1.0f, nullptr, nullptr);
  back.ReplaceHSV(&dst);
  for (int i = 0; i < 30; ++i) {
    PixelQ4 e = dst.storage[i];
    e.SetHSV(dst.storage[i].r, dst.storage[i].g, dst.storage[i].b);
    EXPECT_TRUE(same_pixel(back.storage[i], e));
  }
}

TEST_F(ImageQ4Test, MergeThroughTheMatteRed) {
  ImageQ4 self(2, 1, 1.0f, nullptr, nullptr), other(2, 1, 1.0f, nullptr, nullptr),
      matte(2, 1, 1.0f, nullptr, nullptr);
  other.Fill(1000, 2000, 3000, 4000);
  matte.rows[0][0] = PixelQ4{32767, 0, 0, 0};  // full red keeps this image
  matte.rows[0][1] = PixelQ4{0, 32767, 32767, 32767};  // black red takes other
  self.Fill(20000, 20000, 20000, 20000);
  self.Merge(&other, &matte, true, 0);
  EXPECT_EQ(self.rows[0][0].r, (20000 * 32767) >> 15);
  EXPECT_EQ(self.rows[0][1].g, (2000 * 32767) >> 15);
  EXPECT_EQ(self.rows[0][1].a, 20000);  // with_alpha 0 keeps alpha
  self.Fill(20000, 20000, 20000, 20000);
  self.Merge(&other, &matte, false, 1);  // inverted matte, alpha merged too
  EXPECT_EQ(self.rows[0][0].b, (3000 * 32767) >> 15);
  EXPECT_EQ(self.rows[0][0].a, (4000 * 32767) >> 15);
  matte.Fill(16384, 0, 0, 0);
  self.Fill(30000, 0, 0, 0);
  self.Merge(&other, &matte, true, 0);
  EXPECT_EQ(self.rows[0][1].r, (30000 * 16384 + 1000 * 16383) >> 15);
}

TEST_F(ImageQ4Test, GammaMapsThroughOneReusedTable) {
  ImageQ4 src(4, 1, 1.0f, nullptr, nullptr), dst(4, 1, 1.0f, nullptr, nullptr);
  src.rows[0][0] = PixelQ4{0, 32767, 8192, 40000};
  src.rows[0][1] = PixelQ4{1, 16384, 100, 32767};
  dst.MapGamma_RGBA(&src, 1.0f);
  EXPECT_EQ(dst.rows[0][0].r, 0);
  EXPECT_EQ(dst.rows[0][0].g, 32767);
  EXPECT_EQ(dst.rows[0][0].a, 32767);  // above range reads as 32767
  int* table = dst.gamma_table;
  ASSERT_NE(table, nullptr);
  dst.MapGamma_RGBA(&src, 2.0f);
  EXPECT_EQ(dst.gamma_table, table);
  for (int c = 0; c < 2; ++c) {
    const PixelQ4& s = src.rows[0][c];
    const PixelQ4& d = dst.rows[0][c];
    for (auto pair : {std::make_pair(s.r, d.r), std::make_pair(s.g, d.g), std::make_pair(s.b, d.b)}) {
      const double expect = std::min(std::sqrt(pair.first / 32767.0) * 32768.0 + 0.5, 32768.0);
      EXPECT_NEAR(pair.second, std::min(std::floor(expect), 32767.0), 1.0);
    }
  }
  dst.Fill(11, 22, 33, 44);
  dst.MapGamma_Alpha(&src, 1.0f);
  EXPECT_EQ(dst.rows[0][1].r, 11);
  EXPECT_EQ(dst.rows[0][1].a, 32767);
  EXPECT_EQ(dst.rows[0][0].a, 32767);
}

TEST_F(ImageQ4Test, OperationsOnSmallerSourcesStayInside) {
  use_workers(3);
  ImageQ4 big(8, 6, 1.0f, nullptr, nullptr), small(3, 2, 1.0f, nullptr, nullptr);
  big.Fill(7, 7, 7, 7);
  small.Fill(100, 200, 300, 400);
  big.CopyRGB(&small);
  big.Merge(&small, &small, true, 1);
  big.Negative(&small);
  EXPECT_EQ(big.rows[1][2].r, 32767 - 100);
  EXPECT_EQ(big.rows[2][0].r, 7);
  EXPECT_EQ(big.rows[0][3].r, 7);
  EXPECT_EQ(big.CopyAlpha(nullptr), 0);
}
