#include "image_convert.h"

#include <cstdint>
#include <limits>
#include <type_traits>

namespace {

struct convert_block {
  image_data* src;
  image_data* dst;
  int common;
  int last_common;
  int channel_mode;
  bool rescale;
  bool fill_added;
  float fill_mode3;
  float fill_other;
};

template <typename S, typename D>
inline D convert_sample(S x, bool rescale) {
  if constexpr (std::is_same<S, D>::value) {
    return x;
  } else if constexpr (std::is_floating_point<S>::value) {
    // Float to integer: scale, clamp (NaN to 0), truncate.
    const double top = static_cast<double>(std::numeric_limits<D>::max());
    const double v = rescale ? static_cast<double>(x) * top : static_cast<double>(x);
    if (!(v > 0.0)) return 0;
    return v >= top ? std::numeric_limits<D>::max() : static_cast<D>(v);
  } else if constexpr (std::is_floating_point<D>::value) {
    const float inv = static_cast<float>(1.0 / static_cast<double>(std::numeric_limits<S>::max()));
    return rescale ? static_cast<float>(x) * inv : static_cast<float>(x);
  } else if constexpr (sizeof(D) > sizeof(S)) {
    // Widening repeats the sample in every byte (255 -> 65535 -> 4294967295).
    const D factor = std::numeric_limits<D>::max() / std::numeric_limits<S>::max();
    return rescale ? static_cast<D>(x * factor) : static_cast<D>(x);
  } else {
    if (rescale) return static_cast<D>(x >> (8 * (sizeof(S) - sizeof(D))));
    return x > std::numeric_limits<D>::max() ? std::numeric_limits<D>::max() : static_cast<D>(x);
  }
}

template <typename D>
D added_channel_fill(const convert_block* b) {
  const bool full = b->channel_mode == 3;
  if constexpr (std::is_floating_point<D>::value)
    return full ? b->fill_mode3 : b->fill_other;
  else
    return full ? std::numeric_limits<D>::max() : 0;
}

template <typename S, typename D>
void convert_rows(const convert_block* b, int first, int last) {
  const int w = b->src->width;
  const int sch = b->src->channels, dch = b->dst->channels;
  const int common = b->common;
  const D fill = added_channel_fill<D>(b);
  for (int y = first; y <= last; ++y) {
    const S* s = reinterpret_cast<const S*>(image_row(b->src, y));
    D* d = reinterpret_cast<D*>(image_row(b->dst, y));
    for (int x = 0; x < w; ++x, s += sch, d += dch) {
      for (int c = 0; c < common; ++c) d[c] = convert_sample<S, D>(s[c], b->rescale);
      const D added = b->fill_added ? fill : d[b->last_common];
      for (int c = common; c < dch; ++c) d[c] = added;
    }
  }
}

template <typename S>
void convert_from(void* object, int first, int last) {
  const convert_block* b = static_cast<const convert_block*>(object);
  switch (b->dst->pixel_type) {
    case IMAGE_PIXEL_BYTE: convert_rows<S, uint8_t>(b, first, last); break;
    case IMAGE_PIXEL_WORD: convert_rows<S, uint16_t>(b, first, last); break;
    case IMAGE_PIXEL_WORD32: convert_rows<S, uint32_t>(b, first, last); break;
    case IMAGE_PIXEL_FLOAT: convert_rows<S, float>(b, first, last); break;
    default: break;
  }
}

}  // namespace

void image_convert_from_byte(void* object, int first, int last) { convert_from<uint8_t>(object, first, last); }
void image_convert_from_word(void* object, int first, int last) { convert_from<uint16_t>(object, first, last); }
void image_convert_from_word32(void* object, int first, int last) { convert_from<uint32_t>(object, first, last); }
void image_convert_from_float(void* object, int first, int last) { convert_from<float>(object, first, last); }

bool image_convert(image_data* src, image_data* dst, bool rescale, int channel_mode, float float_fill,
                   float float_fill_mode3) {
  if (!src || !dst || !src->pixels || !dst->pixels) return false;
  if (src->width != dst->width || src->height != dst->height) return false;
  if (src->pixel_type == dst->pixel_type && src->channels == dst->channels) return image_data_copy(src, dst) != 0;
  mp_worker_fn worker = nullptr;
  switch (src->pixel_type) {
    case IMAGE_PIXEL_BYTE: worker = image_convert_from_byte; break;
    case IMAGE_PIXEL_WORD: worker = image_convert_from_word; break;
    case IMAGE_PIXEL_WORD32: worker = image_convert_from_word32; break;
    case IMAGE_PIXEL_FLOAT: worker = image_convert_from_float; break;
    default: return false;
  }
  if (image_sample_bytes(dst->pixel_type) == 0) return false;
  const int common = src->channels < dst->channels ? src->channels : dst->channels;
  convert_block block{src,
                      dst,
                      common,
                      common - 1,
                      channel_mode,
                      rescale,
                      src->channels < dst->channels && channel_mode != 1,
                      float_fill_mode3,
                      float_fill};
  imagelib_dispatch(worker, src->height, &block);
  return true;
}
