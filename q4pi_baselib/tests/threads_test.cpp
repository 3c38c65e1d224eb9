// Band splitting, the fork-join executor and service threads. Every case
// that depends on the process count, which is chosen once per process, runs
// in a child process of its own.
#include <pthread.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "failing_heap.h"
#include "log_capture.h"
#include "q4_bands.h"
#include "q4_memory.h"
#include "q4_mp_sync.h"
#include "q4_sysinfo.h"
#include "q4_thread_start.h"
#include "q4_threads.h"
#include "q4_worker_pool.h"

namespace {

void* as_arg(intptr_t value) { return reinterpret_cast<void*>(value); }

}  // namespace

TEST(Bands, HalfOpenRangesAndFullCoverageOfEverySplit) {
  struct Case {
    long from, to, workers;
    std::vector<std::pair<long, long>> ranges;
  };
  const Case cases[] = {
      {100, 200, 2, {{100, 150}, {150, 200}}},
      {0, 10, 4, {{0, 2}, {2, 4}, {4, 6}, {6, 10}}},
      {100, 103, 4, {{100, 103}, {103, 103}, {103, 103}, {103, 103}}},
      {5, 5, 3, {{5, 5}, {5, 5}, {5, 5}}},
      {-7, 2, 1, {{-7, 2}}},
  };
  for (const Case& c : cases) {
    for (size_t k = 0; k < c.ranges.size(); ++k) {
      long lo = 99, hi = 99;
      q4_band_range(static_cast<long>(k), c.from, c.to, c.workers, ShortSplit::to_first, lo, hi);
      EXPECT_EQ(lo, c.ranges[k].first) << c.from << ".." << c.to << " on " << c.workers << " band " << k;
      EXPECT_EQ(hi, c.ranges[k].second) << c.from << ".." << c.to << " on " << c.workers << " band " << k;
    }
  }
  // Both rules, any count and worker count: the bands are contiguous, in
  // order, and cover every row once; each is band = count / workers long
  // except the one that takes the rest.
  for (ShortSplit rule : {ShortSplit::to_first, ShortSplit::to_last}) {
    for (long count = 0; count <= 40; ++count) {
      for (long workers = 1; workers <= 9; ++workers) {
        std::vector<int> hits(static_cast<size_t>(count), 0);
        long next = 0;
        for (long k = 0; k < workers; ++k) {
          long first, last, lo, hi;
          q4_band(k, count, workers, rule, first, last);
          q4_band_range(k, 1000, 1000 + count, workers, rule, lo, hi);
          EXPECT_EQ(hi - lo, std::max(0L, last - first + 1));
          if (last < first) continue;
          EXPECT_EQ(first, next) << count << " on " << workers;
          EXPECT_EQ(lo, 1000 + first);
          const bool remainder_band = count < workers || k == workers - 1;
          if (!remainder_band) {
            EXPECT_EQ(last - first + 1, count / workers);
          }
          for (long row = first; row <= last; ++row) ++hits[static_cast<size_t>(row)];
          next = last + 1;
        }
        EXPECT_EQ(next, count);
        for (int h : hits) ASSERT_EQ(h, 1) << count << " on " << workers;
      }
    }
  }
}

namespace {

struct ExecRecord {
  std::atomic<int> id_hits[8] = {};
  std::atomic<int> row_hits[64] = {};
  long band_first[8] = {};
  long band_last[8] = {};
  pthread_t thread_of[8] = {};
  std::atomic<int> bad_args{0};
  std::atomic<int> calls{0};
  int lo[8] = {};
  int hi[8] = {};
};

void record_id(void* record, void* a2, void* a3, void* a4, void* a5, void* a6) {
  ExecRecord& r = *static_cast<ExecRecord*>(record);
  const int id = q4mp_id();
  ++r.calls;
  if (id >= 0 && id < 8) {
    ++r.id_hits[id];
    r.thread_of[id] = pthread_self();
    q4mp_find_band(100, 200, r.lo[id], r.hi[id]);
  }
  if (a2 != as_arg(-5) || a3 != as_arg(7) || a4 || a5 || a6 != &r) ++r.bad_args;
}

void record_band(void* record, int first, int last) {
  ExecRecord& r = *static_cast<ExecRecord*>(record);
  const int id = q4mp_id();
  r.band_first[id] = first;
  r.band_last[id] = last;
  r.thread_of[id] = pthread_self();
  ++r.id_hits[id];
  for (int row = first; row <= last; ++row) ++r.row_hits[row];
}

bool every_row_once(const ExecRecord& r, int rows) {
  for (int row = 0; row < 64; ++row)
    if (r.row_hits[row] != (row < rows ? 1 : 0)) return false;
  return true;
}

void four_workers() {
  LogCapture capture;
  q4mp_set_nprocs(4);
  CHILD_EXPECT(capture.contains("Simulating 4-way multi-processing"));
  q4mp_set_nprocs(8);
  CHILD_EXPECT(capture.contains("WARN : 8-way Multi-processing already setup. (Can't change it)"));
  CHILD_EXPECT(q4mp_get_nprocs() == 4);

  ExecRecord r;
  q4mp_exec(record_id, &r, as_arg(-5), as_arg(7), nullptr, nullptr, &r);
  CHILD_EXPECT(r.calls == 4 && r.bad_args == 0);
  for (int id = 0; id < 4; ++id) CHILD_EXPECT(r.id_hits[id] == 1);
  // Each worker on its own thread, all at once.
  for (int a = 0; a < 4; ++a)
    for (int b = a + 1; b < 4; ++b) CHILD_EXPECT(!pthread_equal(r.thread_of[a], r.thread_of[b]));
  const int expected_lo[] = {100, 125, 150, 175}, expected_hi[] = {125, 150, 175, 200};
  for (int id = 0; id < 4; ++id) CHILD_EXPECT(r.lo[id] == expected_lo[id] && r.hi[id] == expected_hi[id]);
  CHILD_EXPECT(q4mp_id() == 0);

  // It is an executor hook like any other.
  const mp_exec_fn exec = q4mp_lib_mp_exec;
  ExecRecord ten;
  exec(nullptr, record_band, 10, &ten);
  CHILD_EXPECT(every_row_once(ten, 10));
  const long first10[] = {0, 2, 4, 6}, last10[] = {1, 3, 5, 9};
  for (int id = 0; id < 4; ++id)
    CHILD_EXPECT(ten.id_hits[id] == 1 && ten.band_first[id] == first10[id] && ten.band_last[id] == last10[id]);

  ExecRecord three;
  q4mp_lib_mp_exec(nullptr, record_band, 3, &three);
  CHILD_EXPECT(every_row_once(three, 3));
  CHILD_EXPECT(three.band_first[0] == 0 && three.band_last[0] == 2);
  for (int id = 1; id < 4; ++id)
    CHILD_EXPECT(three.id_hits[id] == 1 && three.band_first[id] == 3 && three.band_last[id] == 2);
  CHILD_EXPECT(q4mp_get_nprocs() == 4);
}

void two_workers() {
  q4mp_set_nprocs(2);
  ExecRecord r;
  q4mp_exec(record_id, &r, as_arg(-5), as_arg(7), nullptr, nullptr, &r);
  CHILD_EXPECT(r.calls == 2 && r.id_hits[0] == 1 && r.id_hits[1] == 1);
  CHILD_EXPECT(r.lo[0] == 100 && r.hi[0] == 150 && r.lo[1] == 150 && r.hi[1] == 200);
}

void one_worker() {
  // Until thread support is initialised the processor count is 1.
  ExecRecord r;
  q4mp_exec(record_id, &r, as_arg(-5), as_arg(7), nullptr, nullptr, &r);
  CHILD_EXPECT(r.calls == 1 && r.id_hits[0] == 1 && r.bad_args == 0);
  CHILD_EXPECT(pthread_equal(r.thread_of[0], pthread_self()));
  CHILD_EXPECT(r.lo[0] == 100 && r.hi[0] == 200);
  CHILD_EXPECT(q4mp_get_nprocs() == 1);
  ExecRecord rows;
  q4mp_lib_mp_exec(nullptr, record_band, 7, &rows);
  CHILD_EXPECT(every_row_once(rows, 7) && rows.band_first[0] == 0 && rows.band_last[0] == 6);
  q4mp_set_nprocs(4);
  CHILD_EXPECT(q4mp_get_nprocs() == 1);
}

void processor_count() {
  q4mp_init_threads();
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  CHILD_EXPECT(q4mp_get_nprocs() == (online < 1 ? 1 : online));
  ExecRecord r;
  q4mp_lib_mp_exec(nullptr, record_band, 64, &r);
  CHILD_EXPECT(every_row_once(r, 64));
}

std::atomic<int> starts{0};

// Refuses the second thread the pool asks for: worker 2 of four.
int refuse_second(pthread_t* thread, void* (*entry)(void*), void* argument) {
  if (++starts == 2) return EAGAIN;
  return pthread_create(thread, nullptr, entry, argument);
}

void worker_two_cannot_start() {
  LogCapture capture;
  q4mp_set_nprocs(4);
  q4_set_thread_starter(refuse_second);
  ExecRecord r;
  q4mp_lib_mp_exec(nullptr, record_band, 10, &r);
  q4_set_thread_starter(nullptr);
  CHILD_EXPECT(every_row_once(r, 10));
  const long first10[] = {0, 2, 4, 6}, last10[] = {1, 3, 5, 9};
  for (int id = 0; id < 4; ++id)
    CHILD_EXPECT(r.id_hits[id] == 1 && r.band_first[id] == first10[id] && r.band_last[id] == last10[id]);
  // Workers 2 and 3 ran on the calling thread, worker 1 on a thread of its own.
  CHILD_EXPECT(pthread_equal(r.thread_of[2], pthread_self()) && pthread_equal(r.thread_of[3], pthread_self()));
  CHILD_EXPECT(!pthread_equal(r.thread_of[1], pthread_self()));
  CHILD_EXPECT(capture.contains("ERROR: Can't create MP thread: 2\n"));
  CHILD_EXPECT(q4mp_get_nprocs() == 1);
  ExecRecord after;
  q4mp_lib_mp_exec(nullptr, record_band, 10, &after);
  CHILD_EXPECT(every_row_once(after, 10) && after.band_last[0] == 9);
}

void no_worker_key() {
  LogCapture capture;
  q4mp_set_nprocs(4);
  pthread_key_t key;
  while (pthread_key_create(&key, nullptr) == 0) {
  }
  ExecRecord r;
  q4mp_exec(record_id, &r, as_arg(-5), as_arg(7), nullptr, nullptr, &r);
  CHILD_EXPECT(r.calls == 1 && r.id_hits[0] == 1);
  CHILD_EXPECT(capture.contains("ERROR: Cannot get a PTHREADS thread specific data access key."));
  CHILD_EXPECT(q4mp_get_nprocs() == 1);
}

void no_handler_table() {
  q4mp_set_nprocs(4);
  ExecRecord r;
  {
    FailingHeap heap(0);
    q4mp_lib_mp_exec(nullptr, record_band, 10, &r);
  }
  CHILD_EXPECT(every_row_once(r, 10) && r.band_last[0] == 9);
  CHILD_EXPECT(q4mp_get_nprocs() == 1);
}

// Each worker splits ten rows of its own: the inner workers take their
// turns on its thread with their own ids, and it keeps its id.
void inner_bands(void* records, void*, void*, void*, void*, void*) {
  const int id = q4mp_id();
  ExecRecord& r = static_cast<ExecRecord*>(records)[id];
  q4mp_lib_mp_exec(nullptr, record_band, 10, &r);
  if (q4mp_id() != id) ++r.bad_args;
}

void nested_runs() {
  alarm(60);  // a hang fails the child
  q4mp_set_nprocs(4);
  ExecRecord inner[4];
  q4mp_exec(inner_bands, inner, nullptr, nullptr, nullptr, nullptr, nullptr);
  const long first10[] = {0, 2, 4, 6}, last10[] = {1, 3, 5, 9};
  for (const ExecRecord& r : inner)
    for (int id = 0; id < 4; ++id)
      CHILD_EXPECT(every_row_once(r, 10) && r.bad_args == 0 && r.id_hits[id] == 1 &&
                   r.band_first[id] == first10[id] && r.band_last[id] == last10[id]);
}

}  // namespace

TEST(MpExec, FourWorkersRunEveryIdAndRowOnce) { EXPECT_IN_CHILD(four_workers); }
TEST(MpExec, TwoWorkersFindHalfOpenBands) { EXPECT_IN_CHILD(two_workers); }
TEST(MpExec, OneWorkerRunsOnTheCallingThread) { EXPECT_IN_CHILD(one_worker); }
TEST(MpExec, InitialisedSupportTakesTheProcessorCount) { EXPECT_IN_CHILD(processor_count); }
TEST(MpExec, AWorkerThatCannotStartRunsOnTheCaller) { EXPECT_IN_CHILD(worker_two_cannot_start); }
TEST(MpExec, WithoutAWorkerKeyOneCallCoversAll) { EXPECT_IN_CHILD(no_worker_key); }
TEST(MpExec, WithoutAHandlerTableOneCallCoversAll) { EXPECT_IN_CHILD(no_handler_table); }
TEST(MpExec, RunsStartedInsideAWorkerComplete) { EXPECT_IN_CHILD(nested_runs); }

namespace {

struct ServiceRun {
  sem_t* go;
  sem_t* left;
  std::atomic<int> seen_id[64];
};

struct ServiceArg {
  ServiceRun* run;
  int slot;
};

void* service(void* argument) {
  const ServiceArg* arg = static_cast<ServiceArg*>(argument);
  arg->run->seen_id[arg->slot] = q4mp_threadid();
  q4mp_wait_sema(arg->run->go);
  q4mp_leaving_thread();
  q4mp_post_sema(arg->run->left);
  return nullptr;
}

void service_table() {
  LogCapture capture;
  q4_notify_setlevel(Q4_LOG_TRACE);
  ServiceRun run{q4mp_new_sema(0), q4mp_new_sema(0), {}};
  ServiceArg args[64];
  for (int i = 0; i < 64; ++i) args[i] = ServiceArg{&run, i};
  for (int i = 0; i < 32; ++i) CHILD_EXPECT(q4mp_start_thread(service, &args[i]) == 4096 + i);
  CHILD_EXPECT(q4mp_start_thread(service, &args[32]) == -1);
  CHILD_EXPECT(capture.contains("ERROR: Maximum number of thread's reached !!\n"));
  CHILD_EXPECT(capture.contains("TRACE: Created thread id = 4096, create_calls=1\n"));
  CHILD_EXPECT(capture.contains("TRACE: Created thread id = 4127, create_calls=32\n"));
  CHILD_EXPECT(q4mp_threadid() == -1);

  // A killed thread leaves room; the refused start took no id.
  q4mp_kill_thread(4100);
  q4mp_kill_thread(99);  // no such thread: nothing happens
  CHILD_EXPECT(q4mp_start_thread(service, &args[33]) == 4128);
  CHILD_EXPECT(q4mp_start_thread(service, &args[34]) == -1);

  for (int i = 0; i < 32; ++i) q4mp_post_sema(run.go);
  for (int i = 0; i < 32; ++i) q4mp_wait_sema(run.left);
  for (int i = 0; i < 34; ++i) {
    if (i == 4) continue;  // killed, perhaps before it looked
    const int expected = i < 32 ? 4096 + i : 4128;
    if (i != 32) CHILD_EXPECT(run.seen_id[i] == expected);
  }
  // Every thread that left took its entry with it: the table has room for 32.
  for (int i = 0; i < 32; ++i) CHILD_EXPECT(q4mp_start_thread(service, &args[i]) == 4129 + i);
  q4mp_close_threads();
  CHILD_EXPECT(q4mp_threadid() == -1);
  // A closed thread may wake on run.go before its cancellation takes it and
  // leave without a word: the last thread waits on semaphores of its own.
  ServiceRun last{q4mp_new_sema(0), q4mp_new_sema(0), {}};
  ServiceArg last_arg{&last, 0};
  CHILD_EXPECT(q4mp_start_thread(service, &last_arg) == 4161);
  q4mp_post_sema(last.go);
  q4mp_wait_sema(last.left);
  CHILD_EXPECT(last.seen_id[0] == 4161);
}

// Eight threads start eight service threads each, all at once: exactly 32
// get an entry, each with an id of its own.
void racing_starts() {
  struct Race {
    ServiceRun run;
    ServiceArg arg;
    std::atomic<int> ids[64];
  } race{{q4mp_new_sema(0), q4mp_new_sema(0), {}}, {nullptr, 0}, {}};
  race.arg = ServiceArg{&race.run, 0};
  q4_pool_run(
      8,
      [](void* context, int index, int) {
        Race& r = *static_cast<Race*>(context);
        for (int i = 0; i < 8; ++i) r.ids[index * 8 + i] = q4mp_start_thread(service, &r.arg);
      },
      &race);
  std::vector<int> started;
  for (const std::atomic<int>& id : race.ids)
    if (id != -1) started.push_back(id);
  std::sort(started.begin(), started.end());
  CHILD_EXPECT(started.size() == 32);
  CHILD_EXPECT(std::adjacent_find(started.begin(), started.end()) == started.end());
  CHILD_EXPECT(!started.empty() && started.front() >= 4096 && started.back() < 4096 + 64);
  for (size_t i = 0; i < started.size(); ++i) q4mp_post_sema(race.run.go);
  for (size_t i = 0; i < started.size(); ++i) q4mp_wait_sema(race.run.left);
}

std::atomic<int> tries{0};

int busy_once(pthread_t* thread, void* (*entry)(void*), void* argument) {
  if (++tries == 1) return EAGAIN;
  return pthread_create(thread, nullptr, entry, argument);
}

int refuse(pthread_t*, void* (*)(void*), void*) { return EPERM; }

void starts_that_fail() {
  LogCapture capture;
  q4_notify_setlevel(Q4_LOG_TRACE);
  ServiceRun run{q4mp_new_sema(0), q4mp_new_sema(0), {}};
  ServiceArg arg{&run, 0};
  q4_set_thread_starter(busy_once);
  CHILD_EXPECT(q4mp_start_thread(service, &arg) == 4096);
  CHILD_EXPECT(tries == 2);
  CHILD_EXPECT(capture.contains("TRACE: ==> EAGAIN condition! (try=0)\n"));
  q4_set_thread_starter(refuse);
  CHILD_EXPECT(q4mp_start_thread(service, &arg) == -1);
  CHILD_EXPECT(capture.contains("TRACE: ERROR: Can't create thread: 4097, create_calls: 2\n"));
  q4_set_thread_starter(nullptr);
  CHILD_EXPECT(q4mp_start_thread(service, &arg) == 4098);
  q4mp_post_sema(run.go);
  q4mp_post_sema(run.go);
  q4mp_wait_sema(run.left);
  q4mp_wait_sema(run.left);
}

std::string uname_text() {
  utsname names;
  uname(&names);
  return std::string(names.sysname) + " Version " + names.release + " (" + names.machine + ")";
}

void scheduler_lines() {
  LogCapture capture;
  q4mp_scheduler_setup(0);
  CHILD_EXPECT(capture.text().empty());
  q4mp_scheduler_setup(1);
  const std::string first = capture.text();
  CHILD_EXPECT(first.find("INFO : " + uname_text() + "\n") != std::string::npos);
  for (const char* line : {": Physical memory: ", ":                : ", ":  Virtual memory: ", "MBytes total\n",
                           "MBytes free\n"})
    CHILD_EXPECT(first.find(line) != std::string::npos);
  CHILD_EXPECT(first.find(std::string(":    Current user: '") + q4mp_username() + "'\n") != std::string::npos);
  CHILD_EXPECT(first.find("Largest cont.blk") == std::string::npos);
  // The ids are swapped once; later calls write only the memory lines.
  q4_notify_setlevel(Q4_LOG_DEBUG);
  q4mp_scheduler_setup(1);
  const std::string second = capture.text().substr(first.size());
  CHILD_EXPECT(second.find("Version") == std::string::npos);
  CHILD_EXPECT(second.find(": Largest cont.blk: ") != std::string::npos);
  CHILD_EXPECT(getuid() == geteuid());
}

// Thirty-two threads ask for their table ids while support opens and closes
// over and over: a lock destroyed in use, or initialised again while held,
// shows as lock errors, an abort or a hang.
void close_during_queries() {
  alarm(60);
  LogCapture capture;
  std::atomic<int> stop{0}, wrong{0};
  std::vector<std::thread> askers;
  for (int i = 0; i < 32; ++i) askers.emplace_back([&] { while (!stop) wrong += q4mp_threadid() != -1; });
  for (int round = 0; round < 3000; ++round) {
    q4mp_init_threads();
    q4mp_close_threads();
  }
  stop = 1;
  for (std::thread& t : askers) t.join();
  CHILD_EXPECT(wrong == 0 && !capture.contains("mutex lock errors"));
}

}  // namespace

TEST(MpThreads, ThirtyTwoServiceThreadsAndTheirIds) { EXPECT_IN_CHILD(service_table); }
TEST(MpThreads, RacingStartsNeverOverfillTheTable) { EXPECT_IN_CHILD(racing_starts); }
TEST(MpThreads, BusyStartsAreRetriedAndFailedStartsReported) { EXPECT_IN_CHILD(starts_that_fail); }
TEST(MpThreads, SchedulerSetupWritesTheMachineOnce) { EXPECT_IN_CHILD(scheduler_lines); }
TEST(MpThreads, CloseWaitsForTableQueries) { EXPECT_IN_CHILD(close_during_queries); }

TEST(MpThreads, SystemInformation) {
  q4mp_sysinfo* info = q4mp_get_sysinfo();
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->text, uname_text().substr(0, sizeof info->text - 1));
  double uptime = 0;
  std::ifstream("/proc/uptime") >> uptime;
  EXPECT_NEAR(info->uptime, uptime, 2.0);
  q4_free(info, __FILE__, __LINE__);
  FailingHeap heap(0);
  EXPECT_EQ(q4mp_get_sysinfo(), nullptr);
}
