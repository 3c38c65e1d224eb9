// The front end on Sun raster, Targa, SGI and GIF files: each extension
// reaches its driver, and pictures come back, and reach peer programs, the
// right way up.
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "image_ptr.h"
#include "imagelib_fileio.h"
#include "imgio_message_capture.h"
#include "peer_images.h"
#include "temp_dir.h"

namespace {

// Four colours a channel on the 5-bit grid and far apart, so that GIF's
// palette and dithering keep them; alpha differs everywhere.
int sample(int x, int row, int c) { return c == 3 ? 40 * x + row : ((x + 2 * row + c) % 4) * 64 + 8 * (c + 1); }

}  // namespace

TEST(FrontEndFiles, RasterFormatsRoundTripTheRightWayUp) {
  TempDir dir;
  MessageCapture quiet;
  // An even width: peers pad Sun lines to even byte counts, this system's
  // files do not.
  const int width = 6, height = 3;
  ImagePtr img = make(width, height, 4, IMAGE_PIXEL_BYTE);
  for (int row = 0; row < height; ++row)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 4; ++c) px<uint8_t>(img)[(row * width + x) * 4 + c] = uint8_t(sample(x, row, c));
  // sgitopnm stretches the range the SGI header gives (here 8 to 216) to
  // start at 0: ImageMagick reads the values as they are.
  struct Case {
    const char* name;
    const char* peer;
    const char* after;  // the peer's arguments after the file
    bool keeps_alpha;
    bool compress;
  } cases[] = {
      {"a.ras", "/usr/bin/rasttopnm", "", false, false},
      {"a.tga", "/usr/bin/tgatoppm", "", true, false},
      {"b.tga", "/usr/bin/tgatoppm", "", true, true},
      {"a.rgb", "/usr/bin/convert", " -depth 8 ppm:-", false, false},
      {"a.SGI", "/usr/bin/convert", " -depth 8 ppm:-", false, false},
      {"a.gif", "/usr/bin/giftopnm", "", false, false},
  };
  for (const Case& k : cases) {
    const std::string path = dir / k.name;
    ASSERT_TRUE(image_write_file(path.c_str(), img.get(), k.compress)) << k.name;
    if (std::string(k.name).find(".tga") != std::string::npos) {
      EXPECT_EQ(read_text(path)[2], k.compress ? 10 : 2) << k.name;
    }
    ImagePtr back(image_read_file(path.c_str()));
    ASSERT_TRUE(back) << k.name;
    ASSERT_EQ(back->width, width);
    ASSERT_EQ(back->height, height);
    ASSERT_EQ(back->channels, 4);
    ASSERT_EQ(back->pixel_type, IMAGE_PIXEL_BYTE);
    for (int row = 0; row < height; ++row)
      for (int x = 0; x < width; ++x)
        for (int c = 0; c < 4; ++c)
          EXPECT_EQ(px<uint8_t>(back)[(row * width + x) * 4 + c],
                    c < 3 || k.keeps_alpha ? sample(x, row, c) : 255)
              << k.name << " " << x << "," << row << "," << c;
    // The peer's top row is the image's last: image rows run bottom-up.
    const std::string ppm = path + ".ppm";
    ASSERT_TRUE(run_command(std::string(k.peer) + " " + shell_quoted(path) + k.after + " > " + shell_quoted(ppm) +
                            " 2>/dev/null"));
    PeerImage peer;
    ASSERT_TRUE(read_pnm(ppm, &peer)) << k.name;
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(peer.at(x, y, c), sample(x, height - 1 - y, c)) << k.name;
  }
}
