#ifndef TEST_IMGIO_MEMORY_DRIVER_H
#define TEST_IMGIO_MEMORY_DRIVER_H

// An image-file driver that keeps its "files" in memory, for testing the
// image-file library and its front end without files, and for making any of
// its operations fail on demand. Plug it into a format entry with
// PluggedMemoryDriver.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "imgio.h"
#include "imgio_messages.h"
#include "imgio_plug.h"

// One stored picture: samples R, G, B, A per pixel, file line y first at
// y * width * 4; 8-bit files hold 0..255, 16-bit files 0..65535.
struct MemoryImage {
  int width = 0;
  int height = 0;
  bool bits16 = false;
  int frame = 0;
  std::vector<uint16_t> samples;
  uint16_t* pixel(int x, int y) { return samples.data() + (static_cast<size_t>(y) * width + x) * 4; }
  const uint16_t* pixel(int x, int y) const {
    return samples.data() + (static_cast<size_t>(y) * width + x) * 4;
  }
};

struct MemoryDriverState {
  std::map<std::string, MemoryImage> files;
  int line_order = 0;        // non-zero: Openf and Createf set it on the handle
  int fail_read_line = -1;   // this line's read fails
  int fail_write_line = -1;  // this line's write fails
  bool fail_open = false;
  bool fail_create = false;
  bool fail_close = false;
  bool fail_make_seek = false;
  bool fail_seek = false;
  bool fail_header = false;
  bool open_size = false;  // Openf reports open_width x open_height whatever the file
  int open_width = 0;
  int open_height = 0;
  int seeks = 0;
  int closes = 0;
  std::vector<int> lines_read;  // every line the driver was asked for, in order
};

inline MemoryDriverState& memory_driver() {
  static MemoryDriverState state;
  return state;
}

// Stores a picture under name; value(x, y, c) gives each sample.
template <typename Value>
MemoryImage& memory_file(const std::string& name, int width, int height, bool bits16, Value value) {
  MemoryImage& image = memory_driver().files[name];
  image = MemoryImage{width, height, bits16, 0, std::vector<uint16_t>(static_cast<size_t>(width) * height * 4)};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < 4; ++c) image.pixel(x, y)[c] = static_cast<uint16_t>(value(x, y, c));
  return image;
}

namespace memory_driver_ops {

// The handle's record: the picture read (in the state's map) or being
// written (stored at close), and the line the next read returns, so that a
// read the library did not seek to is caught.
struct Record {
  MemoryImage* source = nullptr;
  MemoryImage written;
  int next_line = 0;
};

inline Record* record(imginfo* h) { return static_cast<Record*>(h->driver); }

inline uint16_t narrow(const MemoryImage& image, uint16_t v) { return image.bits16 ? v >> 8 : v; }
inline uint16_t widen(const MemoryImage& image, uint16_t v) { return image.bits16 ? v : v * 257; }
inline uint16_t store8(const MemoryImage& image, unsigned v) { return image.bits16 ? v * 257 : v; }
inline uint16_t store16(const MemoryImage& image, uint16_t v) { return image.bits16 ? v : v >> 8; }

inline int open(imginfo* h) {
  MemoryDriverState& state = memory_driver();
  auto found = state.files.find(h->file_name);
  if (state.fail_open || found == state.files.end()) return 0;
  Record* r = new Record;
  r->source = &found->second;
  h->driver = r;
  h->file_width = state.open_size ? state.open_width : r->source->width;
  h->file_height = state.open_size ? state.open_height : r->source->height;
  h->bits16 = r->source->bits16;
  if (state.line_order) h->line_order = state.line_order;
  return 1;
}

inline int create(imginfo* h) {
  MemoryDriverState& state = memory_driver();
  if (state.fail_create) return 0;
  Record* r = new Record;
  r->written = MemoryImage{h->file_width, h->file_height, h->bits16 != 0, h->frame,
                           std::vector<uint16_t>(static_cast<size_t>(h->file_width) * h->file_height * 4)};
  h->driver = r;
  if (state.line_order) h->line_order = state.line_order;
  return 1;
}

inline bool read_allowed(imginfo* h) {
  MemoryDriverState& state = memory_driver();
  state.lines_read.push_back(h->current_line);
  Record* r = record(h);
  const bool in_order = h->current_line == r->next_line;
  r->next_line = h->current_line + 1;
  return in_order && h->current_line != state.fail_read_line && h->current_line < r->source->height;
}

inline int read8(imginfo* h) {
  if (!read_allowed(h)) return 0;
  MemoryImage& image = *record(h)->source;
  for (int x = 0; x < h->file_width; ++x) {
    const uint16_t* p = image.pixel(x, h->current_line);
    h->line[x] = 0;
    for (int c = 0; c < 4; ++c) h->line[x] |= static_cast<unsigned>(narrow(image, p[c])) << (8 * c);
  }
  return 1;
}

inline int read16(imginfo* h) {
  if (!read_allowed(h)) return 0;
  MemoryImage& image = *record(h)->source;
  for (int x = 0; x < h->file_width; ++x)
    for (int c = 0; c < 4; ++c) h->line16[4 * x + c] = widen(image, image.pixel(x, h->current_line)[c]);
  return 1;
}

inline int write8(imginfo* h) {
  if (h->current_line == memory_driver().fail_write_line) return 0;
  MemoryImage& image = record(h)->written;
  for (int x = 0; x < h->file_width; ++x)
    for (int c = 0; c < 4; ++c) image.pixel(x, h->current_line)[c] = store8(image, (h->line[x] >> (8 * c)) & 255u);
  return 1;
}

inline int write16(imginfo* h) {
  if (h->current_line == memory_driver().fail_write_line) return 0;
  MemoryImage& image = record(h)->written;
  for (int x = 0; x < h->file_width; ++x)
    for (int c = 0; c < 4; ++c) image.pixel(x, h->current_line)[c] = store16(image, h->line16[4 * x + c]);
  return 1;
}

inline int close(imginfo* h) {
  MemoryDriverState& state = memory_driver();
  Record* r = record(h);
  ++state.closes;
  if (h->mode == IMGIO_WRITE && !state.fail_close) state.files[h->file_name] = r->written;
  delete r;
  h->driver = nullptr;
  return state.fail_close ? 0 : 1;
}

// Buffer row of file line i, as the whole-buffer contract has it.
inline int buffer_row(const imginfo* h, int i) {
  return h->line_order == IMGIO_BOTTOM_FIRST ? i : h->file_height - 1 - i;
}

inline int read_whole(imginfo* h, bool deep) {
  MemoryDriverState& state = memory_driver();
  auto found = state.files.find(h->file_name);
  if (state.fail_open || found == state.files.end()) return 0;
  MemoryImage& image = found->second;
  if (state.line_order) h->line_order = state.line_order;
  h->file_width = image.width;
  h->file_height = image.height;
  if (deep) {
    h->line16 = createbuffer16(image.width, image.height);
    if (!h->line16) return 0;
  } else {
    h->line = createbuffer(image.width, image.height);
    if (!h->line) return 0;
  }
  for (int i = 0; i < image.height; ++i)
    for (int x = 0; x < image.width; ++x) {
      const size_t at = static_cast<size_t>(buffer_row(h, i)) * image.width + x;
      for (int c = 0; c < 4; ++c) {
        const uint16_t v = image.pixel(x, i)[c];
        if (deep)
          h->line16[4 * at + c] = widen(image, v);
        else
          h->line[at] |= static_cast<unsigned>(narrow(image, v)) << (8 * c);
      }
    }
  return 1;
}

inline int write_whole(imginfo* h, bool deep) {
  MemoryDriverState& state = memory_driver();
  if (state.fail_create) return 0;
  if (state.line_order) h->line_order = state.line_order;
  MemoryImage image{h->file_width, h->file_height, deep, h->frame,
                    std::vector<uint16_t>(static_cast<size_t>(h->file_width) * h->file_height * 4)};
  for (int i = 0; i < image.height; ++i)
    for (int x = 0; x < image.width; ++x) {
      const size_t at = static_cast<size_t>(buffer_row(h, i)) * image.width + x;
      for (int c = 0; c < 4; ++c)
        image.pixel(x, i)[c] = deep ? h->line16[4 * at + c] : (h->line[at] >> (8 * c)) & 255u;
    }
  state.files[h->file_name] = image;
  return 1;
}

inline int readb(imginfo* h) { return read_whole(h, false); }
inline int readb16(imginfo* h) { return read_whole(h, true); }
inline int writeb(imginfo* h) { return write_whole(h, false); }
inline int writeb16(imginfo* h) { return write_whole(h, true); }

inline int header(imginfo* h) {
  messprintf(IMSSYS_INFO, "Memory image of %d lines\n", h->file_height);
  return memory_driver().fail_header ? 0 : 1;
}

inline int make_seek(imginfo*) { return memory_driver().fail_make_seek ? 0 : 1; }

inline int seek_to(imginfo* h) {
  MemoryDriverState& state = memory_driver();
  ++state.seeks;
  record(h)->next_line = h->seek_line;
  return state.fail_seek ? 0 : 1;
}

inline const imgio_driver all = {open, create, read8, write8, read16, write16, close, readb,
                                 writeb, readb16, writeb16, header, make_seek, seek_to};

}  // namespace memory_driver_ops

// While in scope, format entry index uses the memory driver (with `ops` in
// place of its full set when given), with a fresh state.
class PluggedMemoryDriver {
 public:
  explicit PluggedMemoryDriver(int index, const imgio_driver& ops = memory_driver_ops::all)
      : index_(index), ops_(ops) {
    memory_driver() = MemoryDriverState();
    imgio_plug_driver(index_, &ops_);
  }
  ~PluggedMemoryDriver() {
    imgio_plug_driver(index_, nullptr);
    memory_driver() = MemoryDriverState();
  }
  PluggedMemoryDriver(const PluggedMemoryDriver&) = delete;
  PluggedMemoryDriver& operator=(const PluggedMemoryDriver&) = delete;

 private:
  int index_;
  imgio_driver ops_;
};

// initimg for the life of the scope, finishimg at its end.
struct ImgioSession {
  ImgioSession() { initimg(); }
  ~ImgioSession() { finishimg(); }
  ImgioSession(const ImgioSession&) = delete;
  ImgioSession& operator=(const ImgioSession&) = delete;
};

#endif
