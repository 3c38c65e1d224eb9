#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "failing_heap.h"
#include "image_ptr.h"
#include "imagelib_fileio.h"
#include "imagelib_tif.h"
#include "imgio.h"
#include "imgio_memory_driver.h"
#include "imgio_message_capture.h"
#include "temp_dir.h"
#include "tiff_builder.h"

namespace {

// Deterministic bytes; floats include NaN payloads and infinities.
void fill_pattern(image_data* img, uint32_t seed) {
  unsigned char* p = static_cast<unsigned char*>(img->pixels);
  const size_t bytes = size_t(img->row_bytes) * img->height;
  uint32_t state = seed * 2654435761u + 1;
  for (size_t i = 0; i < bytes; ++i) {
    state = state * 1664525u + 1013904223u;
    p[i] = static_cast<unsigned char>(state >> 24);
  }
  if (img->pixel_type == IMAGE_PIXEL_FLOAT && bytes >= 16) {
    const uint32_t specials[4] = {0x7fc12345u, 0xffa00001u, 0x7f800000u, 0x80000000u};
    memcpy(p, specials, sizeof specials);
  }
}

bool same_pixels(const image_data* a, const image_data* b) {
  return a && b && a->width == b->width && a->height == b->height && a->channels == b->channels &&
         a->pixel_type == b->pixel_type && memcmp(a->pixels, b->pixels, size_t(a->row_bytes) * a->height) == 0;
}

std::vector<int> info_of(const std::string& path) {
  int w = -1, h = -1, c = -1, t = -1;
  const int result = image_read_file_info(path.c_str(), w, h, c, t);
  return {result, w, h, c, t};
}

void le(std::string& out, uint32_t v, int bytes) { put(out, v, bytes, false); }

// Runs a peer program by its Debian path; its exit status.
int run_peer(const std::string& tool, const std::string& arguments, const std::string& log) {
  if (access(tool.c_str(), X_OK) != 0) {
    ADD_FAILURE() << tool << " is missing (libtiff-tools)";
    return -1;
  }
  const int status = std::system((tool + " " + arguments + " >" + log + " 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(OwnTiff, EveryTypeAndChannelCountRoundTripsBitExactly) {
  TempDir dir;
  const std::string path = dir / "img.tq4";
  for (int type = 0; type <= 3; ++type)
    for (int channels = 1; channels <= 5; ++channels) {
      ImagePtr img = make(7, 5, channels, type);
      fill_pattern(img.get(), type * 10 + channels);
      ASSERT_TRUE(image_write_file(path.c_str(), img.get(), false)) << type << " " << channels;
      EXPECT_EQ(info_of(path), std::vector<int>({1, 7, 5, channels, type}));
      ImagePtr back(image_read_file(path.c_str()));
      EXPECT_TRUE(same_pixels(img.get(), back.get())) << type << " " << channels;
      ImagePtr into = make(7, 5, channels, type);
      ASSERT_EQ(image_read_file(path.c_str(), into.get()), 1);
      EXPECT_TRUE(same_pixels(img.get(), into.get()));
      // Another layout is refused and left as it was.
      ImagePtr other = make(7, 5, channels, type == 0 ? 1 : 0);
      memset(other->pixels, 0x5A, size_t(other->row_bytes) * 5);
      EXPECT_EQ(image_read_file(path.c_str(), other.get()), 0);
      EXPECT_EQ(static_cast<unsigned char*>(other->pixels)[0], 0x5A);
    }
}

TEST(OwnTiff, OneChannelByteLayoutByteForByte) {
  TempDir dir;
  ImagePtr img = make(3, 2, 1, IMAGE_PIXEL_BYTE);
  for (int i = 0; i < 6; ++i) px<uint8_t>(img)[i] = static_cast<uint8_t>(i + 1);
  ASSERT_TRUE(image_write_file((dir / "one.tq4").c_str(), img.get(), false));
  std::string want = "II";
  le(want, 42, 2);
  le(want, 8, 4);
  le(want, 15, 2);
  const uint32_t table[15][4] = {{256, 3, 1, 3},   {257, 3, 1, 2},   {258, 3, 1, 8},    {259, 3, 1, 1},
                                 {262, 3, 1, 1},   {273, 4, 1, 212}, {274, 3, 1, 4},    {277, 3, 1, 1},
                                 {278, 3, 1, 2},   {279, 4, 1, 6},   {282, 5, 1, 196},  {283, 5, 1, 204},
                                 {284, 3, 1, 1},   {296, 3, 1, 2},   {44411, 3, 1, 0}};
  for (const auto& e : table) {
    le(want, e[0], 2);
    le(want, e[1], 2);
    le(want, e[2], 4);
    le(want, e[3], 4);
  }
  le(want, 0, 4);
  le(want, 8, 2);
  for (int r = 0; r < 2; ++r) {
    le(want, 300, 4);
    le(want, 1, 4);
  }
  ASSERT_EQ(want.size(), 212u);
  want += std::string("\x01\x02\x03\x04\x05\x06", 6);
  EXPECT_EQ(read_text(dir / "one.tq4"), want);
}

TEST(OwnTiff, WideSamplesKeepTheirBitsAtOffset194) {
  TempDir dir;
  for (int type : {IMAGE_PIXEL_FLOAT, IMAGE_PIXEL_WORD32}) {
    ImagePtr img = make(2, 2, 3, type);
    fill_pattern(img.get(), 3);
    const std::string path = dir / "f.tq4";
    ASSERT_TRUE(image_write_file(path.c_str(), img.get(), false));
    const std::string bytes = read_text(path);
    ASSERT_EQ(bytes.size(), 216u + 48u);
    // Entry 3 (BitsPerSample): SHORT, 3 values at 194.
    EXPECT_EQ(bytes.substr(10 + 2 * 12, 12), std::string("\x02\x01\x03\x00\x03\x00\x00\x00\xc2\x00\x00\x00", 12));
    EXPECT_EQ(bytes.substr(194, 6), std::string("\x20\x00\x20\x00\x20\x00", 6));
    // Entry 15: the private tag with the pixel type.
    EXPECT_EQ(bytes.substr(10 + 14 * 12, 12),
              std::string("\x7b\xad\x03\x00\x01\x00\x00\x00", 8) + char(type) + std::string(3, '\0'));
  }
  // Two channels keep their two values at the offset too.
  ImagePtr two = make(2, 2, 2, IMAGE_PIXEL_WORD);
  fill_pattern(two.get(), 9);
  ASSERT_TRUE(image_write_file((dir / "two.tq4").c_str(), two.get(), false));
  const std::string bytes = read_text(dir / "two.tq4");
  EXPECT_EQ(bytes.substr(10 + 2 * 12 + 8, 4), std::string("\xc2\x00\x00\x00", 4));
  ImagePtr back(image_read_file((dir / "two.tq4").c_str()));
  EXPECT_TRUE(same_pixels(two.get(), back.get()));
}

TEST(OwnTiff, ReadsStandardFilesInEitherByteOrder) {
  TempDir dir;
  MessageCapture capture;
  const std::string path = dir / "std.tq4";
  // 16-bit RGB 3x5, values known per sample.
  auto value16 = [](int i) { return static_cast<uint16_t>(i * 2311 + 7); };
  struct Case {
    bool mm;
    uint32_t rows;
    uint32_t orientation;
  } cases[] = {{false, 0, 4}, {true, 0, 4}, {true, 2, 4}, {false, 3, 4}, {true, 3, 1}, {false, 5, 1}, {false, 9, 4}};
  for (const Case& c : cases) {
    TiffLayout layout;
    layout.mm = c.mm;
    layout.entries = picture_entries(3, 5, 3, 16, c.rows, c.orientation);
    for (int i = 0; i < 45; ++i) put(layout.pixels, value16(i), 2, c.mm);
    write_text(path, build_tiff(layout));
    ImagePtr img(image_read_file(path.c_str()));
    ASSERT_TRUE(img) << c.mm << " " << c.rows << " " << capture.last();
    EXPECT_EQ(img->pixel_type, IMAGE_PIXEL_WORD);
    EXPECT_EQ(img->channels, 3);
    for (int y = 0; y < 5; ++y) {
      // Orientation 1 stores the top row first; the image keeps row 0 at the bottom.
      const int stored = c.orientation == 1 ? 4 - y : y;
      for (int i = 0; i < 9; ++i)
        EXPECT_EQ(px<uint16_t>(img)[y * 9 + i], value16(stored * 9 + i)) << c.mm << " " << c.rows << " " << y;
    }
  }
  // 32-bit samples: float unless the private tag says word32.
  for (int hint : {-1, 2, 3}) {
    TiffLayout layout;
    layout.mm = true;
    layout.entries = picture_entries(2, 2, 1, 32, 1);
    if (hint >= 0) layout.entries.push_back({TIFF_TAG_PIXEL_TYPE, 3, {uint32_t(hint)}});
    for (int i = 0; i < 4; ++i) put(layout.pixels, 0x3f800000u + i, 4, true);
    write_text(path, build_tiff(layout));
    ImagePtr img(image_read_file(path.c_str()));
    ASSERT_TRUE(img) << hint << capture.last();
    EXPECT_EQ(img->pixel_type, hint == 2 ? IMAGE_PIXEL_WORD32 : IMAGE_PIXEL_FLOAT);
    EXPECT_EQ(px<uint32_t>(img)[3], 0x3f800003u);
  }
  // Grey and alpha: two BitsPerSample values in the entry of a standard file.
  TiffLayout grey_alpha;
  grey_alpha.entries = picture_entries(2, 1, 2, 8, 0);
  grey_alpha.pixels = "wxyz";
  write_text(path, build_tiff(grey_alpha));
  ImagePtr two(image_read_file(path.c_str()));
  ASSERT_TRUE(two) << capture.last();
  EXPECT_EQ(two->channels, 2);
  EXPECT_EQ(std::string(static_cast<char*>(two->pixels), 4), "wxyz");
  // 8-bit grey in two strips whose BYTE counts lie in their entry.
  TiffLayout grey;
  grey.entries = picture_entries(4, 2, 1, 8, 1);
  entry(grey.entries, 279)->type = 1;
  grey.pixels = "abcdefgh";
  write_text(path, build_tiff(grey));
  ImagePtr img(image_read_file(path.c_str()));
  ASSERT_TRUE(img);
  EXPECT_EQ(std::string(static_cast<char*>(img->pixels), 8), "abcdefgh");
}

TEST(OwnTiff, RefusalsLeaveNothingBehind) {
  TempDir dir;
  MessageCapture capture;
  const std::string path = dir / "bad.tq4";
  auto picture = [] {
    TiffLayout layout;
    layout.entries = picture_entries(4, 3, 3, 8, 0);
    layout.pixels = std::string(36, 'p');
    return layout;
  };
  struct Case {
    const char* what;
    std::function<void(TiffLayout&)> change;
  } cases[] = {
      {"LZW", [](TiffLayout& l) { entry(l.entries, 259)->values = {5}; }},
      {"planar 2", [](TiffLayout& l) { entry(l.entries, 284)->values = {2}; }},
      {"palette", [](TiffLayout& l) { entry(l.entries, 262)->values = {3}; }},
      {"unequal bits", [](TiffLayout& l) { entry(l.entries, 258)->values = {8, 16, 8}; }},
      {"4 bits", [](TiffLayout& l) { entry(l.entries, 258)->values = {4, 4, 4}; }},
      {"bits of type RATIONAL", [](TiffLayout& l) { *entry(l.entries, 258) = {258, 5, {8, 1, 8, 1, 8, 1}}; }},
      {"bits count short", [](TiffLayout& l) { entry(l.entries, 258)->values = {8, 8}; }},
      {"second image", [](TiffLayout& l) { l.next_directory = 8; }},
      {"rows per strip 0", [](TiffLayout& l) { l.entries.push_back({278, 3, {0}}); }},
      {"strips above the data", [](TiffLayout& l) { entry(l.entries, 279)->values = {37}; }},
      {"strips below the data", [](TiffLayout& l) { entry(l.entries, 279)->values = {35}; }},
      {"strip outside the file", [](TiffLayout& l) { l.pixels.resize(30); }},
      {"two strips named, one counted",
       [](TiffLayout& l) { l.entries.push_back({278, 3, {2}}); }},
      {"samples beyond the table",
       [](TiffLayout& l) {
         entry(l.entries, 277)->values = {TIFF_MAX_SAMPLES + 1};
         entry(l.entries, 258)->values.assign(TIFF_MAX_SAMPLES + 1, 8);
       }},
      {"no samples", [](TiffLayout& l) { entry(l.entries, 277)->values = {0}; }},
      {"tall picture of one-row strips",
       [](TiffLayout& l) {
         entry(l.entries, 257)->values = {60000};
         l.entries.push_back({278, 3, {1}});
       }},
      {"strips sharing bytes",
       [](TiffLayout& l) {
         l.entries = picture_entries(100, 100, 3, 8, 1);
         entry(l.entries, 273)->values.assign(100, 0);
         l.pixels.resize(300);
       }},
      {"width of type RATIONAL", [](TiffLayout& l) { *entry(l.entries, 256) = {256, 5, {4, 1}}; }},
      {"width of two values", [](TiffLayout& l) { entry(l.entries, 256)->values = {4, 4}; }},
      {"no width", [](TiffLayout& l) { entry(l.entries, 256)->tag = 255; }},
      {"no compression", [](TiffLayout& l) { entry(l.entries, 259)->tag = 300; }},
      {"width 0", [](TiffLayout& l) { entry(l.entries, 256)->values = {0}; }},
      {"magic 43", [](TiffLayout& l) { l.magic = 43; }},
      {"no directory", [](TiffLayout& l) { l.entries.clear(); }},
  };
  for (const Case& c : cases) {
    TiffLayout layout = picture();
    c.change(layout);
    write_text(path, build_tiff(layout));
    capture.messages.clear();
    EXPECT_EQ(info_of(path), std::vector<int>({0, 0, 0, 0, 0})) << c.what;
    EXPECT_EQ(image_read_file(path.c_str()), nullptr) << c.what;
    EXPECT_NE(capture.last().find("ERROR: TIFF file refused: "), std::string::npos) << c.what;
  }
  // Damage no layout can express.
  const std::string good = build_tiff(picture());
  std::vector<std::pair<const char*, std::string>> damaged = {
      {"empty", ""},
      {"short header", good.substr(0, 5)},
      {"no byte-order mark", "XX" + good.substr(2)},
      {"directory beyond the end", good.substr(0, 4) + std::string("\xff\xff\x00\x00", 4) + good.substr(8)},
      {"entries beyond the end", good.substr(0, 8) + std::string("\xff\x0f", 2) + good.substr(10, 40)},
  };
  for (const auto& d : damaged) {
    write_text(path, d.second);
    EXPECT_EQ(info_of(path), std::vector<int>({0, 0, 0, 0, 0})) << d.first;
  }
  // The pixel cap of the image-file settings holds here too.
  write_text(path, good);
  EXPECT_EQ(info_of(path), std::vector<int>({1, 4, 3, 3, 0}));
  {
    ImgioSession session;
    setkeyval("IMGIO_MAX_PIXELS", "11");
    EXPECT_EQ(info_of(path), std::vector<int>({0, 0, 0, 0, 0}));
    EXPECT_EQ(capture.last(), "ERROR: TIFF file refused: size 4x3.\n");
  }
  EXPECT_EQ(info_of(dir / "missing.tq4"), std::vector<int>({0, 0, 0, 0, 0}));
}

TEST(OwnTiff, PeerToolsTakeOwnFilesAndTheirCopiesReadTheSame) {
  TempDir dir;
  const std::string log = dir / "log.txt";
  for (int type = 0; type <= 3; ++type)
    for (int channels : {1, 3, 4}) {
      ImagePtr img = make(6, 7, channels, type);
      fill_pattern(img.get(), type * 7 + channels);
      const std::string own = dir / "own.tq4";
      ASSERT_TRUE(image_write_file(own.c_str(), img.get(), false));
      EXPECT_EQ(run_peer("/usr/bin/tiffinfo", own, log), 0) << read_text(log);
      EXPECT_EQ(read_text(log).find("Error"), std::string::npos) << read_text(log);
      for (const char* options : {"-B", "-r 3", "-L -r 2"}) {
        const std::string copy = dir / "copy.tq4";
        ASSERT_EQ(run_peer("/usr/bin/tiffcp", std::string(options) + " " + own + " " + copy, log), 0)
            << read_text(log);
        ImagePtr back(image_read_file(copy.c_str()));
        ASSERT_TRUE(back) << options << " " << type << " " << channels;
        // The private tag does not survive the copy: word32 reads as float.
        EXPECT_EQ(back->pixel_type, type == IMAGE_PIXEL_WORD32 ? IMAGE_PIXEL_FLOAT : type);
        EXPECT_EQ(back->channels, channels);
        EXPECT_EQ(memcmp(back->pixels, img->pixels, size_t(img->row_bytes) * 7), 0) << options << " " << type;
      }
    }
}

TEST(OwnTiff, WriteFailuresAreFailures) {
  TempDir dir;
  ImagePtr img = make(64, 64, 4, IMAGE_PIXEL_WORD);
  fill_pattern(img.get(), 1);
  // A full disk: every write is buffered until the close fails.
  const std::string full = dir / "full.tq4";
  ASSERT_EQ(symlink("/dev/full", full.c_str()), 0);
  EXPECT_FALSE(image_write_file(full.c_str(), img.get(), false));
  EXPECT_FALSE(image_write_file((dir / "no/such/folder.tq4").c_str(), img.get(), false));
  for (int grants = 0; grants < 4; ++grants) {
    FailingHeap heap(grants);
    const bool ok = image_write_file((dir / "heap.tq4").c_str(), img.get(), false);
    EXPECT_EQ(ok, grants >= 2) << grants;
  }
  ImagePtr back(image_read_file((dir / "heap.tq4").c_str()));
  EXPECT_TRUE(same_pixels(img.get(), back.get()));
  for (int grants = 0; grants < 8; ++grants) {
    FailingHeap heap(grants);
    ImagePtr again(image_read_file((dir / "heap.tq4").c_str()));
    if (again) {
      EXPECT_TRUE(same_pixels(img.get(), again.get()));
    }
  }
}

TEST(OwnTiff, HeaderCallsCheckTheirArguments) {
  TempDir dir;
  FILE* file = fopen((dir / "x.tq4").c_str(), "wb+");
  ASSERT_NE(file, nullptr);
  void* info = reinterpret_cast<void*>(1);
  const int bad[][4] = {{0, 1, 1, 0}, {65536, 1, 1, 0}, {1, 0, 1, 0}, {1, 1, 0, 0}, {1, 1, TIFF_MAX_SAMPLES + 1, 0}, {1, 1, 1, 4}};
  for (const auto& b : bad) {
    EXPECT_EQ(image_tiff_write_header(file, b[0], b[1], b[2], b[3], &info), 0);
    EXPECT_EQ(info, nullptr);
  }
  ASSERT_EQ(image_tiff_write_header(file, 2, 2, 1, 0, &info), 1);
  ImagePtr wrong = make(2, 3, 1, 0);
  EXPECT_EQ(image_tiff_write_data(wrong.get(), &info), 0);
  ImagePtr right = make(2, 2, 1, 0);
  memset(right->pixels, 9, 4);
  EXPECT_EQ(image_tiff_write_data(right.get(), &info), 1);
  image_tiff_free_info(&info);
  EXPECT_EQ(info, nullptr);
  image_tiff_free_info(&info);
  image_tiff_free_info(nullptr);

  rewind(file);
  int w = 0, h = 0, c = 0, t = 0;
  ASSERT_EQ(image_tiff_read_header(file, w, h, c, t, &info), 1);
  TiffInfo* record = static_cast<TiffInfo*>(info);
  unsigned values[4] = {};
  // XResolution is RATIONAL, BitsPerSample has 1 value in the entry.
  EXPECT_EQ(get_tag_array(record, 282, values, 4), 0);
  EXPECT_EQ(get_tag_array(record, 999, values, 4), 0);
  EXPECT_EQ(get_tag_array(record, 258, values, 0), 0);
  EXPECT_EQ(image_tiff_read_data(wrong.get(), &info), 0);
  ImagePtr back = make(2, 2, 1, 0);
  EXPECT_EQ(image_tiff_read_data(back.get(), &info), 1);
  EXPECT_EQ(memcmp(back->pixels, right->pixels, 4), 0);
  image_tiff_free_info(&info);
  fclose(file);
}
