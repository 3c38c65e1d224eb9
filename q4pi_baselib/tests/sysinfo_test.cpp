// System queries.
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

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
}

TEST(SysInfo, ErrorMessageDescribesTheCurrentError) {
  errno = ENOENT;
  EXPECT_STREQ(q4os_errormsg(), "No such file or directory");
  errno = EACCES;
  EXPECT_STREQ(q4os_errormsg(), "Permission denied");
  // Set by a real failing call rather than by hand.
  EXPECT_EQ(access("/no/such/q4/path", F_OK), -1);
  EXPECT_STREQ(q4os_errormsg(), "No such file or directory");
}

TEST(SysInfo, UserNameMatchesTheUserDatabase) {
  const passwd* entry = getpwuid(geteuid());
  ASSERT_NE(entry, nullptr);
  // The system call keeps at most L_cuserid - 1 characters of the name.
  EXPECT_EQ(std::string(q4mp_username()), std::string(entry->pw_name).substr(0, L_cuserid - 1));
}

TEST(SysInfo, UnnamedUserGetsTheWholeFallbackName) {
  if (geteuid() != 0) GTEST_SKIP() << "taking on another user id needs root";
  uid_t unnamed = 40000;
  while (getpwuid(unnamed)) ++unnamed;
  // In a child: the id change cannot be undone.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setresuid(unnamed, unnamed, unnamed) != 0) _exit(2);
    _exit(strcmp(q4mp_username(), "unknown_user") == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "2: the id could not be taken, 1: wrong name";
}
