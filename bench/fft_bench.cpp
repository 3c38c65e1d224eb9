// FFT service beside FFTW's own plans in one program.
//
// Square 2-D transforms at the fluid grid sizes and above: forward (real
// field to full spectrum) and inverse (spectrum to real field), with rows
// and columns on 1 band (no executor) or 8 bands of the persistent pool;
// the peer is FFTW's single-precision 2-D r2c / c2r plan of the same field,
// one thread, measured plans like ours. The power-of-two layer: 1024 rows of
// a 1024-point complex transform, against one FFTW plan over all rows.
#include <random>
#include <vector>

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include "fft_convolver.h"
#include "fftw_threads.h"
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
template <bool Forward>
void BM_fftw_real_2D(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  float* real = fftwf_alloc_real(size_t(n) * n);
  fftwf_complex* half = fftwf_alloc_complex(size_t(n) * (n / 2 + 1));
  fftwf_plan plan;
  {
    std::lock_guard<std::mutex> hold(fftw_planner_lock());
    plan = Forward ? fftwf_plan_dft_r2c_2d(n, n, real, half, FFTW_MEASURE)
                   : fftwf_plan_dft_c2r_2d(n, n, half, real, FFTW_MEASURE);
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

void BM_fftw_rows(benchmark::State& state) {
  fftwf_complex* rows = fftwf_alloc_complex(size_t(kRows) * kLength);
  fftwf_plan plan;
  {
    std::lock_guard<std::mutex> hold(fftw_planner_lock());
    int n = kLength;
    plan = fftwf_plan_many_dft(1, &n, kRows, rows, nullptr, 1, kLength, rows, nullptr, 1, kLength, FFTW_FORWARD,
                               FFTW_MEASURE);
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
BENCHMARK_TEMPLATE(BM_fftw_real_2D, true)->Apply(peer_sizes);
BENCHMARK_TEMPLATE(BM_fftw_real_2D, false)->Apply(peer_sizes);
BENCHMARK(BM_pow2_layer_rows)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_fftw_rows)->Unit(benchmark::kMicrosecond)->UseRealTime();
