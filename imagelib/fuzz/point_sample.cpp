// The image-data point samplers on small images of fuzzed size, channels,
// type and pixels, with fuzzed kernels, edge modes, positions and
// footprints (NaN, infinities, huge values included). Every result lies in
// the type's range, outputs beyond the image's channels are cleared, and a
// huge footprint costs no more than the window once per axis.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "image_data.h"
#include "image_sample.h"
#include "imagelib_kernel.h"

namespace {

void check_values(const image_data* img, const double* out, int n, double scale) {
  const double ceiling = img->pixel_type == IMAGE_PIXEL_FLOAT ? 3.4028235e38 : image_full_scale(img->pixel_type);
  for (int c = 0; c < n; ++c) {
    FUZZ_CHECK(out[c] >= 0.0 && out[c] <= ceiling * scale);
    if (c >= img->channels) FUZZ_CHECK(out[c] == 0.0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const int width = in.in_range(1, 12), height = in.in_range(1, 12);
  const int channels = in.in_range(0, 7) == 0 ? in.in_range(60, 70) : in.in_range(1, 5);
  const int type = in.in_range(0, 3);
  ImagelibKernel kernel(in.in_range(-1, 6), in.in_range(-1, 4));
  kernel.set_x_edge_mode(in.in_range(-1, 4));
  kernel.set_y_edge_mode(in.in_range(-1, 4));
  const double x = in.raw<double>(), y = in.raw<double>();
  const double sx = in.raw<double>(), sy = in.raw<double>();
  const int n = in.in_range(0, channels + 3);

  image_data* img = image_data_create(width, height, channels, type, 1);
  if (!img) return 0;
  const size_t bytes = static_cast<size_t>(img->row_bytes) * height;
  std::memcpy(img->pixels, in.rest(), in.left() < bytes ? in.left() : bytes);
  if (type == IMAGE_PIXEL_FLOAT) {
    // Samples are values, not bit patterns: no NaN or infinity inside.
    float* f = static_cast<float*>(img->pixels);
    for (size_t k = 0; k < bytes / sizeof(float); ++k)
      if (!std::isfinite(f[k])) f[k] = 0.0f;
  }

  std::vector<double> out(static_cast<size_t>(n) + 1);
  std::vector<int> iout(static_cast<size_t>(n) + 1);
  const double inv = type == IMAGE_PIXEL_FLOAT ? 1.0 : 1.0 / image_full_scale(type);
  if (image_data_get_point_value(img, x, y, sx, sy, out.data(), n, &kernel)) check_values(img, out.data(), n, 1.0);
  if (image_data_get_point_value(img, x, y, out.data(), n, &kernel)) check_values(img, out.data(), n, 1.0);
  if (image_data_get_point_value_norm(img, x, y, sx, sy, out.data(), n, &kernel))
    check_values(img, out.data(), n, inv);
  if (image_data_get_point_norm_value(img, x, y, sx, sy, out.data(), n, &kernel))
    check_values(img, out.data(), n, 1.0);
  if (image_data_get_point_norm_value_norm(img, x, y, out.data(), n, &kernel)) check_values(img, out.data(), n, inv);
  if (image_data_get_point_value_int(img, x, y, sx, sy, iout.data(), n, &kernel)) {
    FUZZ_CHECK(type == IMAGE_PIXEL_BYTE || type == IMAGE_PIXEL_WORD);
    for (int c = 0; c < n; ++c) {
      FUZZ_CHECK(iout[c] >= 0 && iout[c] <= image_full_scale(type));
      if (c >= channels) FUZZ_CHECK(iout[c] == 0);
    }
  }
  image_data_delete(img);
  return 0;
}
