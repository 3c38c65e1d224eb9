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
  t->scanline_size = static_cast<int64_t>(TIFFScanlineSize64(tif));
  // Strips of about 8 KB, at least one line.
  const uint32_t rows = static_cast<uint32_t>(std::max<int64_t>(1, 8192 / std::max<int64_t>(1, t->scanline_size)));
  return ok && t->scanline_size > 0 && t->scanline_size <= UINT_MAX && TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows) &&
         TIFFSetField(tif, TIFFTAG_XRESOLUTION, 400.0) && TIFFSetField(tif, TIFFTAG_YRESOLUTION, 400.0) &&
         TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
}

// Line samples 0 to samples - 1 of each pixel into the scanline, then the
// scanline into the file at the handle's line.
template <typename Sample, typename In>
int write_line(imginfo* h, const In* line) {
  TiffRecord* t = tiff_record(h);
  if (!t || !line || !t->tif) return 0;
  const Sample* in = reinterpret_cast<const Sample*>(line);
  Sample* out = reinterpret_cast<Sample*>(t->scanline);
  const size_t width = static_cast<size_t>(h->file_width);
  if (t->samples == 4)
    memcpy(out, in, width * 4 * sizeof(Sample));
  else
    imgio_rgba_to_rgb(in, out, h->file_width);
  if (TIFFWriteScanline(t->tif, t->scanline, static_cast<uint32_t>(h->current_line), 0) < 0) {
    messprintf(IMSSYS_INFO, "TIFF: Error writing TIFF scanline.\n");
    return 0;
  }
  return 1;
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
  if (ok) {
    t->scanline = static_cast<uint8_t*>(q4_malloc_c(static_cast<unsigned>(t->scanline_size), __FILE__, __LINE__));
    ok = t->scanline != nullptr;
    if (!ok) messprintf(IMSSYS_FATAL, "TIFF: No space for the scanline buffer.\n");
  }
  if (!ok) {
    tiff_release(t);
    return 0;
  }
  h->driver = t;
  return 1;
}

int TiffWritel(imginfo* h) { return write_line<uint8_t>(h, h->line); }

int TiffWritel16(imginfo* h) { return write_line<uint16_t>(h, h->line16); }
