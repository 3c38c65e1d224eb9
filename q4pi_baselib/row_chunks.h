#ifndef ROW_CHUNKS_H
#define ROW_CHUNKS_H

#include "q4_claims.h"

// The lines (rows or columns) of one banded pass, handed out a few at a
// time in order to whichever band asks next. Lines need not cost the same,
// and a host may hold up one worker (the processors of a virtual machine do
// not all run at the same speed at once): with equal bands the whole pass
// waits for the slowest, with chunks the bands that finish early take over
// what is left.
//
// Every line is computed the same way whoever takes it, so results do not
// depend on the split or on who claims what. A band keeps claiming until
// none is left, whatever bounds its executor gave it (empty ones too), so
// bands run one after another on one thread finish the pass as well: the
// first does it all. The caller resets the chunks before each fork; the
// chunks go out through the project's one claim (q4_claims.h).
class RowChunks {
 public:
  // Before the fork: rows 0..rows-1 in chunks of chunk_rows (at least 1).
  void reset(int rows, int chunk_rows);
  // The next chunk's rows, inclusive; false when every chunk is taken.
  bool claim(int& first, int& last);

 private:
  Claims chunks_;
  int rows_ = 0;
  int chunk_rows_ = 1;
};

// One band's walk through the rows it claims, a row at a time.
class RowCursor {
 public:
  explicit RowCursor(RowChunks& chunks) : chunks_(chunks) {}
  // The next row of the band's chunk, or of the next chunk it claims;
  // false when none is left.
  bool next(int& row) {
    if (row_ > last_ && !chunks_.claim(row_, last_)) return false;
    row = row_++;
    return true;
  }

 private:
  RowChunks& chunks_;
  int row_ = 0;
  int last_ = -1;
};

#endif
