#include "band_split.h"

#include "spark.h"

void band_split(long index, long count, long processes, long& first, long& last) {
  if (processes < 1) processes = 1;
  if (index < 0 || index >= processes || count <= 0) {
    first = 0;
    last = -1;
    return;
  }
  const long band = count / processes;
  first = index * band;
  last = index < processes - 1 ? first + band - 1 : count - 1;
}

long host_worker_index() {
  unsigned long a = 0, b = 1;
  sparkMpInfo(&a, &b);
  return b ? static_cast<long>(a / b) : 0;
}
