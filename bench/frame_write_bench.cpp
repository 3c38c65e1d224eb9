// Frames written by the renderer: the demo setup on a 1920x1080
// photographic still fed to every frame, 24 frames on the machine's cores,
// written as PPM, PNG, TIFF and JPEG. Run the rows in turn
// (--benchmark_repetitions=N --benchmark_enable_random_interleaving=true),
// so that each format meets the machine as the others do. And the PNG
// encoder's settings on that still beside pnmtopng's file of it, which
// chose the renderer's.
//
// Counters of a render: effect_ms, the effect's time a frame from the
// render's closing line; for PNG, same_frames (of 24, those whose pixels
// pngtopnm finds equal to the PPM run's frame) and size_ratio, the files'
// bytes over pnmtopng's for the same frames. Of a setting: size_ratio, its
// file over pnmtopng's, and the row's time is one encode.
//
// The still is made here: smooth fields of several scales under a fine
// grain, as a photograph holds them, the same on every run. TIDEWRIGHT_HOST
// and TIDEWRIGHT_PLUGIN name another renderer and plug-in to measure, such
// as an earlier build's.
#include <fcntl.h>
#include <png.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "render_summary.h"

extern char** environ;

namespace {

const int kWidth = 1920;
const int kHeight = 1080;
const int kFrames = 24;
const char* const kExtensions[] = {"ppm", "png", "tif", "jpg"};

std::string from_environment(const char* name, const char* otherwise) {
  const char* value = std::getenv(name);
  return value && *value ? value : otherwise;
}

uint32_t hash(uint32_t x, uint32_t y, uint32_t seed) {
  uint32_t h = x * 0x8da6b343u ^ y * 0xd8163841u ^ seed * 0xcb1ab31fu;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  return h ^ h >> 15;
}

// Value noise of cell `cell` pixels: 0..1, bilinear between lattice values.
double value_noise(int x, int y, int cell, uint32_t seed) {
  const int cx = x / cell, cy = y / cell;
  const double fx = static_cast<double>(x % cell) / cell, fy = static_cast<double>(y % cell) / cell;
  auto at = [&](int i, int j) { return (hash(cx + i, cy + j, seed) & 0xffff) / 65535.0; };
  const double top = at(0, 0) * (1 - fx) + at(1, 0) * fx, bottom = at(0, 1) * (1 - fx) + at(1, 1) * fx;
  return top * (1 - fy) + bottom * fy;
}

std::vector<unsigned char> photographic_still() {
  std::vector<unsigned char> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      for (int c = 0; c < 3; ++c) {
        double v = 0.0, weight = 0.5;
        for (int cell = 512; cell >= 4; cell /= 2, weight *= 0.6) v += weight * value_noise(x, y, cell, c * 7 + cell);
        const double grain = ((hash(x, y, 99 + c) & 255) + (hash(x, y, 199 + c) & 255)) / 510.0 - 0.5;
        const double lit = 40.0 + 200.0 * v * (0.6 + 0.4 * y / kHeight) + 6.0 * grain;
        rgb[(static_cast<size_t>(y) * kWidth + x) * 3 + c] =
            static_cast<unsigned char>(lit < 0 ? 0 : lit > 255 ? 255 : lit);
      }
    }
  }
  return rgb;
}

bool run_program(std::vector<std::string> words, const std::string& out = "", const std::string& err = "") {
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.empty() ? "/dev/null" : out.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.empty() ? "/dev/null" : err.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  int status = 1;
  const bool started = posix_spawn(&pid, words[0].c_str(), &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  return started && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string text_of(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string frame_file(const std::string& folder, int frame, const char* extension) {
  char name[32];
  std::snprintf(name, sizeof name, "/f.%04d.%s", frame, extension);
  return folder + name;
}

// The still, and the reference run: PPM frames and pnmtopng's files of them.
struct Scratch {
  std::string dir;
  std::vector<unsigned char> still = photographic_still();
  bool ready = false;
  Scratch() {
    std::string pattern = (std::filesystem::temp_directory_path() / "q4writebench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return;
    dir = pattern;
    std::ofstream(dir + "/still.ppm", std::ios::binary)
        << "P6\n" << kWidth << " " << kHeight << "\n255\n" << std::string(still.begin(), still.end());
    std::filesystem::create_directory(dir + "/reference");
    ready = Render("reference", "ppm", dir + "/reference.txt") &&
            run_program({"/usr/bin/pnmtopng", dir + "/still.ppm"}, dir + "/still.png");
    for (int frame = 1; ready && frame <= kFrames; ++frame)
      ready = run_program({"/usr/bin/pnmtopng", frame_file(dir + "/reference", frame, "ppm")},
                          frame_file(dir + "/reference", frame, "png"));
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  bool Render(const std::string& folder, const char* extension, const std::string& log) const {
    return run_program({from_environment("TIDEWRIGHT_HOST", TIDEWRIGHT_HOST_PROGRAM),
                        from_environment("TIDEWRIGHT_PLUGIN", TIDEWRIGHT_PLUGIN), "--input",
                        "1=" + dir + "/still.ppm", "--setup", TIDEWRIGHT_SETUPS "/demo.setup", "--frames",
                        "1-" + std::to_string(kFrames), "--output", frame_file(dir + "/" + folder, 1, extension)},
                       "", log);
  }
};

Scratch& scratch() {
  static Scratch s;
  return s;
}

double effect_ms(const std::string& log) { return render_effect_ms(text_of(log)); }

void BM_Render(benchmark::State& state) {
  Scratch& s = scratch();
  const char* extension = kExtensions[state.range(0)];
  const std::string folder = s.dir + "/" + extension, log = s.dir + "/" + extension + ".txt";
  if (!s.ready) {
    state.SkipWithError("the still or the reference frames could not be made");
    return;
  }
  for (auto _ : state) {
    std::filesystem::remove_all(folder);
    std::filesystem::create_directory(folder);
    if (!s.Render(extension, extension, log)) {
      state.SkipWithError("the render failed");
      return;
    }
  }
  state.counters["effect_ms"] = effect_ms(log);
  if (state.range(0) != 1) return;
  int same = 0;
  double bytes = 0, peer = 0;
  for (int frame = 1; frame <= kFrames; ++frame) {
    const std::string decoded = s.dir + "/decoded.ppm";
    same += run_program({"/usr/bin/pngtopnm", frame_file(folder, frame, "png")}, decoded) &&
            text_of(decoded) == text_of(frame_file(s.dir + "/reference", frame, "ppm"));
    bytes += static_cast<double>(std::filesystem::file_size(frame_file(folder, frame, "png")));
    peer += static_cast<double>(std::filesystem::file_size(frame_file(s.dir + "/reference", frame, "png")));
  }
  state.counters["same_frames"] = same;
  state.counters["size_ratio"] = bytes / peer;
}
BENCHMARK(BM_Render)->ArgName("format")->DenseRange(0, 3)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

struct Memory {
  std::vector<unsigned char> bytes;
};

void append(png_structp png, png_bytep data, size_t size) {
  Memory* memory = static_cast<Memory*>(png_get_io_ptr(png));
  memory->bytes.insert(memory->bytes.end(), data, data + size);
}

// The still through libpng at zlib level, strategy and row filters.
size_t encode(const std::vector<unsigned char>& still, int level, int strategy, int filters) {
  Memory memory;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) abort();
  png_set_write_fn(png, &memory, append, nullptr);
  png_set_compression_level(png, level);
  png_set_compression_strategy(png, strategy);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, filters);
  png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < kHeight; ++y) png_write_row(png, &still[static_cast<size_t>(y) * kWidth * 3]);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return memory.bytes.size();
}

void BM_PngSetting(benchmark::State& state) {
  Scratch& s = scratch();
  const int level = static_cast<int>(state.range(0)), strategy = static_cast<int>(state.range(1)),
            filters = static_cast<int>(state.range(2));
  size_t size = 0;
  for (auto _ : state) size = encode(s.still, level, strategy, filters);
  state.counters["size_ratio"] =
      static_cast<double>(size) / static_cast<double>(std::filesystem::file_size(s.dir + "/still.png"));
}
// Strategy 0 is zlib's default, 1 filtered, 3 run-length; filters 0xf8 are
// libpng's adaptive choice of all five, 0x10 sub, 0x20 up, 0x80 Paeth.
BENCHMARK(BM_PngSetting)
    ->ArgNames({"level", "strategy", "filters"})
    ->ArgsProduct({{1, 2, 3, 6}, {0, 1, 3}, {0xf8, 0x10, 0x20, 0x80}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
