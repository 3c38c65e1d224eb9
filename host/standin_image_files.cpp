// PPM and PNG frame files behind one table of extensions, every format of
// the image-file library, and the writing of frames whole or not at all.
#include "standin_image_files.h"

#include <png.h>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "standin_library_files.h"

namespace {

// Frames larger than this on a side are refused before any allocation.
const int max_side = 1 << 16;

std::string system_reason() { return std::strerror(errno); }

bool size_ok(int64_t width, int64_t height) {
  return width > 0 && height > 0 && width <= max_side && height <= max_side;
}

// The size rule of our own readers is the image-file library's, asked
// before anything is allocated: a picture it may not hold is refused,
// naming its size, as the library's readers refuse it.
bool read_size_ok(const char* format, int64_t width, int64_t height, std::string& error) {
  if (size_ok(width, height) && library_size_ok(width, height)) return true;
  error = std::string(format) + ": Image size " + std::to_string(width) + "x" + std::to_string(height) +
          " is out of range.";
  return false;
}

size_t sample_count(const FrameImage& image) {
  return static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 3;
}

}  // namespace

bool frame_image_allocate(FrameImage& image, std::string& error) {
  const size_t count = image.width > 0 && image.height > 0 ? sample_count(image) : 0;
  if (image.samples.Allocate(count)) return true;
  error = "not enough memory for a " + std::to_string(image.width) + "x" + std::to_string(image.height) +
          " picture (" + standin_size_text(static_cast<double>(count) * sizeof(uint16_t)) + ")";
  return false;
}

namespace {

// --- PPM ----------------------------------------------------------------

// One header number after blanks and "#" comments.
bool ppm_number(FILE* file, long& value) {
  int c = std::fgetc(file);
  for (;;) {
    while (c != EOF && std::isspace(c)) c = std::fgetc(file);
    if (c != '#') break;
    while (c != EOF && c != '\n') c = std::fgetc(file);
  }
  if (c == EOF || !std::isdigit(c)) return false;
  value = 0;
  for (; c != EOF && std::isdigit(c); c = std::fgetc(file))
    if ((value = value * 10 + (c - '0')) > 1L << 30) return false;
  // The one white-space character that ends the header is consumed here.
  return c != EOF && std::isspace(c);
}

// The samples as the file holds them, 1 or 2 big-endian bytes each, are read
// into the start of the samples' own block and widened in place from the
// end: sample i is written at bytes 2i and 2i + 1, never before its own
// bytes are read, so the picture needs no second block.
bool read_ppm(FILE* file, FrameImage& image, std::string& error) {
  long width = 0, height = 0, maxval = 0;
  if (std::fgetc(file) != 'P' || std::fgetc(file) != '6') {
    error = "not a binary PPM (P6) file";
    return false;
  }
  if (!ppm_number(file, width) || !ppm_number(file, height) || !ppm_number(file, maxval) || maxval < 1 ||
      maxval > 65535) {
    error = "bad PPM header";
    return false;
  }
  if (!read_size_ok("PPM", width, height, error)) return false;
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  image.maxval = static_cast<int>(maxval);
  image.found = ImageFileFound();
  int depth = 1;
  while (maxval >> depth) ++depth;
  image.found.depth = depth;
  if (!frame_image_allocate(image, error)) return false;
  const bool wide = maxval > 255;
  const size_t count = image.samples.size();
  unsigned char* raw = reinterpret_cast<unsigned char*>(image.samples.data());
  if (std::fread(raw, wide ? 2 : 1, count, file) != count) {
    error = "PPM file ends before its last pixel";
    return false;
  }
  bool above = false;
  for (size_t i = count; i-- > 0;) {
    const unsigned v = wide ? (raw[2 * i] << 8 | raw[2 * i + 1]) : raw[i];
    above = above || v > static_cast<unsigned>(maxval);
    image.samples[i] = static_cast<uint16_t>(v);
  }
  if (above) error = "PPM sample above its maxval";
  return !above;
}

// A working row of the writers; small beside the picture, but still asked
// for without throwing.
bool row_buffer(StandinArray<unsigned char>& row, size_t bytes, std::string& error) {
  if (row.Allocate(bytes)) return true;
  error = "not enough memory for a row of " + std::to_string(bytes) + " bytes";
  return false;
}

bool write_ppm(FILE* file, const FrameImage& image, std::string& error) {
  const bool wide = image.maxval > 255;
  const size_t count = static_cast<size_t>(image.width) * 3;
  StandinArray<unsigned char> row;
  if (!row_buffer(row, count * (wide ? 2 : 1), error)) return false;
  if (std::fprintf(file, "P6\n%d %d\n%d\n", image.width, image.height, image.maxval) < 0)
    return false;
  for (int y = 0; y < image.height; ++y) {
    const uint16_t* in = image.samples.data() + static_cast<size_t>(y) * count;
    unsigned char* out = row.data();
    for (size_t i = 0; i < count; ++i) {
      if (wide) *out++ = static_cast<unsigned char>(in[i] >> 8);
      *out++ = static_cast<unsigned char>(in[i] & 255);
    }
    if (std::fwrite(row.data(), 1, row.size(), file) != row.size()) return false;
  }
  return true;
}

// --- PNG ----------------------------------------------------------------

// libpng reports errors through this function, which must not return: it
// jumps back to the setjmp of the call in progress. The functions that set
// the jump point keep only plain data in their own frame.
struct PngErrors {
  jmp_buf jump;
  char message[200];
};

void png_failed(png_structp png, png_const_charp message) {
  PngErrors* errors = static_cast<PngErrors*>(png_get_error_ptr(png));
  std::snprintf(errors->message, sizeof errors->message, "%s", message);
  std::longjmp(errors->jump, 1);
}

void png_warned(png_structp, png_const_charp) {}

// Reads the picture as 8- or 16-bit RGB rows straight into the samples'
// block (16-bit samples swapped to the machine's order); an 8-bit row fills
// the first half of its place and is widened in place from its end. The
// image and the reason for refusing a picture too large live in the
// caller's frame, beyond the jump.
bool png_read_rows(FILE* file, FrameImage& image, int& depth, PngErrors& errors, std::string& refusal) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors, png_failed, png_warned);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    std::snprintf(errors.message, sizeof errors.message, "out of memory");
    return false;
  }
  png_bytep* volatile rows = nullptr;
  if (setjmp(errors.jump)) {
    std::free(rows);
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_init_io(png, file);
  png_read_info(png, info);
  if (!read_size_ok("PNG", png_get_image_width(png, info), png_get_image_height(png, info), refusal))
    png_error(png, "");
  image.width = static_cast<int>(png_get_image_width(png, info));
  image.height = static_cast<int>(png_get_image_height(png, info));
  image.found = ImageFileFound();
  // A palette's entries are 8-bit colours, whatever the bits of an index.
  const int colour_type = png_get_color_type(png, info);
  image.found.depth = colour_type == PNG_COLOR_TYPE_PALETTE ? 8 : png_get_bit_depth(png, info);
  if (!(colour_type & PNG_COLOR_MASK_COLOR)) image.found.colours = ImageFileFound::grey;
  // Every colour type arrives as 8- or 16-bit RGB without alpha.
  png_set_expand(png);
  png_set_gray_to_rgb(png);
  png_set_strip_alpha(png);
  png_set_swap(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  depth = png_get_bit_depth(png, info);
  const size_t count = static_cast<size_t>(image.width) * 3;
  if (png_get_channels(png, info) != 3 || png_get_rowbytes(png, info) != count * (depth / 8))
    png_error(png, "unexpected PNG layout");
  if (!frame_image_allocate(image, refusal)) png_error(png, "");
  rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * static_cast<size_t>(image.height)));
  if (!rows) png_error(png, "out of memory");
  for (int y = 0; y < image.height; ++y)
    rows[y] = reinterpret_cast<png_bytep>(image.samples.data() + count * static_cast<size_t>(y));
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  for (int y = 0; depth == 8 && y < image.height; ++y) {
    uint16_t* row = image.samples.data() + count * static_cast<size_t>(y);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(row);
    for (size_t i = count; i-- > 0;) row[i] = bytes[i];
  }
  std::free(rows);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

bool read_png(FILE* file, FrameImage& image, std::string& error) {
  unsigned char signature[8];
  if (std::fread(signature, 1, 8, file) != 8 || png_sig_cmp(signature, 0, 8) != 0) {
    error = "not a PNG file";
    return false;
  }
  std::rewind(file);
  PngErrors errors{};
  int depth = 8;
  std::string refusal;
  if (!png_read_rows(file, image, depth, errors, refusal)) {
    error = refusal.empty() ? std::string("bad PNG file: ") + errors.message : refusal;
    return false;
  }
  image.maxval = depth == 16 ? 65535 : 255;
  return true;
}

// Row by row through `row` (big-endian samples, RGB or RGBA with a solid
// matte), which lives in the caller's frame.
bool png_write_rows(FILE* file, const FrameImage& image, int depth, unsigned char* row, PngErrors& errors) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &errors, png_failed, png_warned);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    std::snprintf(errors.message, sizeof errors.message, "out of memory");
    return false;
  }
  if (setjmp(errors.jump)) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  // zlib's run-length strategy over libpng's adaptive row filters: on a
  // 1920x1080 photographic frame a tenth of the default's time (0.1 s
  // against 1.0 s) for a file no larger than pnmtopng's (frame_write_bench).
  png_set_compression_strategy(png, Z_RLE);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height),
               depth, image.matte ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const unsigned to = depth == 16 ? 65535 : 255;
  const size_t count = static_cast<size_t>(image.width) * 3;
  for (int y = 0; y < image.height; ++y) {
    const uint16_t* in = image.samples.data() + count * static_cast<size_t>(y);
    unsigned char* out = row;
    for (size_t i = 0; i < count; ++i) {
      const unsigned v = rescale_sample(in[i], static_cast<unsigned>(image.maxval), to);
      if (depth == 16) *out++ = static_cast<unsigned char>(v >> 8);
      *out++ = static_cast<unsigned char>(v & 255);
      if (image.matte && i % 3 == 2)
        for (int byte = 0; byte < depth / 8; ++byte) *out++ = 255;
    }
    png_write_row(png, row);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

bool write_png(FILE* file, const FrameImage& image, std::string& error) {
  const int depth = image.maxval > 255 ? 16 : 8;
  StandinArray<unsigned char> row;
  if (!row_buffer(row, static_cast<size_t>(image.width) * (image.matte ? 4 : 3) * (depth / 8), error))
    return false;
  PngErrors errors{};
  if (!png_write_rows(file, image, depth, row.data(), errors)) {
    error = std::string("cannot encode PNG: ") + errors.message;
    return false;
  }
  return true;
}

// --- the table ----------------------------------------------------------

struct Format {
  const char* extension;
  bool (*read)(FILE*, FrameImage&, std::string&);
  bool (*write)(FILE*, const FrameImage&, std::string&);
};

const Format formats[] = {
    {".ppm", read_ppm, write_ppm},
    {".png", read_png, write_png},
};

std::string extension_of(const std::string& path) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string extension = path.substr(dot);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

// Null for the image-file library's formats and for unknown ones.
const Format* format_of(const std::string& path) {
  const std::string extension = extension_of(path);
  for (const Format& format : formats)
    if (extension == format.extension) return &format;
  return nullptr;
}

}  // namespace

bool image_file_known(const std::string& path) {
  return format_of(path) != nullptr || library_format_known(path);
}

bool image_file_read(const std::string& path, FrameImage& image, std::string& error) {
  if (!image_file_known(path)) {
    error = path + ": unknown image file extension";
    return false;
  }
  // Each file is opened once, by its reader: the library opens its files
  // itself, and one missing or unreadable has the system's reason either way.
  std::string reason;
  bool ok = false;
  if (const Format* format = format_of(path)) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) reason = system_reason();
    ok = file && format->read(file, image, reason);
    if (file) std::fclose(file);
  } else if (access(path.c_str(), R_OK) != 0) {
    reason = system_reason();
  } else {
    ok = library_read(path, image, reason);
  }
  if (!ok) error = path + ": " + reason;
  return ok;
}

namespace {

// The frame file's folder (with its slash, "" for none) and name.
void split_path(const std::string& path, std::string& folder, std::string& name) {
  const size_t slash = path.rfind('/');
  folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// The temporaries of the frames being written, a slot for each write in
// flight on any thread, for a signal that ends the program mid-write. A
// slot's path is whole before its state names the kind. The handler claims
// every slot it passes (ended), so no temporary is begun after it.
enum SlotState { slot_free, slot_making, slot_making_signalled, slot_file, slot_folder, slot_ended };
struct TemporarySlot {
  std::atomic<int> state{slot_free};
  char path[PATH_MAX];
};
TemporarySlot slots[64];
std::atomic<int> ending_signal{0};

// Async-signal-safe: no allocation, the folder read through its descriptor.
// "." and ".." refuse to be unlinked.
void remove_temporary_folder(const char* path) {
  const int folder = open(path, O_RDONLY | O_DIRECTORY);
  alignas(dirent64) char entries[4096];
  ssize_t size;
  while (folder >= 0 && (size = getdents64(folder, entries, sizeof entries)) > 0)
    for (ssize_t at = 0; at < size; at += reinterpret_cast<const dirent64*>(entries + at)->d_reclen)
      unlinkat(folder, reinterpret_cast<const dirent64*>(entries + at)->d_name, 0);
  if (folder >= 0) close(folder);
  rmdir(path);
}

// A thread whose temporary a signal has taken waits for the program's end,
// which the signal's handler, or the thread it left to end it, brings.
[[noreturn]] void wait_for_the_end() {
  for (;;) pause();
}

// One write's temporary, known to the signal handler from before it is made
// until it is renamed or removed.
class Temporary {
 public:
  Temporary() = default;
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  ~Temporary() {
    int state = kind_;
    if (slot_ && !slot_->state.compare_exchange_strong(state, slot_free) && state == slot_ended)
      wait_for_the_end();
  }

  // Makes the temporary through `make` (mkstemps, mkdtemp), which turns the
  // X's of `path` into its name, and records it as `kind`. A signal that
  // came while it was being made found no name to remove: it ends the
  // program now.
  template <typename Maker>
  bool Make(std::string& path, SlotState kind, Maker make) {
    TemporarySlot* slot = Take();
    const bool made = make(&path[0]);
    const bool recorded = made && path.size() < sizeof slot->path;
    if (recorded) {
      std::memcpy(slot->path, path.c_str(), path.size() + 1);
      slot_ = slot;
      kind_ = kind;
    }
    if (slot->state.exchange(recorded ? kind : slot_free) == slot_making_signalled) {
      image_file_end_by_signal(ending_signal);
      wait_for_the_end();
    }
    return made;
  }

 private:
  static TemporarySlot* Take() {
    for (;;) {
      for (TemporarySlot& slot : slots) {
        int state = slot_free;
        if (slot.state.compare_exchange_strong(state, slot_making)) return &slot;
      }
      if (ending_signal) wait_for_the_end();
      sched_yield();
    }
  }

  TemporarySlot* slot_ = nullptr;
  int kind_ = slot_free;
};

// A frame as readable as any new file: mkstemps and mkdtemp make theirs
// private.
void make_public(const std::string& path, mode_t bits) {
  const mode_t mask = umask(0);
  umask(mask);
  chmod(path.c_str(), bits & ~mask);
}

// Our own formats: a temporary file beside the frame, renamed over it when
// whole. The temporary lies in the same folder, so the rename cannot cross
// file systems; its leading dot keeps it out of sequence listings, and it
// keeps the extension, which names the format.
bool write_own_format(const Format& format, const std::string& path, const FrameImage& image,
                      const std::function<bool()>& commit, std::string& reason) {
  std::string folder, name;
  split_path(path, folder, name);
  const std::string extension = name.substr(name.size() - extension_of(path).size());
  std::string temporary = folder + "." + name + ".XXXXXX" + extension;
  Temporary record;
  int fd = -1;
  record.Make(temporary, slot_file, [&](char* pattern) {
    return (fd = mkstemps(pattern, static_cast<int>(extension.size()))) >= 0;
  });
  FILE* file = fd < 0 ? nullptr : fdopen(fd, "wb");
  if (!file) {
    reason = system_reason();
    if (fd >= 0) close(fd);
    if (fd >= 0) unlink(temporary.c_str());
    return false;
  }
  make_public(temporary, 0666);
  bool ok = format.write(file, image, reason);
  // A write the stream refused has the system's reason (a full disk, a
  // file size limit); the writers' own reasons are about the picture.
  if (!ok && std::ferror(file)) reason = system_reason();
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    reason = system_reason();
  }
  if (ok && commit && !commit()) {
    ok = false;
    reason = "not committed";
  }
  if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
    ok = false;
    reason = system_reason();
  }
  if (!ok) unlink(temporary.c_str());
  return ok;
}

// The library's formats: the frame is written under its own name inside a
// temporary folder beside it, since some formats write companion files
// named after it (a descriptor beside a dump). Companions move out first
// and the frame last, so a listing never shows a frame without them.
bool write_library_format(const std::string& path, const FrameImage& image, const std::function<bool()>& commit,
                          std::string& reason) {
  std::string folder, name;
  split_path(path, folder, name);
  std::string temporary = folder + "." + name + ".XXXXXX";
  Temporary record;
  if (!record.Make(temporary, slot_folder, [](char* pattern) { return mkdtemp(pattern) != nullptr; })) {
    reason = system_reason();
    return false;
  }
  bool ok = library_write(temporary + "/" + name, image, reason);
  std::vector<std::string> entries;
  if (DIR* dir = opendir(temporary.c_str())) {
    while (const dirent* entry = readdir(dir))
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0 && entry->d_name != name)
        entries.push_back(entry->d_name);
    closedir(dir);
  }
  entries.push_back(name);
  if (ok && commit && !commit()) {
    ok = false;
    reason = "not committed";
  }
  for (const std::string& entry : entries) {
    const std::string from = temporary + "/" + entry;
    if (ok) make_public(from, 0666);
    if (ok && std::rename(from.c_str(), (folder + entry).c_str()) != 0) {
      ok = false;
      reason = system_reason();
    }
    if (!ok) unlink(from.c_str());
  }
  rmdir(temporary.c_str());
  return ok;
}

}  // namespace

// Every slot is claimed in one pass; one still being made is left to its
// maker, which ends the program once the name is known.
void image_file_end_by_signal(int signal) {
  ending_signal = signal;
  bool deferred = false;
  for (TemporarySlot& slot : slots) {
    int state = slot.state.load();
    for (;;) {
      if (state == slot_making || state == slot_making_signalled) {
        if (!slot.state.compare_exchange_weak(state, slot_making_signalled)) continue;
        deferred = true;
      } else {
        if (!slot.state.compare_exchange_weak(state, slot_ended)) continue;
        if (state == slot_file) unlink(slot.path);
        if (state == slot_folder) remove_temporary_folder(slot.path);
      }
      break;
    }
  }
  if (deferred) return;
  std::signal(signal, SIG_DFL);
  // The caller may be a thread that holds the signal blocked.
  sigset_t own;
  sigemptyset(&own);
  sigaddset(&own, signal);
  pthread_sigmask(SIG_UNBLOCK, &own, nullptr);
  raise(signal);
}

bool image_file_write(const std::string& path, const FrameImage& image, std::string& error) {
  return image_file_write(path, image, error, nullptr);
}

bool image_file_write(const std::string& path, const FrameImage& image, std::string& error,
                      const std::function<bool()>& commit) {
  if (!image_file_known(path)) {
    error = path + ": unknown image file extension";
    return false;
  }
  if (!size_ok(image.width, image.height) || image.maxval < 1 || image.maxval > 65535 ||
      image.samples.size() != sample_count(image)) {
    error = path + ": not a whole image";
    return false;
  }
  std::string reason;
  const Format* format = format_of(path);
  const bool ok = format ? write_own_format(*format, path, image, commit, reason)
                         : write_library_format(path, image, commit, reason);
  if (!ok) error = path + ": " + reason;
  return ok;
}
