#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "imgio_memory_driver.h"
#include "imgio_utils.h"
#include "q4_memory.h"

namespace {

std::string replaced(const std::string& name, const char* ext) {
  std::vector<char> out(name.size() + 16);
  extreplace(out.data(), name.c_str(), ext);
  return out.data();
}

std::string text(const char* s) { return s ? s : "(null)"; }

std::string numbered(const char* name, int frame) {
  char* result = addframenumber(name, frame);
  const std::string copy = text(result);
  if (result) q4_free_c(result, __FILE__, __LINE__);
  return copy;
}

}  // namespace

TEST(Names, ExtensionsAreReplaced) {
  struct Case {
    const char* name;
    const char* ext;
    const char* out;
  } cases[] = {
      {"a/b.0010", "tif", "a/b.0010.tif"}, {"a/b.rgb", "tif", "a/b.tif"},  {"a.b/c", "tif", "a.b/c.tif"},
      {"x.rgb", "", "x"},                  {"x.rgb", nullptr, "x"},         {".hidden", "tif", ".hidden.tif"},
      {"a.", "tif", "a..tif"},             {"dir/.cfg", "x", "dir/.x"},     {"shot.12a", "tif", "shot.tif"},
      {"plain", "r", "plain.r"},           {"", "tif", ".tif"},             {"a.b.c", "d", "a.b.d"},
  };
  for (const Case& c : cases) EXPECT_EQ(replaced(c.name, c.ext), c.out) << c.name;
  // In place.
  char buffer[32] = "frame.rgb";
  extreplace(buffer, buffer, "sgi");
  EXPECT_STREQ(buffer, "frame.sgi");
}

TEST(Names, FormatExtensionsAndDirectories) {
  ImgioSession session;
  EXPECT_EQ(text(getformatextension("shot.0001", "tiff")), "shot.0001.tif");
  EXPECT_EQ(text(getformatextension("x.rgb", "?")), "x");
  setimageformat("sun");
  EXPECT_EQ(text(getformatextension("x.rgb", "?")), "x.ras");
  EXPECT_EQ(text(getformatextension("x.rgb", "cin")), "x");
  EXPECT_EQ(getformatextension("x.rgb", "moon"), nullptr);
  EXPECT_EQ(getformatextension("x.rgb", "unknown"), nullptr);
  // The static buffer holds 1024 characters with the terminator.
  EXPECT_EQ(text(getformatextension(std::string(1019, 'n').c_str(), "tiff")), std::string(1019, 'n') + ".tif");
  EXPECT_EQ(getformatextension(std::string(1020, 'n').c_str(), "tiff"), nullptr);

  EXPECT_STREQ(stripimgdir("a/b/c.tif"), "c.tif");
  EXPECT_STREQ(stripimgdir("c.tif"), "c.tif");
  EXPECT_STREQ(stripimgdir("a/"), "");
}

TEST(Names, FrameNumbersAreStripped) {
  struct Case {
    const char* path;
    int strip;
    const char* out;
  } cases[] = {
      {"dir/shot_0012.tif", 1, "dir/shot"}, {"dir/shot_0012.tif", 0, "dir/shot_0012"},
      {"0012", 1, "./"},                   {"dir/0012.tif", 1, "./"},
      {"", 1, "./"},                       {"shot.0012", 1, "shot"},
      {"shot.0012", 0, "shot.0012"},       {"take7", 1, "take7"},
      {"a-b@12", 1, "a-b"},                {"v1_x", 1, "v1_x"},
      {"s__12", 1, "s_"},                  {"dir.v2/take12", 1, "dir.v2/take12"},
      {"dir/take-3.rgb", 1, "dir/take"},
  };
  for (const Case& c : cases) EXPECT_EQ(text(stripimgname(c.path, c.strip)), c.out) << c.path;
  EXPECT_EQ(text(stripimgname(std::string(1023, 'p').c_str(), 0)), std::string(1023, 'p'));
  EXPECT_EQ(stripimgname(std::string(1024, 'p').c_str(), 0), nullptr);
}

TEST(Names, FramePatternsTakeTheNameThenOneNumber) {
  ImgioSession session;
  EXPECT_EQ(numbered("take", 7), "take7");
  setimageformat("tiff");
  EXPECT_EQ(numbered("take", 7), "take.0007");
  EXPECT_EQ(numbered("take", -1), "take");
  EXPECT_EQ(numbered("take", 12345), "take.12345");
  struct Case {
    const char* pattern;
    int frame;
    std::string out;
  } cases[] = {
      {"%s_%02d", 7, "take_07"},
      {"Default", 7, "take.0007"},
      {"%s%%%d", 7, "take%7"},
      {"%s%x", 255, "takeff"},
      {"%s%-4d|", 7, "take7   |"},
      {"%s%32d", 7, "take" + std::string(31, ' ') + "7"},
      {"%s.%.32d", 7, "take." + std::string(31, '0') + "7"},
      // Anything else falls back to the format's built-in pattern.
      {"%s%n", 7, "take.0007"},
      {"%d%s", 7, "take.0007"},
      {"%s%999999999d", 7, "take.0007"},
      {"%s%33d", 7, "take.0007"},
      {"%s%.33d", 7, "take.0007"},
      {"%s%d%d", 7, "take.0007"},
      {"%s", 7, "take.0007"},
      {"%s%ld", 7, "take.0007"},
      {"%s%*d", 7, "take.0007"},
      {"%s%s", 7, "take.0007"},
      {"100%", 7, "take.0007"},
      {"%s%d%", 7, "take.0007"},
      {"", 7, "take.0007"},
  };
  for (const Case& c : cases) {
    setkeyval("IMGIO_SEQ_FORMAT", c.pattern);
    EXPECT_EQ(numbered("take", c.frame), c.out) << c.pattern;
  }
  deletekeyval("IMGIO_SEQ_FORMAT");
  // An entry pattern from the settings is held to the same rule.
  setkeyval("IMGIO_TIFF_SEQ", "%s%s");
  setimageformat("tiff");
  EXPECT_EQ(numbered("take", 3), "take.0003");
  setkeyval("IMGIO_TIFF_SEQ", "%s-%d");
  setimageformat("tiff");
  EXPECT_EQ(numbered("take", 3), "take-3");

  char* in_dir = addframenumberdir("shots", "take", 9);
  EXPECT_EQ(text(in_dir), "shots/take-9");
  q4_free_c(in_dir, __FILE__, __LINE__);
  EXPECT_EQ(addframenumber(nullptr, 3), nullptr);
}
