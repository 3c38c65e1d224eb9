#ifndef Q4_TEST_LOG_CAPTURE_H
#define Q4_TEST_LOG_CAPTURE_H

#include <cstdio>
#include <string>

#include "q4_log.h"

// Points a message log at a temporary file for the life of the object and
// reads back what was written.
class LogCapture {
 public:
  explicit LogCapture(q4MessageLog& log = defaultLogger)
      : log_(log), file_(tmpfile()), level_(log.q4_notify_getlevel()) {
    log_.setFile(file_);
  }
  ~LogCapture() {
    log_.setFile(nullptr);
    log_.q4_notify_setlevel(level_);
    if (file_) fclose(file_);
  }
  std::string text() const {
    std::string result;
    if (!file_) return result;
    fflush(file_);
    rewind(file_);
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file_)) > 0) result.append(chunk, got);
    return result;
  }
  bool contains(const std::string& part) const { return text().find(part) != std::string::npos; }

 private:
  q4MessageLog& log_;
  FILE* file_;
  int level_;
};

#endif
