// ProcessFrame: rates against values worked out here, the first frames of
// each output, the restart rules, the busy setup on any worker count, and
// the frame entry's lazy conversion against a naive entry that converts
// all six inputs.
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dl_image_exchange.h"
#include "effect_fixture.h"
#include "fluid_flow.h"

namespace {

const int host_output = 1;

std::vector<uint8_t> host_bytes(int id) {
  const uint8_t* p = static_cast<const uint8_t*>(standin_buffer_pixels(id));
  return std::vector<uint8_t>(p, p + standin_frame_bytes());
}

// The busy setup (every force, sources, sinks, barriers, diffusion and
// dissipation, over the background) as the host loads it at start-up.
const std::string busy_setup = std::string(TIDEWRIGHT_SETUPS) + "/busy.setup";

// A host without the frame entry's economies: every input converted by the
// framework's plain conversion, the result left holding a pattern rather
// than black, then the driver, Blend and the conversion out.
void* process_converting_all_six(unsigned frame) {
  standin_set_frame_number(frame);
  for (int clip = 0; clip < 6; ++clip) standin_fill_buffer(clip + 2, clip, static_cast<int>(frame));
  const int w = standin_frame_width(), h = standin_frame_height();
  DLwidth = w;
  DLheight = h;
  DLscalesr = 1;
  DLnumProc = standin_processes();
  Instance.frame = frame;
  Instance.LoadControls();
  SourceQ4* sources[6] = {&Instance.Input, &Instance.BackG, &Instance.Alt,
                          &Instance.Sources, &Instance.Sinks, &Instance.Barrier};
  for (int clip = 0; clip < 6; ++clip)
    sources[clip]->image = ConvertFromDLImage8(standin_buffer_pixels(clip + 2), w, h, 1.0, 1, nullptr, 1);
  ImageQ4* result = new ImageQ4(w, h, 1.0f, nullptr, nullptr);
  result->Fill(1234, 4321, 777, 99);
  Instance.Result.image = result;
  if (DL_Sync_Ctrl == 1) {
    Instance.SyncControls();
    DL_Sync_Ctrl = 0;
  }
  Instance.ProcessFrame();
  if (SparkFloat27.value > 0.0f) result->InBlend(SparkFloat27.value / 100.0f, Instance.Input.image);
  ConvertToDLImage8(result, standin_buffer_pixels(host_output), w, h, 1);
  for (SourceQ4* source : sources) {
    delete source->image;
    source->image = nullptr;
  }
  delete result;
  Instance.Result.image = nullptr;
  return Instance.frame_failed ? nullptr : standin_buffer_pixels(host_output);
}

}  // namespace

// Each rate against its definition worked out independently: viscosity
// 10^(3 v - 3), the fade r with (1 + r)^N = 100 / percent, diffusion 0.05 d,
// the buoyancy weights a hundredth of a tenth of RiseFall, up or down; and
// the simulation holds what the effect worked out.
TEST_F(EffectTest, RatesAgainstWorkedValues) {
  const struct {
    const char* what;
    std::function<void()> set;
    double viscosity, dissipation, diffusion, fall, rise, source, sink;
  } cases[] = {
      {"defaults", [] {}, std::pow(10.0, -2.97), 0.0, 0.0, 0.0, 0.001, 0.0, 0.0},
      {"viscosity 1", [] { SparkFloat7.value = 1.0f; }, 1.0, 0.0, 0.0, 0.0, 0.001, 0.0, 0.0},
      {"50 frames to 1 %",
       [] {
         SparkBoolean20.value = 1;
         SparkInt21.value = 50;
         SparkFloat22.value = 1.0f;
       },
       std::pow(10.0, -2.97), std::pow(100.0, 1.0 / 50) - 1.0, 0.0, 0.0, 0.001, 0.0, 0.0},
      {"unticked dissipation", [] { SparkInt21.value = 7; }, std::pow(10.0, -2.97), 0.0, 0.0, 0.0, 0.001, 0.0, 0.0},
      {"10 frames to 50 %",
       [] {
         SparkBoolean20.value = 1;
         SparkInt21.value = 10;
         SparkFloat22.value = 50.0f;
       },
       std::pow(10.0, -2.97), std::pow(2.0, 0.1) - 1.0, 0.0, 0.0, 0.001, 0.0, 0.0},
      {"diffusion 0.4", [] { SparkFloat24.value = 0.4f; }, std::pow(10.0, -2.97), 0.0, 0.02, 0.0, 0.001, 0.0, 0.0},
      {"RiseFall -2", [] { SparkFloat11.value = -2.0f; }, std::pow(10.0, -2.97), 0.0, 0.0, 0.002, 0.0, 0.0, 0.0},
      {"RiseFall 2", [] { SparkFloat11.value = 2.0f; }, std::pow(10.0, -2.97), 0.0, 0.0, 0.0, 0.002, 0.0, 0.0},
      {"sources and sinks",
       [] {
         SparkFloat67.value = 0.25f;
         SparkFloat69.value = 0.75f;
       },
       std::pow(10.0, -2.97), 0.0, 0.0, 0.0, 0.001, 0.25, -0.75},
  };
  float fifty_frames_to_one_percent = -1.0f;
  for (const auto& c : cases) {
    SetUp();
    StartUp(20, 12);
    c.set();
    ASSERT_NE(Process(0), nullptr) << c.what;
    ASSERT_NE(Process(1), nullptr) << c.what;  // the first step hands the rates over
    const FluidFlow& flow = *Instance.simulation;
    EXPECT_NEAR(Instance.viscosity, c.viscosity, c.viscosity * 1e-6) << c.what;
    EXPECT_NEAR(Instance.texture_dissipation_rate, c.dissipation, 1e-5) << c.what;
    EXPECT_NEAR(Instance.texture_diffusion_rate, c.diffusion, 1e-8) << c.what;
    EXPECT_NEAR(Instance.source_strength, c.source, 1e-7) << c.what;
    EXPECT_NEAR(Instance.sink_strength, c.sink, 1e-7) << c.what;
    EXPECT_EQ(flow.viscosity, Instance.viscosity) << c.what;
    EXPECT_EQ(flow.texture_dissipation, Instance.texture_dissipation_rate) << c.what;
    EXPECT_EQ(flow.texture_diffusion, Instance.texture_diffusion_rate) << c.what;
    EXPECT_NEAR(flow.density_coefficient, c.fall, 1e-9) << c.what;
    EXPECT_NEAR(flow.temperature_coefficient, c.rise, 1e-9) << c.what;
    if (std::string(c.what) == "50 frames to 1 %") fifty_frames_to_one_percent = flow.texture_dissipation;
  }
  // The rate the simulation fades by is the figure the panel's help quotes:
  // about 0.0965 a frame.
  EXPECT_NEAR(fifty_frames_to_one_percent, 0.0965, 5e-5);
}

// "Result": the first frame is the input itself and the next shows the
// first step of the flow. "Grid": built and stepped at once, every byte
// the light or the dark square (0.7 and 0.2 of full, 22936 >> 7 and
// 6553 >> 7), both present; the picture carried along stays where it was,
// and switching back to "Result" goes on from it. "Barriers": the barrier
// clip, or black while "Use Barriers" has no field until a restart.
TEST_F(EffectTest, FirstFramesOfTheOutputs) {
  StartUp(40, 24);
  ASSERT_NE(Process(3), nullptr);
  EXPECT_EQ(host_bytes(host_output), host_bytes(2));
  ASSERT_NE(Process(4), nullptr);
  EXPECT_NE(host_bytes(host_output), host_bytes(2));

  SetUp();
  StartUp(40, 24);
  SparkPup29.value = 4;
  for (unsigned frame = 0; frame < 3; ++frame) {
    ASSERT_NE(Process(frame), nullptr);
    ASSERT_NE(Instance.simulation, nullptr);
    double total, velocity, scalar;
    int solves = 0;
    EXPECT_TRUE(Instance.simulation->get_ats_timing_info(total, velocity, scalar, solves));
    int light = 0, dark = 0;
    for (uint8_t v : host_bytes(host_output)) {
      light += v == 179;
      dark += v == 51;
    }
    EXPECT_EQ(light + dark, 40 * 24 * 3) << frame;
    EXPECT_GT(light, 0);
    EXPECT_GT(dark, 0);
  }
  // The texture still holds the clip of the restart frame (frame 0).
  standin_fill_buffer(2, 0, 0);
  const std::vector<uint8_t> restart_input = host_bytes(2);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 40; ++x) {
      const PixelQ4& p = Instance.texture->rows[y][x];
      const size_t at = (static_cast<size_t>(y) * 40 + x) * 3;
      ASSERT_EQ(p.r >> 7, restart_input[at]) << x << "," << y;
      ASSERT_EQ(p.b >> 7, restart_input[at + 2]) << x << "," << y;
    }
  SparkPup29.value = 0;
  ASSERT_NE(Process(3), nullptr);
  EXPECT_NE(host_bytes(host_output), host_bytes(2));

  SparkPup29.value = 5;
  ASSERT_NE(Process(4), nullptr);
  EXPECT_EQ(host_bytes(host_output), host_bytes(7));
  SparkBoolean36.value = 1;  // no barrier field until the next restart
  ASSERT_NE(Process(5), nullptr);
  for (uint8_t v : host_bytes(host_output)) ASSERT_EQ(v, 0);
  Instance.restart = 1;
  ASSERT_NE(Process(6), nullptr);
  EXPECT_NE(host_bytes(host_output), std::vector<uint8_t>(standin_frame_bytes(), 0));
}

// A restart comes with the restart flag, "Restart On Process" (once: the
// box is cleared in the host) or a new preview size. What is taken only at
// a restart (grid, random type, initial random velocity, eddy size) changes
// nothing before one: the frames match a run without the changes.
TEST_F(EffectTest, RestartRules) {
  auto run = [&](bool change_midway) {
    SetUp();
    StartUp(32, 20);
    SparkFloat16.value = 0.05f;  // the random force shows which type runs
    std::vector<std::vector<uint8_t>> frames;
    for (unsigned frame = 0; frame < 4; ++frame) {
      if (frame == 1 && change_midway) {
        SparkBoolean18.value = 1;
        SparkPup14.value = 1;
        SparkFloat15.value = 0.5f;
        SparkFloat17.value = 4.0f;
      }
      EXPECT_NE(Process(frame), nullptr);
      frames.push_back(host_bytes(host_output));
    }
    return frames;
  };
  const std::vector<std::vector<uint8_t>> plain = run(false);
  EXPECT_EQ(run(true), plain);
  EXPECT_EQ(Instance.grid_width, 128);
  EXPECT_EQ(Instance.random_type, 1);
  EXPECT_NE(plain[2], plain[3]);

  // The restart flag (as the restart buttons set it) takes them up; a
  // restart frame of "Result" is the input.
  Instance.restart = 1;
  ASSERT_NE(Process(4), nullptr);
  EXPECT_EQ(host_bytes(host_output), host_bytes(2));
  EXPECT_EQ(Instance.grid_width, 256);
  EXPECT_EQ(Instance.grid_height, 256);
  EXPECT_EQ(Instance.random_type, 2);
  ASSERT_NE(Process(5), nullptr);
  EXPECT_NE(host_bytes(host_output), host_bytes(2));

  // "Restart On Process" restarts the next frame and clears itself.
  SparkBoolean13.value = 1;
  standin_clear_log();
  ASSERT_NE(Process(6), nullptr);
  EXPECT_EQ(host_bytes(host_output), host_bytes(2));
  EXPECT_EQ(SparkBoolean13.value, 0);
  EXPECT_EQ(Instance.c13.value, 0);
  EXPECT_EQ(standin_log_count("sparkControlUpdate(13)"), 1);
  ASSERT_NE(Process(7), nullptr);
  EXPECT_NE(host_bytes(host_output), host_bytes(2));

  // "1/2": a 16 x 10 simulation whose first frame is the input at every
  // second pixel of every second row, starting at row 1.
  SparkPup33.value = 1;
  ASSERT_NE(Process(8), nullptr);
  EXPECT_EQ(Instance.restart_width, 16);
  EXPECT_EQ(Instance.restart_height, 10);
  const std::vector<uint8_t> in = host_bytes(2), out = host_bytes(host_output);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 32; ++x)
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(out[(y * 32 + x) * 3 + c], in[((1 + y / 2 * 2) * 32 + x / 2 * 2) * 3 + c]) << x << "," << y;
}

// A host that withholds the Sinks buffer on the first frame gets nothing,
// and every block the call took is back; the next frame builds the
// simulation and shows the input.
TEST_F(EffectTest, SinksWithheldOnTheFirstFrame) {
  StartUp(24, 16);
  standin_withhold_buffer(6, true);
  {
    CountingHeaps heaps(1 << 30);
    EXPECT_EQ(Process(1), nullptr);
    EXPECT_EQ(heaps.out(), 0);
  }
  EXPECT_EQ(Instance.simulation, nullptr);
  EXPECT_EQ(Instance.restart, 1);
  standin_withhold_buffer(6, false);
  ASSERT_EQ(Process(2), standin_buffer_pixels(host_output));
  EXPECT_NE(Instance.simulation, nullptr);
  EXPECT_EQ(Instance.restart, 0);
  EXPECT_EQ(Instance.restart_width, 24);
  EXPECT_EQ(host_bytes(host_output), host_bytes(2));
}

// The busy setup renders the same bytes on 1, 3 and 8 workers, frame after
// frame (uneven bands: 37 rows; the 128 grid splits evenly or not).
TEST_F(EffectTest, BusySetupIsTheSameOnAnyWorkerCount) {
  std::vector<std::vector<uint8_t>> serial;
  for (int workers : {1, 3, 8}) {
    SetUp();
    RegisterControls();
    standin_set_setup_paths(busy_setup, "");
    standin_set_processes(workers);
    testing::internal::CaptureStdout();
    StartUp(61, 37);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(standin_setup_error(), "");
    ASSERT_EQ(SparkPup29.value, 1);  // the setup is in force
    ASSERT_EQ(SparkBoolean36.value, 1);
    for (unsigned frame = 0; frame < 5; ++frame) {
      ASSERT_NE(Process(frame), nullptr) << workers;
      if (workers == 1) {
        serial.push_back(host_bytes(host_output));
      } else {
        EXPECT_EQ(host_bytes(host_output), serial[frame]) << workers << " workers, frame " << frame;
      }
    }
  }
  EXPECT_NE(serial[3], serial[4]);
}

// Converting only what the frame reads gives the same frames as converting
// all six inputs, for every output, buoyancy, source and sink mode (each
// varied on top of the busy setup), and every output writes every pixel.
TEST_F(EffectTest, LazyConversionMatchesConvertingAllSix) {
  struct Case {
    std::string what;
    std::function<void()> set;
  };
  std::vector<Case> cases;
  auto item_cases = [&](const char* what, SparkPup& list, int items) {
    for (int item = 0; item < items; ++item)
      cases.push_back({what + std::to_string(item + 1), [&list, item] { list.value = item; }});
  };
  item_cases("output ", SparkPup29, 7);  // 7: beyond the list, nothing drawn
  cases.push_back({"barriers shown, unused", [] {
                     SparkBoolean36.value = 0;
                     SparkPup29.value = 5;
                   }});
  item_cases("buoyancy ", SparkPup10, 5);
  item_cases("source ", SparkPup66, 3);
  item_cases("sink ", SparkPup68, 3);
  for (const Case& c : cases) {
    std::vector<std::vector<uint8_t>> frames[2];
    for (int naive = 0; naive < 2; ++naive) {
      SetUp();
      RegisterControls();
      standin_set_setup_paths(busy_setup, "");
      standin_set_processes(3);
      testing::internal::CaptureStdout();
      StartUp(29, 18);
      testing::internal::GetCapturedStdout();
      c.set();
      for (unsigned frame = 0; frame < 3; ++frame) {
        void* out = naive ? process_converting_all_six(frame) : Process(frame);
        ASSERT_EQ(out, standin_buffer_pixels(host_output)) << c.what;
        frames[naive].push_back(host_bytes(host_output));
      }
    }
    EXPECT_EQ(frames[0], frames[1]) << c.what;
  }
}
