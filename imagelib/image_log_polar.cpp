#include "image_log_polar.h"

#include <atomic>
#include <cmath>

#include "image_pixel.h"
#include "image_sample.h"
#include "imagelib_kernel.h"
#include "q4_memory.h"

namespace {

const double kTwoPi = 6.283185307179586;
const int kLocalChannels = 64;

struct log_polar_args {
  double rmin, rmax, cx, cy;
  image_data* src;
  image_data* dst;
  ImagelibKernel* kernel;
  std::atomic<bool> short_of_memory{false};
};

// One pixel's sampled values, on the stack for the usual channel counts.
class pixel_values {
 public:
  explicit pixel_values(int n)
      : heap(n > kLocalChannels ? static_cast<double*>(q4_malloc(sizeof(double) * n, __FILE__, __LINE__)) : nullptr),
        values(n > kLocalChannels ? heap : local) {}
  ~pixel_values() {
    if (heap) q4_free(heap, __FILE__, __LINE__);
  }
  pixel_values(const pixel_values&) = delete;
  pixel_values& operator=(const pixel_values&) = delete;

  double local[kLocalChannels];
  double* heap;
  double* values;  // null when the heap refused
};

template <typename Position>
void map_rows(log_polar_args* args, int first, int last, Position position) {
  image_data* dst = args->dst;
  const int ch = dst->channels;
  pixel_values buffer(ch);
  if (!buffer.values) {
    args->short_of_memory = true;
    return;
  }
  image_with_sample_type(dst->pixel_type, [&](auto zero) {
    typedef decltype(zero) T;
    for (int j = first; j <= last; ++j) {
      T* out = reinterpret_cast<T*>(image_row(dst, j));
      for (int i = 0; i < dst->width; ++i, out += ch) {
        double x, y, footprint;
        position(i, j, x, y, footprint);
        image_data_get_point_value(args->src, x, y, footprint, footprint, buffer.values, ch, args->kernel);
        image_store_pixel<T>(out, buffer.values, ch);
      }
    }
  });
}

int run(image_data* src, image_data* dst, double rmin, double rmax, double cx, double cy, int kernel_type,
        int edge_mode, bool wrap_angle, mp_worker_fn worker) {
  if (!image_data_same_layout(src, dst) || src->width < 2) return 0;
  if (!(rmin >= 1.0) || !(rmax > rmin)) return 0;
  ImagelibKernel* kernel = new ImagelibKernel(kernel_type, edge_mode);
  if (!kernel->valid) {  // unknown type or edge mode, or no tables
    delete kernel;
    return 0;
  }
  if (wrap_angle) kernel->set_y_edge_mode(IMAGELIB_EDGE_WRAP);
  log_polar_args args{rmin, rmax, cx, cy, src, dst, kernel};
  imagelib_dispatch(worker, src->height, &args);
  delete kernel;
  return args.short_of_memory ? 0 : 1;
}

}  // namespace

void mp_to_log_polar(void* object, int first, int last) {
  log_polar_args* args = static_cast<log_polar_args*>(object);
  const double k = std::log(args->rmax / args->rmin);
  const double w1 = args->dst->width - 1, h = args->dst->height;
  double cos_t = 1.0, sin_t = 0.0, px = 0.0, py = 0.0;
  int row = -1;
  map_rows(args, first, last, [&](int i, int j, double& x, double& y, double& footprint) {
    if (j != row) {
      row = j;
      const double theta = kTwoPi * j / h;
      cos_t = std::cos(theta);
      sin_t = std::sin(theta);
    }
    const double r = args->rmin * std::exp(i * k / w1);
    x = r * cos_t + args->cx;
    y = r * sin_t + args->cy;
    // The step to the previous column is the footprint, so the outer rings
    // average what they skip.
    footprint = i == 0 ? 1.0 : std::sqrt((x - px) * (x - px) + (y - py) * (y - py));
    px = x;
    py = y;
  });
}

void mp_from_log_polar(void* object, int first, int last) {
  log_polar_args* args = static_cast<log_polar_args*>(object);
  const double k = std::log(args->rmax / args->rmin);
  const double w1 = args->src->width - 1, h = args->src->height;
  map_rows(args, first, last, [&](int i, int j, double& u, double& v, double& footprint) {
    const double dx = i - args->cx, dy = j - args->cy;
    const double r = std::sqrt(dx * dx + dy * dy);
    double theta = std::atan2(dy, dx);
    if (theta < 0.0) theta += kTwoPi;
    u = r > 0.0 ? w1 * std::log(r / args->rmin) / k : 0.0;  // the centre has no logarithm
    v = theta * h / kTwoPi;
    footprint = 1.0;
  });
}

int image_cartesian_to_log_polar(image_data* src, image_data* dst, double rmin, double rmax, double cx, double cy,
                                 int kernel_type, int edge_mode) {
  return run(src, dst, rmin, rmax, cx, cy, kernel_type, edge_mode, false, mp_to_log_polar);
}

int image_log_polar_to_cartesian(image_data* src, image_data* dst, double rmin, double rmax, double cx, double cy,
                                 int kernel_type, int edge_mode) {
  return run(src, dst, rmin, rmax, cx, cy, kernel_type, edge_mode, true, mp_from_log_polar);
}
