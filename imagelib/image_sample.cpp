#include "image_sample.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>

#include "q4_memory.h"

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

// One pass's accumulator divided by the weight sum of its taps (a zero sum
// gives 0). Without a footprint the sum is not one either: the tables are
// read at truncated distances, the fixed entries are rounded one by one,
// and the Lanczos-2 taps sum to up to 1.021, so a uniform image would come
// back brighter.
template <bool Fixed, typename acc_t>
acc_t normalised(acc_t v, acc_t sum) {
  if (sum == 0) return 0;
  if constexpr (Fixed)
    return v / sum;
  else
    return v * (1.0 / sum);
}

// The taps of one axis of the kernel window, reduced to what can reach a
// sample: the stored index and weight of each tap that maps inside the
// image, in tap order. When the window holds more taps than the axis has
// samples, the edge mode folds several onto one index; their weights are
// then summed per index, so the two-dimensional sum costs at most the
// image. `sum` is the weight of every tap of the window, those mapping
// outside included.
template <bool Fixed, typename acc_t>
class AxisTaps {
 public:
  AxisTaps() = default;
  AxisTaps(const AxisTaps&) = delete;
  AxisTaps& operator=(const AxisTaps&) = delete;
  ~AxisTaps() {
    if (heap_) q4_free(heap_, __FILE__, __LINE__);
  }

  // False when the taps do not fit the local store and memory is short.
  bool gather(const ImagelibKernel* kernel, double centre, double fp, double step, int size, int mode) {
    kernel_ = kernel;
    centre_ = centre;
    step_ = step;
    size_ = size;
    mode_ = mode;
    const int lo = static_cast<int>(std::ceil(centre - kernel->radius * fp));
    const int hi = static_cast<int>(std::floor(centre + kernel->radius * fp));
    const int64_t taps = static_cast<int64_t>(hi) - lo + 1;
    fold_ = taps > size;
    const int capacity = fold_ ? size : static_cast<int>(taps < 0 ? 0 : taps);
    weight = local_weight_;
    at = local_at_;
    if (capacity > kLocal) {
      heap_ = q4_malloc(static_cast<unsigned>(capacity * (sizeof(acc_t) + sizeof(int))), __FILE__, __LINE__);
      if (!heap_) return false;
      weight = static_cast<acc_t*>(heap_);
      at = reinterpret_cast<int*>(weight + capacity);
    }
    count = 0;
    sum = 0;
    everywhere_ = 0;
    if (fold_) {
      for (int k = 0; k < size; ++k) {
        weight[k] = 0;
        at[k] = k;
      }
      count = size;
    }
    // A stretched kernel gives long runs of taps the same table entry; a
    // long folded window is taken a run at a time (the index only grows
    // with the distance from the centre, on either side of it).
    const bool runs = fold_ && taps > kLongWindow;
    const int right = static_cast<int>(std::min(std::max(std::ceil(centre), static_cast<double>(lo)), hi + 1.0));
    for (int i = lo; i <= hi;) {
      const int t = entry(i);
      const int last = runs ? last_with_entry(i, i < right ? right - 1 : hi, t) : i;
      add_run(i, last, Fixed ? static_cast<acc_t>(kernel->fixed_table[t]) : static_cast<acc_t>(kernel->table[t]));
      i = last + 1;
    }
    if (everywhere_ != 0) {
      const acc_t share = mode == IMAGELIB_EDGE_MIRROR ? 2 * everywhere_ : everywhere_;
      for (int k = 0; k < size; ++k) weight[k] += share;
    }
    return true;
  }

  int count = 0;
  acc_t sum = 0;
  int* at = nullptr;
  acc_t* weight = nullptr;

 private:
  enum { kLocal = 64, kLongWindow = 4096 };

  int entry(int i) const { return table_index(i - centre_, step_, kernel_->radius * kernel_->samples_per_unit); }

  // The last tap of first..end with table entry t; the entries of the
  // range only grow or only shrink, and first has entry t.
  int last_with_entry(int first, int end, int t) const {
    while (first < end) {
      const int mid = first + (end - first + 1) / 2;
      if (entry(mid) == t)
        first = mid;
      else
        end = mid - 1;
    }
    return first;
  }

  // Taps a..b, all of weight w.
  void add_run(int a, int b, acc_t w) {
    sum += w * static_cast<acc_t>(static_cast<int64_t>(b) - a + 1);
    if (!fold_) {
      const int m = imagelib_edge_map(a, size_, mode_);
      if (m >= 0) {
        at[count] = m;
        weight[count++] = w;
      }
      return;
    }
    for (int m = std::max(a, 0); m <= std::min(b, size_ - 1); ++m) weight[m] += w;
    if (a < 0) add_outside(a, std::min(b, -1), w);
    if (b >= size_) add_outside(std::max(a, size_), b, w);
  }

  // Taps a..b, all on one side outside the image.
  void add_outside(int a, int b, acc_t w) {
    const int64_t length = static_cast<int64_t>(b) - a + 1;
    if (mode_ == IMAGELIB_EDGE_ZERO) return;
    if (mode_ != IMAGELIB_EDGE_WRAP && mode_ != IMAGELIB_EDGE_MIRROR) {
      weight[imagelib_edge_map(a, size_, mode_)] += w * static_cast<acc_t>(length);
      return;
    }
    // Outside, the wrap repeats every size taps and the mirror every two
    // sizes, each sample once or twice a period.
    const int period = mode_ == IMAGELIB_EDGE_WRAP ? size_ : 2 * size_;
    everywhere_ += w * static_cast<acc_t>(length / period);
    for (int k = 0; k < length % period; ++k) weight[imagelib_edge_map(a + k, size_, mode_)] += w;
  }

  const ImagelibKernel* kernel_ = nullptr;
  double centre_ = 0.0, step_ = 0.0;
  int size_ = 0, mode_ = 0;
  bool fold_ = false;
  acc_t everywhere_ = 0;  // weight every sample takes once a period
  int local_at_[kLocal];
  acc_t local_weight_[kLocal];
  void* heap_ = nullptr;
};

// Fixed selects the integer path (10-bit weights, integer division);
// otherwise double weights and reciprocal normalisation. Clears
// out[0..n-1] and writes the first `count`; false, out untouched, when
// memory for a wide window is short.
template <typename T, bool Fixed, typename Out>
bool sample(const image_data* img, double x, double y, double sx, double sy, Out* out, int n, int count,
            const ImagelibKernel* kernel) {
  typedef typename std::conditional<Fixed, int64_t, double>::type acc_t;
  const double fx = footprint(sx), fy = footprint(sy);
  const double spu = kernel->samples_per_unit;
  AxisTaps<Fixed, acc_t> ax, ay;
  if (!ax.gather(kernel, bounded(x, kMaxPosition), fx, fx > 1.0 ? spu / fx : spu, img->width, kernel->x_edge_mode) ||
      !ay.gather(kernel, bounded(y, kMaxPosition), fy, fy > 1.0 ? spu / fy : spu, img->height, kernel->y_edge_mode))
    return false;
  for (int i = 0; i < n; ++i) out[i] = 0;
  const int ch = img->channels;
  const double ceiling = img->pixel_type == IMAGE_PIXEL_FLOAT ? 3.4028235e38 : image_full_scale(img->pixel_type);

  for (int c0 = 0; c0 < count; c0 += kMaxChannels) {
    const int nc = count - c0 < kMaxChannels ? count - c0 : kMaxChannels;
    acc_t total[kMaxChannels] = {};
    for (int e = 0; e < ay.count; ++e) {
      const T* line = reinterpret_cast<const T*>(image_row(img, ay.at[e])) + c0;
      acc_t racc[kMaxChannels] = {};
      for (int k = 0; k < ax.count; ++k) {
        const T* p = line + static_cast<int64_t>(ax.at[k]) * ch;
        const acc_t w = ax.weight[k];
        for (int c = 0; c < nc; ++c) racc[c] += static_cast<acc_t>(p[c]) * w;
      }
      const acc_t yw = ay.weight[e];
      for (int c = 0; c < nc; ++c) {
        const acc_t v = normalised<Fixed>(racc[c], ax.sum);
        total[c] += (v < 0 ? 0 : v) * yw;
      }
    }
    for (int c = 0; c < nc; ++c) {
      acc_t v = normalised<Fixed>(total[c], ay.sum);
      if (!(v > 0)) v = 0;  // NaN too
      if (v > ceiling) v = static_cast<acc_t>(ceiling);
      out[c0 + c] = static_cast<Out>(v);
    }
  }
  return true;
}

bool kernel_usable(const ImagelibKernel* kernel) { return kernel && kernel->valid; }

void scale_results(image_data* img, double* out, int n) {
  const double inv = 1.0 / image_full_scale(img->pixel_type);
  for (int i = 0; i < n && i < img->channels; ++i) out[i] *= inv;
}

}  // namespace

bool image_data_get_point_value(image_data* img, double x, double y, double sx, double sy, double* out,
                                int n, ImagelibKernel* kernel) {
  if (!img || !img->pixels || !out || !kernel_usable(kernel)) return false;
  const int count = n < img->channels ? n : img->channels;
  switch (img->pixel_type) {
    case IMAGE_PIXEL_BYTE: return sample<uint8_t, false>(img, x, y, sx, sy, out, n, count, kernel);
    case IMAGE_PIXEL_WORD: return sample<uint16_t, false>(img, x, y, sx, sy, out, n, count, kernel);
    case IMAGE_PIXEL_WORD32: return sample<uint32_t, false>(img, x, y, sx, sy, out, n, count, kernel);
    case IMAGE_PIXEL_FLOAT: return sample<float, false>(img, x, y, sx, sy, out, n, count, kernel);
    default: return false;
  }
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
  const int count = n < img->channels ? n : img->channels;
  if (img->pixel_type == IMAGE_PIXEL_BYTE) return sample<uint8_t, true>(img, x, y, sx, sy, out, n, count, kernel);
  return sample<uint16_t, true>(img, x, y, sx, sy, out, n, count, kernel);
}
