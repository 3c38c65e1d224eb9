#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "fft_convolver.h"
#include "q4_memory.h"

// Separable filtering: every row (or column) placed in the middle of a
// power-of-two line with room for the filter on both sides, convolved
// circularly by the real transform, and written back.

namespace {

// The smallest power of two not below `need`, 0 when it is not 2 .. 8192.
int padded_line(long need) {
  long n = 1;
  while (n < need) n <<= 1;
  return n >= 2 && n <= 8192 ? static_cast<int>(n) : 0;
}

// Rounded to nearest and clamped for integer samples (NaN gives 0): the
// transform leaves a hair of noise, and truncating a result just below an
// integer would lose one at every pass, so even {1} would change an image.
template <typename T>
inline T to_sample(float v) {
  if (std::is_floating_point<T>::value) return static_cast<T>(v);
  const double top = static_cast<double>(std::numeric_limits<T>::max()), r = static_cast<double>(v) + 0.5;
  if (!(r > 0.0)) return 0;
  return r >= top ? std::numeric_limits<T>::max() : static_cast<T>(r);
}

template <typename T>
void read_line(const image_data* img, int fixed, int along, bool rows, int c, float* out) {
  const int ch = img->channels;
  if (rows) {
    const T* src = reinterpret_cast<const T*>(image_row(img, fixed));
    for (int i = 0; i < along; ++i) out[i] = static_cast<float>(src[i * ch + c]);
  } else {
    for (int i = 0; i < along; ++i) out[i] = static_cast<float>(reinterpret_cast<const T*>(image_row(img, i))[fixed * ch + c]);
  }
}

template <typename T>
void write_line(image_data* img, int fixed, int along, bool rows, int c, const float* in) {
  const int ch = img->channels;
  if (rows) {
    T* dst = reinterpret_cast<T*>(image_row(img, fixed));
    for (int i = 0; i < along; ++i) dst[i * ch + c] = to_sample<T>(in[i]);
  } else {
    for (int i = 0; i < along; ++i) reinterpret_cast<T*>(image_row(img, i))[fixed * ch + c] = to_sample<T>(in[i]);
  }
}

void read_any(const image_data* img, int fixed, int along, bool rows, int c, float* out) {
  switch (img->pixel_type) {
    case IMAGE_PIXEL_BYTE: read_line<uint8_t>(img, fixed, along, rows, c, out); break;
    case IMAGE_PIXEL_WORD: read_line<uint16_t>(img, fixed, along, rows, c, out); break;
    case IMAGE_PIXEL_WORD32: read_line<uint32_t>(img, fixed, along, rows, c, out); break;
    default: read_line<float>(img, fixed, along, rows, c, out); break;
  }
}

void write_any(image_data* img, int fixed, int along, bool rows, int c, const float* in) {
  switch (img->pixel_type) {
    case IMAGE_PIXEL_BYTE: write_line<uint8_t>(img, fixed, along, rows, c, in); break;
    case IMAGE_PIXEL_WORD: write_line<uint16_t>(img, fixed, along, rows, c, in); break;
    case IMAGE_PIXEL_WORD32: write_line<uint32_t>(img, fixed, along, rows, c, in); break;
    default: write_line<float>(img, fixed, along, rows, c, in); break;
  }
}

}  // namespace

bool FFTConvolver::set_filter_1D(const float* taps, int n) {
  if (!taps || n < 1) return false;
  if (filter_1d) mem_align_free(filter_1d, false);
  filter_1d = static_cast<float*>(mem_align_alloc(static_cast<unsigned>(sizeof(float)) * n, -1, false));
  if (!filter_1d) {
    filter_1d_length = -1;
    error_code = FFT_ERR_MEMORY;
    return false;
  }
  memcpy(filter_1d, taps, sizeof(float) * n);
  filter_1d_length = n;
  return true;
}

int FFTConvolver::get_filter_1D(const float** taps) const {
  if (taps) *taps = filter_1d;
  return filter_1d ? filter_1d_length : 0;
}

bool FFTConvolver::set_image_1D(image_data* src) {
  source_1d = nullptr;
  if (!src || !src->pixels) {
    error_code = FFT_ERR_MISSING;
    return false;
  }
  width_1d = src->width;
  height_1d = src->height;
  const int taps = std::max(filter_1d_length, 0);
  padded_width_1d = padded_line(width_1d + 2L * taps);
  padded_height_1d = padded_line(height_1d + 2L * taps);
  if (!padded_width_1d || !padded_height_1d) {
    error_code = FFT_ERR_SIZE;
    return false;
  }
  image_data* copy = image_data_copy(src);
  if (!copy) {
    error_code = FFT_ERR_MEMORY;
    return false;
  }
  image_data_delete(intermediate_1d);
  intermediate_1d = copy;
  source_1d = src;
  return true;
}

bool FFTConvolver::run_1D_pass(mp_worker_fn worker, int count) {
  mp_exec(worker, count);
  return error_code == FFT_OK;
}

bool FFTConvolver::convolve_1D(image_data* out, int channel_mask, int passes) {
  if (!filter_1d || !source_1d || !intermediate_1d) {
    error_code = FFT_ERR_MISSING;
    return false;
  }
  if (!out || !out->pixels || out->width != source_1d->width || out->height != source_1d->height ||
      out->pixel_type != source_1d->pixel_type) {
    error_code = FFT_ERR_OUTPUT;
    return false;
  }
  // The lines must hold the current filter round the current image: a
  // filter set after the image, or none at registration, would otherwise
  // overrun them.
  padded_width_1d = padded_line(source_1d->width + 2L * filter_1d_length);
  padded_height_1d = padded_line(source_1d->height + 2L * filter_1d_length);
  if (!padded_width_1d || !padded_height_1d) {
    error_code = FFT_ERR_SIZE;
    return false;
  }
  error_code = FFT_OK;
  channel = channel_mask;
  if (passes & 1) {
    horizontal_output = (passes & 2) ? intermediate_1d : out;
    if (!run_1D_pass(mp_convolve_1D_horizontal, source_1d->height)) return false;
  }
  if (!(passes & 2)) return true;
  vertical_input = (passes & 1) ? intermediate_1d : source_1d;
  output_image = out;
  return run_1D_pass(mp_convolve_1D_vertical, source_1d->width);
}

void FFTConvolver::forward_fft_1D(float* a, int n) { fftr4(a, n); }
void FFTConvolver::scale_fft_1D(float* a, int n) { fftr4_scale(a, n); }
void FFTConvolver::multiply_transforms_1D(float* a, const float* b, int n) { fftr4_mul(a, b, n); }
void FFTConvolver::inverse_fft_1D(float* a, int n) { fftr4_un(a, n); }

// One pass of lines: rows of the source into the horizontal output, or
// columns of the vertical input into the output.
void FFTConvolver::filter_lines(int first, int last, bool rows) {
  const int length = rows ? padded_width_1d : padded_height_1d;
  const image_data* in = rows ? source_1d : vertical_input;
  image_data* out = rows ? horizontal_output : output_image;
  const int along = rows ? in->width : in->height;
  const unsigned bytes = static_cast<unsigned>(sizeof(float)) * length;
  float* line = static_cast<float*>(mem_align_alloc(bytes, -1, false));
  float* filter = static_cast<float*>(mem_align_alloc(bytes, -1, false));
  if (!line || !filter) {
    error_code = FFT_ERR_MEMORY;
    if (line) mem_align_free(line, false);
    if (filter) mem_align_free(filter, false);
    return;
  }
  memset(filter, 0, bytes);
  const int n = filter_1d_length;
  float sum = filter_1d[0];
  filter[0] = filter_1d[0];
  for (int i = 1; i < n; ++i) {
    filter[i] = filter[length - i] = filter_1d[i];
    sum += 2.0f * filter_1d[i];
  }
  // Taps that sum to 0 or less are used as given: there is no weight to
  // normalise by.
  if (sum > 0.0f)
    for (int i = 0; i < length; ++i) filter[i] *= 1.0f / sum;
  forward_fft_1D(filter, length);
  scale_fft_1D(filter, length);
  const int start = (length - along) / 2;
  const int channels = std::min(in->channels, out->channels);
  for (int c = 0; c < channels; ++c) {
    if (!(channel & (1 << c))) continue;
    for (int k = first; k <= last; ++k) {
      if (aborted()) {
        c = channels;
        break;
      }
      memset(line, 0, bytes);
      read_any(in, k, along, rows, c, line + start);
      if (edge_mode == 2) {
        std::fill(line, line + start, line[start]);
        std::fill(line + start + along, line + length, line[start + along - 1]);
      }
      forward_fft_1D(line, length);
      multiply_transforms_1D(line, filter, length);
      inverse_fft_1D(line, length);
      write_any(out, k, along, rows, c, line + start);
    }
  }
  mem_align_free(line, false);
  mem_align_free(filter, false);
}

void FFTConvolver::mp_convolve_1D_horizontal(void* object, int first, int last) {
  static_cast<FFTConvolver*>(object)->filter_lines(first, last, true);
}

void FFTConvolver::mp_convolve_1D_vertical(void* object, int first, int last) {
  static_cast<FFTConvolver*>(object)->filter_lines(first, last, false);
}
