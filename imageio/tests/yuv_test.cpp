#include <cstdlib>

#include <gtest/gtest.h>

#include "driver_files.h"
#include "imgio_yuv.h"

namespace {

unsigned rgb(unsigned r, unsigned g, unsigned b) { return r | g << 8 | b << 16 | 0xFF000000u; }

}  // namespace

TEST(Yuv, BlackIsStudioBlackWithAndWithoutTheFilter) {
  DriverSession s("yuv");
  setkeyval("IMGIO_YUV_LINESIZE", "6");
  setkeyval("IMGIO_YUV_LINES", "2");
  std::vector<unsigned> black(12, rgb(0, 0, 0));
  for (const char* filter : {"no", "yes"}) {
    setkeyval("IMGIO_YUV_FILTER", filter);
    ASSERT_EQ(writeyuvimage(black.data(), 6, 2, (s / "black.yuv").c_str()), 0);
    const Bytes b = file_bytes(s / "black.yuv");
    ASSERT_EQ(b.size(), 24u);
    for (size_t i = 0; i < b.size(); i += 4) EXPECT_EQ(Bytes(b.begin() + i, b.begin() + i + 4), (Bytes{128, 16, 128, 16}));
  }
}

TEST(Yuv, SizesOutsideTheLimitsAreRefused) {
  DriverSession s("yuv");
  std::vector<unsigned> image(4, rgb(1, 2, 3));
  write_bytes(s / "any.yuv", Bytes(2 * 721 * 2, 0));
  for (auto size : {std::array<const char*, 2>{"721", "1"}, {"719", "1"}, {"0", "1"}, {"-2", "1"}, {"2", "0"},
                    {"2", "577"}, {"2", "-1"}, {"2x", "1"}}) {
    setkeyval("IMGIO_YUV_LINESIZE", size[0]);
    setkeyval("IMGIO_YUV_LINES", size[1]);
    int w = 0, h = 0;
    EXPECT_EQ(readyuvimage((s / "any.yuv").c_str(), &w, &h), nullptr) << size[0] << " " << size[1];
    EXPECT_EQ(writeyuvimage(image.data(), 2, 2, (s / "out.yuv").c_str()), 1) << size[0] << " " << size[1];
    EXPECT_EQ(openimg((s / "any").c_str()), nullptr);
  }
  // A file shorter than the frame.
  setkeyval("IMGIO_YUV_LINESIZE", "720");
  setkeyval("IMGIO_YUV_LINES", "2");
  write_bytes(s / "short.yuv", Bytes(720 * 2 * 2 - 1, 128));
  int w = 0, h = 0;
  EXPECT_EQ(readyuvimage((s / "short.yuv").c_str(), &w, &h), nullptr);
}

TEST(Yuv, FullSizeFramesAreNotResampledOthersAre) {
  DriverSession s("yuv");
  // Columns alternate black and white: any resampling would blur them.
  std::vector<unsigned> stripes(720 * 576);
  for (size_t i = 0; i < stripes.size(); ++i) stripes[i] = i % 2 ? rgb(255, 255, 255) : rgb(0, 0, 0);
  ASSERT_EQ(writeyuvimage(stripes.data(), 720, 576, (s / "full.yuv").c_str()), 0);
  const Bytes b = file_bytes(s / "full.yuv");
  ASSERT_EQ(b.size(), 720u * 576 * 2);
  for (size_t i = 0; i < b.size(); i += 4) {
    ASSERT_EQ(b[i + 1], 16) << i;
    ASSERT_GE(b[i + 3], 234) << i;  // white: 219 steps above black, less any rounding down
  }
  // Half the size: resized to the frame, the stripes blend.
  std::vector<unsigned> half(360 * 288);
  for (size_t i = 0; i < half.size(); ++i) half[i] = i % 2 ? rgb(255, 255, 255) : rgb(0, 0, 0);
  ASSERT_EQ(writeyuvimage(half.data(), 360, 288, (s / "half.yuv").c_str()), 0);
  const Bytes r = file_bytes(s / "half.yuv");
  ASSERT_EQ(r.size(), 720u * 576 * 2);
  int between = 0;
  for (size_t i = 0; i < r.size(); i += 2) between += r[i + 1] > 40 && r[i + 1] < 210;
  EXPECT_GT(between, 720 * 576 / 4);
  // The filter is on for exactly "yes".
  setkeyval("IMGIO_YUV_FILTER", "Yes");
  ASSERT_EQ(writeyuvimage(stripes.data(), 720, 576, (s / "yes.yuv").c_str()), 0);
  EXPECT_EQ(file_bytes(s / "yes.yuv"), b);
  setkeyval("IMGIO_YUV_FILTER", "yes");
  ASSERT_EQ(writeyuvimage(stripes.data(), 720, 576, (s / "yes.yuv").c_str()), 0);
  EXPECT_NE(file_bytes(s / "yes.yuv"), b);
}

TEST(Yuv, LinesComeFromTheBottomAndWidenByShifting) {
  DriverSession s("yuv");
  setkeyval("IMGIO_YUV_LINESIZE", "2");
  setkeyval("IMGIO_YUV_LINES", "2");
  // Top line black, bottom line grey 128 (Y = 16 + 219 / 2).
  write_bytes(s / "two.yuv", Bytes{128, 16, 128, 16, 128, 126, 128, 126});
  imginfo* h = openimg((s / "two").c_str());
  ASSERT_NE(h, nullptr);
  std::vector<unsigned> line(2);
  ASSERT_EQ(readline(h, line.data()), 0);
  const unsigned grey = unsigned((110.0 / 219.0) * 255.0);
  EXPECT_EQ(line[0], rgb(grey, grey, grey));
  ASSERT_EQ(readline(h, line.data()), 0);
  EXPECT_EQ(line[1], rgb(0, 0, 0));
  EXPECT_EQ(closeimg(h), 0);
  h = openimg((s / "two").c_str());
  std::vector<unsigned short> line16(8);
  ASSERT_EQ(readline16(h, line16.data()), 0);
  EXPECT_EQ(line16[0], grey << 8);
  EXPECT_EQ(line16[3], 65280);
  EXPECT_EQ(closeimg(h), 0);
}
