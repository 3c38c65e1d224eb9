// image_scale of a 1920x1080 word RGBA frame to a 128x128 grid and back,
// on the calling thread and through an 8-band executor.
#include <cstdint>

#include <benchmark/benchmark.h>

#include "image_data.h"
#include "image_scale.h"
#include "imagelib_kernel.h"
#include "thread_band_executor.h"

namespace {

image_data* frame_image() {
  image_data* img = image_data_create(1920, 1080, 4, IMAGE_PIXEL_WORD, 1);
  uint16_t* p = static_cast<uint16_t*>(img->pixels);
  for (int i = 0; i < 1920 * 1080 * 4; ++i) p[i] = static_cast<uint16_t>(i * 2654435761u >> 16);
  return img;
}

void run(benchmark::State& state, bool down, bool banded) {
  image_data* frame = frame_image();
  image_data* grid = image_data_create(128, 128, 4, IMAGE_PIXEL_WORD, 1);
  image_scale(frame, grid, IMAGELIB_KERNEL_LINEAR, false);
  ThreadBandExecutor eight_bands(8);
  imagelib_set_mp_exec(banded ? &eight_bands : nullptr, banded ? ThreadBandExecutor::exec : nullptr);
  for (auto _ : state) {
    const bool ok = down ? image_scale(frame, grid, IMAGELIB_KERNEL_LINEAR, false)
                         : image_scale(grid, frame, IMAGELIB_KERNEL_LINEAR, false);
    benchmark::DoNotOptimize(ok);
  }
  imagelib_set_mp_exec(nullptr, nullptr);
  image_data_delete(grid);
  image_data_delete(frame);
}

void BM_ScaleFrameToGrid_Serial(benchmark::State& state) { run(state, true, false); }
void BM_ScaleFrameToGrid_8Bands(benchmark::State& state) { run(state, true, true); }
void BM_ScaleGridToFrame_Serial(benchmark::State& state) { run(state, false, false); }
void BM_ScaleGridToFrame_8Bands(benchmark::State& state) { run(state, false, true); }

}  // namespace

BENCHMARK(BM_ScaleFrameToGrid_Serial)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScaleFrameToGrid_8Bands)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ScaleGridToFrame_Serial)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScaleGridToFrame_8Bands)->Unit(benchmark::kMillisecond)->UseRealTime();
