// For the renderer's signal test, preloaded: a rename onto a file whose
// name ends in RENAME_PAUSE_NAME says "rename paused" on the standard error
// and never returns, so the test's signal comes while that frame's
// temporary is certainly on disk, and the frames after it wait beside it.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

extern "C" int rename(const char* from, const char* to) {
  const char* name = std::getenv("RENAME_PAUSE_NAME");
  const size_t length = name ? std::strlen(name) : 0, whole = std::strlen(to);
  if (length > 0 && whole >= length && std::strcmp(to + whole - length, name) == 0) {
    static const char line[] = "rename paused\n";
    if (write(STDERR_FILENO, line, sizeof line - 1) < 0) _exit(3);
    for (;;) pause();
  }
  typedef int (*Rename)(const char*, const char*);
  static const Rename next = reinterpret_cast<Rename>(dlsym(RTLD_NEXT, "rename"));
  return next(from, to);
}
