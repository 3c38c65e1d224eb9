// Host frame exchange of a 1920x1080 frame: 8-bit and 12-bit, into and out
// of ImageQ4, at full and half resolution, serial and on 8 host workers;
// beside OpenCV's two-call chain for the 8-bit frame (channel conversion,
// then depth conversion) and a banded copy of the image's bytes, the memory
// floor either direction is measured against.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

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

// The floor: the full-size image's bytes copied row band by row band on the
// host workers, the traffic of the larger side of either conversion.
struct CopyJob {
  const PixelQ4* from;
  PixelQ4* to;
};

void copy_rows(void* job, void* processes) {
  const CopyJob& copy = *static_cast<const CopyJob*>(job);
  long first, last;
  band_split(host_worker_index(), kHeight, arg_int(processes), first, last);
  if (first > last) return;
  const size_t row = static_cast<size_t>(kWidth);
  std::memcpy(copy.to + first * row, copy.from + first * row, (last - first + 1) * row * sizeof(PixelQ4));
}

void BM_CopyFloor(benchmark::State& state) {
  const int workers = static_cast<int>(state.range(0));
  standin_reset();
  standin_set_logging(false);
  standin_set_processes(workers);
  Frame frame(1);
  std::vector<PixelQ4> copy(static_cast<size_t>(kWidth) * kHeight);
  CopyJob job{frame.image.storage, copy.data()};
  for (auto _ : state) {
    sparkMpFork(reinterpret_cast<SparkMpRoutine>(&copy_rows), 2, static_cast<void*>(&job), int_arg(workers));
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

// OpenCV's nearest equivalent of the 8-bit exchange: RGB <-> RGBA, then
// 8 <-> 16 bits by a scale (x 128.5 in, / 128 out), on its own thread pool.
void BM_OpenCvChain8(benchmark::State& state, bool to_host) {
  cv::setNumThreads(static_cast<int>(state.range(0)));
  Frame frame(1);
  cv::Mat host(kHeight, kWidth, CV_8UC3, frame.bytes.data());
  cv::Mat image(kHeight, kWidth, CV_16UC4, frame.image.storage);
  cv::Mat rgba;
  for (auto _ : state) {
    if (to_host) {
      image.convertTo(rgba, CV_8U, 1.0 / 128);
      cv::cvtColor(rgba, host, cv::COLOR_RGBA2RGB);
    } else {
      cv::cvtColor(host, rgba, cv::COLOR_RGB2RGBA);
      rgba.convertTo(image, CV_16U, 128.5);
    }
    benchmark::DoNotOptimize(to_host ? host.data : image.data);
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
  cv::setNumThreads(-1);
}

void BM_OpenCvFromHost8(benchmark::State& state) { BM_OpenCvChain8(state, false); }
void BM_OpenCvToHost8(benchmark::State& state) { BM_OpenCvChain8(state, true); }

void thread_args(benchmark::internal::Benchmark* b) {
  b->ArgName("threads")->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

BENCHMARK(BM_FromHost)->Apply(exchange_args);
BENCHMARK(BM_ToHost)->Apply(exchange_args);
BENCHMARK(BM_CopyFloor)->Apply(thread_args);
BENCHMARK(BM_OpenCvFromHost8)->Apply(thread_args);
BENCHMARK(BM_OpenCvToHost8)->Apply(thread_args);
