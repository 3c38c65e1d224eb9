#ifndef RENDER_OPTIONS_H
#define RENDER_OPTIONS_H

// The renderer's command line.

#include <string>
#include <vector>

struct RenderOptions {
  struct Input {
    int clip;  // 1..6
    std::string name;  // a file of a sequence, a still, or "builtin"
  };
  struct Assignment {
    std::string control;
    int frame;  // of a key
    std::string value;
  };

  std::string plugin;  // empty: the built effect
  std::vector<Input> inputs;
  std::string output;
  std::string viewer;
  int first = 1;
  int last = 1;
  int preroll = -1;  // first frame processed unwritten; -1: none
  std::vector<Assignment> sets;
  std::vector<Assignment> keys;
  std::string resolution;  // an item of the resolution lists, empty: as set
  int depth = 24;
  int width = 0;  // 0: not given
  int height = 0;
  int processes = 0;  // 0: one per processor
  std::string setup;
  std::string save_setup;
  std::string log;
  std::string events;  // the artist's actions, played before their frames
  bool panel = false;  // print the panel after each event
  bool list_controls = false;
  bool help = false;
};

// False with a one-line reason for an unknown option, a missing or
// malformed value, or options that contradict each other.
bool parse_render_options(int argc, const char* const* argv, RenderOptions& options,
                          std::string& error);

// The usage text.
const char* render_usage();

#endif
