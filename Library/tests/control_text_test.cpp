// Text, file-name and colour controls, and the lock-title helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ControlQ4.h"
#include "control_calls.h"
#include "control_titles.h"
#include "standin_host.h"

namespace {

using Log = std::vector<std::string>;

class TextControls : public ::testing::Test {
 protected:
  void SetUp() override { standin_reset(); }
};

TEST_F(TextControls, TextNeverOverrunsTheHostField) {
  SparkString rec{};
  const char* format = "%s";
  rec.format = format;
  rec.flags = 16;
  TextControlQ4 t;
  t.number = 2;
  t.record = &rec;
  const std::string longer(300, 'x');
  t.SetValue(0.0, longer.c_str());
  EXPECT_EQ(std::strlen(rec.text), (size_t)SPARK_STRING_LEN - 1);
  EXPECT_EQ(rec.format, format);  // the fields behind the text are intact
  EXPECT_EQ(rec.flags, 16);
  EXPECT_EQ(standin_log(), (Log{"sparkControlUpdate(2)"}));

  char* s = nullptr;
  t.GetValue(0.0, s);
  EXPECT_EQ(s, rec.text);
  t.SetValue(0.0, rec.text);  // its own text: nothing to copy
  EXPECT_EQ(std::strlen(rec.text), (size_t)SPARK_STRING_LEN - 1);

  // A cache of the effect's own receives the host text on Sync.
  char mine[SPARK_STRING_LEN];
  t.value = mine;
  std::memcpy(rec.text, "clip name", 10);
  t.Sync();
  EXPECT_STREQ(mine, "clip name");
  t.Disable(true);
  t.Hide(true);
  EXPECT_EQ(standin_log().back(), "sparkDisableParameter(1, 2)");
  ExpectHideCalls(t, 2);
}

TEST_F(TextControls, FileNameLosesItsWhiteSpaceInPlace) {
  SparkString rec{};
  SparkPush title{"Import", nullptr};
  FileControlQ4 f;
  f.number = 114;
  f.record = &rec;
  f.title_record = &title;
  std::strcpy(rec.text, "a b\tc");
  char* s = nullptr;
  f.GetValue(0.0, s);
  EXPECT_EQ(s, rec.text);
  EXPECT_STREQ(rec.text, "abc");
  EXPECT_EQ(f.value, rec.text);

  // An unterminated host field is closed at its last character.
  std::memset(rec.text, 'y', SPARK_STRING_LEN);
  f.GetValue(0.0, s);
  EXPECT_EQ(std::strlen(s), (size_t)SPARK_STRING_LEN - 1);

  standin_clear_log();
  f.SetValue(0.0, "/tmp/amp.txt");
  EXPECT_STREQ(rec.text, "/tmp/amp.txt");
  f.Disable(true);
  f.Hide(true);
  EXPECT_EQ(standin_log(), (Log{"sparkControlUpdate(121)", "sparkControlUpdate(114)",
                                "sparkDisableParameter(1, 114)", "sparkDisableParameter(1, 121)"}));
}

class Colour : public TextControls {
 protected:
  void SetUp() override {
    TextControls::SetUp();
    c.number = 90;
    c.record = &word;
    c.copy = &copy;
    for (int i = 0; i < 3; ++i) c.slider[i] = &sliders[i];
  }
  uint32_t word = 0;
  uint32_t copy = 0;
  SparkFloat sliders[3] = {};
  ColourControlQ4 c;
};

TEST_F(Colour, SyncWidensAndGetValueShifts) {
  word = 0x00FF8000;  // R 0, G 128, B 255
  c.Sync();
  EXPECT_EQ(c.r, 0);
  EXPECT_EQ(c.g, 16448);
  EXPECT_EQ(c.b, 32767);
  EXPECT_EQ(c.a, 32767);
  unsigned short r, g, b, a;
  c.GetValue(0.0, r, g, b, a);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(g, 16384);
  EXPECT_EQ(b, 32640);
  EXPECT_EQ(a, 32767);
}

TEST_F(Colour, SetValuePacksTheWordAndMovesTheSliders) {
  c.sliders = true;
  c.SetValue(0.0, 32767, 16384, 0, 123);
  EXPECT_EQ(word, 0xFF0080FFu);
  EXPECT_FLOAT_EQ(sliders[0].value, (float)(255 / 2.55));
  EXPECT_FLOAT_EQ(sliders[1].value, (float)(128 / 2.55));
  EXPECT_FLOAT_EQ(sliders[2].value, 0.0f);
  EXPECT_EQ(c.r, 32767);  // synced
  EXPECT_EQ(standin_log(), (Log{"sparkControlUpdate(91)", "sparkControlUpdate(92)",
                                "sparkControlUpdate(93)"}));
}

TEST_F(Colour, DisableLocksTheSlidersAndCopiesTheWordEveryTime) {
  c.sliders = true;
  word = 0x00010203;
  sliders[1].value = 40.0f;
  c.Disable(true);
  EXPECT_EQ(copy, 0x00010203u);
  EXPECT_FLOAT_EQ(sliders[1].min, 40.0f);
  EXPECT_FLOAT_EQ(sliders[1].max, 40.0f);
  word = 7;
  c.Disable(true);  // no change of state, but the copy and update still happen
  EXPECT_EQ(copy, 7u);
  c.Disable(false);
  EXPECT_FLOAT_EQ(sliders[1].min, 0.0f);
  EXPECT_FLOAT_EQ(sliders[1].max, 100.0f);
  EXPECT_EQ(standin_log(),
            (Log{"sparkControlUpdate(91)", "sparkControlUpdate(92)", "sparkControlUpdate(93)",
                 "sparkControlUpdate(90)", "sparkControlUpdate(90)", "sparkControlUpdate(91)",
                 "sparkControlUpdate(92)", "sparkControlUpdate(93)", "sparkControlUpdate(90)"}));
  standin_clear_log();
  c.Hide(true);
  c.sliders = false;
  c.Hide(false);
  EXPECT_EQ(standin_log(),
            (Log{"sparkDisableParameter(1, 90)", "sparkDisableParameter(1, 91)",
                 "sparkDisableParameter(1, 92)", "sparkDisableParameter(1, 93)",
                 "sparkEnableParameter(1, 90)"}));
}

TEST(ControlTitles, StripLockAndUnlockWithinTheBuffer) {
  char out[64];
  EXPECT_EQ(strcpy_strip(out, "Use Wind 1   ", sizeof out), 9);
  EXPECT_STREQ(out, "Use Wind 1");
  EXPECT_EQ(strcpy_strip(out, " \n \n", sizeof out), -1);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(strcpy_addlock(out, "Swirl", sizeof out), 6);
  EXPECT_STREQ(out, "Swirl*");
  EXPECT_EQ(strcpy_dellock(out, "Swirl***", sizeof out), 4);
  EXPECT_STREQ(out, "Swirl");
  // Round trip: lock then unlock gives the stripped title back.
  char locked[64];
  strcpy_strip(out, "Viscosity: %.3f  \n", sizeof out);
  strcpy_addlock(locked, out, sizeof locked);
  strcpy_dellock(locked, locked, sizeof locked);
  EXPECT_STREQ(locked, "Viscosity: %.3f");

  const std::string longer(100, 'k');
  char small[8];
  std::memset(small, '#', sizeof small);
  EXPECT_EQ(strcpy_addlock(small, longer.c_str(), 6), 5);
  EXPECT_STREQ(small, "kkkkk");
  EXPECT_EQ(small[6], '#');
  EXPECT_EQ(strcpy_strip(small, longer.c_str(), 6), 4);
  EXPECT_EQ(small[6], '#');
  EXPECT_EQ(strcpy_dellock(small, "ab*", 0), -1);
  EXPECT_EQ(small[0], 'k');
}

}  // namespace
