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

// The key is alive only while a run is; q4mp_id asks it only then.
pthread_key_t worker_key;
std::atomic<bool> run_active{false};

void run_worker(void* context, int index, int) {
  Handler& handler = static_cast<Handler*>(context)[index];
  handler.thread = pthread_self();
  pthread_setspecific(worker_key, &handler);
  if (handler.fn) handler.fn(handler.args[0], handler.args[1], handler.args[2], handler.args[3], handler.args[4],
                             handler.args[5]);
  pthread_setspecific(worker_key, nullptr);
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
  pthread_mutex_t* serializer = q4mp_serializer();
  q4mp_get_mutex(serializer);
  Handler* handlers = nullptr;
  if (pthread_key_create(&worker_key, nullptr) != 0) {
    q4_notify(Q4_LOG_ERROR, "Cannot get a PTHREADS thread specific data access key.");
  } else {
    const size_t bytes = static_cast<size_t>(workers) * sizeof(Handler);
    if (bytes <= UINT_MAX) handlers = static_cast<Handler*>(q4_malloc(static_cast<unsigned>(bytes), __FILE__, __LINE__));
    if (!handlers) {
      q4_notify(Q4_LOG_ERROR, "Cannot allocate the handlers of %d MP threads.", workers);
      pthread_key_delete(worker_key);
    }
  }
  if (!handlers) {
    // Without a way for workers to tell themselves apart, one call covers
    // every band.
    q4mp_process_count = 1;
    if (fn) fn(a1, a2, a3, a4, a5, a6);
    q4mp_release_mutex(serializer);
    return;
  }
  for (int i = 0; i < workers; ++i) handlers[i] = Handler{i, pthread_t(), {a1, a2, a3, a4, a5, a6}, fn};
  run_active = true;
  const int unstarted = q4_pool_run(workers, run_worker, handlers);
  run_active = false;
  if (unstarted < workers) {
    // The calling thread has run the bands of workers `unstarted` on with
    // their own ids; from now on one worker covers the whole range.
    q4_notify(Q4_LOG_ERROR, "Can't create MP thread: %d\n", unstarted);
    q4mp_process_count = 1;
  }
  q4_free(handlers, __FILE__, __LINE__);
  pthread_key_delete(worker_key);
  q4mp_release_mutex(serializer);
}

int q4mp_id() {
  if (q4mp_process_count < 2 || !run_active) return 0;
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
