#include "q4_worker_pool.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <thread>

#include "q4_claims.h"
#include "q4_runner_limit.h"
#include "q4_thread_start.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define Q4_CPU_RELAX() _mm_pause()
#else
#define Q4_CPU_RELAX() std::this_thread::yield()
#endif

namespace {

thread_local bool in_task = false;

// How long a thread between runs, or a caller waiting for the last index,
// watches for the next event before it sleeps. Longer than the gaps between
// the forks of a simulation step (the serial work between its stages): a
// thread woken through the kernel arrives late for the next fork, and on a
// shared machine often later than the caller's patience. Short enough that
// a pool between frames hands its cores back within a scheduler's time
// slice.
constexpr std::chrono::microseconds spin_time(1000);

// Most indices a run hands out, and most runners: they travel in 16 bits.
constexpr int max_count = 0xffff;
// Most threads the pool starts; a run that asks for more runs the rest of
// its indices on the threads it has.
constexpr int max_threads = 1024;

// How often a claimed run looks at how long the threads waited for a
// processor (q4_runner_limit.h): long enough to see a time slice or two of
// a core shared with another program, short enough to follow it within a
// few frames.
constexpr long long look_period_ns = 16000000;
// Less runnable time than this over a look says nothing of the cores.
constexpr long long least_runnable_ns = 1000000;

long long monotonic_ns() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// Spins until ready() or the thread has spun for the spin time; true when
// ready. A gap between two looks at the clock far longer than their pauses
// is time the system held the thread back, and counts only up to the cap:
// a thread that slept through its look would otherwise sleep on as it
// wakes, and each wake-up through the kernel makes it late for the next
// run. The thread's own processor time would say the same, but reading it
// is a system call, and a look that costs a microsecond makes every run
// start late.
template <typename Ready>
bool spin_until(Ready ready) {
  constexpr long long gap_cap_ns = 20000;
  const long long spin_ns = std::chrono::nanoseconds(spin_time).count();
  long long spun = 0, last = monotonic_ns();
  for (unsigned i = 1;; ++i) {
    if (ready()) return true;
    Q4_CPU_RELAX();
    if ((i & 31) == 0) {
      const long long now = monotonic_ns();
      spun += std::min(now - last, gap_cap_ns);
      last = now;
      if (spun >= spin_ns) return ready();
    }
  }
}

void run_task(q4_pool_task task, void* context, int index, int count) {
  const bool outer = in_task;
  in_task = true;
  task(context, index, count);
  in_task = outer;
}

// The announcement idle threads watch, one word: the run, whether its
// indices are assigned, whether a claimed run has indices past the
// runners' own, and how many runners take part (the caller included).
struct Announcement {
  uint64_t runners : 16;
  uint64_t assigned : 1;
  uint64_t extras : 1;
  uint64_t run : 46;
};

// The indices one runner ran in one run, raised after each.
struct Tally {
  uint64_t indices : 16;
  uint64_t run : 48;
};

// Each travels in one word that threads load and store whole.
static_assert(std::atomic<Announcement>::is_always_lock_free && std::atomic<Tally>::is_always_lock_free,
              "the pool's words must be single atomic words");

// What one runner (the caller is runner 0) shares with the others, on a
// line of its own.
struct alignas(64) Slot {
  // The last run whose index of the same number as this runner was taken,
  // by this runner or by another. A claimed run of R runners hands index k
  // < R out by raising slot k's stamp to the run; when the run ends every
  // such stamp holds the run or a later one, so a thread that slept through
  // the run's end can take none of its indices.
  std::atomic<uint64_t> taken{0};
  // The indices this runner ran in a run, raised after each: a count
  // shared by all would pass from core to core at the end of every run.
  std::atomic<Tally> done{Tally{0, 0}};
  // The last run this runner's thread has looked at.
  std::atomic<uint64_t> seen{0};
  // The thread's system id, once it runs; its scheduler statistics and its
  // times at the last look (the callers' alone).
  std::atomic<int> thread_id{0};
  StatFile stats;
  int watched = 0;
  RunnerTimes times;
  bool timed = false;
};

class WorkerPool {
 public:
  WorkerPool() {
    slots_[0] = new Slot;
    slot_count_.store(1, std::memory_order_relaxed);
  }

  int limit() const { return limit_.load(std::memory_order_relaxed); }

  // Notes the most runners asked for since the last look, by runs and by
  // hosts sizing their forks (whose runs then ask no more than the limit),
  // from any thread: a limit given back that reaches it is none.
  void ask(int runners) {
    int most = asked_.load(std::memory_order_relaxed);
    while (most < runners && !asked_.compare_exchange_weak(most, runners, std::memory_order_relaxed)) {
    }
  }

  // A host that sizes its forks by the limit may run on one runner, with
  // no claimed run to look at the threads: it looks here, unless a run is
  // going on (which looks itself).
  int runners(int wanted) {
    ask(wanted);
    if (!in_task) {
      std::unique_lock<std::mutex> one_run(run_mutex_, std::try_to_lock);
      if (one_run.owns_lock()) look_at_threads();
    }
    return std::max(1, std::min(wanted, limit()));
  }

  int run(int workers, q4_pool_task task, void* context) {
    std::lock_guard<std::mutex> one_run(run_mutex_);
    // Threads serve indices 1..; the caller is index 0, so a run of as many
    // workers as cores never has a spinning thread more than it has cores.
    const int threaded = start_threads(workers);
    const uint64_t run = publish(false, workers, threaded, task, context);
    run_task(task, context, 0, workers);
    for (int index = threaded; index < workers; ++index) run_task(task, context, index, workers);
    const Tally own{static_cast<uint64_t>(1 + workers - threaded), run};
    wait_for(run, workers, own, [](bool) {});
    return threaded;
  }

  void share(int count, int runners, q4_pool_task task, void* context) {
    std::lock_guard<std::mutex> one_run(run_mutex_);
    ask(runners);
    look_at_threads();
    runners = start_threads(std::min(runners, limit_.load(std::memory_order_relaxed)));
    const uint64_t run = publish(true, count, runners, task, context);
    const auto start = std::chrono::steady_clock::now();
    Tally tally{0, run};
    claim_and_run(0, run, count > runners, nullptr, tally);
    // A running thread takes its own index at once. One that has not taken
    // it by the time the caller's own share has taken twice as long again,
    // and a few microseconds more, is one the system holds back, and the
    // caller runs that index itself; so does a caller about to sleep. A
    // thread that has not looked at the run before this one is held back
    // still: its index is run at once.
    const auto own = std::chrono::steady_clock::now() - start;
    const auto patience = 3 * own + std::chrono::microseconds(10);
    bool absent_taken = false, all_taken = false;
    auto look = [&](bool sleeping) {
      if (all_taken) return;
      const bool patient = !sleeping && std::chrono::steady_clock::now() - start < patience;
      if (patient && absent_taken) return;
      for (int k = 1; k < runners; ++k)
        if ((!patient || slots_[k]->seen.load(std::memory_order_relaxed) + 1 < run) && take(k, run))
          run_claimed(k, nullptr, tally);
      absent_taken = true;
      all_taken = !patient;
    };
    wait_for(run, count, tally, look);
  }

 private:
  struct Start {
    WorkerPool* pool;
    int index;
    uint64_t seen;
  };

  static void* enter(void* argument) {
    const Start start = *static_cast<Start*>(argument);
    delete static_cast<Start*>(argument);
    start.pool->serve(start.index, start.seen);
    return nullptr;
  }

  // Every look period, the threads' waiting over the last one, and the
  // machine's idle processors, decide the runner limit; a thread past it
  // parks until the limit takes it back or an assigned run needs it, so
  // that it neither runs nor spins on a core another program holds.
  void look_at_threads() {
    const long long now = monotonic_ns();
    if (now < next_look_) return;
    next_look_ = now + look_period_ns;
    long long waited = 0, runnable = 0;
    int counted = 0;
    auto add = [&](int id, Slot& slot) {
      // The caller's slot holds whichever thread calls; another's times do
      // not continue them.
      if (slot.watched != id) {
        slot.watched = slot.stats.open_thread(id) ? id : 0;
        slot.timed = false;
      }
      RunnerTimes times;
      const bool timed = slot.watched == id && q4_runner_times(slot.stats, times);
      if (timed && slot.timed) {
        const long long w = times.waited - slot.times.waited, r = times.ran - slot.times.ran;
        waited += w;
        runnable += w + r;
        counted += w + r > 0;
      }
      slot.times = times;
      slot.timed = timed;
    };
    add(q4_thread_id(), *slots_[0]);
    const int slots = slot_count_.load(std::memory_order_relaxed);
    for (int k = 1; k < slots; ++k)
      if (const int id = slots_[k]->thread_id.load(std::memory_order_acquire)) add(id, *slots_[k]);
    MachineTimes machine;
    if (!machine_open_) machine_open_ = machine_stats_.open("/proc/stat");
    const bool machine_known = machine_open_ && q4_machine_times(machine_stats_, machine);
    const double idle = machine_known && machine_known_ ? q4_idle_processors(machine_, machine, processors_)
                                                        : RunnerLimit::idle_unknown;
    machine_ = machine;
    machine_known_ = machine_known;
    const int asked = asked_.exchange(0, std::memory_order_relaxed);
    if (runnable < least_runnable_ns) return;
    const int before = limit_.load(std::memory_order_relaxed);
    const double lacked = static_cast<double>(waited) / static_cast<double>(runnable) * counted;
    limiter_.observe(RunnerLook{lacked, counted, idle, asked, now});
    limit_.store(limiter_.limit(), std::memory_order_relaxed);
    if (limiter_.limit() > before) {
      { std::lock_guard<std::mutex> lock(mutex_); }
      park_.notify_all();
    }
  }

  // Until the limit takes index back, or an assigned run after `seen` needs
  // it. The limit and the announcement are looked at under the lock that
  // their changes notify through.
  void park(int index, uint64_t seen) {
    std::unique_lock<std::mutex> lock(mutex_);
    park_.wait(lock, [&] {
      const Announcement now = announced_.load();
      const bool needed = now.assigned && now.run != seen && index < static_cast<int>(now.runners);
      return needed || index < limit_.load(std::memory_order_relaxed);
    });
  }

  // Threads for a run of `wanted` runners; returns how many runners there
  // are, the caller included. A thread that cannot be started is tried
  // again by the next run that needs it.
  int start_threads(int wanted) {
    int slots = slot_count_.load(std::memory_order_relaxed);
    while (slots < std::min(wanted, max_threads + 1)) {
      slots_[slots] = new Slot;
      // A new thread has seen every run so far.
      Start* start = new Start{this, slots, run_};
      pthread_t thread;
      if (q4_thread_start(&thread, enter, start) != 0) {
        delete start;
        delete slots_[slots];
        slots_[slots] = nullptr;
        break;
      }
      slot_count_.store(++slots, std::memory_order_release);
    }
    return std::min(wanted, slots);
  }

  // The description first, then the claims, then the announcement. A
  // thread reads the description only for an index the run waits for, so
  // the description stays until it has been read.
  //
  // The announcement's store and the look at sleepers_ are sequentially
  // consistent, as are a sleeper's count and its look at the announcement
  // under the lock: either this thread sees the sleeper and wakes it
  // through the lock, or the sleeper sees the run. A run with every thread
  // awake takes no lock.
  uint64_t publish(bool claimed, int count, int runners, q4_pool_task task, void* context) {
    const uint64_t run = ++run_;
    task_.store(task, std::memory_order_relaxed);
    context_.store(context, std::memory_order_relaxed);
    count_.store(count, std::memory_order_relaxed);
    run_number_.store(run, std::memory_order_relaxed);
    // Indices past the runners' own go out from here, set afresh for every
    // run: a thread late for the last run that claims one runs this run's
    // (the description it reads is this run's), one past the end runs none.
    extras_.reset(runners, claimed ? count : runners);
    const bool extras = claimed && count > runners;
    announced_.store(Announcement{static_cast<uint64_t>(runners), !claimed, extras, run});
    if (runners > 1 && sleepers_.load() > 0) {
      { std::lock_guard<std::mutex> lock(mutex_); }
      start_.notify_all();
    }
    if (!claimed && runners > limit_.load(std::memory_order_relaxed)) {
      { std::lock_guard<std::mutex> lock(mutex_); }
      park_.notify_all();
    }
    return run;
  }

  // Takes index k of the run if nobody has: true when this runner has it.
  bool take(int k, uint64_t run) {
    std::atomic<uint64_t>& taken = slots_[k]->taken;
    uint64_t stamp = taken.load(std::memory_order_relaxed);
    while (stamp < run)
      if (taken.compare_exchange_weak(stamp, run, std::memory_order_acq_rel, std::memory_order_relaxed))
        return true;
    return false;
  }

  // Runs index `index` of the run it belongs to and reports it on the slot.
  void run_claimed(int index, Slot* slot, Tally& tally) {
    const uint64_t run = run_number_.load(std::memory_order_relaxed);
    if (tally.run != run) tally = Tally{0, run};
    run_task(task_.load(std::memory_order_relaxed), context_.load(std::memory_order_relaxed), index,
             count_.load(std::memory_order_relaxed));
    ++tally.indices;
    if (slot) report(*slot, tally);
  }

  // Runner `self` of a claimed run, as announced: its own index, then those
  // past the runners' own. The others' own indices are left to the caller's
  // patience: the threads' looks at each other's slots would pass the lines
  // from core to core at every run.
  void claim_and_run(int self, uint64_t run, bool extras, Slot* slot, Tally& tally) {
    if (take(self, run)) run_claimed(self, slot, tally);
    for (int index; extras && extras_.claim(index);) run_claimed(index, slot, tally);
  }

  void report(Slot& slot, const Tally& tally) {
    slot.done.store(tally);
    if (caller_waits_.load()) {
      { std::lock_guard<std::mutex> lock(mutex_); }
      done_.notify_all();
    }
  }

  // Returns when the indices the threads report for the run and those the
  // caller ran (`own`, which look(sleeping) may raise) make up all `count`.
  // look(false) runs between looks at the slots while the caller spins,
  // look(true) before it sleeps.
  template <typename Look>
  void wait_for(uint64_t run, int count, const Tally& own, Look look) {
    const int slots = slot_count_.load(std::memory_order_relaxed);
    auto all_done = [&] {
      int done = static_cast<int>(own.indices);
      for (int k = 1; k < slots; ++k) {
        const Tally tally = slots_[k]->done.load();
        if (tally.run == run) done += static_cast<int>(tally.indices);
      }
      return done >= count;
    };
    if (spin_until([&] {
          if (all_done()) return true;
          look(false);
          return false;
        }))
      return;
    look(true);
    // The same handshake as at the start: a thread that reports raises no
    // lock unless the caller has said, under the lock, that it sleeps.
    std::unique_lock<std::mutex> lock(mutex_);
    caller_waits_.store(true);
    done_.wait(lock, all_done);
    caller_waits_.store(false, std::memory_order_relaxed);
  }

  void serve(int index, uint64_t seen) {
    Slot& slot = *slots_[index];
    slot.thread_id.store(q4_thread_id(), std::memory_order_release);
    Tally tally{0, 0};
    for (;;) {
      Announcement now{};
      auto started = [&] {
        now = announced_.load();
        return now.run != seen;
      };
      if (!spin_until(started)) {
        std::unique_lock<std::mutex> lock(mutex_);
        sleepers_.fetch_add(1);
        start_.wait(lock, started);
        sleepers_.fetch_sub(1);
      }
      seen = now.run;
      slot.seen.store(seen, std::memory_order_relaxed);
      if (index >= static_cast<int>(now.runners)) {
        if (index >= limit_.load(std::memory_order_relaxed)) park(index, seen);
        continue;
      }
      if (now.assigned) {
        // The run waits for this index, so its description stays.
        tally = Tally{1, seen};
        run_task(task_.load(std::memory_order_relaxed), context_.load(std::memory_order_relaxed), index,
                 count_.load(std::memory_order_relaxed));
        report(slot, tally);
      } else {
        claim_and_run(index, seen, now.extras, &slot, tally);
      }
    }
  }

  std::mutex run_mutex_;
  std::mutex mutex_;
  std::condition_variable start_;
  std::condition_variable done_;
  std::condition_variable park_;
  uint64_t run_ = 0;  // the caller's count of runs
  // Slots 1.. belong to the threads, each made before its thread starts;
  // a slot once made stays.
  Slot* slots_[max_threads + 1] = {};
  std::atomic<int> slot_count_{0};
  // What idle threads watch, what they claim from, what they read for an
  // index and what finishing threads look at sit on lines of their own.
  alignas(64) std::atomic<Announcement> announced_{Announcement{0, 0, 0, 0}};
  alignas(64) Claims extras_;
  alignas(64) std::atomic<q4_pool_task> task_{nullptr};
  std::atomic<void*> context_{nullptr};
  std::atomic<int> count_{0};
  std::atomic<uint64_t> run_number_{0};
  alignas(64) std::atomic<int> sleepers_{0};
  std::atomic<bool> caller_waits_{false};
  // The runner limit, set by callers and read by the threads; the rest is
  // the callers' own, under run_mutex_.
  alignas(64) std::atomic<int> limit_{RunnerLimit::none};
  RunnerLimit limiter_{static_cast<unsigned>(getpid())};
  long long next_look_ = 0;
  StatFile machine_stats_;
  bool machine_open_ = false;
  MachineTimes machine_;
  bool machine_known_ = false;
  const int processors_ = std::max(1, static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)));
  std::atomic<int> asked_{0};
};

// Never destroyed: a process forked from one with the pool's threads asleep
// would wait at exit for sleepers it does not have, and the threads end
// with the process anyway.
WorkerPool& pool() {
  static WorkerPool* const instance = new WorkerPool;
  return *instance;
}

// Runs the indices one after another on the calling thread.
void run_here(int count, q4_pool_task task, void* context) {
  for (int i = 0; i < count; ++i) run_task(task, context, i, count);
}

}  // namespace

void q4_pool_share(int count, int runners, q4_pool_task task, void* context) {
  if (!task || count < 1) return;
  if (runners > count) runners = count;
  if (runners <= 1 || in_task || count > max_count) return run_here(count, task, context);
  pool().share(count, runners, task, context);
}

int q4_pool_run(int workers, q4_pool_task task, void* context) {
  if (!task || workers < 1) return 0;
  if (workers == 1 || in_task || workers > max_count) {
    run_here(workers, task, context);
    return workers;
  }
  return pool().run(workers, task, context);
}

int q4_pool_runners(int wanted) { return pool().runners(wanted); }

bool q4_pool_in_task() { return in_task; }
