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

  // Parameters of the frame-image filters (blurs, sharpening, edges).
  struct floatCol {  // one record of a float plane: R, G, B, A
    float r, g, b, a;
  };
  int op_first_channel = 0;     // one-channel workers: channels first..end-1
  int op_end_channel = 0;
  int op_alpha = 0;             // filter A too
  int op_clamp_edges = 0;       // exact Gaussian: repeat edge pixels, else leave taps out
  int op_clamp_to_15 = 0;       // exact Gaussian: the one-channel store rule
  double op_sigma = 0.0;        // Young-van Vliet
  double op_box_radius = 0.0;   // box-pass Gaussian
  double op_n_causal[5] = {};   // Deriche
  double op_n_anticausal[5] = {};
  double op_d_causal[5] = {};
  double op_d_anticausal[5] = {};
  double op_e_causal[5] = {};
  double op_e_anticausal[5] = {};
  int* op_kernel = nullptr;     // exact taps, or square sharpen / edge weights
  long op_kernel_count = 0;     // taps, or the side of the square
  long op_kernel_total = 0;     // sharpen: sum of the weights
  float op_gain = 0.0f;         // edge template output gain
  double op_amount = 0.0;       // sharpen
  PixelQ4* op_low = nullptr;    // Canny: the caller's thresholds
  PixelQ4* op_high = nullptr;
  int op_nonmax = 0;
  int op_hysteresis = 0;
  float op_magnitude_gain = 0.0f;
  float op_smoothing = 0.0f;    // Canny's s
  int op_canny_width = 0;
  int op_canny_height = 0;
  int op_mask_length = 0;
  float* op_gau = nullptr;
  float* op_dgau = nullptr;
  ImageQ4* op_magnitude = nullptr;  // Canny's working image
  floatCol** op_smx = nullptr;
  floatCol** op_smy = nullptr;
  floatCol** op_dx = nullptr;
  floatCol** op_dy = nullptr;

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

  // Edge detection: template (gradient) operators and Canny.
  void SobelEdge(float size, float gain, ImageQ4* src, int alpha);
  void GradientEdge(float size, float gain, ImageQ4* src, int alpha);
  void template_edge(int type, float size, float gain, ImageQ4* src, int alpha);
  void CannyEdge(float sigma, bool nonmax, float gain, bool hysteresis, PixelQ4* low, PixelQ4* high,
                 ImageQ4* src, int alpha);
  bool canny();
  void hysteresis();
  void estimate_thresh(unsigned short* high, unsigned short* low, int channel);
  int trace(int row, int column, int low, int channel);
  int range(int row, int column);
  floatCol** f2d(int rows, int columns);
  void f2d_clean(floatCol** plane, int rows, int columns);
  static float gauss(float x, float s);
  static float meanGauss(float x, float s);
  static float dGauss(float x, float s);
  static float norm(float x, float y);

  // Recursive Gaussians along rows, columns or both: Young-van Vliet, whose
  // radius gives sigma = 0.25 radius + 0.05, and Deriche, given sigma.
  void Fast_GaussianBlur(float radius, ImageQ4* src, int direction, int with_alpha);
  void Fast_GaussianBlur_Channel(float radius, ImageQ4* src, int direction, int channel, int keep_others);
  void Deriche_GaussianBlur(float sigma, ImageQ4* src, int direction, int with_alpha);
  void Deriche_GaussianBlur_Channel(float sigma, ImageQ4* src, int direction, int channel, int keep_others);
  static void make_coeffs(double sigma, double* n_causal, double* n_anticausal, double* d_causal,
                          double* d_anticausal, double* e_causal, double* e_anticausal);

  // Box-pass Gaussian (three box passes, fractional radii blended).
  void BoxBlur(float, float) {}
  void Box_GaussianBlur(float box_radius, ImageQ4* src, int direction, int with_alpha);
  void Box_GaussianBlur_Channel(float box_radius, ImageQ4* src, int direction, int channel, int keep_others);

  // Exact Gaussian (integer taps adding up to 65536) and unsharp masking.
  static int* gaussian_kernel(float radius, long* count, long* scale, long* shift);
  void Exact_GaussianBlur(float radius, int clamp_edges, ImageQ4* src, int direction, int with_alpha);
  void Exact_GaussianHoriz(float radius, int clamp_edges, ImageQ4* src, int with_alpha);
  void Exact_GaussianVert(float radius, int clamp_edges, ImageQ4* src, int with_alpha);
  void Exact_GaussianBlur_Channel(float radius, int clamp_edges, ImageQ4* src, int direction, int channel,
                                  int keep_others);
  void Exact_GaussianBlurHoriz_Channel(float radius, int clamp_edges, ImageQ4* src, int channel);
  void Exact_GaussianBlurVert_Channel(float radius, int clamp_edges, ImageQ4* src, int channel);
  static int* sharpen_kernel(float radius, long* size, long* total);
  void Sharpen(float radius, float amount, ImageQ4* src, int with_alpha);

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
  void mp_template_edge(long first, long last);
  void mp_seperable_convolution(long first, long last);
  void mp_dxy_seperable_convolution_horz(long first, long last);
  void mp_dxy_seperable_convolution_vert(long first, long last);
  void mp_nonmax_suppress(long first, long last);
  void mp_vl_fgb_horiz(long first, long last);
  void mp_vl_fgb_horiz_4(long first, long last);
  void mp_vl_fgb_horiz_3(long first, long last);
  void mp_vl_fgb_vert(long first, long last);
  void mp_vl_fgb_vert_4(long first, long last);
  void mp_vl_fgb_vert_3(long first, long last);
  void mp_fgb_horiz(long first, long last);
  void mp_fgb_horiz_4(long first, long last);
  void mp_fgb_horiz_3(long first, long last);
  void mp_fgb_vert(long first, long last);
  void mp_fgb_vert_4(long first, long last);
  void mp_fgb_vert_3(long first, long last);
  void mp_box_gauss_hor_4(long first, long last);
  void mp_box_gauss_hor_3(long first, long last);
  void mp_box_gauss_hor_1(long first, long last);
  void mp_box_gauss_vert_4(long first, long last);
  void mp_box_gauss_vert_3(long first, long last);
  void mp_box_gauss_vert_1(long first, long last);
  void mp_exact_gauss_horiz(long first, long last);
  void mp_exact_gauss_vert(long first, long last);
  void mp_sharpen(long first, long last);

 private:
  void init(long width, long height, PixelQ4* storage, renderop_tag* op);
  int run_with_src(BandWorker worker, ImageQ4* src);
  void make_gamma_table(float gamma);
  // worker from src through the gamma table of `gamma`; 0 without src or table.
  int run_gamma_map(BandWorker worker, ImageQ4* src, float gamma);
  // Separable filters: the horizontal worker over rows, the vertical one over
  // columns, or both one after the other (direction 0, 1, 2).
  void run_line_passes(ImageQ4* src, int direction, BandWorker horizontal, BandWorker vertical);
  // The same for the one-channel entries: `channel` alone (none when it
  // names none), after the other channels are copied from src or cleared.
  void run_channel_passes(ImageQ4* src, int direction, int channel, int keep_others, BandWorker horizontal,
                          BandWorker vertical);
  // A filter whose pixels read their neighbours: worker over all rows,
  // reading src, or this image when src is null or this image.
  void run_area_filter(ImageQ4* src, BandWorker worker);
  void exact_pass(float radius, int clamp_edges, ImageQ4* src, int first_channel, int end_channel,
                  bool one_channel, bool vertical);

  void* storage_block;  // what the image heap gave, when the image owns it
};

#endif
