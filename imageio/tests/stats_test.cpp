#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "imgio_memory_driver.h"
#include "imgio_message_capture.h"
#include "imgio_utils.h"
#include "q4_memory.h"

namespace {

const int kSun = 10;

struct SunSession {
  PluggedMemoryDriver driver{kSun};
  ImgioSession session;
  MessageCapture capture;
  SunSession() { setimageformat("sun"); }
};

int noise16(int x, int y, int c) { return static_cast<int>((x * 2654435761u + y * 40503u + c * 977u) >> 9) & 65535; }
int noise(int x, int y, int c) { return noise16(x, y, c) & 255; }

}  // namespace

TEST(ShowHeader, PrintsTheGenericLinesThenTheDriversOwn) {
  SunSession s;
  memory_file("a.ras", 6, 4, true, noise16);
  imginfo* h = openimgscaled("a.ras", 3, 2);
  ASSERT_NE(h, nullptr);
  s.capture.messages.clear();
  EXPECT_EQ(showheader(h), 0);
  std::string all;
  for (const auto& m : s.capture.messages) all += m.text;
  EXPECT_EQ(all,
            "\nGeneric Image File Information\n"
            "==============================\n"
            "      Name: a.ras\n"
            "    Format: sun\n"
            "      Size: 6 x 4\n"
            " Scaled to: 3 x 2\n"
            " Precision: 16 bits/channel\n"
            "  Open for: read\n"
            "Memory image of 4 lines\n");
  memory_driver().fail_header = true;
  EXPECT_EQ(showheader(h), 1);
  EXPECT_EQ(s.capture.last(), "ERROR: Failed to display format specific header information.\n");
  EXPECT_EQ(closeimg(h), 0);
  EXPECT_EQ(showheader(nullptr), 1);
}

TEST(ShowHeader, WithoutDriverLinesEndsWithABlankLine) {
  imgio_driver ops = memory_driver_ops::all;
  ops.Sheader = nullptr;
  PluggedMemoryDriver driver(kSun, ops);
  ImgioSession session;
  MessageCapture capture;
  setimageformat("sun");
  imginfo* h = createimg("w", 2, 3, 8);
  ASSERT_NE(h, nullptr);
  capture.messages.clear();
  EXPECT_EQ(showheader(h), 0);
  ASSERT_EQ(capture.messages.size(), 8u);
  EXPECT_EQ(capture.messages[2].text, "      Name: w.ras\n");
  EXPECT_EQ(capture.messages[5].text, " Precision: 8 bits/channel\n");
  EXPECT_EQ(capture.messages[6].text, "  Open for: write\n");
  EXPECT_EQ(capture.messages[7].text, "\n");
  EXPECT_EQ(closeimg(h), 0);
}

TEST(Statistics, CoverEveryLineWhateverWasReadBefore) {
  SunSession s;
  for (bool deep : {false, true}) {
    memory_file("a.ras", 7, 5, deep, deep ? noise16 : noise);
    // Naive reference over the stored samples.
    int low[4], high[4];
    double sum[4] = {0, 0, 0, 0};
    for (int c = 0; c < 4; ++c) {
      low[c] = 1 << 20;
      high[c] = -1;
      for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) {
          const int v = deep ? noise16(x, y, c) : noise(x, y, c);
          low[c] = std::min(low[c], v);
          high[c] = std::max(high[c], v);
          sum[c] += v;
        }
    }
    imginfo* h = openimg("a.ras");
    ASSERT_NE(h, nullptr);
    std::vector<unsigned int> line(7);
    ASSERT_EQ(readline(h, line.data()), 0);
    ASSERT_EQ(readline(h, line.data()), 0);
    imgstats* stats = statsimg(h);
    ASSERT_NE(stats, nullptr);
    EXPECT_EQ(h->seekable, 1);
    EXPECT_EQ(stats->count, 35u);
    const int32_t got_low[4] = {stats->r_min, stats->g_min, stats->b_min, stats->a_min};
    const int32_t got_high[4] = {stats->r_max, stats->g_max, stats->b_max, stats->a_max};
    const double means[4] = {stats->r_mean, stats->g_mean, stats->b_mean, stats->a_mean};
    for (int c = 0; c < 4; ++c) {
      EXPECT_EQ(got_low[c], low[c]) << deep << c;
      EXPECT_EQ(got_high[c], high[c]) << deep << c;
      EXPECT_DOUBLE_EQ(means[c], sum[c] / 35) << deep << c;
    }
    q4_free_c(stats, __FILE__, __LINE__);
    // Back at line 0 afterwards.
    ASSERT_EQ(readline(h, line.data()), 0);
    EXPECT_EQ(line[3] & 255u, static_cast<unsigned>(deep ? noise16(3, 0, 0) >> 8 : noise(3, 0, 0)));
    EXPECT_EQ(closeimg(h), 0);
  }
}

TEST(Statistics, RefuseWriteScaledAndUnseekableHandles) {
  SunSession s;
  memory_file("a.ras", 4, 4, false, noise);
  imginfo* h = createimg("w", 2, 2, 8);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(statsimg(h), nullptr);
  EXPECT_EQ(s.capture.last(), "ERROR: Image to get statistics for not open for read.\n");
  EXPECT_EQ(readsummaryimg(h, 2, 2), nullptr);
  EXPECT_EQ(s.capture.last(), "ERROR: Image to summarize not open for read.\n");
  EXPECT_EQ(closeimg(h), 0);
  h = openimgscaled("a.ras", 2, 2);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(statsimg(h), nullptr);
  EXPECT_EQ(s.capture.last(), "ERROR: Cannot get statistics for image opened for scaled read.\n");
  EXPECT_EQ(readsummaryimg(h, 2, 2), nullptr);
  EXPECT_EQ(s.capture.last(), "ERROR: Cannot summarize image opened for scaled read.\n");
  EXPECT_EQ(closeimg(h), 0);
  memory_driver().fail_make_seek = true;
  h = openimg("a.ras");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(statsimg(h), nullptr);
  EXPECT_EQ(s.capture.last(), "ERROR: Failed to make image [a.ras] seekable, format [sun]\n");
  EXPECT_EQ(closeimg(h), 0);
  memory_driver().fail_make_seek = false;
  memory_driver().fail_read_line = 2;
  h = openimg("a.ras");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(statsimg(h), nullptr);
  EXPECT_EQ(closeimg(h), 0);
  EXPECT_EQ(statsimg(nullptr), nullptr);
}

TEST(Summary, PointSamplesThePictureBottomUp) {
  SunSession s;
  memory_file("a.ras", 10, 7, false, noise);
  for (int order : {IMGIO_BOTTOM_FIRST, IMGIO_TOP_FIRST}) {
    memory_driver().line_order = order;
    imginfo* h = openimg("a.ras");
    ASSERT_NE(h, nullptr);
    const int sizes[][2] = {{4, 3}, {10, 7}, {13, 9}, {1, 1}};
    for (const auto& size : sizes) {
      const int w = size[0], ht = size[1];
      unsigned int* summary = readsummaryimg(h, w, ht);
      ASSERT_NE(summary, nullptr);
      for (int r = 0; r < ht; ++r) {
        const int y = std::min(r * 7 / ht, 6);
        const int file_line = order == IMGIO_BOTTOM_FIRST ? y : 6 - y;
        for (int i = 0; i < w; ++i) {
          const int x = std::min(i * 10 / w, 9);
          unsigned want = 0;
          for (int c = 0; c < 4; ++c) want |= static_cast<unsigned>(noise(x, file_line, c)) << (8 * c);
          EXPECT_EQ(summary[r * w + i], want) << order << " " << w << "x" << ht << " " << i << "," << r;
        }
      }
      destroybuffer(summary);
    }
    EXPECT_EQ(readsummaryimg(h, 0, 3), nullptr);
    EXPECT_EQ(closeimg(h), 0);
  }
}
