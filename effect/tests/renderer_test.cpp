// The renderer with its default plug-in, the built effect, as a person
// runs it.
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
