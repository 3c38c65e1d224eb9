#include <cmath>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "convolution_reference.h"
#include "failing_heap.h"
#include "fft_convolver.h"
#include "thread_band_executor.h"

namespace {

// One direct pass along rows (horizontal) or columns with kernel k[|i|],
// divided by its sum when that is positive, clamped and rounded to nearest
// for integer images.
void direct_pass(const image_data* in, image_data* out, const std::vector<float>& taps, bool rows, int edge,
                 unsigned mask) {
  double sum = taps[0];
  for (size_t i = 1; i < taps.size(); ++i) sum += 2.0 * taps[i];
  const double norm = sum > 0 ? 1.0 / sum : 1.0;
  const int n = static_cast<int>(taps.size());
  for (int c = 0; c < in->channels; ++c) {
    if (!(mask & (1u << c))) continue;
    for (int y = 0; y < in->height; ++y)
      for (int x = 0; x < in->width; ++x) {
        double v = 0.0;
        for (int i = -(n - 1); i <= n - 1; ++i)
          v += taps[std::abs(i)] * norm * (rows ? edge_sample(in, x + i, y, c, edge) : edge_sample(in, x, y + i, c, edge));
        set_sample(out, x, y, c, in->pixel_type == IMAGE_PIXEL_FLOAT ? v : stored(v + 0.5, in->pixel_type));
      }
  }
}

int count_differences(const image_data* a, const image_data* b, double tol) {
  int bad = 0;
  for (int y = 0; y < a->height; ++y)
    for (int x = 0; x < a->width; ++x)
      for (int c = 0; c < a->channels; ++c) bad += std::fabs(get_sample(a, x, y, c) - get_sample(b, x, y, c)) > tol;
  return bad;
}

}  // namespace

TEST(FftConvolve1D, MatchesADirectSeparableConvolution) {
  const std::vector<float> taps = {2.0f, 1.0f, 0.5f};  // acts as (0.5, 1, 2, 1, 0.5) / 5
  for (int type : {IMAGE_PIXEL_BYTE, IMAGE_PIXEL_WORD, IMAGE_PIXEL_FLOAT})
    for (int edge : {1, 2})
      for (int passes = 0; passes < 4; ++passes) {
        const int w = 13, h = 9;
        OwnedImage img(random_image(w, h, 3, type, 30 + type));
        OwnedImage out(image_data_create(w, h, 3, type, 1));
        memset(out->pixels, 0, static_cast<size_t>(out->row_bytes) * h);
        OwnedImage want(image_data_copy(out));
        const unsigned mask = 5;  // channels 0 and 2
        // Rows first into a copy of the source; columns from that copy (or
        // from the source when rows are not asked for).
        OwnedImage between(image_data_copy(img));
        if (passes & 1) direct_pass(img, (passes & 2) ? between : want, taps, true, edge, mask);
        if (passes & 2) direct_pass((passes & 1) ? between : img, want, taps, false, edge, mask);
        FFTConvolver fft;
        fft.set_edge_mode(edge);
        ASSERT_TRUE(fft.set_filter_1D(taps.data(), 3));
        ASSERT_TRUE(fft.set_image_1D(img));
        ASSERT_TRUE(fft.convolve_1D(out, mask, passes));
        const double tol = type == IMAGE_PIXEL_FLOAT ? 1e-5 : 1.0;
        EXPECT_EQ(count_differences(out, want, tol), 0) << "type " << type << " edge " << edge << " passes " << passes;
      }
}

TEST(FftConvolve1D, IdentityConstantsZeroSumsAndBands) {
  const int w = 16, h = 10;
  OwnedImage img(random_image(w, h, 2, IMAGE_PIXEL_WORD, 11));
  OwnedImage out(image_data_create(w, h, 2, IMAGE_PIXEL_WORD, 1));
  FFTConvolver fft;
  const float one = 1.0f;
  ASSERT_TRUE(fft.set_filter_1D(&one, 1));
  ASSERT_TRUE(fft.set_image_1D(img));
  ASSERT_TRUE(fft.convolve_1D(out, 3, 3));
  EXPECT_EQ(memcmp(out->pixels, img->pixels, static_cast<size_t>(img->row_bytes) * h), 0) << "{1} is the identity";

  // Edge mode 2 keeps a constant constant; edge mode 1 darkens the ends.
  OwnedImage flat(image_data_create(w, h, 1, IMAGE_PIXEL_BYTE, 1));
  memset(flat->pixels, 180, static_cast<size_t>(flat->row_bytes) * h);
  OwnedImage flat_out(image_data_create(w, h, 1, IMAGE_PIXEL_BYTE, 1));
  ASSERT_TRUE(fft.set_standard_filter(3, 2.0f, 0, 0));
  ASSERT_TRUE(fft.set_image_1D(flat));
  ASSERT_TRUE(fft.convolve_1D(flat_out, 1, 3));
  for (int k = 0; k < w * h; ++k) ASSERT_NEAR(static_cast<uint8_t*>(flat_out->pixels)[k], 180, 1);
  fft.set_edge_mode(1);
  ASSERT_TRUE(fft.convolve_1D(flat_out, 1, 3));
  EXPECT_LT(get_sample(flat_out, 0, 0, 0), 150);

  // Taps that sum to 0 or less are used as given: {1, -1} is x - left - right.
  OwnedImage floats(random_image(w, h, 1, IMAGE_PIXEL_FLOAT, 12));
  OwnedImage float_out(image_data_create(w, h, 1, IMAGE_PIXEL_FLOAT, 1));
  OwnedImage float_want(image_data_create(w, h, 1, IMAGE_PIXEL_FLOAT, 1));
  const std::vector<float> edge_taps = {1.0f, -1.0f};
  direct_pass(floats, float_want, edge_taps, true, 1, 1);
  ASSERT_TRUE(fft.set_filter_1D(edge_taps.data(), 2));
  ASSERT_TRUE(fft.set_image_1D(floats));
  ASSERT_TRUE(fft.convolve_1D(float_out, 1, 1));
  EXPECT_EQ(count_differences(float_out, float_want, 1e-5), 0);

  // Bands: the same bits as none, for 1, 3, 8 and uneven splits. The larger
  // picture gives both passes several chunks of lines to claim: five blocks
  // of columns, the last cut short, and dozens of chunks of rows.
  OwnedImage tall(random_image(70, 140, 2, IMAGE_PIXEL_WORD, 14));
  for (image_data* src : {static_cast<image_data*>(img), static_cast<image_data*>(tall)}) {
    const size_t bytes = static_cast<size_t>(src->row_bytes) * src->height;
    FFTConvolver plain;
    ASSERT_TRUE(plain.set_standard_filter(3, 3.0f, 0, 0) && plain.set_image_1D(src));
    OwnedImage ref(image_data_create(src->width, src->height, 2, IMAGE_PIXEL_WORD, 1));
    OwnedImage banded_out(image_data_create(src->width, src->height, 2, IMAGE_PIXEL_WORD, 1));
    ASSERT_TRUE(plain.convolve_1D(ref, 3, 3));
    for (int bands : {1, 3, 8, -5}) {
      ThreadBandExecutor ex(std::abs(bands), bands < 0);
      FFTConvolver banded;
      banded.set_mp_exec(&ex, ThreadBandExecutor::exec);
      ASSERT_TRUE(banded.set_standard_filter(3, 3.0f, 0, 0) && banded.set_image_1D(src));
      ASSERT_TRUE(banded.convolve_1D(banded_out, 3, 3));
      EXPECT_EQ(ex.calls, 2);
      EXPECT_EQ(memcmp(banded_out->pixels, ref->pixels, bytes), 0) << src->width << " wide, bands " << bands;
    }
  }
}

TEST(FftConvolve1D, ErrorsAndMendedFaults) {
  const int w = 16, h = 10;
  OwnedImage img(random_image(w, h, 1, IMAGE_PIXEL_BYTE, 13));
  OwnedImage out(image_data_create(w, h, 1, IMAGE_PIXEL_BYTE, 1));
  OwnedImage other(image_data_create(w, h, 1, IMAGE_PIXEL_WORD, 1));
  FFTConvolver fft;
  EXPECT_FALSE(fft.convolve_1D(out, 1, 3));
  EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_MISSING);
  // The image before any filter, then a long filter: the lines are sized
  // for the filter at convolution, not at registration.
  ASSERT_TRUE(fft.set_image_1D(img));
  std::vector<float> taps(12, 1.0f);
  ASSERT_TRUE(fft.set_filter_1D(taps.data(), 12));
  ASSERT_TRUE(fft.convolve_1D(out, 1, 3));
  OwnedImage want(image_data_create(w, h, 1, IMAGE_PIXEL_BYTE, 1));
  OwnedImage between(image_data_copy(img));
  direct_pass(img, between, taps, true, 2, 1);
  direct_pass(between, want, taps, false, 2, 1);
  EXPECT_EQ(count_differences(out, want, 1.0), 0);
  EXPECT_FALSE(fft.convolve_1D(other, 1, 3));
  EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_OUTPUT);
  // n < 1 is refused and the filter kept.
  EXPECT_FALSE(fft.set_filter_1D(taps.data(), 0));
  const float* kept = nullptr;
  EXPECT_EQ(fft.get_filter_1D(&kept), 12);
  // 8000 wide with 200 taps needs a 16384 line: 1, at registration and at
  // convolution when the filter grows after it.
  OwnedImage wide(image_data_create(8000, 2, 1, IMAGE_PIXEL_BYTE, 1));
  OwnedImage wide_out(image_data_create(8000, 2, 1, IMAGE_PIXEL_BYTE, 1));
  memset(wide->pixels, 1, 16000);
  std::vector<float> long_taps(200, 1.0f);
  ASSERT_TRUE(fft.set_image_1D(wide));
  ASSERT_TRUE(fft.set_filter_1D(long_taps.data(), 200));
  EXPECT_FALSE(fft.convolve_1D(wide_out, 1, 1));
  EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_SIZE);
  EXPECT_FALSE(fft.set_image_1D(wide));
  EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_SIZE);
  EXPECT_FALSE(fft.convolve_1D(wide_out, 1, 1));
  EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_MISSING) << "the refused source is cleared";
  // Refused line buffers: error 2.
  ASSERT_TRUE(fft.set_filter_1D(taps.data(), 3) && fft.set_image_1D(img));
  {
    FailingHeap heap(0);
    EXPECT_FALSE(fft.convolve_1D(out, 1, 1));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_MEMORY);
  }
  EXPECT_TRUE(fft.convolve_1D(out, 1, 0));
}
