// General warps through the pyramid: identity positions reproduce the
// source, uniform shrinks read the matching level, values are limited to
// the destination's range, and bad layouts are refused.
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "failing_heap.h"
#include "image_pattern.h"
#include "image_sample.h"
#include "image_warp.h"
#include "imagelib_kernel.h"
#include "imagelib_pyramid.h"

namespace {

typedef std::function<double(int x, int y)> Position;

// A float coordinate image: channel 0 from fx, channel 1 from fy, a third
// channel of noise that the warps ignore.
ImagePtr coords_image(int w, int h, const Position& fx, const Position& fy) {
  ImagePtr c = make(w, h, 3, IMAGE_PIXEL_FLOAT);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      set_sample(c.get(), x, y, 0, fx(x, y));
      set_sample(c.get(), x, y, 1, fy(x, y));
      set_sample(c.get(), x, y, 2, (x * 7919 + y * 104729) % 1000 - 500.0);
    }
  return c;
}

ImagePtr identity(int w, int h) {
  return coords_image(w, h, [](int x, int) { return x; }, [](int, int y) { return y; });
}

}  // namespace

// Identity positions have a footprint of at most one pixel: level 0 alone,
// and with the tent kernel each pixel exactly. Fractions of the spans do the
// same where they are exact in single precision (spans of 32 and 16).
TEST(Warp, IdentityPositionsReproduceTheSource) {
  for (int type : kAllTypes) {
    ImagePtr src = make(33, 17, 3, type);
    fill_pattern(src, 20 + type);
    ImagePtr dst = make(33, 17, 3, type), norm = make(33, 17, 3, type);
    ASSERT_EQ(warp_general(src.get(), identity(33, 17).get(), dst.get(), IMAGELIB_KERNEL_LINEAR, 0), 1);
    EXPECT_TRUE(same_pixels(dst, src)) << type;
    const ImagePtr fractions =
        coords_image(33, 17, [](int x, int) { return x / 32.0; }, [](int, int y) { return y / 16.0; });
    ASSERT_EQ(warp_general_point_norm(src.get(), fractions.get(), norm.get(), IMAGELIB_KERNEL_LINEAR, 0), 1);
    EXPECT_TRUE(same_pixels(norm, src)) << type;

    // The pyramid forms, on a pyramid that borrows the source.
    ImagelibPyramid pyramid(src.get(), IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP, false);
    image_data_zero(dst.get());
    ASSERT_EQ(warp_general(&pyramid, identity(33, 17).get(), dst.get()), 1);
    EXPECT_TRUE(same_pixels(dst, src)) << type;
    image_data_zero(norm.get());
    ASSERT_EQ(warp_general_point_norm(&pyramid, fractions.get(), norm.get()), 1);
    EXPECT_TRUE(same_pixels(norm, src)) << type;
  }
}

// Fractions of the spans are pixels along each axis, footprints included:
// on a source whose spans (32 and 16) scale floats exactly, the fraction
// form of any positions equals the pixel form of the same positions times
// the spans.
TEST(Warp, FractionsOfTheSpansArePixelsAlongEachAxis) {
  ImagePtr src = make(33, 17, 2, IMAGE_PIXEL_WORD);
  fill_pattern(src, 21);
  ImagelibPyramid pyramid(src.get(), IMAGELIB_KERNEL_CUBIC_HALF, IMAGELIB_EDGE_CLAMP, false);
  auto fx = [](int x, int y) { return 0.04 * x + 0.002 * x * y; };
  auto fy = [](int x, int y) { return 0.3 - 0.01 * y + 0.05 * std::sin(x / 3.0); };
  const ImagePtr fractions = coords_image(30, 20, fx, fy);
  ImagePtr pixels = make(30, 20, 3, IMAGE_PIXEL_FLOAT);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) {
      set_sample(pixels.get(), x, y, 0, 32 * sample(fractions.get(), x, y, 0));
      set_sample(pixels.get(), x, y, 1, 16 * sample(fractions.get(), x, y, 1));
    }
  ImagePtr by_fraction = make(30, 20, 2, IMAGE_PIXEL_WORD), by_pixel = make(30, 20, 2, IMAGE_PIXEL_WORD);
  ASSERT_EQ(warp_general_point_norm(&pyramid, fractions.get(), by_fraction.get()), 1);
  ASSERT_EQ(warp_general(&pyramid, pixels.get(), by_pixel.get()), 1);
  EXPECT_TRUE(same_pixels(by_fraction, by_pixel));
}

// Positions (s x, s y) move s pixels per destination pixel: away from the
// borders the footprint is s and level log2(s) alone is read, at the
// position scaled corner to corner onto it.
TEST(Warp, UniformShrinksReadTheMatchingLevel) {
  for (int type : {IMAGE_PIXEL_BYTE, IMAGE_PIXEL_FLOAT})
    for (int s : {2, 4}) {
      ImagePtr src = make(64, 48, 2, type);
      fill_pattern(src, 30 + s);
      ImagelibPyramid pyramid(src.get(), IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP, true);
      const int level_index = s == 2 ? 1 : 2;
      image_data* level = pyramid.get_level(level_index);
      const int w = 64 / s, h = 48 / s;
      ImagePtr dst = make(w, h, 2, type);
      const ImagePtr coords = coords_image(w, h, [s](int x, int) { return s * x; }, [s](int, int y) { return s * y; });
      ASSERT_EQ(warp_general(&pyramid, coords.get(), dst.get()), 1);
      ImagelibKernel tent(IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP);
      const double fx = (level->width - 1) / 63.0, fy = (level->height - 1) / 47.0;
      for (int y = 1; y < h - 1; ++y)
        for (int x = 1; x < w - 1; ++x) {
          double want[2];
          image_data_get_point_value(level, s * x * fx, s * y * fy, want, 2, &tent);
          for (int c = 0; c < 2; ++c) {
            const double expected = type == IMAGE_PIXEL_FLOAT ? want[c] : std::floor(want[c] + 0.5);
            ASSERT_NEAR(sample(dst.get(), x, y, c), expected, type == IMAGE_PIXEL_FLOAT ? 1e-6 : 1.0)
                << "shrink " << s << " at " << x << "," << y;
          }
        }
    }
}

// Values come in the source's scale and are stored limited to dst's range:
// word samples into a byte image stop at 255, float ones above 1 too.
TEST(Warp, StoredValuesStayInsideTheDestinationRange) {
  struct Case {
    int src_type, dst_type;
    double value, stored;
  } cases[] = {
      {IMAGE_PIXEL_WORD, IMAGE_PIXEL_BYTE, 1000, 255},  {IMAGE_PIXEL_WORD, IMAGE_PIXEL_BYTE, 200, 200},
      {IMAGE_PIXEL_WORD32, IMAGE_PIXEL_WORD, 4e9, 65535}, {IMAGE_PIXEL_FLOAT, IMAGE_PIXEL_BYTE, 300.7, 255},
      {IMAGE_PIXEL_FLOAT, IMAGE_PIXEL_WORD, 2.5, 3},     {IMAGE_PIXEL_BYTE, IMAGE_PIXEL_FLOAT, 77, 77},
  };
  for (const Case& c : cases) {
    ImagePtr src = make(9, 7, 2, c.src_type), dst = make(9, 7, 2, c.dst_type);
    image_data_fill(src.get(), c.value);
    ASSERT_EQ(warp_general(src.get(), identity(9, 7).get(), dst.get(), IMAGELIB_KERNEL_LINEAR, 0), 1);
    for (int i = 0; i < 9 * 7 * 2; ++i) ASSERT_EQ(sample(dst.get(), i), c.stored) << c.src_type << "->" << c.dst_type;
  }
}

// Positions that are not numbers, infinite or far outside give defined
// values: within the source's range with clamped edges, 0 where zero edges
// leave nothing to read.
TEST(Warp, WildPositionsStayInsideTheSourceRange) {
  const double wild[] = {NAN, INFINITY, -INFINITY, 1e30, -1e30, 3e9, 2.5};
  const int n = sizeof wild / sizeof wild[0];
  const ImagePtr coords = coords_image(
      n, n, [&](int x, int) { return wild[x]; }, [&](int, int y) { return wild[y]; });
  ImagePtr src = make(12, 9, 1, IMAGE_PIXEL_WORD);
  image_data_fill(src.get(), 4000);
  set_sample(src.get(), 2, 2, 0, 9000);
  for (int edge : {IMAGELIB_EDGE_CLAMP, IMAGELIB_EDGE_ZERO, IMAGELIB_EDGE_WRAP, IMAGELIB_EDGE_MIRROR}) {
    ImagePtr dst = make(n, n, 1, IMAGE_PIXEL_WORD);
    ASSERT_EQ(warp_general(src.get(), coords.get(), dst.get(), IMAGELIB_KERNEL_LANCZOS2, edge), 1);
    for (int i = 0; i < n * n; ++i) {
      const double v = sample(dst.get(), i);
      if (edge == IMAGELIB_EDGE_ZERO && i != n * n - 1)
        EXPECT_EQ(v, 0) << i;
      else
        EXPECT_TRUE(v >= 3900 && v <= 9100) << "edge " << edge << " sample " << i << " = " << v;
    }
  }
}

TEST(Warp, RefusesLayoutsItCannotUse) {
  ImagePtr src = make(10, 8, 3, IMAGE_PIXEL_WORD), dst = make(10, 8, 3, IMAGE_PIXEL_WORD);
  fill_pattern(src, 5);
  image_data_fill(dst.get(), 9);
  const ImagePtr kept(image_data_copy(dst.get()));
  const ImagePtr coords = identity(10, 8);
  ImagePtr word_coords = make(10, 8, 2, IMAGE_PIXEL_WORD), one_channel = make(10, 8, 1, IMAGE_PIXEL_FLOAT);
  ImagePtr small_coords = make(9, 8, 2, IMAGE_PIXEL_FLOAT), two_channel_dst = make(10, 8, 2, IMAGE_PIXEL_WORD);
  ImagePtr wide = make(4, 4, 65, IMAGE_PIXEL_BYTE), wide_dst = make(4, 4, 65, IMAGE_PIXEL_BYTE);
  const ImagePtr wide_coords = identity(4, 4);
  struct Case {
    const char* what;
    image_data *s, *c, *d;
    int kernel, edge;
  } cases[] = {
      {"word coordinates", src.get(), word_coords.get(), dst.get(), 1, 0},
      {"one coordinate channel", src.get(), one_channel.get(), dst.get(), 1, 0},
      {"coordinates of another size", src.get(), small_coords.get(), dst.get(), 1, 0},
      {"channels differ", src.get(), coords.get(), two_channel_dst.get(), 1, 0},
      {"65 channels", wide.get(), wide_coords.get(), wide_dst.get(), 1, 0},
      {"kernel 6", src.get(), coords.get(), dst.get(), 6, 0},
      {"edge mode 4", src.get(), coords.get(), dst.get(), 1, 4},
      {"null source", nullptr, coords.get(), dst.get(), 1, 0},
      {"null coordinates", src.get(), nullptr, dst.get(), 1, 0},
      {"null destination", src.get(), coords.get(), nullptr, 1, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(warp_general(c.s, c.c, c.d, c.kernel, c.edge), 0) << c.what;
    EXPECT_EQ(warp_general_point_norm(c.s, c.c, c.d, c.kernel, c.edge), 0) << c.what;
    if (c.s) {
      ImagelibPyramid pyramid(c.s, c.kernel, c.edge, false);
      EXPECT_EQ(warp_general(&pyramid, c.c, c.d), 0) << c.what;
      EXPECT_EQ(warp_general_point_norm(&pyramid, c.c, c.d), 0) << c.what;
    }
  }
  EXPECT_EQ(warp_general(static_cast<ImagelibPyramid*>(nullptr), coords.get(), dst.get()), 0);
  ImagelibPyramid empty(nullptr, 1, 0, true);
  EXPECT_EQ(warp_general(&empty, coords.get(), dst.get()), 0);
  {
    FailingHeap heap(0, FailingHeap::image);  // no room for the source's copy
    EXPECT_EQ(warp_general(src.get(), coords.get(), dst.get(), 1, 0), 0);
  }
  EXPECT_TRUE(same_pixels(dst, kept));
}

// A swirl that shrinks towards one corner and stretches towards the other,
// so lookups of every footprint class run on every split.
TEST(Warp, BandedEqualsSerial) {
  for (int type : kAllTypes) {
    ImagePtr src = make(48, 40, 3, type);
    fill_pattern(src, 40 + type);
    ImagelibPyramid pyramid(src.get(), IMAGELIB_KERNEL_CUBIC_HALF, IMAGELIB_EDGE_MIRROR, true);
    const ImagePtr coords = coords_image(
        45, 37, [](int x, int y) { return 0.02 * x * x + 3 * std::sin(y / 5.0); },
        [](int x, int y) { return 0.03 * y * y + 2 * std::cos(x / 4.0); });
    const ImagePtr fractions = coords_image(
        45, 37, [](int x, int y) { return 0.0005 * x * x + 0.1 * std::sin(y / 5.0); },
        [](int x, int y) { return 0.0008 * y * y + 0.1 * std::cos(x / 4.0); });
    const std::string name = "type " + std::to_string(type);
    expect_same_on_every_split(
        [&] {
          ImagePtr dst = make(45, 37, 3, type);
          warp_general(&pyramid, coords.get(), dst.get());
          return dst;
        },
        name);
    expect_same_on_every_split(
        [&] {
          ImagePtr dst = make(45, 37, 3, type);
          warp_general_point_norm(&pyramid, fractions.get(), dst.get());
          return dst;
        },
        name + " point norm");
  }
}
