#ifndef Q4_RUNNER_LIMIT_H
#define Q4_RUNNER_LIMIT_H

// How many runners the worker pool's claimed runs use. A host never has the
// machine to itself: when another program holds a core, one of as many
// runners as cores shares a core with it, and every run whose index that
// runner holds when the system takes its core away waits for a whole time
// slice; when several renders run side by side, each with a runner a core,
// every run waits for threads the others hold up, and waiting threads burn
// the cores the work needs. Fewer runners leave each one a core of its own,
// down to one: a render with a core to itself runs serially, as fast as it
// can there and with nothing to wait for.
//
// The measure is how long the pool's threads waited for a processor while
// they could have run, against how long they were runnable: summed over
// the runners, it is the number of cores the runners lacked. Whether a
// runner given back would find a core comes from the machine's idle time.

// What one thread of the pool has had since it started, in nanoseconds.
struct RunnerTimes {
  long long ran = 0;
  long long waited = 0;
};

// A file of the system's statistics, kept open: each look reads it again
// from the start, without the system calls of opening and closing it on
// the caller's way.
class StatFile {
 public:
  StatFile() = default;
  ~StatFile();
  StatFile(const StatFile&) = delete;
  StatFile& operator=(const StatFile&) = delete;
  // Closes the file open before; false when the path cannot be opened.
  bool open(const char* path);
  // The scheduler statistics of the thread with the given system id (0:
  // the calling thread).
  bool open_thread(int thread_id);
  // The text as it is now, terminated; false when nothing could be read.
  bool read(char* text, int size) const;

 private:
  int fd_ = -1;
};

// The thread's times from its scheduler statistics.
bool q4_runner_times(const StatFile& thread, RunnerTimes& times);

// The calling thread's system id.
int q4_thread_id();

// The machine's processor time since it started, in clock ticks summed over
// its processors: all of it, and the part no thread wanted.
struct MachineTimes {
  long long total = 0;
  long long idle = 0;
};

// From the system's statistics (/proc/stat).
bool q4_machine_times(const StatFile& machine, MachineTimes& times);

// Idle processors over the time between two readings: idle time over all
// time, times the processors; -1 when nothing passed between them.
double q4_idle_processors(const MachineTimes& before, const MachineTimes& after, int processors);

// One look back over the runs since the last.
struct RunnerLook {
  double lacked;     // cores' worth of waiting of the threads (see above)
  int threads;       // the threads that were runnable, the caller included
  double idle;       // the machine's idle processors meanwhile
  int runners;       // the most runners asked for meanwhile
  long long now_ns;  // the time of the look
};

// When the limit moves. The pool runs on the defaults; a limit built on
// other values behaves the same way on its own scale.
struct RunnerTuning {
  // A look whose threads lacked more cores than this cuts, once it is the
  // middle of the last three looks (one look's wait, a program starting or
  // a thread moved, is not a core taken) ...
  double cut_above = 0.25;
  // ... and one that lacked this many cuts at once: renders side by side,
  // each with a runner a core, lack nearly all but one.
  double cut_at_once = 1.0;
  // Looks that lacked less than this found the runners' cores free.
  double restore_below = 0.1;
  // A runner given back needs this much of a core nobody wanted.
  double idle_core = 0.75;
  // A cut is held this long before a runner is given back; twice as long
  // after each give-back that had to be cut again within failed_try_ns, up
  // to most_hold_ns.
  long long least_hold_ns = 125000000LL;
  long long most_hold_ns = 2000000000LL;
  long long failed_try_ns = 160000000LL;
};

class RunnerLimit {
 public:
  // No limit: the runners the caller asks for.
  static constexpr int none = 1 << 30;
  // The machine's idle time is not known.
  static constexpr double idle_unknown = -1.0;

  // Processes that start together and watch the same machine would give
  // runners back at the same moments and all find the same idle core; each
  // hold of one is lengthened by (stagger % 8) eighths, and a process
  // staggers by its id.
  explicit RunnerLimit(unsigned stagger = 0, const RunnerTuning& tuning = RunnerTuning())
      : tuning_(tuning), stagger_(stagger % 8) {}

  // The most runners a run may use.
  int limit() const { return limit_; }

  // A cut keeps as many runners as the threads had cores (the threads less
  // the cores they lacked), at least one and at least one fewer than were
  // used. A runner is given back when three looks at the limit found the
  // cores free, the hold after the last cut is over and the machine had a
  // core idle (or its idle time is unknown): on a machine whose cores stay
  // taken, a try costs a look or two of slower runs.
  void observe(const RunnerLook& look);

 private:
  RunnerTuning tuning_;
  unsigned stagger_;
  int limit_ = none;
  long long hold_until_ = 0;
  double looks_[3] = {0, 0, 0};
  int fresh_looks_ = 0;
  long long hold_ns_ = 0;
  long long changed_at_ = 0;
  bool gave_back_ = false;
};

#endif
