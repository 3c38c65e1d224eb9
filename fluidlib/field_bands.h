#ifndef FIELD_BANDS_H
#define FIELD_BANDS_H

#include "q4_mp_hooks.h"

// rows(first, last) over rows 0..count-1 in the bands of an executor hook,
// or once over them all on the calling thread without one. Each band
// writes only its own rows and computes every row as one thread would, so
// the bits do not depend on the split. Not from inside a band: the
// framework's executor keeps one band function at a time.
template <typename Rows>
void field_bands(void* context, mp_exec_fn executor, int count, const Rows& rows) {
  if (count < 1) return;
  if (!executor || !context) return rows(0, count - 1);
  executor(context, [](void* body, int first, int last) { (*static_cast<const Rows*>(body))(first, last); }, count,
           const_cast<void*>(static_cast<const void*>(&rows)));
}

#endif
