#include "q4_filename.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

char shared_path[Q4_PATH_SIZE];

// A result cut to the buffer would name another path: it is refused (null)
// instead. Otherwise it is copied to out when given.
char* finish_shared(int length, char* out) {
  if (length < 0 || length >= static_cast<int>(sizeof shared_path)) {
    shared_path[0] = '\0';
    return nullptr;
  }
  if (out) strcpy(out, shared_path);
  return shared_path;
}

// The first length characters of text in the shared buffer.
char* share_part(const char* text, size_t length, char* out) {
  if (length >= sizeof shared_path) return finish_shared(-1, out);
  memcpy(shared_path, text, length);
  shared_path[length] = '\0';
  return finish_shared(static_cast<int>(length), out);
}

}  // namespace

const char* file_name_lastcomponent(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

char* file_name_lastcomponent(char* path) {
  return const_cast<char*>(file_name_lastcomponent(static_cast<const char*>(path)));
}

const char* file_name_extension(const char* path) {
  const char* dot = strrchr(path, '.');
  return dot ? dot + 1 : "";
}

char* file_name_extension(char* path) {
  char* dot = strrchr(path, '.');
  static char empty[1] = "";
  return dot ? dot + 1 : empty;
}

bool file_name_strip_extension(const char* src, char* dst) {
  if (!src || !dst) return false;
  if (dst != src) memmove(dst, src, strlen(src) + 1);
  char* dot = strrchr(dst, '.');
  if (dot && dot[1] != '\0') *dot = '\0';
  return true;
}

char* file_name_before_lastcomponent(const char* path, char* out) {
  const char* slash = strrchr(path, '/');
  return share_part(path, slash ? static_cast<size_t>(slash - path) : 0, out);
}

char* file_name_component(const char* path, int index, char* out) {
  if (!path || index < 0) return nullptr;
  // Component 0 of an absolute path keeps its leading slash.
  const char* start = path;
  const char* end = strchr(*path == '/' ? path + 1 : path, '/');
  for (int i = 0; i < index; ++i) {
    if (!end || end[1] == '\0') return nullptr;
    start = end + 1;
    end = strchr(start, '/');
  }
  if (*start == '\0' && index > 0) return nullptr;
  return share_part(start, end ? static_cast<size_t>(end - start) : strlen(start), out);
}

char* file_name_add_component(char* path, const char* component) {
  if (*path) strcat(path, "/");
  strcat(path, component);
  return path;
}

char* file_name_concat(const char* dir, const char* name) {
  if (!dir || !*dir) return finish_shared(snprintf(shared_path, sizeof shared_path, "%s", name), nullptr);
  return finish_shared(snprintf(shared_path, sizeof shared_path, "%s/%s", dir, name), nullptr);
}

void file_name_clean(char* text, int blank, int slash) {
  for (char* c = text; *c; ++c) {
    if (blank && isspace(static_cast<unsigned char>(*c))) *c = static_cast<char>(blank);
    if (slash && *c == '/') *c = static_cast<char>(slash);
  }
}

int file_name_compare(const char* a, const char* b) { return strcmp(a, b); }

int file_name_parse_image_file_name(const char* path, char* base, char* ext, char* digits) {
  if (!path || !base || !ext || !*path) return -1;
  *base = '\0';
  *ext = '\0';
  if (digits) *digits = '\0';
  const char* name = file_name_lastcomponent(path);
  const char* dot = strrchr(name, '.');
  if (!dot || dot == name) return -1;
  strcpy(ext, dot);
  const char* run = dot;
  while (run > name && isdigit(static_cast<unsigned char>(run[-1]))) --run;
  const int count = static_cast<int>(dot - run);
  if (digits) {
    memcpy(digits, run, static_cast<size_t>(count));
    digits[count] = '\0';
  }
  memcpy(base, name, static_cast<size_t>(run - name));
  base[run - name] = '\0';
  return count;
}

int file_name_format_image_file_name(const char* base, const char* ext, int frame, int ndigits,
                                     char* out) {
  if (*ext == '.') ++ext;
  if (ndigits < 1) return sprintf(out, "%s.%s", base, ext);
  return sprintf(out, "%s%*.*d.%s", base, ndigits, ndigits, frame, ext);
}
