// Fork-join round trip of the project's worker pool: sparkMpFork of an empty
// routine on the stand-in host, and the same through the tests' band
// executor, on 1 and 8 workers. This is the fixed cost every banded stage
// pays per call.
#include <benchmark/benchmark.h>

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

}  // namespace
