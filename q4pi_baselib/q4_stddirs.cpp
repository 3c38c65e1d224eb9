#include "q4_stddirs.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "q4_fileops.h"
#include "q4_filename.h"
#include "q4_log.h"

namespace {

const char* const default_home = "/usr/local/Veltrane";
char standard_directory[Q4_PATH_SIZE];
char ensured_path[Q4_PATH_SIZE];

// Appends "/" (unless text already ends in one) and part; false when the
// result would not fit.
bool append_part(char* text, size_t size, const char* part) {
  const size_t length = strlen(text);
  const bool slash = length == 0 || text[length - 1] != '/';
  if (length + (slash ? 1 : 0) + strlen(part) >= size) return false;
  if (slash) strcat(text, "/");
  strcat(text, part);
  return true;
}

}  // namespace

const char* get_home_directory() {
  const char* home = getenv("Q4_HOME_DIR");
  if (home) {
    q4_notify(Q4_LOG_TRACE, "get_home_directory() is returning: %s\n", home);
    return home;
  }
  q4_notify(Q4_LOG_TRACE, "get_home_directory() is returning utils hardwired DEFAULT: %s\n",
            default_home);
  return default_home;
}

const char* get_standard_directory(int code) {
  const char* home = get_home_directory();
  char* const out = standard_directory;
  const size_t size = sizeof standard_directory;
  int length;
  switch (code) {
    case Q4_DIR_HOME: length = snprintf(out, size, "%s", home); break;
    case Q4_DIR_SETTINGS: length = snprintf(out, size, "%s/Settings", home); break;
    case Q4_DIR_VARIABLES: length = snprintf(out, size, "%s/Settings/Variables", home); break;
    case Q4_DIR_LOGS: length = snprintf(out, size, "%s/Logs", home); break;
    default: length = snprintf(out, size, " "); break;
  }
  // A home too long for the buffer would be cut to some other directory,
  // which the standard environment would then create and open to everyone.
  if (length < 0 || length >= static_cast<int>(size)) return nullptr;
  q4_notify(Q4_LOG_TRACE, "get_standard_directory(%d) is returning: %s\n", code, standard_directory);
  return standard_directory;
}

bool ensure_path_exists(const char* path) {
  if (!path) return false;
  if (file_is_directory(path)) return true;
  char prefix[Q4_PATH_SIZE] = "";
  char component[Q4_PATH_SIZE];
  for (int i = 0; file_name_component(path, i, component); ++i) {
    if (strlen(prefix) + strlen(component) + 2 > sizeof prefix) return false;
    file_name_add_component(prefix, component);
    if (*prefix && !file_is_directory(prefix) && mkdir(prefix, 0777) != 0) return false;
  }
  // An empty path has no components, so the loop alone proves nothing.
  return file_is_directory(path);
}

char* ensure_standard_directory(const char* sub, const char* file, char* out) {
  char path[Q4_PATH_SIZE];
  // A home cut to the buffer names some other directory, which an empty
  // sub would hand out and create as it is.
  if (snprintf(path, sizeof path, "%s", get_home_directory()) >= static_cast<int>(sizeof path)) return nullptr;
  if (!append_part(path, sizeof path, sub)) return nullptr;
  if (!file_is_directory(path) && mkdir(path, 0777) != 0) {
    q4_notify(Q4_LOG_ERROR, "Error creating directory %s : %s\n", path, strerror(errno));
    return nullptr;
  }
  if (file && !append_part(path, sizeof path, file)) return nullptr;
  strcpy(ensured_path, path);
  if (!out) return ensured_path;
  strcpy(out, path);
  return out;
}

bool ensure_standard_environment() {
  static const int codes[] = {Q4_DIR_HOME, Q4_DIR_SETTINGS, Q4_DIR_VARIABLES, Q4_DIR_LOGS};
  for (int code : codes)
    if (!ensure_path_exists(get_standard_directory(code))) return false;
  for (int code : codes) file_set_access(get_standard_directory(code), true);
  return true;
}

FILE* open_log(const char* name) {
  q4_notify_set_facility(name);
  ensure_standard_environment();
  char file[Q4_PATH_SIZE];
  if (snprintf(file, sizeof file, "%s.log", name) >= static_cast<int>(sizeof file)) return nullptr;
  const char* path = ensure_standard_directory("Logs", file, nullptr);
  if (!path) return nullptr;
  char log_path[Q4_PATH_SIZE];
  strcpy(log_path, path);
  file_backup(log_path, 10);
  return freopen(log_path, "w+", stderr);
}
