#include <gtest/gtest.h>

#include "driver_files.h"
#include "failing_heap.h"
#include "imgio_pixar.h"
#include "imgio_utils.h"

namespace {

// A Pixar file built by hand: each tile's data as whole blocks, the tiles
// placed one after another from `first`.
struct PixarFile {
  int width, height, tile_width, tile_height, mask, storage, block;
  std::vector<std::vector<Bytes>> tiles;  // per tile, its blocks
  int first = 1024;
  Bytes build() const {
    Bytes b(512, 0);
    put_le32(b, 0, 0x0000E880);
    put_le16(b, 416, height);
    put_le16(b, 418, width);
    put_le16(b, 420, tile_height);
    put_le16(b, 422, tile_width);
    put_le16(b, 424, mask);
    put_le16(b, 426, storage);
    put_le16(b, 428, block);
    uint32_t address = first;
    for (const auto& blocks : tiles) {
      le32(b, address);
      le32(b, uint32_t(blocks.size() * block));
      address += uint32_t(blocks.size() * block);
    }
    b.resize(first, 0);
    for (const auto& blocks : tiles)
      for (Bytes one : blocks) {
        one.resize(block, 0);
        b.insert(b.end(), one.begin(), one.end());
      }
    return b;
  }
};

// A packet word and its body.
Bytes packet(int kind, int count, const Bytes& body) {
  Bytes b;
  le16(b, unsigned(kind) << 12 | unsigned(count - 1));
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes b;
  for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
  return b;
}

unsigned rgba(unsigned r, unsigned g, unsigned b, unsigned a) { return r | g << 8 | b << 16 | a << 24; }

std::vector<unsigned> read8(imginfo* h) {
  std::vector<unsigned> line(h->width);
  EXPECT_EQ(readline(h, line.data()), 0);
  return line;
}

std::vector<unsigned short> read16(imginfo* h) {
  std::vector<unsigned short> line(4 * size_t(h->width));
  EXPECT_EQ(readline16(h, line.data()), 0);
  return line;
}

}  // namespace

TEST(Pixar, OwnFilesHaveTheirLayoutAndPackets) {
  DriverSession s("pixar");
  const int width = 300;
  imginfo* h = createimg((s / "own").c_str(), width, 2, 8);
  ASSERT_NE(h, nullptr);
  std::vector<unsigned> equal(width, rgba(1, 2, 3, 4)), different(width);
  for (int x = 0; x < width; ++x) different[x] = rgba(x & 255, x >> 8, 7, 9);
  ASSERT_EQ(writeline(h, equal.data()), 0);
  ASSERT_EQ(writeline(h, different.data()), 0);
  ASSERT_EQ(closeimg(h), 0);
  const Bytes b = file_bytes(s / "own.pxr");
  ASSERT_EQ(b.size(), 16384u);  // the header block and one data block
  // Header.
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 4), (Bytes{0x80, 0xE8, 0, 0}));
  const std::string label(b.begin() + 6, b.begin() + 52);
  EXPECT_EQ(label, std::string("Written by imgio on Sun Sep  9 01:46:40 2001\n") + '\0');
  EXPECT_EQ(b[52], ' ');
  EXPECT_EQ(b[250], ' ');
  const unsigned fields[] = {2, 300, 2, 300, 15, 0, 8192, 1, 0, 0};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(unsigned(b[416 + 2 * i] | b[417 + 2 * i] << 8), fields[i]) << i;
  for (int i = 452; i < 479; ++i) EXPECT_EQ(b[i], ' ') << i;
  // The one tile: its data at 8192, its length the bytes of the packets.
  const unsigned runs = 2 + 3 * 5, dumps = 3 * 2 + 300 * 4;
  EXPECT_EQ(Bytes(b.begin() + 512, b.begin() + 520), (Bytes{0, 0x20, 0, 0, uint8_t((runs + dumps) & 255),
                                                           uint8_t((runs + dumps) >> 8), 0, 0}));
  for (int i = 520; i < 8192; ++i) ASSERT_EQ(b[i], 0) << i;
  // 300 equal pixels: one full-run packet of three runs, 127, 127 and 46.
  EXPECT_EQ(Bytes(b.begin() + 8192, b.begin() + 8192 + runs),
            (Bytes{0x02, 0x20, 126, 1, 2, 3, 4, 126, 1, 2, 3, 4, 45, 1, 2, 3, 4}));
  // Every pixel different: full dumps of 127, 127 and 46.
  size_t at = 8192 + runs;
  for (int length : {127, 127, 46}) {
    EXPECT_EQ(b[at] | b[at + 1] << 8, 1 << 12 | (length - 1));
    at += 2 + 4 * length;
  }
  EXPECT_EQ(b[at], 0);

  // The header report shows the mask as stored.
  h = openimg((s / "own").c_str());
  ASSERT_NE(h, nullptr);
  s.capture.messages.clear();
  EXPECT_EQ(showheader(h), 0);
  EXPECT_TRUE(s.capture.has("\nPIXAR Specific Image Information.\n"));
  EXPECT_TRUE(s.capture.has("=================================\n"));
  EXPECT_TRUE(s.capture.has("     Label: Written by imgio on Sun Sep  9 01:46:40 2001\n\n"));
  EXPECT_TRUE(s.capture.has(" Tile size: 300 x 2\n"));
  EXPECT_TRUE(s.capture.has("     Tiles: 1 x 1 = 1\n"));
  EXPECT_TRUE(s.capture.has("Block size: 8192 bytes.\n"));
  EXPECT_TRUE(s.capture.has("  Channels: 4 (0x0f)\n"));
  EXPECT_TRUE(s.capture.has("Tile 1 ...\n"));
  EXPECT_TRUE(s.capture.has("Disk address: 8192\n"));
  EXPECT_TRUE(s.capture.has("      Length: " + std::to_string(runs + dumps) + " bytes.\n"));
  EXPECT_EQ(read8(h), equal);
  EXPECT_EQ(read8(h), different);
  EXPECT_EQ(closeimg(h), 0);
}

TEST(Pixar, LongRunGroupsAreSplitToFitTheirBlock) {
  // Pairs of equal pixels: 2000 runs of 2, more than one block holds as one
  // group (5k + 3 bytes).
  DriverSession s("pixar");
  const int width = 4000;
  std::vector<unsigned> line(width);
  for (int x = 0; x < width; ++x) line[x] = rgba((x / 2) & 255, (x / 512) & 255, 5, 6);
  imginfo* h = createimg((s / "pairs").c_str(), width, 3, 8);
  ASSERT_NE(h, nullptr);
  for (int y = 0; y < 3; ++y) ASSERT_EQ(writeline(h, line.data()), 0);
  ASSERT_EQ(closeimg(h), 0);
  const Bytes b = file_bytes(s / "pairs.pxr");
  const unsigned first = b[8192] | b[8193] << 8;
  EXPECT_EQ(first >> 12, 2u);
  EXPECT_EQ((first & 0xFFF) + 1, 1637u);
  h = openimg((s / "pairs").c_str());
  ASSERT_NE(h, nullptr);
  for (int y = 0; y < 3; ++y) EXPECT_EQ(read8(h), line) << y;
  EXPECT_EQ(closeimg(h), 0);
}

TEST(Pixar, ForeignChannelSetsTilesAndPacketKinds) {
  DriverSession s("pixar");
  // Red only, plain storage across blocks of 3 bytes: grey, full alpha.
  PixarFile red{4, 1, 4, 1, 8, 2, 3, {{{10, 20, 30}, {40}}}};
  write_bytes(s / "red.pxr", red.build());
  imginfo* h = openimg((s / "red").c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(read8(h), (std::vector<unsigned>{rgba(10, 10, 10, 255), rgba(20, 20, 20, 255), rgba(30, 30, 30, 255),
                                              rgba(40, 40, 40, 255)}));
  EXPECT_EQ(closeimg(h), 0);
  h = openimg((s / "red").c_str());
  const auto deep = read16(h);
  EXPECT_EQ(std::vector<unsigned short>(deep.begin(), deep.begin() + 4),
            (std::vector<unsigned short>{10 * 257, 10 * 257, 10 * 257, 65535}));
  EXPECT_EQ(closeimg(h), 0);

  // RGB (mask 14) in every packet kind; kinds 5-15 are skipped, a 0 word
  // ends the block.
  const Bytes packets = cat({packet(1, 1, {1, 2, 3}), packet(7, 1, {}), packet(2, 1, {1, 4, 5, 6}),
                             packet(3, 1, {7, 8, 9}), packet(4, 1, {0, 10, 11, 12}), Bytes{0, 0, 99, 99}});
  PixarFile rgb{5, 2, 5, 2, 14, 0, 64, {{packets, cat({packet(1, 5, Bytes(15, 200))})}}};
  write_bytes(s / "rgb.pxr", rgb.build());
  h = openimg((s / "rgb").c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(read8(h), (std::vector<unsigned>{rgba(1, 2, 3, 255), rgba(4, 5, 6, 255), rgba(4, 5, 6, 255),
                                              rgba(7, 8, 9, 255), rgba(10, 11, 12, 255)}));
  const auto rgb16 = read16(h);
  EXPECT_EQ(rgb16[0], 200 * 257);
  EXPECT_EQ(rgb16[3], 65535);
  EXPECT_EQ(closeimg(h), 0);

  // RGBA with a shared alpha (kinds 3 and 4).
  PixarFile shared{3, 1, 3, 1, 15, 0, 64, {{cat({packet(3, 1, {50, 1, 2, 3}), packet(4, 1, {60, 1, 4, 5, 6})})}}};
  write_bytes(s / "shared.pxr", shared.build());
  h = openimg((s / "shared").c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(read8(h), (std::vector<unsigned>{rgba(1, 2, 3, 50), rgba(4, 5, 6, 60), rgba(4, 5, 6, 60)}));
  EXPECT_EQ(closeimg(h), 0);

  // Four tiles of 2 x 1 over a 3 x 2 picture: the right tiles are cut.
  const auto grey = [](std::initializer_list<uint8_t> v) { return std::vector<Bytes>{cat({packet(1, int(v.size()), v)})}; };
  PixarFile tiled{3, 2, 2, 1, 8, 0, 16, {grey({1, 2}), grey({3}), grey({4, 5}), grey({6})}};
  write_bytes(s / "tiled.pxr", tiled.build());
  h = openimg((s / "tiled").c_str());
  ASSERT_NE(h, nullptr);
  const auto g = [](unsigned v) { return rgba(v, v, v, 255); };
  EXPECT_EQ(read8(h), (std::vector<unsigned>{g(1), g(2), g(3)}));
  EXPECT_EQ(read8(h), (std::vector<unsigned>{g(4), g(5), g(6)}));
  s.capture.messages.clear();
  EXPECT_EQ(makeseekable(h), 1);
  EXPECT_TRUE(s.capture.has("PIXAR: Sorry, I can only make 1 tile images seekable.\n"));
  EXPECT_EQ(closeimg(h), 0);
}

TEST(Pixar, SeeksOfASingleTileMatchSequentialReads) {
  DriverSession s("pixar");
  // Lines of 6 grey pixels in 8-byte blocks: packets start in mid-block,
  // and the tile sits at 2048, not at the block size.
  std::vector<Bytes> blocks;
  std::vector<std::vector<unsigned>> lines;
  for (int y = 0; y < 5; ++y) {
    const Bytes values = {uint8_t(y), uint8_t(y + 1), uint8_t(y + 2)};
    blocks.push_back(packet(1, 3, values));
    blocks.push_back(cat({packet(2, 1, {2, uint8_t(9 * y)})}));
    std::vector<unsigned> line;
    for (uint8_t v : values) line.push_back(rgba(v, v, v, 255));
    for (int i = 0; i < 3; ++i) line.push_back(rgba(9 * y, 9 * y, 9 * y, 255));
    lines.push_back(line);
  }
  PixarFile file{6, 5, 6, 5, 8, 0, 8, {blocks}, 2048};
  write_bytes(s / "seek.pxr", file.build());
  imginfo* h = openimg((s / "seek").c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(read8(h), lines[0]);
  ASSERT_EQ(makeseekable(h), 0);
  for (int y : {3, 0, 4, 1, 2, 2}) {
    ASSERT_EQ(seekline(h, y), 0);
    EXPECT_EQ(read8(h), lines[y]) << y;
    if (y < 4) {
      EXPECT_EQ(read8(h), lines[y + 1]) << y;
    }
  }
  EXPECT_EQ(closeimg(h), 0);
  // Making the table leaves the tile at its first block, at its disk
  // address (the block size, 8, points into the header). A table that can
  // no longer be made leaves the handle unseekable.
  h = openimg((s / "seek").c_str());
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(makeseekable(h), 0);
  EXPECT_EQ(read8(h), lines[0]);
  EXPECT_EQ(read8(h), lines[1]);
  FailingHeap no_memory(0);
  EXPECT_EQ(makeseekable(h), 1);
  EXPECT_EQ(h->seekable, 0);
  EXPECT_EQ(closeimg(h), 0);
}

TEST(Pixar, RefusesHeadersItCannotRead) {
  DriverSession s("pixar");
  const std::vector<Bytes> good{cat({packet(1, 2, {1, 2})})};
  struct Case {
    PixarFile file;
    const char* why;
  } cases[] = {
      {{2, 1, 2, 1, 8, 0, 1, {good}}, "block size below 2"},
      {{2, 1, 0, 1, 8, 0, 16, {good}}, "tile size below 1"},
      {{2, 1, 2, 0, 8, 0, 16, {good}}, "tile size below 1"},
      {{2, 1, 2, 1, 16, 0, 16, {good}}, "channel mask above 15"},
      {{2, 1, 2, 1, 8, 1, 16, {good}}, "storage kind not 0 or 2"},
      {{0, 1, 2, 1, 8, 0, 16, {good}}, "image size out of range"},
      // 1 x 1 tiles of a 2000 x 2000 picture in a file of a few bytes.
      {{2000, 2000, 1, 1, 8, 0, 16, {good}}, "4000000 tiles of 16 bytes exceed the file"},
  };
  for (const Case& c : cases) {
    write_bytes(s / "bad.pxr", c.file.build());
    s.capture.messages.clear();
    EXPECT_EQ(openimg((s / "bad").c_str()), nullptr) << c.why;
    EXPECT_EQ(s.capture.messages.size() >= 1 ? s.capture.messages[0].text : "", refusal("PIXAR", s / "bad.pxr", c.why));
  }
  // Not a Pixar file, or one cut inside its tile table.
  write_bytes(s / "bad.pxr", Bytes(600, 0));
  EXPECT_EQ(openimg((s / "bad").c_str()), nullptr);
  Bytes cut = PixarFile{2, 1, 2, 1, 8, 0, 16, {good}}.build();
  cut.resize(1030);
  write_bytes(s / "bad.pxr", cut);
  EXPECT_EQ(openimg((s / "bad").c_str()), nullptr);
}

TEST(Pixar, PacketsPastTheirLineOrBlockFailTheLine) {
  DriverSession s("pixar");
  const struct {
    int mask;
    Bytes packet;
  } cases[] = {
      {8, packet(1, 3, {1, 2, 3})},            // a dump of 3 into a line of 2
      {8, packet(2, 1, {2, 7})},               // a run of 3
      {8, packet(2, 2, {0, 7, 1, 8})},         // runs of 1 and 2
      {8, packet(1, 20, Bytes(20, 1))},        // a dump past its block of 16
      {9, packet(4, 2, {9, 0, 1, 1, 2})},      // shared alpha runs of 1 and 2
      {15, packet(3, 4, {9, 1, 2, 3, 4, 5})},  // shared alpha dump past the block
  };
  for (const auto& c : cases) {
    write_bytes(s / "over.pxr", PixarFile{2, 2, 2, 2, c.mask, 0, 16, {{c.packet}}}.build());
    imginfo* h = openimg((s / "over").c_str());
    ASSERT_NE(h, nullptr);
    std::vector<unsigned> line(2);
    EXPECT_EQ(readline(h, line.data()), 1) << c.mask;
    EXPECT_EQ(closeimg(h), 0);
  }
  // Blocks of kinds 5-15 or end marks only run into the end of the file.
  write_bytes(s / "empty.pxr", PixarFile{2, 1, 2, 1, 8, 0, 4, {{packet(9, 1, {}), Bytes{0, 0}}}}.build());
  imginfo* h = openimg((s / "empty").c_str());
  ASSERT_NE(h, nullptr);
  std::vector<unsigned> line(2);
  EXPECT_EQ(readline(h, line.data()), 1);
  EXPECT_EQ(closeimg(h), 0);
}

TEST(Pixar, PacketDecoderStaysInsideItsSpans) {
  // Straight on the decoder: RGBA dumps and runs, an unfinished block, a
  // cut packet, a run past the line.
  const Bytes block = cat({packet(1, 1, {1, 2, 3, 4}), packet(2, 1, {1, 5, 6, 7, 8})});
  uint32_t out[4] = {};
  int pos = 0, done = 0;
  EXPECT_EQ(pixar_decode_packets(block.data(), int(block.size()), &pos, 15, out, 3, &done), PIXAR_LINE_DONE);
  EXPECT_EQ(done, 3);
  EXPECT_EQ(pos, int(block.size()));
  EXPECT_EQ(out[0], rgba(1, 2, 3, 4));
  EXPECT_EQ(out[2], rgba(5, 6, 7, 8));
  pos = done = 0;
  EXPECT_EQ(pixar_decode_packets(block.data(), int(block.size()), &pos, 15, out, 4, &done), PIXAR_BLOCK_USED);
  EXPECT_EQ(done, 3);
  pos = done = 0;
  EXPECT_EQ(pixar_decode_packets(block.data(), int(block.size()) - 1, &pos, 15, out, 4, &done), PIXAR_BAD);
  pos = done = 0;
  EXPECT_EQ(pixar_decode_packets(block.data(), int(block.size()), &pos, 15, out, 2, &done), PIXAR_BAD);
  EXPECT_EQ(done, 1);
  // No channels: every pixel is transparent-free black.
  const Bytes none = packet(1, 2, {});
  pos = done = 0;
  EXPECT_EQ(pixar_decode_packets(none.data(), int(none.size()), &pos, 0, out, 2, &done), PIXAR_LINE_DONE);
  EXPECT_EQ(out[1], rgba(0, 0, 0, 255));
}
