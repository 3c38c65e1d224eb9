// One Kolmogorov keyframe at the lattice size the fluid fields use (n = 32,
// a 64³ lattice): coefficient draws, nine FFT passes and the statistics.
#include <benchmark/benchmark.h>

#include "krvf.h"

static void BM_KRVF_key_build(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  int seed = 1;
  for (auto _ : state) {
    KRVF key;
    const bool built = key.set_parameters(seed++, n, 4.0, 1.0);
    benchmark::DoNotOptimize(built);
    benchmark::DoNotOptimize(key.magnitude_mean);
  }
}
BENCHMARK(BM_KRVF_key_build)->Arg(32)->Unit(benchmark::kMillisecond);
