// TIFF files through the image-file library's handles: any bytes.
#include <tiffio.h>

#include <cstddef>
#include <cstdint>

#include "fuzz_driver_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // libtiff's own complaints about broken files would flood the run.
  TIFFSetWarningHandler(nullptr);
  TIFFSetErrorHandler(nullptr);
  fuzz_driver::fuzz_driver_file(data, size, ".tif", "tiff");
  return 0;
}
