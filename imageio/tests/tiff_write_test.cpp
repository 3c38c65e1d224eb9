#include <sys/resource.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "imgio.h"
#include "imgio_memory_driver.h"
#include "imgio_message_capture.h"
#include "peer_images.h"
#include "temp_dir.h"

namespace {

const int kWidth = 7;
const int kHeight = 5;

int written(int x, int line, int c, bool deep) {
  const int v = x * 41 + line * 67 + c * 23 + 9;
  return deep ? (v * 263 + c) & 65535 : v & 255;
}

// Writes the test picture with the settings given; true when every call
// succeeded.
bool write_picture(const std::string& path, bool deep) {
  imginfo* h = createimg(path.c_str(), kWidth, kHeight, deep ? 16 : 8);
  if (!h) return false;
  bool ok = true;
  for (int line = 0; line < kHeight; ++line) {
    std::vector<unsigned> narrow(kWidth);
    std::vector<unsigned short> wide(4 * kWidth);
    for (int x = 0; x < kWidth; ++x)
      for (int c = 0; c < 4; ++c) {
        wide[4 * x + c] = static_cast<unsigned short>(written(x, line, c, true));
        narrow[x] |= static_cast<unsigned>(written(x, line, c, false)) << (8 * c);
      }
    ok = (deep ? writeline16(h, wide.data()) : writeline(h, narrow.data())) == 0 && ok;
  }
  return closeimg(h) == 0 && ok;
}

// Every sample of a file's lines in file order, as libtiff reads them.
bool libtiff_samples(const std::string& path, std::vector<int>* samples) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (!tif) return false;
  std::vector<uint8_t> line(TIFFScanlineSize(tif));
  uint16_t bits = 0;
  TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  samples->clear();
  bool ok = true;
  for (int y = 0; y < kHeight && ok; ++y) {
    ok = TIFFReadScanline(tif, line.data(), y, 0) == 1;
    for (size_t i = 0; i < line.size() / (bits / 8); ++i)
      samples->push_back(bits == 16 ? reinterpret_cast<uint16_t*>(line.data())[i] : line[i]);
  }
  TIFFClose(tif);
  return ok;
}

std::string tag_line(const std::string& info, const std::string& name) {
  const size_t at = info.find(name);
  if (at == std::string::npos) return "";
  return info.substr(at, info.find('\n', at) - at);
}

}  // namespace

TEST(TiffWrite, EveryCombinationOfTheSettingsAsThePeersSeeIt) {
  for (int chan : {3, 4})
    for (const char* compress : {"none", "lzw"})
      for (const char* orient : {"botleft", "topleft"})
        for (const char* photometric : {"rgb", "cmyk"})
          for (bool deep : {false, true}) {
            SCOPED_TRACE(testing::Message() << chan << " " << compress << " " << orient << " " << photometric << " "
                                            << (deep ? 16 : 8));
            ImgioSession session;
            MessageCapture capture;
            TempDir dir;
            setkeyval("IMGIO_TIFF_CHAN", std::to_string(chan).c_str());
            setkeyval("IMGIO_TIFF_COMPRESS", compress);
            setkeyval("IMGIO_TIFF_ORIENT", orient);
            setkeyval("IMGIO_TIFF_PHOTOMETRIC", photometric);
            setimageformat("tiff");
            const std::string path = dir / "own.tif";
            ASSERT_TRUE(write_picture(path, deep));
            const bool cmyk = std::string(photometric) == "cmyk";
            const bool top = std::string(orient) == "topleft";
            const int samples = cmyk ? 4 : chan;
            const int bits = deep ? 16 : 8;
            const std::string info = command_output("/usr/bin/tiffinfo " + shell_quoted(path) + " 2>&1");
            EXPECT_EQ(info.find("Warning"), std::string::npos) << info;
            EXPECT_EQ(tag_line(info, "Extra Samples"), samples == 4 && !cmyk ? "Extra Samples: 1<unassoc-alpha>" : "");
            const int rows = std::max(1, 8192 / (kWidth * samples * bits / 8));
            EXPECT_EQ(tag_line(info, "Rows/Strip"), "Rows/Strip: " + std::to_string(rows));
            EXPECT_EQ(tag_line(info, "Resolution"), "Resolution: 400, 400 pixels/inch");
            EXPECT_EQ(tag_line(info, "Bits/Sample"), "Bits/Sample: " + std::to_string(bits));
            EXPECT_EQ(tag_line(info, "Samples/Pixel"), "Samples/Pixel: " + std::to_string(samples));
            EXPECT_EQ(tag_line(info, "Compression Scheme"),
                      std::string("Compression Scheme: ") + (std::string(compress) == "lzw" ? "LZW" : "None"));
            EXPECT_EQ(tag_line(info, "Photometric"),
                      std::string("Photometric Interpretation: ") + (cmyk ? "separated" : "RGB color"));
            EXPECT_EQ(tag_line(info, "Orientation"),
                      std::string("Orientation: row 0 ") + (top ? "top" : "bottom") + ", col 0 lhs");
            EXPECT_EQ(tag_line(info, "Planar"), "Planar Configuration: single image plane");
            // The samples as written, line by line in file order.
            std::vector<int> stored;
            ASSERT_TRUE(libtiff_samples(path, &stored));
            ASSERT_EQ(stored.size(), size_t(kWidth * kHeight * samples));
            for (int line = 0; line < kHeight; ++line)
              for (int x = 0; x < kWidth; ++x)
                for (int c = 0; c < samples; ++c)
                  ASSERT_EQ(stored[(line * kWidth + x) * samples + c], written(x, line, c, deep)) << x << "," << line;
            // tifftopnm turns the picture the right way up; it shows CMYK
            // as max(0, full - C - K) and so on.
            PeerImage peer;
            ASSERT_TRUE(tifftopnm(path, &peer, samples == 4 && !cmyk, true));
            ASSERT_EQ(peer.width, kWidth);
            ASSERT_EQ(peer.height, kHeight);
            EXPECT_EQ(peer.maxval, deep ? 65535 : 255);
            if (cmyk && deep) continue;  // tifftopnm gives no 16-bit CMYK
            for (int y = 0; y < kHeight; ++y)
              for (int x = 0; x < kWidth; ++x) {
                const int line = top ? y : kHeight - 1 - y;
                for (int c = 0; c < peer.channels; ++c) {
                  const int want = cmyk ? std::max(0, 255 - written(x, line, c, false) - written(x, line, 3, false))
                                        : written(x, line, c, deep);
                  ASSERT_EQ(peer.at(x, y, c), want) << x << "," << y << "," << c;
                }
              }
          }
}

TEST(TiffWrite, FilesHoldTheBytesLibtiffsScanlineWriterMakes) {
  // Strips of one line and of several (the last one short), whole files and
  // files closed after some of their lines.
  std::vector<char> (*bytes_of)(const std::string&) = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  for (int chan : {3, 4})
    for (const char* compress : {"none", "lzw"})
      for (bool deep : {false, true})
        for (int width : {7, 700, 1500})
          for (int lines : {10, 4}) {
            SCOPED_TRACE(testing::Message() << chan << " " << compress << " " << (deep ? 16 : 8) << " bits, width "
                                            << width << ", " << lines << " lines");
            const int height = 10;
            ImgioSession session;
            MessageCapture capture;
            TempDir dir;
            setkeyval("IMGIO_TIFF_CHAN", std::to_string(chan).c_str());
            setkeyval("IMGIO_TIFF_COMPRESS", compress);
            setimageformat("tiff");
            const std::string own = dir / "own.tif", bare = dir / "bare.tif";
            imginfo* h = createimg(own.c_str(), width, height, deep ? 16 : 8);
            ASSERT_NE(h, nullptr);
            const bool lzw = std::string(compress) == "lzw";
            TIFF* tif = TIFFOpen(bare.c_str(), "w");
            ASSERT_NE(tif, nullptr);
            const int bytes = (deep ? 2 : 1) * chan * width;
            TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, deep ? 16 : 8);
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, chan);
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
            TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
            TIFFSetField(tif, TIFFTAG_COMPRESSION, lzw ? COMPRESSION_LZW : COMPRESSION_NONE);
            TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_BOTLEFT);
            const uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
            if (chan == 4) TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &alpha);
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, std::max(1, 8192 / bytes));
            TIFFSetField(tif, TIFFTAG_XRESOLUTION, 400.0);
            TIFFSetField(tif, TIFFTAG_YRESOLUTION, 400.0);
            TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
            for (int line = 0; line < lines; ++line) {
              std::vector<unsigned> narrow(width);
              std::vector<unsigned short> wide(4 * width);
              std::vector<uint8_t> scanline(bytes);
              for (int x = 0; x < width; ++x)
                for (int c = 0; c < 4; ++c) {
                  const int v = written(x, line, c, deep);
                  wide[4 * x + c] = static_cast<unsigned short>(v);
                  narrow[x] |= static_cast<unsigned>(v) << (8 * c);
                  if (c >= chan) continue;
                  if (deep)
                    reinterpret_cast<uint16_t*>(scanline.data())[x * chan + c] = static_cast<uint16_t>(v);
                  else
                    scanline[x * chan + c] = static_cast<uint8_t>(v);
                }
              ASSERT_EQ(deep ? writeline16(h, wide.data()) : writeline(h, narrow.data()), 0);
              ASSERT_EQ(TIFFWriteScanline(tif, scanline.data(), static_cast<uint32_t>(line), 0), 1);
            }
            EXPECT_EQ(closeimg(h), 0);
            TIFFClose(tif);
            const std::vector<char> want = bytes_of(bare);
            EXPECT_GT(want.size(), size_t(lines * bytes) / (lzw ? 4 : 1));
            EXPECT_TRUE(bytes_of(own) == want);
          }
}

TEST(TiffWrite, SettingsOutsideTheirChoicesRefuseTheCreate) {
  struct Case {
    const char* key;
    const char* value;
    const char* message;
  } cases[] = {
      {"IMGIO_TIFF_CHAN", "2", "IMGIO_TIFF_CHAN must be 3 or 4.\n"},
      {"IMGIO_TIFF_CHAN", "5", "IMGIO_TIFF_CHAN must be 3 or 4.\n"},
      {"IMGIO_TIFF_CHAN", "3x", "IMGIO_TIFF_CHAN must be 3 or 4.\n"},
      {"IMGIO_TIFF_CHAN", "", "IMGIO_TIFF_CHAN must be 3 or 4.\n"},
      {"IMGIO_TIFF_CHAN", "99999999999999999999", "IMGIO_TIFF_CHAN must be 3 or 4.\n"},
      {"IMGIO_TIFF_COMPRESS", "LZW", "IMGIO_TIFF_COMPRESS must be lzw or none\n"},
      {"IMGIO_TIFF_COMPRESS", "zip", "IMGIO_TIFF_COMPRESS must be lzw or none\n"},
      {"IMGIO_TIFF_ORIENT", "topright", "IMGIO_TIFF_ORIENT must be botleft or topleft\n"},
      {"IMGIO_TIFF_PHOTOMETRIC", "ycbcr", "IMGIO_TIFF_PHOTOMETRIC must be rgb or cmyk\n"},
  };
  for (const Case& c : cases) {
    ImgioSession session;
    MessageCapture capture;
    TempDir dir;
    setkeyval(c.key, c.value);
    setimageformat("tiff");
    const std::string path = dir / "refused.tif";
    EXPECT_EQ(createimg(path.c_str(), 4, 4, 8), nullptr) << c.key << "=" << c.value;
    ASSERT_GE(capture.messages.size(), 2u);
    EXPECT_EQ(capture.messages[0].text, c.message) << c.key << "=" << c.value;
    // Refused before any file is made.
    EXPECT_NE(access(path.c_str(), F_OK), 0);
  }
}

TEST(TiffWrite, WholeBuffersGoOutAndComeBackTheSameWayUp) {
  for (const char* orient : {"botleft", "topleft"})
    for (bool deep : {false, true}) {
      SCOPED_TRACE(testing::Message() << orient << (deep ? " 16" : " 8"));
      ImgioSession session;
      MessageCapture capture;
      TempDir dir;
      setkeyval("IMGIO_TIFF_ORIENT", orient);
      setkeyval("IMGIO_TIFF_COMPRESS", "lzw");
      setimageformat("tiff");
      const std::string path = dir / "whole.tif";
      std::vector<unsigned> narrow(kWidth * kHeight);
      std::vector<unsigned short> wide(4 * kWidth * kHeight);
      for (int row = 0; row < kHeight; ++row)
        for (int x = 0; x < kWidth; ++x)
          for (int c = 0; c < 4; ++c) {
            wide[(row * kWidth + x) * 4 + c] = static_cast<unsigned short>(written(x, row, c, true));
            narrow[row * kWidth + x] |= static_cast<unsigned>(written(x, row, c, false)) << (8 * c);
          }
      ASSERT_EQ(deep ? writebuf16(wide.data(), kWidth, kHeight, path.c_str())
                     : writebuf(narrow.data(), kWidth, kHeight, path.c_str()),
                0);
      // Buffer row 0 is the picture's bottom row: the last file line of a
      // top-left file, the first of a bottom-left one.
      std::vector<int> stored;
      ASSERT_TRUE(libtiff_samples(path, &stored));
      const bool top = std::string(orient) == "topleft";
      for (int line = 0; line < kHeight; ++line) {
        const int row = top ? kHeight - 1 - line : line;
        EXPECT_EQ(stored[(line * kWidth + 2) * 4 + 1], written(2, row, 1, deep)) << line;
      }
      int w = 0, h = 0;
      if (deep) {
        unsigned short* back = readbuf16(path.c_str(), &w, &h);
        ASSERT_NE(back, nullptr);
        EXPECT_TRUE(std::equal(wide.begin(), wide.end(), back));
        destroybuffer16(back);
      } else {
        unsigned* back = readbuf(path.c_str(), &w, &h);
        ASSERT_NE(back, nullptr);
        EXPECT_TRUE(std::equal(narrow.begin(), narrow.end(), back));
        destroybuffer(back);
      }
      EXPECT_EQ(w, kWidth);
      EXPECT_EQ(h, kHeight);
    }
}

TEST(TiffWrite, AStripThatCannotBeWrittenFailsTheClose) {
  ImgioSession session;
  MessageCapture capture;
  TempDir dir;
  setimageformat("tiff");
  const std::string path = dir / "limited.tif";
  // The whole picture is one strip, held until the close: a file size
  // limit below it fails the write there.
  imginfo* h = createimg(path.c_str(), 16, 16, 8);
  ASSERT_NE(h, nullptr);
  std::vector<unsigned> line(16, 0x01020304u);
  for (int y = 0; y < 16; ++y) ASSERT_EQ(writeline(h, line.data()), 0);
  rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
  rlimit limited = old;
  limited.rlim_cur = 512;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const int closed = closeimg(h);
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, old_handler);
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(capture.last(), "ERROR: Failed to close file [" + path + "] format [tiff]\n");
}
