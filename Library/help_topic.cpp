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

// Wraps text in single quotes for the shell, so blanks and shell characters
// stay one argument. A quote cannot stand inside single quotes: it closes
// them, adds an escaped quote and reopens them. False when it would not fit.
bool shell_quote_fits(char* out, size_t size, const char* text) {
  size_t n = 0;
  const auto put = [&](const char* s) {
    for (; *s; ++s) {
      if (n + 1 >= size) return false;
      out[n++] = *s;
    }
    return true;
  };
  bool ok = put("'");
  for (const char* c = text; ok && *c; ++c) {
    const char one[2] = {*c, '\0'};
    ok = put(*c == '\'' ? "'\\''" : one);
  }
  ok = ok && put("'");
  out[n] = '\0';
  return ok;
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
  char quoted[sizeof command];
  if (!shell_quote_fits(quoted, sizeof quoted, page)) return 1;
  if (!format_fits(command, sizeof command, "%s %s %s %s &", browser, "-geometry", "+50+50",
                   quoted))
    return 1;
  return std::system(command) == -1 ? 1 : 0;
}
