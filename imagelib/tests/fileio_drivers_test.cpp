// The front end reaches the drivers of Pixar, RLA, Vertigo, Symbolics,
// Alias and Art24 files by their extensions, and Cineon files by their
// format's name.
#include <cstdint>
#include <cstring>
#include <fstream>

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

// Beyond the table, an extension that is the name of a format without an
// extension of its own (".cin", case ignored) reaches it; formats that name
// their files themselves stay out of reach. Its lines are 16-bit, so 8-bit
// samples reach the file's full 10 bits, and the file starts at the top row.
TEST(FrontEndDrivers, CineonByItsNameInSixteenBitLines) {
  for (const char* name : {"a.cin", "b.CIN", "c.tq4"}) EXPECT_TRUE(image_io_format_known(name)) << name;
  for (const char* name : {"a.yuv", "a.softimage", "a.png", "a.cin/b"}) EXPECT_FALSE(image_io_format_known(name)) << name;
  MessageCapture capture;
  TempDir dir;
  ImagePtr image = make(1, 2, 3, IMAGE_PIXEL_BYTE);
  ASSERT_TRUE(image);
  // Bottom row, then top. v * 257 keeps its top 10 bits in the file (255,
  // 254, 128, 64, 1: 1023, 1019, 514, 257, 4), read back shifted up by 6.
  std::memcpy(image_row(image.get(), 0), "\x80\x01\x00", 3);
  std::memcpy(image_row(image.get(), 1), "\xfe\x40\xff", 3);
  const std::string path = dir / "shot.0001.Cin";
  ASSERT_TRUE(image_write_file(path.c_str(), image.get(), false)) << capture.last();
  // The first cell after the two 1024-byte headers: the top row's pixel.
  unsigned char cell[4] = {};
  std::ifstream(path, std::ios::binary).seekg(2048).read(reinterpret_cast<char*>(cell), 4);
  EXPECT_EQ(uint32_t(cell[0]) << 24 | cell[1] << 16 | cell[2] << 8 | cell[3], 1019u << 22 | 257u << 12 | 1023u << 2);
  ImagePtr back(image_read_file(path.c_str()));
  ASSERT_TRUE(back && back->pixel_type == IMAGE_PIXEL_WORD && back->channels == 4) << capture.last();
  const uint16_t want[2][4] = {{32896, 256, 0, 65472}, {65216, 16448, 65472, 65472}};
  for (int row = 0; row < 2; ++row) EXPECT_EQ(std::memcmp(image_row(back.get(), row), want[row], 8), 0) << row;
}
