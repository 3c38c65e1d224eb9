#include "q4_bands.h"

void q4_band(long index, long count, long workers, ShortSplit rule, long& first, long& last) {
  if (workers < 1) workers = 1;
  first = 0;
  last = -1;
  if (index < 0 || index >= workers || count <= 0) return;
  const long band = count / workers;
  if (band == 0) {
    const long owner = rule == ShortSplit::to_last ? workers - 1 : 0;
    if (index == owner) {
      last = count - 1;
    } else if (rule == ShortSplit::to_first) {
      first = count;
      last = count - 1;
    }
    return;
  }
  first = index * band;
  last = index < workers - 1 ? first + band - 1 : count - 1;
}

void q4_band_range(long index, long from, long to, long workers, ShortSplit rule, long& lo, long& hi) {
  long first, last;
  q4_band(index, to - from, workers, rule, first, last);
  lo = from + first;
  hi = from + last + 1;
}
