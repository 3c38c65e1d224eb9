#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "failing_heap.h"
#include "image_delace.h"
#include "image_mirror.h"
#include "image_pattern.h"
#include "image_range.h"
#include "image_stats.h"

namespace {

struct StatsDeleter {
  void operator()(image_stats* s) const { image_stats_delete(s); }
};
typedef std::unique_ptr<image_stats, StatsDeleter> StatsPtr;

}  // namespace

TEST(Stats, MeasuresEveryChannelAgainstALoop) {
  ImagePtr two = make(2, 1, 1, IMAGE_PIXEL_BYTE);
  px<uint8_t>(two)[0] = 10;
  px<uint8_t>(two)[1] = 20;
  StatsPtr s(image_stats_create(two.get()));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->channels, 1);
  EXPECT_EQ(s->min[0], 10.0);
  EXPECT_EQ(s->max[0], 20.0);
  EXPECT_EQ(s->mean[0], 15.0);
  EXPECT_EQ(s->variance[0], 25.0);

  for (int type : kAllTypes) {
    ImagePtr img = make(13, 7, 3, type);
    fill_pattern(img, 77 + type);
    StatsPtr st(image_stats_create(img.get()));
    ASSERT_TRUE(st);
    for (int c = 0; c < 3; ++c) {
      double lo = 1e300, hi = -1e300, sum = 0, sq = 0;
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 13; ++x) {
          const double v = sample(img.get(), x, y, c);
          lo = std::min(lo, v);
          hi = std::max(hi, v);
          sum += v;
          sq += v * v;
        }
      const double mean = sum / 91;
      EXPECT_EQ(st->min[c], lo) << type;
      EXPECT_EQ(st->max[c], hi) << type;
      EXPECT_NEAR(st->mean[c], mean, std::fabs(mean) * 1e-12) << type;
      EXPECT_NEAR(st->variance[c], sq / 91 - mean * mean, hi * hi * 1e-10) << type;
    }
  }
  EXPECT_EQ(image_stats_create(nullptr), nullptr);
  image_stats_delete(nullptr);
}

TEST(Stats, EveryFailedAllocationGivesNullWithoutLeaks) {
  ImagePtr img = make(4, 4, 2, IMAGE_PIXEL_WORD);
  fill_pattern(img);
  for (int grants = 0; grants < 5; ++grants) {
    FailingHeap heap(grants);
    EXPECT_EQ(image_stats_create(img.get()), nullptr) << grants;
  }
  FailingHeap heap(5);
  StatsPtr s(image_stats_create(img.get()));
  EXPECT_TRUE(s);
}

TEST(Mirror, FlipsMatchIndexFormulasAndTwiceGiveBackTheSource) {
  const int sizes[][2] = {{1, 1}, {1, 4}, {5, 1}, {6, 3}, {7, 4}};
  for (int type : kAllTypes)
    for (const auto& size : sizes) {
      const int w = size[0], h = size[1];
      ImagePtr src = make(w, h, 3, type);
      fill_pattern(src, 5 + w * h);
      ImagePtr x(image_mirror_in_x_new(src.get())), y(image_mirror_in_y_new(src.get()));
      ASSERT_TRUE(x && y);
      for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
          for (int k = 0; k < 3; ++k) {
            ASSERT_EQ(sample(x.get(), w - 1 - c, r, k), sample(src.get(), c, r, k)) << type << " " << w << "x" << h;
            ASSERT_EQ(sample(y.get(), c, h - 1 - r, k), sample(src.get(), c, r, k)) << type << " " << w << "x" << h;
          }
      image_mirror_in_x(x.get());
      image_mirror_in_y(y.get());
      EXPECT_TRUE(same_pixels(x, src)) << type << " " << w << "x" << h;
      EXPECT_TRUE(same_pixels(y, src)) << type << " " << w << "x" << h;
    }
  EXPECT_EQ(image_mirror_in_x_new(nullptr), nullptr);
  EXPECT_EQ(image_mirror_in_y_new(nullptr), nullptr);
  image_mirror_in_x(nullptr);
}

TEST(Delace, RebuildsOneParityFromItsNeighbours) {
  // Rows 0..3 of one column hold 10, 21, 30, 41.
  ImagePtr src = make(1, 4, 1, IMAGE_PIXEL_BYTE), dst = make(1, 4, 1, IMAGE_PIXEL_BYTE);
  const uint8_t rows[] = {10, 21, 30, 41};
  for (int r = 0; r < 4; ++r) px<uint8_t>(src)[r] = rows[r];
  struct Case {
    int field;
    bool f1, f2;
    uint8_t expect[4];
  } cases[] = {
      {0, false, false, {15, 21, 31, 41}},  // rows 0, 2: (10+21)/2, (21+41)/2
      {1, false, false, {10, 20, 30, 35}},  // rows 1, 3: (10+30)/2, last (41+30)/2
      {0, true, false, {10, 20, 30, 35}},
      {1, true, false, {15, 21, 31, 41}},
      {1, true, true, {10, 20, 30, 35}},
      {7, false, true, {10, 20, 30, 35}},  // fields other than 1 count as 0
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(image_delace(src.get(), dst.get(), c.field, c.f1, c.f2));
    for (int r = 0; r < 4; ++r) EXPECT_EQ(px<uint8_t>(dst)[r], c.expect[r]) << c.field << c.f1 << c.f2 << " row " << r;
  }
  // word32 halves before adding, so two odd values lose one; float is exact.
  ImagePtr w32 = make(1, 2, 1, IMAGE_PIXEL_WORD32), w32d = make(1, 2, 1, IMAGE_PIXEL_WORD32);
  px<uint32_t>(w32)[0] = 4294967295u;
  px<uint32_t>(w32)[1] = 4294967293u;
  ASSERT_TRUE(image_delace(w32.get(), w32d.get(), 0, false, false));
  EXPECT_EQ(px<uint32_t>(w32d)[0], 4294967293u);
  ImagePtr f = make(1, 2, 1, IMAGE_PIXEL_FLOAT), fd = make(1, 2, 1, IMAGE_PIXEL_FLOAT);
  px<float>(f)[0] = 0.25f;
  px<float>(f)[1] = 1.0f;
  ASSERT_TRUE(image_delace(f.get(), fd.get(), 1, false, false));
  EXPECT_EQ(px<float>(fd)[1], 0.625f);

  ImagePtr other = make(1, 4, 2, IMAGE_PIXEL_BYTE);
  EXPECT_FALSE(image_delace(src.get(), other.get(), 0, false, false));
  EXPECT_FALSE(image_delace(nullptr, dst.get(), 0, false, false));
  EXPECT_FALSE(image_relace(src.get(), other.get(), dst.get(), false, false));
  EXPECT_FALSE(image_relace(src.get(), src.get(), nullptr, false, false));
}

TEST(Delace, RelaceOfBothFieldsRestoresTheFrame) {
  const int heights[] = {1, 2, 5, 8};
  for (int type : kAllTypes)
    for (int h : heights)
      for (int flags = 0; flags < 4; ++flags) {
        const bool f1 = flags & 1, f2 = flags & 2;
        ImagePtr src = make(5, h, 3, type), d0 = make(5, h, 3, type), d1 = make(5, h, 3, type), out = make(5, h, 3, type);
        fill_pattern(src, 31 * h + flags);
        ASSERT_TRUE(image_delace(src.get(), d0.get(), 0, f1, f2));
        ASSERT_TRUE(image_delace(src.get(), d1.get(), 1, f1, f2));
        ASSERT_TRUE(image_relace(d0.get(), d1.get(), out.get(), f1, f2));
        EXPECT_TRUE(same_pixels(out, src)) << type << " h" << h << " flags " << flags;
        // Into one of the fields, too.
        ASSERT_TRUE(image_relace(d0.get(), d1.get(), d0.get(), f1, f2));
        EXPECT_TRUE(same_pixels(d0, src)) << type << " h" << h << " flags " << flags;
      }
}

TEST(Range, GetSetAndNormalise) {
  ImagePtr b = make(3, 1, 1, IMAGE_PIXEL_BYTE);
  const uint8_t tens[] = {10, 20, 30};
  std::copy(tens, tens + 3, px<uint8_t>(b));
  ASSERT_TRUE(image_set_range(b.get(), 0, 255));
  EXPECT_EQ(px<uint8_t>(b)[0], 0);
  EXPECT_EQ(px<uint8_t>(b)[1], 128);  // 127.5 rounds up
  EXPECT_EQ(px<uint8_t>(b)[2], 255);
  EXPECT_EQ(b->range_min, 10.0);  // the measured range stays
  EXPECT_EQ(b->range_max, 30.0);
  EXPECT_EQ(b->range_valid, 1u);

  // Targets clamp to 255 and 0, then swap.
  std::copy(tens, tens + 3, px<uint8_t>(b));
  ASSERT_TRUE(image_set_range(b.get(), 300, -5));
  EXPECT_EQ(px<uint8_t>(b)[0], 0);
  EXPECT_EQ(px<uint8_t>(b)[2], 255);

  // No extent: the new minimum everywhere.
  ImagePtr sevens = make(4, 3, 2, IMAGE_PIXEL_BYTE);
  image_data_fill(sevens.get(), 7);
  ASSERT_TRUE(image_set_range(sevens.get(), 40, 90));
  for (int i = 0; i < 24; ++i) ASSERT_EQ(px<uint8_t>(sevens)[i], 40);
  std::copy(tens, tens + 3, px<uint8_t>(b));
  ASSERT_TRUE(image_set_range(b.get(), 60, 60));
  EXPECT_EQ(px<uint8_t>(b)[2], 60);

  // word32: 13 x (4294967295 / 13) lands an ulp above the limit.
  ImagePtr w = make(2, 1, 1, IMAGE_PIXEL_WORD32);
  px<uint32_t>(w)[0] = 100;
  px<uint32_t>(w)[1] = 113;
  ASSERT_TRUE(image_set_range(w.get(), -1, 5e9));
  EXPECT_EQ(px<uint32_t>(w)[0], 0u);
  EXPECT_EQ(px<uint32_t>(w)[1], 4294967295u);

  // Normalising spans each type's full scale, all channels together.
  for (int type : kAllTypes) {
    ImagePtr img = make(9, 5, 2, type);
    fill_pattern(img, 3);
    ASSERT_TRUE(image_get_range(img.get()));
    const double lo = img->range_min, hi = img->range_max;
    ASSERT_LT(lo, hi);
    std::vector<double> before(90);
    for (int i = 0; i < 90; ++i) before[i] = sample(img.get(), i);
    ASSERT_TRUE(image_normalize(img.get(), true));
    ASSERT_TRUE(image_get_range(img.get()));
    EXPECT_EQ(img->range_min, 0.0) << type;
    // word32 truncates, so its top may land one below the full scale.
    EXPECT_NEAR(img->range_max, image_full_scale(type), type == IMAGE_PIXEL_WORD32 ? 1.0 : 0.0) << type;
    for (int i = 0; i < 90; ++i)
      ASSERT_NEAR(sample(img.get(), i), (before[i] - lo) / (hi - lo) * image_full_scale(type),
                  type == IMAGE_PIXEL_FLOAT ? 1e-6 : 1.0)
          << type;
  }
  EXPECT_FALSE(image_get_range(nullptr));
  EXPECT_FALSE(image_set_range(nullptr, 0, 1));
  EXPECT_FALSE(image_normalize(nullptr, false));
}
