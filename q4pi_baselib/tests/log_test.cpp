// The levelled message log and the console writer.
#include <cctype>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "log_capture.h"
#include "q4_console.h"
#include "q4_log.h"

namespace {

// True when line is tag + " hh:mm:ss.ss " + rest, with a valid time of day.
bool is_timed_line(const std::string& line, const std::string& tag, const std::string& rest) {
  if (line.compare(0, tag.size() + 1, tag + " ") != 0) return false;
  const std::string time = line.substr(tag.size() + 1, 12);
  const char* shape = "dd:dd:dd.dd ";
  for (int i = 0; i < 12; ++i) {
    const bool digit = isdigit(static_cast<unsigned char>(time[i])) != 0;
    if (shape[i] == 'd' ? !digit : time[i] != shape[i]) return false;
  }
  const int hours = std::stoi(time.substr(0, 2)), minutes = std::stoi(time.substr(3, 2));
  return hours < 24 && minutes < 60 && std::stod(time.substr(6, 5)) < 60.0 &&
         line.substr(tag.size() + 13) == rest;
}

std::string read_all(FILE* f) {
  std::string text;
  rewind(f);
  char chunk[512];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, got);
  return text;
}

// What the default logger did for a static constructor of this program:
// the line it wrote then, and the tag of a line written once every static
// object has been built.
struct EarlyUse {
  std::string line_before_main;
  std::string line_after_start_up;
};

EarlyUse& early_use() {
  static EarlyUse use;
  return use;
}

// Runs before any test: looks at what the static constructor left, then
// puts a fresh default logger in place for the tests.
class EarlyUseCheck : public testing::Environment {
 public:
  void SetUp() override {
    FILE* f = tmpfile();
    defaultLogger.setFile(f);
    q4_notify(Q4_LOG_INFO, "after start-up\n");
    defaultLogger.setFile(nullptr);
    early_use().line_after_start_up = read_all(f);
    fclose(f);
    defaultLogger = q4MessageLog(nullptr);
  }
};

// A static constructor of this file: the test objects come first in the
// link, so it runs before those of the library itself.
const bool logged_before_main = [] {
  FILE* f = tmpfile();
  defaultLogger.setFile(f);
  q4_notify_set_facility("Early");
  q4_notify(Q4_LOG_INFO, "before main\n");
  defaultLogger.setFile(nullptr);
  early_use().line_before_main = read_all(f);
  fclose(f);
  testing::AddGlobalTestEnvironment(new EarlyUseCheck);
  return true;
}();

}  // namespace

TEST(Log, StaticConstructorsFindTheDefaultLoggerSetUp) {
  ASSERT_TRUE(logged_before_main);
  const EarlyUse& use = early_use();
  EXPECT_TRUE(is_timed_line(use.line_before_main, "(Early)", "INFO : before main\n"))
      << use.line_before_main;
  // The facility named then was not reset by a later start-up step.
  EXPECT_TRUE(is_timed_line(use.line_after_start_up, "(Early)", "INFO : after start-up\n"))
      << use.line_after_start_up;
}

TEST(Log, LinesCarryFacilityTimeAndLevelWord) {
  q4MessageLog log(nullptr);
  LogCapture capture(log);
  log.q4_notify(Q4_LOG_WARN, "disk %d of %s", 3, "five");
  const std::string text = capture.text();
  EXPECT_TRUE(is_timed_line(text, "(Q4 LIB)", "WARN : disk 3 of five\n")) << text;

  log.q4_notify_set_facility("Grabber");
  log.q4_notify(Q4_LOG_ERROR, "failed\n");  // no second newline
  log.q4_msgcont("detail");
  const std::string more = capture.text().substr(text.size());
  EXPECT_TRUE(is_timed_line(more, "(Grabber)", "ERROR: failed\n(Grabber)                  : detail\n"))
      << more;
  EXPECT_TRUE(log.q4_have_logfile());
}

TEST(Log, LevelFilterAndContinuations) {
  q4MessageLog log(nullptr);
  LogCapture capture(log);
  log.q4_msgcont("orphan");  // nothing written yet: no line to continue
  log.q4_notify(0, "none");
  log.q4_notify(Q4_LOG_INFO, "shown");
  log.q4_notify(Q4_LOG_DEBUG, "hidden");
  log.q4_msgcont("continues shown");
  log.q4_trace("hidden trace");
  log.q4_msg("plain");
  std::string text = capture.text();
  EXPECT_EQ(text.find("orphan"), std::string::npos);
  EXPECT_EQ(text.find("none"), std::string::npos);
  EXPECT_EQ(text.find("hidden"), std::string::npos);
  EXPECT_NE(text.find("INFO : shown\n"), std::string::npos);
  EXPECT_NE(text.find("(Q4 LIB)                  : continues shown\n"), std::string::npos);
  EXPECT_NE(text.find("(Q4 LIB)                  : plain\n"), std::string::npos);

  log.q4_notify_setlevel(Q4_LOG_TRACE);
  log.q4_notify(9, "clamped");
  log.q4_trace("traced %d", 5);
  text = capture.text();
  EXPECT_NE(text.find("TRACE: clamped\n"), std::string::npos);
  EXPECT_NE(text.find("TRACE: traced 5\n"), std::string::npos);

  // At level 2 the plain line and an INFO line are dropped, and the
  // continuation of a dropped line is dropped too.
  log.q4_notify_setlevel(Q4_LOG_WARN);
  log.setFile(nullptr);
  LogCapture second(log);
  log.q4_msg("quiet");
  log.q4_msgcont("after trace");  // last level 5 is above the level now
  EXPECT_EQ(second.text(), "");
}

TEST(Log, SilentLevelWritesNothingAndFallsBackToStandardError) {
  q4MessageLog log(nullptr);
  LogCapture capture(log);
  log.q4_notify(Q4_LOG_ERROR, "before");
  log.q4_notify_setlevel(-1);
  EXPECT_EQ(log.stream(), nullptr);
  log.q4_notify(Q4_LOG_ERROR, "e");
  log.q4_msg("m");
  log.q4_trace("t");
  log.q4_msgcont("c");
  EXPECT_EQ(log.stream(), nullptr);  // not even standard error was taken up
  const std::string text = capture.text();
  EXPECT_NE(text.find("before"), std::string::npos);
  EXPECT_EQ(text.find(": e\n"), std::string::npos);

  // With a stream attached again, the silent level still writes nothing.
  LogCapture attached(log);
  ASSERT_EQ(log.q4_notify_getlevel(), -1);
  ASSERT_NE(log.stream(), nullptr);
  log.q4_notify(Q4_LOG_ERROR, "e");
  log.q4_notify(Q4_LOG_TRACE, "t");
  log.q4_msg("m");
  log.q4_trace("t");
  log.q4_msgcont("c");
  EXPECT_EQ(attached.text(), "");
  // The same capture does see a write once the level allows one.
  log.q4_notify_setlevel(Q4_LOG_ERROR);
  log.q4_notify(Q4_LOG_ERROR, "audible");
  EXPECT_TRUE(attached.contains("ERROR: audible\n")) << attached.text();
}

TEST(Log, PlainFunctionsKeepPercentSignsOfArguments) {
  LogCapture capture;
  q4_notify(Q4_LOG_INFO, "%s", "100%d %s done");
  q4_msgcont("%s", "50%");
  const std::string text = capture.text();
  EXPECT_NE(text.find("INFO : 100%d %s done\n"), std::string::npos) << text;
  EXPECT_NE(text.find(": 50%\n"), std::string::npos) << text;
}

TEST(Log, OverlongMessagesStayInsideTheLineBuffer) {
  q4MessageLog log(nullptr);
  LogCapture capture(log);
  const std::string huge(6000, 'x');
  log.q4_notify(Q4_LOG_ERROR, "%s", huge.c_str());
  LogCapture shared;
  q4_notify(Q4_LOG_ERROR, "%s", huge.c_str());  // through the shared buffer
  for (const std::string& text : {capture.text(), shared.text()}) {
    const std::string body = text.substr(text.find("ERROR: ") + 7);
    EXPECT_EQ(body.size(), static_cast<size_t>(Q4_LOG_TEXT_SIZE - 1));
    EXPECT_EQ(body.back(), '\n');
    EXPECT_EQ(body.find_first_not_of('x'), body.size() - 1);
  }
}

TEST(Log, TimeOfDayWrapsAtMidnight) {
  int h, m;
  double s;
  q4_log_split_time(23 * 3600 + 59 * 60 + 59.9, &h, &m, &s);
  EXPECT_EQ(h, 23);
  EXPECT_EQ(m, 59);
  EXPECT_NEAR(s, 59.9, 1e-9);
  q4_log_split_time(23 * 3600 + 59 * 60 + 59.9 + 0.2, &h, &m, &s);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(m, 0);
  EXPECT_NEAR(s, 0.1, 1e-9);
  char column[16];
  snprintf(column, sizeof column, "%02d:%02d:%05.2f", h, m, s);
  EXPECT_STREQ(column, "00:00:00.10");
  q4_log_split_time(3 * 86400 + 3661.5, &h, &m, &s);
  EXPECT_EQ(h, 1);
  EXPECT_EQ(m, 1);
  EXPECT_NEAR(s, 1.5, 1e-9);
}

TEST(Console, WritesToBothStreamsAndTheLogFile) {
  // Naming a facility cannot be undone through the interface: the whole
  // logger is put back as it was for the tests that follow.
  const q4MessageLog saved = defaultLogger;
  ASSERT_FALSE(saved.q4_have_logfile());
  q4_notify_enable_console(false, true);
  EXPECT_FALSE(q4_notify_console_enabled());
  EXPECT_TRUE(q4_notify_console_forced());
  q4_notify_enable_console(true, true);
  {
    LogCapture capture;
    q4_notify_set_facility("ConsoleTest");
    testing::internal::CaptureStdout();
    EXPECT_EQ(Console::logprintf("count %d\n", 7), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "count 7\n");
    EXPECT_NE(Console::theConsole_, nullptr);
    EXPECT_EQ(capture.text(), "CONSOLE LOG:count 7\n");
  }
  defaultLogger = saved;

  // Restored: a stream alone is no log file again, and lines carry the old
  // facility.
  LogCapture capture;
  EXPECT_FALSE(defaultLogger.q4_have_logfile());
  testing::internal::CaptureStdout();
  Console::logprintf("count %d\n", 8);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "count 8\n");
  q4_notify(Q4_LOG_ERROR, "after");
  const std::string text = capture.text();
  EXPECT_EQ(text.find("CONSOLE LOG:"), std::string::npos) << text;
  EXPECT_EQ(text.rfind("(Q4 LIB) ", 0), 0u) << text;
}
