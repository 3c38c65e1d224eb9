// RLA files as the image-file library and the front end read them:
// any bytes.
#include <cstddef>
#include <cstdint>

#include "fuzz_image_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_image::fuzz_image_file(data, size, ".rla", "rla");
  return 0;
}
