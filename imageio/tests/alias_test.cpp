#include <gtest/gtest.h>

#include "driver_files.h"
#include "imgio_alias.h"

namespace {

unsigned rgb(unsigned r, unsigned g, unsigned b) { return r | g << 8 | b << 16 | 0xFF000000u; }

Bytes alias_file(int width, int height, int bits, const Bytes& data) {
  Bytes b;
  be16(b, unsigned(width));
  be16(b, unsigned(height));
  be16(b, 0);
  be16(b, 0);
  be16(b, unsigned(bits));
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

}  // namespace

TEST(Alias, OwnFilesAreHeaderAndRunPackets) {
  DriverSession s("alias");
  imginfo* h = createimg((s / "own").c_str(), 600, 2, 8);
  ASSERT_NE(h, nullptr);
  std::vector<unsigned> equal(600, rgb(1, 2, 3) & 0x00FFFFFFu), ramp(600);
  for (int x = 0; x < 600; ++x) ramp[x] = unsigned(x / 2) | 0x7F000000u;
  ASSERT_EQ(writeline(h, equal.data()), 0);
  ASSERT_EQ(writeline(h, ramp.data()), 0);
  ASSERT_EQ(closeimg(h), 0);
  const Bytes b = file_bytes(s / "own.als");
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 10), (Bytes{2, 0x58, 0, 2, 0, 0, 0, 0, 0, 24}));
  // 600 equal pixels: 255, 255 and 90, each count, blue, green, red.
  EXPECT_EQ(Bytes(b.begin() + 10, b.begin() + 22), (Bytes{255, 3, 2, 1, 255, 3, 2, 1, 90, 3, 2, 1}));
  // Pairs (alpha is not stored, so it does not split runs).
  EXPECT_EQ(Bytes(b.begin() + 22, b.begin() + 30), (Bytes{2, 0, 0, 0, 2, 0, 0, 1}));
  EXPECT_EQ(b.size(), 22u + 300 * 4);
}

TEST(Alias, GreyFilesCountsOfZeroAndOverrunningPackets) {
  DriverSession s("alias");
  // Grey: 2 bytes a packet; a count of 0 counts as 1.
  write_bytes(s / "grey.als", alias_file(3, 1, 8, {2, 40, 0, 90}));
  imginfo* h = openimg((s / "grey").c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(read_line8(h), (std::vector<unsigned>{rgb(40, 40, 40), rgb(40, 40, 40), rgb(90, 90, 90)}));
  EXPECT_EQ(closeimg(h), 0);
  h = openimg((s / "grey").c_str());
  std::vector<unsigned short> line16(12);
  ASSERT_EQ(readline16(h, line16.data()), 0);
  EXPECT_EQ(std::vector<unsigned short>(line16.begin(), line16.begin() + 4),
            (std::vector<unsigned short>{40 * 257, 40 * 257, 40 * 257, 65535}));
  EXPECT_EQ(closeimg(h), 0);
  // A packet that runs past the width ends its line unapplied, the pixels
  // it would have set black whatever the line before held; the next line
  // starts at the packet after it.
  write_bytes(s / "over.als", alias_file(3, 3, 24, {3, 7, 7, 7, 1, 3, 2, 1, 5, 9, 9, 9, 3, 6, 5, 4}));
  h = openimg((s / "over").c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(read_line8(h), (std::vector<unsigned>{rgb(7, 7, 7), rgb(7, 7, 7), rgb(7, 7, 7)}));
  testing::internal::CaptureStdout();
  const auto second = read_line8(h);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ALIAS: Bad line elngth!\n");
  EXPECT_EQ(second, (std::vector<unsigned>{rgb(1, 2, 3), rgb(0, 0, 0), rgb(0, 0, 0)}));
  EXPECT_EQ(read_line8(h), (std::vector<unsigned>{rgb(4, 5, 6), rgb(4, 5, 6), rgb(4, 5, 6)}));
  EXPECT_EQ(closeimg(h), 0);
  // A packet cut by the end of the file fails the line.
  write_bytes(s / "cut.als", alias_file(3, 1, 24, {3, 1, 2}));
  h = openimg((s / "cut").c_str());
  std::vector<unsigned> line(3);
  EXPECT_EQ(readline(h, line.data()), 1);
  EXPECT_EQ(closeimg(h), 0);
}

TEST(Alias, HeadersOutsideTheReaderAreRefused) {
  DriverSession s("alias");
  const struct {
    Bytes file;
    std::string why;
  } bad[] = {{alias_file(2, 1, 16, {}), "16 bits per pixel"},
             {alias_file(2, 0xFFFF, 24, {}), "size 2x-1 out of range"},
             {alias_file(0, 1, 8, {}), "size 0x1 out of range"}};
  for (const auto& c : bad) {
    write_bytes(s / "bad.als", c.file);
    s.capture.messages.clear();
    EXPECT_EQ(openimg((s / "bad").c_str()), nullptr) << c.why;
    EXPECT_TRUE(s.capture.has(refusal("ALIAS", s / "bad.als", c.why))) << c.why;
  }
  write_bytes(s / "short.als", Bytes{0, 1, 0, 1, 0});
  EXPECT_EQ(openimg((s / "short").c_str()), nullptr);
}

TEST(Alias, DecoderOnSpansAndSeeks) {
  const Bytes in{2, 1, 2, 3, 1, 4, 5, 6, 9};
  unsigned char r[3], g[3], b[3];
  size_t used = 0;
  EXPECT_EQ(getalias(in.data(), in.size(), &used, r, g, b, 3, 24), 1);
  EXPECT_EQ(used, 8u);
  EXPECT_EQ(r[0], 3);
  EXPECT_EQ(b[2], 4);
  used = 0;
  EXPECT_EQ(getalias(in.data(), 7, &used, r, g, b, 3, 24), 0);

  DriverSession s("alias");
  ASSERT_TRUE(write_picture(s / "seek.als", 33, 5, false));
  imginfo* h = openimg((s / "seek").c_str());
  ASSERT_NE(h, nullptr);
  read_line8(h);
  ASSERT_EQ(makeseekable(h), 0);
  for (int y : {3, 0, 4}) {
    ASSERT_EQ(seekline(h, y), 0);
    const auto line = read_line8(h);
    EXPECT_EQ(line[7], pixel8(7, y) | 0xFF000000u) << y;
  }
  EXPECT_EQ(closeimg(h), 0);
}
