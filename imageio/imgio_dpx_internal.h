#ifndef IMGIO_DPX_INTERNAL_H
#define IMGIO_DPX_INTERNAL_H

// What the Cineon driver's files share: the header as stored (big-endian,
// but for the little-endian maximum data values) and its fields.

#include <cstdint>
#include <cstring>

#include "imgio_fields.h"

enum { DPX_MAGIC = 0x802A5FD7u, DPX_HEADER_BYTES = 1024 };

// Field offsets of the generic header; channel c's fields lie 28 c further.
enum {
  DPX_DATA_OFFSET = 4,
  DPX_INDUSTRY_LENGTH = 12,
  DPX_VARIABLE_LENGTH = 16,
  DPX_FILE_SIZE = 20,
  DPX_VERSION = 24,
  DPX_FILE_NAME = 32,
  DPX_DATE = 132,
  DPX_TIME = 144,
  DPX_ORIENTATION = 192,
  DPX_CHANNELS = 193,
  DPX_CHANNEL = 196,  // metric, semantics, bits, -, pixels, lines, min, min q, max, max q
  DPX_CHANNEL_BYTES = 28,
  DPX_WHITE = 420,
  DPX_LABEL = 452,
  DPX_INTERLEAVE = 680,
  DPX_PACKING = 681,
  DPX_SIGNED = 682,
  DPX_SENSE = 683,
  DPX_EOL_PAD = 684,
  DPX_EOC_PAD = 688,
  DPX_X_OFFSET = 712,
  DPX_Y_OFFSET = 716,
  DPX_SOURCE_NAME = 720,
  DPX_DEVICE = 844,
  DPX_MODEL = 908,
  DPX_SERIAL = 940,
  DPX_X_SAMPLES = 972,
  DPX_Y_SAMPLES = 976,
  DPX_GAMMA = 980,
};

// Industry header fields, offsets within its 1024 bytes.
enum {
  DPX_PERFS = 2,
  DPX_PREFIX = 4,
  DPX_COUNT = 8,
  DPX_FORMAT = 12,
  DPX_FRAME = 44,
  DPX_RATE = 48,
  DPX_SLATE = 84,
};

inline float dpx_float(uint32_t bits) {
  float v;
  memcpy(&v, &bits, 4);
  return v;
}
inline uint32_t dpx_bits(float v) {
  uint32_t bits;
  memcpy(&bits, &v, 4);
  return bits;
}
inline float dpx_be_float(const uint8_t* p) { return dpx_float(imgio_be32(p)); }
inline const uint8_t* dpx_channel(const uint8_t* generic, int c) {
  return generic + DPX_CHANNEL + DPX_CHANNEL_BYTES * c;
}

// Prints the headers of a file at level 1 (the industry header all zeros
// when the file has none).
void dpx_print_header(const uint8_t* generic, const uint8_t* industry);

#endif
