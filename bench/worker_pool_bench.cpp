// Fork-join round trip of the project's worker pool: sparkMpFork of an empty
// routine on the stand-in host, and the same through the tests' band
// executor, on 1 and 8 workers. This is the fixed cost every banded stage
// pays per call.
//
// Beside it, the ceiling an equal split can reach on this machine: every
// worker runs the same band of its own data, and the slowest band, against
// one band run alone, bounds the speed-up of any pass split that way.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "q4_worker_pool.h"
#include "spark.h"
#include "standin_host.h"
#include "thread_band_executor.h"

namespace {

void empty_routine() {}
void empty_band(void*, int, int) {}

void BM_SparkMpForkRoundTrip(benchmark::State& state) {
  standin_set_processes(static_cast<int>(state.range(0)));
  for (auto _ : state) sparkMpFork(reinterpret_cast<SparkMpRoutine>(&empty_routine), 0);
}
BENCHMARK(BM_SparkMpForkRoundTrip)->Arg(1)->Arg(8)->ArgName("workers")->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_BandExecutorRoundTrip(benchmark::State& state) {
  ThreadBandExecutor bands(static_cast<int>(state.range(0)));
  for (auto _ : state) ThreadBandExecutor::exec(&bands, empty_band, 1080, nullptr);
}
BENCHMARK(BM_BandExecutorRoundTrip)->Arg(1)->Arg(8)->ArgName("bands")->Unit(benchmark::kMicrosecond)->UseRealTime();

// Each worker's band, of about the same length whichever kind: a chain of
// dependent integer steps (one instruction at a time, no memory traffic);
// rows of floats of its own swept by a three-point stencil from one copy
// into the other (loads and stores at full rate, all in the core's own
// caches); or twelve independent vectors of multiply-add chains in registers
// (the floating-point units busy every cycle, no memory traffic). The
// first stays fast on a core that another busy vCPU shares; the last slows
// down there as much as anything can.
const int kBandRows = 64, kRowFloats = 512;

enum BandKind { kChain, kStencil, kArithmetic };

struct alignas(64) Band {
  std::vector<float> rows[2];
  double seconds = 0.0;
  unsigned long chain = 1;
  double sum = 0.0;
};

struct EqualBands {
  BandKind kind;
  int front = 0;
  std::vector<Band> bands;
};

void sweep_band(Band& band, int front) {
  const float* from = band.rows[front].data();
  float* to = band.rows[1 - front].data();
  for (int r = 0; r < kBandRows; ++r, from += kRowFloats, to += kRowFloats)
    for (int k = 1; k < kRowFloats - 1; ++k) to[k] = 0.25f * (from[k - 1] + from[k + 1]) + 0.5f * from[k];
}

void chain_band(Band& band) {
  unsigned long x = band.chain;
  for (int i = 0; i < kBandRows * kRowFloats / 8; ++i) x = x * 2862933555777941757UL + 3037000493UL;
  band.chain = x;
}

void arithmetic_band(Band& band) {
  const int kChains = 48;
  double a[kChains];
  for (int i = 0; i < kChains; ++i) a[i] = band.sum + i;
  for (int n = 0; n < kBandRows * kRowFloats / 32; ++n)
#pragma GCC unroll 48
    for (int i = 0; i < kChains; ++i) a[i] = a[i] * 0.999999 + 1e-7;
  for (int i = 1; i < kChains; ++i) a[0] += a[i];
  band.sum = a[0] * 1e-9;
}

void equal_band(void* context, int index, int) {
  EqualBands& job = *static_cast<EqualBands*>(context);
  Band& band = job.bands[index];
  const auto start = std::chrono::steady_clock::now();
  switch (job.kind) {
    case kChain:
      chain_band(band);
      break;
    case kStencil:
      sweep_band(band, job.front);
      break;
    case kArithmetic:
      arithmetic_band(band);
      break;
  }
  band.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_EqualBands(benchmark::State& state) {
  const int workers = static_cast<int>(state.range(1));
  EqualBands job{static_cast<BandKind>(state.range(0)), 0, std::vector<Band>(workers)};
  for (Band& band : job.bands)
    for (auto& copy : band.rows) copy.assign(kBandRows * kRowFloats, 1.0f);
  std::vector<double> slowest;
  double total = 0.0;
  for (auto _ : state) {
    q4_pool_run(workers, equal_band, &job);
    job.front = 1 - job.front;
    double worst = 0.0;
    for (const Band& band : job.bands) {
      worst = std::max(worst, band.seconds);
      total += band.seconds;
    }
    slowest.push_back(worst);
  }
  std::nth_element(slowest.begin(), slowest.begin() + slowest.size() / 2, slowest.end());
  state.counters["slowest_band_us"] = slowest[slowest.size() / 2] * 1e6;
  state.counters["mean_band_us"] = total / (static_cast<double>(slowest.size()) * workers) * 1e6;
}
BENCHMARK(BM_EqualBands)
    ->ArgNames({"kind", "workers"})
    ->ArgsProduct({{kChain, kStencil, kArithmetic}, {1, 8}})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

}  // namespace
