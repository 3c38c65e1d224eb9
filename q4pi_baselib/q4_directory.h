#ifndef Q4_DIRECTORY_H
#define Q4_DIRECTORY_H

#include <dirent.h>

#include "q4_filename.h"

struct Directory {
  DIR* handle;
  char path[Q4_PATH_SIZE];  // ends in "/" once opened
};

struct DirEntry {
  char name[Q4_PATH_SIZE];
  int is_directory;
  int modification_time;
};

// False when the path (with its final "/") does not fit or cannot be opened.
bool DirectoryOpen(Directory* dir, const char* path);
// False at the end, or when an entry cannot be examined at all.
bool DirectoryReadNextEntry(Directory* dir, DirEntry* entry);
void DirectoryClose(Directory* dir);

#endif
