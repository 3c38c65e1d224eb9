#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

#include "driver_files.h"
#include "imgio_soft.h"
#include "imgio_soft_proto.h"
#include "q4_memory.h"

namespace {

unsigned be16_at(const Bytes& b, size_t at) { return b[at] << 8 | b[at + 1]; }
uint32_t be32_at(const Bytes& b, size_t at) { return uint32_t(be16_at(b, at)) << 16 | be16_at(b, at + 2); }
unsigned rgba(unsigned r, unsigned g, unsigned b, unsigned a) { return r | g << 8 | b << 16 | a << 24; }

// A picture file's header with the given packets (chained flag, type,
// mask), then the scanline bytes.
Bytes soft_file(int width, int height, const std::vector<std::array<int, 3>>& packets, const Bytes& data) {
  Bytes b;
  be32(b, 0x5380F634);
  be32(b, 0x40066666);
  b.resize(88, 0);
  for (char c : std::string("PICT")) b.push_back(uint8_t(c));
  be16(b, width);
  be16(b, height);
  be32(b, 0x3F800000);
  be16(b, 3);
  be16(b, 0);
  for (const auto& p : packets) {
    b.push_back(uint8_t(p[0]));
    b.push_back(8);
    b.push_back(uint8_t(p[1]));
    b.push_back(uint8_t(p[2]));
  }
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

// Everything a file holds, read back with the stream.
Bytes stream_bytes(FILE* f) {
  fflush(f);
  rewind(f);
  Bytes b;
  for (int c = getc(f); c != EOF; c = getc(f)) b.push_back(uint8_t(c));
  return b;
}

}  // namespace

TEST(Softimage, OwnFilesHaveTwoPacketsAndMixedCoding) {
  DriverSession s("softimage");
  const int width = 300;
  imginfo* h = createimg((s / "own").c_str(), width, 2, 8);
  ASSERT_NE(h, nullptr);
  std::vector<unsigned> equal(width, rgba(1, 2, 3, 4)), different(width);
  for (int x = 0; x < width; ++x) different[x] = rgba(x & 255, x >> 8, 5, x & 1);
  ASSERT_EQ(writeline(h, equal.data()), 0);
  ASSERT_EQ(writeline(h, different.data()), 0);
  ASSERT_EQ(closeimg(h), 0);
  const Bytes b = file_bytes(s / "own.pic");
  EXPECT_EQ(be32_at(b, 0), 0x5380F634u);
  EXPECT_EQ(be32_at(b, 4), 0x40066666u);  // 2.1
  EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 22), std::string("No comment...") + '\0');
  for (int i = 22; i < 88; ++i) EXPECT_EQ(b[i], 0) << i;
  EXPECT_EQ(std::string(b.begin() + 88, b.begin() + 92), "PICT");
  EXPECT_EQ(be16_at(b, 92), 300u);
  EXPECT_EQ(be16_at(b, 94), 2u);
  EXPECT_EQ(be32_at(b, 96), 0x3F800000u);
  EXPECT_EQ(be16_at(b, 100), 3u);
  EXPECT_EQ(be16_at(b, 102), 0u);
  EXPECT_EQ(Bytes(b.begin() + 104, b.begin() + 112), (Bytes{1, 8, 2, 0xE0, 0, 8, 2, 0x10}));
  // Scanlines start at 112: 300 equal pixels are one long run per packet.
  EXPECT_EQ(Bytes(b.begin() + 112, b.begin() + 122), (Bytes{128, 1, 44, 1, 2, 3, 128, 1, 44, 4}));
  // Every pixel differs from the last: literal stretches of 128 (byte 127).
  size_t at = 122;
  for (int length : {128, 128, 44}) {
    EXPECT_EQ(b[at], length - 1) << at;
    at += 1 + 3 * length;
  }
  // Alpha alternates 0, 1: also all literal.
  EXPECT_EQ(b[at], 127);
  h = openimg((s / "own").c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(read_line8(h), equal);
  EXPECT_EQ(read_line8(h), different);
  EXPECT_EQ(closeimg(h), 0);
}

TEST(Softimage, MixedCodingStateMachine) {
  DriverSession s("softimage");
  // Pixels as single channels (R = G = B, alpha constant): a, b, b, b, c,
  // d, d, e: literal a; run b x3; literal c; run d x2; literal e.
  const Bytes values{10, 20, 20, 20, 30, 40, 40, 50};
  imginfo* h = createimg((s / "m").c_str(), 8, 1, 8);
  std::vector<unsigned> line;
  for (uint8_t v : values) line.push_back(rgba(v, v, v, 9));
  ASSERT_EQ(writeline(h, line.data()), 0);
  ASSERT_EQ(closeimg(h), 0);
  const Bytes b = file_bytes(s / "m.pic");
  EXPECT_EQ(Bytes(b.begin() + 112, b.end()),
            (Bytes{0, 10, 10, 10, 130, 20, 20, 20, 0, 30, 30, 30, 129, 40, 40, 40, 0, 50, 50, 50, 135, 9}));
  // A line of 65535 equal pixels is one run at the counter's limit; one
  // more pixel opens a literal.
  h = createimg((s / "long").c_str(), 65535, 1, 8);
  std::vector<unsigned> equal(65535, rgba(1, 1, 1, 1));
  ASSERT_EQ(writeline(h, equal.data()), 0);
  ASSERT_EQ(closeimg(h), 0);
  const Bytes l = file_bytes(s / "long.pic");
  EXPECT_EQ(Bytes(l.begin() + 112, l.end()), (Bytes{128, 255, 255, 1, 1, 1, 128, 255, 255, 1}));
}

TEST(Softimage, PixelRatioFollowsFiveToFour) {
  DriverSession s("softimage");
  for (auto size : {std::array<int, 3>{720, 576, 0x3F888889}, {1920, 1080, 0x3F800000}, {600, 500, 0x3F800000},
                    {5, 4, 0x3F888889}, {4, 5, 0x3F800000}}) {
    imginfo* h = createimg((s / "r").c_str(), size[0], size[1], 8);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(closeimg(h), 0);
    EXPECT_EQ(be32_at(file_bytes(s / "r.pic"), 96), uint32_t(size[2])) << size[0] << "x" << size[1];
  }
}

TEST(Softimage, ForeignPacketsTypesAndRuns) {
  DriverSession s("softimage");
  // No alpha packet; red and green plain, blue in counted runs.
  const Bytes data{1, 2, 3, 4, 5, 6, /* blue: */ 2, 7, 9, 8};
  write_bytes(s / "noalpha.pic", soft_file(3, 1, {{1, 0, 0xC0}, {0, 1, 0x20}}, data));
  imginfo* h = openimg((s / "noalpha").c_str());
  ASSERT_NE(h, nullptr);
  // The last run's 9 is cut to the one pixel left.
  EXPECT_EQ(read_line8(h), (std::vector<unsigned>{rgba(1, 2, 7, 255), rgba(3, 4, 7, 255), rgba(5, 6, 8, 255)}));
  EXPECT_EQ(closeimg(h), 0);
  h = openimg((s / "noalpha").c_str());
  std::vector<unsigned short> line16(12);
  ASSERT_EQ(readline16(h, line16.data()), 0);
  EXPECT_EQ(std::vector<unsigned short>(line16.begin(), line16.begin() + 4),
            (std::vector<unsigned short>{256, 512, 7 << 8, 65535}));
  EXPECT_EQ(closeimg(h), 0);
  // Mixed runs past the line end the packet; the long-run counter and a
  // literal stretch past the line are read whole, then the next line.
  const Bytes mixed{128, 0xFF, 0xFF, 5, /* line 2: */ 3, 1, 2, 3, 4, /* line 3: */ 200, 6};
  write_bytes(s / "runs.pic", soft_file(2, 3, {{0, 2, 0x80}}, mixed));
  h = openimg((s / "runs").c_str());
  ASSERT_NE(h, nullptr);
  const auto red = [](unsigned v) { return rgba(v, 0, 0, 255); };
  EXPECT_EQ(read_line8(h), (std::vector<unsigned>{red(5), red(5)}));
  EXPECT_EQ(read_line8(h), (std::vector<unsigned>{red(1), red(2)}));
  EXPECT_EQ(read_line8(h), (std::vector<unsigned>{red(6), red(6)}));
  EXPECT_EQ(closeimg(h), 0);
  // The end of the file inside a packet fails the line.
  for (const Bytes& cut : {Bytes{128, 0}, Bytes{1, 5}, Bytes{}, Bytes{130}}) {
    write_bytes(s / "cut.pic", soft_file(2, 1, {{0, 2, 0x80}}, cut));
    h = openimg((s / "cut").c_str());
    ASSERT_NE(h, nullptr);
    std::vector<unsigned> line(2);
    EXPECT_EQ(readline(h, line.data()), 1);
    EXPECT_EQ(closeimg(h), 0);
  }
}

TEST(Softimage, PacketChainsEndAtTheEndOfTheFileAndAfterFour) {
  DriverSession s("softimage");
  // Chained flags that never end: the file ends first.
  write_bytes(s / "chain.pic", soft_file(1, 1, {{1, 0, 0x80}, {1, 0, 0x40}}, {}));
  EXPECT_EQ(openimg((s / "chain").c_str()), nullptr);
  EXPECT_TRUE(s.capture.has(refusal("SOFTIMAGE", s / "chain.pic", "packet chain cut short")));
  // Four chained packets: the fourth ends the chain whatever its flag.
  write_bytes(s / "four.pic", soft_file(1, 1, {{1, 0, 0x80}, {1, 0, 0x40}, {1, 0, 0x20}, {1, 0, 0x10}}, {1, 2, 3, 4}));
  imginfo* h = openimg((s / "four").c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(read_line8(h), (std::vector<unsigned>{rgba(1, 2, 3, 4)}));
  EXPECT_EQ(closeimg(h), 0);
  // Unknown compression types, sizes out of range, wrong identifiers.
  write_bytes(s / "type.pic", soft_file(1, 1, {{0, 3, 0x80}}, {1}));
  EXPECT_EQ(openimg((s / "type").c_str()), nullptr);
  write_bytes(s / "zero.pic", soft_file(0, 1, {{0, 0, 0x80}}, {1}));
  EXPECT_EQ(openimg((s / "zero").c_str()), nullptr);
  Bytes pict = soft_file(1, 1, {{0, 0, 0x80}}, {1});
  pict[88] = 'X';
  write_bytes(s / "pict.pic", pict);
  EXPECT_EQ(openimg((s / "pict").c_str()), nullptr);
}

TEST(Softimage, SeekTableMatchesSequentialReads) {
  DriverSession s("softimage");
  ASSERT_TRUE(write_picture(s / "seek.pic", 37, 6, false));
  imginfo* h = openimg((s / "seek").c_str());
  ASSERT_NE(h, nullptr);
  read_line8(h);
  ASSERT_EQ(makeseekable(h), 0);
  for (int y : {4, 0, 5, 2}) {
    ASSERT_EQ(seekline(h, y), 0);
    const auto line = read_line8(h);
    for (int x = 0; x < 37; ++x) ASSERT_EQ(line[x], pixel8(x, y)) << x << "," << y;
  }
  EXPECT_EQ(closeimg(h), 0);
}

TEST(Softimage, PictureLibraryReadsAndWritesWholeFiles) {
  TempDir dir;
  picture* pic = pictureAllocate();
  ASSERT_NE(pic, nullptr);
  EXPECT_EQ(pic->ratio, 1.0f);
  pic->width = 5;
  pic->height = 3;
  pic->fields = 3;
  for (int c = 0; c < 3; ++c) {
    pic->channel[c] = static_cast<unsigned char*>(q4_malloc_c(15, __FILE__, __LINE__));
    for (int i = 0; i < 15; ++i) pic->channel[c][i] = uint8_t(i * (c + 1) / 2);
  }
  // Without alpha the default list has one packet; the name gets ".pic".
  ASSERT_EQ(pictureWriteFile((dir / "whole").c_str(), pic, nullptr), 1);
  const Bytes b = file_bytes(dir / "whole.pic");
  EXPECT_EQ(Bytes(b.begin() + 104, b.begin() + 108), (Bytes{0, 8, 2, 0xE0}));
  picture* back = pictureReadFile((dir / "whole.pic").c_str());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->width, 5);
  EXPECT_EQ(back->height, 3);
  EXPECT_EQ(back->channel[3], nullptr);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(memcmp(back->channel[c], pic->channel[c], 15), 0) << c;
  pictureDispose(back);
  // A given list of plain and run packets; it stays the caller's.
  channel_packet* alpha = static_cast<channel_packet*>(q4_calloc_c(1, sizeof(channel_packet), __FILE__, __LINE__));
  channel_packet* colour = static_cast<channel_packet*>(q4_calloc_c(1, sizeof(channel_packet), __FILE__, __LINE__));
  *alpha = channel_packet{8, SOFT_RUNS, SOFT_ALPHA, nullptr};
  *colour = channel_packet{8, SOFT_PLAIN, SOFT_RED | SOFT_GREEN | SOFT_BLUE, alpha};
  pic->channel[3] = static_cast<unsigned char*>(q4_calloc_c(15, 1, __FILE__, __LINE__));
  ASSERT_EQ(pictureWriteFile((dir / "given.pic").c_str(), pic, colour), 1);
  const Bytes g = file_bytes(dir / "given.pic");
  EXPECT_EQ(g.size(), 112u + 3 * (5 * 3 + 2));
  EXPECT_EQ(Bytes(g.end() - 2, g.end()), (Bytes{5, 0}));
  back = pictureReadFile((dir / "given").c_str());
  ASSERT_NE(back, nullptr);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(memcmp(back->channel[c], pic->channel[c], 15), 0) << c;
  pictureDispose(back);
  // A packet whose channel has no buffer is not coded.
  unsigned char* kept = pic->channel[3];
  pic->channel[3] = nullptr;
  EXPECT_EQ(pictureWriteFile((dir / "missing.pic").c_str(), pic, colour), 0);
  pic->channel[3] = kept;
  channelPacketDispose(colour);
  pictureDispose(pic);
  EXPECT_EQ(pictureReadFile((dir / "missing").c_str()), nullptr);
}

TEST(Softimage, HeaderAndStringRoutines) {
  FILE* f = tmpfile();
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(headerWriteBinary(f, "a comment"), 1);
  ASSERT_EQ(fwrite("MESH", 1, 4, f), 4u);
  rewind(f);
  float version = 0;
  char comment[81];
  EXPECT_EQ(headerReadBinary(f, &version, comment), 0x4D455348u);
  EXPECT_EQ(version, 2.1f);
  EXPECT_STREQ(comment, "a comment");
  // A wrong magic, and a header without its identifier.
  rewind(f);
  fputc(0, f);
  rewind(f);
  EXPECT_EQ(headerReadBinary(f, &version, comment), 0u);
  fclose(f);
  f = tmpfile();
  ASSERT_EQ(headerWriteBinary(f, nullptr), 1);
  rewind(f);
  EXPECT_EQ(headerReadBinary(f, &version, comment), 0u);
  fclose(f);

  f = tmpfile();
  ASSERT_EQ(headerWriteAscii(f, "MESH"), 1);
  fputs("rest", f);
  const Bytes text = stream_bytes(f);
  EXPECT_EQ(std::string(text.begin(), text.end()), "MESH: SOFTIMAGE 4D Creative Environment v2.10\n\nrest");
  rewind(f);
  version = 9;
  EXPECT_EQ(headerReadAscii(f, &version), 0x4D455348u);
  EXPECT_EQ(version, 0.0f);
  EXPECT_EQ(getc(f), '\n');  // the empty line is next
  fclose(f);

  // Strings: written with their NUL, read up to it; the end of the file
  // ends them; long ones are cut to the limit and their rest dropped.
  f = tmpfile();
  EXPECT_EQ(stringWriteBinary(f, "first"), 1);
  EXPECT_EQ(stringWriteBinary(f, nullptr), 0);
  const std::string long_text(3000, 'x');
  EXPECT_EQ(stringWriteBinary(f, long_text.c_str()), 1);
  fputs("tail", f);
  rewind(f);
  const auto next = [f]() {
    char* s = stringReadBinary(f);
    std::string out = s ? s : "<null>";
    if (s) q4_free_c(s, __FILE__, __LINE__);
    return out;
  };
  EXPECT_EQ(next(), "first");
  EXPECT_EQ(next(), "");
  EXPECT_EQ(next(), std::string(SOFT_STRING_LIMIT, 'x'));
  EXPECT_EQ(next(), "tail");
  EXPECT_EQ(next(), "<null>");
  fclose(f);

  f = tmpfile();
  fputs("name \"quoted text\" \"unfinished", f);
  rewind(f);
  const auto quoted = [f]() {
    char* s = stringReadAscii(f);
    std::string out = s ? s : "<null>";
    if (s) q4_free_c(s, __FILE__, __LINE__);
    return out;
  };
  EXPECT_EQ(quoted(), "quoted text");
  EXPECT_EQ(quoted(), "unfinished");
  EXPECT_EQ(quoted(), "<null>");
  fclose(f);
}

TEST(Softimage, PrototypeRecordsOfEveryKindReadBackEqual) {
  typedef prototype* (*Init)(prototype*);
  const Init inits[] = {prototypeInitMesh,    prototypeInitPatch,  prototypeInitMaterial, prototypeInitTexture,
                        prototypeInitTexture3D, prototypeInitSpline, prototypeInitFace,     prototypeInitModel};
  const std::vector<short> count_up = [] {
    std::vector<short> v;
    for (short i = 1; i <= 15; ++i) v.push_back(i);
    v.push_back(0);
    return v;
  }();
  const auto list = [](const prototype* p, int i) {
    return p->count[i] ? std::vector<short>(p->list[i], p->list[i] + p->count[i]) : std::vector<short>();
  };
  const int saved_version = VERSION, saved_normal = NORMAL;
  for (int version : {0, 1}) {
    VERSION = version;
    NORMAL = version;
    for (Init init : inits) {
      prototype* p = init(nullptr);
      ASSERT_NE(p, nullptr);
      FILE* f = tmpfile();
      ASSERT_EQ(prototypeWrite(f, p), 1);
      rewind(f);
      char mark[4];
      ASSERT_EQ(fread(mark, 1, 4, f), 4u);
      EXPECT_EQ(std::string(mark, 4), "PROT");
      prototype* back = prototypeRead(f);
      ASSERT_NE(back, nullptr);
      for (int i = 0; i < PROTOTYPE_LISTS; ++i) EXPECT_EQ(list(back, i), list(p, i)) << version << " list " << i;
      fclose(f);
      prototypeDispose(back);
      prototypeDispose(p);
    }
  }
  // Lists worked out from the kinds' definitions.
  VERSION = 1;
  NORMAL = 1;
  prototype* model = prototypeInitModel(nullptr);
  EXPECT_EQ(list(model, 0), (std::vector<short>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0}));
  EXPECT_EQ(list(model, 2), count_up);
  EXPECT_EQ(list(model, 12), (std::vector<short>{1, 2, 3, 4, 5, 6, 7, 13, 11, 16, 17, 0}));
  // Filling on an existing record adds the face and spline lists.
  EXPECT_EQ(prototypeInitFace(model), model);
  EXPECT_EQ(list(model, 8), (std::vector<short>{8, 1, 7, 3, 4, 5, 6, 0}));
  EXPECT_EQ(list(model, 9), (std::vector<short>{1, 2, 3, 4, 5, 6, 0}));
  prototypeDispose(model);
  prototype* mesh = prototypeInitMesh(nullptr);
  EXPECT_EQ(list(mesh, 3), (std::vector<short>{6, 2, 3, 4, 5, 0}));
  EXPECT_EQ(list(mesh, 4), (std::vector<short>{2, 3, 0}));
  EXPECT_EQ(list(mesh, 5), (std::vector<short>{1, 2, 0}));
  EXPECT_EQ(list(mesh, 6), (std::vector<short>{1, 3, 0}));
  EXPECT_EQ(list(mesh, 7), (std::vector<short>{1, 4, 0}));
  prototypeDispose(mesh);
  VERSION = 0;
  NORMAL = 0;
  mesh = prototypeInitMesh(nullptr);
  EXPECT_EQ(list(mesh, 4), (std::vector<short>{2, 0}));
  EXPECT_EQ(list(mesh, 5), (std::vector<short>{1, 0}));
  prototypeDispose(mesh);
  prototype* texture = prototypeInitTexture3D(nullptr);
  EXPECT_EQ(list(texture, 13),
            (std::vector<short>{1, 2, 3, 4, 5, 22, 23, 24, 25, 26, 10, 27, 28, 11, 12, 13, 14, 15, 16, 17, 18, 19, 21, 29, 0}));
  prototypeDispose(texture);
  VERSION = saved_version;
  NORMAL = saved_normal;

  // The written order of lists and tokens, byte for byte.
  prototype* material = prototypeInitMaterial(prototypeInitPatch(nullptr));
  FILE* f = tmpfile();
  ASSERT_EQ(prototypeWrite(f, material), 1);
  const Bytes b = stream_bytes(f);
  fclose(f);
  Bytes want{'P', 'R', 'O', 'T'};
  le16(want, 6);
  le16(want, 16);
  for (short v : count_up) le16(want, uint16_t(v));
  le16(want, 13);
  le16(want, 12);
  for (short v : {1, 2, 3, 4, 5, 6, 7, 13, 11, 16, 17, 0}) le16(want, uint16_t(v));
  le16(want, 0);
  EXPECT_EQ(b, want);
  prototypeDispose(material);
}

TEST(Softimage, PrototypeReadsSkipIllegalTokensAndStopAtTheEnd) {
  FILE* f = tmpfile();
  Bytes b;
  le16(b, 99);  // no list has this token
  le16(b, 2);
  le16(b, 7);
  le16(b, 8);
  le16(b, 7);  // list 1
  le16(b, 3);
  for (int v : {1, 2, 0}) le16(b, v);
  le16(b, 0);
  fwrite(b.data(), 1, b.size(), f);
  rewind(f);
  testing::internal::CaptureStdout();
  prototype* p = prototypeRead(f);
  const std::string said = testing::internal::GetCapturedStdout();
  ASSERT_NE(p, nullptr);
  EXPECT_NE(said.find("): illegal token: 99\n"), std::string::npos) << said;
  EXPECT_EQ(said.rfind("Error: imgio_soft_proto.cpp ", 0), 0u) << said;
  EXPECT_EQ(p->count[1], 3);
  EXPECT_EQ(p->list[1][1], 2);
  for (int i = 0; i < PROTOTYPE_LISTS; ++i) {
    if (i != 1) {
      EXPECT_EQ(p->count[i], 0) << i;
    }
  }
  prototypeDispose(p);
  // Cut anywhere before its 0 token, or with a count out of range, the
  // record is not read.
  for (size_t cut = 0; cut < b.size() - 1; ++cut) {
    rewind(f);
    ASSERT_EQ(ftruncate(fileno(f), 0), 0);
    fwrite(b.data(), 1, cut, f);
    fflush(f);
    rewind(f);
    testing::internal::CaptureStdout();
    EXPECT_EQ(prototypeRead(f), nullptr) << cut;
    testing::internal::GetCapturedStdout();
  }
  rewind(f);
  ASSERT_EQ(ftruncate(fileno(f), 0), 0);
  Bytes negative;
  le16(negative, 5);
  le16(negative, 0xFFFF);
  fwrite(negative.data(), 1, negative.size(), f);
  rewind(f);
  EXPECT_EQ(prototypeRead(f), nullptr);
  fclose(f);
}
