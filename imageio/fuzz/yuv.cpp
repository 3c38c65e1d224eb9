// YUV frame files through the image-file library: the first two bytes
// choose the frame size the settings give, the rest is the file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz_driver_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::string input = fuzz_file_write("input.yuv", data + 2, size - 2);
  fuzz_driver::set_up("yuv");
  // Sizes around the limits, odd and even alike.
  char line_size[16], lines[16];
  snprintf(line_size, sizeof line_size, "%d", data[0] % 20 - 2);
  snprintf(lines, sizeof lines, "%d", data[1] % 10 - 1);
  setkeyval("IMGIO_YUV_LINESIZE", line_size);
  setkeyval("IMGIO_YUV_LINES", lines);
  setkeyval("IMGIO_YUV_FILTER", data[1] & 128 ? "yes" : "no");
  fuzz_driver::read_every_way(input, size);
  int width = 0, height = 0;
  if (unsigned int* image = readbuf(input.c_str(), &width, &height)) {
    // What was read is written again at the same size: a frame of the same
    // length.
    if (writebuf(image, width, height, fuzz_file_path("output.yuv").c_str()) != 0) abort();
    destroybuffer(image);
  }
  finishimg();
  return 0;
}
