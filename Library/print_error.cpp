#include "print_error.h"

#include <cstdio>

#include "q4_pause.h"
#include "spark.h"

void PrintError(const char* text) {
  if (!text) text = "";
  sparkMessage(text);
  q4_pause(2.0);
  std::fprintf(stderr, "SPARK_MESSAGE::\t%s\n", text);
}
