#ifndef Q4_CONSOLE_H
#define Q4_CONSOLE_H

// Writes texts to both standard error and standard output.
class Console {
 public:
  static int printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
  // As printf, and also into the message log's file when one is set.
  static int logprintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
  static int out(const char* text);
  static void remove() {}

  static Console* theConsole_;
};

#endif
