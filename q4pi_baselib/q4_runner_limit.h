#ifndef Q4_RUNNER_LIMIT_H
#define Q4_RUNNER_LIMIT_H

// How many runners the worker pool's claimed runs use. A host never has the
// machine to itself: when another program holds a core, one of as many
// runners as cores shares a core with it, and every run whose index that
// runner holds when the system takes its core away waits for a whole time
// slice. One runner fewer leaves it a core of its own, and the claimed
// indices go to the runners that are running.
//
// The measure is how long the pool's threads waited for a processor while
// they could have run, against how long they were runnable: summed over
// the runners, it is the number of cores the runners lacked.

// What one thread of the pool has had since it started, in nanoseconds.
struct RunnerTimes {
  long long ran = 0;
  long long waited = 0;
};

// The times of the thread with the given system id (0: the calling thread),
// from the system's scheduler statistics; false where it keeps none.
bool q4_runner_times(int thread_id, RunnerTimes& times);

// The calling thread's system id.
int q4_thread_id();

class RunnerLimit {
 public:
  // No limit: the runners the caller asks for.
  static constexpr int none = 1 << 30;

  // The most runners a run may use.
  int limit() const { return limit_; }

  // One look back over the runs since the last: `lacked` cores' worth of
  // waiting (see above) while runs of up to `runners` runners were going,
  // at time `now_ns`; the middle of the last three such looks decides. Cuts
  // one runner when they lacked more than a quarter of a core; gives one
  // back when they lacked almost nothing for the hold after the cut, so a
  // core the other program hands back is used again. The hold is an eighth
  // of a second, doubled up to a second while runners given back are cut
  // again at once: a core still taken costs a look or two a second. Runners
  // that lacked a quarter of their number in cores share a swamped machine:
  // no limit then.
  void observe(double lacked, int runners, long long now_ns);

 private:
  int limit_ = none;
  long long hold_until_ = 0;
  double looks_[3] = {0, 0, 0};
  long long hold_ns_ = 0;
  long long changed_at_ = 0;
  bool gave_back_ = false;
};

#endif
