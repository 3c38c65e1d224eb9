#include <gtest/gtest.h>

#include "driver_files.h"
#include "imgio_art24.h"

namespace {

unsigned rgb(unsigned r, unsigned g, unsigned b) { return r | g << 8 | b << 16 | 0xFF000000u; }

// A header of the given type, width and height; the data start follows
// the type.
Bytes art24_file(int type, int width, int height, const Bytes& data) {
  Bytes b(type == 0xB7 || type == 0xB9 ? 12288 : 2048, 0);
  b[1] = uint8_t(type);
  put_le16(b, 42, unsigned(width));
  put_le16(b, 44, unsigned(height));
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

}  // namespace

TEST(Art24, OwnFilesHeaderAndValueCountPairs) {
  DriverSession s("art24");
  imginfo* h = createimg((s / "own").c_str(), 600, 2, 8);
  ASSERT_NE(h, nullptr);
  std::vector<unsigned> equal(600, rgb(1, 2, 3)), different(600);
  for (int x = 0; x < 600; ++x) different[x] = unsigned(x) * 0x010101u;
  ASSERT_EQ(writeline(h, equal.data()), 0);
  ASSERT_EQ(writeline(h, different.data()), 0);
  ASSERT_EQ(closeimg(h), 0);
  const Bytes b = file_bytes(s / "own.r");
  EXPECT_EQ(b[0], 0);
  EXPECT_EQ(b[1], 0xB5);
  EXPECT_EQ(std::string(b.begin() + 2, b.begin() + 13), std::string("No comment") + '\0');
  EXPECT_EQ(b[42] | b[43] << 8, 600);
  EXPECT_EQ(b[44] | b[45] << 8, 2);
  for (int t = 0; t < 2; ++t)
    for (int i = 0; i < 256; ++i)
      for (int c = 0; c < 3; ++c) ASSERT_EQ(b[128 + 768 * t + 3 * i + c], i);
  EXPECT_EQ(std::string(b.begin() + 1671, b.begin() + 1677), "vers-6");
  EXPECT_EQ(Bytes(b.begin() + 1677, b.begin() + 1687), (Bytes{0, 1, 0xFF, 1, 1, 0, 44, 1, 1, 0}));
  // 600 equal values a plane: 255, 255 and 90, planes green, red, blue.
  EXPECT_EQ(Bytes(b.begin() + 2048, b.begin() + 2066),
            (Bytes{2, 255, 2, 255, 2, 90, 1, 255, 1, 255, 1, 90, 3, 255, 3, 255, 3, 90}));
  // No two equal neighbours: every byte with a count of 1, twice the size.
  EXPECT_EQ(b.size(), 2066u + 3 * 600 * 2);
  EXPECT_EQ(Bytes(b.begin() + 2066, b.begin() + 2070), (Bytes{0, 1, 1, 1}));
}

TEST(Art24, PlainLargeHeadersAndCodedPlanes) {
  DriverSession s("art24");
  // Type 0xB7: plain lines at 12288, planes green, red, blue.
  write_bytes(s / "plain.r", art24_file(0xB7, 2, 1, {10, 11, 20, 21, 30, 31}));
  imginfo* h = openimg((s / "plain").c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(read_line8(h), (std::vector<unsigned>{rgb(20, 10, 30), rgb(21, 11, 31)}));
  EXPECT_EQ(closeimg(h), 0);
  h = openimg((s / "plain").c_str());
  std::vector<unsigned short> line16(8);
  ASSERT_EQ(readline16(h, line16.data()), 0);
  EXPECT_EQ(std::vector<unsigned short>(line16.begin(), line16.begin() + 4),
            (std::vector<unsigned short>{20 << 8, 10 << 8, 30 << 8, 65535}));
  EXPECT_EQ(closeimg(h), 0);
  // Other types are plain at 2048; 0xB9 is coded at 12288.
  write_bytes(s / "other.r", art24_file(0x42, 1, 1, {1, 2, 3}));
  h = openimg((s / "other").c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(read_line8(h), (std::vector<unsigned>{rgb(2, 1, 3)}));
  EXPECT_EQ(closeimg(h), 0);
  // Counts past the width are cut to it.
  write_bytes(s / "coded.r", art24_file(0xB9, 2, 2, {5, 9, 6, 2, 7, 1, 8, 1, 1, 2, 2, 2, 3, 2}));
  h = openimg((s / "coded").c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(read_line8(h), (std::vector<unsigned>{rgb(6, 5, 7), rgb(6, 5, 8)}));
  EXPECT_EQ(read_line8(h), (std::vector<unsigned>{rgb(2, 1, 3), rgb(2, 1, 3)}));
  EXPECT_EQ(closeimg(h), 0);
}

TEST(Art24, CountsOfZeroAndTheEndOfTheFileFailTheLine) {
  DriverSession s("art24");
  for (const Bytes& data : {Bytes{5, 0, 5, 2}, Bytes{5, 1}, Bytes{5, 2, 6}}) {
    write_bytes(s / "bad.r", art24_file(0xB5, 2, 1, data));
    imginfo* h = openimg((s / "bad").c_str());
    ASSERT_NE(h, nullptr);
    std::vector<unsigned> line(2);
    EXPECT_EQ(readline(h, line.data()), 1);
    EXPECT_EQ(closeimg(h), 0);
  }
  unsigned char plane[4];
  const Bytes pairs{1, 3, 2, 0};
  size_t used = 0;
  EXPECT_EQ(art24_decode_plane(pairs.data(), pairs.size(), &used, plane, 4), 0);
  used = 0;
  EXPECT_EQ(art24_decode_plane(pairs.data(), pairs.size(), &used, plane, 3), 1);
  EXPECT_EQ(used, 2u);
  // Plain data longer than the file, sizes out of range, no data at all.
  Bytes cut = art24_file(0xB9, 1, 1, {});
  cut.resize(2000);
  const struct {
    Bytes file;
    const char* why;
  } bad[] = {{art24_file(0xB7, 4, 4, Bytes(47, 0)), "plain lines longer than the file"},
             {art24_file(0xB5, -3, 4, {}), "size out of range"},
             {cut, "no picture data"}};
  for (const auto& c : bad) {
    write_bytes(s / "hdr.r", c.file);
    s.capture.messages.clear();
    EXPECT_EQ(openimg((s / "hdr").c_str()), nullptr) << c.why;
    EXPECT_TRUE(s.capture.has(refusal("ART24", s / "hdr.r", c.why))) << c.why;
  }
}

TEST(Art24, SeeksMatchSequentialReads) {
  DriverSession s("art24");
  ASSERT_TRUE(write_picture(s / "seek.r", 29, 6, false));
  imginfo* h = openimg((s / "seek").c_str());
  ASSERT_NE(h, nullptr);
  read_line8(h);
  ASSERT_EQ(makeseekable(h), 0);
  for (int y : {5, 1, 3}) {
    ASSERT_EQ(seekline(h, y), 0);
    const auto line = read_line8(h);
    for (int x = 0; x < 29; ++x) ASSERT_EQ(line[x], pixel8(x, y) | 0xFF000000u) << x << "," << y;
  }
  EXPECT_EQ(closeimg(h), 0);
}
