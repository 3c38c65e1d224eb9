#ifndef TEST_TIFF_MAKER_H
#define TEST_TIFF_MAKER_H

// Small TIFF files written with libtiff itself, in any layout it writes,
// for the readers' tests: sample(x, y, s) gives every sample (s is the
// sample's index in the pixel, also in separate planes).

#include <tiffio.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct TiffMaker {
  int width = 13;
  int height = 6;
  int bits = 8;
  int samples = 3;
  int photometric = PHOTOMETRIC_RGB;
  int planar = PLANARCONFIG_CONTIG;
  int compression = COMPRESSION_NONE;
  uint32_t rows_per_strip = 0;  // 0: one strip
  const char* mode = "w";       // "wb" big-endian, "wl" little-endian
  int fill_order = 0;           // 0: no tag
  int orientation = 0;          // 0: no tag
  int predictor = 0;            // 0: no tag
  int min_sample = -1;          // -1: no tag
  int max_sample = -1;
  std::vector<uint16_t> colormap;  // red, green, blue: 2^bits entries each
  bool odd_offsets = false;        // strips start at odd offsets
  std::function<int(int x, int y, int s)> sample;

  bool write(const std::string& path) const {
    TIFF* tif = TIFFOpen(path.c_str(), mode);
    if (!tif) return false;
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width) && TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height) &&
              TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits) && TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples) &&
              TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric) && TIFFSetField(tif, TIFFTAG_PLANARCONFIG, planar) &&
              TIFFSetField(tif, TIFFTAG_COMPRESSION, compression) &&
              TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows_per_strip ? rows_per_strip : uint32_t(height));
    if (samples == 4 && photometric == PHOTOMETRIC_RGB) {
      const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
      ok = ok && TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (fill_order) ok = ok && TIFFSetField(tif, TIFFTAG_FILLORDER, fill_order);
    if (orientation) ok = ok && TIFFSetField(tif, TIFFTAG_ORIENTATION, orientation);
    if (predictor) ok = ok && TIFFSetField(tif, TIFFTAG_PREDICTOR, predictor);
    if (min_sample >= 0) ok = ok && TIFFSetField(tif, TIFFTAG_MINSAMPLEVALUE, uint16_t(min_sample));
    if (max_sample >= 0) ok = ok && TIFFSetField(tif, TIFFTAG_MAXSAMPLEVALUE, uint16_t(max_sample));
    if (!colormap.empty()) {
      const size_t n = colormap.size() / 3;
      std::vector<uint16_t> map = colormap;
      ok = ok && TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + n, map.data() + 2 * n);
    }
    // The directory goes ahead of the strips, its 7-byte description the
    // one piece of odd length in it.
    if (odd_offsets) ok = ok && TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, "strips") && TIFFCheckpointDirectory(tif);
    const bool separate = planar == PLANARCONFIG_SEPARATE;
    const int per_line = separate ? 1 : samples;
    const size_t bytes = (size_t(width) * bits * per_line + 7) / 8;
    for (int plane = 0; ok && plane < (separate ? samples : 1); ++plane)
      for (int y = 0; ok && y < height; ++y) {
        std::vector<uint8_t> line(bytes);
        for (int x = 0; x < width; ++x)
          for (int s = 0; s < per_line; ++s) {
            const unsigned v = unsigned(sample(x, y, separate ? plane : s));
            const size_t index = size_t(x) * per_line + s;
            if (bits == 16) {
              reinterpret_cast<uint16_t*>(line.data())[index] = uint16_t(v);
            } else if (bits == 8) {
              line[index] = uint8_t(v);
            } else {
              // Packed, the first value in the high bits.
              for (int b = 0; b < bits; ++b) {
                const size_t bit = index * bits + b;
                if (v >> (bits - 1 - b) & 1) line[bit / 8] |= uint8_t(0x80 >> bit % 8);
              }
            }
          }
        ok = TIFFWriteScanline(tif, line.data(), y, uint16_t(plane)) == 1;
      }
    TIFFClose(tif);
    return ok;
  }
};

#endif
