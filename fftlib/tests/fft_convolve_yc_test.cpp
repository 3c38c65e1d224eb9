#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "convolution_reference.h"
#include "fft_convolver.h"

namespace {

image_data* small_kernel(int w, int h) {
  image_data* psf = image_data_create(w, h, 1, IMAGE_PIXEL_BYTE, 1);
  memset(psf->pixels, 0, static_cast<size_t>(psf->row_bytes) * h);
  set_sample(psf, w / 2, h / 2, 0, 100);
  set_sample(psf, w / 2 + 1, h / 2, 0, 50);
  set_sample(psf, w / 2, h / 2 + 1, 0, 25);
  return psf;
}

image_data* delta_kernel(int w, int h) {
  image_data* psf = image_data_create(w, h, 1, IMAGE_PIXEL_BYTE, 1);
  memset(psf->pixels, 0, static_cast<size_t>(psf->row_bytes) * h);
  set_sample(psf, w / 2, h / 2, 0, 255);
  return psf;
}

// Luma and chroma of a pixel, from the published coefficients.
void to_yc(double r, double g, double b, double yc[3]) {
  yc[0] = 0.299 * r + 0.587 * g + 0.114 * b;
  yc[1] = 0.5 * r - 0.418688 * g - 0.081312 * b + 0.5;
  yc[2] = -0.213267 * r - 0.418688 * g + 0.617689 * b + 0.5;
}

double clamp_store(double v, double full) { return std::floor(std::min(std::max(v, 0.0), 1.0) * full + 0.5); }

}  // namespace

TEST(FftConvolveYC, MatchesTheReferenceAppliedToLumaAndChroma) {
  const int w = 16, h = 10;
  OwnedImage psf(small_kernel(w, h));
  for (int type : {IMAGE_PIXEL_BYTE, IMAGE_PIXEL_WORD})
    for (int mode : {1, 2, 4})
      for (int edge : {1, 2}) {
        OwnedImage img(random_image(w, h, 4, type, 40 + type));
        OwnedImage out(image_data_create(w, h, 4, type, 1));
        const double full = image_full_scale(type);
        // Components of every pixel, convolved directly with edge handling.
        std::vector<double> comp[4];
        for (int k = 0; k < 4; ++k) comp[k].assign(w * h, 0.0);
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            double yc[3];
            to_yc(get_sample(img, x, y, 0) / full, get_sample(img, x, y, 1) / full, get_sample(img, x, y, 2) / full, yc);
            for (int k = 0; k < 3; ++k) comp[k][y * w + x] = yc[k];
            comp[3][y * w + x] = get_sample(img, x, y, 3) / full;
          }
        auto at = [&](int k, int x, int y) {
          const bool outside = x < 0 || y < 0 || x >= w || y >= h;
          if (outside && edge == 1) return (k == 1 || k == 2) ? 0.5 : 0.0;
          x = std::min(std::max(x, 0), w - 1);
          y = std::min(std::max(y, 0), h - 1);
          return comp[k][y * w + x];
        };
        FFTConvolver fft(mode);
        fft.set_edge_mode(2);
        ASSERT_TRUE(fft.set_PSF_2D(psf, 3) && fft.set_image_2D(img));
        // A pass in edge mode 2 first: edge mode 1 must not inherit its margins.
        ASSERT_TRUE(fft.convolve_2D_YC(out, 15));
        fft.set_edge_mode(edge);
        ASSERT_TRUE(fft.convolve_2D_YC(out, 15)) << fft.get_error();
        int bad = 0;
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            // Kernel 100 at (0,0), 50 at (+1,0), 25 at (0,+1) of the PSF: a
            // convolution reads the picture at minus those offsets.
            double c[4];
            for (int k = 0; k < 4; ++k)
              c[k] = (100 * at(k, x, y) + 50 * at(k, x - 1, y) + 25 * at(k, x, y - 1)) / 175.0;
            const double c1 = c[1] - 0.5, c2 = c[2] - 0.5;
            const double want[4] = {clamp_store(c[0] + 1.402 * c1, full),
                                    clamp_store(0.996036 * c[0] - 0.714136 * c1 - 0.277836 * c2, full),
                                    clamp_store(1.020408 * c[0] + 1.430612 * c2, full), clamp_store(c[3], full)};
            for (int k = 0; k < 4; ++k) bad += std::fabs(get_sample(out, x, y, k) - want[k]) > 1.0;
          }
        EXPECT_EQ(bad, 0) << "type " << type << " mode " << mode << " edge " << edge;
      }
}

TEST(FftConvolveYC, DeltaReturnsTheInputAndGreyStaysGrey) {
  const int w = 16, h = 10;
  OwnedImage delta(delta_kernel(w, h));
  OwnedImage blur(small_kernel(w, h));
  OwnedImage words(random_image(w, h, 4, IMAGE_PIXEL_WORD, 9));
  OwnedImage bytes(random_image(w, h, 4, IMAGE_PIXEL_BYTE, 9));
  OwnedImage grey(random_image(w, h, 3, IMAGE_PIXEL_BYTE, 10));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) set_sample(grey, x, y, 1, get_sample(grey, x, y, 0)), set_sample(grey, x, y, 2, get_sample(grey, x, y, 0));
  for (int mode : {1, 2, 4})
    for (float stretch : {0.0f, 60.0f})
      for (int emphasis : {0, 1}) {
        FFTConvolver fft(mode);
        fft.set_convolve_2D_YC_stretch(stretch);
        fft.set_convolve_2D_YC_emph_alpha(emphasis);
        // The curve of s = 60 starts with slope 1/3600 (then a power of 1.3):
        // a single-precision grid holds its dark end to 8 bits, not 16.
        const image_data* img = mode == 1 && stretch > 0.0f ? bytes : words;
        OwnedImage out(image_data_create(w, h, 4, img->pixel_type, 1));
        ASSERT_TRUE(fft.set_PSF_2D(delta, 2) && fft.set_image_2D(const_cast<image_data*>(img)) && fft.convolve_2D_YC(out, 15));
        int bad = 0;
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x)
            for (int c = 0; c < 4; ++c) bad += std::fabs(get_sample(out, x, y, c) - get_sample(img, x, y, c)) > 1.0;
        EXPECT_EQ(bad, 0) << mode << " stretch " << stretch << " emphasis " << emphasis;
        // Without the curve blurred grey stays grey: the chroma of grey is
        // linear in its luma, and the inverse undoes it.
        if (stretch != 0.0f) continue;
        OwnedImage grey_out(image_data_create(w, h, 3, IMAGE_PIXEL_BYTE, 1));
        ASSERT_TRUE(fft.set_PSF_2D(blur, 2) && fft.set_image_2D(grey) && fft.convolve_2D_YC(grey_out, 7));
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            ASSERT_NEAR(get_sample(grey_out, x, y, 1), get_sample(grey_out, x, y, 0), 1.0) << mode;
            ASSERT_NEAR(get_sample(grey_out, x, y, 2), get_sample(grey_out, x, y, 0), 1.0) << mode;
          }
      }
}

TEST(FftConvolveYC, ChecksSettingsAndAlpha) {
  const int w = 8, h = 6;
  OwnedImage delta(delta_kernel(w, h));
  OwnedImage floats(random_image(w, h, 4, IMAGE_PIXEL_FLOAT, 1));
  OwnedImage floats_out(image_data_create(w, h, 4, IMAGE_PIXEL_FLOAT, 1));
  OwnedImage two(random_image(w, h, 2, IMAGE_PIXEL_BYTE, 2));
  OwnedImage two_out(image_data_create(w, h, 2, IMAGE_PIXEL_BYTE, 1));
  OwnedImage rgba(random_image(w, h, 4, IMAGE_PIXEL_BYTE, 3));
  OwnedImage out(image_data_create(w, h, 4, IMAGE_PIXEL_BYTE, 1));
  for (int mode : {1, 2, 4}) {
    FFTConvolver fft(mode);
    EXPECT_FALSE(fft.convolve_2D_YC(out, 15));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_MISSING);
    ASSERT_TRUE(fft.set_PSF_2D(delta, 1));
    ASSERT_TRUE(fft.set_image_2D(floats));
    EXPECT_FALSE(fft.convolve_2D_YC(out, 15));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_OUTPUT);
    EXPECT_FALSE(fft.convolve_2D_YC(floats_out, 15));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_FLOAT);
    ASSERT_TRUE(fft.set_image_2D(two));
    EXPECT_FALSE(fft.convolve_2D_YC(two_out, 15));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_CHANNELS);
    ASSERT_TRUE(fft.set_image_2D(rgba));
    EXPECT_FALSE(fft.convolve_2D_YC(out, 3));  // no bit 4
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_CHANNELS);
    // Alpha is written when selected, else zeroed.
    memset(out->pixels, 99, static_cast<size_t>(out->row_bytes) * h);
    ASSERT_TRUE(fft.convolve_2D_YC(out, 7));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) ASSERT_EQ(get_sample(out, x, y, 3), 0.0);
    ASSERT_TRUE(fft.convolve_2D_YC(out, 15));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) ASSERT_NEAR(get_sample(out, x, y, 3), get_sample(rgba, x, y, 3), 1.0);
  }
  FFTConvolver fft;
  fft.set_convolve_2D_YC_stretch(600.0f);
  EXPECT_EQ(fft.get_convolve_2D_YC_stretch(), 500.0f);
  fft.set_convolve_2D_YC_stretch(-3.0f);
  EXPECT_EQ(fft.get_convolve_2D_YC_stretch(), 0.0f);
  EXPECT_FALSE(fft.gamma_is_active());
  fft.set_convolve_2D_gamma_stretch(0.1f);
  EXPECT_EQ(fft.get_convolve_2D_gamma_stretch(), 0.2f);
  EXPECT_TRUE(fft.gamma_is_active());
  fft.set_convolve_2D_gamma_stretch(9.0f);
  EXPECT_EQ(fft.get_convolve_2D_gamma_stretch(), 5.0f);
  fft.set_convolve_2D_gamma_stretch(1.0f);
  EXPECT_FALSE(fft.gamma_is_active());
}
