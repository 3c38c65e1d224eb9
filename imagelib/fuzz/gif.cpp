// GIF files through the image-file library's handles and the front end:
// any bytes.
#include <cstddef>
#include <cstdint>

#include "fuzz_image_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_image::fuzz_image_file(data, size, ".gif", "gif");
  return 0;
}
