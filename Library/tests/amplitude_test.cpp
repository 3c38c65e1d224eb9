// Amplitude channel files becoming curve keys on the amplitude control.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "amplitude_import.h"
#include "standin_host.h"

namespace {

using Keys = std::vector<std::pair<int, float>>;

class Amplitude : public ::testing::Test {
 protected:
  void SetUp() override { standin_reset(); }

  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = std::string(std::getenv("Q4_HOME_DIR")) + "/" + name;
    FILE* f = std::fopen(path.c_str(), "w");
    EXPECT_NE(f, nullptr);
    std::fputs(text.c_str(), f);
    std::fclose(f);
    return path;
  }

  static std::string Key(int n, int frame, const char* value) {
    return "\tKey " + std::to_string(n) + "\n\t\tFrame " + std::to_string(frame) +
           "\n\t\tValue " + value + "\n\t\tEnd\n";
  }
};

TEST_F(Amplitude, KeysOfAWellFormedFile) {
  aiff_file_CB(Write("two.txt", "Channel Amplitude 1:\n\tSize 2\n" + Key(0, 1, "0.5") +
                                    Key(1, 10, "2.25")).c_str());
  EXPECT_EQ(standin_curve_keys(AMPLITUDE_CONTROL), (Keys{{1, 0.5f}, {10, 2.25f}}));
  EXPECT_EQ(standin_log_count("sparkSetCurveKey(0, 93, "), 2);
  EXPECT_EQ(standin_log_count("sparkMessage"), 0);
}

TEST_F(Amplitude, WhiteSpaceIsFreeButWordsMustMatch) {
  aiff_file_CB(Write("tight.txt", "Channel Amplitude 4:Size 1 Key 0 Frame -3 Value -1e2 End").c_str());
  EXPECT_EQ(standin_curve_keys(AMPLITUDE_CONTROL), (Keys{{-3, -100.0f}}));
}

TEST_F(Amplitude, EmptyAndShortKeyLists) {
  aiff_file_CB(Write("none.txt", "Channel Amplitude 3:\n\tSize 0\n" + Key(0, 1, "1")).c_str());
  EXPECT_TRUE(standin_curve_keys(AMPLITUDE_CONTROL).empty());
  EXPECT_EQ(standin_log_count("sparkMessage"), 0);

  aiff_file_CB(Write("short.txt", "Channel Amplitude 1:\n\tSize 5\n" + Key(0, 1, "1") +
                                      Key(1, 2, "2") + "\tKey 2\n\t\tFrame x\n").c_str());
  EXPECT_EQ(standin_curve_keys(AMPLITUDE_CONTROL), (Keys{{1, 1.0f}, {2, 2.0f}}));
  EXPECT_EQ(standin_log_count("sparkMessage"), 0);
}

TEST_F(Amplitude, KeysWithoutEndCountAndMalformedKeysStop) {
  // The second key lacks its End, the last one too, at the end of the file:
  // each still yields its three numbers.
  aiff_file_CB(Write("noend.txt", "Channel Amplitude 1:\n\tSize 4\n" + Key(0, 1, "1") +
                                      "\tKey 1\n\t\tFrame 2\n\t\tValue 2\n" + Key(2, 3, "3") +
                                      "\tKey 3\n\t\tFrame 4\n\t\tValue 4.5")
                   .c_str());
  EXPECT_EQ(standin_curve_keys(AMPLITUDE_CONTROL), (Keys{{1, 1.0f}, {2, 2.0f}, {3, 3.0f}, {4, 4.5f}}));

  // A key without its value stops the import, keeping the keys before it.
  standin_reset();
  aiff_file_CB(Write("novalue.txt", "Channel Amplitude 1:\n\tSize 3\n" + Key(0, 1, "1") +
                                        "\tKey 1\n\t\tFrame 2\n\t\tEnd\n" + Key(2, 3, "3"))
                   .c_str());
  EXPECT_EQ(standin_curve_keys(AMPLITUDE_CONTROL), (Keys{{1, 1.0f}}));
  // A misspelt closing word leaves the next key unreadable.
  standin_reset();
  aiff_file_CB(Write("misspelt.txt", "Channel Amplitude 1:\n\tSize 3\n" + Key(0, 1, "1") +
                                         "\tKey 1\n\t\tFrame 2\n\t\tValue 2\n\t\tEdn\n" +
                                         Key(2, 3, "3"))
                   .c_str());
  EXPECT_EQ(standin_curve_keys(AMPLITUDE_CONTROL), (Keys{{1, 1.0f}, {2, 2.0f}}));

  standin_reset();
  aiff_file_CB(Write("negative.txt", "Channel Amplitude 1:\n\tSize -1\n" + Key(0, 1, "1") +
                                         Key(1, 2, "2")).c_str());
  EXPECT_TRUE(standin_curve_keys(AMPLITUDE_CONTROL).empty());
}

TEST_F(Amplitude, UnreadableOrForeignFilesAreReported) {
  aiff_file_CB(Write("other.txt", "Channel Volume 1:\n\tSize 1\n" + Key(0, 1, "1")).c_str());
  EXPECT_EQ(standin_log_count("sparkMessage(Not a valid control file)"), 1);
  aiff_file_CB((std::string(std::getenv("Q4_HOME_DIR")) + "/missing.txt").c_str());
  EXPECT_EQ(standin_log_count("sparkMessage(Unable to open file)"), 1);
  EXPECT_TRUE(standin_curve_keys(AMPLITUDE_CONTROL).empty());
}

TEST_F(Amplitude, ButtonOpensTheBrowserInTheWorkingDirectory) {
  const std::string path = Write("picked.txt", "Channel Amplitude 2:\n\tSize 1\n" + Key(0, 7, "0.75"));
  standin_set_working_dir("/projects/shots");
  standin_set_browser_choice(path);
  SparkHostInfo info{};
  EXPECT_EQ(import_aiff_CB(1, info), nullptr);
  EXPECT_EQ(standin_log_count("sparkWorkingDir(/projects/shots)"), 1);
  EXPECT_EQ(standin_log_count("sparkFileBrowserDisplay(/projects/shots, )"), 1);
  EXPECT_EQ(standin_curve_keys(AMPLITUDE_CONTROL), (Keys{{7, 0.75f}}));
}

}  // namespace
