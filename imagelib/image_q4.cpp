#include "image_q4.h"

#include <cstdint>

namespace {

inline unsigned short byte_to_q4(uint8_t v) { return static_cast<unsigned short>((v << 7) | (v >> 1)); }
inline unsigned short word_to_q4(uint16_t v) { return static_cast<unsigned short>(v >> 1); }

template <typename T, unsigned short (*Convert)(T)>
void rows_to_frame(const image_data* src, ImageQ4* frame) {
  const int ch = src->channels;
  for (int y = 0; y < src->height; ++y) {
    const T* s = reinterpret_cast<const T*>(image_row(src, y));
    PixelQ4* d = frame->rows[y];
    for (int x = 0; x < src->width; ++x, s += ch) {
      d[x].r = Convert(s[0]);
      d[x].g = Convert(s[1]);
      d[x].b = Convert(s[2]);
      d[x].a = ch == 4 ? Convert(s[3]) : 32767;
    }
  }
}

bool frame_usable(const ImageQ4* frame) { return frame && frame->rows; }

}  // namespace

bool to_Q4Image(image_data* src, ImageQ4* frame) {
  if (!src || !src->pixels || !frame_usable(frame)) return false;
  if ((src->channels != 3 && src->channels != 4) || src->width != frame->width || src->height != frame->height)
    return false;
  if (src->pixel_type == IMAGE_PIXEL_BYTE)
    rows_to_frame<uint8_t, byte_to_q4>(src, frame);
  else if (src->pixel_type == IMAGE_PIXEL_WORD)
    rows_to_frame<uint16_t, word_to_q4>(src, frame);
  else
    return false;
  return true;
}

bool from_Q4Image(image_data* dst, ImageQ4* frame) {
  if (!dst || !dst->pixels || !frame_usable(frame)) return false;
  if (dst->width != frame->width || dst->height != frame->height || dst->channels != 4) return false;
  const float factor = 1.0f / 32767.0f;
  for (int y = 0; y < dst->height; ++y) {
    const PixelQ4* s = frame->rows[y];
    if (dst->pixel_type == IMAGE_PIXEL_WORD) {
      uint16_t* d = reinterpret_cast<uint16_t*>(image_row(dst, y));
      for (int x = 0; x < dst->width; ++x, d += 4) {
        d[0] = static_cast<uint16_t>(s[x].r * 2);
        d[1] = static_cast<uint16_t>(s[x].g * 2);
        d[2] = static_cast<uint16_t>(s[x].b * 2);
        d[3] = static_cast<uint16_t>(s[x].a * 2);
      }
    } else if (dst->pixel_type == IMAGE_PIXEL_FLOAT) {
      float* d = reinterpret_cast<float*>(image_row(dst, y));
      for (int x = 0; x < dst->width; ++x, d += 4) {
        d[0] = s[x].r * factor;
        d[1] = s[x].g * factor;
        d[2] = s[x].b * factor;
        d[3] = s[x].a * factor;
      }
    } else {
      return false;
    }
  }
  return true;
}

namespace {

image_data* new_from_frame(ImageQ4* frame, int pixel_type) {
  if (!frame_usable(frame)) return nullptr;
  image_data* img = image_data_create(frame->width, frame->height, 4, pixel_type, 1);
  if (img && !from_Q4Image(img, frame)) {
    image_data_delete(img);
    return nullptr;
  }
  return img;
}

}  // namespace

image_data* from_Q4Image(ImageQ4* frame) { return new_from_frame(frame, IMAGE_PIXEL_WORD); }

image_data* from_Q4Image_float(ImageQ4* frame) { return new_from_frame(frame, IMAGE_PIXEL_FLOAT); }
