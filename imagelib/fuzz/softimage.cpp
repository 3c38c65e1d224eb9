// Softimage files as the image-file library reads them, any bytes; the
// front end takes ".pic" as Vertigo and meets them too.
#include <cstddef>
#include <cstdint>

#include "fuzz_image_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_image::fuzz_image_file(data, size, ".pic", "softimage");
  return 0;
}
