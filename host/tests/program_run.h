#ifndef HOST_TESTS_PROGRAM_RUN_H
#define HOST_TESTS_PROGRAM_RUN_H

// Running programs and handling files in the tests' throw-away home folder.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// Runs a shell command; its standard output (and whatever the command
// redirects there) and its exit status.
inline std::string run(const std::string& command, int& status) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    status = -1;
    return output;
  }
  char chunk[512];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
  status = pclose(pipe);
  return output;
}

// A path in the test's throw-away home folder.
inline std::string home_file(const std::string& name) {
  return (std::filesystem::path(std::getenv("Q4_HOME_DIR")) / name).string();
}

inline std::vector<unsigned char> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

#endif
