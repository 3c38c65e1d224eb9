// The front end reaches the drivers of Pixar, RLA, Vertigo, Symbolics,
// Alias and Art24 files by their extensions.
#include <cstring>

#include <gtest/gtest.h>

#include "image_ptr.h"
#include "imagelib_fileio.h"
#include "imgio_message_capture.h"
#include "temp_dir.h"

TEST(FrontEndDrivers, EveryExtensionWritesAndReadsItsFormat) {
  MessageCapture capture;
  TempDir dir;
  const struct {
    const char* ext;
    bool alpha;
  } formats[] = {{".pxr", true}, {".rla", true}, {".pic", true}, {".dump", true}, {".als", false}, {".r", false}};
  ImagePtr image = make(13, 5, 4, IMAGE_PIXEL_BYTE);
  ASSERT_TRUE(image);
  for (int i = 0; i < 13 * 5 * 4; ++i) px<unsigned char>(image)[i] = static_cast<unsigned char>(i * 37 + i / 7);
  for (const auto& f : formats) {
    const std::string path = dir / (std::string("shot") + f.ext);
    ASSERT_TRUE(image_write_file(path.c_str(), image.get(), false)) << f.ext << " " << capture.last();
    ImagePtr back(image_read_file(path.c_str()));
    ASSERT_TRUE(back) << f.ext << " " << capture.last();
    ASSERT_EQ(back->width, 13);
    ASSERT_EQ(back->height, 5);
    ASSERT_EQ(back->channels, 4);
    for (int i = 0; i < 13 * 5 * 4; ++i) {
      const int want = i % 4 == 3 && !f.alpha ? 255 : px<unsigned char>(image)[i];
      ASSERT_EQ(px<unsigned char>(back)[i], want) << f.ext << " " << i;
    }
  }
}
