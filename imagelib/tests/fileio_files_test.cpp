// The front end on real TIFF and JPEG files, checked with peer programs.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "image_ptr.h"
#include "imagelib_fileio.h"
#include "imgio_message_capture.h"
#include "peer_images.h"
#include "temp_dir.h"
#include "tiff_maker.h"

namespace {

int word(int x, int y, int c) { return (x * 7919 + y * 4099 + c * 16411 + 5) & 65535; }

// The sample of image row r (rows run bottom-up) at x, channel c.
template <typename T>
int at(const ImagePtr& img, int x, int row, int c) {
  return px<T>(img)[(size_t(row) * img->width + x) * img->channels + c];
}

}  // namespace

TEST(FrontEndFiles, ThreeChannelWordsGoOutWithAlphaEqualToBlue) {
  TempDir dir;
  ImagePtr img = make(6, 4, 3, IMAGE_PIXEL_WORD);
  for (int row = 0; row < 4; ++row)
    for (int x = 0; x < 6; ++x)
      for (int c = 0; c < 3; ++c) px<uint16_t>(img)[(row * 6 + x) * 3 + c] = uint16_t(word(x, row, c));
  for (bool compress : {false, true}) {
    const std::string path = dir / (compress ? "lzw.tif" : "plain.tif");
    ASSERT_TRUE(image_write_file(path.c_str(), img.get(), compress));
    PeerImage peer;
    ASSERT_TRUE(tifftopnm(path, &peer, true, true));
    ASSERT_EQ(peer.channels, 4);
    ASSERT_EQ(peer.maxval, 65535);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 6; ++x) {
        // The peer's top row is the image's last.
        const int row = 3 - y;
        for (int c = 0; c < 3; ++c) EXPECT_EQ(peer.at(x, y, c), word(x, row, c)) << x << "," << y;
        EXPECT_EQ(peer.at(x, y, 3), word(x, row, 2)) << x << "," << y;
      }
  }
}

TEST(FrontEndFiles, SixteenBitTiffIntoBytesKeepsTheHighBytes) {
  TempDir dir;
  TiffMaker m;
  m.bits = 16;
  m.samples = 3;
  m.sample = [](int x, int y, int s) { return word(x, y, s); };
  const std::string path = dir / "deep.tif";
  ASSERT_TRUE(m.write(path));
  int w, h, c, t;
  ASSERT_EQ(image_read_file_info(path.c_str(), w, h, c, t), 1);
  EXPECT_EQ(t, IMAGE_PIXEL_WORD);
  ImagePtr bytes = make(w, h, 4, IMAGE_PIXEL_BYTE);
  ASSERT_EQ(image_read_file(path.c_str(), bytes.get()), 1);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      for (int ch = 0; ch < 3; ++ch) EXPECT_EQ(at<uint8_t>(bytes, x, h - 1 - y, ch), word(x, y, ch) >> 8);
      EXPECT_EQ(at<uint8_t>(bytes, x, h - 1 - y, 3), 255);
    }
}

TEST(FrontEndFiles, TopLeftAndBottomLeftFilesFillTheImageTheSameWayUp) {
  TempDir dir;
  MessageCapture quiet;
  const int height = 6;
  // picture(x, y, s): y counts rows from the top of the picture.
  auto picture = [](int x, int y, int s) { return (x * 29 + y * 50 + s * 80) & 255; };
  TiffMaker top;
  top.orientation = ORIENTATION_TOPLEFT;
  top.sample = picture;
  TiffMaker bottom = top;
  bottom.orientation = ORIENTATION_BOTLEFT;
  bottom.sample = [&](int x, int line, int s) { return picture(x, height - 1 - line, s); };
  ASSERT_TRUE(top.write(dir / "top.tif"));
  ASSERT_TRUE(bottom.write(dir / "bottom.tif"));
  ImagePtr a(image_read_file((dir / "top.tif").c_str()));
  ImagePtr b(image_read_file((dir / "bottom.tif").c_str()));
  ASSERT_TRUE(a && b);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < a->width; ++x)
      for (int c = 0; c < 3; ++c) {
        // Image rows run bottom-up: the picture's top row is the last.
        EXPECT_EQ(at<uint8_t>(a, x, height - 1 - y, c), picture(x, y, c)) << x << "," << y;
        EXPECT_EQ(at<uint8_t>(b, x, height - 1 - y, c), picture(x, y, c)) << x << "," << y;
      }
  // Both peers agree that the file the front end writes is the right way up.
  ASSERT_TRUE(image_write_file((dir / "again.tif").c_str(), b.get(), false));
  PeerImage peer;
  ASSERT_TRUE(tifftopnm(dir / "again.tif", &peer, false, true));
  EXPECT_EQ(peer.at(3, 0, 1), picture(3, 0, 1));
  EXPECT_EQ(peer.at(3, height - 1, 1), picture(3, height - 1, 1));
}

TEST(FrontEndFiles, JpegPicturesKeepTheirTopRowOnTop) {
  TempDir dir;
  ImagePtr img = make(16, 16, 3, IMAGE_PIXEL_BYTE);
  // Bright at the image's top (its last rows), dark at its bottom.
  for (int row = 0; row < 16; ++row)
    for (int i = 0; i < 16 * 3; ++i) px<uint8_t>(img)[row * 16 * 3 + i] = uint8_t(row < 8 ? 20 : 230);
  const std::string path = dir / "shot.jpg";
  ASSERT_TRUE(image_write_file(path.c_str(), img.get(), false));
  PeerImage peer;
  ASSERT_TRUE(djpeg(path, &peer));
  EXPECT_GT(peer.at(8, 0, 0), 200);
  EXPECT_LT(peer.at(8, 15, 0), 50);
  ImagePtr back(image_read_file(path.c_str()));
  ASSERT_TRUE(back);
  EXPECT_EQ(at<uint8_t>(back, 8, 15, 1), peer.at(8, 0, 1));
  EXPECT_EQ(at<uint8_t>(back, 8, 0, 1), peer.at(8, 15, 1));
  EXPECT_EQ(at<uint8_t>(back, 8, 0, 3), 255);
}

TEST(FrontEndFiles, WritesToAFullDeviceFail) {
  TempDir dir;
  MessageCapture quiet;
  ImagePtr img = make(64, 64, 4, IMAGE_PIXEL_BYTE);
  for (int i = 0; i < 64 * 64 * 4; ++i) px<uint8_t>(img)[i] = uint8_t(i * 13);
  for (const char* name : {"full.tif", "full.jpg"}) {
    const std::string path = dir / name;
    ASSERT_EQ(symlink("/dev/full", path.c_str()), 0);
    EXPECT_FALSE(image_write_file(path.c_str(), img.get(), false)) << name;
    EXPECT_FALSE(image_write_file(path.c_str(), img.get(), true)) << name;
  }
}
