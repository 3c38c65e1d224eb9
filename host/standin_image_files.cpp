// PPM and PNG frame files behind one table of extensions, and every format
// of the image-file library through its front end.
#include "standin_image_files.h"

#include <png.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image_data.h"
#include "imagelib_fileio.h"

namespace {

// Frames larger than this on a side are refused before any allocation.
const int max_side = 1 << 16;

std::string system_reason() { return std::strerror(errno); }

bool size_ok(int width, int height) {
  return width > 0 && height > 0 && width <= max_side && height <= max_side;
}

size_t sample_count(const FrameImage& image) {
  return static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 3;
}

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

bool read_ppm(FILE* file, FrameImage& image, std::string& error) {
  long width = 0, height = 0, maxval = 0;
  if (std::fgetc(file) != 'P' || std::fgetc(file) != '6') {
    error = "not a binary PPM (P6) file";
    return false;
  }
  if (!ppm_number(file, width) || !ppm_number(file, height) || !ppm_number(file, maxval) ||
      !size_ok(static_cast<int>(width), static_cast<int>(height)) || maxval < 1 || maxval > 65535) {
    error = "bad PPM header";
    return false;
  }
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  image.maxval = static_cast<int>(maxval);
  const size_t bytes = maxval > 255 ? 2 : 1;
  std::vector<unsigned char> raw(sample_count(image) * bytes);
  if (std::fread(raw.data(), 1, raw.size(), file) != raw.size()) {
    error = "PPM file ends before its last pixel";
    return false;
  }
  image.samples.resize(sample_count(image));
  for (size_t i = 0; i < image.samples.size(); ++i) {
    const unsigned v = bytes == 2 ? (raw[2 * i] << 8 | raw[2 * i + 1]) : raw[i];
    if (v > static_cast<unsigned>(maxval)) {
      error = "PPM sample above its maxval";
      return false;
    }
    image.samples[i] = static_cast<uint16_t>(v);
  }
  return true;
}

bool write_ppm(FILE* file, const FrameImage& image, std::string&) {
  if (std::fprintf(file, "P6\n%d %d\n%d\n", image.width, image.height, image.maxval) < 0)
    return false;
  const bool wide = image.maxval > 255;
  std::vector<unsigned char> raw;
  raw.reserve(image.samples.size() * (wide ? 2 : 1));
  for (uint16_t v : image.samples) {
    if (wide) raw.push_back(static_cast<unsigned char>(v >> 8));
    raw.push_back(static_cast<unsigned char>(v & 255));
  }
  return std::fwrite(raw.data(), 1, raw.size(), file) == raw.size();
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

// Reads into raw (rows of 3 samples a pixel, 1 or 2 big-endian bytes each);
// the vector lives in the caller's frame, beyond the jump.
bool png_read_raw(FILE* file, std::vector<unsigned char>& raw, int& width, int& height, int& depth,
                  PngErrors& errors) {
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
  width = static_cast<int>(png_get_image_width(png, info));
  height = static_cast<int>(png_get_image_height(png, info));
  if (!size_ok(width, height)) png_error(png, "image too large");
  // Every colour type arrives as 8- or 16-bit RGB without alpha.
  png_set_expand(png);
  png_set_gray_to_rgb(png);
  png_set_strip_alpha(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  depth = png_get_bit_depth(png, info);
  const size_t row_bytes = png_get_rowbytes(png, info);
  if (png_get_channels(png, info) != 3 || row_bytes != static_cast<size_t>(width) * 3 * (depth / 8))
    png_error(png, "unexpected PNG layout");
  raw.resize(row_bytes * static_cast<size_t>(height));
  rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * static_cast<size_t>(height)));
  if (!rows) png_error(png, "out of memory");
  for (int y = 0; y < height; ++y) rows[y] = raw.data() + row_bytes * static_cast<size_t>(y);
  png_read_image(png, rows);
  png_read_end(png, nullptr);
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
  std::vector<unsigned char> raw;
  PngErrors errors{};
  int depth = 8;
  if (!png_read_raw(file, raw, image.width, image.height, depth, errors)) {
    error = std::string("bad PNG file: ") + errors.message;
    return false;
  }
  image.maxval = depth == 16 ? 65535 : 255;
  image.samples.resize(sample_count(image));
  for (size_t i = 0; i < image.samples.size(); ++i)
    image.samples[i] = static_cast<uint16_t>(depth == 16 ? (raw[2 * i] << 8 | raw[2 * i + 1]) : raw[i]);
  return true;
}

bool png_write_raw(FILE* file, const std::vector<unsigned char>& raw, int width, int height,
                   int depth, PngErrors& errors) {
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
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), depth,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const size_t row_bytes = static_cast<size_t>(width) * 3 * (depth / 8);
  for (int y = 0; y < height; ++y)
    png_write_row(png, raw.data() + row_bytes * static_cast<size_t>(y));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

bool write_png(FILE* file, const FrameImage& image, std::string& error) {
  const bool wide = image.maxval > 255;
  const unsigned to = wide ? 65535 : 255;
  std::vector<unsigned char> raw;
  raw.reserve(image.samples.size() * (wide ? 2 : 1));
  for (uint16_t s : image.samples) {
    const unsigned v = rescale_sample(s, static_cast<unsigned>(image.maxval), to);
    if (wide) raw.push_back(static_cast<unsigned char>(v >> 8));
    raw.push_back(static_cast<unsigned char>(v & 255));
  }
  PngErrors errors{};
  if (!png_write_raw(file, raw, image.width, image.height, wide ? 16 : 8, errors)) {
    error = std::string("cannot encode PNG: ") + errors.message;
    return false;
  }
  return true;
}

// --- formats of the image-file library -----------------------------------

// Every other extension the image-file library knows, read and written
// through its front end as image_data (rows bottom first, any type).
bool library_knows(const std::string& extension) {
  for (int i = 0; i < image_io_number_of_formats(); ++i)
    if (extension == image_io_get_format_extension(i)) return true;
  return false;
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

bool read_library(const std::string& path, FrameImage& frame, std::string& error) {
  image_data* image = read_image_sequence_file(path.c_str(), -1, nullptr);
  if (!image) {
    error = "cannot read the image file";
    return false;
  }
  frame.width = image->width;
  frame.height = image->height;
  frame.maxval = image->pixel_type == 0 ? 255 : 65535;
  frame.samples.resize(sample_count(frame));
  // One channel is grey, two grey and alpha; the first three are R, G, B.
  const int c = image->channels;
  const int g = c >= 3 ? 1 : 0, b = c >= 3 ? 2 : 0;
  for (int y = 0; y < frame.height; ++y) {
    const unsigned char* row = image_row(image, frame.height - 1 - y);
    uint16_t* out = frame.samples.data() + static_cast<size_t>(y) * frame.width * 3;
    for (int x = 0; x < frame.width; ++x, out += 3) {
      const unsigned v[3] = {library_sample(image, row, x * c), library_sample(image, row, x * c + g),
                             library_sample(image, row, x * c + b)};
      for (int k = 0; k < 3; ++k)
        out[k] = static_cast<uint16_t>(frame.maxval == 255 ? rescale_sample(v[k], 65535, 255) : v[k]);
    }
  }
  image_data_delete(image);
  return true;
}

bool write_library(const std::string& path, const FrameImage& frame, std::string& error) {
  const bool wide = frame.maxval > 255;
  image_data* image = image_data_create(frame.width, frame.height, 3, wide ? 1 : 0, 1);
  if (!image) {
    error = "out of memory";
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
  if (!ok) error = "cannot write the image file";
  return ok;
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
  return format_of(path) != nullptr || library_knows(extension_of(path));
}

bool image_file_read(const std::string& path, FrameImage& image, std::string& error) {
  if (!image_file_known(path)) {
    error = path + ": unknown image file extension";
    return false;
  }
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    error = path + ": " + system_reason();
    return false;
  }
  std::string reason;
  const Format* format = format_of(path);
  bool ok;
  if (format) {
    ok = format->read(file, image, reason);
    std::fclose(file);
  } else {
    std::fclose(file);
    ok = read_library(path, image, reason);
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
                      std::string& reason) {
  std::string folder, name;
  split_path(path, folder, name);
  const std::string extension = name.substr(name.size() - extension_of(path).size());
  std::string temporary = folder + "." + name + ".XXXXXX" + extension;
  const int fd = mkstemps(&temporary[0], static_cast<int>(extension.size()));
  FILE* file = fd < 0 ? nullptr : fdopen(fd, "wb");
  if (!file) {
    reason = system_reason();
    if (fd >= 0) close(fd);
    if (fd >= 0) unlink(temporary.c_str());
    return false;
  }
  make_public(temporary, 0666);
  bool ok = format.write(file, image, reason);
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    reason = system_reason();
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
bool write_library_format(const std::string& path, const FrameImage& image, std::string& reason) {
  std::string folder, name;
  split_path(path, folder, name);
  std::string temporary = folder + "." + name + ".XXXXXX";
  if (!mkdtemp(&temporary[0])) {
    reason = system_reason();
    return false;
  }
  bool ok = write_library(temporary + "/" + name, image, reason);
  if (!ok && reason.empty()) reason = system_reason();
  std::vector<std::string> entries;
  if (DIR* dir = opendir(temporary.c_str())) {
    while (const dirent* entry = readdir(dir))
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0 && entry->d_name != name)
        entries.push_back(entry->d_name);
    closedir(dir);
  }
  entries.push_back(name);
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

bool image_file_write(const std::string& path, const FrameImage& image, std::string& error) {
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
  const bool ok = format ? write_own_format(*format, path, image, reason) : write_library_format(path, image, reason);
  if (!ok) error = path + ": " + reason;
  return ok;
}
