// Own TIFF files (".tq4") as the front end reads them: any bytes.
#include <cstddef>
#include <cstdint>

#include "fuzz_image_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_image::fuzz_image_file(data, size, ".tq4", nullptr);
  return 0;
}
