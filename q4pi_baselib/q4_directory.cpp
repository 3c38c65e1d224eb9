#include "q4_directory.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>

bool DirectoryOpen(Directory* dir, const char* path) {
  dir->handle = nullptr;
  dir->path[0] = '\0';
  const size_t length = strlen(path);
  // A cut path would open some other directory; keep room for the "/".
  if (length + 2 > sizeof dir->path) return false;
  memcpy(dir->path, path, length + 1);
  dir->handle = opendir(dir->path);
  if (!dir->handle) return false;
  if (length == 0 || dir->path[length - 1] != '/') strcat(dir->path, "/");
  return true;
}

bool DirectoryReadNextEntry(Directory* dir, DirEntry* entry) {
  if (!dir->handle) return false;
  const dirent* found = readdir(dir->handle);
  if (!found) return false;
  char full[Q4_PATH_SIZE + sizeof found->d_name];
  snprintf(full, sizeof full, "%s%s", dir->path, found->d_name);
  struct stat info;
  // A dangling link is still an entry (one that is no directory); only an
  // entry that cannot be examined at all ends the reading.
  if (stat(full, &info) != 0 && lstat(full, &info) != 0) return false;
  snprintf(entry->name, sizeof entry->name, "%s", found->d_name);
  entry->is_directory = S_ISDIR(info.st_mode) ? 1 : 0;
  entry->modification_time = static_cast<int>(info.st_mtime);
  return true;
}

void DirectoryClose(Directory* dir) {
  if (dir->handle) closedir(dir->handle);
  dir->handle = nullptr;
}
