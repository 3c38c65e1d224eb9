#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

#include "convolution_reference.h"
#include "failing_heap.h"
#include "fft_convolver.h"
#include "q4_files.h"
#include "q4_memory.h"
#include "simd_paths.h"
#include "thread_band_executor.h"

namespace fs = std::filesystem;

namespace {

int padded_size(int n, int margin) {
  int p = 1;
  while (p < n + 2 * margin) p <<= 1;
  return p;
}

// An asymmetric kernel round the PSF's centre pixel (w/2, h/2): it tells
// convolution from correlation and pins the centre rule.
image_data* asymmetric_psf(int w, int h, int type = IMAGE_PIXEL_BYTE) {
  image_data* psf = image_data_create(w, h, 1, type, 1);
  memset(psf->pixels, 0, static_cast<size_t>(psf->row_bytes) * h);
  const int cx = w / 2, cy = h / 2;
  const double scale = type == IMAGE_PIXEL_FLOAT ? 1.0 / 255.0 : 1.0;
  set_sample(psf, cx, cy, 0, 120 * scale);
  set_sample(psf, cx + 1, cy, 0, 60 * scale);
  set_sample(psf, cx + 2, cy + 1, 0, 30 * scale);
  set_sample(psf, cx - 1, cy - 2, 0, 45 * scale);
  return psf;
}

// out(x, y) = sum over PSF pixels (u, v) of weight(u, v) in(x - u + sx, y - v + sy),
// where (sx, sy) is where the grid's centre falls in picture coordinates.
double reference(const image_data* img, const image_data* psf, int x, int y, int c, int edge_mode, int sx,
                 int sy) {
  double sum = 0.0, total = 0.0;
  for (int v = 0; v < psf->height; ++v)
    for (int u = 0; u < psf->width; ++u) total += get_sample(psf, u, v, 0);
  for (int v = 0; v < psf->height; ++v)
    for (int u = 0; u < psf->width; ++u) {
      const double weight = get_sample(psf, u, v, 0) / total;
      if (weight != 0.0) sum += weight * edge_sample(img, x - u + sx, y - v + sy, c, edge_mode);
    }
  return sum;
}

struct Shift {
  int sx, sy;
};

Shift grid_shift(int mode, int w, int h, int margin) {
  int pw = padded_size(w, margin), ph = padded_size(h, margin);
  if (mode == FFTConvolver::MODE_FFTW) pw = ph = std::max(pw, ph);
  return {pw / 2 - (pw - w) / 2, ph / 2 - (ph - h) / 2};
}

// Integer outputs within 1; float outputs within 1e-4 (single precision)
// or 1e-9 (double) of the reference as a float sample holds it.
double tolerance(int mode, int type, double want) {
  if (type != IMAGE_PIXEL_FLOAT) return 1.0;
  return (mode == FFTConvolver::MODE_POW2_SINGLE ? 1e-4 : 1e-9) + std::ldexp(std::fabs(want), -24);
}

}  // namespace

TEST(FftConvolve2D, EveryBackEndMatchesADirectConvolution) {
  const int margin = 3;
  for (int mode : {1, 2, 4})
    for (auto size : {std::pair<int, int>{13, 9}, {16, 10}})
      for (int type : {IMAGE_PIXEL_BYTE, IMAGE_PIXEL_WORD, IMAGE_PIXEL_FLOAT})
        for (int edge : {1, 2}) {
          const int w = size.first, h = size.second;
          OwnedImage psf(asymmetric_psf(w, h));
          OwnedImage img(random_image(w, h, 4, type, w * 100 + type));
          OwnedImage out(image_data_create(w, h, 4, type, 1));
          FFTConvolver fft(mode);
          ASSERT_TRUE(fft.set_edge_mode(edge));
          ASSERT_TRUE(fft.set_PSF_2D(psf, margin)) << mode << " " << fft.get_error();
          ASSERT_TRUE(fft.set_image_2D(img));
          ASSERT_TRUE(fft.convolve_2D(out, 15)) << fft.get_error();
          EXPECT_EQ(fft.get_error(), 0);
          const Shift s = grid_shift(mode, w, h, margin);
          int bad = 0;
          for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
              for (int c = 0; c < 4; ++c) {
                const double want = stored(reference(img, psf, x, y, c, edge, s.sx, s.sy), type);
                bad += std::fabs(get_sample(out, x, y, c) - want) > tolerance(mode, type, want);
              }
          EXPECT_EQ(bad, 0) << "mode " << mode << " " << w << "x" << h << " type " << type << " edge " << edge;
        }
}

TEST(FftConvolve2D, BandsGiveTheSameBitsAsNone) {
  // The larger picture gives every pass whose bands claim their lines
  // several chunks: the columns of its 128-wide grid make four blocks in
  // single and eight in double precision, and each row pass hands out
  // dozens of chunks of a few rows.
  for (auto size : {std::pair<int, int>{16, 10}, {100, 140}}) {
    const int w = size.first, h = size.second;
    OwnedImage psf(asymmetric_psf(w, h));
    OwnedImage img(random_image(w, h, 4, IMAGE_PIXEL_WORD, 5));
    for (int mode : {1, 2, 4})
      for (bool yc : {false, true}) {
        OwnedImage ref(image_data_create(w, h, 4, IMAGE_PIXEL_WORD, 1));
        FFTConvolver plain(mode);
        plain.set_convolve_2D_YC_stretch(3.0f);
        ASSERT_TRUE(plain.set_PSF_2D(psf, 2) && plain.set_image_2D(img));
        ASSERT_TRUE(yc ? plain.convolve_2D_YC(ref, 15) : plain.convolve_2D(ref, 15));
        const struct {
          int bands;
          bool uneven, never_empty;
        } splits[] = {{1, false, false}, {3, false, false}, {8, false, false}, {5, true, false}, {8, false, true}};
        for (const auto& split : splits) {
          ThreadBandExecutor ex(split.bands, split.uneven, split.never_empty);
          FFTConvolver fft(mode);
          fft.set_mp_exec(&ex, ThreadBandExecutor::exec);
          fft.set_convolve_2D_YC_stretch(3.0f);
          OwnedImage out(image_data_create(w, h, 4, IMAGE_PIXEL_WORD, 1));
          ASSERT_TRUE(fft.set_PSF_2D(psf, 2) && fft.set_image_2D(img));
          ASSERT_TRUE(yc ? fft.convolve_2D_YC(out, 15) : fft.convolve_2D(out, 15));
          EXPECT_GT(ex.calls, 0);
          EXPECT_EQ(memcmp(out->pixels, ref->pixels, static_cast<size_t>(out->row_bytes) * h), 0)
              << w << "x" << h << " mode " << mode << " yc " << yc << " bands " << ex.bands;
        }
      }
  }
}

TEST(FftConvolve2D, ErrorCodesComeInOrderAndMaskZeroWritesNothing) {
  const int w = 13, h = 9;
  OwnedImage psf(asymmetric_psf(w, h));
  OwnedImage img(random_image(w, h, 3, IMAGE_PIXEL_BYTE, 1));
  OwnedImage wider(random_image(w + 1, h, 3, IMAGE_PIXEL_BYTE, 2));
  OwnedImage out(image_data_create(w, h, 3, IMAGE_PIXEL_BYTE, 1));
  OwnedImage words(image_data_create(w, h, 3, IMAGE_PIXEL_WORD, 1));
  OwnedImage one(image_data_create(1, 1, 1, IMAGE_PIXEL_BYTE, 1));
  static_cast<uint8_t*>(one->pixels)[0] = 9;
  for (int mode : {1, 2, 4}) {
    FFTConvolver fft(mode);
    // 1: a 1 x 1 PSF without margin needs a 1 x 1 grid.
    EXPECT_FALSE(fft.set_PSF_2D(one, 0));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_SIZE);
    // 4: no PSF yet.
    EXPECT_FALSE(fft.convolve_2D(out, 7));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_MISSING);
    ASSERT_TRUE(fft.set_PSF_2D(psf, 2));
    // 3: one pixel wider than the PSF; the source is then cleared (4).
    EXPECT_FALSE(fft.set_image_2D(wider));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_IMAGE_SIZE);
    EXPECT_FALSE(fft.convolve_2D(out, 7));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_MISSING);
    ASSERT_TRUE(fft.set_image_2D(img));
    // 5: output of another type, or another size.
    EXPECT_FALSE(fft.convolve_2D(words, 7));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_OUTPUT);
    EXPECT_FALSE(fft.convolve_2D(wider, 7));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_OUTPUT);
    // Mask 0, and bits beyond the channels: true, output untouched.
    memset(out->pixels, 77, static_cast<size_t>(out->row_bytes) * h);
    EXPECT_TRUE(fft.convolve_2D(out, 0));
    EXPECT_TRUE(fft.convolve_2D(out, 8));
    EXPECT_EQ(fft.get_error(), 0);
    for (int k = 0; k < w * h * 3; ++k) ASSERT_EQ(static_cast<uint8_t*>(out->pixels)[k], 77);
  }
  // Mode 3 has no back-end: false without a code.
  FFTConvolver none(3);
  EXPECT_FALSE(none.set_PSF_2D(psf, 2));
  EXPECT_FALSE(none.convolve_2D(out, 7));
  EXPECT_FALSE(none.convolve_2D_YC(out, 7));
  EXPECT_EQ(none.get_error(), 0);
  // The entries of the missing vendor back-end do nothing.
  EXPECT_FALSE(none.set_PSF_2D_intel(psf, 2));
  EXPECT_FALSE(none.convolve_2D_intel(out, 7));
  EXPECT_FALSE(none.convolve_2D_YC_intel(out, 7));
}

TEST(FftConvolve2D, MendedFaults) {
  const int w = 13, h = 9;
  OwnedImage psf(asymmetric_psf(w, h));
  OwnedImage img(random_image(w, h, 1, IMAGE_PIXEL_WORD, 3));
  OwnedImage out(image_data_create(w, h, 1, IMAGE_PIXEL_WORD, 1));
  OwnedImage zero(image_data_create(w, h, 1, IMAGE_PIXEL_BYTE, 1));
  memset(zero->pixels, 0, static_cast<size_t>(zero->row_bytes) * h);
  for (int mode : {1, 2, 4}) {
    FFTConvolver fft(mode);
    fft.set_edge_mode(1);
    // A negative margin counts as 0: the grid still holds the picture
    // (16 x 16 for 13 x 9) and the result is the convolution.
    ASSERT_TRUE(fft.set_PSF_2D(psf, -40));
    EXPECT_EQ(fft.get_padded_width(), 16);
    ASSERT_TRUE(fft.set_image_2D(img));
    ASSERT_TRUE(fft.convolve_2D(out, 1));
    const Shift s = grid_shift(mode, w, h, 0);
    // The 16-wide grid wraps the kernel round: compare where it does not reach.
    for (int y = 2; y < h - 2; ++y)
      for (int x = 2; x < w - 2; ++x)
        ASSERT_NEAR(get_sample(out, x, y, 0), stored(reference(img, psf, x, y, 0, 1, s.sx, s.sy), 1), 1.0) << mode;
    // A PSF of weight 0 fails with 4 instead of making every output NaN, and
    // forgets the PSF.
    EXPECT_FALSE(fft.set_PSF_2D(zero, 2));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_MISSING);
    EXPECT_FALSE(fft.convolve_2D(out, 1));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_MISSING);
    // Every failed set-up forgets the PSF, also a size failure after a good one.
    ASSERT_TRUE(fft.set_PSF_2D(psf, 2));
    EXPECT_FALSE(fft.set_PSF_2D(psf, 5000));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_SIZE);
    EXPECT_FALSE(fft.convolve_2D(out, 1));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_MISSING);
    // So does one stopped part-way, in its insert or (past the 16 rows of
    // modes 1 and 2) its transforms: rows not reached hold the last PSF.
    static int questions;
    for (int allowed : {0, 3, 20}) {
      ASSERT_TRUE(fft.set_PSF_2D(psf, 2));
      questions = allowed;
      fft.set_abort_test(nullptr, [](void*) { return questions-- > 0 ? 0 : 1; });
      EXPECT_FALSE(fft.set_PSF_2D(psf, 2) || fft.get_error() != FFTConvolver::FFT_ERR_MISSING) << mode << " " << allowed;
      fft.set_abort_test(nullptr, nullptr);
      EXPECT_FALSE(fft.convolve_2D(out, 1) || fft.get_error() != FFTConvolver::FFT_ERR_MISSING) << mode << " " << allowed;
    }
  }
  // A PSF set up for one back-end does not feed another's convolution (a
  // single-precision grid read as double would overrun it), and a new PSF
  // of another size drops the registered image (it no longer fits the grid).
  {
    FFTConvolver fft(1);
    ASSERT_TRUE(fft.set_PSF_2D_single(psf, 2) && fft.set_image_2D(img));
    EXPECT_FALSE(fft.convolve_2D_double(out, 1));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_MISSING);
    EXPECT_FALSE(fft.convolve_2D_fftw(out, 1));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_MISSING);
    EXPECT_TRUE(fft.convolve_2D_single(out, 1));
    OwnedImage bigger(asymmetric_psf(w + 3, h));
    ASSERT_TRUE(fft.set_PSF_2D(bigger, 2));
    EXPECT_FALSE(fft.convolve_2D(out, 1));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_MISSING);
  }
  // save_* without an image grid: false with 4 instead of copying from null.
  FFTConvolver fresh(1);
  void* block = nullptr;
  double* doubles = nullptr;
  EXPECT_FALSE(fresh.save_complex_data_single(&block));
  EXPECT_EQ(fresh.get_error(), FFTConvolver::FFT_ERR_MISSING);
  EXPECT_FALSE(fresh.save_complex_data_double(&block));
  EXPECT_FALSE(fresh.save_fftw_data(&doubles));
  EXPECT_EQ(block, nullptr);
  // With a grid: the copy holds the grid of the last convolution (the
  // single-precision grid is not a double one).
  ASSERT_TRUE(fresh.set_PSF_2D(psf, 2) && fresh.set_image_2D(img) && fresh.convolve_2D(out, 1));
  EXPECT_FALSE(fresh.save_complex_data_double(&block));
  ASSERT_TRUE(fresh.save_complex_data_single(&block));
  ASSERT_NE(block, nullptr);
  const complex4* grid = static_cast<const complex4*>(block);
  const int pw = fresh.get_padded_width(), xo = (pw - w) / 2, yo = (fresh.get_padded_height() - h) / 2;
  EXPECT_NEAR(grid[yo * pw + xo].re, get_sample(out, 0, 0, 0), 1.0);
  mem_align_free(block, true);
}

TEST(FftConvolve2D, DeltaConstantGammaAndSaturation) {
  for (int mode : {1, 2, 4}) {
    // A centred delta leaves an even-sized image alone and moves an
    // odd-width one by one pixel.
    for (int w : {16, 13}) {
      const int h = 10;
      OwnedImage delta(image_data_create(w, h, 1, IMAGE_PIXEL_BYTE, 1));
      memset(delta->pixels, 0, static_cast<size_t>(delta->row_bytes) * h);
      set_sample(delta, w / 2, h / 2, 0, 255);
      OwnedImage img(random_image(w, h, 2, IMAGE_PIXEL_WORD, 7));
      OwnedImage out(image_data_create(w, h, 2, IMAGE_PIXEL_WORD, 1));
      FFTConvolver fft(mode);
      fft.set_edge_mode(1);
      ASSERT_TRUE(fft.set_PSF_2D(delta, 1) && fft.set_image_2D(img) && fft.convolve_2D(out, 3));
      const int shift = w % 2;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x + shift < w; ++x)
          for (int c = 0; c < 2; ++c)
            ASSERT_NEAR(get_sample(out, x, y, c), get_sample(img, x + shift, y, c), 1.0) << mode << " " << w;
    }
    // Edge mode 2 keeps a constant image constant; edge mode 1 darkens its
    // borders.
    const int w = 13, h = 9;
    OwnedImage psf(asymmetric_psf(w, h));
    OwnedImage flat(image_data_create(w, h, 1, IMAGE_PIXEL_BYTE, 1));
    memset(flat->pixels, 200, static_cast<size_t>(flat->row_bytes) * h);
    OwnedImage out(image_data_create(w, h, 1, IMAGE_PIXEL_BYTE, 1));
    FFTConvolver fft(mode);
    ASSERT_TRUE(fft.set_PSF_2D(psf, 3) && fft.set_image_2D(flat) && fft.convolve_2D(out, 1));
    for (int k = 0; k < w * h; ++k) ASSERT_NEAR(static_cast<uint8_t*>(out->pixels)[k], 200, 1) << mode;
    fft.set_edge_mode(1);
    ASSERT_TRUE(fft.convolve_2D(out, 1));
    EXPECT_LT(get_sample(out, 0, 0, 0), 190);
    EXPECT_NEAR(get_sample(out, w / 2, h / 2, 0), 200, 1);
  }

  // Weights of both signs (a float PSF) push word32 results past both ends:
  // stored as 4294967295 and 0.
  const int w = 8, h = 6;
  OwnedImage sharpen(image_data_create(w, h, 1, IMAGE_PIXEL_FLOAT, 1));
  memset(sharpen->pixels, 0, static_cast<size_t>(sharpen->row_bytes) * h);
  set_sample(sharpen, w / 2, h / 2, 0, 1.5);
  set_sample(sharpen, w / 2 + 1, h / 2, 0, -0.5);
  OwnedImage big(image_data_create(w, h, 1, IMAGE_PIXEL_WORD32, 1));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) set_sample(big, x, y, 0, x % 2 ? 4294967295.0 : 0.0);
  OwnedImage out32(image_data_create(w, h, 1, IMAGE_PIXEL_WORD32, 1));
  for (int mode : {1, 2, 4}) {
    FFTConvolver fft(mode);
    ASSERT_TRUE(fft.set_PSF_2D(sharpen, 2) && fft.set_image_2D(big) && fft.convolve_2D(out32, 1));
    for (int x = 1; x < w - 1; ++x) {
      // out(x) = 1.5 in(x) - 0.5 in(x - 1): 1.5 full or -0.5 full.
      EXPECT_EQ(get_sample(out32, x, 2, 0), x % 2 ? 4294967295.0 : 0.0) << mode << " x " << x;
    }
  }

  // Gamma (FFTW): the normalised samples are raised to gamma before and to
  // 1/gamma after; a residue below 0 is clamped first, not made NaN.
  OwnedImage bytes(image_data_create(w, h, 1, IMAGE_PIXEL_BYTE, 1));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) set_sample(bytes, x, y, 0, x % 2 ? 60 : 250);
  OwnedImage out8(image_data_create(w, h, 1, IMAGE_PIXEL_BYTE, 1));
  FFTConvolver fftw(4);
  fftw.set_convolve_2D_gamma_stretch(2.0f);
  ASSERT_TRUE(fftw.set_PSF_2D(sharpen, 2) && fftw.set_image_2D(bytes) && fftw.convolve_2D(out8, 1));
  for (int x = 1; x < w - 1; ++x) {
    const double a = get_sample(bytes, x, 2, 0) / 255.0, b = get_sample(bytes, x - 1, 2, 0) / 255.0;
    const double mixed = 1.5 * a * a - 0.5 * b * b;
    const double want = mixed <= 0 ? 0.0 : std::min(255.0, std::floor(std::sqrt(mixed) * 255.0));
    EXPECT_NEAR(get_sample(out8, x, 2, 0), want, 1.0) << x;
  }
}

TEST(FftConvolve2D, FftwObjectOutlivesAnotherObjectsEnd) {
  const int w = 16, h = 10;
  OwnedImage psf(asymmetric_psf(w, h));
  OwnedImage img(random_image(w, h, 1, IMAGE_PIXEL_BYTE, 8));
  OwnedImage out(image_data_create(w, h, 1, IMAGE_PIXEL_BYTE, 1));
  OwnedImage again(image_data_create(w, h, 1, IMAGE_PIXEL_BYTE, 1));
  FFTConvolver keeper(4);
  ASSERT_TRUE(keeper.set_PSF_2D(psf, 3) && keeper.set_image_2D(img) && keeper.convolve_2D(out, 1));
  {
    FFTConvolver other(4);
    ASSERT_TRUE(other.set_PSF_2D(psf, 3) && other.set_image_2D(img) && other.convolve_2D(again, 1));
  }
  memset(again->pixels, 0, static_cast<size_t>(again->row_bytes) * h);
  ASSERT_TRUE(keeper.convolve_2D(again, 1));
  EXPECT_EQ(memcmp(out->pixels, again->pixels, static_cast<size_t>(out->row_bytes) * h), 0);
}

TEST(FftConvolve2D, RefusedGridsAndStoresFailWithMemoryError) {
  const int w = 16, h = 10;
  OwnedImage psf(asymmetric_psf(w, h));
  OwnedImage img(random_image(w, h, 4, IMAGE_PIXEL_BYTE, 21));
  OwnedImage out(image_data_create(w, h, 4, IMAGE_PIXEL_BYTE, 1));
  for (int grants : {0, 1}) {
    FFTConvolver fft(1);
    {
      FailingHeap heap(grants, FailingHeap::image);  // the PSF grid, then the image grid
      EXPECT_FALSE(fft.set_PSF_2D(psf, 2));
      EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_MEMORY);
    }
    EXPECT_TRUE(fft.set_image_2D(img));
    EXPECT_FALSE(fft.convolve_2D(out, 1)) << "the failed set-up forgot the PSF";
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_MISSING);
  }
  // The luma-chroma stores come on first use: Y, C1, C2.
  for (int grants : {0, 1, 2}) {
    FFTConvolver yc(2);
    ASSERT_TRUE(yc.set_PSF_2D(psf, 2) && yc.set_image_2D(img));
    {
      FailingHeap heap(grants, FailingHeap::image);
      EXPECT_FALSE(yc.convolve_2D_YC(out, 7)) << grants;
      EXPECT_EQ(yc.get_error(), FFTConvolver::FFT_ERR_MEMORY);
    }
    EXPECT_TRUE(yc.convolve_2D_YC(out, 7));
  }
  FFTConvolver fft(2);
  ASSERT_TRUE(fft.set_PSF_2D(psf, 2) && fft.set_image_2D(img));
  // A refused column buffer (normal heap) fails the stage.
  {
    FailingHeap heap(0);
    EXPECT_FALSE(fft.convolve_2D(out, 1));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_MEMORY);
  }
  EXPECT_TRUE(fft.convolve_2D(out, 1));
}

TEST(FftConvolve2D, WisdomIsReadBeforeAndWrittenAfterPlanning) {
  const fs::path file = fs::path(get_standard_directory(Q4_DIR_SETTINGS)) / "fftw3_wisdom_q4.dat";
  fs::create_directories(file.parent_path());
  fs::remove(file);
  const int w = 8, h = 6;
  OwnedImage psf(asymmetric_psf(w, h));
  setenv("Q4_USE_FFTW_WISDOM", "1", 1);
  {
    FFTConvolver fft(4);
    unsetenv("Q4_USE_FFTW_WISDOM");
    ASSERT_TRUE(fft.set_PSF_2D(psf, 1));
    EXPECT_TRUE(fs::exists(file)) << "written after planning";
    EXPECT_FALSE(fft.fftw_wisdom_loaded()) << "nothing to read before the first plan";
    OwnedImage img(random_image(w, h, 1, IMAGE_PIXEL_BYTE, 4));
    OwnedImage out(image_data_create(w, h, 1, IMAGE_PIXEL_BYTE, 1));
    ASSERT_TRUE(fft.set_image_2D(img) && fft.convolve_2D(out, 1));
    EXPECT_TRUE(fft.fftw_wisdom_loaded()) << "read before the next plan";
  }
  fs::remove(file);
}

TEST(FftConvolve2D, MultiplyWorkersUseThePsfSpectrum) {
  // A delta at the centre of an even PSF becomes sample (0, 0) of the grid:
  // its spectrum, scaled once by 1/(W H), is 1/(W H) everywhere. The row
  // multiply workers scale any grid by that.
  const int w = 16, h = 10;
  OwnedImage delta(image_data_create(w, h, 1, IMAGE_PIXEL_BYTE, 1));
  memset(delta->pixels, 0, static_cast<size_t>(delta->row_bytes) * h);
  set_sample(delta, w / 2, h / 2, 0, 255);
  FFTConvolver single(1), twin(2);
  ASSERT_TRUE(single.set_PSF_2D(delta, 0) && twin.set_PSF_2D(delta, 0));
  const int gw = single.get_padded_width(), gh = single.get_padded_height();
  std::vector<complex4> g4(gw * gh);
  std::vector<complex8> g8(gw * gh);
  for (int k = 0; k < gw * gh; ++k) {
    g4[k] = {static_cast<float>(k % 7), static_cast<float>(k % 5) - 2.0f};
    g8[k] = {static_cast<double>(k % 7), static_cast<double>(k % 5) - 2.0};
  }
  single.set_work_grid(g4.data(), gw, gh);
  FFTConvolver::mp_multiply_transforms_2D_single(&single, 0, gh - 1);
  twin.set_work_grid(g8.data(), gw, gh);
  FFTConvolver::mp_multiply_transforms_2D_double(&twin, 0, gh - 1);
  const double scale = 1.0 / (gw * gh);
  for (int k = 0; k < gw * gh; ++k) {
    ASSERT_NEAR(g4[k].re, (k % 7) * scale, 1e-7);
    ASSERT_NEAR(g4[k].im, (k % 5 - 2) * scale, 1e-7);
    ASSERT_NEAR(g8[k].re, (k % 7) * scale, 1e-15);
    ASSERT_NEAR(g8[k].im, (k % 5 - 2) * scale, 1e-15);
  }
}

TEST(FftConvolve2D, BothSimdPathsGiveTheSameBitsAndSavedRowsHoldTheResult) {
  const int w = 16, h = 10;
  OwnedImage psf(asymmetric_psf(w, h));
  OwnedImage img(random_image(w, h, 4, IMAGE_PIXEL_WORD, 11));
  for (int mode : {1, 2})
    for (bool yc : {false, true}) {
      const auto both = run_on_both_simd_paths([&] {
        FFTConvolver fft(mode);
        OwnedImage out(image_data_create(w, h, 4, IMAGE_PIXEL_WORD, 1));
        std::vector<unsigned char> bytes;
        if (!fft.set_PSF_2D(psf, 2) || !fft.set_image_2D(img) || !(yc ? fft.convolve_2D_YC(out, 15) : fft.convolve_2D(out, 15)))
          return bytes;
        const unsigned char* pixels = static_cast<const unsigned char*>(out->pixels);
        bytes.assign(pixels, pixels + static_cast<size_t>(out->row_bytes) * h);
        void* block = nullptr;
        const bool single = mode == FFTConvolver::MODE_POW2_SINGLE;
        if (yc || !(single ? fft.save_complex_data_single(&block) : fft.save_complex_data_double(&block)))
          return bytes;
        // The saved grid's picture rows hold the result of the last channel
        // (alpha), transformed back.
        const int pw = fft.get_padded_width(), xo = (pw - w) / 2, yo = (fft.get_padded_height() - h) / 2;
        int far = 0;
        for (int y = 0; y < h; ++y)
          for (int x = 0; x < w; ++x) {
            const ptrdiff_t at = static_cast<ptrdiff_t>(y + yo) * pw + xo + x;
            const double re = single ? static_cast<const complex4*>(block)[at].re : static_cast<const complex8*>(block)[at].re;
            far += std::fabs(re - get_sample(out, x, y, 3)) > 1.0;
          }
        EXPECT_EQ(far, 0) << "mode " << mode;
        {
          // The row those transforms run in comes from the normal heap.
          FailingHeap heap(0);
          void* refused = nullptr;
          EXPECT_FALSE(single ? fft.save_complex_data_single(&refused) : fft.save_complex_data_double(&refused));
          EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_MEMORY);
          EXPECT_EQ(refused, nullptr);
        }
        const size_t grid_bytes = (single ? sizeof(complex4) : sizeof(complex8)) * pw * fft.get_padded_height();
        bytes.insert(bytes.end(), static_cast<unsigned char*>(block), static_cast<unsigned char*>(block) + grid_bytes);
        mem_align_free(block, true);
        return bytes;
      });
      ASSERT_FALSE(both.first.empty());
      EXPECT_EQ(both.first, both.second) << "mode " << mode << " yc " << yc;
    }
}

TEST(FftConvolve2D, MarginRowsAndChannelSetsMatchAWrappedDirectConvolution) {
  // Grids with no margin rows, one on each side, and several: the picture
  // sits at (xo, yo) of a W x H grid whose margins hold zeros or the
  // repeated edges, convolved circularly; unselected channels keep their
  // samples; bands give the same bytes.
  const struct {
    int w, h, margin;
  } cases[] = {{16, 16, 0}, {13, 14, 1}, {16, 10, 3}, {20, 5, 2}};
  const int type = IMAGE_PIXEL_WORD, untouched = 4321;
  for (const auto& k : cases)
    for (int mode : {1, 2})
      for (int edge : {1, 2})
        for (int mask : {15, 5}) {
          OwnedImage psf(asymmetric_psf(k.w, k.h));
          OwnedImage img(random_image(k.w, k.h, 4, type, k.w * 7 + k.h));
          std::vector<unsigned char> serial;
          for (int bands : {1, 5}) {
            ThreadBandExecutor ex(bands, /*uneven_split=*/true, /*no_empty_bands=*/false);
            FFTConvolver fft(mode);
            if (bands > 1) fft.set_mp_exec(&ex, ThreadBandExecutor::exec);
            OwnedImage out(image_data_create(k.w, k.h, 4, type, 1));
            for (int y = 0; y < k.h; ++y)
              for (int x = 0; x < k.w; ++x)
                for (int c = 0; c < 4; ++c) set_sample(out, x, y, c, untouched);
            ASSERT_TRUE(fft.set_edge_mode(edge) && fft.set_PSF_2D(psf, k.margin) && fft.set_image_2D(img));
            ASSERT_TRUE(fft.convolve_2D(out, mask)) << fft.get_error();
            const unsigned char* pixels = static_cast<const unsigned char*>(out->pixels);
            const std::vector<unsigned char> bytes(pixels, pixels + static_cast<size_t>(out->row_bytes) * k.h);
            if (bands > 1) {
              EXPECT_EQ(bytes, serial) << k.w << "x" << k.h << " mode " << mode << " edge " << edge;
              continue;
            }
            serial = bytes;
            const int gw = fft.get_padded_width(), gh = fft.get_padded_height();
            const int xo = (gw - k.w) / 2, yo = (gh - k.h) / 2;
            double total = 0.0;
            for (int v = 0; v < k.h; ++v)
              for (int u = 0; u < k.w; ++u) total += get_sample(psf, u, v, 0);
            int bad = 0;
            for (int y = 0; y < k.h; ++y)
              for (int x = 0; x < k.w; ++x)
                for (int c = 0; c < 4; ++c) {
                  double want = untouched;
                  if (mask & (1 << c)) {
                    double sum = 0.0;
                    for (int v = 0; v < k.h; ++v)
                      for (int u = 0; u < k.w; ++u) {
                        const double weight = get_sample(psf, u, v, 0) / total;
                        if (weight == 0.0) continue;
                        // PSF pixel (u, v) lies at (u + xo, v + yo), and the grid's centre
                        // sample is the PSF's origin.
                        const int gx = ((x - u + gw / 2) % gw + gw) % gw, gy = ((y - v + gh / 2) % gh + gh) % gh;
                        sum += weight * edge_sample(img, gx - xo, gy - yo, c, edge);
                      }
                    want = stored(sum, type);
                  }
                  bad += std::fabs(get_sample(out, x, y, c) - want) > 1.0;
                }
            EXPECT_EQ(bad, 0) << k.w << "x" << k.h << " margin " << k.margin << " mode " << mode << " edge " << edge
                              << " mask " << mask;
          }
        }
}
