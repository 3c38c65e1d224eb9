// Canny edge detection of the frame image: Gaussian smoothing and derivative
// of Gaussian in float planes, non-maximum suppression or plain magnitude,
// and hysteresis with thresholds estimated from the magnitudes.
#include <cmath>
#include <initializer_list>

#include "ImageQ4.h"
#include "image_rows.h"
#include "line_filter.h"

static const char* const kSourcePath = "Library/Q4Image";

// Worked in double: in single precision a tiny s squares to zero.
float ImageQ4::gauss(float x, float s) {
  if (s == 0.0f) return 0.0f;
  const double xd = x, sd = s;
  return static_cast<float>(std::exp(-xd * xd / (2.0 * sd * sd)));
}

float ImageQ4::meanGauss(float x, float s) {
  const double sd = s;
  const double sum = static_cast<double>(gauss(x, s)) + gauss(x + 0.5f, s) + gauss(x - 0.5f, s);
  return static_cast<float>(sum / 3.0 / (2.0 * 3.14159265358979323846 * sd * sd));
}

float ImageQ4::dGauss(float x, float s) { return (-x / (s * s)) * gauss(x, s); }

float ImageQ4::norm(float x, float y) { return std::sqrt(x * x + y * y); }

ImageQ4::floatCol** ImageQ4::f2d(int rows_count, int columns) {
  if (rows_count <= 0 || columns <= 0) return nullptr;
  floatCol** plane = static_cast<floatCol**>(
      q4_calloc(static_cast<unsigned>(rows_count), sizeof(floatCol*), kSourcePath, __LINE__));
  if (!plane) return nullptr;
  for (int r = 0; r < rows_count; ++r) {
    plane[r] = static_cast<floatCol*>(
        q4_calloc(static_cast<unsigned>(columns), sizeof(floatCol), kSourcePath, __LINE__));
    if (!plane[r]) {
      f2d_clean(plane, r, columns);  // a plug-in never ends its host: give back what was made
      return nullptr;
    }
  }
  return plane;
}

void ImageQ4::f2d_clean(floatCol** plane, int rows_count, int) {
  if (!plane) return;
  for (int r = 0; r < rows_count; ++r)
    if (plane[r]) q4_free(plane[r], kSourcePath, __LINE__);
  q4_free(plane, kSourcePath, __LINE__);
}

int ImageQ4::range(int row, int column) {
  return row >= 0 && row < op_canny_height && column >= 0 && column < op_canny_width ? 1 : 0;
}

namespace {

typedef float ImageQ4::floatCol::*PlaneChannel;
const PlaneChannel kPlaneChannels[4] = {&ImageQ4::floatCol::r, &ImageQ4::floatCol::g, &ImageQ4::floatCol::b,
                                        &ImageQ4::floatCol::a};

inline int wrap(long i, int n) {
  const long m = i % n;
  return static_cast<int>(m < 0 ? m + n : m);
}

}  // namespace

void ImageQ4::CannyEdge(float sigma, bool nonmax, float gain, bool hysteresis_on, PixelQ4* low, PixelQ4* high,
                        ImageQ4* src, int alpha) {
  if (!(sigma > 0.0f) || width <= 0 || height <= 0) return;
  // The source is read only while smoothing, before anything of this image
  // is written: this image itself serves as its own source.
  ImageQ4* source = line_filter_source(this, src);
  if (!source) return;
  ImageQ4* magnitude = new ImageQ4(width, height, 1.0f, nullptr, nullptr);
  if (magnitude->width != width || magnitude->height != height) {
    delete magnitude;
    return;
  }
  magnitude->Fill(0, 0, 0, 0);  // the passes write only what they reach
  op_src = source;
  op_low = low;
  op_high = high;
  op_nonmax = nonmax ? 1 : 0;
  op_hysteresis = hysteresis_on ? 1 : 0;
  op_magnitude_gain = 2.0f * gain;
  op_smoothing = 0.33783785f * sigma;
  op_canny_width = width;
  op_canny_height = height;
  op_alpha = alpha;
  op_magnitude = magnitude;
  if (canny()) {
    if (hysteresis_on)
      hysteresis();
    else
      CopyValues(magnitude, 1.0f, 1.0f, 1.0f, 1.0f);
  }
  op_magnitude = nullptr;
  delete magnitude;
}

bool ImageQ4::canny() {
  float gau[20], dgau[20];
  const float s = op_smoothing;
  int length = 20;
  float gau_sum = 0.0f, dgau_sum = 0.0f;
  for (int i = 0; i < 20; ++i) {
    gau[i] = meanGauss(static_cast<float>(i), s);
    gau_sum += gau[i];
    if (gau[i] < 0.005f) {
      length = i;
      break;
    }
    dgau[i] = dGauss(static_cast<float>(i), s);
    dgau_sum += dgau[i];
  }
  // A smoothing scale so small that its taps overflow forms no masks.
  if (!std::isfinite(gau_sum) || !std::isfinite(dgau_sum)) return false;
  for (int k = 0; k < length; ++k) gau[k] /= gau_sum;
  for (int k = 1; k < length; ++k) dgau[k] /= dgau_sum;  // the middle tap is 0 and never read
  op_mask_length = length;
  op_gau = gau;
  op_dgau = dgau;

  bool made = false;
  op_smx = f2d(height, width);
  op_smy = f2d(height, width);
  if (op_smx && op_smy) {
    MultiProcess(&ImageQ4::mp_seperable_convolution, height);
    op_dx = f2d(height, width);
    if (op_dx) {
      MultiProcess(&ImageQ4::mp_dxy_seperable_convolution_horz, height);
      f2d_clean(op_smx, height, width);
      op_smx = nullptr;
      op_dy = f2d(height, width);
    }
    if (op_dy) {
      MultiProcess(&ImageQ4::mp_dxy_seperable_convolution_vert, height);
      f2d_clean(op_smy, height, width);
      op_smy = nullptr;
      if (op_nonmax) {
        MultiProcess(&ImageQ4::mp_nonmax_suppress, height);
      } else {
        const int channels = op_alpha ? 4 : 3;
        for (int y = 0; y < height; ++y)
          for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c) {
              const PlaneChannel p = kPlaneChannels[c];
              op_magnitude->rows[y][x].*channel_member(c) =
                  clamp_truncate(norm(op_dx[y][x].*p, op_dy[y][x].*p) * op_magnitude_gain);
            }
      }
      made = true;
    }
  }
  for (floatCol*** plane : {&op_smx, &op_smy, &op_dx, &op_dy}) {
    f2d_clean(*plane, height, width);
    *plane = nullptr;
  }
  op_gau = op_dgau = nullptr;
  return made;
}

// Smoothing along x and along y, the image wrapping around at its edges.
void ImageQ4::mp_seperable_convolution(long first, long last) {
  const ImageQ4* src = worker_source(*this);
  if (!src || !op_smx || !op_smy) return;
  const int channels = op_alpha ? 4 : 3;
  for_band_groups<false>(*this, first, last, 1, [&](long y, int) {
    for (int x = 0; x < width; ++x)
      for (int c = 0; c < channels; ++c) {
        unsigned short PixelQ4::*const m = channel_member(c);
        const float p = src->rows[y][x].*m;
        float along_x = op_gau[0] * p, along_y = op_gau[0] * p;
        for (int k = 1; k < op_mask_length; ++k) {
          along_x += op_gau[k] * (static_cast<float>(src->rows[y][wrap(x + k, width)].*m) +
                                  static_cast<float>(src->rows[y][wrap(x - k, width)].*m));
          along_y += op_gau[k] * (static_cast<float>(src->rows[wrap(y + k, height)][x].*m) +
                                  static_cast<float>(src->rows[wrap(y - k, height)][x].*m));
        }
        op_smx[y][x].*kPlaneChannels[c] = along_x;
        op_smy[y][x].*kPlaneChannels[c] = along_y;
      }
  });
}

namespace {

// The derivative of Gaussian of a smoothed plane along its rows, or with
// Down along its columns, the plane wrapping around at its edges; the
// middle tap is 0.
template <bool Down>
void derivative_band(ImageQ4& image, long first, long last, ImageQ4::floatCol** from, ImageQ4::floatCol** to) {
  if (!from || !to) return;
  const int w = image.width, h = image.height, channels = image.op_alpha ? 4 : 3;
  for_band_groups<false>(image, first, last, 1, [&](long y, int) {
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < channels; ++c) {
        const PlaneChannel p = kPlaneChannels[c];
        float d = 0.0f;
        for (int k = 1; k < image.op_mask_length; ++k)
          d += image.op_dgau[k] * (Down ? from[wrap(y - k, h)][x].*p - from[wrap(y + k, h)][x].*p
                                        : from[y][wrap(x - k, w)].*p - from[y][wrap(x + k, w)].*p);
        to[y][x].*p = d;
      }
  });
}

}  // namespace

void ImageQ4::mp_dxy_seperable_convolution_horz(long first, long last) {
  derivative_band<false>(*this, first, last, op_smx, op_dx);
}

void ImageQ4::mp_dxy_seperable_convolution_vert(long first, long last) {
  derivative_band<true>(*this, first, last, op_smy, op_dy);
}

// A pixel keeps its magnitude only where it beats both neighbours across the
// edge, each interpolated between the two pixels the gradient passes.
void ImageQ4::mp_nonmax_suppress(long first, long last) {
  if (!op_dx || !op_dy || !op_magnitude) return;
  const int channels = op_alpha ? 4 : 3;
  const long from = first > 1 ? first : 1, to = last < height - 2 ? last : height - 2;
  for_band_groups<false>(*this, from, to, 1, [&](long y, int) {
    for (int x = 1; x < width - 1; ++x)
      for (int c = 0; c < channels; ++c) {
        const PlaneChannel p = kPlaneChannels[c];
        auto at = [&](long r, int col) { return norm(op_dx[r][col].*p, op_dy[r][col].*p); };
        unsigned short& out = op_magnitude->rows[y][x].*channel_member(c);
        out = 0;
        const float xc = op_dx[y][x].*p, yc = op_dy[y][x].*p;
        if (std::fabs(xc) < 0.01f && std::fabs(yc) < 0.01f) continue;
        const float g = norm(xc, yc);
        const bool same_sign = xc * yc > 0.0f;
        float g1, g2;
        if (std::fabs(yc) > std::fabs(xc)) {
          const float t = std::fabs(xc) / std::fabs(yc);
          g1 = t * (same_sign ? at(y - 1, x - 1) : at(y - 1, x + 1)) + (1 - t) * at(y - 1, x);
          g2 = t * (same_sign ? at(y + 1, x + 1) : at(y + 1, x - 1)) + (1 - t) * at(y + 1, x);
        } else {
          const float t = std::fabs(yc) / std::fabs(xc);
          g1 = t * (same_sign ? at(y + 1, x + 1) : at(y - 1, x + 1)) + (1 - t) * at(y, x + 1);
          g2 = t * (same_sign ? at(y - 1, x - 1) : at(y + 1, x - 1)) + (1 - t) * at(y, x - 1);
        }
        if (g > g1 && g > g2) out = clamp_truncate(g * op_magnitude_gain);
      }
  });
}

void ImageQ4::hysteresis() {
  if (!op_magnitude) return;
  const int channels = op_alpha ? 4 : 3;
  for (int c = 0; c < channels; ++c) {
    unsigned short PixelQ4::*const m = channel_member(c);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) rows[y][x].*m = 0;
    // Without the caller's pixels both thresholds are estimated.
    unsigned short own_low = 0, own_high = 0;
    unsigned short* low = op_low ? &(op_low->*m) : &own_low;
    unsigned short* high = op_high ? &(op_high->*m) : &own_high;
    if (!op_low || !op_high || *high < *low) estimate_thresh(high, low, c);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)
        if (op_magnitude->rows[y][x].*m >= *high) trace(y, x, *low, c);
  }
}

// The recursive rule (mark, then follow the first unmarked neighbour at or
// above `low`, in row-then-column order, and stop there once it returns)
// never goes back to a pixel it left: it is a walk, run here as a loop so
// that an edge of any length needs no stack.
int ImageQ4::trace(int row, int column, int low, int channel) {
  if (channel < 0 || channel > 3 || !op_magnitude || !range(row, column)) return 0;
  unsigned short PixelQ4::*const m = channel_member(channel);
  if (rows[row][column].*m != 0) return 0;
  int r = row, c = column;
  for (;;) {
    rows[r][c].*m = 32767;
    bool moved = false;
    for (int dr = -1; dr <= 1 && !moved; ++dr)
      for (int dc = -1; dc <= 1 && !moved; ++dc) {
        if ((dr == 0 && dc == 0) || !range(r + dr, c + dc)) continue;
        if (op_magnitude->rows[r + dr][c + dc].*m >= low && rows[r + dr][c + dc].*m == 0) {
          r += dr;
          c += dc;
          moved = true;
        }
      }
    if (!moved) return 1;
  }
}

void ImageQ4::estimate_thresh(unsigned short* high, unsigned short* low, int channel) {
  if (!high || !low || channel < 0 || channel > 3 || !op_magnitude) return;
  long* histogram = static_cast<long*>(q4_calloc(32768, sizeof(long), kSourcePath, __LINE__));
  if (!histogram) return;  // the thresholds stay as they were
  unsigned short PixelQ4::*const m = channel_member(channel);
  const int margin = op_mask_length;
  for (int y = margin; y <= height - margin - 1; ++y)
    for (int x = margin; x <= width - margin - 1; ++x) ++histogram[op_magnitude->rows[y][x].*m & 0x7FFF];
  long total = 0;
  for (int k = 1; k <= 32766; ++k) total += histogram[k];
  const long bound = static_cast<long>(total * 0.95);
  int h = 32767;
  long cumulative = 0;
  for (int k = 0; k <= 32766; ++k) {
    if (k > 0) cumulative += histogram[k];
    if (cumulative > bound) {
      h = k;
      break;
    }
  }
  int first_filled = 0;
  for (int k = 1; k <= 32767 && !first_filled; ++k)
    if (histogram[k]) first_filled = k;
  *high = static_cast<unsigned short>(h);
  *low = static_cast<unsigned short>(
      histogram[0] || !first_filled ? static_cast<int>(h * 0.5) : static_cast<int>((h + first_filled) * 0.5));
  q4_free(histogram, kSourcePath, __LINE__);
}
