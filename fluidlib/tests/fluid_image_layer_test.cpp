#include <cmath>

#include <gtest/gtest.h>

#include "ImageXfmQ4.h"
#include "failing_heap.h"
#include "fluid_image_test_support.h"

TEST(FluidImageLayer, ObjectAndWorkImages) {
  FluidFlow flow(0, 12, 2, 5, 3);
  EXPECT_EQ(flow.nx, 1);
  ASSERT_TRUE(image_usable(flow.scalar_grid_image));
  EXPECT_EQ(flow.scalar_grid_image->width, 5);
  EXPECT_EQ(flow.scalar_grid_image->height, 3);
  EXPECT_EQ(flow.velocity_grid_image->width, 1);
  EXPECT_EQ(flow.velocity_grid_image->height, 12);
  ASSERT_NE(flow.resampler, nullptr);
  EXPECT_EQ(flow.worker_source, nullptr);
  // Deleted through the base, as the effect deletes it.
  FluidFlowCore* base = new FluidFlow(8, 8, 2, 0, 0);
  delete base;
}

TEST(FluidImageLayer, LuminanceOfWhiteAndCentredGrey) {
  FluidFlow flow(6, 4, 2, 0, 0);
  const int slot = flow.create_scalar_field("density");
  ScalarField* f = flow.fields[slot];
  f->set(-7.0f);  // the ghost ring must keep this
  ImagePtr white = uniform_image(6, 4, px(32767, 32767, 32767, 0));
  ASSERT_TRUE(flow.insert_imageQ4_LUM_as_scalar(white.get(), slot, 1.0f, false, false));
  for (int j = 1; j <= 4; ++j)
    for (int i = 1; i <= 6; ++i) EXPECT_NEAR(at(f, i, j), 98301.0 / 98304.0, 1e-7);  // 0.99997
  EXPECT_EQ(at(f, 0, 0), -7.0f);
  EXPECT_EQ(at(f, 7, 2), -7.0f);
  EXPECT_EQ(at(f, 3, 5), -7.0f);
  ASSERT_TRUE(flow.insert_imageQ4_LUM_as_scalar(white.get(), slot, 1.0f, true, false));
  EXPECT_NEAR(at(f, 2, 2), 49149.0 / 98304.0, 1e-7);  // 0.49998
  // Added, and scaled.
  ASSERT_TRUE(flow.insert_imageQ4_LUM_as_scalar(white.get(), slot, 2.0f, false, true));
  EXPECT_NEAR(at(f, 2, 2), (49149.0 + 2 * 98301.0) / 98304.0, 1e-6);
}

TEST(FluidImageLayer, InsertsResizeInTheSolversBands) {
  // The resize of every insert runs through the solver's executor.
  FluidFlow flow(32, 24, 2, 0, 0);
  const int s = flow.create_scalar_field("s");
  ImagePtr frame = random_image(301, 177, 12);
  ASSERT_TRUE(flow.insert_imageQ4_LUM_as_scalar(frame.get(), s, 1.0f, false, false));
  const std::vector<float> want = cells_of(flow.fields[s]);
  BandSplits splits;
  for (const auto& e : splits.all()) {
    flow.set_mp_exec(e.first, e.second);
    flow.fields[s]->set(0.0f);
    ASSERT_TRUE(flow.insert_imageQ4_LUM_as_scalar(frame.get(), s, 1.0f, false, false));
    EXPECT_TRUE(same_bits(cells_of(flow.fields[s]), want));
  }
  EXPECT_GT(splits.eight.calls.load(), 0);
}

TEST(FluidImageLayer, ImageRowsLandInFieldRowsOneForOne) {
  // The frame is the scalar grid's size, so the resize is a copy: row r of
  // the image must feed interior row r + 1, pixel c cell c + 1.
  FluidFlow flow(7, 5, 2, 0, 0);
  const int r = flow.create_scalar_field("r"), g = flow.create_scalar_field("g");
  const int b = flow.create_scalar_field("b"), a = flow.create_scalar_field("a");
  const int lum = flow.create_scalar_field("lum");
  ImagePtr img = make_image(7, 5, [](int x, int y) { return px(1000 * y, 100 * x, 7, 32767 - 10 * x); });
  ASSERT_TRUE(flow.insert_imageQ4_RGBA_as_scalars(img.get(), r, g, b, a, 0.5f, false));
  ASSERT_TRUE(flow.insert_imageQ4_LUM_as_scalar(img.get(), lum, 1.0f, false, false));
  const double k = 1.0 / 32768.0;
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) {
      EXPECT_NEAR(at(flow.fields[r], x + 1, y + 1), 0.5 * 1000 * y * k, 1e-7);
      EXPECT_NEAR(at(flow.fields[g], x + 1, y + 1), 0.5 * 100 * x * k, 1e-7);
      EXPECT_NEAR(at(flow.fields[b], x + 1, y + 1), 0.5 * 7 * k, 1e-9);
      EXPECT_NEAR(at(flow.fields[a], x + 1, y + 1), 0.5 * (32767 - 10 * x) * k, 1e-7);
      EXPECT_NEAR(at(flow.fields[lum], x + 1, y + 1), (1000.0 * y + 100 * x + 7) / 98304.0, 1e-7);
    }
  // And back: fields into the image, the same way up (1.0 and above at
  // the top of the 15-bit range, not past it).
  flow.fields[r]->set(1.0f);
  flow.fields[g]->set(0.5f);
  flow.fields[b]->set(-3.0f);
  for (int x = 1; x <= 7; ++x) at(flow.fields[a], x, 1) = 2.0f;
  ImagePtr back = uniform_image(7, 5, px(1, 1, 1, 1));
  ASSERT_TRUE(flow.extract_imageQ4_from_scalars(back.get(), r, g, b, a));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) {
      const int alpha = y == 0 ? 32767 : static_cast<int>(0.5 * (32767 - 10 * x) * k * 32768 + 0.5);
      EXPECT_TRUE(same_pixel(back->rows[y][x], px(32767, 16384, 0, alpha))) << x << "," << y;
    }
  // A larger frame is the grid picture resized by the resampler.
  ImagePtr large = uniform_image(20, 13, px(0, 0, 0, 0));
  flow.fields[a]->set(0.25f);
  ASSERT_TRUE(flow.extract_imageQ4_from_scalars(large.get(), r, g, b, a));
  ImagePtr grid = uniform_image(7, 5, px(32767, 16384, 0, 8192));
  ImagePtr want = uniform_image(20, 13, px(0, 0, 0, 0));
  ImageXfmQ4 scaler;
  ASSERT_TRUE(scaler.scale_image(grid.get(), want.get()));
  EXPECT_TRUE(same_pixels(*large, *want));
}

TEST(FluidImageLayer, RefusedSlotsAndImagesChangeNothing) {
  FluidFlow flow(4, 4, 2, 0, 0);
  const int s = flow.create_scalar_field("s");
  flow.fields[s]->set(0.125f);
  const std::vector<float> before = cells_of(flow.fields[s]);
  ImagePtr img = uniform_image(4, 4, px(32767, 32767, 32767, 32767));
  for (int bad : {-1, 16, s + 1}) {
    EXPECT_FALSE(flow.insert_imageQ4_LUM_as_scalar(img.get(), bad, 1.0f, false, false)) << bad;
    EXPECT_FALSE(flow.insert_imageQ4_RGBA_as_scalars(img.get(), s, s, bad, s, 1.0f, false)) << bad;
    EXPECT_FALSE(flow.extract_imageQ4_from_scalars(img.get(), s, bad, s, s)) << bad;
    EXPECT_FALSE(flow.get_scalar_field_magnitude_image(bad, img.get(), true, false, 0, 0)) << bad;
    EXPECT_FALSE(flow.temperature_controlled_transparency(bad, 0.5f, 0.1f, img.get())) << bad;
    EXPECT_FALSE(flow.modulate_image_with_scalar_field(bad, img.get(), img.get(), 1, 1, 1)) << bad;
    EXPECT_FALSE(flow.combine_scalar_fields_to_image(s, bad, img.get(), 0, 1, nullptr, nullptr, nullptr, nullptr, 0,
                                                     0, 1, nullptr, nullptr, 0, 0, 0, 1))
        << bad;
  }
  EXPECT_FALSE(flow.insert_imageQ4_LUM_as_scalar(nullptr, s, 1.0f, false, false));
  ImageQ4 empty(0, 0, 1.0f, nullptr, nullptr);
  EXPECT_FALSE(flow.insert_imageQ4_LUM_as_scalar(&empty, s, 1.0f, false, false));
  EXPECT_TRUE(same_bits(cells_of(flow.fields[s]), before));
  EXPECT_TRUE(same_pixels(*img, *uniform_image(4, 4, px(32767, 32767, 32767, 32767))));
}

TEST(FluidImageLayer, StoppedInsertKeepsTheRowsNotReached) {
  FluidFlow flow(3, 4, 2, 0, 0);
  const int s = flow.create_scalar_field("s");
  StopAfter stop{2};
  flow.set_mp_exec(&stop, nullptr);
  flow.set_abort_test(&stop, StopAfter::test);
  ImagePtr white = uniform_image(3, 4, px(32767, 32767, 32767, 32767));
  EXPECT_TRUE(flow.insert_imageQ4_LUM_as_scalar(white.get(), s, 1.0f, false, false));
  for (int j = 1; j <= 4; ++j) EXPECT_EQ(at(flow.fields[s], 2, j) > 0.5f, j <= 2) << j;
}

TEST(FluidImageLayer, RenderingsComeBackTheWayUpFieldsAreFilled) {
  FluidFlow flow(8, 6, 2, 0, 0);
  const int s = flow.create_scalar_field("s");
  // Low at the first interior row, high at the last.
  for (int j = 1; j <= 6; ++j)
    for (int i = 1; i <= 8; ++i) at(flow.fields[s], i, j) = static_cast<float>(j - 1);
  ImagePtr same = uniform_image(8, 6, px(0, 0, 0, 0));
  ASSERT_TRUE(flow.get_scalar_field_magnitude_image(s, same.get(), true, false, 0, 0));
  EXPECT_TRUE(same_pixel(same->rows[0][3], px(32767, 0, 0, 32767)));  // red on top
  EXPECT_TRUE(same_pixel(same->rows[5][3], px(0, 0, 32767, 32767)));  // blue below
  // Resized through a temporary, the same way up.
  ImagePtr large = uniform_image(32, 24, px(0, 0, 0, 0));
  ASSERT_TRUE(flow.get_scalar_field_magnitude_image(s, large.get(), true, false, 0, 0));
  EXPECT_GT(large->rows[0][10].r, 30000);
  EXPECT_EQ(large->rows[0][10].b, 0);
  EXPECT_GT(large->rows[23][10].b, 30000);
  EXPECT_EQ(large->rows[23][10].r, 0);

  // A colour map of its own control points, and one field's colours with
  // another's alpha.
  const float pos[2] = {0.0f, 1.0f}, r[2] = {0.0f, 1.0f}, g[2] = {0.0f, 0.0f}, b[2] = {1.0f, 1.0f};
  ASSERT_TRUE(flow.get_scalar_field_colour_map_image(s, same.get(), 0.0f, 5.0f, r, g, b, pos, 2));
  EXPECT_TRUE(same_pixel(same->rows[0][0], px(0, 0, 32767, 32767)));
  EXPECT_TRUE(same_pixel(same->rows[5][0], px(32767, 0, 32767, 32767)));
  const int alpha = flow.create_scalar_field("alpha");
  flow.fields[alpha]->set(0.5f);
  ASSERT_TRUE(flow.combine_scalar_fields_to_image(s, alpha, same.get(), 0.0f, 5.0f, r, g, b, pos, 2, 0.0f, 1.0f,
                                                  nullptr, nullptr, 0, 0, 0, 1));
  EXPECT_EQ(same->rows[5][2].r, 32767);
  EXPECT_EQ(same->rows[5][2].a, 16383);  // grey 0.5 as a word, halved
  // Transparent: each map weighted by its own field over 0..1.
  ASSERT_TRUE(flow.combine_scalar_fields_to_image(s, alpha, same.get(), 0.0f, 5.0f, r, g, b, pos, 2, 0.0f, 1.0f,
                                                  nullptr, nullptr, 0, 1, 0.0f, 1.0f));
  EXPECT_EQ(same->rows[0][2].b, 0);        // value 0: weight 0
  EXPECT_EQ(same->rows[5][2].r, 32767);    // value 5: weight 1
  EXPECT_EQ(same->rows[5][2].a, 8192);     // 0.5 grey times its weight 0.5

  // The velocity and force pictures.
  flow.velocity->set(0.1f, 0.0f);
  for (auto get : {&FluidFlow::get_velocity_magnitude_image, &FluidFlow::get_velocity_vector_image}) {
    ASSERT_TRUE((flow.*get)(same.get(), true));
    EXPECT_TRUE(same_pixel(same->rows[2][2], px(0, 0, 32767, 32767)));
  }
  for (auto get : {&FluidFlow::get_force_magnitude_image, &FluidFlow::get_force_vector_image}) {
    ASSERT_TRUE((flow.*get)(same.get(), true));
    EXPECT_TRUE(same_pixel(same->rows[2][2], px(0, 0, 0, 32767)));
  }
  EXPECT_FALSE(flow.get_some_field_image(same.get(), true, nullptr, nullptr, false, false, 0, 0));
}

TEST(FluidImageLayer, FailedTemporariesLeaveTheImageAsItWas) {
  FluidFlow flow(8, 6, 2, 0, 0);
  const int s = flow.create_scalar_field("s");
  ImagePtr large = uniform_image(32, 24, px(5, 6, 7, 8));
  const ImagePtr before = copy_of(*large);
  // The rendering and its resized copy are the image heap's; each refusal
  // in turn, every temporary freed (the leak checker watches).
  for (int grants = 0; grants < 4; ++grants) {
    FailingHeap heap(grants, FailingHeap::image);
    if (grants < 2) {
      EXPECT_FALSE(flow.get_scalar_field_magnitude_image(s, large.get(), true, false, 0, 0)) << grants;
    }
    EXPECT_FALSE(flow.combine_scalar_fields_to_image(s, s, large.get(), 0, 1, nullptr, nullptr, nullptr, nullptr, 0, 0,
                                                     1, nullptr, nullptr, 0, 0, 0, 1))
        << grants;
  }
  EXPECT_TRUE(same_pixels(*large, *before));
  // Without its copy the grid reduction fails and leaves the image as it was.
  {
    FailingHeap heap(0, FailingHeap::image);
    EXPECT_FALSE(flow.reduce_to_velocity_grid_resolution(large.get(), false));
  }
  EXPECT_TRUE(same_pixels(*large, *before));
  EXPECT_EQ(flow.worker_target, nullptr);
}

TEST(FluidImageLayer, VelocityGridCheckerboard) {
  FluidFlow flow(128, 128, 2, 0, 0);
  ImagePtr img = uniform_image(1920, 1080, px(0, 0, 0, 0));
  ASSERT_TRUE(flow.get_velocity_grid_image(img.get()));
  const int light = 22936, dark = 6553;  // 32767 * 0.7 and 0.2, truncated
  // Cell of pixel k: k * 127 / 1919 across, k * 127 / 1079 down; pixels
  // within a hair of a cell edge are left to the rounding.
  int changes = 0;
  for (int y = 0; y < 1080; y += 7)
    for (int x = 0; x < 1920; ++x) {
      const double cx = x * 127.0 / 1919.0, cy = y * 127.0 / 1079.0;
      if (cx - std::floor(cx) < 1e-4 || cy - std::floor(cy) < 1e-4) continue;
      const bool same = (static_cast<int>(cx) & 1) == (static_cast<int>(cy) & 1);
      const int v = same ? light : dark;
      ASSERT_TRUE(same_pixel(img->rows[y][x], px(v, v, v, 16383))) << x << "," << y;
    }
  for (int x = 1; x < 1920; ++x) changes += img->rows[0][x].r != img->rows[0][x - 1].r;
  EXPECT_TRUE(same_pixel(img->rows[0][0], px(light, light, light, 16383)));
  EXPECT_GE(changes, 120);  // every 15 pixels or so
  // A frame one pixel wide or high lies in the first cell, not at NaN.
  for (auto size : {std::make_pair(1, 9), std::make_pair(9, 1), std::make_pair(1, 1)}) {
    ImagePtr thin = uniform_image(size.first, size.second, px(1, 2, 3, 4));
    ASSERT_TRUE(flow.get_velocity_grid_image(thin.get()));
    if (size.first != 1) continue;
    for (int y = 0; y < size.second; ++y)
        EXPECT_EQ(thin->rows[y][0].r, size.second == 1 || (y * 127 / (size.second - 1)) % 2 == 0 ? light : dark);
  }
}

TEST(FluidImageLayer, ReductionToTheVelocityGrid) {
  FluidFlow flow(4, 3, 2, 0, 0);
  // 13 x 9 pixels on 4 x 3 cells: A = 3 / 12, B = 2 / 8, so a cell starts
  // every 4 columns and rows.
  ImagePtr img = make_image(13, 9, [](int x, int y) { return px(x, y, x * y, 1000 * x + y); });
  ImagePtr two = copy_of(*img);
  ASSERT_TRUE(flow.reduce_to_velocity_grid_resolution(img.get(), false));
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 13; ++x) {
      const int cx = x / 4 * 4, cy = y / 4 * 4;
      ASSERT_TRUE(same_pixel(img->rows[y][x], px(cx, cy, cx * cy, 1000 * cx + cy))) << x << "," << y;
    }
  EXPECT_EQ(flow.worker_target, nullptr);
  // Two levels: by mean brightness against half.
  ImagePtr levels = make_image(13, 9, [](int x, int) {
    return x < 4 ? px(20000, 16000, 16000, 5) : px(20000, 10000, 15000, 5);
  });
  ASSERT_TRUE(flow.reduce_to_velocity_grid_resolution(levels.get(), true));
  EXPECT_TRUE(same_pixel(levels->rows[0][0], px(32767, 32767, 32767, 32767)));
  EXPECT_TRUE(same_pixel(levels->rows[8][12], px(0, 0, 0, 0)));
  // One pixel wide: every pixel is the first of the first cell column.
  ImagePtr thin = make_image(1, 9, [](int, int y) { return px(y, y, y, y); });
  ASSERT_TRUE(flow.reduce_to_velocity_grid_resolution(thin.get(), false));
  for (int y = 0; y < 9; ++y) EXPECT_EQ(thin->rows[y][0].r, y / 4 * 4) << y;
  // A one-cell grid holds the whole frame in its first pixel.
  FluidFlow single(1, 1, 2, 0, 0);
  ASSERT_TRUE(single.reduce_to_velocity_grid_resolution(two.get(), false));
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 13; ++x) ASSERT_TRUE(same_pixel(two->rows[y][x], px(0, 0, 0, 0))) << x << "," << y;
}

TEST(FluidImageLayer, TransparencyByTemperature) {
  FluidFlow flow(4, 4, 2, 0, 0);
  const int t = flow.create_scalar_field("temperature");
  // Hot (2.0) right half, cold left; the hottest value scales t to 1.
  for (int j = 0; j < 6; ++j)
    for (int i = 0; i < 6; ++i) at(flow.fields[t], i, j) = i >= 3 ? 2.0f : 0.0f;
  ImagePtr img = uniform_image(8, 4, px(1000, 2000, 3000, 32767));
  // Width 0 is 1e-6: everything above the threshold vanishes outright.
  ASSERT_TRUE(flow.temperature_controlled_transparency(t, 0.5f, 0.0f, img.get()));
  for (int x = 0; x < 8; ++x) {
    // Pixel x is at grid 4 (x + 0.5) / 8 + 1: cells 1..2 cold, 3..4 hot.
    const float g = 4.0f * (x + 0.5f) / 8.0f + 1.0f;
    const float temperature = g <= 2.0f ? 0.0f : (g >= 3.0f ? 1.0f : (g - 2.0f));
    const PixelQ4 want = temperature > 0.5f + 1e-6f ? px(0, 0, 0, 0) : px(1000, 2000, 3000, 32767);
    EXPECT_TRUE(same_pixel(img->rows[1][x], want)) << x;
  }
  // A soft step: at a = 0.5 the factor is 1 - 0.5, so halves round up.
  ImagePtr soft = uniform_image(8, 4, px(1001, 2000, 3000, 32767));
  ASSERT_TRUE(flow.temperature_controlled_transparency(t, 0.0f, 2.0f, soft.get()));
  EXPECT_TRUE(same_pixel(soft->rows[0][7], px(501, 1000, 1500, 16384)));
  EXPECT_TRUE(same_pixel(soft->rows[0][0], px(1001, 2000, 3000, 32767)));
  EXPECT_FALSE(flow.temperature_controlled_transparency(t, 0.5f, 1.0f, nullptr));
}

TEST(FluidImageLayer, ModulationByFieldAndSpeed) {
  FluidFlow flow(4, 4, 2, 0, 0);
  const int s = flow.create_scalar_field("s");
  flow.fields[s]->set(0.25f);
  flow.velocity->set(0.3f, 0.4f);  // speed 0.5
  ImagePtr src = uniform_image(5, 3, px(10000, 20000, 30000, 32767));
  ImagePtr dst = uniform_image(5, 3, px(1, 1, 1, 1));
  // k = min(1 - 0.25, 0.5) / 0.5 = 1, m = min(0.5 * 1.5, 1) = 0.75.
  ASSERT_TRUE(flow.modulate_image_with_scalar_field(s, src.get(), dst.get(), 1.0f, 0.5f, 1.5f));
  EXPECT_TRUE(same_pixel(dst->rows[1][2], px(7500, 15000, 22500, 24575)));
  // k = (0.5 - 0.25) / 1 = 0.25, m = 1.
  ASSERT_TRUE(flow.modulate_image_with_scalar_field(s, src.get(), dst.get(), 0.5f, 1.0f, 4.0f));
  EXPECT_TRUE(same_pixel(dst->rows[0][0], px(2500, 5000, 7500, 8191)));
  // A band of 0 lets nothing through instead of dividing by it.
  ASSERT_TRUE(flow.modulate_image_with_scalar_field(s, src.get(), dst.get(), 1.0f, 0.0f, 1.0f));
  EXPECT_TRUE(same_pixel(dst->rows[2][4], px(0, 0, 0, 0)));
  // A negative speed factor cannot wrap a channel round.
  ASSERT_TRUE(flow.modulate_image_with_scalar_field(s, src.get(), dst.get(), 1.0f, 0.5f, -1.0f));
  EXPECT_TRUE(same_pixel(dst->rows[2][4], px(0, 0, 0, 0)));
  ImagePtr other = uniform_image(4, 3, px(0, 0, 0, 0));
  EXPECT_FALSE(flow.modulate_image_with_scalar_field(s, src.get(), other.get(), 1.0f, 0.5f, 1.0f));
}
