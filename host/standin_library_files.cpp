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

namespace {

// Why the call in progress failed: a driver says why just before the
// library's general "ERROR: Failed to ..." line, and its warnings and
// notes come earlier; what follows that line (closing the file) is no
// reason. The last message before the first such line that is not a
// warning, else that line. libtiff and libjpeg, below their drivers,
// report through the same channel.
char reason_message[IMSSYS_LINE_LENGTH];
char failed_message[IMSSYS_LINE_LENGTH];
// The file a read is reading, null during any other call. libjpeg's
// warnings, which it would print itself, are printed as they come, naming
// it; the drivers' notes on the way stay unsaid, as libtiff's do.
const char* reading_path;

int keep_reason(imssys* record) {
  if (failed_message[0]) return 0;
  if (reading_path && std::strncmp(record->text, jpeg_warning_prefix, std::strlen(jpeg_warning_prefix)) == 0) {
    const int length = static_cast<int>(std::strcspn(record->text, "\n"));
    std::fprintf(stderr, "%s: %.*s\n", reading_path, length, record->text);
  } else if (std::strncmp(record->text, "ERROR: Failed to ", 17) == 0) {
    std::snprintf(failed_message, sizeof failed_message, "%s", record->text);
  } else if (!strcasestr(record->text, "warning")) {
    std::snprintf(reason_message, sizeof reason_message, "%s", record->text);
  }
  return 0;
}

// The library and the reason kept above are the program's one copy: one
// call at a time holds them, from its first library call to its last.
std::mutex library_turn;

// Starts one call into the library, under library_turn, reading `path`
// when not null: only its own messages count, and errno starts clear so
// that a failed system call can be told apart. The handler stays for the
// whole program, whose only use of the library is here.
void begin_call(const char* path) {
  static const bool installed = (messsetproc(keep_reason), true);
  static_cast<void>(installed);
  reason_message[0] = failed_message[0] = '\0';
  reading_path = path;
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

// CMYK samples of 0..max in v as RGB, as libtiff's RGBA reading turns
// them: each colour (max - ink)(max - black) / max, where inverted samples
// are max - ink already.
void cmyk_to_rgb(unsigned v[4], unsigned max, bool inverted) {
  const unsigned white = inverted ? v[3] : max - v[3];
  for (int i = 0; i < 3; ++i) v[i] = (inverted ? v[i] : max - v[i]) * white / max;
}

// The library's rows of samples S into the frame, bottom row last: one
// channel is grey, two grey and alpha; the first three are R, G, B, or C,
// M, Y before K. `value` takes a sample to 0..maxval.
template <typename S, typename Value>
void frame_rows(const image_data* image, FrameImage& frame, Value value) {
  const int c = image->channels;
  const int g = c >= 3 ? 1 : 0;
  const bool cmyk = frame.found.colours == ImageFileFound::cmyk && c >= 4;
  const unsigned max = static_cast<unsigned>(frame.maxval);
  for (int y = 0; y < frame.height; ++y) {
    const S* in = reinterpret_cast<const S*>(image_row(image, frame.height - 1 - y));
    uint16_t* out = frame.samples.data() + static_cast<size_t>(y) * frame.width * 3;
    for (int x = 0; x < frame.width; ++x, in += c, out += 3) {
      unsigned v[4] = {value(in[0]), value(in[g]), value(in[2 * g]), cmyk ? value(in[3]) : 0u};
      if (cmyk) cmyk_to_rgb(v, max, frame.found.inverted);
      for (int k = 0; k < 3; ++k) out[k] = static_cast<uint16_t>(v[k]);
    }
  }
}

}  // namespace

bool library_format_known(const std::string& path) {
  const std::lock_guard<std::mutex> turn(library_turn);
  return image_io_format_known(path.c_str());
}

bool library_size_ok(int64_t width, int64_t height) {
  const std::lock_guard<std::mutex> turn(library_turn);
  return imgsizeok(width, height) != 0;
}

bool library_read(const std::string& path, FrameImage& frame, std::string& error) {
  const std::lock_guard<std::mutex> turn(library_turn);
  begin_call(path.c_str());
  image_file_found found;
  image_data* image = image_read_file_described(path.c_str(), found);
  reading_path = nullptr;
  if (!image) {
    error = call_reason(false, "cannot read the image file");
    return false;
  }
  frame.width = image->width;
  frame.height = image->height;
  // A file of fewer bits than its words (a Cineon file's) keeps its own
  // values: their scale is the file's, not the words'.
  const int shift = image->pixel_type == IMAGE_PIXEL_WORD && found.bits < 16 ? 16 - found.bits : 0;
  frame.maxval = image->pixel_type == IMAGE_PIXEL_BYTE ? 255 : 65535 >> shift;
  frame.found.depth = found.bits;
  frame.found.colours = found.colours == IMAGE_FILE_CMYK  ? ImageFileFound::cmyk
                        : found.colours == IMAGE_FILE_GREY ? ImageFileFound::grey
                                                           : ImageFileFound::rgb;
  frame.found.inverted = found.inverted;
  if (!frame_image_allocate(frame, error)) {
    image_data_delete(image);
    return false;
  }
  switch (image->pixel_type) {
    case IMAGE_PIXEL_BYTE:
      frame_rows<uint8_t>(image, frame, [](uint8_t v) { return unsigned(v); });
      break;
    case IMAGE_PIXEL_WORD:
      frame_rows<uint16_t>(image, frame, [shift](uint16_t v) { return unsigned(v) >> shift; });
      break;
    case IMAGE_PIXEL_WORD32:
      frame_rows<uint32_t>(image, frame, [](uint32_t v) { return v >> 16; });
      break;
    default:
      // NaN fails both tests and counts as black.
      frame_rows<float>(image, frame, [](float v) {
        return v >= 1.0f ? 65535u : v > 0.0f ? static_cast<unsigned>(v * 65535.0f + 0.5f) : 0u;
      });
      break;
  }
  image_data_delete(image);
  return true;
}

bool library_write(const std::string& path, const FrameImage& frame, std::string& error) {
  const std::lock_guard<std::mutex> turn(library_turn);
  begin_call(nullptr);
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

