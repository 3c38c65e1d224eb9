#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "ImageXfmQ4.h"
#include "failing_heap.h"
#include "simd_paths.h"
#include "thread_band_executor.h"
#include "xfm_test_images.h"

namespace {

ImagePtr scaled(ImageXfmQ4& xfm, ImageQ4* src, int width, int height) {
  ImagePtr dst = uniform_image(width, height, make_pixel(1, 2, 3, 4));
  EXPECT_TRUE(xfm.scale_image(src, dst.get()));
  return dst;
}

TEST(XfmScaling, EnlargeFourToElevenWithTent) {
  ImageXfmQ4 xfm;
  xfm.sampleMode(2);
  ImagePtr src = uniform_image(4, 1, make_pixel(16384, 16384, 16384, 16384));
  ImagePtr dst = scaled(xfm, src.get(), 11, 1);
  EXPECT_EQ(dst->rows[0][0].r, 16384);
  // Centre 0.3: table weights 0.701171875 + 0.30078125.
  EXPECT_EQ(dst->rows[0][1].r, 16416);
  EXPECT_EQ(dst->rows[0][10].r, 16384);  // centre 3: the last pixel
  // Vertically the same along a column.
  ImagePtr column = uniform_image(1, 4, make_pixel(16384, 0, 0, 0));
  ImagePtr tall = scaled(xfm, column.get(), 1, 11);
  EXPECT_EQ(tall->rows[1][0].r, 16416);
  EXPECT_EQ(tall->rows[1][0].g, 0);
}

TEST(XfmScaling, ReduceThreeToTwoWithTent) {
  ImageXfmQ4 xfm;
  ImagePtr src = make_image(3, 1, [](int x, int) {
    const int v[3] = {1000, 2000, 30000};
    return make_pixel(v[x], 32767 - v[x], 4, 32767);
  });
  ImagePtr dst = scaled(xfm, src.get(), 2, 1);
  EXPECT_EQ(dst->rows[0][0].r, 1250);   // 0.75 p0 + 0.25 p1
  EXPECT_EQ(dst->rows[0][1].r, 23000);  // 0.25 p1 + 0.75 p2
  EXPECT_EQ(dst->rows[0][0].g, 31517);
  EXPECT_EQ(dst->rows[0][1].a, 32767);
  ImagePtr column = make_image(1, 3, [](int, int y) {
    const int v[3] = {1000, 2000, 30000};
    return make_pixel(0, 0, v[y], 0);
  });
  ImagePtr shorter = scaled(xfm, column.get(), 1, 2);
  EXPECT_EQ(shorter->rows[0][0].b, 1250);
  EXPECT_EQ(shorter->rows[1][0].b, 23000);
}

TEST(XfmScaling, UniformStaysUniformWhenReduced) {
  const PixelQ4 v = make_pixel(20001, 32767, 0, 777);
  ImagePtr src = uniform_image(37, 23, v);
  const int sizes[][2] = {{36, 22}, {19, 11}, {5, 3}, {2, 2}, {1, 1}, {7, 23}, {37, 4}, {1, 9}};
  for (int mode = 1; mode <= 6; mode++) {
    ImageXfmQ4 xfm;
    xfm.sampleMode(mode);
    for (const auto& s : sizes) {
      ImagePtr dst = scaled(xfm, src.get(), s[0], s[1]);
      for (int y = 0; y < s[1]; y++)
        for (int x = 0; x < s[0]; x++)
          ASSERT_TRUE(same_pixel(dst->rows[y][x], v)) << mode << " " << s[0] << "x" << s[1] << " at " << x << "," << y;
    }
  }
}

TEST(XfmScaling, SinglePixelLinesAreReplicated) {
  // A line of one pixel puts every output centre on that pixel, and the
  // clamped taps all read it, so each kernel must give back exactly the
  // pixel however far the line is stretched. The lines' pixels differ from
  // each other and carry the channel extremes, so a tap read from the wrong
  // line or a gain error shows.
  const int heights = 5;
  ImagePtr column =
      make_image(1, heights, [](int, int y) { return make_pixel(32767 - y * 7001, y * 8191, 1 + y, 32767); });
  ImagePtr row =
      make_image(heights, 1, [](int x, int) { return make_pixel(x * 8191, 32767 - x * 7001, 32767, 1 + x); });
  for (int mode = 1; mode <= 6; mode++) {
    ImageXfmQ4 xfm;
    xfm.sampleMode(mode);
    for (int length = 1; length <= 300; length += (length < 40 ? 1 : 37)) {
      ImagePtr wide = scaled(xfm, column.get(), length, heights);
      ImagePtr tall = scaled(xfm, row.get(), heights, length);
      for (int i = 0; i < length; i++)
        for (int j = 0; j < heights; j++) {
          ASSERT_TRUE(same_pixel(wide->rows[j][i], column->rows[j][0])) << "mode " << mode << " width " << length;
          ASSERT_TRUE(same_pixel(tall->rows[i][j], row->rows[0][j])) << "mode " << mode << " height " << length;
        }
    }
    // Both axes at once from a single pixel.
    ImagePtr dot = uniform_image(1, 1, make_pixel(32767, 0, 12345, 1));
    ImagePtr block = scaled(xfm, dot.get(), 17, 9);
    for (int y = 0; y < 9; y++)
      for (int x = 0; x < 17; x++) ASSERT_TRUE(same_pixel(block->rows[y][x], dot->rows[0][0])) << "mode " << mode;
  }
}

TEST(XfmScaling, EqualSizesCopyExactly) {
  ImagePtr src = random_image(13, 7, 2);
  ImageXfmQ4 xfm;
  xfm.sampleMode(5);
  EXPECT_TRUE(same_pixels(*src, *scaled(xfm, src.get(), 13, 7)));
  EXPECT_TRUE(xfm.scale_image(src.get(), src.get()));
  // Equal widths: the horizontal pass copies, rows stay as they were.
  ImagePtr cols = make_image(5, 4, [](int x, int) { return make_pixel(x * 5000, 0, 0, 32767); });
  ImagePtr taller = scaled(xfm, cols.get(), 5, 9);
  for (int y = 0; y < 9; y++)
    for (int x = 0; x < 5; x++) ASSERT_TRUE(same_pixel(taller->rows[y][x], cols->rows[0][x]));
}

TEST(XfmScaling, LengthOneGivesTheMean) {
  ImageXfmQ4 xfm;
  ImagePtr line = make_image(4, 1, [](int x, int) {
    const int v[4] = {100, 200, 300, 1000};
    return make_pixel(v[x], 32767, 0, v[x] * 2);
  });
  ImagePtr dot = scaled(xfm, line.get(), 1, 1);
  EXPECT_EQ(dot->rows[0][0].r, 400);
  EXPECT_EQ(dot->rows[0][0].g, 32767);
  EXPECT_EQ(dot->rows[0][0].a, 800);
  // Both axes: the mean of column means.
  ImagePtr block = make_image(3, 2, [](int x, int y) { return make_pixel(x * 300 + y * 3000, 0, 0, 0); });
  dot = scaled(xfm, block.get(), 1, 1);
  EXPECT_EQ(dot->rows[0][0].r, 1800);
  EXPECT_FALSE(xfm.scale_image(nullptr, dot.get()));
  EXPECT_FALSE(xfm.scale_image(dot.get(), nullptr));
}

TEST(XfmScaling, CubicOvershootIsClamped) {
  // Step 0 | 32767 enlarged 6 -> 21 (ratio 0.25) with the a = -1 cubic:
  // centre 3.25 sums 1.14 of full scale, centre 1.75 sums -0.14.
  ImageXfmQ4 xfm;
  xfm.sampleMode(4);
  ImagePtr step = make_image(6, 1, [](int x, int) { return make_pixel(x >= 3 ? 32767 : 0, 0, 0, 0); });
  ImagePtr dst = scaled(xfm, step.get(), 21, 1);
  EXPECT_EQ(dst->rows[0][13].r, 32767);
  EXPECT_EQ(dst->rows[0][7].r, 0);
  EXPECT_EQ(dst->rows[0][20].r, 32767);
}

// Enlarging with the tent by a naive loop: the table weight of each tap
// (1 - d for d cut down to a whole 1/512), a double sum, clamped and rounded
// after each pass.
unsigned short tent_sum(const std::vector<double>& values, double centre) {
  const int last = (int)values.size() - 1;
  double sum = 0.0;
  for (int t = (int)std::ceil(centre - 1.0); t <= (int)std::floor(centre + 1.0); t++) {
    const double weight = 1.0 - (int)(std::fabs(t - centre) * 512.0) / 512.0;
    sum += weight * values[t < 0 ? 0 : (t > last ? last : t)];
  }
  return (unsigned short)(std::min(std::max(sum, 0.0), 32767.0) + 0.5);
}

ImagePtr naive_tent_enlargement(const ImageQ4& src, int width, int height) {
  auto centre = [](int i, int from, int to) { return to > 1 ? i * ((from - 1) / (double)(to - 1)) : 0.0; };
  auto along = [&](int from, int to, int i, const std::function<int(int)>& value) {
    if (from == to) return (unsigned short)value(i);
    std::vector<double> line(from);
    for (int t = 0; t < from; t++) line[t] = value(t);
    return tent_sum(line, centre(i, from, to));
  };
  ImagePtr across = make_image(width, src.height, [&](int x, int y) {
    PixelQ4 p;
    unsigned short* c = &p.r;
    for (int ch = 0; ch < 4; ch++)
      c[ch] = along(src.width, width, x, [&](int t) { return channel(src.rows[y][t], ch); });
    return p;
  });
  return make_image(width, height, [&](int x, int y) {
    PixelQ4 p;
    unsigned short* c = &p.r;
    for (int ch = 0; ch < 4; ch++)
      c[ch] = along(src.height, height, y, [&](int t) { return channel(across->rows[t][x], ch); });
    return p;
  });
}

TEST(XfmScaling, TentEnlargementMatchesANaiveDoubleSum) {
  // Channels over the whole 16-bit range: with an equal width the vertical
  // pass reads the source's own values, above 32767 too. Widths past a
  // multiple of 256 outputs and of 4 pixels reach the ends of every loop;
  // the first and last outputs sit on a source (3 taps).
  std::mt19937 rng(17);
  ImagePtr src = make_image(37, 23, [&](int, int) {
    const int r = (int)(rng() % 8);
    const int g = r == 0 ? 65535 : (r == 1 ? 32767 : (int)(rng() & 32767));
    return make_pixel(rng() & 65535, g, r == 2 ? 0 : rng() & 65535, 32768 + (rng() & 32767));
  });
  const int sizes[][2] = {{37, 90}, {300, 23}, {261, 61}, {37, 24}, {38, 23}, {40, 700}, {1920, 31}};
  for (int mode : {1, 2}) {
    for (const auto& s : sizes) {
      ImagePtr want = naive_tent_enlargement(*src, s[0], s[1]);
      const auto paths = run_on_both_simd_paths([&] {
        ImageXfmQ4 xfm;
        xfm.sampleMode(mode);
        return scaled(xfm, src.get(), s[0], s[1]);
      });
      EXPECT_TRUE(same_pixels(*paths.first, *want)) << "portable " << mode << " " << s[0] << "x" << s[1];
      EXPECT_TRUE(same_pixels(*paths.second, *want)) << "best " << mode << " " << s[0] << "x" << s[1];
    }
  }
}

TEST(XfmScaling, BandedAndSerialIdentical) {
  ImagePtr src = random_image(53, 41, 12);
  const int sizes[][2] = {{17, 90}, {120, 13}, {53, 20}, {31, 41}, {2, 3}};
  int bands = 4;
  for (int mode = 1; mode <= 6; mode++) {
    ImageXfmQ4 serial, banded;
    serial.sampleMode(mode);
    banded.sampleMode(mode);
    banded.set_mp_exec(&bands, banded_exec);
    for (const auto& s : sizes) {
      ImagePtr a = scaled(serial, src.get(), s[0], s[1]);
      ImagePtr b = scaled(banded, src.get(), s[0], s[1]);
      EXPECT_TRUE(same_pixels(*a, *b)) << mode << " " << s[0] << "x" << s[1];
    }
  }
}

TEST(XfmScaling, VectorAndPortablePathsGiveTheSameBytes) {
  // Channels at 0 and full scale make the cubic lobes clamp at both ends.
  ImagePtr src = random_image(61, 47, 21);
  for (int i = 0; i < 61; i += 3) src->rows[i % 47][i] = make_pixel(32767, 0, 32767, 0);
  const int sizes[][2] = {{17, 90}, {200, 13}, {128, 128}, {1, 5}, {61, 2}};
  for (int mode = 1; mode <= 6; mode++) {
    for (const auto& s : sizes) {
      const auto paths = run_on_both_simd_paths([&] {
        ImageXfmQ4 xfm;
        xfm.sampleMode(mode);
        return scaled(xfm, src.get(), s[0], s[1]);
      });
      EXPECT_TRUE(same_pixels(*paths.first, *paths.second)) << mode << " " << s[0] << "x" << s[1];
    }
  }
}

TEST(XfmScaling, PoolBandsMatchSerial) {
  // Both passes in bands running at once, as the solver's executor runs
  // them: even splits of 1, 3 and 8 bands and an uneven one, over rows of
  // the source (first pass) and of the target (second pass), fewer rows
  // than bands among them.
  ImagePtr large = random_image(150, 90, 5), small = random_image(9, 3, 6);
  const struct {
    ImageQ4* src;
    int width, height;
  } sizes[] = {{large.get(), 37, 211}, {large.get(), 128, 20}, {large.get(), 2, 40}, {large.get(), 300, 5},
               {small.get(), 40, 6}, {small.get(), 9, 7}};
  const std::pair<int, bool> splits[] = {{1, false}, {3, false}, {8, false}, {5, true}};
  for (int mode : {2, 3, 6}) {
    ImageXfmQ4 serial;
    serial.sampleMode(mode);
    for (const auto& c : sizes) {
      ImagePtr expect = scaled(serial, c.src, c.width, c.height);
      for (const auto& split : splits) {
        ThreadBandExecutor executor(split.first, split.second);
        ImageXfmQ4 banded;
        banded.sampleMode(mode);
        banded.set_mp_exec(&executor, ThreadBandExecutor::exec);
        EXPECT_TRUE(same_pixels(*scaled(banded, c.src, c.width, c.height), *expect))
            << mode << " " << c.width << "x" << c.height << " bands " << split.first << (split.second ? " uneven" : "");
        EXPECT_GT(executor.calls.load(), 0);
      }
    }
  }
}

TEST(XfmScaling, IntermediateKeptForCallsOfTheSameSizes) {
  ImagePtr frame = random_image(40, 30, 8);
  ImageXfmQ4 xfm;
  xfm.sampleMode(3);
  ImagePtr first = scaled(xfm, frame.get(), 12, 9);
  const ImageQ4* kept = xfm.scale_tmp.get();
  ASSERT_NE(kept, nullptr);
  ImagePtr again = uniform_image(12, 9, make_pixel(1, 2, 3, 4));
  ImagePtr other = uniform_image(13, 9, make_pixel(1, 2, 3, 4));
  {
    // Only the two passes' tap lists can be had: the same sizes need no
    // new intermediate and give the same pixels; other sizes fail and leave
    // the target as it was.
    FailingHeap heap(2);
    EXPECT_TRUE(xfm.scale_image(frame.get(), again.get()));
    EXPECT_TRUE(same_pixels(*again, *first));
    EXPECT_EQ(xfm.scale_tmp.get(), kept);
    EXPECT_FALSE(xfm.scale_image(frame.get(), other.get()));
    for (int y = 0; y < 9; y++)
      for (int x = 0; x < 13; x++) ASSERT_TRUE(same_pixel(other->rows[y][x], make_pixel(1, 2, 3, 4)));
  }
  // A new size, then back: each result is what a fresh resampler gives.
  for (int width : {13, 12}) {
    ImageXfmQ4 fresh;
    fresh.sampleMode(3);
    EXPECT_TRUE(same_pixels(*scaled(xfm, frame.get(), width, 9), *scaled(fresh, frame.get(), width, 9))) << width;
    EXPECT_EQ(xfm.scale_tmp->width, width);
  }
}

}  // namespace
