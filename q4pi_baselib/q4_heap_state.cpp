#include "q4_heap_state.h"

#include <pthread.h>

#include "q4_heap_table.h"
#include "q4_log.h"

Q4HeapSwitches q4hm_switches = {0, 0, 0};
Q4HeapOverrides q4hm_normal_overrides = {nullptr, nullptr, nullptr, nullptr, nullptr, 0};
Q4HeapOverrides q4hm_image_overrides = {nullptr, nullptr, nullptr, nullptr, nullptr, 0};

namespace {

pthread_mutex_t hm_mutex;
pthread_once_t hm_mutex_once = PTHREAD_ONCE_INIT;
bool hm_mutex_init = false;

void create_mutex() {
  pthread_mutex_init(&hm_mutex, nullptr);
  hm_mutex_init = true;
}

bool debug_active() {
  if (q4hm_switches.enable && q4hm_switches.debug) return true;
  q4_notify(Q4_LOG_INFO, "Q4-HM-DEBUG: Debug mode not set. Statistics not available.\n");
  return false;
}

int statistics(tagQ4HM_INFO* info, int& allocation_calls, int& free_calls, unsigned& bytes_now,
               unsigned& peak_bytes) {
  if (!debug_active()) return info->internal_error;
  q4hm_acquire();
  q4hm_init(info);
  allocation_calls = info->allocation_calls;
  free_calls = info->free_calls;
  bytes_now = info->bytes_now;
  peak_bytes = info->peak_bytes;
  const int error = info->internal_error;
  q4hm_release();
  return error;
}

void report(tagQ4HM_INFO* info, bool dump, bool dump_as_messages) {
  if (!debug_active()) return;
  q4hm_acquire();
  q4hm_report(info, dump, dump_as_messages);
  q4hm_release();
}

void cleanup(tagQ4HM_INFO* info) {
  if (!q4hm_switches.enable || !q4hm_switches.debug) return;
  q4hm_acquire();
  q4hm_cleanup(info);
  q4hm_release();
}

}  // namespace

void q4hm_acquire() {
  pthread_once(&hm_mutex_once, create_mutex);
  if (pthread_mutex_lock(&hm_mutex) != 0)
    q4_notify(Q4_LOG_ERROR, "Q4-HM-DEBUG: INTERNAL ERROR: pthread_mutex_lock() failed!\n");
}

void q4hm_release() {
  if (!hm_mutex_init) {
    q4_notify(Q4_LOG_ERROR, "Q4-HM-DEBUG: INTERNAL ERROR: release_hm_mutex() found hm_mutex_init=0!\n");
    return;
  }
  if (pthread_mutex_unlock(&hm_mutex) != 0)
    q4_notify(Q4_LOG_ERROR, "Q4-HM-DEBUG: INTERNAL ERROR: pthread_mutex_unlock() failed!\n");
}

int set_q4_heap_memory_enable(bool on) { return q4hm_switches.enable = on ? 1 : 0; }
int set_q4_heap_memory_debug(bool on) { return q4hm_switches.debug = on ? 1 : 0; }
int set_q4_heap_memory_trace(bool on) { return q4hm_switches.trace = on ? 1 : 0; }

void set_q4_heap_normal_memory_overrides(void* context, q4_heap_allocate_fn allocate,
                                         q4_heap_reallocate_fn reallocate,
                                         q4_heap_strdup_fn duplicate, q4_heap_release_fn release) {
  q4hm_normal_overrides = {context, allocate, reallocate, duplicate, release,
                           context && allocate && reallocate && duplicate && release ? 1 : 0};
}

void set_q4_heap_image_memory_overrides(void* context, q4_heap_allocate_fn allocate,
                                        q4_heap_reallocate_fn reallocate,
                                        q4_heap_release_fn release) {
  q4hm_image_overrides = {context, allocate, reallocate, nullptr, release,
                          context && allocate && reallocate && release ? 1 : 0};
}

int get_q4_heap_normal_memory_statistics(int& allocation_calls, int& free_calls, unsigned& bytes_now,
                                         unsigned& peak_bytes) {
  return statistics(q4hm_normal_table(), allocation_calls, free_calls, bytes_now, peak_bytes);
}

int get_q4_heap_image_memory_statistics(int& allocation_calls, int& free_calls, unsigned& bytes_now,
                                        unsigned& peak_bytes) {
  return statistics(q4hm_image_table(), allocation_calls, free_calls, bytes_now, peak_bytes);
}

void output_q4_heap_normal_memory_report(bool dump) { report(q4hm_normal_table(), dump, false); }
void output_q4_heap_image_memory_report(bool dump) { report(q4hm_image_table(), dump, true); }
void q4_heap_normal_memory_cleanup() { cleanup(q4hm_normal_table()); }
void q4_heap_image_memory_cleanup() { cleanup(q4hm_image_table()); }
void dump_memory_leak_info(void*) {}
