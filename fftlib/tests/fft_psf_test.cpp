#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "convolution_reference.h"
#include "fft_convolver.h"

namespace {

std::vector<float> filter_taps(const FFTConvolver& fft) {
  const float* taps = nullptr;
  const int n = fft.get_filter_1D(&taps);
  return std::vector<float>(taps, taps + n);
}

double byte_sum(const image_data* img) {
  double sum = 0;
  for (int k = 0; k < img->width * img->height; ++k) sum += static_cast<const uint8_t*>(img->pixels)[k];
  return sum;
}

tagFFTPOLY square(float x0, float y0, float x1, float y1) {
  tagFFTPOLY p;
  p.n = 4;
  const float pts[4][2] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
  memcpy(p.p, pts, sizeof pts);
  return p;
}

}  // namespace

TEST(FftPsf, StandardFilterTaps) {
  FFTConvolver fft;
  const struct {
    int kind;
    float radius;
    std::vector<float> taps;
  } cases[] = {
      {1, 0.5f, {1, 0}},                 // box: r raised to 1
      {2, 2.0f, {1, 0.5f, 0}},           // tent
      {4, 1.0f, {1, 0, 0}},              // cubic convolution, a = -0.75
      {5, 1.0f, {4.0f / 6, 1.0f / 6, 0}},  // cubic B-spline
      {9, 1.0f, {1, 0, 0}},              // Lanczos-2 at the integers
      {3, 3.0f, {1, std::exp(-0.5f), std::exp(-2.0f), std::exp(-4.5f), std::exp(-8.0f), std::exp(-12.5f), std::exp(-18.0f)}},
  };
  for (const auto& t : cases) {
    ASSERT_TRUE(fft.set_standard_filter(t.kind, t.radius, 0, 0)) << t.kind;
    const auto got = filter_taps(fft);
    ASSERT_EQ(got.size(), t.taps.size()) << t.kind;
    for (size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], t.taps[i], 1e-6) << t.kind << " tap " << i;
  }
  // Windowed sinc at x = 1/2: sinc(0.5) (0.5 + 0.5 cos(pi/8)).
  ASSERT_TRUE(fft.set_standard_filter(6, 2.0f, 0, 0));
  EXPECT_NEAR(filter_taps(fft)[1], (2 / M_PI) * (0.5 + 0.5 * std::cos(M_PI / 8)), 1e-6);
  // A cubic convolution with its own a: at x = 1/2, (a+2)/8 - (a+3)/4 + 1.
  ASSERT_TRUE(fft.set_standard_filter(4, 2.0f, -0.5f, 0));
  EXPECT_NEAR(filter_taps(fft)[1], (1.5 / 8) - (2.5 / 4) + 1, 1e-6);
  // Unknown kinds: false, filter kept.
  for (int kind : {0, 7, 8, 10}) {
    EXPECT_FALSE(fft.set_standard_filter(kind, 2.0f, 0, 0)) << kind;
    EXPECT_EQ(filter_taps(fft).size(), 5u);
  }
}

TEST(FftPsf, ClipperResults) {
  const tagFFTPOLYBOX box = {{0, 1, 0, 1}};
  tagFFTPOLY inside = square(0.25f, 0.25f, 0.75f, 0.5f);
  const tagFFTPOLY before = inside;
  EXPECT_EQ(fftpolyclip(&inside, &box), 2);
  EXPECT_EQ(memcmp(&inside, &before, sizeof inside), 0);
  tagFFTPOLY left = square(-3, 0, -1, 1);
  EXPECT_EQ(fftpolyclip(&left, &box), 0);
  EXPECT_EQ(left.n, 0);
  // A square over a corner keeps the quarter inside the box.
  tagFFTPOLY corner = square(0.5f, 0.5f, 1.5f, 1.5f);
  EXPECT_EQ(fftpolyclip(&corner, &box), 1);
  double twice = 0;
  for (int i = 0, j = corner.n - 1; i < corner.n; j = i++)
    twice += corner.p[j][0] * corner.p[i][1] - corner.p[i][0] * corner.p[j][1];
  EXPECT_NEAR(std::fabs(twice) / 2, 0.25, 1e-6);
  for (int i = 0; i < corner.n; ++i) {
    EXPECT_GE(corner.p[i][0], 0.5f);
    EXPECT_LE(corner.p[i][0], 1.0f);
  }
  // A triangle through the box on both sides of x: still inside the box.
  tagFFTPOLY tri;
  tri.n = 3;
  const float pts[3][2] = {{-1, 0.5f}, {2, 0.2f}, {2, 0.8f}};
  memcpy(tri.p, pts, sizeof pts);
  EXPECT_EQ(fftpolyclip(&tri, &box), 1);
  for (int i = 0; i < tri.n; ++i) EXPECT_TRUE(tri.p[i][0] >= 0 && tri.p[i][0] <= 1) << i;
}

TEST(FftPsf, DrawnCoverageSumsToTheArea) {
  // Mode 3 draws but sets nothing up, so the drawing can be read alone.
  FFTConvolver fft(3);
  const double pi = M_PI;
  const struct {
    int kind;
    float a, b, angle;
    int sides;
    double area;
  } shapes[] = {
      {1, 12, 7, 30, 0, 25 * 12 * 7 * std::sin(2 * pi / 50)},  // 50-point ellipse
      {1, 5, 5, 0, 0, 25 * 5 * 5 * std::sin(2 * pi / 50)},
      {2, 10, 10, 17, 6, 3 * 100 * std::sin(2 * pi / 6)},      // hexagon
      {2, 10, 8, 0, 80, 25 * 80 * std::sin(2 * pi / 50)},      // sides clamped to 50
      {3, 9, 4, 40, 0, 4 * 9 * 4},                             // rectangle, half-sizes a, b
      {4, 9, 1.5f, 120, 0, 4 * 9 * 1.5},                       // line
  };
  for (const auto& s : shapes) {
    EXPECT_FALSE(fft.set_standard_PSF(64, 48, s.kind, s.a, s.b, s.angle, s.sides));
    const image_data* img = fft.get_standard_PSF();
    ASSERT_NE(img, nullptr);
    // Each pixel rounds to the nearest 1/255: at most half a step each on the
    // outline (about the perimeter in pixels) plus float clipping error.
    const double perimeter = 2 * pi * std::max(s.a, s.b) + 4 * (s.a + s.b);
    EXPECT_NEAR(byte_sum(img) / 255.0, s.area, 0.5 * perimeter / 255.0 + 0.01 * s.area) << s.kind;
  }
  // Offsets in x are divided by the x aspect: half the area at aspect 2.
  fft.set_aspect_ratios(2.0f, 1.0f);
  EXPECT_FALSE(fft.set_standard_PSF(64, 48, 3, 9, 4, 0, 0));
  EXPECT_NEAR(byte_sum(fft.get_standard_PSF()) / 255.0, 2 * 9 * 4, 0.5);
  fft.set_aspect_ratios(1.0f, 1.0f);
  // The line starts at the PSF centre: it lies on one side of it.
  EXPECT_FALSE(fft.set_standard_PSF(64, 48, 4, 9, 1, 0, 0));
  const image_data* line = fft.get_standard_PSF();
  double left = 0, right = 0;
  for (int x = 0; x < 64; ++x) (x < 32 ? left : right) += get_sample(line, x, 24, 0);
  EXPECT_GT(std::max(left, right), 255.0 * 15);
  EXPECT_LT(std::min(left, right), 255.0 * 1);
  // A unit square on one pixel: 255 there and 0 round it.
  OwnedImage img(image_data_create(8, 8, 1, IMAGE_PIXEL_BYTE, 1));
  memset(img->pixels, 0, 64);
  const tagFFTPOLY unit = square(3, 4, 4, 5);
  fftdraw_polygon(img, &unit);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(get_sample(img, x, y, 0), x == 3 && y == 4 ? 255 : 0) << x << "," << y;
  // A polygon inside one pixel covers its own area: half a pixel is 128
  // (0.5 * 255 + 0.5), not 255.
  const tagFFTPOLY half = square(2, 2, 2.5f, 3);
  fftdraw_polygon(img, &half);
  EXPECT_EQ(get_sample(img, 2, 2, 0), 128);
  // A shape off the image sets nothing up: weight 0 is error 4.
  FFTConvolver single(1);
  EXPECT_TRUE(single.set_standard_PSF(32, 32, 3, 4, 4, 0, 0));
  EXPECT_FALSE(single.set_standard_PSF(32, 32, 7, 4, 4, 0, 0));
  EXPECT_EQ(single.get_error(), FFTConvolver::FFT_ERR_MISSING);
}

TEST(FftPsf, ImagePsfIsASoftDiscOrACentredDelta) {
  const int w = 20, h = 16, cx = 6, cy = 5;
  OwnedImage img(image_data_create(w, h, 2, IMAGE_PIXEL_WORD, 1));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) set_sample(img, x, y, 0, 200 * 256 + 77), set_sample(img, x, y, 1, 5);
  FFTConvolver fft(1);
  ASSERT_TRUE(fft.set_image_PSF(img, cx, cy, 2.0f, 2.0f));
  const image_data* psf = fft.get_standard_PSF();
  // PSF (w/2 + dx, h/2 + dy) holds weight(distance) times the top byte 200.
  for (int dy = -5; dy <= 5; ++dy)
    for (int dx = -5; dx <= 5; ++dx) {
      const double d = std::hypot(dx, dy), t = (d - 2.0) / 2.0;
      const double weight = t < 0 ? 1 : t <= 1 ? 1 - t : 0;
      EXPECT_EQ(get_sample(psf, w / 2 + dx, h / 2 + dy, 0), std::floor(static_cast<float>(weight) * 200.0f)) << dx << "," << dy;
    }
  // Every byte equal (all 0 here): a delta of 255 at the centre.
  OwnedImage dark(image_data_create(w, h, 1, IMAGE_PIXEL_BYTE, 1));
  memset(dark->pixels, 0, static_cast<size_t>(w) * h);
  ASSERT_TRUE(fft.set_image_PSF(dark, cx, cy, 3.0f, 1.0f));
  EXPECT_EQ(byte_sum(fft.get_standard_PSF()), 255.0);
  EXPECT_EQ(get_sample(fft.get_standard_PSF(), w / 2, h / 2, 0), 255.0);
  // Float sources: 6. A negative radius: the margin counts as 0.
  OwnedImage floats(image_data_create(w, h, 1, IMAGE_PIXEL_FLOAT, 1));
  EXPECT_FALSE(fft.set_image_PSF(floats, cx, cy, 2, 2));
  EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_FLOAT);
  ASSERT_TRUE(fft.set_image_PSF(img, cx, cy, -50.0f, 1.0f));
  EXPECT_EQ(fft.get_padded_width(), 32);
}

TEST(FftPsf, SizesBeyondAnyGridAndNonNumbersAreRefusedSafely) {
  FFTConvolver fft(1);
  // A shape larger than any grid: error 1, not a huge float made an int.
  EXPECT_FALSE(fft.set_standard_PSF(32, 32, 1, 1e30f, 4, 0, 0));
  EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_SIZE);
  EXPECT_FALSE(fft.set_standard_PSF(32, 32, 1, INFINITY, 4, 0, 0));
  EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_SIZE);
  // Not-a-number sizes count as 1 (the smallest shape), angles as 0.
  EXPECT_TRUE(fft.set_standard_PSF(32, 32, 3, NAN, NAN, NAN, 0));
  EXPECT_NEAR(byte_sum(fft.get_standard_PSF()) / 255.0, 4.0, 0.01);
  OwnedImage img(random_image(16, 16, 1, IMAGE_PIXEL_BYTE, 5));
  EXPECT_TRUE(fft.set_image_PSF(img, 8, 8, NAN, NAN));
  EXPECT_FALSE(fft.set_image_PSF(img, 8, 8, 1e20f, 1));
  EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_SIZE);
  // Filters wider than any line, or of no size at all: refused, filter kept.
  ASSERT_TRUE(fft.set_standard_filter(2, 2.0f, 0, 0));
  EXPECT_FALSE(fft.set_standard_filter(3, 1e9f, 0, 0));
  EXPECT_FALSE(fft.set_standard_filter(3, NAN, 0, 0));
  EXPECT_EQ(filter_taps(fft).size(), 3u);
}
