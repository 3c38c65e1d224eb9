#include "band_split.h"

#include "q4_bands.h"
#include "spark.h"

void band_split(long index, long count, long processes, long& first, long& last) {
  q4_band(index, count, processes, ShortSplit::to_last, first, last);
}

long host_worker_index() {
  long index, workers;
  host_worker(index, workers);
  return index;
}

void host_worker(long& index, long& workers) {
  unsigned long a = 0, b = 1;
  sparkMpInfo(&a, &b);
  index = b ? static_cast<long>(a / b) : 0;
  workers = static_cast<long>(b);
}
