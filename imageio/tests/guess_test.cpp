#include <string>

#include <gtest/gtest.h>

#include "imgio_utils.h"
#include "temp_dir.h"

namespace {

struct Guess {
  int result;
  std::string format;
  std::string ext;
  int swapped;
};

Guess guess_file(const std::string& path) {
  char format[16] = "untouched";
  char ext[64] = "";
  int swapped = -1;
  const int result = imgguessformat(path.c_str(), format, ext, &swapped);
  return {result, format, ext, swapped};
}

std::string bytes(std::initializer_list<int> values, size_t size = 16) {
  std::string text;
  for (int v : values) text += static_cast<char>(v);
  text.resize(std::max(size, text.size()), '\x07');
  return text;
}

}  // namespace

TEST(GuessFormat, EachMagicInTableOrder) {
  TempDir dir;
  struct Case {
    std::string content;
    const char* format;
    int swapped;
  } cases[] = {
      {bytes({0x80, 0xe8, 0, 0}), "pixar", 0},
      {bytes({0, 0, 0xe8, 0x80}), "pixar", 1},
      {bytes({0x53, 0x80, 0xf6, 0x34}), "softimage", 0},
      {bytes({0x34, 0xf6, 0x80, 0x53}), "softimage", 1},
      {bytes({0x01, 0xda}), "sgirgb", 0},
      {bytes({0xda, 0x01}), "sgirgb", 1},
      {bytes({0, 0, 0x01, 0xca}), "vertigo", 0},
      {bytes({0xca, 0x01, 0, 0}), "vertigo", 1},
      {bytes({'M', 'M', 0, 42}), "tiff", 0},
      {bytes({'I', 'I', 42, 0}), "tiff", 1},
      {bytes({0x59, 0xa6, 0x6a, 0x95}), "sun", 0},
      {bytes({0x95, 0x6a, 0xa6, 0x59}), "sun", 1},
      {"%!PS-Adobe-3.0 EPSF", "ps", 0},
      {std::string("GIF87a") + std::string(10, '\0'), "gif", 0},
      {std::string("GIF89a") + std::string(10, '\0'), "unknown", 0},
      {bytes({0x80, 0x2a, 0x5f, 0xd7}), "cin", 0},
      {bytes({0xd7, 0x5f, 0x2a, 0x80}), "cin", 1},
      {bytes({0, 0, 0x22, 0, 0, 0, 0x02, 0}), "symbolics", 0},
      {bytes({0, 0, 0x22, 0, 0, 0, 0x03, 0}), "unknown", 0},
      {std::string("FOR4") + std::string(12, '\0'), "tdi", 0},
      {bytes({0xff, 0xd8, 0xff, 0xe0, 0, 0x10, 'J', 'F', 'I', 'F', 0}), "jpeg", 0},
      {bytes({0x10}, 580) + "rgb", "rla", 0},
      {bytes({0x10}, 580) + "xyz" + "more", "rla", 0},
      {bytes({0x10}, 580) + "rg", "unknown", 0},
      // Alias: width 640, height 480, then two numbers, then 24 bits, big-endian.
      {bytes({0x02, 0x80, 0x01, 0xe0, 0, 0, 0, 0, 0, 24}), "alias", 0},
      {bytes({0x02, 0x80, 0x01, 0xe0, 0, 0, 0, 0, 0, 8}), "alias", 0},
      {bytes({0x80, 0x02, 0xe0, 0x01, 0, 0, 0, 0, 24, 0}), "unknown", 0},
      {bytes({0x02, 0x80, 0x01, 0xe0, 0, 0, 0, 0, 0, 16}), "unknown", 0},
      {bytes({0x40, 0x00, 0x01, 0xe0, 0, 0, 0, 0, 0, 8}), "unknown", 0},
      {bytes({0x00, 0x00, 0x01, 0xe0, 0, 0, 0, 0, 0, 8}), "unknown", 0},
      {std::string(16, 'z'), "unknown", 0},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string path = dir / ("f" + std::to_string(n++) + ".img");
    write_text(path, c.content);
    const Guess g = guess_file(path);
    EXPECT_EQ(g.result, 0) << c.format << " " << n;
    EXPECT_EQ(g.format, c.format) << n;
    EXPECT_EQ(g.swapped, c.swapped) << n;
    EXPECT_EQ(g.ext, ".img");
  }
}

TEST(GuessFormat, ShortOrMissingFilesFail) {
  TempDir dir;
  write_text(dir / "short.tif", std::string("II*\0", 4) + std::string(11, '\0'));
  Guess g = guess_file(dir / "short.tif");
  EXPECT_EQ(g.result, 1);
  EXPECT_EQ(g.format, "untouched");
  EXPECT_EQ(g.ext, ".tif");
  g = guess_file(dir / "missing.0012");
  EXPECT_EQ(g.result, 1);
  EXPECT_EQ(g.ext, "");
  write_text(dir / "ok.0012", std::string(16, 'z'));
  g = guess_file(dir / "ok.0012");
  EXPECT_EQ(g.result, 0);
  EXPECT_EQ(g.ext, "");
  EXPECT_EQ(g.format, "unknown");
}
