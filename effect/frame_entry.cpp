// SparkProcess: the host's frame buffers in, the effect's frame out.
#include <new>

#include "ImageQ4.h"
#include "band_split.h"
#include "control_records.h"
#include "dl_image_exchange.h"
#include "host_state.h"
#include "q4_pause.h"
#include "tidewright.h"

extern "C" {
int DLnumProc = 1;
int DLwidth = 0;
int DLheight = 0;
int DLscalesr = 1;
SparkMemBuf TempBuf;
}

namespace {

SparkMemBuf SourceBufInput;
SparkMemBuf SourceBufBackG;
SparkMemBuf SourceBufAux;
SparkMemBuf SourceBufSources;
SparkMemBuf SourceBufSinks;
SparkMemBuf SourceBufBarrier;
SparkMemBuf ResultBufOutput;

struct Clip {
  int id;
  SparkMemBuf* buffer;
  SourceQ4 TidewrightInfo::*source;
};

const Clip clips[6] = {
    {SourceIDInput, &SourceBufInput, &TidewrightInfo::Input},
    {SourceIDBackG, &SourceBufBackG, &TidewrightInfo::BackG},
    {SourceIDAux, &SourceBufAux, &TidewrightInfo::Alt},
    {SourceIDSources, &SourceBufSources, &TidewrightInfo::Sources},
    {SourceIDSinks, &SourceBufSinks, &TidewrightInfo::Sinks},
    {SourceIDBarrier, &SourceBufBarrier, &TidewrightInfo::Barrier},
};

// Every Nth pixel of every Nth row, by the resolution list of page 0; an
// item the list does not have is full resolution.
int preview_scale() {
  static const int scales[9] = {1, 2, 3, 4, 6, 8, 12, 16, 32};
  const int item = SparkPup33.value;
  return item >= 0 && item < 9 ? scales[item] : 1;
}

// A buffer the host does not give, or gives without pixels, is missing.
bool fetched(int id, SparkMemBuf& buffer) {
  return sparkMemGetBuffer(id, &buffer) != 0 && buffer.buffer != nullptr;
}

// Whether this frame reads input clip `index` (0 Input .. 5 Barrier) by the
// controls just loaded: only those are converted.
bool frame_reads(const Tidewright& effect, int index) {
  const int output = effect.c29.value;
  switch (index) {
    case 0: return true;
    case 1: return output == 2 || output == 3;  // over, or the matte against, the background
    case 2: return effect.c10.value == 3 || effect.c10.value == 5;  // the Alt buoyancy modes
    case 3: return effect.c66.value == 3;  // "Source Clip"
    case 4: return effect.c68.value == 3;  // "Sink Clip"
    default: return effect.c36.value != 0 || output == 6;  // barriers used or shown
  }
}

// The images of one call; whatever is left here when the call ends is
// freed, and the effect keeps no pointer to it.
class FrameImages {
 public:
  ~FrameImages() {
    for (const Clip& clip : clips) {
      delete (Instance.*clip.source).image;
      (Instance.*clip.source).image = nullptr;
    }
    delete Instance.Result.image;
    Instance.Result.image = nullptr;
  }

  // A new image of the preview size, the host's pixels not yet in it; null
  // when any part of it cannot be allocated.
  static ImageQ4* Make(long width, long height, void* buffer, double aspect, int scale) {
    ImageQ4* image = new (std::nothrow) ImageQ4(width, height, 1.0f, nullptr, nullptr);
    if (image && (image->width != width || image->height != height)) {
      delete image;
      return nullptr;
    }
    // Copy 0 only records the aspect and scale the band workers go by.
    if (image && deep12)
      ConvertFromDLImage12(buffer, DLwidth, DLheight, aspect, scale, image, 0);
    else if (image)
      ConvertFromDLImage8(buffer, DLwidth, DLheight, aspect, scale, image, 0);
    return image;
  }
};

// Host rows in parallel bands: the host buffer into the image, or back.
void exchange(SparkMpRoutine worker, void* buffer, ImageQ4* image) {
  sparkMpFork(worker, 5, buffer, static_cast<void*>(image), int_arg(DLnumProc), int_arg(DLheight),
              int_arg(DLwidth));
}

void* process_frame(const SparkHostInfo& info) {
  if (no_buffers) {
    sparkMessage(" Q4-Tidewright cannot run due to insufficient buffers.");
    q4_pause(5.0);
    return nullptr;
  }
  const int scale = preview_scale();
  SparkGraphInfo graph = {};
  graph.pixel_aspect = 1.0f;
  sparkGraphSetup(&graph);
  const double aspect = graph.pixel_aspect;
  DLheight = info.frame_height;
  DLwidth = info.frame_width;
  DLscalesr = scale;
  // The host's process byte may be 0 or negative: it still runs this call.
  DLnumProc = info.num_procs > 0 ? info.num_procs : 1;
  Instance.frame = static_cast<double>(info.frame_no);
  Instance.frame_next = static_cast<double>(info.frame_next);

  // A frame without pixels, or smaller than one preview pixel, leaves the
  // simulation untouched.
  const long width = preview_size(DLwidth, scale), height = preview_size(DLheight, scale);
  if (DLwidth < 1 || DLheight < 1 || width < 1 || height < 1) return nullptr;

  // All six inputs are fetched, so a withheld one refuses the frame even
  // when this frame would not read it.
  if (!fetched(TempID, TempBuf)) return nullptr;
  for (const Clip& clip : clips)
    if (!fetched(clip.id, *clip.buffer)) return nullptr;
  if (!fetched(ResultIDOutput, ResultBufOutput)) return nullptr;

  Instance.LoadControls();
  const SparkMpRoutine copy_in = reinterpret_cast<SparkMpRoutine>(
      deep12 ? &mp_copy_pixel_data_scale_deep12 : &mp_copy_pixel_data_scale);
  const SparkMpRoutine paste_out = reinterpret_cast<SparkMpRoutine>(
      deep12 ? &mp_paste_pixel_data_scale_deep12 : &mp_paste_pixel_data_scale);
  FrameImages images;
  bool made = true;
  for (int index = 0; index < 6 && made; ++index) {
    SourceQ4& source = Instance.*clips[index].source;
    source.clip = clips[index].id - 2;
    source.deep12 = deep12 ? 1 : 0;
    source.temp_id = &TempID;
    source.temp_buf = &TempBuf;
    if (!frame_reads(Instance, index)) continue;
    void* pixels = clips[index].buffer->buffer;
    source.image = FrameImages::Make(width, height, pixels, aspect, scale);
    made = source.image != nullptr;
    if (made) exchange(copy_in, pixels, source.image);
  }
  ImageQ4* result = made ? FrameImages::Make(width, height, ResultBufOutput.buffer, aspect, scale) : nullptr;
  if (!result) {
    sparkError("4-Tidewright: not enough memory for the frame images.");
    Instance.restart = 1;
    return nullptr;
  }
  // Not cleared here: ProcessFrame writes every pixel, black where its
  // output draws nothing, so no stale memory reaches the host.
  Instance.Result.image = result;

  if (DL_Sync_Ctrl == 1) {
    Instance.SyncControls();
    DL_Sync_Ctrl = 0;
  }
  Instance.ProcessFrame();
  // The simulation has let go of what it made and restarts next frame.
  if (Instance.frame_failed) {
    sparkError("4-Tidewright: not enough memory for the simulation.");
    return nullptr;
  }

  const double blend = SparkFloat27.value / 100.0;
  if (blend > 0.0) result->InBlend(static_cast<float>(blend), Instance.Input.image);
  exchange(paste_out, ResultBufOutput.buffer, result);
  return ResultBufOutput.buffer;
}

}  // namespace

extern "C" void* SparkProcess(SparkHostInfo info) {
  Instance.pen_pressure = 0.0f;
  sparkCursorBusy();
  void* output = process_frame(info);
  // The cursor comes back on every return, a refused frame's included.
  sparkViewingCursor(1);
  return output;
}
