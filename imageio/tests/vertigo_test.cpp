#include <cstring>

#include <gtest/gtest.h>

#include "driver_files.h"
#include "imgio_vertigo.h"

namespace {

unsigned be16_at(const Bytes& b, size_t at) { return b[at] << 8 | b[at + 1]; }
uint32_t be32_at(const Bytes& b, size_t at) { return uint32_t(be16_at(b, at)) << 16 | be16_at(b, at + 2); }
unsigned rgba(unsigned r, unsigned g, unsigned b, unsigned a) { return r | g << 8 | b << 16 | a << 24; }

// A hand-built file: image size, plane flags, the stored window, the
// luma-chroma flag and per stored line its coded bytes (empty: length 0).
Bytes vertigo_file(int width, int height, int flags, int x_min, int x_max, int y_min, int y_max,
                   const std::vector<Bytes>& lines, int luma_chroma = 0) {
  Bytes b(232, 0);
  put_be32(b, 0, 458);
  put_be32(b, 96, 458);
  b[101] = uint8_t(flags);
  put_be16(b, 120, width);
  put_be16(b, 124, height);
  put_be16(b, 126, luma_chroma);
  put_be32(b, 128, uint32_t(x_min));
  put_be32(b, 132, uint32_t(x_max));
  put_be32(b, 136, uint32_t(y_min));
  put_be32(b, 140, uint32_t(y_max));
  uint32_t offset = uint32_t(232 + 6 * lines.size());
  Bytes data;
  for (const Bytes& line : lines) {
    const uint32_t at = offset + uint32_t(data.size());
    be16(b, at >> 16);
    be16(b, at & 0xFFFF);
    be16(b, unsigned(line.size()));
    data.insert(data.end(), line.begin(), line.end());
  }
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

}  // namespace

TEST(Vertigo, PlanesCodeRunsOfThreeAndMore) {
  Bytes plane(300, 7), out(400);
  EXPECT_EQ(vertigo_encode_plane(plane.data(), 300, out.data()), 6u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 6), (Bytes{126, 7, 126, 7, 45, 7}));
  // Pairs stay in literal stretches; three equal bytes end one.
  const Bytes mixed{1, 1, 2, 3, 3, 3, 4, 4};
  const size_t size = vertigo_encode_plane(mixed.data(), 8, out.data());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + size), (Bytes{253, 1, 1, 2, 2, 3, 254, 4, 4}));
  Bytes back(8);
  size_t used = 0;
  vertigo_decode_plane(out.data(), size, &used, back.data(), 8);
  EXPECT_EQ(back, mixed);
  EXPECT_EQ(used, size);
  // Packets past the width are dropped but their bytes skipped; a plane
  // the code leaves short is 0 from there on; nothing is read past the end.
  const Bytes long_literal{252, 1, 2, 3, 4, 9};
  used = 0;
  back.assign(2, 0);
  vertigo_decode_plane(long_literal.data(), long_literal.size(), &used, back.data(), 2);
  EXPECT_EQ(back, (Bytes{1, 2}));
  EXPECT_EQ(used, 5u);
  const Bytes cut{252, 1, 2};
  used = 0;
  back.assign(6, 9);
  vertigo_decode_plane(cut.data(), cut.size(), &used, back.data(), 6);
  EXPECT_EQ(back, (Bytes{1, 2, 0, 0, 0, 0}));
  EXPECT_EQ(used, 3u);
  const Bytes lone_run{5};
  used = 0;
  vertigo_decode_plane(lone_run.data(), 1, &used, back.data(), 6);
  EXPECT_EQ(back, Bytes(6, 0));
}

TEST(Vertigo, OwnFilesHeaderAndTable) {
  DriverSession s("vertigo");
  imginfo* h = createimg((s / "own").c_str(), 300, 2, 8);
  ASSERT_NE(h, nullptr);
  std::vector<unsigned> equal(300, rgba(1, 2, 3, 4));
  ASSERT_EQ(writeline(h, equal.data()), 0);
  ASSERT_EQ(writeline(h, equal.data()), 0);
  ASSERT_EQ(closeimg(h), 0);
  const Bytes b = file_bytes(s / "own.pic");
  EXPECT_EQ(be32_at(b, 0), 458u);
  const std::string version = "@(#).pic     1986/06/01 1.01";
  EXPECT_EQ(std::string(b.begin() + 4, b.begin() + 4 + version.size()), version);
  EXPECT_EQ(b[32], 0);
  EXPECT_EQ(b[33], ' ');
  for (int i = 34; i < 96; ++i) EXPECT_EQ(b[i], 0) << i;
  EXPECT_EQ(be32_at(b, 96), 458u);
  EXPECT_EQ(Bytes(b.begin() + 100, b.begin() + 112), (Bytes{0, 15, 8, 8, 8, 8, 0, 0, 0, 0, 0, 0}));
  float gamma;
  const uint32_t bits = be32_at(b, 112);
  memcpy(&gamma, &bits, 4);
  EXPECT_EQ(gamma, 0.4545f);
  EXPECT_EQ(be16_at(b, 120), 300u);
  EXPECT_EQ(be16_at(b, 124), 2u);
  EXPECT_EQ(be32_at(b, 128), 0u);
  EXPECT_EQ(be32_at(b, 132), 299u);
  EXPECT_EQ(be32_at(b, 136), 0u);
  EXPECT_EQ(be32_at(b, 140), 1u);
  // Two table entries; each line four planes of runs 127, 127 and 46.
  const Bytes plane_code{126, 0, 126, 0, 45, 0};
  for (int line = 0; line < 2; ++line) {
    const uint32_t offset = be16_at(b, 232 + 6 * line) << 16 | be16_at(b, 234 + 6 * line);
    EXPECT_EQ(offset, 244u + 24 * line);
    EXPECT_EQ(be16_at(b, 236 + 6 * line), 24u);
    for (int p = 0; p < 4; ++p) {
      Bytes want = plane_code;
      for (int i = 1; i < 6; i += 2) want[i] = uint8_t(p + 1);
      EXPECT_EQ(Bytes(b.begin() + offset + 6 * p, b.begin() + offset + 6 * p + 6), want) << line << " " << p;
    }
  }
  EXPECT_EQ(b.size(), 244u + 48);
}

TEST(Vertigo, WindowsEmptyLinesAndLumaChroma) {
  DriverSession s("vertigo");
  // A 4-pixel picture whose stored window is x 1..2 of lines 1..2 (of 4);
  // line 2 is not stored. RGB only: alpha reads 255 inside the window.
  write_bytes(s / "narrow.pic", vertigo_file(4, 4, 14, 1, 2, 1, 2, {{254, 1, 2, 254, 3, 4, 1, 5}, {}}));
  imginfo* h = openimg((s / "narrow").c_str());
  ASSERT_NE(h, nullptr);
  const std::vector<unsigned> zeros(4, 0);
  EXPECT_EQ(read_line8(h), zeros);
  EXPECT_EQ(read_line8(h), (std::vector<unsigned>{0, rgba(1, 3, 5, 255), rgba(2, 4, 5, 255), 0}));
  // A zero-length line: transparent black in the window.
  EXPECT_EQ(read_line8(h), zeros);
  EXPECT_EQ(read_line8(h), zeros);
  EXPECT_EQ(closeimg(h), 0);
  h = openimg((s / "narrow").c_str());
  std::vector<unsigned short> line16(16);
  ASSERT_EQ(readline16(h, line16.data()), 0);
  ASSERT_EQ(readline16(h, line16.data()), 0);
  EXPECT_EQ(std::vector<unsigned short>(line16.begin() + 4, line16.begin() + 8),
            (std::vector<unsigned short>{256, 768, 1280, 65280}));
  EXPECT_EQ(closeimg(h), 0);

  // A window wider than the picture, starting left of it: what falls
  // outside is dropped.
  write_bytes(s / "wide.pic", vertigo_file(2, 1, 8, -1, 2, 0, 0, {{252, 10, 20, 30, 40}}));
  h = openimg((s / "wide").c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(read_line8(h), (std::vector<unsigned>{rgba(20, 0, 0, 255), rgba(30, 0, 0, 255)}));
  EXPECT_EQ(closeimg(h), 0);

  // Luma-chroma planes, each value a signed byte: Y 100, Cr 10, Cb -20;
  // then Y 200 (-56), which clamps to black.
  write_bytes(s / "yc.pic", vertigo_file(2, 1, 15, 0, 1, 0, 0, {{254, 100, 200, 1, 10, 254, 236, 0, 1, 77}}, 1));
  h = openimg((s / "yc").c_str());
  ASSERT_NE(h, nullptr);
  // R = 100 + 1.402 * 10, G = 100 - 0.714 * 10 + 0.344 * 20, B = 100 - 1.772 * 20.
  EXPECT_EQ(read_line8(h), (std::vector<unsigned>{rgba(114, 99, 64, 77), rgba(0, 0, 0, 77)}));
  EXPECT_EQ(closeimg(h), 0);
}

TEST(Vertigo, RefusalsAndBoundedLines) {
  DriverSession s("vertigo");
  const struct {
    Bytes file;
    const char* why;
  } bad[] = {
      {vertigo_file(0, 1, 15, 0, 0, 0, 0, {{}}), "size out of range"},
      {vertigo_file(2, 1, 15, 3, 2, 0, 0, {{}}), "stored window out of range"},
      {vertigo_file(2, 1, 15, 0, 70000, 0, 0, {{}}), "stored window out of range"},
      {vertigo_file(2, 1, 15, 0, 1, 0, 9, {{}}), "line table past the end of the file"},
  };
  for (const auto& c : bad) {
    write_bytes(s / "bad.pic", c.file);
    s.capture.messages.clear();
    EXPECT_EQ(openimg((s / "bad").c_str()), nullptr) << c.why;
    EXPECT_TRUE(s.capture.has(refusal("VERTIGO", s / "bad.pic", c.why))) << c.why;
  }
  // A stored length above the coded-line buffer (8 bytes a stored pixel),
  // and one past the end of the file, fail the line.
  for (int length : {17, 12}) {
    Bytes file = vertigo_file(2, 1, 15, 0, 1, 0, 0, {Bytes(10, 0)});
    put_be16(file, 236, length);
    write_bytes(s / "len.pic", file);
    imginfo* h = openimg((s / "len").c_str());
    ASSERT_NE(h, nullptr);
    std::vector<unsigned> line(2);
    EXPECT_EQ(readline(h, line.data()), 1) << length;
    EXPECT_EQ(closeimg(h), 0);
  }
  // Lines whose four coded planes could pass 65535 bytes are refused.
  EXPECT_EQ(createimg((s / "w").c_str(), 16256, 1, 8), nullptr);
  imginfo* h = createimg((s / "w").c_str(), 16255, 1, 8);
  ASSERT_NE(h, nullptr);
  std::vector<unsigned> line(16255);
  for (int x = 0; x < 16255; ++x) line[x] = unsigned(x) * 2654435761u;
  EXPECT_EQ(writeline(h, line.data()), 0);
  EXPECT_EQ(closeimg(h), 0);
  Picture p;
  ASSERT_TRUE(read_picture(s / "w.pic", &p, false));
  EXPECT_EQ(p.lines, line);
}
