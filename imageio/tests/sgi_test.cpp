#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver_test_support.h"
#include "imgio.h"
#include "imgio_memory_driver.h"
#include "imgio_message_capture.h"
#include "q4_memory.h"
#include "sgi_image.h"
#include "temp_dir.h"

namespace {

// Hand-built files: fields in big-endian (or little-endian) order.
struct SgiFile {
  bool little = false;
  std::string bytes;
  void put(uint32_t v, int n) {
    for (int j = 0; j < n; ++j) bytes += char(little ? v >> (8 * j) : v >> (8 * (n - 1 - j)));
  }
};

SgiFile sgi_header(bool little, unsigned type, unsigned dim, unsigned x, unsigned y, unsigned z) {
  SgiFile f;
  f.little = little;
  for (unsigned v : {474u, type, dim, x, y, z}) f.put(v, 2);
  for (int i = 0; i < 3; ++i) f.put(0, 4);
  f.bytes += std::string(80, '\0');
  f.put(0, 4);
  // The reserved bytes hold nothing of the header.
  f.bytes += std::string(512 - 108, '\xff');
  return f;
}

// A run-length file of rows (y + z * ysize order) coded by the test's own
// packets: literal packets of at most 3 values.
SgiFile rle_file(bool little, int bpc, unsigned dim, unsigned x, unsigned y, unsigned z,
                 const std::vector<std::vector<uint16_t>>& rows) {
  SgiFile f = sgi_header(little, 0x100 | bpc, dim, x, y, z);
  std::vector<std::string> coded;
  SgiFile row;
  row.little = little;
  for (const auto& values : rows) {
    row.bytes.clear();
    for (size_t i = 0; i < values.size(); i += 3) {
      const size_t n = std::min<size_t>(3, values.size() - i);
      row.put(0x80 | n, bpc);
      for (size_t k = 0; k < n; ++k) row.put(values[i + k], bpc);
    }
    row.put(0, bpc);
    coded.push_back(row.bytes);
  }
  uint32_t at = 512 + 8 * rows.size();
  for (const std::string& c : coded) {
    f.put(at, 4);
    at += c.size();
  }
  for (const std::string& c : coded) f.put(c.size(), 4);
  for (const std::string& c : coded) f.bytes += c;
  return f;
}

SgiFile verbatim_file(bool little, int bpc, unsigned dim, unsigned x, unsigned y, unsigned z,
                      const std::vector<std::vector<uint16_t>>& rows) {
  SgiFile f = sgi_header(little, bpc, dim, x, y, z);
  for (const auto& values : rows)
    for (uint16_t v : values) f.put(v, bpc);
  return f;
}

std::vector<uint16_t> row_of(SgiImage* image, unsigned y, unsigned z) {
  std::vector<uint16_t> row(image->xsize, 0xEEEE);
  if (getrow(image, row.data(), y, z) != image->xsize) row.clear();
  return row;
}

struct Closer {
  SgiImage* image;
  ~Closer() {
    if (!image) return;
    if (image->file >= 0) iclose(image);
    q4_free_c(image, __FILE__, __LINE__);
  }
};

std::vector<uint8_t> as_bytes(const std::vector<uint16_t>& units, int unit) {
  std::vector<uint8_t> out;
  for (uint16_t u : units) {
    if (unit == 2) out.push_back(uint8_t(u));  // host order, little-endian
    if (unit == 2) out.push_back(uint8_t(u >> 8));
    if (unit == 1) out.push_back(uint8_t(u));
  }
  return out;
}

}  // namespace

TEST(SgiCoder, ExactPacketsForEveryPairOfUnits) {
  struct Case {
    std::vector<uint16_t> row;
    std::vector<uint16_t> units;
  } cases[] = {
      // 127 equal values: runs of 126 and 1, then the end mark.
      {std::vector<uint16_t>(127, 9), {126, 9, 1, 9, 0}},
      // Two values: runs only.
      {{4, 5}, {1, 4, 1, 5, 0}},
      {{7}, {1, 7, 0}},
      {{1, 2, 3, 4}, {0x82, 1, 2, 1, 3, 1, 4, 0}},
      {{1, 2, 2, 2, 3, 4, 5}, {0x81, 1, 3, 2, 0x81, 3, 1, 4, 1, 5, 0}},
      {{6, 6, 6, 6}, {4, 6, 0}},
  };
  for (const Case& c : cases)
    for (int in : {1, 2})
      for (int out : {1, 2}) {
        const std::vector<uint8_t> input = as_bytes(c.row, in);
        std::vector<uint8_t> coded(sgi_row_units(c.row.size()) * 2, 0xAA);
        const long units = img_rle_compact(input.data(), in, coded.data(), out, c.row.size());
        ASSERT_EQ(units, long(c.units.size())) << in << out;
        coded.resize(units * out);
        EXPECT_EQ(coded, as_bytes(c.units, out)) << in << out;
        std::vector<uint8_t> back(c.row.size() * out);
        EXPECT_EQ(img_rle_expand(coded.data(), out, units, back.data(), out, c.row.size()), long(c.row.size()));
        EXPECT_EQ(back, as_bytes(c.row, out));
        // Expanding into the other unit size.
        std::vector<uint8_t> other(c.row.size() * in);
        EXPECT_EQ(img_rle_expand(coded.data(), out, units, other.data(), in, c.row.size()), long(c.row.size()));
        EXPECT_EQ(other, as_bytes(c.row, in));
      }
  uint8_t any[4] = {};
  EXPECT_EQ(img_rle_compact(any, 3, any, 1, 1), -1);
  EXPECT_STREQ(g_errbuf, "rle_compact: bad bpp: 3 1\n");
  EXPECT_EQ(img_rle_expand(any, 1, 1, any, 4, 1), -1);
  EXPECT_STREQ(g_errbuf, "rle_expand: bad bpp: 1 4\n");
}

TEST(SgiCoder, CodedRowsFitTheirBufferAndDecodeBack) {
  // Every row of up to 12 values of two symbols, up to 8 of three, and
  // long random rows of few symbols: the coding fits n + n / 126 + 4 units
  // and decodes to the row.
  std::vector<std::vector<uint16_t>> rows;
  for (int n = 1; n <= 12; ++n)
    for (int bits = 0; bits < (1 << n); ++bits) {
      std::vector<uint16_t> row(n);
      for (int i = 0; i < n; ++i) row[i] = (bits >> i) & 1;
      rows.push_back(row);
    }
  for (int n = 1; n <= 8; ++n) {
    int count = 1;
    for (int i = 0; i < n; ++i) count *= 3;
    for (int k = 0; k < count; ++k) {
      std::vector<uint16_t> row(n);
      for (int i = 0, v = k; i < n; ++i, v /= 3) row[i] = v % 3;
      rows.push_back(row);
    }
  }
  srand(3);
  for (int n : {125, 126, 127, 128, 251, 252, 253, 640, 2048})
    for (int symbols : {1, 2, 3, 50}) {
      std::vector<uint16_t> row(n);
      for (uint16_t& v : row) v = rand() % symbols * 1000;
      rows.push_back(row);
      // Alternating pairs and single values between runs of three.
      for (int i = 0; i < n; ++i) row[i] = (i % 7 < 3) ? 5 : i;
      rows.push_back(row);
    }
  size_t worst = 0;
  for (const auto& row : rows) {
    const size_t n = row.size();
    std::vector<uint16_t> coded(sgi_row_units(n));
    const long units = img_rle_compact(row.data(), 2, coded.data(), 2, n);
    ASSERT_GT(units, 0);
    EXPECT_LE(size_t(units), n + n / 126 + 4) << n;
    worst = std::max(worst, size_t(units) - n);
    std::vector<uint16_t> back(n);
    ASSERT_EQ(img_rle_expand(coded.data(), 2, units, back.data(), 2, n), long(n));
    EXPECT_EQ(back, row);
  }
  EXPECT_GE(worst, 3u);
}

TEST(SgiCoder, ExpansionStopsAtItsInputAndOutput) {
  struct Case {
    std::vector<uint8_t> coded;
    size_t out_count;
    long result;
  } cases[] = {
      {{0x83, 1, 2, 3, 0}, 3, 3},
      {{0x83, 1, 2, 3}, 3, 3},        // no end mark after a full row
      {{0x83, 1, 2, 3, 0}, 2, -1},    // a packet past the row
      {{5, 9, 0}, 4, -1},
      {{0x84, 1, 2, 3}, 4, -1},       // literal values missing
      {{2}, 2, -1},                   // a run without its value
      {{2, 7, 0, 1, 1}, 3, 2},        // the end mark ends the row early
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> out(8, 0xEE);
    EXPECT_EQ(img_rle_expand(c.coded.data(), 1, c.coded.size(), out.data(), 1, c.out_count), c.result);
    for (size_t i = c.out_count; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE);
  }
}

TEST(SgiLibrary, WrittenFilesAreBigEndianWithTheirValuesRangeAndWaste) {
  TempDir dir;
  const std::string path = dir / "w.sgi";
  SgiImage* image = iopen(path.c_str(), "w", SGI_RLE | 1, 3, 4, 2, 3);
  ASSERT_NE(image, nullptr) << g_errbuf;
  const uint16_t rows[3][4] = {{5, 5, 5, 5}, {1, 2, 3, 4}, {200, 9, 9, 9}};
  for (unsigned y = 0; y < 2; ++y)
    for (unsigned z = 0; z < 3; ++z) ASSERT_EQ(putrow(image, rows[z], y, z), 4);
  // Row 1 of channel 2 again: the first coding is wasted, both stay.
  const uint16_t again[4] = {7, 7, 7, 7};
  ASSERT_EQ(putrow(image, again, 1, 2), 4);
  EXPECT_EQ(putrow(image, again, 2, 0), -1);
  EXPECT_STREQ(g_errbuf, "putrow: row number out of range\n");
  EXPECT_EQ(iclose(image), 0);
  q4_free_c(image, __FILE__, __LINE__);

  const std::string file = read_text(path);
  SgiFile want;
  for (unsigned v : {474u, 0x0101u, 3u, 4u, 2u, 3u}) want.put(v, 2);
  // Minimum 1, maximum 200; the superseded row "81 c8 3 9 0" was 5 bytes.
  for (unsigned v : {1u, 200u, 5u}) want.put(v, 4);
  want.bytes += std::string("no name") + std::string(73, '\0');
  want.put(0, 4);
  want.bytes += std::string(404, '\0');
  // Tables: rows in the order written, y + z * ysize.
  const uint32_t starts[6] = {560, 576, 563, 579, 571, 592};
  const uint32_t lengths[6] = {3, 3, 8, 8, 5, 3};
  for (uint32_t s : starts) want.put(s, 4);
  for (uint32_t l : lengths) want.put(l, 4);
  const std::string line("\x04\x05\x00\x82\x01\x02\x01\x03\x01\x04\x00\x81\xc8\x03\x09\x00", 16);
  want.bytes += line + line + std::string("\x04\x07\x00", 3);
  EXPECT_EQ(file.size(), want.bytes.size());
  EXPECT_TRUE(file == want.bytes);

  // And it reads back.
  image = iopen(path.c_str(), "r", 0, 0, 0, 0, 0);
  Closer closer{image};
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->reverse, 1);
  EXPECT_EQ(image->min, 1u);
  EXPECT_EQ(image->max, 200u);
  EXPECT_EQ(image->wastebytes, 5u);
  EXPECT_EQ(row_of(image, 0, 2), std::vector<uint16_t>({200, 9, 9, 9}));
  EXPECT_EQ(row_of(image, 1, 2), std::vector<uint16_t>({7, 7, 7, 7}));
  EXPECT_EQ(row_of(image, 1, 1), std::vector<uint16_t>({1, 2, 3, 4}));
}

TEST(SgiLibrary, BothByteOrdersBothStoragesBothValueSizesReadAlike) {
  TempDir dir;
  const std::string path = dir / "o.sgi";
  const std::vector<std::vector<uint16_t>> rows = {{1, 2, 3, 4, 5}, {6, 7, 8, 9, 10}, {0x1234, 11, 12, 13, 0xfedc},
                                                   {14, 15, 16, 17, 18}, {19, 20, 21, 22, 23}, {24, 25, 26, 27, 28}};
  for (int bpc : {1, 2})
    for (bool rle : {false, true})
      for (bool little : {false, true}) {
        std::vector<std::vector<uint16_t>> values = rows;
        if (bpc == 1)
          for (auto& row : values)
            for (uint16_t& v : row) v &= 255;
        const SgiFile f = rle ? rle_file(little, bpc, 3, 5, 2, 3, values) : verbatim_file(little, bpc, 3, 5, 2, 3, values);
        write_text(path, f.bytes);
        SgiImage* image = iopen(path.c_str(), "r", 0, 0, 0, 0, 0);
        Closer closer{image};
        ASSERT_NE(image, nullptr) << g_errbuf;
        EXPECT_EQ(image->reverse, little ? 0 : 1);
        for (unsigned z = 0; z < 3; ++z)
          for (unsigned y = 0; y < 2; ++y)
            EXPECT_EQ(row_of(image, y, z), values[y + 2 * z]) << bpc << rle << little << y << z;
      }
}

TEST(SgiLibrary, TwoByteRowsOfEveryWidthRoundTrip) {
  // The coded-row buffer holds the longest coding: two-byte rows of width 1
  // to 4 take more than (xsize + xsize / 64) * 4 bytes.
  TempDir dir;
  const std::string path = dir / "t.sgi";
  for (unsigned type : {SGI_RLE | 2u, SGI_RLE | 1u, 2u, 1u})
    for (unsigned width : {1u, 2u, 3u, 4u, 7u, 640u}) {
      SgiImage* image = iopen(path.c_str(), "w", type, 2, width, 3, 1);
      ASSERT_NE(image, nullptr);
      std::vector<std::vector<uint16_t>> rows;
      for (unsigned y = 0; y < 3; ++y) {
        std::vector<uint16_t> row(width);
        for (unsigned x = 0; x < width; ++x) row[x] = uint16_t((x * 40503u + y * 977u) & ((type & 0xff) == 2 ? 0xFFFF : 0xFF));
        rows.push_back(row);
        ASSERT_EQ(putrow(image, row.data(), y, 0), int(width));
      }
      ASSERT_EQ(iclose(image), 0);
      q4_free_c(image, __FILE__, __LINE__);
      image = iopen(path.c_str(), "r", 0, 0, 0, 0, 0);
      Closer closer{image};
      ASSERT_NE(image, nullptr);
      EXPECT_EQ(image->dim, 2);
      for (unsigned y = 0; y < 3; ++y) EXPECT_EQ(row_of(image, y, 0), rows[y]) << type << " " << width;
    }
}

TEST(SgiLibrary, RefusesWhatItCannotRead) {
  TempDir dir;
  const std::string path = dir / "bad.sgi";
  SgiFile swapped = sgi_header(false, 1, 1, 2, 1, 1);
  swapped.bytes[0] = 0x01;
  swapped.bytes[1] = 0xdb;
  struct Case {
    std::string file;
    std::string error;
  } cases[] = {
      {std::string(100, '\x01'), "iopen: error on read of image header\n"},
      {swapped.bytes + "ab", "iopen: bad magic in image file 1db\n"},
      {sgi_header(false, 0x201, 1, 2, 1, 1).bytes + "ab", "iopen: weird image type 0x201\n"},
      {sgi_header(false, 3, 1, 2, 1, 1).bytes + "ab", "iopen: weird bpp 3\n"},
      {sgi_header(false, 1, 4, 2, 1, 1).bytes + "ab", "iopen: weird dim 4\n"},
      {sgi_header(false, 1, 1, 0, 1, 1).bytes + "ab", "iopen: empty image 0x1x1\n"},
      {sgi_header(false, 0x101, 3, 2, 100, 100).bytes + std::string(1000, '\0'),
       "iopen: row tables of 10000 entries pass the end of the file\n"},
      // Verbatim rows that the file does not hold: one row, a channel of
      // rows, channels of rows.
      {verbatim_file(false, 2, 1, 2, 9, 9, {{1}}).bytes + "a", "iopen: image data passes the end of the file\n"},
      {verbatim_file(false, 1, 2, 2, 3, 9, {{1, 2}, {3, 4}}).bytes + "a",
       "iopen: image data passes the end of the file\n"},
      {verbatim_file(false, 1, 3, 2, 2, 2, {{1, 2}, {3, 4}, {5, 6}}).bytes + "a",
       "iopen: image data passes the end of the file\n"},
  };
  for (const Case& c : cases) {
    write_text(path, c.file);
    EXPECT_EQ(iopen(path.c_str(), "r", 0, 0, 0, 0, 0), nullptr);
    EXPECT_EQ(std::string(g_errbuf), c.error);
  }
  EXPECT_EQ(iopen(path.c_str(), "r+", 0, 0, 0, 0, 0), nullptr);
  EXPECT_STREQ(g_errbuf, "iopen: read/write mode not supported\n");
  EXPECT_EQ(iopen((dir / "none/x.sgi").c_str(), "w", 1, 1, 1, 1, 1), nullptr);
  EXPECT_EQ(std::string(g_errbuf), "iopen: can't open output file " + (dir / "none/x.sgi") + "\n");

  // Rows: a length beyond any row of the width, a coding past the width or
  // short of it, a row past the file's end.
  struct RowCase {
    uint32_t length;
    std::string coded;
    std::string error;
  } row_cases[] = {
      {0xFFFFFFFF, "", "getrow: row 0 of channel 0 has a length of 4294967295\n"},
      {7, std::string(7, '\x01'), "getrow: row 0 of channel 0 has a length of 7\n"},
      {4, std::string("\x83\x01\x02\x03", 4), "getrow: bad run-length coding in row 0 of channel 0\n"},
      {3, std::string("\x81\x01\x00", 3), "getrow: bad run-length coding in row 0 of channel 0\n"},
      {6, std::string("\x82\x01\x02", 3), "getrow: error on read of row 0 of channel 0\n"},
  };
  for (const RowCase& c : row_cases) {
    SgiFile f = sgi_header(false, 0x101, 1, 2, 1, 1);
    f.put(520, 4);
    f.put(c.length, 4);
    f.bytes += c.coded;
    write_text(path, f.bytes);
    SgiImage* image = iopen(path.c_str(), "r", 0, 0, 0, 0, 0);
    Closer closer{image};
    ASSERT_NE(image, nullptr) << g_errbuf;
    EXPECT_TRUE(row_of(image, 0, 0).empty());
    EXPECT_EQ(std::string(g_errbuf), c.error);
  }
  // A file cut after its open: the row that is gone fails.
  write_text(path, verbatim_file(false, 1, 2, 2, 2, 1, {{1, 2}, {3, 4}}).bytes);
  SgiImage* image = iopen(path.c_str(), "r", 0, 0, 0, 0, 0);
  Closer closer{image};
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(truncate(path.c_str(), 514), 0);
  EXPECT_EQ(row_of(image, 0, 0), std::vector<uint16_t>({1, 2}));
  EXPECT_TRUE(row_of(image, 1, 0).empty());
  EXPECT_TRUE(row_of(image, 2, 0).empty());
  EXPECT_STREQ(g_errbuf, "img_seek: row number out of range\n");
  uint16_t row[2] = {};
  EXPECT_EQ(putrow(image, row, 0, 0), -1);
}

TEST(SgiLibrary, ShortWritesFailTheFlushAndTheClose) {
  TempDir dir;
  const std::string path = dir / "limit.sgi";
  SgiImage* image = iopen(path.c_str(), "w", SGI_RLE | 1, 2, 640, 4, 1);
  ASSERT_NE(image, nullptr);
  std::vector<uint16_t> row(640);
  for (unsigned x = 0; x < 640; ++x) row[x] = x * 7;
  {
    // Room for the header only: the gathered rows cannot follow it.
    FileSizeLimit limit(600);
    for (unsigned y = 0; y < 4; ++y) ASSERT_EQ(putrow(image, row.data(), y, 0), 640);
    EXPECT_EQ(iflush(image), -1);
    EXPECT_TRUE(image->flags & SGI_FLUSH_FAILED);
    EXPECT_EQ(iclose(image), -1);
  }
  q4_free_c(image, __FILE__, __LINE__);
}

namespace {

struct SgiSession {
  ImgioSession session;
  MessageCapture capture;
  TempDir dir;
  SgiSession() { setimageformat("sgisgi"); }
};

}  // namespace

TEST(SgiDriver, OwnFilesRoundTripAndAreRunLengthBytesOfThreeChannels) {
  SgiSession s;
  const std::string path = s.dir / "own.sgi";
  for (int width : {1, 2, 7, 640}) {
    const Picture p8 = pattern8(width, 5);
    ASSERT_TRUE(write_picture(path, p8, false));
    EXPECT_EQ(file_head(path, 12), std::string("\x01\xda\x01\x01\x00\x03", 6) + char(width >> 8) + char(width) +
                                       std::string("\x00\x05\x00\x03", 4));
    Picture back;
    ASSERT_TRUE(read_picture(path, back, false));
    EXPECT_EQ(back, p8) << width;
    const Picture p16 = pattern16(width, 5);
    ASSERT_TRUE(write_picture(path, p16, true));
    ASSERT_TRUE(read_picture(path, back, true));
    EXPECT_EQ(back, map_samples(p16, [](int v, int c) { return c == 3 ? 65535 : (v >> 8) * 257; })) << width;
    int w = 0, h = 0;
    unsigned int* whole = readbuf(path.c_str(), &w, &h);
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(writebuf(whole, w, h, (s.dir / "copy.sgi").c_str()), 0);
    destroybuffer(whole);
    EXPECT_EQ(read_text(s.dir / "copy.sgi"), read_text(path));
  }
  // The "rgb" entry names files its own way and shares the driver.
  setimageformat("sgirgb");
  ASSERT_TRUE(write_picture(s.dir / "own", pattern8(3, 2), false));
  EXPECT_EQ(file_head(s.dir / "own.rgb", 2), "\x01\xda");
}

TEST(SgiDriver, ChannelsAndValueSizesMapToLines) {
  SgiSession s;
  const std::string path = s.dir / "c.sgi";
  std::vector<std::vector<uint16_t>> rows;
  for (int r = 0; r < 8; ++r) rows.push_back({uint16_t(0x1100 * (r + 1) + 0x22), uint16_t(0x0101 * r)});
  struct Case {
    unsigned dim, z;
    int bpc;
    std::vector<int> channels;  // the row each line channel shows, per file line
  } cases[] = {
      {1, 1, 1, {0, 0, 0}},
      {2, 1, 1, {0, 0, 0}},
      {3, 1, 2, {0, 0, 0}},
      {3, 2, 2, {0, 1, 1}},
      {3, 3, 1, {0, 1, 2}},
      {3, 4, 2, {0, 1, 2}},
  };
  for (const Case& c : cases) {
    const unsigned ysize = c.dim == 1 ? 1 : 2;
    std::vector<std::vector<uint16_t>> values(rows.begin(), rows.begin() + ysize * c.z);
    if (c.bpc == 1)
      for (auto& row : values)
        for (uint16_t& v : row) v &= 255;
    write_text(path, rle_file(false, c.bpc, c.dim, 2, ysize, c.z, values).bytes);
    imginfo* h = openimg(path.c_str());
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(h->bits16, c.bpc == 2);
    std::vector<unsigned int> line(2);
    std::vector<unsigned short> line16(8);
    for (unsigned y = 0; y < ysize; ++y) {
      ASSERT_EQ(readline(h, line.data()), 0);
      ASSERT_EQ(seekline(h, y) == 0 || makeseekable(h) == 0, true);
      ASSERT_EQ(seekline(h, y), 0);
      ASSERT_EQ(readline16(h, line16.data()), 0);
      for (int x = 0; x < 2; ++x) {
        for (int c8 = 0; c8 < 3; ++c8) {
          const uint16_t v = values[y + ysize * c.channels[c8]][x];
          // 2-byte values: v >> 8 in 8-bit lines, v in 16-bit lines.
          EXPECT_EQ((line[x] >> (8 * c8)) & 255, c.bpc == 2 ? v >> 8 : v) << c.dim << c.z << y << x << c8;
          EXPECT_EQ(line16[4 * x + c8], c.bpc == 2 ? v : v * 257) << c.dim << c.z << y << x << c8;
        }
        EXPECT_EQ(line[x] >> 24, 255u);
        EXPECT_EQ(line16[4 * x + 3], 65535);
      }
    }
    EXPECT_EQ(closeimg(h), 0);
  }
}

TEST(SgiDriver, FailuresFailTheirCall) {
  SgiSession s;
  const std::string path = s.dir / "f.sgi";
  ASSERT_TRUE(write_picture(path, pattern8(7, 4), false));
  // Cut inside the coded rows: the lines there fail.
  const std::string whole = read_text(path);
  write_text(path, whole.substr(0, whole.size() - 30));
  imginfo* h = openimg(path.c_str());
  ASSERT_NE(h, nullptr);
  std::vector<unsigned int> line(7);
  EXPECT_EQ(readline(h, line.data()), 0);
  EXPECT_EQ(readline(h, line.data()), 0);
  EXPECT_EQ(readline(h, line.data()), 0);
  EXPECT_EQ(readline(h, line.data()), 1);
  EXPECT_EQ(s.capture.messages[s.capture.messages.size() - 2].text.rfind("SGI: getrow: error on read of row 3 of channel ", 0), 0u);
  EXPECT_EQ(closeimg(h), 0);
  EXPECT_EQ(openimg((s.dir / "missing.sgi").c_str()), nullptr);
  EXPECT_TRUE(s.capture.has("SGI: iopen: can't open input file " + (s.dir / "missing.sgi") + "\n"));
  EXPECT_EQ(createimg(path.c_str(), 65536, 2, 8), nullptr);
  EXPECT_TRUE(s.capture.has("SGI: Image of 65536x2 is too large for an SGI file.\n"));
  setkeyval("IMGIO_MAX_PIXELS", "100");
  ASSERT_TRUE(write_picture(path, pattern8(7, 4), false));
  write_text(path, rle_file(false, 1, 2, 20, 6, 1, std::vector<std::vector<uint16_t>>(6, std::vector<uint16_t>(20))).bytes);
  EXPECT_EQ(openimg(path.c_str()), nullptr);
  EXPECT_TRUE(s.capture.has("SGI: Bad image size 20x6.\n"));
  deletekeyval("IMGIO_MAX_PIXELS");
  // The rows gathered for the file cannot all be written: the close fails.
  s.capture.messages.clear();
  {
    FileSizeLimit limit(700);
    EXPECT_FALSE(write_picture(path, pattern8(640, 4), false));
  }
  EXPECT_TRUE(s.capture.has("ERROR: Failed to close file [" + path + "] format [sgisgi]\n"));
}
