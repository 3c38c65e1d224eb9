// Image pyramid: level sizes, which levels a footprint reads and how they
// blend, corner-aligned positions, refusals and levels that cannot be made.
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "failing_heap.h"
#include "image_pattern.h"
#include "image_sample.h"
#include "imagelib_kernel.h"
#include "imagelib_pyramid.h"

namespace {

typedef std::unique_ptr<ImagelibPyramid> PyramidPtr;

PyramidPtr pyramid_of(const ImagePtr& src, int kernel_type = IMAGELIB_KERNEL_LINEAR, bool copy = true) {
  return PyramidPtr(new ImagelibPyramid(src.get(), kernel_type, IMAGELIB_EDGE_CLAMP, copy));
}

// The levels' sizes, finest first.
std::vector<std::pair<int, int>> sizes_of(const ImagelibPyramid& p) {
  std::vector<std::pair<int, int>> sizes;
  for (int k = 0; k <= p.top_level(); ++k) sizes.emplace_back(p.get_level(k)->width, p.get_level(k)->height);
  return sizes;
}

}  // namespace

TEST(Pyramid, LevelsHalveUntilTheShorterSideIsTwoOrThree) {
  typedef std::vector<std::pair<int, int>> Sizes;
  struct Case {
    int w, h;
    Sizes sizes;
  } cases[] = {
      {64, 64, {{64, 64}, {32, 32}, {16, 16}, {8, 8}, {4, 4}, {2, 2}}},
      {100, 64, {{100, 64}, {50, 32}, {25, 16}, {12, 8}, {6, 4}, {3, 2}}},
      {3, 100, {{3, 100}}},
      {7, 5, {{7, 5}, {3, 2}}},
      {4, 4, {{4, 4}, {2, 2}}},
      {1, 1, {{1, 1}}},
      {65535, 3, {{65535, 3}}},
  };
  for (const Case& c : cases) {
    for (int type : kAllTypes) {
      ImagePtr src = make(c.w, c.h, 3, type);
      image_data_fill(src.get(), 7);
      const PyramidPtr p = pyramid_of(src);
      EXPECT_EQ(p->top_level(), static_cast<int>(c.sizes.size()) - 1) << c.w << "x" << c.h;
      EXPECT_EQ(sizes_of(*p), c.sizes) << c.w << "x" << c.h;
      for (int k = 0; k <= p->top_level(); ++k) {
        const image_data* level = p->get_level(k);
        EXPECT_EQ(level->channels, 3);
        EXPECT_EQ(level->pixel_type, type);
        // A constant image gives constant levels.
        for (int i = 0; i < level->width * level->height * 3; ++i) ASSERT_EQ(sample(level, i), 7) << k;
      }
      EXPECT_EQ(p->get_level(-1), nullptr);
      EXPECT_EQ(p->get_level(p->top_level() + 1), nullptr);
    }
  }
  // With copy, level 0 is the pyramid's own; without, the source itself.
  ImagePtr src = make(20, 12, 2, IMAGE_PIXEL_BYTE);
  fill_pattern(src, 1);
  const PyramidPtr owned = pyramid_of(src, 1, true), borrowed = pyramid_of(src, 1, false);
  EXPECT_NE(owned->get_level(0), src.get());
  EXPECT_EQ(0, std::memcmp(owned->get_level(0)->pixels, src->pixels, 20 * 12 * 2));
  EXPECT_EQ(borrowed->get_level(0), src.get());
}

// Level k filled with 1000 k: a footprint of length s reads level log2(s),
// blending the two around it, and the coarsest level alone from 2^top up.
// The box kernel averages its taps, so a constant level reads back exactly
// at any position.
TEST(Pyramid, FootprintsPickAndBlendLevels) {
  for (int type : {IMAGE_PIXEL_WORD, IMAGE_PIXEL_FLOAT}) {
    ImagePtr src = make(64, 64, 2, type);
    const PyramidPtr p = pyramid_of(src, IMAGELIB_KERNEL_BOX);
    ASSERT_EQ(p->top_level(), 5);
    for (int k = 0; k <= 5; ++k) image_data_fill(p->get_level(k), 1000.0 * k);
    struct Case {
      double dx, dy, expected;
    } cases[] = {
        {0, 0, 0},        {1, 0, 0},      {0.5, 0.5, 0},        {-0.7, 0.3, 0},
        {2, 0, 1000},     {0, -2, 1000},  {1, 1, 500},          {3, 0, 1000 * std::log2(3.0)},
        {4, 0, 2000},     {32, 0, 5000},  {48, 0, 5000},        {0, 40, 5000},
        {100, 100, 5000}, {INFINITY, 0, 5000},
        {NAN, 3, 0},      {2.0005, 0, 1000}, {3.999, 0, 2000},
    };
    for (const Case& c : cases)
      for (const auto& at : {std::make_pair(0.0, 0.0), std::make_pair(10.3, 40.7), std::make_pair(63.0, 5.5)}) {
        double out[3] = {-1, -1, -1};
        ASSERT_TRUE(p->lookup(at.first, at.second, c.dx, c.dy, out, 3));
        EXPECT_NEAR(out[0], c.expected, 1e-9) << type << " footprint " << c.dx << "," << c.dy;
        EXPECT_NEAR(out[1], c.expected, 1e-9) << type << " footprint " << c.dx << "," << c.dy;
        EXPECT_EQ(out[2], 0.0);  // beyond the image's channels: cleared
      }
    // The same in fractions of the spans, and in fractions of full scale.
    double out[2];
    ASSERT_TRUE(p->lookup_point_norm(0.5, 0.25, 2.0 / 63, 0, out, 2));
    EXPECT_NEAR(out[0], 1000, 1e-9);
    ASSERT_TRUE(p->lookup_value_norm(3, 3, 1, 1, out, 2));
    EXPECT_NEAR(out[0], 500 / image_full_scale(type), 1e-12);
    ASSERT_TRUE(p->lookup_point_norm_value_norm(0.1, 0.9, 0, 3.0 / 63, out, 2));
    EXPECT_NEAR(out[0], 1000 * std::log2(3.0) / image_full_scale(type), 1e-9);
  }
}

// Positions map corner to corner: the last pixel of level 0 is the last of
// every level, and a blend reads each level at its own scaled position.
TEST(Pyramid, PositionsAreCornerAligned) {
  for (int type : kAllTypes) {
    ImagePtr src = make(50, 30, 3, type);
    fill_pattern(src, 2 + type);
    const PyramidPtr p = pyramid_of(src);
    ImagelibKernel tent(IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP);
    double out[3], want[3];
    ASSERT_TRUE(p->lookup_point_norm(1, 1, 0, 0, out, 3));
    for (int c = 0; c < 3; ++c) EXPECT_EQ(out[c], sample(src.get(), 49, 29, c)) << type;
    ASSERT_TRUE(p->lookup_point_norm(0, 0, 0, 0, out, 3));
    for (int c = 0; c < 3; ++c) EXPECT_EQ(out[c], sample(src.get(), 0, 0, c)) << type;
    for (int k = 0; k <= p->top_level(); ++k) {
      const image_data* level = p->get_level(k);
      ASSERT_TRUE(p->interpolate_level_point_norm(k, 1, 1, out, 3));
      for (int c = 0; c < 3; ++c) EXPECT_EQ(out[c], sample(level, level->width - 1, level->height - 1, c)) << k;
      ASSERT_TRUE(p->interpolate_level_point_norm(k, 0, 1, out, 3));
      for (int c = 0; c < 3; ++c) EXPECT_EQ(out[c], sample(level, 0, level->height - 1, c)) << k;
    }
    // Footprint (1, 1): half level 0 at (x, y), half level 1 at the same
    // place in its own pixels.
    const double x = 17.25, y = 11.5;
    ASSERT_TRUE(p->lookup(x, y, 1, 1, out, 3));
    double finer[3], coarser[3];
    image_data_get_point_value(p->get_level(0), x, y, finer, 3, &tent);
    image_data_get_point_value(p->get_level(1), x * 24 / 49, y * 14 / 29, coarser, 3, &tent);
    for (int c = 0; c < 3; ++c) {
      want[c] = 0.5 * finer[c] + 0.5 * coarser[c];
      EXPECT_NEAR(out[c], want[c], 1e-6 * image_full_scale(type)) << type;
    }
  }
}

TEST(Pyramid, RefusalsAndKernelChanges) {
  ImagePtr src = make(16, 16, 3, IMAGE_PIXEL_BYTE);
  fill_pattern(src, 3);
  const PyramidPtr p = pyramid_of(src);
  double out[65];
  for (double& v : out) v = -1;
  EXPECT_FALSE(p->lookup(3, 3, 1, 1, out, 0));
  EXPECT_FALSE(p->lookup(3, 3, 1, 1, out, 65));
  EXPECT_FALSE(p->lookup_point_norm(0.5, 0.5, 0, 0, out, -1));
  EXPECT_FALSE(p->interpolate_level_point_norm(0, 0.5, 0.5, out, 65));
  EXPECT_FALSE(p->lookup(3, 3, 1, 1, nullptr, 3));
  for (double v : out) ASSERT_EQ(v, -1);
  EXPECT_TRUE(p->lookup(3, 3, 1, 1, out, 64));
  for (int c = 3; c < 64; ++c) ASSERT_EQ(out[c], 0.0);
  EXPECT_FALSE(p->interpolate_level_point_norm(p->top_level() + 1, 0.5, 0.5, out, 3));
  EXPECT_FALSE(p->interpolate_level_point_norm(-1, 0.5, 0.5, out, 3));
  EXPECT_EQ(out[0], 0.0);

  // Unknown kernels keep the old one; a known one takes over.
  double before[3], after[3];
  p->lookup(3.4, 5.6, 1, 1, before, 3);
  for (auto args : {std::make_pair(6, 0), std::make_pair(1, 4), std::make_pair(-1, 0), std::make_pair(1, -1)}) {
    EXPECT_FALSE(p->set_lookup_kernel(args.first, args.second));
    p->lookup(3.4, 5.6, 1, 1, after, 3);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(after[c], before[c]);
  }
  EXPECT_TRUE(p->set_lookup_kernel(IMAGELIB_KERNEL_BOX, IMAGELIB_EDGE_ZERO));
  p->lookup(3.4, 5.6, 1, 1, after, 3);
  EXPECT_NE(after[0], before[0]);
  {
    FailingHeap heap(0);  // the new kernel has no tables: the old one stays
    EXPECT_FALSE(p->set_lookup_kernel(IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP));
  }
  p->lookup(3.4, 5.6, 1, 1, before, 3);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(after[c], before[c]);

  // No source: no levels, lookups fail with their output cleared. An
  // unknown kernel type makes no levels past 0 and cannot look up.
  const PyramidPtr none(new ImagelibPyramid(nullptr, 1, 0, true));
  EXPECT_EQ(none->top_level(), -1);
  EXPECT_EQ(none->get_level(0), nullptr);
  out[0] = 5;
  EXPECT_FALSE(none->lookup(0, 0, 1, 1, out, 3));
  EXPECT_EQ(out[0], 0.0);
  EXPECT_FALSE(none->interpolate_level_point_norm(0, 0, 0, out, 3));
  const PyramidPtr unknown = pyramid_of(src, 9);
  EXPECT_EQ(unknown->top_level(), 0);
  EXPECT_FALSE(unknown->lookup(1, 1, 1, 1, out, 3));
}

// A side of one pixel has no span: fractions along it all read its only
// column.
TEST(Pyramid, OnePixelSides) {
  ImagePtr src = make(1, 10, 1, IMAGE_PIXEL_WORD);
  for (int y = 0; y < 10; ++y) set_sample(src.get(), 0, y, 0, 100 * y);
  const PyramidPtr p = pyramid_of(src);
  EXPECT_EQ(p->width_span(), 0);
  EXPECT_EQ(p->height_span(), 9);
  double out[1];
  for (double x : {0.0, 0.7, 1.0}) {
    ASSERT_TRUE(p->lookup_point_norm(x, 1.0 / 3, 0, 0, out, 1));
    EXPECT_NEAR(out[0], 300, 1e-9) << x;
  }
  ASSERT_TRUE(p->lookup(0, 4, 0, 0, out, 1));
  EXPECT_EQ(out[0], 400);
}

// A level that cannot be made ends the pyramid at the one before it, with
// every level that does exist complete; a level-0 copy that fails leaves no
// levels. Both heaps, every allocation in turn.
TEST(Pyramid, LevelsThatCannotBeMadeEndThePyramid) {
  ImagePtr src = make(40, 24, 3, IMAGE_PIXEL_WORD);
  fill_pattern(src, 4);
  const PyramidPtr full = pyramid_of(src);
  ASSERT_EQ(full->top_level(), 3);
  for (FailingHeap::Heap heap : {FailingHeap::normal, FailingHeap::image}) {
    int tops_seen = 0;
    for (int grants = 0; grants < 60 && tops_seen < 5; ++grants) {
      PyramidPtr p;
      {
        FailingHeap failing(grants, heap);
        p = pyramid_of(src);
      }
      ASSERT_GE(p->top_level(), -1);
      ASSERT_LE(p->top_level(), 3);
      for (int k = 0; k <= p->top_level(); ++k) {
        const image_data* got = p->get_level(k);
        const image_data* want = full->get_level(k);
        ASSERT_EQ(got->width, want->width);
        ASSERT_EQ(got->height, want->height);
        ASSERT_EQ(0, std::memcmp(got->pixels, want->pixels, static_cast<size_t>(got->row_bytes) * got->height))
            << "grants " << grants << " level " << k;
      }
      if (p->top_level() < 0) {
        double out[3];
        EXPECT_FALSE(p->lookup(1, 1, 1, 1, out, 3));
      }
      if (p->top_level() == tops_seen - 1) ++tops_seen;
    }
    EXPECT_EQ(tops_seen, 5) << "every top from -1 to 3 occurs as memory grows";
  }
}
