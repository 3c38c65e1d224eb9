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
