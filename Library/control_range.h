#ifndef CONTROL_RANGE_H
#define CONTROL_RANGE_H

// Locking a value control pins its host range to the current value so the
// artist cannot move it; unlocking restores the full range kept in the
// auxiliary record. One host update either way.

#include "spark.h"

template <typename Record, typename Range>
void control_lock_range(Record* record, const Range* full, bool lock, int control) {
  if (lock) {
    record->min = record->max = record->value;
  } else {
    record->min = full->min;
    record->max = full->max;
  }
  sparkControlUpdate(control);
}

#endif
