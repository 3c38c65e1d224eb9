#include "imgio_driver_support.h"

#include <sys/types.h>

#include <climits>

#include "imgio_fields.h"

int imgio_dimensions_ok(int64_t width, int64_t height) {
  return width <= INT_MAX / 8 && height <= INT_MAX && imgsizeok(width, height);
}

uint64_t imgio_bytes_left(FILE* file) {
  const int64_t size = imgio_file_size(file);
  const off_t at = ftello(file);
  return at >= 0 && size > at ? uint64_t(size - at) : 0;
}
