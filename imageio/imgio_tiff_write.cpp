// Writing TIFF files: the layout the settings choose, and lines packed into
// scanlines.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "imgio_messages.h"
#include "imgio_pixel.h"
#include "imgio_tiff.h"
#include "imgio_tiff_record.h"
#include "q4_memory.h"

// An 8-bit line's pixel (R in its low byte) lies in memory as the bytes
// R, G, B, A: four samples of a scanline.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "8-bit lines are packed byte by byte");

namespace {

// The value of a settings key among its choices: the index of the match,
// fallback when the key is absent, -1 for any other value.
int choice(const char* key, const char* const* values, int count, int fallback) {
  const char* value = getkeyval(key);
  if (!value) return fallback;
  for (int i = 0; i < count; ++i)
    if (strcmp(value, values[i]) == 0) return i;
  return -1;
}

int channels_setting() {
  const char* value = getkeyval("IMGIO_TIFF_CHAN");
  if (!value) return 4;
  char* end = nullptr;
  errno = 0;
  const long channels = strtol(value, &end, 10);
  const bool whole = errno == 0 && end != value && *end == '\0';
  return whole && (channels == 3 || channels == 4) ? static_cast<int>(channels) : 0;
}

// The file's layout from the settings; false with the message for a value
// the key does not take.
bool read_settings(imginfo* h, TiffRecord* t) {
  const int channels = channels_setting();
  if (channels != 3 && channels != 4) {
    messprintf(IMSSYS_INFO, "IMGIO_TIFF_CHAN must be 3 or 4.\n");
    return false;
  }
  t->samples = static_cast<uint16_t>(channels);
  const char* const compressions[] = {"none", "lzw"};
  const int compression = choice("IMGIO_TIFF_COMPRESS", compressions, 2, 0);
  if (compression < 0) {
    messprintf(IMSSYS_INFO, "IMGIO_TIFF_COMPRESS must be lzw or none\n");
    return false;
  }
  t->compression = compression == 1 ? COMPRESSION_LZW : COMPRESSION_NONE;
  const char* const orientations[] = {"botleft", "topleft"};
  const int orientation = choice("IMGIO_TIFF_ORIENT", orientations, 2, 0);
  if (orientation < 0) {
    messprintf(IMSSYS_INFO, "IMGIO_TIFF_ORIENT must be botleft or topleft\n");
    return false;
  }
  t->orientation = orientation == 1 ? ORIENTATION_TOPLEFT : ORIENTATION_BOTLEFT;
  h->line_order = orientation == 1 ? IMGIO_TOP_FIRST : IMGIO_BOTTOM_FIRST;
  t->bits = h->bits16 ? 16 : 8;
  const char* const photometrics[] = {"rgb", "cmyk"};
  const int photometric = choice("IMGIO_TIFF_PHOTOMETRIC", photometrics, 2, 0);
  if (photometric < 0) {
    messprintf(IMSSYS_INFO, "IMGIO_TIFF_PHOTOMETRIC must be rgb or cmyk\n");
    return false;
  }
  t->photometric = photometric == 1 ? PHOTOMETRIC_SEPARATED : PHOTOMETRIC_RGB;
  if (photometric == 1) t->samples = 4;
  t->planar = PLANARCONFIG_CONTIG;
  return true;
}

bool set_tags(TiffRecord* t) {
  TIFF* tif = t->tif;
  bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, t->width) && TIFFSetField(tif, TIFFTAG_IMAGELENGTH, t->height) &&
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, t->bits) &&
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, t->samples) &&
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, t->photometric) &&
            TIFFSetField(tif, TIFFTAG_PLANARCONFIG, t->planar) &&
            TIFFSetField(tif, TIFFTAG_COMPRESSION, t->compression) &&
            TIFFSetField(tif, TIFFTAG_ORIENTATION, t->orientation);
  // The fourth sample of an RGB pixel is alpha, which readers learn only
  // from this tag; unassociated, as lines carry it.
  const uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
  if (t->samples == 4 && t->photometric == PHOTOMETRIC_RGB)
    ok = ok && TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &alpha);
  t->scanline_size = static_cast<int64_t>(TIFFScanlineSize64(tif));
  // Strips of about 8 KB, at least one line.
  t->rows_per_strip = static_cast<uint32_t>(std::max<int64_t>(1, 8192 / std::max<int64_t>(1, t->scanline_size)));
  return ok && t->scanline_size > 0 && t->scanline_size <= UINT_MAX &&
         TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, t->rows_per_strip) && TIFFSetField(tif, TIFFTAG_XRESOLUTION, 400.0) &&
         TIFFSetField(tif, TIFFTAG_YRESOLUTION, 400.0) && TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
}

// Uncompressed lines gather in the strip buffer and go to libtiff a whole
// strip at a time as its raw bytes: the scanline calls would copy each line
// once more on the way. Compressed lines go through the scanline buffer and
// libtiff's coder.
uint8_t* allocate_line_buffer(TiffRecord* t) {
  const int64_t bytes = t->compression == COMPRESSION_NONE ? t->rows_per_strip * t->scanline_size : t->scanline_size;
  uint8_t* block =
      bytes <= UINT_MAX ? static_cast<uint8_t*>(q4_malloc_c(static_cast<unsigned>(bytes), __FILE__, __LINE__)) : nullptr;
  if (!block) messprintf(IMSSYS_FATAL, "TIFF: No space for the scanline buffer.\n");
  (t->compression == COMPRESSION_NONE ? t->strip : t->scanline) = block;
  return block;
}

// Line samples 0 to samples - 1 of each pixel into the file's line, then
// the line, or the strip it completes, to libtiff.
template <typename Sample, typename In>
int write_line(imginfo* h, const In* line) {
  TiffRecord* t = tiff_record(h);
  if (!t || !line || !t->tif) return 0;
  const uint32_t y = static_cast<uint32_t>(h->current_line);
  const uint32_t row = y % t->rows_per_strip;
  uint8_t* bytes = t->strip ? t->strip + row * t->scanline_size : t->scanline;
  const Sample* in = reinterpret_cast<const Sample*>(line);
  Sample* out = reinterpret_cast<Sample*>(bytes);
  const size_t width = static_cast<size_t>(h->file_width);
  if (t->samples == 4)
    memcpy(out, in, width * 4 * sizeof(Sample));
  else
    imgio_rgba_to_rgb(in, out, h->file_width);
  bool ok = true;
  if (t->strip) {
    t->strip_index = y / t->rows_per_strip;
    t->pending_rows = row + 1;
    if (t->pending_rows == t->rows_per_strip || y + 1 == t->height) ok = tiff_write_pending(t);
  } else {
    ok = TIFFWriteScanline(t->tif, bytes, y, 0) >= 0;
  }
  if (!ok) messprintf(IMSSYS_INFO, "TIFF: Error writing TIFF scanline.\n");
  return ok ? 1 : 0;
}

}  // namespace

int TiffCreatef(imginfo* h) {
  TiffRecord* t = tiff_new_record();
  if (!t) {
    messprintf(IMSSYS_FATAL, "TIFF: No space for the driver record.\n");
    return 0;
  }
  t->width = static_cast<uint32_t>(h->file_width);
  t->height = static_cast<uint32_t>(h->file_height);
  bool ok = read_settings(h, t) && (t->tif = tiff_output_create(h->file_name, &t->output)) != nullptr && set_tags(t);
  ok = ok && allocate_line_buffer(t);
  if (!ok) {
    tiff_release(t);
    return 0;
  }
  h->driver = t;
  return 1;
}

int TiffWritel(imginfo* h) { return write_line<uint8_t>(h, h->line); }

int TiffWritel16(imginfo* h) { return write_line<uint16_t>(h, h->line16); }

bool tiff_write_pending(TiffRecord* t) {
  if (t->pending_rows == 0) return true;
  const tmsize_t bytes = static_cast<tmsize_t>(t->pending_rows * t->scanline_size);
  t->pending_rows = 0;
  return TIFFWriteRawStrip(t->tif, static_cast<uint32_t>(t->strip_index), t->strip, bytes) == bytes;
}
