#include "image_interpolate1d.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "image_data.h"

namespace {

const int kMaxChannels = 64;  // accumulators per pass; wider pixels go in chunks
// Positions and footprints beyond these cannot address a real line; bounding
// them keeps the tap indices within int.
const double kMaxPosition = 1.0e9;
const double kMaxScale = 1.0e6;

template <typename T>
inline T load(const unsigned char* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}

template <typename T>
inline void store(unsigned char* p, T v) {
  std::memcpy(p, &v, sizeof(T));
}

// Byte and word lines weight with the 10-bit table in integers (64-bit sums,
// so long footprints cannot overflow); word32 and float with the double table.
template <typename T>
struct line_traits {
  static constexpr bool fixed = std::is_integral<T>::value && sizeof(T) <= 2;
  typedef typename std::conditional<fixed, int64_t, double>::type acc_t;
};

// Every value is divided by the sum of the weights its taps used: the
// tables' truncated distances, rounded fixed-point entries and the lobes of
// the windowed kernels do not sum to one, and a constant line must come back
// as it went in. Taps beyond a zero edge count in the sum, so the edge still
// fades to black.
template <typename T, bool Cap>
inline void finish(unsigned char* out, typename line_traits<T>::acc_t v,
                   typename line_traits<T>::acc_t wsum) {
  if constexpr (line_traits<T>::fixed) {
    const int64_t top = sizeof(T) == 1 ? 255 : 65535;
    int64_t r = wsum == 0 ? 0 : static_cast<int64_t>(v) / static_cast<int64_t>(wsum);
    if (r < 0) r = 0;
    store<T>(out, static_cast<T>(r > top ? top : r));
    return;
  }
  double r = static_cast<double>(v);
  r = wsum == 0 ? 0.0 : r * (1.0 / static_cast<double>(wsum));
  if (!(r > 0.0)) r = 0.0;
  if constexpr (std::is_same<T, uint32_t>::value || Cap) {
    if (r > 4294967295.0) r = 4294967295.0;
  }
  if constexpr (std::is_same<T, uint32_t>::value)
    store<uint32_t>(out, static_cast<uint32_t>(r));
  else
    store<float>(out, static_cast<float>(r));
}

template <typename T, int Mode, bool Cap>
void interpolate(unsigned char* base, int n, int stride, double position, double scale,
                 unsigned char* out, int channels, ImagelibKernel* kernel) {
  typedef typename line_traits<T>::acc_t acc_t;
  if (!kernel || !kernel->valid || !base || !out || n < 1 || channels < 1) return;
  const double s = scale > 1.0 ? (scale < kMaxScale ? scale : kMaxScale) : 1.0;
  const bool minify = s > 1.0;
  const double step = minify ? (1.0 / s) * kernel->samples_per_unit : kernel->samples_per_unit;
  if (!(position > -kMaxPosition)) position = -kMaxPosition;
  if (!(position < kMaxPosition)) position = kMaxPosition;
  const double reach = kernel->radius * s;
  const int first = static_cast<int>(std::ceil(position - reach));
  const int last = static_cast<int>(std::floor(position + reach));
  const int top_index = kernel->radius * kernel->samples_per_unit;

  for (int c0 = 0; c0 < channels; c0 += kMaxChannels) {
    const int nc = channels - c0 < kMaxChannels ? channels - c0 : kMaxChannels;
    acc_t acc[kMaxChannels] = {};
    acc_t wsum = 0;
    for (int i = first; i <= last; ++i) {
      const int k = imagelib_edge_map(i, n, Mode);
      int t = static_cast<int>((i - position) * step);
      if (t < 0) t = -t;
      if (t > top_index) t = top_index;
      const acc_t w = line_traits<T>::fixed ? static_cast<acc_t>(kernel->fixed_table[t])
                                            : static_cast<acc_t>(kernel->table[t]);
      if (k >= 0) {
        const unsigned char* p = base + static_cast<int64_t>(k) * stride + c0 * sizeof(T);
        for (int c = 0; c < nc; ++c) acc[c] += static_cast<acc_t>(load<T>(p + c * sizeof(T))) * w;
      }
      wsum += w;
    }
    unsigned char* o = out + c0 * sizeof(T);
    for (int c = 0; c < nc; ++c)
      finish<T, Cap>(o + c * sizeof(T), acc[c], wsum);
  }
}

template <typename T>
void interpolate_by_mode(unsigned char* base, int n, int stride, double position, double scale,
                         unsigned char* out, int channels, ImagelibKernel* kernel) {
  if (!kernel) return;
  // Float lines cap at 4294967295 in the clamp and zero modes only.
  constexpr bool wrap_cap = !std::is_same<T, float>::value;
  switch (kernel->edge_mode) {
    case IMAGELIB_EDGE_CLAMP:
      interpolate<T, IMAGELIB_EDGE_CLAMP, true>(base, n, stride, position, scale, out, channels, kernel);
      break;
    case IMAGELIB_EDGE_ZERO:
      interpolate<T, IMAGELIB_EDGE_ZERO, true>(base, n, stride, position, scale, out, channels, kernel);
      break;
    case IMAGELIB_EDGE_WRAP:
      interpolate<T, IMAGELIB_EDGE_WRAP, wrap_cap>(base, n, stride, position, scale, out, channels, kernel);
      break;
    case IMAGELIB_EDGE_MIRROR:
      interpolate<T, IMAGELIB_EDGE_MIRROR, wrap_cap>(base, n, stride, position, scale, out, channels, kernel);
      break;
    default: break;
  }
}

}  // namespace

#define IMAGE_INTERPOLATE1D_DEFINE(name, call)                                                      \
  IMAGE_INTERPOLATE1D_DECLARE(name) { call(base, n, stride, position, scale, out, channels, kernel); }

IMAGE_INTERPOLATE1D_DEFINE(image_interpolate1D_byte_clamp, (interpolate<uint8_t, IMAGELIB_EDGE_CLAMP, true>))
IMAGE_INTERPOLATE1D_DEFINE(image_interpolate1D_byte_zero, (interpolate<uint8_t, IMAGELIB_EDGE_ZERO, true>))
IMAGE_INTERPOLATE1D_DEFINE(image_interpolate1D_byte_wrap_direct, (interpolate<uint8_t, IMAGELIB_EDGE_WRAP, true>))
IMAGE_INTERPOLATE1D_DEFINE(image_interpolate1D_byte_wrap_mirror, (interpolate<uint8_t, IMAGELIB_EDGE_MIRROR, true>))
IMAGE_INTERPOLATE1D_DEFINE(image_interpolate1D_word_clamp, (interpolate<uint16_t, IMAGELIB_EDGE_CLAMP, true>))
IMAGE_INTERPOLATE1D_DEFINE(image_interpolate1D_word_zero, (interpolate<uint16_t, IMAGELIB_EDGE_ZERO, true>))
IMAGE_INTERPOLATE1D_DEFINE(image_interpolate1D_word_wrap_direct, (interpolate<uint16_t, IMAGELIB_EDGE_WRAP, true>))
IMAGE_INTERPOLATE1D_DEFINE(image_interpolate1D_word_wrap_mirror, (interpolate<uint16_t, IMAGELIB_EDGE_MIRROR, true>))
IMAGE_INTERPOLATE1D_DEFINE(image_interpolate1D_word32_clamp, (interpolate<uint32_t, IMAGELIB_EDGE_CLAMP, true>))
IMAGE_INTERPOLATE1D_DEFINE(image_interpolate1D_word32_zero, (interpolate<uint32_t, IMAGELIB_EDGE_ZERO, true>))
IMAGE_INTERPOLATE1D_DEFINE(image_interpolate1D_word32_wrap_direct, (interpolate<uint32_t, IMAGELIB_EDGE_WRAP, true>))
IMAGE_INTERPOLATE1D_DEFINE(image_interpolate1D_word32_wrap_mirror, (interpolate<uint32_t, IMAGELIB_EDGE_MIRROR, true>))
IMAGE_INTERPOLATE1D_DEFINE(image_interpolate1D_float_clamp, (interpolate<float, IMAGELIB_EDGE_CLAMP, true>))
IMAGE_INTERPOLATE1D_DEFINE(image_interpolate1D_float_zero, (interpolate<float, IMAGELIB_EDGE_ZERO, true>))
IMAGE_INTERPOLATE1D_DEFINE(image_interpolate1D_float_wrap_direct, (interpolate<float, IMAGELIB_EDGE_WRAP, false>))
IMAGE_INTERPOLATE1D_DEFINE(image_interpolate1D_float_wrap_mirror, (interpolate<float, IMAGELIB_EDGE_MIRROR, false>))

IMAGE_INTERPOLATE1D_DEFINE(image_interpolate1D_byte, interpolate_by_mode<uint8_t>)
IMAGE_INTERPOLATE1D_DEFINE(image_interpolate1D_word, interpolate_by_mode<uint16_t>)
IMAGE_INTERPOLATE1D_DEFINE(image_interpolate1D_word32, interpolate_by_mode<uint32_t>)
IMAGE_INTERPOLATE1D_DEFINE(image_interpolate1D_float, interpolate_by_mode<float>)

image_interpolate1D_fn image_interpolate1D_for_type(int pixel_type) {
  switch (pixel_type) {
    case IMAGE_PIXEL_BYTE: return image_interpolate1D_byte;
    case IMAGE_PIXEL_WORD: return image_interpolate1D_word;
    case IMAGE_PIXEL_WORD32: return image_interpolate1D_word32;
    case IMAGE_PIXEL_FLOAT: return image_interpolate1D_float;
    default: return nullptr;
  }
}
