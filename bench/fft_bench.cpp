// FFT service beside FFTW's own plans in one program.
//
// Square 2-D transforms at the fluid grid sizes and above: forward (real
// field to full spectrum) and inverse (spectrum to real field), with rows
// and columns on 1 band (no executor) or 8 bands of the persistent pool;
// the peer is FFTW's single-precision 2-D r2c / c2r plan of the same field,
// one thread. The power-of-two layer: 1024 rows of a 1024-point complex
// transform, against one FFTW plan over all rows. Our plans are estimated
// (a measured plan differs from process to process); each peer is planned
// both ways, estimated and measured, to show what estimating costs.
//
// The convolution engine: a 1920 x 1080 word RGBA frame convolved with a
// 64 x 64 ellipse PSF (margin 33: a 2048 x 2048 grid) in modes 1, 2 and 4,
// serial and on 8 bands, beside FFTW's own r2c, multiply and c2r of the same
// grid per channel (double and single, the engine's flags and thread
// count); and the 1-D filtering of the frame by a 64-tap Gaussian.
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include "fft_convolver.h"
#include "fftw_threads.h"
#include "q4_sysinfo.h"
#include "thread_band_executor.h"

namespace {

std::vector<float> random_field(size_t count) {
  std::mt19937 gen(1);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::vector<float> field(count);
  for (auto& v : field) v = u(gen);
  return field;
}

struct Square {
  int n;
  ThreadBandExecutor bands;
  FFTConvolver fft;
  std::vector<float> field;
  std::vector<complex4> spec;
  Square(int size, int band_count) : n(size), bands(band_count), field(random_field(size_t(size) * size)), spec(size_t(size) * size) {
    if (band_count > 1) fft.set_mp_exec(&bands, ThreadBandExecutor::exec);
    // Plans are made on first use; time the transforms, not the planning.
    fft.forward_fft_2D_r4_to_c4(n, field.data(), spec.data());
    fft.inverse_fft_2D_c4_to_r4(n, spec.data(), std::vector<float>(field.size()).data());
  }
};

void BM_forward_fft_2D(benchmark::State& state) {
  Square f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    const bool ok = f.fft.forward_fft_2D_r4_to_c4(f.n, f.field.data(), f.spec.data());
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * f.n * f.n);
}

void BM_inverse_fft_2D(benchmark::State& state) {
  Square f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  f.fft.forward_fft_2D_r4_to_c4(f.n, f.field.data(), f.spec.data());
  const std::vector<complex4> spectrum = f.spec;
  for (auto _ : state) {
    state.PauseTiming();
    f.spec = spectrum;  // the inverse destroys its input
    state.ResumeTiming();
    const bool ok = f.fft.inverse_fft_2D_c4_to_r4(f.n, f.spec.data(), f.field.data());
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * f.n * f.n);
}

// FFTW's own 2-D real plans of an n x n field, single precision, one thread.
template <bool Forward, unsigned Flags>
void BM_fftw_real_2D(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  float* real = fftwf_alloc_real(size_t(n) * n);
  fftwf_complex* half = fftwf_alloc_complex(size_t(n) * (n / 2 + 1));
  fftwf_plan plan;
  {
    std::lock_guard<std::mutex> hold(fftw_planner_lock());
    plan = Forward ? fftwf_plan_dft_r2c_2d(n, n, real, half, Flags) : fftwf_plan_dft_c2r_2d(n, n, half, real, Flags);
  }
  // Any half spectrum will do for timing; the c2r plan destroys its input.
  const std::vector<float> values = random_field(size_t(n) * (n + 2));
  std::copy(values.begin(), values.begin() + size_t(n) * n, real);
  for (auto _ : state) {
    if (!Forward) {
      state.PauseTiming();
      std::copy(values.begin(), values.end(), &half[0][0]);
      state.ResumeTiming();
    }
    fftwf_execute(plan);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n * n);
  std::lock_guard<std::mutex> hold(fftw_planner_lock());
  fftwf_destroy_plan(plan);
  fftwf_free(real);
  fftwf_free(half);
}

const int kRows = 1024, kLength = 1024;

void BM_pow2_layer_rows(benchmark::State& state) {
  std::vector<complex4> rows(size_t(kRows) * kLength, complex4{0.5f, -0.25f});
  fftc4(rows.data(), kLength);
  for (auto _ : state) {
    for (int r = 0; r < kRows; ++r) fftc4(rows.data() + size_t(r) * kLength, kLength);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kRows * kLength);
}

template <unsigned Flags>
void BM_fftw_rows(benchmark::State& state) {
  fftwf_complex* rows = fftwf_alloc_complex(size_t(kRows) * kLength);
  fftwf_plan plan;
  {
    std::lock_guard<std::mutex> hold(fftw_planner_lock());
    int n = kLength;
    plan = fftwf_plan_many_dft(1, &n, kRows, rows, nullptr, 1, kLength, rows, nullptr, 1, kLength, FFTW_FORWARD, Flags);
  }
  for (size_t i = 0; i < size_t(kRows) * kLength; ++i) rows[i][0] = 0.5f, rows[i][1] = -0.25f;
  for (auto _ : state) {
    fftwf_execute(plan);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kRows * kLength);
  std::lock_guard<std::mutex> hold(fftw_planner_lock());
  fftwf_destroy_plan(plan);
  fftwf_free(rows);
}

const int kFrameWidth = 1920, kFrameHeight = 1080, kChannels = 4;

image_data* frame() {
  image_data* img = image_data_create(kFrameWidth, kFrameHeight, kChannels, IMAGE_PIXEL_WORD, 1);
  std::mt19937 gen(3);
  uint16_t* p = static_cast<uint16_t*>(img->pixels);
  for (size_t k = 0; k < size_t(kFrameWidth) * kFrameHeight * kChannels; ++k) p[k] = static_cast<uint16_t>(gen());
  return img;
}

struct Frames {
  image_data* in = frame();
  image_data* out = image_data_create(kFrameWidth, kFrameHeight, kChannels, IMAGE_PIXEL_WORD, 1);
  ~Frames() {
    image_data_delete(in);
    image_data_delete(out);
  }
};

void BM_convolve_2D(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0)), band_count = static_cast<int>(state.range(1));
  Frames f;
  ThreadBandExecutor bands(band_count);
  FFTConvolver fft(mode);
  if (band_count > 1) fft.set_mp_exec(&bands, ThreadBandExecutor::exec);
  if (!fft.set_standard_PSF(kFrameWidth, kFrameHeight, 1, 32, 32, 0, 0) || !fft.set_image_2D(f.in)) {
    state.SkipWithError("set-up failed");
    return;
  }
  fft.convolve_2D(f.out, 15);  // grids and plans are made on first use
  for (auto _ : state) {
    const bool ok = fft.convolve_2D(f.out, 15);
    benchmark::DoNotOptimize(ok);
  }
  state.counters["grid"] = fft.get_padded_width();
}

// FFTW's own plans of the engine's grid: per channel r2c, multiply by a
// fixed spectrum, c2r; as many threads as the engine gives FFTW.
template <bool Double>
void BM_fftw_convolve_peer(benchmark::State& state) {
  const int n = 2048;
  const size_t cells = size_t(n) * n, half = size_t(n) * (n / 2 + 1);
  const int threads = q4mp_get_raw_cpu_count();
  fftw_threads_acquire();
  if (Double) {
    double* real = fftw_alloc_real(cells);
    fftw_complex* spectrum = fftw_alloc_complex(half);
    fftw_complex* kernel = fftw_alloc_complex(half);
    fftw_plan forward, inverse;
    {
      std::lock_guard<std::mutex> hold(fftw_planner_lock());
      fftw_plan_with_nthreads(threads);
      forward = fftw_plan_dft_r2c_2d(n, n, real, spectrum, FFTW_ESTIMATE);
      inverse = fftw_plan_dft_c2r_2d(n, n, spectrum, real, FFTW_ESTIMATE);
    }
    for (size_t k = 0; k < half; ++k) kernel[k][0] = 1.0 / (k + 1), kernel[k][1] = 0.5 / (k + 1);
    memset(real, 0, sizeof(double) * cells);
    for (auto _ : state) {
      for (int c = 0; c < kChannels; ++c) {
        fftw_execute(forward);
        for (size_t k = 0; k < half; ++k) {
          const double re = spectrum[k][0] * kernel[k][0] - spectrum[k][1] * kernel[k][1];
          spectrum[k][1] = spectrum[k][0] * kernel[k][1] + spectrum[k][1] * kernel[k][0];
          spectrum[k][0] = re;
        }
        fftw_execute(inverse);
      }
      benchmark::ClobberMemory();
    }
    std::lock_guard<std::mutex> hold(fftw_planner_lock());
    fftw_destroy_plan(forward);
    fftw_destroy_plan(inverse);
    fftw_free(real);
    fftw_free(spectrum);
    fftw_free(kernel);
  } else {
    float* real = fftwf_alloc_real(cells);
    fftwf_complex* spectrum = fftwf_alloc_complex(half);
    fftwf_complex* kernel = fftwf_alloc_complex(half);
    fftwf_plan forward, inverse;
    {
      std::lock_guard<std::mutex> hold(fftw_planner_lock());
      static const int single_threads = fftwf_init_threads();
      if (single_threads) fftwf_plan_with_nthreads(threads);
      forward = fftwf_plan_dft_r2c_2d(n, n, real, spectrum, FFTW_ESTIMATE);
      inverse = fftwf_plan_dft_c2r_2d(n, n, spectrum, real, FFTW_ESTIMATE);
      // The power-of-two layer plans single precision with FFTW's default of
      // one thread; leave the planner as it was for it.
      if (single_threads) fftwf_plan_with_nthreads(1);
    }
    for (size_t k = 0; k < half; ++k) kernel[k][0] = 1.0f / (k + 1), kernel[k][1] = 0.5f / (k + 1);
    memset(real, 0, sizeof(float) * cells);
    for (auto _ : state) {
      for (int c = 0; c < kChannels; ++c) {
        fftwf_execute(forward);
        for (size_t k = 0; k < half; ++k) {
          const float re = spectrum[k][0] * kernel[k][0] - spectrum[k][1] * kernel[k][1];
          spectrum[k][1] = spectrum[k][0] * kernel[k][1] + spectrum[k][1] * kernel[k][0];
          spectrum[k][0] = re;
        }
        fftwf_execute(inverse);
      }
      benchmark::ClobberMemory();
    }
    std::lock_guard<std::mutex> hold(fftw_planner_lock());
    fftwf_destroy_plan(forward);
    fftwf_destroy_plan(inverse);
    fftwf_free(real);
    fftwf_free(spectrum);
    fftwf_free(kernel);
  }
  fftw_threads_release();
  state.counters["threads"] = threads;
}

void BM_convolve_1D(benchmark::State& state) {
  const int band_count = static_cast<int>(state.range(0));
  Frames f;
  ThreadBandExecutor bands(band_count);
  FFTConvolver fft;
  if (band_count > 1) fft.set_mp_exec(&bands, ThreadBandExecutor::exec);
  float taps[64];
  for (int i = 0; i < 64; ++i) taps[i] = std::exp(-0.5f * (i * 3.0f / 64) * (i * 3.0f / 64));
  if (!fft.set_filter_1D(taps, 64) || !fft.set_image_1D(f.in)) {
    state.SkipWithError("set-up failed");
    return;
  }
  for (auto _ : state) {
    const bool ok = fft.convolve_1D(f.out, 15, 3);
    benchmark::DoNotOptimize(ok);
  }
}

void square_sizes(benchmark::internal::Benchmark* b) {
  for (int n : {128, 256, 1024})
    for (int bands : {1, 8}) b->Args({n, bands});
  b->ArgNames({"N", "bands"})->Unit(benchmark::kMicrosecond)->UseRealTime();
}

void peer_sizes(benchmark::internal::Benchmark* b) {
  for (int n : {128, 256, 1024}) b->Args({n});
  b->ArgNames({"N"})->Unit(benchmark::kMicrosecond)->UseRealTime();
}

}  // namespace

BENCHMARK(BM_forward_fft_2D)->Apply(square_sizes);
BENCHMARK(BM_inverse_fft_2D)->Apply(square_sizes);
BENCHMARK_TEMPLATE(BM_fftw_real_2D, true, FFTW_ESTIMATE)->Apply(peer_sizes);
BENCHMARK_TEMPLATE(BM_fftw_real_2D, true, FFTW_MEASURE)->Apply(peer_sizes);
BENCHMARK_TEMPLATE(BM_fftw_real_2D, false, FFTW_ESTIMATE)->Apply(peer_sizes);
BENCHMARK_TEMPLATE(BM_fftw_real_2D, false, FFTW_MEASURE)->Apply(peer_sizes);
BENCHMARK(BM_pow2_layer_rows)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_fftw_rows, FFTW_ESTIMATE)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_TEMPLATE(BM_fftw_rows, FFTW_MEASURE)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_convolve_2D)
    ->ArgsProduct({{1, 2, 4}, {1, 8}})
    ->ArgNames({"mode", "bands"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0);
BENCHMARK_TEMPLATE(BM_fftw_convolve_peer, true)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK_TEMPLATE(BM_fftw_convolve_peer, false)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_convolve_1D)->Arg(1)->Arg(8)->ArgName("bands")->Unit(benchmark::kMillisecond)->UseRealTime();
