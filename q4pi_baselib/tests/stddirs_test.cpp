// The standard directory tree, temporary names and the log file.
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "q4_exit.h"
#include "q4_files.h"
#include "q4_log.h"
#include "q4_memory.h"
#include "q4_program.h"
#include "temp_dir.h"

namespace {

// Points Q4_HOME_DIR elsewhere (or nowhere) for one test.
class HomeOverride {
 public:
  explicit HomeOverride(const char* value) {
    const char* before = getenv("Q4_HOME_DIR");
    was_set_ = before != nullptr;
    if (was_set_) saved_ = before;
    if (value)
      setenv("Q4_HOME_DIR", value, 1);
    else
      unsetenv("Q4_HOME_DIR");
  }
  ~HomeOverride() {
    if (was_set_)
      setenv("Q4_HOME_DIR", saved_.c_str(), 1);
    else
      unsetenv("Q4_HOME_DIR");
  }

 private:
  bool was_set_ = false;
  std::string saved_;
};

}  // namespace

TEST(StandardDirectories, CodesMapUnderTheHome) {
  TempDir home;
  HomeOverride use(home.path().c_str());
  EXPECT_EQ(std::string(get_standard_directory(69)), home.path());
  EXPECT_EQ(std::string(get_standard_directory(70)), home / "Settings");
  EXPECT_EQ(std::string(get_standard_directory(71)), home / "Settings/Variables");
  EXPECT_EQ(std::string(get_standard_directory(73)), home / "Logs");
  EXPECT_STREQ(get_standard_directory(12), " ");
  EXPECT_STREQ(get_standard_directory(72), " ");
}

TEST(StandardDirectories, DefaultHomeWithoutTheVariable) {
  HomeOverride none(nullptr);
  EXPECT_STREQ(get_home_directory(), "/usr/local/Veltrane");
  EXPECT_STREQ(get_standard_directory(69), "/usr/local/Veltrane");
  EXPECT_STREQ(get_standard_directory(70), "/usr/local/Veltrane/Settings");
}

TEST(StandardDirectories, EnsureBuildsTheTree) {
  TempDir home;
  HomeOverride use((home / "deep/er").c_str());
  EXPECT_TRUE(ensure_standard_environment());
  EXPECT_TRUE(file_is_directory((home / "deep/er/Settings/Variables").c_str()));
  EXPECT_TRUE(file_is_directory((home / "deep/er/Logs").c_str()));

  char out[Q4_PATH_SIZE];
  EXPECT_EQ(ensure_standard_directory("Cache", "a.dat", out), out);
  EXPECT_EQ(std::string(out), home / "deep/er/Cache/a.dat");
  EXPECT_TRUE(file_is_directory((home / "deep/er/Cache").c_str()));
  EXPECT_EQ(std::string(ensure_standard_directory("Cache", nullptr, nullptr)), home / "deep/er/Cache");
  EXPECT_EQ(ensure_standard_directory("Missing/Parent", nullptr, nullptr), nullptr);
  const std::string too_long(Q4_PATH_SIZE, 'n');
  EXPECT_EQ(ensure_standard_directory("Cache", too_long.c_str(), nullptr), nullptr);

  EXPECT_TRUE(ensure_path_exists((home / "p/q/r").c_str()));
  EXPECT_TRUE(file_is_directory((home / "p/q/r").c_str()));
  EXPECT_TRUE(ensure_path_exists((home / "p/q/r").c_str()));
  write_text(home / "file", "x");
  EXPECT_FALSE(ensure_path_exists((home / "file/sub").c_str()));
  EXPECT_FALSE(ensure_path_exists((home / "file").c_str()));  // exists, but no directory
  EXPECT_FALSE(ensure_path_exists(""));
  EXPECT_TRUE(ensure_path_exists("/"));
}

TEST(StandardDirectories, PathsTooLongForTheBufferAreRefusedNotCut) {
  TempDir top;
  std::string home = top.path();
  while (home.size() < 4091 - 201) home += "/" + std::string(199, 'd');
  home += "/" + std::string(4090 - home.size(), 'h');
  ASSERT_EQ(home.size(), 4091u);
  HomeOverride use(home.c_str());
  EXPECT_EQ(std::string(get_standard_directory(69)), home);
  EXPECT_EQ(get_standard_directory(70), nullptr);  // 4100 characters
  EXPECT_EQ(get_standard_directory(73), nullptr);  // 4096
  EXPECT_STREQ(get_standard_directory(12), " ");
  // The home itself is made, but nothing cut from "Settings" beside it.
  EXPECT_FALSE(ensure_standard_environment());
  ASSERT_TRUE(file_is_directory(home.c_str()));
  EXPECT_TRUE(std::filesystem::is_empty(home));
  EXPECT_FALSE(ensure_path_exists(nullptr));
  // Cut to the buffer, a home of slashes would pass for the folder above.
  HomeOverride slashes((top.path() + std::string(Q4_PATH_SIZE, '/')).c_str());
  EXPECT_EQ(ensure_standard_directory("", nullptr, nullptr), nullptr);
}

TEST(StandardDirectories, OverrideRestoresAnUnsetVariable) {
  const char* before = getenv("Q4_HOME_DIR");
  const std::string saved = before ? before : "";
  unsetenv("Q4_HOME_DIR");
  {
    HomeOverride use("/tmp/elsewhere");
    EXPECT_STREQ(get_home_directory(), "/tmp/elsewhere");
  }
  EXPECT_EQ(getenv("Q4_HOME_DIR"), nullptr);
  {
    HomeOverride none(nullptr);
    EXPECT_STREQ(get_home_directory(), "/usr/local/Veltrane");
  }
  EXPECT_EQ(getenv("Q4_HOME_DIR"), nullptr);
  if (before) setenv("Q4_HOME_DIR", saved.c_str(), 1);
}

TEST(StandardDirectories, OpenLogSendsStandardErrorToABackedUpFile) {
  TempDir home;
  HomeOverride use(home.path().c_str());
  for (int run = 0; run < 2; ++run) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      FILE* log = open_log("unit");
      q4_notify(Q4_LOG_INFO, "run %d\n", run);
      _exit(log ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  const std::string now = read_text(home / "Logs/unit.log");
  const std::string before = read_text(home / "Logs/unit.1.log");
  EXPECT_NE(now.find("(unit) "), std::string::npos) << now;
  EXPECT_NE(now.find("INFO : run 1\n"), std::string::npos) << now;
  EXPECT_NE(before.find("INFO : run 0\n"), std::string::npos) << before;
}

TEST(TempNames, UniqueNamesAndTheirForms) {
  const std::string plain = file_get_temp_name();
  EXPECT_EQ(plain.rfind("/tmp/_" + std::to_string(getpid()) + "_", 0), 0u) << plain;

  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    char* id = uuid_new();
    ASSERT_NE(id, nullptr);
    ASSERT_EQ(strlen(id), 36u);
    EXPECT_EQ(id[8], '-');
    EXPECT_EQ(id[23], '-');
    EXPECT_TRUE(seen.insert(id).second);
    uuid_delete(id);
  }
  char out[128];
  file_get_temp_name_ex("pre_", out);
  EXPECT_EQ(strncmp(out, "pre_", 4), 0);
  EXPECT_EQ(strlen(out), 40u);
  char* dynamic = file_get_temp_name_ex_dyn_c("x");
  ASSERT_NE(dynamic, nullptr);
  EXPECT_EQ(strlen(dynamic), 37u);
  EXPECT_EQ(seen.count(dynamic + 1), 0u);
  q4_free(dynamic, __FILE__, __LINE__);
  EXPECT_EQ(file_get_temp_name_ex_dyn(nullptr), nullptr);
}

TEST(Programs, LockIsTakenOnceAndRemovedAtExit) {
  TempDir home;
  HomeOverride use(home.path().c_str());
  const std::string name = "q4lock_" + std::to_string(getpid());
  const std::string path = "/tmp/" + name;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char buffer[128] = "";
    bool ok = program_lock(name.c_str(), nullptr, 0);
    ok = ok && !program_lock(name.c_str(), buffer, sizeof buffer);  // held already
    ok = ok && atoi(buffer) == getpid();
    exit(ok ? 0 : 1);  // exit runs the handler that removes the lock
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(file_exists(path.c_str()));
}

TEST(Programs, ExitHandlersRunNewestFirstOnce) {
  // In a child: registration takes over the process's signals.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    static std::string order;
    auto append = [](void* arg) { order += static_cast<const char*>(arg); };
    register_exit_handler(append, const_cast<char*>("1"));
    register_exit_handler(append, const_cast<char*>("2"));
    register_exit_handler(nullptr, nullptr);
    call_exit_handlers();
    call_exit_handlers();
    static bool first_ok;
    first_ok = order == "21";
    // Registering again installs the signal handling again; a signal then
    // runs the handlers on its way out.
    register_exit_handler([](void*) { _exit(first_ok ? 7 : 6); }, nullptr);
    raise(SIGTERM);
    _exit(5);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
}

TEST(Programs, StartupBannerAndProcessCount) {
  TempDir home;
  HomeOverride use(home.path().c_str());
  testing::internal::CaptureStdout();
  startup_info("Tool", "Jan 1 2024", "10:00:00");
  startup_info_c(nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nTool\n====\n[Built on: Jan 1 2024 at 10:00:00]\n\n");
  EXPECT_TRUE(file_is_directory((home / "Logs").c_str()));
  EXPECT_EQ(is_program_running("no_such_program_q4x"), 0);
  EXPECT_GE(is_program_running("PS"), 1);  // ps lists itself
}
