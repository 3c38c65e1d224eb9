#include "image_stats.h"

#include "image_pixel.h"
#include "q4_memory.h"

namespace {

template <typename T>
void measure(const image_data* img, image_stats* s) {
  const int ch = img->channels;
  for (int c = 0; c < ch; ++c) s->mean[c] = s->variance[c] = 0.0;
  const T* first = static_cast<const T*>(img->pixels);
  for (int c = 0; c < ch; ++c) s->min[c] = s->max[c] = static_cast<double>(first[c]);
  for (int y = 0; y < img->height; ++y) {
    const T* row = reinterpret_cast<const T*>(image_row(img, y));
    for (int x = 0; x < img->width; ++x, row += ch) {
      for (int c = 0; c < ch; ++c) {
        const double v = static_cast<double>(row[c]);
        s->mean[c] += v;
        s->variance[c] += v * v;
        if (s->min[c] > v) s->min[c] = v;
        if (!(s->max[c] >= v)) s->max[c] = v;
      }
    }
  }
  const double inv = 1.0 / (static_cast<double>(img->width) * img->height);
  for (int c = 0; c < ch; ++c) {
    s->mean[c] *= inv;
    s->variance[c] = s->variance[c] * inv - s->mean[c] * s->mean[c];
  }
}

}  // namespace

image_stats* image_stats_create(image_data* img) {
  if (!img || !img->pixels) return nullptr;
  image_stats* s = static_cast<image_stats*>(q4_malloc(sizeof(image_stats), __FILE__, __LINE__));
  if (!s) return nullptr;
  const unsigned bytes = sizeof(double) * img->channels;
  s->channels = img->channels;
  s->min = static_cast<double*>(q4_malloc(bytes, __FILE__, __LINE__));
  s->max = static_cast<double*>(q4_malloc(bytes, __FILE__, __LINE__));
  s->mean = static_cast<double*>(q4_malloc(bytes, __FILE__, __LINE__));
  s->variance = static_cast<double*>(q4_malloc(bytes, __FILE__, __LINE__));
  if (!s->min || !s->max || !s->mean || !s->variance ||
      !image_with_sample_type(img->pixel_type, [&](auto zero) { measure<decltype(zero)>(img, s); })) {
    image_stats_delete(s);
    return nullptr;
  }
  return s;
}

void image_stats_delete(image_stats* stats) {
  if (!stats) return;
  double* arrays[] = {stats->min, stats->max, stats->mean, stats->variance};
  for (double* a : arrays)
    if (a) q4_free(a, __FILE__, __LINE__);
  q4_free(stats, __FILE__, __LINE__);
}
