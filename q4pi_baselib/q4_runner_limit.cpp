#include "q4_runner_limit.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

StatFile::~StatFile() {
  if (fd_ >= 0) close(fd_);
}

bool StatFile::open(const char* path) {
  if (fd_ >= 0) close(fd_);
  fd_ = ::open(path, O_RDONLY | O_CLOEXEC);
  return fd_ >= 0;
}

bool StatFile::open_thread(int thread_id) {
  char path[64];
  if (thread_id > 0)
    std::snprintf(path, sizeof path, "/proc/self/task/%d/schedstat", thread_id);
  else
    std::snprintf(path, sizeof path, "/proc/thread-self/schedstat");
  return open(path);
}

bool StatFile::read(char* text, int size) const {
  if (fd_ < 0 || size < 1) return false;
  const ssize_t length = pread(fd_, text, static_cast<size_t>(size - 1), 0);
  if (length <= 0) return false;
  text[length] = '\0';
  return true;
}

bool q4_runner_times(const StatFile& thread, RunnerTimes& times) {
  char text[128];
  if (!thread.read(text, sizeof text)) return false;
  // Time on a processor, time waiting on a run queue, time slices.
  long long ran = 0, waited = 0;
  if (std::sscanf(text, "%lld %lld", &ran, &waited) != 2) return false;
  times = RunnerTimes{ran, waited};
  return true;
}

int q4_thread_id() { return static_cast<int>(syscall(SYS_gettid)); }

bool q4_machine_times(const StatFile& machine, MachineTimes& times) {
  char text[256];
  if (!machine.read(text, sizeof text)) return false;
  // The first line sums the processors: user, nice, system, idle, waiting
  // for I/O, interrupts, soft interrupts, and time the host of a virtual
  // machine gave to others.
  long long t[8] = {};
  if (std::sscanf(text, "cpu %lld %lld %lld %lld %lld %lld %lld %lld", &t[0], &t[1], &t[2], &t[3], &t[4], &t[5],
                  &t[6], &t[7]) < 5)
    return false;
  times = MachineTimes{t[0] + t[1] + t[2] + t[3] + t[4] + t[5] + t[6] + t[7], t[3] + t[4]};
  return true;
}

double q4_idle_processors(const MachineTimes& before, const MachineTimes& after, int processors) {
  const long long total = after.total - before.total;
  if (total <= 0) return RunnerLimit::idle_unknown;
  return static_cast<double>(after.idle - before.idle) / static_cast<double>(total) * processors;
}

void RunnerLimit::observe(const RunnerLook& look) {
  // The middle of the last three looks: one look's wait, as when another
  // program starts up or the system moves a thread, is not a core taken.
  looks_[0] = looks_[1];
  looks_[1] = looks_[2];
  looks_[2] = look.lacked;
  ++fresh_looks_;
  const double level = std::max(std::min(looks_[0], looks_[1]), std::min(std::max(looks_[0], looks_[1]), looks_[2]));
  const double taken = look.lacked >= tuning_.cut_at_once ? look.lacked : level;
  const int used = std::min(limit_, look.runners);
  const int before = limit_;
  if (taken > tuning_.cut_above && used > 1) {
    // As many runners as the threads had cores, rounded to the nearest.
    const int had = static_cast<int>(std::floor(look.threads - taken + 0.5));
    limit_ = std::max(1, std::min(used - 1, had));
    // A runner given back that must be cut again at once shows the core
    // still taken: each such try costs a look or two of the slower runs.
    const bool failed_try = gave_back_ && look.now_ns - changed_at_ <= tuning_.failed_try_ns;
    hold_ns_ = failed_try ? std::min(2 * hold_ns_, tuning_.most_hold_ns) : tuning_.least_hold_ns;
    hold_until_ = look.now_ns + hold_ns_ + hold_ns_ / 8 * stagger_;
  } else if (limit_ != none && fresh_looks_ >= 3 && level < tuning_.restore_below && look.now_ns >= hold_until_ &&
             (look.idle == idle_unknown || look.idle >= tuning_.idle_core)) {
    limit_ = limit_ + 1 >= look.runners ? none : limit_ + 1;
  }
  // A new limit is judged by the looks after it alone.
  if (limit_ != before) {
    looks_[0] = looks_[1] = looks_[2] = 0;
    fresh_looks_ = 0;
    gave_back_ = limit_ > before;
    changed_at_ = look.now_ns;
  }
}
