#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "standin_host.h"

namespace {

class StandinTest : public ::testing::Test {
 protected:
  void SetUp() override { standin_reset(); }
};

std::mutex seen_mutex;
std::set<unsigned long> seen_indices;
std::set<std::thread::id> seen_threads;
std::atomic<int> returned{0};

void note_worker(void* tag) {
  unsigned long a = 0, b = 0;
  sparkMpInfo(&a, &b);
  std::lock_guard<std::mutex> lock(seen_mutex);
  seen_indices.insert(a / b);
  seen_threads.insert(std::this_thread::get_id());
  ++*static_cast<std::atomic<int>*>(tag);
}

void fork_inside(void* counter) {
  sparkMpFork(reinterpret_cast<SparkMpRoutine>(&note_worker), 1, counter);
}

void* args_seen[6];
void six_args(void* a, void* b, void* c, void* d, void* e, void* f) {
  unsigned long i = 0, n = 1;
  sparkMpInfo(&i, &n);
  if (i / n != 0) return;
  void* all[6] = {a, b, c, d, e, f};
  std::memcpy(args_seen, all, sizeof all);
}

std::string chosen;
void remember_path(const char* path) { chosen = path; }

std::string run(const std::string& command, int& status) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    status = -1;
    return output;
  }
  char chunk[512];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
  status = pclose(pipe);
  return output;
}

// A file of the test's throw-away home folder.
std::string home_file(const char* name) {
  return (std::filesystem::path(std::getenv("Q4_HOME_DIR")) / name).string();
}

// Runs the host program with the given options on the test plug-in.
std::string run_host(const std::string& options, int& status) {
  return run(std::string(TIDEWRIGHT_HOST_PATH) + " " + options + " " + STANDIN_TEST_PLUGIN_PATH, status);
}

}  // namespace

TEST_F(StandinTest, ForkRunsConcurrentWorkersWithDistinctIndices) {
  for (int workers : {1, 3, 8}) {
    standin_set_processes(workers);
    seen_indices.clear();
    seen_threads.clear();
    std::atomic<int> count{0};
    EXPECT_EQ(sparkMpFork(reinterpret_cast<SparkMpRoutine>(&note_worker), 1, static_cast<void*>(&count)),
              workers);
    EXPECT_EQ(count.load(), workers);  // all returned before the fork did
    EXPECT_EQ(seen_indices.size(), static_cast<size_t>(workers));
    EXPECT_EQ(*seen_indices.rbegin(), static_cast<unsigned long>(workers - 1));
    EXPECT_EQ(seen_threads.size(), static_cast<size_t>(workers));
  }
  // A worker may fork again: the inner fork runs its workers on that thread.
  standin_set_processes(3);
  std::atomic<int> inner{0};
  sparkMpFork(reinterpret_cast<SparkMpRoutine>(&fork_inside), 1, static_cast<void*>(&inner));
  EXPECT_EQ(inner.load(), 9);
  int values[6];
  sparkMpFork(reinterpret_cast<SparkMpRoutine>(&six_args), 6, &values[0], &values[1], &values[2],
              &values[3], &values[4], &values[5]);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(args_seen[i], &values[i]);
  EXPECT_EQ(sparkMpFork(nullptr, 1, nullptr), 0);
  EXPECT_EQ(sparkMpFork(reinterpret_cast<SparkMpRoutine>(&note_worker), 7, nullptr), 0);
  unsigned long a = 9, b = 9;
  sparkMpInfo(&a, &b);  // outside a worker: index 0
  EXPECT_EQ(a / b, 0u);
  standin_set_processes(0);
  EXPECT_EQ(standin_processes(), 1);
}

TEST_F(StandinTest, BuffersForClipsAndTemporaries) {
  SparkMemBuf buffer;
  EXPECT_EQ(sparkMemGetBuffer(1, &buffer), 0);  // no frame yet
  standin_set_frame(5, 3, 24);
  for (int id = 1; id <= 7; ++id) {
    ASSERT_EQ(sparkMemGetBuffer(id, &buffer), 1);
    EXPECT_EQ(buffer.buffer, standin_buffer_pixels(id));
    EXPECT_EQ(buffer.size, 5u * 3u * 3u);
    EXPECT_EQ(buffer.stride, 15);
  }
  const int temp = sparkMemRegisterBuffer();
  EXPECT_EQ(sparkMemGetBuffer(temp, &buffer), 1);
  standin_withhold_buffer(6, true);
  EXPECT_EQ(sparkMemGetBuffer(6, &buffer), 0);
  standin_withhold_buffer(6, false);
  EXPECT_EQ(sparkMemGetBuffer(6, &buffer), 1);
  EXPECT_EQ(sparkMemGetBuffer(8, &buffer), 0);
  standin_set_frame(5, 3, 48);  // 12-bit: three 16-bit words a pixel
  ASSERT_EQ(sparkMemGetBuffer(temp, &buffer), 1);
  EXPECT_EQ(buffer.size, 5u * 3u * 6u);
  EXPECT_EQ(buffer.depth, 48);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer.buffer) % 2, 0u);
  EXPECT_EQ(standin_log_count("sparkMemGetBuffer(6) = 0"), 1);

  SparkHostInfo info = standin_info();
  EXPECT_EQ(info.frame_width, 5);
  EXPECT_EQ(info.frame_height, 3);
  EXPECT_EQ(info.frame_depth, 48);
  EXPECT_EQ(info.num_procs, 1);
  SparkGraphInfo graph;
  standin_set_pixel_aspect(1.5f);
  sparkGraphSetup(&graph);
  EXPECT_EQ(graph.pixel_aspect, 1.5f);
}

TEST_F(StandinTest, FramesComeFromTheSource) {
  standin_set_frame(4, 2, 24);
  std::vector<uint8_t> frame(4 * 2 * 3);
  EXPECT_EQ(sparkGetFrame(2, 9, frame.data()), 1);
  EXPECT_EQ(frame[(1 * 4 + 3) * 3 + 1], standin_pattern_value(2, 9, 3, 1, 1, false));
  EXPECT_EQ(standin_log_count("sparkGetFrame(2, 9)"), 1);
  standin_set_frame(4, 2, 48);
  std::vector<uint16_t> deep(4 * 2 * 3);
  sparkGetFrame(0, 1, deep.data());
  EXPECT_EQ(deep[5], standin_pattern_value(0, 1, 1, 0, 2, true));
  EXPECT_EQ(sparkGetFrame(0, 1, nullptr), 0);
  ASSERT_TRUE(standin_fill_buffer(3, 1, 4));
  EXPECT_EQ(static_cast<uint16_t*>(standin_buffer_pixels(3))[0], standin_pattern_value(1, 4, 0, 0, 0, true));
}

// Depth 64 is 12-bit as much as 48: three 16-bit words a pixel in every
// buffer, its descriptor and the frames loaded into it.
TEST_F(StandinTest, DepthSixtyFourIsTwelveBit) {
  ASSERT_TRUE(standin_set_frame(5, 3, 64));
  EXPECT_TRUE(standin_deep12());
  EXPECT_EQ(standin_frame_bytes(), 5u * 3u * 6u);
  const int temp = sparkMemRegisterBuffer();
  for (int id : {1, 7, temp}) {
    SparkMemBuf buffer;
    ASSERT_EQ(sparkMemGetBuffer(id, &buffer), 1) << id;
    EXPECT_EQ(buffer.depth, 48);
    EXPECT_EQ(buffer.bytes_per_pixel, 6);
    EXPECT_EQ(buffer.stride, 30);
    EXPECT_EQ(buffer.size, 90u);
  }
  EXPECT_EQ(standin_info().frame_depth, 64);

  // The last pixel's words lie beyond what an 8-bit layout would hold.
  ASSERT_TRUE(standin_fill_buffer(4, 2, 6));
  const uint16_t* words = static_cast<const uint16_t*>(standin_buffer_pixels(4));
  for (int c = 0; c < 3; ++c)
    EXPECT_EQ(words[(2 * 5 + 4) * 3 + c], standin_pattern_value(2, 6, 4, 2, c, true)) << c;
  bool source_deep12 = false;
  standin_set_frame_source([&](int, int, void*, int, int, bool deep12) { source_deep12 = deep12; });
  std::vector<uint16_t> frame(5 * 3 * 3);
  EXPECT_EQ(sparkGetFrame(0, 0, frame.data()), 1);
  EXPECT_TRUE(source_deep12);

  ASSERT_TRUE(standin_set_frame(5, 3, 24));  // and back to 8-bit
  EXPECT_FALSE(standin_deep12());
  EXPECT_EQ(standin_frame_bytes(), 5u * 3u * 3u);
}

TEST_F(StandinTest, OtherDepthsAreRefused) {
  ASSERT_TRUE(standin_set_frame(4, 2, 48));
  for (int depth : {0, 8, 16, 32, 36, 47, 63, -48}) {
    EXPECT_FALSE(standin_set_frame(9, 9, depth)) << depth;
    // Nothing changed: still the 4 x 2 12-bit frame.
    EXPECT_EQ(standin_frame_width(), 4);
    EXPECT_EQ(standin_frame_height(), 2);
    EXPECT_TRUE(standin_deep12());
    EXPECT_EQ(standin_info().frame_depth, 48);
    SparkMemBuf buffer;
    ASSERT_EQ(sparkMemGetBuffer(1, &buffer), 1);
    EXPECT_EQ(buffer.size, 4u * 2u * 6u);
  }
}

// The process byte at 4148 can be scripted apart from the workers: the
// host may present 0, a negative count or a wrapped one.
TEST_F(StandinTest, ScriptedProcessByte) {
  standin_set_processes(3);
  EXPECT_EQ(standin_info().num_procs, 3);
  standin_set_processes(500);
  EXPECT_EQ(standin_info().num_procs, 127);  // the unscripted byte is capped
  standin_set_processes(3);
  const struct {
    int raw;
    int8_t byte;
  } cases[] = {{0, 0}, {-5, -5}, {-128, -128}, {200, -56}, {259, 3}, {255, -1}, {127, 127}};
  for (const auto& c : cases) {
    standin_set_info_procs_byte(c.raw);
    const SparkHostInfo info = standin_info();
    unsigned char bytes[sizeof info];
    std::memcpy(bytes, &info, sizeof info);
    EXPECT_EQ(static_cast<int8_t>(bytes[4148]), c.byte) << c.raw;
    EXPECT_EQ(standin_processes(), 3);  // the workers stay as they were
    std::atomic<int> count{0};
    EXPECT_EQ(sparkMpFork(reinterpret_cast<SparkMpRoutine>(&note_worker), 1, static_cast<void*>(&count)),
              3);
    EXPECT_EQ(count.load(), 3);
  }
  standin_set_processes(5);  // a scripted byte outlives a new worker count
  EXPECT_EQ(standin_info().num_procs, 127);
  standin_reset();
  EXPECT_EQ(standin_info().num_procs, 1);
}

TEST_F(StandinTest, CurvesInterpolateBetweenKeys) {
  SparkFloat record = {0.75f, 0.0f, 1.0f, 0.1f, 0, "X: %f", nullptr};
  standin_register_control(12, standin_float, &record);
  EXPECT_FLOAT_EQ(sparkGetCurveValuef(1, 12, 3.0f), 0.75f);  // no keys: the value
  EXPECT_FLOAT_EQ(sparkGetCurveValuef(1, 99, 3.0f), 0.0f);
  sparkSetCurveKey(0, 12, 0, 0.0f);
  sparkSetCurveKey(0, 12, 10, 5.0f);
  sparkSetCurveKey(0, 12, 20, 1.0f);
  EXPECT_FLOAT_EQ(sparkGetCurveValuef(1, 12, 4.0f), 2.0f);
  EXPECT_FLOAT_EQ(sparkGetCurveValuef(1, 12, 10.0f), 5.0f);
  EXPECT_FLOAT_EQ(sparkGetCurveValuef(1, 12, 12.5f), 4.0f);
  EXPECT_FLOAT_EQ(sparkGetCurveValuef(1, 12, -3.0f), 0.0f);
  EXPECT_FLOAT_EQ(sparkGetCurveValuef(1, 12, 50.0f), 1.0f);
  EXPECT_EQ(standin_curve_keys(12).size(), 3u);
}

TEST_F(StandinTest, SetupFileRoundTrip) {
  SparkFloat f = {0.125f, 0, 1, 0.1f, 0, "F", nullptr};
  SparkInt i = {42, 0, 100, 1, 0, "I", nullptr};
  SparkBoolean b = {1, "B", nullptr};
  SparkPup p = {3, 5, nullptr, {"a", "b", "c", "d", "e"}};
  standin_register_control(7, standin_float, &f);
  standin_register_control(21, standin_int, &i);
  standin_register_control(23, standin_boolean, &b);
  standin_register_control(10, standin_pup, &p);
  sparkSetCurveKey(0, 7, 4, 0.5f);
  EXPECT_EQ(sparkSaveSetup(nullptr), 0);  // no setup file chosen
  const std::string path = home_file("standin.setup");
  standin_set_setup_path(path);
  SparkHostInfo info = standin_info();
  ASSERT_EQ(sparkSaveSetup(&info), 1);
  f.value = 0.9f;
  i.value = 1;
  b.value = 0;
  p.value = 0;
  sparkSetCurveKey(0, 7, 8, 0.25f);
  ASSERT_EQ(sparkLoadSetup(&info), 1);
  EXPECT_EQ(f.value, 0.125f);
  EXPECT_EQ(i.value, 42);
  EXPECT_EQ(b.value, 1);
  EXPECT_EQ(p.value, 3);
  EXPECT_EQ(standin_curve_keys(7), (std::vector<std::pair<int, float>>{{4, 0.5f}}));
  standin_set_setup_path(path + ".missing");
  EXPECT_EQ(sparkLoadSetup(&info), 0);
}

TEST_F(StandinTest, ScriptedAnswersAndDialogue) {
  EXPECT_EQ(sparkAPIVersionInfo(), 4.0);
  standin_set_api_version(3.9);
  EXPECT_EQ(sparkAPIVersionInfo(), 3.9);
  standin_set_free_buffers(1);
  EXPECT_EQ(sparkMemGetFreeMemory(), 1);
  standin_set_viewer_ratio(0.5f);
  EXPECT_EQ(sparkGetViewerRatio(), 0.5f);
  standin_push_confirm_answer(1);
  standin_push_confirm_answer(0);
  EXPECT_EQ(sparkMessageConfirm("Sure?"), 1);
  EXPECT_EQ(sparkMessageConfirm("Sure?"), 0);
  EXPECT_EQ(sparkMessageConfirm("Sure?"), 0);  // nothing queued: no
  sparkError("bad");
  sparkMessage("hello");
  sparkDisableParameter(1, 40);
  EXPECT_TRUE(standin_control_hidden(40));
  sparkEnableParameter(1, 40);
  EXPECT_FALSE(standin_control_hidden(40));
  sparkCursorBusy();
  EXPECT_EQ(standin_cursor(), 0);
  sparkViewingCursor(14);
  EXPECT_EQ(standin_cursor(), 14);
  int draws = 0;
  standin_set_viewing_draw_hook([&draws] { ++draws; });
  sparkViewingDraw();
  EXPECT_EQ(draws, 1);
  sparkControlTitle(3, "Import AIFF");
  sparkClipControlTitle(0, "Input");
  sparkSetControlName(1, 7, "Viscosity");
  sparkCeAddFolder(1, "Swirl");
  sparkCeAddControl(2, 1, 8);
  sparkControlUpdate(8);
  const std::vector<std::string> log = standin_log();
  const std::vector<std::string> tail(log.end() - 6, log.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"sparkControlTitle(3, Import AIFF)",
                                            "sparkClipControlTitle(0, Input)",
                                            "sparkSetControlName(1, 7, Viscosity)",
                                            "sparkCeAddFolder(1, Swirl)",
                                            "sparkCeAddControl(2, 1, 8)",
                                            "sparkControlUpdate(8)"}));
  EXPECT_EQ(standin_log_count("sparkError(bad)"), 1);
  EXPECT_EQ(standin_log_count("sparkMessageConfirm(Sure?) = 0"), 2);
  standin_clear_log();
  standin_set_logging(false);
  sparkMessage("quiet");
  EXPECT_TRUE(standin_log().empty());
}

TEST_F(StandinTest, WorkingDirAndFileBrowser) {
  char path[SPARK_PATH_MAX];
  standin_set_working_dir("/tmp/shots");
  sparkWorkingDir(path);
  EXPECT_STREQ(path, "/tmp/shots");
  standin_set_working_dir(std::string(400, 'x'));  // cut to fit the 260 characters
  std::memset(path, 'q', sizeof path);
  sparkWorkingDir(path);
  EXPECT_EQ(std::strlen(path), static_cast<size_t>(SPARK_PATH_MAX - 1));
  chosen.clear();
  EXPECT_EQ(sparkFileBrowserDisplay("/tmp", "", &remember_path), 0);  // cancelled
  EXPECT_TRUE(chosen.empty());
  standin_set_browser_choice("/tmp/amp.txt");
  EXPECT_EQ(sparkFileBrowserDisplay("/tmp", "", &remember_path), 1);
  EXPECT_EQ(chosen, "/tmp/amp.txt");
}

// The program loads a plug-in whose spark* references resolve against it,
// exports nothing else, and renders frames into the output buffer.
TEST(StandinProgramTest, LoadsAndDrivesAPlugin) {
  const std::string out_prefix = home_file("frame");
  int status = 0;
  const std::string output =
      run_host("--size 6x4 --procs 3 --frames 2 --log --output " + out_prefix, status);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("frame 1: rendered"), std::string::npos) << output;
  EXPECT_NE(output.find("sparkMessage(init own=4242 api=4 depth=24 value7=0.25)"), std::string::npos)
      << output;
  EXPECT_NE(output.find("sparkMessage(frame 1 workers 3 of 3)"), std::string::npos) << output;

  std::ifstream frame(out_prefix + "0001.ppm", std::ios::binary);
  std::string magic;
  int w = 0, h = 0, max = 0;
  frame >> magic >> w >> h >> max;
  frame.get();
  ASSERT_EQ(magic, "P6");
  EXPECT_EQ(w, 6);
  EXPECT_EQ(h, 4);
  std::vector<unsigned char> pixels(6 * 4 * 3);
  frame.read(reinterpret_cast<char*>(pixels.data()), static_cast<std::streamsize>(pixels.size()));
  EXPECT_EQ(pixels[(2 * 6 + 5) * 3 + 1], 255 - standin_pattern_value(0, 1, 5, 2, 1, false));

  const std::string symbols =
      run(std::string("nm -D --defined-only ") + TIDEWRIGHT_HOST_PATH, status);
  ASSERT_EQ(status, 0);
  std::vector<std::string> names;
  char line[512];
  for (const char* at = symbols.c_str(); std::sscanf(at, "%511[^\n]", line) == 1;) {
    const std::string entry(line);
    const std::string name = entry.substr(entry.rfind(' ') + 1);
    // Versioned names are the C library's copy relocations; __asan and
    // __ubsan ones belong to a sanitizer build's runtime.
    const bool foreign = name.find('@') != std::string::npos || name.compare(0, 6, "__asan") == 0 ||
                         name.compare(0, 7, "__ubsan") == 0;
    if (!foreign) names.push_back(name);
    at += entry.size();
    while (*at == '\n') ++at;
  }
  EXPECT_EQ(names.size(), 29u);
  for (const std::string& name : names) EXPECT_EQ(name.compare(0, 5, "spark"), 0) << name;

  const std::string viewer_prefix = home_file("viewer");
  const std::string viewed = run_host("--size 6x4 --log --viewer " + viewer_prefix, status);
  EXPECT_EQ(status, 0) << viewed;
  EXPECT_NE(viewed.find("sparkMessage(overlay at zoom 1)"), std::string::npos) << viewed;
  std::ifstream png(viewer_prefix + "0000.png", std::ios::binary);
  unsigned char head[24] = {};
  png.read(reinterpret_cast<char*>(head), sizeof head);
  ASSERT_TRUE(png.good());
  EXPECT_EQ(std::memcmp(head, "\x89PNG\r\n\x1a\n", 8), 0);
  EXPECT_EQ(std::memcmp(head + 12, "IHDR", 4), 0);
  EXPECT_EQ(head[19], 6);  // width, big-endian
  EXPECT_EQ(head[23], 4);  // height

  const std::string refused = run(std::string(TIDEWRIGHT_HOST_PATH) + " /nonexistent.so 2>&1", status);
  EXPECT_NE(status, 0);
}

// Depth 64 runs the plug-in in 12-bit: it learns the depth from the info
// record and the frames travel and are written as 16-bit words.
TEST(StandinProgramTest, DepthSixtyFourRendersTwelveBitFrames) {
  const std::string out_prefix = home_file("deep");
  int status = 0;
  const std::string output =
      run_host("--size 6x4 --depth 64 --frames 1 --log --output " + out_prefix, status);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("depth=64"), std::string::npos) << output;
  EXPECT_NE(output.find("frame 0: rendered"), std::string::npos) << output;

  std::ifstream frame(out_prefix + "0000.ppm", std::ios::binary);
  std::string magic;
  int w = 0, h = 0, max = 0;
  frame >> magic >> w >> h >> max;
  frame.get();
  ASSERT_EQ(magic, "P6");
  EXPECT_EQ(w, 6);
  EXPECT_EQ(h, 4);
  EXPECT_EQ(max, 4095);
  // The plug-in negates the first 6 x 4 x 3 bytes, which in 12-bit are the
  // first 36 words: word 0 becomes 0xFFFF minus the host's word.
  unsigned char first[2] = {};
  frame.read(reinterpret_cast<char*>(first), 2);
  ASSERT_TRUE(frame.good());
  const unsigned expected = (0xFFFFu - standin_pattern_value(0, 0, 0, 0, 0, true)) >> 4;
  EXPECT_EQ((first[0] << 8) | first[1], static_cast<int>(expected));

  for (const char* depth : {"32", "16", "0"}) {
    const std::string refused = run_host(std::string("--depth ") + depth + " 2>&1", status);
    EXPECT_NE(status, 0) << depth;
    EXPECT_NE(refused.find("usage:"), std::string::npos) << depth;
  }
}
