#ifndef IMGIO_RUNS_H
#define IMGIO_RUNS_H

#include <cstddef>
#include <cstdint>
#include <cstring>

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

// The byte code of n bytes that two formats share: a run of c equal bytes
// as c - 1 and the byte, a literal stretch of c bytes as 256 - c and the
// bytes, c at most 127. Returns the code's length; out holds at least
// imgio_pack_bytes_worst(n) bytes.
const int imgio_pack_longest = 127;

inline int64_t imgio_pack_bytes_worst(int64_t n) { return n + (n + imgio_pack_longest - 1) / imgio_pack_longest; }

inline size_t imgio_pack_bytes(const unsigned char* in, int n, int min_run, unsigned char* out) {
  size_t size = 0;
  for (int x = 0; x < n;) {
    bool run = false;
    const int length = imgio_next_segment(in + x, n - x, min_run, imgio_pack_longest, &run);
    if (run) {
      out[size++] = static_cast<unsigned char>(length - 1);
      out[size++] = in[x];
    } else {
      out[size++] = static_cast<unsigned char>(256 - length);
      memcpy(out + size, in + x, length);
      size += length;
    }
    x += length;
  }
  return size;
}

#endif
