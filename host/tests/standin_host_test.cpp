#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
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

#include "program_run.h"
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
    // Whichever threads run claim the indices: one may run several.
    EXPECT_LE(seen_threads.size(), static_cast<size_t>(workers));
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
  standin_null_buffer_pixels(6, true);
  EXPECT_EQ(sparkMemGetBuffer(6, &buffer), 1);
  EXPECT_EQ(buffer.buffer, nullptr);
  standin_null_buffer_pixels(6, false);
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
  standin_set_setup_paths(path, path);
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
  standin_set_setup_paths(path + ".missing", "");
  EXPECT_EQ(sparkLoadSetup(&info), 0);
  EXPECT_NE(standin_setup_error().find(".missing"), std::string::npos);
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
  EXPECT_TRUE(standin_take_dialogue_warnings().empty());  // both answers were scripted
  EXPECT_EQ(sparkMessageConfirm("Sure?"), 0);  // nothing queued: no, with a warning
  EXPECT_EQ(standin_take_dialogue_warnings(),
            std::vector<std::string>{"no answer scripted for \"Sure?\": answered no"});
  EXPECT_TRUE(standin_take_dialogue_warnings().empty());
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
  // A redraw is only marked for the host to do once the plug-in returns.
  EXPECT_FALSE(standin_take_viewer_mark());
  sparkViewingDraw();
  sparkViewingDraw();
  EXPECT_TRUE(standin_take_viewer_mark());
  EXPECT_FALSE(standin_take_viewer_mark());
  EXPECT_EQ(standin_info().interactive, 1);
  standin_set_interactive(0);
  EXPECT_EQ(standin_info().interactive, 0);
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
  EXPECT_EQ(standin_take_dialogue_warnings(),
            std::vector<std::string>{"no file scripted for the file browser: cancelled"});
  standin_set_browser_choice("/tmp/amp.txt");
  EXPECT_EQ(sparkFileBrowserDisplay("/tmp", "", &remember_path), 1);
  EXPECT_EQ(chosen, "/tmp/amp.txt");
  EXPECT_TRUE(standin_take_dialogue_warnings().empty());
  // The choice serves one browser only.
  chosen.clear();
  EXPECT_EQ(sparkFileBrowserDisplay("/tmp", "", &remember_path), 0);
  EXPECT_TRUE(chosen.empty());
}


// Setup values are checked before any conversion: a value that is not a
// finite number (or a line that does not parse) refuses the whole file with
// its path and line; a finite value out of range is clamped with a warning.
TEST_F(StandinTest, SetupValuesAreCheckedBeforeConversion) {
  SparkFloat f = {0.25f, 0, 1, 0.1f, 0, "F", nullptr};
  SparkInt i = {42, 2, 1000, 1, 0, "I", nullptr};
  SparkBoolean b = {0, "B", nullptr};
  SparkPup p = {1, 5, nullptr, {"a", "b", "c", "d", "e"}};
  standin_register_control(7, standin_float, &f);
  standin_register_control(21, standin_int, &i);
  standin_register_control(23, standin_boolean, &b);
  standin_register_control(10, standin_pup, &p);
  const struct {
    const char* text;
    int bad_line;  // 0: loads
    float f;
    int i, b, p;
    int warnings;
  } cases[] = {
      {"int 21 1e10\n", 0, 0.25f, 1000, 0, 1, 1},
      {"int 21 -1e300\n", 0, 0.25f, 2, 0, 1, 1},
      {"int 21 7.6\n", 0, 0.25f, 8, 0, 1, 0},
      {"boolean 23 5\npup 10 7\n", 0, 0.25f, 42, 1, 4, 2},
      {"pup 10 -3\n", 0, 0.25f, 42, 0, 0, 1},
      {"float 7 1e39\n", 0, 1.0f, 42, 0, 1, 1},
      {"# a comment\n\n  float 7 0.5 \n", 0, 0.5f, 42, 0, 1, 0},
      {"float 99 1\nint 7 3\n", 0, 0.25f, 42, 0, 1, 2},  // no such control; a float, not an int
      {"int 21 nan\n", 1, 0.25f, 42, 0, 1, 0},
      {"float 7 0.5\nboolean 23 inf\n", 2, 0.25f, 42, 0, 1, 0},  // nothing of line 1 either
      {"pup 10 -nan\n", 1, 0.25f, 42, 0, 1, 0},
      {"int 21 1e400\n", 1, 0.25f, 42, 0, 1, 0},  // beyond double: not finite
      {"int 21 5 6\n", 1, 0.25f, 42, 0, 1, 0},
      {"int 99999999999 5\n", 1, 0.25f, 42, 0, 1, 0},
      {"key 7 99999999999 1\n", 1, 0.25f, 42, 0, 1, 0},
      {"key 7 3 nan\n", 1, 0.25f, 42, 0, 1, 0},
      {"bogus 7 1\n", 1, 0.25f, 42, 0, 1, 0},
      {"push 7 1\n", 1, 0.25f, 42, 0, 1, 0},
      {"int 21\n", 1, 0.25f, 42, 0, 1, 0},
  };
  const std::string path = home_file("checked.setup");
  standin_set_setup_paths(path, "");
  for (const auto& c : cases) {
    f.value = 0.25f;
    i.value = 42;
    b.value = 0;
    p.value = 1;
    write_file(path, c.text);
    SparkHostInfo info = standin_info();
    EXPECT_EQ(sparkLoadSetup(&info), c.bad_line ? 0 : 1) << c.text;
    const std::string error = standin_setup_error();
    if (c.bad_line)
      EXPECT_EQ(error.find(path + ":" + std::to_string(c.bad_line) + ": malformed setup line"), 0u)
          << c.text << error;
    else
      EXPECT_EQ(error, "") << c.text;
    EXPECT_EQ(f.value, c.f) << c.text;
    EXPECT_EQ(i.value, c.i) << c.text;
    EXPECT_EQ(b.value, c.b) << c.text;
    EXPECT_EQ(p.value, c.p) << c.text;
    EXPECT_EQ(standin_setup_warnings().size(), static_cast<size_t>(c.warnings)) << c.text;
  }
  write_file(path, "int 21 1e10\n");
  SparkHostInfo info = standin_info();
  sparkLoadSetup(&info);
  ASSERT_EQ(standin_setup_warnings().size(), 1u);
  EXPECT_EQ(standin_setup_warnings()[0], path + ":1: int 21 value 1e+10 clamped to 1000");
  // A key out of its control's range is clamped like a value.
  write_file(path, "key 7 5 2\nkey 7 9 -0.5\n");
  ASSERT_EQ(sparkLoadSetup(&info), 1);
  EXPECT_EQ(standin_curve_keys(7), (std::vector<std::pair<int, float>>{{5, 1.0f}, {9, 0.0f}}));
}

// Every record kind travels through a setup, strings with every byte.
TEST_F(StandinTest, SetupsHoldStringsAndUserFloats) {
  SparkString s = {"1: Flow Clip", "%s", 16, nullptr};
  SparkUserFloat u = {-12.5f, -1000, 1000, 0.001f, 0, "U", nullptr};
  standin_register_control(0, standin_string, &s);
  standin_register_control(93, standin_user_float, &u);
  const char odd[] = "back\\slash\nline\ttab \x7f end ";
  std::memcpy(s.text, odd, sizeof odd);
  const std::string path = home_file("strings.setup");
  standin_set_setup_paths(path, path);
  SparkHostInfo info = standin_info();
  ASSERT_EQ(sparkSaveSetup(&info), 1);
  const std::vector<unsigned char> saved = read_file(path);
  const std::string text(saved.begin(), saved.end());
  EXPECT_NE(text.find("userfloat 93 -12.5\n"), std::string::npos) << text;
  EXPECT_NE(text.find("string 0 back\\\\slash\\x0aline\\x09tab \\x7f end \n"), std::string::npos) << text;
  std::strcpy(s.text, "changed");
  u.value = 3.0f;
  ASSERT_EQ(sparkLoadSetup(&info), 1);
  EXPECT_STREQ(s.text, odd);
  EXPECT_EQ(u.value, -12.5f);
  // A text the record cannot hold, or a broken escape, is a malformed line.
  for (const std::string& line : {"string 0 " + std::string(SPARK_STRING_LEN, 'x'),
                                  std::string("string 0 bad\\q"), std::string("string 0 \\x00")}) {
    write_file(path, line + "\n");
    EXPECT_EQ(sparkLoadSetup(&info), 0) << line;
    EXPECT_STREQ(s.text, odd);
  }
  write_file(path, "string 0\n");  // an empty text
  ASSERT_EQ(sparkLoadSetup(&info), 1);
  EXPECT_STREQ(s.text, "");
}

// Frames of any float reach the curves: NaN counts as 0, huge frames are
// held to the int range, and keys INT_MAX apart interpolate in 64 bits.
// Lists and checkboxes step; integers round.
TEST_F(StandinTest, CurvesTakeAnyFrameAndKeysFarApart) {
  SparkFloat f = {0.0f, 0, 1, 0.1f, 0, "F", nullptr};
  SparkInt i = {0, 0, 100, 1, 0, "I", nullptr};
  SparkPup p = {0, 3, nullptr, {"a", "b", "c"}};
  SparkBoolean b = {0, "B", nullptr};
  standin_register_control(7, standin_float, &f);
  standin_register_control(21, standin_int, &i);
  standin_register_control(10, standin_pup, &p);
  standin_register_control(23, standin_boolean, &b);
  ASSERT_EQ(sparkSetCurveKey(0, 7, INT_MIN, 0.0f), 1);
  ASSERT_EQ(sparkSetCurveKey(0, 7, INT_MAX, 1.0f), 1);
  // Halfway: (0 - INT_MIN) / (INT_MAX - INT_MIN) = 2^31 / (2^32 - 1).
  const struct {
    float frame;
    float value;
  } frames[] = {{0.0f, 0.5f},
                {std::nanf(""), 0.5f},
                {1e30f, 1.0f},
                {-1e30f, 0.0f},
                {std::numeric_limits<float>::infinity(), 1.0f},
                {-std::numeric_limits<float>::infinity(), 0.0f},
                {-1073741824.0f, 0.25f}};
  for (const auto& c : frames) EXPECT_FLOAT_EQ(sparkGetCurveValuef(1, 7, c.frame), c.value) << c.frame;
  EXPECT_EQ(sparkSetCurveKey(0, 7, 3, std::nanf("")), 0);  // refused, nothing stored
  EXPECT_EQ(standin_curve_keys(7).size(), 2u);

  sparkSetCurveKey(0, 10, 0, 0.0f);
  sparkSetCurveKey(0, 10, 10, 2.0f);
  EXPECT_EQ(sparkGetCurveValuef(1, 10, 9.5f), 0.0f);
  EXPECT_EQ(sparkGetCurveValuef(1, 10, 10.0f), 2.0f);
  sparkSetCurveKey(0, 21, 0, 2.0f);
  sparkSetCurveKey(0, 21, 2, 3.0f);
  sparkSetCurveKey(0, 23, 0, 0.0f);
  sparkSetCurveKey(0, 23, 4, 1.0f);
  const struct {
    int frame;
    int integer, item, box;
  } applied[] = {{-5, 2, 0, 0}, {1, 3, 0, 0}, {3, 3, 0, 0}, {4, 3, 0, 1}, {12, 3, 2, 1}};
  for (const auto& c : applied) {
    standin_apply_curves(c.frame);
    EXPECT_EQ(i.value, c.integer) << c.frame;  // 2.5 rounds to 3
    EXPECT_EQ(p.value, c.item) << c.frame;
    EXPECT_EQ(b.value, c.box) << c.frame;
  }
  standin_apply_curves(INT_MIN);
  EXPECT_EQ(f.value, 0.0f);
  standin_clear_curve(7);
  EXPECT_TRUE(standin_curve_keys(7).empty());
}

// The test pattern takes any frame number: worked out by hand for
// INT_MAX (7 * INT_MAX = 1785 = 249 mod 256) and INT_MIN (0 mod 256).
TEST_F(StandinTest, PatternTakesAnyFrame) {
  // x 3, y 1, clip 2, channel 1: 9 + 5 + 80 + 85 = 179.
  EXPECT_EQ(standin_pattern_value(2, 4, 3, 1, 1, false), (179u + 28u) % 256u);
  EXPECT_EQ(standin_pattern_value(2, INT_MAX, 3, 1, 1, false), (179u + 249u) % 256u);
  EXPECT_EQ(standin_pattern_value(2, INT_MIN, 3, 1, 1, false), 179u);
  EXPECT_EQ(standin_pattern_value(2, INT_MAX, 3, 1, 1, true), (2236u << 4) | 5u);
}
