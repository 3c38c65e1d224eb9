// The renderer's events script and panel: every event read with its
// arguments, each fault refused with its file and line, controls and values
// found as --set finds them, and the panel as the artist reads it.
#include "render_events.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "program_run.h"
#include "render_controls.h"

namespace {

bool read(const std::string& script, std::vector<RenderEvent>& events, std::string& error) {
  const std::string path = home_file("test.events");
  write_file(path, script);
  events.clear();
  error.clear();
  return read_events(path, 1, 5, events, error);
}

}  // namespace

TEST(RenderEvents, ReadsEveryEventAndItsArguments) {
  std::vector<RenderEvent> events;
  std::string error;
  ASSERT_TRUE(
      read("# a session\n"
           "1 set \"Buoyancy Mode\" \"Alt Luma\"   # quoted words keep their blanks\n"
           "\n"
           "  2\tpush Restart\r\n"
           "2 confirm yes\n"
           "2 confirm no\n"
           "3 pick \"/tmp/amp file.txt\"\n"
           "3 press 10.5 -2\n"
           "3 drag 1e3 0\n"
           "3 release 0 0\n"
           "3 hover -7 8\n"
           "4 zoom 0.5\n"
           "4 pan -30 20\n"
           "4 ratio 1.5\n"
           "4 aspect 2\n"
           "4 interactive 0\n"
           "5 viewer out.png\n",
           events, error))
      << error;
  ASSERT_EQ(events.size(), 15u);
  const struct {
    int line, frame;
    RenderEvent::Kind kind;
    const char* name;
    const char* word;
    double x, y;
  } expected[] = {
      {2, 1, RenderEvent::set, "Buoyancy Mode", "Alt Luma", 0, 0},
      {4, 2, RenderEvent::push, "Restart", "", 0, 0},
      {5, 2, RenderEvent::confirm, "", "", 1, 0},
      {6, 2, RenderEvent::confirm, "", "", 0, 0},
      {7, 3, RenderEvent::pick, "", "/tmp/amp file.txt", 0, 0},
      {8, 3, RenderEvent::press, "", "", 10.5, -2},
      {9, 3, RenderEvent::drag, "", "", 1000, 0},
      {10, 3, RenderEvent::release, "", "", 0, 0},
      {11, 3, RenderEvent::hover, "", "", -7, 8},
      {12, 4, RenderEvent::zoom, "", "", 0.5, 0},
      {13, 4, RenderEvent::pan, "", "", -30, 20},
      {14, 4, RenderEvent::ratio, "", "", 1.5, 0},
      {15, 4, RenderEvent::aspect, "", "", 2, 0},
      {16, 4, RenderEvent::interactive, "", "", 0, 0},
      {17, 5, RenderEvent::viewer, "", "out.png", 0, 0},
  };
  for (size_t i = 0; i < std::size(expected); ++i) {
    const RenderEvent& e = events[i];
    EXPECT_EQ(e.line, expected[i].line) << i;
    EXPECT_EQ(e.frame, expected[i].frame) << i;
    EXPECT_EQ(e.kind, expected[i].kind) << i;
    EXPECT_EQ(e.name, expected[i].name) << i;
    EXPECT_EQ(e.word, expected[i].word) << i;
    EXPECT_EQ(e.x, expected[i].x) << i;
    EXPECT_EQ(e.y, expected[i].y) << i;
  }
}

// Each fault names the file and line; a later good line changes nothing.
TEST(RenderEvents, RefusesEachFaultWithFileAndLine) {
  const std::string at = home_file("test.events") + ":2: ";
  const struct {
    const char* line;
    std::string error;
  } cases[] = {
      {"x set Viscosity 1", at + "expected FRAME EVENT ARGS, with FRAME a frame number: x set Viscosity 1"},
      {"-1 hover 0 0", at + "expected FRAME EVENT ARGS, with FRAME a frame number: -1 hover 0 0"},
      {"1.5 hover 0 0", at + "expected FRAME EVENT ARGS, with FRAME a frame number: 1.5 hover 0 0"},
      {"3", at + "no event after the frame number"},
      {"3 # nothing", at + "no event after the frame number"},
      {"6 hover 0 0", at + "frame 6 lies outside the frames rendered, 1-5"},
      {"0 hover 0 0", at + "frame 0 lies outside the frames rendered, 1-5"},
      {"99999999999 hover 0 0",
       at + "expected FRAME EVENT ARGS, with FRAME a frame number: 99999999999 hover 0 0"},
      {"1 Set Viscosity 1", at + "unknown event Set (set, push, confirm, pick, press, drag, release, hover, "
                                 "zoom, pan, ratio, aspect, "
                                 "interactive, viewer)"},
      {"1 set Viscosity", at + "expected FRAME set NAME VALUE: 1 set Viscosity"},
      {"1 set \"Buoyancy Mode Alt", at + "a quote is left open"},
      {"1 push", at + "expected FRAME push NAME: 1 push"},
      {"1 confirm maybe", at + "expected FRAME confirm yes|no: 1 confirm maybe"},
      {"1 pick", at + "expected FRAME pick FILE: 1 pick"},
      {"1 press 1", at + "expected FRAME press X Y: 1 press 1"},
      {"1 drag 1 2 3", at + "expected FRAME drag X Y: 1 drag 1 2 3"},
      {"1 release nan 0", at + "expected FRAME release X Y: 1 release nan 0"},
      {"1 hover 0 inf", at + "expected FRAME hover X Y: 1 hover 0 inf"},
      {"1 hover 2e9 0", at + "expected FRAME hover X Y: 1 hover 2e9 0"},
      {"1 hover 0x 0", at + "expected FRAME hover X Y: 1 hover 0x 0"},
      {"1 zoom 65", at + "expected FRAME zoom Z with Z from 0 to 64: 1 zoom 65"},
      {"1 zoom -0.5", at + "expected FRAME zoom Z with Z from 0 to 64: 1 zoom -0.5"},
      {"1 pan 1.5 0", at + "expected FRAME pan X Y in whole pixels: 1 pan 1.5 0"},
      {"1 pan 2000000 0", at + "expected FRAME pan X Y in whole pixels: 1 pan 2000000 0"},
      {"1 ratio 0", at + "expected FRAME ratio R with R above 0, up to 16: 1 ratio 0"},
      {"1 aspect 17", at + "expected FRAME aspect G with G above 0, up to 16: 1 aspect 17"},
      {"1 interactive 2", at + "expected FRAME interactive 0|1: 1 interactive 2"},
      {"1 viewer out.xyz", at + "expected FRAME viewer FILE: 1 viewer out.xyz"},
  };
  for (const auto& c : cases) {
    std::vector<RenderEvent> events;
    std::string error;
    EXPECT_FALSE(read(std::string("1 hover 0 0\n") + c.line + "\n2 hover 0 0\n", events, error)) << c.line;
    EXPECT_EQ(error, c.error);
  }
  std::vector<RenderEvent> events;
  std::string error;
  EXPECT_FALSE(read_events(home_file("none.events"), 1, 5, events, error));
  EXPECT_EQ(error, "--events " + home_file("none.events") + ": No such file or directory");
}

// Controls are found as --set finds them, a push naming a button and a set
// a value control; values are checked against the control, and one beyond
// its range is clamped with a warning at its line.
TEST(RenderEvents, ResolvesControlsAndValues) {
  SparkFloat viscosity = {0.01f, 0.00001f, 1.0f, 0.01f, 0, "Viscosity: %.3f", nullptr};
  SparkPup mode = {
      1, 3, nullptr, {"Buoyancy Mode: None  ", "Buoyancy Mode: Input Luma  ", "Buoyancy Mode: Alt Luma  "}};
  SparkPush restart = {"Restart   ", nullptr};
  SparkPush reset1 = {"Reset", nullptr};
  SparkPush reset2 = {"Reset", nullptr};
  const std::vector<StandinControlEntry> controls = {{7, standin_float, &viscosity},
                                                     {10, standin_pup, &mode},
                                                     {6, standin_push, &restart},
                                                     {32, standin_push, &reset1},
                                                     {61, standin_push, &reset2}};
  const std::string path = home_file("test.events");
  const struct {
    const char* line;
    int number;  // 0: refused
    double value;
    std::string error;
  } cases[] = {
      {"1 set \"buoyancy mode\" \"alt luma\"", 10, 2, ""},
      {"1 set 7 0.5", 7, 0.5f, ""},
      {"1 push restart", 6, 0, ""},
      {"1 push 61", 61, 0, ""},
      {"1 push Reset", 0, 0, path + ":1: ambiguous control name: Reset names controls 32 61; give a number"},
      {"1 set Restart 1", 0, 0, path + ":1: control 6 (Restart) is a button and holds no value"},
      {"1 push Viscosity", 0, 0, path + ":1: control 7 (Viscosity) is not a button"},
      {"1 set Viscosity 1e40", 7, 1, path + ":1: value 1e40 of control 7 (Viscosity) is out of its range 1e-05 .. 1: clamped to 1"},
      {"1 set Viscosity nan", 0, 0, path + ":1: not a number: nan of control 7 (Viscosity)"},
      {"1 set Nonesuch 1", 0, 0, path + ":1: unknown control: Nonesuch"},
  };
  for (const auto& c : cases) {
    std::vector<RenderEvent> events;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(read(std::string(c.line) + "\n", events, error)) << error;
    EXPECT_EQ(resolve_events(controls, path, events, warnings, error), c.number != 0) << c.line;
    if (c.number) {
      EXPECT_EQ(events[0].control.number, c.number) << c.line;
      EXPECT_EQ(events[0].value, c.value) << c.line;
    }
    EXPECT_EQ(c.number ? (warnings.empty() ? "" : warnings[0]) : error, c.error) << c.line;
  }
}

// Page by page, each title filled with its value, a list by its item, a
// checkbox ticked or not, a button in brackets, the hidden ones marked; a
// title that is no format for one value shows beside the value instead.
TEST(RenderPanel, TitlesFilledAndHiddenMarked) {
  standin_reset();
  SparkFloat viscosity = {0.25f, 0.00001f, 1.0f, 0.01f, 0, "Viscosity: %.3f", nullptr};
  SparkFloat odd = {0.5f, 0.0f, 1.0f, 0.01f, 0, "Odd %s: %n", nullptr};
  SparkInt frames = {50, 2, 1000, 1, 0, "Dissipation Frames: %d", nullptr};
  SparkBoolean edge = {0x101, "Edge Escape   ", nullptr};
  SparkBoolean gravity = {0x100, "Use Gravity   ", nullptr};
  SparkPup mode = {
      2, 3, nullptr, {"Buoyancy Mode: None  ", "Buoyancy Mode: Input Luma  ", "Buoyancy Mode: Alt Luma  "}};
  SparkPup beyond = {7, 3, nullptr, {"A", "B", "C"}};
  SparkPush restart = {"Restart   ", nullptr};
  SparkUserFloat amplitude = {-2.5f, -1000.0f, 1000.0f, 0.001f, 0, "Amplitude Import: %.1f", nullptr};
  SparkString clip = {"1: Flow Clip", "%s", 16, nullptr};
  const std::vector<StandinControlEntry> controls = {
      {0, standin_string, &clip},      {6, standin_push, &restart},
      {7, standin_float, &viscosity},  {10, standin_pup, &mode},
      {19, standin_boolean, &edge},    {21, standin_int, &frames},
      {38, standin_boolean, &gravity}, {39, standin_float, &odd},
      {66, standin_pup, &beyond},      {93, standin_user_float, &amplitude}};
  sparkDisableParameter(1, 21);
  sparkDisableParameter(1, 39);
  sparkEnableParameter(1, 39);
  const std::string path = home_file("panel.txt");
  FILE* out = std::fopen(path.c_str(), "w");
  print_panel(controls, out);
  std::fclose(out);
  const std::vector<unsigned char> bytes = read_file(path);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
            "  page 0\n"
            "      6  <Restart>\n"
            "      7  Viscosity: 0.250\n"
            "     10  Buoyancy Mode: Alt Luma\n"
            "     19  [x] Edge Escape\n"
            "     21  Dissipation Frames: 50  (hidden)\n"
            "  page 1\n"
            "     38  [ ] Use Gravity\n"
            "     39  Odd %s: %n 0.5\n"
            "  page 2\n"
            "     66  ? (item 7)\n"
            "  page 3\n"
            "     93  Amplitude Import: -2.5\n");
}
