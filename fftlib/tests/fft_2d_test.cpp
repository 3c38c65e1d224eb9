#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "failing_heap.h"
#include "fft_convolver.h"
#include "simd_paths.h"
#include "thread_band_executor.h"

namespace {

std::vector<float> random_field(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::vector<float> f(static_cast<size_t>(n) * n);
  for (auto& v : f) v = u(gen);
  return f;
}

}  // namespace

TEST(Fft2D, ForwardMatchesNaiveDftThroughFrequencyTable) {
  for (int n : {8, 16}) {
    FFTConvolver fft;
    const auto field = random_field(n, n);
    std::vector<complex4> spec(n * n);
    ASSERT_TRUE(fft.forward_fft_2D_r4_to_c4(n, field.data(), spec.data()));
    EXPECT_EQ(fft.get_error(), 0);
    std::set<int> seen;
    for (int r = 0; r < n; ++r) {
      for (int c = 0; c < n; ++c) {
        float fr = 0, fc = 0;
        ASSERT_TRUE(fft.fft_2D_frequency(r, c, fr, fc));
        if (r == 0) seen.insert(static_cast<int>(fc));
        // Row index r carries the vertical frequency, column c the horizontal.
        long double sr = 0, si = 0;
        for (int y = 0; y < n; ++y)
          for (int x = 0; x < n; ++x) {
            const long double a = -2.0L * M_PI * (fr * y + fc * x) / n;
            sr += field[y * n + x] * cosl(a);
            si += field[y * n + x] * sinl(a);
          }
        EXPECT_NEAR(spec[r * n + c].re, (double)sr, 1e-4) << n << " " << r << "," << c;
        EXPECT_NEAR(spec[r * n + c].im, (double)si, 1e-4) << n << " " << r << "," << c;
      }
    }
    // Every frequency from -n/2 to n/2 - 1 appears once.
    EXPECT_EQ(seen.size(), static_cast<size_t>(n));
    EXPECT_EQ(*seen.begin(), -n / 2);
    EXPECT_EQ(*seen.rbegin(), n / 2 - 1);
  }
}

TEST(Fft2D, RoundTripMultipliesByNSquared) {
  FFTConvolver fft;
  for (int n : {2, 4, 64, 256}) {
    const auto field = random_field(n, 3 * n);
    std::vector<complex4> spec(n * n);
    std::vector<float> back(n * n);
    ASSERT_TRUE(fft.forward_fft_2D_r4_to_c4(n, field.data(), spec.data()));
    ASSERT_TRUE(fft.inverse_fft_2D_c4_to_r4(n, spec.data(), back.data()));
    const float n2 = static_cast<float>(n) * n;
    for (int k = 0; k < n * n; ++k) ASSERT_NEAR(back[k], n2 * field[k], 1e-5f * n2 * std::log2(n)) << n;
  }
}

TEST(Fft2D, ConstantFieldHasOnlyTheZeroFrequency) {
  FFTConvolver fft;
  const int n = 32;
  const std::vector<float> field(n * n, 0.75f);
  std::vector<complex4> spec(n * n);
  ASSERT_TRUE(fft.forward_fft_2D_r4_to_c4(n, field.data(), spec.data()));
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) {
      float fr, fc;
      ASSERT_TRUE(fft.fft_2D_frequency(r, c, fr, fc));
      const float expect = (fr == 0 && fc == 0) ? n * n * 0.75f : 0.0f;
      ASSERT_NEAR(spec[r * n + c].re, expect, 1e-3f);
      ASSERT_NEAR(spec[r * n + c].im, 0.0f, 1e-3f);
    }
  std::vector<float> back(n * n);
  ASSERT_TRUE(fft.inverse_fft_2D_c4_to_r4(n, spec.data(), back.data()));
  for (float v : back) ASSERT_NEAR(v, n * n * 0.75f, 1e-3f);  // the lone entry N^2 c, everywhere
}

TEST(Fft2D, BandedResultsAreBitIdenticalToUnbanded) {
  // 256 columns span several column blocks, so bands cut blocks anywhere;
  // on the smallest grids bands of one column meet partial tiles.
  for (int n : {2, 8, 64, 256}) {
    const auto field = random_field(n, 77);
    FFTConvolver plain;
    std::vector<complex4> ref(n * n);
    std::vector<float> ref_back(n * n);
    ASSERT_TRUE(plain.forward_fft_2D_r4_to_c4(n, field.data(), ref.data()));
    std::vector<complex4> ref_copy = ref;
    ASSERT_TRUE(plain.inverse_fft_2D_c4_to_r4(n, ref_copy.data(), ref_back.data()));
    const struct {
      int bands;
      bool uneven;
    } splits[] = {{1, false}, {3, false}, {7, false}, {8, true}};
    for (const auto& split : splits) {
      const int bands = split.bands;
      FFTConvolver fft;
      ThreadBandExecutor ex(bands, split.uneven, /*no_empty_bands=*/true);
      fft.set_mp_exec(&ex, ThreadBandExecutor::exec);
      std::vector<complex4> spec(n * n);
      std::vector<float> back(n * n);
      ASSERT_TRUE(fft.forward_fft_2D_r4_to_c4(n, field.data(), spec.data()));
      EXPECT_EQ(std::memcmp(spec.data(), ref.data(), sizeof(complex4) * n * n), 0) << n << " " << bands;
      ASSERT_TRUE(fft.inverse_fft_2D_c4_to_r4(n, spec.data(), back.data()));
      EXPECT_EQ(ex.calls, 4) << "rows and columns of both directions go through the executor";
      EXPECT_EQ(std::memcmp(spec.data(), ref_copy.data(), sizeof(complex4) * n * n), 0) << n << " " << bands;
      EXPECT_EQ(std::memcmp(back.data(), ref_back.data(), sizeof(float) * n * n), 0) << n << " " << bands;
    }
    // Empty bands beside two uneven ones, run one after another.
    FFTConvolver fft;
    fft.set_mp_exec(nullptr, [](void*, mp_worker_fn worker, int count, void* object) {
      worker(object, 0, -1);
      worker(object, 0, count / 3);
      worker(object, count, count - 1);
      worker(object, count / 3 + 1, count - 1);
    });
    std::vector<complex4> spec(n * n);
    std::vector<float> back(n * n);
    ASSERT_TRUE(fft.forward_fft_2D_r4_to_c4(n, field.data(), spec.data()));
    EXPECT_EQ(std::memcmp(spec.data(), ref.data(), sizeof(complex4) * n * n), 0) << n << " with empty bands";
    ASSERT_TRUE(fft.inverse_fft_2D_c4_to_r4(n, spec.data(), back.data()));
    EXPECT_EQ(std::memcmp(back.data(), ref_back.data(), sizeof(float) * n * n), 0) << n << " with empty bands";
  }
}

TEST(Fft2D, DimensionTableAcceptsPowersOfTwoTo8192Only) {
  FFTConvolver fft;
  for (int k = 1; k <= 13; ++k) {
    int bits = -1;
    EXPECT_TRUE(fft.fft_check_dimension(1 << k, &bits));
    EXPECT_EQ(bits, k);
    EXPECT_EQ(fft.get_error(), 0);
  }
  EXPECT_TRUE(fft.fft_check_dimension(8192, nullptr));
  for (int n : {-8, 0, 1, 3, 12, 100, 16384, 1 << 30}) {
    EXPECT_FALSE(fft.fft_check_dimension(n, nullptr)) << n;
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_SIZE);
  }
  // A refused size writes nothing.
  std::vector<float> field(16 * 16, 1.0f);
  std::vector<complex4> spec(16 * 16, complex4{5.0f, 6.0f});
  for (int n : {1, 3, 12, 16384}) {
    EXPECT_FALSE(fft.forward_fft_2D_r4_to_c4(n, field.data(), spec.data()));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_SIZE);
    EXPECT_FALSE(fft.inverse_fft_2D_c4_to_r4(n, spec.data(), field.data()));
  }
  EXPECT_EQ(spec[0].re, 5.0f);
  EXPECT_EQ(field[0], 1.0f);
  EXPECT_FALSE(fft.forward_fft_2D_r4_to_c4(16, nullptr, spec.data()));
  EXPECT_FALSE(fft.inverse_fft_2D_c4_to_r4(16, spec.data(), nullptr));
}

TEST(Fft2D, FrequencyTableFollowsTheLastForwardSize) {
  FFTConvolver fft;
  float fi = 99, fj = 99;
  EXPECT_FALSE(fft.fft_2D_frequency(0, 0, fi, fj));
  std::vector<float> field(16 * 16, 0.0f);
  std::vector<complex4> spec(16 * 16);
  ASSERT_TRUE(fft.forward_fft_2D_r4_to_c4(2, field.data(), spec.data()));
  ASSERT_TRUE(fft.fft_2D_frequency(0, 1, fi, fj));
  EXPECT_EQ(fi, 0.0f);
  EXPECT_EQ(fj, -1.0f);
  EXPECT_FALSE(fft.fft_2D_frequency(2, 0, fi, fj));
  ASSERT_TRUE(fft.forward_fft_2D_r4_to_c4(8, field.data(), spec.data()));
  const int expect[8] = {0, 1, 2, 3, -4, -3, -2, -1};
  for (int k = 0; k < 8; ++k) {
    ASSERT_TRUE(fft.fft_2D_frequency(k, 7 - k, fi, fj));
    EXPECT_EQ(fi, expect[k]);
    EXPECT_EQ(fj, expect[7 - k]);
  }
  EXPECT_FALSE(fft.fft_2D_frequency(8, 0, fi, fj));
  EXPECT_FALSE(fft.fft_2D_frequency(0, -1, fi, fj));
}

namespace {

int abort_after_calls(void* context) {
  int* left = static_cast<int*>(context);
  return --*left < 0;
}

void run_whole(void*, mp_worker_fn worker, int count, void* object) { worker(object, 0, count - 1); }

}  // namespace

TEST(Fft2D, AbortLeavesRemainingRowsAndColumnsAlone) {
  const int n = 16;
  FFTConvolver fft;
  int budget = 4;  // four rows, then every test says stop
  fft.set_mp_exec(&budget, run_whole);
  fft.set_abort_test(nullptr, abort_after_calls);
  std::vector<float> field(n * n, 1.0f);
  std::vector<complex4> spec(n * n);
  ASSERT_TRUE(fft.forward_fft_2D_r4_to_c4(n, field.data(), spec.data()));
  EXPECT_EQ(fft.get_error(), 0);
  // Transformed rows of ones hold n at frequency 0; untouched rows keep ones.
  for (int r = 0; r < n; ++r) {
    EXPECT_EQ(spec[r * n].re, r < 4 ? static_cast<float>(n) : 1.0f) << r;
    EXPECT_EQ(spec[r * n + 1].re, r < 4 ? 0.0f : 1.0f) << r;
  }
}

TEST(Fft2D, DoubleAndScaleWorkersOnRectangularGrids) {
  // 8 wide, 4 high: rows of 8 and columns of 4 through the double workers.
  const int w = 8, h = 4;
  std::vector<complex8> grid(w * h);
  for (int i = 0; i < w * h; ++i) grid[i] = {std::sin(1.3 * i), std::cos(0.4 * i * i)};
  const auto orig = grid;
  FFTConvolver fft;
  fft.set_work_grid(grid.data(), w, h);
  FFTConvolver::mp_forward_fft_2D_rows_double(&fft, 0, h - 1);
  FFTConvolver::mp_forward_fft_2D_columns_double(&fft, 0, w - 1);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      long double sr = 0, si = 0;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const long double a = -2.0L * M_PI * ((long double)(r * y) / h + (long double)(c * x) / w);
          const complex8& v = orig[y * w + x];
          sr += v.re * cosl(a) - v.im * sinl(a);
          si += v.re * sinl(a) + v.im * cosl(a);
        }
      EXPECT_NEAR(grid[r * w + c].re, (double)sr, 1e-12);
      EXPECT_NEAR(grid[r * w + c].im, (double)si, 1e-12);
    }
  FFTConvolver::mp_inverse_fft_2D_rows_double(&fft, 0, h - 1);
  FFTConvolver::mp_inverse_fft_2D_columns_double(&fft, 0, w - 1);
  FFTConvolver::mp_scale_fft_2D_rows_double(&fft, 0, h - 1);
  FFTConvolver::mp_scale_fft_2D_columns_double(&fft, 0, w - 1);
  for (int i = 0; i < w * h; ++i) {
    EXPECT_NEAR(grid[i].re, orig[i].re, 1e-14);
    EXPECT_NEAR(grid[i].im, orig[i].im, 1e-14);
  }
  // Single-precision twins: forward, inverse and both scalings restore the grid.
  std::vector<complex4> g4(w * h);
  for (int i = 0; i < w * h; ++i) g4[i] = {static_cast<float>(orig[i].re), static_cast<float>(orig[i].im)};
  fft.set_work_grid(g4.data(), w, h);
  FFTConvolver::mp_forward_fft_2D_columns_single(&fft, 0, w - 1);
  FFTConvolver::mp_forward_fft_2D_rows_single(&fft, 0, h - 1);
  FFTConvolver::mp_inverse_fft_2D_columns_single(&fft, 0, w - 1);
  FFTConvolver::mp_scale_fft_2D_columns_single(&fft, 0, w - 1);
  FFTConvolver::mp_inverse_fft_2D_rows_single(&fft, 0, h - 1);
  FFTConvolver::mp_scale_fft_2D_rows_single(&fft, 0, h - 1);
  for (int i = 0; i < w * h; ++i) EXPECT_NEAR(g4[i].re, orig[i].re, 1e-6);
  // A length that is not a power of two is left untransformed.
  fft.set_work_grid(g4.data(), 6, 4);
  const auto before = g4;
  FFTConvolver::mp_forward_fft_2D_rows_single(&fft, 0, 3);
  EXPECT_EQ(std::memcmp(before.data(), g4.data(), sizeof(complex4) * w * h), 0);
}

namespace {

// Counts abort questions and answers "stop" to every one after the first
// `allowed`.
struct AbortCounter {
  int allowed;
  int asked = 0;
};

int stop_after_allowed(void* context) {
  AbortCounter* counter = static_cast<AbortCounter*>(context);
  return ++counter->asked > counter->allowed;
}

// Runs the bands [0, 4] and [5, count - 1] one after the other on the
// calling thread, so that both bands of a 16-wide stage hold a partial
// column block.
void two_bands_in_turn(void*, mp_worker_fn worker, int count, void* object) {
  worker(object, 0, 4);
  worker(object, 5, count - 1);
}

std::vector<complex4> as_complex(const std::vector<float>& field) {
  std::vector<complex4> grid(field.size());
  for (size_t k = 0; k < field.size(); ++k) grid[k] = {field[k], 0.0f};
  return grid;
}

// Every row transformed, then only columns 0 to columns - 1, each on its own.
std::vector<complex4> rows_then_columns(const std::vector<float>& field, int n, int columns) {
  std::vector<complex4> grid = as_complex(field);
  FFTConvolver worker;
  worker.set_work_grid(grid.data(), n, n);
  FFTConvolver::mp_forward_fft_2D_rows_single(&worker, 0, n - 1);
  for (int c = 0; c < columns; ++c) FFTConvolver::mp_forward_fft_2D_columns_single(&worker, c, c);
  return grid;
}

}  // namespace

TEST(Fft2D, AbortInTheColumnStageStopsAtThatColumnWithoutError) {
  struct Case {
    int n;
    int columns_done;  // columns transformed before the stop answer
    mp_exec_fn executor;
    int bands;
  };
  const Case cases[] = {
      {4, 2, run_whole, 1},           // inside the lone partial block
      {16, 0, run_whole, 1},          // before the first column
      {16, 8, run_whole, 1},          // at a block boundary
      {16, 11, run_whole, 1},         // inside the second block
      {16, 3, two_bands_in_turn, 2},  // partial blocks of 5 and 11
  };
  for (const Case& t : cases) {
    const int n = t.n;
    const auto field = random_field(n, 500 + t.columns_done);
    FFTConvolver fft;
    AbortCounter counter{n + t.columns_done};
    fft.set_mp_exec(&counter, t.executor);
    fft.set_abort_test(nullptr, stop_after_allowed);
    std::vector<complex4> spec(n * n);
    ASSERT_TRUE(fft.forward_fft_2D_r4_to_c4(n, field.data(), spec.data())) << n << " " << t.columns_done;
    EXPECT_EQ(fft.get_error(), 0);
    // Each band stops at its first stop answer and asks nothing more.
    EXPECT_EQ(counter.asked, n + t.columns_done + t.bands) << n << " " << t.columns_done;
    const auto expect = rows_then_columns(field, n, t.columns_done);
    EXPECT_EQ(std::memcmp(spec.data(), expect.data(), sizeof(complex4) * n * n), 0)
        << n << " " << t.columns_done;
    // The untouched columns really differ from a finished transform.
    std::vector<complex4> full(n * n);
    FFTConvolver plain;
    ASSERT_TRUE(plain.forward_fft_2D_r4_to_c4(n, field.data(), full.data()));
    EXPECT_NE(std::memcmp(spec.data(), full.data(), sizeof(complex4) * n * n), 0);
  }

  // The inverse transform ends the same way: true, no error code.
  const int n = 16;
  const auto field = random_field(n, 9);
  FFTConvolver fft;
  std::vector<complex4> spec(n * n);
  ASSERT_TRUE(fft.forward_fft_2D_r4_to_c4(n, field.data(), spec.data()));
  AbortCounter counter{n + 5};
  fft.set_mp_exec(&counter, run_whole);
  fft.set_abort_test(nullptr, stop_after_allowed);
  std::vector<complex4> expect = spec;
  FFTConvolver worker;
  worker.set_work_grid(expect.data(), n, n);
  FFTConvolver::mp_inverse_fft_2D_rows_single(&worker, 0, n - 1);
  FFTConvolver::mp_inverse_fft_2D_columns_single(&worker, 0, 4);
  std::vector<float> back(n * n);
  ASSERT_TRUE(fft.inverse_fft_2D_c4_to_r4(n, spec.data(), back.data()));
  EXPECT_EQ(fft.get_error(), 0);
  EXPECT_EQ(counter.asked, n + 6);
  for (int k = 0; k < n * n; ++k) ASSERT_EQ(back[k], expect[k].re) << k;
}

TEST(Fft2D, RefusedFrequencyTableFailsWithoutCodeAndIsRetried) {
  const int n = 8;
  const auto field = random_field(n, 31);
  FFTConvolver fft;
  std::vector<complex4> spec(n * n, complex4{5.0f, 6.0f});
  std::vector<float> small(4 * 4, 1.0f);
  ASSERT_TRUE(fft.forward_fft_2D_r4_to_c4(4, small.data(), spec.data()));
  EXPECT_FALSE(fft.set_edge_mode(0));  // leaves code 8 behind
  std::fill(spec.begin(), spec.end(), complex4{5.0f, 6.0f});
  {
    FailingHeap heap(0);
    EXPECT_FALSE(fft.forward_fft_2D_r4_to_c4(n, field.data(), spec.data()));
    EXPECT_EQ(fft.get_error(), 0);
  }
  // The old table is gone, no new one came, and nothing was transformed.
  float fi = 99, fj = 99;
  EXPECT_FALSE(fft.fft_2D_frequency(0, 0, fi, fj));
  EXPECT_EQ(spec[0].re, 5.0f);
  EXPECT_EQ(spec[n * n - 1].im, 6.0f);

  ASSERT_TRUE(fft.forward_fft_2D_r4_to_c4(n, field.data(), spec.data()));
  EXPECT_EQ(fft.get_error(), 0);
  ASSERT_TRUE(fft.fft_2D_frequency(4, 7, fi, fj));
  EXPECT_EQ(fi, -4.0f);
  EXPECT_EQ(fj, -1.0f);
  FFTConvolver plain;
  std::vector<complex4> expect(n * n);
  ASSERT_TRUE(plain.forward_fft_2D_r4_to_c4(n, field.data(), expect.data()));
  EXPECT_EQ(std::memcmp(spec.data(), expect.data(), sizeof(complex4) * n * n), 0);
}

TEST(Fft2D, RefusedColumnBufferSetsMemoryError) {
  const int n = 16;
  const auto field = random_field(n, 41);
  FFTConvolver fft;
  std::vector<complex4> spec(n * n);
  {
    FailingHeap heap(1);  // the frequency table only
    EXPECT_FALSE(fft.forward_fft_2D_r4_to_c4(n, field.data(), spec.data()));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_MEMORY);
  }
  float fi, fj;
  EXPECT_TRUE(fft.fft_2D_frequency(n - 1, 0, fi, fj));
  EXPECT_EQ(fi, -1.0f);

  // Of two column bands, the second is refused: the stage still fails.
  ASSERT_TRUE(fft.forward_fft_2D_r4_to_c4(n, field.data(), spec.data()));
  int context = 0;
  fft.set_mp_exec(&context, two_bands_in_turn);
  std::vector<float> back(n * n, 7.0f);
  {
    FailingHeap heap(1);
    EXPECT_FALSE(fft.inverse_fft_2D_c4_to_r4(n, spec.data(), back.data()));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_MEMORY);
  }
  EXPECT_EQ(back[0], 7.0f) << "a failed inverse writes no output";

  // The next operation with memory to spare succeeds and clears the code.
  ASSERT_TRUE(fft.forward_fft_2D_r4_to_c4(n, field.data(), spec.data()));
  EXPECT_EQ(fft.get_error(), 0);
  {
    FailingHeap heap(0);
    EXPECT_FALSE(fft.forward_fft_2D_r4_to_c4(n, field.data(), spec.data()));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_MEMORY);
  }
}

TEST(Fft2D, RepeatingTheSizeKeepsTheFrequencyTable) {
  const int n = 8;
  const auto field = random_field(n, 51);
  FFTConvolver fft;
  std::vector<complex4> spec(16 * 16);
  ASSERT_TRUE(fft.forward_fft_2D_r4_to_c4(n, field.data(), spec.data()));
  {
    // One allocation is left: the column buffer takes it, so the table must
    // not have been made again.
    FailingHeap heap(1);
    EXPECT_TRUE(fft.forward_fft_2D_r4_to_c4(n, field.data(), spec.data()));
    EXPECT_EQ(fft.get_error(), 0);
  }
  const auto big = random_field(16, 52);
  {
    // A new size needs a new table, which takes the one allocation.
    FailingHeap heap(1);
    EXPECT_FALSE(fft.forward_fft_2D_r4_to_c4(16, big.data(), spec.data()));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_MEMORY);
  }
  float fi, fj;
  ASSERT_TRUE(fft.fft_2D_frequency(15, 8, fi, fj));
  EXPECT_EQ(fi, -1.0f);
  EXPECT_EQ(fj, -8.0f);
}

namespace {

int never_stop(void*) { return 0; }

}  // namespace

TEST(Fft2D, HalfSpectrumPathsAgreeWithTheFullComplexTransform) {
  // Without an abort test the square service works on half spectra; with one
  // it transforms every row and column as complex sequences. Both give the
  // same spectra and fields within single-precision rounding, also for a
  // spectrum that is not conjugate-symmetric (only its real part returns)
  // and for a field one float off FFTW's alignment.
  for (int n : {2, 4, 8, 32, 128}) {
    for (int offset : {0, 1}) {
      const auto source = random_field(n + 1, 60 + n);
      std::vector<float> field(source.begin(), source.begin() + n * n + offset);
      const float* in = field.data() + offset;
      FFTConvolver half, full;
      full.set_abort_test(nullptr, never_stop);
      std::vector<complex4> spec_half(n * n), spec_full(n * n);
      ASSERT_TRUE(half.forward_fft_2D_r4_to_c4(n, in, spec_half.data()));
      ASSERT_TRUE(full.forward_fft_2D_r4_to_c4(n, in, spec_full.data()));
      const double tol = 2e-6 * n * std::log2(2 * n);
      for (int k = 0; k < n * n; ++k) {
        ASSERT_NEAR(spec_half[k].re, spec_full[k].re, tol) << n << " " << k;
        ASSERT_NEAR(spec_half[k].im, spec_full[k].im, tol) << n << " " << k;
      }
      // A spectrum with no symmetry at all.
      std::vector<complex4> noise(n * n);
      const auto re = random_field(n, 70 + n), im = random_field(n, 80 + n);
      for (int k = 0; k < n * n; ++k) noise[k] = {re[k], im[k]};
      auto noise_full = noise;
      std::vector<float> back_half(n * n + offset), back_full(n * n);
      ASSERT_TRUE(half.inverse_fft_2D_c4_to_r4(n, noise.data(), back_half.data() + offset));
      ASSERT_TRUE(full.inverse_fft_2D_c4_to_r4(n, noise_full.data(), back_full.data()));
      for (int k = 0; k < n * n; ++k) ASSERT_NEAR(back_half[k + offset], back_full[k], tol) << n << " " << k;
    }
  }
}

TEST(Fft2D, ColumnCopiesGiveTheSameBytesOnBothSimdPaths) {
  // The column gathers and scatters (tiles in AVX2, samples one by one
  // otherwise), in the half-spectrum, complex and double-precision passes,
  // on sizes that fill whole tiles and sizes that do not.
  for (int n : {2, 4, 8, 64}) {
    const auto field = random_field(n, 90 + n);
    auto run = [&] {
      FFTConvolver half, full;
      full.set_abort_test(nullptr, never_stop);
      std::vector<complex4> a(n * n), b(n * n);
      std::vector<float> back(n * n);
      half.forward_fft_2D_r4_to_c4(n, field.data(), a.data());
      full.forward_fft_2D_r4_to_c4(n, field.data(), b.data());
      a.insert(a.end(), b.begin(), b.end());
      half.inverse_fft_2D_c4_to_r4(n, b.data(), back.data());
      for (float v : back) a.push_back({v, 0.0f});
      std::vector<complex8> d(n * 4);
      for (size_t k = 0; k < d.size(); ++k) d[k] = {field[k % field.size()], 0.5};
      half.set_work_grid(d.data(), n, 4);
      FFTConvolver::mp_forward_fft_2D_columns_double(&half, 0, n - 1);
      for (const complex8& v : d) a.push_back({static_cast<float>(v.re), static_cast<float>(v.im)});
      return a;
    };
    const auto both = run_on_both_simd_paths(run);
    ASSERT_EQ(both.first.size(), both.second.size());
    EXPECT_EQ(std::memcmp(both.first.data(), both.second.data(), sizeof(complex4) * both.first.size()), 0) << n;
  }
}

// Plans picked by timing differ from process to process in the last bits of
// every result. Each child starts the program anew and runs this test in a
// home folder of its own; it inherits the runs' folder, named here first.
TEST(Fft2D, FreshProcessesGiveTheSameBytes) {
  setenv("Q4_FFT_RUNS", (std::string(getenv("Q4_HOME_DIR")) + "/run").c_str(), 0);
  const std::string runs = getenv("Q4_FFT_RUNS");
  // Spectra and fields on the half-spectrum and on the complex paths.
  auto write_transforms = [&runs](int k) {
    std::ofstream file(runs + std::to_string(k), std::ios::binary);
    bool ok = true;
    for (abort_test_fn test : {abort_test_fn(nullptr), never_stop}) {
      FFTConvolver fft;
      fft.set_abort_test(nullptr, test);
      std::vector<float> field = random_field(512, 3);
      std::vector<complex4> spectrum(field.size());
      ok &= fft.forward_fft_2D_r4_to_c4(512, field.data(), spectrum.data());
      file.write(reinterpret_cast<const char*>(spectrum.data()), sizeof(complex4) * spectrum.size());
      ok &= fft.inverse_fft_2D_c4_to_r4(512, spectrum.data(), field.data());
      file.write(reinterpret_cast<const char*>(field.data()), sizeof(float) * field.size());
    }
    file.close();
    std::filesystem::remove_all(getenv("Q4_HOME_DIR"));
    exit(!ok);
  };
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (int k = 0; k < 3; ++k) EXPECT_EXIT(write_transforms(k), testing::ExitedWithCode(0), "");
  for (int k = 1; k < 3; ++k) EXPECT_EQ(system(("/usr/bin/cmp " + runs + "0 " + runs + std::to_string(k)).c_str()), 0);
}
