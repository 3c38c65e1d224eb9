// The renderer's parts: its command line, controls by name, sequences,
// frame files and the turn between files and host buffers.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "program_run.h"
#include "render_clips.h"
#include "render_controls.h"
#include "render_options.h"
#include "standin_image_files.h"

namespace {

FrameImage frame_of(int width, int height, int maxval, const std::vector<uint16_t>& samples) {
  FrameImage image;
  image.width = width;
  image.height = height;
  image.maxval = maxval;
  std::string error;
  EXPECT_TRUE(frame_image_allocate(image, error)) << error;
  std::copy(samples.begin(), samples.end(), image.samples.begin());
  return image;
}

std::vector<uint16_t> values(const FrameImage& image) { return {image.samples.begin(), image.samples.end()}; }

bool parse(const std::vector<const char*>& words, RenderOptions& options, std::string& error) {
  std::vector<const char*> argv = {"tidewright_host"};
  argv.insert(argv.end(), words.begin(), words.end());
  options = RenderOptions();
  return parse_render_options(static_cast<int>(argv.size()), argv.data(), options, error);
}

}  // namespace

TEST(RenderOptions, AcceptsEveryOptionAndRefusesWhatCannotWork) {
  RenderOptions o;
  std::string error;
  ASSERT_TRUE(parse({"--input", "1=in/a.0001.png", "--input", "3=builtin", "--output", "out.0001.ppm",
                     "--viewer", "v.01.png", "--frames", "5-9", "--preroll", "2", "--set",
                     "Viscosity=0.5", "--key", "Swirl@7=0.25", "--key", "a@b@-3=x", "--res", "1/4",
                     "--depth", "64", "--size", "320x200", "--procs", "3", "--setup", "s.txt",
                     "--save-setup", "t.txt", "--log", "l.txt", "--list-controls", "my.so"},
                    o, error))
      << error;
  ASSERT_EQ(o.inputs.size(), 2u);
  EXPECT_EQ(o.inputs[1].clip, 3);
  EXPECT_EQ(o.inputs[1].name, "builtin");
  EXPECT_EQ(o.first, 5);
  EXPECT_EQ(o.last, 9);
  EXPECT_EQ(o.preroll, 2);
  ASSERT_EQ(o.keys.size(), 2u);
  EXPECT_EQ(o.keys[0].control, "Swirl");
  EXPECT_EQ(o.keys[0].frame, 7);
  EXPECT_EQ(o.keys[0].value, "0.25");
  EXPECT_EQ(o.keys[1].control, "a@b");  // the frame follows the last @
  EXPECT_EQ(o.keys[1].frame, -3);
  EXPECT_EQ(o.sets[0].control, "Viscosity");
  EXPECT_EQ(o.resolution, "1/4");
  EXPECT_EQ(o.depth, 64);
  EXPECT_EQ(o.width, 320);
  EXPECT_EQ(o.height, 200);
  EXPECT_EQ(o.processes, 3);
  EXPECT_TRUE(o.list_controls);
  EXPECT_EQ(o.plugin, "my.so");
  ASSERT_TRUE(parse({"--frames", "7", "--output", "still.png"}, o, error)) << error;
  EXPECT_EQ(o.first, 7);
  EXPECT_EQ(o.last, 7);

  const struct {
    std::vector<const char*> words;
    const char* reason;
  } refused[] = {
      {{"--frobnicate"}, "unknown option: --frobnicate"},
      {{"--frames"}, "--frames needs a value"},
      {{"--frames", "9-5"}, "--frames 9-5"},
      {{"--frames", "-3"}, "--frames -3"},
      {{"--frames", "2147483647"}, "--frames 2147483647"},
      {{"--output", "out.png", "--frames", "1-2"}, "no frame number"},
      {{"--viewer", "v.png", "--frames", "1-2"}, "no frame number"},
      {{"--output", "out.0001.xyz"}, "not the name of an image file of a known format"},
      {{"--input", "7=a.0001.png"}, "K from 1 to 6"},
      {{"--input", "1=a.0001.png", "--input", "1=builtin"}, "clip 1 given twice"},
      {{"--input", "1=noextension"}, "not the name of an image file of a known format"},
      {{"--preroll", "6", "--frames", "5-6"}, "lies after the first frame"},
      {{"--set", "=3"}, "expected NAME=VALUE"},
      {{"--key", "Swirl=3"}, "expected NAME@FRAME=VALUE"},
      {{"--key", "Swirl@x=3"}, "expected NAME@FRAME=VALUE"},
      {{"--depth", "32"}, "expected 24, 48 or 64"},
      {{"--size", "0x5"}, "expected WxH"},
      {{"--procs", "0"}, "expected 1 to 1024"},
      {{"a.so", "b.so"}, "more than one plug-in"},
  };
  for (const auto& c : refused) {
    EXPECT_FALSE(parse(c.words, o, error)) << c.reason;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

TEST(RenderControls, NamesValuesAndListing) {
  SparkFloat viscosity = {0.01f, 0.00001f, 1.0f, 0.01f, 0, "Viscosity: %.3f", nullptr};
  SparkFloat left = {1.0f, 0.01f, 99.99f, 0.01f, 0, "Percent Left: %.2f", nullptr};
  SparkInt frames = {50, 2, 1000, 1, 0, "Dissipation Frames: %d", nullptr};
  SparkBoolean grid = {0, "Finer Grid   ", nullptr};
  SparkBoolean clear1 = {0, "Clear Overlay", nullptr};
  SparkBoolean clear2 = {0, "Clear Overlay", nullptr};
  SparkPup mode = {1, 3, nullptr, {"Buoyancy Mode: None  ", "Buoyancy Mode: Input Luma  ", "Buoyancy Mode: Alt Luma  "}};
  SparkPup res = {0, 3, nullptr, {"FULL", "1/2", "1/3"}};
  SparkPush restart = {"Restart   ", nullptr};
  SparkString clip = {"1: Flow Clip", "%s", 16, nullptr};
  const std::vector<StandinControlEntry> controls = {
      {7, standin_float, &viscosity}, {22, standin_float, &left},   {21, standin_int, &frames},
      {18, standin_boolean, &grid},   {28, standin_boolean, &clear1}, {57, standin_boolean, &clear2},
      {10, standin_pup, &mode},       {33, standin_pup, &res},       {6, standin_push, &restart},
      {0, standin_string, &clip}};
  EXPECT_EQ(control_name(controls[0]), "Viscosity");
  EXPECT_EQ(control_name(controls[3]), "Finer Grid");
  EXPECT_EQ(control_name(controls[6]), "Buoyancy Mode");
  EXPECT_EQ(control_name(controls[7]), "");
  EXPECT_EQ(control_name(controls[9]), "1: Flow Clip");

  const struct {
    const char* name;
    const char* value;
    int number;  // 0: refused
    double parsed;
    const char* reason;  // of a refusal, or the warning of a clamp
  } cases[] = {
      {"viscosity", "0.5", 7, 0.5f, ""},
      {"VISCOSITY  ", "0.00001", 7, 0.00001f, ""},  // the range's own limit, typed
      {"7", "1", 7, 1.0, ""},
      {"Percent Left", "99.99", 22, 99.99f, ""},
      {"Percent Left", "100", 22, 99.99f, "value 100 of control 22 (Percent Left) is out of its range 0.01 .. 99.99: clamped to 99.99"},
      {"Viscosity", "nan", 0, 0, "not a number"},
      {"Viscosity", "1e39", 7, 1, "value 1e39 of control 7 (Viscosity) is out of its range 1e-05 .. 1: clamped to 1"},
      {"Viscosity", "-1e300", 7, 0.00001f, "clamped to 1e-05"},
      {"Viscosity", "1e400", 0, 0, "not a number"},
      {"Viscosity", "0.5x", 0, 0, "not a number"},
      {"Dissipation Frames", "1000", 21, 1000, ""},
      {"Dissipation Frames", "1", 21, 2, "value 1 of control 21 (Dissipation Frames) is out of its range 2 .. 1000: clamped to 2"},
      {"Dissipation Frames", "1e40", 21, 1000, "clamped to 1000"},
      {"Dissipation Frames", "2.5", 0, 0, "not an integer"},
      {"Finer Grid", "ON", 18, 1, ""},
      {"finer grid", "off", 18, 0, ""},
      {"Finer Grid", "1", 0, 0, "neither on nor off"},
      {"Buoyancy Mode", "alt luma", 10, 2, ""},
      {"Buoyancy Mode", "Input Luma  ", 10, 1, ""},
      {"Buoyancy Mode", "Pressure", 0, 0, "unknown item Pressure of control 10 (Buoyancy Mode) (None, Input Luma, Alt Luma)"},
      {"33", "1/3", 33, 2, ""},
      {"Clear Overlay", "on", 0, 0, "ambiguous control name: Clear Overlay names controls 28 57"},
      {"57", "on", 57, 1, ""},
      {"Restart", "1", 0, 0, "is a button"},
      {"1: Flow Clip", "x", 0, 0, "unknown control"},
      {"0", "x", 0, 0, "unknown control"},
      {"Swirl", "1", 0, 0, "unknown control: Swirl"},
      {"99999999999", "1", 0, 0, "unknown control"},
  };
  for (const auto& c : cases) {
    StandinControlEntry found{};
    double value = -1;
    std::string error, warning;
    const bool ok = find_control(controls, c.name, found, error) &&
                    parse_control_value(found, c.value, value, error, warning);
    EXPECT_EQ(ok, c.number != 0) << c.name << " " << error;
    if (c.number) {
      EXPECT_EQ(found.number, c.number) << c.name;
      EXPECT_EQ(value, c.parsed) << c.name;
      EXPECT_EQ(warning.empty(), !*c.reason) << c.name << ": " << warning;
    }
    EXPECT_NE((c.number ? warning : error).find(c.reason), std::string::npos) << c.name << ": " << error;
  }
  set_control_value(controls[6], 2);
  set_control_value(controls[0], 0.5f);
  set_control_value(controls[3], 1);
  EXPECT_EQ(mode.value, 2);
  EXPECT_EQ(viscosity.value, 0.5f);
  EXPECT_EQ(grid.value, 1);

  const std::string path = home_file("listing.txt");
  FILE* out = std::fopen(path.c_str(), "w");
  list_controls(controls, out);
  std::fclose(out);
  const std::vector<unsigned char> bytes = read_file(path);
  const std::string listing(bytes.begin(), bytes.end());
  for (const char* line : {"     7  float      Viscosity                 0.5               1e-05 .. 1\n",
                           "    10  pup        Buoyancy Mode             Alt Luma          None, Input Luma, Alt Luma\n",
                           "    18  boolean    Finer Grid                on                on, off\n",
                           "    21  int        Dissipation Frames        50                2 .. 1000\n",
                           "     6  push       Restart                   (button)          \n",
                           "     0  string     1: Flow Clip              (clip name)       \n"})
    EXPECT_NE(listing.find(line), std::string::npos) << line << listing;
}

TEST(RenderClips, SequencesName) {
  const struct {
    const char* path;
    int frame;
    const char* file;
  } cases[] = {{"shots/take.0042.png", 7, "shots/take.0007.png"},
               {"/a/b/c_1.ppm", 12, "/a/b/c_12.ppm"},
               {"x0001.PNG", 123456, "x123456.PNG"},
               {"still.png", 5, "still.png"},
               {"1.2/v.001.png", 3, "1.2/v.003.png"}};
  for (const auto& c : cases) {
    Sequence sequence;
    ASSERT_TRUE(parse_sequence(c.path, sequence)) << c.path;
    EXPECT_EQ(sequence_file(sequence, c.frame), c.file);
  }
  Sequence sequence;
  EXPECT_FALSE(parse_sequence("noextension", sequence));
}

// Files hold the top row first and host buffers the bottom row first; the
// samples scale between depths by rounding, so 8 and 12 bits come back
// exact through the 16-bit files.
TEST(RenderClips, HostBuffersTurnOverAndScale) {
  const FrameImage picture = frame_of(2, 3, 255,
                                      {0, 1, 2,     3, 4, 5,     // top row
                                       10, 20, 30,  40, 50, 60,  // middle
                                       128, 200, 255, 7, 8, 9});  // bottom
  std::vector<uint8_t> bytes(2 * 3 * 3, 0);
  frame_to_host(picture, bytes.data(), false);
  EXPECT_EQ(bytes[0], 128);  // host row 0 is the picture's bottom row
  EXPECT_EQ(bytes[5], 9);
  EXPECT_EQ(bytes[12], 0);
  FrameImage back;
  std::string error;
  ASSERT_TRUE(host_to_frame(bytes.data(), 2, 3, false, back, error)) << error;
  EXPECT_EQ(back.maxval, 255);
  EXPECT_EQ(values(back), values(picture));

  // 12-bit: the 8-bit value v becomes round(v * 4095 / 255) in the top
  // bits, the host's low four bits stay.
  std::vector<uint16_t> words(2 * 3 * 3, 0x000A);
  frame_to_host(picture, words.data(), true);
  EXPECT_EQ(words[0], (2056 << 4) | 0xA);  // 128 * 4095 / 255 = 2055.5 -> 2056
  EXPECT_EQ(words[2], (4095 << 4) | 0xA);
  EXPECT_EQ(words[12], 0xA);
  ASSERT_TRUE(host_to_frame(words.data(), 2, 3, true, back, error)) << error;
  EXPECT_EQ(back.maxval, 65535);
  // 128 -> 2056 of 4095 -> 32903.8; 200 -> 3211.8 -> 3212 -> 51403.8;
  // 255 -> 4095, full.
  EXPECT_EQ(back.samples[12], 32904);
  EXPECT_EQ(back.samples[13], 51404);
  EXPECT_EQ(back.samples[14], 65535);
  for (unsigned v = 0; v <= 4095; ++v)
    EXPECT_EQ(rescale_sample(rescale_sample(v, 4095, 65535), 65535, 4095), v);
  for (unsigned v = 0; v <= 255; ++v) EXPECT_EQ(rescale_sample(v, 255, 65535), v * 257);
}

// A peer decoder reads what we write, and we read what the peer writes.
TEST(ImageFiles, NetpbmPeersAgree) {
  const std::vector<uint16_t> samples = {0, 1, 65535, 256, 4660, 300, 9, 8, 7, 65534, 1000, 2, 77, 78, 79, 32768, 255, 511};
  const FrameImage image = frame_of(3, 2, 65535, samples);
  for (int maxval : {65535, 255}) {
    FrameImage written = frame_of(3, 2, maxval, samples);
    if (maxval == 255)
      for (uint16_t& s : written.samples) s = static_cast<uint16_t>(s & 255);
    // ".tq4" stands for every format of the image-file library.
    for (const char* name : {"peer.png", "peer.ppm", "peer.tq4"}) {
      std::string error;
      const std::string path = home_file(name);
      ASSERT_TRUE(image_file_write(path, written, error)) << error;
      // The peer decodes either file.
      const Plain plain = decode(path);
      EXPECT_EQ(plain.width, 3);
      EXPECT_EQ(plain.height, 2);
      EXPECT_EQ(plain.maxval, maxval);
      EXPECT_EQ(plain.samples, std::vector<int>(written.samples.begin(), written.samples.end())) << name;
      FrameImage read;
      ASSERT_TRUE(image_file_read(path, read, error)) << error;
      EXPECT_EQ(values(read), values(written));
      EXPECT_EQ(read.maxval, maxval);
      EXPECT_EQ(read.found.depth, maxval == 255 ? 8 : 16) << name;
      EXPECT_EQ(read.found.colours, ImageFileFound::rgb) << name;
    }
  }
  // The peer's grey and palette PNGs (two colours make a 1-bit palette)
  // arrive as RGB.
  int status = 0;
  const std::string gray = home_file("gray.png"), palette = home_file("palette.png");
  write_file(home_file("gray.pgm"), "P2\n2 1\n255\n7 200\n");
  run("/usr/bin/pnmtopng -force " + home_file("gray.pgm") + " > " + gray, status);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(read_file(gray)[25], 0);  // colour type 0: grey
  write_file(home_file("two.ppm"), "P3\n2 1\n255\n255 0 0 0 0 255\n");
  run("/usr/bin/pnmtopng " + home_file("two.ppm") + " > " + palette, status);
  ASSERT_EQ(status, 0);
  ASSERT_EQ(read_file(palette)[25], 3);  // colour type 3: palette
  FrameImage read;
  std::string error;
  ASSERT_TRUE(image_file_read(gray, read, error)) << error;
  EXPECT_EQ(values(read), (std::vector<uint16_t>{7, 7, 7, 200, 200, 200}));
  EXPECT_EQ(read.found.colours, ImageFileFound::grey);
  ASSERT_TRUE(image_file_read(palette, read, error)) << error;
  EXPECT_EQ(values(read), (std::vector<uint16_t>{255, 0, 0, 0, 0, 255}));
  EXPECT_EQ(read.found.colours, ImageFileFound::rgb);
  EXPECT_EQ(read.found.depth, 8);  // a 1-bit index of 8-bit colours

  // What is not a whole image of its format is refused with the reason,
  // not with a note or warning given on the way.
  write_file(home_file("short.ppm"), "P6\n2 2\n255\nabc");
  write_file(home_file("text.png"), "not a png at all");
  // Sizes over the image-file library's cap, with next to no data: refused
  // before a sample is read or a block allocated.
  write_file(home_file("big.ppm"), "P6\n17000 17000\n255\nabc");
  run("/usr/bin/python3 -c \"import struct, sys, zlib; c = lambda t, d: struct.pack('>I', len(d)) + t + d + "
      "struct.pack('>I', zlib.crc32(t + d)); open(sys.argv[1], 'wb').write(b'\\x89PNG\\r\\n\\x1a\\n' + c(b'IHDR', "
      "struct.pack('>IIBBBBB', 17000, 17000, 8, 2, 0, 0, 0)) + c(b'IDAT', zlib.compress(bytes(99))))\" " +
      home_file("big.png"), status);
  write_file(home_file("stray.gif"), std::string("GIF87a\1\0\1\0\0\0\0\7", 14));
  run("/usr/bin/pnmtotiff " + home_file("two.ppm") + " > " + home_file("tall.tif") + " && /usr/bin/tiffset -s 257 65535 " +
      home_file("tall.tif"), status);
  const struct {
    const char* name;
    const char* reason;
  } bad[] = {{"short.ppm", "ends before its last pixel"},
             {"text.png", "not a PNG file"},
             {"big.ppm", "PPM: Image size 17000x17000 is out of range"},
             {"big.png", "PNG: Image size 17000x17000 is out of range"},
             {"missing.png", "No such file"},
             {"stray.gif", "GIF: No image data -- EOF"},
             {"tall.tif", "TIFF: Line 0 is missing from the file"},
             {"gray.pgm", "unknown image file extension"}};
  for (const auto& c : bad) {
    EXPECT_FALSE(image_file_read(home_file(c.name), read, error)) << c.name;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
  // A JPEG libjpeg warns about reads whole, its warning said once with the
  // file's name.
  run("/usr/bin/ppmtojpeg " + home_file("two.ppm") + " > " + home_file("two.jpg"), status);
  std::vector<unsigned char> jpeg = read_file(home_file("two.jpg"));
  const unsigned char table[] = {0xff, 0xc4};  // the first Huffman table's marker
  jpeg.insert(std::search(jpeg.begin(), jpeg.end(), table, table + 2), {7, 7, 7});
  write_file(home_file("warned.jpg"), std::string(jpeg.begin(), jpeg.end()));
  testing::internal::CaptureStderr();
  EXPECT_TRUE(image_file_read(home_file("warned.jpg"), read, error)) << error;
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            home_file("warned.jpg") + ": JPEG: Warning, Corrupt JPEG data: 3 extraneous bytes before marker 0xc4\n");
  // A write that cannot happen leaves no file and no temporary behind.
  FrameImage empty = frame_of(3, 2, 65535, samples);
  empty.width = 0;
  EXPECT_FALSE(image_file_write(home_file("empty.png"), empty, error));
  EXPECT_FALSE(image_file_write(home_file("nofolder/x.png"), image, error));
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;
  // A format that writes a descriptor beside its frame: both arrive under
  // the frame's name, the descriptor naming the frame, and read back.
  ASSERT_TRUE(image_file_write(home_file("dump.0007.dump"), image, error)) << error;
  const std::vector<unsigned char> descriptor = read_file(home_file("dump.0007.image"));
  EXPECT_NE(std::string(descriptor.begin(), descriptor.end()).find(":name '\"dump.0007\""), std::string::npos);
  ASSERT_TRUE(image_file_read(home_file("dump.0007.dump"), read, error)) << error;
  EXPECT_EQ(read.width, 3);
  for (const auto& entry : std::filesystem::directory_iterator(std::getenv("Q4_HOME_DIR")))
    EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
}

// A Cineon file keeps its own scale: an 8-bit ramp of byte cells arrives
// as 0..255, white staying white on the host's 8 bits, and the 10-bit
// files the renderer writes come back exact, 1023 full on its 12 bits.
TEST(ImageFiles, CineonFilesKeepTheirOwnScale) {
  std::string ramp(1024 + 256, '\0');
  auto be32 = [&](size_t at, uint32_t v) {
    for (int j = 0; j < 4; ++j) ramp[at + j] = static_cast<char>(v >> (24 - 8 * j));
  };
  be32(0, 0x802A5FD7u);  // magic
  be32(4, 1024);         // the pixels' offset: a generic header alone
  be32(8, 1024);
  ramp[193] = 1;  // one channel, grey
  ramp[198] = 8;  // its bits
  be32(200, 256);
  be32(204, 1);
  ramp[681] = 1;  // byte cells
  for (int v = 0; v < 256; ++v) ramp[1024 + v] = static_cast<char>(v);
  write_file(home_file("ramp.cin"), ramp);
  FrameImage read;
  std::string error;
  ASSERT_TRUE(image_file_read(home_file("ramp.cin"), read, error)) << error;
  EXPECT_EQ(read.maxval, 255);
  EXPECT_EQ(read.found.depth, 8);
  std::vector<uint8_t> bytes(256 * 3);
  frame_to_host(read, bytes.data(), false);
  for (int i = 0; i < 256 * 3; ++i) ASSERT_EQ(bytes[i], i / 3) << i;

  const FrameImage ten = frame_of(2, 1, 1023, {0, 1, 511, 1023, 1022, 512});
  ASSERT_TRUE(image_file_write(home_file("ten.cin"), ten, error)) << error;
  ASSERT_TRUE(image_file_read(home_file("ten.cin"), read, error)) << error;
  EXPECT_EQ(read.maxval, 1023);
  EXPECT_EQ(read.found.depth, 10);
  EXPECT_EQ(values(read), values(ten));
  std::vector<uint16_t> words(2 * 3, 0);
  frame_to_host(read, words.data(), true);
  EXPECT_EQ(words[3], 4095 << 4);
}

// CMYK files arrive in colour as the peers turn them to RGB: libtiff's
// RGBA reading exactly, ImageMagick and Pillow within their rounding.
// ImageMagick's inks share out black; its JPEG files are YCCK.
TEST(ImageFiles, CmykFilesArriveInColour) {
  int status = 0;
  const std::string source = home_file("inks.ppm"), magick = "/usr/bin/convert " + source + " -colorspace CMYK ";
  run("/usr/bin/ppmpat -g3 -color rgb:dc/e0/d1,rgb:20/80/c0,rgb:f0/30/10 16 12 > " + source, status);
  const std::string pillow = "/usr/bin/python3 -c \"import sys; from PIL import Image; Image.open(sys.argv[1])";
  // make and to_rgb are each followed by the file's name, to_rgb then by out's.
  const struct { const char *name, *out; std::string make, to_rgb; int tolerance; } cases[] = {
      {"magick8.tif", "rgba.tif", magick + "-depth 8", "/usr/bin/tiff2rgba -c none", 0},
      {"magick16.tif", "rgb.ppm", magick + "-depth 16", "/usr/bin/convert -depth 16", 1},
      {"magick.jpg", "rgb.ppm", magick, pillow + ".convert('RGB').save(sys.argv[2])\"", 1},
  };
  for (const auto& c : cases) {
    const std::string path = home_file(c.name);
    run(c.make + " " + path + " && " + c.to_rgb + " " + path + " " + home_file(c.out), status);
    const Plain want = decode(home_file(c.out));
    FrameImage got;
    std::string error;
    ASSERT_TRUE(image_file_read(path, got, error)) << error;
    EXPECT_EQ(got.found.colours, ImageFileFound::cmyk) << c.name;
    EXPECT_EQ(got.found.inverted, std::string(c.name) == "magick.jpg") << c.name;
    ASSERT_EQ(got.samples.size(), want.samples.size()) << c.name;
    for (size_t i = 0; i < want.samples.size(); ++i)
      ASSERT_NEAR(got.samples[i], want.samples[i], c.tolerance) << c.name << " sample " << i;
  }
}
