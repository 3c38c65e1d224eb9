// A pyramid's levels as image files.
#include <cstdio>

#include "imagelib_fileio.h"
#include "imagelib_pyramid.h"

bool ImagelibPyramid::dumplevels(const char* prefix) const {
  if (!prefix) return false;
  for (int k = 0; k <= top_; ++k) {
    char name[4096];
    const int length = snprintf(name, sizeof name, "%s%2.2d.tif", prefix, k);
    // A name cut short would be some other file.
    if (length < 0 || length >= static_cast<int>(sizeof name)) return false;
    if (!image_write_file(name, levels_[k], false)) return false;
  }
  return true;
}
