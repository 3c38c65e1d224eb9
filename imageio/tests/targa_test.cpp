#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver_test_support.h"
#include "failing_heap.h"
#include "imgio.h"
#include "imgio_memory_driver.h"
#include "imgio_message_capture.h"
#include "imgio_utils.h"
#include "libtarga.h"
#include "q4_memory.h"
#include "temp_dir.h"

namespace {

struct TgaHeader {
  int id_length = 0, map_type = 0, type = 2, map_first = 0, map_length = 0, map_bits = 0;
  int width = 1, height = 1, depth = 24, descriptor = 0;
};

TgaHeader tga(int type = 2, int depth = 24, int width = 1, int height = 1, int descriptor = 0) {
  TgaHeader t;
  t.type = type;
  t.depth = depth;
  t.width = width;
  t.height = height;
  t.descriptor = descriptor;
  return t;
}

TgaHeader with_id(TgaHeader t, int length) {
  t.id_length = length;
  return t;
}

TgaHeader with_map(TgaHeader t, int first, int length, int bits) {
  t.map_type = 1;
  t.map_first = first;
  t.map_length = length;
  t.map_bits = bits;
  return t;
}

void le(std::string& out, uint32_t v, int bytes) {
  for (int j = 0; j < bytes; ++j) out += char(v >> (8 * j));
}

std::string tga_header(const TgaHeader& t) {
  std::string out;
  for (int v : {t.id_length, t.map_type, t.type}) out += char(v);
  le(out, t.map_first, 2);
  le(out, t.map_length, 2);
  out += char(t.map_bits);
  le(out, 0, 4);
  le(out, t.width, 2);
  le(out, t.height, 2);
  out += char(t.depth);
  out += char(t.descriptor);
  return out + std::string(t.id_length, 'i');
}

struct Image {
  unsigned char* pixels = nullptr;
  int width = 0, height = 0;
  ~Image() {
    if (pixels) q4_image_free_c(pixels, __FILE__, __LINE__);
  }
  std::vector<int> pixel(int x, int y, int format = 4) const {
    const unsigned char* p = pixels + (size_t(y) * width + x) * format;
    return std::vector<int>(p, p + format);
  }
  std::vector<unsigned char> all(int format = 4) const {
    return std::vector<unsigned char>(pixels, pixels + size_t(width) * height * format);
  }
};

void load(const std::string& path, Image& image, unsigned format = 4) {
  if (image.pixels) q4_image_free_c(image.pixels, __FILE__, __LINE__);
  image.pixels = tga_load(path.c_str(), &image.width, &image.height, format);
}

// Packets of a run-length file body, each {first pixel index, count, is run},
// decoded independently of the library; the pixels go to out.
struct Packet {
  size_t first;
  int count;
  bool run;
};
std::vector<Packet> packets_of(const std::string& body, int bytes, size_t pixels, std::string& out) {
  std::vector<Packet> list;
  size_t at = 0, n = 0;
  while (n < pixels && at < body.size()) {
    const int header = static_cast<unsigned char>(body[at++]);
    const int count = (header & 127) + 1;
    list.push_back({n, count, (header & 128) != 0});
    if (header & 128) {
      for (int k = 0; k < count; ++k) out += body.substr(at, bytes);
      at += bytes;
    } else {
      out += body.substr(at, size_t(count) * bytes);
      at += size_t(count) * bytes;
    }
    n += count;
  }
  return list;
}

struct TargaSession {
  ImgioSession session;
  MessageCapture capture;
  TempDir dir;
  TargaSession() { setimageformat("targa2"); }
};

}  // namespace

TEST(TargaLibrary, RunLengthPacketsAreExactAndNeverCrossARow) {
  TempDir dir;
  const std::string path = dir / "p.tga";
  const size_t body = 18 + 21;
  auto write = [&](int width, int height, const std::vector<uint32_t>& values) {
    std::vector<unsigned char> image(size_t(width) * height * 4);
    memcpy(image.data(), values.data(), image.size());
    EXPECT_EQ(tga_write_rle(path.c_str(), width, height, image.data(), 4), 1);
    return read_text(path);
  };
  const std::string px("\x11\x22\x33\x44", 4);  // B, G, R, A of 0x44112233 (R 0x33)
  // 300 equal pixels: 128, 128 and 44.
  std::string file = write(300, 1, std::vector<uint32_t>(300, 0x44112233));
  EXPECT_EQ(file.substr(body), "\xff" + px + "\xff" + px + "\xab" + px);
  // Two rows of 150: each row alone.
  file = write(150, 2, std::vector<uint32_t>(300, 0x44112233));
  EXPECT_EQ(file.substr(body), "\xff" + px + "\x95" + px + "\xff" + px + "\x95" + px);
  // A B C C C D: literal of two, run of three, literal of one.
  file = write(6, 1, {1, 2, 3, 3, 3, 4});
  auto p = [](int v) { return std::string(1, char(0)) + std::string(1, char(0)) + char(v) + std::string(1, char(0)); };
  EXPECT_EQ(file.substr(body), std::string("\x01", 1) + p(1) + p(2) + "\x82" + p(3) + std::string("\x00", 1) + p(4));

  // Any picture: the packets decode to it, hold at most 128 pixels and end
  // at the end of their row.
  srand(7);
  for (int width : {1, 2, 3, 7, 129, 300}) {
    for (int levels : {1, 2, 3, 256}) {
      const int height = 5;
      std::vector<uint32_t> values(size_t(width) * height);
      for (size_t i = 0; i < values.size(); ++i) {
        // Stretches of equal and of differing pixels.
        const bool plain = (i / 40) % 2 == 0;
        values[i] = plain ? 0x01020304u * (i / 150 % 7) : unsigned(rand() % levels) * 0x010101u;
      }
      file = write(width, height, values);
      ASSERT_EQ(file.substr(0, 3), std::string("\x15\x00\x0a", 3));
      std::string decoded;
      const std::vector<Packet> list = packets_of(file.substr(body), 4, values.size(), decoded);
      std::string want;
      for (uint32_t v : values) want += std::string{char(v >> 16), char(v >> 8), char(v), char(v >> 24)};
      EXPECT_TRUE(decoded == want) << width << " " << levels;
      for (const Packet& k : list) {
        EXPECT_LE(k.count, 128);
        EXPECT_EQ(k.first / width, (k.first + k.count - 1) / width) << width << " at " << k.first;
      }
      // The library reads back what it wrote, raw or packed alike.
      Image image;
      load(path, image);
      ASSERT_NE(image.pixels, nullptr);
      EXPECT_EQ(memcmp(image.pixels, values.data(), values.size() * 4), 0);
    }
  }
}

TEST(TargaLibrary, DepthsGreyAndMapsConvertAsStored) {
  TempDir dir;
  const std::string path = dir / "c.tga";
  struct Case {
    TgaHeader header;
    std::string data;
    std::vector<int> rgba;
  } cases[] = {
      // 5-6-5 and 5-5-5 with all bits set: 254, never 255.
      {tga(2, 16), std::string("\xff\xff", 2), {254, 254, 254, 255}},
      {tga(2, 16), std::string("\x00\xf8", 2), {254, 0, 0, 255}},
      {tga(2, 16), std::string("\xe0\x07", 2), {0, 254, 0, 255}},
      {tga(2, 15), std::string("\xff\x7f", 2), {254, 254, 254, 255}},
      {tga(2, 16, 1, 1, 1), std::string("\x00\x7c", 2), {254, 0, 0, 255}},
      {tga(2, 16), std::string("\x21\x08", 2), {8, 4, 8, 255}},
      {tga(), std::string("\x01\x02\x03", 3), {3, 2, 1, 255}},
      {tga(2, 32), std::string("\x01\x02\x03\x04", 4), {3, 2, 1, 255}},
      {tga(2, 32, 1, 1, 8), std::string("\x01\x02\x03\x04", 4), {3, 2, 1, 4}},
      // Grey: R = G = B, opaque unless 16 bits carry alpha.
      {tga(3, 8), std::string("\x7b", 1), {123, 123, 123, 255}},
      {tga(11, 8), std::string("\x81\x7b", 2), {123, 123, 123, 255}},
      {tga(3, 16, 1, 1, 8), std::string("\x7b\x40", 2), {123, 123, 123, 64}},
      {tga(3, 16), std::string("\x7b\x40", 2), {123, 123, 123, 255}},
      // Maps from their first index: pixel v takes entry v - first.
      {with_map(tga(1, 8), 10, 2, 24),
       std::string("\x01\x02\x03\x04\x05\x06\x0b", 7), {6, 5, 4, 255}},
      {with_map(tga(1, 8), 10, 2, 24),
       std::string("\x01\x02\x03\x04\x05\x06\x0a", 7), {3, 2, 1, 255}},
      {with_map(tga(1, 8), 10, 2, 24),
       std::string("\x01\x02\x03\x04\x05\x06\x09", 7), {0, 0, 0, 255}},
      {with_map(tga(1, 8), 10, 2, 24),
       std::string("\x01\x02\x03\x04\x05\x06\x0c", 7), {0, 0, 0, 255}},
      {with_map(tga(9, 16), 0, 2, 16),
       std::string("\x00\x00\xff\xff\x80\x01\x00", 7), {254, 254, 254, 255}},
      {with_map(tga(1, 8, 1, 1, 8), 0, 1, 32),
       std::string("\x01\x02\x03\x04\x00", 5), {3, 2, 1, 4}},
      // A map in a true-colour file is skipped, not applied.
      {with_map(tga(), 0, 1, 24),
       std::string("\x09\x09\x09\x01\x02\x03", 6), {3, 2, 1, 255}},
  };
  for (const Case& c : cases) {
    write_text(path, tga_header(c.header) + c.data);
    Image image;
    load(path, image);
    ASSERT_NE(image.pixels, nullptr) << c.header.type << " " << c.header.depth << " " << TargaError;
    EXPECT_EQ(image.pixel(0, 0), c.rgba) << c.header.type << " " << c.header.depth;
    load(path, image, 3);
    EXPECT_EQ(image.pixel(0, 0, 3), std::vector<int>(c.rgba.begin(), c.rgba.begin() + 3));
  }
}

TEST(TargaLibrary, EveryOriginLoadsToTheSameImage) {
  TempDir dir;
  const Picture p = pattern8(5, 3);
  std::vector<unsigned char> first;
  for (int origin = 0; origin < 4; ++origin) {
    const std::string path = dir / ("o" + std::to_string(origin) + ".tga");
    TgaHeader t;
    t.width = 5;
    t.height = 3;
    t.descriptor = origin << 4;
    std::string file = tga_header(t);
    // File pixel n lies at column n mod w (mirrored for right origins) and
    // row n div w counted from the bottom (from the top for upper origins).
    for (int n = 0; n < 15; ++n) {
      const int x = origin & 1 ? 4 - n % 5 : n % 5;
      const int y = origin & 2 ? n / 5 : 2 - n / 5;
      file += std::string{char(p.at(x, y)[2]), char(p.at(x, y)[1]), char(p.at(x, y)[0])};
    }
    write_text(path, file);
    Image image;
    load(path, image);
    ASSERT_NE(image.pixels, nullptr);
    if (origin == 0) first = image.all();
    EXPECT_EQ(image.all(), first) << origin;
    // Rows from the bottom: memory row 0 is the picture's last row.
    EXPECT_EQ(image.pixel(0, 0), std::vector<int>({p.at(0, 2)[0], p.at(0, 2)[1], p.at(0, 2)[2], 255}));
    // Peers agree: ImageMagick on every origin, Pillow and netpbm on the
    // left ones (they ignore right origins).
    PeerImage pnm;
    ASSERT_TRUE(peer_convert("/usr/bin/convert", path + " -auto-orient -depth 8 ppm:-", dir / "o.ppm"));
    ASSERT_TRUE(read_pnm(dir / "o.ppm", &pnm));
    EXPECT_EQ(pnm_picture(pnm), p) << "ImageMagick " << origin;
    if (origin & 1) continue;
    ASSERT_TRUE(pillow_to_ppm(path, dir / "o.ppm"));
    ASSERT_TRUE(read_pnm(dir / "o.ppm", &pnm));
    EXPECT_EQ(pnm_picture(pnm), p) << "Pillow " << origin;
    ASSERT_TRUE(peer_convert("/usr/bin/tgatoppm", path, dir / "o.ppm"));
    ASSERT_TRUE(read_pnm(dir / "o.ppm", &pnm));
    EXPECT_EQ(pnm_picture(pnm), p) << "tgatoppm " << origin;
  }
}

TEST(TargaLibrary, RefusalsSetTheirCodeAndTheNextCallClearsIt) {
  TempDir dir;
  const std::string path = dir / "e.tga";
  ImgioSession session;
  setkeyval("IMGIO_MAX_PIXELS", "1000");
  struct Case {
    std::string file;
    unsigned format;
    int code;
  } cases[] = {
      {tga_header(tga()) + "abc", 5, TGA_BAD_FORMAT},
      {tga_header(tga()).substr(0, 17), 4, TGA_BAD_HEADER},
      {tga_header(tga(2, 24, 0)) + "abc", 4, TGA_ZERO_SIZE},
      {tga_header(tga(2, 24, 1, 0)) + "abc", 4, TGA_ZERO_SIZE},
      {tga_header(tga(2, 24, 100, 11)), 4, TGA_BAD_HEADER},
      {tga_header(tga(2, 40)) + "abcde", 4, TGA_BAD_HEADER},
      {tga_header(tga(0)) + "abc", 4, TGA_NO_DATA},
      {tga_header(tga(4)) + "abc", 4, TGA_UNKNOWN_TYPE},
      {tga_header(tga(32)) + "abc", 4, TGA_UNKNOWN_TYPE},
      {tga_header(with_map(tga(3, 8), 0, 1, 24)) + "abcd", 4,
       TGA_GREY_WITH_MAP},
      {tga_header(with_map(tga(1, 8), 0, 1, 8)) + "ab", 4,
       TGA_BAD_MAP_ENTRY_SIZE},
      {tga_header(tga(1, 8)) + "a", 4, TGA_BAD_MAP},
      {tga_header(with_map(tga(9, 8), 0, 0, 24)) + "a", 4, TGA_BAD_MAP},
      {tga_header(with_map(tga(1, 8), 0, 2, 24)) + "abcde", 4,
       TGA_BAD_MAP},
      {tga_header(tga(2, 24, 2)) + "abcde", 4, TGA_EOF},
      {tga_header(tga(10, 24, 3)) + "\x81" + "abc", 4, TGA_EOF},
      {tga_header(tga(10, 24, 3)) + "\x02" + "abcdef", 4, TGA_EOF},
      {tga_header(with_id(tga(), 5)) + "ab", 4, TGA_EOF},
  };
  for (const Case& c : cases) {
    write_text(path, c.file);
    Image image;
    load(path, image, c.format);
    EXPECT_EQ(image.pixels, nullptr) << c.code;
    EXPECT_EQ(tga_get_last_error(), c.code);
    EXPECT_EQ(TargaError, c.code);
    // The code does not outlive the next call.
    write_text(path, tga_header(tga()) + "abc");
    load(path, image);
    EXPECT_NE(image.pixels, nullptr);
    EXPECT_EQ(tga_get_last_error(), TGA_NO_ERROR);
  }
  // Files too short for the pixels (or the map) their header claims fail
  // before any of them is allocated: the code is not a lost allocation's 0.
  setkeyval("IMGIO_MAX_PIXELS", "100000000");
  struct Short {
    std::string file;
    int code;
  } shorts[] = {
      {tga_header(tga(2, 24, 10000, 10000)) + "abc", TGA_EOF},
      {tga_header(tga(2, 16, 3)) + "abcde", TGA_EOF},
      // A packet of a header and a pixel codes at most 128 pixels.
      {tga_header(tga(10, 24, 257)) + "\xff" + "abc" + "\xff" + "abc", TGA_EOF},
      {tga_header(tga(10, 24, 10000, 10000)) + "\xff" + "abc", TGA_EOF},
      {tga_header(with_map(tga(1, 8), 0, 60000, 32)) + "abcdabcd", TGA_BAD_MAP},
  };
  for (const Short& c : shorts) {
    write_text(path, c.file);
    Image image;
    {
      FailingHeap no_images(0, FailingHeap::image);
      FailingHeap no_maps(0);
      load(path, image);
    }
    EXPECT_EQ(image.pixels, nullptr);
    EXPECT_EQ(tga_get_last_error(), c.code) << c.file.size();
  }
  // Exactly enough: two packets of 128.
  write_text(path, tga_header(tga(10, 24, 256)) + "\xff" + "abc" + "\xff" + "abc");
  Image image;
  load(path, image);
  ASSERT_NE(image.pixels, nullptr);
  EXPECT_EQ(image.pixel(255, 0), std::vector<int>({'c', 'b', 'a', 255}));
  load(dir / "missing.tga", image);
  EXPECT_EQ(tga_get_last_error(), TGA_CANNOT_OPEN);
  // A packet that passes the last pixel is cut there.
  write_text(path, tga_header(tga(10, 24, 2)) + "\x85" + "abc");
  load(path, image);
  ASSERT_NE(image.pixels, nullptr);
  EXPECT_EQ(image.pixel(1, 0), std::vector<int>({'c', 'b', 'a', 255}));

  EXPECT_EQ(tga_create(2, 2, 2), nullptr);
  EXPECT_EQ(tga_get_last_error(), TGA_BAD_FORMAT);
  unsigned char pixel[4] = {};
  EXPECT_EQ(tga_write_raw(path.c_str(), 1, 1, pixel, 5), 0);
  EXPECT_EQ(tga_get_last_error(), TGA_BAD_FORMAT);
  EXPECT_EQ(tga_write_rle((dir / "no/such/dir.tga").c_str(), 1, 1, pixel, 4), 0);
  EXPECT_EQ(tga_get_last_error(), TGA_CANNOT_OPEN);
  const char* texts[] = {"no error", "bad image header", "cannot open file", "bad format argument",
                         "unexpected end-of-file", "image contains no data",
                         "found colormap for a grayscale image", "unsupported colormap entry size",
                         "bad colormap", "cannot read from file", "unknown image type",
                         "image has size 0 width or height (or both)", "unknown error"};
  for (int code = 0; code <= 12; ++code) EXPECT_STREQ(tga_error_string(code), texts[code]);
  EXPECT_STREQ(tga_error_string(-1), "unknown error");
}

TEST(TargaDriver, OwnFilesRoundTripRawAndPacked) {
  TargaSession s;
  const std::string path = s.dir / "round.tga";
  const char* const settings[] = {"no", "yes", nullptr};
  for (const char* compress : settings) {
    if (compress)
      setkeyval("IMGIO_TARGA_COMPRESS", compress);
    else
      deletekeyval("IMGIO_TARGA_COMPRESS");
    for (int width : {1, 2, 7, 640}) {
      const Picture p8 = map_samples(pattern8(width, 4), [](int v, int c) { return c == 3 ? v ^ 0x5A : v; });
      ASSERT_TRUE(write_picture(path, p8, false));
      const std::string file = read_text(path);
      // ID of 21 bytes, type 2 or 10, 32 bits, 8 alpha bits, lower left.
      EXPECT_EQ(file.substr(0, 3), std::string("\x15\x00", 2) + char(compress && !strcmp(compress, "yes") ? 10 : 2));
      EXPECT_EQ(file.substr(16, 23), std::string("\x20\x08Written with imgio\0\0\0", 23));
      Picture back;
      ASSERT_TRUE(read_picture(path, back, false));
      EXPECT_EQ(back, p8) << width;
      // 16-bit lines keep the high byte and read back as v << 8.
      const Picture p16 = pattern16(width, 4);
      ASSERT_TRUE(write_picture(path, p16, true));
      ASSERT_TRUE(read_picture(path, back, true));
      EXPECT_EQ(back, map_samples(p16, [](int v, int) { return v & 0xFF00; })) << width;
      int w = 0, h = 0;
      unsigned int* whole = readbuf(path.c_str(), &w, &h);
      ASSERT_NE(whole, nullptr);
      EXPECT_EQ(whole[0], 0xFF000000u | (p16.at(0, 3)[2] >> 8) << 16 | (p16.at(0, 3)[1] >> 8) << 8 | p16.at(0, 3)[0] >> 8);
      EXPECT_EQ(writebuf(whole, w, h, (s.dir / "copy.tga").c_str()), 0);
      destroybuffer(whole);
      EXPECT_EQ(read_text(s.dir / "copy.tga"), read_text(path));
    }
  }
}

TEST(TargaDriver, LinesFollowTheRowCounterAndSeeks) {
  TargaSession s;
  const std::string path = s.dir / "rows.tga";
  const Picture p = pattern8(3, 4);
  ASSERT_TRUE(write_picture(path, p, false));
  imginfo* h = openimg(path.c_str());
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(showheader(h), 0);
  EXPECT_TRUE(s.capture.has("\nTarga Specific Image Information.\n"));
  EXPECT_TRUE(s.capture.has(std::string(33, '=') + "\n"));
  ASSERT_EQ(makeseekable(h), 0);
  std::vector<unsigned int> line(3);
  for (int row : {2, 0, 3}) {
    ASSERT_EQ(seekline(h, row), 0);
    ASSERT_EQ(readline(h, line.data()), 0);
    // File line i is picture row height - 1 - i.
    EXPECT_EQ(line[1] & 255, p.at(1, 3 - row)[0]) << row;
  }
  EXPECT_EQ(closeimg(h), 0);
  // Writing past the last row fails.
  h = createimg(path.c_str(), 2, 1, 8);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(writeline(h, line.data()), 0);
  EXPECT_EQ(writeline(h, line.data()), 1);
  EXPECT_EQ(closeimg(h), 0);
}

TEST(TargaDriver, FailuresAreReported) {
  TargaSession s;
  const std::string path = s.dir / "bad.tga";
  write_text(path, tga_header(tga(4)) + "abc");
  EXPECT_EQ(openimg(path.c_str()), nullptr);
  EXPECT_EQ(s.capture.messages[0].text, "Targa: Cannot load " + path + ": unknown image type\n");
  // The disk is full: the file made at close fails the close.
  const std::string full = s.dir / "full.tga";
  ASSERT_EQ(symlink("/dev/full", full.c_str()), 0);
  s.capture.messages.clear();
  EXPECT_FALSE(write_picture(full, pattern8(2, 2), false));
  EXPECT_TRUE(s.capture.has("Targa: Cannot write " + full + ": cannot open file\n"));
  EXPECT_TRUE(s.capture.has("ERROR: Failed to close file [" + full + "] format [targa2]\n"));
  // Images the header cannot describe are not made.
  EXPECT_EQ(createimg(path.c_str(), 65536, 1, 8), nullptr);
  EXPECT_TRUE(s.capture.has("Targa: Image of 65536x1 is too large for a Targa file.\n"));
  // No memory for the image.
  ASSERT_TRUE(write_picture(path, pattern8(2, 2), false));
  for (bool reading : {true, false}) {
    s.capture.messages.clear();
    {
      FailingHeap heap(0, FailingHeap::image);
      EXPECT_EQ(reading ? openimg(path.c_str()) : createimg(path.c_str(), 2, 2, 8), nullptr);
    }
    EXPECT_EQ(s.capture.messages[0].text, "Targa: Cannot allocate the image of " + path + "\n");
    EXPECT_EQ(s.capture.messages[0].level, IMSSYS_FATAL);
  }
}
