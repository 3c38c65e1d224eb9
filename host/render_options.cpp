#include "render_options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "render_clips.h"
#include "standin_image_files.h"

namespace {

bool whole_number(const std::string& text, long low, long high, int& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno || *end || v < low || v > high) return false;
  value = static_cast<int>(v);
  return true;
}

// A frame file name: a known image format; numbered unless it is a still.
bool frame_file_name(const std::string& name, bool numbered, std::string& error,
                     const char* option) {
  Sequence sequence;
  if (!image_file_known(name) || !parse_sequence(name, sequence)) {
    error = std::string(option) + ": " + name + " is not the name of an image file of a known format";
    return false;
  }
  if (numbered && sequence.digits < 1) {
    error = std::string(option) + ": " + name +
            " has no frame number before its extension (as in shot.0001.png), so it cannot "
            "hold a range of frames";
    return false;
  }
  return true;
}

bool split(const std::string& text, char separator, std::string& left, std::string& right) {
  const size_t at = text.find(separator);
  if (at == std::string::npos || at == 0) return false;
  left = text.substr(0, at);
  right = text.substr(at + 1);
  return true;
}

// An option's value on its way into the options: its rule stores it, or
// refuses it with what was expected.
struct Given {
  const char* option;
  const std::string value;
  RenderOptions& options;
  std::string& error;

  bool refuse(const char* expected) {
    error = std::string(option) + " " + value + ": expected " + expected;
    return false;
  }
};

typedef bool (*Rule)(Given& given);

template <bool RenderOptions::*Flag>
bool flag(Given& g) {
  g.options.*Flag = true;
  return true;
}

// A value kept as given: file names are checked once the whole line is read
// or when they are opened, a resolution against the plug-in's own list.
template <std::string RenderOptions::*Text>
bool text(Given& g) {
  g.options.*Text = g.value;
  return true;
}

bool input(Given& g) {
  std::string left, right;
  int clip = 0;
  if (!split(g.value, '=', left, right) || !whole_number(left, 1, 6, clip))
    return g.refuse("K=SEQ with K from 1 to 6");
  for (const RenderOptions::Input& earlier : g.options.inputs) {
    if (earlier.clip == clip) {
      g.error = std::string(g.option) + ": clip " + left + " given twice";
      return false;
    }
  }
  if (right != "builtin" && !frame_file_name(right, false, g.error, g.option)) return false;
  g.options.inputs.push_back({clip, right});
  return true;
}

// The last frame leaves room to count one past it.
bool frames(Given& g) {
  RenderOptions& o = g.options;
  std::string left, right;
  const bool ok = split(g.value, '-', left, right)
                      ? whole_number(left, 0, INT_MAX - 1, o.first) &&
                            whole_number(right, o.first, INT_MAX - 1, o.last)
                      : whole_number(g.value, 0, INT_MAX - 1, o.first) &&
                            whole_number(g.value, 0, INT_MAX - 1, o.last);
  return ok || g.refuse("A-B with 0 <= A <= B");
}

bool preroll(Given& g) {
  return whole_number(g.value, 0, INT_MAX, g.options.preroll) || g.refuse("a frame number");
}

bool set(Given& g) {
  std::string left, right;
  if (!split(g.value, '=', left, right)) return g.refuse("NAME=VALUE");
  g.options.sets.push_back({left, 0, right});
  return true;
}

// The frame follows the last @, so that a name may hold one.
bool key(Given& g) {
  const size_t sign = g.value.find('=');
  const std::string target = sign == std::string::npos ? "" : g.value.substr(0, sign);
  const size_t mark = target.rfind('@');
  int at = 0;
  if (sign == std::string::npos || mark == std::string::npos || mark == 0 ||
      !whole_number(target.substr(mark + 1), INT_MIN, INT_MAX, at))
    return g.refuse("NAME@FRAME=VALUE");
  g.options.keys.push_back({target.substr(0, mark), at, g.value.substr(sign + 1)});
  return true;
}

bool depth(Given& g) {
  if (g.value != "24" && g.value != "48" && g.value != "64") return g.refuse("24, 48 or 64");
  g.options.depth = std::atoi(g.value.c_str());
  return true;
}

bool size(Given& g) {
  std::string left, right;
  return (split(g.value, 'x', left, right) && whole_number(left, 1, 65536, g.options.width) &&
          whole_number(right, 1, 65536, g.options.height)) ||
         g.refuse("WxH, each 1 to 65536");
}

bool procs(Given& g) {
  return whole_number(g.value, 1, 1024, g.options.processes) || g.refuse("1 to 1024");
}

struct Option {
  const char* name;
  bool takes_value;  // a flag takes none
  Rule rule;
};

// Every option, help first, then in the order of the usage text.
const Option kOptions[] = {
    {"--help", false, flag<&RenderOptions::help>},
    {"-h", false, flag<&RenderOptions::help>},
    {"--input", true, input},
    {"--output", true, text<&RenderOptions::output>},
    {"--viewer", true, text<&RenderOptions::viewer>},
    {"--frames", true, frames},
    {"--preroll", true, preroll},
    {"--set", true, set},
    {"--key", true, key},
    {"--res", true, text<&RenderOptions::resolution>},
    {"--depth", true, depth},
    {"--size", true, size},
    {"--procs", true, procs},
    {"--setup", true, text<&RenderOptions::setup>},
    {"--save-setup", true, text<&RenderOptions::save_setup>},
    {"--list-controls", false, flag<&RenderOptions::list_controls>},
    {"--log", true, text<&RenderOptions::log>},
    {"--events", true, text<&RenderOptions::events>},
    {"--panel", false, flag<&RenderOptions::panel>},
};

const Option* find_option(const std::string& name) {
  for (const Option& option : kOptions)
    if (name == option.name) return &option;
  return nullptr;
}

// What only the whole command line shows: a range of frames needs numbered
// files, and the preroll starts no later than the first frame.
bool options_agree(const RenderOptions& options, std::string& error) {
  const bool range = options.last > options.first;
  if (!options.output.empty() && !frame_file_name(options.output, range, error, "--output"))
    return false;
  if (!options.viewer.empty() && !frame_file_name(options.viewer, range, error, "--viewer"))
    return false;
  if (options.preroll > options.first) {
    error = "--preroll " + std::to_string(options.preroll) + " lies after the first frame " +
            std::to_string(options.first);
    return false;
  }
  return true;
}

}  // namespace

const char* render_usage() {
  return "usage: tidewright_host [options] [PLUGIN.so]\n"
         "  --input K=SEQ        clip K (1-6) from a numbered file sequence (shot.0001.png),\n"
         "                       a still file, or 'builtin'; clips not given are black\n"
         "                       (no --input at all: clip 1 is the built-in clip)\n"
         "  --output SEQ         write the frames as SEQ numbered (.png, .ppm, or any\n"
         "                       format of the image-file library: .tif .jpg .rla ...)\n"
         "  --viewer SEQ         write what the viewer shows, overlay included\n"
         "  --frames A-B         frames to write (default 1-1)\n"
         "  --preroll P          process frames P..A-1 first, unwritten\n"
         "  --set NAME=VALUE     set a control by number or name (lists by item, on/off)\n"
         "  --key NAME@F=VALUE   a key at frame F (linear; lists and checkboxes step)\n"
         "  --res ITEM           resolution: FULL 1/2 1/3 1/4 1/6 1/8 1/12 1/16 1/32\n"
         "  --depth 24|48|64     host frame depth: 8-bit, 12-bit, 12-bit with matte\n"
         "  --size WxH           frame size for the built-in clip\n"
         "  --procs N            most host worker processes (default: one per processor)\n"
         "  --setup FILE         setup the plug-in loads at start-up\n"
         "  --save-setup FILE    where the plug-in saves its setup at the end\n"
         "  --list-controls      list the plug-in's controls and stop\n"
         "  --log FILE           write every host service call to FILE\n"
         "  --events FILE        play an artist's actions: one a line, FRAME EVENT ARGS,\n"
         "                       before that frame renders (set, push, confirm, pick,\n"
         "                       press, drag, release, hover, zoom, pan, ratio, aspect,\n"
         "                       interactive, viewer)\n"
         "  --panel              print the panel after each event\n"
         "Without PLUGIN.so the built 4-Tidewright effect is loaded.\n";
}

bool parse_render_options(int argc, const char* const* argv, RenderOptions& options,
                          std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.compare(0, 1, "-") != 0) {
      if (!options.plugin.empty()) {
        error = "more than one plug-in given: " + options.plugin + " and " + word;
        return false;
      }
      options.plugin = word;
      continue;
    }
    const Option* option = find_option(word);
    if (!option) {
      error = "unknown option: " + word;
      return false;
    }
    if (option->takes_value && i + 1 >= argc) {
      error = word + " needs a value";
      return false;
    }
    Given given{option->name, option->takes_value ? argv[++i] : "", options, error};
    if (!option->rule(given)) return false;
  }
  return options_agree(options, error);
}
