#include "q4_runner_limit.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {

// Below two runners a claimed run would be serial: a core held by another
// program for a moment must not take the effect down to one thread.
constexpr int least_runners = 2;
constexpr double cut_above = 0.25;
constexpr double restore_below = 0.1;
constexpr double swamped_share = 0.25;
// A cut is held this long before a runner is given back; twice as long
// after each given back that had to be cut again at once, up to the most.
constexpr long long least_hold_ns = 125000000LL;
constexpr long long most_hold_ns = 1000000000LL;
constexpr long long failed_try_ns = 160000000LL;

}  // namespace

bool q4_runner_times(int thread_id, RunnerTimes& times) {
  char path[64];
  if (thread_id > 0)
    std::snprintf(path, sizeof path, "/proc/self/task/%d/schedstat", thread_id);
  else
    std::snprintf(path, sizeof path, "/proc/thread-self/schedstat");
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char text[128];
  const ssize_t length = read(fd, text, sizeof text - 1);
  close(fd);
  if (length <= 0) return false;
  text[length] = '\0';
  // Time on a processor, time waiting on a run queue, time slices.
  long long ran = 0, waited = 0;
  if (std::sscanf(text, "%lld %lld", &ran, &waited) != 2) return false;
  times = RunnerTimes{ran, waited};
  return true;
}

int q4_thread_id() { return static_cast<int>(syscall(SYS_gettid)); }

void RunnerLimit::observe(double lacked, int runners, long long now_ns) {
  // The middle of the last three looks: one look's wait, as when another
  // program starts up or the system moves a thread, is not a core taken.
  looks_[0] = looks_[1];
  looks_[1] = looks_[2];
  looks_[2] = lacked;
  const double level = std::max(std::min(looks_[0], looks_[1]), std::min(std::max(looks_[0], looks_[1]), looks_[2]));
  const int used = std::min(limit_, runners);
  const int before = limit_;
  // Runners that lack a quarter of their number in cores share them with
  // more threads than a cut can make room for: each runner cut would only
  // hand its share of the machine to the others.
  if (level >= swamped_share * used) {
    limit_ = none;
  } else if (level > cut_above && used > least_runners) {
    limit_ = used - 1;
    // A runner given back that must be cut again at once shows the core
    // still taken: each such try costs a look or two of the slower runs.
    const bool failed_try = gave_back_ && now_ns - changed_at_ <= failed_try_ns;
    hold_ns_ = failed_try ? std::min(2 * hold_ns_, most_hold_ns) : least_hold_ns;
    hold_until_ = now_ns + hold_ns_;
  } else if (limit_ != none && level < restore_below && now_ns >= hold_until_) {
    limit_ = limit_ + 1 >= runners ? none : limit_ + 1;
  }
  // A new limit is judged by the looks after it alone.
  if (limit_ != before) {
    looks_[0] = looks_[1] = looks_[2] = 0;
    gave_back_ = limit_ > before;
    changed_at_ = now_ns;
  }
}
