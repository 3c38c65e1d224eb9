#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "failing_heap.h"
#include "imgio.h"
#include "imgio_memory_driver.h"
#include "imgio_message_capture.h"
#include "imgio_tiff.h"
#include "imgio_tiff_record.h"
#include "imgio_utils.h"
#include "peer_images.h"
#include "q4_memory.h"
#include "temp_dir.h"
#include "tiff_maker.h"

namespace {

// Distinct samples of every width, so a sample read from the wrong place or
// channel shows.
int sample_of(int bits, int x, int y, int s) {
  const int v = x * 37 + y * 101 + s * 59 + 3;
  return bits == 16 ? (v * 1021 + s * 7) & 65535 : v & ((1 << bits) - 1);
}

TiffMaker maker(int bits, int samples, int photometric) {
  TiffMaker m;
  m.bits = bits;
  m.samples = samples;
  m.photometric = photometric;
  m.sample = [bits](int x, int y, int s) { return sample_of(bits, x, y, s); };
  return m;
}

// A palette of 2^bits entries whose first entry is white at 65535.
std::vector<uint16_t> palette16(int bits) {
  const int n = 1 << bits;
  std::vector<uint16_t> map(3 * n);
  for (int i = 0; i < n; ++i) {
    map[i] = static_cast<uint16_t>(i == 0 ? 65535 : i * 997 % 65536);
    map[n + i] = static_cast<uint16_t>((i * 257 * 3) & 65535);
    map[2 * n + i] = static_cast<uint16_t>(65535 - i * 200);
  }
  return map;
}

std::vector<uint16_t> palette8() {
  std::vector<uint16_t> map(3 * 256);
  for (int i = 0; i < 256; ++i) {
    map[i] = static_cast<uint16_t>(255 - i);
    map[256 + i] = static_cast<uint16_t>(i * 7 % 256);
    map[512 + i] = static_cast<uint16_t>(i / 2);
  }
  return map;
}

enum class Peer { byrow, byrow_alpha, plain, pillow };

bool decode(Peer peer, const std::string& path, PeerImage* image) {
  switch (peer) {
    case Peer::byrow: return tifftopnm(path, image, false, true);
    case Peer::byrow_alpha: return tifftopnm(path, image, true, true);
    case Peer::plain: return tifftopnm(path, image, false, false);
    default: return pillow_decode(path, image);
  }
}

// Channel c of a peer's pixel as 16-bit and 8-bit line values; grey fills
// R, G and B, a missing alpha is opaque. Packed grey of maxval 1, 3 or 15
// spreads over 0..255 and widens by a shift.
int peer16(const PeerImage& p, int x, int y, int c) {
  if (c == 3 && p.channels < 4) return 65535;
  const int v = p.at(x, y, p.channels == 1 ? 0 : c);
  if (p.maxval == 65535) return v;
  if (p.maxval == 255) return v * 257;
  return (v * 255 / p.maxval) << 8;
}

int peer8(const PeerImage& p, int x, int y, int c) {
  if (c == 3 && p.channels < 4) return 255;
  const int v = p.at(x, y, p.channels == 1 ? 0 : c);
  if (p.maxval == 65535) return v >> 8;
  return v * 255 / p.maxval;
}

struct Lines {
  std::vector<std::vector<std::array<int, 4>>> wide, narrow;  // [line][x]
};

// Every line of the file at both widths, through the handle; lines carry a
// sentinel pixel past their end, which no read may touch.
bool read_all(const std::string& path, imginfo** kept, Lines* lines) {
  imginfo* h = openimg(path.c_str());
  if (!h) return false;
  const int w = h->file_width;
  std::vector<unsigned> line(w + 1);
  std::vector<unsigned short> line16(4 * (w + 1));
  lines->wide.assign(h->file_height, std::vector<std::array<int, 4>>(w));
  lines->narrow = lines->wide;
  bool ok = true;
  for (int deep = 0; deep < 2 && ok; ++deep) {
    ok = makeseekable(h) == 0 && seekline(h, 0) == 0;
    for (int y = 0; y < h->file_height && ok; ++y) {
      line[w] = 0xDEADBEEF;
      line16[4 * w] = 0xBEEF;
      ok = (deep ? readline16(h, line16.data()) : readline(h, line.data())) == 0 && line[w] == 0xDEADBEEF &&
           line16[4 * w] == 0xBEEF;
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 4; ++c) {
          if (deep)
            lines->wide[y][x][c] = line16[4 * x + c];
          else
            lines->narrow[y][x][c] = static_cast<int>(line[x] >> (8 * c) & 255);
        }
    }
  }
  if (kept && ok) {
    *kept = h;
    return true;
  }
  closeimg(h);
  return ok;
}

struct TiffSession {
  ImgioSession session;
  MessageCapture capture;
  TempDir dir;
  TiffSession() { setimageformat("tiff"); }
};

// Sets a tag's value in the first directory of a little-endian file; for a
// tag of several LONG values, value number index of them.
void patch_entry(const std::string& path, int tag, uint32_t value, unsigned index = 0) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  std::vector<unsigned char> b((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  auto u16 = [&b](size_t at) { return unsigned(b[at] | b[at + 1] << 8); };
  auto u32 = [&u16](size_t at) { return u16(at) | size_t(u16(at + 2)) << 16; };
  const size_t directory = u32(4);
  for (unsigned i = 0; i < u16(directory); ++i) {
    const size_t entry = directory + 2 + 12 * i;
    if (u16(entry) != unsigned(tag)) continue;
    const size_t at = u32(entry + 4) > 1 ? u32(entry + 8) + 4 * index : entry + 8;
    for (int k = 0; k < 4; ++k) b[at + k] = static_cast<unsigned char>(value >> (8 * k));
  }
  file.seekp(0);
  file.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

}  // namespace

TEST(TiffRead, PeerMadeFilesReadAsThePeersDecodeThem) {
  struct Case {
    const char* name;
    TiffMaker make;
    const char* tool;  // run on the file after it is made ("%s" is the file)
    Peer peer;
    // Samples the peer does not decode whole: 16-bit lines (and alpha)
    // compared with what was written.
    bool source16;
    bool direct;  // the file is read on the direct path
  };
  auto with = [](TiffMaker m, std::function<void(TiffMaker&)> change) {
    change(m);
    return m;
  };
  auto rows = [&with](TiffMaker m, uint32_t r) { return with(m, [r](TiffMaker& t) { t.rows_per_strip = r; }); };
  auto planar = [&with](TiffMaker m) { return with(m, [](TiffMaker& t) { t.planar = PLANARCONFIG_SEPARATE; }); };
  auto odd = [&with](TiffMaker m) { return with(m, [](TiffMaker& t) { t.odd_offsets = true; }); };
  auto mapped = [&with](TiffMaker m, std::vector<uint16_t> map) {
    return with(m, [map](TiffMaker& t) { t.colormap = map; });
  };
  const Case cases[] = {
      {"grey1b", maker(1, 1, PHOTOMETRIC_MINISBLACK), nullptr, Peer::byrow, false, true},
      {"grey1w", maker(1, 1, PHOTOMETRIC_MINISWHITE), nullptr, Peer::byrow, false, true},
      {"grey2b", maker(2, 1, PHOTOMETRIC_MINISBLACK), nullptr, Peer::byrow, false, true},
      {"grey2w", maker(2, 1, PHOTOMETRIC_MINISWHITE), nullptr, Peer::byrow, false, true},
      {"grey4b", maker(4, 1, PHOTOMETRIC_MINISBLACK), nullptr, Peer::byrow, false, true},
      {"grey4w", maker(4, 1, PHOTOMETRIC_MINISWHITE), nullptr, Peer::byrow, false, true},
      {"grey8b", maker(8, 1, PHOTOMETRIC_MINISBLACK), nullptr, Peer::byrow, false, true},
      {"grey8w", maker(8, 1, PHOTOMETRIC_MINISWHITE), nullptr, Peer::byrow, false, true},
      {"grey16b", maker(16, 1, PHOTOMETRIC_MINISBLACK), nullptr, Peer::byrow, false, true},
      {"grey16w", maker(16, 1, PHOTOMETRIC_MINISWHITE), nullptr, Peer::byrow, false, true},
      // A 16-bit map with a 65535 entry, an 8-bit one, and packed indices.
      // tifftopnm scales 16-bit maps by 255/65535, Pillow takes their high
      // bytes, as the driver does; only tifftopnm takes byte maps as such.
      {"pal8_16", mapped(maker(8, 1, PHOTOMETRIC_PALETTE), palette16(8)), nullptr, Peer::pillow, false, true},
      {"pal8_8", mapped(maker(8, 1, PHOTOMETRIC_PALETTE), palette8()), nullptr, Peer::plain, false, true},
      {"pal4", mapped(maker(4, 1, PHOTOMETRIC_PALETTE), palette16(4)), nullptr, Peer::pillow, false, true},
      {"pal2", mapped(maker(2, 1, PHOTOMETRIC_PALETTE), palette16(2)), nullptr, Peer::pillow, false, true},
      {"pal1", mapped(maker(1, 1, PHOTOMETRIC_PALETTE), palette16(1)), nullptr, Peer::pillow, false, true},
      {"rgb8", maker(8, 3, PHOTOMETRIC_RGB), nullptr, Peer::byrow, false, true},
      {"rgba8", maker(8, 4, PHOTOMETRIC_RGB), nullptr, Peer::byrow_alpha, false, true},
      {"rgb16", maker(16, 3, PHOTOMETRIC_RGB), nullptr, Peer::byrow, false, true},
      {"rgba16", maker(16, 4, PHOTOMETRIC_RGB), nullptr, Peer::byrow_alpha, false, true},
      {"rgb8p", planar(maker(8, 3, PHOTOMETRIC_RGB)), nullptr, Peer::pillow, false, false},
      {"rgba8p", planar(maker(8, 4, PHOTOMETRIC_RGB)), nullptr, Peer::pillow, false, false},
      {"rgb16p", planar(maker(16, 3, PHOTOMETRIC_RGB)), nullptr, Peer::byrow, false, false},
      {"rgba16p", planar(maker(16, 4, PHOTOMETRIC_RGB)), nullptr, Peer::byrow, true, false},
      {"cmyk8", maker(8, 4, PHOTOMETRIC_SEPARATED), nullptr, Peer::pillow, false, true},
      {"cmyk16", maker(16, 4, PHOTOMETRIC_SEPARATED), nullptr, Peer::pillow, true, true},
      // Compressed, in several strips (the last one short).
      {"lzw", maker(8, 3, PHOTOMETRIC_RGB), "/usr/bin/tiffcp -s -c lzw -r 4 %s %s.c && mv %s.c %s", Peer::byrow,
       false, false},
      {"deflate", maker(4, 1, PHOTOMETRIC_MINISWHITE), "/usr/bin/tiffcp -s -c zip -r 2 %s %s.c && mv %s.c %s",
       Peer::byrow, false, false},
      {"packbits", maker(16, 4, PHOTOMETRIC_RGB), "/usr/bin/tiffcp -s -c packbits -r 5 %s %s.c && mv %s.c %s",
       Peer::byrow_alpha, false, false},
      // tiffcp's JPEG files hold YCbCr, which libtiff's decoder turns to RGB.
      {"jpeg", maker(8, 3, PHOTOMETRIC_RGB), "/usr/bin/tiffcp -c jpeg %s %s.c && mv %s.c %s", Peer::pillow, false, false},
      // tifftopnm cannot read compressed planes by rows (libtiff restarts
      // the strip for every plane's line); the driver decodes whole strips.
      {"lzw_planar", planar(maker(8, 4, PHOTOMETRIC_RGB)), "/usr/bin/tiffcp -s -c lzw -r 4 %s %s.c && mv %s.c %s",
       Peer::pillow, false, false},
      // RowsPerStrip 2^32 - 1, as many writers store it: one strip.
      {"rows_max", rows(with(maker(8, 3, PHOTOMETRIC_RGB), [](TiffMaker& t) { t.compression = COMPRESSION_LZW; }),
                        0xFFFFFFFFu),
       nullptr, Peer::byrow, false, false},
      // Without RowsPerStrip the strips are counted (libtiff makes the
      // three contiguous strips one).
      {"rows_missing", rows(maker(8, 3, PHOTOMETRIC_RGB), 2), "/usr/bin/tiffset -u 278 %s 2>/dev/null", Peer::byrow,
       false, true},
      // One sample lies the same way whatever the planar configuration says.
      {"grey_planar", planar(maker(8, 1, PHOTOMETRIC_MINISBLACK)), nullptr, Peer::byrow, false, true},
      {"strips", rows(mapped(maker(8, 1, PHOTOMETRIC_PALETTE), palette16(8)), 4), nullptr, Peer::pillow, false, true},
      // One uncompressed strip in either byte order and either fill order.
      {"big16", maker(16, 3, PHOTOMETRIC_RGB), "/usr/bin/tiffcp -B %s %s.c && mv %s.c %s", Peer::byrow, false, true},
      {"little16", maker(16, 1, PHOTOMETRIC_MINISWHITE), "/usr/bin/tiffcp -L %s %s.c && mv %s.c %s", Peer::byrow,
       false, true},
      {"big16strips", rows(with(maker(16, 3, PHOTOMETRIC_RGB), [](TiffMaker& t) { t.mode = "wb"; }), 4), nullptr,
       Peer::byrow, false, true},
      {"lsb1strips", rows(with(maker(1, 1, PHOTOMETRIC_MINISBLACK), [](TiffMaker& t) { t.fill_order = FILLORDER_LSB2MSB; }), 4),
       nullptr, Peer::byrow, false, true},
      {"lsb1", maker(1, 1, PHOTOMETRIC_MINISBLACK), "/usr/bin/tiffcp -f lsb2msb %s %s.c && mv %s.c %s", Peer::byrow,
       false, true},
      {"lsb8big", maker(8, 3, PHOTOMETRIC_RGB), "/usr/bin/tiffcp -B -f lsb2msb %s %s.c && mv %s.c %s", Peer::byrow,
       false, true},
      {"msb4", maker(4, 1, PHOTOMETRIC_MINISBLACK), "/usr/bin/tiffcp -f msb2lsb %s %s.c && mv %s.c %s", Peer::byrow,
       false, true},
      // Sixteen-bit samples at odd offsets, which no load may take as words.
      {"grey16odd", odd(maker(16, 1, PHOTOMETRIC_MINISBLACK)), nullptr, Peer::byrow, false, true},
      {"big16odd", rows(odd(with(maker(16, 3, PHOTOMETRIC_RGB), [](TiffMaker& t) { t.mode = "wb"; })), 4), nullptr,
       Peer::byrow, false, true},
      {"rgba16odd", rows(odd(maker(16, 4, PHOTOMETRIC_RGB)), 2), nullptr, Peer::byrow_alpha, false, true},
      // Orientation as tiffset leaves it: top-left, and bottom-left, which
      // the peer turns the right way up.
      {"orient1", maker(8, 3, PHOTOMETRIC_RGB), "/usr/bin/tiffset -s 274 1 %s", Peer::byrow, false, true},
      {"orient4", maker(8, 4, PHOTOMETRIC_RGB), "/usr/bin/tiffset -s 274 4 %s", Peer::byrow_alpha, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TiffSession s;
    const std::string path = s.dir / (std::string(c.name) + ".tif");
    ASSERT_TRUE(c.make.write(path));
    if (c.tool) {
      std::string command = c.tool;
      for (size_t at; (at = command.find("%s")) != std::string::npos;) command.replace(at, 2, shell_quoted(path));
      ASSERT_TRUE(run_command(command));
    }
    PeerImage peer;
    ASSERT_TRUE(decode(c.peer, path, &peer));
    imginfo* h = nullptr;
    Lines lines;
    ASSERT_TRUE(read_all(path, &h, &lines));
    EXPECT_EQ(h->file_width, peer.width);
    EXPECT_EQ(h->file_height, peer.height);
    EXPECT_EQ(h->bits16, c.make.bits == 16);
    EXPECT_EQ(tiff_record(h)->direct, c.direct);
    EXPECT_TRUE(!c.make.odd_offsets || tiff_record(h)->strip_offset % 2 == 1);
    EXPECT_EQ(s.capture.has("TIFF: Warning: RowsPerStrip tag is missing. Trying to fix...\n"),
              std::string(c.name) == "rows_missing");
    EXPECT_EQ(TiffGetCsp(h), c.make.photometric == PHOTOMETRIC_SEPARATED ? 2 : 1);
    const bool top = h->line_order == IMGIO_TOP_FIRST;
    EXPECT_EQ(top, c.make.orientation == 0 && std::string(c.name) != "orient4");
    for (int y = 0; y < peer.height; ++y)
      for (int x = 0; x < peer.width; ++x) {
        // The peers turn the picture the right way up; lines come in file
        // order.
        const int line = top ? y : peer.height - 1 - y;
        for (int ch = 0; ch < 4; ++ch) {
          // Alpha the peer leaves out is checked against what was written.
          const bool alpha_written = ch == 3 && peer.channels < 4 && c.make.samples == 4;
          const int written = sample_of(c.make.bits, x, line, ch);
          const int want16 = c.source16 || alpha_written ? written : peer16(peer, x, y, ch);
          const int want8 = alpha_written ? written >> 8 : peer8(peer, x, y, ch);
          ASSERT_EQ(lines.wide[line][x][ch], want16) << x << "," << line << " channel " << ch;
          ASSERT_EQ(lines.narrow[line][x][ch], want8) << x << "," << line << " channel " << ch;
        }
      }
    EXPECT_EQ(closeimg(h), 0);
  }
}

TEST(TiffRead, DirectLinesAreFoundWhereverTheirStripsLieAndOnlyWhereTheyAreWhole) {
  // Strips of two lines written last first, so that the file holds them in
  // reverse order; strip 1 holds one of its lines.
  TiffSession s;
  TiffMaker m = maker(8, 3, PHOTOMETRIC_RGB);
  const std::string path = s.dir / "reversed.tif";
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, m.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, m.height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 2);
  const int scanline = m.width * 3;
  for (int strip = 2; strip >= 0; --strip) {
    std::vector<uint8_t> bytes;
    for (int y = 2 * strip; y < 2 * strip + (strip == 1 ? 1 : 2); ++y)
      for (int x = 0; x < m.width; ++x)
        for (int c = 0; c < 3; ++c) bytes.push_back(static_cast<uint8_t>(sample_of(8, x, y, c)));
    ASSERT_EQ(TIFFWriteRawStrip(tif, strip, bytes.data(), static_cast<tmsize_t>(bytes.size())),
              static_cast<tmsize_t>(bytes.size()));
  }
  TIFFClose(tif);
  // Every line reads as libtiff reads its strip, and fails where libtiff
  // fails the strip.
  auto check_lines = [&](std::vector<bool> want_readable) {
    TIFF* peer = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(peer, nullptr);
    std::vector<std::vector<uint8_t>> strips(3, std::vector<uint8_t>(2 * scanline));
    std::vector<bool> readable;
    for (int i = 0; i < 3; ++i) {
      const tmsize_t whole = static_cast<tmsize_t>(strips[i].size());
      readable.push_back(TIFFReadEncodedStrip(peer, i, strips[i].data(), whole) == whole);
    }
    TIFFClose(peer);
    EXPECT_EQ(readable, want_readable);
    imginfo* h = openimg(path.c_str());
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(tiff_record(h)->direct);
    ASSERT_EQ(makeseekable(h), 0);
    std::vector<unsigned> line(m.width);
    // Backwards, so that every line comes from a strip other than the last.
    for (int y = m.height - 1; y >= 0; --y) {
      ASSERT_EQ(seekline(h, y), 0);
      ASSERT_EQ(readline(h, line.data()), readable[y / 2] ? 0 : 1) << y;
      if (!readable[y / 2]) continue;
      for (int x = 0; x < m.width; ++x)
        for (int c = 0; c < 3; ++c)
          ASSERT_EQ(line[x] >> (8 * c) & 255, strips[y / 2][(y % 2) * scanline + 3 * x + c]) << x << "," << y;
    }
    closeimg(h);
  };
  check_lines({true, true, true});
  // The whole strips hold what was written; libtiff takes the short one as
  // whole, its second line from the strip after it in the file.
  imginfo* h = openimg(path.c_str());
  ASSERT_NE(h, nullptr);
  std::vector<unsigned> line(m.width);
  for (int y = 0; y < m.height; ++y) {
    ASSERT_EQ(readline(h, line.data()), 0);
    if (y != 3) {
      EXPECT_EQ(int(line[5] >> 8 & 255), sample_of(8, 5, y, 1)) << y;
    }
  }
  closeimg(h);
  // A strip whose lines would run past the end of the file is refused; the
  // others still read.
  patch_entry(path, TIFFTAG_STRIPOFFSETS, 1000000, 2);
  check_lines({true, true, false});
}

TEST(TiffRead, AFileCutShortWhileOpenFailsTheLinesItNoLongerHolds) {
  TiffSession s;
  for (int compression : {COMPRESSION_NONE, COMPRESSION_LZW})
    for (uint32_t rows : {0u, 7u}) {
      SCOPED_TRACE(testing::Message() << "compression " << compression << " rows " << rows);
      TiffMaker m = maker(16, 3, PHOTOMETRIC_RGB);
      m.width = 1500;  // more lines than the direct path reads at once
      m.height = 60;
      m.rows_per_strip = rows;
      m.compression = compression;
      const std::string path = s.dir / "cut.tif";
      ASSERT_TRUE(m.write(path));
      imginfo* h = openimg(path.c_str());
      ASSERT_NE(h, nullptr);
      ASSERT_EQ(truncate(path.c_str(), off_t(m.width * m.height * 3)), 0);  // half the samples
      std::vector<unsigned short> line(4 * m.width);
      int y = 0;
      for (; y < m.height && readline16(h, line.data()) == 0; ++y)
        ASSERT_EQ(line[4 * 700 + 1], sample_of(16, 700, y, 1)) << y;
      EXPECT_LE(y, m.height / 2);
      EXPECT_EQ(s.capture.last(), "ERROR: Failed to read line " + std::to_string(y) + " from [" + path +
                                      "] format [tiff]\n");
      while (++y < m.height) EXPECT_EQ(readline16(h, line.data()), 1) << y;
      closeimg(h);
    }
  // Strip 0 codes its line 0, which ends in 'Z' (0x5A, the byte the driver
  // first fills with), then a stored block too long for line 1: libtiff
  // takes the strip as whole, its decoder wrote line 0. Line 1 fails, in
  // any order.
  TiffMaker m = maker(8, 1, PHOTOMETRIC_MINISBLACK);
  m.width = 8;
  m.rows_per_strip = 2;
  m.compression = COMPRESSION_ADOBE_DEFLATE;
  const std::string path = s.dir / "short.tif";
  ASSERT_TRUE(m.write(path));
  std::string strip = std::string("\x78\x01\0\x08\0\xf7\xff" "ABCDEFGZ" "\x01\x28\0\xd7\xff", 20) + std::string(40, 'J');
  strip += "\x4f\x41\x0d\xc7";  // the Adler-32 sum of the 48 bytes
  TIFF* tif = TIFFOpen(path.c_str(), "r+");
  ASSERT_EQ(TIFFWriteRawStrip(tif, 0, &strip[0], tmsize_t(strip.size())), tmsize_t(strip.size()));
  TIFFClose(tif);
  imginfo* h = openimg(path.c_str());
  ASSERT_EQ(makeseekable(h), 0);
  std::vector<unsigned> line(8);
  for (int y : {1, 0, 3, 1, 2}) {
    ASSERT_EQ(seekline(h, y), 0);
    ASSERT_EQ(readline(h, line.data()), y == 1 ? 1 : 0) << y;
    EXPECT_TRUE(y == 1 || int(line[7] & 255) == (y == 0 ? 'Z' : sample_of(8, 7, y, 0))) << y;
  }
  EXPECT_TRUE(s.capture.has("TIFF: Line 1 is missing from its strip.\n"));
  closeimg(h);
  m.predictor = PREDICTOR_HORIZONTAL;  // which libtiff runs over the fill of line 1 too
  ASSERT_TRUE(m.write(path));
  tif = TIFFOpen(path.c_str(), "r+");
  ASSERT_EQ(TIFFWriteRawStrip(tif, 0, &strip[0], tmsize_t(strip.size())), tmsize_t(strip.size()));
  TIFFClose(tif);
  h = openimg(path.c_str());
  for (int y = 0; y < 4; ++y) EXPECT_EQ(readline(h, line.data()), y == 1 ? 1 : 0) << y;
  closeimg(h);
}

TEST(TiffRead, TransposedOrientationsReadAsTheNearestUnturnedOne) {
  TiffSession s;
  const std::string plain = s.dir / "plain.tif", turned = s.dir / "turned.tif", flipped = s.dir / "flipped.tif";
  ASSERT_TRUE(maker(8, 3, PHOTOMETRIC_RGB).write(plain));
  ASSERT_TRUE(run_command("cp " + plain + " " + turned + " && /usr/bin/tiffset -s 274 7 " + turned));
  ASSERT_TRUE(run_command("cp " + plain + " " + flipped + " && /usr/bin/tiffset -s 274 2 " + flipped));
  Lines want, got;
  ASSERT_TRUE(read_all(plain, nullptr, &want));
  struct {
    const std::string& path;
    int order;
    const char* warning;
  } cases[] = {{turned, IMGIO_BOTTOM_FIRST, "TIFF: Warning, using bottom-left orientation.\n"},
               {flipped, IMGIO_TOP_FIRST, "TIFF: Warning, using top-left orientation.\n"}};
  for (const auto& c : cases) {
    imginfo* h = nullptr;
    ASSERT_TRUE(read_all(c.path, &h, &got));
    EXPECT_EQ(h->line_order, c.order);
    EXPECT_TRUE(s.capture.has(c.warning));
    EXPECT_EQ(got.wide, want.wide);
    EXPECT_EQ(got.narrow, want.narrow);
    closeimg(h);
  }
}

TEST(TiffRead, SampleRangesMapGreyAndNarrowedColourAndSixteenBitsIgnoreThem) {
  TiffSession s;
  struct Case {
    int bits, samples, photometric, low, high;
  } cases[] = {{8, 1, PHOTOMETRIC_MINISBLACK, 20, 200}, {8, 1, PHOTOMETRIC_MINISWHITE, 10, 60},
               {4, 1, PHOTOMETRIC_MINISBLACK, 3, 12},   {8, 3, PHOTOMETRIC_RGB, 0, 100},
               {8, 4, PHOTOMETRIC_SEPARATED, 50, 255},  {16, 3, PHOTOMETRIC_RGB, 1000, 2000},
               {16, 1, PHOTOMETRIC_MINISBLACK, 5, 9}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits photometric " << c.photometric);
    TiffMaker m = maker(c.bits, c.samples, c.photometric);
    m.min_sample = c.low;
    m.max_sample = c.high;
    const std::string path = s.dir / "range.tif";
    ASSERT_TRUE(m.write(path));
    Lines lines;
    ASSERT_TRUE(read_all(path, nullptr, &lines));
    for (int y = 0; y < m.height; ++y)
      for (int x = 0; x < m.width; ++x)
        for (int ch = 0; ch < std::min(c.samples, 3); ++ch) {
          const int v = sample_of(c.bits, x, y, ch);
          int want = v;
          if (c.bits <= 8) {
            // Clamped into the range, which spreads over 0..255.
            const int range = c.high - c.low;
            const int i = std::min(std::max(v, c.low), c.high) - c.low;
            want = (c.photometric == PHOTOMETRIC_MINISWHITE ? range - i : i) * 255 / range;
          }
          const int want8 = c.bits == 16 ? want >> 8 : want;
          EXPECT_EQ(lines.narrow[y][x][ch], want8) << x << "," << y << "," << ch;
        }
  }
  // A range of one value divides by nothing, a reversed one has a negative
  // size: both are refused.
  for (int high : {20, 19}) {
    TiffMaker m = maker(8, 1, PHOTOMETRIC_MINISBLACK);
    m.min_sample = 20;
    m.max_sample = high;
    const std::string path = s.dir / "empty.tif";
    ASSERT_TRUE(m.write(path));
    EXPECT_EQ(openimg(path.c_str()), nullptr);
    EXPECT_TRUE(s.capture.has("TIFF: Sample values from 20 to " + std::to_string(high) + " leave no range to map.\n"));
  }
}

TEST(TiffRead, PaletteWhiteStaysWhiteAndEightBitMapsAreTakenAsTheyAre) {
  TiffSession s;
  TiffMaker m = maker(8, 1, PHOTOMETRIC_PALETTE);
  m.width = 2;
  m.height = 1;
  m.sample = [](int x, int, int) { return x; };
  m.colormap = std::vector<uint16_t>(768);
  m.colormap[0] = 65535;  // red of entry 0
  m.colormap[256 + 1] = 65280;
  m.colormap[512] = 257;
  const std::string path = s.dir / "white.tif";
  ASSERT_TRUE(m.write(path));
  Lines lines;
  ASSERT_TRUE(read_all(path, nullptr, &lines));
  EXPECT_EQ(lines.narrow[0][0], (std::array<int, 4>{255, 0, 1, 255}));
  EXPECT_EQ(lines.narrow[0][1], (std::array<int, 4>{0, 255, 0, 255}));
  EXPECT_EQ(lines.wide[0][0], (std::array<int, 4>{65535, 0, 257, 65535}));
  // Entries that all fit a byte are bytes already.
  m.colormap = std::vector<uint16_t>(768);
  m.colormap[0] = 200;
  m.colormap[256 + 1] = 255;
  ASSERT_TRUE(m.write(path));
  ASSERT_TRUE(read_all(path, nullptr, &lines));
  EXPECT_TRUE(s.capture.has("TIFF: Warning, assuming 8-bit colormap.\n"));
  EXPECT_EQ(lines.narrow[0][0], (std::array<int, 4>{200, 0, 0, 255}));
  EXPECT_EQ(lines.wide[0][1], (std::array<int, 4>{0, 65535, 0, 65535}));
}

TEST(TiffRead, FilesThatCannotBeReadAreRefusedAtOpenWithTheirMessage) {
  TiffSession s;
  auto with_extra = [](TiffMaker m, int samples, uint16_t photometric) {
    m.samples = samples;
    m.photometric = photometric;
    return m;
  };
  TiffMaker cmyk_planar = maker(8, 4, PHOTOMETRIC_SEPARATED);
  cmyk_planar.planar = PLANARCONFIG_SEPARATE;
  TiffMaker two = maker(8, 2, PHOTOMETRIC_MINISBLACK);
  TiffMaker palette_words = maker(16, 1, PHOTOMETRIC_PALETTE);
  palette_words.colormap.assign(3 * 65536, 0);
  struct Case {
    const char* name;
    TiffMaker make;
    const char* tool;
    const char* message;  // null: libtiff refuses the file itself
  } cases[] = {
      {"bits12", maker(12, 1, PHOTOMETRIC_MINISBLACK), nullptr, "TIFF: Cannot read images with 12 bits per sample.\n"},
      {"two", two, nullptr, "Cannot read images with 2 samples per pixel.\n"},
      {"cmyk3", with_extra(maker(8, 3, PHOTOMETRIC_RGB), 3, PHOTOMETRIC_SEPARATED), nullptr,
       "TIFF: Samples per pixel of 3 is incompatible with CMYK photometric.\n"},
      {"ycbcr", maker(8, 3, PHOTOMETRIC_YCBCR), nullptr,
       "TIFF: Cannot read photometric 6 with 8 bits and 3 samples per pixel.\n"},
      {"lab", maker(8, 3, PHOTOMETRIC_CIELAB), nullptr,
       "TIFF: Cannot read photometric 8 with 8 bits and 3 samples per pixel.\n"},
      {"mask", maker(1, 1, PHOTOMETRIC_MASK), nullptr,
       "TIFF: Cannot read photometric 4 with 1 bits and 1 samples per pixel.\n"},
      {"rgb4", maker(4, 3, PHOTOMETRIC_RGB), nullptr,
       "TIFF: Cannot read photometric 2 with 4 bits and 3 samples per pixel.\n"},
      {"grey3", maker(8, 3, PHOTOMETRIC_MINISBLACK), nullptr,
       "TIFF: Cannot read photometric 1 with 8 bits and 3 samples per pixel.\n"},
      {"pal16", palette_words, nullptr, "TIFF: Cannot read photometric 3 with 16 bits and 1 samples per pixel.\n"},
      {"cmyk_planar", cmyk_planar, nullptr, "TIFF: Cannot read separate planes with photometric 5.\n"},
      {"tiled", maker(8, 3, PHOTOMETRIC_RGB), "/usr/bin/tiffcp -t -w 16 -l 16 %s %s.c && mv %s.c %s",
       "TIFF: Cannot read tiled images.\n"},
      {"no_offsets", maker(8, 3, PHOTOMETRIC_RGB), "/usr/bin/tiffset -u 273 %s", nullptr},
      {"rows0", maker(8, 3, PHOTOMETRIC_RGB), "rows 0", nullptr},
      {"outside", maker(8, 3, PHOTOMETRIC_RGB), "offset", "TIFF: The image data lies beyond the end of the file.\n"},
      {"scheme0", maker(8, 4, PHOTOMETRIC_SEPARATED), "/usr/bin/tiffset -s 259 0 %s", "TIFF: Cannot read compression scheme 0.\n"},
      {"huge", maker(8, 3, PHOTOMETRIC_RGB), "/usr/bin/tiffset -s 256 70000 %s",
       "TIFF: Image size 70000x6 is out of range.\n"},
  };
  setkeyval("IMGIO_MAX_PIXELS", "400000");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = s.dir / (std::string(c.name) + ".tif");
    ASSERT_TRUE(c.make.write(path));
    const std::string tool = c.tool ? c.tool : "";
    if (tool == "rows 0") {
      patch_entry(path, TIFFTAG_ROWSPERSTRIP, 0);
    } else if (tool == "offset") {
      patch_entry(path, TIFFTAG_STRIPOFFSETS, 100000);
    } else if (!tool.empty()) {
      std::string command = tool;
      for (size_t at; (at = command.find("%s")) != std::string::npos;) command.replace(at, 2, shell_quoted(path));
      ASSERT_TRUE(run_command(command + " 2>/dev/null"));
    }
    s.capture.messages.clear();
    testing::internal::CaptureStderr();
    EXPECT_EQ(openimg(path.c_str()), nullptr);
    // libtiff's own refusal is reported once: through the channel, at its level, not on standard error too.
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    if (c.message) {
      EXPECT_TRUE(s.capture.has(c.message)) << s.capture.messages.front().text;
    } else {
      EXPECT_EQ(s.capture.messages.size(), 2u);
      EXPECT_EQ(s.capture.messages[0].level, IMSSYS_ERROR) << s.capture.messages[0].text;
    }
    EXPECT_EQ(s.capture.last(), "ERROR: Failed to open file [" + path + "] format [tiff]\n");
  }
}

TEST(TiffRead, OneCompressedStripIsDecodedOnceWhateverRowsPerStripSays) {
  TiffSession s;
  TiffMaker m = maker(16, 3, PHOTOMETRIC_RGB);
  m.compression = COMPRESSION_DEFLATE;
  m.rows_per_strip = 0xFFFFFFFFu;
  const std::string path = s.dir / "one.tif";
  ASSERT_TRUE(m.write(path));
  imginfo* h = openimg(path.c_str());
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(s.capture.has("TIFF: Warning: Entire image is in one strip AND it is compressed.\n"));
  const TiffRecord* t = tiff_record(h);
  EXPECT_FALSE(t->direct);
  EXPECT_EQ(t->rows_per_strip, 6u);
  EXPECT_EQ(t->plane_bytes, 6 * 13 * 3 * 2);
  closeimg(h);
}

TEST(TiffRead, WholeBuffersSeeksAndTheHeader) {
  TiffSession s;
  for (int orientation : {ORIENTATION_TOPLEFT, ORIENTATION_BOTLEFT}) {
    for (int rows : {0, 2, -2}) {
      SCOPED_TRACE(testing::Message() << "orientation " << orientation << " rows " << rows);
      // Negative rows: the strips are compressed, and read through libtiff.
      TiffMaker m = maker(16, 4, PHOTOMETRIC_RGB);
      m.orientation = orientation;
      m.rows_per_strip = static_cast<uint32_t>(std::abs(rows));
      m.compression = rows < 0 ? COMPRESSION_LZW : COMPRESSION_NONE;
      const std::string path = s.dir / "whole.tif";
      ASSERT_TRUE(m.write(path));
      int w = 0, h = 0;
      unsigned short* deep = readbuf16(path.c_str(), &w, &h);
      unsigned int* narrow = readbuf(path.c_str(), &w, &h);
      ASSERT_NE(deep, nullptr);
      ASSERT_NE(narrow, nullptr);
      EXPECT_EQ(w, 13);
      EXPECT_EQ(h, 6);
      // Buffers hold the picture from its bottom row up.
      for (int line = 0; line < h; ++line) {
        const int row = orientation == ORIENTATION_BOTLEFT ? line : h - 1 - line;
        for (int x = 0; x < w; ++x)
          for (int c = 0; c < 4; ++c) {
            const int v = sample_of(16, x, line, c);
            ASSERT_EQ(deep[(size_t(row) * w + x) * 4 + c], v) << x << "," << line;
            ASSERT_EQ(narrow[size_t(row) * w + x] >> (8 * c) & 255, unsigned(v >> 8)) << x << "," << line;
          }
      }
      destroybuffer16(deep);
      destroybuffer(narrow);
      // Any line, in any order, on the direct path and from strips alike.
      imginfo* handle = openimg(path.c_str());
      ASSERT_NE(handle, nullptr);
      ASSERT_EQ(makeseekable(handle), 0);
      std::vector<unsigned short> line(4 * 13);
      for (int y : {4, 1, 5, 0}) {
        ASSERT_EQ(seekline(handle, y), 0);
        ASSERT_EQ(readline16(handle, line.data()), 0);
        EXPECT_EQ(line[4 * 7 + 2], sample_of(16, 7, y, 2)) << y;
      }
      closeimg(handle);
    }
  }
  // The header names what the file holds.
  TiffMaker m = maker(8, 3, PHOTOMETRIC_RGB);
  m.planar = PLANARCONFIG_SEPARATE;
  m.compression = COMPRESSION_LZW;
  m.orientation = ORIENTATION_BOTLEFT;
  const std::string path = s.dir / "header.tif";
  ASSERT_TRUE(m.write(path));
  imginfo* h = openimg(path.c_str());
  ASSERT_NE(h, nullptr);
  s.capture.messages.clear();
  ASSERT_EQ(showheader(h), 0);
  for (const char* text : {"\nTIFF Specific Image Information.\n", "================================\n",
                           "         Bits: 8\n", "     Channels: 3\n", "   Interleave: by band.\n",
                           "  Compression: Lempel-Ziv & Welch.\n",
                           "  Orientation: 1st. pixel = bottom left of image.\n",
                           "  Value meaning: RGB colour.\n"})
    EXPECT_TRUE(s.capture.has(text)) << text;
  closeimg(h);
  imginfo bare{};
  EXPECT_EQ(TiffGetCsp(&bare), 0);
}

TEST(TiffRead, NoMemoryFailsTheOpenAndLeavesNothingBehind) {
  TiffSession s;
  struct {
    const char* name;
    int rows;
    int compression;
    const char* mode;
  } files[] = {{"direct.tif", 0, COMPRESSION_NONE, "w"},
               {"swapped.tif", 2, COMPRESSION_NONE, "wb"},
               {"strips.tif", 2, COMPRESSION_LZW, "w"}};
  for (const auto& f : files) {
    TiffMaker m = maker(16, 3, PHOTOMETRIC_RGB);
    m.rows_per_strip = static_cast<uint32_t>(f.rows);
    m.compression = f.compression;
    m.mode = f.mode;
    const std::string path = s.dir / f.name;
    ASSERT_TRUE(m.write(path));
    // Enough grants open it; every smaller number fails one allocation on
    // the way, which the sanitized build would show as a leak if anything
    // were kept.
    int needed = 0;
    for (int grants = 0; grants < 20 && !needed; ++grants) {
      FailingHeap heap(grants);
      imginfo* h = openimg(path.c_str());
      if (h) {
        needed = grants;
        closeimg(h);
      }
    }
    EXPECT_GT(needed, 0) << f.name;
  }
  // Nor does a close leave the file mapped.
  auto mappings = [] {
    std::ifstream maps("/proc/self/maps");
    return std::count(std::istreambuf_iterator<char>(maps), std::istreambuf_iterator<char>(), '\n');
  };
  const auto before = mappings();
  for (int i = 0; i < 20; ++i) {
    imginfo* h = openimg((s.dir / "direct.tif").c_str());
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(tiff_record(h)->direct);
    closeimg(h);
  }
  EXPECT_EQ(mappings(), before);
  EXPECT_TRUE(s.capture.has("TIFF: No space for the driver record.\n"));
  EXPECT_TRUE(s.capture.has("TIFF: No space for the read buffer.\n"));
  EXPECT_TRUE(s.capture.has("TIFF: No space for the strip buffer.\n"));
}
