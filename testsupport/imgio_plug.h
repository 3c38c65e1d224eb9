#ifndef Q4_TESTSUPPORT_IMGIO_PLUG_H
#define Q4_TESTSUPPORT_IMGIO_PLUG_H

#include "imgio.h"

// Test programs that link q4_test_imgio_plug can put operations of their own
// in a format entry: entry index (1..IMGIO_FORMATS-1) takes them now and at
// every later initimg, until it is plugged again with null. The shipped
// library knows nothing of it: the programs are linked so that every call
// of initimg, the front end's included, goes through this support first.
// 1 for an index outside the table.
int imgio_plug_driver(int index, const imgio_driver* driver);

#endif
