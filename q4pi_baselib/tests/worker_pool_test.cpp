#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "q4_bands.h"
#include "q4_runner_limit.h"
#include "q4_simd.h"
#include "q4_worker_pool.h"
#include "simd_paths.h"

namespace {

struct Tally {
  std::vector<std::atomic<int>> hits;
  std::atomic<int> wrong_count{0};
  int expected_workers = 0;
  explicit Tally(int n) : hits(n) {}
};

void count_index(void* context, int index, int workers) {
  Tally& tally = *static_cast<Tally*>(context);
  if (workers != tally.expected_workers || !q4_pool_in_task()) tally.wrong_count++;
  tally.hits[index]++;
}

}  // namespace

TEST(WorkerPool, EveryIndexRunsOnceAcrossGrowingShrinkingAndConcurrentRuns) {
  for (int round = 0; round < 200; ++round) {
    const int workers = 1 + (round * 7) % 16;
    Tally tally(workers);
    tally.expected_workers = workers;
    q4_pool_run(workers, count_index, &tally);
    for (int i = 0; i < workers; ++i) ASSERT_EQ(tally.hits[i].load(), 1) << "run " << round << " index " << i;
    ASSERT_EQ(tally.wrong_count.load(), 0);
  }
  EXPECT_FALSE(q4_pool_in_task());

  // Callers on several threads take turns; none loses or repeats an index.
  std::vector<std::thread> callers;
  std::atomic<int> failures{0};
  for (int c = 0; c < 4; ++c) {
    callers.emplace_back([&, c] {
      for (int r = 0; r < 100; ++r) {
        const int workers = 2 + (c + r) % 7;
        Tally tally(workers);
        tally.expected_workers = workers;
        q4_pool_run(workers, count_index, &tally);
        for (int i = 0; i < workers; ++i)
          if (tally.hits[i].load() != 1) failures++;
      }
    });
  }
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(failures.load(), 0);
}

// Claimed runs of every size and runner count, interleaved with assigned
// ones and from several callers at once: a thread that slept through runs
// must neither run an index of a finished run nor take one of a later run.
TEST(WorkerPool, SharedRunsRunEveryIndexOnceWhoeverClaimsIt) {
  std::atomic<int> failures{0};
  auto rounds = [&](int caller) {
    for (int r = 0; r < 300; ++r) {
      const int count = 1 + (r * 13 + caller) % 70, runners = 1 + (r + caller) % 9;
      const bool assigned = r % 5 == 4;
      const int ran = assigned ? std::min(runners, count) : count;
      Tally tally(count);
      tally.expected_workers = ran;
      if (assigned)
        q4_pool_run(ran, count_index, &tally);
      else
        q4_pool_share(count, runners, count_index, &tally);
      for (int i = 0; i < count; ++i)
        if (tally.hits[i].load() != (i < ran ? 1 : 0)) failures++;
      // The pause lets the threads fall asleep between some runs.
      if (r % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  };
  rounds(0);
  std::vector<std::thread> callers;
  for (int c = 1; c <= 3; ++c) callers.emplace_back(rounds, c);
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(failures.load(), 0);
}

// One index holds its runner until every other index is done: the other
// runners must take them all, so no index waits for a given thread. In a
// process of its own, whose pool has seen no load: the limit earlier runs
// left could take the run down to the caller alone, holding the index.
void run_with_a_held_index() {
  struct Held {
    std::atomic<int> done{0};
    std::atomic<int> timed_out{0};
    int count = 200;
  } held;
  q4_pool_share(
      held.count, 4,
      [](void* context, int index, int) {
        Held& h = *static_cast<Held*>(context);
        if (index == 0) {
          const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
          while (h.done.load() < h.count - 1)
            if (std::chrono::steady_clock::now() > give_up) {
              h.timed_out++;
              break;
            }
        }
        h.done++;
      },
      &held);
  std::exit(held.done.load() == held.count && held.timed_out.load() == 0 ? 0 : 1);
}

TEST(WorkerPool, AHeldRunnerLeavesTheRestToTheOthers) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(run_with_a_held_index(), testing::ExitedWithCode(0), "");
}

TEST(WorkerPool, ARunFromInsideATaskRunsItsIndicesOnThatThread) {
  struct Nest {
    std::atomic<int> inner_runs{0};
    std::atomic<int> foreign_thread{0};
  } nest;
  q4_pool_run(
      4,
      [](void* context, int, int) {
        Nest& n = *static_cast<Nest*>(context);
        const std::thread::id me = std::this_thread::get_id();
        struct Inner {
          Nest* nest;
          std::thread::id owner;
        } inner{&n, me};
        q4_pool_run(
            3,
            [](void* c, int, int) {
              Inner& in = *static_cast<Inner*>(c);
              in.nest->inner_runs++;
              if (std::this_thread::get_id() != in.owner) in.nest->foreign_thread++;
            },
            &inner);
      },
      &nest);
  EXPECT_EQ(nest.inner_runs.load(), 12);
  EXPECT_EQ(nest.foreign_thread.load(), 0);
}

TEST(WorkerPool, AChildForkedWhileTheThreadsSleepExits) {
  Tally tally(4);
  tally.expected_workers = 4;
  q4_pool_run(4, count_index, &tally);
  // Long past the threads' spin: they wait asleep when the fork is taken.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) exit(0);
  int status = 0;
  pid_t done = 0;
  for (int k = 0; k < 1000 && done == 0; ++k) {
    done = waitpid(child, &status, WNOHANG);
    if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (done == 0) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
  EXPECT_EQ(done, child) << "the child hung at exit";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// While other threads hold a quarter of the cores, the pool's threads wait
// for them, the runner limit falls and threads past it park; claimed runs
// must still run every index once, and assigned runs must wake the parked
// threads.
TEST(WorkerPool, RunsCompleteWhileOtherThreadsHoldCores) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> busy;
  for (unsigned k = 0; k < std::max(1u, std::thread::hardware_concurrency() / 4); ++k)
    busy.emplace_back([&] {
      while (!stop.load(std::memory_order_relaxed)) {
      }
    });
  int failures = 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  for (int r = 0; std::chrono::steady_clock::now() < until; ++r) {
    const int count = 8 + r % 9;
    Tally tally(count);
    tally.expected_workers = r % 4 == 3 ? 8 : count;
    if (r % 4 == 3)
      q4_pool_run(8, count_index, &tally);
    else
      q4_pool_share(count, 8, count_index, &tally);
    for (int i = 0; i < (r % 4 == 3 ? 8 : count); ++i) failures += tally.hits[i].load() != 1;
    failures += tally.wrong_count.load();
  }
  stop = true;
  for (std::thread& t : busy) t.join();
  EXPECT_EQ(failures, 0);
}

// The limit's course through a worked sequence of looks, on a tuning of
// the test's own (times in ms), so that the pool's may be retuned.
TEST(RunnerLimit, FollowsTheCoresTheRunnersHadDownToOneAndGivesBackOnIdleCores) {
  const long long ms = 1000000;
  // Cut above 0.5 cores, at once from 2; free below 0.2 with a whole core
  // idle; held 100 ms, up to 300 after tries failed within 50 ms.
  const RunnerTuning tuning{0.5, 2.0, 0.2, 1.0, 100 * ms, 300 * ms, 50 * ms};
  const int none = RunnerLimit::none;
  const double unknown = RunnerLimit::idle_unknown;
  struct Step {
    double lacked;
    int threads;
    double idle;
    int runners;
    long long at_ms;
    int limit;
  } steps[] = {
      {0.0, 8, 4, 8, 0, none},        // nothing lacked: no limit
      {0.8, 8, 4, 8, 16, none},       // one look's wait is not a core taken
      {0.8, 8, 4, 8, 32, 7},          // two: the threads had 7.2 cores, and keep 7
      {3.4, 8, 4, 8, 48, 5},          // over 2 cores lacked cuts at once; the thread
                                      // past the limit still ran: 8 - 3.4 = 4.6 cores
      {0.0, 5, 2, 8, 96, 5},          // free, but held until 148 ms
      {0.0, 5, 2, 8, 112, 5},
      {0.0, 5, 2, 8, 128, 5},
      {0.0, 5, 0.5, 8, 160, 5},       // held no more, but no core idle
      {0.0, 5, 1.5, 8, 176, 6},       // an idle core: one back
      {2.5, 6, 0.0, 8, 192, 4},       // cut again within 50 ms: 6 - 2.5 = 3.5 cores,
                                      // held twice as long, until 392 ms
      {0.0, 4, 3, 8, 300, 4},
      {0.0, 4, 3, 8, 320, 4},
      {0.0, 4, 3, 8, 340, 4},         // three free looks, but held
      {0.0, 4, 3, 8, 400, 5},
      {7.0, 8, 0.0, 8, 1000, 1},      // renders side by side: all cores but one lacked
      {0.9, 1, 0.0, 8, 1016, 1},
      {0.9, 1, 0.0, 8, 1032, 1},      // never below one
      {0.0, 1, unknown, 8, 1200, 1},  // the middle look still lacked
      {0.0, 1, unknown, 8, 1216, 2},  // idle time unknown: given back on waits alone
      {0.0, 2, 2.0, 3, 1400, 2},
      {0.0, 2, 2.0, 3, 1416, 2},
      {0.0, 2, 2.0, 3, 1432, none},   // given back up to the runners asked: no limit
  };
  RunnerLimit limit(0, tuning);
  for (const Step& step : steps) {
    limit.observe(RunnerLook{step.lacked, step.threads, step.idle, step.runners, step.at_ms * ms});
    EXPECT_EQ(limit.limit(), step.limit) << "at " << step.at_ms << " ms";
  }
  // A cut at 0 ms holds until 100 ms; staggered by three eighths, until
  // 137.5 ms.
  const int unstaggered[] = {6, 6, 6, 7, 7}, staggered[] = {6, 6, 6, 6, 7};
  for (unsigned stagger : {0u, 3u}) {
    RunnerLimit held(stagger, tuning);
    const long long at[] = {0, 50, 110, 130, 140};
    for (int k = 0; k < 5; ++k) {
      held.observe(RunnerLook{k == 0 ? 2.5 : 0.0, 8, 4.0, 8, at[k] * ms});
      EXPECT_EQ(held.limit(), (stagger ? staggered : unstaggered)[k]) << "stagger " << stagger << " at " << at[k];
    }
  }
}

// Idle processors from two readings of the machine's times; the readings
// take the fields of the first line of /proc/stat as the system documents
// them (idle and I/O wait are the fourth and fifth).
TEST(RunnerLimit, IdleProcessorsFromTheMachinesTimes) {
  EXPECT_DOUBLE_EQ(q4_idle_processors(MachineTimes{1000, 300}, MachineTimes{1800, 500}, 8), 2.0);
  EXPECT_DOUBLE_EQ(q4_idle_processors(MachineTimes{0, 0}, MachineTimes{400, 400}, 4), 4.0);
  EXPECT_EQ(q4_idle_processors(MachineTimes{500, 100}, MachineTimes{500, 100}, 8), RunnerLimit::idle_unknown);
  StatFile machine;
  ASSERT_TRUE(machine.open("/proc/stat"));
  MachineTimes before, after;
  ASSERT_TRUE(q4_machine_times(machine, before));
  std::ifstream stat("/proc/stat");
  std::string cpu;
  long long field, total = 0, idle = 0;
  stat >> cpu;
  for (int k = 0; k < 8 && stat >> field; ++k) {
    total += field;
    if (k == 3 || k == 4) idle += field;
  }
  ASSERT_TRUE(q4_machine_times(machine, after));
  // Our readings bracket the test's own parse between them.
  ASSERT_EQ(cpu, "cpu");
  EXPECT_TRUE(before.total <= total && total <= after.total && before.idle <= idle && idle <= after.idle);
}

// The scheduler's figures are read in their order, again and again from the
// open file: time on a processor grows by the processor time the thread
// burns, as its own clock says.
TEST(RunnerLimit, ReadsTheThreadsTimes) {
  StatFile mine, by_id;
  ASSERT_TRUE(mine.open_thread(0));
  ASSERT_TRUE(by_id.open_thread(q4_thread_id()));
  RunnerTimes before, after, seen_by_id;
  ASSERT_TRUE(q4_runner_times(mine, before));
  timespec start, now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
  do clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  while ((now.tv_sec - start.tv_sec) * 1000000000LL + now.tv_nsec - start.tv_nsec < 20000000);
  long long ran = 0, waited = 0;
  std::ifstream("/proc/thread-self/schedstat") >> ran >> waited;
  ASSERT_TRUE(q4_runner_times(mine, after));
  ASSERT_TRUE(q4_runner_times(by_id, seen_by_id));
  EXPECT_GE(after.ran - before.ran, 15000000);
  EXPECT_TRUE(before.ran <= ran && ran <= after.ran && before.waited <= waited && waited <= after.waited);
  EXPECT_GE(seen_by_id.ran, after.ran);
  StatFile closed;
  EXPECT_FALSE(q4_runner_times(closed, after));
  EXPECT_FALSE(closed.open("/proc/self/no-such-statistics"));
}

TEST(Bands, HostAndThreadSplitsOfLongAndShortRanges) {
  struct Case {
    long count, workers;
    ShortSplit rule;
    std::vector<std::pair<long, long>> bands;
  };
  const Case cases[] = {
      {10, 4, ShortSplit::to_last, {{0, 1}, {2, 3}, {4, 5}, {6, 9}}},
      {10, 4, ShortSplit::to_first, {{0, 1}, {2, 3}, {4, 5}, {6, 9}}},
      {3, 4, ShortSplit::to_last, {{0, -1}, {0, -1}, {0, -1}, {0, 2}}},
      {3, 4, ShortSplit::to_first, {{0, 2}, {3, 2}, {3, 2}, {3, 2}}},
      {5, 0, ShortSplit::to_last, {{0, 4}}},
      {0, 2, ShortSplit::to_first, {{0, -1}, {0, -1}}},
  };
  for (const Case& c : cases) {
    for (size_t k = 0; k < c.bands.size(); ++k) {
      long first = 99, last = 99;
      q4_band(static_cast<long>(k), c.count, c.workers, c.rule, first, last);
      EXPECT_EQ(first, c.bands[k].first) << c.count << " on " << c.workers << " band " << k;
      EXPECT_EQ(last, c.bands[k].second) << c.count << " on " << c.workers << " band " << k;
    }
  }
  long first = 0, last = 0;
  q4_band(4, 10, 4, ShortSplit::to_last, first, last);
  EXPECT_GT(first, last);
  q4_band(-1, 10, 4, ShortSplit::to_last, first, last);
  EXPECT_GT(first, last);
}

namespace {

Q4_SIMD_BODY void multiply_add_body(const float* a, const float* b, const float* c, float* out, int n) {
  for (int i = 0; i < n; ++i) out[i] = a[i] * b[i] + c[i];
}
Q4_SIMD_DISPATCH(void, multiply_add, (const float* a, const float* b, const float* c, float* out, int n),
                 (a, b, c, out, n))

}  // namespace

// A product rounded before the sum differs from a fused one in the last bit
// for most inputs: both copies must round it, as the reference does.
TEST(Simd, BothCopiesRoundEveryProductAsWritten) {
  const int n = 1003;
  std::vector<float> a(n), b(n), c(n), expected(n);
  unsigned seed = 12345;
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<float>(seed >> 8) / 16777216.0f - 0.5f;
  };
  for (int i = 0; i < n; ++i) {
    a[i] = next() * 3.0f;
    b[i] = next() * 7.0f;
    c[i] = next();
    volatile float product = a[i] * b[i];
    expected[i] = product + c[i];
  }
  const auto paths = run_on_both_simd_paths([&] {
    std::vector<float> out(n);
    multiply_add(a.data(), b.data(), c.data(), out.data(), n);
    return out;
  });
  EXPECT_EQ(paths.first, expected);
  EXPECT_EQ(paths.second, expected);
  EXPECT_TRUE(q4_simd_use_avx2() || !__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma"));
}
