// Alias files through the image-file library's handles: any bytes.
#include <cstddef>
#include <cstdint>

#include "fuzz_driver_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_driver::fuzz_driver_file(data, size, ".als", "alias");
  return 0;
}
