// The renderer with its default plug-in, the built effect, as a person
// runs it.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "render_clips.h"

namespace {

std::string run(const std::string& command, int& status) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    status = -1;
    return output;
  }
  char chunk[512];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
  status = pclose(pipe);
  return output;
}

std::string home_file(const std::string& name) {
  return (std::filesystem::path(std::getenv("Q4_HOME_DIR")) / name).string();
}

// Samples of a file as netpbm decodes it, top row first.
std::vector<int> decoded(const std::string& png, int& width, int& height) {
  int status = 0;
  std::istringstream words(run("/usr/bin/pngtopnm " + png + " | /usr/bin/pnmtoplainpnm", status));
  std::string magic;
  int maxval = 0;
  words >> magic >> width >> height >> maxval;
  std::vector<int> samples;
  for (int v; words >> v;) samples.push_back(v);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(maxval, 255);
  return samples;
}

}  // namespace

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
  int width = 0, height = 0;
  const std::vector<int> full = decoded(out, width, height);
  ASSERT_EQ(width, 64);
  ASSERT_EQ(height, 36);
  for (size_t i = 0; i < full.size(); ++i) ASSERT_EQ(full[i], clip.samples[i]) << i;
  // Picture row y is host row 35 - y; the block of host row r samples host
  // row 2 + 4 (r / 4), column 4 (x / 4).
  const std::vector<int> blocks = decoded(quarter, width, height);
  for (int y = 0; y < 36; ++y) {
    const int host_row = 35 - y, sampled_row = 35 - (2 + host_row / 4 * 4);
    for (int x = 0; x < 64; ++x)
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(blocks[(y * 64 + x) * 3 + c], clip.samples[(sampled_row * 64 + x / 4 * 4) * 3 + c])
            << x << "," << y;
  }
}
