#include "image_transpose.h"

#include <cstring>

#include "q4_sysinfo.h"

namespace {

// Bands are groups of kBlockRows source rows. A band walks its rows in
// strips of kStripColumns columns, kRun rows at a time: each destination row
// of the strip then receives kRun consecutive pixels (whole cache lines) from
// kRun source rows read a strip at a time, and the strip's destination rows
// keep their lines and pages open until they are full.
const int kBlockRows = 16;
const int kStripColumns = 64;
const int kRun = 8;

struct transpose_block {
  const image_data* src;
  image_data* dst;
  int x0, w, y0, h;
};

// Run: the number of source rows when known at compile time (0: n).
template <int Run>
inline void copy_run(const unsigned char* s, unsigned char* d, int columns, int n, int64_t pb, int64_t src_row,
                     int64_t dst_row) {
  if (Run) n = Run;
  for (int x = 0; x < columns; ++x, s += pb, d += dst_row)
    for (int k = 0; k < n; ++k) std::memcpy(d + k * pb, s + k * src_row, pb);
}

// PixelBytes 0: the record's own pixel size, for the uncommon ones.
template <int PixelBytes>
void copy_block_rows(const transpose_block* b, int first, int last) {
  const int64_t pb = PixelBytes ? PixelBytes : b->src->pixel_bytes;
  const int64_t dst_row = b->dst->row_bytes, src_row = b->src->row_bytes;
  const int x_end = b->x0 + b->w, y_end = b->y0 + b->h;
  const int ys = b->y0 + first * kBlockRows;
  const int ye = b->y0 + (last + 1) * kBlockRows < y_end ? b->y0 + (last + 1) * kBlockRows : y_end;
  for (int xs = b->x0; xs < x_end; xs += kStripColumns) {
    const int columns = (x_end - xs < kStripColumns ? x_end - xs : kStripColumns);
    for (int y = ys; y < ye; y += kRun) {
      const unsigned char* s = image_row(b->src, y) + xs * pb;
      unsigned char* d = image_row(b->dst, xs) + y * pb;
      if (ye - y >= kRun)
        copy_run<kRun>(s, d, columns, kRun, pb, src_row, dst_row);
      else
        copy_run<0>(s, d, columns, ye - y, pb, src_row, dst_row);
    }
  }
}

bool same_samples(const image_data* a, const image_data* b) {
  return a && b && a->pixels && b->pixels && a->channels == b->channels && a->pixel_type == b->pixel_type;
}

}  // namespace

// Bands are whole block rows: first and last count blocks of kBlockRows
// source rows, so the executor is called once for the whole transposition.
void mp_transpose_core(void* object, int first, int last) {
  const transpose_block* b = static_cast<const transpose_block*>(object);
  switch (b->src->pixel_bytes) {
    case 1: copy_block_rows<1>(b, first, last); break;
    case 2: copy_block_rows<2>(b, first, last); break;
    case 4: copy_block_rows<4>(b, first, last); break;
    case 8: copy_block_rows<8>(b, first, last); break;
    case 16: copy_block_rows<16>(b, first, last); break;
    default: copy_block_rows<0>(b, first, last); break;
  }
}

int image_transpose_recursive(image_data* src, image_data* dst, int x0, int w, int y0, int h) {
  if (!same_samples(src, dst) || x0 < 0 || y0 < 0 || w < 0 || h < 0) return 0;
  if (x0 + w > src->width || y0 + h > src->height || x0 + w > dst->height || y0 + h > dst->width) return 0;
  // Within one image the copy would read pixels it has already overwritten.
  image_data* from = src->pixels == dst->pixels ? image_data_copy(src) : src;
  if (!from) return 0;
  transpose_block block{from, dst, x0, w, y0, h};
  const int block_rows = (h + kBlockRows - 1) / kBlockRows;
  // A block of fewer rows than processors is not worth handing out.
  if (h >= q4mp_get_raw_cpu_count())
    imagelib_dispatch(mp_transpose_core, block_rows, &block);
  else if (block_rows > 0)
    mp_transpose_core(&block, 0, block_rows - 1);
  if (from != src) image_data_delete(from);
  return 1;
}

int image_transpose(image_data* src, image_data* dst) {
  if (!same_samples(src, dst) || dst->width != src->height || dst->height != src->width) return 0;
  return image_transpose_recursive(src, dst, 0, src->width, 0, src->height);
}

image_data* image_transpose(image_data* src) {
  if (!src || !src->pixels) return nullptr;
  image_data* dst = image_data_create(src->height, src->width, src->channels, src->pixel_type, 1);
  if (dst) image_transpose(src, dst);
  return dst;
}
