#include <gtest/gtest.h>

#include "fluid_image_test_support.h"
#include "simd_paths.h"

namespace {

// Composites a single pixel pair through the operation.
PixelQ4 over1(FluidFlow& flow, PixelQ4 bg, PixelQ4 fg, bool premultiply, float value = -1.0f) {
  ImagePtr b = uniform_image(1, 1, bg), f = uniform_image(1, 1, fg), out = uniform_image(1, 1, px(1, 1, 1, 1));
  const bool ok = value < 0.0f ? flow.composite_over_by_alpha(b.get(), f.get(), out.get(), premultiply)
                               : flow.composite_over_by_value(b.get(), f.get(), out.get(), premultiply, value);
  EXPECT_TRUE(ok);
  return out->rows[0][0];
}

// "Over" written out on ints, channel by channel: a the (scaled) alpha,
// k = 32767 - a as 16 bits, each sum as 16 bits, its top bit meaning full.
PixelQ4 naive_over(PixelQ4 bg, PixelQ4 fg, bool premultiply, long long alpha_scale) {
  const long long a = (fg.a * alpha_scale) >> 15;
  const long long k = (32767 - a) & 0xffff;
  auto fix = [](long long sum) { return static_cast<unsigned short>((sum & 0xffff) >= 32768 ? 32767 : sum & 0xffff); };
  PixelQ4 out;
  unsigned short* o = &out.r;
  for (int c = 0; c < 3; ++c) {
    const long long f = premultiply ? (channel(fg, c) * a) >> 15 : channel(fg, c);
    o[c] = fix(((channel(bg, c) * k) >> 15) + f);
  }
  out.a = fix(((bg.a * k) >> 15) + a);
  return out;
}

ImagePtr composited(FluidFlow& flow, ImageQ4& bg, ImageQ4& fg, int op, bool premultiply) {
  ImagePtr out = uniform_image(bg.width, bg.height, px(0, 0, 0, 0));
  bool ok = false;
  if (op == 0) ok = flow.composite_over_by_alpha(&bg, &fg, out.get(), premultiply);
  if (op == 1) ok = flow.composite_over_by_value(&bg, &fg, out.get(), premultiply, 0.625f);
  if (op == 2) ok = flow.composite_over_extract_matte(&bg, &fg, out.get());
  EXPECT_TRUE(ok);
  return out;
}

}  // namespace

TEST(FluidComposite, ReferenceTable) {
  FluidFlow flow(4, 4, 2, 0, 0);
  struct Case {
    PixelQ4 bg, fg;
    bool premultiply;
    PixelQ4 want;
  } cases[] = {
      // Opaque: the foreground (premultiplied, one less for most values).
      {px(9000, 8000, 7000, 32767), px(1000, 20000, 32767, 32767), false, px(1000, 20000, 32767, 32767)},
      {px(9000, 8000, 7000, 32767), px(1000, 20000, 32767, 32767), true, px(999, 19999, 32766, 32767)},
      // Transparent: the background a level down, the foreground's colour added.
      {px(9000, 8000, 7000, 32767), px(1000, 20, 0, 0), false, px(9999, 8019, 6999, 32766)},
      {px(9000, 8000, 7000, 32767), px(1000, 20, 0, 0), true, px(8999, 7999, 6999, 32766)},
      // Half: (9000 * 16384) >> 15 + 1000; premultiplied (1000 * 16383) >> 15.
      {px(9000, 8000, 7000, 32767), px(1000, 2000, 3000, 16383), false, px(5500, 6000, 6500, 32766)},
      {px(9000, 8000, 7000, 32767), px(1000, 2000, 3000, 16383), true, px(4999, 4999, 4999, 32766)},
      // White over white: summed past full, held at full.
      {px(32767, 32767, 32767, 32767), px(32767, 32767, 32767, 32767), false, px(32767, 32767, 32767, 32767)},
      {px(32767, 32767, 32767, 32767), px(32767, 32767, 32767, 0), false, px(32767, 32767, 32767, 32766)},
  };
  for (const Case& c : cases) {
    const PixelQ4 got = over1(flow, c.bg, c.fg, c.premultiply);
    EXPECT_TRUE(same_pixel(got, c.want)) << got.r << " " << got.g << " " << got.b << " " << got.a;
  }
  // By value: the alpha scaled by trunc(32767 v) first; 1.0 truncates
  // the alpha where the alpha itself would not.
  EXPECT_TRUE(same_pixel(over1(flow, px(9000, 0, 0, 0), px(0, 0, 0, 32767), false, 1.0f), px(0, 0, 0, 32766)));
  EXPECT_TRUE(same_pixel(over1(flow, px(9000, 0, 0, 0), px(0, 0, 0, 32767), false, 0.0f), px(8999, 0, 0, 0)));
  // Values outside 0..1 (and NaN) hold to the ends, not past 16 bits.
  EXPECT_TRUE(same_pixel(over1(flow, px(9000, 0, 0, 0), px(0, 0, 0, 32767), false, 7.0f), px(0, 0, 0, 32766)));
  EXPECT_TRUE(same_pixel(over1(flow, px(9000, 0, 0, 0), px(0, 0, 0, 32767), false, NAN), px(8999, 0, 0, 0)));
  // The matte: the alpha everywhere, a top bit read as full.
  ImagePtr bg = uniform_image(2, 1, px(1, 2, 3, 4));
  ImagePtr fg = make_image(2, 1, [](int x, int) { return px(7, 7, 7, x == 0 ? 1234 : 40000); });
  ImagePtr matte = composited(flow, *bg, *fg, 2, false);
  EXPECT_TRUE(same_pixel(matte->rows[0][0], px(1234, 1234, 1234, 1234)));
  EXPECT_TRUE(same_pixel(matte->rows[0][1], px(32767, 32767, 32767, 32767)));
}

TEST(FluidComposite, NaiveOverOnNoiseInPlaceAndInBands) {
  FluidFlow flow(4, 4, 2, 0, 0);
  // Channels past 15 bits too, to reach the 16-bit rules; rows enough for
  // bands to claim several chunks each.
  ImagePtr bg = random_image(301, 71, 1, 65535), fg = random_image(301, 71, 2, 65535);
  for (bool premultiply : {false, true})
    for (int op : {0, 1}) {
      const long long scale = op == 0 ? 32768 : static_cast<long long>(32767.0 * 0.625f);
      const auto both = run_on_both_simd_paths([&] { return composited(flow, *bg, *fg, op, premultiply); });
      EXPECT_TRUE(same_pixels(*both.first, *both.second));
      for (int y = 0; y < 71; ++y)
        for (int x = 0; x < 301; ++x)
          ASSERT_TRUE(same_pixel(both.first->rows[y][x],
                                 naive_over(bg->rows[y][x], fg->rows[y][x], premultiply, scale)))
              << x << "," << y;
      // Into the foreground or the background itself.
      ImagePtr into_fg = copy_of(*fg), into_bg = copy_of(*bg);
      ASSERT_TRUE(op == 0 ? flow.composite_over_by_alpha(bg.get(), into_fg.get(), into_fg.get(), premultiply)
                          : flow.composite_over_by_value(bg.get(), into_fg.get(), into_fg.get(), premultiply, 0.625f));
      ASSERT_TRUE(op == 0 ? flow.composite_over_by_alpha(into_bg.get(), fg.get(), into_bg.get(), premultiply)
                          : flow.composite_over_by_value(into_bg.get(), fg.get(), into_bg.get(), premultiply, 0.625f));
      EXPECT_TRUE(same_pixels(*into_fg, *both.first));
      EXPECT_TRUE(same_pixels(*into_bg, *both.first));
      BandSplits splits;
      for (const auto& e : splits.all()) {
        flow.set_mp_exec(e.first, e.second);
        EXPECT_TRUE(same_pixels(*composited(flow, *bg, *fg, op, premultiply), *both.first));
      }
      flow.set_mp_exec(nullptr, nullptr);
    }
  const auto mattes = run_on_both_simd_paths([&] { return composited(flow, *bg, *fg, 2, false); });
  EXPECT_TRUE(same_pixels(*mattes.first, *mattes.second));
}

TEST(FluidComposite, SizeMismatchLeavesOutUntouchedAndStopsKeepRows) {
  FluidFlow flow(4, 4, 2, 0, 0);
  ImagePtr bg = uniform_image(6, 4, px(100, 100, 100, 100));
  ImagePtr fg = uniform_image(6, 4, px(200, 200, 200, 32767));
  ImagePtr out = uniform_image(6, 4, px(5, 5, 5, 5));
  for (auto sizes : {std::make_pair(5, 4), std::make_pair(6, 3)}) {
    ImagePtr odd = uniform_image(sizes.first, sizes.second, px(5, 5, 5, 5));
    EXPECT_FALSE(flow.composite_over_by_alpha(bg.get(), fg.get(), odd.get(), false));
    EXPECT_FALSE(flow.composite_over_by_value(bg.get(), odd.get(), out.get(), false, 0.5f));
    EXPECT_FALSE(flow.composite_over_extract_matte(odd.get(), fg.get(), out.get()));
    EXPECT_TRUE(same_pixels(*odd, *uniform_image(sizes.first, sizes.second, px(5, 5, 5, 5))));
  }
  EXPECT_FALSE(flow.composite_over_by_alpha(nullptr, fg.get(), out.get(), false));
  EXPECT_TRUE(same_pixels(*out, *uniform_image(6, 4, px(5, 5, 5, 5))));
  // A stop ends the rows; the call still succeeds.
  StopAfter stop{1};
  flow.set_mp_exec(&stop, nullptr);
  flow.set_abort_test(&stop, StopAfter::test);
  EXPECT_TRUE(flow.composite_over_by_alpha(bg.get(), fg.get(), out.get(), false));
  EXPECT_TRUE(same_pixel(out->rows[0][3], px(200, 200, 200, 32767)));
  EXPECT_TRUE(same_pixel(out->rows[1][3], px(5, 5, 5, 5)));
}
