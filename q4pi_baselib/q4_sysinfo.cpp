#include "q4_sysinfo.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sched.h>
#include <sys/sysinfo.h>
#include <sys/time.h>
#include <unistd.h>

#include "q4_log.h"

namespace {

int page_size = -1;
// Large enough for the system's user-name length and for the fallback.
char user_name[std::max<size_t>(L_cuserid, sizeof "unknown_user")];
char machine_name[256];

unsigned to_kilobytes(unsigned long long units, unsigned long long unit_size) {
  const unsigned long long kb = units * unit_size / 1024;
  return kb > UINT_MAX ? UINT_MAX : static_cast<unsigned>(kb);
}

}  // namespace

double q4mp_getclock() {
  timeval now;
  gettimeofday(&now, nullptr);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_usec) * 1e-6;
}

int q4mp_yield() { return sched_yield(); }

int q4mp_timedwait(long long nanoseconds) {
  timespec wait;
  wait.tv_sec = static_cast<time_t>(nanoseconds / 1000000000LL);
  wait.tv_nsec = static_cast<long>(nanoseconds % 1000000000LL);
  int result;
  while ((result = nanosleep(&wait, &wait)) == -1 && errno == EINTR) {
  }
  return result;
}

int q4mp_get_raw_cpu_count() { return get_nprocs(); }

int q4mp_get_pagesize() {
  if (page_size == -1) page_size = static_cast<int>(sysconf(_SC_PAGESIZE));
  return page_size < 512 ? 512 : page_size;
}

char* q4mp_username() {
  // With a buffer given, a user without a name comes back as an empty text
  // rather than as null.
  if (!cuserid(user_name) || !user_name[0])
    snprintf(user_name, sizeof user_name, "%s", "unknown_user");
  return user_name;
}

char* q4mp_machinename() {
  if (gethostname(machine_name, sizeof machine_name) != 0)
    snprintf(machine_name, sizeof machine_name, "%s", "unknown_machine");
  machine_name[sizeof machine_name - 1] = '\0';
  return machine_name;
}

char* q4os_errormsg() { return strerror(errno); }

void q4mp_get_meminfo(unsigned* total, unsigned* free, int with_swap) {
  struct sysinfo info;
  if (sysinfo(&info) != 0) {
    q4_notify(Q4_LOG_ERROR, "MP MEMORY ERROR: sysinfo failed\n");
    if (total) *total = 0;
    if (free) *free = 0;
    return;
  }
  unsigned long long total_units = info.totalram, free_units = info.freeram;
  if (with_swap) {
    total_units += info.totalswap;
    free_units += info.freeswap;
  }
  if (total) *total = to_kilobytes(total_units, info.mem_unit);
  if (free) *free = to_kilobytes(free_units, info.mem_unit);
}

unsigned q4mp_memfree(unsigned* out) {
  unsigned total = 0, free = 0;
  q4mp_get_meminfo(&total, &free, 1);
  if (out) *out = free;
  return free;
}

int q4mp_schedule_ndpi() {
  const int priority = sched_get_priority_max(SCHED_OTHER);
  if (priority < 1) return priority;
  sched_param param;
  param.sched_priority = priority;
  return sched_setscheduler(0, sched_getscheduler(0), &param);
}

void q4mp_schedule_high() {}
void q4mp_schedule_normal() {}
void q4mp_schedule_low() {}
void q4mp_list_activeinfo() {}
