#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "imgio.h"
#include "imgio_memory_driver.h"
#include "imgio_message_capture.h"
#include "q4_memory.h"

namespace {

const int kRla = 2;

struct RlaSession {
  PluggedMemoryDriver driver{kRla};
  ImgioSession session;
  MessageCapture capture;
  RlaSession() { setimageformat("rla"); }
};

int noise(int x, int y, int c) { return static_cast<int>((x * 2654435761u + y * 40503u + c * 977u) >> 7) & 255; }
int noise16(int x, int y, int c) { return static_cast<int>((x * 2654435761u + y * 40503u + c * 977u) >> 5) & 65535; }

// Every delivered line of a scaled read, 8-bit or 16-bit, as samples.
std::vector<std::vector<int>> read_scaled(const char* name, int width, int height, bool deep,
                                          bool invert = false) {
  std::vector<std::vector<int>> lines;
  imginfo* h = openimgscaled(name, width, height);
  if (!h) return lines;
  if (invert && invertscaled(h) != 0) {
    closeimg(h);
    return lines;
  }
  unsigned int* line = createline(width);
  unsigned short* line16 = createline16(width);
  for (int y = 0; y < height; ++y) {
    std::vector<int> samples;
    if (deep ? readline16(h, line16) : readline(h, line)) break;
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 4; ++c)
        samples.push_back(deep ? line16[4 * x + c] : static_cast<int>((line[x] >> (8 * c)) & 255u));
    lines.push_back(samples);
  }
  q4_free_c(line, __FILE__, __LINE__);
  q4_free_c(line16, __FILE__, __LINE__);
  closeimg(h);
  return lines;
}

}  // namespace

TEST(ScaledReads, OwnSizeIsExact) {
  RlaSession s;
  memory_file("n.rla", 9, 7, false, noise);
  memory_file("d.rla", 6, 5, true, noise16);
  for (bool deep : {false, true}) {
    const auto lines = read_scaled("n.rla", 9, 7, deep);
    ASSERT_EQ(lines.size(), 7u);
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 9; ++x)
        for (int c = 0; c < 4; ++c)
          EXPECT_EQ(lines[y][4 * x + c], deep ? noise(x, y, c) * 257 : noise(x, y, c)) << x << "," << y;
  }
  const auto lines = read_scaled("d.rla", 6, 5, true);
  ASSERT_EQ(lines.size(), 5u);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x)
      for (int c = 0; c < 4; ++c) EXPECT_EQ(lines[y][4 * x + c], noise16(x, y, c));
}

TEST(ScaledReads, ConstantPictureStaysConstantAtAnySize) {
  RlaSession s;
  const int files[][2] = {{10, 8}, {1, 6}, {6, 1}, {1, 1}, {17, 3}, {300, 2}, {2, 300}};
  const int sizes[][2] = {{1, 1}, {1, 9}, {9, 1}, {3, 5}, {7, 2}, {13, 11}, {40, 40}, {5, 33}};
  for (bool deep : {false, true}) {
    const int rgba8[4] = {200, 17, 255, 1};
    const int rgba16[4] = {51234, 65535, 1, 777};
    const int* rgba = deep ? rgba16 : rgba8;
    for (const auto& file : files) {
      memory_file("c.rla", file[0], file[1], deep, [rgba](int, int, int c) { return rgba[c]; });
      for (const auto& size : sizes) {
        const auto lines = read_scaled("c.rla", size[0], size[1], deep);
        ASSERT_EQ(lines.size(), static_cast<size_t>(size[1])) << file[0] << "x" << file[1];
        for (const auto& line : lines)
          for (size_t i = 0; i < line.size(); ++i)
            ASSERT_EQ(line[i], rgba[i % 4])
                << deep << " " << file[0] << "x" << file[1] << " to " << size[0] << "x" << size[1];
      }
    }
  }
  EXPECT_TRUE(s.capture.messages.empty());
}

TEST(ScaledReads, FourByFourToTwoByTwoAveragesBoxes) {
  RlaSession s;
  // Red by hand; green and blue are fixed offsets, alpha full.
  const int red[4][4] = {{10, 20, 30, 40}, {50, 60, 70, 80}, {1, 2, 3, 4}, {5, 6, 7, 9}};
  memory_file("b.rla", 4, 4, false, [&red](int x, int y, int c) { return c == 3 ? 255 : red[y][x] + 40 * c; });
  // Box means: 35, 55 / 3.5, 5.75; 8-bit adds 0.49 before truncating.
  const int want8[2][2] = {{35, 55}, {3, 6}};
  const int want16[2][2] = {{35 * 257, 55 * 257}, {899, 1477}};
  for (bool deep : {false, true}) {
    const auto lines = read_scaled("b.rla", 2, 2, deep);
    ASSERT_EQ(lines.size(), 2u);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 2; ++x) {
        EXPECT_EQ(lines[y][4 * x], deep ? want16[y][x] : want8[y][x]) << deep << " " << x << "," << y;
        EXPECT_EQ(lines[y][4 * x + 3], deep ? 65535 : 255);
      }
    if (!deep) {
      EXPECT_EQ(lines[0][1], 75);
    }
  }
}

TEST(ScaledReads, EdgesStayInsideTheFile) {
  RlaSession s;
  // One column: no column 1 exists (the sanitized build sees any read of it).
  memory_file("col.rla", 1, 4, false, [](int, int y, int c) { return 10 * y + c; });
  const auto wide = read_scaled("col.rla", 3, 4, false);
  ASSERT_EQ(wide.size(), 4u);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(wide[y][4 * x + 1], 10 * y + 1);

  // One row: the first call pairs line 0 with itself and asks for no line 1.
  memory_file("row.rla", 5, 1, false, noise);
  memory_driver().lines_read.clear();
  const auto row = read_scaled("row.rla", 5, 1, false);
  ASSERT_EQ(row.size(), 1u);
  for (int x = 0; x < 5; ++x) EXPECT_EQ(row[0][4 * x + 2], noise(x, 0, 2));
  EXPECT_EQ(memory_driver().lines_read, std::vector<int>({0}));
}

TEST(ScaledReads, InvertedReadRunsBackwards) {
  RlaSession s;
  memory_file("n.rla", 4, 5, false, noise);
  const auto lines = read_scaled("n.rla", 4, 5, false, true);
  ASSERT_EQ(lines.size(), 5u);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(lines[y][4 * x], noise(x, 4 - y, 0)) << y;
  EXPECT_EQ(memory_driver().lines_read.front(), 4);
  EXPECT_GE(memory_driver().seeks, 5);

  imginfo* h = openimg("n.rla");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(invertscaled(h), 1);
  EXPECT_EQ(s.capture.last(), "ERROR: Attempt to set invertscaled on file not opened with openimgscaled.\n");
  EXPECT_EQ(closeimg(h), 0);
  h = createimg("w.rla", 2, 2, 8);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(invertscaled(h), 1);
  EXPECT_EQ(s.capture.last(), "ERROR: Attempt to set invertscaled on file opened for write.\n");
  EXPECT_EQ(closeimg(h), 0);
  EXPECT_EQ(invertscaled(nullptr), 1);

  memory_driver().fail_make_seek = true;
  h = openimgscaled("n.rla", 2, 2);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(invertscaled(h), 1);
  EXPECT_TRUE(s.capture.has("ERROR: Failed to make image [n.rla] seekable, format [rla]\n"));
  EXPECT_EQ(s.capture.last(), "UGH: Failed to make image line seekable.\n");
  EXPECT_EQ(s.capture.last_level(), IMSSYS_FATAL);
  EXPECT_EQ(h->invert, 0);
  EXPECT_EQ(closeimg(h), 0);
}

TEST(ScaledReads, FailedLineReadsAreReported) {
  RlaSession s;
  memory_file("n.rla", 4, 6, false, noise);
  std::vector<unsigned int> line(2);
  std::vector<unsigned short> line16(8);
  memory_driver().fail_read_line = 1;
  imginfo* h = openimgscaled("n.rla", 2, 3);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(readline(h, line.data()), 1);
  EXPECT_EQ(s.capture.last(), "ERROR: Failed to read initial lines from [n.rla] format [rla]\n");
  EXPECT_EQ(closeimg(h), 0);
  h = openimgscaled("n.rla", 2, 3);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(readline16(h, line16.data()), 1);
  EXPECT_EQ(s.capture.last(), "ERROR: Failed to read lines 0 or 1 from [n.rla] format [rla]\n");
  EXPECT_EQ(closeimg(h), 0);
  memory_driver().fail_read_line = 3;
  h = openimgscaled("n.rla", 2, 3);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(readline(h, line.data()), 0);
  EXPECT_EQ(readline(h, line.data()), 1);
  EXPECT_EQ(s.capture.last(), "ERROR: Failed to read line 3 from [n.rla] format [rla]\n");
  EXPECT_EQ(closeimg(h), 0);
}
