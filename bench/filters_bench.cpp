// Frame-image blurs of a 1920x1080 15-bit RGBA frame, both directions with
// alpha from a given source, at sigma 2, 10 and 50: Young-van Vliet, Deriche,
// box passes and the exact Gaussian, serial and on 8 host workers, beside a
// banded frame copy on the same workers as the floor (one read and one write
// of the frame). The box passes at radius 4.8 stand for the fluid layer's
// per-frame texture diffusion.
#include <benchmark/benchmark.h>

#include <cmath>

#include "ImageQ4.h"
#include "effect_services.h"
#include "frame_copy_bands.h"
#include "standin_host.h"

namespace {

const int kWidth = 1920, kHeight = 1080;

enum Filter { kYoungVanVliet, kDeriche, kBoxPasses, kExact, kBoxTexture };

struct Frames {
  Frames()
      : source(kWidth, kHeight, 1.0f, nullptr, nullptr), target(kWidth, kHeight, 1.0f, nullptr, nullptr) {
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const unsigned v = static_cast<unsigned>(x * 7919 + y * 104729);
        source.rows[y][x] =
            PixelQ4{static_cast<unsigned short>(v % 32768), static_cast<unsigned short>((v >> 3) % 32768),
                    static_cast<unsigned short>((v >> 7) % 32768), 32767};
      }
    target.CopyValues(&source, 1.0f, 1.0f, 1.0f, 1.0f);
  }
  ImageQ4 source;
  ImageQ4 target;
};

void use_workers(int workers) {
  standin_reset();
  standin_set_logging(false);
  standin_set_processes(workers);
  DLnumProc = workers;
}

// The sigma each filter is asked for expressed in its own parameter.
void run_filter(Frames& frames, Filter filter, double sigma) {
  ImageQ4& out = frames.target;
  switch (filter) {
    case kYoungVanVliet:
      out.Fast_GaussianBlur(static_cast<float>(4.0 * (sigma - 0.05)), &frames.source, 2, 1);
      break;
    case kDeriche:
      out.Deriche_GaussianBlur(static_cast<float>(sigma), &frames.source, 2, 1);
      break;
    case kBoxPasses:  // three passes at r with r (r + 1) = sigma^2
      out.Box_GaussianBlur(static_cast<float>((std::sqrt(1.0 + 4.0 * sigma * sigma) - 1.0) / 2.0),
                           &frames.source, 2, 1);
      break;
    case kExact:
      out.Exact_GaussianBlur(static_cast<float>(3.0 * sigma), 1, &frames.source, 2, 1);
      break;
    case kBoxTexture:
      out.Box_GaussianBlur(4.8f, nullptr, 2, 1);
      break;
  }
}

// range(0): filter; range(1): sigma; range(2): host workers.
void BM_Blur(benchmark::State& state) {
  const Filter filter = static_cast<Filter>(state.range(0));
  use_workers(static_cast<int>(state.range(2)));
  static Frames* frames = new Frames;
  for (auto _ : state) {
    run_filter(*frames, filter, static_cast<double>(state.range(1)));
    benchmark::DoNotOptimize(frames->target.storage);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kWidth) * kHeight);
}

// The floor: the frame copied row band by row band on the same workers.
void BM_FrameCopy(benchmark::State& state) {
  use_workers(static_cast<int>(state.range(0)));
  static Frames* frames = new Frames;
  for (auto _ : state) {
    copy_frame_in_bands(&frames->target, &frames->source);
    benchmark::DoNotOptimize(frames->target.storage);
  }
  state.SetBytesProcessed(state.iterations() * 2 * static_cast<int64_t>(kWidth) * kHeight * sizeof(PixelQ4));
}

void blur_args(benchmark::internal::Benchmark* b) {
  b->ArgNames({"filter", "sigma", "workers"});
  for (int filter : {kYoungVanVliet, kDeriche, kBoxPasses, kExact})
    for (int sigma : {2, 10, 50})
      for (int workers : {1, 8}) b->Args({filter, sigma, workers});
  for (int workers : {1, 8}) b->Args({kBoxTexture, 0, workers});
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

BENCHMARK(BM_Blur)->Apply(blur_args);
BENCHMARK(BM_FrameCopy)->ArgName("workers")->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();
