#ifndef FRAME_COPY_BANDS_H
#define FRAME_COPY_BANDS_H

// A frame copied row band by row band on the host workers (DLnumProc of
// them): the memory floor the imaging benchmarks stand beside, and the way
// they put a frame back between runs without leaving the workers idle long
// enough to fall asleep, which no pass of the effect meets.

#include <cstring>

#include "ImageQ4.h"
#include "band_split.h"
#include "effect_services.h"
#include "spark.h"

inline void frame_copy_band(void* to, void* from) {
  ImageQ4* dst = static_cast<ImageQ4*>(to);
  const ImageQ4* src = static_cast<const ImageQ4*>(from);
  long first, last;
  band_split(host_worker_index(), dst->height, DLnumProc, first, last);
  for (long y = first; y <= last; ++y) std::memcpy(dst->rows[y], src->rows[y], dst->width * sizeof(PixelQ4));
}

// Both frames the same size.
inline void copy_frame_in_bands(ImageQ4* to, const ImageQ4* from) {
  sparkMpFork(reinterpret_cast<SparkMpRoutine>(&frame_copy_band), 2, static_cast<void*>(to),
              const_cast<void*>(static_cast<const void*>(from)));
}

#endif
