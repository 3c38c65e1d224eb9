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

// Plain storage: a std::string would be destroyed before the removal at
// exit runs.
char folder[4096];
char input[4096 + 16];

void remove_folder() {
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

const char* input_path() {
  if (!folder[0]) {
    const std::string pattern = (std::filesystem::temp_directory_path() / "q4fuzz-guess-XXXXXX").string();
    if (pattern.size() >= sizeof folder) abort();
    strcpy(folder, pattern.c_str());
    if (!mkdtemp(folder)) abort();
    snprintf(input, sizeof input, "%s/input.img", folder);
    atexit(remove_folder);
  }
  return input;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* file = fopen(input_path(), "wb");
  if (!file) abort();
  if (size && fwrite(data, 1, size, file) != size) abort();
  fclose(file);
  char format[16] = "";
  char ext[8] = "";
  int swapped = -1;
  const int result = imgguessformat(input_path(), format, ext, &swapped);
  if (result != (size < 16 ? 1 : 0)) abort();
  if (result == 0 && (strcmp(ext, ".img") != 0 || swapped < 0 || swapped > 1 || !format[0])) abort();
  return 0;
}
