// SparkProcess: buffers, preview scales, inputs converted only when read,
// the zeroed result, Blend, and every early return.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dl_image_exchange.h"
#include "effect_fixture.h"

namespace {

const int host_output = 1;

template <typename Sample>
std::vector<Sample> buffer_copy(int id) {
  const Sample* p = static_cast<const Sample*>(standin_buffer_pixels(id));
  return std::vector<Sample>(p, p + standin_frame_bytes() / sizeof(Sample));
}

}  // namespace

// Blend 100 gives back the input: exactly at 8 bits; at 12 bits the value
// bits come back and each output word keeps its own low host bits.
TEST_F(EffectTest, BlendOneHundredRoundTrips) {
  for (int depth : {24, 48, 64}) {
    SetUp();
    StartUp(37, 23, depth);
    SparkFloat27.value = 100.0f;
    const bool deep = depth != 24;
    if (deep) {
      uint16_t* out = static_cast<uint16_t*>(standin_buffer_pixels(host_output));
      for (size_t i = 0; i < standin_frame_bytes() / 2; ++i) out[i] = static_cast<uint16_t>(i % 16);
    }
    for (unsigned frame : {0u, 1u}) {
      ASSERT_EQ(Process(frame), standin_buffer_pixels(host_output)) << depth;
      if (deep) {
        const std::vector<uint16_t> in = buffer_copy<uint16_t>(2), out = buffer_copy<uint16_t>(host_output);
        for (size_t i = 0; i < in.size(); ++i)
          ASSERT_EQ(out[i], (in[i] & 0xFFF0) | (i % 16)) << depth << " at " << i;
      } else {
        EXPECT_EQ(buffer_copy<uint8_t>(host_output), buffer_copy<uint8_t>(2));
      }
    }
  }
}

// The result starts black, so outputs that write nothing (an item beyond
// the "Output" list) show black rather than what the memory held; Blend 50
// mixes the input with it evenly.
TEST_F(EffectTest, ResultStartsBlackAndBlendMixes) {
  StartUp(16, 9);
  SparkPup29.value = 6;
  std::memset(standin_buffer_pixels(host_output), 0xAB, standin_frame_bytes());
  ASSERT_NE(Process(0), nullptr);
  for (uint8_t v : buffer_copy<uint8_t>(host_output)) ASSERT_EQ(v, 0);
  SparkFloat27.value = 50.0f;
  ASSERT_NE(Process(1), nullptr);
  const std::vector<uint8_t> in = buffer_copy<uint8_t>(2), out = buffer_copy<uint8_t>(host_output);
  for (size_t i = 0; i < in.size(); ++i) {
    // 15-bit v << 7 | v >> 1, halved and truncated, back to 8 bits.
    const unsigned half = ((static_cast<unsigned>(in[i]) << 7 | in[i] >> 1) / 2) >> 7;
    ASSERT_EQ(out[i], half) << i;
  }
}

// "1/4" on a 2048 x 1556 frame works on a 512 x 390 preview (1556 / 4 =
// 389, rounded up to even) and fills the frame with 4 x 4 blocks, each the
// input pixel at column 4 m, row 2 + 4 k; an item beyond the list is FULL.
TEST_F(EffectTest, PreviewScales) {
  EXPECT_EQ(preview_size(2048, 4), 512);
  EXPECT_EQ(preview_size(1556, 4), 390);
  StartUp(2048, 1556);
  SparkFloat27.value = 100.0f;
  SparkPup33.value = 3;
  ASSERT_NE(Process(0), nullptr);
  const std::vector<uint8_t> in = buffer_copy<uint8_t>(2), out = buffer_copy<uint8_t>(host_output);
  for (int y = 0; y < 1556; y += 7) {
    for (int x = 0; x < 2048; x += 3) {
      const size_t o = (static_cast<size_t>(y) * 2048 + x) * 3;
      const size_t i = (static_cast<size_t>(2 + y / 4 * 4) * 2048 + x / 4 * 4) * 3;
      ASSERT_EQ(out[o] | out[o + 1] << 8 | out[o + 2] << 16, in[i] | in[i + 1] << 8 | in[i + 2] << 16)
          << x << "," << y;
    }
  }
  SparkPup33.value = 9;
  ASSERT_NE(Process(1), nullptr);
  EXPECT_EQ(buffer_copy<uint8_t>(host_output), buffer_copy<uint8_t>(2));
}

// Every input buffer is fetched, but only the inputs the frame reads are
// converted: Input always; BackG for outputs 2 and 3; Alt for buoyancy 3
// and 5; Sources and Sinks for their mode 3; Barrier with "Use Barriers"
// or output 6. Each conversion is one fork, the output one more.
TEST_F(EffectTest, ConvertsOnlyTheInputsTheFrameReads) {
  const struct {
    const char* what;
    std::function<void()> set;
    int converted;
  } cases[] = {
      {"defaults", [] {}, 1},
      {"over the background", [] { SparkPup29.value = 1; }, 2},
      {"matte", [] { SparkPup29.value = 2; }, 2},
      {"grid", [] { SparkPup29.value = 4; }, 1},
      {"barriers shown", [] { SparkPup29.value = 5; }, 2},
      {"alt luma", [] { SparkPup10.value = 2; }, 2},
      {"pressure input", [] { SparkPup10.value = 3; }, 1},
      {"pressure alt", [] { SparkPup10.value = 4; }, 2},
      {"self source and sink", [] { SparkPup66.value = SparkPup68.value = 1; }, 1},
      {"source clip", [] { SparkPup66.value = 2; }, 2},
      {"sink clip", [] { SparkPup68.value = 2; }, 2},
      {"barriers used", [] { SparkBoolean36.value = 1; }, 2},
      {"all six",
       [] {
         SparkPup29.value = 2;
         SparkPup10.value = 4;
         SparkPup66.value = SparkPup68.value = 2;
         SparkBoolean36.value = 1;
       },
       6},
  };
  for (const auto& c : cases) {
    SetUp();
    StartUp(12, 8);
    c.set();
    standin_clear_log();
    ASSERT_NE(Process(3), nullptr) << c.what;
    EXPECT_EQ(standin_log_count("sparkMpFork(5,"), c.converted + 1) << c.what;
    for (int id = 1; id <= 7; ++id)
      EXPECT_EQ(standin_log_count("sparkMemGetBuffer(" + std::to_string(id) + ") = 1"), 1) << c.what << id;
    EXPECT_EQ(standin_log_count("sparkMemGetBuffer(100) = 1"), 1) << c.what;
  }
}

// Every refused frame returns null with the cursor restored and touches no
// simulation state: a withheld or pixel-less buffer, a frame with a side
// below 1, a preview smaller than one pixel.
TEST_F(EffectTest, RefusedFramesRestoreTheCursor) {
  const struct {
    const char* what;
    int width, height, item;
    int withheld;  // buffer id, or 0
    int null_pixels;
  } cases[] = {
      {"no width", 0, 8, 0, 0, 0},        {"no height", 8, 0, 0, 0, 0},
      {"3 wide at 1/4", 3, 8, 3, 0, 0},   {"31 high at 1/32", 64, 31, 8, 0, 0},
      {"temporary withheld", 8, 8, 0, 100, 0}, {"sinks withheld", 8, 8, 0, 6, 0},
      {"output withheld", 8, 8, 0, 1, 0}, {"input without pixels", 8, 8, 0, 0, 2},
      {"barrier without pixels", 8, 8, 0, 0, 7}, {"output without pixels", 8, 8, 0, 0, 1},
  };
  for (const auto& c : cases) {
    SetUp();
    StartUp(8, 8);
    standin_set_frame(c.width, c.height, 24);
    SparkPup33.value = c.item;
    if (c.withheld) standin_withhold_buffer(c.withheld, true);
    if (c.null_pixels) standin_null_buffer_pixels(c.null_pixels, true);
    const size_t before = standin_log().size();
    EXPECT_EQ(Process(0), nullptr) << c.what;
    const std::vector<std::string> calls = LogFrom(before);
    EXPECT_EQ(calls.front(), "sparkCursorBusy()") << c.what;
    EXPECT_EQ(calls.back(), "sparkViewingCursor(1)") << c.what;
    EXPECT_EQ(standin_cursor(), 1) << c.what;
    EXPECT_EQ(standin_log_count("sparkMpFork"), 0) << c.what;  // nothing converted
    EXPECT_EQ(DL_Sync_Ctrl, 1) << c.what;  // the rules wait for a frame that runs
    EXPECT_EQ(Instance.restart, 1) << c.what;
    // The next frame with every buffer there renders.
    standin_set_frame(8, 8, 24);
    SparkPup33.value = 0;
    standin_withhold_buffer(c.withheld, false);
    standin_null_buffer_pixels(c.null_pixels, false);
    EXPECT_EQ(Process(1), standin_buffer_pixels(host_output)) << c.what;
  }
}

// The info record's process byte may be 0 or negative: the frame still
// runs on at least one process (bands for fewer processes than workers
// leave the extra workers idle). The frame numbers reach the effect.
TEST_F(EffectTest, ProcessCountAndFrameNumbers) {
  StartUp(20, 10);
  SparkFloat27.value = 100.0f;
  const struct {
    int byte;
    int processes;
  } cases[] = {{0, 1}, {-5, 1}, {-128, 1}, {2, 2}, {3, 3}};
  for (const auto& c : cases) {
    standin_set_processes(3);
    standin_set_info_procs_byte(c.byte);
    std::memset(standin_buffer_pixels(host_output), 0, standin_frame_bytes());
    ASSERT_NE(Process(9), nullptr) << c.byte;
    EXPECT_EQ(DLnumProc, c.processes) << c.byte;
    EXPECT_EQ(buffer_copy<uint8_t>(host_output), buffer_copy<uint8_t>(2)) << c.byte;
  }
  EXPECT_EQ(Instance.frame, 9.0);
  EXPECT_EQ(Instance.frame_next, 10.0);
  EXPECT_EQ(Instance.pen_pressure, 0.0f);
  EXPECT_EQ(DLwidth, 20);
  EXPECT_EQ(DLheight, 10);
}

// The first frame after start-up shows and hides the dependent controls
// once, in the rules' order (worked out by hand for the defaults); later
// frames leave the panel alone.
TEST_F(EffectTest, FirstFrameAppliesTheRulesAtTheDefaults) {
  StartUp(8, 8);
  standin_clear_log();
  ASSERT_NE(Process(0), nullptr);
  std::vector<std::string> shown_or_hidden;
  for (const std::string& line : standin_log())
    if (line.find("Parameter(") != std::string::npos) shown_or_hidden.push_back(line);
  std::vector<std::string> expected;
  for (int n : {72, 73, 74, 75, 76, 77, 65, 79, 80, 81, 82, 24, 21, 22, 43, 44, 45, 46, 47, 48, 50,
                51, 52, 53, 54, 55, 37, 39, 40})
    expected.push_back("sparkDisableParameter(1, " + std::to_string(n) + ")");
  expected.push_back("sparkEnableParameter(1, 11)");
  for (int n : {12, 17, 69, 67}) expected.push_back("sparkDisableParameter(1, " + std::to_string(n) + ")");
  EXPECT_EQ(shown_or_hidden, expected);
  EXPECT_EQ(DL_Sync_Ctrl, 0);
  standin_clear_log();
  ASSERT_NE(Process(1), nullptr);
  EXPECT_EQ(standin_log_count("sparkDisableParameter") + standin_log_count("sparkEnableParameter"), 0);
}

// An allocation that fails at any point of the frame, the images' or the
// simulation's, is reported, frees everything the call made, asks for a
// restart and returns null; the next frame then renders as a first frame
// does. "Matte" with self sources and sinks and the input's buoyancy makes
// a restart frame run every stage.
TEST_F(EffectTest, FailedAllocationsReturnNullAndRestart) {
  StartUp(24, 16);
  SparkPup29.value = 2;
  SparkPup66.value = SparkPup68.value = 1;
  SparkFloat67.value = 0.5f;
  SparkFloat69.value = 0.25f;
  ASSERT_NE(Process(7), nullptr);
  const std::vector<uint8_t> first_frame = buffer_copy<uint8_t>(host_output);
  int image_failures = 0, simulation_failures = 0;
  bool made = false;
  for (int grants = 0; grants < 400 && !made; ++grants) {
    Instance.DropSimulation();
    standin_clear_log();
    {
      CountingHeaps heaps(grants);
      made = Process(7) != nullptr;
      // A frame made holds the simulation; let it go to count the rest.
      if (made) Instance.DropSimulation();
      EXPECT_EQ(heaps.out(), 0) << grants;  // every block given back
    }
    EXPECT_EQ(standin_log().back(), "sparkViewingCursor(1)") << grants;
    if (made) {
      EXPECT_EQ(standin_log_count("sparkError"), 0) << grants;
      EXPECT_EQ(buffer_copy<uint8_t>(host_output), first_frame) << grants;
      break;
    }
    image_failures += standin_log_count("sparkError(4-Tidewright: not enough memory for the frame images.)");
    simulation_failures += standin_log_count("sparkError(4-Tidewright: not enough memory for the simulation.)");
    EXPECT_EQ(Instance.restart, 1) << grants;
    EXPECT_EQ(Instance.simulation, nullptr) << grants;
    EXPECT_EQ(Instance.texture, nullptr) << grants;
    // The next frame starts afresh, as the first did.
    ASSERT_EQ(Process(7), standin_buffer_pixels(host_output)) << grants;
    EXPECT_EQ(buffer_copy<uint8_t>(host_output), first_frame) << grants;
  }
  EXPECT_TRUE(made);
  EXPECT_EQ(image_failures, 6);  // a pixel block and a row table for each image
  EXPECT_GT(simulation_failures, 10);
}
