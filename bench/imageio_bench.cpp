// ".tq4" write and read of a 2048x1556 word RGB frame beside a plain write
// and read of the same bytes with stdio (the floor), from the start of the
// file and from the ".tq4" data offset. Single-threaded: the
// image-file library keeps global state. Files go to a private temporary
// folder.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>

#include "image_data.h"
#include "imagelib_fileio.h"

namespace {

const int kWidth = 2048;
const int kHeight = 1556;

struct Scratch {
  std::string dir;
  image_data* frame;
  size_t bytes;
  Scratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "q4bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) abort();
    dir = pattern;
    frame = image_data_create(kWidth, kHeight, 3, IMAGE_PIXEL_WORD, 1);
    bytes = size_t(frame->row_bytes) * kHeight;
    uint16_t* p = static_cast<uint16_t*>(frame->pixels);
    for (size_t i = 0; i < bytes / 2; ++i) p[i] = static_cast<uint16_t>(i * 2654435761u >> 16);
  }
  ~Scratch() {
    image_data_delete(frame);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
};

Scratch& scratch() {
  static Scratch s;
  return s;
}

void BM_Tq4Write(benchmark::State& state) {
  Scratch& s = scratch();
  const std::string path = s.dir + "/frame.tq4";
  for (auto _ : state) benchmark::DoNotOptimize(image_write_file(path.c_str(), s.frame, false));
  state.SetBytesProcessed(int64_t(state.iterations()) * s.bytes);
}

// offset: where the bytes start in the file. The ".tq4" pixels start at
// 216 for three channels, and a copy to or from the page cache at an offset
// that is not a multiple of the cache line is itself slower than at 0.
void plain_write(benchmark::State& state, long offset) {
  Scratch& s = scratch();
  const std::string path = s.dir + "/frame.raw";
  for (auto _ : state) {
    FILE* file = fopen(path.c_str(), "wb");
    fseek(file, offset, SEEK_SET);
    benchmark::DoNotOptimize(fwrite(s.frame->pixels, 1, s.bytes, file));
    fclose(file);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * s.bytes);
}

void BM_PlainWrite(benchmark::State& state) { plain_write(state, 0); }
void BM_PlainWriteAtTq4DataOffset(benchmark::State& state) { plain_write(state, 216); }

void BM_Tq4Read(benchmark::State& state) {
  Scratch& s = scratch();
  const std::string path = s.dir + "/frame.tq4";
  image_write_file(path.c_str(), s.frame, false);
  image_data* into = image_data_create(kWidth, kHeight, 3, IMAGE_PIXEL_WORD, 1);
  for (auto _ : state) benchmark::DoNotOptimize(image_read_file(path.c_str(), into));
  image_data_delete(into);
  state.SetBytesProcessed(int64_t(state.iterations()) * s.bytes);
}

void plain_read(benchmark::State& state, long offset) {
  Scratch& s = scratch();
  const std::string path = s.dir + "/frame.raw";
  FILE* out = fopen(path.c_str(), "wb");
  fseek(out, offset, SEEK_SET);
  fwrite(s.frame->pixels, 1, s.bytes, out);
  fclose(out);
  image_data* into = image_data_create(kWidth, kHeight, 3, IMAGE_PIXEL_WORD, 1);
  for (auto _ : state) {
    FILE* file = fopen(path.c_str(), "rb");
    fseek(file, offset, SEEK_SET);
    benchmark::DoNotOptimize(fread(into->pixels, 1, s.bytes, file));
    fclose(file);
  }
  image_data_delete(into);
  state.SetBytesProcessed(int64_t(state.iterations()) * s.bytes);
}

void BM_PlainRead(benchmark::State& state) { plain_read(state, 0); }
void BM_PlainReadAtTq4DataOffset(benchmark::State& state) { plain_read(state, 216); }

}  // namespace

BENCHMARK(BM_Tq4Write)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainWrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainWriteAtTq4DataOffset)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Tq4Read)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlainReadAtTq4DataOffset)->Unit(benchmark::kMillisecond)->UseRealTime();
