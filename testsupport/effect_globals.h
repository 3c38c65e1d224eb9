#ifndef EFFECT_GLOBALS_H
#define EFFECT_GLOBALS_H

// Test stand-ins for the effect's globals and frame entry: tests set the
// globals directly and see whether SparkProcess ran and what it returned.

#include "spark.h"

struct TestSparkProcess {
  int calls;
  void* result;           // what the next calls return
  SparkHostInfo last_info;
};

extern TestSparkProcess test_spark_process;

// Puts every global back to its load-time value (one process, a 1x1 frame).
void reset_effect_globals();

#endif
