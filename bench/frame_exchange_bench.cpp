// Host frame exchange of a 1920x1080 frame: 8-bit and 12-bit, into and out
// of ImageQ4, at full and half resolution, serial and on 8 host workers.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "ImageQ4.h"
#include "band_split.h"
#include "dl_image_exchange.h"
#include "standin_host.h"

namespace {

const int kWidth = 1920, kHeight = 1080;

struct Frame {
  explicit Frame(int N)
      : bytes(static_cast<size_t>(kWidth) * kHeight * 3),
        words(static_cast<size_t>(kWidth) * kHeight * 3),
        image(preview_size(kWidth, N), preview_size(kHeight, N), 1.0f, nullptr, nullptr) {
    for (size_t i = 0; i < bytes.size(); ++i) {
      bytes[i] = static_cast<uint8_t>(i * 7);
      words[i] = static_cast<uint16_t>(i * 2711);
    }
    image.scale = static_cast<float>(N);
    image.Fill(1000, 2000, 3000, 32767);
  }
  std::vector<uint8_t> bytes;
  std::vector<uint16_t> words;
  ImageQ4 image;
};

void* host_buffer(Frame& frame, bool deep12) {
  return deep12 ? static_cast<void*>(frame.words.data()) : static_cast<void*>(frame.bytes.data());
}

// range(0): N; range(1): 12-bit; range(2): workers (0 = serial conversion).
// Into ImageQ4 counts image pixels, out to the host counts host pixels.
void run_exchange(benchmark::State& state, bool to_host) {
  const int N = static_cast<int>(state.range(0));
  const bool deep12 = state.range(1) != 0;
  const int workers = static_cast<int>(state.range(2));
  standin_reset();
  standin_set_logging(false);
  standin_set_processes(workers > 0 ? workers : 1);
  Frame frame(N);
  void* buffer = host_buffer(frame, deep12);
  const SparkMpRoutine routine =
      to_host ? (deep12 ? reinterpret_cast<SparkMpRoutine>(&mp_paste_pixel_data_scale_deep12)
                        : reinterpret_cast<SparkMpRoutine>(&mp_paste_pixel_data_scale))
              : (deep12 ? reinterpret_cast<SparkMpRoutine>(&mp_copy_pixel_data_scale_deep12)
                        : reinterpret_cast<SparkMpRoutine>(&mp_copy_pixel_data_scale));
  for (auto _ : state) {
    if (workers > 0) {
      sparkMpFork(routine, 5, buffer, static_cast<void*>(&frame.image), int_arg(workers),
                  int_arg(kHeight), int_arg(kWidth));
    } else if (to_host) {
      if (deep12)
        ConvertToDLImage12(&frame.image, buffer, kWidth, kHeight, N, 0);
      else
        ConvertToDLImage8(&frame.image, buffer, kWidth, kHeight, N);
    } else {
      if (deep12)
        ConvertFromDLImage12(buffer, kWidth, kHeight, 1.0, N, &frame.image, 1);
      else
        ConvertFromDLImage8(buffer, kWidth, kHeight, 1.0, N, &frame.image, 1);
    }
    benchmark::DoNotOptimize(to_host ? buffer : static_cast<void*>(frame.image.storage));
  }
  const int64_t pixels = to_host ? static_cast<int64_t>(kWidth) * kHeight
                                 : static_cast<int64_t>(frame.image.width) * frame.image.height;
  state.SetItemsProcessed(state.iterations() * pixels);
}

void BM_FromHost(benchmark::State& state) { run_exchange(state, false); }
void BM_ToHost(benchmark::State& state) { run_exchange(state, true); }

void exchange_args(benchmark::internal::Benchmark* b) {
  b->ArgNames({"N", "deep12", "workers"});
  for (int N : {1, 2})
    for (int deep12 : {0, 1})
      for (int workers : {0, 8}) b->Args({N, deep12, workers});
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

BENCHMARK(BM_FromHost)->Apply(exchange_args);
BENCHMARK(BM_ToHost)->Apply(exchange_args);
