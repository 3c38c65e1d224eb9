#ifndef Q4_TESTSUPPORT_PROGRAM_RUN_H
#define Q4_TESTSUPPORT_PROGRAM_RUN_H

// Running programs and handling files in the tests' throw-away home folder.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
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

// An image as netpbm's own programs decode it: width, height, maxval and
// samples, top row first. tifftopnm reads bottom-first files through an
// 8-bit path unless it is told to read by rows.
struct Plain {
  int width = 0, height = 0, maxval = 0;
  std::vector<int> samples;
};

inline Plain decode(const std::string& path, const std::string& through = "") {
  auto ends_with = [&](const char* tail) {
    const size_t n = std::string(tail).size();
    return path.size() > n && path.compare(path.size() - n, n, tail) == 0;
  };
  const std::string reader = ends_with(".png")                        ? "/usr/bin/pngtopnm "
                             : ends_with(".tq4") || ends_with(".tif") ? "/usr/bin/tifftopnm -byrow 2>/dev/null "
                                                                      : "/bin/cat ";
  const std::string command = reader + path + through + " | /usr/bin/pnmtoplainpnm 2>/dev/null";
  int status = 0;
  std::istringstream words(run(command, status));
  Plain plain;
  std::string magic;
  words >> magic >> plain.width >> plain.height >> plain.maxval;
  for (int v; words >> v;) plain.samples.push_back(v);
  EXPECT_EQ(status, 0) << command;
  EXPECT_EQ(magic, "P3") << command;
  EXPECT_EQ(plain.samples.size(), static_cast<size_t>(plain.width) * plain.height * 3) << command;
  return plain;
}

#endif
