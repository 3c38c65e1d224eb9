#ifndef IMGIO_TIFF_RECORD_H
#define IMGIO_TIFF_RECORD_H

// The TIFF driver's record, hung on the handle's driver field.

#include <tiffio.h>

#include <cstdint>

#include "imgio.h"
#include "imgio_tiff_output.h"

struct TiffRecord {
  TIFF* tif;
  TiffOutput output;  // writing: where libtiff's writes go
  uint16_t bits;
  uint16_t samples;
  uint16_t photometric;
  uint16_t orientation;
  uint16_t planar;
  uint16_t compression;
  uint32_t width;
  uint32_t height;
  int64_t scanline_size;  // bytes of one file line; of one plane's when planes > 1
  uint8_t* scanline;      // writing: a line packed for libtiff's coder
  // Reading. Samples of up to 8 bits, and palette indices, become line values
  // through these tables, built once at open for both line widths: map holds
  // the photometric map with the sample range clamped (the identity when the
  // file needs none).
  uint8_t map[256];
  uint16_t map16[256];
  uint8_t palette[3][256];
  uint16_t palette16[3][256];
  bool invert16;  // 16-bit min-is-white
  int planes;     // 1 for contiguous samples, else one plane a sample
  uint32_t rows_per_strip;
  int64_t plane_bytes;  // rows_per_strip lines of one plane
  // The strip in the strip buffer, or found by the direct path; -1 for none.
  // Writing, the strip being gathered, pending_rows of its lines so far.
  int64_t strip_index;
  uint8_t* strip;
  int64_t pending_rows;
  int64_t strip_rows;  // reading: lines of the buffered strip its decoder wrote whole
  bool predicted;       // reading: the strips' bytes were differenced
  uint8_t* other;       // reading: a plane of a strip decoded over another fill
  // The direct path: uncompressed lines of one plane, read from the file
  // into a window of its bytes rather than strip by strip through libtiff,
  // whose calls and copies cost more than the bytes of short strips. The
  // file is read, never mapped: a file cut short while it is open fails
  // the lines it no longer holds instead of faulting.
  bool direct;
  int fd;
  uint64_t file_size;     // at open; strips must lie within it
  uint64_t strip_offset;  // of strip_index
  uint8_t* window;        // window_length bytes of the file from window_start,
  int64_t window_capacity;  // in bit and byte order
  int64_t window_length;
  uint64_t window_start;
  bool reverse_bits;
  bool swapped;  // 16-bit samples in the other byte order
};

TiffRecord* tiff_new_record();
// Closes the libtiff handle and frees the record with its buffers.
void tiff_release(TiffRecord* record);
// Writes the lines gathered in the strip buffer as their strip; true when
// there are none.
bool tiff_write_pending(TiffRecord* t);
inline TiffRecord* tiff_record(imginfo* handle) { return static_cast<TiffRecord*>(handle->driver); }

#endif
