#include "row_chunks.h"

void RowChunks::reset(int rows, int chunk_rows) {
  rows_ = rows > 0 ? rows : 0;
  chunk_rows_ = chunk_rows > 0 ? chunk_rows : 1;
  chunks_.reset(0, rows_ / chunk_rows_ + (rows_ % chunk_rows_ != 0));
}

bool RowChunks::claim(int& first, int& last) {
  // Only the claim is shared: what the rows read was set before the fork,
  // and what they write is the caller's once the fork returns.
  int chunk;
  if (!chunks_.claim(chunk)) return false;
  first = chunk * chunk_rows_;
  last = first + chunk_rows_ < rows_ ? first + chunk_rows_ - 1 : rows_ - 1;
  return true;
}
