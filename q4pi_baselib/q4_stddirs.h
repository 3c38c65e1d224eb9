#ifndef Q4_STDDIRS_H
#define Q4_STDDIRS_H

#include <cstdio>

// The standard directory tree under the install home ($Q4_HOME_DIR).
typedef int StandardDirectory;
enum {
  Q4_DIR_HOME = 69,
  Q4_DIR_SETTINGS = 70,
  Q4_DIR_VARIABLES = 71,
  Q4_DIR_LOGS = 73
};

const char* get_home_directory();
// The path in a static buffer that the next call overwrites; " " for an
// unknown code; null when the path does not fit the buffer.
const char* get_standard_directory(int code);
bool ensure_path_exists(const char* path);
char* ensure_standard_directory(const char* sub, const char* file, char* out);
bool ensure_standard_environment();
// Sends standard error (and with it the message log) to home/Logs/name.log.
FILE* open_log(const char* name);

#endif
