#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "image_pattern.h"
#include "image_porterduff.h"
#include "simd_paths.h"

namespace {

// The operators as published: the fractions of a and b in the result.
void definition(int op, long double aa, long double ab, long double& fa, long double& fb) {
  switch (op) {
    case 1: fa = 1; fb = 1 - aa; break;       // a over b
    case 2: fa = 1 - ab; fb = 1; break;       // b over a
    case 3: fa = ab; fb = 0; break;           // a in b
    case 4: fa = 0; fb = aa; break;           // b in a
    case 5: fa = 1 - ab; fb = 0; break;       // a out b
    case 6: fa = 0; fb = 1 - aa; break;       // b out a
    case 7: fa = ab; fb = 1 - aa; break;      // a atop b
    case 8: fa = 1 - ab; fb = aa; break;      // b atop a
    default: fa = 1 - ab; fb = 1 - aa; break;  // xor
  }
}

double full(int type) { return image_full_scale(type); }

// Integers truncate; the library's single-precision 1/full scale may move a
// result by a unit (and word32 colours divided by small alphas by more).
double tolerance(int type) { return type == IMAGE_PIXEL_FLOAT ? 1e-5 : std::max(1.0, full(type) * 2e-6); }

long double stored(int type, long double v) {
  v = std::min<long double>(v, full(type));
  return type == IMAGE_PIXEL_FLOAT ? static_cast<float>(v) : std::trunc(v);
}

void expect_matches_definition(const ImagePtr& out, const ImagePtr& a, const ImagePtr& b, int op, bool premultiplied,
                               const std::string& what) {
  const int type = out->pixel_type, ch = out->channels;
  const long double m = full(type);
  for (int y = 0; y < out->height; ++y)
    for (int x = 0; x < out->width; ++x) {
      const long double aa = sample(a.get(), x, y, 3) / m, ab = sample(b.get(), x, y, 3) / m;
      long double fa, fb;
      definition(op, aa, ab, fa, fb);
      const long double alpha = aa * fa + ab * fb;
      for (int c = 0; c < ch; ++c) {
        const long double ca = sample(a.get(), x, y, c), cb = sample(b.get(), x, y, c);
        long double expect;
        if (premultiplied || c == 3) {
          expect = ca * fa + cb * fb;
        } else {
          expect = ca * aa * fa + cb * ab * fb;
          if (alpha > 1e-6L) expect /= std::min<long double>(alpha, 1);
        }
        ASSERT_NEAR(sample(out.get(), x, y, c), static_cast<double>(stored(type, expect)), tolerance(type))
            << what << " at " << x << "," << y << " channel " << c;
      }
    }
}

// Random colours with alphas that include 0 and full scale.
void fill_with_alphas(const ImagePtr& img, uint32_t seed) {
  fill_pattern(img, seed);
  set_sample(img.get(), 0, 0, 3, 0);
  set_sample(img.get(), 1, 0, 3, full(img->pixel_type));
}

int composite(const ImagePtr& dst, const ImagePtr& a, int op, const ImagePtr& b, bool premultiplied) {
  return image_composite_porterduff(dst.get(), a.get(), op, b.get(), premultiplied, -1, -1, -1, -1);
}

}  // namespace

TEST(PorterDuff, EveryOperatorMatchesThePublishedDefinition) {
  for (int type : kAllTypes)
    for (int channels : {4, 5})
      for (int op = 1; op <= 9; ++op)
        for (bool premultiplied : {true, false}) {
          ImagePtr a = make(9, 5, channels, type), b = make(9, 5, channels, type), out = make(9, 5, channels, type);
          fill_with_alphas(a, 11 * op);
          fill_with_alphas(b, 13 * op + 1);
          ASSERT_EQ(composite(out, a, op, b, premultiplied), 1);
          expect_matches_definition(out, a, b, op, premultiplied,
                                    "type " + std::to_string(type) + " op " + std::to_string(op) +
                                        (premultiplied ? " premultiplied" : " straight"));
        }
}

TEST(PorterDuff, SwappedOperandsAndInPlaceGiveTheSameBytes) {
  const int pairs[][2] = {{1, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 9}};
  for (int type : kAllTypes)
    for (bool premultiplied : {true, false})
      for (const auto& pair : pairs) {
        ImagePtr a = make(8, 6, 4, type), b = make(8, 6, 4, type), ab = make(8, 6, 4, type), ba = make(8, 6, 4, type);
        fill_with_alphas(a, 3);
        fill_with_alphas(b, 4);
        ASSERT_EQ(composite(ab, a, pair[0], b, premultiplied), 1);
        ASSERT_EQ(composite(ba, b, pair[1], a, premultiplied), 1);
        EXPECT_TRUE(same_pixels(ab, ba)) << type << " " << pair[0];
        // dst as the first and as the second source.
        ImagePtr in_a(image_data_copy(a.get())), in_b(image_data_copy(b.get()));
        ASSERT_EQ(image_composite_porterduff(in_a.get(), in_a.get(), pair[0], b.get(), premultiplied, -1, -1, -1, -1), 1);
        ASSERT_EQ(image_composite_porterduff(in_b.get(), a.get(), pair[0], in_b.get(), premultiplied, -1, -1, -1, -1), 1);
        EXPECT_TRUE(same_pixels(in_a, ab)) << type << " " << pair[0];
        EXPECT_TRUE(same_pixels(in_b, ab)) << type << " " << pair[0];
      }
}

TEST(PorterDuff, OpaqueOverGivesAExactlyAndTransparentGivesB) {
  for (int type : kAllTypes)
    for (bool premultiplied : {true, false}) {
      ImagePtr a = make(6, 3, 4, type), b = make(6, 3, 4, type), out = make(6, 3, 4, type);
      fill_pattern(a, 8);
      fill_pattern(b, 9);
      image_data_channel_fill_norm(a.get(), 1.0, 3);
      ASSERT_EQ(composite(out, a, IMAGE_PD_A_OVER_B, b, premultiplied), 1);
      EXPECT_TRUE(same_pixels(out, a)) << type << premultiplied;
      // A transparent premultiplied a holds no colour.
      image_data_zero(a.get());
      ASSERT_EQ(composite(out, a, IMAGE_PD_A_OVER_B, b, true), 1);
      EXPECT_TRUE(same_pixels(out, b)) << type;
    }
  // Straight alpha: two transparent inputs give zero colour (nothing to divide).
  ImagePtr a = make(2, 2, 4, IMAGE_PIXEL_WORD), b = make(2, 2, 4, IMAGE_PIXEL_WORD), out = make(2, 2, 4, IMAGE_PIXEL_WORD);
  image_data_fill(a.get(), 30000);
  image_data_fill(b.get(), 20000);
  image_data_channel_fill(a.get(), 0, 3);
  image_data_channel_fill(b.get(), 0, 3);
  ASSERT_EQ(composite(out, a, IMAGE_PD_XOR, b, false), 1);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(px<uint16_t>(out)[i], 0) << i;
  // Sums above the full scale are stored as the full scale.
  image_data_fill(a.get(), 60000);
  image_data_fill(b.get(), 60000);
  image_data_channel_fill(a.get(), 0, 3);
  ASSERT_EQ(composite(out, a, IMAGE_PD_A_OVER_B, b, true), 1);
  EXPECT_EQ(px<uint16_t>(out)[0], 65535);
  ImagePtr fa = make(1, 1, 4, IMAGE_PIXEL_FLOAT), fb = make(1, 1, 4, IMAGE_PIXEL_FLOAT), fo = make(1, 1, 4, IMAGE_PIXEL_FLOAT);
  image_data_fill(fa.get(), 0.75);
  image_data_fill(fb.get(), 0.9);
  image_data_channel_fill(fa.get(), 0.0, 3);
  ASSERT_EQ(composite(fo, fa, IMAGE_PD_A_OVER_B, fb, true), 1);
  EXPECT_EQ(px<float>(fo)[0], 1.0f);
}

TEST(PorterDuff, RegionsAreNormalised) {
  ImagePtr a = make(10, 8, 4, IMAGE_PIXEL_BYTE), b = make(10, 8, 4, IMAGE_PIXEL_BYTE), out = make(10, 8, 4, IMAGE_PIXEL_BYTE);
  image_data_fill(a.get(), 200);
  image_data_fill(b.get(), 100);
  struct Case {
    int x0, y0, x1, y1;
    int ex0, ey0, ex1, ey1;  // the pixels written, half open
  } cases[] = {
      {-1, -1, -1, -1, 0, 0, 10, 8},  // all negative: the whole image
      {2, 3, 5, 6, 2, 3, 5, 6},
      {5, 6, 2, 3, 2, 3, 5, 6},       // reversed corners
      {-4, 2, 3, -1, 0, 2, 3, 8},     // negatives become 0 and the size
      {7, 1, 40, 99, 7, 1, 10, 8},    // far corner limited to the image
      {4, 0, 4, 8, 0, 0, 0, 0},       // zero width
      {12, 0, 15, 8, 0, 0, 0, 0},     // starts right of the image
      {12, 0, -1, 8, 0, 0, 0, 0},     // x1 becomes the width, then swapped
  };
  for (const Case& c : cases) {
    image_data_fill(out.get(), 7);
    ASSERT_EQ(image_composite_porterduff(out.get(), a.get(), IMAGE_PD_B_IN_A, b.get(), true, c.x0, c.y0, c.x1, c.y1), 1);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 10; ++x) {
        const bool inside = x >= c.ex0 && x < c.ex1 && y >= c.ey0 && y < c.ey1;
        // b in a: b x alpha of a = 100 x 200/255 -> 78.
        ASSERT_EQ(sample(out.get(), x, y, 0), inside ? 78 : 7) << c.x0 << "," << c.y0 << " at " << x << "," << y;
      }
  }
  // The unary operations take the same region.
  image_data_fill(out.get(), 200);
  ASSERT_EQ(image_unary_op_porterduff(out.get(), IMAGE_PD_SCALE_ALL, 0.5, 5, 6, 2, 3), 1);
  EXPECT_EQ(sample(out.get(), 2, 3, 0), 100);
  EXPECT_EQ(sample(out.get(), 5, 3, 0), 200);
  EXPECT_EQ(sample(out.get(), 4, 6, 0), 200);
}

TEST(PorterDuff, DissolveAndUnaryScaling) {
  for (int type : kAllTypes) {
    ImagePtr a = make(7, 4, 4, type), b = make(7, 4, 4, type), out = make(7, 4, 4, type);
    fill_pattern(a, 21);
    fill_pattern(b, 22);
    ASSERT_EQ(image_cross_dissolve_porterduff(out.get(), a.get(), b.get(), -0.5, -1, -1, -1, -1), 1);
    EXPECT_TRUE(same_pixels(out, a)) << type;
    ASSERT_EQ(image_cross_dissolve_porterduff(out.get(), a.get(), b.get(), 2.0, -1, -1, -1, -1), 1);
    EXPECT_TRUE(same_pixels(out, b)) << type;
    ASSERT_EQ(image_cross_dissolve_porterduff(out.get(), a.get(), b.get(), NAN, -1, -1, -1, -1), 1);
    EXPECT_TRUE(same_pixels(out, a)) << type;
    ASSERT_EQ(image_cross_dissolve_porterduff(out.get(), a.get(), b.get(), 0.3, -1, -1, -1, -1), 1);
    const long double t = 0.3f;
    for (int i = 0; i < 7 * 4 * 4; ++i)
      ASSERT_NEAR(sample(out.get(), i),
                  static_cast<double>(stored(type, sample(a.get(), i) * (1 - t) + sample(b.get(), i) * t)),
                  type == IMAGE_PIXEL_FLOAT ? 1e-6 : 1.0)
          << type << " " << i;

    struct Case {
      int op;
      double value;
      bool colour, alpha;  // scaled channels
      double factor;
    } cases[] = {{IMAGE_PD_SCALE_COLOUR, 0.5, true, false, 0.5}, {IMAGE_PD_SCALE_ALL, 0.25, true, true, 0.25},
                 {IMAGE_PD_SCALE_ALPHA, 1.5, false, true, 1.0},  {IMAGE_PD_SCALE_ALL, -2, true, true, 0.0},
                 {IMAGE_PD_SCALE_ALL, NAN, true, true, 0.0},     {13, 0.5, false, false, 1.0}};
    for (const Case& c : cases) {
      ImagePtr img(image_data_copy(a.get()));
      ASSERT_EQ(image_unary_op_porterduff(img.get(), c.op, c.value, -1, -1, -1, -1), 1);
      for (int i = 0; i < 7 * 4; ++i)
        for (int ch = 0; ch < 4; ++ch) {
          const bool scaled = ch == 3 ? c.alpha : c.colour;
          const long double v = sample(a.get(), i * 4 + ch) * (scaled ? c.factor : 1.0);
          ASSERT_EQ(sample(img.get(), i * 4 + ch), static_cast<double>(stored(type, v))) << type << " op " << c.op;
        }
    }
  }
}

TEST(PorterDuff, RefusesWhatItCannotReadSafely) {
  ImagePtr a = make(6, 4, 4, IMAGE_PIXEL_WORD), b = make(6, 4, 4, IMAGE_PIXEL_WORD), out = make(6, 4, 4, IMAGE_PIXEL_WORD);
  ImagePtr three = make(6, 4, 3, IMAGE_PIXEL_WORD), bytes = make(6, 4, 4, IMAGE_PIXEL_BYTE);
  ImagePtr narrow = make(5, 4, 4, IMAGE_PIXEL_WORD), short_one = make(6, 3, 4, IMAGE_PIXEL_WORD);
  fill_pattern(a);
  fill_pattern(b, 2);
  image_data_fill(out.get(), 1234);
  EXPECT_EQ(composite(three, three, 1, three, true), 0);
  EXPECT_EQ(composite(out, a, 1, bytes, true), 0);
  EXPECT_EQ(composite(out, narrow, 1, b, true), 0);
  EXPECT_EQ(composite(out, a, 1, short_one, false), 0);
  EXPECT_EQ(image_composite_porterduff(out.get(), nullptr, 1, b.get(), true, -1, -1, -1, -1), 0);
  EXPECT_EQ(image_composite_porterduff(nullptr, a.get(), 1, b.get(), true, -1, -1, -1, -1), 0);
  EXPECT_EQ(image_cross_dissolve_porterduff(out.get(), a.get(), narrow.get(), 0.5, -1, -1, -1, -1), 0);
  EXPECT_EQ(image_unary_op_porterduff(three.get(), IMAGE_PD_SCALE_ALL, 0.5, -1, -1, -1, -1), 0);
  EXPECT_EQ(image_unary_op_porterduff(nullptr, IMAGE_PD_SCALE_ALL, 0.5, -1, -1, -1, -1), 0);
  for (int i = 0; i < 6 * 4 * 4; ++i) ASSERT_EQ(px<uint16_t>(out)[i], 1234);
  // An unknown operator writes nothing and succeeds.
  EXPECT_EQ(composite(out, a, 10, b, true), 1);
  EXPECT_EQ(px<uint16_t>(out)[0], 1234);

  // Larger sources are read at dst's positions, each with its own rows.
  ImagePtr wide = make(9, 6, 4, IMAGE_PIXEL_WORD), expect = make(6, 4, 4, IMAGE_PIXEL_WORD);
  fill_pattern(wide, 5);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x)
      for (int c = 0; c < 4; ++c) set_sample(a.get(), x, y, c, sample(wide.get(), x, y, c));
  ASSERT_EQ(composite(expect, a, IMAGE_PD_A_ATOP_B, b, false), 1);
  ASSERT_EQ(composite(out, wide, IMAGE_PD_A_ATOP_B, b, false), 1);
  EXPECT_TRUE(same_pixels(out, expect));
}

TEST(PorterDuff, VectorAndPortablePathsGiveTheSameBytes) {
  for (int type : {IMAGE_PIXEL_BYTE, IMAGE_PIXEL_WORD}) {
    ImagePtr a = make(29, 6, 4, type), b = make(29, 6, 4, type);
    fill_with_alphas(a, 31);
    fill_with_alphas(b, 32);
    // The whole image holds the zero and full-scale alphas; the region's
    // rows start off the vector's four-pixel grid and end with a partial one.
    for (int op = 0; op <= 9; ++op)
      for (bool whole : {false, true}) {
        const int x0 = whole ? -1 : 3, y0 = whole ? -1 : 1, x1 = whole ? -1 : 26, y1 = whole ? -1 : 5;
        const auto paths = run_on_both_simd_paths([&] {
          ImagePtr out(image_data_copy(b.get()));
          if (op == 0)
            image_cross_dissolve_porterduff(out.get(), a.get(), b.get(), 0.37, x0, y0, x1, y1);
          else
            image_composite_porterduff(out.get(), a.get(), op, b.get(), true, x0, y0, x1, y1);
          return out;
        });
        EXPECT_TRUE(same_pixels(paths.first, paths.second)) << type << " op " << op << " whole " << whole;
      }
  }
}

TEST(PorterDuff, BandedEqualsSerial) {
  for (int type : kAllTypes) {
    ImagePtr a = make(23, 37, 4, type), b = make(23, 37, 4, type);
    fill_pattern(a, 1);
    fill_pattern(b, 2);
    for (int k = 0; k < 4; ++k)
      expect_same_on_every_split(
          [&] {
            ImagePtr out(image_data_copy(b.get()));
            switch (k) {
              case 0: image_composite_porterduff(out.get(), a.get(), IMAGE_PD_A_OVER_B, b.get(), true, -1, -1, -1, -1); break;
              case 1: image_composite_porterduff(out.get(), a.get(), IMAGE_PD_XOR, b.get(), false, 3, 2, 20, 30); break;
              case 2: image_cross_dissolve_porterduff(out.get(), a.get(), b.get(), 0.4, 1, 1, -1, -1); break;
              default: image_unary_op_porterduff(out.get(), IMAGE_PD_SCALE_COLOUR, 0.3, -1, 5, -1, 9); break;
            }
            return out;
          },
          "type " + std::to_string(type) + " case " + std::to_string(k));
  }
}
