// Format guessing reads the first bytes of any file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "imgio_utils.h"

namespace {

const std::string& input_path() {
  static const std::string path = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "q4fuzz-guess-XXXXXX").string();
    if (!mkdtemp(pattern.data())) abort();
    atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(std::filesystem::path(input_path()).parent_path(), ignored);
    });
    return pattern + "/input.img";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* file = fopen(input_path().c_str(), "wb");
  if (!file) abort();
  if (size && fwrite(data, 1, size, file) != size) abort();
  fclose(file);
  char format[16] = "";
  char ext[8] = "";
  int swapped = -1;
  const int result = imgguessformat(input_path().c_str(), format, ext, &swapped);
  if (result != (size < 16 ? 1 : 0)) abort();
  if (result == 0 && (strcmp(ext, ".img") != 0 || swapped < 0 || swapped > 1 || !format[0])) abort();
  return 0;
}
