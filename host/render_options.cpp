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
    const std::string option = argv[i];
    if (option == "--help" || option == "-h") {
      options.help = true;
      continue;
    }
    if (option == "--list-controls") {
      options.list_controls = true;
      continue;
    }
    if (option == "--panel") {
      options.panel = true;
      continue;
    }
    if (option.compare(0, 1, "-") != 0) {
      if (!options.plugin.empty()) {
        error = "more than one plug-in given: " + options.plugin + " and " + option;
        return false;
      }
      options.plugin = option;
      continue;
    }
    static const char* const with_value[] = {"--input",  "--output", "--viewer", "--frames",
                                             "--preroll", "--set",   "--key",    "--res",
                                             "--depth",  "--size",   "--procs",  "--setup",
                                             "--save-setup", "--log", "--events"};
    bool known = false;
    for (const char* name : with_value) known = known || option == name;
    if (!known) {
      error = "unknown option: " + option;
      return false;
    }
    if (i + 1 >= argc) {
      error = option + " needs a value";
      return false;
    }
    const std::string value = argv[++i];
    std::string left, right;
    bool ok = true;
    if (option == "--input") {
      int clip = 0;
      ok = split(value, '=', left, right) && whole_number(left, 1, 6, clip);
      if (!ok) {
        error = "--input " + value + ": expected K=SEQ with K from 1 to 6";
        return false;
      }
      for (const RenderOptions::Input& input : options.inputs) {
        if (input.clip == clip) {
          error = "--input: clip " + left + " given twice";
          return false;
        }
      }
      if (right != "builtin" && !frame_file_name(right, false, error, "--input")) return false;
      options.inputs.push_back({clip, right});
    } else if (option == "--output" || option == "--viewer") {
      (option == "--output" ? options.output : options.viewer) = value;
    } else if (option == "--frames") {
      // The last frame leaves room to count one past it.
      if (split(value, '-', left, right))
        ok = whole_number(left, 0, INT_MAX - 1, options.first) &&
             whole_number(right, options.first, INT_MAX - 1, options.last);
      else
        ok = whole_number(value, 0, INT_MAX - 1, options.first) &&
             whole_number(value, 0, INT_MAX - 1, options.last);
      if (!ok) {
        error = "--frames " + value + ": expected A-B with 0 <= A <= B";
        return false;
      }
    } else if (option == "--preroll") {
      if (!whole_number(value, 0, INT_MAX, options.preroll)) {
        error = "--preroll " + value + ": expected a frame number";
        return false;
      }
    } else if (option == "--set") {
      if (!split(value, '=', left, right)) {
        error = "--set " + value + ": expected NAME=VALUE";
        return false;
      }
      options.sets.push_back({left, 0, right});
    } else if (option == "--key") {
      std::string name, frame;
      int at = 0;
      const size_t sign = value.find('=');
      const std::string target = sign == std::string::npos ? "" : value.substr(0, sign);
      const size_t mark = target.rfind('@');
      ok = sign != std::string::npos && mark != std::string::npos && mark > 0 &&
           whole_number(target.substr(mark + 1), INT_MIN, INT_MAX, at);
      if (!ok) {
        error = "--key " + value + ": expected NAME@FRAME=VALUE";
        return false;
      }
      options.keys.push_back({target.substr(0, mark), at, value.substr(sign + 1)});
    } else if (option == "--res") {
      options.resolution = value;
    } else if (option == "--depth") {
      if (value != "24" && value != "48" && value != "64") {
        error = "--depth " + value + ": expected 24, 48 or 64";
        return false;
      }
      options.depth = std::atoi(value.c_str());
    } else if (option == "--size") {
      if (!split(value, 'x', left, right) || !whole_number(left, 1, 65536, options.width) ||
          !whole_number(right, 1, 65536, options.height)) {
        error = "--size " + value + ": expected WxH, each 1 to 65536";
        return false;
      }
    } else if (option == "--procs") {
      if (!whole_number(value, 1, 1024, options.processes)) {
        error = "--procs " + value + ": expected 1 to 1024";
        return false;
      }
    } else if (option == "--setup") {
      options.setup = value;
    } else if (option == "--save-setup") {
      options.save_setup = value;
    } else if (option == "--events") {
      options.events = value;
    } else {
      options.log = value;
    }
  }
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
