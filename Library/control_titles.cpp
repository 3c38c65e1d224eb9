#include "control_titles.h"

#include <cstdio>
#include <cstring>

namespace {

// Bounded copy, then trailing characters of the set removed.
int copy_trimmed(char* dst, const char* src, size_t size, const char* trailing) {
  if (size == 0) return -1;
  size_t n = strnlen(src, size - 1);
  std::memmove(dst, src, n);
  while (n > 0 && std::strchr(trailing, dst[n - 1])) --n;
  dst[n] = '\0';
  return (int)n - 1;
}

}  // namespace

int strcpy_strip(char* dst, const char* src, size_t size) {
  return copy_trimmed(dst, src, size, " \n");
}

int strcpy_addlock(char* dst, const char* src, size_t size) {
  if (size == 0) return 0;
  const int wanted = std::snprintf(dst, size, "%s*", src);
  if (wanted < 0) {
    dst[0] = '\0';
    return 0;
  }
  return (size_t)wanted < size ? wanted : (int)(size - 1);
}

int strcpy_dellock(char* dst, const char* src, size_t size) {
  return copy_trimmed(dst, src, size, "*");
}
