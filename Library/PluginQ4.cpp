#include "PluginQ4.h"

#include <cstdint>

#include "ImageQ4.h"
#include "SourceQ4.h"
#include "member_bands.h"

PluginQ4::PluginQ4()
    : frame(0.0),
      frame_next(0.0),
      state_flag(1),
      frame_flag(1),
      lib_worker(nullptr),
      lib_object(nullptr),
      pen_pressure(0.0f),
      track_data(nullptr),
      track_image(nullptr) {}

PluginQ4::~PluginQ4() {}

int PluginQ4::MultiProcess(BandWorker worker, long count) { return fork_member_bands(this, worker, count); }

void PluginQ4::execute_library_mp_func(long first, long last) {
  lib_worker(lib_object, static_cast<int>(first), static_cast<int>(last));
}

int PluginQ4::AbortRender() { return 0; }

void lib_mp_exec(void* context, mp_worker_fn worker, int count, void* object) {
  PluginQ4* plugin = static_cast<PluginQ4*>(context);
  if (!plugin || !worker) return;
  // Rewriting an unchanged pair would cost every worker of a run of short
  // forks (a pressure solve) a fetch of the line from the caller's cache.
  if (plugin->lib_worker != worker) plugin->lib_worker = worker;
  if (plugin->lib_object != object) plugin->lib_object = object;
  plugin->MultiProcess(&PluginQ4::execute_library_mp_func, count);
}

int lib_abort_render(void* context) {
  return context ? static_cast<PluginQ4*>(context)->AbortRender() : 0;
}

float* PluginQ4::GetTrackData(SourceQ4* source, double at) {
  if (!source || !source->image) return nullptr;
  const int w = source->image->width, h = source->image->height;
  ImageQ4* image = new ImageQ4(w, h, 1.0f, nullptr, nullptr);
  // A fetch that fails leaves the image as made: decode zeros, not garbage.
  image->Fill(0, 0, 0, 0);
  float* data = new float[static_cast<size_t>(w) * static_cast<size_t>(h) * 2];
  source->GetValue(2.0 * at, image);
  track_data = data;
  track_image = image;
  MultiProcess(&PluginQ4::mp_ImgToTV, image->height);
  track_data = nullptr;
  track_image = nullptr;
  delete image;
  return data;
}

void PluginQ4::mp_ImgToTV(long first, long last) {
  const ImageQ4* image = track_image;
  if (first < 0) first = 0;
  if (last > image->height - 1) last = image->height - 1;
  for (long y = first; y <= last; ++y) {
    const PixelQ4* p = image->rows[y];
    float* out = track_data + static_cast<size_t>(y) * image->width * 2;
    for (int x = 0; x < image->width; ++x) {
      const int16_t u = static_cast<int16_t>(static_cast<uint16_t>((p[x].r >> 7) | (p[x].g << 1)));
      const int16_t v = static_cast<int16_t>(static_cast<uint16_t>((p[x].b >> 7) | (p[x].a << 1)));
      out[2 * x] = u * 0.00390625f;
      out[2 * x + 1] = v * 0.00390625f;
    }
  }
}
