#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "imgio_message_capture.h"
#include "imgio_messages.h"

namespace {

std::string ring_line(int index) { return services.ring + index * IMSSYS_LINE_LENGTH; }

}  // namespace

TEST(Messages, RingKeepsTheLatestFortyLines) {
  MessageCapture capture;
  messprintf(IMSSYS_INFO, "set up\n");
  while (services.count % IMSSYS_LINES != 0) messprintf(IMSSYS_INFO, "pad\n");
  for (int i = 1; i <= 41; ++i) messprintf(IMSSYS_INFO, "message %d\n", i);
  EXPECT_EQ(ring_line(0), "message 41\n");
  EXPECT_EQ(ring_line(1), "message 2\n");
  EXPECT_EQ(ring_line(39), "message 40\n");
  ASSERT_GE(capture.messages.size(), 41u);
  EXPECT_EQ(capture.last(), "message 41\n");
  EXPECT_EQ(services.ring_lines, 40);
  EXPECT_EQ(services.line_length, 132);
}

TEST(Messages, LongTextsAreCutToOneLine) {
  MessageCapture capture;
  const std::string long_text(400, 'x');
  messprintf(IMSSYS_ERROR, "%s", long_text.c_str());
  EXPECT_EQ(capture.last(), std::string(131, 'x'));
  EXPECT_EQ(capture.last_level(), IMSSYS_ERROR);
  EXPECT_EQ(ring_line((services.count - 1) % IMSSYS_LINES), std::string(131, 'x'));
}

TEST(Messages, DefaultHandlerPrintsTheLatestLinesUnderTheLevelName) {
  messsetproc(messtostderr);
  messprintf(IMSSYS_INFO, "ready\n");
  messsetscroll(3);
  EXPECT_EQ(services.scroll, 3);
  struct Case {
    int level;
    const char* text;
    const char* printed;
  } cases[] = {
      {IMSSYS_INFO, "ERROR: a\n", "[INFO] ready\n[INFO] ready\n[INFO] ERROR: a\n"},
      {IMSSYS_ERROR, "b\n", "[ERROR] ready\n[ERROR] ERROR: a\n[ERROR] b\n"},
      {IMSSYS_FATAL, "c\n", "[FATAL] ERROR: a\n[FATAL] b\n[FATAL] c\n"},
      {0, "d\n", "[?] b\n[?] c\n[?] d\n"},
      {4, "e\n", "[?] c\n[?] d\n[?] e\n"},
  };
  // The ring line before "ready" is whatever an earlier test left; make it
  // known first.
  messprintf(IMSSYS_INFO, "ready\n");
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(messprintf(c.level, "%s", c.text), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.printed) << c.text;
  }
  messsetscroll(100);
  EXPECT_EQ(services.scroll, 40);
  messsetscroll(0);
  EXPECT_EQ(services.scroll, 1);
  messsetscroll(-3);
  EXPECT_EQ(services.scroll, 1);
}

// The first message sets the channel up; a fresh process shows it.
TEST(Messages, FirstMessageSetsUpTheRingAndTheDefaultHandler) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        messsetscroll(5);
        const bool before = services.ring == nullptr && services.scroll == 0;
        messprintf(IMSSYS_INFO, "first\n");
        const bool set_up = services.scroll == 1 && services.mark == IMSSYS_HANDLER_MARK &&
                            services.handler == messtostderr && services.count == 1;
        messprintf(IMSSYS_INFO, "second\n");
        messsetscroll(5);
        messprintf(IMSSYS_INFO, "third\n");
        exit(before && set_up ? 0 : 1);
      },
      testing::ExitedWithCode(0),
      "^\\[INFO\\] first\n\\[INFO\\] second\n\\[INFO\\] first\n\\[INFO\\] second\n\\[INFO\\] third\n$");
}

namespace {

int counting_handler(imssys* record) { return record->count + 100; }

}  // namespace

TEST(Messages, AnInstalledHandlerIsKeptAndAnswersForMessadd) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        messsetproc(counting_handler);
        const int answer = messprintf(IMSSYS_INFO, "quiet\n");
        exit(answer == 101 && services.handler == counting_handler ? 0 : 1);
      },
      testing::ExitedWithCode(0), "^$");
}
