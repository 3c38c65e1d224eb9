#include "q4_flist.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mntent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "q4_directory.h"
#include "q4_fileops.h"
#include "q4_log.h"
#include "q4_memory.h"

namespace {

int (*custom_compare)(const void*, const void*) = nullptr;
// The directory whose names file_cmp_status_change_time is comparing.
char sort_path[Q4_PATH_SIZE];

// Appends a copy of name to a growing name array; false when out of memory.
bool add_name(char*** names, int* count, int* capacity, int first_capacity, const char* name) {
  if (*count == *capacity) {
    const int grown = *capacity ? *capacity * 2 : first_capacity;
    char** bigger = static_cast<char**>(
        q4_realloc(*names, static_cast<unsigned>(grown * sizeof(char*)), __FILE__, __LINE__));
    if (!bigger) {
      q4_notify(Q4_LOG_ERROR, "ensure_memory(): Out of memory!\n");
      return false;
    }
    *names = bigger;
    *capacity = grown;
  }
  char* copy = q4_strdup(name, __FILE__, __LINE__);
  if (!copy) {
    q4_notify(Q4_LOG_ERROR, "ensure_memory(): Out of memory!\n");
    return false;
  }
  (*names)[(*count)++] = copy;
  return true;
}

bool add_file(dir_list* list, const char* name) {
  return add_name(&list->files, &list->file_count, &list->file_capacity, 128, name);
}

bool add_directory(dir_list* list, const char* name) {
  return add_name(&list->directories, &list->directory_count, &list->directory_capacity, 32, name);
}

bool list_mount_points(dir_list* list) {
  FILE* table = setmntent("/etc/mtab", "r");
  if (!table) return false;
  while (const mntent* entry = getmntent(table)) {
    if (strstr("proc,fd", entry->mnt_type)) continue;
    if (!*entry->mnt_dir || strcmp(entry->mnt_dir, ".") == 0) continue;
    add_directory(list, entry->mnt_dir);
  }
  endmntent(table);
  return list->directory_count > 0;
}

// The listed directory: the path without its final "/", or the folder of a
// path that names no directory. False for a path too long to hold: cut, it
// would list another directory.
bool choose_path(dir_list* list, const char* path) {
  size_t length = strlen(path);
  if (length >= sizeof list->path) return false;
  memcpy(list->path, path, length + 1);
  if (length >= 2 && list->path[length - 1] == '/') list->path[--length] = '\0';
  if (length == 2 && list->path[1] == ':') return true;
  if (file_is_directory(list->path)) return true;
  char* slash = strrchr(list->path, '/');
  if (slash && slash - list->path >= 2) {
    *slash = '\0';
  } else if (!getcwd(list->path, sizeof list->path)) {
    list->path[0] = '\0';
  }
  return true;
}

void read_entries(dir_list* list) {
  const bool root = strcmp(list->path, "/") == 0;
  bool saw_parent = false;
  Directory dir;
  if (DirectoryOpen(&dir, list->path)) {
    DirEntry entry;
    while (DirectoryReadNextEntry(&dir, &entry)) {
      const char* name = entry.name;
      if (!*name) continue;
      if (!entry.is_directory) {
        add_file(list, name);
        continue;
      }
      if (strcmp(name, ".") == 0) continue;
      if (strcmp(name, "..") == 0) {
        if (root) continue;
        saw_parent = true;
      }
      add_directory(list, name);
    }
    DirectoryClose(&dir);
  }
  if (!root && !saw_parent) add_directory(list, "..");
}

void sort_names(dir_list* list, int sort) {
  if (list->file_count >= 2) {
    int (*compare)(const void*, const void*) = file_cmp;
    if (sort == 2) {
      snprintf(sort_path, sizeof sort_path, "%s", list->path);
      compare = file_cmp_status_change_time;
    } else if (sort == 3) {
      compare = custom_compare;
    }
    if (compare) qsort(list->files, static_cast<size_t>(list->file_count), sizeof(char*), compare);
  }
  if (list->directory_count >= 2)
    qsort(list->directories, static_cast<size_t>(list->directory_count), sizeof(char*), file_cmp);
}

long status_change_time(const char* name) {
  char full[2 * Q4_PATH_SIZE];
  snprintf(full, sizeof full, "%s/%s", sort_path, name);
  return file_status_change_time(full);
}

bool is_link(const char* path) {
  struct stat info;
  return lstat(path, &info) == 0 && S_ISLNK(info.st_mode);
}

// As is_link, also for "link/": a final slash would make lstat follow it.
// A path too long to check counts as a link, so it is never emptied.
bool names_link(const char* path) {
  char bare[Q4_PATH_SIZE];
  if (snprintf(bare, sizeof bare, "%s", path) >= static_cast<int>(sizeof bare)) return true;
  size_t length = strlen(bare);
  while (length > 1 && bare[length - 1] == '/') bare[--length] = '\0';
  return is_link(bare);
}

}  // namespace

dir_list* flist_new(const char* path, int sort, int existing_only) {
  dir_list* list = static_cast<dir_list*>(q4_calloc(1, sizeof(dir_list), __FILE__, __LINE__));
  if (!list) return nullptr;
  if (!path || !*path) {
    if (!existing_only && list_mount_points(list)) return list;
    flist_delete(list);
    return nullptr;
  }
  if (existing_only && !file_is_directory(path) && !file_exists(path)) {
    flist_delete(list);
    return nullptr;
  }
  if (!choose_path(list, path)) {
    flist_delete(list);
    return nullptr;
  }
  read_entries(list);
  if (sort != 0) sort_names(list, sort);
  return list;
}

void flist_delete(dir_list* list) {
  if (!list) return;
  for (int i = 0; i < list->file_count; ++i) q4_free(list->files[i], __FILE__, __LINE__);
  for (int i = 0; i < list->directory_count; ++i) q4_free(list->directories[i], __FILE__, __LINE__);
  if (list->files) q4_free(list->files, __FILE__, __LINE__);
  if (list->directories) q4_free(list->directories, __FILE__, __LINE__);
  q4_free(list, __FILE__, __LINE__);
}

int flist_select_extension(dir_list* list, const char* ext) {
  if (!ext || !*ext) return 0;
  if (!list->files) {
    list->file_count = 0;
    return 0;
  }
  int kept = 0;
  for (int i = 0; i < list->file_count; ++i) {
    char* name = list->files[i];
    const char* dot = strrchr(name, '.');
    if (strcmp(dot ? dot + 1 : "", ext) == 0)
      list->files[kept++] = name;
    else
      q4_free(name, __FILE__, __LINE__);
  }
  list->file_count = kept;
  return kept;
}

void flist_set_custom_compare(int (*compare)(const void*, const void*)) { custom_compare = compare; }

int file_cmp(const void* a, const void* b) {
  return strcasecmp(*static_cast<char* const*>(a), *static_cast<char* const*>(b));
}

int file_cmp_status_change_time(const void* a, const void* b) {
  const long first = status_change_time(*static_cast<char* const*>(a));
  const long second = status_change_time(*static_cast<char* const*>(b));
  return first < second ? -1 : (first > second ? 1 : 0);
}

void file_scan_directory(const char* path, void (*fn)(char* path, void* data), void* data) {
  dir_list* list = flist_new(path, 1, 1);
  if (!list) return;
  char full[2 * Q4_PATH_SIZE];
  for (int i = 0; i < list->directory_count; ++i) {
    if (list->directories[i][0] == '.') continue;
    snprintf(full, sizeof full, "%s/%s", list->path, list->directories[i]);
    // A linked directory may lead back up the tree: never entered.
    if (!is_link(full)) file_scan_directory(full, fn, data);
  }
  for (int i = 0; i < list->file_count; ++i) {
    snprintf(full, sizeof full, "%s/%s", list->path, list->files[i]);
    fn(full, data);
  }
  flist_delete(list);
}

int file_deep_delete_directory(const char* path, int existing_only) {
  // A link to a directory is no directory of its own: emptying it would
  // delete files of another tree.
  if (!path || names_link(path) || !file_is_directory(path)) return -1;
  dir_list* list = flist_new(path, 0, existing_only);
  if (!list) return 0;
  char full[2 * Q4_PATH_SIZE];
  for (int i = 0; i < list->directory_count; ++i) {
    const char* name = list->directories[i];
    // Hidden directories are kept, so the final rmdir fails while one is left.
    if (name[0] == '.') continue;
    snprintf(full, sizeof full, "%s/%s", list->path, name);
    // A link is removed itself: what it points at lies outside this tree.
    if (is_link(full))
      unlink(full);
    else
      file_deep_delete_directory(full, existing_only);
  }
  for (int i = 0; i < list->file_count; ++i) {
    snprintf(full, sizeof full, "%s/%s", list->path, list->files[i]);
    unlink(full);
  }
  flist_delete(list);
  return rmdir(path);
}

int file_delete_directory(const char* path, bool deep, bool flag) {
  return deep ? file_deep_delete_directory(path, flag ? 1 : 0) : rmdir(path);
}

bool file_delete_directory_bool(const char* path, bool deep, bool flag) {
  return file_delete_directory(path, deep, flag) == 0;
}

bool file_deep_delete_directory_bool(const char* path, bool existing_only) {
  return file_deep_delete_directory(path, existing_only ? 1 : 0) == 0;
}

bool watch_directory_start(tagDWATCH*, const char*, void (*)(char*), void (*)(char*), bool) {
  return false;
}

void watch_directory_end(tagDWATCH*) {}
