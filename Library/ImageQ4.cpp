// Construction, ownership, sampling and the band executor of the frame image.
#include "ImageQ4.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "member_bands.h"
#include "q4_memory.h"

static const char* const kSourcePath = "Library/Q4Image";

// Bands of columns on different workers read and write the same rows: with
// pixels that start on a cache line, a group of 8 columns is one line of
// each row and no two bands write into one line. The C library's large
// blocks start 16 bytes into a page.
static const uint64_t kLineBytes = 64;

static PixelQ4* on_a_line(void* block) {
  if (!block) return nullptr;
  const uintptr_t address = reinterpret_cast<uintptr_t>(block);
  return reinterpret_cast<PixelQ4*>(address + (kLineBytes - address % kLineBytes) % kLineBytes);
}

ImageQ4::ImageQ4(long width, long height, float, PixelQ4* storage, renderop_tag* op) {
  init(width, height, storage, op);
}

ImageQ4::ImageQ4(int width, int height, float, PixelQ4* storage, renderop_tag* op) {
  init(width, height, storage, op);
}

ImageQ4::ImageQ4(ImageQ4& src) {
  init(src.width, src.height, nullptr, src.render_op);
  if (storage && src.storage)
    std::memcpy(storage, src.storage,
                static_cast<size_t>(width) * static_cast<size_t>(height) * sizeof(PixelQ4));
  pixel_aspect = src.pixel_aspect;
  scale = src.scale;
}

void ImageQ4::init(long w, long h, PixelQ4* pixels, renderop_tag* op) {
  op_src = op_matte = nullptr;
  op_channel = op_flag = op_mode = op_weight_a = op_weight_c = 0;
  gamma_table = nullptr;
  background = PixelQ4{0, 0, 0, 0};
  render_op = op;
  pixel_aspect = 1.0;
  width = w > 0 ? static_cast<int>(w) : 0;
  height = h > 0 ? static_cast<int>(h) : 0;
  storage = pixels;
  storage_block = nullptr;
  owns_storage = 0;
  rows = nullptr;

  const uint64_t bytes = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * sizeof(PixelQ4);
  const uint64_t row_bytes = static_cast<uint64_t>(height) * sizeof(PixelQ4*);
  // An image too large for the heap, or one the heap refuses, is made empty
  // so that no operation can reach storage it does not have.
  if (bytes + kLineBytes > UINT32_MAX || row_bytes > UINT32_MAX) width = height = 0;
  if (!storage && width > 0 && height > 0) {
    storage_block = q4_image_malloc(static_cast<unsigned>(bytes + kLineBytes - 1), kSourcePath, __LINE__);
    storage = on_a_line(storage_block);
    owns_storage = storage ? 1 : 0;
    if (storage) q4_prefer_huge_pages(storage_block, bytes);
  }
  if (height > 0 && storage)
    rows = static_cast<PixelQ4**>(q4_malloc(static_cast<unsigned>(row_bytes), kSourcePath, __LINE__));
  if (!rows) {
    if (owns_storage) q4_image_free(storage_block, kSourcePath, __LINE__);
    if (owns_storage || !pixels) storage = nullptr;
    storage_block = nullptr;
    owns_storage = 0;
    width = height = 0;
  } else {
    for (int y = 0; y < height; ++y) rows[y] = storage + static_cast<size_t>(y) * width;
  }
  scale = width > 0 ? static_cast<float>(720.0 / width) : 0.0f;
}

ImageQ4::~ImageQ4() {
  if (owns_storage) q4_image_free(storage_block, kSourcePath, __LINE__);
  if (rows) q4_free(rows, kSourcePath, __LINE__);
  if (gamma_table) q4_free(gamma_table, kSourcePath, __LINE__);
}

int ImageQ4::AbortRender() { return 0; }

int ImageQ4::MultiProcess(BandWorker worker, long count) { return fork_member_bands(this, worker, count); }

void ImageQ4::PointSampleB(float x, float y, PixelQ4& out) {
  out = PixelQ4{0, 0, 0, 0};
  // Beyond these bounds every neighbour is outside or has weight 0; this
  // also keeps non-finite and huge coordinates away from integer conversion.
  if (!(x > -1.0f && x < static_cast<float>(width) && y > -1.0f && y < static_cast<float>(height)))
    return;
  const double fx0 = std::floor(static_cast<double>(x));
  const double fy0 = std::floor(static_cast<double>(y));
  const int x0 = static_cast<int>(fx0), y0 = static_cast<int>(fy0);
  const int fx = static_cast<int>((x - fx0) * 32768.0);
  const int fy = static_cast<int>((y - fy0) * 32768.0);
  const int w00 = ((32768 - fx) * (32768 - fy)) >> 15;
  const int w10 = (fx * (32768 - fy)) >> 15;
  const int w01 = ((32768 - fx) * fy) >> 15;
  const int w11 = 32768 - (w00 + w10 + w01);
  const int xs[4] = {x0, x0 + 1, x0, x0 + 1};
  const int ys[4] = {y0, y0, y0 + 1, y0 + 1};
  const int ws[4] = {w00, w10, w01, w11};
  uint32_t sum[4] = {0, 0, 0, 0};
  for (int k = 0; k < 4; ++k) {
    if (xs[k] < 0 || xs[k] >= width || ys[k] < 0 || ys[k] >= height) continue;
    const PixelQ4& p = rows[ys[k]][xs[k]];
    const uint32_t w = static_cast<uint32_t>(ws[k]);
    sum[0] += w * p.r;
    sum[1] += w * p.g;
    sum[2] += w * p.b;
    sum[3] += w * p.a;
  }
  out.r = static_cast<unsigned short>(sum[0] >> 15);
  out.g = static_cast<unsigned short>(sum[1] >> 15);
  out.b = static_cast<unsigned short>(sum[2] >> 15);
  out.a = static_cast<unsigned short>(sum[3] >> 15);
}

void ImageQ4::PointSampleD(float x, float y, PixelQ4& out) { PointSampleB(x, y, out); }

void ImageQ4::PointSampleW(float x, float y, PixelQ4& out) { PointSampleB(x, y, out); }

void ImageQ4::AreaSampleB(float x0, float y0, float x1, float y1, PixelQ4& out) {
  PointSampleB((x0 + x1) / 2, (y0 + y1) / 2, out);
}

void ImageQ4::AreaSampleD(float x0, float y0, float x1, float y1, PixelQ4& out) {
  AreaSampleB(x0, y0, x1, y1, out);
}

void ImageQ4::AreaSampleW(float x0, float y0, float x1, float y1, PixelQ4& out) {
  AreaSampleB(x0, y0, x1, y1, out);
}

namespace {

unsigned short gained(unsigned short value, float gain) {
  const long double v = static_cast<long double>(value) * gain;
  if (!(v > 0.0L)) return 0;
  if (v >= 32767.0L) return 32767;
  return static_cast<unsigned short>(static_cast<int>(v));
}

}  // namespace

void ImageQ4::CopyValues(ImageQ4* src, float gain_r, float gain_g, float gain_b, float gain_a) {
  if (!src) return;
  const int w = src->width < width ? src->width : width;
  const int h = src->height < height ? src->height : height;
  if (w <= 0 || h <= 0) return;
  if (gain_r == 1.0f && gain_g == 1.0f && gain_b == 1.0f && gain_a == 1.0f) {
    for (int y = 0; y < h; ++y) std::memmove(rows[y], src->rows[y], static_cast<size_t>(w) * sizeof(PixelQ4));
    return;
  }
  for (int y = 0; y < h; ++y) {
    const PixelQ4* in = src->rows[y];
    PixelQ4* out = rows[y];
    for (int x = 0; x < w; ++x) {
      out[x].r = gained(in[x].r, gain_r);
      out[x].g = gained(in[x].g, gain_g);
      out[x].b = gained(in[x].b, gain_b);
      out[x].a = gained(in[x].a, gain_a);
    }
  }
}
