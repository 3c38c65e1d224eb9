// Path strings and numbered image file names.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "q4_filename.h"

TEST(FileName, ImageNamesParseIntoBaseDigitsAndExtension) {
  char base[64], ext[64], digits[64];
  EXPECT_EQ(file_name_parse_image_file_name("/shots/take_0042.tif", base, ext, digits), 4);
  EXPECT_STREQ(base, "take_");
  EXPECT_STREQ(digits, "0042");
  EXPECT_STREQ(ext, ".tif");

  EXPECT_EQ(file_name_parse_image_file_name("clip.tif", base, ext, digits), 0);
  EXPECT_STREQ(base, "clip");
  EXPECT_STREQ(digits, "");
  EXPECT_STREQ(ext, ".tif");

  // Only the last extension counts; all-digit names have an empty base.
  EXPECT_EQ(file_name_parse_image_file_name("a/b.c/12345.tar.gz", base, ext, nullptr), 0);
  EXPECT_STREQ(base, "12345.tar");
  EXPECT_STREQ(ext, ".gz");
  EXPECT_EQ(file_name_parse_image_file_name("dir/007.dpx", base, ext, digits), 3);
  EXPECT_STREQ(base, "");
  EXPECT_STREQ(digits, "007");
  // The digit run stops at the directory.
  EXPECT_EQ(file_name_parse_image_file_name("/99/1.sgi", base, ext, digits), 1);
  EXPECT_STREQ(digits, "1");
}

TEST(FileName, ImageNamesWithoutExtensionAreRefused) {
  char base[64] = "junk", ext[64] = "junk", digits[64] = "junk";
  EXPECT_EQ(file_name_parse_image_file_name("/a/.hidden", base, ext, digits), -1);
  EXPECT_STREQ(base, "");
  EXPECT_STREQ(ext, "");
  EXPECT_STREQ(digits, "");
  EXPECT_EQ(file_name_parse_image_file_name("dir.v2/frame", base, ext, digits), -1);
  EXPECT_EQ(file_name_parse_image_file_name("", base, ext, digits), -1);
  EXPECT_EQ(file_name_parse_image_file_name(nullptr, base, ext, digits), -1);
  EXPECT_EQ(file_name_parse_image_file_name("x.tif", nullptr, ext, digits), -1);
}

TEST(FileName, ImageNamesFormatAndRoundTrip) {
  char out[128];
  EXPECT_EQ(file_name_format_image_file_name("take_", ".tif", 42, 4, out), 13);
  EXPECT_STREQ(out, "take_0042.tif");
  EXPECT_EQ(file_name_format_image_file_name("take_", "tif", 42, 0, out), 9);
  EXPECT_STREQ(out, "take_.tif");
  file_name_format_image_file_name("f", "cin", 123456, 3, out);  // wider frames are not cut
  EXPECT_STREQ(out, "f123456.cin");

  const char* names[] = {"shot_0001.dpx", "a1b000.sgi", "frame12.jpeg"};
  for (const char* name : names) {
    char base[64], ext[64], digits[64];
    const int n = file_name_parse_image_file_name(name, base, ext, digits);
    ASSERT_GT(n, 0) << name;
    file_name_format_image_file_name(base, ext, atoi(digits), n, out);
    EXPECT_STREQ(out, name);
  }
}

TEST(FileName, ComponentsAndDirectories) {
  char out[Q4_PATH_SIZE];
  EXPECT_STREQ(file_name_before_lastcomponent("/a/b/a", out), "/a/b");
  EXPECT_STREQ(out, "/a/b");
  EXPECT_STREQ(file_name_before_lastcomponent("/top", nullptr), "");
  EXPECT_STREQ(file_name_before_lastcomponent("bare", out), "");
  EXPECT_STREQ(out, "");

  EXPECT_STREQ(file_name_component("/usr/lib", 0, out), "/usr");
  EXPECT_STREQ(file_name_component("/usr/lib", 1, nullptr), "lib");
  EXPECT_EQ(file_name_component("/usr/lib", 2, out), nullptr);
  EXPECT_EQ(file_name_component("/usr/lib", -1, out), nullptr);
  EXPECT_EQ(file_name_component(nullptr, 0, out), nullptr);
  EXPECT_STREQ(file_name_component("a//b", 1, out), "");
  EXPECT_STREQ(file_name_component("a//b", 2, out), "b");
  EXPECT_STREQ(file_name_component("rel/x", 0, out), "rel");

  char path[64] = "";
  file_name_add_component(path, "one");
  file_name_add_component(path, "two");
  EXPECT_STREQ(path, "one/two");
  EXPECT_STREQ(file_name_concat("/d", "f"), "/d/f");
  EXPECT_STREQ(file_name_concat("", "f"), "f");
  EXPECT_STREQ(file_name_concat(nullptr, "f"), "f");
  EXPECT_STREQ(file_name_lastcomponent("/x/y.z"), "y.z");
  EXPECT_STREQ(file_name_lastcomponent("plain"), "plain");
}

TEST(FileName, ResultsTooLongForTheSharedBufferAreRefusedNotCut) {
  // 4095 characters fit with their terminator; one more would be cut to a
  // path naming something else.
  const std::string dir(4000, 'd');
  char out[Q4_PATH_SIZE] = "untouched";
  ASSERT_NE(file_name_concat(dir.c_str(), std::string(94, 'n').c_str()), nullptr);
  EXPECT_EQ(std::string(file_name_concat(dir.c_str(), std::string(94, 'n').c_str())),
            dir + "/" + std::string(94, 'n'));
  EXPECT_EQ(file_name_concat(dir.c_str(), std::string(95, 'n').c_str()), nullptr);
  EXPECT_EQ(file_name_concat(nullptr, std::string(4096, 'n').c_str()), nullptr);

  const std::string fits(4095, 'p'), over(4096, 'p');
  EXPECT_EQ(std::string(file_name_before_lastcomponent((fits + "/last").c_str(), out)), fits);
  EXPECT_EQ(file_name_before_lastcomponent((over + "/last").c_str(), nullptr), nullptr);
  EXPECT_EQ(std::string(file_name_component(("/a/" + fits + "/b").c_str(), 1, nullptr)), fits);
  std::strcpy(out, "untouched");
  EXPECT_EQ(file_name_component(("/a/" + over + "/b").c_str(), 1, out), nullptr);
  EXPECT_STREQ(out, "untouched");
  EXPECT_EQ(file_name_component(over.c_str(), 0, nullptr), nullptr);
  EXPECT_STREQ(file_name_component(("/a/" + over + "/b").c_str(), 2, nullptr), "b");
}

TEST(FileName, Extensions) {
  EXPECT_STREQ(file_name_extension("/a.b/c"), "b/c");  // the search spans slashes
  EXPECT_STREQ(file_name_extension("noext"), "");
  char out[64];
  EXPECT_TRUE(file_name_strip_extension("a.b.c", out));
  EXPECT_STREQ(out, "a.b");
  EXPECT_TRUE(file_name_strip_extension("name.", out));
  EXPECT_STREQ(out, "name.");
  EXPECT_TRUE(file_name_strip_extension("plain", out));
  EXPECT_STREQ(out, "plain");
  EXPECT_FALSE(file_name_strip_extension(nullptr, out));
  EXPECT_FALSE(file_name_strip_extension("a", nullptr));

  char text[] = "a b\tc/d";
  file_name_clean(text, '_', 0);
  EXPECT_STREQ(text, "a_b_c/d");
  char slashes[] = "x y/z";
  file_name_clean(slashes, '/', ':');  // a blank turned slash becomes ':' too
  EXPECT_STREQ(slashes, "x:y:z");
  EXPECT_LT(file_name_compare("a", "b"), 0);
}
