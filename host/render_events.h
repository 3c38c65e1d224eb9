#ifndef RENDER_EVENTS_H
#define RENDER_EVENTS_H

// An artist's actions as a script for the renderer: one event a line,
// "FRAME EVENT ARGS", played before that frame renders. Words are separated
// by blanks; a word in double quotes may hold blanks ("Buoyancy Mode"); a
// '#' outside quotes starts a comment; empty lines are skipped.
//
//   set NAME VALUE        a control written as the panel does, then its
//                         callback with reason 1 (NAME and VALUE as --set)
//   push NAME             a button's callback with reason 1
//   confirm yes|no        the next confirmation's answer
//   pick FILE             the next file browser's choice
//   press|drag X Y        a pen event with pressure 1 at frame pixel (X, Y),
//   release|hover X Y     or with pressure 0; row 0 is the bottom row
//   zoom Z                the viewer's zoom (0 to 64; below 1 zooms out)
//   pan X Y               the viewer's pan in pixels
//   ratio R               the viewer's ratio (above 0, up to 16)
//   aspect G              the frame's pixel aspect (above 0, up to 16)
//   interactive 0|1       whether pen events are for the plug-in
//   viewer FILE           writes what the viewer shows now

#include <string>
#include <vector>

#include "standin_host.h"

struct RenderEvent {
  enum Kind { set, push, confirm, pick, press, drag, release, hover, zoom, pan, ratio, aspect,
              interactive, viewer };
  int line = 0;
  int frame = 0;
  Kind kind = set;
  std::string text;  // the line as written, for messages
  std::string name;  // set, push: the control as written
  std::string word;  // set: the value as written; pick, viewer: the file
  double x = 0.0;    // the numbers of the others; confirm and interactive: 1 or 0
  double y = 0.0;
  // Filled by resolve_events.
  StandinControlEntry control = {0, standin_push, nullptr};
  double value = 0.0;
};

// Reads the events of FILE, in file order, and checks each line alone:
// its frame within first..last, a known event with its arguments. False
// with "FILE:LINE: reason" (or "--events FILE: reason" when it cannot be
// read).
bool read_events(const std::string& path, int first, int last, std::vector<RenderEvent>& events,
                 std::string& error);

// Finds the control each set and push names and checks the value a set
// gives it, clamped into range as --set clamps it (a warning "FILE:LINE:
// value ..." for each). False with "FILE:LINE: reason".
bool resolve_events(const std::vector<StandinControlEntry>& controls, const std::string& path,
                    std::vector<RenderEvent>& events, std::vector<std::string>& warnings,
                    std::string& error);

#endif
