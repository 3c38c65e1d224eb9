#include "imgio_driver_support.h"

#include <climits>

int imgio_dimensions_ok(int64_t width, int64_t height) {
  return width <= INT_MAX / 8 && height <= INT_MAX && imgsizeok(width, height);
}
