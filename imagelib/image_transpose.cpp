#include "image_transpose.h"

#include <immintrin.h>

#include <cstring>

#include "q4_simd.h"
#include "q4_sysinfo.h"

namespace {

// Bands are groups of kBlockRows source rows. A band walks its rows a run at
// a time and each run along its whole width: the run's pixels of one source
// column become consecutive pixels of one destination row, a whole cache
// line (8 pixels of 8 bytes, 16 of 4) that is written at once and not
// revisited, while the run's source rows stream in order. Strips of columns
// walked down the rows instead keep a line of every strip column open at
// once, more than the hardware tracks.
const int kBlockRows = 16;

struct transpose_block {
  const image_data* src;
  image_data* dst;
  int x0, w, y0, h;
};

// Rows: the run's source rows when known at compile time (0: rows);
// PixelBytes likewise (0: pb).
template <int Rows, int PixelBytes>
inline void copy_run(const unsigned char* s, unsigned char* d, int columns, int rows, int64_t pb, int64_t src_row,
                     int64_t dst_row) {
  if (Rows) rows = Rows;
  if (PixelBytes) pb = PixelBytes;
  for (int x = 0; x < columns; ++x, s += pb, d += dst_row)
    for (int k = 0; k < rows; ++k) std::memcpy(d + k * pb, s + k * src_row, pb);
}

// Eight rows of 8-byte pixels, 8 columns at a time: the 8 x 8 tile is moved
// through registers as four 4 x 4 transposes of 64-bit lanes, and each
// destination row of the tile is stored as one 64-byte line. Returns the
// columns done (whole tiles); the scalar copy finishes the rest.
Q4_SIMD_TARGET_AVX2 int transpose_run8_avx2(const unsigned char* s, unsigned char* d, int columns, int64_t src_row,
                                            int64_t dst_row) {
  int x = 0;
  for (; x + 8 <= columns; x += 8, s += 64, d += 8 * dst_row) {
    __m256i r[8][2];
    for (int k = 0; k < 8; ++k) {
      r[k][0] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + k * src_row));
      r[k][1] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + k * src_row + 32));
    }
    // Half h holds columns 4h..4h+3; group g rows 4g..4g+3, which land in
    // bytes 32g..32g+31 of those columns' destination rows.
    for (int h = 0; h < 2; ++h)
      for (int g = 0; g < 2; ++g) {
        const __m256i r0 = r[4 * g][h], r1 = r[4 * g + 1][h], r2 = r[4 * g + 2][h], r3 = r[4 * g + 3][h];
        const __m256i even01 = _mm256_unpacklo_epi64(r0, r1), odd01 = _mm256_unpackhi_epi64(r0, r1);
        const __m256i even23 = _mm256_unpacklo_epi64(r2, r3), odd23 = _mm256_unpackhi_epi64(r2, r3);
        unsigned char* out = d + 4 * h * dst_row + 32 * g;
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(even01, even23, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + dst_row), _mm256_permute2x128_si256(odd01, odd23, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * dst_row),
                            _mm256_permute2x128_si256(even01, even23, 0x31));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 3 * dst_row),
                            _mm256_permute2x128_si256(odd01, odd23, 0x31));
      }
  }
  return x;
}

// PixelBytes 0: the record's own pixel size, for the uncommon ones.
template <int PixelBytes>
void copy_block_rows(const transpose_block* b, int first, int last) {
  const int64_t pb = PixelBytes ? PixelBytes : b->src->pixel_bytes;
  const int64_t dst_row = b->dst->row_bytes, src_row = b->src->row_bytes;
  // Pixels of 1, 2 or 4 bytes fill a line (or come closer) with 16 rows.
  const int run = PixelBytes && PixelBytes < 8 ? kBlockRows : 8;
  const int y_end = b->y0 + b->h;
  const int ys = b->y0 + first * kBlockRows;
  const int ye = b->y0 + (last + 1) * kBlockRows < y_end ? b->y0 + (last + 1) * kBlockRows : y_end;
  const bool tiles = PixelBytes == 8 && q4_simd_use_avx2();
  for (int y = ys; y < ye; y += run) {
    const int rows = ye - y < run ? ye - y : run;
    const unsigned char* s = image_row(b->src, y) + b->x0 * pb;
    unsigned char* d = image_row(b->dst, b->x0) + y * pb;
    int x = 0;
    if (tiles && rows == 8) x = transpose_run8_avx2(s, d, b->w, src_row, dst_row);
    s += x * pb;
    d += x * dst_row;
    if (rows == 8)
      copy_run<8, PixelBytes>(s, d, b->w - x, rows, pb, src_row, dst_row);
    else if (rows == kBlockRows)
      copy_run<kBlockRows, PixelBytes>(s, d, b->w - x, rows, pb, src_row, dst_row);
    else
      copy_run<0, PixelBytes>(s, d, b->w - x, rows, pb, src_row, dst_row);
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
