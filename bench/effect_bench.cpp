// Whole frames of the effect as a host renders them: SparkProcess of the
// effect's own code (the objects libtidewright.so is linked from) with the
// stand-in host's buffers and its persistent worker pool, after 10 warm-up
// frames, at 1920x1080 (128 grid) and 2048x1556 ("Finer Grid", 256), at
// the default controls, the demo setup (a vortex, a wind, swirl and rising
// shapes) and the busy setup (every force, sources, sinks, barriers,
// diffusion, dissipation, over the background), on 1 and 8 workers, each
// alone on the machine and beside another process that spins on the last
// processor, as a host's interface, playback and disk threads run beside a
// plug-in. The first clip, whose picture drives the flow, is a still of
// the renderer's built-in clip, as the renderer feeds it; the other clips
// (barriers, sink) are the stand-in host's pattern.
//
// Counters, in ms a frame: the processor time of all the process's threads
// (cpu_ms; the spinning process is another's), the step as the solver times
// it, averaged over the timed frames (step_ms, of it velocity_ms and
// scalar_ms for all scalar solves, and the pressure solve's half_sweeps a
// frame), and the other stages, each run again on the state the last frame
// left: in_ms (host buffers into frame images, every input the frame reads),
// insert_ms (pictures into fields: buoyancy, barriers), diffuse_ms,
// resample_ms (into the result and the picture kept for the next frame),
// composite_ms, sources_ms (sources and sinks) and out_ms (the result into
// the host buffer). other_ms is what the frame took beyond them all
// (controls, forces, restart bookkeeping, fork overheads).
//
// Beside them: the peer OpenCV's bilinear remap of a frame of the same size
// and channels (the resampling stage's counterpart), and the floor, one
// frame copied through the same workers.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "control_records.h"
#include "dl_image_exchange.h"
#include "fluid_flow.h"
#include "host_state.h"
#include "image_copy.h"
#include "q4_sysinfo.h"
#include "render_clips.h"
#include "standin_host.h"
#include "tidewright.h"

namespace {

struct Size {
  int width, height;
  bool finer;
};
const Size sizes[2] = {{1920, 1080, false}, {2048, 1556, true}};

// Every record with its kind, as the host finds them by name, and its
// bytes as loaded, so that every run starts from the defaults whatever the
// run before it loaded.
struct Record {
  int number;
  StandinControlKind kind;
  void* record;
  std::vector<unsigned char> loaded;
};
#define BENCH_RECORD(n, kind, record)                                                       \
  {n, kind, &record,                                                                        \
   std::vector<unsigned char>(reinterpret_cast<unsigned char*>(&record),                    \
                              reinterpret_cast<unsigned char*>(&record) + sizeof record)},
#define BENCH_RECORD_None(n)
#define BENCH_RECORD_Float(n) BENCH_RECORD(n, standin_float, SparkFloat##n)
#define BENCH_RECORD_UserFloat(n) BENCH_RECORD(n, standin_user_float, SparkUserFloat##n)
#define BENCH_RECORD_Int(n) BENCH_RECORD(n, standin_int, SparkInt##n)
#define BENCH_RECORD_Boolean(n) BENCH_RECORD(n, standin_boolean, SparkBoolean##n)
#define BENCH_RECORD_Pup(n) BENCH_RECORD(n, standin_pup, SparkPup##n)
#define BENCH_RECORD_Push(n) BENCH_RECORD(n, standin_push, SparkPush##n)
#define BENCH_RECORD_String(n) BENCH_RECORD(n, standin_string, SparkString##n)
#define BENCH_RECORD_ROW(n, record, object, member, page, def, low, high, step, flags, title, \
                         callback, form, rule)                                               \
  BENCH_RECORD_##record(n)
const std::vector<Record> records = {TIDEWRIGHT_CONTROLS(BENCH_RECORD_ROW)};

// Start-up prints its banner; the benchmark's table is the output here.
void quietly(const std::function<void()>& call) {
  std::fflush(stdout);
  const int saved = dup(1), null = open("/dev/null", O_WRONLY);
  if (saved >= 0 && null >= 0) dup2(null, 1);
  call();
  std::fflush(stdout);
  if (saved >= 0) dup2(saved, 1);
  if (saved >= 0) close(saved);
  if (null >= 0) close(null);
}

double ms_since(double start) { return (q4mp_getclock() - start) * 1000.0; }

// The processor time of every thread of the process.
double process_cpu_ms() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) * 1e-6;
}

// Mean ms of `reps` runs of `stage`.
double stage_ms(const std::function<void()>& stage, int reps = 5) {
  const double start = q4mp_getclock();
  for (int k = 0; k < reps; ++k) stage();
  return ms_since(start) / reps;
}

void fork_exchange(void (*worker)(void*, void*, void*, void*, void*), void* buffer, ImageQ4* image) {
  sparkMpFork(reinterpret_cast<SparkMpRoutine>(worker), 5, buffer, static_cast<void*>(image),
              reinterpret_cast<void*>(static_cast<intptr_t>(DLnumProc)),
              reinterpret_cast<void*>(static_cast<intptr_t>(DLheight)),
              reinterpret_cast<void*>(static_cast<intptr_t>(DLwidth)));
}

const char* const setups[3] = {"", TIDEWRIGHT_SETUPS "/demo.setup", TIDEWRIGHT_SETUPS "/busy.setup"};

// Another process spinning on the last processor for as long as this lives.
// Spawned, not forked: a fork would copy the page tables of the effect's
// frames and fields and fault on their next writes.
class Spinner {
 public:
  explicit Spinner(bool on) {
    if (!on) return;
    char sh[] = "sh", dash_c[] = "-c", loop[] = "while :; do :; done";
    char* argv[] = {sh, dash_c, loop, nullptr};
    if (posix_spawn(&pid_, "/bin/sh", nullptr, nullptr, argv, environ) != 0) {
      pid_ = -1;
      return;
    }
    const long processors = sysconf(_SC_NPROCESSORS_ONLN);
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(processors > 1 ? processors - 1 : 0, &one);
    sched_setaffinity(pid_, sizeof one, &one);
  }
  ~Spinner() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  Spinner(const Spinner&) = delete;
  Spinner& operator=(const Spinner&) = delete;
  bool running() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};

class EffectRun {
 public:
  EffectRun(const Size& size, int setup, int workers) : size_(size) {
    Instance.DropSimulation();
    DL_Sync_Ctrl = 1;
    standin_reset();
    for (const Record& r : records) {
      std::memcpy(r.record, r.loaded.data(), r.loaded.size());
      standin_register_control(r.number, r.kind, r.record);
    }
    standin_set_logging(false);
    standin_set_frame(size.width, size.height, 24);
    standin_set_processes(workers);
    standin_set_adapt_processes(true);
    standin_set_setup_paths(setups[setup], "");
    quietly([] { SparkInitialise(standin_info()); });
    if (!standin_setup_error().empty()) std::fprintf(stderr, "%s\n", standin_setup_error().c_str());
    SparkMemoryTempBuffers();
    SparkChannelEditor();
    SparkProcessStart();
    SparkBoolean18.value = size.finer ? 1 : 0;
    FrameImage still;
    draw_builtin_clip(1, size.width, size.height, still);
    frame_to_host(still, standin_buffer_pixels(2), false);
    for (int clip = 1; clip < 6; ++clip) standin_fill_buffer(clip + 2, clip, 0);
    // Inputs the frame converts: one fork each, the output one more.
    standin_set_logging(true);
    Frame();
    inputs_read_ = standin_log_count("sparkMpFork(5,") - 1;
    standin_set_logging(false);
    for (int k = 0; k < 9; ++k) Frame();
  }

  bool Frame() {
    standin_set_frame_number(frame_++);
    return SparkProcess(standin_info()) != nullptr;
  }

  // A timed frame, its step's times added to the sums.
  bool TimedFrame() {
    if (!Frame()) return false;
    double step = 0.0, velocity = 0.0, scalar = 0.0;
    int solves = 0;
    Instance.simulation->get_ats_timing_info(step, velocity, scalar, solves);
    step_s_ += step;
    velocity_s_ += velocity;
    scalar_s_ += scalar * solves;
    half_sweeps_ += Instance.simulation->get_sor_half_sweeps();
    ++timed_;
    return true;
  }

  // Each stage but the step run again on what the last frame left, timed.
  void CountStages(benchmark::State& state, double frame_ms) {
    FluidFlow& flow = *Instance.simulation;
    std::map<std::string, double> ms;
    const double per_frame = timed_ ? 1000.0 / timed_ : 0.0;
    ms["step_ms"] = step_s_ * per_frame;
    ms["velocity_ms"] = velocity_s_ * per_frame;
    ms["scalar_ms"] = scalar_s_ * per_frame;
    state.counters["half_sweeps"] = timed_ ? static_cast<double>(half_sweeps_) / timed_ : 0.0;

    const int w = size_.width, h = size_.height;
    std::unique_ptr<ImageQ4> input(new ImageQ4(w, h, 1.0f, nullptr, nullptr));
    std::unique_ptr<ImageQ4> scratch(new ImageQ4(w, h, 1.0f, nullptr, nullptr));
    ConvertFromDLImage8(standin_buffer_pixels(2), w, h, 1.0, 1, input.get(), 0);
    ConvertFromDLImage8(standin_buffer_pixels(2), w, h, 1.0, 1, scratch.get(), 0);
    std::vector<unsigned char> host(standin_frame_bytes());
    // Stages the frame does not run are not run here either.
    auto times = [](int count, const std::function<void()>& stage) { return count ? count * stage_ms(stage) : 0.0; };
    ms["in_ms"] = times(inputs_read_, [&] {
      fork_exchange(&mp_copy_pixel_data_scale, standin_buffer_pixels(2), input.get());
    });
    const int inserts = (Instance.c10.value >= 2 && Instance.c10.value <= 5) + (Instance.c36.value != 0);
    ms["insert_ms"] = times(inserts, [&] {
      flow.insert_imageQ4_LUM_as_scalar(input.get(), Instance.temperature_field, 1.0f, false, false);
    });
    ms["diffuse_ms"] = stage_ms([&] { flow.texture_diffuse_dissipate(scratch.get()); });
    // With the texture's next self, which the frame's resampling writes too.
    ms["resample_ms"] = stage_ms([&] {
      flow.resample_image_using_texture_field(Instance.texture, scratch.get(), Instance.c19.value != 0,
                                              Instance.next_texture);
    });
    ms["composite_ms"] = times(Instance.c29.value == 2, [&] {
      flow.composite_over_by_alpha(input.get(), scratch.get(), scratch.get(), Instance.c30.value != 0);
    });
    const int feeds = (Instance.c66.value == 2 || Instance.c66.value == 3) +
                      (Instance.c68.value == 2 || Instance.c68.value == 3);
    ms["sources_ms"] = times(feeds, [&] {
      flow.add_source_for_texture_method_with_motion_blur(input.get(), scratch.get(), 0.1f);
    });
    ms["out_ms"] = stage_ms([&] { fork_exchange(&mp_paste_pixel_data_scale, host.data(), scratch.get()); });

    double other = frame_ms;
    for (const auto& stage : ms) {
      state.counters[stage.first] = stage.second;
      if (stage.first != "velocity_ms" && stage.first != "scalar_ms") other -= stage.second;
    }
    state.counters["other_ms"] = other;
  }

 private:
  Size size_;
  unsigned frame_ = 0;
  int inputs_read_ = 0;
  double step_s_ = 0.0, velocity_s_ = 0.0, scalar_s_ = 0.0;
  long half_sweeps_ = 0;
  int timed_ = 0;
};

void BM_EffectFrame(benchmark::State& state) {
  const Size& size = sizes[state.range(0)];
  EffectRun run(size, static_cast<int>(state.range(1)), static_cast<int>(state.range(2)));
  Spinner spinner(state.range(3) != 0);
  if (state.range(3) != 0 && !spinner.running()) {
    state.SkipWithError("no spinning process");
    return;
  }
  double start = q4mp_getclock();
  const double cpu_start = process_cpu_ms();
  int frames = 0;
  for (auto _ : state) {
    if (!run.TimedFrame()) {
      state.SkipWithError("the effect refused a frame");
      return;
    }
    ++frames;
  }
  const double frame_ms = ms_since(start) / (frames ? frames : 1);
  state.counters["cpu_ms"] = (process_cpu_ms() - cpu_start) / (frames ? frames : 1);
  run.CountStages(state, frame_ms);
  state.counters["grid"] = size.finer ? 256 : 128;
}
BENCHMARK(BM_EffectFrame)
    ->ArgNames({"size", "setup", "workers", "beside_spinner"})
    ->ArgsProduct({{0, 1}, {0, 1, 2}, {1, 8}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The peer of the resampling stage: OpenCV's bilinear remap of four 16-bit
// channels through a gently turning map.
void BM_PeerRemap(benchmark::State& state) {
  const Size& size = sizes[state.range(0)];
  const int w = size.width, h = size.height;
  cv::setNumThreads(static_cast<int>(state.range(1)));
  cv::Mat src(h, w, CV_16UC4), dst(h, w, CV_16UC4), mx(h, w, CV_32FC1), my(h, w, CV_32FC1);
  cv::randu(src, 0, 32768);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      mx.at<float>(y, x) = static_cast<float>(x) + 3.0f * std::sin(0.01f * y);
      my.at<float>(y, x) = static_cast<float>(y) + 3.0f * std::cos(0.01f * x);
    }
  for (auto _ : state) cv::remap(src, dst, mx, my, cv::INTER_LINEAR, cv::BORDER_CONSTANT);
  cv::setNumThreads(-1);
}
BENCHMARK(BM_PeerRemap)
    ->ArgNames({"size", "workers"})
    ->ArgsProduct({{0, 1}, {1, 8}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The floor: one frame image copied through the effect's executor.
void BM_FrameCopyFloor(benchmark::State& state) {
  const Size& size = sizes[state.range(0)];
  standin_reset();
  standin_set_logging(false);
  standin_set_processes(static_cast<int>(state.range(1)));
  DLnumProc = static_cast<int>(state.range(1));
  ImageQ4 a(size.width, size.height, 1.0f, nullptr, nullptr), b(size.width, size.height, 1.0f, nullptr, nullptr);
  a.Fill(1, 2, 3, 4);
  for (auto _ : state) image_copy(&Instance, &b, &a);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size.width * size.height * sizeof(PixelQ4));
}
BENCHMARK(BM_FrameCopyFloor)
    ->ArgNames({"size", "workers"})
    ->ArgsProduct({{0, 1}, {1, 8}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
