#ifndef Q4_MP_STATE_H
#define Q4_MP_STATE_H

#include <pthread.h>

#include <atomic>

// State of the thread layer shared by its source files.

extern std::atomic<int> q4mp_cpu_count;      // 1 until thread support is initialised
extern std::atomic<int> q4mp_process_count;  // 0 or below: not chosen yet

// Keeps thread support's locks alive while its holder uses them:
// q4mp_close_threads waits until every use has ended before it destroys
// them. A use that initialises support counts as arriving before a close
// in progress, so a worker of a run that a close waits for never waits for
// the close in turn; any other use finds support closed from the moment a
// close begins, so that a stream of queries cannot hold a close off.
class Q4mpSupportUse {
 public:
  explicit Q4mpSupportUse(bool initialise);
  ~Q4mpSupportUse();
  Q4mpSupportUse(const Q4mpSupportUse&) = delete;
  Q4mpSupportUse& operator=(const Q4mpSupportUse&) = delete;
  bool open() const { return open_; }

 private:
  bool open_;
};

// The lock that makes q4mp_exec runs and table removals exclusive, for the
// holder of an open use. Lock order: the serializer, then the table's data
// lock.
pthread_mutex_t* q4mp_serializer();

#endif
