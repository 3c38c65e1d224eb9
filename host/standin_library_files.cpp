#include "standin_library_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "image_data.h"
#include "imagelib_fileio.h"
#include "imgio.h"
#include "imgio_jpeg.h"
#include "imgio_messages.h"
#include "imgio_tiff.h"

namespace {

// Why the call in progress failed: a driver says why just before the
// library's general "ERROR: Failed to ..." line, and its warnings and
// notes come earlier; what follows that line (closing the file) is no
// reason. The last message before the first such line that is not a
// warning, else that line. libtiff, below the TIFF driver, reports through
// the same channel, handle by handle.
char reason_message[IMSSYS_LINE_LENGTH];
char failed_message[IMSSYS_LINE_LENGTH];

int keep_reason(imssys* record) {
  if (failed_message[0]) return 0;
  if (std::strncmp(record->text, "ERROR: Failed to ", 17) == 0)
    std::snprintf(failed_message, sizeof failed_message, "%s", record->text);
  else if (!strcasestr(record->text, "warning"))
    std::snprintf(reason_message, sizeof reason_message, "%s", record->text);
  return 0;
}

// The library and the reason kept above are the program's one copy: one
// call at a time holds them, from its first library call to its last.
std::mutex library_turn;

// Starts one call into the library, under library_turn: only its own
// messages count, and errno starts clear so that a failed system call can
// be told apart. The handler stays for the whole program, whose only use of
// the library is here.
void begin_call() {
  static const bool installed = (messsetproc(keep_reason), true);
  static_cast<void>(installed);
  reason_message[0] = failed_message[0] = '\0';
  errno = 0;
}

// Why the call failed, in one line: the library's reason, else the
// system's, else `fallback`. A write: the system's reason first, since a
// full disk or a file size limit shows there and the library only says that
// its write failed.
std::string call_reason(bool write, const char* fallback) {
  std::string message = reason_message[0] ? reason_message : failed_message;
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  if (errno && (write || message.empty())) return std::strerror(errno);
  return message.empty() ? fallback : message;
}

// A sample of image_data as 0..65535 (byte, word, word32 or float 0..1).
unsigned library_sample(const image_data* image, const unsigned char* row, int index) {
  switch (image->pixel_type) {
    case 0:
      return rescale_sample(row[index], 255, 65535);
    case 1:
      return reinterpret_cast<const uint16_t*>(row)[index];
    case 2:
      return reinterpret_cast<const uint32_t*>(row)[index] >> 16;
    default: {
      const float v = reinterpret_cast<const float*>(row)[index];
      // NaN fails both tests and counts as black.
      return v >= 1.0f ? 65535u : v > 0.0f ? static_cast<unsigned>(v * 65535.0f + 0.5f) : 0u;
    }
  }
}

// Formats whose files may hold CMYK, which their drivers hand over in the
// places of R, G, B and A, and how each driver tells.
struct CmykFormat {
  const char* extension;
  const char* name;                      // the library's
  int (*colour_space)(imginfo* handle);  // 2 for CMYK
  bool inverted;                         // as Adobe's files: full scale where there is no ink
};
const CmykFormat cmyk_formats[] = {{".tif", "tiff", TiffGetCsp, false}, {".jpg", "jpeg", JpegGetCsp, true}};

// The entry of a file that holds CMYK; null for every other file. The
// library is told the path's own extension, which may differ from the
// format's in case ("scan.TIF").
const CmykFormat* cmyk_format(const std::string& path, const std::string& extension) {
  for (const CmykFormat& f : cmyk_formats) {
    if (extension != f.extension) continue;
    initimg();
    imgextoverride(f.name, path.substr(path.rfind('.') + 1).c_str());
    imginfo* handle = setimageformat(f.name) == 0 ? openimg(path.c_str()) : nullptr;
    const bool cmyk = handle && f.colour_space(handle) == 2;
    if (handle) closeimg(handle);
    finishimg();
    return cmyk ? &f : nullptr;
  }
  return nullptr;
}

// CMYK samples of 0..max in v as RGB, as libtiff's RGBA reading turns
// them: each colour (max - ink)(max - black) / max, where inverted samples
// are max - ink already.
void cmyk_to_rgb(unsigned v[4], unsigned max, bool inverted) {
  const unsigned white = inverted ? v[3] : max - v[3];
  for (int i = 0; i < 3; ++i) v[i] = (inverted ? v[i] : max - v[i]) * white / max;
}

}  // namespace

bool library_format_known(const std::string& path) {
  const std::lock_guard<std::mutex> turn(library_turn);
  return image_io_format_known(path.c_str());
}

bool library_read(const std::string& path, const std::string& extension, FrameImage& frame, std::string& error) {
  const std::lock_guard<std::mutex> turn(library_turn);
  begin_call();
  image_data* image = read_image_sequence_file(path.c_str(), -1, nullptr);
  if (!image) {
    error = call_reason(false, "cannot read the image file");
    return false;
  }
  frame.width = image->width;
  frame.height = image->height;
  frame.maxval = image->pixel_type == 0 ? 255 : 65535;
  if (!frame_image_allocate(frame, error)) {
    image_data_delete(image);
    return false;
  }
  // One channel is grey, two grey and alpha; the first three are R, G, B,
  // or C, M, Y before K.
  const int c = image->channels;
  const CmykFormat* cmyk = c >= 4 ? cmyk_format(path, extension) : nullptr;
  frame.found.depth = frame.maxval == 255 ? 8 : 16;
  frame.found.colours = cmyk ? ImageFileFound::cmyk : c >= 3 ? ImageFileFound::rgb : ImageFileFound::grey;
  frame.found.inverted = cmyk && cmyk->inverted;
  const int at[4] = {0, c >= 3 ? 1 : 0, c >= 3 ? 2 : 0, 3};
  const unsigned max = static_cast<unsigned>(frame.maxval);
  for (int y = 0; y < frame.height; ++y) {
    const unsigned char* row = image_row(image, frame.height - 1 - y);
    uint16_t* out = frame.samples.data() + static_cast<size_t>(y) * frame.width * 3;
    for (int x = 0; x < frame.width; ++x, out += 3) {
      unsigned v[4];
      for (int k = 0; k < (cmyk ? 4 : 3); ++k) {
        const unsigned wide = library_sample(image, row, x * c + at[k]);
        v[k] = max == 255 ? rescale_sample(wide, 65535, 255) : wide;
      }
      if (cmyk) cmyk_to_rgb(v, max, cmyk->inverted);
      for (int k = 0; k < 3; ++k) out[k] = static_cast<uint16_t>(v[k]);
    }
  }
  image_data_delete(image);
  return true;
}

bool library_write(const std::string& path, const FrameImage& frame, std::string& error) {
  const std::lock_guard<std::mutex> turn(library_turn);
  begin_call();
  const bool wide = frame.maxval > 255;
  image_data* image = image_data_create(frame.width, frame.height, 3, wide ? 1 : 0, 1);
  if (!image) {
    error = "not enough memory for the image-file library's copy of a " + std::to_string(frame.width) +
            "x" + std::to_string(frame.height) + " picture";
    return false;
  }
  const unsigned to = wide ? 65535 : 255;
  for (int y = 0; y < frame.height; ++y) {
    unsigned char* row = image_row(image, frame.height - 1 - y);
    const uint16_t* in = frame.samples.data() + static_cast<size_t>(y) * frame.width * 3;
    for (int i = 0; i < frame.width * 3; ++i) {
      const unsigned v = rescale_sample(in[i], static_cast<unsigned>(frame.maxval), to);
      if (wide)
        reinterpret_cast<uint16_t*>(row)[i] = static_cast<uint16_t>(v);
      else
        row[i] = static_cast<unsigned char>(v);
    }
  }
  const bool ok = write_image_sequence_file(image, path.c_str(), -1, nullptr);
  image_data_delete(image);
  if (!ok) error = call_reason(true, "cannot write the image file");
  return ok;
}

