// Cineon files through the image-file library's handles (the front end has
// no extension for them): any bytes.
#include <cstddef>
#include <cstdint>

#include "fuzz_image_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_image::fuzz_image_file(data, size, "", "cin");
  return 0;
}
