#include "image_sample.h"

#include <cmath>
#include <cstdint>
#include <type_traits>

namespace {

const int kMaxChannels = 64;  // accumulators per pass; wider pixels go in chunks
const double kMaxPosition = 1.0e9;
const double kMaxFootprint = 1.0e6;

double bounded(double v, double limit) {
  if (!(v > -limit)) return -limit;
  return v < limit ? v : limit;
}

double footprint(double s) { return s > 1.0 ? (s < kMaxFootprint ? s : kMaxFootprint) : 1.0; }

int table_index(double distance, double step, int top) {
  int t = static_cast<int>(distance * step);
  if (t < 0) t = -t;
  return t > top ? top : t;
}

// One pass's accumulator: divided by its weight sum where the pass
// normalises (a zero sum gives 0), else the fixed-point weights shifted out.
template <bool Fixed, typename acc_t>
acc_t normalised(acc_t v, bool normalise, acc_t sum, int shift) {
  if constexpr (Fixed) {
    if (normalise) return sum == 0 ? 0 : v / sum;
    return v < 0 ? 0 : v >> shift;
  } else {
    if (normalise) return sum == 0 ? 0.0 : v * (1.0 / sum);
    return v;
  }
}

// Fixed selects the integer path (10-bit weights, integer division and
// shifts); otherwise double weights and reciprocal normalisation.
template <typename T, bool Fixed, typename Out>
void sample(const image_data* img, double x, double y, double sx, double sy, Out* out, int count,
            const ImagelibKernel* kernel) {
  typedef typename std::conditional<Fixed, int64_t, double>::type acc_t;
  const double fx = footprint(sx), fy = footprint(sy);
  const bool box = kernel->normalises_magnification();
  const bool norm_x = fx > 1.0 || box, norm_y = fy > 1.0 || box;
  const double spu = kernel->samples_per_unit;
  const double xstep = fx > 1.0 ? spu / fx : spu;
  const double ystep = fy > 1.0 ? spu / fy : spu;
  x = bounded(x, kMaxPosition);
  y = bounded(y, kMaxPosition);
  const int top = kernel->radius * kernel->samples_per_unit;
  const int x0 = static_cast<int>(std::ceil(x - kernel->radius * fx));
  const int x1 = static_cast<int>(std::floor(x + kernel->radius * fx));
  const int y0 = static_cast<int>(std::ceil(y - kernel->radius * fy));
  const int y1 = static_cast<int>(std::floor(y + kernel->radius * fy));
  const int ch = img->channels;
  const double ceiling = img->pixel_type == IMAGE_PIXEL_FLOAT ? 3.4028235e38 : image_full_scale(img->pixel_type);
  const int shift = kernel->fixed_shift;

  for (int c0 = 0; c0 < count; c0 += kMaxChannels) {
    const int nc = count - c0 < kMaxChannels ? count - c0 : kMaxChannels;
    acc_t total[kMaxChannels] = {};
    acc_t ysum = 0;
    for (int j = y0; j <= y1; ++j) {
      const int row = imagelib_edge_map(j, img->height, kernel->y_edge_mode);
      const T* line = row >= 0 ? reinterpret_cast<const T*>(image_row(img, row)) : nullptr;
      acc_t racc[kMaxChannels] = {};
      acc_t xsum = 0;
      for (int i = x0; i <= x1; ++i) {
        const int col = imagelib_edge_map(i, img->width, kernel->x_edge_mode);
        const int t = table_index(i - x, xstep, top);
        const acc_t w = Fixed ? static_cast<acc_t>(kernel->fixed_table[t]) : static_cast<acc_t>(kernel->table[t]);
        if (line && col >= 0) {
          const T* p = line + static_cast<int64_t>(col) * ch + c0;
          for (int c = 0; c < nc; ++c) racc[c] += static_cast<acc_t>(p[c]) * w;
        }
        if (norm_x) xsum += w;
      }
      for (int c = 0; c < nc; ++c) {
        const acc_t v = normalised<Fixed>(racc[c], norm_x, xsum, shift);
        racc[c] = v < 0 ? 0 : v;
      }
      const int t = table_index(j - y, ystep, top);
      const acc_t yw = Fixed ? static_cast<acc_t>(kernel->fixed_table[t]) : static_cast<acc_t>(kernel->table[t]);
      for (int c = 0; c < nc; ++c) total[c] += racc[c] * yw;
      if (norm_y) ysum += yw;
    }
    for (int c = 0; c < nc; ++c) {
      acc_t v = normalised<Fixed>(total[c], norm_y, ysum, shift);
      if (!(v > 0)) v = 0;  // NaN too
      if (v > ceiling) v = static_cast<acc_t>(ceiling);
      out[c0 + c] = static_cast<Out>(v);
    }
  }
}

bool kernel_usable(const ImagelibKernel* kernel) { return kernel && kernel->valid; }

void clear(double* out, int n) {
  for (int i = 0; i < n; ++i) out[i] = 0.0;
}

void scale_results(image_data* img, double* out, int n) {
  const double inv = 1.0 / image_full_scale(img->pixel_type);
  for (int i = 0; i < n && i < img->channels; ++i) out[i] *= inv;
}

}  // namespace

bool image_data_get_point_value(image_data* img, double x, double y, double sx, double sy, double* out,
                                int n, ImagelibKernel* kernel) {
  if (!img || !img->pixels || !out || !kernel_usable(kernel)) return false;
  clear(out, n);
  const int count = n < img->channels ? n : img->channels;
  switch (img->pixel_type) {
    case IMAGE_PIXEL_BYTE: sample<uint8_t, false>(img, x, y, sx, sy, out, count, kernel); break;
    case IMAGE_PIXEL_WORD: sample<uint16_t, false>(img, x, y, sx, sy, out, count, kernel); break;
    case IMAGE_PIXEL_WORD32: sample<uint32_t, false>(img, x, y, sx, sy, out, count, kernel); break;
    case IMAGE_PIXEL_FLOAT: sample<float, false>(img, x, y, sx, sy, out, count, kernel); break;
    default: return false;
  }
  return true;
}

bool image_data_get_point_value(image_data* img, double x, double y, double* out, int n,
                                ImagelibKernel* kernel) {
  return image_data_get_point_value(img, x, y, 1.0, 1.0, out, n, kernel);
}

bool image_data_get_point_value_norm(image_data* img, double x, double y, double sx, double sy,
                                     double* out, int n, ImagelibKernel* kernel) {
  if (!image_data_get_point_value(img, x, y, sx, sy, out, n, kernel)) return false;
  scale_results(img, out, n);
  return true;
}

bool image_data_get_point_value_norm(image_data* img, double x, double y, double* out, int n,
                                     ImagelibKernel* kernel) {
  return image_data_get_point_value_norm(img, x, y, 1.0, 1.0, out, n, kernel);
}

bool image_data_get_point_norm_value(image_data* img, double x, double y, double sx, double sy,
                                     double* out, int n, ImagelibKernel* kernel) {
  if (!img) return false;
  return image_data_get_point_value(img, x * img->width, y * img->height, sx * img->width, sy * img->height,
                                    out, n, kernel);
}

bool image_data_get_point_norm_value(image_data* img, double x, double y, double* out, int n,
                                     ImagelibKernel* kernel) {
  if (!img) return false;
  return image_data_get_point_value(img, x * img->width, y * img->height, out, n, kernel);
}

bool image_data_get_point_norm_value_norm(image_data* img, double x, double y, double sx, double sy,
                                          double* out, int n, ImagelibKernel* kernel) {
  if (!image_data_get_point_norm_value(img, x, y, sx, sy, out, n, kernel)) return false;
  scale_results(img, out, n);
  return true;
}

bool image_data_get_point_norm_value_norm(image_data* img, double x, double y, double* out, int n,
                                          ImagelibKernel* kernel) {
  if (!image_data_get_point_norm_value(img, x, y, out, n, kernel)) return false;
  scale_results(img, out, n);
  return true;
}

bool image_data_get_point_value_int(image_data* img, double x, double y, double sx, double sy, int* out,
                                    int n, ImagelibKernel* kernel) {
  if (!img || !img->pixels || !out) return false;
  if (img->pixel_type != IMAGE_PIXEL_BYTE && img->pixel_type != IMAGE_PIXEL_WORD) return false;
  if (!kernel_usable(kernel)) return false;
  for (int i = 0; i < n; ++i) out[i] = 0;
  const int count = n < img->channels ? n : img->channels;
  if (img->pixel_type == IMAGE_PIXEL_BYTE)
    sample<uint8_t, true>(img, x, y, sx, sy, out, count, kernel);
  else
    sample<uint16_t, true>(img, x, y, sx, sy, out, count, kernel);
  return true;
}
