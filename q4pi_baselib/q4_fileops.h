#ifndef Q4_FILEOPS_H
#define Q4_FILEOPS_H

#include <cstdint>

bool file_exists(const char* path);
bool file_is_directory(const char* path);
bool file_is_accessible(const char* path, bool dir, bool write);
bool file_set_access(const char* path, bool writable);
int file_create_directory(const char* path);
bool file_create_directory_bool(const char* path);
int64_t file_size(const char* path);
long file_mod_time(const char* path);
long file_status_change_time(const char* path);
// Local time in a static buffer; null for a time the calendar cannot hold.
char* file_time_to_string(long time, int form);
bool file_rename(const char* old_path, const char* new_path);
bool file_delete(const char* path);
const char* get_temp_directory();
const char* get_system_directory();
const char* round_get_mode();

// The whole file plus a terminating NUL in a q4_malloc block, the byte count
// in *count; null for an empty, unreadable or too large file.
char* file_load(const char* path, int* count);
int file_save(const char* path, const void* data, int count);
bool file_copy(const char* src, const char* dst, char* buffer, int size);
// Moves src to dst, replacing a regular file there, by rename or by copy and
// removal. False for two equal names; true, nothing touched, for two names
// of one file.
bool file_move(const char* src, const char* dst, bool rename_it);
int file_backup(const char* path, int count);

#endif
