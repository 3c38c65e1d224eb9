// TIFF and JPEG files as the renderer reads them, CMYK turned to RGB among
// them: a picture read has the size the front end's header gave, every
// sample within its maxval, and a CMYK one no colour brighter than its own
// ink or its black leaves paper.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz_file.h"
#include "image_data.h"
#include "imagelib_fileio.h"
#include "standin_image_files.h"

namespace {

void check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "cmyk_files: %s\n", what);
  std::abort();
}

// Paper left by a sample of 0..max: an inverted sample is paper already.
unsigned paper(unsigned sample, unsigned max, bool inverted) { return inverted ? sample : max - sample; }

void read_as(const uint8_t* data, size_t size, const char* name) {
  const std::string path = fuzz_file_write(name, data, size);
  // Only the header is read here: a file of a few bytes may claim a
  // picture of hundreds of megabytes.
  int width = 0, height = 0, channels = 0, type = 0;
  if (!image_read_file_info(path.c_str(), width, height, channels, type) || int64_t(width) * height > 1 << 18)
    return;
  FrameImage frame;
  std::string error;
  if (!image_file_read(path, frame, error)) return;
  check(frame.width == width && frame.height == height, "size differs from the header's");
  check(frame.samples.size() == size_t(width) * height * 3, "sample count");
  for (const uint16_t s : frame.samples) check(s <= frame.maxval, "sample above maxval");
  if (frame.found.colours != ImageFileFound::cmyk) return;
  // The inks as the front end hands them over, C, M, Y, K in the places
  // of R, G, B, A, bottom row first, at the frame's depth.
  image_data* inks = image_read_file(path.c_str());
  check(inks && inks->channels == 4 && image_sample_bytes(inks->pixel_type) == (frame.maxval > 255 ? 2 : 1),
        "the front end's second read");
  const unsigned max = static_cast<unsigned>(frame.maxval);
  for (int y = 0; y < height; ++y) {
    const unsigned char* row = image_row(inks, height - 1 - y);
    for (int x = 0; x < width; ++x) {
      unsigned ink[4];
      for (int k = 0; k < 4; ++k)
        ink[k] = max > 255 ? reinterpret_cast<const uint16_t*>(row)[4 * x + k] : row[4 * x + k];
      const uint16_t* rgb = frame.samples.data() + (size_t(y) * width + x) * 3;
      for (int k = 0; k < 3; ++k)
        check(rgb[k] <= paper(ink[k], max, frame.found.inverted) && rgb[k] <= paper(ink[3], max, frame.found.inverted),
              "a colour brighter than its inks leave");
    }
  }
  image_data_delete(inks);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (const char* name : {"input.tif", "input.jpg"}) read_as(data, size, name);
  return 0;
}
