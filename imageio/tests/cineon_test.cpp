#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver_test_support.h"
#include "failing_heap.h"
#include "imgio.h"
#include "imgio_dpx_internal.h"
#include "imgio_memory_driver.h"
#include "imgio_message_capture.h"
#include "imgio_utils.h"
#include "simd_paths.h"
#include "temp_dir.h"

namespace {

void be(std::string& s, size_t at, uint32_t v, int bytes = 4) {
  for (int j = 0; j < bytes; ++j) s[at + j] = char(v >> (8 * (bytes - 1 - j)));
}

// A Cineon header of the test's own making.
struct CinSpec {
  uint32_t width = 1, height = 1;
  int channels = 1, bits = 8, code = 1, orientation = 0, interleave = 0;
  bool span = false;  // packing bit 7: fields run on across pixels
  std::vector<int> semantics = {0, 1, 2, 3, 0, 0, 0, 0};
  uint32_t eol_pad = 0;
  bool industry = true;
};

// Grey 10-bit fields packed three to a cell, running on across pixels.
CinSpec spanning10(uint32_t width, uint32_t height) {
  CinSpec s;
  s.width = width;
  s.height = height;
  s.bits = 10;
  s.code = 5;
  s.span = true;
  return s;
}

std::string cin_header(const CinSpec& s) {
  std::string h(s.industry ? 2048 : 1024, '\0');
  be(h, 0, DPX_MAGIC);
  be(h, 4, uint32_t(h.size()));
  be(h, 8, 1024);
  be(h, 12, s.industry ? 1024 : 0);
  h[192] = char(s.orientation);
  h[193] = char(s.channels);
  for (int c = 0; c < s.channels && c < 8; ++c) {
    const size_t at = 196 + 28 * c;
    h[at + 1] = char(s.semantics[c]);
    h[at + 2] = char(s.bits);
    be(h, at + 4, s.width);
    be(h, at + 8, s.height);
  }
  h[680] = char(s.interleave);
  h[681] = char(s.code | (s.span ? 0x80 : 0));
  be(h, 684, s.eol_pad);
  return h;
}

// Big-endian cells of cell_bits holding fields of bits; each group starts a
// new cell and runs on across cells.
std::string cells(int cell_bits, int bits, bool right, const std::vector<std::vector<unsigned>>& groups) {
  const int fields = cell_bits / bits;
  const int unused = right ? 0 : cell_bits - fields * bits;
  std::string out;
  for (const auto& group : groups) {
    for (size_t i = 0; i < group.size(); i += fields) {
      uint32_t cell = 0;
      for (int k = 0; k < fields && i + k < group.size(); ++k)
        cell |= uint32_t(group[i + k]) << ((fields - 1 - k) * bits + unused);
      for (int j = cell_bits / 8 - 1; j >= 0; --j) out += char(cell >> (8 * j));
    }
  }
  return out;
}

struct CinSession {
  ImgioSession session;
  MessageCapture capture;
  TempDir dir;
  CinSession() { setimageformat("cin"); }
};

std::vector<uint32_t> read_lines8(const std::string& path) {
  std::vector<uint32_t> out;
  imginfo* h = openimg(path.c_str());
  if (!h) return out;
  std::vector<unsigned int> line(h->width);
  for (int y = 0; y < h->height; ++y) {
    if (readline(h, line.data()) != 0) {
      out.clear();
      break;
    }
    out.insert(out.end(), line.begin(), line.end());
  }
  closeimg(h);
  return out;
}

uint32_t grey(unsigned v) { return v | v << 8 | v << 16 | 0xFF000000u; }
uint32_t rgb(unsigned r, unsigned g, unsigned b) { return r | g << 8 | b << 16 | 0xFF000000u; }

}  // namespace

TEST(CineonDriver, OwnFilesKeepTheirTenBitValues) {
  CinSession s;
  const std::string path = s.dir / "own";
  for (int width : {1, 2, 7, 640}) {
    // 16-bit lines keep their top 10 bits: 1023 comes back as 65472.
    const Picture p16 = map_samples(pattern16(width, 4), [](int v, int c) { return c == 3 ? 65535 : v; });
    ASSERT_TRUE(write_picture(path, p16, true));
    Picture back;
    ASSERT_TRUE(read_picture(path, back, true));
    EXPECT_EQ(back, map_samples(p16, [](int v, int c) { return c == 3 ? 65472 : v & 0xFFC0; })) << width;
    const Picture p8 = pattern8(width, 4);
    ASSERT_TRUE(write_picture(path, p8, false));
    ASSERT_TRUE(read_picture(path, back, false));
    EXPECT_EQ(back, p8) << width;
    // 8-bit values v are stored as v << 2.
    ASSERT_TRUE(read_picture(path, back, true));
    EXPECT_EQ(back, map_samples(p8, [](int v, int c) { return c == 3 ? 65472 : v << 8; })) << width;
    int w = 0, h = 0;
    unsigned short* whole = readbuf16(path.c_str(), &w, &h);
    ASSERT_NE(whole, nullptr);
    // Buffer rows from the bottom: the picture's last row first.
    EXPECT_EQ(whole[0], p8.at(0, 3)[0] << 8);
    EXPECT_EQ(writebuf16(whole, w, h, (s.dir / "copy").c_str()), 0);
    destroybuffer16(whole);
    const std::string a = read_text(path), b = read_text(s.dir / "copy");
    // The same but for the file name inside.
    EXPECT_EQ(a.substr(2048), b.substr(2048));
  }
  // Extreme values and the cell layout: red in bits 22-31, green 12-21,
  // blue 2-11.
  const Picture corners = make_picture(2, 1, [](int x, int, int c) {
    return c == 3 ? 0 : x == 0 ? (c == 0 ? 65535 : c == 1 ? 0 : 0x8040) : (c == 1 ? 65535 : 64);
  });
  ASSERT_TRUE(write_picture(path, corners, true));
  EXPECT_EQ(read_text(path).substr(2048), std::string("\xff\xc0\x08\x04\x00\x7f\xf0\x04", 8));
}

TEST(CineonDriver, WrittenHeaderFieldsAndItsPrint) {
  CinSession s;
  const std::string path = s.dir / "head";
  ASSERT_TRUE(write_picture(path, pattern8(5, 3), false));
  const std::string f = read_text(path);
  ASSERT_EQ(f.size(), 2048u + 5 * 3 * 4);
  auto field = [&](size_t at, size_t n) { return f.substr(at, n); };
  EXPECT_EQ(field(0, 24), std::string("\x80\x2a\x5f\xd7\0\0\x08\0\0\0\x04\0\0\0\x04\0\0\0\0\0\0\0\x08\x3c", 24));
  EXPECT_EQ(field(24, 8), std::string("V4.5\0\0\0\0", 8));
  EXPECT_EQ(field(32, 100), path + std::string(100 - path.size(), '\0'));
  EXPECT_EQ(field(192, 4), std::string("\0\x03\0\0", 4));
  for (int c = 0; c < 3; ++c) {
    const std::string want = std::string("\0", 1) + char(c + 1) + std::string("\x0a\0\0\0\0\x05\0\0\0\x03", 10) +
                             std::string(8, '\0') + std::string("\0\xc0\x7f\x44", 4) + std::string("\x40\0\0\0", 4);
    EXPECT_EQ(field(196 + 28 * c, 28), want) << c;
  }
  EXPECT_EQ(field(428, 24), std::string("\x4e\xff\0\0\x4e\xff\0\0\x4e\xff\0\0\x4e\xff\0\0\x4e\xff\0\0\x4e\xff\0\0", 24));
  EXPECT_EQ(field(680, 12), std::string("\0\x05", 2) + std::string(10, '\0'));
  EXPECT_EQ(field(720, 100), field(32, 100));
  EXPECT_EQ(field(844, 6), std::string("imgio\0", 6));
  EXPECT_EQ(field(980, 4), std::string("\x3f\x80\0\0", 4));
  EXPECT_EQ(field(1024, 12), std::string("\0\0\xff\0\xff\xff\xff\xff\xff\xff\xff\xff", 12));
  EXPECT_EQ(field(1068, 8), std::string("\0\0\0\x01\x41\xc0\0\0", 8));

  imginfo* h = openimg(path.c_str());
  ASSERT_NE(h, nullptr);
  s.capture.messages.clear();
  ASSERT_EQ(showheader(h), 0);
  EXPECT_EQ(closeimg(h), 0);
  std::string text;
  for (const auto& m : s.capture.messages) text += m.text;
  std::string want =
      "Cineon Generic header\n=====================\n File information\n ----------------\n"
      "          Format version: V4.5\n       Image data offset: 2048 bytes\n"
      "  Variable header length: 0 bytes\n          Full file size: 2108 bytes\n"
      "               File name: " + path + "\n           Creation date: \n           Creation time: \n"
      "\n Image information\n -----------------\n"
      "   Orientation: Line: left -> right; Page: top -> bottom\n      Channels: 3\n"
      "   White point: (0.332400,0.347400)\n   Red primary: (2139095040.000000,2139095040.000000)\n"
      " Green primary: (2139095040.000000,2139095040.000000)\n"
      "  Blue primary: (2139095040.000000,2139095040.000000)\n         Label: \n";
  const char* semantics[] = {"Red density", "Green density", "Blue density"};
  for (int c = 0; c < 3; ++c)
    want += "\n (Channel " + std::to_string(c) + " information)\n      Metric type: Universal metric\n"
            "   Data semantics: " + semantics[c] + "\n             Bits: 10\n           Pixels: 5\n"
            "            Lines: 3\n        Min. data: 0.000000 for quantity 0.000000\n"
            "        Max. data: 1023.000000 for quantity 2.000000\n";
  want +=
      "\n Data format information\n -----------------------\n Channel interleave: Pixel\n"
      "     Data cell type: Longword boundaries, left justified\n       Cell packing: One pixel per cell\n"
      "          Data type: Unsigned\n        Image sense: Positive\n    End of line pad: 0 bytes\n"
      " End of channel pad: 0 bytes\n\n Origination information\n -----------------------\n"
      " X offset wrt source: 0\n Y offset wrt source: 0\n        Input device: imgio\n"
      "        Device model: \n       Device serial: \n      X samples / mm: 166.669998\n"
      "      Y samples / mm: 166.669998\n       Capture gamma: 1.000000\n"
      "\nMotion Picture Industry Specific Header\n=======================================\n"
      " Perfs offset: <unspecified>\n       Prefix: <unspecified>\n        Count: <unspecified>\n"
      "       Format: \n Frame in seq: 1\n   Frame rate: 24.000000 per sec.\n        Slate: \n";
  // The generic part of the print follows showheader's own lines.
  EXPECT_EQ(text.substr(text.find("Cineon Generic header")), want);
}

TEST(CineonHeader, NamesOutOfRangePrintTheLastEntryAndTextsStayInTheirFields) {
  MessageCapture capture;
  CinSpec spec;
  spec.semantics[0] = 7;
  std::string g = cin_header(spec);
  g[192] = 9;
  g[196] = 2;
  g[680] = 3;
  g[681] = char(0x80 | 9);
  g[682] = 1;
  g[683] = 5;
  memset(&g[32], 'n', 100);   // a name that fills its field
  memset(&g[132], 'd', 12);
  uint8_t industry[1024] = {};
  industry[DPX_PERFS] = 7;
  be(g, 0, 0);  // not read
  dpx_print_header(reinterpret_cast<const uint8_t*>(g.data()), industry);
  std::string text;
  for (const auto& m : capture.messages) text += m.text;
  for (const std::string line :
       {"   Orientation: Unknown\n", "      Metric type: Unknown\n", "   Data semantics: Unknown\n",
        " Channel interleave: Unknown\n", "     Data cell type: Unknown\n",
        "       Cell packing: Maybe many pixels per cell\n", "          Data type: Signed\n",
        "        Image sense: Negative\n", " Perfs offset: 7\n", "       Prefix: 0\n", "        Count: 0\n",
        " Frame in seq: 0\n", "   Frame rate: 0.000000 per sec.\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line;
  EXPECT_NE(text.find("               File name: " + std::string(100, 'n') + "\n"), std::string::npos);
  EXPECT_NE(text.find("           Creation date: " + std::string(12, 'd') + "\n"), std::string::npos);
}

TEST(CineonDriver, ReadsEveryCellLayout) {
  CinSession s;
  const std::string path = s.dir / "layout";
  struct Case {
    const char* what;
    CinSpec spec;
    std::string data;
    std::vector<uint32_t> lines;  // 8-bit pixels, line after line
  };
  std::vector<Case> cases;
  CinSpec grey8;
  grey8.width = 3;
  grey8.height = 2;
  cases.push_back({"bytes of one black-and-white channel", grey8, std::string("\x01\x80\xff\x10\x20\x30", 6),
                   {grey(1), grey(128), grey(255), grey(16), grey(32), grey(48)}});
  CinSpec mirrored = grey8;
  mirrored.orientation = 2;
  cases.push_back({"orientation 2 mirrors", mirrored, std::string("\x01\x80\xff\x10\x20\x30", 6),
                   {grey(255), grey(128), grey(1), grey(48), grey(32), grey(16)}});
  CinSpec words = grey8;
  words.channels = 3;
  words.bits = 12;
  words.code = 4;  // 16-bit cells, right justified
  words.semantics = {1, 2, 3, 0, 0, 0, 0, 0};
  cases.push_back({"12-bit values in right-justified words", words,
                   cells(16, 12, true, {{0xFFF, 0x010, 0x800, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}}),
                   {rgb(255, 1, 128), rgb(0, 0, 0), rgb(0, 0, 0), rgb(0, 0, 0), rgb(0, 0, 0), rgb(0, 0, 0)}});
  const CinSpec spanning = spanning10(3, 2);
  // Three fields a cell run on across pixels and lines: 6 values, 2 cells.
  cases.push_back({"fields spanning pixels and lines", spanning,
                   cells(32, 10, false, {{4, 8, 12, 16, 20, 1023}}),
                   {grey(1), grey(2), grey(3), grey(4), grey(5), grey(255)}});
  CinSpec padded = spanning;
  padded.eol_pad = 3;
  // Padding ends each line's last cell.
  cases.push_back({"end-of-line padding", padded,
                   cells(32, 10, false, {{4, 8, 12}}) + "pad" + cells(32, 10, false, {{16, 20, 1023}}) + "pad",
                   {grey(1), grey(2), grey(3), grey(4), grey(5), grey(255)}});
  cases.push_back({"the last line's padding missing", padded,
                   cells(32, 10, false, {{4, 8, 12}}) + "pad" + cells(32, 10, false, {{16, 20, 1023}}),
                   {grey(1), grey(2), grey(3), grey(4), grey(5), grey(255)}});
  CinSpec lines = grey8;
  lines.channels = 2;
  lines.interleave = 1;
  lines.semantics = {3, 1, 0, 0, 0, 0, 0, 0};
  cases.push_back({"line interleave, blue then red", lines, std::string("\x01\x02\x03\x0a\x0b\x0c\x04\x05\x06\x0d\x0e\x0f", 12),
                   {rgb(10, 0, 1), rgb(11, 0, 2), rgb(12, 0, 3), rgb(13, 0, 4), rgb(14, 0, 5), rgb(15, 0, 6)}});
  CinSpec nibbles = grey8;
  nibbles.bits = 4;
  nibbles.code = 2;  // two 4-bit fields a byte, right justified
  nibbles.span = true;
  // Below 8 bits values move up.
  cases.push_back({"4-bit values", nibbles, std::string("\xf1\x80\x3c", 3),
                   {grey(0xF0), grey(0x10), grey(0x80), grey(0x00), grey(0x30), grey(0xC0)}});
  CinSpec colour = grey8;
  colour.channels = 4;
  colour.semantics = {4, 5, 6, 0};  // CCIR red, green, blue and a fourth
  cases.push_back({"colour by semantics, a fourth channel dropped", colour,
                   std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12\x13\x14\x15\x16\x17\x18", 24),
                   {rgb(1, 2, 3), rgb(5, 6, 7), rgb(9, 10, 11), rgb(13, 14, 15), rgb(17, 18, 19), rgb(21, 22, 23)}});
  CinSpec positions = colour;
  positions.channels = 3;
  positions.semantics = {0, 0, 0};
  // Black and white given to every channel of a colour file.
  cases.push_back({"semantics 0 on three channels", positions, std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12", 18),
                   {rgb(1, 2, 3), rgb(4, 5, 6), rgb(7, 8, 9), rgb(10, 11, 12), rgb(13, 14, 15), rgb(16, 17, 18)}});
  CinSpec bottom = grey8;
  bottom.orientation = 1;
  bottom.industry = false;
  // File line 0 is the bottom row; no industry header.
  cases.push_back({"orientation 1 without an industry header", bottom, std::string("\x01\x02\x03\x04\x05\x06", 6),
                   {grey(1), grey(2), grey(3), grey(4), grey(5), grey(6)}});
  for (const Case& c : cases) {
    write_text(path, cin_header(c.spec) + c.data);
    EXPECT_EQ(read_lines8(path), c.lines) << c.what << ": " << s.capture.last();
  }
  // Line order and the 16-bit alpha of fewer bits.
  write_text(path, cin_header(bottom) + std::string(6, 'x'));
  imginfo* h = openimg(path.c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->line_order, IMGIO_BOTTOM_FIRST);
  EXPECT_EQ(h->bits16, 0);
  std::vector<unsigned short> line16(12);
  ASSERT_EQ(readline16(h, line16.data()), 0);
  EXPECT_EQ(line16[0], 'x' << 8);
  EXPECT_EQ(line16[3], 0xFF00);
  ASSERT_EQ(showheader(h), 0);
  EXPECT_TRUE(s.capture.has(" Perfs offset: 0\n"));
  EXPECT_TRUE(s.capture.has("   Frame rate: 0.000000 per sec.\n"));
  EXPECT_EQ(closeimg(h), 0);
}

TEST(CineonDriver, SeeksUseTheFilesOwnStride) {
  CinSession s;
  const std::string path = s.dir / "seek";
  CinSpec padded = spanning10(2, 3);
  padded.eol_pad = 5;
  std::string data;
  for (unsigned y = 0; y < 3; ++y) data += cells(32, 10, false, {{(y * 2 + 1) << 2, (y * 2 + 2) << 2}}) + "12345";
  write_text(path, cin_header(padded) + data);
  imginfo* h = openimg(path.c_str());
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(makeseekable(h), 0);
  std::vector<unsigned int> line(2);
  // Half a line read, then a seek: the cell starts afresh.
  for (int y : {2, 0, 1, 2, 1}) {
    ASSERT_EQ(seekline(h, y), 0);
    ASSERT_EQ(readline(h, line.data()), 0);
    EXPECT_EQ(line, std::vector<unsigned int>({grey(y * 2 + 1), grey(y * 2 + 2)})) << y;
  }
  EXPECT_EQ(closeimg(h), 0);
  // Lines that share cells cannot be sought.
  padded.eol_pad = 0;
  padded.width = 1;
  write_text(path, cin_header(padded) + cells(32, 10, false, {{4, 8, 12}}));
  EXPECT_EQ(read_lines8(path), std::vector<uint32_t>({grey(1), grey(2), grey(3)}));
  h = openimg(path.c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(makeseekable(h), 1);
  EXPECT_TRUE(s.capture.has("Cineon: Lines of " + path + " share cells: they can only be read in order.\n"));
  EXPECT_EQ(closeimg(h), 0);
}

TEST(CineonDriver, RefusesWhatItCannotRead) {
  CinSession s;
  const std::string path = s.dir / "bad";
  struct Case {
    std::string file;
    std::string message;
  };
  std::vector<Case> cases;
  auto with = [](void (*change)(CinSpec&)) {
    CinSpec spec;
    spec.width = 2;
    change(spec);
    return cin_header(spec) + std::string(64, '\0');
  };
  cases.push_back({std::string(1000, '\0'), "Cineon: Failed to read generic header.\n"});
  cases.push_back({std::string(1024, '\0'), "Cineon: Bad magic. Is this a DPX file?\n"});
  cases.push_back({cin_header(CinSpec()).substr(0, 1500), "Cineon: Failed to read motion picture industry header.\n"});
  std::string far = with([](CinSpec&) {});
  be(far, 4, 100000);
  cases.push_back({far, "Cineon: Error seeking to image data.\n"});
  cases.push_back({with([](CinSpec& c) { c.interleave = 2; }), "Cineon: Only pixel or line channel interleave is supported.\n"});
  cases.push_back({with([](CinSpec& c) { c.code = 0; }), "Cineon: Bit field packed data is not supported.\n"});
  cases.push_back({with([](CinSpec& c) { c.code = 7; }), "Cineon: Unknown field packing code.\n"});
  cases.push_back({with([](CinSpec& c) { c.channels = 0; }), "Cineon: Channel count 0 is not supported.\n"});
  cases.push_back({with([](CinSpec& c) { c.channels = 9; }), "Cineon: Channel count 9 is not supported.\n"});
  cases.push_back({with([](CinSpec& c) { c.bits = 0; }), "Cineon: Value bits 0 are not supported.\n"});
  cases.push_back({with([](CinSpec& c) { c.bits = 17; c.code = 5; }), "Cineon: Value bits 17 are not supported.\n"});
  cases.push_back({with([](CinSpec& c) { c.bits = 12; }), "Cineon: Cell size smaller than field size! Burble!\n"});
  cases.push_back({with([](CinSpec& c) { c.orientation = 8; }), "Cineon: Orientation 8 is not supported.\n"});
  cases.push_back({with([](CinSpec& c) { c.width = 0; }), "Cineon: Bad image size 0x1.\n"});
  cases.push_back({with([](CinSpec& c) { c.width = 100000; c.height = 100000; }), "Cineon: Bad image size 100000x100000.\n"});
  // Lines the file does not hold: padded ones (the last line's padding may
  // be missing), fields running on across lines, a width of 2^28.
  CinSpec padded;
  padded.width = 2;
  padded.height = 3;
  padded.eol_pad = 4;
  cases.push_back({cin_header(padded) + std::string(2 + 4 + 2 + 4 + 1, '\0'),
                   "Cineon: The image data passes the end of the file.\n"});
  const CinSpec spanning = spanning10(3, 3);
  cases.push_back({cin_header(spanning) + std::string(8, '\0'), "Cineon: The image data passes the end of the file.\n"});
  cases.push_back({with([](CinSpec& c) { c.width = (1 << 28) - 1; }), "Cineon: The image data passes the end of the file.\n"});
  std::string differ = with([](CinSpec& c) { c.channels = 2; });
  differ[196 + 28 + 2] = 10;
  cases.push_back({differ, "Cineon: Channels differ in bits or resolution. This is not supported.\n"});
  for (const Case& c : cases) {
    write_text(path, c.file);
    s.capture.messages.clear();
    EXPECT_EQ(openimg(path.c_str()), nullptr) << c.message;
    ASSERT_FALSE(s.capture.messages.empty());
    EXPECT_EQ(s.capture.messages[0].text, c.message);
  }
  EXPECT_EQ(openimg((s.dir / "missing").c_str()), nullptr);
  EXPECT_TRUE(s.capture.has("Cineon: Cannot open: " + (s.dir / "missing") + " for read.\n"));
  // A file that ends inside its lines is refused before buffers of their
  // width are taken; one cut after its open fails the lines that are gone.
  CinSpec two;
  two.width = 4;
  two.height = 2;
  write_text(path, cin_header(two) + "abcdefg");
  s.capture.messages.clear();
  EXPECT_TRUE(read_lines8(path).empty());
  EXPECT_EQ(s.capture.messages[0].text, "Cineon: The image data passes the end of the file.\n");
  // More than the stream's buffer of 1 MB, cut after 280 lines.
  ASSERT_TRUE(write_picture(path, pattern8(1024, 300), false));
  imginfo* h = openimg(path.c_str());
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(truncate(path.c_str(), 2048 + 4096 * 280 + 6), 0);
  std::vector<unsigned int> line(1024);
  for (int y = 0; y < 280; ++y) ASSERT_EQ(readline(h, line.data()), 0) << y;
  EXPECT_EQ(readline(h, line.data()), 1);
  EXPECT_EQ(closeimg(h), 0);
}

TEST(CineonDriver, FailedWritesAndAllocations) {
  CinSession s;
  const std::string path = s.dir / "limit";
  {
    // Room for the headers and part of the lines.
    FileSizeLimit limit(2048 + 640 * 4 * 2);
    EXPECT_FALSE(write_picture(path, pattern8(640, 8), false));
  }
  EXPECT_TRUE(s.capture.has("ERROR: Failed to close file [" + path + "] format [cin]\n") ||
              s.capture.has("ERROR: Failed to write line 2 to [" + path + "] format [cin]\n"));
  EXPECT_EQ(createimg(path.c_str(), 40000, 30000, 16), nullptr);
  EXPECT_TRUE(s.capture.has("Cineon: Image of 40000x30000 is too large for a Cineon file.\n"));
  ASSERT_TRUE(write_picture(path, pattern8(4, 4), false));
  for (int grants = 2; grants < 6; ++grants) {
    imginfo* h;
    {
      FailingHeap heap(grants);
      h = openimg(path.c_str());
    }
    // The record, the line of cells and three planes: any missing fails.
    EXPECT_EQ(h, nullptr) << grants;
  }
}

TEST(CineonDriver, CellKernelsGiveTheSameBytesOnBothCopies) {
  CinSession s;
  const std::string path = s.dir / "simd";
  // An odd width leaves a tail after every vector step.
  const Picture p16 = pattern16(333, 3), p8 = pattern8(333, 3);
  const auto both = run_on_both_simd_paths([&] {
    std::string bytes;
    Picture back;
    EXPECT_TRUE(write_picture(path, p16, true));
    bytes += read_text(path).substr(2048);
    EXPECT_TRUE(read_picture(path, back, true));
    for (uint16_t v : back.samples) bytes += std::string{char(v), char(v >> 8)};
    EXPECT_TRUE(write_picture(path, p8, false));
    bytes += read_text(path).substr(2048);
    EXPECT_TRUE(read_picture(path, back, false));
    for (uint16_t v : back.samples) bytes += char(v);
    return bytes;
  });
  EXPECT_EQ(both.first.size(), size_t(333) * 3 * (4 + 8 + 4 + 4));
  EXPECT_TRUE(both.first == both.second);
}
