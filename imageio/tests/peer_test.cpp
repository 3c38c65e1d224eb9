// Peers read the files our drivers write and our drivers read the files
// peers write: one table of formats and of the programs, called by their
// Debian paths, that turn those files into netpbm pictures and back.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver_test_support.h"
#include "imgio_memory_driver.h"
#include "imgio_message_capture.h"

namespace {

struct Shape {
  int width, height;
};

std::vector<Shape> widths(std::initializer_list<int> list, int height) {
  std::vector<Shape> shapes;
  for (int width : list) shapes.push_back({width, height});
  return shapes;
}

typedef Picture (*Maker)(int width, int height);

template <int Mask>
Picture masked(int width, int height) {
  return map_samples(pattern8(width, height), [](int v, int c) { return c == 3 ? v : v & Mask; });
}

Picture grey(int width, int height) {
  const Picture p = pattern8(width, height);
  return make_picture(width, height, [&](int x, int y, int c) { return p.at(x, y)[c == 3 ? 3 : 0]; });
}

// Runs of 5 equal pixels every 15, alpha not full.
Picture runs(int width, int height) {
  const Picture p = pattern8(width, height);
  return make_picture(width, height, [&](int x, int y, int c) {
    return c == 3 ? (x * y) & 255 : p.at(x / 5 % 3 == 0 ? x / 5 * 5 : x, y)[c];
  });
}

// Runs of 600 equal pixels, beyond what one count of a byte holds.
Picture long_runs(int width, int height) {
  const Picture p = pattern8(width, height);
  return make_picture(width, height, [&](int x, int y, int c) {
    return x >= 600 ? p.at(x, y)[c] : c == 3 ? 255 : 9 - c + y * (c == 2);
  });
}

// Every 10-bit value in every channel over 1024 pixels, in 16-bit samples.
Picture ramp10(int width, int height) {
  return make_picture(width, height, [](int x, int y, int c) {
    const int i = (x + 37 * y) & 1023;
    return c == 3 ? 65535 : (c == 0 ? i : c == 1 ? 1023 - i : i ^ 0x2AA) << 6;
  });
}

// Pixel pairs of one colour that changes smoothly, in mid range.
Picture smooth(int width, int height) {
  return make_picture(width, height, [](int x, int y, int c) {
    return c == 3 ? 255 : c == 0 ? 60 + x / 2 * 2 : c == 1 ? 70 + 4 * y : 90 + x / 2 + 3 * y;
  });
}

Picture flat(int width, int height) {
  return make_picture(width, height, [](int, int, int c) { return c == 3 ? 255 : 0x5A + 50 * c; });
}

// Pillow on the file {in} as im.
std::string pillow(const std::string& code) {
  return "/usr/bin/python3 -c \"import sys; from PIL import Image; im = Image.open(sys.argv[1]); " + code + "\" {in}";
}

struct Setting {
  const char* key = nullptr;
  const char* value = nullptr;
};

// A picture of ours, written in 16-bit lines when deep, with a setting.
struct Ours {
  Maker make;
  bool deep = false;
  Setting setting = {};
};

// A peer that turns our file {in} of size {w} {h} into a netpbm picture on
// its standard output, compared to ours at bits of precision; or, for
// size_only, that prints "width height".
struct Reader {
  std::string command;
  int bits = 8;
  int tolerance = 0;
  bool size_only = false;
};

enum class Map { any, fits, exceeds };  // pictures of at most 256 colours, of more

// A peer that turns a netpbm picture {in} of a maker's picture (a PGM when
// grey; maxval 2^bits - 1) into a file of the format, holding head at its
// offset, on its standard output; for pictures of the colours map allows.
// We read its file in 8-bit and 16-bit lines, within tolerance 8-bit steps,
// the first skip columns aside.
struct Head {
  size_t at = 0;
  std::string bytes;
};
struct Writer {
  std::string command;
  Maker make;
  Head head = {};
  bool grey = false;
  int bits = 8;
  Map map = Map::any;
  int tolerance = 0;
  int skip = 0;
};

struct Format {
  const char* name;
  const char* ext;
  std::vector<Setting> settings;
  std::vector<Shape> shapes;
  bool quantised;  // peers see what we read of our files, not what we wrote
  int widen;       // 8-bit files read in 16-bit lines give v * widen
  std::vector<Ours> ours;
  std::vector<Reader> readers;
  std::vector<Writer> writers;
  std::string decoder = {};  // of a lossy format: we read their files as it does
};

void PrintTo(const Format& f, std::ostream* out) { *out << f.name; }

const std::string magick_ppm = "/usr/bin/convert {in} -depth 8 ppm:-";
// Grey stays grey, which the test refuses of our colour files.
const std::string pillow_ppm =
    pillow("(im.convert('RGB') if im.mode in ('P', 'RGBA') else im).save(sys.stdout.buffer, 'PPM')");
const std::string pillow_map = "im.convert('P', palette=Image.ADAPTIVE, colors=256)";

const Format formats[] = {
    {"gif", ".gif", {}, widths({1, 2, 7, 640}, 4), true, 256,
     {{pattern8}},
     {{"/usr/bin/giftopnm {in}"}, {magick_ppm}, {pillow_ppm},
      // gif2rgb writes bare samples: a PPM header goes before them.
      {"printf 'P6 {w} {h} 255\\n'; /usr/bin/gif2rgb -1 {in}"}},
     {{"/usr/bin/pamtogif {in}", masked<0xE0>, {0, "GIF87a"}},
      {"/usr/bin/convert {in} GIF87:-", masked<0xE0>, {0, "GIF87a"}},
      {pillow(pillow_map + ".save(sys.stdout.buffer, 'GIF')"), masked<0xE0>, {0, "GIF87a"}}}},
    {"sgisgi", ".sgi", {}, widths({1, 2, 7, 640}, 3), false, 257,
     {{pattern8}},
     // sgitopnm subtracts the header's minimum, that of the samples
     // written: pattern8 holds 0.
     {{"/usr/bin/sgitopnm {in}"}, {magick_ppm}, {pillow_ppm}},
     {{"/usr/bin/pnmtosgi -rle {in}", pattern8},
      {"/usr/bin/pnmtosgi -verbatim {in}", pattern8},
      {"/usr/bin/pnmtosgi -rle {in}", pattern16, {}, false, 16},
      {"/usr/bin/pnmtosgi -verbatim {in}", pattern16, {}, false, 16},
      {"/usr/bin/convert {in} -compress RLE -depth 8 sgi:-", pattern8},
      {"/usr/bin/convert {in} -compress None -depth 8 sgi:-", pattern8},
      {"/usr/bin/convert {in} -compress RLE -depth 16 sgi:-", pattern16, {}, false, 16},
      {"/usr/bin/convert {in} -compress None -depth 16 sgi:-", pattern16, {}, false, 16},
      {pillow("im.save(sys.stdout.buffer, 'SGI')"), pattern8}}},
    // Our lines are not padded to an even byte count as the peers' are:
    // they read ours of even widths only.
    {"sun", ".ras", {}, widths({2, 640}, 3), false, 257,
     {{pattern8}, {masked<0xC0>}},
     {{"/usr/bin/rasttopnm {in}"}, {magick_ppm}, {pillow_ppm}},
     // pnmtorast writes 8-bit mapped rasters where the colours fit a map,
     // ImageMagick where asked to; its 24-bit rasters are of type 3.
     {{"/usr/bin/pnmtorast -standard {in}", pattern8, {12, std::string("\0\0\0\x08", 4)}, false, 8, Map::fits},
      {"/usr/bin/pnmtorast -standard {in}", masked<0xC0>, {12, std::string("\0\0\0\x08", 4)}, false, 8, Map::fits},
      {"/usr/bin/pnmtorast -standard {in}", pattern8, {12, std::string("\0\0\0\x18", 4)}, false, 8, Map::exceeds},
      {"/usr/bin/convert {in} -type Palette sun:-", pattern8, {}, false, 8, Map::fits},
      {"/usr/bin/convert {in} -type Palette sun:-", masked<0xC0>, {}, false, 8, Map::fits},
      {"/usr/bin/convert {in} sun:-", pattern8, {}, false, 8, Map::exceeds}}},
    // ImageMagick applies a Targa file's origin only when asked to, and
    // writes top rows first behind a lower-left origin unless the
    // orientation is named.
    {"targa2", ".tga", {}, widths({1, 2, 7, 640}, 3), false, 256,
     {{pattern8, false, {"IMGIO_TARGA_COMPRESS", "no"}}, {pattern8, false, {"IMGIO_TARGA_COMPRESS", "yes"}}},
     {{"/usr/bin/tgatoppm {in}"}, {"/usr/bin/convert {in} -auto-orient -depth 8 ppm:-"}, {pillow_ppm}},
     {{"/usr/bin/pamtotga -rgb -norle {in}", pattern8, {2, "\x02"}},
      {"/usr/bin/pamtotga -rgb {in}", pattern8, {2, "\x0a"}},
      {"/usr/bin/pamtotga -mono -norle {in}", grey, {2, "\x03"}, true},
      {"/usr/bin/pamtotga -mono {in}", grey, {2, "\x0b"}, true},
      {"/usr/bin/pamtotga -cmap -norle {in}", masked<0xE0>, {2, "\x01"}},
      {"/usr/bin/pamtotga -cmap {in}", masked<0xE0>, {2, "\x09"}},
      {"/usr/bin/convert {in} -orient TopLeft -compress None tga:-", pattern8, {2, "\x02"}},
      {"/usr/bin/convert {in} -orient TopLeft -compress RLE tga:-", pattern8, {2, "\x0a"}},
      {"/usr/bin/convert {in} -orient TopLeft -compress None tga:-", grey, {2, "\x03"}, true},
      {"/usr/bin/convert {in} -orient TopLeft -compress RLE tga:-", grey, {2, "\x0b"}, true},
      {"/usr/bin/convert {in} -orient TopLeft -type Palette -compress None tga:-", masked<0xE0>, {2, "\x01"}},
      {"/usr/bin/convert {in} -orient TopLeft -type Palette -compress RLE tga:-", masked<0xE0>, {2, "\x09"}},
      {pillow("im.save(sys.stdout.buffer, 'TGA', rle=False)"), pattern8, {2, "\x02"}},
      {pillow("im.save(sys.stdout.buffer, 'TGA', rle=True)"), pattern8, {2, "\x0a"}},
      {pillow("im.save(sys.stdout.buffer, 'TGA', rle=False)"), grey, {2, "\x03"}, true},
      {pillow(pillow_map + ".save(sys.stdout.buffer, 'TGA', rle=True)"), masked<0xE0>, {2, "\x09"}}}},
    // Both sides truncate luma and chroma toward zero: a few samples of
    // ours land 4 below, none further. The peer's chroma of a pair blends
    // in the pair before, which the first pair of a line does not have.
    {"yuv", ".yuv", {{"IMGIO_YUV_LINESIZE", "64"}, {"IMGIO_YUV_LINES", "16"}}, {{64, 16}}, false, 256,
     {{smooth}},
     {{"/usr/bin/yuvtoppm {w} {h} {in}", 8, 4}},
     {{"/usr/bin/ppmtoyuv {in}", smooth, {}, false, 8, Map::any, 3, 2}}},
    // ImageMagick reads Cineon as log data; relabelled as sRGB its 16-bit
    // samples are round(v * 65535 / 1023), which round back to v. Writing,
    // it takes samples labelled log as they are but truncates
    // q * 1023 / 65535: half a 10-bit step added first makes that v again.
    {"cin", "", {}, widths({1024, 1, 2, 7, 640}, 3), false, 0,
     {{ramp10, true}},
     {{"/usr/bin/convert cin:{in} -set colorspace sRGB -depth 16 ppm:-", 10}},
     {{"/usr/bin/convert {in} -set colorspace Log -evaluate add 32 cin:-", ramp10, {}, false, 10}}},
    // No program here writes Alias files. ImageMagick looks for a further
    // picture after the last one and drops them all when none follows:
    // asking for picture [0] stops it before that. 16-bit lines keep
    // their high bytes.
    {"alias", ".als", {}, {{300, 7}, {33, 4}, {700, 2}}, false, 0,
     {{runs}, {pattern16, true}, {long_runs}},
     {{"/usr/bin/convert pix:{in}'[0]' -depth 8 ppm:-"}},
     {}},
    // Neither RLA reader here returns pictures: ImageMagick 6.9.11 counts
    // columns across rows and calls every file of more than one row
    // corrupt (one row: the picture is dropped at close), and rlatopam
    // 11.01 takes the header as 752 bytes and writes as many samples a
    // pixel as there are matte channels. Neither writes RLA. What
    // ImageMagick shows of our files is their header: the size it reads
    // from the active window.
    {"rla", ".rla", {}, {{300, 7}, {3, 129}, {33, 4}}, false, 0,
     {{pattern8}, {pattern16, true}},
     {{"/usr/bin/identify -ping -format '%w %h' rla:{in}", 8, 0, true}},
     {}},
    // Our reading of their files is compared with djpeg's.
    {"jpeg", ".jpg", {}, {{45, 37}, {800, 600}}, true, 257,
     {{pattern8}, {pattern16, true}},
     {{"/usr/bin/djpeg -pnm {in}"}, {pillow_ppm}},
     {{"/usr/bin/cjpeg {in}", smooth},
      {"/usr/bin/cjpeg -progressive {in}", smooth},
      {"/usr/bin/cjpeg -restart 1 {in}", smooth},
      // The arithmetic coder's data of a flat picture ends long before its
      // last rows, and a whole file's may end before a flat tail.
      {"/usr/bin/cjpeg -arithmetic {in}", smooth},
      {"/usr/bin/cjpeg -arithmetic {in}", flat},
      {"/usr/bin/cjpeg -sample 1x1 {in}", smooth},
      {"/usr/bin/cjpeg -grayscale {in}", smooth, {}, true},
      {"/usr/bin/cjpeg -optimize -quality 95 {in}", smooth},
      // Flat frames take about the fewest bytes a frame of their size can:
      // two bits a block, one in progressive files, and the header.
      {"/usr/bin/cjpeg -quality 1 -optimize {in}", flat},
      {"/usr/bin/cjpeg -quality 100 -optimize -grayscale {in}", flat, {}, true},
      {"/usr/bin/convert {in} -quality 1 jpeg:-", flat},
      {"/usr/bin/cjpeg -quality 1 -progressive {in}", flat},
      {"/usr/bin/convert {in} -quality 100 -interlace Plane jpeg:-", flat}},
     "/usr/bin/djpeg -pnm {in}"},
};

// Runs a peer's command line with {in} the quoted input path and {w} {h}
// the picture's size, its standard output into out.
bool run_line(std::string command, const std::string& in, const Shape& s, const std::string& out) {
  const std::pair<const char*, std::string> fields[] = {
      {"{in}", shell_quoted(in)}, {"{w}", std::to_string(s.width)}, {"{h}", std::to_string(s.height)}};
  for (const auto& field : fields)
    for (size_t at; (at = command.find(field.first)) != std::string::npos;)
      command.replace(at, strlen(field.first), field.second);
  return peer_convert("/bin/sh", "-c " + shell_quoted(command), out);
}

// Samples of from bits as samples of to bits, alpha full at from bits.
Picture shifted(const Picture& p, int from, int to) {
  return map_samples(p, [&](int v, int c) {
    if (c == 3) v = (1 << from) - 1;
    return to >= from ? v << (to - from) : v >> (from - to);
  });
}

// A peer's picture at bits of precision, rounded.
Picture peer_picture(const PeerImage& image, int bits) {
  const int64_t m = image.maxval, full = (1 << bits) - 1;
  return map_samples(pnm_picture(image), [&](int v, int) { return (v * full + m / 2) / m; });
}

size_t colours(const Picture& p) {
  std::set<std::vector<uint16_t>> seen;
  for (size_t i = 0; i < p.samples.size(); i += 4) seen.insert({p.samples[i], p.samples[i + 1], p.samples[i + 2]});
  return seen.size();
}

// Every sample of got within tolerance of want, the first skip columns aside.
void expect_close(const Picture& got, const Picture& want, int tolerance, int skip, const std::string& what) {
  ASSERT_EQ(got.width, want.width) << what;
  ASSERT_EQ(got.height, want.height) << what;
  for (int y = 0; y < got.height; ++y)
    for (int x = skip; x < got.width; ++x)
      for (int c = 0; c < 4; ++c)
        if (std::abs(got.at(x, y)[c] - want.at(x, y)[c]) > tolerance) {
          ADD_FAILURE() << what << ": sample " << c << " at " << x << "," << y << " is " << got.at(x, y)[c]
                        << ", not " << want.at(x, y)[c];
          return;
        }
}

class Peers : public testing::TestWithParam<Format> {};

TEST_P(Peers, ReadOurFilesAndWeReadTheirs) {
  const Format& f = GetParam();
  ASSERT_EQ(pattern8(2, 2).samples[0], 0);  // what sgitopnm's entry counts on
  srand(8);                                 // GIF's dithering draws on rand(): the same files every run
  ImgioSession session;
  MessageCapture capture;
  TempDir dir;
  ASSERT_EQ(setimageformat(f.name), 0);
  for (const Setting& s : f.settings) setkeyval(s.key, s.value);
  const std::string ours = dir / "ours" + f.ext, theirs = dir / "theirs" + f.ext, pnm = dir / "in.pnm",
                    out = dir / "out";
  auto widened = [&f](const Picture& p) { return map_samples(p, [&f](int v, int) { return v * f.widen; }); };
  std::vector<int> used(f.writers.size());
  for (const Shape& s : f.shapes) {
    const std::string size = std::to_string(s.width) + " " + std::to_string(s.height);
    for (const Ours& o : f.ours) {
      if (o.setting.key) setkeyval(o.setting.key, o.setting.value);
      const Picture p = o.make(s.width, s.height);
      ASSERT_TRUE(write_picture(ours, p, o.deep)) << capture.last();
      Picture reference = p, wide;
      if (f.quantised) {
        ASSERT_TRUE(read_picture(ours, reference, false)) << capture.last();
        ASSERT_TRUE(read_picture(ours, wide, true)) << capture.last();
        EXPECT_EQ(wide, widened(reference)) << size;
      }
      for (const Reader& r : f.readers) {
        const std::string what = r.command + " " + size + (o.deep ? " deep" : "");
        ASSERT_TRUE(run_line(r.command, ours, s, out)) << what;
        if (r.size_only) {
          EXPECT_EQ(read_text(out), size) << what;
          continue;
        }
        PeerImage image;
        ASSERT_TRUE(read_pnm(out, &image)) << what;
        ASSERT_EQ(image.maxval, r.bits > 8 ? 65535 : 255) << what;
        EXPECT_EQ(image.channels, 3) << what;
        const int depth = o.deep && !f.quantised ? 16 : 8;
        expect_close(peer_picture(image, r.bits), shifted(reference, depth, r.bits), r.tolerance, 0, what);
      }
    }
    for (size_t i = 0; i < f.writers.size(); ++i) {
      const Writer& w = f.writers[i];
      const Picture p = w.make(s.width, s.height);
      if ((w.map == Map::fits && colours(p) > 256) || (w.map == Map::exceeds && colours(p) <= 256)) continue;
      ++used[i];
      const std::string what = w.command + " " + size + " " + std::to_string(w.bits);
      Picture want = shifted(p, w.bits > 8 ? 16 : 8, w.bits);
      write_pnm(pnm, want, (1 << w.bits) - 1, w.grey);
      ASSERT_TRUE(run_line(w.command, pnm, s, theirs)) << what;
      EXPECT_EQ(read_text(theirs).substr(w.head.at, w.head.bytes.size()), w.head.bytes) << what;
      if (!f.decoder.empty()) {
        PeerImage image;
        ASSERT_TRUE(run_line(f.decoder, theirs, s, out) && read_pnm(out, &image)) << what;
        EXPECT_EQ(image.channels, w.grey ? 1 : 3) << what;
        want = peer_picture(image, 8);
      }
      Picture back;
      ASSERT_TRUE(read_picture(theirs, back, false)) << what << ": " << capture.last();
      expect_close(back, shifted(want, w.bits, 8), w.tolerance, w.skip, what);
      if (w.bits == 8 && !f.widen) continue;
      ASSERT_TRUE(read_picture(theirs, back, true)) << what << ": " << capture.last();
      expect_close(back, w.bits > 8 ? shifted(want, w.bits, 16) : widened(want), w.tolerance * f.widen, w.skip, what);
    }
  }
  for (size_t i = 0; i < used.size(); ++i) EXPECT_GT(used[i], 0) << f.writers[i].command << " never ran";
}

INSTANTIATE_TEST_SUITE_P(Formats, Peers, testing::ValuesIn(formats),
                         [](const testing::TestParamInfo<Format>& info) { return std::string(info.param.name); });

}  // namespace
