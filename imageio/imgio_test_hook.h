#ifndef IMGIO_TEST_HOOK_H
#define IMGIO_TEST_HOOK_H

#include "imgio.h"

// For tests only: entry index (1..16) takes the given operations in place of
// its driver's, now and at every later initimg, until it is plugged again
// with null. 1 for an index outside 1..16.
int imgio_plug_driver(int index, const imgio_driver* driver);

#endif
