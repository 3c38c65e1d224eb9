// Events scripts are text anyone can edit: any bytes, any lines. A script is
// either read whole, every event within the frames and its arguments within
// their bounds, or refused with a reason that names the file; the controls
// it names are either all found, each of the sort its event needs and each
// value inside its control's range, or refused with the file and line.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "render_events.h"

namespace {

void check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "events_file: %s\n", what);
  std::abort();
}

std::string temporary() {
  const char* home = std::getenv("Q4_HOME_DIR");
  std::string path = std::string(home ? home : "/tmp") + "/fuzz-events-XXXXXX";
  const int fd = mkstemp(&path[0]);
  if (fd >= 0) close(fd);
  return path;
}

bool starts_with(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

SparkFloat viscosity = {0.01f, 0.00001f, 1.0f, 0.01f, 0, "Viscosity: %.3f", nullptr};
SparkInt frames = {50, 2, 1000, 1, 0, "Frames: %d", nullptr};
SparkBoolean vortex = {0, "Use Vortex1   ", nullptr};
SparkPup mode = {1, 3, nullptr, {"Mode: None  ", "Mode: Luma  ", "Mode: Alt  "}};
SparkPush restart = {"Restart   ", nullptr};
SparkPush reset1 = {"Reset", nullptr};
SparkPush reset2 = {"Reset", nullptr};
SparkString clip = {"1: Flow Clip", "%s", 16, nullptr};
const std::vector<StandinControlEntry> controls = {
    {7, standin_float, &viscosity}, {21, standin_int, &frames},  {78, standin_boolean, &vortex},
    {10, standin_pup, &mode},       {6, standin_push, &restart}, {32, standin_push, &reset1},
    {61, standin_push, &reset2},    {0, standin_string, &clip}};

void check_arguments(const RenderEvent& e) {
  switch (e.kind) {
    case RenderEvent::press:
    case RenderEvent::drag:
    case RenderEvent::release:
    case RenderEvent::hover:
      check(std::fabs(e.x) <= 1e9 && std::fabs(e.y) <= 1e9, "pen far off");
      break;
    case RenderEvent::zoom:
      check(e.x >= 0.0 && e.x <= 64.0, "zoom out of bounds");
      break;
    case RenderEvent::pan:
      check(
          e.x == std::trunc(e.x) && e.y == std::trunc(e.y) && std::fabs(e.x) <= 1e6 && std::fabs(e.y) <= 1e6,
          "pan not whole");
      break;
    case RenderEvent::ratio:
    case RenderEvent::aspect:
      check(e.x > 0.0 && e.x <= 16.0, "ratio or aspect out of bounds");
      break;
    case RenderEvent::confirm:
    case RenderEvent::interactive:
      check(e.x == 0.0 || e.x == 1.0, "not 0 or 1");
      break;
    case RenderEvent::viewer:
    case RenderEvent::pick:
      check(!e.word.empty() || e.kind == RenderEvent::pick, "no file");
      break;
    case RenderEvent::set:
    case RenderEvent::push:
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = temporary();
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  const int first = 2, last = 40;
  std::vector<RenderEvent> events;
  std::string error;
  if (!read_events(path, first, last, events, error)) {
    check(starts_with(error, path + ":"), "refused without the file and line");
    return 0;
  }
  int line = 0;
  for (const RenderEvent& e : events) {
    check(e.line > line, "lines out of order");
    line = e.line;
    check(e.frame >= first && e.frame <= last, "frame outside the range");
    check(std::isfinite(e.x) && std::isfinite(e.y), "a number not finite");
    check_arguments(e);
  }
  std::vector<std::string> warnings;
  if (!resolve_events(controls, path, events, warnings, error)) {
    check(starts_with(error, path + ":"), "a control refused without the file and line");
    return 0;
  }
  for (const std::string& warning : warnings) check(starts_with(warning, path + ":"), "a clamp without the file and line");
  for (const RenderEvent& e : events) {
    if (e.kind == RenderEvent::push) check(e.control.kind == standin_push, "push of a value control");
    if (e.kind != RenderEvent::set) continue;
    switch (e.control.kind) {
      case standin_float:
        check(e.value >= 0.00001f && e.value <= 1.0, "float out of range");
        break;
      case standin_int:
        check(e.value >= 2 && e.value <= 1000 && e.value == std::trunc(e.value), "int out of range");
        break;
      case standin_boolean:
        check(e.value == 0.0 || e.value == 1.0, "boolean not on or off");
        break;
      case standin_pup:
        check(e.value >= 0 && e.value < 3 && e.value == std::trunc(e.value), "item out of range");
        break;
      default:
        check(false, "set of a control that holds no value");
    }
  }
  return 0;
}
