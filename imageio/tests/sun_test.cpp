#include <unistd.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver_test_support.h"
#include "failing_heap.h"
#include "imgio.h"
#include "imgio_memory_driver.h"
#include "imgio_message_capture.h"
#include "temp_dir.h"

namespace {

struct SunSession {
  ImgioSession session;
  MessageCapture capture;
  TempDir dir;
  SunSession() { setimageformat("sun"); }
};

void be32(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += char(v >> shift);
}

std::string header(uint32_t width, uint32_t height, uint32_t depth, uint32_t type, uint32_t map_type,
                   uint32_t map_length) {
  std::string out;
  for (uint32_t v : {0x59A66A95u, width, height, depth, width * height * (depth / 8), type, map_type, map_length})
    be32(out, v);
  return out;
}

// Sun runs of bytes: three or more equal bytes, and any 0x80, as escapes.
std::string coded(const std::string& bytes) {
  std::string out;
  for (size_t i = 0, n = 1; i < bytes.size(); i += n, n = 1) {
    while (i + n < bytes.size() && n < 256 && bytes[i + n] == bytes[i]) ++n;
    if (n < 3 && bytes[i] != '\x80')
      out += bytes.substr(i, n);
    else
      out += std::string("\x80") + char(n - 1) + (n > 1 ? std::string(1, bytes[i]) : "");
  }
  return out;
}

}  // namespace

TEST(SunDriver, PeerRastersOfOddWidthReadExactly) {
  SunSession s;
  const std::string ppm = s.dir / "in.ppm";
  std::set<std::string> kinds;
  unsigned seed = 1;
  for (int width : {1, 7}) {
    // Random colours, a few of them, black and white: the peers' 24-, 8- and
    // 1-bit rasters; more than 256 pixels, so colours may pass a map.
    for (unsigned mask : {0xFFu, 0xC0u, 0x80u}) {
      const Picture p = make_picture(width, 300 / width, [&](int x, int y, int c) {
        seed = seed * 1103515245 + 12345;
        return c == 3 ? 255u : mask == 0x80 ? ((x * 7 + y) * 2654435761u >> 29 & 1) * 255 : seed >> 16 & mask;
      });
      write_pnm(ppm, p, 255);
      const std::string commands[] = {"/usr/bin/pnmtorast -standard " + ppm, "/usr/bin/pnmtorast -rle " + ppm,
                                      "/usr/bin/convert " + ppm + " sun:-", "/usr/bin/convert " + ppm + " -alpha on sun:-",
                                      mask == 0xFF ? "" : "/usr/bin/convert " + ppm + " -type Palette sun:-"};
      for (const std::string& command : commands) {
        const std::string path = s.dir / "peer.ras";
        ASSERT_TRUE(command.empty() || run_peer("/bin/sh", "-c '" + command + " >" + path + "'", path + ".log") == 0);
        std::string file = read_text(path);
        const uint32_t map = uint8_t(file[31]) | uint8_t(file[30]) << 8;
        if (file[15] == 1) {
          // pnmtorast's 1-bit lines are all 0: the picture's go in by hand,
          // set bits black, a line of 7 or fewer bits padded to 16.
          if (file[23] != 1) continue;
          file.resize(32 + map);
          for (int y = 0; y < p.height; ++y) {
            unsigned bits = 0;
            for (int x = 0; x < width; ++x) bits |= (p.at(x, y)[0] == 0) << (7 - x);
            file += std::string{char(bits), '\0'};
          }
        }
        // Beside it: the same lines coded as runs (type 2, over the padded
        // lines, its length the coded bytes).
        const std::string body = coded(file.substr(32 + map));
        std::string fields, runs = file.substr(0, 32 + map) + body;
        be32(fields, uint32_t(body.size()));
        be32(fields, 2);
        runs.replace(16, 8, fields);
        for (const std::string& variant : {file, runs}) {
          if (variant != file && file[23] != 1) continue;
          write_text(path, variant);
          Picture back;
          ASSERT_TRUE(read_picture(path, back, false)) << command << s.capture.last();
          EXPECT_EQ(back, p) << command << " " << int(variant[23]);
          kinds.insert(std::to_string(int(variant[15])) + "/" + std::to_string(int(variant[23])));
        }
      }
    }
  }
  EXPECT_EQ(kinds, std::set<std::string>({"1/1", "1/2", "8/1", "8/2", "24/1", "24/2", "24/3", "32/3"}));
}

TEST(SunDriver, WrittenFileIsHeaderThenUnpaddedBgrLinesTopFirst) {
  SunSession s;
  // Width 3: lines of 9 bytes, which peers would pad to 10.
  const Picture p = pattern8(3, 2);
  ASSERT_TRUE(write_picture(s.dir / "a.ras", p, false));
  std::string want = header(3, 2, 24, 1, 0, 0);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      want += char(p.at(x, y)[2]);
      want += char(p.at(x, y)[1]);
      want += char(p.at(x, y)[0]);
    }
  EXPECT_EQ(read_text(s.dir / "a.ras"), want);
}

TEST(SunDriver, OwnFilesRoundTripAtEveryWidthAndDepth) {
  SunSession s;
  const std::string path = s.dir / "round.ras";
  for (int width : {1, 2, 7, 640}) {
    const Picture p8 = pattern8(width, 5);
    ASSERT_TRUE(write_picture(path, p8, false)) << width;
    Picture back;
    ASSERT_TRUE(read_picture(path, back, false)) << width;
    EXPECT_EQ(back, p8) << width;
    // 16-bit lines keep their high bytes, read back as v * 257.
    const Picture p16 = map_samples(pattern16(width, 5), [](int v, int c) { return c == 3 ? 1234 : v; });
    ASSERT_TRUE(write_picture(path, p16, true)) << width;
    ASSERT_TRUE(read_picture(path, back, true)) << width;
    EXPECT_EQ(back, map_samples(p16, [](int v, int c) { return c == 3 ? 65535 : (v >> 8) * 257; })) << width;
    // Whole buffers as the line calls have them.
    int w = 0, h = 0;
    unsigned short* whole = readbuf16(path.c_str(), &w, &h);
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(w, width);
    EXPECT_EQ(h, 5);
    // Buffer rows go from the bottom up.
    EXPECT_EQ(std::vector<uint16_t>(whole, whole + 4), std::vector<uint16_t>(back.at(0, 4), back.at(0, 4) + 4));
    EXPECT_EQ(writebuf16(whole, w, h, (s.dir / "copy.ras").c_str()), 0);
    destroybuffer16(whole);
    EXPECT_EQ(read_text(s.dir / "copy.ras"), read_text(path)) << width;
  }
}

TEST(SunDriver, ColourMapsIndexInsideTheMapOnly) {
  SunSession s;
  const std::string path = s.dir / "map.ras";
  // A full map of 256 entries a table: index i gives (i, 255 - i, i ^ 0x5A).
  std::string file = header(256, 1, 8, 1, 1, 768);
  for (int table = 0; table < 3; ++table)
    for (int i = 0; i < 256; ++i) file += char(table == 0 ? i : table == 1 ? 255 - i : i ^ 0x5A);
  for (int i = 0; i < 256; ++i) file += char(i);
  write_text(path, file);
  Picture back;
  ASSERT_TRUE(read_picture(path, back, false));
  for (int i = 0; i < 256; ++i)
    EXPECT_EQ(std::vector<uint16_t>(back.at(i, 0), back.at(i, 0) + 4),
              std::vector<uint16_t>({uint16_t(i), uint16_t(255 - i), uint16_t(i ^ 0x5A), 255}));
  // A map of 2 entries: indices 2 and 255 lie beyond it and give black.
  file = header(4, 1, 8, 1, 1, 6) + std::string("\x10\x20\x30\x40\x50\x60", 6) + std::string("\x00\x01\x02\xff", 4);
  write_text(path, file);
  ASSERT_TRUE(read_picture(path, back, true));
  EXPECT_EQ(back.samples, std::vector<uint16_t>({0x1010, 0x3030, 0x5050, 65535, 0x2020, 0x4040, 0x6060, 65535,
                                                 0, 0, 0, 65535, 0, 0, 0, 65535}));
  // A 24-bit raster with a map skips it.
  file = header(1, 1, 24, 0, 1, 3) + std::string("\x99\x99\x99\x01\x02\x03", 6);
  write_text(path, file);
  ASSERT_TRUE(read_picture(path, back, false));
  EXPECT_EQ(back.samples, std::vector<uint16_t>({3, 2, 1, 255}));
}

TEST(SunDriver, RefusesWhatItCannotRead) {
  SunSession s;
  const std::string path = s.dir / "bad.ras";
  const std::string pixels(64, '\x11');
  struct Case {
    std::string file;
    std::string message;
  } cases[] = {
      {std::string("\x59\xa6\x6a\x96", 4) + header(1, 1, 24, 1, 0, 0).substr(4) + pixels, "SUN: Bad magic number.\n"},
      {header(1, 1, 24, 1, 0, 0).substr(0, 31), "SUN: Could not read header\n"},
      {header(0, 1, 24, 1, 0, 0) + pixels, "SUN: Bad image size 0x1.\n"},
      {header(70000, 70000, 24, 1, 0, 0) + pixels, "SUN: Bad image size 70000x70000.\n"},
      {header(2, 1, 24, 4, 0, 0) + pixels, "SUN: Raster type 4 is not supported.\n"},
      {header(2, 1, 16, 1, 0, 0) + pixels, "SUN: Depth 16 is not supported.\n"},
      {header(2, 1, 8, 1, 0, 0) + pixels, "SUN: Depth 8 is not supported.\n"},
      {header(2, 1, 8, 1, 1, 0) + pixels, "SUN: Bad colour map length 0.\n"},
      {header(2, 1, 8, 1, 1, 771) + pixels + pixels + pixels + pixels + pixels + pixels + pixels + pixels +
           pixels + pixels + pixels + pixels + pixels,
       "SUN: Bad colour map length 771.\n"},
      {header(2, 1, 8, 1, 1, 4) + pixels, "SUN: Bad colour map length 4.\n"},
      {header(2, 1, 8, 1, 1, 6) + "\x01\x02", "SUN: Cannot read colour map.\n"},
      // Lines the file does not hold, before a buffer of their width is
      // taken.
      {header(2, 3, 24, 1, 0, 0) + std::string(17, '\x22'), "SUN: The image data passes the end of the file.\n"},
      {header(3, 2, 8, 1, 1, 6) + std::string(6 + 5, '\x01'), "SUN: The image data passes the end of the file.\n"},
      {header((1 << 28) - 1, 1, 24, 1, 0, 0) + pixels, "SUN: The image data passes the end of the file.\n"},
      // Runs that decode to fewer bytes than the lines take.
      {header(2, 3, 24, 2, 0, 0) + "\x80\x04\x01\x80", "SUN: The image data passes the end of the file.\n"},
  };
  for (const Case& c : cases) {
    write_text(path, c.file);
    s.capture.messages.clear();
    EXPECT_EQ(openimg(path.c_str()), nullptr) << c.message;
    ASSERT_GE(s.capture.messages.size(), 2u) << c.message;
    EXPECT_EQ(s.capture.messages[0].text, c.message);
    EXPECT_EQ(s.capture.messages[0].level, IMSSYS_INFO);
  }
  EXPECT_EQ(openimg((s.dir / "missing.ras").c_str()), nullptr);
  EXPECT_EQ(s.capture.messages[s.capture.messages.size() - 2].text,
            "SUN: Could not open input file " + (s.dir / "missing.ras") + "\n");

  // A file cut after its open: the lines that are gone fail, the first is
  // read. Lines longer than the stream's buffer are not held in it.
  write_text(path, header(20000, 3, 24, 1, 0, 0) + std::string(3 * 60000, '\x22'));
  imginfo* h = openimg(path.c_str());
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(truncate(path.c_str(), 32 + 60000 + 10), 0);
  std::vector<unsigned int> line(20000);
  EXPECT_EQ(readline(h, line.data()), 0);
  EXPECT_EQ(line[19999], 0xFF222222u);
  EXPECT_EQ(readline(h, line.data()), 1);
  EXPECT_EQ(readline(h, line.data()), 1);
  EXPECT_EQ(closeimg(h), 0);
  int w = 0, height = 0;
  EXPECT_EQ(readbuf(path.c_str(), &w, &height), nullptr);
}

TEST(SunDriver, LinesAreReadAtTheirOwnOffsets) {
  SunSession s;
  const std::string path = s.dir / "seek.ras";
  const Picture p = pattern8(7, 6);
  ASSERT_TRUE(write_picture(path, p, false));
  // Coded as runs, unpadded as written: the decoding at every line is kept.
  std::string coded_file = header(7, 6, 24, 2, 0, 0) + coded(read_text(path).substr(32));
  coded_file.replace(16, 4, 4, '\0');
  for (int pass = 0; pass < 2; ++pass) {
    if (pass) write_text(path, coded_file);
    imginfo* h = openimg(path.c_str());
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(makeseekable(h), 0);
    std::vector<unsigned int> line(7);
    for (int y : {4, 1, 5, 0, 2}) {
      ASSERT_EQ(seekline(h, y), 0);
      ASSERT_EQ(readline(h, line.data()), 0);
      EXPECT_EQ(line[3] & 0xFFFFFF, unsigned(p.at(3, y)[0] | p.at(3, y)[1] << 8 | p.at(3, y)[2] << 16)) << y;
    }
    EXPECT_EQ(closeimg(h), 0);
  }
}

TEST(SunDriver, FailedWritesCloseAndAllocationsFail) {
  SunSession s;
  // The disk is full: buffered bytes fail at close, larger lines at once.
  const std::string full = s.dir / "full.ras";
  ASSERT_EQ(symlink("/dev/full", full.c_str()), 0);
  EXPECT_FALSE(write_picture(full, pattern8(2, 2), false));
  EXPECT_TRUE(s.capture.has("ERROR: Failed to close file [" + full + "] format [sun]\n"));
  s.capture.messages.clear();
  EXPECT_FALSE(write_picture(full, pattern8(640, 8), false));
  EXPECT_TRUE(s.capture.has("ERROR: Failed to write line 2 to [" + full + "] format [sun]\n"));

  const std::string path = s.dir / "a.ras";
  ASSERT_TRUE(write_picture(path, pattern8(3, 3), false));
  for (int grants = 0; grants < 2; ++grants) {
    s.capture.messages.clear();
    imginfo* h;
    {
      // The handle and its name come first.
      FailingHeap heap(2 + grants);
      h = openimg(path.c_str());
    }
    EXPECT_EQ(h, nullptr);
    if (grants == 1) {
      EXPECT_EQ(s.capture.messages[0].text, "SUN: Cannot allocate scanline buffer.\n");
      EXPECT_EQ(s.capture.messages[0].level, IMSSYS_FATAL);
    }
  }
}
