#include "image_data.h"

#include <climits>
#include <cstring>

#include "q4_memory.h"

namespace {

void* g_exec_context = nullptr;
mp_exec_fn g_exec = nullptr;
int g_max_threads = 16;
int g_fill_thresh = 1048576;
int g_copy_thresh = 1048576;

int64_t image_byte_count(const image_data* img) {
  return static_cast<int64_t>(img->row_bytes) * img->height;
}

}  // namespace

int image_sample_bytes(int pixel_type) {
  switch (pixel_type) {
    case IMAGE_PIXEL_BYTE: return 1;
    case IMAGE_PIXEL_WORD: return 2;
    case IMAGE_PIXEL_WORD32: return 4;
    case IMAGE_PIXEL_FLOAT: return 4;
    default: return 0;
  }
}

double image_full_scale(int pixel_type) {
  switch (pixel_type) {
    case IMAGE_PIXEL_BYTE: return 255.0;
    case IMAGE_PIXEL_WORD: return 65535.0;
    case IMAGE_PIXEL_WORD32: return 4294967295.0;
    case IMAGE_PIXEL_FLOAT: return 1.0;
    default: return 0.0;
  }
}

void imagelib_set_mp_exec(void* context, mp_exec_fn exec) {
  g_exec_context = context;
  g_exec = exec;
}

int imagelib_set_max_threads(int n) {
  if (n >= 1) g_max_threads = n;
  return g_max_threads;
}

void imagelib_dispatch(mp_worker_fn worker, int count, void* block) {
  if (count <= 0) return;
  if (g_exec)
    g_exec(g_exec_context, worker, count, block);
  else
    worker(block, 0, count - 1);
}

image_data* image_data_create(int width, int height, int channels, int pixel_type, int allocate) {
  if (width < 1 || width > 65535 || height < 1 || height > 65535) return nullptr;
  if (channels < 1 || channels > 65535) return nullptr;
  const int sample = image_sample_bytes(pixel_type);
  if (sample == 0) return nullptr;
  // Refuse what the record's fields or one heap block cannot describe.
  const int64_t pixel_bytes = static_cast<int64_t>(channels) * sample;
  const int64_t row_bytes = pixel_bytes * width;
  const int64_t total = row_bytes * height;
  if (pixel_bytes > 65535 || total > INT_MAX) return nullptr;

  void* pixels = nullptr;
  if (allocate) {
    pixels = mem_align_alloc(static_cast<unsigned>(total), 0, true);
    if (!pixels) return nullptr;
  }
  image_data* img = static_cast<image_data*>(q4_malloc(sizeof(image_data), __FILE__, __LINE__));
  if (!img) {
    if (pixels) mem_align_free(pixels, true);
    return nullptr;
  }
  img->width = static_cast<uint16_t>(width);
  img->height = static_cast<uint16_t>(height);
  img->channels = static_cast<uint16_t>(channels);
  img->pixel_type = static_cast<uint16_t>(pixel_type);
  img->reserved = 0;
  img->owns_pixels = allocate ? 1 : 0;
  img->range_min = 0.0;
  img->range_max = 0.0;
  img->range_valid = 0;
  img->display_aspect = static_cast<double>(width) / height;
  img->row_bytes = static_cast<uint32_t>(row_bytes);
  img->pixel_bytes = static_cast<uint16_t>(pixel_bytes);
  img->sample_bytes = static_cast<uint16_t>(sample);
  img->pixels = pixels;
  return img;
}

image_data* image_data_create(image_data* header) {
  if (!header) return nullptr;
  return image_data_create(header->width, header->height, header->channels, header->pixel_type, 1);
}

int image_data_delete(image_data* img) {
  if (!img) return -1;
  if (img->pixels && img->owns_pixels) mem_align_free(img->pixels, true);
  q4_free(img, __FILE__, __LINE__);
  return 0;
}

int image_display_aspect(image_data* img, double aspect) {
  if (!img || !(aspect > 0.0)) return 0;
  img->display_aspect = aspect;
  return 1;
}

bool image_data_same_layout(const image_data* a, const image_data* b) {
  return a && b && a->pixels && b->pixels && a->width == b->width && a->height == b->height &&
         a->channels == b->channels && a->pixel_type == b->pixel_type;
}

// ---- copies ----

namespace {

struct copy_block {
  const unsigned char* src;
  unsigned char* dst;
  int64_t row_bytes;
};

void copy_range(image_data* src, image_data* dst) {
  dst->range_valid = src->range_valid;
  if (src->range_valid) {
    dst->range_min = src->range_min;
    dst->range_max = src->range_max;
  }
}

struct channel_block {
  const image_data* src;
  image_data* dst;
  // Source channel per destination channel, -1 for channels left alone.
  const int* choice;
};

template <typename T>
void copy_channels_rows(const channel_block* b, int first, int last) {
  const int ch = b->src->channels;
  const int w = b->src->width;
  for (int y = first; y <= last; ++y) {
    const T* s = reinterpret_cast<const T*>(image_row(b->src, y));
    T* d = reinterpret_cast<T*>(image_row(b->dst, y));
    for (int c = 0; c < ch; ++c) {
      const int from = b->choice[c];
      if (from < 0) continue;
      for (int x = 0; x < w; ++x) d[x * ch + c] = s[x * ch + from];
    }
  }
}

void copy_channels_worker(void* object, int first, int last) {
  const channel_block* b = static_cast<const channel_block*>(object);
  switch (b->src->sample_bytes) {
    case 1: copy_channels_rows<uint8_t>(b, first, last); break;
    case 2: copy_channels_rows<uint16_t>(b, first, last); break;
    default: copy_channels_rows<uint32_t>(b, first, last); break;  // float moves bit for bit
  }
}

// Runs the channel worker with a heap choice table sized to the image, so any
// channel count is served. A permutation within one image reads a copy, as
// it would otherwise read channels it has already overwritten.
int run_channel_copy(image_data* src, image_data* dst, int* choice) {
  image_data* from = src->pixels == dst->pixels ? image_data_copy(src) : src;
  int result = 0;
  if (from) {
    channel_block block{from, dst, choice};
    imagelib_dispatch(copy_channels_worker, src->height, &block);
    result = 1;
  }
  if (from != src) image_data_delete(from);
  q4_free(choice, __FILE__, __LINE__);
  return result;
}

}  // namespace

void image_data_memcpy_parallel(void* object, int first, int last) {
  const copy_block* b = static_cast<const copy_block*>(object);
  std::memcpy(b->dst + first * b->row_bytes, b->src + first * b->row_bytes,
              static_cast<size_t>((last - first + 1) * b->row_bytes));
}

image_data* image_data_copy(image_data* src) {
  if (!src || !src->pixels) return nullptr;
  image_data* dst = image_data_create(src);
  if (!dst) return nullptr;
  image_data_copy(src, dst);
  return dst;
}

int image_data_copy(image_data* src, image_data* dst) {
  if (!image_data_same_layout(src, dst)) return 0;
  if (src->pixels != dst->pixels) {
    copy_block block{static_cast<const unsigned char*>(src->pixels), static_cast<unsigned char*>(dst->pixels),
                     src->row_bytes};
    if (image_byte_count(src) >= g_copy_thresh)
      imagelib_dispatch(image_data_memcpy_parallel, src->height, &block);
    else
      image_data_memcpy_parallel(&block, 0, src->height - 1);
  }
  copy_range(src, dst);
  return 1;
}

int image_data_copy_channels(image_data* src, image_data* dst, unsigned mask) {
  if (mask == 0) return 1;
  if (!image_data_same_layout(src, dst)) return 0;
  if (mask == 0xFFFFFFFFu) return image_data_copy(src, dst);
  int* choice = static_cast<int*>(q4_malloc(sizeof(int) * src->channels, __FILE__, __LINE__));
  if (!choice) return 0;
  for (int c = 0; c < src->channels; ++c) choice[c] = (mask >> (c % 32)) & 1u ? c : -1;
  return run_channel_copy(src, dst, choice);
}

int image_data_copy_channels_and_permute(image_data* src, image_data* dst, int* list, int n) {
  if (n <= 0) return 1;
  if (!list || !image_data_same_layout(src, dst)) return 0;
  int* choice = static_cast<int*>(q4_malloc(sizeof(int) * src->channels, __FILE__, __LINE__));
  if (!choice) return 0;
  for (int c = 0; c < src->channels; ++c) {
    // Entries below 1 leave the channel alone; checked before the 1-based
    // entry is made 0-based, which would overflow for INT_MIN.
    const int entry = c < n ? list[c] : list[n - 1];
    choice[c] = entry < 1 ? -1 : (entry > src->channels ? src->channels - 1 : entry - 1);
  }
  return run_channel_copy(src, dst, choice);
}

int image_data_copy_set_mp_thresh(int bytes) {
  g_copy_thresh = bytes < 0 ? 0 : bytes;
  return g_copy_thresh;
}

int image_data_fill_set_mp_thresh(int bytes) {
  g_fill_thresh = bytes < 0 ? 0 : bytes;
  return g_fill_thresh;
}

// ---- fills ----

namespace {

struct fill_block {
  image_data* img;
  bool one_channel;
  int channel;
  double value;  // already clamped for the type
};

template <typename T>
void fill_rows(const fill_block* b, int first, int last) {
  const int ch = b->img->channels;
  const int w = b->img->width;
  const T v = static_cast<T>(b->value);
  for (int y = first; y <= last; ++y) {
    T* row = reinterpret_cast<T*>(image_row(b->img, y));
    if (b->one_channel) {
      for (int x = 0, i = b->channel; x < w; ++x, i += ch) row[i] = v;
    } else {
      const int n = w * ch;
      for (int i = 0; i < n; ++i) row[i] = v;
    }
  }
}

}  // namespace

void image_data_fill_mp_byte(void* object, int first, int last) {
  const fill_block* b = static_cast<const fill_block*>(object);
  if (b->one_channel) {
    fill_rows<uint8_t>(b, first, last);
    return;
  }
  std::memset(image_row(b->img, first), static_cast<int>(b->value),
              static_cast<size_t>(last - first + 1) * b->img->row_bytes);
}

void image_data_fill_mp_word(void* object, int first, int last) {
  fill_rows<uint16_t>(static_cast<const fill_block*>(object), first, last);
}

void image_data_fill_mp_word32(void* object, int first, int last) {
  fill_rows<uint32_t>(static_cast<const fill_block*>(object), first, last);
}

void image_data_fill_mp_float(void* object, int first, int last) {
  fill_rows<float>(static_cast<const fill_block*>(object), first, last);
}

namespace {

double clamp_for_type(double v, int pixel_type) {
  if (pixel_type == IMAGE_PIXEL_FLOAT) return v;
  const double top = image_full_scale(pixel_type);
  if (!(v > 0.0)) return 0.0;  // NaN too
  if (v > top) return top;
  return static_cast<double>(static_cast<uint32_t>(v));
}

void image_data_general_fill(image_data* img, double value, bool one_channel, int channel) {
  if (!img || !img->pixels) return;
  mp_worker_fn worker = nullptr;
  switch (img->pixel_type) {
    case IMAGE_PIXEL_BYTE: worker = image_data_fill_mp_byte; break;
    case IMAGE_PIXEL_WORD: worker = image_data_fill_mp_word; break;
    case IMAGE_PIXEL_WORD32: worker = image_data_fill_mp_word32; break;
    case IMAGE_PIXEL_FLOAT: worker = image_data_fill_mp_float; break;
    default: return;
  }
  if (channel < 0) channel = 0;
  if (channel >= img->channels) channel = img->channels - 1;
  fill_block block{img, one_channel, channel, clamp_for_type(value, img->pixel_type)};
  if (image_byte_count(img) >= g_fill_thresh)
    imagelib_dispatch(worker, img->height, &block);
  else
    worker(&block, 0, img->height - 1);
}

double clamp_fraction(double f) {
  if (!(f > 0.0)) return 0.0;
  return f > 1.0 ? 1.0 : f;
}

}  // namespace

void image_data_zero(image_data* img) { image_data_general_fill(img, 0.0, false, 0); }

void image_data_fill(image_data* img, double value) { image_data_general_fill(img, value, false, 0); }

void image_data_fill_norm(image_data* img, double fraction) {
  if (!img) return;
  image_data_fill(img, clamp_fraction(fraction) * image_full_scale(img->pixel_type));
}

void image_data_channel_fill(image_data* img, double value, int channel) {
  image_data_general_fill(img, value, true, channel);
}

void image_data_channel_fill_norm(image_data* img, double fraction, int channel) {
  if (!img) return;
  image_data_channel_fill(img, clamp_fraction(fraction) * image_full_scale(img->pixel_type), channel);
}

void image_data_channel_fill_vector(image_data* img, double* values, int n) {
  if (!img || !values) return;
  for (int c = 0; c < n && c < img->channels; ++c) image_data_channel_fill(img, values[c], c);
}

void image_data_channel_fill_vector_norm(image_data* img, double* values, int n) {
  if (!img || !values) return;
  const double scale = image_full_scale(img->pixel_type);
  for (int c = 0; c < n && c < img->channels; ++c) image_data_channel_fill(img, values[c] * scale, c);
}
