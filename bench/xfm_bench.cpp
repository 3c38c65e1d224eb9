// Per-frame resampling cost of the effect: one bilinear fixed-point sample
// per output pixel of a 1920x1080 frame, and the scaling of a frame onto the
// 256x256 simulation grid.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

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

// Source positions of a swirling flow, as an advection step would ask for
// them: a few Gaussian vortices each turn the frame about their centre by up
// to about 20 degrees, so neighbouring pixels land on different fractions
// and the displacement reaches tens of pixels, taking some positions off the
// frame near its edges. Stored as x, y pairs in float (exact to 1/8192 at
// 1920, the sampler's own fraction step) to keep the extra memory traffic
// per pixel small.
std::vector<float> swirl_positions(int width, int height) {
  struct Vortex {
    double cx, cy, radius, angle;
  };
  const Vortex vortices[] = {{560, 380, 260, 0.35}, {1340, 620, 330, -0.28}, {980, 900, 200, 0.22}};
  std::vector<float> positions((size_t)width * height * 2);
  float* p = positions.data();
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++) {
      double sx = x, sy = y;
      for (const Vortex& v : vortices) {
        const double dx = x - v.cx, dy = y - v.cy;
        const double turn = v.angle * std::exp(-(dx * dx + dy * dy) / (v.radius * v.radius));
        const double c = std::cos(turn) - 1.0, s = std::sin(turn);
        sx += c * dx - s * dy;
        sy += s * dx + c * dy;
      }
      *p++ = (float)sx;
      *p++ = (float)sy;
    }
  return positions;
}

void BM_SampleImageBilinearFrame(benchmark::State& state) {
  ImageQ4* src = noise_frame(1920, 1080);
  ImageQ4* dst = new ImageQ4(1920, 1080, 1.0f, nullptr, nullptr);
  const std::vector<float> positions = swirl_positions(1920, 1080);
  ImageXfmQ4 xfm;
  xfm.sampleMode(2);
  for (auto _ : state) {
    const float* p = positions.data();
    for (int y = 0; y < 1080; y++) {
      PixelQ4* out = dst->rows[y];
      for (int x = 0; x < 1920; x++, p += 2) out[x] = xfm.sample_image(src, p[0], p[1], 1.0, 1.0);
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
