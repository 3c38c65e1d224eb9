#include "imgio_driver_support.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <climits>

int imgio_dimensions_ok(int64_t width, int64_t height) {
  return width <= INT_MAX / 8 && height <= INT_MAX && imgsizeok(width, height);
}

uint64_t imgio_bytes_left(FILE* file) {
  struct stat status;
  const off_t at = ftello(file);
  return fstat(fileno(file), &status) == 0 && at >= 0 && status.st_size > at ? uint64_t(status.st_size - at) : 0;
}
