#include <climits>
#include <cstddef>
#include <cstdint>

#include "q4_bands.h"
#include "q4_log.h"
#include "q4_memory.h"
#include "q4_mp_state.h"
#include "q4_mp_sync.h"
#include "q4_threads.h"
#include "q4_worker_pool.h"

namespace {

struct Handler {
  int id;
  pthread_t thread;
  void* args[6];
  q4mp_function fn;
};

// Made by the first run and kept: a run started inside a worker shares it
// with the run around it, whose worker finds its own record again when the
// inner run is done.
pthread_key_t worker_key;
std::atomic<bool> worker_key_made{false};

bool make_worker_key() {
  static const bool made = worker_key_made = pthread_key_create(&worker_key, nullptr) == 0;
  return made;
}

void run_worker(void* context, int index, int) {
  Handler& handler = static_cast<Handler*>(context)[index];
  handler.thread = pthread_self();
  void* const outer = pthread_getspecific(worker_key);
  pthread_setspecific(worker_key, &handler);
  if (handler.fn) handler.fn(handler.args[0], handler.args[1], handler.args[2], handler.args[3], handler.args[4],
                             handler.args[5]);
  pthread_setspecific(worker_key, outer);
}

// One run's workers on the pool, or one call covering them all when they
// could not tell themselves apart.
void run_workers(int workers, q4mp_function fn, void* a1, void* a2, void* a3, void* a4, void* a5, void* a6) {
  Handler* handlers = nullptr;
  if (!make_worker_key()) {
    q4_notify(Q4_LOG_ERROR, "Cannot get a PTHREADS thread specific data access key.");
  } else {
    const size_t bytes = static_cast<size_t>(workers) * sizeof(Handler);
    if (bytes <= UINT_MAX) handlers = static_cast<Handler*>(q4_malloc(static_cast<unsigned>(bytes), __FILE__, __LINE__));
    if (!handlers) q4_notify(Q4_LOG_ERROR, "Cannot allocate the handlers of %d MP threads.", workers);
  }
  if (!handlers) {
    q4mp_process_count = 1;
    if (fn) fn(a1, a2, a3, a4, a5, a6);
    return;
  }
  for (int i = 0; i < workers; ++i) handlers[i] = Handler{i, pthread_t(), {a1, a2, a3, a4, a5, a6}, fn};
  const int unstarted = q4_pool_run(workers, run_worker, handlers);
  if (unstarted < workers) {
    // The calling thread has run the bands of workers `unstarted` on with
    // their own ids; from now on one worker covers the whole range.
    q4_notify(Q4_LOG_ERROR, "Can't create MP thread: %d\n", unstarted);
    q4mp_process_count = 1;
  }
  q4_free(handlers, __FILE__, __LINE__);
}

}  // namespace

int q4mp_get_nprocs() {
  if (q4mp_process_count <= 0) q4mp_process_count = q4mp_cpu_count.load();
  return q4mp_process_count;
}

void q4mp_set_nprocs(int n) {
  if (q4mp_process_count <= 0) {
    q4_msg("Simulating %d-way multi-processing", n);
    q4mp_process_count = n;
  } else {
    q4_notify(Q4_LOG_WARN, "%d-way Multi-processing already setup. (Can't change it)", n);
  }
}

void q4mp_exec(q4mp_function fn, void* a1, void* a2, void* a3, void* a4, void* a5, void* a6) {
  const int workers = q4mp_get_nprocs();
  if (workers <= 1) {
    if (fn) fn(a1, a2, a3, a4, a5, a6);
    return;
  }
  // Inside a task of the pool (a worker of another run among them) the
  // serializer may be held by this task's own run, or by a run waiting for
  // the pool this task keeps busy; the pool runs the workers of a run
  // started here one after another on this thread.
  if (q4_pool_in_task()) {
    run_workers(workers, fn, a1, a2, a3, a4, a5, a6);
    return;
  }
  const Q4mpSupportUse use(true);
  q4mp_get_mutex(q4mp_serializer());
  run_workers(workers, fn, a1, a2, a3, a4, a5, a6);
  q4mp_release_mutex(q4mp_serializer());
}

int q4mp_id() {
  if (q4mp_process_count < 2 || !worker_key_made) return 0;
  const Handler* handler = static_cast<const Handler*>(pthread_getspecific(worker_key));
  return handler ? handler->id : 0;
}

void q4mp_lib_mp_exec(void*, mp_worker_fn fn, int n, void* data) {
  q4mp_exec(q4mp_lib_internal, reinterpret_cast<void*>(fn), reinterpret_cast<void*>(static_cast<intptr_t>(n)), data,
            nullptr, nullptr, nullptr);
}

void q4mp_lib_internal(void* fn, void* n, void* data, void*, void*, void*) {
  auto band_fn = reinterpret_cast<mp_worker_fn>(fn);
  if (!band_fn) return;
  const int count = static_cast<int>(reinterpret_cast<intptr_t>(n));
  const int workers = q4mp_get_nprocs();
  if (workers < 2) {
    band_fn(data, 0, count - 1);
    return;
  }
  long first, last;
  q4_band(q4mp_id(), count, workers, ShortSplit::to_first, first, last);
  band_fn(data, static_cast<int>(first), static_cast<int>(last));
}

void q4mp_find_band(int from, int to, int& lo, int& hi) {
  const int workers = q4mp_get_nprocs();
  if (workers < 2) {
    lo = from;
    hi = to;
    return;
  }
  long low, high;
  q4_band_range(q4mp_id(), from, to, workers, ShortSplit::to_first, low, high);
  lo = static_cast<int>(low);
  hi = static_cast<int>(high);
}
