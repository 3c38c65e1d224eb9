// Banded square 2-D FFTs of the FFT service at the fluid grid sizes and
// above: forward (real field to spectrum) and inverse (spectrum to field),
// with the rows and columns split over 1 band (no executor) or several
// bands on threads.
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "fft_convolver.h"
#include "thread_band_executor.h"

namespace {

struct Fixture {
  int n;
  ThreadBandExecutor bands;
  FFTConvolver fft;
  std::vector<float> field;
  std::vector<complex4> spec;
  Fixture(int size, int band_count) : n(size), bands(band_count), field(size * size), spec(size * size) {
    std::mt19937 gen(1);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (auto& v : field) v = u(gen);
    if (band_count > 1) fft.set_mp_exec(&bands, ThreadBandExecutor::exec);
  }
};

void BM_forward_fft_2D(benchmark::State& state) {
  Fixture f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    const bool ok = f.fft.forward_fft_2D_r4_to_c4(f.n, f.field.data(), f.spec.data());
    benchmark::DoNotOptimize(ok);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * f.n * f.n);
}

void BM_inverse_fft_2D(benchmark::State& state) {
  Fixture f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
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

void sizes(benchmark::internal::Benchmark* b) {
  for (int n : {128, 256, 1024})
    for (int bands : {1, 4}) b->Args({n, bands});
  b->ArgNames({"N", "bands"})->Unit(benchmark::kMicrosecond)->UseRealTime();
}

}  // namespace

BENCHMARK(BM_forward_fft_2D)->Apply(sizes);
BENCHMARK(BM_inverse_fft_2D)->Apply(sizes);
