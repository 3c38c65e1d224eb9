#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver_test_support.h"
#include "failing_heap.h"
#include "gif_codec.h"
#include "imgio.h"
#include "imgio_memory_driver.h"
#include "imgio_message_capture.h"
#include "median_cut.h"
#include "q4_memory.h"
#include "temp_dir.h"

namespace {

// Bits least significant first into sub-blocks of at most 255 bytes.
struct BitWriter {
  std::string bytes;
  uint32_t bits = 0;
  int count = 0;
  void put(int code, int width) {
    bits |= uint32_t(code) << count;
    count += width;
    while (count >= 8) {
      bytes += char(bits & 255);
      bits >>= 8;
      count -= 8;
    }
  }
  std::string blocks() {
    if (count) bytes += char(bits & 255);
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 255) {
      const size_t n = std::min<size_t>(255, bytes.size() - i);
      out += char(n) + bytes.substr(i, n);
    }
    return out;
  }
};

void le16(std::string& s, int v) {
  s += char(v & 255);
  s += char(v >> 8);
}

// A GIF87a file whose codes are the indices themselves, a clear before the
// table would widen them: a coding of the test's own.
struct GifSpec {
  int screen_w = 1, screen_h = 1, w = 1, h = 1;
  bool interlaced = false;
  int code_size = 2;
  int colours = 4;  // global table entries (a power of two)
  std::string before_image;
  std::string magic = "GIF87a";
  bool end = true;  // the stream's end code
};

std::string gif_file(const GifSpec& s, const std::vector<int>& indices, std::vector<int> codes = {}) {
  std::string f = s.magic;
  le16(f, s.screen_w);
  le16(f, s.screen_h);
  int size_code = 0;
  while ((2 << size_code) < s.colours) ++size_code;
  f += char(0x80 | size_code);
  f += std::string(2, '\0');
  for (int i = 0; i < (2 << size_code); ++i) f += std::string{char(i * 40), char(i * 40 + 1), char(i * 40 + 2)};
  f += s.before_image + ",";
  le16(f, 0);
  le16(f, 0);
  le16(f, s.w);
  le16(f, s.h);
  f += char(s.interlaced ? 0x40 : 0);
  f += char(s.code_size);
  const int clear = 1 << s.code_size, width = s.code_size + 1;
  BitWriter out;
  if (codes.empty()) {
    codes.push_back(clear);
    int since = 0;
    for (int v : indices) {
      if (since == clear - 2) {
        codes.push_back(clear);
        since = 0;
      }
      codes.push_back(v);
      ++since;
    }
    if (s.end) codes.push_back(clear + 1);
  }
  for (int c : codes) out.put(c, width);
  return f + out.blocks() + std::string("\0;", 2);
}

unsigned colour(int i) { return unsigned(i * 40) | unsigned(i * 40 + 1) << 8 | unsigned(i * 40 + 2) << 16 | 0xFF000000u; }

// A decoded image, top row first (ReadGIF's buffer is bottom row first).
std::vector<unsigned> decode(const std::string& path, int* w = nullptr, int* h = nullptr) {
  int width = 0, height = 0;
  unsigned int* image = ReadGIF(path.c_str(), &width, &height);
  std::vector<unsigned> out;
  if (!image) return out;
  for (int y = height - 1; y >= 0; --y) out.insert(out.end(), image + size_t(y) * width, image + size_t(y + 1) * width);
  q4_image_free_c(image, __FILE__, __LINE__);
  if (w) *w = width;
  if (h) *h = height;
  return out;
}

// Independent LZW reading of a written file's code stream: the codes and
// the width each was read at, and the decoded indices.
struct Stream {
  std::vector<std::pair<int, int>> codes;  // code, width
  std::vector<int> indices;
  bool ok = false;
};

Stream read_stream(const std::string& file) {
  Stream s;
  size_t at = 13 + 768 + 10;
  const int min = static_cast<unsigned char>(file[at++]);
  std::string data;
  while (at < file.size() && file[at]) {
    const size_t n = static_cast<unsigned char>(file[at]);
    data += file.substr(at + 1, n);
    at += n + 1;
  }
  const int clear = 1 << min, end = clear + 1;
  std::vector<std::vector<int>> table;
  auto reset = [&]() {
    table.clear();
    for (int i = 0; i < clear + 2; ++i) table.push_back({i});
  };
  reset();
  int width = min + 1;
  size_t bit = 0;
  std::vector<int> previous;
  while (bit + width <= data.size() * 8) {
    int code = 0;
    for (int j = 0; j < width; ++j, ++bit) code |= ((static_cast<unsigned char>(data[bit / 8]) >> (bit % 8)) & 1) << j;
    s.codes.push_back({code, width});
    if (code == clear) {
      reset();
      width = min + 1;
      previous.clear();
      continue;
    }
    if (code == end) {
      s.ok = true;
      break;
    }
    std::vector<int> entry;
    if (code < int(table.size()))
      entry = table[code];
    else if (code == int(table.size()) && !previous.empty()) {
      entry = previous;
      entry.push_back(previous[0]);
    } else {
      break;
    }
    s.indices.insert(s.indices.end(), entry.begin(), entry.end());
    if (!previous.empty() && table.size() < 4096) {
      previous.push_back(entry[0]);
      table.push_back(previous);
    }
    previous = entry;
    if (int(table.size()) == (1 << width) && width < 12) ++width;
  }
  return s;
}

struct GifSession {
  ImgioSession session;
  MessageCapture capture;
  TempDir dir;
  GifSession() { setimageformat("gif"); }
};

// A picture of at most 255 colours, each channel a multiple of 8 and far
// from the others, so that dithering leaves it as it is.
Picture plain_colours(int width, int height, int colours) {
  return make_picture(width, height, [&](int x, int y, int c) {
    const int i = (x * 7 + y * 3 + x * y) % colours;
    return c == 3 ? 255 : ((i * (c == 0 ? 5 : c == 1 ? 11 : 17) + c * 3) % 8) * 32 + 8 * (c + 1);
  });
}

}  // namespace

TEST(GifDecoder, InterlacedAndPlainTwinsAreEqual) {
  TempDir dir;
  const std::string path = dir / "i.gif";
  for (int height = 1; height <= 9; ++height) {
    std::vector<int> rows;
    for (int y = 0; y < height; ++y) rows.push_back(y);
    std::vector<int> order;
    for (int pass = 0; pass < 4; ++pass) {
      const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
      for (int y = start[pass]; y < height; y += step[pass]) order.push_back(y);
    }
    GifSpec spec;
    spec.screen_w = spec.w = 3;
    spec.screen_h = spec.h = height;
    std::vector<int> plain, laced;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < 3; ++x) plain.push_back((x + y) % 4);
    for (int y : order)
      for (int x = 0; x < 3; ++x) laced.push_back((x + y) % 4);
    write_text(path, gif_file(spec, plain));
    const std::vector<unsigned> a = decode(path);
    spec.interlaced = true;
    write_text(path, gif_file(spec, laced));
    const std::vector<unsigned> b = decode(path);
    std::vector<unsigned> want;
    for (int v : plain) want.push_back(colour(v));
    EXPECT_EQ(a, want) << height;
    EXPECT_EQ(b, want) << height;
  }
}

TEST(GifDecoder, ScreensStreamsAndBlocks) {
  TempDir dir;
  MessageCapture capture;
  const std::string path = dir / "d.gif";
  GifSpec spec;
  spec.screen_w = spec.w = 2;
  spec.screen_h = spec.h = 3;
  // A short stream keeps zeros: eight 3-bit codes fill three bytes, five
  // pixels, then the data ends.
  spec.end = false;
  write_text(path, gif_file(spec, {}, {4, 1, 2, 4, 3, 0, 4, 2}));
  int w = 0, h = 0;
  EXPECT_EQ(decode(path, &w, &h), std::vector<unsigned>({colour(1), colour(2), colour(3), colour(0), colour(2), 0}));
  EXPECT_EQ(w, 2);
  EXPECT_EQ(h, 3);
  // The same where the file ends inside the data.
  const std::string cut = gif_file(spec, {}, {4, 1, 2, 4, 3, 0, 4, 2});
  write_text(path, cut.substr(0, cut.size() - 2));
  EXPECT_EQ(decode(path), std::vector<unsigned>({colour(1), colour(2), colour(3), colour(0), colour(2), 0}));
  // An image larger than the screen is clipped to it; a smaller one leaves
  // the rest zero.
  spec = GifSpec();
  spec.screen_w = 2;
  spec.screen_h = 2;
  spec.w = spec.h = 3;
  write_text(path, gif_file(spec, {1, 2, 3, 3, 2, 1, 0, 0, 0}));
  EXPECT_EQ(decode(path), std::vector<unsigned>({colour(1), colour(2), colour(3), colour(2)}));
  spec.screen_w = spec.screen_h = 3;
  spec.w = spec.h = 2;
  write_text(path, gif_file(spec, {1, 2, 3, 1}));
  EXPECT_EQ(decode(path), std::vector<unsigned>({colour(1), colour(2), 0, colour(3), colour(1), 0, 0, 0, 0}));
  // Extensions are skipped, stray bytes warned about, escaped where they
  // would not print.
  spec = GifSpec();
  spec.before_image = std::string("!\xf9\x04\x01\x02\x03\x04\x00x\x1b", 10);
  write_text(path, gif_file(spec, {2}));
  capture.messages.clear();
  EXPECT_EQ(decode(path), std::vector<unsigned>({colour(2)}));
  EXPECT_EQ(capture.last(), "GIF WARNING: Invalid character (wanted ,). Ignoring '\\x1B'\n");
  // A table of two entries: values beyond it are black.
  spec = GifSpec();
  spec.colours = 2;
  write_text(path, gif_file(spec, {3}));
  EXPECT_EQ(decode(path), std::vector<unsigned>({0xFF000000u}));

  struct Refusal {
    std::string file;
    std::string message;  // "" for none
  } refusals[] = {
      {"GIF8", "GIF: Error reading magic number\n"},
      {[] { GifSpec s; s.magic = "GIF89a"; return gif_file(s, {0}); }(), "GIF: bad magic number (version mismatch?)\n"},
      {"GIF87a\x01\x00", "GIF: error reading screen descriptor\n"},
      {gif_file(GifSpec(), {0}).substr(0, 20), "GIF: Invalid colormap.\n"},
      {gif_file(GifSpec(), {0}).substr(0, 25), "GIF: No image data -- EOF\n"},
      {gif_file(GifSpec(), {0}).substr(0, 25) + ";", ""},
      {gif_file(GifSpec(), {0}).substr(0, 25) + "!", "GIF: No extension function code -- EOF\n"},
      {gif_file(GifSpec(), {0}).substr(0, 25) + "!\xf9", "GIF: EOF in extension\n"},
      {gif_file(GifSpec(), {0}).substr(0, 25) + "!\xf9\x04\x01", "GIF: EOF in extension.\n"},
      {gif_file(GifSpec(), {0}).substr(0, 30), "GIF: Couldn't read left/top/width/height\n"},
      {gif_file(GifSpec(), {0}).substr(0, 35), "GIF: Invalid image data -- EOF\n"},
      {[] { std::string f = gif_file(GifSpec(), {0}); f[35] = 9; return f; }(), "GIF: Invalid LZW code size 9.\n"},
      {[] { GifSpec s; s.screen_w = 0; return gif_file(s, {0}); }(), "GIF: Bad screen size 0x1.\n"},
      // A screen larger than the rest of the file could code, 4096 pixels a
      // code at most.
      {[] { GifSpec s; s.screen_w = s.screen_h = 4000; return gif_file(s, {0}); }(),
       "GIF: Too little image data for a screen of 4000x4000.\n"},
  };
  for (const Refusal& r : refusals) {
    write_text(path, r.file);
    capture.messages.clear();
    EXPECT_TRUE(decode(path).empty()) << r.message;
    EXPECT_EQ(capture.last(), r.message);
  }
}

TEST(GifDecoder, BadCodesEndTheImageInsideItsTable) {
  TempDir dir;
  MessageCapture capture;
  const std::string path = dir / "c.gif";
  GifSpec spec;
  spec.code_size = 3;
  spec.colours = 8;
  spec.screen_w = spec.w = 8;
  spec.end = false;
  struct Case {
    std::vector<int> codes;
    std::string message;
    std::vector<unsigned> pixels;
  } cases[] = {
      // After a clear only a root may come.
      {{8, 12}, "GIF: Invalid code 12 after a clear.\n", {}},
      {{8, 3, 8, 10}, "GIF: Invalid code 10 after a clear.\n", {colour(3)}},
      // Codes beyond the table make entries that point at themselves, or at
      // each other.
      {{8, 0, 11, 10, 11}, "GIF: Circular table entry! Burble!\n", {colour(0), colour(0), colour(0), colour(0), colour(0), 0}},
      {{8, 0, 12, 11, 0, 11}, "GIF: Circular table entry! Burble!\n", {}},
  };
  for (const Case& c : cases) {
    write_text(path, gif_file(spec, {}, c.codes));
    capture.messages.clear();
    const std::vector<unsigned> got = decode(path);
    // The image is kept, what was decoded in it.
    ASSERT_EQ(got.size(), 8u);
    if (!c.pixels.empty()) {
      EXPECT_EQ(std::vector<unsigned>(got.begin(), got.begin() + c.pixels.size()), c.pixels);
    }
    EXPECT_TRUE(capture.has(c.message)) << c.message;
  }
}

TEST(GifEncoder, LayoutPaletteAndTableResets) {
  TempDir dir;
  MessageCapture capture;
  const std::string path = dir / "e.gif";
  srand(11);
  // Noise: the string table fills again and again.
  std::vector<unsigned> noise(200 * 150);
  for (unsigned& p : noise) p = unsigned(rand()) & 0xFFFFFF;
  ASSERT_EQ(WriteGIF(noise.data(), 200, 150, path.c_str()), 0);
  const std::string f = read_text(path);
  EXPECT_EQ(f.substr(0, 13), std::string("GIF87a\xc8\x00\x96\x00\xf7\x00\x00", 13));
  EXPECT_EQ(f.substr(781, 11), std::string(",\0\0\0\0\xc8\0\x96\0\0\x08", 11));
  for (int i = 0; i < 768; ++i) EXPECT_EQ(static_cast<unsigned char>(f[13 + i]) % 8, 0) << i;
  EXPECT_EQ(f.substr(f.size() - 2), std::string("\0;", 2));
  const Stream s = read_stream(f);
  ASSERT_TRUE(s.ok);
  EXPECT_EQ(s.indices.size(), 200u * 150u);
  int clears = 0, since = 0;
  for (size_t i = 0; i < s.codes.size(); ++i) {
    if (s.codes[i].first != 256) {
      ++since;
      continue;
    }
    if (i > 0) {
      // The code that made entry 4095 came last, at 12 bits: 3838 codes a
      // table; the clear is 12 bits wide and then codes are 9 again.
      EXPECT_EQ(since, 3838);
      EXPECT_EQ(s.codes[i].second, 12);
      EXPECT_EQ(s.codes[i + 1].second, 9);
      ++clears;
    }
    since = 0;
  }
  EXPECT_GE(clears, 3);
  // Peers agree on the codes.
  PeerImage pnm;
  ASSERT_TRUE(peer_convert("/usr/bin/giftopnm", path, dir / "e.ppm"));
  ASSERT_TRUE(read_pnm(dir / "e.ppm", &pnm));
  ASSERT_EQ(pnm.samples.size(), 3u * 200 * 150);
  for (size_t i = 0; i < s.indices.size(); ++i)
    for (int c = 0; c < 3; ++c) ASSERT_EQ(pnm.samples[3 * i + c], static_cast<unsigned char>(f[13 + 3 * s.indices[i] + c]));

  // Two colours: entries from 2 on are 0.
  std::vector<unsigned> two(40, 0x102030);
  two[7] = 0xF0E0D0;
  ASSERT_EQ(WriteGIF(two.data(), 8, 5, path.c_str()), 0);
  EXPECT_EQ(read_text(path).substr(13, 768), std::string("\xd0\xe0\xf0\x30\x20\x10", 6) + std::string(762, '\0'));
  // Nothing to write fails; the process goes on.
  EXPECT_EQ(WriteGIF(two.data(), 0, 0, path.c_str()), 1);
  EXPECT_EQ(WriteGIF(two.data(), 8, 5, (dir / "no/e.gif").c_str()), 1);
  {
    FailingHeap heap(5);
    EXPECT_EQ(WriteGIF(two.data(), 8, 5, path.c_str()), 1);
  }
}

TEST(MedianCut, BoxesColoursAndIndices) {
  uint16_t r[256], g[256], b[256];
  auto palette = [&](int i) { return std::vector<int>({r[i], g[i], b[i]}); };
  // Few colours: a box each, their colours to 5 bits.
  std::vector<unsigned> pixels;
  for (int i = 0; i < 60; ++i) pixels.push_back(unsigned(i * 4 % 256) | unsigned(i * 13 % 256) << 8 | unsigned(i * 29 % 256) << 16);
  uint8_t* index = med_cut_gen(pixels.data(), 60, 1, 0, r, g, b, 255, 0);
  ASSERT_NE(index, nullptr);
  std::set<int> used;
  for (int i = 0; i < 60; ++i) {
    const unsigned p = pixels[i];
    EXPECT_EQ(palette(index[i]), std::vector<int>({int(p & 0xF8), int(p >> 8 & 0xF8), int(p >> 16 & 0xF8)})) << i;
    used.insert(index[i]);
  }
  std::set<std::vector<int>> distinct;
  for (unsigned p : pixels) distinct.insert({int(p & 0xF8), int(p >> 8 & 0xF8), int(p >> 16 & 0xF8)});
  EXPECT_EQ(used.size(), distinct.size());
  for (int i = int(used.size()); i < 256; ++i) EXPECT_EQ(palette(i), std::vector<int>({0, 0, 0}));
  q4_image_free_c(index, __FILE__, __LINE__);

  // One box of two colours: the mean weighted by the squared counts, 3 of
  // (8, 16, 24) and 1 of (80, 96, 120): (9 * v1 + v2) / 10 in 5 bits.
  std::vector<unsigned> four = {0x181008, 0x181008, 0x181008, 0x786050};
  index = med_cut_gen(four.data(), 2, 2, 0, r, g, b, 1, 0);
  ASSERT_NE(index, nullptr);
  EXPECT_EQ(palette(0), std::vector<int>({(9 * 1 + 10) / 10 * 8, (9 * 2 + 12) / 10 * 8, (9 * 3 + 15) / 10 * 8}));
  q4_image_free_c(index, __FILE__, __LINE__);
  // A cell of 50000 pixels: its squared count passes 31 bits.
  std::vector<unsigned> many(50001, 0x406080);
  many[0] = 0x4868A0;
  index = med_cut_gen(many.data(), 50001, 1, 0, r, g, b, 1, 0);
  ASSERT_NE(index, nullptr);
  EXPECT_EQ(palette(0), std::vector<int>({0x80, 0x60, 0x40}));
  q4_image_free_c(index, __FILE__, __LINE__);
  // More colours than boxes: as many boxes as asked, the base added.
  srand(5);
  std::vector<unsigned> noise(64 * 64);
  for (unsigned& p : noise) p = unsigned(rand()) & 0xFFFFFF;
  index = med_cut_gen(noise.data(), 64, 64, 0, r, g, b, 16, 100);
  ASSERT_NE(index, nullptr);
  std::set<int> boxes(index, index + 64 * 64);
  EXPECT_EQ(boxes.size(), 16u);
  EXPECT_EQ(*boxes.begin(), 100);
  EXPECT_EQ(*boxes.rbegin(), 115);
  q4_image_free_c(index, __FILE__, __LINE__);
}

TEST(MedianCut, DitheringIsRepeatableAndKeepsNothingOfEarlierRuns) {
  uint16_t r[256], g[256], b[256];
  srand(2);
  std::vector<unsigned> a(50 * 40), other(30 * 30);
  for (unsigned& p : a) p = unsigned(rand()) & 0xFFFFFF;
  for (unsigned& p : other) p = unsigned(rand()) & 0x0F0F0F;
  auto run = [&](const std::vector<unsigned>& pixels, int w, int h) {
    srand(9);
    uint8_t* index = med_cut_gen(pixels.data(), w, h, 1, r, g, b, 255, 0);
    std::vector<int> out(index, index + w * h);
    for (int i = 0; i < 256; ++i) out.insert(out.end(), {r[i], g[i], b[i]});
    q4_image_free_c(index, __FILE__, __LINE__);
    return out;
  };
  const std::vector<int> first = run(a, 50, 40);
  run(other, 30, 30);
  EXPECT_EQ(run(a, 50, 40), first);
  // Colours far apart and on the 5-bit grid come through dithering as they
  // are.
  const Picture p = plain_colours(37, 23, 30);
  std::vector<unsigned> words;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) words.push_back(p.at(x, y)[0] | p.at(x, y)[1] << 8 | p.at(x, y)[2] << 16);
  srand(1);
  uint8_t* index = med_cut_gen(words.data(), 37, 23, 1, r, g, b, 255, 0);
  ASSERT_NE(index, nullptr);
  for (size_t i = 0; i < words.size(); ++i)
    ASSERT_EQ(unsigned(r[index[i]]) | unsigned(g[index[i]]) << 8 | unsigned(b[index[i]]) << 16, words[i]) << i;
  q4_image_free_c(index, __FILE__, __LINE__);
}

TEST(GifDriver, OwnFilesRoundTrip) {
  GifSession s;
  const std::string path = s.dir / "own.gif";
  srand(4);
  for (int width : {1, 2, 7, 640}) {
    const Picture p = plain_colours(width, 5, 40);
    ASSERT_TRUE(write_picture(path, p, false));
    EXPECT_EQ(file_head(path, 6), "GIF87a");
    Picture back;
    ASSERT_TRUE(read_picture(path, back, false));
    EXPECT_EQ(back, p) << width;
    // 16-bit lines: the high byte is kept, read back as v << 8 (alpha
    // 255 as 65280).
    const Picture p16 = map_samples(p, [](int v, int) { return v << 8 | 0x5A; });
    ASSERT_TRUE(write_picture(path, p16, true));
    ASSERT_TRUE(read_picture(path, back, true));
    EXPECT_EQ(back, map_samples(p, [](int v, int) { return v << 8; })) << width;
    int w = 0, h = 0;
    unsigned int* whole = readbuf(path.c_str(), &w, &h);
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(whole[0], p.at(0, 4)[0] | p.at(0, 4)[1] << 8 | p.at(0, 4)[2] << 16 | 0xFF000000u);
    EXPECT_EQ(writebuf(whole, w, h, (s.dir / "copy.gif").c_str()), 0);
    destroybuffer(whole);
    ASSERT_TRUE(read_picture(s.dir / "copy.gif", back, false));
    EXPECT_EQ(back, p);
  }
}

TEST(GifDriver, FailuresFailTheirCall) {
  GifSession s;
  const std::string full = s.dir / "full.gif";
  ASSERT_EQ(symlink("/dev/full", full.c_str()), 0);
  EXPECT_FALSE(write_picture(full, pattern8(5, 5), false));
  EXPECT_TRUE(s.capture.has("ERROR: Failed to close file [" + full + "] format [gif]\n"));
  EXPECT_EQ(createimg(full.c_str(), 70000, 1, 8), nullptr);
  EXPECT_TRUE(s.capture.has("GIF: Image of 70000x1 is too large for a GIF file.\n"));
  write_text(s.dir / "bad.gif", "GIF89a");
  EXPECT_EQ(openimg((s.dir / "bad.gif").c_str()), nullptr);
  EXPECT_TRUE(s.capture.has("ERROR: Failed to open file [" + (s.dir / "bad.gif") + "] format [gif]\n"));
}
