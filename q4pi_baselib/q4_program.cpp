#include "q4_program.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include "q4_exit.h"
#include "q4_fileops.h"
#include "q4_filename.h"
#include "q4_log.h"
#include "q4_memory.h"
#include "q4_stddirs.h"
#include "q4_tempname.h"

int is_program_running(const char* name) {
  char list_path[256];
  snprintf(list_path, sizeof list_path, "%s", file_get_temp_name());
  char command[512];
  snprintf(command, sizeof command, "ps -e -o comm > %s", list_path);
  if (system(command) != 0) {
    unlink(list_path);
    return -1;
  }
  FILE* list = fopen(list_path, "r");
  if (!list) return -1;
  int count = 0;
  char line[80];
  while (fgets(line, sizeof line, list)) {
    const size_t length = strlen(line);
    if (length > 0 && line[length - 1] == '\n') line[length - 1] = '\0';
    if (strcasecmp(line, name) == 0) ++count;
  }
  fclose(list);
  unlink(list_path);
  return count;
}

bool program_lock(const char* name, char* buffer, int size) {
  ensure_standard_environment();
  char path[Q4_PATH_SIZE];
  if (snprintf(path, sizeof path, "%s/%s", get_temp_directory(), name) >= static_cast<int>(sizeof path))
    return false;
  // Created exclusively, so two programs starting together cannot both win.
  const int fd = open(path, O_RDWR | O_CREAT | O_EXCL, 0666);
  if (fd < 0) {
    if (errno == EEXIST && buffer && size > 0) {
      *buffer = '\0';
      FILE* lock = fopen(path, "r");
      if (lock) {
        if (!fgets(buffer, size, lock)) *buffer = '\0';
        fclose(lock);
      }
    }
    return false;
  }
  FILE* lock = fdopen(fd, "w+");
  if (!lock) {
    close(fd);
    unlink(path);
    return false;
  }
  const time_t now = time(nullptr);
  char when[64];
  ctime_r(&now, when);
  fprintf(lock, "%d %s\n", static_cast<int>(getpid()), when);
  fclose(lock);
  register_exit_handler(remove_program_lock, q4_strdup(path, __FILE__, __LINE__));
  return true;
}

void remove_program_lock(void* path) {
  if (!path) return;
  unlink(static_cast<char*>(path));
  q4_free(path, __FILE__, __LINE__);
}

void startup_info(const char* title, const char* date, const char* time) {
  ensure_standard_environment();
  if (!title) return;
  const size_t length = strlen(title);
  char* underline = static_cast<char*>(q4_malloc(static_cast<unsigned>(length + 1), __FILE__, __LINE__));
  if (!underline) return;
  memset(underline, '=', length);
  underline[length] = '\0';
  const bool built = date && time;
  printf("\n%s\n%s\n", title, underline);
  if (built) printf("[Built on: %s at %s]\n", date, time);
  printf("\n");
  fflush(stdout);
  q4_notify(Q4_LOG_INFO, "%s\n", title);
  q4_msgcont("%s\n", underline);
  if (built) q4_msgcont("[Built on: %s at %s]\n", date, time);
  q4_free(underline, __FILE__, __LINE__);
}

extern "C" void startup_info_c(const char* title) { startup_info(title, nullptr, nullptr); }
