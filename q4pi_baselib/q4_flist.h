#ifndef Q4_FLIST_H
#define Q4_FLIST_H

#include "q4_filename.h"

// A sorted listing of one directory. The record, both arrays and every name
// belong to the list.
struct dir_list {
  char path[Q4_PATH_SIZE];  // without a final "/" unless it is "/"
  int file_count;
  int file_capacity;
  char** files;
  int directory_count;
  int directory_capacity;
  char** directories;
};

// sort: 0 reading order, 2 by status-change time (oldest first), 3 by the
// custom compare, any other value by name ignoring case. An empty path lists
// the mount points (unless existing_only).
dir_list* flist_new(const char* path, int sort, int existing_only);
void flist_delete(dir_list* list);
int flist_select_extension(dir_list* list, const char* ext);
void flist_set_custom_compare(int (*compare)(const void*, const void*));
int file_cmp(const void* a, const void* b);
int file_cmp_status_change_time(const void* a, const void* b);

// Calls fn for every file below path, depth first, in sorted order; hidden
// directories and links to directories are not entered.
void file_scan_directory(const char* path, void (*fn)(char* path, void* data), void* data);
// Deletes the directory with everything under it; links are removed, never
// followed. Returns the final rmdir result (0 = success), -1 when path is no
// directory.
int file_deep_delete_directory(const char* path, int existing_only);
int file_delete_directory(const char* path, bool deep, bool flag);
bool file_delete_directory_bool(const char* path, bool deep, bool flag);
bool file_deep_delete_directory_bool(const char* path, bool existing_only);

struct tagDWATCH;
bool watch_directory_start(tagDWATCH* watch, const char* path, void (*created)(char*),
                           void (*deleted)(char*), bool recursive);
void watch_directory_end(tagDWATCH* watch);

#endif
