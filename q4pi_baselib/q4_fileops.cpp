#include "q4_fileops.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "q4_memory.h"

namespace {

const char* const month_words[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                   "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
char time_string[64];

bool stat_path(const char* path, struct stat* info) { return path && stat(path, info) == 0; }

// Both names reach one file: other spellings of a path, hard links, a
// symbolic link.
bool same_file(const char* a, const char* b) {
  struct stat first, second;
  return stat_path(a, &first) && stat_path(b, &second) && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

bool write_all(int fd, const char* data, ssize_t count) {
  while (count > 0) {
    const ssize_t written = write(fd, data, static_cast<size_t>(count));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    count -= written;
  }
  return true;
}

}  // namespace

bool file_exists(const char* path) {
  struct stat info;
  return stat_path(path, &info) && S_ISREG(info.st_mode);
}

bool file_is_directory(const char* path) {
  struct stat info;
  return stat_path(path, &info) && S_ISDIR(info.st_mode);
}

bool file_is_accessible(const char* path, bool dir, bool write) {
  struct stat info;
  if (!stat_path(path, &info)) return false;
  if (dir ? !S_ISDIR(info.st_mode) : !S_ISREG(info.st_mode)) return false;
  return access(path, write ? (R_OK | W_OK) : R_OK) == 0;
}

bool file_set_access(const char* path, bool writable) {
  const mode_t mode = file_is_directory(path) ? (writable ? 0777 : 0555) : (writable ? 0666 : 0444);
  return chmod(path, mode) == 0;
}

int file_create_directory(const char* path) { return mkdir(path, 0777); }

bool file_create_directory_bool(const char* path) { return file_create_directory(path) == 0; }

int64_t file_size(const char* path) {
  struct stat info;
  if (!stat_path(path, &info) || !S_ISREG(info.st_mode)) return 0;
  return static_cast<int64_t>(info.st_size);
}

long file_mod_time(const char* path) {
  struct stat info;
  return stat_path(path, &info) ? static_cast<long>(info.st_mtime) : 0;
}

long file_status_change_time(const char* path) {
  struct stat info;
  return stat_path(path, &info) ? static_cast<long>(info.st_ctime) : 0;
}

char* file_time_to_string(long time, int form) {
  const time_t seconds = static_cast<time_t>(time);
  tm t;
  // A time beyond the calendar leaves t unset, and its month would index
  // the word table with garbage.
  if (!localtime_r(&seconds, &t)) return nullptr;
  // tm_year itself may be close to INT_MAX.
  const long long year = t.tm_year + 1900LL;
  const int month = t.tm_mon + 1;
  if (form == 1)
    snprintf(time_string, sizeof time_string, "%4.4lld/%2.2d/%2.2d %2.2d:%2.2d:%2.2d", year, month,
             t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  else if (form == 2)
    snprintf(time_string, sizeof time_string, "%2.2d/%2.2d/%4.4lld %2.2d:%2.2d:%2.2d", t.tm_mday,
             month, year, t.tm_hour, t.tm_min, t.tm_sec);
  else
    snprintf(time_string, sizeof time_string, "%2.2d-%s-%4.4lld %2.2d:%2.2d:%2.2d", t.tm_mday,
             month_words[t.tm_mon], year, t.tm_hour, t.tm_min, t.tm_sec);
  return time_string;
}

bool file_rename(const char* old_path, const char* new_path) { return rename(old_path, new_path) == 0; }

bool file_delete(const char* path) { return unlink(path) == 0; }

const char* get_temp_directory() { return "/tmp"; }
const char* get_system_directory() { return "/"; }
const char* round_get_mode() { return "unknown"; }

char* file_load(const char* path, int* count) {
  const int64_t size = file_size(path);
  // The count is an int and the block holds one more byte for the NUL.
  if (size <= 0 || size >= INT_MAX) return nullptr;
  const unsigned n = static_cast<unsigned>(size);
  char* block = static_cast<char*>(q4_malloc(n + 1, __FILE__, __LINE__));
  if (!block) return nullptr;
  FILE* file = fopen(path, "rb");
  if (!file) {
    q4_free(block, __FILE__, __LINE__);
    return nullptr;
  }
  const size_t read = fread(block, 1, n, file);
  fclose(file);
  *count = static_cast<int>(read);
  block[n] = '\0';
  return block;
}

int file_save(const char* path, const void* data, int count) {
  FILE* file = fopen(path, "w+");
  if (!file) return -1;
  const size_t written = count > 0 ? fwrite(data, 1, static_cast<size_t>(count), file) : 0;
  fclose(file);
  return static_cast<int>(written);
}

bool file_copy(const char* src, const char* dst, char* buffer, int size) {
  if (buffer && size <= 0) return false;
  const int in = open(src, O_RDONLY);
  if (in < 0) return false;
  const int out = open(dst, O_WRONLY | O_CREAT | O_TRUNC, 0777);
  if (out < 0) {
    close(in);
    return false;
  }
  char* block = buffer;
  if (!block) {
    size = 65536;
    block = static_cast<char*>(q4_malloc(static_cast<unsigned>(size), __FILE__, __LINE__));
  }
  bool ok = block != nullptr;
  while (ok) {
    const ssize_t got = read(in, block, static_cast<size_t>(size));
    if (got < 0 && errno == EINTR) continue;
    if (got == 0) break;
    ok = got > 0 && write_all(out, block, got);
  }
  if (close(out) != 0) ok = false;
  close(in);
  if (block && !buffer) q4_free(block, __FILE__, __LINE__);
  return ok;
}

bool file_move(const char* src, const char* dst, bool rename_it) {
  if (strcmp(src, dst) == 0) return false;
  // Removing the destination first would delete the only copy; the file is
  // where it is asked to be already.
  if (same_file(src, dst)) return true;
  if (file_exists(dst)) unlink(dst);
  if (rename_it) return rename(src, dst) == 0;
  // The source stays when the copy failed: it is the only good copy.
  return file_copy(src, dst, nullptr, 0) && unlink(src) == 0;
}

int file_backup(const char* path, int count) {
  const char* dot = strrchr(path, '.');
  if (dot == path) dot = nullptr;
  const size_t stem_length = dot ? static_cast<size_t>(dot - path) : strlen(path);
  const char* ext = dot ? dot : "";
  const int stem_width = static_cast<int>(stem_length);
  const size_t size = strlen(path) + 32;
  char* src = static_cast<char*>(q4_malloc(static_cast<unsigned>(size), __FILE__, __LINE__));
  char* dst = static_cast<char*>(q4_malloc(static_cast<unsigned>(size), __FILE__, __LINE__));
  int moved = 0;
  for (int i = count - 1; src && dst && i >= 0; --i) {
    if (i == 0)
      snprintf(src, size, "%s", path);
    else
      snprintf(src, size, "%.*s.%d%s", stem_width, path, i, ext);
    snprintf(dst, size, "%.*s.%d%s", stem_width, path, i + 1, ext);
    if (!file_exists(src)) continue;
    if ((file_exists(dst) && unlink(dst) != 0) || rename(src, dst) != 0) {
      moved = -1;
      break;
    }
    ++moved;
  }
  if (!src || !dst) moved = -1;
  if (src) q4_free(src, __FILE__, __LINE__);
  if (dst) q4_free(dst, __FILE__, __LINE__);
  return moved;
}
