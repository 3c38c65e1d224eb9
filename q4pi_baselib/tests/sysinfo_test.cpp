// System queries.
#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

#include "q4_sysinfo.h"

TEST(SysInfo, ClockProcessorsAndPages) {
  const double first = q4mp_getclock();
  EXPECT_GT(first, 1.5e9);  // seconds since 1970, past 2017
  EXPECT_GE(q4mp_getclock(), first);
  EXPECT_EQ(q4mp_get_raw_cpu_count(), static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)));
  const int page = q4mp_get_pagesize();
  EXPECT_GE(page, 512);
  EXPECT_EQ(page & (page - 1), 0);
  EXPECT_EQ(q4mp_get_pagesize(), page);
  EXPECT_EQ(q4mp_timedwait(0), 0);
  EXPECT_EQ(q4mp_yield(), 0);
}

TEST(SysInfo, MemoryFiguresAreConsistent) {
  unsigned total = 0, free = 0, total_swap = 0, free_swap = 0;
  q4mp_get_meminfo(&total, &free, 0);
  q4mp_get_meminfo(&total_swap, &free_swap, 1);
  EXPECT_GT(total, 0u);
  EXPECT_LE(free, total);
  EXPECT_GE(total_swap, total);
  EXPECT_LE(free_swap, total_swap);
  unsigned out = 0;
  const unsigned available = q4mp_memfree(&out);
  EXPECT_EQ(available, out);
  EXPECT_GT(available, 0u);
}

TEST(SysInfo, NamesFitTheirBuffers) {
  const char* user = q4mp_username();
  ASSERT_NE(user, nullptr);
  EXPECT_GT(strlen(user), 0u);
  const char* machine = q4mp_machinename();
  char expected[256] = "";
  gethostname(expected, sizeof expected);
  EXPECT_STREQ(machine, expected);
  EXPECT_NE(q4os_errormsg(), nullptr);
}
