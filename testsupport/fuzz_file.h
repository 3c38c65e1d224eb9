#ifndef TEST_FUZZ_FILE_H
#define TEST_FUZZ_FILE_H

// Fuzz inputs as files for harnesses whose code reads files by name: one
// private folder for the run, removed at exit.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace fuzz_file_detail {

// Plain storage: a std::string would be destroyed before the removal at
// exit runs.
inline char folder[4096];

inline void remove_folder() {
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
}

}  // namespace fuzz_file_detail

// The path of name in the run's folder.
inline std::string fuzz_file_path(const std::string& name) {
  using namespace fuzz_file_detail;
  if (!folder[0]) {
    const std::string pattern = (std::filesystem::temp_directory_path() / "q4fuzz-file-XXXXXX").string();
    if (pattern.size() >= sizeof folder) abort();
    strcpy(folder, pattern.c_str());
    if (!mkdtemp(folder)) abort();
    atexit(remove_folder);
  }
  return std::string(folder) + "/" + name;
}

// The bytes written as the file name in the run's folder; its path.
inline std::string fuzz_file_write(const std::string& name, const uint8_t* data, size_t size) {
  const std::string path = fuzz_file_path(name);
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) abort();
  if (size && fwrite(data, 1, size, file) != size) abort();
  fclose(file);
  return path;
}

#endif
