// Image files as the front end reads them: the input is read as a file of
// every extension the front end knows, so the seeds of the image-file
// library's formats serve as they are. A format of that library is read
// only when its handles open the file under a small pixel cap: a
// compressed file of a few bytes may claim a picture of hundreds of
// megabytes, which the front end, under the library's default cap, would
// read in full. Own TIFF files (".tq4") are written again from what was
// read and must read back unchanged.
#include <tiffio.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_file.h"
#include "image_data.h"
#include "imagelib_fileio.h"
#include "imgio.h"
#include "imgio_messages.h"

namespace {

// The front end's extensions and the image-file library's formats behind
// them, the table's and the one reached by its name (".cin").
const struct {
  const char* ext;
  const char* format;
} kFormats[] = {{".pxr", "pixar"},   {".rla", "rla"},    {".als", "alias"},      {".rgb", "sgirgb"}, {".sgi", "sgisgi"},
                {".pic", "vertigo"}, {".tga", "targa2"}, {".tif", "tiff"},       {".ras", "sun"},    {".r", "art24"},
                {".dump", "symbolics"}, {".gif", "gif"}, {".jpg", "jpeg"},       {".cin", "cin"},
                {".tq4", nullptr}};

int discard(imssys*) { return 0; }

bool opens_small(const std::string& path, const char* format) {
  initimg();
  setkeyval("IMGIO_MAX_PIXELS", "262144");
  imginfo* h = setimageformat(format) == 0 ? openimg(path.c_str()) : nullptr;
  if (h) closeimg(h);
  finishimg();
  return h != nullptr;
}

// The input read as a file with the extension ext of the image-file
// library's format (none: an own TIFF file).
void read_as(const uint8_t* data, size_t size, const char* ext, const char* format) {
  const std::string path = fuzz_file_write(std::string("input") + ext, data, size);
  if (format && !opens_small(path, format)) return;
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
  if (image && !format) {
    const std::string copy = fuzz_file_path("copy.tq4");
    if (!image_write_file(copy.c_str(), image, false)) abort();
    image_data* back = image_read_file(copy.c_str());
    if (!back || back->width != image->width || back->height != image->height || back->channels != image->channels ||
        back->pixel_type != image->pixel_type ||
        memcmp(back->pixels, image->pixels, size_t(image->row_bytes) * image->height) != 0)
      abort();
    image_data_delete(back);
  }
  image_data_delete(image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // libtiff's own complaints about broken files would flood the run.
  TIFFSetWarningHandler(nullptr);
  TIFFSetErrorHandler(nullptr);
  messsetproc(discard);
  for (const auto& f : kFormats) read_as(data, size, f.ext, f.format);
  return 0;
}
