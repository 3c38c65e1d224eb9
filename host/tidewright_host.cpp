// The stand-in host program: loads a plug-in shared library, lets the
// plug-in resolve the spark* services against this program, and drives it
// through its entry points over a few frames.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "standin_host.h"
#include "standin_viewer.h"

namespace {

struct Options {
  int width = 64;
  int height = 48;
  int depth = 24;
  int processes = 2;
  int frames = 1;
  std::string setup;
  std::string output;
  std::string viewer;
  bool log = false;
  const char* plugin = nullptr;
};

void usage() {
  std::fprintf(stderr,
               "usage: tidewright_host [--size WxH] [--depth 24|48|64] [--procs N] [--frames N]\n"
               "                       [--setup FILE] [--output PREFIX] [--viewer PREFIX] [--log]\n"
               "                       PLUGIN.so\n");
}

bool parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (!std::strcmp(arg, "--size") && has_value) {
      if (std::sscanf(argv[++i], "%dx%d", &options.width, &options.height) != 2) return false;
    } else if (!std::strcmp(arg, "--depth") && has_value) {
      options.depth = std::atoi(argv[++i]);
    } else if (!std::strcmp(arg, "--procs") && has_value) {
      options.processes = std::atoi(argv[++i]);
    } else if (!std::strcmp(arg, "--frames") && has_value) {
      options.frames = std::atoi(argv[++i]);
    } else if (!std::strcmp(arg, "--setup") && has_value) {
      options.setup = argv[++i];
    } else if (!std::strcmp(arg, "--output") && has_value) {
      options.output = argv[++i];
    } else if (!std::strcmp(arg, "--viewer") && has_value) {
      options.viewer = argv[++i];
    } else if (!std::strcmp(arg, "--log")) {
      options.log = true;
    } else if (arg[0] != '-' && !options.plugin) {
      options.plugin = arg;
    } else {
      return false;
    }
  }
  return options.plugin && options.width > 0 && options.height > 0 && options.frames >= 0;
}

// The host finds a plug-in's control records by name.
void register_controls(void* library) {
  static const struct {
    const char* prefix;
    StandinControlKind kind;
  } kinds[] = {{"SparkFloat", standin_float}, {"SparkUserFloat", standin_user_float},
               {"SparkInt", standin_int},     {"SparkBoolean", standin_boolean},
               {"SparkPup", standin_pup},     {"SparkPush", standin_push}};
  for (int number = 0; number < 256; ++number) {
    for (const auto& kind : kinds) {
      char name[32];
      std::snprintf(name, sizeof name, "%s%d", kind.prefix, number);
      if (void* record = dlsym(library, name)) standin_register_control(number, kind.kind, record);
    }
  }
}

// Binary PPM; 12-bit frames keep their 12-bit values (maxval 4095).
bool write_frame(const std::string& prefix, int frame, const void* pixels, int width, int height,
                 bool deep12) {
  char path[1024];
  std::snprintf(path, sizeof path, "%s%04d.ppm", prefix.c_str(), frame);
  FILE* file = std::fopen(path, "wb");
  if (!file) return false;
  std::fprintf(file, "P6\n%d %d\n%d\n", width, height, deep12 ? 4095 : 255);
  const size_t samples = static_cast<size_t>(width) * static_cast<size_t>(height) * 3;
  bool ok = true;
  if (deep12) {
    const uint16_t* words = static_cast<const uint16_t*>(pixels);
    for (size_t i = 0; i < samples && ok; ++i) {
      const unsigned v = words[i] >> 4;
      ok = std::fputc(static_cast<int>(v >> 8), file) != EOF &&
           std::fputc(static_cast<int>(v & 255), file) != EOF;
    }
  } else {
    ok = std::fwrite(pixels, 1, samples, file) == samples;
  }
  return std::fclose(file) == 0 && ok;
}

// What the artist would see: the output frame in the viewer with the
// plug-in's overlay drawn over it, as PNG.
bool write_viewer(const std::string& prefix, int frame, const void* pixels, int width,
                  int height, bool deep12, SparkOverlayFn overlay) {
  StandinViewer viewer;
  if (!viewer.Open(width, height)) return false;
  viewer.SetView(0, 0, 1.0f);
  viewer.DrawFrame(pixels, width, height, deep12);
  viewer.DrawOverlay(overlay, standin_info());
  char path[1024];
  std::snprintf(path, sizeof path, "%s%04d.png", prefix.c_str(), frame);
  return viewer.Write(path);
}

template <typename Fn>
Fn entry(void* library, const char* name) {
  return reinterpret_cast<Fn>(dlsym(library, name));
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  standin_reset();
  // The stand-in refuses a depth it cannot lay out.
  if (!parse(argc, argv, options) ||
      !standin_set_frame(options.width, options.height, options.depth)) {
    usage();
    return 1;
  }
  const bool deep12 = standin_deep12();
  standin_set_processes(options.processes);
  standin_set_setup_path(options.setup);

  void* library = dlopen(options.plugin, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    std::fprintf(stderr, "tidewright_host: %s\n", dlerror());
    return 1;
  }
  auto initialise = entry<SparkInitialiseFn>(library, "SparkInitialise");
  auto process = entry<SparkProcessFn>(library, "SparkProcess");
  auto clips_fn = entry<SparkCountFn>(library, "SparkClips");
  auto temp_buffers = entry<SparkCountFn>(library, "SparkMemoryTempBuffers");
  auto channel_editor = entry<SparkCountFn>(library, "SparkChannelEditor");
  auto process_start = entry<SparkCountFn>(library, "SparkProcessStart");
  auto uninitialise = entry<SparkUnInitialiseFn>(library, "SparkUnInitialise");
  auto overlay = entry<SparkOverlayFn>(library, "SparkOverlay");
  if (!initialise || !process) {
    std::fprintf(stderr, "tidewright_host: %s lacks SparkInitialise or SparkProcess\n",
                 options.plugin);
    dlclose(library);
    return 1;
  }
  register_controls(library);

  initialise(standin_info());
  int clips = clips_fn ? clips_fn() : 1;
  if (clips < 0) clips = 0;
  if (clips > standin_last_clip - 1) clips = standin_last_clip - 1;
  if (temp_buffers) temp_buffers();
  if (channel_editor) channel_editor();
  const bool start = !process_start || process_start() != 0;

  int missing = 0;
  for (int frame = 0; start && frame < options.frames; ++frame) {
    standin_set_frame_number(static_cast<unsigned>(frame));
    for (int clip = 0; clip < clips; ++clip) standin_fill_buffer(clip + 2, clip, frame);
    void* result = process(standin_info());
    const bool is_output = result && result == standin_buffer_pixels(1);
    std::printf("frame %d: %s\n", frame,
                is_output ? "rendered" : (result ? "foreign buffer" : "no output"));
    if (!is_output) {
      ++missing;
    } else if (!options.output.empty() &&
               !write_frame(options.output, frame, result, options.width, options.height,
                            deep12)) {
      std::fprintf(stderr, "tidewright_host: cannot write frame %d\n", frame);
      ++missing;
    }
    if (is_output && !options.viewer.empty() &&
        !write_viewer(options.viewer, frame, result, options.width, options.height, deep12,
                      overlay)) {
      std::fprintf(stderr, "tidewright_host: cannot write the viewer of frame %d\n", frame);
      ++missing;
    }
  }
  if (uninitialise) uninitialise(standin_info());

  if (options.log)
    for (const std::string& line : standin_log()) std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  dlclose(library);
  return missing ? 3 : 0;
}
