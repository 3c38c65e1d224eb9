#include <cstdint>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "driver_test_support.h"
#include "failing_heap.h"
#include "imgio.h"
#include "imgio_memory_driver.h"
#include "imgio_message_capture.h"
#include "imgio_utils.h"
#include "q4_memory.h"

namespace {

const int kTiff = 9;

// A distinct value for every sample of a picture.
int sample8(int x, int y, int c) { return (x * 7 + y * 31 + c * 57 + 3) & 255; }
int sample16(int x, int y, int c) { return (x * 977 + y * 7919 + c * 15013 + 11) & 65535; }

unsigned packed(int x, int y) {
  unsigned p = 0;
  for (int c = 0; c < 4; ++c) p |= static_cast<unsigned>(sample8(x, y, c)) << (8 * c);
  return p;
}

struct LineDeleter {
  void operator()(void* line) const { q4_free_c(line, __FILE__, __LINE__); }
};
typedef std::unique_ptr<unsigned int, LineDeleter> Line;
typedef std::unique_ptr<unsigned short, LineDeleter> Line16;

// A format session with the memory driver in the "tiff" entry.
struct TiffSession {
  PluggedMemoryDriver driver{kTiff};
  ImgioSession session;
  MessageCapture capture;
  TiffSession() { setimageformat("tiff"); }
};

}  // namespace

TEST(Handles, ReadsEveryLineThenZeros) {
  TiffSession s;
  memory_file("shot.tif", 5, 3, false, sample8);
  memory_file("deep.tif", 4, 2, true, sample16);

  // The name takes the format's extension.
  imginfo* h = openimg("shot.rgb");
  ASSERT_NE(h, nullptr);
  EXPECT_STREQ(h->file_name, "shot.tif");
  EXPECT_EQ(h->mode, IMGIO_READ);
  EXPECT_EQ(h->width, 5);
  EXPECT_EQ(h->height, 3);
  EXPECT_EQ(h->bits16, 0);
  EXPECT_EQ(h->current_line, -1);
  Line line(createline(5));
  for (int y = 0; y < 3; ++y) {
    ASSERT_EQ(readline(h, line.get()), 0);
    for (int x = 0; x < 5; ++x) EXPECT_EQ(line.get()[x], packed(x, y)) << x << "," << y;
  }
  // Line h + 1 and any later one: success and zeros, no driver call.
  for (int extra = 0; extra < 2; ++extra) {
    ASSERT_EQ(readline(h, line.get()), 0);
    for (int x = 0; x < 5; ++x) EXPECT_EQ(line.get()[x], 0u);
  }
  EXPECT_EQ(memory_driver().lines_read, std::vector<int>({0, 1, 2}));
  EXPECT_EQ(closeimg(h), 0);

  // 16-bit lines of an 8-bit file, and 8-bit lines of a 16-bit file, as the
  // driver widens and narrows them.
  h = openimg("shot");
  ASSERT_NE(h, nullptr);
  Line16 line16(createline16(5));
  ASSERT_EQ(readline16(h, line16.get()), 0);
  for (int x = 0; x < 5; ++x)
    for (int c = 0; c < 4; ++c) EXPECT_EQ(line16.get()[4 * x + c], sample8(x, 0, c) * 257);
  EXPECT_EQ(closeimg(h), 0);
  h = openimg("deep.tif");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->bits16, 1);
  ASSERT_EQ(readline(h, line.get()), 0);
  ASSERT_EQ(readline16(h, line16.get()), 0);
  for (int x = 0; x < 4; ++x)
    for (int c = 0; c < 4; ++c) {
      EXPECT_EQ((line.get()[x] >> (8 * c)) & 255u, static_cast<unsigned>(sample16(x, 0, c) >> 8));
      EXPECT_EQ(line16.get()[4 * x + c], sample16(x, 1, c));
    }
  ASSERT_EQ(readline16(h, line16.get()), 0);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(line16.get()[i], 0);
  EXPECT_EQ(closeimg(h), 0);
  EXPECT_TRUE(s.capture.messages.empty());
}

TEST(Handles, WritesLinesAndChecksModeAndDepth) {
  TiffSession s;
  setframenumber(42);
  EXPECT_EQ(createimg("out.tif", 3, 2, 12), nullptr);
  EXPECT_EQ(s.capture.last(), "ERROR: nbits must be 8 or 16 in [createimg()].\n");
  EXPECT_EQ(createimg("out.tif", 0, 2, 8), nullptr);

  imginfo* h = createimg("out.x", 3, 2, 16);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->mode, IMGIO_WRITE);
  EXPECT_EQ(h->file_width, 3);
  EXPECT_EQ(h->height, 2);
  EXPECT_EQ(h->frame, 42);
  Line line(createline(3));
  Line16 line16(createline16(3));
  EXPECT_EQ(writeline(h, line.get()), 1);
  EXPECT_EQ(s.capture.last(), "ERROR: writeline(): File was created for 16 bit data.\n");
  EXPECT_EQ(readline16(h, line16.get()), 1);
  EXPECT_EQ(s.capture.last(), "ERROR: Attempt to read from file opened for write.\n");
  EXPECT_EQ(seekline(h, 0), 1);
  EXPECT_EQ(s.capture.last(), "ERROR: Attempt to seek in file opened for write.\n");
  for (int y = 0; y < 2; ++y) {
    for (int i = 0; i < 12; ++i) line16.get()[i] = static_cast<unsigned short>(1000 * y + i);
    ASSERT_EQ(writeline16(h, line16.get()), 0);
  }
  // A line past the last fails without a message.
  const size_t messages = s.capture.messages.size();
  EXPECT_EQ(writeline16(h, line16.get()), 1);
  EXPECT_EQ(s.capture.messages.size(), messages);
  EXPECT_EQ(closeimg(h), 0);
  const MemoryImage& file = memory_driver().files.at("out.tif");
  EXPECT_EQ(file.frame, 42);
  EXPECT_TRUE(file.bits16);
  EXPECT_EQ(file.samples[12 + 5], 1005);

  h = createimg("small.tif", 3, 1, 8);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(writeline16(h, line16.get()), 1);
  EXPECT_EQ(s.capture.last(), "ERROR: writeline16(): File was created for 8 bit data.\n");
  EXPECT_EQ(closeimg(h), 0);

  memory_file("in.tif", 3, 1, false, sample8);
  h = openimg("in.tif");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(writeline(h, line.get()), 1);
  EXPECT_EQ(s.capture.last(), "ERROR: Attempt to write to file opened for read.\n");
  EXPECT_EQ(closeimg(h), 0);
}

TEST(Handles, FailuresReportWhatFailed) {
  MessageCapture capture;
  {
    ImgioSession session;
    EXPECT_EQ(openimg("a.tif"), nullptr);
    EXPECT_EQ(capture.last(), "ERROR: Image format not set at [openimg()]\n");
    EXPECT_EQ(openimgscaled("a.tif", 2, 2), nullptr);
    EXPECT_EQ(capture.last(), "ERROR: Image format not set at [openimgscaled()]\n");
    EXPECT_EQ(createimg("a.tif", 2, 2, 8), nullptr);
    EXPECT_EQ(capture.last(), "ERROR: Image format not set at [createimg()]\n");
    // A format whose driver provides no operation.
    PluggedMemoryDriver none(1, imgio_driver{});
    setimageformat("pixar");
    EXPECT_EQ(openimg("a"), nullptr);
    EXPECT_EQ(capture.last(), "UGH: No open file routine defined for format [pixar]!\n");
    EXPECT_EQ(capture.last_level(), IMSSYS_FATAL);
    EXPECT_EQ(createimg("a", 2, 2, 8), nullptr);
    EXPECT_EQ(capture.last(), "UGH: No create file routine defined for format [pixar]!\n");
  }
  TiffSession s;
  EXPECT_EQ(openimg("dir/missing.tga"), nullptr);
  EXPECT_EQ(s.capture.last(), "ERROR: Failed to open file [dir/missing.tif] format [tiff]\n");
  EXPECT_EQ(s.capture.last_level(), IMSSYS_INFO);
  memory_driver().fail_create = true;
  EXPECT_EQ(createimg("new", 2, 2, 8), nullptr);
  EXPECT_EQ(s.capture.last(), "ERROR: Failed to create file [new.tif] format [tiff]\n");
  memory_driver().fail_create = false;

  memory_file("a.tif", 2, 4, false, sample8);
  memory_driver().fail_read_line = 2;
  imginfo* h = openimg("a.tif");
  ASSERT_NE(h, nullptr);
  Line line(createline(2));
  EXPECT_EQ(readline(h, line.get()), 0);
  EXPECT_EQ(readline(h, line.get()), 0);
  EXPECT_EQ(readline(h, line.get()), 1);
  EXPECT_EQ(s.capture.last(), "ERROR: Failed to read line 2 from [a.tif] format [tiff]\n");
  memory_driver().fail_close = true;
  EXPECT_EQ(closeimg(h), 1);
  EXPECT_EQ(s.capture.last(), "ERROR: Failed to close file [a.tif] format [tiff]\n");
  memory_driver().fail_close = false;

  memory_driver().fail_write_line = 1;
  h = createimg("b.tif", 2, 3, 8);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(writeline(h, line.get()), 0);
  EXPECT_EQ(writeline(h, line.get()), 1);
  EXPECT_EQ(s.capture.last(), "ERROR: Failed to write line 1 to [b.tif] format [tiff]\n");
  EXPECT_EQ(closeimg(h), 0);
  EXPECT_EQ(closeimg(nullptr), 1);
  EXPECT_EQ(readline(nullptr, line.get()), 1);
  EXPECT_EQ(writeline16(nullptr, nullptr), 1);
}

TEST(Handles, MissingOperationsAreReported) {
  imgio_driver ops{};
  ops.Openf = memory_driver_ops::open;
  ops.Createf = memory_driver_ops::create;
  PluggedMemoryDriver driver(kTiff, ops);
  ImgioSession session;
  MessageCapture capture;
  setimageformat("tiff");
  memory_file("a.tif", 2, 2, false, sample8);
  imginfo* h = openimg("a.tif");
  ASSERT_NE(h, nullptr);
  Line line(createline(2));
  Line16 line16(createline16(2));
  EXPECT_EQ(readline(h, line.get()), 1);
  EXPECT_EQ(capture.last(), "UGH: No read line routine defined for format [tiff]!\n");
  EXPECT_EQ(capture.last_level(), IMSSYS_FATAL);
  EXPECT_EQ(readline16(h, line16.get()), 1);
  EXPECT_EQ(capture.last(), "UGH: No 16-bit read line routine defined for format [tiff]!\n");
  EXPECT_EQ(makeseekable(h), 1);
  EXPECT_EQ(capture.last(), "UGH: No make seekable routine defined for format [tiff]!\n");
  h->seekable = 1;
  EXPECT_EQ(seekline(h, 1), 1);
  EXPECT_EQ(capture.last(), "UGH: No seek to line routine defined for format [tiff]!\n");
  // Without Closef the driver's record is the test's to release; the handle
  // itself is released by closeimg all the same (the sanitized build would
  // report it otherwise).
  delete memory_driver_ops::record(h);
  EXPECT_EQ(closeimg(h), 1);
  EXPECT_EQ(capture.last(), "UGH: No close file routine defined for format [tiff]!\n");
  EXPECT_EQ(capture.last_level(), IMSSYS_FATAL);

  h = createimg("w.tif", 2, 2, 8);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(writeline(h, line.get()), 1);
  EXPECT_EQ(capture.last(), "UGH: No write line routine defined for format [tiff]!\n");
  delete memory_driver_ops::record(h);
  EXPECT_EQ(closeimg(h), 1);
  h = createimg("w.tif", 2, 2, 16);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(writeline16(h, line16.get()), 1);
  EXPECT_EQ(capture.last(), "UGH: No 16-bit write line routine defined for format [tiff]!\n");
  delete memory_driver_ops::record(h);
  EXPECT_EQ(closeimg(h), 1);
}

TEST(Handles, SeeksRepositionAndOutOfRangeSeeksGiveZeros) {
  TiffSession s;
  memory_file("a.tif", 3, 5, false, sample8);
  imginfo* h = openimg("a.tif");
  ASSERT_NE(h, nullptr);
  Line line(createline(3));
  EXPECT_EQ(seekline(h, 2), 1);
  EXPECT_EQ(s.capture.last(), "ERROR: Attempt to seek in file not made seekable.\n");
  ASSERT_EQ(makeseekable(h), 0);
  EXPECT_EQ(h->seekable, 1);
  struct Step {
    int seek;  // -100: no seek before the read
    int line;  // the line the read delivers, -1 for zeros
  } steps[] = {{3, 3}, {-100, 4}, {-100, -1}, {0, 0}, {-100, 1}, {5, -1}, {-100, -1},
               {-1, -1}, {-100, -1}, {-100, -1}, {4, 4}, {-100, -1}, {1, 1}};
  for (const Step& step : steps) {
    if (step.seek != -100) {
      ASSERT_EQ(seekline(h, step.seek), 0);
    }
    ASSERT_EQ(readline(h, line.get()), 0);
    for (int x = 0; x < 3; ++x)
      EXPECT_EQ(line.get()[x], step.line < 0 ? 0u : packed(x, step.line)) << step.seek;
  }
  // The driver was only ever asked for the line it stood at.
  EXPECT_EQ(memory_driver().lines_read, std::vector<int>({3, 4, 0, 1, 4, 1}));
  memory_driver().fail_seek = true;
  EXPECT_EQ(seekline(h, 1), 1);
  EXPECT_EQ(s.capture.last(), "ERROR: Failed to seek to line [1] in file [a.tif] format [tiff]\n");
  EXPECT_EQ(closeimg(h), 0);

  memory_driver().fail_make_seek = true;
  h = openimg("a.tif");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(makeseekable(h), 1);
  EXPECT_EQ(s.capture.last(), "ERROR: Failed to make image [a.tif] seekable, format [tiff]\n");
  EXPECT_EQ(h->seekable, 0);
  EXPECT_EQ(closeimg(h), 0);

  h = createimg("w.tif", 2, 2, 8);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(makeseekable(h), 1);
  EXPECT_EQ(s.capture.last(), "ERROR: Attempt to make seekable a file opened for write.\n");
  EXPECT_EQ(closeimg(h), 0);
}

// Lines appended as samples, 8-bit ones in the first half; false when a
// read failed.
bool read_rows(imginfo* h, int rows, bool deep, std::vector<unsigned short>* out) {
  std::vector<unsigned short> line(4 * size_t(h->width));
  bool ok = true;
  for (int y = 0; y < rows; ++y) {
    ok = (deep ? readline16(h, line.data()) : readline(h, reinterpret_cast<unsigned*>(line.data()))) == 0 && ok;
    out->insert(out->end(), line.begin(), line.end());
  }
  return ok;
}

TEST(Handles, MakeSeekableAfterReadsReadsOnInStep) {
  // Every format with a reader: K lines read, the table made, the rest read
  // give the lines of a straight read. Files cut short (".cut": a Pixar line
  // takes 2.4 kB, its blocks 8 kB): the table fails, reading goes on.
  for (const std::string format : {"pixar", "rla", "softimage", "alias", "sgirgb", "yuv", "vertigo", "targa2", "tiff",
                                   "sun", "art24", "symbolics", "gif", "cin", "sgisgi", "jpeg", "pixar.cut",
                                   "softimage.cut"}) {
    ImgioSession session;
    MessageCapture capture;
    TempDir dir;
    setkeyval("IMGIO_YUV_LINESIZE", "600");
    setkeyval("IMGIO_YUV_LINES", "40");
    ASSERT_EQ(setimageformat(format.substr(0, format.find('.')).c_str()), 0);
    const std::string whole = getformatextension((dir / "whole").c_str(), "?"),
                      path = getformatextension((dir / "seek").c_str(), "?");
    const bool cut = format.size() > 9;
    const int rows = cut ? 10 : 40;
    ASSERT_TRUE(write_picture(whole, pattern8(600, 40), false)) << format;
    write_text(path, read_text(whole).substr(0, cut ? 5 * 8192 : std::string::npos));
    for (bool deep : {false, true}) {
      std::vector<unsigned short> straight;
      imginfo* h = openimg(whole.c_str());
      ASSERT_TRUE(read_rows(h, rows, deep, &straight)) << format;
      EXPECT_EQ(closeimg(h), 0);
      for (int k : {0, 1, 2, 9, 39, 40}) {
        std::vector<unsigned short> lines;
        h = openimg(path.c_str());
        ASSERT_TRUE(h && read_rows(h, std::min(k, rows), deep, &lines)) << format;
        EXPECT_EQ(makeseekable(h), cut ? 1 : 0) << format << " " << k;
        EXPECT_TRUE(read_rows(h, rows - std::min(k, rows), deep, &lines)) << format << " " << k;
        EXPECT_EQ(lines, straight) << format << " " << k << " " << deep;
        EXPECT_EQ(closeimg(h), 0);
      }
    }
  }
}

TEST(Handles, SizesNoPictureMayHaveAreRefused) {
  TiffSession s;
  memory_file("a.tif", 2, 2, false, sample8);
  setkeyval("IMGIO_MAX_PIXELS", "1000");
  const int sizes[][2] = {{0, 2}, {2, 0}, {-1, 5}, {1001, 1}, {40, 26}};
  memory_driver().open_size = true;
  for (const auto& size : sizes) {
    memory_driver().open_width = size[0];
    memory_driver().open_height = size[1];
    const int closes = memory_driver().closes;
    EXPECT_EQ(openimg("a.tif"), nullptr) << size[0] << "x" << size[1];
    EXPECT_EQ(s.capture.last(), "ERROR: Image size " + std::to_string(size[0]) + "x" +
                                    std::to_string(size[1]) + " of [a.tif] is out of range.\n");
    // The driver's record was released through its close.
    EXPECT_EQ(memory_driver().closes, closes + 1);
  }
  memory_driver().open_size = false;
  EXPECT_EQ(openimgscaled("a.tif", 0, 5), nullptr);
  EXPECT_EQ(s.capture.last(), "ERROR: Invalid scaled size 0x5 at [openimgscaled()]\n");
  EXPECT_EQ(openimgscaled("a.tif", 5, -2), nullptr);
  EXPECT_EQ(openimgscaled("a.tif", 40, 26), nullptr);
}

TEST(Handles, FailedAllocationsReleaseEverything) {
  TiffSession s;
  memory_file("a.tif", 4, 3, true, sample16);
  for (int grants = 0; grants < 12; ++grants) {
    FailingHeap heap(grants);
    imginfo* plain = openimg("a.tif");
    imginfo* scaled = openimgscaled("a.tif", 2, 2);
    imginfo* created = createimg("b.tif", 2, 2, 8);
    for (imginfo* h : {plain, scaled, created})
      if (h) {
        EXPECT_EQ(closeimg(h), 0);
      }
    if (grants == 0) {
      EXPECT_EQ(plain, nullptr);
      EXPECT_EQ(s.capture.last(), "ERROR: Couldn't allocate space for image info.\n");
      EXPECT_EQ(s.capture.last_level(), IMSSYS_FATAL);
    }
  }
}

TEST(Handles, LinesAndBuffersAreZeroedAndBounded) {
  Line line(createline(3));
  Line16 line16(createline16(3));
  ASSERT_TRUE(line && line16);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(line.get()[i], 0u);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(line16.get()[i], 0);
  unsigned int* buffer = createbuffer(5, 4);
  unsigned short* buffer16 = createbuffer16(5, 4);
  ASSERT_TRUE(buffer && buffer16);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(buffer[i], 0u);
  for (int i = 0; i < 80; ++i) EXPECT_EQ(buffer16[i], 0);
  destroybuffer(buffer);
  destroybuffer16(buffer16);
  destroybuffer(nullptr);
  EXPECT_EQ(createline(0), nullptr);
  EXPECT_EQ(createline16(-3), nullptr);
  EXPECT_EQ(createline16(0x20000000), nullptr);
  EXPECT_EQ(createbuffer(0, 5), nullptr);
  EXPECT_EQ(createbuffer(-5, -5), nullptr);
  EXPECT_EQ(createbuffer16(65536, 65536), nullptr);
  EXPECT_EQ(createbuffer(65536, 16384), nullptr);
}

TEST(WholeBuffers, RowsFollowTheLineOrder) {
  TiffSession s;
  memory_file("a.tif", 3, 4, false, sample8);
  memory_file("d.tif", 2, 3, true, sample16);
  for (int order : {IMGIO_BOTTOM_FIRST, IMGIO_TOP_FIRST}) {
    memory_driver().line_order = order;
    int width = 0, height = 0;
    unsigned int* buffer = readbuf("a.x", &width, &height);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(width, 3);
    EXPECT_EQ(height, 4);
    for (int row = 0; row < 4; ++row) {
      const int file_line = order == IMGIO_BOTTOM_FIRST ? row : 3 - row;
      for (int x = 0; x < 3; ++x) EXPECT_EQ(buffer[row * 3 + x], packed(x, file_line)) << order;
    }
    // Written back, the same buffer gives the same file lines.
    ASSERT_EQ(writebuf(buffer, 3, 4, "copy"), 0);
    const MemoryImage& copy = memory_driver().files.at("copy.tif");
    EXPECT_EQ(copy.samples, memory_driver().files.at("a.tif").samples);
    destroybuffer(buffer);

    unsigned short* buffer16 = readbuf16("d.tif", &width, &height);
    ASSERT_NE(buffer16, nullptr);
    EXPECT_EQ(width, 2);
    EXPECT_EQ(height, 3);
    for (int row = 0; row < 3; ++row) {
      const int file_line = order == IMGIO_BOTTOM_FIRST ? row : 2 - row;
      for (int x = 0; x < 2; ++x)
        for (int c = 0; c < 4; ++c)
          EXPECT_EQ(buffer16[(row * 2 + x) * 4 + c], sample16(x, file_line, c));
    }
    ASSERT_EQ(writebuf16(buffer16, 2, 3, "copy16"), 0);
    EXPECT_EQ(memory_driver().files.at("copy16.tif").samples, memory_driver().files.at("d.tif").samples);
    destroybuffer16(buffer16);
  }
  // Both sizes come from the arguments: a 2x6 write of a 12-pixel buffer.
  unsigned int* buffer = createbuffer(3, 4);
  ASSERT_EQ(writebuf(buffer, 2, 6, "wide"), 0);
  EXPECT_EQ(memory_driver().files.at("wide.tif").width, 2);
  EXPECT_EQ(memory_driver().files.at("wide.tif").height, 6);
  EXPECT_EQ(writebuf(buffer, 0, 6, "wide"), 1);
  EXPECT_EQ(s.capture.last(), "ERROR: Invalid image size 0x6 at [writebuf()]\n");
  destroybuffer(buffer);

  int width = 7, height = 7;
  EXPECT_EQ(readbuf("none.tif", &width, &height), nullptr);
  EXPECT_EQ(s.capture.last(), "ERROR: Failed to read whole image from [none.tif] format [tiff]\n");
  EXPECT_EQ(readbuf16("none.tif", &width, &height), nullptr);
  EXPECT_EQ(s.capture.last(), "ERROR: Failed to read 16-bit whole image from [none.tif] format [tiff]\n");
  EXPECT_EQ(width, 7);
  memory_driver().fail_create = true;
  unsigned short* buffer16 = createbuffer16(1, 1);
  EXPECT_EQ(writebuf16(buffer16, 1, 1, "x"), 1);
  EXPECT_EQ(s.capture.last(), "ERROR: Failed to write 16-bit whole image from [x.tif] format [tiff]\n");
  destroybuffer16(buffer16);
}

TEST(WholeBuffers, MissingFormatOrOperations) {
  ImgioSession session;
  MessageCapture capture;
  int width = 0, height = 0;
  unsigned int pixel = 0;
  unsigned short pixel16[4] = {};
  EXPECT_EQ(readbuf("a.tif", &width, &height), nullptr);
  EXPECT_EQ(capture.last(), "ERROR: Image format not set at [readbuf()]\n");
  EXPECT_EQ(readbuf16("a.tif", &width, &height), nullptr);
  EXPECT_EQ(capture.last(), "ERROR: Image format not set at [readbuf16()]\n");
  EXPECT_EQ(writebuf(&pixel, 1, 1, "a.tif"), 1);
  EXPECT_EQ(capture.last(), "ERROR: Image format not set at [writebuf()]\n");
  EXPECT_EQ(writebuf16(pixel16, 1, 1, "a.tif"), 1);
  EXPECT_EQ(capture.last(), "ERROR: Image format not set at [writebuf16()]\n");
  // A driver without whole-buffer operations.
  imgio_driver lines_only = memory_driver_ops::all;
  lines_only.Readb = lines_only.Readb16 = lines_only.Writeb = lines_only.Writeb16 = nullptr;
  PluggedMemoryDriver plugged(13, lines_only);
  setimageformat("gif");
  EXPECT_EQ(readbuf("a", &width, &height), nullptr);
  EXPECT_EQ(capture.last(), "UGH: No read whole buffer routine defined for format [gif]!\n");
  EXPECT_EQ(readbuf16("a", &width, &height), nullptr);
  EXPECT_EQ(capture.last(), "UGH: No 16-bit read whole buffer routine defined for format [gif]!\n");
  EXPECT_EQ(writebuf(&pixel, 1, 1, "a"), 1);
  EXPECT_EQ(capture.last(), "UGH: No write whole buffer routine defined for format [gif]!\n");
  EXPECT_EQ(writebuf16(pixel16, 1, 1, "a"), 1);
  EXPECT_EQ(capture.last(), "UGH: No 16-bit write whole buffer routine defined for format [gif]!\n");
  EXPECT_EQ(imgsystem.buffer.file_name, nullptr);
}
