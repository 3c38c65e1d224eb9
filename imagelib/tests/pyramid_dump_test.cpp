// A pyramid's levels written as TIFF files, read back by a peer.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "image_ptr.h"
#include "imagelib_kernel.h"
#include "imagelib_pyramid.h"
#include "peer_images.h"
#include "temp_dir.h"

namespace {

// Sample c of image row r (rows run bottom-up) at x, of either integer type.
int sample(const image_data* img, int x, int row, int c) {
  const size_t i = (size_t(row) * img->width + x) * img->channels + c;
  return img->pixel_type == IMAGE_PIXEL_BYTE ? static_cast<const uint8_t*>(img->pixels)[i]
                                             : static_cast<const uint16_t*>(img->pixels)[i];
}

}  // namespace

TEST(PyramidDump, LevelFilesReadBackAsTheLevels) {
  struct Case {
    int type, channels;
  } cases[] = {{IMAGE_PIXEL_BYTE, 3}, {IMAGE_PIXEL_WORD, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    TempDir dir;
    ImagePtr src = make(64, 40, c.channels, c.type);
    for (int row = 0; row < 40; ++row)
      for (int x = 0; x < 64; ++x)
        for (int ch = 0; ch < c.channels; ++ch) {
          const int v = (x * 9 + row * 5 + ch * 70) % 256;
          const size_t i = (size_t(row) * 64 + x) * c.channels + ch;
          if (c.type == IMAGE_PIXEL_BYTE)
            px<uint8_t>(src)[i] = uint8_t(v);
          else
            px<uint16_t>(src)[i] = uint16_t(v * 250 + ch);
        }
    ImagelibPyramid pyramid(src.get(), IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP, true);
    ASSERT_EQ(pyramid.top_level(), 4);
    ASSERT_TRUE(pyramid.dumplevels((dir / "lv").c_str()));
    EXPECT_NE(access((dir / "lv05.tif").c_str(), F_OK), 0);
    for (int k = 0; k <= 4; ++k) {
      const image_data* level = pyramid.get_level(k);
      const std::string name = dir / ("lv0" + std::to_string(k) + ".tif");
      PeerImage peer;
      ASSERT_TRUE(tifftopnm(name, &peer, c.channels == 4, true)) << name;
      ASSERT_EQ(peer.width, level->width);
      ASSERT_EQ(peer.height, level->height);
      ASSERT_EQ(peer.maxval, c.type == IMAGE_PIXEL_BYTE ? 255 : 65535);
      ASSERT_EQ(peer.channels, c.channels);
      for (int y = 0; y < level->height; ++y)
        for (int x = 0; x < level->width; ++x)
          for (int ch = 0; ch < c.channels; ++ch)
            // The peer's first row is the level's top row, its last.
            ASSERT_EQ(peer.at(x, y, ch), sample(level, x, level->height - 1 - y, ch)) << k << ": " << x << "," << y;
    }
  }
}

TEST(PyramidDump, NamesThatCannotBeWrittenStopTheDump) {
  TempDir dir;
  ImagePtr src = make(8, 8, 1, IMAGE_PIXEL_BYTE);
  ImagelibPyramid pyramid(src.get(), IMAGELIB_KERNEL_LINEAR, IMAGELIB_EDGE_CLAMP, true);
  ASSERT_EQ(pyramid.top_level(), 2);
  // "<prefix>00.tif" one character past 4095.
  const std::string prefix = dir / std::string(4096 - 6 - dir.path().size() - 1, 'p');
  EXPECT_FALSE(pyramid.dumplevels(prefix.c_str()));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  EXPECT_FALSE(pyramid.dumplevels((dir / "missing/lv").c_str()));
  EXPECT_FALSE(pyramid.dumplevels(nullptr));
  // The longest name that fits is written: 4095 characters, in folders
  // of 200 so that no part passes the system's limit for one.
  std::string deep = dir.path();
  while (deep.size() + 212 < 4095) {
    deep += "/" + std::string(200, 'd');
    ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  }
  const std::string fits = deep + "/" + std::string(4095 - 6 - deep.size() - 1, 'q');
  ASSERT_EQ((fits + "00.tif").size(), 4095u);
  EXPECT_TRUE(pyramid.dumplevels(fits.c_str()));
  EXPECT_EQ(access((fits + "02.tif").c_str(), F_OK), 0);
}
