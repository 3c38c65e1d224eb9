#include "help_topic.h"

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
  // The address goes to the shell single-quoted, so blanks and shell
  // characters in folder or topic stay one argument; a quote cannot be.
  if (std::strchr(page, '\'')) return 1;
  if (!format_fits(command, sizeof command, "%s %s %s '%s' &", browser, "-geometry", "+50+50",
                   page))
    return 1;
  return std::system(command) == -1 ? 1 : 0;
}
