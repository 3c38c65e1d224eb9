#include "help_topic.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* env_or(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v ? v : fallback;
}

// snprintf that reports whether everything fitted.
template <typename... Args>
bool format_fits(char* out, size_t size, const char* format, Args... args) {
  const int n = std::snprintf(out, size, format, args...);
  return n >= 0 && (size_t)n < size;
}

// Starts the program in the background with the arguments, as a grandchild
// whose parent exits at once, so that no zombie waits for this process to
// reap it. True when the program was started: the pipe closes on its exec,
// or carries the exec's error back. execvp in the forked child reads PATH
// without allocating, so it is safe in a copy of a process with threads.
bool start_detached(const char* program, char* const argv[]) {
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return false;
  const pid_t child = fork();
  if (child == 0) {
    const pid_t grandchild = fork();
    if (grandchild == 0) {
      // The browser starts with no signal blocked, whatever the calling
      // thread held (a host may keep the signals that end it for one
      // thread of its own).
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      execvp(program, argv);
      const int error = errno;
      _exit(write(report[1], &error, sizeof error) == sizeof error ? 127 : 126);
    }
    _exit(grandchild < 0 ? 1 : 0);
  }
  close(report[1]);
  int status = 0;
  // A host that ignores SIGCHLD reaps the child itself; the pipe still says
  // whether the browser started.
  const bool forked = child > 0 && (waitpid(child, &status, 0) != child ||
                                    (WIFEXITED(status) && WEXITSTATUS(status) == 0));
  int error = 0;
  ssize_t got;
  while ((got = read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  close(report[0]);
  return forked && got == 0;
}

}  // namespace

int display_help_topic(const char* topic) {
  if (!topic) return 1;
  const char* install = env_or("DIR_4", "/usr/local/Veltrane");
  const char* browser = env_or("Q4_HELP_BROWSER", "firefox");

  char help_dir[1024];
  char stem[1024];
  char page[1024];
  char command[304];
  if (!format_fits(help_dir, sizeof help_dir, "%s/dl/help", install)) return 1;
  if (!format_fits(stem, sizeof stem, "%s", topic)) return 1;
  char* dot = std::strrchr(stem, '.');
  if (dot && dot != stem) *dot = '\0';
  if (!format_fits(page, sizeof page, "file:%s/%s.htm", help_dir, stem)) return 1;
  // The command line as the framework's buffer holds it: its limit holds
  // for the browser and its arguments, which go to it without a shell.
  if (!format_fits(command, sizeof command, "%s %s %s %s &", browser, "-geometry", "+50+50", page))
    return 1;
  char geometry[] = "-geometry", position[] = "+50+50";
  char* const argv[] = {const_cast<char*>(browser), geometry, position, page, nullptr};
  return start_detached(browser, argv) ? 0 : 1;
}
