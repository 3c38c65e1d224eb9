#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "image_pattern.h"
#include "image_ptr.h"
#include "imagelib_fileio.h"
#include "imgio.h"
#include "imgio_memory_driver.h"
#include "imgio_message_capture.h"
#include "temp_dir.h"

namespace {

const int kRla = 2;
const int kTiff = 9;
const int kTarga = 8;

int sample8(int x, int y, int c) { return (x * 53 + y * 29 + c * 71 + 5) & 255; }
int sample16(int x, int y, int c) { return (x * 40503 + y * 9973 + c * 21011 + 17) & 65535; }

// What image type `type` stores for a line sample v of 8 or 16 bits.
double expected_sample(int v, bool deep, int type) {
  switch (type) {
    case IMAGE_PIXEL_BYTE: return deep ? v >> 8 : v;
    case IMAGE_PIXEL_WORD: return deep ? v : (v << 8 | v);
    case IMAGE_PIXEL_WORD32: return deep ? (double(uint32_t(v) << 16 | v)) : double(uint32_t(v) * 16843009u);
    default: return deep ? double(float(v) * 1.5259022e-5f) : double(float(v) * 0.003921569f);
  }
}

// The memory driver in the "rla" and "tiff" entries.
struct FrontEnd {
  PluggedMemoryDriver rla{kRla};
  imgio_driver all = memory_driver_ops::all;
  FrontEnd() { imgio_plug_driver(kTiff, &all); }
  ~FrontEnd() { imgio_plug_driver(kTiff, nullptr); }
};

}  // namespace

TEST(FrontEnd, FormatTable) {
  const char* exts[] = {".pxr", ".rla", ".als", ".rgb", ".sgi", ".pic", ".tga",
                        ".tif", ".ras", ".r",   ".dump", ".gif", ".jpg", ".tq4"};
  EXPECT_EQ(image_io_number_of_formats(), 14);
  for (int i = 0; i < 14; ++i) EXPECT_STREQ(image_io_get_format_extension(i), exts[i]);
  EXPECT_STREQ(image_io_get_format_extension(20), ".pxr");
  EXPECT_STREQ(image_io_get_format_extension(-1), ".pxr");
}

TEST(FrontEnd, LinesIntoEveryTypeWithTheTablesConstants) {
  FrontEnd front;
  for (bool deep : {false, true}) {
    memory_file("in.rla", 4, 3, deep, deep ? sample16 : sample8);
    int w, h, c, t;
    ASSERT_EQ(image_read_file_info("in.rla", w, h, c, t), 1);
    EXPECT_EQ(w, 4);
    EXPECT_EQ(h, 3);
    EXPECT_EQ(c, 4);
    EXPECT_EQ(t, deep ? IMAGE_PIXEL_WORD : IMAGE_PIXEL_BYTE);
    for (int type = 0; type <= 3; ++type)
      for (int channels : {1, 2, 3, 4, 6}) {
        ImagePtr img = make(4, 3, channels, type);
        ASSERT_EQ(image_read_file("in.rla", img.get()), 1) << deep << type << channels;
        for (int y = 0; y < 3; ++y)
          for (int x = 0; x < 4; ++x)
            for (int ch = 0; ch < channels; ++ch) {
              // Channel 3 (alpha) again in every channel past it; ".rla"
              // sends the first line to row 0.
              const int from = ch < 3 ? ch : 3;
              const int v = deep ? sample16(x, y, from) : sample8(x, y, from);
              EXPECT_EQ(sample(img.get(), x, y, ch), expected_sample(v, deep, type))
                  << deep << " type " << type << " channels " << channels << " at " << x << "," << y << "," << ch;
            }
      }
    // A new image is 4 channels of bytes or words, straight from the lines.
    ImagePtr fresh(image_read_file("in.rla"));
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->channels, 4);
    EXPECT_EQ(fresh->pixel_type, deep ? IMAGE_PIXEL_WORD : IMAGE_PIXEL_BYTE);
    EXPECT_EQ(sample(fresh.get(), 3, 2, 1), deep ? sample16(3, 2, 1) : sample8(3, 2, 1));
  }
}

TEST(FrontEnd, TiffRowsFollowTheLineOrderOfTheHandle) {
  FrontEnd front;
  memory_file("in.tif", 2, 3, false, sample8);
  // The driver says which way each file runs; the table's flag does not.
  for (int order : {IMGIO_TOP_FIRST, IMGIO_BOTTOM_FIRST}) {
    memory_driver().line_order = order;
    ImagePtr fresh(image_read_file("in.tif"));
    ASSERT_TRUE(fresh);
    ImagePtr words = make(2, 3, 3, IMAGE_PIXEL_WORD);
    ASSERT_EQ(image_read_file("in.tif", words.get()), 1);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 2; ++x) {
        const int row = order == IMGIO_TOP_FIRST ? 2 - y : y;
        EXPECT_EQ(sample(fresh.get(), x, row, 0), sample8(x, y, 0)) << order;
        EXPECT_EQ(sample(words.get(), x, row, 2), sample8(x, y, 2) * 257) << order;
      }
    // Written back in the order the driver takes, the rows return to their
    // file lines.
    ASSERT_TRUE(image_write_file("out.tif", fresh.get(), false));
    EXPECT_EQ(memory_driver().files.at("out.tif").samples, memory_driver().files.at("in.tif").samples);
  }
}

TEST(FrontEnd, EveryTypeIntoLines) {
  FrontEnd front;
  for (int type = 0; type <= 3; ++type)
    for (int channels : {1, 2, 3, 4, 5}) {
      ImagePtr img = make(3, 2, channels, type);
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
          for (int c = 0; c < channels; ++c) {
            const int v16 = sample16(x, y, c);
            // Floats sit half a step above the sample, so truncation gives it.
            const double v = type == 0   ? v16 >> 8
                             : type == 1 ? v16
                             : type == 2 ? double(uint32_t(v16) << 16 | 0x1234)
                                         : (v16 + 0.5) / 65535.0;
            set_sample(img.get(), x, y, c, v);
          }
      ASSERT_TRUE(image_write_file("out.rla", img.get(), false)) << type << channels;
      const MemoryImage& file = memory_driver().files.at("out.rla");
      EXPECT_EQ(file.bits16, type != IMAGE_PIXEL_BYTE);
      for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
          for (int c = 0; c < 4; ++c) {
            // A missing channel repeats the last one the image has: a
            // 3-channel image gets alpha = blue.
            const int from = c < channels ? c : channels - 1;
            const int v16 = sample16(x, y, from);
            const int want = type == 0 ? v16 >> 8 : v16;
            EXPECT_EQ(file.pixel(x, y)[c], want)
                << "type " << type << " channels " << channels << " at " << x << "," << y << "," << c;
          }
    }
  // Floats clamp to 0..1 (NaN to 0) and truncate.
  ImagePtr floats = make(6, 1, 1, IMAGE_PIXEL_FLOAT);
  const float values[6] = {-0.5f, 1.5f, NAN, 0.5f, 1.0f, 1e-5f};
  const int want[6] = {0, 65535, 0, 32767, 65535, 0};
  memcpy(floats->pixels, values, sizeof values);
  ASSERT_TRUE(image_write_file("f.rla", floats.get(), false));
  for (int x = 0; x < 6; ++x) EXPECT_EQ(memory_driver().files.at("f.rla").pixel(x, 0)[2], want[x]) << x;

  // Bytes of a float image, through image_convert.
  ASSERT_TRUE(write_float_image_as_byte("b.rla", floats.get()));
  const MemoryImage& bytes = memory_driver().files.at("b.rla");
  EXPECT_FALSE(bytes.bits16);
  EXPECT_EQ(bytes.samples[4 * 1], 255);
  EXPECT_EQ(bytes.samples[4 * 3], 127);
}

namespace {

std::string seen_tiff_compress, seen_tiff_orient, seen_targa;

int recording_create(imginfo* h) {
  auto value = [](const char* key) {
    const char* v = getkeyval(key);
    return std::string(v ? v : "-");
  };
  seen_tiff_compress = value("IMGIO_TIFF_COMPRESS");
  seen_tiff_orient = value("IMGIO_TIFF_ORIENT");
  seen_targa = value("IMGIO_TARGA_COMPRESS");
  return memory_driver_ops::create(h);
}

}  // namespace

TEST(FrontEnd, CompressionSettingsReachTheDriver) {
  imgio_driver ops = memory_driver_ops::all;
  ops.Createf = recording_create;
  PluggedMemoryDriver tiff(kTiff, ops);
  PluggedMemoryDriver targa(kTarga, ops);
  ImagePtr img = make(2, 2, 4, IMAGE_PIXEL_BYTE);
  memset(img->pixels, 3, 16);
  struct Case {
    const char* path;
    bool compress;
    const char* compress_seen;
    const char* orient_seen;
    const char* targa_seen;
  } cases[] = {{"a.tif", true, "lzw", "topleft", "-"},
               {"a.tif", false, "none", "topleft", "-"},
               {"a.tga", true, "-", "-", "yes"},
               {"a.TGA", false, "-", "-", "no"}};
  for (const Case& c : cases) {
    ASSERT_TRUE(image_write_file(c.path, img.get(), c.compress)) << c.path;
    EXPECT_EQ(seen_tiff_compress, c.compress_seen) << c.path;
    EXPECT_EQ(seen_tiff_orient, c.orient_seen) << c.path;
    EXPECT_EQ(seen_targa, c.targa_seen) << c.path;
  }
  // The file is the one the path names, its extension's case included.
  EXPECT_EQ(memory_driver().files.count("a.TGA"), 1u);
}

TEST(FrontEnd, ExtensionsSelectTheFormat) {
  FrontEnd front;
  TempDir dir;
  ImagePtr img = make(2, 2, 4, IMAGE_PIXEL_WORD);
  memset(img->pixels, 1, img->row_bytes * 2);
  ASSERT_TRUE(image_write_file("UP.TIF", img.get(), false));
  EXPECT_EQ(memory_driver().files.count("UP.TIF"), 1u);
  ImagePtr back(image_read_file("UP.TIF"));
  EXPECT_TRUE(back);
  ASSERT_TRUE(image_write_file((dir / "own.TQ4").c_str(), img.get(), false));
  back.reset(image_read_file((dir / "own.TQ4").c_str()));
  ASSERT_TRUE(back);
  EXPECT_EQ(memcmp(back->pixels, img->pixels, 16), 0);
  int w, h, c, t;
  for (const char* path : {"nodot", "picture.png", "a.tq4/file", "a.tifx"}) {
    EXPECT_FALSE(image_write_file(path, img.get(), false)) << path;
    EXPECT_EQ(image_read_file(path), nullptr) << path;
    EXPECT_EQ(image_read_file(path, img.get()), 0) << path;
    EXPECT_EQ(image_read_file_info(path, w, h, c, t), 0) << path;
  }
  EXPECT_TRUE(memory_driver().files.size() == 1u);
  // A format without a create operation fails like a file that is not there.
  imgio_driver no_create = memory_driver_ops::all;
  no_create.Createf = nullptr;
  PluggedMemoryDriver gif(13, no_create);
  MessageCapture capture;
  EXPECT_FALSE(image_write_file("a.gif", img.get(), false));
  EXPECT_EQ(capture.last(), "UGH: No create file routine defined for format [gif]!\n");
}

TEST(FrontEnd, FailuresOfTheDriverFailTheCall) {
  FrontEnd front;
  MessageCapture capture;
  memory_file("in.rla", 3, 4, true, sample16);
  // A size that differs: refused, the image untouched.
  ImagePtr other = make(3, 5, 4, IMAGE_PIXEL_WORD);
  memset(other->pixels, 0x77, other->row_bytes * 5);
  EXPECT_EQ(image_read_file("in.rla", other.get()), 0);
  EXPECT_EQ(px<uint16_t>(other)[0], 0x7777);
  EXPECT_EQ(memory_driver().closes, 1);
  // Failing line reads.
  memory_driver().fail_read_line = 2;
  ImagePtr img = make(3, 4, 3, IMAGE_PIXEL_FLOAT);
  EXPECT_EQ(image_read_file("in.rla", img.get()), 0);
  EXPECT_EQ(image_read_file("in.rla"), nullptr);
  memory_driver().fail_read_line = -1;
  // A close that fails fails the write: most drivers write at close.
  memory_driver().fail_close = true;
  EXPECT_FALSE(image_write_file("out.rla", img.get(), false));
  EXPECT_EQ(capture.last(), "ERROR: Failed to close file [out.rla] format [rla]\n");
  memory_driver().fail_close = false;
  memory_driver().fail_write_line = 1;
  ImagePtr direct = make(3, 4, 4, IMAGE_PIXEL_BYTE);
  EXPECT_FALSE(image_write_file("out.rla", direct.get(), false));
  EXPECT_FALSE(image_write_file("out.rla", img.get(), false));
  memory_driver().fail_write_line = -1;
  memory_driver().fail_create = true;
  EXPECT_FALSE(image_write_file("out.rla", img.get(), false));
  memory_driver().fail_create = false;
  EXPECT_FALSE(image_write_file("out.rla", nullptr, false));
  EXPECT_EQ(image_read_file("in.rla", nullptr), 0);
  EXPECT_EQ(image_read_file(nullptr), nullptr);
  // Every use of the library was finished: nothing of it stays set.
  EXPECT_EQ(imgsystem.settings, nullptr);
  EXPECT_EQ(imgsystem.formats[kRla].name, nullptr);
}

TEST(FrontEnd, SequenceNames) {
  TempDir dir;
  ImagePtr img = make(3, 2, 1, IMAGE_PIXEL_BYTE);
  memset(img->pixels, 4, 6);
  char name[IMAGE_IO_NAME_SIZE] = "";
  const std::string take = dir / "take_0042.tq4";
  ASSERT_TRUE(write_image_sequence_file(img.get(), take.c_str(), 12, name));
  EXPECT_EQ(std::string(name), dir / "take_0012.tq4");
  EXPECT_TRUE(std::ifstream(dir / "take_0012.tq4").good());
  ImagePtr back(read_image_sequence_file(take.c_str(), 12, name));
  EXPECT_TRUE(back);
  EXPECT_EQ(std::string(name), dir / "take_0012.tq4");
  // A negative frame uses the path as it is.
  ASSERT_TRUE(write_image_sequence_file(img.get(), take.c_str(), -1, name));
  EXPECT_EQ(std::string(name), take);
  back.reset(read_image_sequence_file((dir / "take_0012.tq4").c_str(), -1, nullptr));
  EXPECT_TRUE(back);
  // More digits than the name had; none at all; no folder; the root folder.
  ASSERT_TRUE(write_image_sequence_file(img.get(), (dir / "s_7.tq4").c_str(), 123, name));
  EXPECT_EQ(std::string(name), dir / "s_123.tq4");
  ASSERT_TRUE(write_image_sequence_file(img.get(), (dir / "still.tq4").c_str(), 5, name));
  EXPECT_EQ(std::string(name), dir / "still.tq4");
  EXPECT_EQ(read_image_sequence_file("/shot_0042.tq4", 3, name), nullptr);
  EXPECT_EQ(std::string(name), "/shot_0003.tq4");
  EXPECT_EQ(read_image_sequence_file("shot_1.tq4", 3, name), nullptr);
  EXPECT_EQ(std::string(name), "shot_3.tq4");
  // No extension: fails before any file is touched.
  strcpy(name, "untouched");
  const std::string bare = dir / "take_0042";
  EXPECT_FALSE(write_image_sequence_file(img.get(), bare.c_str(), 3, name));
  EXPECT_EQ(read_image_sequence_file(bare.c_str(), 3, name), nullptr);
  EXPECT_STREQ(name, "untouched");
  EXPECT_FALSE(write_image_sequence_file(img.get(), (dir / ".tq4").c_str(), 3, name));
  // Names that would not fit the buffers.
  const std::string huge = std::string(IMAGE_IO_NAME_SIZE, 'x') + ".tq4";
  EXPECT_EQ(read_image_sequence_file(huge.c_str(), 3, name), nullptr);
  EXPECT_EQ(read_image_sequence_file(huge.c_str(), -1, name), nullptr);
  EXPECT_STREQ(name, "untouched");
}
