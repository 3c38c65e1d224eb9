#include "row_chunks.h"

void RowChunks::reset(int rows, int chunk_rows) {
  rows_ = rows > 0 ? rows : 0;
  chunk_rows_ = chunk_rows > 0 ? chunk_rows : 1;
  next_.store(0, std::memory_order_relaxed);
}

bool RowChunks::claim(int& first, int& last) {
  // Only the count is shared: what the rows read was set before the fork,
  // and what they write is the caller's once the fork returns. A band stops
  // at its first refusal, so the count passes the last chunk by no more
  // than the number of bands.
  const long chunk = next_.fetch_add(1, std::memory_order_relaxed);
  const long start = chunk * chunk_rows_;
  if (start >= rows_) return false;
  first = static_cast<int>(start);
  last = static_cast<int>(start + chunk_rows_ < rows_ ? start + chunk_rows_ - 1 : rows_ - 1);
  return true;
}
