#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

#include "ImageXfmQ4.h"
#include "fluid_image_test_support.h"
#include "simd_paths.h"

namespace {

// Position of pixel k of n across 0..1, a lone pixel at 0.
float unit(int k, int n) { return n > 1 ? static_cast<float>(k) / static_cast<float>(n - 1) : 0.0f; }

float edge(float s, int n) {
  float f = s <= 0.5f ? 2.0f * s : (s < n - 1.5f ? 1.0f : 1.0f - 2.0f * (s - (n - 1.5f)));
  return f > 0.0f ? (f < 1.0f ? f : 1.0f) : 0.0f;
}

float wrap(float t, bool on) { return !on ? t : (t < 0.0f ? t + 1.0f : (t > 1.0f ? t - 1.0f : t)); }

PixelQ4 fade(PixelQ4 p, float f) {
  auto c = [f](unsigned short v) { return static_cast<unsigned short>(v * f); };
  return PixelQ4{c(p.r), c(p.g), c(p.b), c(p.a)};
}

// The lookup written out pixel by pixel: each texture field evaluated at the
// pixel's grid position, the source sampled through the resampler.
ImagePtr plain_resample(FluidFlow& flow, ImageQ4& src, bool edge_escape, bool footprint) {
  const int w = src.width, h = src.height;
  ImagePtr out = uniform_image(w, h, px(0, 0, 0, 0));
  ImageXfmQ4 sampler;
  sampler.sampleMode(2);
  const ScalarField* u = flow.texture_u;
  const ScalarField* v = flow.texture_v;
  const float ghost = u->method == FIELD_DIRECT ? 1.0f : 0.0f;
  const bool fades = edge_escape && !flow.wrap_x && !flow.wrap_y;
  auto at = [](const ScalarField* f, float x, float y) {
    float value;
    f->evaluate(x, y, value, false, false, 0.0f, 0.0f);
    return value;
  };
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const float gx = unit(x, w) * (u->nx - 1) + ghost, gy = unit(y, h) * (u->ny - 1) + ghost;
      float cx, cy, sx = 0.5f, sy = 0.5f;
      if (!footprint) {
        cx = wrap(at(u, gx, gy), flow.wrap_x) * (w - 1);
        cy = wrap(at(v, gx, gy), flow.wrap_y) * (h - 1);
      } else {
        const float ox = 3.0f / u->nx, oy = 3.0f / u->ny;
        float lo_x = at(u, gx - ox, gy - oy), hi_x = lo_x, lo_y = at(v, gx - ox, gy - oy), hi_y = lo_y;
        for (float cx4 : {gx - ox, gx + ox})
          for (float cy4 : {gy - oy, gy + oy}) {
            lo_x = std::fmin(lo_x, at(u, cx4, cy4));
            hi_x = std::fmax(hi_x, at(u, cx4, cy4));
            lo_y = std::fmin(lo_y, at(v, cx4, cy4));
            hi_y = std::fmax(hi_y, at(v, cx4, cy4));
          }
        cx = wrap((lo_x + hi_x) * 0.5f, flow.wrap_x) * (w - 1);
        cy = wrap((lo_y + hi_y) * 0.5f, flow.wrap_y) * (h - 1);
        sx = (hi_x - lo_x) * (w - 1);
        sy = (hi_y - lo_y) * (h - 1);
      }
      PixelQ4 p = sampler.sample_image(&src, cx, cy, sx, sy);
      if (fades) p = fade(p, edge(cx, w) * edge(cy, h));
      out->rows[y][x] = p;
    }
  return out;
}

ImagePtr resampled(FluidFlow& flow, ImageQ4& src, bool edge_escape, bool footprint) {
  ImagePtr dst = uniform_image(src.width, src.height, px(1, 2, 3, 4));
  const bool ok = footprint ? flow.resample_image_using_texture_field_not_recursive(&src, dst.get(), edge_escape)
                            : flow.resample_image_using_texture_field(&src, dst.get(), edge_escape);
  EXPECT_TRUE(ok);
  return dst;
}

}  // namespace

TEST(FluidResample, DevelopedFlowMatchesThePlainLoopOnBothPaths) {
  ImagePtr src = random_image(61, 47, 17);
  for (bool wrapping : {false, true}) {
    FluidFlow flow(24, 20, 2, 0, 0);
    flow.set_wrapping(wrapping, wrapping);
    develop_flow(flow, 8);
    for (bool edge_escape : {false, true})
      for (bool footprint : {false, true}) {
        const auto both = run_on_both_simd_paths([&] { return resampled(flow, *src, edge_escape, footprint); });
        const ImagePtr want = plain_resample(flow, *src, edge_escape, footprint);
        EXPECT_TRUE(same_pixels(*both.first, *want)) << wrapping << edge_escape << footprint;
        EXPECT_TRUE(same_pixels(*both.second, *want)) << wrapping << edge_escape << footprint;
      }
  }
  // The flow moved the picture: this is not the identity.
  FluidFlow flow(24, 20, 2, 0, 0);
  develop_flow(flow, 8);
  EXPECT_FALSE(same_pixels(*resampled(flow, *src, false, false), *src));
}

TEST(FluidResample, FftLayoutTextureFields) {
  FluidFlow flow(16, 12, 1, 0, 0);
  ASSERT_TRUE(flow.create_texture_flow());
  for (int j = 0; j < 12; ++j)
    for (int i = 0; i < 16; ++i) {
      at(flow.texture_u, i, j) = i / 15.0f + 0.03f * std::sin(0.7f * j);
      at(flow.texture_v, i, j) = j / 11.0f + 0.04f * std::cos(0.5f * i);
    }
  ImagePtr src = random_image(37, 29, 3);
  for (bool edge_escape : {false, true})
    EXPECT_TRUE(
        same_pixels(*resampled(flow, *src, edge_escape, false), *plain_resample(flow, *src, edge_escape, false)));
}

TEST(FluidResample, IdentityReproducesTheImageAndEdgeEscapeClearsTheRing) {
  FluidFlow flow(32, 32, 2, 0, 0);
  ASSERT_TRUE(flow.create_texture_flow());
  ASSERT_TRUE(flow.init_texture_field());
  // Channels that each change along one axis only: a lookup a hair short
  // of a pixel takes one level off (the fixed-point blend floors).
  ImagePtr src = make_image(200, 120, [](int x, int y) { return px(100 * x + 7, 200 * y + 3, 5000, 32767 - 100 * x); });
  ImagePtr plain = resampled(flow, *src, false, false);
  ImagePtr escaped = resampled(flow, *src, true, false);
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 200; ++x)
      for (int c = 0; c < 4; ++c) {
        ASSERT_LE(std::abs(channel(plain->rows[y][x], c) - channel(src->rows[y][x], c)), 1) << x << "," << y;
        const bool ring = x == 0 || y == 0 || x == 199 || y == 119;
        if (ring)
          ASSERT_EQ(channel(escaped->rows[y][x], c), 0) << x << "," << y;
        else
          ASSERT_EQ(channel(escaped->rows[y][x], c), channel(plain->rows[y][x], c)) << x << "," << y;
      }
}

TEST(FluidResample, EveryBandSplitGivesTheSerialPixels) {
  ImagePtr src = random_image(53, 41, 8);
  FluidFlow flow(20, 20, 2, 0, 0);
  develop_flow(flow, 6);
  for (bool footprint : {false, true}) {
    const ImagePtr want = resampled(flow, *src, true, footprint);
    BandSplits splits;
    for (const auto& e : splits.all()) {
      flow.set_mp_exec(e.first, e.second);
      EXPECT_TRUE(same_pixels(*resampled(flow, *src, true, footprint), *want)) << footprint;
    }
    flow.set_mp_exec(nullptr, nullptr);
  }
}

TEST(FluidResample, KeptRowsAreTheResultOnEverySplitAndNeverTheSource) {
  ImagePtr src = random_image(53, 41, 9);
  FluidFlow flow(20, 20, 2, 0, 0);
  develop_flow(flow, 6);
  const ImagePtr want = resampled(flow, *src, true, false);
  BandSplits splits;
  for (const auto& e : splits.all()) {
    flow.set_mp_exec(e.first, e.second);
    ImagePtr dst = uniform_image(53, 41, px(1, 2, 3, 4)), kept = uniform_image(53, 41, px(5, 6, 7, 8));
    EXPECT_TRUE(flow.resample_image_using_texture_field(src.get(), dst.get(), true, kept.get()));
    EXPECT_TRUE(same_pixels(*dst, *want));
    EXPECT_TRUE(same_pixels(*kept, *want));
  }
  flow.set_mp_exec(nullptr, nullptr);
  // Rows kept into the source would be read again by other bands; a kept
  // image of another size would be written past its rows. Both are refused
  // before any pixel is written.
  ImagePtr dst = uniform_image(53, 41, px(1, 2, 3, 4)), small = uniform_image(53, 40, px(5, 6, 7, 8));
  const ImagePtr before = copy_of(*src);
  EXPECT_FALSE(flow.resample_image_using_texture_field(src.get(), dst.get(), true, src.get()));
  EXPECT_FALSE(flow.resample_image_using_texture_field(src.get(), dst.get(), true, dst.get()));
  EXPECT_FALSE(flow.resample_image_using_texture_field(src.get(), dst.get(), true, small.get()));
  EXPECT_TRUE(same_pixels(*src, *before));
  EXPECT_TRUE(same_pixels(*dst, *uniform_image(53, 41, px(1, 2, 3, 4))));
  EXPECT_TRUE(same_pixels(*small, *uniform_image(53, 40, px(5, 6, 7, 8))));
  // A stop at row 17, inside a band's claim, leaves the rows from there on
  // as the target held them, and the kept image as the target.
  StopAfter stop{17};
  flow.set_mp_exec(&stop, StopAfter::exec);
  flow.set_abort_test(&stop, StopAfter::test);
  ImagePtr kept = uniform_image(53, 41, px(5, 6, 7, 8)), partial = copy_of(*want);
  for (int y = 17; y < 41; ++y) std::fill(partial->rows[y], partial->rows[y] + 53, px(1, 2, 3, 4));
  EXPECT_TRUE(flow.resample_image_using_texture_field(src.get(), dst.get(), true, kept.get()));
  EXPECT_TRUE(same_pixels(*dst, *partial));
  EXPECT_TRUE(same_pixels(*kept, *partial));
}

TEST(FluidResample, RefusalsInPlaceAndOutsideTheImage) {
  FluidFlow flow(8, 8, 2, 0, 0);
  ImagePtr src = random_image(20, 10, 4);
  ImagePtr dst = uniform_image(20, 10, px(9, 9, 9, 9));
  // No texture fields yet.
  EXPECT_FALSE(flow.resample_image_using_texture_field(src.get(), dst.get(), false));
  develop_flow(flow, 4);
  ImagePtr wrong = uniform_image(20, 11, px(9, 9, 9, 9));
  EXPECT_FALSE(flow.resample_image_using_texture_field(src.get(), wrong.get(), false));
  EXPECT_FALSE(flow.resample_image_using_texture_field_not_recursive(src.get(), wrong.get(), true));
  EXPECT_FALSE(flow.resample_image_using_texture_field(nullptr, dst.get(), false));
  EXPECT_TRUE(same_pixels(*wrong, *uniform_image(20, 11, px(9, 9, 9, 9))));
  EXPECT_TRUE(same_pixels(*dst, *uniform_image(20, 10, px(9, 9, 9, 9))));

  // In place reads the picture as it was, as a separate target does.
  const ImagePtr want = resampled(flow, *src, true, false);
  ImagePtr self = copy_of(*src);
  EXPECT_TRUE(flow.resample_image_using_texture_field(self.get(), self.get(), true));
  EXPECT_TRUE(same_pixels(*self, *want));

  // Coordinates past the last pixel give negative fades: black, not
  // channels wrapped round. Without the fade the sample shows.
  flow.texture_u->set((20 - 0.75f) / 19.0f);
  flow.texture_v->set(0.5f);
  ImagePtr bright = uniform_image(20, 10, px(30000, 30000, 30000, 30000));
  ImagePtr faded = resampled(flow, *bright, true, false);
  ImagePtr shown = resampled(flow, *bright, false, false);
  EXPECT_TRUE(same_pixels(*faded, *uniform_image(20, 10, px(0, 0, 0, 0))));
  EXPECT_EQ(shown->rows[5][5].r, 22500);  // three quarters of the last column
}

TEST(FluidResample, LinesOnePixelLongSitAtTheirStart) {
  FluidFlow flow(8, 8, 2, 0, 0);
  ASSERT_TRUE(flow.create_texture_flow());
  ASSERT_TRUE(flow.init_texture_field());
  ImagePtr column = make_image(1, 9, [](int, int y) { return px(1000 * y, 5, 6, 32767); });
  ImagePtr out = resampled(flow, *column, false, false);
  for (int y = 0; y < 9; ++y) EXPECT_LE(std::abs(out->rows[y][0].r - 1000 * y), 1) << y;
  EXPECT_EQ(out->rows[4][0].g, 5);
  ImagePtr row = make_image(9, 1, [](int x, int) { return px(1000 * x, 5, 6, 32767); });
  out = resampled(flow, *row, false, false);
  for (int x = 0; x < 9; ++x) EXPECT_LE(std::abs(out->rows[0][x].r - 1000 * x), 1) << x;
  EXPECT_TRUE(same_pixels(*resampled(flow, *row, false, true), *plain_resample(flow, *row, false, true)));
  // At the edge of a line one pixel long, the fade is 0.
  EXPECT_TRUE(same_pixels(*resampled(flow, *row, true, false), *uniform_image(9, 1, px(0, 0, 0, 0))));
}

TEST(FluidResample, AreaVariantPinsTheBorders) {
  FluidFlow flow(10, 10, 2, 0, 0);
  develop_flow(flow, 4);
  ImagePtr src = random_image(30, 30, 2);
  resampled(flow, *src, true, true);
  for (int k = 1; k <= 10; ++k) {
    EXPECT_EQ(at(flow.texture_u, 1, k), 0.0f);
    EXPECT_EQ(at(flow.texture_u, 10, k), 1.0f);
    EXPECT_EQ(at(flow.texture_v, k, 1), 0.0f);
    EXPECT_EQ(at(flow.texture_v, k, 10), 1.0f);
  }
}
