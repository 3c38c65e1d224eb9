#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "q4_log.h"
#include "q4_memory.h"
#include "q4_mp_state.h"
#include "q4_mp_sync.h"
#include "q4_sysinfo.h"
#include "q4_thread_start.h"
#include "q4_threads.h"

std::atomic<int> q4mp_cpu_count{1};
std::atomic<int> q4mp_process_count{0};

namespace {

enum { max_threads = 32, first_thread_id = 4096, start_tries = 10000 };

struct Entry {
  int id;
  pthread_t thread;
};

// Guards the support's state and its count of uses.
std::mutex support_guard;
std::condition_variable support_changed;
bool initialised = false;
bool closing = false;
int uses = 0;
pthread_mutex_t data_lock;
pthread_mutex_t serializer;

// Under the data lock.
Entry table[max_threads];
int entries = 0;
int starting = 0;  // starts between their table check and their entry
int next_id = first_thread_id;
std::atomic<int> create_calls{0};

bool ids_swapped = false;

// A thread cancelled while it holds the table's locks would leave them held
// for good: cancellation waits until they are released.
class NoCancel {
 public:
  NoCancel() { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &old_); }
  ~NoCancel() { pthread_setcancelstate(old_, nullptr); }

 private:
  int old_;
};

void remove_entry(int index) {
  std::copy(table + index + 1, table + entries, table + index);
  --entries;
}

int find_entry(bool (*match)(const Entry&, int, pthread_t), int id, pthread_t thread) {
  for (int i = 0; i < entries; ++i)
    if (match(table[i], id, thread)) return i;
  return -1;
}

bool has_id(const Entry& e, int id, pthread_t) { return e.id == id; }
bool has_thread(const Entry& e, int, pthread_t thread) { return pthread_equal(e.thread, thread) != 0; }

// Removes the entry that matches, cancelling its thread when asked.
void remove_thread(bool (*match)(const Entry&, int, pthread_t), int id, pthread_t thread, bool cancel) {
  NoCancel hold;
  const Q4mpSupportUse use(false);
  if (!use.open()) return;
  q4mp_get_mutex(&serializer);
  q4mp_get_mutex(&data_lock);
  const int index = find_entry(match, id, thread);
  if (index >= 0) {
    if (cancel && pthread_cancel(table[index].thread) != 0)
      q4_notify(Q4_LOG_ERROR, "ERROR: Can't cancel thread: %d\n", table[index].id);
    remove_entry(index);
  }
  q4mp_release_mutex(&data_lock);
  q4mp_release_mutex(&serializer);
}

// Under support_guard.
void initialise_support() {
  if (initialised) return;
  entries = 0;
  pthread_mutex_init(&data_lock, nullptr);
  pthread_mutex_init(&serializer, nullptr);
  q4mp_cpu_count = std::max(1, q4mp_get_raw_cpu_count());
  initialised = true;
}

void write_memory_lines() {
  unsigned total = 0, free = 0, total_virtual = 0, free_virtual = 0;
  q4mp_get_meminfo(&total, &free, 0);
  q4mp_get_meminfo(&total_virtual, &free_virtual, 1);
  q4_msgcont("Physical memory: %8.2f MBytes total", total / 1024.0);
  q4_msgcont("               : %8.2f MBytes free", free / 1024.0);
  q4_msgcont(" Virtual memory: %8.2f MBytes total", total_virtual / 1024.0);
  q4_msgcont("               : %8.2f MBytes free", free_virtual / 1024.0);
  if (q4_notify_getlevel() > Q4_LOG_INFO) q4_msgcont("Largest cont.blk: %8.2f MBytes", free_virtual / 1024.0);
  q4_msgcont("   Current user: '%s'", q4mp_username());
}

}  // namespace

Q4mpSupportUse::Q4mpSupportUse(bool initialise) {
  std::lock_guard<std::mutex> guard(support_guard);
  if (initialise) initialise_support();
  open_ = initialised && (initialise || !closing);
  if (open_) ++uses;
}

Q4mpSupportUse::~Q4mpSupportUse() {
  if (!open_) return;
  std::lock_guard<std::mutex> guard(support_guard);
  if (--uses == 0) support_changed.notify_all();
}

pthread_mutex_t* q4mp_serializer() { return &serializer; }

void q4mp_init_threads() {
  std::lock_guard<std::mutex> guard(support_guard);
  initialise_support();
}

void q4mp_close_threads() {
  NoCancel hold;
  std::unique_lock<std::mutex> guard(support_guard);
  support_changed.wait(guard, [] { return !closing; });  // another close first
  if (!initialised) return;
  closing = true;
  support_changed.wait(guard, [] { return uses == 0; });
  // No use is left, and none can begin while the guard is held: the locks
  // are free. The workers of q4mp_exec belong to the project's worker pool,
  // which outlives this layer: only the service threads end here.
  for (int i = 0; i < entries; ++i) pthread_cancel(table[i].thread);
  entries = 0;
  pthread_mutex_destroy(&serializer);
  pthread_mutex_destroy(&data_lock);
  initialised = false;
  closing = false;
  support_changed.notify_all();
}

int q4mp_start_thread(void* (*fn)(void*), void* arg) {
  const int call = ++create_calls;
  NoCancel hold;
  const Q4mpSupportUse use(true);
  q4mp_get_mutex(&data_lock);
  // Counted under the lock with the starts still retrying, so that two
  // starters cannot both take the last entry.
  if (entries + starting >= max_threads) {
    q4mp_release_mutex(&data_lock);
    q4_notify(Q4_LOG_ERROR, "ERROR: Maximum number of thread's reached !!\n");
    return -1;
  }
  const int id = next_id++;
  ++starting;
  pthread_t thread;
  int result = 0;
  for (int attempt = 0; attempt < start_tries; ++attempt) {
    result = q4_thread_start(&thread, fn, arg);
    if (result != EAGAIN || attempt == start_tries - 1) break;
    q4_notify(Q4_LOG_TRACE, "==> EAGAIN condition! (try=%d)\n", attempt);
    q4mp_release_mutex(&data_lock);
    q4mp_timedwait(1000000000LL);
    q4mp_get_mutex(&data_lock);
  }
  --starting;
  if (result != 0) {
    q4_notify(Q4_LOG_TRACE, "ERROR: Can't create thread: %d, create_calls: %d\n", id, call);
    q4mp_release_mutex(&data_lock);
    return -1;
  }
  pthread_detach(thread);
  table[entries++] = Entry{id, thread};
  q4_notify(Q4_LOG_TRACE, "Created thread id = %d, create_calls=%d\n", id, call);
  q4mp_release_mutex(&data_lock);
  return id;
}

int q4mp_threadid() {
  NoCancel hold;
  const Q4mpSupportUse use(false);
  if (!use.open()) return -1;
  q4mp_get_mutex(&data_lock);
  const int index = find_entry(has_thread, 0, pthread_self());
  const int id = index >= 0 ? table[index].id : -1;
  q4mp_release_mutex(&data_lock);
  return id;
}

void q4mp_kill_thread(int id) { remove_thread(has_id, id, pthread_self(), true); }

void q4mp_leaving_thread() { remove_thread(has_thread, 0, pthread_self(), false); }

void q4mp_scheduler_setup(int show) {
  if (!show) return;
  if (!ids_swapped) {
    q4mp_init_threads();
    utsname names;
    if (uname(&names) == 0) q4_notify(Q4_LOG_INFO, "%s Version %s (%s)", names.sysname, names.release, names.machine);
    if (setreuid(geteuid(), getuid()) != 0 || setregid(getegid(), getgid()) != 0)
      q4_notify(Q4_LOG_ERROR, "THREAD: cannot swap the user and group ids: %s\n", strerror(errno));
    ids_swapped = true;
  }
  write_memory_lines();
}

q4mp_sysinfo* q4mp_get_sysinfo() {
  q4mp_sysinfo* info = static_cast<q4mp_sysinfo*>(q4_malloc(sizeof(q4mp_sysinfo), __FILE__, __LINE__));
  if (!info) return nullptr;
  // Three names of up to 64 characters do not always fit the record's
  // text: it keeps what fits.
  char full[3 * sizeof(utsname::sysname) + 16] = "";
  utsname names;
  if (uname(&names) == 0)
    snprintf(full, sizeof full, "%s Version %s (%s)", names.sysname, names.release, names.machine);
  snprintf(info->text, sizeof info->text, "%.*s", static_cast<int>(sizeof info->text - 1), full);
  info->uptime = -1;
  if (FILE* file = fopen("/proc/uptime", "r")) {
    double seconds = 0.0;
    if (fscanf(file, "%lf", &seconds) == 1) info->uptime = static_cast<int>(seconds);
    fclose(file);
  }
  return info;
}
