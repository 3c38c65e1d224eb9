#ifndef IMAGEIO_TESTS_DRIVER_TEST_SUPPORT_H
#define IMAGEIO_TESTS_DRIVER_TEST_SUPPORT_H

// What the file driver tests share: pictures as RGBA samples top row first,
// written and read through the library's handles; netpbm files of them;
// peer programs run by their Debian paths.

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "imgio.h"
#include "peer_images.h"
#include "q4_memory.h"
#include "temp_dir.h"

// A namespace of their own: other driver tests have helpers of these names.
namespace driver_test {

// width x height pixels of four samples R, G, B, A, the picture's top row
// first; 8-bit pictures hold 0..255, 16-bit ones 0..65535.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint16_t> samples;
  uint16_t* at(int x, int y) { return samples.data() + (size_t(y) * width + x) * 4; }
  const uint16_t* at(int x, int y) const { return samples.data() + (size_t(y) * width + x) * 4; }
  bool operator==(const Picture& o) const {
    return width == o.width && height == o.height && samples == o.samples;
  }
};

// Failures show the size and the first sample that differs from nothing
// in particular: the first 12 samples.
inline void PrintTo(const Picture& p, std::ostream* out) {
  *out << p.width << "x" << p.height << " {";
  for (size_t i = 0; i < p.samples.size() && i < 12; ++i) *out << (i ? " " : "") << p.samples[i];
  *out << (p.samples.size() > 12 ? " ...}" : "}");
}

template <typename Value>
Picture make_picture(int width, int height, Value value) {
  Picture p{width, height, std::vector<uint16_t>(size_t(width) * height * 4)};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 4; ++c) p.at(x, y)[c] = static_cast<uint16_t>(value(x, y, c));
  return p;
}

// A picture of distinct-looking 8-bit colours, alpha 255.
inline Picture pattern8(int width, int height) {
  return make_picture(width, height, [](int x, int y, int c) {
    return c == 3 ? 255 : (x * (37 + 2 * c) + y * (101 + 6 * c) + c * 71 + x * y * 13) & 255;
  });
}

inline Picture pattern16(int width, int height) {
  return make_picture(width, height, [](int x, int y, int c) {
    return c == 3 ? 65535 : (x * 7919 + y * 104729 + c * 15013 + x * y * 877) & 65535;
  });
}

// Each sample transformed.
template <typename F>
Picture map_samples(Picture p, F f) {
  for (size_t i = 0; i < p.samples.size(); ++i) p.samples[i] = static_cast<uint16_t>(f(p.samples[i], int(i % 4)));
  return p;
}

// The picture row that file line i holds.
inline int picture_row(const imginfo* h, int line) {
  return h->line_order == IMGIO_BOTTOM_FIRST ? h->file_height - 1 - line : line;
}

// Writes through createimg and the line calls of the current format; true
// when every call succeeded.
inline bool write_picture(const std::string& path, const Picture& p, bool deep) {
  imginfo* h = createimg(path.c_str(), p.width, p.height, deep ? 16 : 8);
  if (!h) return false;
  bool ok = true;
  std::vector<unsigned int> line(p.width);
  std::vector<unsigned short> line16(size_t(p.width) * 4);
  for (int i = 0; i < p.height && ok; ++i) {
    const int y = picture_row(h, i);
    for (int x = 0; x < p.width; ++x) {
      const uint16_t* s = p.at(x, y);
      line[x] = unsigned(s[0]) | unsigned(s[1]) << 8 | unsigned(s[2]) << 16 | unsigned(s[3]) << 24;
      for (int c = 0; c < 4; ++c) line16[4 * x + c] = s[c];
    }
    ok = (deep ? writeline16(h, line16.data()) : writeline(h, line.data())) == 0;
  }
  return closeimg(h) == 0 && ok;
}

// Reads through openimg and the line calls; false when any call failed.
inline bool read_picture(const std::string& path, Picture& p, bool deep) {
  imginfo* h = openimg(path.c_str());
  if (!h) return false;
  p = Picture{h->width, h->height, std::vector<uint16_t>(size_t(h->width) * h->height * 4)};
  bool ok = true;
  std::vector<unsigned int> line(p.width);
  std::vector<unsigned short> line16(size_t(p.width) * 4);
  for (int i = 0; i < p.height && ok; ++i) {
    ok = (deep ? readline16(h, line16.data()) : readline(h, line.data())) == 0;
    const int y = picture_row(h, i);
    for (int x = 0; x < p.width; ++x)
      for (int c = 0; c < 4; ++c)
        p.at(x, y)[c] = deep ? line16[4 * x + c] : (line[x] >> (8 * c)) & 255;
  }
  return closeimg(h) == 0 && ok;
}

// A P6 (or P5 for grey) file of the picture's R, G, B (or R) samples.
inline void write_pnm(const std::string& path, const Picture& p, int maxval, bool grey = false) {
  std::ofstream out(path, std::ios::binary);
  out << (grey ? "P5" : "P6") << "\n" << p.width << " " << p.height << "\n" << maxval << "\n";
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x)
      for (int c = 0; c < (grey ? 1 : 3); ++c) {
        const uint16_t v = p.at(x, y)[c];
        if (maxval > 255) out.put(char(v >> 8));
        out.put(char(v & 255));
      }
}

// The picture that a peer's grey or RGB(A) image shows, alpha full when it
// has none: grey fills R, G, B.
inline Picture pnm_picture(const PeerImage& pnm) {
  const int full = pnm.maxval;
  return make_picture(pnm.width, pnm.height, [&](int x, int y, int c) {
    const uint16_t* s = pnm.samples.data() + (size_t(y) * pnm.width + x) * pnm.channels;
    if (c == 3) return pnm.channels == 4 ? int(s[3]) : full;
    return int(s[pnm.channels >= 3 ? c : 0]);
  });
}

// Runs a peer program by its Debian path with its output to log; its exit
// status, or -1 (with a test failure) when the program is not installed.
inline int run_peer(const std::string& tool, const std::string& arguments, const std::string& log) {
  if (access(tool.c_str(), X_OK) != 0) {
    ADD_FAILURE() << tool << " is missing (scripts/install-deps.sh)";
    return -1;
  }
  const int status = std::system((tool + " " + arguments + " 2>" + log).c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Converts with a peer writing its picture to out; true on success.
inline bool peer_convert(const std::string& tool, const std::string& arguments, const std::string& out) {
  const std::string log = out + ".log";
  const int status = run_peer(tool, arguments + " >" + out, log);
  EXPECT_EQ(status, 0) << tool << " " << arguments << ": " << read_text(log);
  return status == 0;
}

// Pillow's reading of a file as a netpbm file of mode "RGB" (8-bit).
inline bool pillow_to_ppm(const std::string& in, const std::string& out) {
  const std::string log = out + ".log";
  const int status = run_peer("/usr/bin/python3",
                              "-c \"import sys; from PIL import Image; "
                              "Image.open(sys.argv[1]).convert('RGB').save(sys.argv[2], 'PPM')\" " +
                                  in + " " + out,
                              log);
  EXPECT_EQ(status, 0) << "Pillow reading " << in << ": " << read_text(log);
  return status == 0;
}

// While in scope, files of the process cannot grow beyond bytes: writes
// past that fail as on a full disk.
struct FileSizeLimit {
  rlimit old;
  explicit FileSizeLimit(rlim_t bytes) {
    signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limit = old;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old); }
};

// The first bytes of a file.
inline std::string file_head(const std::string& path, size_t bytes) { return read_text(path).substr(0, bytes); }

}  // namespace driver_test

using namespace driver_test;

#endif
