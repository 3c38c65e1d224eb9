#ifndef IMAGE_STATS_H
#define IMAGE_STATS_H

#include "image_data.h"

// Per-channel statistics of an image in its raw sample units; each array
// holds `channels` values. The record owns its arrays.
struct image_stats {
  int channels;
  double* min;
  double* max;
  double* mean;
  double* variance;  // population variance: mean of squares minus square of the mean
};

// Measures every channel; null for a null image or when memory is short.
image_stats* image_stats_create(image_data* img);
// Frees the record and its arrays; null is ignored.
void image_stats_delete(image_stats* stats);

#endif
