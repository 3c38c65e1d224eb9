#ifndef CONTROL_TITLES_H
#define CONTROL_TITLES_H

#include <cstddef>

// Title helpers for lock marks. Each writes at most size characters into dst
// (terminated; nothing when size is 0) and never reads past src's end.

// Copies src without its trailing blanks and newlines; returns the index of
// the last character kept, -1 when none is left.
int strcpy_strip(char* dst, const char* src, size_t size);

// Writes src followed by "*"; returns the length written.
int strcpy_addlock(char* dst, const char* src, size_t size);

// Copies src without its trailing '*'s; returns the index of the last
// character kept, -1 when none is left.
int strcpy_dellock(char* dst, const char* src, size_t size);

#endif
