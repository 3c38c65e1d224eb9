// Template and Canny edge detection of the frame image.
#include <cmath>
#include <cstdlib>
#include <vector>

#include "failing_heap.h"
#include "filter_fixture.h"
#include "standin_host.h"

namespace {

typedef FilterTest EdgeTest;

// The 3 x 3 operator the hard way: scale x Sobel across, its transpose down,
// positions outside the image left out.
Image sobel_reference(const ImageQ4& in, int scale, float out_gain) {
  const int sobel[3][3] = {{-1, 0, 1}, {-2, 0, 2}, {-1, 0, 1}};
  Image out = new_image(in.width, in.height);
  for (int y = 0; y < in.height; ++y)
    for (int x = 0; x < in.width; ++x) {
      unsigned short v[4];
      for (int c = 0; c < 4; ++c) {
        long sx = 0, sy = 0;
        for (int i = 0; i < 3; ++i)
          for (int j = 0; j < 3; ++j) {
            const int px = x - 1 + j, py = y - 1 + i;
            if (px < 0 || px >= in.width || py < 0 || py >= in.height) continue;
            const long p = channel_value(in.rows[py][px], c);
            sx += p * scale * sobel[i][j];
            sy += p * scale * sobel[j][i];
          }
        const float e = static_cast<float>(std::labs(sx) / 256 + std::labs(sy) / 256) * out_gain;
        v[c] = e > 32767 ? 32767 : static_cast<unsigned short>(e);
      }
      out->rows[y][x] = PixelQ4{v[0], v[1], v[2], v[3]};
    }
  return out;
}

// A filled square on black, rows and columns from..to; with a soft edge it
// has a rim at half intensity around it.
Image square_image(int size, int from, int to, bool soft = false) {
  Image image = new_image(size, size);
  image->Fill(0, 0, 0, 0);
  if (soft)
    for (int y = from - 1; y <= to + 1; ++y)
      for (int x = from - 1; x <= to + 1; ++x) image->rows[y][x] = PixelQ4{16384, 10000, 16384, 16384};
  for (int y = from; y <= to; ++y)
    for (int x = from; x <= to; ++x) image->rows[y][x] = PixelQ4{32767, 20000, 32767, 32767};
  return image;
}

}  // namespace

// A flat image has no edges. The templates leave out positions beyond the
// image, so there a bright image meets black: its border answers, its
// interior does not. Canny wraps around and answers nowhere.
TEST_F(EdgeTest, FlatImagesHaveNoEdges) {
  for (unsigned short level : {0, 20000}) {
    Image flat = new_image(24, 19);
    flat->Fill(level, 100, 32767, 5000);
    for (int k = 0; k < 6; ++k) {
      Image out = copy_image(*flat);
      PixelQ4 low{1, 1, 1, 1}, high{0, 0, 0, 0};  // estimated
      if (k == 0) out->SobelEdge(1.0f, 1.0f, nullptr, 0);
      if (k == 1) out->GradientEdge(2.5f, 3.0f, nullptr, 0);
      if (k >= 2) out->CannyEdge(2.0f, k % 2 == 0, 1.0f, k >= 4, &low, &high, nullptr, 1);
      const int border = k == 0 ? 1 : k == 1 ? 3 : 0;
      for (int y = border; y < 19 - border; ++y)
        for (int x = border; x < 24 - border; ++x)
          ASSERT_TRUE(same_pixel(out->rows[y][x], PixelQ4{0, 0, 0, 0})) << k << " at " << x << "," << y;
      // The full-scale blue corner against the black outside saturates
      // both templates: the Sobel one's sum across alone is 12 x 32767,
      // times 0.2.
      if (k < 2) {
        EXPECT_EQ(out->rows[0][0].b, 32767);
      }
    }
  }
  Image black = new_image(10, 10);
  black->Fill(0, 0, 0, 0);
  black->SobelEdge(3.0f, 5.0f, nullptr, 0);
  for (const PixelQ4& p : pixels_of(*black)) ASSERT_TRUE(same_pixel(p, PixelQ4{0, 0, 0, 0}));
}

// At size 1 the Sobel template is 1024 times the Sobel operator, the gradient
// template 256 times; both against the hard way on noise.
TEST_F(EdgeTest, SizeOneTemplatesAreScaledSobel) {
  Image input = new_image(26, 21);
  fill_noise(*input, 41);
  Image sobel = copy_image(*input), gradient = copy_image(*input);
  sobel->SobelEdge(1.0f, 0.05f, nullptr, 0);
  gradient->GradientEdge(1.0f, 0.2f, nullptr, 0);
  EXPECT_TRUE(same_pixels(*sobel, *sobel_reference(*input, 1024, 0.2f * 0.05f)));
  EXPECT_TRUE(same_pixels(*gradient, *sobel_reference(*input, 256, 0.4f * 0.2f)));
}

// At size 20 the template sums across a full-scale step pass 32 bits. The
// detector is linear before its final scaling, so halving every sample
// halves the answer (up to truncation); sums that wrapped would not.
TEST_F(EdgeTest, LargeTemplatesSumWithoutWrapping) {
  Image full = new_image(48, 44), half = new_image(48, 44);
  fill_noise(*full, 44);
  for (int y = 0; y < 44; ++y)
    for (int x = 0; x < 48; ++x) {
      PixelQ4& p = full->rows[y][x];
      const unsigned short step = x < 24 ? 0 : 32766;  // red and blue: a step; green and alpha: noise
      p = PixelQ4{step, static_cast<unsigned short>(p.g & ~1), step, static_cast<unsigned short>(p.a & ~1)};
      half->rows[y][x] = PixelQ4{static_cast<unsigned short>(p.r / 2), static_cast<unsigned short>(p.g / 2),
                                 static_cast<unsigned short>(p.b / 2), static_cast<unsigned short>(p.a / 2)};
    }
  full->SobelEdge(20.0f, 1e-4f, nullptr, 0);
  half->SobelEdge(20.0f, 1e-4f, nullptr, 0);
  int answered = 0;
  for (int y = 0; y < 44; ++y)
    for (int x = 0; x < 48; ++x)
      for (int c = 0; c < 4; ++c) {
        const int a = channel_value(full->rows[y][x], c), b = channel_value(half->rows[y][x], c);
        ASSERT_NEAR(a, 2 * b, 2) << x << "," << y << " c" << c;
        answered += a > 100;
      }
  EXPECT_GT(answered, 1000);
}

// Inside the image a vertical step answers only in the column before it and
// the column after it; on the top and bottom rows the bright side also faces
// the black outside.
TEST_F(EdgeTest, VerticalStepAnswersInItsTwoColumns) {
  Image step = new_image(20, 12);
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 20; ++x)
      step->rows[y][x] = x < 9 ? PixelQ4{0, 0, 0, 0} : PixelQ4{32767, 32767, 32767, 32767};
  Image out = copy_image(*step);
  out->SobelEdge(1.0f, 0.1f, nullptr, 0);
  for (int y = 1; y < 11; ++y)
    for (int x = 1; x < 19; ++x) ASSERT_EQ(out->rows[y][x].r != 0, x == 8 || x == 9) << x << "," << y;
  // Row 0 at x = 15: three bright pixels below, none above, none across:
  // 4 x 32767 x 1024 / 256, times 0.2 x 0.1.
  EXPECT_EQ(out->rows[0][15].r, 10485);
  EXPECT_EQ(out->rows[0][4].r, 0);
}

// Suppression thins the answer to the square's half-intensity rim, all the
// way round; plain magnitudes spread with sigma but stay near it. (A hard
// step between two pixels has two equal magnitudes across it, neither
// strictly above the other, so suppression keeps only its corners.)
TEST_F(EdgeTest, CannyAnswersOnTheOutlineOfASquareOnly) {
  for (bool nonmax : {false, true})
    for (float sigma : {1.0f, 3.0f}) {
      Image out = square_image(48, 14, 33, true);
      PixelQ4 low{3000, 3000, 3000, 3000}, high{9000, 9000, 9000, 9000};
      out->CannyEdge(sigma, nonmax, 1.0f, true, &low, &high, nullptr, 0);
      int answered[4] = {0, 0, 0, 0};
      for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x) {
          const int inside = std::min(std::min(x - 14, 33 - x), std::min(y - 14, 33 - y));  // -1 on the rim
          const int spread = nonmax ? 0 : static_cast<int>(2 * sigma);
          if (out->rows[y][x].r) {
            ASSERT_TRUE(inside >= -2 - spread && inside <= spread) << x << "," << y << " sigma " << sigma;
            answered[(x < 24) + 2 * (y < 24)]++;
          }
          ASSERT_EQ(out->rows[y][x].r, out->rows[y][x].b);
        }
      for (int quadrant = 0; quadrant < 4; ++quadrant) EXPECT_GE(answered[quadrant], 19) << sigma;
      EXPECT_TRUE(same_pixel(low, PixelQ4{3000, 3000, 3000, 3000}));  // high >= low: used as given
      EXPECT_TRUE(same_pixel(high, PixelQ4{9000, 9000, 9000, 9000}));
    }
  Image hard = square_image(48, 14, 33);
  PixelQ4 low{3000, 3000, 3000, 3000}, high{9000, 9000, 9000, 9000};
  hard->CannyEdge(1.0f, true, 1.0f, true, &low, &high, nullptr, 0);
  EXPECT_EQ(hard->rows[24][13].r + hard->rows[24][14].r, 0);
  EXPECT_EQ(hard->rows[14][14].r, 32767);  // an edge pixel is marked full scale
}

// Thresholds are estimated and written back only for channels whose high lies
// below their low; without the caller's pixels they are estimated for all.
TEST_F(EdgeTest, ThresholdsWrittenBackOnlyWhenHighIsBelowLow) {
  Image input = square_image(40, 10, 29);
  PixelQ4 low{5, 3000, 7, 0}, high{0, 9000, 6, 0};
  Image out = copy_image(*input);
  out->CannyEdge(2.0f, true, 1.0f, true, &low, &high, nullptr, 0);
  EXPECT_EQ(low.g, 3000);
  EXPECT_EQ(high.g, 9000);
  EXPECT_EQ(low.a, 0);  // alpha is not a channel here
  EXPECT_NE(high.r, 0);
  EXPECT_LT(low.r, high.r);
  EXPECT_EQ(low.b, low.r);  // blue and red are the same picture
  EXPECT_EQ(high.b, high.r);
  Image estimated = copy_image(*input);
  estimated->CannyEdge(2.0f, true, 1.0f, true, nullptr, nullptr, nullptr, 0);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) ASSERT_EQ(estimated->rows[y][x].r, out->rows[y][x].r);
}

namespace {

// The tracing rule written as the recursion it describes.
int recursive_trace(std::vector<unsigned short>& marks, const std::vector<unsigned short>& magnitude, int w,
                    int h, int r, int c, int low) {
  if (marks[r * w + c]) return 0;
  marks[r * w + c] = 32767;
  for (int dr = -1; dr <= 1; ++dr)
    for (int dc = -1; dc <= 1; ++dc) {
      const int nr = r + dr, nc = c + dc;
      if ((dr == 0 && dc == 0) || nr < 0 || nr >= h || nc < 0 || nc >= w) continue;
      if (magnitude[nr * w + nc] >= low && recursive_trace(marks, magnitude, w, h, nr, nc, low) == 1)
        return 1;
    }
  return 1;
}

// Runs hysteresis on this image with `magnitude` as the working image.
void run_hysteresis(ImageQ4& image, ImageQ4& magnitude, PixelQ4& low, PixelQ4& high, int mask_length) {
  image.op_magnitude = &magnitude;
  image.op_canny_width = image.width;
  image.op_canny_height = image.height;
  image.op_mask_length = mask_length;
  image.op_alpha = 0;
  image.op_low = &low;
  image.op_high = &high;
  image.hysteresis();
  image.op_magnitude = nullptr;
}

}  // namespace

TEST_F(EdgeTest, HysteresisMarksWhatTheRecursiveRuleMarks) {
  unsigned seed = 5;
  for (int round = 0; round < 40; ++round) {
    const int w = 9 + round % 13, h = 7 + round % 11;
    Image magnitude = new_image(w, h), out = new_image(w, h);
    std::vector<unsigned short> values(w * h);
    for (unsigned short& v : values) {
      seed = seed * 1103515245u + 12345u;
      v = static_cast<unsigned short>((seed >> 9) % 32768);
    }
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) magnitude->rows[y][x] = PixelQ4{values[y * w + x], 0, 0, 0};
    const unsigned short low_value = static_cast<unsigned short>(8000 + 500 * (round % 20));
    const unsigned short high_value = static_cast<unsigned short>(low_value + 9000);
    PixelQ4 low{low_value, 0, 1, 0}, high{high_value, 0, 1, 0};
    out->Fill(7, 7, 7, 7);
    run_hysteresis(*out, *magnitude, low, high, 1);
    std::vector<unsigned short> marks(w * h, 0);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (values[y * w + x] >= high_value) recursive_trace(marks, values, w, h, y, x, low_value);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        ASSERT_EQ(out->rows[y][x].r, marks[y * w + x]) << round << ": " << x << "," << y;
        ASSERT_EQ(out->rows[y][x].g, 32767);  // 0 >= 0: every pixel starts a trace
        ASSERT_EQ(out->rows[y][x].b, 0);      // 0 < 1: none does
        ASSERT_EQ(out->rows[y][x].a, 7);
      }
  }
}

// A single-pixel spiral over a 2048 x 2048 image, two million pixels long,
// each of them above the high threshold.
TEST_F(EdgeTest, LongEdgeTracedWithoutRecursion) {
  const int n = 2048;
  Image magnitude = new_image(n, n), out = new_image(n, n);
  magnitude->Fill(0, 0, 0, 0);
  int r = 0, c = 0, dr = 0, dc = 1;
  magnitude->rows[0][0].r = 20000;
  for (int length = n - 1, turn = 0; length > 0; ++turn) {
    for (int k = 0; k < length; ++k) {
      r += dr;
      c += dc;
      magnitude->rows[r][c].r = 20000;
    }
    const int t = dr;
    dr = dc;
    dc = -t;
    if (turn >= 2 && turn % 2 == 0) length -= 2;
  }
  PixelQ4 low{10000, 40000, 40000, 0}, high{15000, 40000, 40000, 0};
  run_hysteresis(*out, *magnitude, low, high, 1);
  long on_path = 0;
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      ASSERT_EQ(out->rows[y][x].r != 0, magnitude->rows[y][x].r != 0) << x << "," << y;
      on_path += magnitude->rows[y][x].r != 0;
    }
  EXPECT_GT(on_path, 2000000);
}

TEST_F(EdgeTest, EstimatedThresholdsFromTheHistogram) {
  // Interior values: 0 x 10, then 1..90 once each: 95 % of the 90 non-zero
  // counts is 85, passed at value 86. Then all 20 higher: no zeros, 95 % of
  // 100 passed at 106, and the first filled bin is 20.
  Image magnitude = new_image(12, 12), out = new_image(12, 12);
  magnitude->Fill(0, 0, 0, 0);
  int v = 0;
  for (int y = 1; y < 11; ++y)
    for (int x = 1; x < 11; ++x, ++v)
      magnitude->rows[y][x].r = static_cast<unsigned short>(v < 10 ? 0 : v - 9);
  unsigned short high = 0, low = 0;
  out->op_magnitude = magnitude.get();
  out->op_mask_length = 1;
  out->estimate_thresh(&high, &low, 0);
  EXPECT_EQ(high, 86);
  EXPECT_EQ(low, 43);
  for (int y = 1; y < 11; ++y)
    for (int x = 1; x < 11; ++x) magnitude->rows[y][x].r += 20;
  out->estimate_thresh(&high, &low, 0);
  EXPECT_EQ(high, 20 + 86);
  EXPECT_EQ(low, (106 + 20) / 2);  // halfway to the first filled bin
  out->op_mask_length = 6;         // no interior at all
  out->estimate_thresh(&high, &low, 0);
  EXPECT_EQ(high, 32767);
  EXPECT_EQ(low, 16383);
  out->op_magnitude = nullptr;
}

// The working image starts at zero: without the alpha flag the magnitudes
// copied out carry a zero alpha, and suppression, which reaches no border
// pixel, leaves the border at zero.
TEST_F(EdgeTest, CannyWorkingImageStartsAtZero) {
  Image out = new_image(30, 26);
  fill_noise(*out, 45);
  out->CannyEdge(1.2f, true, 2.0f, false, nullptr, nullptr, nullptr, 0);
  int answered = 0;
  for (int y = 0; y < 26; ++y)
    for (int x = 0; x < 30; ++x) {
      const PixelQ4& p = out->rows[y][x];
      ASSERT_EQ(p.a, 0);
      if (x == 0 || y == 0 || x == 29 || y == 25) {
        ASSERT_TRUE(same_pixel(p, PixelQ4{0, 0, 0, 0}));
      }
      answered += p.r != 0;
    }
  EXPECT_GT(answered, 50);
}

TEST_F(EdgeTest, CannyUnusableInputsLeaveTheImageAlone) {
  Image input = square_image(20, 5, 14);
  Image out = copy_image(*input), small = new_image(19, 20);
  PixelQ4 low{1, 1, 1, 1}, high{0, 0, 0, 0};
  out->CannyEdge(0.0f, true, 1.0f, true, &low, &high, nullptr, 1);
  out->CannyEdge(-2.0f, true, 1.0f, true, &low, &high, nullptr, 1);
  out->CannyEdge(NAN, true, 1.0f, true, &low, &high, nullptr, 1);
  out->CannyEdge(1e-40f, true, 1.0f, true, &low, &high, nullptr, 1);  // masks out of range
  out->CannyEdge(2.0f, true, 1.0f, true, &low, &high, small.get(), 1);
  EXPECT_TRUE(same_pixels(*out, *input));
  // So large a sigma that even the first tap is below 0.005: no masks, no edges.
  out->CannyEdge(60.0f, false, 1.0f, false, &low, &high, nullptr, 1);
  for (const PixelQ4& p : pixels_of(*out)) ASSERT_TRUE(same_pixel(p, PixelQ4{0, 0, 0, 0}));
}

// Every allocation of the detector may fail: the image is then as it was,
// never half made, and nothing leaks.
TEST_F(EdgeTest, FailedAllocationsLeaveTheImageWholeOrUnchanged) {
  Image input = square_image(16, 4, 11);
  Image full = copy_image(*input);
  PixelQ4 low{1000, 1000, 1000, 1000}, high{5000, 5000, 5000, 5000};
  full->CannyEdge(1.5f, true, 1.0f, true, &low, &high, nullptr, 1);
  ASSERT_FALSE(same_pixels(*full, *input));
  bool completed = false;
  for (int grants = 0; grants < 120 && !completed; ++grants) {
    Image out = copy_image(*input);
    {
      FailingHeap heap(grants);
      out->CannyEdge(1.5f, true, 1.0f, true, &low, &high, nullptr, 1);
    }
    completed = same_pixels(*out, *full);
    ASSERT_TRUE(completed || same_pixels(*out, *input)) << grants;
  }
  EXPECT_TRUE(completed);
  Image templated = copy_image(*input);
  {
    FailingHeap heap(0);
    templated->SobelEdge(2.0f, 1.0f, nullptr, 0);
  }
  EXPECT_TRUE(same_pixels(*templated, *input));
  EXPECT_EQ(standin_log_count("sparkMessage(Cannot allocate memory for kernel)"), 1);
}
