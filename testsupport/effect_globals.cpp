#include "effect_globals.h"

#include <cstring>

#include "effect_services.h"

extern "C" {
int DLnumProc = 1;
int DLwidth = 1;
int DLheight = 1;
int DLscalesr = 1;
SparkBoolean SparkBoolean34 = {1, "Auto Preview", nullptr};
int TempID = 0;
SparkMemBuf TempBuf;

void* SparkProcess(SparkHostInfo info) {
  ++test_spark_process.calls;
  test_spark_process.last_info = info;
  return test_spark_process.result;
}
}

TestSparkProcess test_spark_process;

void reset_effect_globals() {
  DLnumProc = 1;
  DLwidth = 1;
  DLheight = 1;
  DLscalesr = 1;
  SparkBoolean34.value = 1;
  TempID = 0;
  std::memset(&TempBuf, 0, sizeof TempBuf);
  std::memset(&test_spark_process, 0, sizeof test_spark_process);
}
