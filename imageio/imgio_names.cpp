// File names: extensions, frame numbers and directories.
#include <cctype>
#include <cstdio>
#include <cstring>

#include "imgio_internal.h"
#include "imgio_utils.h"
#include "q4_memory.h"

namespace {

char extension_buffer[IMGIO_NAME_SIZE];
char strip_buffer[IMGIO_NAME_SIZE];

bool all_digits(const char* begin, const char* end) {
  for (const char* c = begin; c < end; ++c)
    if (!isdigit(static_cast<unsigned char>(*c))) return false;
  return true;
}

// The '.' that starts the name's extension, or null when it has none.
const char* extension_dot(const char* name) {
  const char* end = name + strlen(name);
  for (const char* c = end; c > name;) {
    --c;
    if (*c == '/') return nullptr;
    if (*c == '.') return c == name || c + 1 == end || all_digits(c + 1, end) ? nullptr : c;
  }
  return nullptr;
}

// Reads up to two digits of a width or precision; false beyond 32.
bool small_number(const char*& c) {
  int value = 0;
  for (int digits = 0; isdigit(static_cast<unsigned char>(*c)); ++c, ++digits) {
    value = value * 10 + (*c - '0');
    if (digits == 2 || value > 32) return false;
  }
  return true;
}

// A frame pattern is used only when it takes exactly the name (one %s) and
// then the frame (one integer conversion of bounded width and precision):
// any other conversion would read arguments that are not there.
bool pattern_ok(const char* pattern) {
  int stage = 0;  // 0: before %s, 1: before the number, 2: after both
  for (const char* c = pattern; *c; ++c) {
    if (*c != '%') continue;
    ++c;
    if (*c == '%') continue;
    if (stage == 0) {
      if (*c != 's') return false;
      stage = 1;
      continue;
    }
    if (stage == 2) return false;
    while (*c && strchr("-+ 0#", *c)) ++c;
    if (!small_number(c)) return false;
    if (*c == '.' && !small_number(++c)) return false;
    if (!*c || !strchr("diouxX", *c)) return false;
    stage = 2;
  }
  return stage == 2;
}

char* heap_copy(const char* text) { return q4_strdup_c(text, __FILE__, __LINE__); }

}  // namespace

size_t imgio_stem_length(const char* name) {
  const char* dot = extension_dot(name);
  return dot ? static_cast<size_t>(dot - name) : strlen(name);
}

void extreplace(char* out, const char* name, const char* ext) {
  const size_t keep = imgio_stem_length(name);
  memmove(out, name, keep);
  out[keep] = '\0';
  if (ext && *ext) {
    strcat(out, ".");
    strcat(out, ext);
  }
}

char* getformatextension(const char* name, const char* format) {
  if (!name || !format) return nullptr;
  const int index = strcmp(format, "?") == 0 ? imgsystem.current : imgfindformat(format);
  if (index == 0 && strcmp(format, "?") != 0) return nullptr;
  const char* ext = imgio_format_ext(index);
  if (strlen(name) + strlen(ext) + 2 > sizeof extension_buffer) return nullptr;
  extreplace(extension_buffer, name, ext);
  return extension_buffer;
}

const char* stripimgdir(const char* path) {
  if (!path) return nullptr;
  const char* slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

char* stripimgname(const char* path, int strip_frame) {
  if (!path || strlen(path) + 1 > sizeof strip_buffer) return nullptr;
  extreplace(strip_buffer, path, "");
  if (!strip_frame) return strip_buffer;
  char* component = const_cast<char*>(stripimgdir(strip_buffer));
  char* end = component + strlen(component);
  if (!*strip_buffer || all_digits(component, end)) {
    strcpy(strip_buffer, "./");
    return strip_buffer;
  }
  if (!strpbrk(component, "._@-")) return strip_buffer;
  while (end > component && isdigit(static_cast<unsigned char>(end[-1]))) --end;
  if (end > component && strchr("._@-", end[-1])) --end;
  *end = '\0';
  return strip_buffer;
}

char* addframenumber(const char* name, int frame) {
  if (!name) return nullptr;
  if (frame < 0) return heap_copy(name);
  const char* pattern = getkeyval("IMGIO_SEQ_FORMAT");
  if (!pattern || strcmp(pattern, "Default") == 0) pattern = imgsystem.formats[imgsystem.current].seq;
  if (!pattern || !pattern_ok(pattern)) pattern = imgio_builtin_seq(imgsystem.current);
  const int length = snprintf(nullptr, 0, pattern, name, frame);
  if (length < 0) return nullptr;
  char* result = static_cast<char*>(q4_malloc_c(static_cast<unsigned>(length) + 1, __FILE__, __LINE__));
  if (result) snprintf(result, static_cast<size_t>(length) + 1, pattern, name, frame);
  return result;
}

char* addframenumberdir(const char* dir, const char* name, int frame) {
  if (!dir) return nullptr;
  char* numbered = addframenumber(name, frame);
  if (!numbered) return nullptr;
  const size_t length = strlen(dir) + strlen(numbered) + 2;
  char* result = static_cast<char*>(q4_malloc_c(static_cast<unsigned>(length), __FILE__, __LINE__));
  if (result) snprintf(result, length, "%s/%s", dir, numbered);
  q4_free_c(numbered, __FILE__, __LINE__);
  return result;
}
