// A small plug-in that the host program's tests load: it reports through
// the host's services what it saw and renders the negative of clip 1. It
// has a control of every record kind, two controls of one name, and one
// control ("Accumulate") that gives it memory between frames, as an effect
// has: each frame then adds the number of frames it processed before.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "spark.h"

// Same name and signature as a function of the stand-in host: if the host
// exported its own, this library's calls would reach the host's instead.
int standin_processes() { return 4242; }

namespace {
std::atomic<int> workers_run{0};
int temp_id = 0;
int processed = 0;

void count_worker(void* counter) { static_cast<std::atomic<int>*>(counter)->fetch_add(1); }
}  // namespace

extern "C" {

SparkFloat SparkFloat7 = {0.25f, 0.0f, 1.0f, 0.01f, 0, "Test: %.3f", nullptr};
// 0 refuses the frame.
SparkInt SparkInt21 = {5, 0, 100, 1, 0, "Count: %d", nullptr};
SparkBoolean SparkBoolean23 = {0, "Accumulate   ", nullptr};
SparkPup SparkPup10 = {1, 3, nullptr, {"Mode: A  ", "Mode: B  ", "Mode: C  "}};
SparkPush SparkPush6 = {"Restart   ", nullptr};
SparkBoolean SparkBoolean28 = {0, "Clear Overlay", nullptr};
SparkBoolean SparkBoolean57 = {0, "Clear Overlay", nullptr};
#define RESOLUTIONS {"FULL", "1/2", "1/3", "1/4", "1/6", "1/8", "1/12", "1/16", "1/32"}
SparkPup SparkPup33 = {0, 9, nullptr, RESOLUTIONS};
SparkPup SparkPup62 = {0, 9, nullptr, RESOLUTIONS};
SparkPup SparkPup91 = {0, 9, nullptr, RESOLUTIONS};
SparkUserFloat SparkUserFloat93 = {0.0f, -1000.0f, 1000.0f, 0.001f, 0, "Amplitude Import: %.1f", nullptr};
SparkString SparkString0 = {"1: Flow Clip", "%s", 16, nullptr};

int SparkInitialise(SparkHostInfo info) {
  sparkLoadSetup(&info);
  char text[160];
  std::snprintf(text, sizeof text, "init own=%d api=%g depth=%d value7=%g", standin_processes(),
                sparkAPIVersionInfo(), info.frame_depth,
                static_cast<double>(sparkGetCurveValuef(1, 7, 0.0f)));
  sparkMessage(text);
  processed = 0;
  return 2;
}

int SparkClips(void) { return 2; }

int SparkMemoryTempBuffers(void) { return temp_id = sparkMemRegisterBuffer(); }

int SparkProcessStart(void) { return 1; }

void* SparkProcess(SparkHostInfo info) {
  SparkMemBuf in, out;
  if (!sparkMemGetBuffer(2, &in) || !sparkMemGetBuffer(1, &out) || SparkInt21.value == 0)
    return nullptr;
  const int sample = info.frame_depth == 24 ? 1 : 2;
  const size_t bytes = static_cast<size_t>(info.frame_width) * info.frame_height * 3 * sample;
  const unsigned char* src = static_cast<const unsigned char*>(in.buffer);
  unsigned char* dst = static_cast<unsigned char*>(out.buffer);
  const int add = (SparkBoolean23.value & 0xFF) ? processed : 0;
  for (size_t i = 0; i < bytes; ++i) dst[i] = static_cast<unsigned char>(255 - src[i] + add);
  workers_run = 0;
  const int forked = sparkMpFork(reinterpret_cast<SparkMpRoutine>(&count_worker), 1,
                                 static_cast<void*>(&workers_run));
  char text[200];
  // The first host pixel is the bottom-left one of the picture.
  std::snprintf(text, sizeof text,
                "frame %u workers %d of %d value7=%g count=%d accumulate=%d mode=%d res=%d "
                "first=%d,%d,%d",
                info.frame_no, workers_run.load(), forked, static_cast<double>(SparkFloat7.value),
                SparkInt21.value, SparkBoolean23.value & 0xFF, SparkPup10.value, SparkPup33.value,
                src[0], src[1], src[2]);
  sparkMessage(text);
  ++processed;
  return out.buffer;
}

void SparkOverlay(SparkHostInfo, float zoom) {
  char text[64];
  std::snprintf(text, sizeof text, "overlay at zoom %g", static_cast<double>(zoom));
  sparkMessage(text);
}

void SparkUnInitialise(SparkHostInfo info) { sparkSaveSetup(&info); }
}
