#include "image_transpose.h"

#include <cstring>

#include "q4_sysinfo.h"

namespace {

// Edge of the square tiles: a tile's source rows and destination rows both
// stay in the first-level cache (16 x 16 pixels of 16 bytes are 4 KiB).
const int kTile = 16;

struct transpose_block {
  const image_data* src;
  image_data* dst;
  int x0, w, y0, h;
};

// PixelBytes 0: the record's own pixel size, for the uncommon ones.
template <int PixelBytes>
void copy_tile_rows(const transpose_block* b, int first, int last) {
  const int64_t pb = PixelBytes ? PixelBytes : b->src->pixel_bytes;
  const int x_end = b->x0 + b->w, y_end = b->y0 + b->h;
  for (int tile_row = first; tile_row <= last; ++tile_row) {
    const int ys = b->y0 + tile_row * kTile;
    const int ye = ys + kTile < y_end ? ys + kTile : y_end;
    for (int xs = b->x0; xs < x_end; xs += kTile) {
      const int xe = xs + kTile < x_end ? xs + kTile : x_end;
      for (int y = ys; y < ye; ++y) {
        const unsigned char* s = image_row(b->src, y) + xs * pb;
        unsigned char* d = image_row(b->dst, xs) + y * pb;
        for (int x = xs; x < xe; ++x, s += pb, d += b->dst->row_bytes) std::memcpy(d, s, pb);
      }
    }
  }
}

bool same_samples(const image_data* a, const image_data* b) {
  return a && b && a->pixels && b->pixels && a->channels == b->channels && a->pixel_type == b->pixel_type;
}

}  // namespace

// Bands are whole tile rows: first and last count tiles of kTile source rows,
// so every band copies complete tiles and the executor is called once.
void mp_transpose_core(void* object, int first, int last) {
  const transpose_block* b = static_cast<const transpose_block*>(object);
  switch (b->src->pixel_bytes) {
    case 1: copy_tile_rows<1>(b, first, last); break;
    case 2: copy_tile_rows<2>(b, first, last); break;
    case 4: copy_tile_rows<4>(b, first, last); break;
    case 8: copy_tile_rows<8>(b, first, last); break;
    case 16: copy_tile_rows<16>(b, first, last); break;
    default: copy_tile_rows<0>(b, first, last); break;
  }
}

int image_transpose_recursive(image_data* src, image_data* dst, int x0, int w, int y0, int h) {
  if (!same_samples(src, dst) || x0 < 0 || y0 < 0 || w < 0 || h < 0) return 0;
  if (x0 + w > src->width || y0 + h > src->height || x0 + w > dst->height || y0 + h > dst->width) return 0;
  // Within one image the copy would read pixels it has already overwritten.
  image_data* from = src->pixels == dst->pixels ? image_data_copy(src) : src;
  if (!from) return 0;
  transpose_block block{from, dst, x0, w, y0, h};
  const int tile_rows = (h + kTile - 1) / kTile;
  // A block of fewer rows than processors is not worth handing out.
  if (h >= q4mp_get_raw_cpu_count())
    imagelib_dispatch(mp_transpose_core, tile_rows, &block);
  else if (tile_rows > 0)
    mp_transpose_core(&block, 0, tile_rows - 1);
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
