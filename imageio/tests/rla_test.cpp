#include <gtest/gtest.h>

#include "driver_files.h"
#include "imgio_rla.h"
#include "imgio_utils.h"

namespace {

std::string text_at(const Bytes& b, size_t at, size_t size) {
  std::string s(b.begin() + at, b.begin() + at + size);
  return s.substr(0, s.find('\0'));
}
unsigned be16_at(const Bytes& b, size_t at) { return b[at] << 8 | b[at + 1]; }
uint32_t be32_at(const Bytes& b, size_t at) { return uint32_t(be16_at(b, at)) << 16 | be16_at(b, at + 2); }

// A hand-built RLA file: window and active window, bits, and per stored
// active row its four channel records (null rows are not stored).
Bytes rla_file(int wl, int wr, int wb, int wt, int al, int ar, int ab, int at, int bits,
               const std::vector<std::vector<Bytes>>& rows, int colours = 3, int mattes = 1) {
  Bytes b(740, 0);
  const int fields[] = {wl, wr, wb, wt, al, ar, ab, at, 0, 0, colours, mattes, 0, 0xFFFE};
  for (int i = 0; i < 14; ++i) put_be16(b, 2 * i, unsigned(fields[i]) & 0xFFFF);
  put_be16(b, 658, bits);
  uint32_t offset = uint32_t(740 + 4 * rows.size());
  Bytes data;
  for (const auto& row : rows) {
    be32(b, row.empty() ? 0 : offset + uint32_t(data.size()));
    for (const Bytes& record : row) {
      be16(data, unsigned(record.size()));
      data.insert(data.end(), record.begin(), record.end());
    }
  }
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

// A record of literal bytes.
Bytes literal(const Bytes& values) {
  Bytes b;
  b.push_back(uint8_t(256 - values.size()));
  for (uint8_t v : values) b.push_back(v);
  return b;
}

unsigned rgba(unsigned r, unsigned g, unsigned b, unsigned a) { return r | g << 8 | b << 16 | a << 24; }

}  // namespace

TEST(Rla, CodesRunsAndLiterals) {
  Bytes equal(200, 9), out(300);
  EXPECT_EQ(rla_encode(equal.data(), 200, out.data()), 4u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{126, 9, 72, 9}));
  // Three equal bytes end a literal; two equal at the end are only
  // looked for from a literal's start.
  const Bytes mixed{1, 2, 3, 3, 3, 4, 5, 5};
  const size_t size = rla_encode(mixed.data(), 8, out.data());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + size), (Bytes{254, 1, 2, 2, 3, 253, 4, 5, 5}));
  Bytes back(8);
  EXPECT_EQ(rla_decode(out.data(), size, back.data(), 8), 8);
  EXPECT_EQ(back, mixed);
  const Bytes pair{7, 7};
  EXPECT_EQ(rla_encode(pair.data(), 2, out.data()), 2u);
  EXPECT_EQ(out[0], 1);
  // Code that runs past its output or its own end fails; short code
  // leaves zeros.
  EXPECT_EQ(rla_decode(out.data(), size, back.data(), 7), -1);
  const Bytes cut{250, 1, 2};
  EXPECT_EQ(rla_decode(cut.data(), cut.size(), back.data(), 8), -1);
  const Bytes run_without_value{3};
  EXPECT_EQ(rla_decode(run_without_value.data(), 1, back.data(), 8), -1);
  const Bytes short_code{1, 7};
  EXPECT_EQ(rla_decode(short_code.data(), 2, back.data(), 8), 2);
  EXPECT_EQ(back, (Bytes{7, 7, 0, 0, 0, 0, 0, 0}));
}

TEST(Rla, OwnFilesCarryTheirHeaderAndOffsetTable) {
  DriverSession s("rla");
  setkeyval("IMGIO_USER", "a-user-name-longer-than-the-field-holds");
  setframenumber(42);
  ASSERT_TRUE(write_picture(s / "a_rather_long_name_of_a_picture.rla", 7, 3, false));
  const Bytes b = file_bytes(s / "a_rather_long_name_of_a_picture.rla");
  const unsigned numbers[] = {0, 6, 0, 2, 0, 6, 0, 2, 42, 0, 3, 1, 0, 0xFFFE};
  for (int i = 0; i < 14; ++i) EXPECT_EQ(be16_at(b, 2 * i), numbers[i]) << i;
  EXPECT_EQ(text_at(b, 28, 16), " 1.7000");
  EXPECT_EQ(text_at(b, 44, 24), " 0.6250  0.3400");
  EXPECT_EQ(text_at(b, 68, 24), " 0.2800  0.5950");
  EXPECT_EQ(text_at(b, 92, 24), " 0.1550  0.0700");
  EXPECT_EQ(text_at(b, 116, 24), " 0.2830  0.2980");
  EXPECT_EQ(text_at(b, 144, 128), "a_rather_long_name_of_a_pictu");
  EXPECT_EQ(text_at(b, 272, 128), "Written by imgio");
  EXPECT_EQ(text_at(b, 400, 64), "imgio library");
  EXPECT_EQ(text_at(b, 464, 32), "testhost");
  EXPECT_EQ(text_at(b, 496, 32), "a-user-name-longer-than-the-fie");
  EXPECT_EQ(text_at(b, 528, 20), "Sep  9 01:46 2001");
  EXPECT_EQ(text_at(b, 548, 24), "user defined");
  EXPECT_EQ(text_at(b, 572, 8), "2.33");
  EXPECT_EQ(text_at(b, 580, 32), "rgb");
  EXPECT_EQ(text_at(b, 626, 32), "unknown");
  EXPECT_EQ(be16_at(b, 658), 8u);
  EXPECT_EQ(be16_at(b, 662), 8u);
  EXPECT_EQ(text_at(b, 668, 32), "unknown");
  // One offset a line, bottom line first, each at its first length word:
  // the lines follow one another.
  uint32_t expected = 740 + 3 * 4;
  for (int y = 0; y < 3; ++y) {
    EXPECT_EQ(be32_at(b, 740 + 4 * y), expected) << y;
    for (int c = 0; c < 4; ++c) expected += 2 + be16_at(b, expected);
  }
  EXPECT_EQ(expected, b.size());

  // Without the setting the user is "daemon"; the report shows the header.
  deletekeyval("IMGIO_USER");
  ASSERT_TRUE(write_picture(s / "d.rla", 2000, 1, true));
  const Bytes d = file_bytes(s / "d.rla");
  EXPECT_EQ(text_at(d, 496, 32), "daemon");
  EXPECT_EQ(text_at(d, 572, 8), "2000.00");
  EXPECT_EQ(be16_at(d, 658), 16u);
  imginfo* h = openimg((s / "d").c_str());
  ASSERT_NE(h, nullptr);
  s.capture.messages.clear();
  EXPECT_EQ(showheader(h), 0);
  for (const char* line :
       {"\nRLA Specific Image Information.\n", "===============================\n",
        "  Active window: 0 -> 1999 x 0 -> 0\n", "           Bits: 16\n", "           User: daemon\n",
        "        Machine: testhost\n", "     Created on: Sep  9 01:46 2001\n", "     Created by: imgio library\n",
        "   Aspect ratio: 2000.00 (user defined)\n", "          Gamma:  1.7000\n",
        "    White point:  0.2830  0.2980\n", "    Red primary:  0.6250  0.3400\n",
        "  Green primary:  0.2800  0.5950\n", "   Blue primary:  0.1550  0.0700\n"})
    EXPECT_TRUE(s.capture.has(line)) << line;
  EXPECT_EQ(closeimg(h), 0);
}

TEST(Rla, RatiosOfAThousandAndMoreAreCutToTheirField) {
  DriverSession s("rla");
  ASSERT_TRUE(write_picture(s / "wide.rla", 20000, 1, false));
  const Bytes b = file_bytes(s / "wide.rla");
  EXPECT_EQ(text_at(b, 572, 8), "20000.0");
  EXPECT_EQ(b[579], 0);
  EXPECT_EQ(text_at(b, 580, 32), "rgb");
}

TEST(Rla, WindowsTheActiveWindowAndOldFiles) {
  DriverSession s("rla");
  // A 6 x 4 window from (10, 20) with the active window 12..13 x 21..22;
  // row 22 is not stored.
  const std::vector<Bytes> row21{literal({1, 2}), literal({3, 4}), literal({5, 6}), literal({7, 8})};
  write_bytes(s / "act.rla", rla_file(10, 15, 20, 23, 12, 13, 21, 22, 0, {row21, {}}));
  imginfo* h = openimg((s / "act").c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->width, 6);
  EXPECT_EQ(h->height, 4);
  std::vector<unsigned> line(6);
  std::vector<unsigned short> line16(24);
  const std::vector<unsigned> zeros(6, 0);
  ASSERT_EQ(readline(h, line.data()), 0);
  EXPECT_EQ(line, zeros);
  ASSERT_EQ(readline(h, line.data()), 0);
  EXPECT_EQ(line, (std::vector<unsigned>{0, 0, rgba(1, 3, 5, 7), rgba(2, 4, 6, 8), 0, 0}));
  ASSERT_EQ(readline(h, line.data()), 0);
  EXPECT_EQ(line, zeros);
  ASSERT_EQ(readline(h, line.data()), 0);
  EXPECT_EQ(line, zeros);
  s.capture.messages.clear();
  EXPECT_EQ(showheader(h), 0);
  EXPECT_TRUE(s.capture.has("  Active window: 12 -> 13 x 21 -> 22\n"));
  EXPECT_TRUE(s.capture.has("           Bits: 8 (old format rla file)\n"));
  EXPECT_EQ(closeimg(h), 0);
  // The 16-bit line of an 8-bit file carries v << 8 at the same places.
  h = openimg((s / "act").c_str());
  ASSERT_EQ(readline16(h, line16.data()), 0);
  ASSERT_EQ(readline16(h, line16.data()), 0);
  EXPECT_EQ(std::vector<unsigned short>(line16.begin() + 8, line16.begin() + 16),
            (std::vector<unsigned short>{256, 768, 1280, 1792, 512, 1024, 1536, 2048}));
  EXPECT_EQ(line16[0], 0);
  EXPECT_EQ(closeimg(h), 0);

  // 16-bit records: high bytes, then low bytes; the 8-bit line keeps the
  // high ones.
  const std::vector<Bytes> deep{literal({1, 2, 3, 4}), literal({5, 6, 7, 8}), literal({9, 10, 11, 12}),
                                literal({13, 14, 15, 16})};
  write_bytes(s / "deep.rla", rla_file(0, 1, 0, 0, 0, 1, 0, 0, 16, {deep}));
  h = openimg((s / "deep").c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->bits16, 1);
  ASSERT_EQ(readline16(h, line16.data()), 0);
  EXPECT_EQ(std::vector<unsigned short>(line16.begin(), line16.begin() + 8),
            (std::vector<unsigned short>{0x0103, 0x0507, 0x090B, 0x0D0F, 0x0204, 0x0608, 0x0A0C, 0x0E10}));
  EXPECT_EQ(closeimg(h), 0);
  h = openimg((s / "deep").c_str());
  ASSERT_EQ(readline(h, line.data()), 0);
  EXPECT_EQ(line[0], rgba(1, 5, 9, 13));
  EXPECT_EQ(closeimg(h), 0);
}

TEST(Rla, RefusesWhatItCannotPlaceAndBadRecords) {
  DriverSession s("rla");
  const std::vector<Bytes> row{literal({1}), literal({2}), literal({3}), literal({4})};
  struct Case {
    Bytes file;
    const char* why;
  } refusals[] = {
      {rla_file(0, 0, 0, 0, 0, 1, 0, 0, 8, {row}), "active window outside the window"},
      {rla_file(0, 3, 0, 0, 2, 1, 0, 0, 8, {row}), "active window outside the window"},
      {rla_file(0, 0, 0, 0, 0, 0, 0, 0, 8, {row}, 1, 1), "channels other than 3 colours and 1 matte"},
      {rla_file(0, 0, 0, 0, 0, 0, 0, 0, 8, {row}, 3, 0), "channels other than 3 colours and 1 matte"},
      {rla_file(0, 0, 0, 0, 0, 0, 0, 0, 12, {row}), "bits per channel not 8 or 16"},
      {rla_file(0, 0, 5, 2, 0, 0, 5, 2, 8, {row}), "window size out of range"},
      {rla_file(0, 0, 0, 999, 0, 0, 0, 999, 8, {row}), "offset table past the end of the file"},
  };
  for (const Case& c : refusals) {
    write_bytes(s / "bad.rla", c.file);
    s.capture.messages.clear();
    EXPECT_EQ(openimg((s / "bad").c_str()), nullptr) << c.why;
    ASSERT_FALSE(s.capture.messages.empty());
    const std::string& first = s.capture.messages[0].text;
    EXPECT_NE(first.find(std::string("refused: ") + c.why + ".\n"), std::string::npos) << first;
  }
  // Records longer than the coding buffer, or expanding past the channel,
  // fail their line.
  const Bytes long_record(50, 0);
  for (const Bytes& bad : {long_record, Bytes{5, 1}, Bytes{253, 1, 2, 3}}) {
    write_bytes(s / "rec.rla", rla_file(0, 1, 0, 0, 0, 1, 0, 0, 8, {{bad, literal({1, 2}), literal({1, 2}), literal({1, 2})}}));
    imginfo* h = openimg((s / "rec").c_str());
    ASSERT_NE(h, nullptr);
    std::vector<unsigned> line(2);
    EXPECT_EQ(readline(h, line.data()), 1);
    EXPECT_EQ(closeimg(h), 0);
  }
  // A table entry past the end of the file fails its line.
  Bytes cut = rla_file(0, 1, 0, 0, 0, 1, 0, 0, 8, {row});
  cut.resize(746);
  write_bytes(s / "cut.rla", cut);
  imginfo* h = openimg((s / "cut").c_str());
  ASSERT_NE(h, nullptr);
  std::vector<unsigned> line(2);
  EXPECT_EQ(readline(h, line.data()), 1);
  EXPECT_EQ(closeimg(h), 0);
}

TEST(Rla, WidthsBeyondTheWindowOrRecordFieldsAreRefusedAtCreate) {
  DriverSession s("rla");
  EXPECT_EQ(createimg((s / "w").c_str(), 32769, 1, 8), nullptr);
  ASSERT_FALSE(s.capture.messages.empty());
  EXPECT_NE(s.capture.messages[0].text.find("refused: size 32769x1 beyond the window or record fields"),
            std::string::npos);
  EXPECT_EQ(createimg((s / "w").c_str(), 1, 32769, 8), nullptr);
  // 16-bit records of 32512 values could need more than 65535 bytes.
  EXPECT_EQ(createimg((s / "w").c_str(), 32512, 1, 16), nullptr);
  imginfo* h = createimg((s / "w").c_str(), 32256, 1, 16);
  ASSERT_NE(h, nullptr);
  std::vector<unsigned short> line(4 * 32256);
  for (size_t i = 0; i < line.size(); ++i) line[i] = static_cast<unsigned short>(i * 2654435761u >> 7);
  EXPECT_EQ(writeline16(h, line.data()), 0);
  EXPECT_EQ(closeimg(h), 0);
  Picture p;
  ASSERT_TRUE(read_picture(s / "w.rla", &p, true));
  EXPECT_EQ(p.lines16, line);
}
