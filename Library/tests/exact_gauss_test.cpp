// Exact Gaussian and unsharp masking of the frame image.
#include <cmath>
#include <vector>

#include "failing_heap.h"
#include "filter_fixture.h"
#include "q4_memory.h"
#include "standin_host.h"

namespace {

typedef FilterTest ExactGaussTest;

std::vector<int> kernel_of(float radius) {
  long count = -1, scale = -1, shift = -1;
  int* taps = ImageQ4::gaussian_kernel(radius, &count, &scale, &shift);
  if (!taps) return {};
  EXPECT_EQ(scale, 65536);
  EXPECT_EQ(shift, 16);
  std::vector<int> kernel(taps, taps + count);
  q4_free(taps, "test", __LINE__);
  return kernel;
}

// One pass the slow way: every output sums its taps, indices clamped to the
// line or taps outside left out.
PixelQ4 convolve_at(const ImageQ4& in, int x, int y, bool vertical, const std::vector<int>& taps, bool clamp,
                    int channels) {
  const int h = static_cast<int>(taps.size()) / 2;
  const int n = vertical ? in.height : in.width;
  int64_t sum[4] = {0, 0, 0, 0};
  for (size_t k = 0; k < taps.size(); ++k) {
    int at = (vertical ? y : x) - h + static_cast<int>(k);
    if (at < 0 || at >= n) {
      if (!clamp) continue;
      at = at < 0 ? 0 : n - 1;
    }
    const PixelQ4& p = vertical ? in.rows[at][x] : in.rows[y][at];
    for (int c = 0; c < 4; ++c) sum[c] += static_cast<int64_t>(taps[k]) * channel_value(p, c);
  }
  const PixelQ4& self = in.rows[y][x];
  unsigned short out[4];
  for (int c = 0; c < 4; ++c)
    out[c] = c < channels ? static_cast<unsigned short>(sum[c] >> 16) : channel_value(self, c);
  return PixelQ4{out[0], out[1], out[2], out[3]};
}

Image convolve_image(const ImageQ4& in, bool vertical, const std::vector<int>& taps, bool clamp,
                     int channels) {
  Image out = new_image(in.width, in.height);
  for (int y = 0; y < in.height; ++y)
    for (int x = 0; x < in.width; ++x)
      out->rows[y][x] = convolve_at(in, x, y, vertical, taps, clamp, channels);
  return out;
}

}  // namespace

TEST_F(ExactGaussTest, KernelTapsAsKnownAndAlwaysWholeScale) {
  EXPECT_EQ(kernel_of(1.0f), (std::vector<int>{712, 64112, 712}));
  EXPECT_EQ(kernel_of(2.0f), (std::vector<int>{435, 12728, 39210, 12728, 435}));
  EXPECT_EQ(kernel_of(0.6f), (std::vector<int>{65536}));
  EXPECT_EQ(kernel_of(0.0f), (std::vector<int>{65536}));
  EXPECT_EQ(kernel_of(-5.0f), (std::vector<int>{65536}));
  EXPECT_EQ(kernel_of(NAN), (std::vector<int>{65536}));
  for (int step = 0; step <= 1000; ++step) {
    const float radius = step * 0.05f;
    const std::vector<int> k = kernel_of(radius);
    ASSERT_EQ(k.size() % 2, 1u) << radius;
    long sum = 0;
    for (size_t i = 0; i < k.size(); ++i) {
      ASSERT_EQ(k[i], k[k.size() - 1 - i]) << radius;
      ASSERT_GE(k[i], 0);  // a kept tap of 1 can scale to 0 under a wide kernel
      sum += k[i];
    }
    ASSERT_EQ(sum, 65536) << radius;
    ASSERT_LE(k.size(), 2 * static_cast<size_t>(std::ceil(radius > 0.01f ? radius : 0.01f)) + 1);
  }
  long count = 0, scale = 0, shift = 0;
  EXPECT_EQ(ImageQ4::gaussian_kernel(INFINITY, &count, &scale, &shift), nullptr);
}

// Both passes, both edge rules, with and without alpha, against the direct
// convolution; 13 taps on rows of 10 pixels take the short-line rule for
// every pixel.
TEST_F(ExactGaussTest, PassesEqualDirectConvolution) {
  for (int width : {10, 45}) {
    Image input = new_image(width, 17);
    fill_noise(*input, 31);
    for (float radius : {5.5f, 1.0f, 3.3f})
      for (int clamp : {0, 1})
        for (int alpha : {0, 1}) {
          const std::vector<int> taps = kernel_of(radius);
          const int channels = alpha ? 4 : 3;
          Image horizontal = copy_image(*input), vertical = copy_image(*input), both = copy_image(*input);
          horizontal->Exact_GaussianBlur(radius, clamp, nullptr, 0, alpha);
          vertical->Exact_GaussianBlur(radius, clamp, nullptr, 1, alpha);
          both->Exact_GaussianBlur(radius, clamp, nullptr, 2, alpha);
          Image h_ref = convolve_image(*input, false, taps, clamp, channels);
          Image v_ref = convolve_image(*input, true, taps, clamp, channels);
          Image hv_ref = convolve_image(*h_ref, true, taps, clamp, channels);
          EXPECT_TRUE(same_pixels(*horizontal, *h_ref))
              << width << " r" << radius << " c" << clamp << " a" << alpha;
          EXPECT_TRUE(same_pixels(*vertical, *v_ref))
              << width << " r" << radius << " c" << clamp << " a" << alpha;
          EXPECT_TRUE(same_pixels(*both, *hv_ref))
              << width << " r" << radius << " c" << clamp << " a" << alpha;
        }
  }
}

TEST_F(ExactGaussTest, ClampedFlatStaysFlatAndUnclampedBordersDarken) {
  Image flat = new_image(30, 20);
  flat->Fill(30000, 20000, 10000, 32767);
  Image clamped = copy_image(*flat), open = copy_image(*flat);
  clamped->Exact_GaussianBlur(4.0f, 1, nullptr, 2, 1);
  open->Exact_GaussianBlur(4.0f, 0, nullptr, 2, 1);
  EXPECT_TRUE(same_pixels(*clamped, *flat));
  EXPECT_TRUE(same_pixel(open->rows[10][15], flat->rows[10][15]));
  for (int y : {0, 19}) EXPECT_LT(open->rows[y][15].r, 30000 * 3 / 4);
  for (int x : {0, 29}) EXPECT_LT(open->rows[10][x].g, 20000 * 3 / 4);
  EXPECT_LT(open->rows[0][0].a, open->rows[0][15].a);
}

TEST_F(ExactGaussTest, ChannelPassesTouchTheirChannelOnly) {
  Image source = new_image(21, 14), target = new_image(21, 14);
  fill_noise(*source, 32);
  fill_noise(*target, 33);
  Image all = copy_image(*target);
  all->Exact_GaussianBlur(2.2f, 1, source.get(), 2, 1);
  for (int keep : {0, 1}) {
    Image one = copy_image(*target);
    one->Exact_GaussianBlur_Channel(2.2f, 1, source.get(), 2, 3, keep);
    for (int y = 0; y < 14; ++y)
      for (int x = 0; x < 21; ++x) {
        const PixelQ4 &s = source->rows[y][x], &p = one->rows[y][x];
        ASSERT_EQ(p.a, all->rows[y][x].a);
        ASSERT_TRUE(
            same_pixel(PixelQ4{p.r, p.g, p.b, 0}, keep ? PixelQ4{s.r, s.g, s.b, 0} : PixelQ4{0, 0, 0, 0}));
      }
  }
  // Without a source only the named channel moves, in either direction.
  for (int direction : {0, 1}) {
    Image one = copy_image(*target);
    if (direction == 0)
      one->Exact_GaussianBlurHoriz_Channel(2.2f, 0, nullptr, 1);
    else
      one->Exact_GaussianBlurVert_Channel(2.2f, 0, nullptr, 1);
    Image reference = convolve_image(*target, direction == 1, kernel_of(2.2f), false, 4);
    for (int y = 0; y < 14; ++y)
      for (int x = 0; x < 21; ++x) {
        const PixelQ4 &t = target->rows[y][x], &p = one->rows[y][x];
        ASSERT_TRUE(same_pixel(p, PixelQ4{t.r, reference->rows[y][x].g, t.b, t.a}));
      }
  }
  Image untouched = copy_image(*target);
  untouched->Exact_GaussianBlur_Channel(2.2f, 1, nullptr, 2, 4, 1);
  untouched->Exact_GaussianBlur(2.2f, 1, nullptr, 5, 1);
  EXPECT_TRUE(same_pixels(*untouched, *target));
}

// Samples above the 15-bit range (a host never sends them, a caller may
// store them) can carry a pass past 32767: the one-channel passes write full
// scale there, the others the value itself.
TEST_F(ExactGaussTest, OutOfRangeSamplesFollowEachStoreRule) {
  Image image = new_image(8, 3);
  image->Fill(65535, 65535, 65535, 65535);
  Image one = copy_image(*image), all = copy_image(*image);
  one->Exact_GaussianBlurHoriz_Channel(1.0f, 1, nullptr, 0);
  all->Exact_GaussianHoriz(1.0f, 1, nullptr, 1);
  EXPECT_EQ(one->rows[1][4].r, 32767);
  EXPECT_EQ(all->rows[1][4].r, 65535);
}

// Without its kernel an operation says so and changes nothing; with the
// kernel but without band lines it changes nothing either.
TEST_F(ExactGaussTest, FailedAllocationsLeaveTheImageUnchanged) {
  Image input = new_image(12, 9);
  fill_noise(*input, 34);
  const std::function<void(ImageQ4&)> operations[] = {
      [](ImageQ4& im) { im.Exact_GaussianBlur(3.0f, 1, nullptr, 0, 1); },
      [](ImageQ4& im) { im.Exact_GaussianBlur(3.0f, 1, nullptr, 1, 0); },
      [](ImageQ4& im) { im.Exact_GaussianBlur_Channel(3.0f, 1, nullptr, 0, 2, 1); },
      [&](ImageQ4& im) { im.Sharpen(3.0f, 1.0f, input.get(), 1); }};
  for (const auto& operation : operations)
    for (int grants : {0, 1}) {
      Image out = copy_image(*input);
      const int before = standin_log_count("sparkMessage(Cannot allocate memory for gaussian kernel :-( ");
      {
        FailingHeap heap(grants);
        operation(*out);
      }
      EXPECT_TRUE(same_pixels(*out, *input)) << grants;
      EXPECT_EQ(standin_log_count("sparkMessage(Cannot allocate memory for gaussian kernel :-( ") - before,
                grants == 0 ? 1 : 0);
    }
}

namespace {

std::vector<int> sharpen_weights(float radius, long& side, long& total) {
  int* weights = ImageQ4::sharpen_kernel(radius, &side, &total);
  std::vector<int> out(weights, weights + side * side);
  q4_free(weights, "test", __LINE__);
  return out;
}

}  // namespace

TEST_F(ExactGaussTest, SharpenKernelAsKnown) {
  long side = 0, total = 0;
  for (float radius : {2.0f, 0.5f, -3.0f, 2.9f, NAN}) {
    EXPECT_EQ(sharpen_weights(radius, side, total), (std::vector<int>{21, 37, 21, 37, 64, 37, 21, 37, 21}));
    EXPECT_EQ(side, 3);
    EXPECT_EQ(total, 296);
  }
  const std::vector<int> w = sharpen_weights(7.5f, side, total);
  EXPECT_EQ(side, 13);
  EXPECT_EQ(w[6 * 13 + 6], 64);
  long sum = 0;
  for (int v : w) sum += v;
  EXPECT_EQ(sum, total);
  EXPECT_EQ(ImageQ4::sharpen_kernel(1e9f, &side, &total), nullptr);
}

// Amount 0 gives the source back; radius 40 (a kernel total far past 65536)
// matches a reference summed in double precision, which holds every sum
// exactly; a flat interior stays flat while its border rises.
TEST_F(ExactGaussTest, SharpenMatchesADoublePrecisionReference) {
  Image source = new_image(90, 84);
  fill_noise(*source, 36);
  Image same = new_image(90, 84);
  same->Sharpen(5.0f, 0.0f, source.get(), 1);
  EXPECT_TRUE(same_pixels(*same, *source));

  long side = 0, total = 0;
  const std::vector<int> w = sharpen_weights(40.0f, side, total);
  ASSERT_GT(total, 65536);
  const float amount = 0.75f;
  Image out = new_image(90, 84);
  out->Sharpen(40.0f, amount, source.get(), 0);
  const int half = static_cast<int>(side / 2);
  for (int y : {0, 1, 40, 83})
    for (int x : {0, 7, 45, 89})
      for (int c = 0; c < 3; ++c) {
        double sum = 0;
        for (int j = 0; j < side; ++j)
          for (int i = 0; i < side; ++i) {
            const int sx = x - half + i, sy = y - half + j;
            if (sx >= 0 && sx < 90 && sy >= 0 && sy < 84)
              sum += static_cast<double>(w[j * side + i]) * channel_value(source->rows[sy][sx], c);
          }
        const double s = channel_value(source->rows[y][x], c);
        const double v = std::trunc(s + (s - std::trunc(sum / total)) * amount + 0.5);
        const int expected = v < 0 ? 0 : (v >= 32768 ? 32767 : static_cast<int>(v));
        ASSERT_EQ(channel_value(out->rows[y][x], c), expected) << x << "," << y << " c" << c;
      }
  EXPECT_EQ(out->rows[40][45].a, source->rows[40][45].a);

  Image flat = new_image(20, 20);
  flat->Fill(10000, 10000, 10000, 10000);
  Image sharp = copy_image(*flat);
  sharp->Sharpen(3.0f, 1.0f, nullptr, 1);
  EXPECT_TRUE(same_pixel(sharp->rows[10][10], flat->rows[10][10]));
  EXPECT_GT(sharp->rows[0][10].r, 10000);
  EXPECT_GT(sharp->rows[19][19].a, sharp->rows[0][10].a);
}
