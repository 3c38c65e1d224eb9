#ifndef IMGIO_RUNS_H
#define IMGIO_RUNS_H

// The run-length cut that several writers share: the next segment of a
// line is either a run of equal values or a literal stretch that ends
// where three equal values begin.

// Length of the segment at p[0] of the n values left (n >= 1), at most
// longest; *run tells which kind. A run needs min_run equal values at its
// start (2 or 3).
template <typename T>
int imgio_next_segment(const T* p, int n, int min_run, int longest, bool* run) {
  int length = 1;
  bool equal_start = n >= min_run;
  for (int i = 1; equal_start && i < min_run; ++i) equal_start = p[i] == p[0];
  *run = equal_start;
  if (equal_start) {
    while (length < n && length < longest && p[length] == p[length - 1]) ++length;
    return length;
  }
  while (length < n && length < longest) {
    // Three equal values from here are better left to a run.
    if (n - length > 2 && p[length] == p[length + 1] && p[length + 1] == p[length + 2]) break;
    ++length;
  }
  return length;
}

#endif
