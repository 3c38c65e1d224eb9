#include <cstring>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "failing_heap.h"
#include "imgio.h"
#include "imgio_alias.h"
#include "imgio_art24.h"
#include "imgio_dpx.h"
#include "imgio_gif.h"
#include "imgio_jpeg.h"
#include "imgio_memory_driver.h"
#include "imgio_message_capture.h"
#include "imgio_pixar.h"
#include "imgio_rla.h"
#include "imgio_sgi.h"
#include "imgio_soft.h"
#include "imgio_sun.h"
#include "imgio_symbolics.h"
#include "imgio_targa.h"
#include "imgio_tiff.h"
#include "imgio_vertigo.h"
#include "imgio_yuv.h"

namespace {

std::string text(const char* s) { return s ? s : "(null)"; }

bool no_operations(const imgio_driver& ops) {
  const imgop all[] = {ops.Openf,  ops.Createf, ops.Readl,   ops.Writel,   ops.Readl16,
                       ops.Writel16, ops.Closef, ops.Readb,  ops.Writeb,   ops.Readb16,
                       ops.Writeb16, ops.Sheader, ops.MakeSeek, ops.SeekTo};
  for (imgop op : all)
    if (op) return false;
  return true;
}

}  // namespace

TEST(FormatTable, InitimgFillsEveryEntry) {
  struct Row {
    const char* name;
    const char* ext;
    const char* seq;
    int order;
    const char* word;
  } rows[IMGIO_FORMATS] = {
      {"unknown", "", "%s%d", 1, nullptr},           {"pixar", "pxr", "%s_%4.4d", 2, "PIXAR"},
      {"rla", "rla", "%s.%4.4d", 1, "RLA"},          {"softimage", "pic", "%s.%d", 2, "SOFTIMAGE"},
      {"alias", "als", "%s.%d", 2, "ALIAS"},         {"sgirgb", "rgb", "%s_%4.4d", 1, "SGIRGB"},
      {"yuv", "yuv", "%s.%d", 1, "YUV"},             {"vertigo", "pic", "%s@%d", 1, "VERTIGO"},
      {"targa2", "tga", "%s.%d", 1, "TARGA2"},       {"tiff", "tif", "%s.%4.4d", 1, "TIFF"},
      {"sun", "ras", "%s.%4.4d", 2, "SUN"},          {"art24", "r", "%s%d", 2, "ART24"},
      {"symbolics", "dump", "%s-%4.4d", 1, "SYMBOLICS"}, {"gif", "gif", "%s.%4.4d", 1, "GIF"},
      {"cin", "", "%s%4.4d", 2, "CIN"},              {"sgisgi", "sgi", "%s.%4.4d", 1, "SGISGI"},
      {"jpeg", "jpg", "%s.%4.4d", 2, "JPEG"},
  };
  const std::map<std::string, const imgio_driver*> built = {
      {"alias", &alias_driver}, {"art24", &art24_driver}, {"cin", &dpx_driver},
      {"gif", &gif_driver}, {"jpeg", &jpeg_driver}, {"pixar", &pixar_driver}, {"rla", &rla_driver},
      {"sgirgb", &sgi_driver}, {"sgisgi", &sgi_driver}, {"softimage", &soft_driver},
      {"sun", &sun_driver}, {"symbolics", &symbolics_driver}, {"targa2", &targa_driver},
      {"tiff", &tiff_driver}, {"vertigo", &vertigo_driver}, {"yuv", &yuv_driver}};
  ImgioSession session;
  EXPECT_EQ(imgsystem.current, 0);
  EXPECT_EQ(imgsystem.filter, 1);
  EXPECT_EQ(imgsystem.frame, 1);
  EXPECT_EQ(imgsystem.settings, nullptr);
  for (int i = 0; i < IMGIO_FORMATS; ++i) {
    const imgformat& entry = imgsystem.formats[i];
    EXPECT_EQ(text(entry.name), rows[i].name) << i;
    EXPECT_EQ(text(entry.ext), rows[i].ext) << i;
    EXPECT_EQ(text(entry.seq), rows[i].seq) << i;
    EXPECT_EQ(entry.line_order, rows[i].order) << i;
    // An entry whose driver is built has its operations; the rest have none.
    const auto driver = built.find(rows[i].name);
    if (driver != built.end())
      EXPECT_EQ(memcmp(&entry.ops, driver->second, sizeof(imgio_driver)), 0) << i;
    else
      EXPECT_TRUE(no_operations(entry.ops)) << i;
    if (rows[i].word) {
      EXPECT_EQ(text(entry.ext_key), std::string("IMGIO_") + rows[i].word + "_EXT");
      EXPECT_EQ(text(entry.seq_key), std::string("IMGIO_") + rows[i].word + "_SEQ");
      EXPECT_EQ(imgfindformat(rows[i].name), i);
      EXPECT_EQ(text(imggetkeyvalname(rows[i].name, 1)), text(entry.ext_key));
      EXPECT_EQ(text(imggetkeyvalname(rows[i].name, 2)), text(entry.seq_key));
      EXPECT_EQ(imggetkeyvalname(rows[i].name, 3), nullptr);
    } else {
      EXPECT_EQ(entry.ext_key, nullptr);
      EXPECT_EQ(entry.seq_key, nullptr);
    }
  }
  EXPECT_EQ(imgfindformat("unknown"), 0);
  EXPECT_EQ(imggetkeyvalname("unknown", 1), nullptr);
}

TEST(FormatTable, SelectionIsExactAndOverridesComeFromTheSettings) {
  ImgioSession session;
  EXPECT_EQ(setimageformat("TIFF"), 1);
  EXPECT_EQ(setimageformat("unknown"), 1);
  EXPECT_EQ(imgsystem.current, 0);
  EXPECT_EQ(setimageformat("sgisgi"), 0);
  EXPECT_EQ(imgsystem.current, 15);
  EXPECT_EQ(setimageformat("tif"), 1);
  EXPECT_EQ(imgsystem.current, 15);

  setkeyval("IMGIO_TIFF_EXT", "default");
  setkeyval("IMGIO_TIFF_SEQ", "%s-%3.3d");
  ASSERT_EQ(setimageformat("tiff"), 0);
  EXPECT_STREQ(imgsystem.formats[9].ext, "tif");
  EXPECT_STREQ(imgsystem.formats[9].seq, "%s-%3.3d");
  setkeyval("IMGIO_TIFF_EXT", "tiff");
  setkeyval("IMGIO_TIFF_SEQ", "default");
  ASSERT_EQ(setimageformat("tiff"), 0);
  EXPECT_STREQ(imgsystem.formats[9].ext, "tiff");
  // "default" keeps what the entry holds; the earlier override lasts.
  EXPECT_STREQ(imgsystem.formats[9].seq, "%s-%3.3d");
  // Only "default" exactly is the sentinel.
  setkeyval("IMGIO_TIFF_EXT", "Default");
  ASSERT_EQ(setimageformat("tiff"), 0);
  EXPECT_STREQ(imgsystem.formats[9].ext, "Default");

  EXPECT_EQ(imgextoverride("cin", nullptr), 0);
  EXPECT_STREQ(imgsystem.formats[14].ext, "");
  EXPECT_EQ(imgextoverride("sun", "sun"), 0);
  EXPECT_STREQ(imgsystem.formats[10].ext, "sun");
  EXPECT_EQ(imgextoverride("moon", "x"), 1);
  EXPECT_EQ(imgseqoverride("gif", nullptr), 1);
  EXPECT_EQ(imgseqoverride("moon", "%s%d"), 1);
  EXPECT_EQ(imgseqoverride("gif", "%s#%d"), 0);
  EXPECT_STREQ(imgsystem.formats[13].seq, "%s#%d");
  EXPECT_EQ(setframenumber(42), 0);
  EXPECT_EQ(imgsystem.frame, 42);

  // A new use of the library starts from the built-in table.
  finishimg();
  initimg();
  EXPECT_STREQ(imgsystem.formats[9].ext, "tif");
  EXPECT_STREQ(imgsystem.formats[14].ext, "");
  EXPECT_STREQ(imgsystem.formats[13].seq, "%s.%4.4d");
  EXPECT_EQ(imgsystem.frame, 1);
}

TEST(Settings, OneNodeAKeyNewestFirst) {
  ImgioSession session;
  EXPECT_EQ(getkeyval("A"), nullptr);
  EXPECT_STREQ(setkeyval("A", "1"), "1");
  EXPECT_STREQ(setkeyval("B", "2"), "2");
  EXPECT_STREQ(setkeyval("A", "3"), "3");
  EXPECT_EQ(setkeyval("C", nullptr), nullptr);
  std::string order;
  for (keyval* node = imgsystem.settings; node; node = node->next)
    order += std::string(node->key) + "=" + text(node->value) + ";";
  EXPECT_EQ(order, "C=(null);B=2;A=3;");
  EXPECT_STREQ(getkeyval("A"), "3");
  EXPECT_EQ(getkeyval("a"), nullptr);
  EXPECT_EQ(getkeyval("C"), nullptr);
  // The value is a copy.
  char value[] = "abc";
  setkeyval("D", value);
  value[0] = 'x';
  EXPECT_STREQ(getkeyval("D"), "abc");

  deletekeyval("B");
  deletekeyval("missing");
  EXPECT_EQ(getkeyval("B"), nullptr);
  EXPECT_STREQ(getkeyval("A"), "3");
  destroykeyval();
  EXPECT_EQ(imgsystem.settings, nullptr);
  EXPECT_EQ(getkeyval("A"), nullptr);
}

TEST(Settings, EnvimageformatReportsItsChoice) {
  MessageCapture capture;
  struct Case {
    const char* format;  // null: IMGIO_FORMAT not set
    const char* line_size;
    int result;
    int current;
    const char* message;
  } cases[] = {
      {nullptr, nullptr, 0, 2, "WARNING: IMGIO_FORMAT not set. Assuming rla ...\n"},
      {"tiff", nullptr, 0, 9, "Using tiff image format ...\n"},
      {"Tiff", nullptr, 1, 0, "ERROR: Unknown image format: Tiff\n"},
      {"yuv", nullptr, 0, 6, "Using yuv (720x576) image format ...\n"},
      {"yuv", "360", 0, 6, "Using yuv (360x576) image format ...\n"},
      {"yuv", "721", 1, 6, "ERROR: Invalid YUV image size (721x576)\n"},
  };
  for (const Case& c : cases) {
    ImgioSession session;
    if (c.format) setkeyval("IMGIO_FORMAT", c.format);
    if (c.line_size) setkeyval("IMGIO_YUV_LINESIZE", c.line_size);
    EXPECT_EQ(envimageformat(), c.result) << text(c.format);
    EXPECT_EQ(imgsystem.current, c.current) << text(c.format);
    EXPECT_EQ(capture.last(), c.message);
    EXPECT_EQ(capture.last_level(), IMSSYS_INFO);
  }
}

TEST(Settings, YuvPictureSizeLimits) {
  struct Case {
    const char* line_size;
    const char* lines;
    int ok;
    int want_size;
    int want_lines;
  } cases[] = {
      {nullptr, nullptr, 1, 720, 576}, {"720", "576", 1, 720, 576}, {"2", "1", 1, 2, 1},
      {"721", nullptr, 0, 721, 576},   {"722", nullptr, 0, 722, 576}, {"719", nullptr, 0, 719, 576},
      {"0", nullptr, 0, 0, 576},       {"-2", nullptr, 0, -2, 576},  {nullptr, "577", 0, 720, 577},
      {nullptr, "0", 0, 720, 0},       {nullptr, "-5", 0, 720, -5},  {"abc", nullptr, 0, 0, 576},
      {"12x", nullptr, 0, 0, 576},     {"", nullptr, 0, 0, 576},
  };
  for (const Case& c : cases) {
    ImgioSession session;
    if (c.line_size) setkeyval("IMGIO_YUV_LINESIZE", c.line_size);
    if (c.lines) setkeyval("IMGIO_YUV_LINES", c.lines);
    int size = -99, lines = -99;
    EXPECT_EQ(getyuvsize(&size, &lines), c.ok) << text(c.line_size) << " " << text(c.lines);
    EXPECT_EQ(size, c.want_size) << text(c.line_size);
    EXPECT_EQ(lines, c.want_lines) << text(c.lines);
  }
}

TEST(Settings, PixelCap) {
  ImgioSession session;
  const int64_t cap = int64_t(1) << 28;
  EXPECT_EQ(imgsizeok(1, 1), 1);
  EXPECT_EQ(imgsizeok(16384, 16384), 1);
  EXPECT_EQ(imgsizeok(16384, 16385), 0);
  EXPECT_EQ(imgsizeok(cap, 1), 1);
  EXPECT_EQ(imgsizeok(1, cap + 1), 0);
  EXPECT_EQ(imgsizeok(0, 5), 0);
  EXPECT_EQ(imgsizeok(5, -1), 0);
  setkeyval("IMGIO_MAX_PIXELS", "100");
  EXPECT_EQ(imgsizeok(10, 10), 1);
  EXPECT_EQ(imgsizeok(10, 11), 0);
  EXPECT_EQ(imgsizeok(101, 1), 0);
  setkeyval("IMGIO_MAX_PIXELS", "9223372036854775807");
  EXPECT_EQ(imgsizeok(int64_t(1) << 40, int64_t(1) << 40), 0);
  EXPECT_EQ(imgsizeok(int64_t(1) << 31, int64_t(1) << 31), 1);
  // A value that is not a positive number keeps the default.
  for (const char* bad : {"0", "-4", "lots", "12k"}) {
    setkeyval("IMGIO_MAX_PIXELS", bad);
    EXPECT_EQ(imgsizeok(16384, 16384), 1) << bad;
    EXPECT_EQ(imgsizeok(16384, 16385), 0) << bad;
  }
}

TEST(Settings, FailedCopiesLeaveNullsOrOldValuesAndNoLeak) {
  for (int grants = 0; grants < 90; ++grants) {
    {
      FailingHeap heap(grants);
      initimg();
      setkeyval("IMGIO_TIFF_EXT", "tiff");
      setkeyval("IMGIO_TIFF_EXT", "tif2");
      setimageformat("tiff");
      imgextoverride("gif", "g");
      imgseqoverride("gif", "%s%d");
    }
    // Whatever was stored is consistent: lookups never crash.
    EXPECT_TRUE(imgfindformat("tiff") == 9 || imgsystem.formats[9].name == nullptr);
    const char* ext = getkeyval("IMGIO_TIFF_EXT");
    EXPECT_TRUE(!ext || strcmp(ext, "tiff") == 0 || strcmp(ext, "tif2") == 0);
    finishimg();
  }
}
