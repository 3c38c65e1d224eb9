// Renders side by side, as a render farm node or a compositing host packs
// them: N renderer processes started at once, each rendering the demo setup
// at 960x540 for 120 frames with --procs P (0: the renderer's default, one
// worker a processor), against the same N renders with a fixed worker count.
// Each render reports the effect's time a frame; the processor time is that
// of every render, threads included, from wait4.
//
// Counters: effect_ms, the renders' mean effect time a frame, and
// effect_ms_max, the slowest render's; cpu_s, the processor time of all the
// renders together. The row's time is the wall time from the first start to
// the last end. Run the rows in turn (--benchmark_repetitions=N
// --benchmark_enable_random_interleaving=true), so that each row meets the
// machine as the others do.
//
// TIDEWRIGHT_HOST and TIDEWRIGHT_PLUGIN name another renderer and plug-in
// to measure, such as an earlier build's.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "render_summary.h"

extern char** environ;

namespace {

std::string from_environment(const char* name, const char* otherwise) {
  const char* value = std::getenv(name);
  return value && *value ? value : otherwise;
}

struct Render {
  pid_t pid = -1;
  int log = -1;  // the render's standard error
  rusage usage{};
};

// Starts one render with its standard error into a file of its own.
bool start_render(int procs, Render& render) {
  const std::string host = from_environment("TIDEWRIGHT_HOST", TIDEWRIGHT_HOST_PROGRAM);
  const std::string plugin = from_environment("TIDEWRIGHT_PLUGIN", TIDEWRIGHT_PLUGIN);
  std::vector<std::string> words = {host,    plugin,   "--size",   "960x540", "--setup",
                                    TIDEWRIGHT_SETUPS "/demo.setup", "--frames", "1-120"};
  if (procs > 0) {
    words.push_back("--procs");
    words.push_back(std::to_string(procs));
  }
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  render.log = memfd_create("render", MFD_CLOEXEC);
  if (render.log < 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, render.log, 2);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const int failed = posix_spawn(&render.pid, host.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return failed == 0;
}

// The render's effect time a frame, from its closing line; 0 when it has
// none.
double effect_ms(int log) {
  std::string text;
  char buffer[4096];
  ssize_t got;
  for (off_t at = 0; (got = pread(log, buffer, sizeof buffer, at)) > 0; at += got) text.append(buffer, got);
  return render_effect_ms(text);
}

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec); }

void BM_SideBySide(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0)), procs = static_cast<int>(state.range(1));
  for (auto _ : state) {
    std::vector<Render> renders(count);
    bool started = true;
    for (Render& render : renders) started = start_render(procs, render) && started;
    double cpu = 0.0, sum = 0.0, slowest = 0.0;
    bool reported = started;
    for (Render& render : renders) {
      int status = 0;
      if (render.pid > 0 && wait4(render.pid, &status, 0, &render.usage) == render.pid) {
        cpu += seconds(render.usage.ru_utime) + seconds(render.usage.ru_stime);
        const double ms = WIFEXITED(status) && WEXITSTATUS(status) == 0 ? effect_ms(render.log) : 0.0;
        reported = reported && ms > 0.0;
        sum += ms;
        slowest = ms > slowest ? ms : slowest;
      } else {
        reported = false;
      }
      if (render.log >= 0) close(render.log);
    }
    if (!reported) {
      state.SkipWithError("a render did not start or did not finish");
      return;
    }
    state.counters["effect_ms"] = sum / count;
    state.counters["effect_ms_max"] = slowest;
    state.counters["cpu_s"] = cpu;
  }
}
BENCHMARK(BM_SideBySide)
    ->ArgNames({"renders", "procs"})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({4, 0})
    ->Args({4, 2})
    ->Args({8, 0})
    ->Args({8, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
