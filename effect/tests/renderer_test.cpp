// The renderer with its default plug-in, the built effect, as a person
// runs it.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "program_run.h"
#include "render_clips.h"

TEST(EffectRenderer, ListsTheEffectsControls) {
  int status = 0;
  const std::string listing = run(std::string(TIDEWRIGHT_HOST_PATH) + " --list-controls 2>&1", status);
  ASSERT_EQ(status, 0) << listing;
  for (const char* line :
       {"     7  float      Viscosity                 0.01              1e-05 .. 1\n",
        "    10  pup        Buoyancy Mode             Input Luma        None, Input Luma, Alt Luma, "
        "Pressure Input, Pressure Alt\n",
        "    19  boolean    Edge Escape               on                on, off\n",
        "    21  int        Dissipation Frames        50                2 .. 1000\n",
        "    33  pup                                  FULL              FULL, 1/2, 1/3, 1/4, 1/6, "
        "1/8, 1/12, 1/16, 1/32\n",
        "    93  userfloat  Amplitude Import          0                 -1000 .. 1000\n",
        "     5  string     6: Barrier Clip           (clip name)       \n"})
    EXPECT_NE(listing.find(line), std::string::npos) << line << listing;
}

// With Blend at 100 the effect returns its input: the built-in clip comes
// back through host buffers, the effect and the PNG file unchanged, at full
// resolution and as 4 x 4 blocks at 1/4.
TEST(EffectRenderer, BlendOneHundredGivesBackTheClip) {
  int status = 0;
  const std::string out = home_file("clip.0001.png"), quarter = home_file("quarter.0001.png");
  const std::string host = std::string(TIDEWRIGHT_HOST_PATH) + " --size 64x36 --set Blend=100 --output ";
  run(host + out + " 2>&1", status);
  ASSERT_EQ(status, 0);
  run(host + quarter + " --res 1/4 2>&1", status);
  ASSERT_EQ(status, 0);
  FrameImage clip;
  draw_builtin_clip(1, 64, 36, clip);
  const Plain full = decode(out);
  ASSERT_EQ(full.width, 64);
  ASSERT_EQ(full.height, 36);
  ASSERT_EQ(full.maxval, 255);
  for (size_t i = 0; i < full.samples.size(); ++i) ASSERT_EQ(full.samples[i], clip.samples[i]) << i;
  // Picture row y is host row 35 - y; the block of host row r samples host
  // row 2 + 4 (r / 4), column 4 (x / 4).
  const std::vector<int> blocks = decode(quarter).samples;
  for (int y = 0; y < 36; ++y) {
    const int host_row = 35 - y, sampled_row = 35 - (2 + host_row / 4 * 4);
    for (int x = 0; x < 64; ++x)
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(blocks[(y * 64 + x) * 3 + c], clip.samples[(sampled_row * 64 + x / 4 * 4) * 3 + c])
            << x << "," << y;
  }
}

// Frames P..A-1 processed unwritten make a part of a range render as it
// does in the whole range, through the real simulation with the busy
// setup; without the preroll the simulation starts later and the frames
// differ.
TEST(EffectRenderer, PrerollMatchesTheFullRender) {
  const std::string host = std::string(TIDEWRIGHT_HOST_PATH) + " --size 48x30 --procs 3 --setup " +
                           TIDEWRIGHT_SETUPS + "/busy.setup --output ";
  int status = 0;
  run(host + home_file("full.0000.png") + " --frames 0-4 2>&1", status);
  ASSERT_EQ(status, 0);
  run(host + home_file("part.0000.png") + " --frames 3-4 --preroll 0 2>&1", status);
  ASSERT_EQ(status, 0);
  run(host + home_file("cold.0000.png") + " --frames 3-4 2>&1", status);
  ASSERT_EQ(status, 0);
  for (const char* frame : {"0003", "0004"}) {
    const std::vector<int> full = decode(home_file(std::string("full.") + frame + ".png")).samples;
    EXPECT_EQ(decode(home_file(std::string("part.") + frame + ".png")).samples, full) << frame;
    EXPECT_NE(decode(home_file(std::string("cold.") + frame + ".png")).samples, full) << frame;
  }
}

// The first look a new user takes (scripts/run.sh, smaller): the default
// clip through the demo setup. The first frame is the clip itself, and
// the flow then moves it further every frame.
TEST(EffectRenderer, DemoSetupMovesTheDefaultClip) {
  int status = 0;
  const std::string err = run(std::string(TIDEWRIGHT_HOST_PATH) + " --size 96x54 --frames 1-3 --setup " +
                                  TIDEWRIGHT_SETUPS + "/demo.setup --output " + home_file("demo.0001.png") + " 2>&1",
                              status);
  ASSERT_EQ(status, 0) << err;
  EXPECT_NE(err.find("output: " + home_file("demo.0001.png") + " .. " + home_file("demo.0003.png")),
            std::string::npos)
      << err;
  FrameImage clip;
  draw_builtin_clip(1, 96, 54, clip);
  std::vector<std::vector<int>> frames;
  for (const char* frame : {"0001", "0002", "0003"})
    frames.push_back(decode(home_file(std::string("demo.") + frame + ".png")).samples);
  EXPECT_EQ(frames[0], std::vector<int>(clip.samples.begin(), clip.samples.end()));
  EXPECT_NE(frames[1], frames[0]);
  EXPECT_NE(frames[2], frames[1]);
}

namespace {

// The colour at (x, y) of a decoded picture, row 0 at the bottom.
std::vector<int> pixel(const Plain& picture, int x, int y) {
  const size_t at = (static_cast<size_t>(picture.height - 1 - y) * picture.width + x) * 3;
  return {picture.samples[at], picture.samples[at + 1], picture.samples[at + 2]};
}

const std::vector<int> pure_red = {255, 0, 0};

// Whether a viewer picture is the frame with nothing but red drawn over it,
// and how many pixels are red.
int red_over(const Plain& view, const Plain& frame) {
  if (view.samples.size() != frame.samples.size()) return -1;
  int red = 0;
  for (size_t i = 0; i < view.samples.size(); i += 3) {
    const std::vector<int> v(view.samples.begin() + i, view.samples.begin() + i + 3);
    if (v == pure_red)
      ++red;
    else if (!std::equal(v.begin(), v.end(), frame.samples.begin() + i))
      return -1;
  }
  return red;
}

// The red handle square (5 pixels each way) centred near (x, y).
bool red_handle_at(const Plain& view, int x, int y) {
  for (int dy = -3; dy <= 3; ++dy)
    for (int dx = -3; dx <= 3; ++dx)
      if (pixel(view, x + dx, y + dy) != pure_red) return false;
  return true;
}

std::string text_of(const std::string& path) {
  const std::vector<unsigned char> bytes = read_file(path);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

// A new user's session played from an events file: the vortex ticked and its
// centre dragged, the viewer zoomed and panned, then page 2 reset. Every
// callback and the release render again (Auto Preview is on), each render a
// step of the simulation: the frames are those of a plain render whose keys
// make the same changes one frame a step. The viewer pictures show the
// frame each render returned, with the red vortex handle at pan + zoom x
// position while the vortex is on.
TEST(EffectRenderer, EventsDragTheVortexAndResetAPage) {
  int status = 0;
  const std::string host = TIDEWRIGHT_HOST_PATH, still = home_file("still.png");
  run(host + " --size 96x54 --set Blend=100 --output " + still + " 2>&1", status);
  ASSERT_EQ(status, 0);
  const std::string events = home_file("session.events");
  write_file(events,
             "# the vortex on, looked at closer and further, then dragged\n"
             "2 set \"Use Vortex1\" on\n"
             "2 viewer " + home_file("on.png") + "\n"
             "2 zoom 2\n"
             "2 pan -30 -20\n"
             "2 viewer " + home_file("zoomed.png") + "\n"
             "2 zoom 0.5\n"
             "2 pan 20 10\n"
             "2 viewer " + home_file("zoomed_out.png") + "\n"
             "2 zoom 1\n"
             "2 pan 0 0\n"
             "2 press 30 27   # the centre handle, clear of the circle's\n"
             "2 drag 50 30\n"
             "2 drag 72 40.5\n"
             "2 release 72 40.5\n"
             "2 viewer " + home_file("dragged.png") + "\n"
             "\n"
             "3 confirm yes\n"
             "3 push 90\n"
             "3 viewer " + home_file("reset.png") + "\n"
             "3 push 61       # no answer scripted: no\n");
  const std::string log = home_file("session.log");
  const std::string out = run(host + " --input 1=" + still + " --frames 1-3 --output " + home_file("s.0001.png") +
                                  " --viewer " + home_file("view.0001.png") + " --events " + events +
                                  " --panel --log " + log + " 2>" + home_file("session.err"),
                              status);
  const std::string err = text_of(home_file("session.err"));
  ASSERT_EQ(status, 0) << err;
  // Render 2 the vortex ticked, 3 the release, 4 frame 2, 5 the reset, 6
  // the unanswered reset, 7 frame 3.
  run(host + " --input 1=" + still + " --frames 1-7 --output " + home_file("k.0001.png") +
          " --key 'Use Vortex1@1=off' --key 'Use Vortex1@2=on' --key 'Use Vortex1@5=off'"
          " --key 79@2=33.3 --key 79@3=75 --key 79@4=75 --key 79@5=33.3"
          " --key 80@2=50 --key 80@3=75 --key 80@4=75 --key 80@5=50 2>&1",
      status);
  ASSERT_EQ(status, 0);
  std::vector<Plain> keyed = {Plain()};
  for (int frame = 1; frame <= 7; ++frame)
    keyed.push_back(decode(home_file("k.000" + std::to_string(frame) + ".png")));
  const Plain s1 = decode(home_file("s.0001.png")), s2 = decode(home_file("s.0002.png")),
              s3 = decode(home_file("s.0003.png"));
  EXPECT_EQ(s1.samples, decode(still).samples);  // the first frame is the clip
  EXPECT_EQ(s1.samples, keyed[1].samples);
  EXPECT_EQ(s2.samples, keyed[4].samples);
  EXPECT_EQ(s3.samples, keyed[7].samples);
  EXPECT_NE(keyed[4].samples, keyed[2].samples);
  EXPECT_NE(keyed[7].samples, keyed[4].samples);
  // Only the range's frames are written.
  EXPECT_FALSE(std::filesystem::exists(home_file("s.0004.png")));

  const Plain on = decode(home_file("on.png")), dragged = decode(home_file("dragged.png"));
  EXPECT_GT(red_over(on, keyed[2]), 100);
  EXPECT_TRUE(red_handle_at(on, 32, 27));  // 33.3 % of 96, 50 % of 54
  EXPECT_GT(red_over(dragged, keyed[3]), 100);
  EXPECT_TRUE(red_handle_at(dragged, 72, 40));
  EXPECT_EQ(pixel(dragged, 32, 27), pixel(keyed[3], 32, 27));
  EXPECT_EQ(decode(home_file("reset.png")).samples, keyed[5].samples);  // the vortex off again
  // Zoom 2 at pan (-30, -20), and zoom 0.5 (drawn at 1 / 1.5) at (20, 10).
  EXPECT_TRUE(red_handle_at(decode(home_file("zoomed.png")), -30 + 64, -20 + 54));
  EXPECT_TRUE(red_handle_at(decode(home_file("zoomed_out.png")), 20 + 21, 10 + 18));
  // --viewer: each frame as the viewer last showed it.
  EXPECT_GT(red_over(decode(home_file("view.0002.png")), s2), 100);
  EXPECT_TRUE(red_handle_at(decode(home_file("view.0002.png")), 72, 40));
  EXPECT_EQ(decode(home_file("view.0003.png")).samples, s3.samples);

  // The release's redraw waits until SparkInteract has rendered and
  // returned.
  EXPECT_NE(text_of(log).find("sparkViewingCursor(1)\nsparkViewingDraw()\nsparkCursorBusy()\n"),
            std::string::npos);
  EXPECT_NE(err.find("tidewright_host: warning: " + events +
                     ":21: no answer scripted for \"Are you sure you want to reset the current settings to "
                     "default values?\": answered no\n"),
            std::string::npos)
      << err;
  // The panel after each event: the vortex's controls shown while it is on.
  for (const std::string& line :
       {"panel after " + events + ":2 (frame 2: set \"Use Vortex1\" on)\n",
        std::string("     78  [x] Use Vortex1\n"), std::string("     79  Vortex 1 Center X: 33.30\n"),
        "panel after " + events + ":15 (frame 2: release 72 40.5)\n",
        std::string("     79  Vortex 1 Center X: 75.00\n"), std::string("     80  Vortex 1 Center Y: 75.00\n"),
        std::string("     79  Vortex 1 Center X: 33.30  (hidden)\n"), std::string("  page 2\n")})
    EXPECT_NE(out.find(line), std::string::npos) << line;
}

// A script with a fault stops the run before any frame renders, with the
// file and line.
TEST(EffectRenderer, EventsWithAFaultRenderNothing) {
  const std::string events = home_file("bad.events");
  const struct {
    const char* script;
    std::string message;
  } cases[] = {
      {"1 set Viscosity 0.5\n3 drag 10\n", events + ":2: expected FRAME drag X Y: 3 drag 10"},
      {"1 set Viscosity 0.5\n\n3 set Nonesuch 1\n", events + ":3: unknown control: Nonesuch"},
      {"2 set Viscosity nan\n", events + ":1: not a number: nan of control 7 (Viscosity)"},
      {"4 hover 1 1\n", events + ":1: frame 4 lies outside the frames rendered, 1-3"},
      {"1 wiggle\n", events + ":1: unknown event wiggle"},
  };
  for (const auto& c : cases) {
    write_file(events, c.script);
    int status = 0;
    const std::string err = run(std::string(TIDEWRIGHT_HOST_PATH) + " --size 32x18 --frames 1-3 --events " + events +
                                    " --output " + home_file("bad.0001.png") + " 2>&1",
                                status);
    EXPECT_NE(status, 0) << c.script;
    EXPECT_NE(err.find("tidewright_host: " + c.message), std::string::npos) << err;
    EXPECT_EQ(err.find("frame 1 of"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists(home_file("bad.0001.png"))) << c.script;
  }
}

// "pick" answers the next file browser: the amplitude file a push of
// Import Amplitude File opens keys control 93's curve, which the setup
// keeps; a browser nothing was picked for is cancelled with a warning.
TEST(EffectRenderer, EventsPickTheAmplitudeFile) {
  const std::string amplitude = home_file("amplitude.txt"), events = home_file("pick.events"),
                    setup = home_file("pick.setup");
  write_file(amplitude, "Channel Amplitude 1: Size 2\nKey 0 Frame 1 Value 0.5 End\nKey 1 Frame 3 Value -2 End\n");
  write_file(events, "1 pick " + amplitude + "\n1 push \"Import Amplitude File\"\n2 push 114\n");
  int status = 0;
  const std::string err = run(std::string(TIDEWRIGHT_HOST_PATH) + " --size 32x18 --frames 1-2 --events " + events +
                                  " --save-setup " + setup + " 2>&1",
                              status);
  ASSERT_EQ(status, 0) << err;
  const std::string saved = text_of(setup);
  EXPECT_NE(saved.find("key 93 1 0.5\nkey 93 3 -2\n"), std::string::npos) << saved;
  EXPECT_NE(err.find("tidewright_host: warning: " + events + ":3: no file scripted for the file browser: cancelled\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(err.find(":2: no file scripted"), std::string::npos) << err;
}
