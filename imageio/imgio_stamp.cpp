// The time, host and user that written files record.
#include "imgio_stamp.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

bool fixed_set = false;
imgio_stamp fixed;

void copy_name(char* out, size_t size, const char* name) {
  snprintf(out, size, "%s", name && name[0] ? name : "unknown");
}

}  // namespace

imgio_stamp imgio_current_stamp() {
  if (fixed_set) return fixed;
  imgio_stamp stamp{};
  stamp.when = time(nullptr);
  if (gethostname(stamp.host, sizeof stamp.host) != 0) copy_name(stamp.host, sizeof stamp.host, nullptr);
  stamp.host[sizeof stamp.host - 1] = '\0';
  copy_name(stamp.login, sizeof stamp.login, getlogin());
  stamp.process = static_cast<int>(getpid());
  return stamp;
}

void imgio_fix_stamp(const time_t* when, const char* host, const char* login, int process) {
  fixed = imgio_stamp{};
  fixed.when = when ? *when : 0;
  copy_name(fixed.host, sizeof fixed.host, host);
  copy_name(fixed.login, sizeof fixed.login, login);
  fixed.process = process;
  fixed_set = true;
}

void imgio_unfix_stamp() { fixed_set = false; }
