// Files of one format through the image-file library's handles: any bytes.
// The build makes one program of this body per format (driver_file.cmake),
// each with the name its input is read under and the library's format.
#include <tiffio.h>

#include <cstddef>
#include <cstdint>

#include "fuzz_driver_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // libtiff's own complaints about broken files would flood the run.
  TIFFSetWarningHandler(nullptr);
  TIFFSetErrorHandler(nullptr);
  const std::string path = fuzz_file_write(FUZZ_INPUT_NAME, data, size);
  fuzz_driver::set_up(FUZZ_FORMAT);
  fuzz_driver::read_every_way(path, size);
  finishimg();
  return 0;
}
