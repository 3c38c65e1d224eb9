#ifndef IMAGEIO_FUZZ_DRIVER_FILE_H
#define IMAGEIO_FUZZ_DRIVER_FILE_H

// One fuzz input as a whole file of one format, read every way the handles
// offer: every line at 8 bits with the seek table made after some of them,
// all lines again at 16 bits from a seek, seeks inside and outside the
// picture, the header, statistics, scaled and inverted reads and the whole
// 16-bit buffer. A line read after a seek must be the line read in order.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_file.h"
#include "fuzz_input.h"
#include "imgio.h"
#include "imgio_messages.h"
#include "imgio_utils.h"
#include "q4_memory.h"

namespace fuzz_driver {

inline int discard(imssys*) { return 0; }

// count lines appended to lines (8-bit pixels, or 16-bit samples); false
// when a read failed.
inline bool read_lines(imginfo* h, int count, bool deep, std::vector<unsigned>* lines) {
  unsigned int* line = createline(h->width);
  unsigned short* line16 = createline16(h->width);
  if (!line || !line16) abort();
  bool ok = true;
  for (int y = 0; y < count; ++y) {
    ok = (deep ? readline16(h, line16) : readline(h, line)) == 0 && ok;
    if (!deep) lines->insert(lines->end(), line, line + h->width);
  }
  q4_free_c(line, __FILE__, __LINE__);
  q4_free_c(line16, __FILE__, __LINE__);
  return ok;
}

// The file at path in the current format; before takes that many lines in
// order ahead of the seek table.
inline void read_every_way(const std::string& path, size_t before) {
  if (imginfo* h = openimg(path.c_str())) {
    const int width = h->width, height = h->height;
    std::vector<unsigned> in_order, seen;
    const int ahead = static_cast<int>(before % (size_t(height) + 1));
    bool whole = read_lines(h, ahead, false, &in_order);
    const bool seekable = makeseekable(h) == 0;
    whole = read_lines(h, height - ahead, false, &in_order) && whole;
    if (seekable && seekline(h, 0) == 0) read_lines(h, height + 1, true, &seen);
    for (int line : {height / 2, height - 1, 0, height, -1}) {
      seen.clear();
      if (!seekable || seekline(h, line) != 0 || !read_lines(h, 2, false, &seen) || !whole) continue;
      // Lines outside the picture read as zeros.
      for (int i = 0; i < 2; ++i)
        for (int x = 0; x < width; ++x) {
          const bool inside = line >= 0 && line + i < height;
          FUZZ_CHECK(seen[size_t(i) * width + x] == (inside ? in_order[(size_t(line) + i) * width + x] : 0u));
        }
    }
    showheader(h);
    if (imgstats* stats = statsimg(h)) q4_free_c(stats, __FILE__, __LINE__);
    closeimg(h);
  }
  for (bool invert : {false, true}) {
    if (imginfo* h = openimgscaled(path.c_str(), 7, 5)) {
      std::vector<unsigned> lines;
      if (invert) invertscaled(h);
      read_lines(h, 6, invert, &lines);
      closeimg(h);
    }
  }
  int width = 0, height = 0;
  destroybuffer16(readbuf16(path.c_str(), &width, &height));
}

// Small pictures only: the input is small, and what it claims beyond that
// is what the readers must refuse.
inline void set_up(const char* format) {
  messsetproc(discard);
  initimg();
  setkeyval("IMGIO_MAX_PIXELS", "262144");
  if (setimageformat(format) != 0) abort();
}

}  // namespace fuzz_driver

#endif
