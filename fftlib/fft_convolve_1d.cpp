#include <algorithm>
#include <cmath>
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

// Columns filtered together: each image row is read once per block. The
// column pass hands them out a block at a time.
constexpr int kColumnBlock = 16;

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

// A block of lines: `count` rows (or columns) from `first`, each in every
// listed channel, as lines[(b * ncs + ci) * length + start + i]. Columns are
// read a block at a time so that every image row is read once per block.
struct LineBlock {
  int first, count;
  const int* cs;
  int ncs;
  float* lines;
  int length, start, along;
  bool rows;
  float* line(int b, int ci) const { return lines + static_cast<ptrdiff_t>(b * ncs + ci) * length + start; }
};

template <typename T>
void read_block(const image_data* img, const LineBlock& k) {
  const int ch = img->channels;
  if (k.rows) {
    for (int b = 0; b < k.count; ++b) {
      const T* src = reinterpret_cast<const T*>(image_row(img, k.first + b));
      for (int ci = 0; ci < k.ncs; ++ci) {
        float* dst = k.line(b, ci);
        for (int i = 0; i < k.along; ++i) dst[i] = static_cast<float>(src[i * ch + k.cs[ci]]);
      }
    }
    return;
  }
  for (int i = 0; i < k.along; ++i) {
    const T* src = reinterpret_cast<const T*>(image_row(img, i)) + static_cast<ptrdiff_t>(k.first) * ch;
    for (int b = 0; b < k.count; ++b)
      for (int ci = 0; ci < k.ncs; ++ci) k.line(b, ci)[i] = static_cast<float>(src[b * ch + k.cs[ci]]);
  }
}

template <typename T>
void write_block(image_data* img, const LineBlock& k) {
  const int ch = img->channels;
  if (k.rows) {
    for (int b = 0; b < k.count; ++b) {
      T* dst = reinterpret_cast<T*>(image_row(img, k.first + b));
      for (int ci = 0; ci < k.ncs; ++ci) {
        const float* src = k.line(b, ci);
        for (int i = 0; i < k.along; ++i) dst[i * ch + k.cs[ci]] = to_sample<T>(src[i]);
      }
    }
    return;
  }
  for (int i = 0; i < k.along; ++i) {
    T* dst = reinterpret_cast<T*>(image_row(img, i)) + static_cast<ptrdiff_t>(k.first) * ch;
    for (int b = 0; b < k.count; ++b)
      for (int ci = 0; ci < k.ncs; ++ci) dst[b * ch + k.cs[ci]] = to_sample<T>(k.line(b, ci)[i]);
  }
}

void read_any(const image_data* img, const LineBlock& k) {
  switch (img->pixel_type) {
    case IMAGE_PIXEL_BYTE: read_block<uint8_t>(img, k); break;
    case IMAGE_PIXEL_WORD: read_block<uint16_t>(img, k); break;
    case IMAGE_PIXEL_WORD32: read_block<uint32_t>(img, k); break;
    default: read_block<float>(img, k); break;
  }
}

void write_any(image_data* img, const LineBlock& k) {
  switch (img->pixel_type) {
    case IMAGE_PIXEL_BYTE: write_block<uint8_t>(img, k); break;
    case IMAGE_PIXEL_WORD: write_block<uint16_t>(img, k); break;
    case IMAGE_PIXEL_WORD32: write_block<uint32_t>(img, k); break;
    default: write_block<float>(img, k); break;
  }
}

// Tap 0 once and every other tap twice, summed in the order the lines'
// filter is normalised.
float filter_weight(const float* taps, int n) {
  float sum = taps[0];
  for (int i = 1; i < n; ++i) sum += 2.0f * taps[i];
  return sum;
}

}  // namespace

bool FFTConvolver::set_filter_1D(const float* taps, int n) {
  // A tap that is not finite, or a weight that overflows, would make every
  // output 0; either makes the weight not finite.
  if (!taps || n < 1 || !std::isfinite(filter_weight(taps, n))) return false;
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

bool FFTConvolver::convolve_1D(image_data* out, int channel_mask, int passes) {
  if (!filter_1d || !source_1d || !intermediate_1d) {
    error_code = FFT_ERR_MISSING;
    return false;
  }
  if (!check_output(out, source_1d)) return false;
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
    const int h = source_1d->height;
    if (!run_claimed_stage(mp_convolve_1D_horizontal, h, rows_a_chunk(h))) return false;
  }
  if (!(passes & 2)) return true;
  vertical_input = (passes & 1) ? intermediate_1d : source_1d;
  output_image = out;
  return run_claimed_stage(mp_convolve_1D_vertical, source_1d->width, kColumnBlock);
}

void FFTConvolver::forward_fft_1D(float* a, int n) { fftr4(a, n); }
void FFTConvolver::scale_fft_1D(float* a, int n) { fftr4_scale(a, n); }
void FFTConvolver::multiply_transforms_1D(float* a, const float* b, int n) { fftr4_mul(a, b, n); }
void FFTConvolver::inverse_fft_1D(float* a, int n) { fftr4_un(a, n); }

// One pass of lines: rows of the source into the horizontal output, or
// columns of the vertical input into the output, a block of columns at a
// time; the band claims them a chunk at a time.
void FFTConvolver::filter_lines(bool rows) {
  const int length = rows ? padded_width_1d : padded_height_1d;
  const image_data* in = rows ? source_1d : vertical_input;
  image_data* out = rows ? horizontal_output : output_image;
  int cs[4], ncs = 0;
  for (int c = 0; c < std::min<int>(std::min(in->channels, out->channels), 4); ++c)
    if (channel & (1 << c)) cs[ncs++] = c;
  if (ncs == 0) return;
  const int block = rows ? 1 : kColumnBlock;
  const unsigned line_bytes = static_cast<unsigned>(sizeof(float)) * length;
  float* lines = static_cast<float*>(mem_align_alloc(line_bytes * block * ncs, -1, false));
  float* filter = static_cast<float*>(mem_align_alloc(line_bytes, -1, false));
  if (!lines || !filter) {
    error_code = FFT_ERR_MEMORY;
    if (lines) mem_align_free(lines, false);
    if (filter) mem_align_free(filter, false);
    return;
  }
  memset(filter, 0, line_bytes);
  const int n = filter_1d_length;
  const float sum = filter_weight(filter_1d, n);
  filter[0] = filter_1d[0];
  for (int i = 1; i < n; ++i) filter[i] = filter[length - i] = filter_1d[i];
  // Taps that sum to 0 or less are used as given: there is no weight to
  // normalise by.
  if (sum > 0.0f)
    for (int i = 0; i < length; ++i) filter[i] *= 1.0f / sum;
  forward_fft_1D(filter, length);
  scale_fft_1D(filter, length);
  LineBlock k{0, 0, cs, ncs, lines, length, 0, rows ? in->width : in->height, rows};
  k.start = (length - k.along) / 2;
  int first = 0, last = -1;
  bool going = true;
  while (going && line_chunks.claim(first, last))
    for (int line = first; going && line <= last; line += block) {
      // Each line is asked about once; the first stop answer ends the band.
      const int count = std::min(block, last - line + 1);
      int ready = 0;
      while (ready < count && !aborted()) ++ready;
      going = ready == count;
      if (ready == 0) break;
      k.first = line;
      k.count = ready;
      read_any(in, k);
      for (int j = 0; j < ready * ncs; ++j) {
        float* data = lines + static_cast<ptrdiff_t>(j) * length;
        const bool repeat = edge_mode == 2;
        std::fill(data, data + k.start, repeat ? data[k.start] : 0.0f);
        std::fill(data + k.start + k.along, data + length, repeat ? data[k.start + k.along - 1] : 0.0f);
        forward_fft_1D(data, length);
        multiply_transforms_1D(data, filter, length);
        inverse_fft_1D(data, length);
      }
      write_any(out, k);
    }
  mem_align_free(lines, false);
  mem_align_free(filter, false);
}

void FFTConvolver::mp_convolve_1D_horizontal(void* object, int, int) {
  static_cast<FFTConvolver*>(object)->filter_lines(true);
}

void FFTConvolver::mp_convolve_1D_vertical(void* object, int, int) {
  static_cast<FFTConvolver*>(object)->filter_lines(false);
}
