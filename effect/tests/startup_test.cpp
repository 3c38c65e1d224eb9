// Start-up, the clip count, buffers, the channel editor and shut-down.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "effect_fixture.h"

namespace {

using Lines = std::vector<std::string>;

std::string named(int number, const char* name) {
  return "sparkSetControlName(1, " + std::to_string(number) + ", " + name + ")";
}

// The channel editor as the artist sees it: each folder the host was told
// to open, then its controls by the names start-up gave them (by number
// where the host keeps its own name), each filed with a flag other than 1
// marked with it. Other host calls pass through unchanged.
Lines channel_editor_view(const Lines& start_up, const Lines& log) {
  std::map<int, std::string> names;
  int number = 0, flag = 0;
  char text[64];
  for (const std::string& line : start_up)
    if (std::sscanf(line.c_str(), "sparkSetControlName(1, %d, %63[^)])", &number, text) == 2) names[number] = text;
  Lines view;
  for (const std::string& line : log) {
    if (std::sscanf(line.c_str(), "sparkCeAddFolder(1, %63[^)])", text) == 1) {
      view.push_back(std::string(text) + ":");
    } else if (!view.empty() && std::sscanf(line.c_str(), "sparkCeAddControl(2, %d, %d)", &flag, &number) == 2) {
      view.back() += (view.back().back() == ':' ? " " : ", ") +
                     (names.count(number) ? names[number] : std::to_string(number)) +
                     (flag == 1 ? "" : " flag " + std::to_string(flag));
    } else {
      view.push_back(line);
    }
  }
  return view;
}

}  // namespace

// The host sees titles, clip names and channel-editor names and folders in
// this order (worked out from the panel layout by hand).
TEST_F(EffectTest, StartUpNamesPagesClipsControlsAndFolders) {
  standin_set_frame(64, 48, 24);
  testing::internal::CaptureStdout();
  EXPECT_EQ(SparkInitialise(standin_info()), 2);
  testing::internal::GetCapturedStdout();
  Lines expected = {"sparkAPIVersionInfo() = 4",
                    "sparkLoadSetup() = 0",
                    "sparkMemGetFreeMemory() = 8",
                    "sparkControlTitle(3, Import AIFF)",
                    "sparkControlTitle(0, Tidewright)",
                    "sparkControlTitle(1, Forces1)",
                    "sparkControlTitle(2, Forces2)",
                    "sparkClipControlTitle(0, Input)",
                    "sparkClipControlTitle(1, Back)",
                    "sparkClipControlTitle(2, Alt)",
                    named(7, "Viscosity"),
                    named(8, "Swirl"),
                    named(24, "Diffusion"),
                    named(21, "Dissipation Frames"),
                    named(22, "Percent Left"),
                    named(12, "Pressure Force"),
                    named(11, "RiseFall"),
                    named(16, "EachRandom"),
                    named(17, "Eddy Size"),
                    named(67, "Source Strength"),
                    named(69, "Sink Strength"),
                    named(39, "GravForce"),
                    named(40, "Gravity Direction"),
                    named(43, "Centre A X"),
                    named(44, "Centre A Y"),
                    named(45, "Scale A X"),
                    named(46, "Scale A Y"),
                    named(47, "Velocity A Direction"),
                    named(48, "Vel Add A"),
                    named(50, "Centre B X"),
                    named(51, "Centre B Y"),
                    named(52, "Scale A B"),
                    named(53, "Scale B Y"),
                    named(54, "Velocity B Direction"),
                    named(55, "Vel Add B"),
                    named(72, "Wind 1 Start X"),
                    named(73, "Wind 1 Start Y"),
                    named(74, "Wind 1 End X"),
                    named(75, "Wind 1 End Y"),
                    named(76, "Wind 1 Strength"),
                    named(77, "Wind 1 Tight"),
                    named(79, "Vortex 1 Center X"),
                    named(80, "Vortex 1 Center Y"),
                    named(81, "Vortex 1 Radius"),
                    named(82, "Vortex 1 Strength")};
  const Lines start_up = standin_log();
  EXPECT_EQ(start_up, expected);
  EXPECT_EQ(DL_Sync_Ctrl, 1);

  standin_clear_log();
  EXPECT_EQ(SparkClips(), 6);
  EXPECT_EQ(SparkMemoryTempBuffers(), standin_temp_base);
  EXPECT_EQ(TempID, standin_temp_base);
  EXPECT_EQ(SparkChannelEditor(), 1);
  // Every folder holds the controls its name promises: a control filed
  // under a wrong number shows another control's name.
  EXPECT_EQ(channel_editor_view(start_up, standin_log()),
            (Lines{"sparkMemRegisterBuffer() = 100",
                   "Viscosity: Viscosity",
                   "Swirl: Swirl",
                   "Diffusion: Diffusion",
                   "Dissipation: Dissipation Frames, Percent Left",
                   "Forces: Pressure Force, RiseFall, Source Strength, Sink Strength",
                   "Random: 15, EachRandom, Eddy Size",
                   "Gravity: GravForce, Gravity Direction",
                   "VelocityA: Centre A X, Centre A Y, Scale A X, Scale A Y, Velocity A Direction, Vel Add A",
                   "VelocityB: Centre B X, Centre B Y, Scale A B, Scale B Y, Velocity B Direction, Vel Add B",
                   "Wind1S: Wind 1 Start X, Wind 1 Start Y",
                   "Wind1E: Wind 1 End X, Wind 1 End Y",
                   "Wind1: Wind 1 Strength, Wind 1 Tight",
                   "Vortex1: Vortex 1 Center X, Vortex 1 Center Y, Vortex 1 Radius, Vortex 1 Strength",
                   "Common: 27, 93 flag 0"}));

  standin_clear_log();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(SparkClips(), 6);
    EXPECT_EQ(SparkProcessStart(), 1);
  }
  render_string();
  SparkUnInitialise(standin_info());
  EXPECT_EQ(standin_log(), (Lines{"sparkSaveSetup() = 0"}));
}

// An old API is reported and start-up goes on; depths 48 and 64 are
// 12-bit, 24 and 30 are not.
TEST_F(EffectTest, ApiVersionsAndDepths) {
  const struct {
    double api;
    int depth;
    bool error;
    const char* mode;
  } cases[] = {{4.0, 24, false, "... 8-10 bit mode selected.\n"},
               {3.9, 24, true, "... 8-10 bit mode selected.\n"},
               {4.0, 30, false, "... 8-10 bit mode selected.\n"},
               {4.0, 48, false, "... 12 bit mode selected.\n"},
               {4.1, 64, false, "... 12 bit mode selected.\n"}};
  for (const auto& c : cases) {
    standin_reset();
    standin_set_api_version(c.api);
    SparkHostInfo info = standin_info();
    info.frame_depth = c.depth;
    testing::internal::CaptureStdout();
    EXPECT_EQ(SparkInitialise(info), 2);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(standin_log_count("sparkError(This version of \"4-Tidewright\" needs IFFFS 7.0/4.0 "
                                "(sparks API 4.0) or higher.)"),
              c.error ? 1 : 0)
        << c.api;
    EXPECT_EQ(deep12, c.depth == 48 || c.depth == 64 ? 1 : 0) << c.depth;
    const std::string banner = std::string(51, '=') + "\nVeltrane TZ-V1.2.1 Orvalle 4-Tidewright for IFFFS  \n    UCAPI  Built ";
    EXPECT_EQ(out.compare(0, banner.size(), banner), 0) << out;
    EXPECT_NE(out.find("\n" + std::string(51, '=') + "\n" + c.mode + "Available buffers = 8\n" +
                       std::string(51, '+') + "\n\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(standin_log_count("sparkSetControlName"), 35);  // start-up went on
  }
}

// One free image buffer turns processing off until the library is loaded
// again: every frame is refused, with the cursor restored; two are enough.
TEST_F(EffectTest, TooFewImageBuffersTurnProcessingOff) {
  standin_set_free_buffers(1);
  testing::internal::CaptureStdout();
  StartUp(16, 8);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Available buffers = 1\n"), std::string::npos);
  EXPECT_NE(out.find("ERROR: we need 2 image buffers, but we only got 1.\n... Processing will be turned off ...\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(standin_log_count("sparkMessage(Insufficient image buffers available! Giving up!)"), 1);
  EXPECT_EQ(no_buffers, 1);
  for (unsigned frame = 0; frame < 2; ++frame) {
    const size_t before = standin_log().size();
    EXPECT_EQ(Process(frame), nullptr);
    EXPECT_EQ(LogFrom(before), (std::vector<std::string>{
                                   "sparkCursorBusy()",
                                   "sparkMessage( Q4-Tidewright cannot run due to insufficient buffers.)",
                                   "sparkViewingCursor(1)"}));
    EXPECT_EQ(standin_cursor(), 1);
  }
  standin_set_free_buffers(2);
  testing::internal::CaptureStdout();
  SparkInitialise(standin_info());
  EXPECT_EQ(testing::internal::GetCapturedStdout().find("ERROR"), std::string::npos);
  EXPECT_EQ(no_buffers, 0);
  EXPECT_EQ(Process(2), standin_buffer_pixels(1));
}
