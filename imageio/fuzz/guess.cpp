// Format guessing reads the first bytes of any file.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_file.h"
#include "imgio_utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input = fuzz_file_write("input.img", data, size);
  char format[16] = "";
  char ext[8] = "";
  int swapped = -1;
  const int result = imgguessformat(input.c_str(), format, ext, &swapped);
  if (result != (size < 16 ? 1 : 0)) abort();
  if (result == 0 && (strcmp(ext, ".img") != 0 || swapped < 0 || swapped > 1 || !format[0])) abort();
  return 0;
}
