// Per-frame resampling cost of the effect: one bilinear fixed-point sample
// per output pixel of a 1920x1080 frame, and the scaling of a frame onto the
// 128x128 and 256x256 simulation grids (and of the 128x128 grid back onto
// the frame), serial and in 8 bands of the persistent pool; beside OpenCV's
// resize on 1 and 8 threads and a banded copy of the frame as the floor.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "ImageQ4.h"
#include "ImageXfmQ4.h"
#include "thread_band_executor.h"

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

// range(0): grid size; range(1): 1 scales the grid onto the frame;
// range(2): bands (0 = no executor).
void BM_ScaleImage(benchmark::State& state) {
  const int grid_size = static_cast<int>(state.range(0));
  const bool up = state.range(1) != 0;
  const int bands = static_cast<int>(state.range(2));
  ImageQ4* frame = noise_frame(1920, 1080);
  ImageQ4* grid = noise_frame(grid_size, grid_size);
  ImageXfmQ4 xfm;
  xfm.sampleMode(2);
  ThreadBandExecutor executor(bands);
  if (bands > 0) xfm.set_mp_exec(&executor, ThreadBandExecutor::exec);
  for (auto _ : state) {
    benchmark::DoNotOptimize(up ? xfm.scale_image(grid, frame) : xfm.scale_image(frame, grid));
    benchmark::ClobberMemory();
  }
  delete grid;
  delete frame;
}
BENCHMARK(BM_ScaleImage)
    ->ArgNames({"grid", "up", "bands"})
    ->Args({128, 0, 0})
    ->Args({128, 0, 8})
    ->Args({256, 0, 0})
    ->Args({256, 0, 8})
    ->Args({128, 1, 0})
    ->Args({128, 1, 8})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

cv::Mat as_mat(ImageQ4* img) { return cv::Mat(img->height, img->width, CV_16UC4, img->storage); }

// range(0): 1 grid to frame (bilinear), else frame to grid by area average
// (the peer's reducing filter); range(1): threads of OpenCV's pool.
void BM_OpenCvResize(benchmark::State& state) {
  const bool up = state.range(0) != 0;
  cv::setNumThreads(static_cast<int>(state.range(1)));
  ImageQ4* frame = noise_frame(1920, 1080);
  ImageQ4* grid = noise_frame(128, 128);
  cv::Mat frame_mat = as_mat(frame), grid_mat = as_mat(grid);
  for (auto _ : state) {
    if (up)
      cv::resize(grid_mat, frame_mat, frame_mat.size(), 0, 0, cv::INTER_LINEAR);
    else
      cv::resize(frame_mat, grid_mat, grid_mat.size(), 0, 0, cv::INTER_AREA);
    benchmark::ClobberMemory();
  }
  cv::setNumThreads(-1);
  delete grid;
  delete frame;
}
BENCHMARK(BM_OpenCvResize)
    ->ArgNames({"up", "threads"})
    ->Args({0, 1})
    ->Args({0, 8})
    ->Args({1, 1})
    ->Args({1, 8})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

struct FrameCopy {
  ImageQ4* from;
  ImageQ4* to;
};

void copy_band(void* object, int first, int last) {
  const FrameCopy& copy = *static_cast<const FrameCopy*>(object);
  const size_t bytes = (size_t)(last - first + 1) * copy.from->width * sizeof(PixelQ4);
  std::memcpy(copy.to->rows[first], copy.from->rows[first], bytes);
}

// range(0): bands.
void BM_FrameCopyFloor(benchmark::State& state) {
  ImageQ4* frame = noise_frame(1920, 1080);
  ImageQ4* out = new ImageQ4(1920, 1080, 1.0f, nullptr, nullptr);
  FrameCopy copy{frame, out};
  ThreadBandExecutor executor(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    ThreadBandExecutor::exec(&executor, copy_band, 1080, &copy);
    benchmark::ClobberMemory();
  }
  delete out;
  delete frame;
}
BENCHMARK(BM_FrameCopyFloor)->ArgName("bands")->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
