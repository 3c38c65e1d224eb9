#ifndef Q4_TEST_CHILD_PROCESS_H
#define Q4_TEST_CHILD_PROCESS_H

#include <unistd.h>

#include <cstdio>

#include <gtest/gtest.h>

// Runs a check in a fresh child process (the test program started again and
// sent straight to this test), so that it meets process-wide state as it is
// at start: a process count not chosen yet, a heap not set up, no threads.
// The child reports each failed CHILD_EXPECT on its standard error and
// exits with 1 if there was any.
inline int& child_failures() {
  static int failures = 0;
  return failures;
}

inline void child_expect(bool ok, const char* what, const char* file, int line) {
  if (ok) return;
  fprintf(stderr, "%s:%d: failed: %s\n", file, line, what);
  ++child_failures();
}

inline void child_done() {
  fflush(stderr);
  _exit(child_failures() ? 1 : 0);
}

#define CHILD_EXPECT(condition) child_expect((condition), #condition, __FILE__, __LINE__)

#define EXPECT_IN_CHILD(body)                                                               \
  do {                                                                                      \
    GTEST_FLAG_SET(death_test_style, "threadsafe");                                         \
    EXPECT_EXIT((body(), child_done()), testing::ExitedWithCode(0), "") << "in the child"; \
  } while (0)

#endif
