#include "standin_library_files.h"

#include <tiffio.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "image_data.h"
#include "imagelib_fileio.h"
#include "imgio.h"
#include "imgio_jpeg.h"
#include "imgio_messages.h"
#include "imgio_tiff.h"

namespace {

// Formats the front end's table lacks, by the library's format name.
struct NamedFormat {
  const char* extension;
  const char* name;
};
const NamedFormat named_formats[] = {{".cin", "cin"}};

const NamedFormat* named_format(const std::string& extension) {
  for (const NamedFormat& format : named_formats)
    if (extension == format.extension) return &format;
  return nullptr;
}

// Why the call in progress failed: a driver says why just before the
// library's general "ERROR: Failed to ..." line, and its warnings and
// notes come earlier; what follows that line (closing the file) is no
// reason. The last message before the first such line that is not a
// warning, else that line.
char reason_message[IMSSYS_LINE_LENGTH];
char failed_message[IMSSYS_LINE_LENGTH];

void keep_message(const char* text) {
  if (failed_message[0]) return;
  if (std::strncmp(text, "ERROR: Failed to ", 17) == 0)
    std::snprintf(failed_message, sizeof failed_message, "%s", text);
  else if (!strcasestr(text, "warning"))
    std::snprintf(reason_message, sizeof reason_message, "%s", text);
}

int keep_reason(imssys* record) {
  keep_message(record->text);
  return 0;
}

// libtiff, below the TIFF driver, reports through handlers of its own.
void keep_tiff_message(const char*, const char* format, va_list args) {
  char text[IMSSYS_LINE_LENGTH];
  std::vsnprintf(text, sizeof text, format, args);
  keep_message(text);
}

// One call into the library: its messages, and libtiff's, are kept rather
// than printed, and errno starts clear so that a failed system call can be
// told apart.
class LibraryCall {
 public:
  LibraryCall()
      : handler_(services.handler),
        mark_(services.mark),
        tiff_error_(TIFFSetErrorHandler(keep_tiff_message)),
        tiff_warning_(TIFFSetWarningHandler(nullptr)) {
    messsetproc(keep_reason);
    reason_message[0] = failed_message[0] = '\0';
    errno = 0;
  }
  ~LibraryCall() {
    services.handler = handler_;
    services.mark = mark_;
    TIFFSetErrorHandler(tiff_error_);
    TIFFSetWarningHandler(tiff_warning_);
  }
  LibraryCall(const LibraryCall&) = delete;
  LibraryCall& operator=(const LibraryCall&) = delete;

  // Why a read failed, in one line: the library's reason, else the
  // system's, else `fallback`. A write: the system's reason first, since a
  // full disk or a file size limit shows there and the library only says
  // that its write failed.
  static std::string Reason(bool write, const char* fallback) {
    std::string message = reason_message[0] ? reason_message : failed_message;
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
    if (errno && (write || message.empty())) return std::strerror(errno);
    return message.empty() ? fallback : message;
  }

 private:
  imssys_handler handler_;
  unsigned mark_;
  TIFFErrorHandler tiff_error_;
  TIFFErrorHandler tiff_warning_;
};

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
  NamedFormat format;
  int (*colour_space)(imginfo* handle);  // 2 for CMYK
  bool inverted;                         // as Adobe's files: full scale where there is no ink
};
const CmykFormat cmyk_formats[] = {{{".tif", "tiff"}, TiffGetCsp, false}, {{".jpg", "jpeg"}, JpegGetCsp, true}};

// The entry of a file that holds CMYK; null for every other file.
const CmykFormat* cmyk_format(const std::string& path, const std::string& extension);

// CMYK samples of 0..max in v as RGB, as libtiff's RGBA reading turns
// them: each colour (max - ink)(max - black) / max, where inverted samples
// are max - ink already.
void cmyk_to_rgb(unsigned v[4], unsigned max, bool inverted) {
  const unsigned white = inverted ? v[3] : max - v[3];
  for (int i = 0; i < 3; ++i) v[i] = (inverted ? v[i] : max - v[i]) * white / max;
}

bool read_front_end(const std::string& path, const std::string& extension, FrameImage& frame,
                    std::string& error) {
  image_data* image = read_image_sequence_file(path.c_str(), -1, nullptr);
  if (!image) {
    error = LibraryCall::Reason(false, "cannot read the image file");
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

bool write_front_end(const std::string& path, const FrameImage& frame, std::string& error) {
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
  if (!ok) error = LibraryCall::Reason(true, "cannot write the image file");
  return ok;
}

// The library set to one format for one file, whose own extension the
// library keeps (the Cineon entry has none of its own and would drop it).
class NamedUse {
 public:
  NamedUse(const NamedFormat& format, const std::string& path) {
    initimg();
    imgextoverride(format.name, path.substr(path.rfind('.') + 1).c_str());
    ok = setimageformat(format.name) == 0;
  }
  ~NamedUse() { finishimg(); }
  NamedUse(const NamedUse&) = delete;
  NamedUse& operator=(const NamedUse&) = delete;

  bool ok;
};

const CmykFormat* cmyk_format(const std::string& path, const std::string& extension) {
  for (const CmykFormat& f : cmyk_formats) {
    if (extension != f.format.extension) continue;
    NamedUse use(f.format, path);
    imginfo* handle = use.ok ? openimg(path.c_str()) : nullptr;
    const bool cmyk = handle && f.colour_space(handle) == 2;
    if (handle) closeimg(handle);
    return cmyk ? &f : nullptr;
  }
  return nullptr;
}

// File line i holds picture row i from the top, or from the bottom.
int picture_row(const imginfo* handle, int line) {
  return handle->line_order == IMGIO_TOP_FIRST ? line : handle->file_height - 1 - line;
}

// 16-bit RGBA lines, whatever the file's depth.
bool read_named(const NamedFormat& format, const std::string& path, FrameImage& frame, std::string& error) {
  NamedUse use(format, path);
  imginfo* handle = use.ok ? openimg(path.c_str()) : nullptr;
  if (!handle) {
    error = LibraryCall::Reason(false, "cannot read the image file");
    return false;
  }
  frame.width = handle->file_width;
  frame.height = handle->file_height;
  frame.maxval = 65535;
  StandinArray<uint16_t> line;
  bool ok = frame_image_allocate(frame, error);
  if (ok && !line.Allocate(static_cast<size_t>(frame.width) * 4)) {
    error = "not enough memory for a line of the file";
    ok = false;
  }
  for (int i = 0; ok && i < frame.height; ++i) {
    ok = readline16(handle, line.data()) == 0;
    uint16_t* out = frame.samples.data() + static_cast<size_t>(picture_row(handle, i)) * frame.width * 3;
    for (int x = 0; ok && x < frame.width; ++x)
      for (int k = 0; k < 3; ++k) out[x * 3 + k] = line[static_cast<size_t>(x) * 4 + k];
    if (!ok) error = LibraryCall::Reason(false, "cannot read the image file");
  }
  closeimg(handle);
  return ok;
}

bool write_named(const NamedFormat& format, const std::string& path, const FrameImage& frame,
                 std::string& error) {
  NamedUse use(format, path);
  StandinArray<uint16_t> line;
  if (!line.Allocate(static_cast<size_t>(frame.width) * 4)) {
    error = "not enough memory for a line of the file";
    return false;
  }
  imginfo* handle = use.ok ? createimg(path.c_str(), frame.width, frame.height, 16) : nullptr;
  bool ok = handle != nullptr;
  for (int i = 0; ok && i < frame.height; ++i) {
    const uint16_t* in = frame.samples.data() + static_cast<size_t>(picture_row(handle, i)) * frame.width * 3;
    for (int x = 0; x < frame.width; ++x) {
      for (int k = 0; k < 3; ++k)
        line[static_cast<size_t>(x) * 4 + k] =
            static_cast<uint16_t>(rescale_sample(in[x * 3 + k], static_cast<unsigned>(frame.maxval), 65535));
      line[static_cast<size_t>(x) * 4 + 3] = 65535;
    }
    ok = writeline16(handle, line.data()) == 0;
  }
  // The driver finishes its file at close.
  ok = handle && closeimg(handle) == 0 && ok;
  if (!ok) error = LibraryCall::Reason(true, "cannot write the image file");
  return ok;
}

}  // namespace

bool library_format_known(const std::string& extension) {
  if (named_format(extension)) return true;
  for (int i = 0; i < image_io_number_of_formats(); ++i)
    if (extension == image_io_get_format_extension(i)) return true;
  return false;
}

bool library_read(const std::string& path, const std::string& extension, FrameImage& image,
                  std::string& error) {
  const LibraryCall call;
  const NamedFormat* named = named_format(extension);
  return named ? read_named(*named, path, image, error) : read_front_end(path, extension, image, error);
}

bool library_write(const std::string& path, const std::string& extension, const FrameImage& image,
                   std::string& error) {
  const LibraryCall call;
  const NamedFormat* named = named_format(extension);
  return named ? write_named(*named, path, image, error) : write_front_end(path, image, error);
}
