#include "render_events.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "q4_strings.h"
#include "render_controls.h"
#include "standin_image_files.h"

namespace {

// The words of a line; false for a quote left open.
bool split_words(const std::string& line, std::vector<std::string>& words) {
  words.clear();
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '#') {
      break;
    } else if (c == '"') {
      const size_t end = line.find('"', i + 1);
      if (end == std::string::npos) return false;
      words.push_back(line.substr(i + 1, end - i - 1));
      i = end + 1;
    } else {
      const size_t end = line.find_first_of(" \t\r\"#", i);
      words.push_back(line.substr(i, end == std::string::npos ? std::string::npos : end - i));
      i = end == std::string::npos ? line.size() : end;
    }
  }
  return true;
}

bool number(const std::string& text, double low, double high, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (*end || errno || !std::isfinite(v) || v < low || v > high) return false;
  value = v;
  return true;
}

bool whole(const std::string& text, long low, long high, double& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (*end || errno || v < low || v > high) return false;
  value = static_cast<double>(v);
  return true;
}

struct Syntax {
  const char* word;
  RenderEvent::Kind kind;
  int arguments;
  const char* usage;
};

const Syntax syntaxes[] = {
    {"set", RenderEvent::set, 2, "set NAME VALUE"},
    {"push", RenderEvent::push, 1, "push NAME"},
    {"confirm", RenderEvent::confirm, 1, "confirm yes|no"},
    {"pick", RenderEvent::pick, 1, "pick FILE"},
    {"press", RenderEvent::press, 2, "press X Y"},
    {"drag", RenderEvent::drag, 2, "drag X Y"},
    {"release", RenderEvent::release, 2, "release X Y"},
    {"hover", RenderEvent::hover, 2, "hover X Y"},
    {"zoom", RenderEvent::zoom, 1, "zoom Z with Z from 0 to 64"},
    {"pan", RenderEvent::pan, 2, "pan X Y in whole pixels"},
    {"ratio", RenderEvent::ratio, 1, "ratio R with R above 0, up to 16"},
    {"aspect", RenderEvent::aspect, 1, "aspect G with G above 0, up to 16"},
    {"interactive", RenderEvent::interactive, 1, "interactive 0|1"},
    {"viewer", RenderEvent::viewer, 1, "viewer FILE"},
};

// The arguments of an event of a known kind; false when they do not fit.
bool parse_arguments(const std::vector<std::string>& words, RenderEvent& event) {
  const std::string& a = words[2];
  const std::string& b = words.size() > 3 ? words[3] : a;
  // A pen far beyond any frame is still a pen; only numbers are asked for.
  const double far = 1e9;
  switch (event.kind) {
    case RenderEvent::set:
      event.name = a;
      event.word = b;
      return true;
    case RenderEvent::push: event.name = a; return true;
    case RenderEvent::confirm:
      event.x = a == "yes" ? 1.0 : 0.0;
      return a == "yes" || a == "no";
    case RenderEvent::pick: event.word = a; return true;
    case RenderEvent::viewer: event.word = a; return image_file_known(a);
    case RenderEvent::press:
    case RenderEvent::drag:
    case RenderEvent::release:
    case RenderEvent::hover: return number(a, -far, far, event.x) && number(b, -far, far, event.y);
    case RenderEvent::zoom: return number(a, 0.0, 64.0, event.x);
    case RenderEvent::pan: return whole(a, -1000000, 1000000, event.x) && whole(b, -1000000, 1000000, event.y);
    case RenderEvent::ratio:
    case RenderEvent::aspect: return number(a, 0.0, 16.0, event.x) && event.x > 0.0;
    case RenderEvent::interactive: return whole(a, 0, 1, event.x);
  }
  return false;
}

std::string at_line(const std::string& path, int line) { return path + ":" + std::to_string(line) + ": "; }

}  // namespace

bool read_events(const std::string& path, int first, int last, std::vector<RenderEvent>& events,
                 std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "--events " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string text;
  std::vector<std::string> words;
  for (int line = 1; std::getline(in, text); ++line) {
    const std::string at = at_line(path, line);
    if (!split_words(text, words)) {
      error = at + "a quote is left open";
      return false;
    }
    if (words.empty()) continue;
    RenderEvent event;
    event.line = line;
    event.text = text;
    if (!whole(words[0], 0, 2147483647, event.x)) {
      error = at + "expected FRAME EVENT ARGS, with FRAME a frame number: " + printable_bytes(text);
      return false;
    }
    event.frame = static_cast<int>(event.x);
    event.x = 0.0;
    if (event.frame < first || event.frame > last) {
      error = at + "frame " + printable_bytes(words[0]) + " lies outside the frames rendered, " + std::to_string(first) +
              "-" + std::to_string(last);
      return false;
    }
    if (words.size() < 2) {
      error = at + "no event after the frame number";
      return false;
    }
    const Syntax* syntax = nullptr;
    for (const Syntax& known : syntaxes)
      if (words[1] == known.word) syntax = &known;
    if (!syntax) {
      error = at + "unknown event " + printable_bytes(words[1]) +
              " (set, push, confirm, pick, press, drag, release, hover, zoom, pan, ratio, aspect, "
              "interactive, viewer)";
      return false;
    }
    event.kind = syntax->kind;
    if (static_cast<int>(words.size()) != 2 + syntax->arguments || !parse_arguments(words, event)) {
      error = at + "expected FRAME " + syntax->usage + ": " + printable_bytes(text);
      return false;
    }
    events.push_back(event);
  }
  // A folder opens as a file would and fails its first read; it is no
  // empty list of events.
  if (in.bad()) {
    error = "--events " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool resolve_events(const std::vector<StandinControlEntry>& controls, const std::string& path,
                    std::vector<RenderEvent>& events, std::vector<std::string>& warnings,
                    std::string& error) {
  for (RenderEvent& event : events) {
    if (event.kind != RenderEvent::set && event.kind != RenderEvent::push) continue;
    const bool button = event.kind == RenderEvent::push;
    std::string warning;
    if (!find_control(controls, event.name, event.control, error, button) ||
        (!button && !parse_control_value(event.control, event.word, event.value, error, warning))) {
      error = at_line(path, event.line) + error;
      return false;
    }
    if (!warning.empty()) warnings.push_back(at_line(path, event.line) + warning);
  }
  return true;
}
