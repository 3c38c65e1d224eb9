#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include <unistd.h>

#include <fftw3.h>
#include <gtest/gtest.h>

#include "fft_convolver.h"
#include "fftw_threads.h"
#include "q4_files.h"
#include "thread_band_executor.h"

namespace fs = std::filesystem;

TEST(FftConvolver, ConstructionModes) {
  FFTConvolver plain;
  EXPECT_EQ(plain.get_mode(), FFTConvolver::MODE_FFTW);
  EXPECT_EQ(plain.get_error(), 0);
  EXPECT_EQ(plain.get_edge_mode(), 2);
  EXPECT_EQ(plain.get_x_aspect(), 1.0f);
  FFTConvolver five(5), three(3), one(1);
  EXPECT_EQ(five.get_mode(), FFTConvolver::MODE_FFTW);
  EXPECT_EQ(three.get_mode(), FFTConvolver::MODE_NONE);
  EXPECT_EQ(one.get_mode(), FFTConvolver::MODE_POW2_SINGLE);
  // initialize resets the settings; mode 5 is the FFTW mode there too.
  one.set_edge_mode(1);
  one.initialize(5);
  EXPECT_EQ(one.get_mode(), FFTConvolver::MODE_FFTW);
  EXPECT_EQ(one.get_edge_mode(), 2);
}

TEST(FftConvolver, InitializeRecordsTheOnlineProcessorCount) {
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  ASSERT_GE(online, 1);
  FFTConvolver plain, three(3);
  EXPECT_EQ(plain.get_processor_count(), online);
  EXPECT_EQ(three.get_processor_count(), online);
  three.initialize(1);
  EXPECT_EQ(three.get_processor_count(), online);
}

TEST(FftConvolver, SettersStoreOrRefuse) {
  FFTConvolver fft;
  EXPECT_TRUE(fft.set_edge_mode(1));
  EXPECT_EQ(fft.get_edge_mode(), 1);
  EXPECT_TRUE(fft.set_edge_mode(2));
  for (int bad : {0, 3, -1}) {
    EXPECT_FALSE(fft.set_edge_mode(bad));
    EXPECT_EQ(fft.get_error(), FFTConvolver::FFT_ERR_EDGE_MODE);
    EXPECT_EQ(fft.get_edge_mode(), 2);
  }
  EXPECT_TRUE(fft.set_aspect_ratios(0.5f, 2.0f));
  EXPECT_EQ(fft.get_x_aspect(), 0.5f);
  EXPECT_EQ(fft.get_y_aspect(), 2.0f);
  // Not finite: refused, the old setting kept. NaN passes every clamp, and
  // like an infinite tap or a weight that overflows would zero every output.
  const float identity[] = {1.0f}, overflowing[] = {3e38f, 3e38f};
  ASSERT_TRUE(fft.set_convolve_2D_gamma_stretch(2.0f) && fft.set_convolve_2D_YC_stretch(3.0f) &&
              fft.set_filter_1D(identity, 1));
  for (float bad : {NAN, INFINITY, -INFINITY}) {
    const float taps[] = {1.0f, bad};
    EXPECT_FALSE(fft.set_convolve_2D_gamma_stretch(bad) || fft.set_convolve_2D_YC_stretch(bad) ||
                 fft.set_aspect_ratios(bad, 1.0f) || fft.set_aspect_ratios(1.0f, bad) || fft.set_filter_1D(taps, 2) ||
                 fft.set_filter_1D(overflowing, 2) || fft.set_standard_filter(4, 2.0f, bad, 0.0f))
        << bad;
  }
  EXPECT_TRUE(fft.get_convolve_2D_gamma_stretch() == 2.0f && fft.get_convolve_2D_YC_stretch() == 3.0f &&
              fft.get_x_aspect() == 0.5f && fft.get_y_aspect() == 2.0f && fft.get_filter_1D(nullptr) == 1);
}

namespace {

struct Seen {
  int calls = 0;
  void* object = nullptr;
  int first = -1, last = -1;
  std::thread::id thread;
};

Seen seen;
void record_band(void* object, int first, int last) {
  ++seen.calls;
  seen.object = object;
  seen.first = first;
  seen.last = last;
  seen.thread = std::this_thread::get_id();
}

int executor_calls = 0;
void counting_executor(void*, mp_worker_fn worker, int count, void* object) {
  ++executor_calls;
  worker(object, 0, count - 1);
}

void* abort_context_seen = nullptr;
int remember_context(void* context) {
  abort_context_seen = context;
  return 0;
}

}  // namespace

TEST(FftConvolver, DispatchNeedsBothExecutorAndContext) {
  FFTConvolver fft;
  // Without an executor the worker runs once over the whole range, here.
  std::vector<float> field(4 * 4, 1.0f);
  std::vector<complex4> spec(4 * 4);
  int context = 0;
  executor_calls = 0;
  fft.set_mp_exec(nullptr, counting_executor);
  ASSERT_TRUE(fft.forward_fft_2D_r4_to_c4(4, field.data(), spec.data()));
  EXPECT_EQ(executor_calls, 0);
  fft.set_mp_exec(&context, nullptr);
  ASSERT_TRUE(fft.forward_fft_2D_r4_to_c4(4, field.data(), spec.data()));
  EXPECT_EQ(spec[0].re, 16.0f);
  fft.set_mp_exec(&context, counting_executor);
  ASSERT_TRUE(fft.forward_fft_2D_r4_to_c4(4, field.data(), spec.data()));
  EXPECT_EQ(executor_calls, 2);

  // mp_exec itself: the worker gets the object and the inclusive range.
  FFTConvolver bare;
  seen = Seen();
  bare.mp_exec(record_band, 10);
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.object, &bare);
  EXPECT_EQ(seen.first, 0);
  EXPECT_EQ(seen.last, 9);
  EXPECT_EQ(seen.thread, std::this_thread::get_id());
  ThreadBandExecutor ex(3, /*uneven_split=*/false, /*no_empty_bands=*/true);
  bare.set_mp_exec(&ex, ThreadBandExecutor::exec);
  bare.mp_exec(record_band, 0);
  EXPECT_EQ(ex.calls, 0) << "nothing to dispatch for zero bands";
  EXPECT_EQ(seen.calls, 1);
}

TEST(FftConvolver, AbortTestGetsTheExecutorContext) {
  FFTConvolver fft;
  int exec_context = 0, other = 0;
  fft.set_abort_test(&other, remember_context);
  std::vector<float> field(4 * 4, 1.0f);
  std::vector<complex4> spec(4 * 4);
  abort_context_seen = &other;
  ASSERT_TRUE(fft.forward_fft_2D_r4_to_c4(4, field.data(), spec.data()));
  EXPECT_EQ(abort_context_seen, nullptr);
  fft.set_mp_exec(&exec_context, counting_executor);
  ASSERT_TRUE(fft.forward_fft_2D_r4_to_c4(4, field.data(), spec.data()));
  EXPECT_EQ(abort_context_seen, &exec_context);
}

TEST(FftConvolver, DestroyingOneObjectKeepsFftwAliveForOthers) {
  // Users from earlier tests in this process (the plan cache) keep FFTW up.
  const int earlier_users = fftw_threads_users();
  FFTConvolver* a = new FFTConvolver;
  FFTConvolver* b = new FFTConvolver;
  b->initialize(4);  // re-initialising must not count twice
  fftw_plan_with_nthreads(2);
  const int n = 16;
  double* in = fftw_alloc_real(n);
  fftw_complex* out = fftw_alloc_complex(n / 2 + 1);
  fftw_plan plan = fftw_plan_dft_r2c_1d(n, in, out, FFTW_ESTIMATE);
  ASSERT_NE(plan, nullptr);
  delete b;
  EXPECT_EQ(fftw_planner_nthreads(), 2) << "the planner was torn down under a live object";
  for (int i = 0; i < n; ++i) in[i] = std::cos(2 * M_PI * 3 * i / n);
  fftw_execute(plan);
  EXPECT_NEAR(out[3][0], n / 2.0, 1e-12);
  EXPECT_NEAR(out[2][0], 0.0, 1e-12);
  fftw_destroy_plan(plan);
  fftw_free(in);
  fftw_free(out);
  EXPECT_EQ(fftw_threads_users(), earlier_users + 1);
  delete a;
  EXPECT_EQ(fftw_threads_users(), earlier_users);
  // The last user cleans FFTW up: a new planner starts with one thread.
  if (earlier_users == 0) {
    EXPECT_EQ(fftw_planner_nthreads(), 1);
  }
}

TEST(FftConvolver, WisdomIsWrittenOnlyWhenAsked) {
  const fs::path settings = get_standard_directory(Q4_DIR_SETTINGS);
  ASSERT_NE(std::string(std::getenv("Q4_HOME_DIR")), "");
  ASSERT_EQ(settings.string().rfind(std::getenv("Q4_HOME_DIR"), 0), 0u) << "tests must stay in the temporary home";
  fs::create_directories(settings);
  const fs::path file = settings / "fftw3_wisdom_q4.dat";
  fs::remove(file);

  unsetenv("Q4_USE_FFTW_WISDOM");
  {
    FFTConvolver fft;
    EXPECT_FALSE(fft.read_fftw_wisdom());
    EXPECT_FALSE(fft.fftw_wisdom_loaded());
  }
  EXPECT_FALSE(fs::exists(file));

  setenv("Q4_USE_FFTW_WISDOM", "", 1);  // set, even empty, is enough
  { FFTConvolver fft; }
  unsetenv("Q4_USE_FFTW_WISDOM");
  ASSERT_TRUE(fs::exists(file));
  EXPECT_GT(fs::file_size(file), 0u);
  {
    FFTConvolver fft;
    EXPECT_TRUE(fft.read_fftw_wisdom());
    EXPECT_TRUE(fft.fftw_wisdom_loaded());
    EXPECT_TRUE(fft.write_fftw_wisdom());
  }

  // A file that is not wisdom is refused and the flag stays clear.
  {
    FILE* junk = fopen(file.c_str(), "w");
    ASSERT_NE(junk, nullptr);
    fputs("not wisdom\n", junk);
    fclose(junk);
    FFTConvolver fft;
    EXPECT_FALSE(fft.read_fftw_wisdom());
    EXPECT_FALSE(fft.fftw_wisdom_loaded());
  }
  fs::remove(file);

  // A settings folder whose name cannot be held names no file at all.
  const std::string home = std::getenv("Q4_HOME_DIR");
  setenv("Q4_HOME_DIR", ("/" + std::string(4090, 'h')).c_str(), 1);
  {
    FFTConvolver fft;
    EXPECT_FALSE(fft.read_fftw_wisdom());
    EXPECT_FALSE(fft.write_fftw_wisdom());
  }
  setenv("Q4_HOME_DIR", home.c_str(), 1);
}
