#ifndef IMAGEQ4_H
#define IMAGEQ4_H

#include "PixelQ4.h"

struct renderop_tag;  // opaque; stored and copied, never read

// The frame image: width x height RGBA pixels of 15-bit channels in one
// contiguous block (row 0 first), reached through a table of row pointers.
// The size is fixed for the image's life. An image over caller storage never
// frees it; an image that allocated (or copied) its storage owns it.
//
// Whole-image operations leave their arguments in the op_* fields and run a
// band worker (a member taking an inclusive row range) over all rows through
// MultiProcess, so one image must not run two operations at once.
class ImageQ4 {
 public:
  typedef void (ImageQ4::*BandWorker)(long first_row, long last_row);

  ImageQ4(long width, long height, float aspect, PixelQ4* storage, renderop_tag* op);
  ImageQ4(int width, int height, float aspect, PixelQ4* storage, renderop_tag* op);
  ImageQ4(ImageQ4& src);
  ~ImageQ4();
  ImageQ4& operator=(const ImageQ4&) = delete;

  PixelQ4* storage;
  int owns_storage;

  // Operation parameters, set by an entry before its workers run.
  ImageQ4* op_src;
  ImageQ4* op_matte;
  int op_channel;
  int op_flag;
  int op_mode;
  int op_weight_a;
  int op_weight_c;

  PixelQ4** rows;
  int width;
  int height;
  double pixel_aspect;
  float scale;
  renderop_tag* render_op;
  int* gamma_table;  // 32768 entries, made by the first gamma map
  PixelQ4 background;

  // Runs worker over rows 0..count-1 split into one band per host worker;
  // returns what the host fork returns.
  int MultiProcess(BandWorker worker, long count);
  int AbortRender();

  // Bilinear sampling; neighbours outside the image contribute nothing.
  void PointSampleB(float x, float y, PixelQ4& out);
  void PointSampleD(float x, float y, PixelQ4& out);
  void PointSampleW(float x, float y, PixelQ4& out);
  void AreaSampleB(float x0, float y0, float x1, float y1, PixelQ4& out);
  void AreaSampleD(float x0, float y0, float x1, float y1, PixelQ4& out);
  void AreaSampleW(float x0, float y0, float x1, float y1, PixelQ4& out);
  void AreaSampleStart() {}
  void AreaSampleEnd() {}
  void ShiftIntensity(int) {}

  // Channel copies, HSV, matte merge and gamma maps (by bands).
  int CopyAlpha(ImageQ4* src);
  int CopyRGB(ImageQ4* src);
  int CopyR(ImageQ4* src);
  int CopyG(ImageQ4* src);
  int CopyB(ImageQ4* src);
  int CopyLumaToChannel(ImageQ4* src, int channel);
  int UseHSV(ImageQ4* src);
  int ReplaceHSV(ImageQ4* src);
  int Merge(ImageQ4* other, ImageQ4* matte, bool direct, int with_alpha);
  int MapGamma_RGBA(ImageQ4* src, float gamma);
  int MapGamma_Alpha(ImageQ4* src, float gamma);

  // Calling thread; covers the size both images share.
  void CopyValues(ImageQ4* src, float gain_r, float gain_g, float gain_b, float gain_a);

  // Mixing, cut-outs, fills, tables and the negative.
  void InBlend(float b, ImageQ4* src);
  int BlendBack(float b, ImageQ4* src);
  int BlendBackCol(float b, PixelQ4 colour);
  int CutOut(ImageQ4* matte, int channel, int invert, int alpha_mode);
  void Fill(unsigned short r, unsigned short g, unsigned short b, unsigned short a);
  void FillChannel(unsigned short value, unsigned short channel);
  void ApplyLUT(unsigned short* lut_r, unsigned short* lut_g, unsigned short* lut_b,
                unsigned short* lut_a);
  int Negative(ImageQ4* src);
  void Convolve() {}
  void Transform(double, double, double, double, double) {}
  void FourierFilter(float*, int, float, ImageQ4*, bool, bool) {}
  void RankFilter(long, long, long) {}

  // Float planes (width x height floats of the given image, row-major).
  void to_colour_diff(ImageQ4* src, float* lum, float* c1, float* c2, float curve);
  void from_colour_diff(ImageQ4* dst, float* lum, float* c1, float* c2, float curve);
  void get_alpha(ImageQ4* src, float* plane, float curve);
  void put_alpha(ImageQ4* dst, float* plane, float curve);
  static float hyperb(float x, float g);
  static float invhyperb(float y, float g);

  // Band workers.
  void mp_copy_alpha(long first, long last);
  void mp_copy_rgb(long first, long last);
  void mp_copy_r(long first, long last);
  void mp_copy_g(long first, long last);
  void mp_copy_b(long first, long last);
  void mp_copy_l2c(long first, long last);
  void mp_usehsv(long first, long last);
  void mp_replacehsv(long first, long last);
  void mp_Merge(long first, long last);
  void mp_map_gamma_rgba(long first, long last);
  void mp_map_gamma_alpha(long first, long last);
  void mp_blendback(long first, long last);
  void mp_blendbackcol(long first, long last);
  void mp_cutout(long first, long last);
  void mp_negative(long first, long last);

 private:
  void init(long width, long height, PixelQ4* storage, renderop_tag* op);
  int run_with_src(BandWorker worker, ImageQ4* src);
  void make_gamma_table(float gamma);
};

#endif
