// Per-frame resampling cost of the effect: one bilinear fixed-point sample
// per output pixel of a 1920x1080 frame, and the scaling of a frame onto the
// 256x256 simulation grid.
#include <benchmark/benchmark.h>

#include <random>

#include "ImageQ4.h"
#include "ImageXfmQ4.h"

namespace {

ImageQ4* noise_frame(int width, int height) {
  ImageQ4* img = new ImageQ4(width, height, 1.0f, nullptr, nullptr);
  std::mt19937 rng(1);
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) {
      const unsigned v = rng();
      img->rows[y][x] = PixelQ4{(unsigned short)(v & 32767), (unsigned short)((v >> 15) & 32767),
                                (unsigned short)((v >> 7) & 32767), 32767};
    }
  return img;
}

void BM_SampleImageBilinearFrame(benchmark::State& state) {
  ImageQ4* src = noise_frame(1920, 1080);
  ImageQ4* dst = new ImageQ4(1920, 1080, 1.0f, nullptr, nullptr);
  ImageXfmQ4 xfm;
  xfm.sampleMode(2);
  for (auto _ : state) {
    // A gentle flow: every position off the pixel grid, a few outside.
    for (int y = 0; y < 1080; y++) {
      PixelQ4* out = dst->rows[y];
      for (int x = 0; x < 1920; x++) out[x] = xfm.sample_image(src, x - 0.37, y + 0.61, 1.0, 1.0);
    }
    benchmark::DoNotOptimize(dst->rows[540][960]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 1920LL * 1080LL);
  delete dst;
  delete src;
}
BENCHMARK(BM_SampleImageBilinearFrame)->Unit(benchmark::kMillisecond);

void BM_ScaleFrameToGrid(benchmark::State& state) {
  ImageQ4* src = noise_frame(1920, 1080);
  ImageQ4* dst = new ImageQ4(256, 256, 1.0f, nullptr, nullptr);
  ImageXfmQ4 xfm;
  xfm.sampleMode(2);
  for (auto _ : state) {
    benchmark::DoNotOptimize(xfm.scale_image(src, dst));
    benchmark::ClobberMemory();
  }
  delete dst;
  delete src;
}
BENCHMARK(BM_ScaleFrameToGrid)->Unit(benchmark::kMillisecond);

}  // namespace
