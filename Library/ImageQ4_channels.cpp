// Channel copies, HSV conversion, matte merge and gamma maps.
#include <cmath>

#include "ImageQ4.h"
#include "image_rows.h"
#include "q4_memory.h"

static const char* const kSourcePath = "Library/Q4Image";

int ImageQ4::run_with_src(BandWorker worker, ImageQ4* src) {
  if (!src) return 0;
  op_src = src;
  return MultiProcess(worker, height);
}

int ImageQ4::CopyAlpha(ImageQ4* src) { return run_with_src(&ImageQ4::mp_copy_alpha, src); }
int ImageQ4::CopyRGB(ImageQ4* src) { return run_with_src(&ImageQ4::mp_copy_rgb, src); }
int ImageQ4::CopyR(ImageQ4* src) { return run_with_src(&ImageQ4::mp_copy_r, src); }
int ImageQ4::CopyG(ImageQ4* src) { return run_with_src(&ImageQ4::mp_copy_g, src); }
int ImageQ4::CopyB(ImageQ4* src) { return run_with_src(&ImageQ4::mp_copy_b, src); }
int ImageQ4::UseHSV(ImageQ4* src) { return run_with_src(&ImageQ4::mp_usehsv, src); }
int ImageQ4::ReplaceHSV(ImageQ4* src) { return run_with_src(&ImageQ4::mp_replacehsv, src); }

int ImageQ4::CopyLumaToChannel(ImageQ4* src, int channel) {
  op_channel = channel;
  return run_with_src(&ImageQ4::mp_copy_l2c, src);
}

int ImageQ4::Merge(ImageQ4* other, ImageQ4* matte, bool direct, int with_alpha) {
  if (!matte) return 0;
  op_matte = matte;
  op_flag = direct ? 1 : 0;
  op_mode = with_alpha;
  return run_with_src(&ImageQ4::mp_Merge, other);
}

void ImageQ4::make_gamma_table(float gamma) {
  if (!gamma_table)
    gamma_table = static_cast<int*>(q4_malloc(32768 * sizeof(int), kSourcePath, __LINE__));
  if (!gamma_table) return;
  const float step = 3.0518509e-5f;  // 1 / 32767
  const float exponent = 1.0f / gamma;
  for (int i = 0; i < 32768; ++i) {
    const float v = std::pow(static_cast<float>(i) * step, exponent) * 32768.0f + 0.5f;
    gamma_table[i] = v < 32768.0f ? static_cast<int>(v) : 32768;  // NaN too
  }
}

int ImageQ4::run_gamma_map(BandWorker worker, ImageQ4* src, float gamma) {
  if (!src) return 0;
  make_gamma_table(gamma);
  if (!gamma_table) return 0;
  return run_with_src(worker, src);
}

int ImageQ4::MapGamma_RGBA(ImageQ4* src, float gamma) { return run_gamma_map(&ImageQ4::mp_map_gamma_rgba, src, gamma); }
int ImageQ4::MapGamma_Alpha(ImageQ4* src, float gamma) {
  return run_gamma_map(&ImageQ4::mp_map_gamma_alpha, src, gamma);
}

void ImageQ4::mp_copy_alpha(long first, long last) {
  for_source_pixels(*this, first, last, [](const PixelQ4& in, PixelQ4& out) { out.a = in.a; });
}

void ImageQ4::mp_copy_rgb(long first, long last) {
  for_source_pixels(*this, first, last, [](const PixelQ4& in, PixelQ4& out) {
    out.r = in.r;
    out.g = in.g;
    out.b = in.b;
  });
}

void ImageQ4::mp_copy_r(long first, long last) {
  for_source_pixels(*this, first, last, [](const PixelQ4& in, PixelQ4& out) { out.r = in.r; });
}

void ImageQ4::mp_copy_g(long first, long last) {
  for_source_pixels(*this, first, last, [](const PixelQ4& in, PixelQ4& out) { out.g = in.g; });
}

void ImageQ4::mp_copy_b(long first, long last) {
  for_source_pixels(*this, first, last, [](const PixelQ4& in, PixelQ4& out) { out.b = in.b; });
}

void ImageQ4::mp_copy_l2c(long first, long last) {
  unsigned short PixelQ4::*channel = channel_member(op_channel);
  if (!channel) return;
  for_source_pixels(*this, first, last, [channel](const PixelQ4& in, PixelQ4& out) { in.GetLuminance(out.*channel); });
}

void ImageQ4::mp_usehsv(long first, long last) {
  for_source_pixels(*this, first, last, [](const PixelQ4& in, PixelQ4& out) {
    PixelQ4 p;
    in.GetHSV(p.r, p.g, p.b);
    p.a = in.a;
    out = p;
  });
}

void ImageQ4::mp_replacehsv(long first, long last) {
  for_source_pixels(*this, first, last, [](const PixelQ4& in, PixelQ4& out) {
    PixelQ4 p = in;
    p.SetHSV(in.r, in.g, in.b);
    out = p;
  });
}

void ImageQ4::mp_Merge(long first, long last) {
  for_common_rows(*this, first, last, op_src, op_matte, [&](long y, int cols) {
    const PixelQ4* other = op_src->rows[y];
    const PixelQ4* matte = op_matte->rows[y];
    PixelQ4* out = rows[y];
    for (int x = 0; x < cols; ++x) {
      const int red = matte[x].r > 32767 ? 32767 : matte[x].r;
      const int k = op_flag ? red : 32767 - red;
      const int j = 32767 - k;
      out[x].r = static_cast<unsigned short>((out[x].r * k + other[x].r * j) >> 15);
      out[x].g = static_cast<unsigned short>((out[x].g * k + other[x].g * j) >> 15);
      out[x].b = static_cast<unsigned short>((out[x].b * k + other[x].b * j) >> 15);
      if (op_mode) out[x].a = static_cast<unsigned short>((out[x].a * k + other[x].a * j) >> 15);
    }
  });
}

namespace {

inline unsigned short gamma_of(const int* table, unsigned short value) {
  const int v = table[value > 32767 ? 32767 : value];
  return static_cast<unsigned short>(v > 32767 ? 32767 : v);
}

}  // namespace

void ImageQ4::mp_map_gamma_rgba(long first, long last) {
  const int* table = gamma_table;
  for_source_pixels(*this, first, last, [table](const PixelQ4& in, PixelQ4& out) {
    out.r = gamma_of(table, in.r);
    out.g = gamma_of(table, in.g);
    out.b = gamma_of(table, in.b);
    out.a = gamma_of(table, in.a);
  });
}

void ImageQ4::mp_map_gamma_alpha(long first, long last) {
  const int* table = gamma_table;
  for_source_pixels(*this, first, last, [table](const PixelQ4& in, PixelQ4& out) { out.a = gamma_of(table, in.a); });
}
