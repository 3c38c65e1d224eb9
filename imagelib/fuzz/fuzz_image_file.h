#ifndef IMAGELIB_FUZZ_IMAGE_FILE_H
#define IMAGELIB_FUZZ_IMAGE_FILE_H

// One fuzz input as an image file: it is written to a temporary file with
// the format's extension, then every reading path runs on it: for a format
// of the image-file library the handle calls (lines at 8 and 16 bits, seeks,
// the header, statistics, scaled and inverted reads, the whole buffer), then
// the front end's. Harnesses for each format call fuzz_image_file.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "image_data.h"
#include "imagelib_fileio.h"
#include "imgio.h"
#include "imgio_messages.h"
#include "imgio_utils.h"
#include "q4_memory.h"

namespace fuzz_image {

inline int discard(imssys*) { return 0; }

// A private folder for the run's files, removed at exit. Plain storage: a
// std::string would be destroyed before the removal runs.
inline char folder_path[4096];

inline void remove_folder() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_path, ignored);
}

inline std::string folder() {
  if (!folder_path[0]) {
    const std::string pattern = (std::filesystem::temp_directory_path() / "q4fuzz-image-XXXXXX").string();
    if (pattern.size() >= sizeof folder_path) abort();
    strcpy(folder_path, pattern.c_str());
    if (!mkdtemp(folder_path)) abort();
    atexit(remove_folder);
  }
  return folder_path;
}

inline std::string write_input(const uint8_t* data, size_t size, const char* name) {
  const std::string path = folder() + "/" + name;
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) abort();
  if (size && fwrite(data, 1, size, file) != size) abort();
  fclose(file);
  return path;
}

inline void read_lines(imginfo* h, int lines, bool deep) {
  unsigned int* line = createline(h->width);
  unsigned short* line16 = createline16(h->width);
  if (!line || !line16) abort();
  for (int y = 0; y < lines; ++y) {
    if (deep)
      readline16(h, line16);
    else
      readline(h, line);
  }
  q4_free_c(line, __FILE__, __LINE__);
  q4_free_c(line16, __FILE__, __LINE__);
}

// True when the file opened as a picture within the small cap.
inline bool handle_calls(const std::string& path, const char* format) {
  initimg();
  // Small pictures only: the input is small, and what it claims beyond that
  // is what the readers must refuse.
  setkeyval("IMGIO_MAX_PIXELS", "262144");
  if (setimageformat(format) != 0) abort();
  imginfo* h = openimg(path.c_str());
  const bool opened = h != nullptr;
  if (h) {
    read_lines(h, h->height + 1, false);
    if (makeseekable(h) == 0) {
      seekline(h, 0);
      read_lines(h, h->height + 1, true);
      for (int line : {h->height / 2, h->height - 1, h->height, -1}) {
        seekline(h, line);
        read_lines(h, 2, line % 2 == 0);
      }
    }
    showheader(h);
    if (imgstats* stats = statsimg(h)) q4_free_c(stats, __FILE__, __LINE__);
    closeimg(h);
  }
  for (bool invert : {false, true}) {
    if (imginfo* h = openimgscaled(path.c_str(), 7, 5)) {
      if (invert) invertscaled(h);
      read_lines(h, 6, invert);
      closeimg(h);
    }
  }
  int width = 0, height = 0;
  destroybuffer16(readbuf16(path.c_str(), &width, &height));
  finishimg();
  return opened;
}

inline void front_end_calls(const std::string& path, bool round_trip) {
  int width = 0, height = 0, channels = 0, type = 0;
  const int known = image_read_file_info(path.c_str(), width, height, channels, type);
  image_data* image = image_read_file(path.c_str());
  // Pixels may be refused after the header was taken, but a picture read
  // has the size its header gave.
  if (image && (!known || image->width != width || image->height != height)) abort();
  if (known && int64_t(width) * height * channels <= (1 << 20)) {
    for (int as : {type, int(IMAGE_PIXEL_FLOAT)}) {
      if (image_data* into = image_data_create(width, height, channels, as, 1)) {
        image_read_file(path.c_str(), into);
        image_data_delete(into);
      }
    }
  }
  if (image && round_trip) {
    // What was read is written and read back unchanged.
    const std::string copy = folder() + "/copy" + strrchr(path.c_str(), '.');
    if (!image_write_file(copy.c_str(), image, false)) abort();
    image_data* back = image_read_file(copy.c_str());
    if (!back || back->width != image->width || back->height != image->height ||
        back->channels != image->channels || back->pixel_type != image->pixel_type ||
        memcmp(back->pixels, image->pixels, size_t(image->row_bytes) * image->height) != 0)
      abort();
    image_data_delete(back);
  }
  image_data_delete(image);
}

// format: the image-file library's name of the format, or null for ".tq4".
inline void fuzz_image_file(const uint8_t* data, size_t size, const char* ext, const char* format) {
  messsetproc(discard);
  const std::string path = write_input(data, size, (std::string("input") + ext).c_str());
  // The front end reads under the library's default cap: a compressed file
  // of a few bytes may claim a picture of hundreds of megabytes, which it
  // would read in full. It sees only the pictures the small cap let open.
  if (format && !handle_calls(path, format)) return;
  front_end_calls(path, format == nullptr);
}

}  // namespace fuzz_image

#endif
