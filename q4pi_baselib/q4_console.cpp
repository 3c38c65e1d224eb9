#include "q4_console.h"

#include <cstdarg>
#include <cstdio>

#include "q4_log.h"

Console* Console::theConsole_ = nullptr;

namespace {

enum { CONSOLE_TEXT_SIZE = 1024 };

void ensure_console() {
  if (!Console::theConsole_) Console::theConsole_ = new Console();
}

// Longer texts are cut at the buffer, never written past it.
void format_text(char (&text)[CONSOLE_TEXT_SIZE], const char* format, va_list args) {
  ensure_console();
  vsnprintf(text, sizeof text, format, args);
}

}  // namespace

int Console::out(const char* text) {
  fprintf(stderr, "%s", text);
  fflush(stderr);
  fprintf(stdout, "%s", text);
  fflush(stdout);
  return 0;
}

int Console::printf(const char* format, ...) {
  char text[CONSOLE_TEXT_SIZE];
  va_list args;
  va_start(args, format);
  format_text(text, format, args);
  va_end(args);
  return out(text);
}

int Console::logprintf(const char* format, ...) {
  char text[CONSOLE_TEXT_SIZE];
  va_list args;
  va_start(args, format);
  format_text(text, format, args);
  va_end(args);
  if (defaultLogger.q4_have_logfile()) fprintf(defaultLogger.stream(), "CONSOLE LOG:%s", text);
  return out(text);
}
