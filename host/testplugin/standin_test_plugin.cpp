// A minimal plug-in that the host program's tests load: it reports through
// the host's services what it saw and renders the negative of clip 1.
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

void count_worker(void* counter) { static_cast<std::atomic<int>*>(counter)->fetch_add(1); }
}  // namespace

extern "C" {

SparkFloat SparkFloat7 = {0.25f, 0.0f, 1.0f, 0.01f, 0, "Test: %.3f", nullptr};

int SparkInitialise(SparkHostInfo info) {
  char text[160];
  std::snprintf(text, sizeof text, "init own=%d api=%g depth=%d value7=%g", standin_processes(),
                sparkAPIVersionInfo(), info.frame_depth,
                static_cast<double>(sparkGetCurveValuef(1, 7, 0.0f)));
  sparkMessage(text);
  return 2;
}

int SparkClips(void) { return 1; }

int SparkMemoryTempBuffers(void) { return temp_id = sparkMemRegisterBuffer(); }

int SparkProcessStart(void) { return 1; }

void* SparkProcess(SparkHostInfo info) {
  SparkMemBuf in, out;
  if (!sparkMemGetBuffer(2, &in) || !sparkMemGetBuffer(1, &out)) return nullptr;
  const size_t bytes = static_cast<size_t>(info.frame_width) * info.frame_height * 3;
  const unsigned char* src = static_cast<const unsigned char*>(in.buffer);
  unsigned char* dst = static_cast<unsigned char*>(out.buffer);
  for (size_t i = 0; i < bytes; ++i) dst[i] = static_cast<unsigned char>(255 - src[i]);
  workers_run = 0;
  const int forked = sparkMpFork(reinterpret_cast<SparkMpRoutine>(&count_worker), 1,
                                 static_cast<void*>(&workers_run));
  char text[96];
  std::snprintf(text, sizeof text, "frame %u workers %d of %d", info.frame_no, workers_run.load(),
                forked);
  sparkMessage(text);
  return out.buffer;
}

void SparkOverlay(SparkHostInfo, float zoom) {
  char text[64];
  std::snprintf(text, sizeof text, "overlay at zoom %g", static_cast<double>(zoom));
  sparkMessage(text);
}

void SparkUnInitialise(SparkHostInfo info) { sparkSaveSetup(&info); }

}
