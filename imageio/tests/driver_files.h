#ifndef IMAGEIO_TESTS_DRIVER_FILES_H
#define IMAGEIO_TESTS_DRIVER_FILES_H

// What the driver tests share: a session in one format with messages kept
// and the write stamp fixed, files as bytes, pictures written and read
// through the handles.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "imgio.h"
#include "imgio_memory_driver.h"
#include "imgio_message_capture.h"
#include "imgio_stamp.h"
#include "temp_dir.h"

typedef std::vector<uint8_t> Bytes;

inline Bytes file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_bytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Big- and little-endian numbers appended to hand-built files.
inline void be16(Bytes& b, unsigned v) {
  b.push_back(uint8_t(v >> 8));
  b.push_back(uint8_t(v));
}
inline void be32(Bytes& b, uint32_t v) {
  be16(b, v >> 16);
  be16(b, v & 0xFFFF);
}
inline void le16(Bytes& b, unsigned v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
inline void le32(Bytes& b, uint32_t v) {
  le16(b, v & 0xFFFF);
  le16(b, v >> 16);
}
inline void put_be16(Bytes& b, size_t at, unsigned v) {
  b[at] = uint8_t(v >> 8);
  b[at + 1] = uint8_t(v);
}
inline void put_be32(Bytes& b, size_t at, uint32_t v) {
  put_be16(b, at, v >> 16);
  put_be16(b, at + 2, v & 0xFFFF);
}
inline void put_le16(Bytes& b, size_t at, unsigned v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
inline void put_le32(Bytes& b, size_t at, uint32_t v) {
  put_le16(b, at, v & 0xFFFF);
  put_le16(b, at + 2, v >> 16);
}

// The library set up in one format, messages captured, files in a private
// folder, written files stamped 2001-09-09 01:46:40 UTC by "tester" on
// "testhost" from process 1234.
struct DriverSession {
  ImgioSession session;
  MessageCapture capture;
  TempDir dir;
  explicit DriverSession(const char* format) {
    setenv("TZ", "UTC", 1);
    tzset();
    const time_t when = 1000000000;
    imgio_fix_stamp(&when, "testhost", "tester", 1234);
    EXPECT_EQ(setimageformat(format), 0);
  }
  ~DriverSession() { imgio_unfix_stamp(); }
  std::string operator/(const std::string& name) const { return dir / name; }
};

// A picture whose every sample depends on its place, with runs of equal
// pixels between stretches of different ones, as codecs meet them.
inline unsigned sample(int x, int y, int c) {
  const int block = (x / 5) % 3 == 0 ? x / 5 : x;  // a run of 5 every third block
  return unsigned(block * 37 + y * 101 + c * 59 + (block * block >> 3)) & 255u;
}
inline unsigned pixel8(int x, int y) {
  return sample(x, y, 0) | sample(x, y, 1) << 8 | sample(x, y, 2) << 16 | sample(x, y, 3) << 24;
}
inline unsigned short sample16(int x, int y, int c) {
  return static_cast<unsigned short>(sample(x, y, c) << 8 | (unsigned(x * 13 + y * 7 + c) & 255u));
}

// Writes width x height lines of pixel8 or sample16; false on any failure.
inline bool write_picture(const std::string& path, int width, int height, bool deep) {
  imginfo* h = createimg(path.c_str(), width, height, deep ? 16 : 8);
  if (!h) return false;
  std::vector<unsigned> line(width);
  std::vector<unsigned short> line16(4 * size_t(width));
  bool ok = true;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      line[x] = pixel8(x, y);
      for (int c = 0; c < 4; ++c) line16[4 * x + c] = sample16(x, y, c);
    }
    ok = (deep ? writeline16(h, line16.data()) : writeline(h, line.data())) == 0 && ok;
  }
  return closeimg(h) == 0 && ok;
}

// The handle's next 8-bit line; the read must succeed.
inline std::vector<unsigned> read_line8(imginfo* h) {
  std::vector<unsigned> line(h->width);
  EXPECT_EQ(readline(h, line.data()), 0);
  return line;
}

// Every line of a file through the handles: 8-bit lines or 16-bit samples.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<unsigned> lines;
  std::vector<unsigned short> lines16;
};

inline bool read_picture(const std::string& path, Picture* out, bool deep) {
  imginfo* h = openimg(path.c_str());
  if (!h) return false;
  out->width = h->width;
  out->height = h->height;
  out->lines.assign(size_t(h->width) * h->height, 0);
  out->lines16.assign(size_t(h->width) * h->height * 4, 0);
  bool ok = true;
  for (int y = 0; y < h->height; ++y)
    ok = (deep ? readline16(h, out->lines16.data() + size_t(y) * h->width * 4)
               : readline(h, out->lines.data() + size_t(y) * h->width)) == 0 &&
         ok;
  return closeimg(h) == 0 && ok;
}

// The message a driver files when it refuses the file at path.
inline std::string refusal(const std::string& word, const std::string& path, const std::string& why) {
  const std::string shown = path.size() > 40 ? path.substr(path.size() - 40) : path;
  return "ERROR: " + word + " file [" + shown + "] refused: " + why + ".\n";
}

#endif
