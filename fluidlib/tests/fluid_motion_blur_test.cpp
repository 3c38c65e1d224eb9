#include <chrono>
#include <cmath>
#include <utility>

#include <gtest/gtest.h>

#include "fluid_image_test_support.h"
#include "simd_paths.h"

namespace {

float unit(int k, int n) { return n > 1 ? static_cast<float>(k) / static_cast<float>(n - 1) : 0.0f; }

// Each pixel the mean of point samples along its trail, the velocity read
// at the pixel's 0..1 position, the samples taken one at a time with
// ImageQ4::PointSampleB and summed in float; then written (the blur) or
// added by amount (a source).
ImagePtr naive_trails(FluidFlow& flow, ImageQ4& src, ImageQ4& base, bool add, float amount) {
  const int w = src.width, h = src.height;
  ImagePtr out = copy_of(base);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const float fx = unit(x, w), fy = unit(y, h);
      float vx, vy;
      flow.evaluate_velocity(fx, fy, vx, vy);
      if (!std::isfinite(vx) || !std::isfinite(vy)) vx = vy = 0.0f;
      const float length = std::sqrt(vx * vx + vy * vy);
      const float count = 3.0f * length * static_cast<float>(std::max(w, h));
      const int n = std::max(count < 65536.0f ? static_cast<int>(count) : 65536, 2);
      float sum[4] = {0, 0, 0, 0};
      for (int k = 0; k < n; ++k) {
        const float t = static_cast<float>(k) / static_cast<float>(n - 1);
        // At the pixel itself, then back along the flow, inside the image.
        const float sx = std::fmin(std::fmax(x - vx * t * (w - 1), 0.0f), w - 1.0f);
        const float sy = std::fmin(std::fmax(y - vy * t * (h - 1), 0.0f), h - 1.0f);
        PixelQ4 p;
        src.PointSampleB(sx, sy, p);
        for (int c = 0; c < 4; ++c) sum[c] += static_cast<float>(channel(p, c));
      }
      unsigned short result[4];
      const PixelQ4 t = out->rows[y][x];
      for (int c = 0; c < 4; ++c) {
        const float mean = sum[c] / static_cast<float>(n);
        const float v = add ? std::fmin(std::fmax(channel(t, c) + mean * amount + 0.5f, 0.0f), 32767.0f)
                            : std::fmin(mean, 32767.0f);
        result[c] = static_cast<unsigned short>(v);
      }
      out->rows[y][x] = PixelQ4{result[0], result[1], result[2], result[3]};
    }
  return out;
}

ImagePtr blurred(FluidFlow& flow, ImageQ4& src) {
  ImagePtr dst = uniform_image(src.width, src.height, px(1, 1, 1, 1));
  EXPECT_TRUE(flow.motion_blur_image(&src, dst.get()));
  return dst;
}

ImagePtr fed(FluidFlow& flow, ImageQ4& src, ImageQ4& texture, float amount) {
  ImagePtr out = copy_of(texture);
  EXPECT_TRUE(flow.add_source_for_texture_method_with_motion_blur(&src, out.get(), amount));
  return out;
}

}  // namespace

TEST(FluidMotionBlur, StillFlowCopiesAndUniformFlowMatchesNaiveTrails) {
  FluidFlow flow(16, 16, 2, 0, 0);
  ImagePtr src = random_image(48, 36, 11);
  EXPECT_TRUE(same_pixels(*blurred(flow, *src), *src));
  // A diverged flow has no direction: it blurs as a still one.
  flow.velocity->set(NAN, 0.01f);
  EXPECT_TRUE(same_pixels(*blurred(flow, *src), *src));
  flow.velocity->set(INFINITY, -INFINITY);
  EXPECT_TRUE(same_pixels(*blurred(flow, *src), *src));

  // About 3 * 0.11 * 48 = 16 samples a pixel, trails running off the edges.
  flow.velocity->set(0.1f, -0.05f);
  ImagePtr texture = random_image(48, 36, 12);
  const auto blur = run_on_both_simd_paths([&] { return blurred(flow, *src); });
  const ImagePtr want = naive_trails(flow, *src, *src, false, 1.0f);
  EXPECT_TRUE(same_pixels(*blur.first, *want));
  EXPECT_TRUE(same_pixels(*blur.second, *want));
  EXPECT_FALSE(same_pixels(*want, *src));
  for (float amount : {0.37f, -0.5f, 1.75f}) {
    const auto source = run_on_both_simd_paths([&] { return fed(flow, *src, *texture, amount); });
    const ImagePtr want_fed = naive_trails(flow, *src, *texture, true, amount);
    EXPECT_TRUE(same_pixels(*source.first, *want_fed)) << amount;
    EXPECT_TRUE(same_pixels(*source.second, *want_fed)) << amount;
  }
}

TEST(FluidMotionBlur, DevelopedFlowMatchesNaiveTrailsForEveryBandSplit) {
  FluidFlow flow(24, 24, 2, 0, 0);
  develop_flow(flow, 10);
  ImagePtr src = random_image(57, 33, 21);
  const ImagePtr want = naive_trails(flow, *src, *src, false, 1.0f);
  EXPECT_TRUE(same_pixels(*blurred(flow, *src), *want));
  ImagePtr texture = random_image(57, 33, 22);
  const ImagePtr want_fed = naive_trails(flow, *src, *texture, true, -0.8f);
  BandSplits splits;
  for (const auto& e : splits.all()) {
    flow.set_mp_exec(e.first, e.second);
    EXPECT_TRUE(same_pixels(*blurred(flow, *src), *want));
    EXPECT_TRUE(same_pixels(*fed(flow, *src, *texture, -0.8f), *want_fed));
  }
  // In place, the trails read the picture as it was.
  ImagePtr self = copy_of(*src);
  EXPECT_TRUE(flow.motion_blur_image(self.get(), self.get()));
  EXPECT_TRUE(same_pixels(*self, *want));
  // Rows that do not follow one another in one block are found through
  // the row table, on both kernel copies.
  ImagePtr shuffled = copy_of(*src);
  std::swap(shuffled->rows[3], shuffled->rows[20]);
  const ImagePtr want_shuffled = naive_trails(flow, *shuffled, *shuffled, false, 1.0f);
  EXPECT_FALSE(same_pixels(*want_shuffled, *want));
  const auto both = run_on_both_simd_paths([&] { return blurred(flow, *shuffled); });
  EXPECT_TRUE(same_pixels(*both.first, *want_shuffled));
  EXPECT_TRUE(same_pixels(*both.second, *want_shuffled));
}

TEST(FluidMotionBlur, TinyAmountsSinksAndRefusals) {
  FluidFlow flow(8, 8, 2, 0, 0);
  flow.velocity->set(0.02f, 0.0f);
  ImagePtr src = uniform_image(10, 6, px(30000, 20000, 100, 32767));
  ImagePtr texture = uniform_image(10, 6, px(1000, 30000, 50, 7));
  ImagePtr other = uniform_image(9, 6, px(5, 5, 5, 5));
  const ImagePtr before = copy_of(*other);
  // Below a millionth nothing happens, whatever the sizes.
  EXPECT_TRUE(flow.add_source_for_texture_method_with_motion_blur(src.get(), other.get(), 0.5e-6f));
  EXPECT_TRUE(flow.add_source_for_texture_method(src.get(), other.get(), -0.5e-6f));
  EXPECT_TRUE(same_pixels(*other, *before));
  EXPECT_FALSE(flow.add_source_for_texture_method_with_motion_blur(src.get(), other.get(), 0.5f));
  EXPECT_FALSE(flow.add_source_for_texture_method(src.get(), other.get(), 0.5f));
  EXPECT_FALSE(flow.motion_blur_image(src.get(), other.get()));
  EXPECT_FALSE(flow.motion_blur_image(nullptr, other.get()));
  EXPECT_TRUE(same_pixels(*other, *before));

  // A sink stops at 0 and a source at full, plain or along the flow.
  for (bool along : {false, true}) {
    ImagePtr t = copy_of(*texture);
    const bool ok = along ? flow.add_source_for_texture_method_with_motion_blur(src.get(), t.get(), -2.0f)
                          : flow.add_source_for_texture_method(src.get(), t.get(), -2.0f);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(same_pixels(*t, *uniform_image(10, 6, px(0, 0, 0, 0)))) << along;
    ASSERT_TRUE(along ? flow.add_source_for_texture_method_with_motion_blur(src.get(), t.get(), 2.0f)
                      : flow.add_source_for_texture_method(src.get(), t.get(), 2.0f));
    EXPECT_TRUE(same_pixels(*t, *uniform_image(10, 6, px(32767, 32767, 200, 32767)))) << along;
  }
  // The plain source: c + s * amount, rounded.
  ImagePtr t = uniform_image(2, 1, px(1000, 0, 32000, 10));
  ImagePtr s = uniform_image(2, 1, px(2000, 3, 32767, 10));
  ASSERT_TRUE(flow.add_source_for_texture_method(s.get(), t.get(), 0.25f));
  EXPECT_TRUE(same_pixel(t->rows[0][1], px(1500, 1, 32767, 13)));
}

TEST(FluidMotionBlur, RunawayFlowsAndOnePixelLines) {
  // A diverged but finite flow: the trail is capped, so the call ends.
  FluidFlow flow(4, 4, 2, 0, 0);
  flow.velocity->set(1e30f, 1e30f);
  ImagePtr src = random_image(3, 2, 5);
  const auto start = std::chrono::steady_clock::now();
  ImagePtr out = blurred(flow, *src);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  // 65536 samples: the pixel itself, then every other one clamped to the
  // corner the trail runs back to.
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      for (int c = 0; c < 4; ++c) {
        const long long sum = channel(src->rows[y][x], c) + 65535LL * channel(src->rows[0][0], c);
        EXPECT_EQ(channel(out->rows[y][x], c), static_cast<int>(static_cast<float>(sum) / 65536.0f)) << x << y << c;
      }
  // Lines one pixel long sit at position 0 instead of 0 / 0.
  flow.velocity->set(0.2f, 0.1f);
  for (auto size : {std::make_pair(1, 12), std::make_pair(12, 1)}) {
    ImagePtr line = random_image(size.first, size.second, 6);
    EXPECT_TRUE(same_pixels(*blurred(flow, *line), *naive_trails(flow, *line, *line, false, 1.0f)));
  }
}
