#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>

#include "driver_files.h"
#include "imgio_symbolics.h"

namespace {

// Bits written most significant first into 16-bit little-endian words.
Bytes code_of(const std::string& bits) {
  std::string padded = bits;
  while (padded.size() % 16) padded += '0';
  Bytes b;
  for (size_t i = 0; i < padded.size(); i += 16) le16(b, unsigned(std::stoul(padded.substr(i, 16), nullptr, 2)));
  return b;
}

std::string byte_bits(unsigned v) {
  std::string s;
  for (int i = 7; i >= 0; --i) s += (v >> i & 1) ? '1' : '0';
  return s;
}

// 32-bit values of the dump: high word first, each little-endian.
void put32(Bytes& b, uint32_t v) {
  le16(b, v >> 16);
  le16(b, v & 0xFFFF);
}

Bytes array_block(int width, int height, const Bytes& code, int element_bits = 16) {
  Bytes b;
  put32(b, uint32_t(28 + code.size()));
  put32(b, 1);
  put32(b, uint32_t(element_bits));
  put32(b, 1);
  put32(b, uint32_t((16 + code.size()) / 2));
  put32(b, 8);
  put32(b, uint32_t(width));
  put32(b, uint32_t(height));
  b.insert(b.end(), code.begin(), code.end());
  return b;
}

Bytes other_block(int kind, int length) {
  Bytes b;
  put32(b, uint32_t(length));
  put32(b, uint32_t(kind));
  b.resize(b.size() + (length > 4 ? length - 4 : 0), 0);
  return b;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

Bytes constant_code(int count, unsigned value) {
  Bytes values(count, uint8_t(value)), out((9 * count + 15) / 16 * 2);
  out.resize(sym_encode_values(values.data(), values.size(), out.data()));
  return out;
}

}  // namespace

TEST(Symbolics, ValueCodeOfTheWriter) {
  // A constant separation: a literal, then 0 10 for every further value.
  const Bytes five(5, 5);
  Bytes out(8);
  EXPECT_EQ(sym_encode_values(five.data(), 5, out.data()), 4u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), code_of("1" + byte_bits(5) + "010010010010"));
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{0xA4, 0x82, 0x00, 0x90}));
  // Steps of 1..4 either way are deltas, bigger ones literals.
  const Bytes steps{100, 101, 105, 104, 100, 95, 95};
  out.assign(16, 0);
  const size_t size = sym_encode_values(steps.data(), steps.size(), out.data());
  const std::string bits = "1" + byte_bits(100) + "00000" + "00011" + "00100" + "00111" + "1" + byte_bits(95) + "010";
  EXPECT_EQ(Bytes(out.begin(), out.begin() + size), code_of(bits));
  Bytes back(steps.size());
  int reference = 0;
  size_t stored = 0;
  EXPECT_EQ(sym_decode_values(out.data(), size, back.data(), back.size(), &reference, &stored), SYM_DECODE_OK);
  EXPECT_EQ(back, steps);
  EXPECT_EQ(reference, 95);
}

TEST(Symbolics, RepeatsNestAndStopAtTheValuesLeft) {
  // 7, then a repeat of 2 * 256 + 3 = 515 copies of the reference, then
  // a repeat of 4 of 7 - 2 - 1 = 4 (0 01 10).
  const std::string repeat = "01110";
  const std::string bits = "1" + byte_bits(7) + repeat + "1" + byte_bits(2) + repeat + "1" + byte_bits(3) + "010" +
                           repeat + "1" + byte_bits(4) + "00110";
  const Bytes code = code_of(bits);
  // Room for exactly the values coded: the zero bits that fill the last
  // word would decode as more deltas.
  Bytes out(520, 99);
  int reference = 0;
  size_t stored = 0;
  EXPECT_EQ(sym_decode_values(code.data(), code.size(), out.data(), out.size(), &reference, &stored), SYM_DECODE_OK);
  EXPECT_EQ(stored, 520u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 516), Bytes(516, 7));
  EXPECT_EQ(Bytes(out.begin() + 516, out.begin() + 520), Bytes(4, 4));
  EXPECT_EQ(reference, 4);
  // Room for 100 values only: the repeat stores what is left.
  Bytes small(100, 0);
  reference = 0;
  EXPECT_EQ(sym_decode_values(code.data(), code.size(), small.data(), small.size(), &reference, &stored), SYM_DECODE_OK);
  EXPECT_EQ(stored, 100u);
  EXPECT_EQ(small, Bytes(100, 7));
  // Repeats nested past any picture saturate instead of overflowing.
  std::string deep = "1" + byte_bits(1);
  for (int i = 0; i < 12; ++i) deep += repeat + "1" + byte_bits(255);
  deep += repeat + "1" + byte_bits(255) + "010";
  const Bytes deep_code = code_of(deep);
  Bytes many(1000);
  EXPECT_EQ(sym_decode_values(deep_code.data(), deep_code.size(), many.data(), many.size(), &reference, &stored),
            SYM_DECODE_OK);
  EXPECT_EQ(stored, 1000u);
  // The reference comes in from the caller: a delta first.
  const Bytes delta = code_of("00001");
  reference = 50;
  EXPECT_EQ(sym_decode_values(delta.data(), delta.size(), out.data(), 1, &reference, &stored), SYM_DECODE_OK);
  EXPECT_EQ(out[0], 52);
  // Bad repeats stop the decoding with what was stored.
  const struct {
    std::string bits;
    int status;
  } bad[] = {{"1" + byte_bits(3) + "01100", SYM_DECODE_BAD_REPEAT},
             {"1" + byte_bits(3) + repeat + "0", SYM_DECODE_NO_CONSTANT},
             {"1" + byte_bits(3) + repeat + "1" + byte_bits(2) + "01111", SYM_DECODE_BAD_NESTING}};
  for (const auto& c : bad) {
    const Bytes b = code_of(c.bits);
    EXPECT_EQ(sym_decode_values(b.data(), b.size(), out.data(), 10, &reference, &stored), c.status) << c.bits;
    EXPECT_EQ(stored, 1u);
    EXPECT_EQ(out[0], 3);
  }
}

TEST(Symbolics, OwnDumpAndDescriptor) {
  DriverSession s("symbolics");
  ASSERT_TRUE(write_picture(s / "take.dump", 3, 2, false));
  const Bytes b = file_bytes(s / "take.dump");
  // The symbol ":BINARY-UNIQUE-ID": 17 characters padded to 18.
  Bytes first;
  put32(first, 34);
  put32(first, 2);
  put32(first, 8);
  put32(first, 1);
  put32(first, 17);
  for (char c : std::string(":BINARY-UNIQUE-ID")) first.push_back(uint8_t(c));
  first.push_back(0);
  ASSERT_GE(b.size(), first.size() + 20);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + first.size()), first);
  const std::string id = "TESTHOST:9/9/101 01:46:40 #235";
  EXPECT_EQ(std::string(b.begin() + 58, b.begin() + 58 + id.size()), id);
  EXPECT_EQ(b[38 + 6] | b[38 + 7] << 8, 3);  // a string block
  EXPECT_EQ(read_text(s / "take.image"),
            "(color:make-image 'color:32b-image\n"
            "                  :name '\"take\"\n"
            "                  :properties '(:author \"tester\"\n"
            "                                :date \"9/9/101 01:46:40\")\n"
            "                  :width 3\n"
            "                  :height 2\n"
            "                  :rle '(color:rle-array-1 color:rld-array-1)\n"
            "                  :binary-info '(:rle :rld :red :green :blue :alpha))\n");
  // The descriptor replaces the extension of the last name component only.
  imgextoverride("symbolics", "");
  setimageformat("symbolics");
  mkdir((s / "set.v2").c_str(), 0700);
  ASSERT_TRUE(write_picture(s / "set.v2/take", 3, 2, false));
  EXPECT_FALSE(read_text(s / "set.v2/take.image").empty());
  imgextoverride("symbolics", "dump");
  setimageformat("symbolics");
  // Nothing reaches the files before the close.
  imginfo* h = createimg((s / "late").c_str(), 2, 2, 8);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(file_bytes(s / "late.dump").empty());
  std::vector<unsigned> line(2, 0x01020304u);
  EXPECT_EQ(writeline(h, line.data()), 0);
  EXPECT_EQ(writeline(h, line.data()), 0);
  EXPECT_EQ(closeimg(h), 0);
  EXPECT_FALSE(file_bytes(s / "late.dump").empty());
}

TEST(Symbolics, ForeignDumpsBlocksAndSeparations) {
  DriverSession s("symbolics");
  // A string and a paint block to skip, a block of kind 7 whose header is
  // just its 8 bytes, then five arrays of 2 x 2: red counts up from the top
  // row, green starts with a delta from red's last value (4 - 1 - 1), the
  // fifth is dropped.
  const Bytes red = code_of("1" + byte_bits(1) + "00000" + "00000" + "00000");
  const Bytes green = code_of("00101" "010010010");
  const Bytes file = cat({other_block(3, 20), other_block(4, 4), other_block(7, 0), array_block(2, 2, red),
                          array_block(2, 2, green), array_block(2, 2, constant_code(4, 30)),
                          array_block(2, 2, constant_code(4, 40)), array_block(2, 2, constant_code(4, 50))});
  write_bytes(s / "five.dump", file);
  imginfo* h = openimg((s / "five").c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->width, 2);
  EXPECT_EQ(h->height, 2);
  int warnings = 0;
  for (const auto& m : s.capture.messages)
    warnings += m.text == "SYMBOLICS DECODE WARNING: Seems to be more than 4 seperations in this file!\n";
  EXPECT_EQ(warnings, 1);
  std::vector<unsigned> line(2);
  const auto pixel = [](unsigned r, unsigned g) { return r | g << 8 | 30u << 16 | 40u << 24; };
  // Line 0 is the bottom row: the separation's second row.
  ASSERT_EQ(readline(h, line.data()), 0);
  EXPECT_EQ(line, (std::vector<unsigned>{pixel(3, 2), pixel(4, 2)}));
  ASSERT_EQ(readline(h, line.data()), 0);
  EXPECT_EQ(line, (std::vector<unsigned>{pixel(1, 2), pixel(2, 2)}));
  EXPECT_EQ(closeimg(h), 0);

  const Bytes whole = array_block(2, 2, red);
  // Refusals: a separation of another size, bits other than 16 and 8, a
  // code longer than the file, a block skipped past the end.
  const struct {
    Bytes file;
    const char* message;
  } bad[] = {
      {cat({array_block(2, 2, red), array_block(3, 2, red)}), "SYMBOLICS DECODE ERROR: image array of 3x2 refused.\n"},
      {array_block(2, 2, red, 8), "SYMBOLICS DECODE ERROR: bits-per-element in image array expected to be 16, not 8\n"},
      {array_block(0, 2, red), "SYMBOLICS DECODE ERROR: image array of 0x2 refused.\n"},
      {Bytes(whole.begin(), whole.end() - 2),
       "SYMBOLICS DECODE ERROR: image array longer than the file.\n"},
      {cat({other_block(2, 4), Bytes{0, 0, 40, 0, 0, 0, 2, 0}}), "SYMBOLICS DECODE ERROR: Skip of symbol block failed.\n"},
      {cat({other_block(5, 4), Bytes{0, 0, 2, 0, 0, 0, 5, 0}}), "SYMBOLICS DECODE ERROR: Skip of integer data block failed.\n"},
  };
  for (const auto& c : bad) {
    write_bytes(s / "bad.dump", c.file);
    s.capture.messages.clear();
    EXPECT_EQ(openimg((s / "bad").c_str()), nullptr) << c.message;
    EXPECT_TRUE(s.capture.has(c.message)) << c.message;
  }
  Bytes pixel_bits = array_block(1, 1, red);
  pixel_bits[20] = 16;
  pixel_bits[21] = 0;
  pixel_bits[22] = 0;
  pixel_bits[23] = 0;
  write_bytes(s / "bad.dump", pixel_bits);
  s.capture.messages.clear();
  EXPECT_EQ(openimg((s / "bad").c_str()), nullptr);
  EXPECT_TRUE(s.capture.has("SYMBOLICS DECODE ERROR: bits-per-pixel expected to be 8, not 1048576\n"));
  EXPECT_TRUE(s.capture.has("SYMBOLICS DECODE ERROR: Array block decode failed!\n"));
  // A bad repeat keeps what was decoded, with the warning.
  write_bytes(s / "rep.dump", array_block(2, 1, code_of("1" + byte_bits(9) + "01100")));
  s.capture.messages.clear();
  h = openimg((s / "rep").c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(s.capture.has("SYMBOLICS DECODE ERROR: Repeat op-code with invalid second part.\n"));
  EXPECT_TRUE(s.capture.has("SYMBOLICS DECODE WARNING: Decode_stream() notified a problem.\n"));
  ASSERT_EQ(readline(h, line.data()), 0);
  EXPECT_EQ(line, (std::vector<unsigned>{9, 0}));
  EXPECT_EQ(closeimg(h), 0);
  // A file without image arrays has no picture.
  write_bytes(s / "none.dump", other_block(3, 8));
  EXPECT_EQ(openimg((s / "none").c_str()), nullptr);
}
