#include <algorithm>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "failing_heap.h"
#include "fluid_image_test_support.h"
#include "simd_paths.h"

namespace {

typedef std::vector<int> Line;

// One box pass the slow way: every window summed afresh, indices clamped
// to the line, the radius held to half the line.
Line window_mean(const Line& in, int radius) {
  const int n = static_cast<int>(in.size());
  const int R = std::min(radius, n / 2);
  Line out(in.size());
  for (int i = 0; i < n; ++i) {
    long long sum = 0;
    for (int j = i - R; j <= i + R; ++j) sum += in[std::min(std::max(j, 0), n - 1)];
    out[i] = static_cast<int>(sum / (2 * R + 1));
  }
  return out;
}

// Three passes at r and three at r + 1, mixed with k / 1024 on r + 1.
Line gaussian(const Line& line, float radius, int limit) {
  const float R = std::min(radius, static_cast<float>(limit));
  const int r = static_cast<int>(std::floor(R));
  const int k = static_cast<int>((R - r) * 1024.0f);
  Line a = line, b = line;
  for (int p = 0; p < 3; ++p) {
    a = window_mean(a, r);
    b = window_mean(b, r + 1);
  }
  for (size_t i = 0; i < a.size(); ++i) a[i] = ((1024 - k) * a[i] + k * b[i]) >> 10;
  return a;
}

// Rows, then (unless left out) columns faded by 1 / (1 + dissipation).
ImagePtr naive_diffuse(ImageQ4& img, float rate, float dissipation, bool columns = true) {
  const int w = img.width, h = img.height;
  ImagePtr out = copy_of(img);
  const float radius = w * rate * 0.5f;
  for (int c = 0; c < 4; ++c) {
    unsigned short PixelQ4::*ch = c == 0 ? &PixelQ4::r : c == 1 ? &PixelQ4::g : c == 2 ? &PixelQ4::b : &PixelQ4::a;
    for (int y = 0; y < h; ++y) {
      Line line(w);
      for (int x = 0; x < w; ++x) line[x] = out->rows[y][x].*ch;
      line = gaussian(line, radius, w / 2);
      for (int x = 0; x < w; ++x) out->rows[y][x].*ch = static_cast<unsigned short>(line[x]);
    }
    if (!columns) continue;
    const float keep = 1.0f / (1.0f + dissipation);
    for (int x = 0; x < w; ++x) {
      Line line(h);
      for (int y = 0; y < h; ++y) line[y] = static_cast<int>(out->rows[y][x].*ch * keep);
      line = gaussian(line, radius, h / 2);
      for (int y = 0; y < h; ++y) out->rows[y][x].*ch = static_cast<unsigned short>(line[y]);
    }
  }
  return out;
}

ImagePtr diffused(FluidFlow& flow, ImageQ4& img, float rate, float dissipation) {
  flow.set_texture_diffusion_rate(rate);
  flow.set_texture_dissipation_rate(dissipation);
  ImagePtr out = copy_of(img);
  flow.texture_diffuse_dissipate(out.get());
  return out;
}

}  // namespace

TEST(FluidTextureDiffusion, MatchesNaiveWindowSumsOnBothPathsAndEverySplit) {
  FluidFlow flow(8, 8, 2, 0, 0);
  ImagePtr img = random_image(37, 23, 9);
  // Radii below one, between, past a column's half (limited to 11) and past
  // both halves; dissipation none, some, a half.
  const float rates[] = {0.005f, 0.1f, 0.3f, 0.9f, 5.0f};
  for (float rate : rates)
    for (float dissipation : {0.0f, 0.0965f, 1.0f}) {
      const ImagePtr want = naive_diffuse(*img, rate, dissipation);
      const auto both = run_on_both_simd_paths([&] { return diffused(flow, *img, rate, dissipation); });
      EXPECT_TRUE(same_pixels(*both.first, *want)) << rate << " " << dissipation;
      EXPECT_TRUE(same_pixels(*both.second, *want)) << rate << " " << dissipation;
      BandSplits splits;
      for (const auto& e : splits.all()) {
        flow.set_mp_exec(e.first, e.second);
        EXPECT_TRUE(same_pixels(*diffused(flow, *img, rate, dissipation), *want)) << rate << " " << dissipation;
      }
      flow.set_mp_exec(nullptr, nullptr);
    }
  // Bands claim lines in chunks: a frame of several chunks each way, taken
  // by concurrent bands in whatever order they come.
  ImagePtr frame = random_image(160, 70, 10);
  const ImagePtr want = naive_diffuse(*frame, 0.05f, 0.0965f);
  BandSplits splits;
  for (const auto& e : splits.all()) {
    flow.set_mp_exec(e.first, e.second);
    EXPECT_TRUE(same_pixels(*diffused(flow, *frame, 0.05f, 0.0965f), *want));
  }
  flow.set_mp_exec(nullptr, nullptr);
  // Images of one row or column: that direction keeps radius 0.
  for (auto size : {std::make_pair(1, 30), std::make_pair(30, 1), std::make_pair(2, 3)}) {
    ImagePtr thin = random_image(size.first, size.second, 4);
    EXPECT_TRUE(same_pixels(*diffused(flow, *thin, 0.4f, 0.5f), *naive_diffuse(*thin, 0.4f, 0.5f)));
  }
}

TEST(FluidTextureDiffusion, RatesOfZeroFlatImagesAndHalving) {
  FluidFlow flow(8, 8, 2, 0, 0);
  ImagePtr img = random_image(40, 30, 5);
  // Both rates 0: nothing changes.
  EXPECT_TRUE(same_pixels(*diffused(flow, *img, 0.0f, 0.0f), *img));
  // Diffusion 0 keeps the rows; the columns only fade, 1 halving them.
  ImagePtr halved = diffused(flow, *img, 0.0f, 1.0f);
  ImagePtr faded = diffused(flow, *img, 0.0f, 0.25f);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      for (int c = 0; c < 4; ++c) {
        ASSERT_EQ(channel(halved->rows[y][x], c), channel(img->rows[y][x], c) / 2);
        ASSERT_EQ(channel(faded->rows[y][x], c), static_cast<int>(channel(img->rows[y][x], c) * 0.8f));
      }
  // A flat picture stays flat through any blur, the fade apart.
  ImagePtr flat = uniform_image(40, 30, px(20000, 32767, 0, 1));
  for (float rate : {0.01f, 0.2f, 3.0f}) {
    EXPECT_TRUE(same_pixels(*diffused(flow, *flat, rate, 0.0f), *flat)) << rate;
    EXPECT_TRUE(same_pixels(*diffused(flow, *flat, rate, 0.5f), *uniform_image(40, 30, px(13333, 21844, 0, 0))))
        << rate;
  }
}

TEST(FluidTextureDiffusion, RefusedWorkingLinesAndStopsLeaveLinesAsTheyWere) {
  FluidFlow flow(8, 8, 2, 0, 0);
  ImagePtr img = random_image(25, 15, 6);
  flow.set_texture_diffusion_rate(0.3f);
  flow.set_texture_dissipation_rate(0.5f);
  ImagePtr none = copy_of(*img), rows = copy_of(*img);
  {
    FailingHeap heap(0);
    flow.texture_diffuse_dissipate(none.get());
  }
  EXPECT_TRUE(same_pixels(*none, *img));
  {
    // The row band gets its lines, the column band does not.
    FailingHeap heap(1);
    flow.texture_diffuse_dissipate(rows.get());
  }
  EXPECT_TRUE(same_pixels(*rows, *naive_diffuse(*img, 0.3f, 0.5f, false)));
  StopAfter stop{0};
  flow.set_mp_exec(&stop, nullptr);
  flow.set_abort_test(&stop, StopAfter::test);
  EXPECT_TRUE(same_pixels(*diffused(flow, *img, 0.3f, 0.5f), *img));
}
