// Every driver of this family writes and reads back what it keeps, at
// widths that meet the coders' limits, at both depths, line by line and as
// whole buffers, and writes the same bytes both ways.
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include <gtest/gtest.h>

#include "driver_files.h"
#include "failing_heap.h"
#include "imgio_alias.h"
#include "imgio_art24.h"
#include "imgio_pixar.h"
#include "imgio_rla.h"
#include "imgio_soft.h"
#include "imgio_symbolics.h"
#include "imgio_vertigo.h"
#include "imgio_yuv.h"
#include "q4_memory.h"

namespace {

struct Format {
  const char* name;
  const char* ext;
  const imgio_driver* driver;
  bool alpha;     // alpha is stored
  bool exact16;   // 16-bit samples are stored whole, else their high bytes
  unsigned widen; // a stored byte v reads as v * widen in a 16-bit line
};

const Format kFormats[] = {
    {"pixar", "pxr", &pixar_driver, true, false, 257},      {"rla", "rla", &rla_driver, true, true, 256},
    {"softimage", "pic", &soft_driver, true, false, 256},   {"symbolics", "dump", &symbolics_driver, true, false, 256},
    {"vertigo", "pic", &vertigo_driver, true, false, 256},  {"alias", "als", &alias_driver, false, false, 257},
    {"art24", "r", &art24_driver, false, false, 256},
};

// What a file written from the 8-bit or 16-bit picture holds, as a byte.
unsigned stored(const Format& f, bool deep, int x, int y, int c) {
  if (c == 3 && !f.alpha) return 255;
  return deep ? sample16(x, y, c) >> 8 : sample(x, y, c);
}

void check_lines(const Format& f, const Picture& p8, const Picture& p16, bool deep, int width, int height) {
  int bad = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width && bad < 5; ++x)
      for (int c = 0; c < 4; ++c) {
        const unsigned byte = stored(f, deep, x, y, c);
        const unsigned v8 = p8.lines[size_t(y) * width + x] >> (8 * c) & 255u;
        unsigned want16 = c == 3 && !f.alpha ? 65535u : byte * f.widen;
        if (deep && f.exact16) want16 = sample16(x, y, c);
        const unsigned v16 = p16.lines16[(size_t(y) * width + x) * 4 + c];
        if (v8 != byte || v16 != want16) {
          ++bad;
          ADD_FAILURE() << f.name << " deep " << deep << " width " << width << " at " << x << "," << y << " c" << c
                        << ": " << v8 << " " << v16 << " want " << byte << " " << want16;
        }
      }
}

}  // namespace

TEST(DriverRoundTrip, EveryFormatKeepsWhatItStores) {
  for (const Format& f : kFormats) {
    DriverSession s(f.name);
    EXPECT_EQ(imgsystem.formats[imgfindformat(f.name)].ops.Openf, f.driver->Openf) << f.name;
    for (int width : {1, 128, 129, 4000})
      for (bool deep : {false, true}) {
        const int height = 3;
        const std::string path = s / (std::string("pic.") + f.ext);
        ASSERT_TRUE(write_picture(path, width, height, deep)) << f.name << " " << width << " " << s.capture.last();
        Picture p8, p16;
        ASSERT_TRUE(read_picture(path, &p8, false)) << f.name << " " << s.capture.last();
        ASSERT_TRUE(read_picture(path, &p16, true)) << f.name;
        ASSERT_EQ(p8.width, width);
        ASSERT_EQ(p8.height, height);
        check_lines(f, p8, p16, deep, width, height);
      }
  }
}

TEST(DriverRoundTrip, WholeBuffersFollowTheLineOrderAndWriteTheSameBytes) {
  for (const Format& f : kFormats) {
    DriverSession s(f.name);
    const int width = 21, height = 4;
    const int order = imgsystem.formats[imgfindformat(f.name)].line_order;
    // Lines written one by one, and the same picture as a whole buffer.
    mkdir((s / "a").c_str(), 0700);
    mkdir((s / "b").c_str(), 0700);
    const std::string by_line = s / (std::string("a/pic.") + f.ext);
    const std::string whole = s / (std::string("b/pic.") + f.ext);
    ASSERT_TRUE(write_picture(by_line, width, height, false)) << f.name;
    std::vector<unsigned> buffer(size_t(width) * height);
    for (int line = 0; line < height; ++line) {
      const int row = order == IMGIO_BOTTOM_FIRST ? line : height - 1 - line;
      for (int x = 0; x < width; ++x) buffer[size_t(row) * width + x] = pixel8(x, line);
    }
    ASSERT_EQ(writebuf(buffer.data(), width, height, whole.c_str()), 0) << f.name;
    EXPECT_EQ(file_bytes(by_line), file_bytes(whole)) << f.name;
    EXPECT_FALSE(file_bytes(whole).empty());
    // Written again, a file is the same to the byte: the stamp is fixed.
    ASSERT_TRUE(write_picture(by_line + "2", width, height, false));
    ASSERT_TRUE(write_picture(whole, width, height, false));
    EXPECT_EQ(file_bytes(by_line), file_bytes(whole)) << f.name;

    int w = 0, h = 0;
    unsigned* back = readbuf(whole.c_str(), &w, &h);
    ASSERT_NE(back, nullptr) << f.name;
    ASSERT_EQ(w, width);
    ASSERT_EQ(h, height);
    unsigned short* back16 = readbuf16(whole.c_str(), &w, &h);
    ASSERT_NE(back16, nullptr) << f.name;
    for (size_t i = 0; i < buffer.size(); ++i) {
      const unsigned want = f.alpha ? buffer[i] : buffer[i] | 0xFF000000u;
      EXPECT_EQ(back[i], want) << f.name << " " << i;
      EXPECT_EQ(back16[4 * i], (buffer[i] & 255u) * f.widen) << f.name << " " << i;
    }
    destroybuffer(back);
    destroybuffer16(back16);
    // 16-bit whole buffers go through the same lines.
    std::vector<unsigned short> buffer16(buffer.size() * 4);
    for (size_t i = 0; i < buffer.size(); ++i)
      for (int c = 0; c < 4; ++c) buffer16[4 * i + c] = static_cast<unsigned short>((buffer[i] >> (8 * c) & 255u) << 8 | 0x5A);
    const std::string deep = s / (std::string("deep.") + f.ext);
    ASSERT_EQ(writebuf16(buffer16.data(), width, height, deep.c_str()), 0) << f.name;
    back = readbuf(deep.c_str(), &w, &h);
    ASSERT_NE(back, nullptr);
    for (size_t i = 0; i < buffer.size(); ++i)
      EXPECT_EQ(back[i], f.alpha ? buffer[i] : buffer[i] | 0xFF000000u) << f.name << " " << i;
    destroybuffer(back);
  }
}

TEST(DriverRoundTrip, ClosesFailWhenTheLastWritesFail) {
  // A full disk: every byte written is lost when the stream is flushed.
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  for (const Format& f : kFormats) {
    DriverSession s(f.name);
    const std::string path = s / (std::string("full.") + f.ext);
    ASSERT_EQ(symlink("/dev/full", path.c_str()), 0);
    imginfo* h = createimg(path.c_str(), 4, 2, 8);
    if (!h) continue;  // the header write itself may already fail
    std::vector<unsigned> line(4, 0x01020304u);
    writeline(h, line.data());
    writeline(h, line.data());
    EXPECT_EQ(closeimg(h), 1) << f.name;
  }
}

TEST(DriverRoundTrip, FailedAllocationsFailCleanly) {
  std::vector<Format> formats(std::begin(kFormats), std::end(kFormats));
  formats.push_back({"yuv", "yuv", &yuv_driver, true, false, 256});
  for (const Format& f : formats) {
    DriverSession s(f.name);
    setkeyval("IMGIO_YUV_LINESIZE", "6");
    setkeyval("IMGIO_YUV_LINES", "3");
    const std::string good = s / (std::string("good.") + f.ext), path = s / (std::string("try.") + f.ext);
    ASSERT_TRUE(write_picture(good, 6, 3, false)) << f.name;
    for (FailingHeap::Heap which : {FailingHeap::normal, FailingHeap::image})
      for (int grants = 0; grants < 24; ++grants) {
        FailingHeap heap(grants, which);
        bool wrote = write_picture(path, 6, 3, false);
        Picture p;
        bool read = read_picture(good, &p, grants % 2 == 1);
        if (imginfo* h = openimg(good.c_str())) {
          if (makeseekable(h) == 0) seekline(h, 1);
          EXPECT_EQ(closeimg(h), 0);
        }
        int w = 0, h = 0;
        destroybuffer(readbuf(good.c_str(), &w, &h));
        if (grants == 23) {
          EXPECT_TRUE(wrote) << f.name;
          EXPECT_TRUE(read) << f.name;
        }
      }
  }
}
