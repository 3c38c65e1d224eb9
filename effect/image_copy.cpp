#include "image_copy.h"

#include <cstring>

namespace {

struct CopyJob {
  ImageQ4* dst;
  ImageQ4* src;
};

void mp_copy_rows(void* object, int first, int last) {
  const CopyJob& job = *static_cast<const CopyJob*>(object);
  const size_t bytes = static_cast<size_t>(job.dst->width) * sizeof(PixelQ4);
  for (int y = first; y <= last; ++y) std::memcpy(job.dst->rows[y], job.src->rows[y], bytes);
}

}  // namespace

void image_copy(PluginQ4* plugin, ImageQ4* dst, ImageQ4* src) {
  CopyJob job{dst, src};
  lib_mp_exec(plugin, mp_copy_rows, dst->height, &job);
}
