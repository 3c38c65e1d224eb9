// Reading TIFF files: what the open accepts, the line sources (the direct
// path and the strip buffer) and the conversion to 8-bit and 16-bit lines.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "imgio_messages.h"
#include "imgio_pixel.h"
#include "imgio_tiff.h"
#include "imgio_tiff_messages.h"
#include "imgio_tiff_record.h"
#include "q4_memory.h"

namespace {

bool no_space(const char* what) {
  messprintf(IMSSYS_FATAL, "TIFF: No space for %s.\n", what);
  return false;
}

// A block of bytes from the normal heap; null beyond what one block holds.
uint8_t* allocate(int64_t bytes) {
  if (bytes > UINT_MAX) return nullptr;
  return static_cast<uint8_t*>(q4_malloc_c(static_cast<unsigned>(bytes), __FILE__, __LINE__));
}

// A combination of photometric, bits and samples that the lines below turn
// into RGBA; every other one is refused at open.
bool readable(int photometric, int bits, int samples) {
  switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK: return samples == 1;
    case PHOTOMETRIC_RGB: return (samples == 3 || samples == 4) && bits >= 8;
    case PHOTOMETRIC_PALETTE: return samples == 1 && bits <= 8;
    case PHOTOMETRIC_SEPARATED: return samples == 4 && bits >= 8;
    default: return false;
  }
}

// The sample tables of files of up to 8 bits: each sample value through the
// photometric map, which spreads MinSampleValue..MaxSampleValue over 0..255
// (reversed for min-is-white); values outside the range clamp to its ends.
bool build_sample_tables(TiffRecord* t) {
  const int full = (1 << t->bits) - 1;
  uint16_t low = 0, high = static_cast<uint16_t>(full);
  TIFFGetField(t->tif, TIFFTAG_MINSAMPLEVALUE, &low);
  TIFFGetField(t->tif, TIFFTAG_MAXSAMPLEVALUE, &high);
  const bool grey = t->photometric == PHOTOMETRIC_MINISWHITE || t->photometric == PHOTOMETRIC_MINISBLACK;
  // RGB and CMYK files keep their samples unless their range is narrowed.
  const bool mapped = grey || low != 0 || high != 255;
  if (mapped && low >= high) {
    messprintf(IMSSYS_INFO, "TIFF: Sample values from %d to %d leave no range to map.\n", low, high);
    return false;
  }
  const int range = high - low;
  for (int v = 0; v < 256; ++v) {
    const int i = std::min(std::max(v, int(low)), int(high)) - low;
    const int m = !mapped ? v : t->photometric == PHOTOMETRIC_MINISWHITE ? (range - i) * 255 / range : i * 255 / range;
    t->map[v] = static_cast<uint8_t>(m);
    // Packed grey widens by a shift, so its white reads 65280 in 16-bit
    // lines, as these files have always read.
    t->map16[v] = static_cast<uint16_t>(grey && t->bits < 8 ? m << 8 : m * 257);
  }
  return true;
}

bool read_palette(TiffRecord* t) {
  uint16_t* colours[3] = {nullptr, nullptr, nullptr};
  if (!TIFFGetField(t->tif, TIFFTAG_COLORMAP, &colours[0], &colours[1], &colours[2])) {
    messprintf(IMSSYS_INFO, "TIFF: Missing required \"Colormap\" tag.\n");
    return false;
  }
  const int entries = 1 << t->bits;
  bool eight = true;
  for (const uint16_t* colour : colours)
    for (int i = 0; i < entries; ++i) eight = eight && colour[i] <= 255;
  if (eight) messprintf(IMSSYS_INFO, "TIFF: Warning, assuming 8-bit colormap.\n");
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < entries; ++i) {
      const unsigned v = colours[c][i];
      // 65535 * 256 / 65535 is 256: white stays white at 255.
      t->palette[c][i] = static_cast<uint8_t>(eight ? v : std::min(v * 256 / 65535, 255u));
      t->palette16[c][i] = static_cast<uint16_t>(t->palette[c][i] * 257);
    }
  return true;
}

// 1 (line_order 2) for top-first orientations, 4 (line_order 1) for
// bottom-first ones; the flipped and transposed forms are read as the
// nearest of the two.
void read_orientation(imginfo* h, TiffRecord* t) {
  uint16_t orientation = ORIENTATION_TOPLEFT;
  TIFFGetField(t->tif, TIFFTAG_ORIENTATION, &orientation);
  t->orientation = orientation;
  const bool bottom = orientation == ORIENTATION_BOTRIGHT || orientation == ORIENTATION_BOTLEFT ||
                      orientation == ORIENTATION_RIGHTBOT || orientation == ORIENTATION_LEFTBOT;
  if (orientation != ORIENTATION_TOPLEFT && orientation != ORIENTATION_BOTLEFT)
    messprintf(IMSSYS_INFO, bottom ? "TIFF: Warning, using bottom-left orientation.\n"
                                   : "TIFF: Warning, using top-left orientation.\n");
  h->line_order = bottom ? IMGIO_BOTTOM_FIRST : IMGIO_TOP_FIRST;
}

// Rows per strip, from the tag or else from the strip count; a value above
// the height means one strip.
bool read_rows_per_strip(TiffRecord* t) {
  uint32_t rows = 0;
  if (!TIFFGetField(t->tif, TIFFTAG_ROWSPERSTRIP, &rows)) {
    messprintf(IMSSYS_INFO, "TIFF: Warning: RowsPerStrip tag is missing. Trying to fix...\n");
    const uint32_t strips = TIFFNumberOfStrips(t->tif) / t->planes;
    rows = strips > 0 ? t->height / strips : 0;
  }
  if (rows == 0) {
    messprintf(IMSSYS_INFO, "TIFF: Cannot read strips of 0 rows.\n");
    return false;
  }
  t->rows_per_strip = std::min(rows, t->height);
  return true;
}

// The offset of a strip for the direct path; false when its lines do not all
// lie in the file or, in a file of several strips, do not all lie within the
// byte count libtiff would read them from.
bool find_strip(TiffRecord* t, int64_t strip) {
  t->strip_index = -1;
  const uint32_t number = static_cast<uint32_t>(strip);
  const int64_t rows = std::min<int64_t>(t->rows_per_strip, int64_t(t->height) - strip * t->rows_per_strip);
  const uint64_t bytes = uint64_t(rows) * uint64_t(t->scanline_size);
  int error = 0;
  const uint64_t offset = TIFFGetStrileOffsetWithErr(t->tif, number, &error);
  if (error || offset > t->file_size || bytes > t->file_size - offset) return false;
  if (t->rows_per_strip < t->height && TIFFGetStrileByteCountWithErr(t->tif, number, &error) < bytes) return false;
  t->strip_offset = offset;
  t->strip_index = strip;
  return !error;
}

bool allocate_strip_buffer(TiffRecord* t) {
  t->plane_bytes = int64_t(t->rows_per_strip) * t->scanline_size;
  t->strip = allocate(t->plane_bytes * t->planes);
  return t->strip || no_space("the strip buffer");
}

// Bytes read from the file at a time on the direct path: short strips that
// follow on in the file come in one read, not a call each.
const int64_t kWindowBytes = int64_t(1) << 18;

// One strip must lie in the file for the open to succeed; the strips of a
// file of several are checked as they are reached, as libtiff checks them.
bool prepare_direct_path(TiffRecord* t) {
  t->fd = TIFFFileno(t->tif);
  struct stat status;
  t->file_size = fstat(t->fd, &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
  if (t->rows_per_strip == t->height && !find_strip(t, 0)) {
    messprintf(IMSSYS_INFO, "TIFF: The image data lies beyond the end of the file.\n");
    return false;
  }
  uint16_t fill = FILLORDER_MSB2LSB;
  TIFFGetField(t->tif, TIFFTAG_FILLORDER, &fill);
  // libtiff hands strips over in the bit order it was opened for; so does
  // the direct path.
  t->reverse_bits = fill != (TIFFIsMSB2LSB(t->tif) ? FILLORDER_MSB2LSB : FILLORDER_LSB2MSB);
  t->swapped = TIFFIsByteSwapped(t->tif) != 0 && t->bits == 16;
  t->window_capacity = std::max(std::min<int64_t>(kWindowBytes, t->file_size), t->scanline_size);
  t->window = allocate(t->window_capacity);
  return t->window || no_space("the read buffer");
}

// Everything the lines need, from the open file's tags; false with the
// message when the file cannot be read.
bool read_layout(imginfo* h, TiffRecord* t) {
  TIFF* tif = t->tif;
  t->bits = 1;
  TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &t->bits);
  if (t->bits != 1 && t->bits != 2 && t->bits != 4 && t->bits != 8 && t->bits != 16) {
    messprintf(IMSSYS_INFO, "TIFF: Cannot read images with %d bits per sample.\n", t->bits);
    return false;
  }
  h->bits16 = t->bits == 16;
  t->samples = 1;
  TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &t->samples);
  if (t->samples != 1 && t->samples != 3 && t->samples != 4) {
    messprintf(IMSSYS_INFO, "Cannot read images with %d samples per pixel.\n", t->samples);
    return false;
  }
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &t->width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &t->height);
  // Sides are ints on the handle, whatever the cap allows.
  if (t->width > INT_MAX || t->height > INT_MAX || !imgsizeok(t->width, t->height)) {
    messprintf(IMSSYS_INFO, "TIFF: Image size %ux%u is out of range.\n", t->width, t->height);
    return false;
  }
  h->file_width = static_cast<int>(t->width);
  h->file_height = static_cast<int>(t->height);
  if (TIFFIsTiled(tif)) {
    messprintf(IMSSYS_INFO, "TIFF: Cannot read tiled images.\n");
    return false;
  }
  if (!TIFFGetField(tif, TIFFTAG_COMPRESSION, &t->compression)) {
    messprintf(IMSSYS_INFO, "TIFF: Warning: Compression tag is missing. Assuming uncompressed.\n");
    t->compression = COMPRESSION_NONE;
  }
  // libtiff opens such a file and fails every strip of it.
  if (!TIFFIsCODECConfigured(t->compression)) {
    messprintf(IMSSYS_INFO, "TIFF: Cannot read compression scheme %d.\n", t->compression);
    return false;
  }
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &t->photometric)) {
    const bool grey = t->samples == 1;
    t->photometric = grey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB;
    messprintf(IMSSYS_INFO, "TIFF: No \"PhotometricInterpretation\" tag, assuming %s.\n",
               grey ? "min-is-black" : "RGB");
  }
  // libtiff's JPEG decoder turns YCbCr into RGB when asked, and its lines
  // are then read as RGB; YCbCr stored any other way stays refused.
  if (t->photometric == PHOTOMETRIC_YCBCR && t->compression == COMPRESSION_JPEG &&
      TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB))
    t->photometric = PHOTOMETRIC_RGB;
  if (t->photometric == PHOTOMETRIC_SEPARATED && t->samples != 4) {
    messprintf(IMSSYS_INFO, "TIFF: Samples per pixel of %d is incompatible with CMYK photometric.\n",
               t->samples);
    return false;
  }
  if (!readable(t->photometric, t->bits, t->samples)) {
    messprintf(IMSSYS_INFO, "TIFF: Cannot read photometric %d with %d bits and %d samples per pixel.\n",
               t->photometric, t->bits, t->samples);
    return false;
  }
  t->planar = PLANARCONFIG_CONTIG;
  TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &t->planar);
  // One sample lies the same way in either configuration.
  t->planes = t->planar == PLANARCONFIG_SEPARATE && t->samples > 1 ? t->samples : 1;
  if (t->planes > 1 && t->photometric != PHOTOMETRIC_RGB) {
    messprintf(IMSSYS_INFO, "TIFF: Cannot read separate planes with photometric %d.\n", t->photometric);
    return false;
  }
  if (t->photometric == PHOTOMETRIC_SEPARATED) messprintf(IMSSYS_INFO, "TIFF: File has CMYK photometric.\n");
  // Sixteen-bit samples are taken whole, whatever range the tags claim.
  if (t->bits <= 8 && !build_sample_tables(t)) return false;
  t->invert16 = t->photometric == PHOTOMETRIC_MINISWHITE;
  if (t->photometric == PHOTOMETRIC_PALETTE && !read_palette(t)) return false;
  read_orientation(h, t);
  t->scanline_size = (int64_t(t->width) * t->bits * (t->planes > 1 ? 1 : t->samples) + 7) / 8;
  if (!read_rows_per_strip(t)) return false;
  if (t->rows_per_strip == t->height && t->compression != COMPRESSION_NONE) {
    messprintf(IMSSYS_INFO, "TIFF: Warning: Entire image is in one strip AND it is compressed.\n");
    messprintf(IMSSYS_INFO, "TIFF: We MAY run out of memory when we decompress it!\n");
  }
  uint16_t predictor = PREDICTOR_NONE;
  t->predicted = TIFFGetField(tif, TIFFTAG_PREDICTOR, &predictor) && predictor != PREDICTOR_NONE;
  t->direct = t->compression == COMPRESSION_NONE && t->planes == 1;
  return t->direct ? prepare_direct_path(t) : allocate_strip_buffer(t);
}

// Null, with the reason a line read fails: a line the file or its strip
// does not hold.
const uint8_t* missing_line(int y, const char* where) {
  messprintf(IMSSYS_INFO, "TIFF: Line %d is missing from %s.\n", y, where);
  return nullptr;
}

// Fills the window from the file at offset, as far as it holds or the file
// reaches, and puts its bytes in bit and byte order; false when fewer than
// need bytes come, as when the file was cut short after it was opened.
bool fill_window(TiffRecord* t, uint64_t offset, int64_t need) {
  const int64_t want = static_cast<int64_t>(std::min<uint64_t>(t->window_capacity, t->file_size - offset));
  int64_t got = 0;
  while (got < want) {
    const ssize_t n = pread(t->fd, t->window + got, static_cast<size_t>(want - got), static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += n;
  }
  t->window_start = offset;
  t->window_length = got >= need ? got : 0;
  if (t->reverse_bits) TIFFReverseBits(t->window, t->window_length);
  if (t->swapped) TIFFSwabArrayOfShort(reinterpret_cast<uint16_t*>(t->window), t->window_length / 2);
  return t->window_length > 0;
}

// File line y on the direct path, in the window. A line of 16-bit samples
// must start an even number of bytes into it, where the byte swap paired
// them and a word load of the line is aligned; one that would not, in a
// strip at an odd distance from the last, is read afresh.
const uint8_t* direct_line(TiffRecord* t, int y) {
  const int64_t strip = y / t->rows_per_strip;
  if (strip != t->strip_index && !find_strip(t, strip)) return missing_line(y, "the file");
  const int64_t size = t->scanline_size;
  const uint64_t at = t->strip_offset + uint64_t(y - strip * t->rows_per_strip) * uint64_t(size);
  const uint64_t into = at - t->window_start;  // wraps for a line before the window
  const bool held =
      at >= t->window_start && into + size <= uint64_t(t->window_length) && (t->bits != 16 || into % 2 == 0);
  if (!held && !fill_window(t, at, size)) return missing_line(y, "the file");
  return t->window + (at - t->window_start);
}

// The bytes at the start of a strip its decoder wrote into `into` (of size
// bytes); -1 when libtiff fails the strip. libtiff takes a strip whose coded
// data runs on past the buffer as whole, though the decoder may stop short
// of its end, and runs any predictor over the bytes it left as well. Two
// decodings over different fills agree on every row before the one the
// decoder stopped in and differ within that one, whatever a predictor made
// of the fill; without a predictor, a decoding that does not end in its fill
// byte wrote every byte.
int64_t written_bytes(TiffRecord* t, uint32_t number, uint8_t* into, int64_t size) {
  memset(into, 0x5A, static_cast<size_t>(size));
  const tmsize_t got = TIFFReadEncodedStrip(t->tif, number, into, size);
  if (got <= 0) return got;
  if (!t->predicted && into[got - 1] != 0x5A) return got;
  if (!t->other && !(t->other = allocate(t->plane_bytes))) {
    no_space("a second decoding");
    return -1;
  }
  memset(t->other, 0xA5, static_cast<size_t>(got));
  if (TIFFReadEncodedStrip(t->tif, number, t->other, got) != got) return -1;
  return std::mismatch(into, into + got, t->other).first - into;
}

// The first byte of file line y (of its first plane), or null when it
// cannot be read.
const uint8_t* fetch_line(TiffRecord* t, int y) {
  if (t->direct) return direct_line(t, y);
  const int64_t strip = y / t->rows_per_strip;
  const int64_t first = strip * t->rows_per_strip;
  if (strip != t->strip_index) {
    t->strip_index = -1;
    const int64_t strips_per_plane = (int64_t(t->height) + t->rows_per_strip - 1) / t->rows_per_strip;
    // The last strip may hold fewer rows; a line needs its row in every plane.
    const int64_t rows = std::min<int64_t>(t->rows_per_strip, t->height - first);
    t->strip_rows = rows;
    for (int plane = 0; plane < t->planes; ++plane) {
      const uint32_t number = static_cast<uint32_t>(plane * strips_per_plane + strip);
      const int64_t got = written_bytes(t, number, t->strip + plane * t->plane_bytes, rows * t->scanline_size);
      if (got < 0) return nullptr;
      t->strip_rows = std::min(t->strip_rows, got / t->scanline_size);
    }
    t->strip_index = strip;
  }
  if (y - first >= t->strip_rows) return missing_line(y, "its strip");
  return t->strip + (y - first) * t->scanline_size;
}

// The tables of one line width: 8-bit values for 8-bit lines, 16-bit ones
// for 16-bit lines.
template <typename V>
struct Tables {
  const V* map;
  const V (*palette)[256];
  unsigned opaque;
};

inline Tables<uint8_t> tables(const TiffRecord& t, unsigned int*) { return {t.map, t.palette, 255}; }
inline Tables<uint16_t> tables(const TiffRecord& t, unsigned short*) { return {t.map16, t.palette16, 65535}; }

// Sample s of pixel x is row[x * step + s * plane]: step is the sample
// count and plane 1 for contiguous samples, step 1 and plane one plane's
// length in the strip buffer for separate ones. Both are fixed at compile
// time for contiguous pixels, so those loops are plain copies the compiler
// can widen.
template <int Samples, bool Planar, typename Out, typename V>
void map_pixels(const uint8_t* row, size_t plane_length, Out* line, int width, const V* m, unsigned opaque) {
  const size_t step = Planar ? 1 : Samples;
  const size_t plane = Planar ? plane_length : 1;
  for (int x = 0; x < width; ++x) {
    const uint8_t* p = row + x * step;
    imgio_put_pixel(line, x, m[p[0]], m[p[plane]], m[p[2 * plane]], Samples == 4 ? m[p[3 * plane]] : opaque);
  }
}

// Samples of up to 8 bits, through the tables.
template <typename Out, typename V>
void bytes_to_line(const TiffRecord& t, const uint8_t* row, Out* line, int width, const Tables<V>& look) {
  const bool palette = t.photometric == PHOTOMETRIC_PALETTE;
  auto single = [&](int x, unsigned v) {
    if (palette)
      imgio_put_pixel(line, x, look.palette[0][v], look.palette[1][v], look.palette[2][v], look.opaque);
    else
      imgio_put_pixel(line, x, look.map[v], look.map[v], look.map[v], look.opaque);
  };
  const size_t plane = static_cast<size_t>(t.plane_bytes);
  if (t.bits < 8) {
    // Packed values, the first in the high bits of a byte; the row ends
    // at the file's width, whatever the last byte holds beyond it.
    const int bits = t.bits;
    const unsigned mask = (1u << bits) - 1;
    for (int x = 0; x < width; ++x) {
      const size_t bit = static_cast<size_t>(x) * bits;
      single(x, (row[bit >> 3] >> (8 - bits - (bit & 7))) & mask);
    }
  } else if (t.samples == 1) {
    for (int x = 0; x < width; ++x) single(x, row[x]);
  } else if (t.planes > 1) {
    (t.samples == 3 ? map_pixels<3, true, Out, V> : map_pixels<4, true, Out, V>)(row, plane, line, width, look.map,
                                                                                  look.opaque);
  } else {
    (t.samples == 3 ? map_pixels<3, false, Out, V> : map_pixels<4, false, Out, V>)(row, plane, line, width,
                                                                                    look.map, look.opaque);
  }
}

// Sample i of a row of 16-bit samples. A strip may start at any byte of
// the file, so a sample is loaded whole from wherever it lies.
inline unsigned word_at(const uint8_t* row, size_t i) {
  uint16_t v;
  memcpy(&v, row + 2 * i, sizeof v);
  return v;
}

// Sixteen-bit samples, whole in 16-bit lines, their high bytes in 8-bit
// ones; grey flipped for min-is-white.
template <int Samples, bool Planar, typename Out>
void word_pixels(const uint8_t* row, size_t plane_length, Out* line, int width, unsigned flip) {
  const int shift = sizeof(Out) == sizeof(unsigned short) ? 0 : 8;
  const unsigned opaque = 65535u >> shift;
  const size_t step = Planar ? 1 : Samples;
  const size_t plane = Planar ? plane_length : 1;
  for (int x = 0; x < width; ++x) {
    const size_t i = x * step;
    if (Samples == 1) {
      const unsigned v = (word_at(row, i) ^ flip) >> shift;
      imgio_put_pixel(line, x, v, v, v, opaque);
    } else {
      const unsigned alpha = Samples == 4 ? word_at(row, i + 3 * plane) >> shift : opaque;
      imgio_put_pixel(line, x, word_at(row, i) >> shift, word_at(row, i + plane) >> shift,
                      word_at(row, i + 2 * plane) >> shift, alpha);
    }
  }
}

// Rows of 16-bit samples start on an even byte of their buffer (the
// window's rule and the strip buffer's even line length), so the 3-sample
// copy may see them as words.
template <typename Out>
void words_to_line(const TiffRecord& t, const uint8_t* row, Out* line, int width) {
  const size_t plane = static_cast<size_t>(t.plane_bytes) / 2;
  const unsigned flip = t.invert16 ? 65535u : 0u;
  if (t.samples == 1)
    word_pixels<1, false>(row, plane, line, width, flip);
  else if (t.planes > 1)
    (t.samples == 3 ? word_pixels<3, true, Out> : word_pixels<4, true, Out>)(row, plane, line, width, flip);
  else if (t.samples == 4)
    word_pixels<4, false>(row, plane, line, width, flip);
  else if constexpr (std::is_same<Out, unsigned short>::value)
    imgio_rgb_to_line(reinterpret_cast<const uint16_t*>(row), line, width);
  else
    word_pixels<3, false>(row, plane, line, width, flip);
}

template <typename Out>
int read_line(imginfo* h, Out* line) {
  TiffRecord* t = tiff_record(h);
  if (!t || !line || !t->tif || h->current_line < 0 || h->current_line >= h->file_height) return 0;
  const uint8_t* row = fetch_line(t, h->current_line);
  if (!row) return 0;
  if (t->bits == 16)
    words_to_line(*t, row, line, h->file_width);
  else
    bytes_to_line(*t, row, line, h->file_width, tables(*t, line));
  return 1;
}

}  // namespace

int TiffOpenf(imginfo* h) {
  TiffRecord* t = tiff_new_record();
  if (!t) return no_space("the driver record");
  TIFFOpenOptions* options = tiff_message_options();
  // "c": strips as the file has them, so that one strip is seen as one.
  // "m": strips read, not mapped, so that a file cut short fails its reads.
  t->tif = options ? TIFFOpenExt(h->file_name, "rcm", options) : nullptr;
  if (options) TIFFOpenOptionsFree(options);
  if (!t->tif || !read_layout(h, t)) {
    tiff_release(t);
    return 0;
  }
  h->driver = t;
  return 1;
}

int TiffReadl(imginfo* h) { return read_line(h, h->line); }

int TiffReadl16(imginfo* h) { return read_line(h, h->line16); }
