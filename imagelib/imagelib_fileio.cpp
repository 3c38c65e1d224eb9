#include "imagelib_fileio.h"

#include <strings.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "image_convert.h"
#include "imagelib_tif.h"
#include "imgio.h"
#include "imgio_dpx.h"
#include "imgio_jpeg.h"
#include "imgio_tiff.h"
#include "q4_filename.h"
#include "q4_memory.h"

// An 8-bit line's 32-bit pixels (R in the low byte) are read and written as
// four bytes R, G, B, A, the layout of a 4-channel byte image.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "8-bit lines are taken byte by byte");

namespace {

const int kFormats = 14;
const int kOwnTiff = 13;
const int kTiff = 7;
const int kTarga = 6;
const int kJpeg = 12;
const char* const names[kFormats] = {"pixar", "rla",     "alias", "sgirgb", "sgisgi",    "vertigo", "targa2",
                                     "tiff",  "sun",     "art24", "symbolics", "gif",    "jpeg",    "tq4"};
const char* const exts[kFormats] = {".pxr", ".rla", ".als", ".rgb",  ".sgi", ".pic", ".tga",
                                    ".tif", ".ras", ".r",   ".dump", ".gif", ".jpg", ".tq4"};
// 1: the first file line is the image's top row.
const int invy[kFormats] = {1, 0, 1, 0, 0, 0, 0, 1, 1, 0, 0, 0, 1, 0};

// Beyond the table: a format of the image-file library that gives its files
// no extension of its own (the Cineon driver's "cin" leaves it to the
// caller) is reached by the extension that is its name. The library's
// other formats name their files themselves, and the table alone says what
// their extensions mean: ".pic" is Vertigo's, and ".yuv" stays out of reach,
// since a YUV frame's size is a setting rather than part of its file.
const int kNamed = kFormats;

// -1 for a path without an extension, kNamed for one the table lacks (the
// library may know it by name).
int format_index(const char* path) {
  const char* dot = strrchr(path, '.');
  if (!dot) return -1;
  for (int i = 0; i < kFormats; ++i)
    if (strcasecmp(dot, exts[i]) == 0) return i;
  return kNamed;
}

// The library's name of the format beyond the table that ext names, case
// ignored, or null; the library's table must be set up.
const char* named_format(const char* ext) {
  for (int i = 1; i < IMGIO_FORMATS; ++i) {
    const imgformat& f = imgsystem.formats[i];
    if (f.name && f.ext && !*f.ext && strcasecmp(f.name, ext) == 0) return f.name;
  }
  return nullptr;
}

// Lines of 16 bits: for the table's formats when the file (read) or the
// image (write) is deeper than 8 bits; always beyond the table, whose
// drivers keep depths of their own that 8-bit lines would not reach in
// full (a Cineon file holds 10 bits, and an 8-bit 255 would become 1020).
bool deep_lines(int index, bool deep) { return deep || index == kNamed; }

bool usable(const image_data* image) {
  return image && image->pixels && image_sample_bytes(image->pixel_type) != 0;
}

// One use of the image-file library in a format of the table: initimg at
// the start, finishimg at the end, whatever happens between.
class ImgioUse {
 public:
  ImgioUse(int index, const char* path, bool write, bool compress) {
    initimg();
    if (write && index == kTiff) {
      setkeyval("IMGIO_TIFF_COMPRESS", compress ? "lzw" : "none");
      setkeyval("IMGIO_TIFF_ORIENT", "topleft");
    }
    if (write && index == kTarga) setkeyval("IMGIO_TARGA_COMPRESS", compress ? "yes" : "no");
    // The library names files with its own extension; the path's may differ
    // in case ("shot.TGA"), and the file meant is the one the path names.
    const char* ext = strrchr(path, '.') + 1;
    const char* name = index == kNamed ? named_format(ext) : names[index];
    imgextoverride(name, ext);
    ok = name && setimageformat(name) == 0;
  }
  ~ImgioUse() { finishimg(); }
  ImgioUse(const ImgioUse&) = delete;
  ImgioUse& operator=(const ImgioUse&) = delete;

  bool ok;
};

// Whether file line 0 is the image's top row. A TIFF file says which way it
// runs (its Orientation), and its driver tells the handle, as the drivers
// beyond the table do; the table's flag holds for the other formats.
bool top_first(const imginfo* h, int index) {
  return index == kTiff || index == kNamed ? h->line_order == IMGIO_TOP_FIRST : invy[index] != 0;
}

int image_row_of(bool top, int line, int height) { return top ? height - 1 - line : line; }

// Line samples (four a pixel) into an image row: channels 0-3 where the
// image has them, channel 3 again into every further channel.
template <typename L, typename S, typename Convert>
void line_to_row(const L* line, S* row, int width, int channels, Convert convert) {
  for (int x = 0; x < width; ++x, line += 4)
    for (int c = 0; c < channels; ++c) *row++ = convert(line[std::min(c, 3)]);
}

// An image row into line samples: line channel c takes image channel c, or
// the image's last channel where it has fewer.
template <typename S, typename L, typename Convert>
void row_to_line(const S* row, L* line, int width, int channels, Convert convert) {
  for (int x = 0; x < width; ++x, row += channels)
    for (int c = 0; c < 4; ++c) *line++ = convert(row[std::min(c, channels - 1)]);
}

void store_line(const void* line, bool deep, image_data* image, int y) {
  unsigned char* row = image_row(image, y);
  const int w = image->width;
  const int n = image->channels;
  if (deep) {
    const uint16_t* l = static_cast<const uint16_t*>(line);
    switch (image->pixel_type) {
      case IMAGE_PIXEL_BYTE:
        line_to_row(l, row, w, n, [](uint16_t v) { return static_cast<uint8_t>(v >> 8); });
        break;
      case IMAGE_PIXEL_WORD:
        line_to_row(l, reinterpret_cast<uint16_t*>(row), w, n, [](uint16_t v) { return v; });
        break;
      case IMAGE_PIXEL_WORD32:
        line_to_row(l, reinterpret_cast<uint32_t*>(row), w, n, [](uint16_t v) { return uint32_t(v) << 16 | v; });
        break;
      default:
        line_to_row(l, reinterpret_cast<float*>(row), w, n, [](uint16_t v) { return v * 1.5259022e-5f; });
        break;
    }
    return;
  }
  const uint8_t* l = static_cast<const uint8_t*>(line);
  switch (image->pixel_type) {
    case IMAGE_PIXEL_BYTE:
      line_to_row(l, row, w, n, [](uint8_t v) { return v; });
      break;
    case IMAGE_PIXEL_WORD:
      line_to_row(l, reinterpret_cast<uint16_t*>(row), w, n, [](uint8_t v) { return static_cast<uint16_t>(v << 8 | v); });
      break;
    case IMAGE_PIXEL_WORD32:
      line_to_row(l, reinterpret_cast<uint32_t*>(row), w, n, [](uint8_t v) { return v * 16843009u; });
      break;
    default:
      line_to_row(l, reinterpret_cast<float*>(row), w, n, [](uint8_t v) { return v * 0.003921569f; });
      break;
  }
}

void load_line(const image_data* image, int y, bool deep, void* line) {
  const unsigned char* row = image_row(image, y);
  const int w = image->width;
  const int n = image->channels;
  if (!deep) {
    row_to_line(row, static_cast<uint8_t*>(line), w, n, [](uint8_t v) { return v; });
    return;
  }
  uint16_t* l = static_cast<uint16_t*>(line);
  switch (image->pixel_type) {
    case IMAGE_PIXEL_BYTE:
      row_to_line(row, l, w, n, [](uint8_t v) { return static_cast<uint16_t>(v << 8 | v); });
      break;
    case IMAGE_PIXEL_WORD:
      row_to_line(reinterpret_cast<const uint16_t*>(row), l, w, n, [](uint16_t v) { return v; });
      break;
    case IMAGE_PIXEL_WORD32:
      row_to_line(reinterpret_cast<const uint32_t*>(row), l, w, n,
                  [](uint32_t v) { return static_cast<uint16_t>(v >> 16); });
      break;
    default:
      // Out-of-range values and NaN clamp to the nearer end (NaN to 0).
      row_to_line(reinterpret_cast<const float*>(row), l, w, n, [](float v) {
        const float clamped = v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f;
        return static_cast<uint16_t>(clamped * 65535.0f);
      });
      break;
  }
}

// Every row of the image to (Write) or from an open handle, one file line at
// a time in the handle's row order, in lines of 16 bits when deep: in place
// when the rows are already such lines (four channels of that depth), else
// through one line buffer converted row by row.
template <bool Write>
bool move_lines(imginfo* h, image_data* image, int index, bool deep) {
  const bool direct = image->channels == 4 && image->pixel_type == (deep ? IMAGE_PIXEL_WORD : IMAGE_PIXEL_BYTE);
  const bool top = top_first(h, index);
  const int height = image->height;
  auto move = [&](void* line) {
    unsigned short* words = static_cast<unsigned short*>(line);
    unsigned int* pixels = static_cast<unsigned int*>(line);
    if (Write) return (deep ? writeline16(h, words) : writeline(h, pixels)) == 0;
    return (deep ? readline16(h, words) : readline(h, pixels)) == 0;
  };
  if (direct) {
    for (int i = 0; i < height; ++i)
      if (!move(image_row(image, image_row_of(top, i, height)))) return false;
    return true;
  }
  void* line = q4_malloc(static_cast<unsigned>(image->width) * 4 * (deep ? 2 : 1), __FILE__, __LINE__);
  bool ok = line != nullptr;
  for (int i = 0; ok && i < height; ++i) {
    const int y = image_row_of(top, i, height);
    if (Write) load_line(image, y, deep, line);
    ok = move(line);
    if (!Write && ok) store_line(line, deep, image, y);
  }
  if (line) q4_free(line, __FILE__, __LINE__);
  return ok;
}

// What the handle's driver tells of its file beyond its lines: the depth
// of a Cineon file, the CMYK of a TIFF or JPEG file.
void describe(imginfo* h, image_file_found& found) {
  found.bits = h->bits16 ? 16 : 8;
  const int cineon_bits = h->format == imgfindformat("cin") ? DpxGetBits(h) : 0;
  if (cineon_bits > 0) found.bits = cineon_bits;
  const bool jpeg_cmyk = JpegGetCsp(h) == 2;
  if (jpeg_cmyk || TiffGetCsp(h) == 2) found.colours = IMAGE_FILE_CMYK;
  found.inverted = jpeg_cmyk;
}

// A ".tq4" file open for reading with its header read: size holds width,
// height, channels and type when ok. Closed with its header at the end of
// the scope.
struct OwnTiffReader {
  FILE* file;
  void* info = nullptr;
  int size[4] = {0, 0, 0, 0};
  bool ok = false;
  explicit OwnTiffReader(const char* path) : file(fopen(path, "rb")) {
    ok = file && image_tiff_read_header(file, size[0], size[1], size[2], size[3], &info);
  }
  ~OwnTiffReader() {
    image_tiff_free_info(&info);
    if (file) fclose(file);
  }
  OwnTiffReader(const OwnTiffReader&) = delete;
  OwnTiffReader& operator=(const OwnTiffReader&) = delete;
};

bool write_own_tiff(const char* path, image_data* image) {
  FILE* file = fopen(path, "wb+");
  if (!file) return false;
  void* info = nullptr;
  bool ok = image_tiff_write_header(file, image->width, image->height, image->channels,
                                    image->pixel_type, &info) &&
            image_tiff_write_data(image, &info);
  image_tiff_free_info(&info);
  // Buffered bytes reach the disk only here: a full disk shows at fclose.
  ok = fclose(file) == 0 && ok;
  return ok;
}

// The file name of a sequence frame; false when path has no extension or the
// name would not fit.
bool sequence_name(const char* path, int frame, char* out) {
  // Room for a frame number longer than path's.
  if (!path || strlen(path) + 16 >= IMAGE_IO_NAME_SIZE) return false;
  if (frame < 0) {
    strcpy(out, path);
    return true;
  }
  char base[IMAGE_IO_NAME_SIZE], ext[IMAGE_IO_NAME_SIZE];
  const int digits = file_name_parse_image_file_name(path, base, ext, nullptr);
  if (digits < 0) return false;
  // The directory as the path gives it, with its slash: "/take_0042.tq4"
  // stays in the root folder.
  const char* slash = strrchr(path, '/');
  const size_t directory = slash ? static_cast<size_t>(slash - path) + 1 : 0;
  memcpy(out, path, directory);
  file_name_format_image_file_name(base, ext, frame, digits, out + directory);
  return true;
}

}  // namespace

int image_io_number_of_formats() { return kFormats; }

const char* image_io_get_format_extension(int index) {
  return exts[index >= 0 && index < kFormats ? index : 0];
}

bool image_io_format_known(const char* path) {
  const int index = path ? format_index(path) : -1;
  return index >= 0 && (index != kNamed || ImgioUse(index, path, false, false).ok);
}

int image_read_file_info(const char* path, int& width, int& height, int& channels, int& type) {
  width = height = channels = type = 0;
  const int index = path ? format_index(path) : -1;
  if (index < 0) return 0;
  if (index == kOwnTiff) {
    const OwnTiffReader own(path);
    if (!own.ok) return 0;
    width = own.size[0];
    height = own.size[1];
    channels = own.size[2];
    type = own.size[3];
    return 1;
  }
  ImgioUse use(index, path, false, false);
  imginfo* h = use.ok ? openimg(path) : nullptr;
  if (!h) return 0;
  width = h->file_width;
  height = h->file_height;
  channels = 4;
  type = deep_lines(index, h->bits16) ? IMAGE_PIXEL_WORD : IMAGE_PIXEL_BYTE;
  closeimg(h);
  return 1;
}

int image_read_file(const char* path, image_data* image) {
  const int index = path ? format_index(path) : -1;
  if (index < 0 || !usable(image)) return 0;
  if (index == kOwnTiff) {
    OwnTiffReader own(path);
    if (!own.ok) return 0;
    const bool same = own.size[0] == image->width && own.size[1] == image->height &&
                      own.size[2] == image->channels && own.size[3] == image->pixel_type;
    return same ? image_tiff_read_data(image, &own.info) : 0;
  }
  ImgioUse use(index, path, false, false);
  imginfo* h = use.ok ? openimg(path) : nullptr;
  if (!h) return 0;
  const bool ok = h->file_width == image->width && h->file_height == image->height &&
                  move_lines<false>(h, image, index, deep_lines(index, h->bits16));
  closeimg(h);
  return ok ? 1 : 0;
}

image_data* image_read_file(const char* path) {
  image_file_found found;
  return image_read_file_described(path, found);
}

image_data* image_read_file_described(const char* path, image_file_found& found) {
  found = {8, IMAGE_FILE_RGB, false};
  const int index = path ? format_index(path) : -1;
  if (index < 0) return nullptr;
  if (index == kOwnTiff) {
    OwnTiffReader own(path);
    if (!own.ok) return nullptr;
    image_data* image = image_data_create(own.size[0], own.size[1], own.size[2], own.size[3], 1);
    if (image && !image_tiff_read_data(image, &own.info)) {
      image_data_delete(image);
      image = nullptr;
    }
    found.bits = 8 * image_sample_bytes(own.size[3]);
    found.colours = own.size[2] < 3 ? IMAGE_FILE_GREY : IMAGE_FILE_RGB;
    return image;
  }
  ImgioUse use(index, path, false, false);
  imginfo* h = use.ok ? openimg(path) : nullptr;
  if (!h) return nullptr;
  const bool deep = deep_lines(index, h->bits16);
  describe(h, found);
  image_data* image = image_data_create(h->file_width, h->file_height, 4, deep ? IMAGE_PIXEL_WORD : IMAGE_PIXEL_BYTE, 1);
  if (image && !move_lines<false>(h, image, index, deep)) {
    image_data_delete(image);
    image = nullptr;
  }
  closeimg(h);
  return image;
}

bool image_write_file(const char* path, image_data* image, bool compress) {
  const int index = path ? format_index(path) : -1;
  if (index < 0 || !usable(image)) return false;
  if (index == kOwnTiff) return write_own_tiff(path, image);
  ImgioUse use(index, path, true, compress);
  const bool deep = deep_lines(index, image->pixel_type != IMAGE_PIXEL_BYTE);
  imginfo* h = use.ok ? createimg(path, image->width, image->height, deep ? 16 : 8) : nullptr;
  if (!h) return false;
  const bool written = move_lines<true>(h, image, index, deep);
  // Most drivers write or finish their file at close.
  const bool closed = closeimg(h) == 0;
  return written && closed;
}

bool write_float_image_as_byte(const char* path, image_data* image) {
  if (!usable(image)) return false;
  image_data* bytes = image_data_create(image->width, image->height, image->channels, IMAGE_PIXEL_BYTE, 1);
  if (!bytes) return false;
  const bool ok = image_convert(image, bytes, true, 1, 0.0f, 1.0f) && image_write_file(path, bytes, false);
  image_data_delete(bytes);
  return ok;
}

image_data* read_image_sequence_file(const char* path, int frame, char* name_out) {
  char name[IMAGE_IO_NAME_SIZE];
  if (!sequence_name(path, frame, name)) return nullptr;
  if (name_out) strcpy(name_out, name);
  return image_read_file(name);
}

bool write_image_sequence_file(image_data* image, const char* path, int frame, char* name_out) {
  char name[IMAGE_IO_NAME_SIZE];
  if (!sequence_name(path, frame, name)) return false;
  if (name_out) strcpy(name_out, name);
  return image_write_file(name, image, false);
}
