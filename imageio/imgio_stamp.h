#ifndef IMGIO_STAMP_H
#define IMGIO_STAMP_H

// When, where and by whom a file is written: the Pixar label, the RLA
// header and the Symbolics dump and descriptor carry them.

#include <ctime>

struct imgio_stamp {
  time_t when;
  char host[64];
  char login[64];  // "unknown" when the system names no login
  int process;
};

// The stamp of a file written now: the fixed one when tests set it.
imgio_stamp imgio_current_stamp();

// For tests only: every later stamp is *fixed (a null login name becomes
// "unknown"); imgio_unfix_stamp goes back to the clock and the system.
void imgio_fix_stamp(const time_t* when, const char* host, const char* login, int process);
void imgio_unfix_stamp();

#endif
