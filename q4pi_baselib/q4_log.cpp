#include "q4_log.h"

#include <cmath>
#include <cstdarg>
#include <cstring>
#include <ctime>

#include "q4_sysinfo.h"

namespace {

const char* const level_words[] = {"NONE ", "ERROR", "WARN ", "INFO ", "DEBUG", "TRACE"};

// Formatting buffer of the plain functions; the member then writes the text
// unchanged, so percent signs in arguments survive.
char shared_text[Q4_LOG_TEXT_SIZE];

bool console_enabled = true;
bool console_forced = true;

}  // namespace

// A constant initialiser, never a constructor run at start-up: a message
// logged or a facility set by another file's static constructor would
// otherwise be lost or undone when this file's turn came.
static_assert((q4MessageLog(nullptr), true), "the default logger must be constant-initialised");
q4MessageLog defaultLogger(nullptr);

void q4_log_split_time(double t, int* hours, int* minutes, double* seconds) {
  if (t >= 86400.0) t -= 86400.0 * std::floor(t / 86400.0);
  const int whole = static_cast<int>(t);
  *hours = whole / 3600;
  *minutes = (whole % 3600) / 60;
  *seconds = t - (*hours * 3600 + *minutes * 60);
}

FILE* q4MessageLog::out() {
  if (!stream_) stream_ = stderr;
  return stream_;
}

void q4MessageLog::set_text(const char* text) { snprintf(text_, sizeof text_, "%s", text); }

void q4MessageLog::q4_msg_print(int level) {
  size_t length = strlen(text_);
  if (length == 0 || text_[length - 1] != '\n') {
    if (length > sizeof text_ - 2) length = sizeof text_ - 2;
    text_[length] = '\n';
    text_[length + 1] = '\0';
  }
  FILE* stream = out();
  if (level >= Q4_LOG_CONTINUATION || level < 0) {
    fprintf(stream, "%s                  : %s", facility_, text_);
    fflush(stream);
    return;
  }
  const double now = q4mp_getclock();
  double t;
  if (clock_base_ != 0.0 && now >= clock_base_) {
    t = seconds_of_day_ + (now - clock_base_);
  } else {
    const time_t seconds = time(nullptr);
    tm local;
    localtime_r(&seconds, &local);
    seconds_of_day_ = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
    clock_base_ = now;
    t = seconds_of_day_;
  }
  int hours, minutes;
  double secs;
  q4_log_split_time(t, &hours, &minutes, &secs);
  fprintf(stream, "%s %02d:%02d:%05.2f %s: %s", facility_, hours, minutes, secs, level_words[level],
          text_);
  fflush(stream);
}

void q4MessageLog::notify_text(int level, const char* text) {
  if (level_ < 0) return;
  out();
  if (level > Q4_LOG_TRACE) level = Q4_LOG_TRACE;
  if (level < Q4_LOG_ERROR || level_ < level) return;
  set_text(text);
  q4_msg_print(level);
  last_level_ = level;
}

void q4MessageLog::trace_text(const char* text) {
  if (level_ < Q4_LOG_TRACE) return;
  set_text(text);
  q4_msg_print(Q4_LOG_TRACE);
}

void q4MessageLog::msgcont_text(const char* text) {
  if (level_ < 0 || last_level_ < 1 || last_level_ > level_) return;
  set_text(text);
  q4_msg_print(Q4_LOG_CONTINUATION);
}

void q4MessageLog::msg_text(const char* text) {
  if (level_ < Q4_LOG_INFO) return;
  set_text(text);
  q4_msg_print(Q4_LOG_CONTINUATION);
}

// The members format into a local copy first: the text field itself may be
// one of the arguments.
#define Q4_FORMAT_INTO(buffer, format)          \
  do {                                          \
    va_list args;                               \
    va_start(args, format);                     \
    vsnprintf(buffer, sizeof buffer, format, args); \
    va_end(args);                               \
  } while (0)

void q4MessageLog::q4_notify(int level, const char* format, ...) {
  char text[Q4_LOG_TEXT_SIZE];
  Q4_FORMAT_INTO(text, format);
  notify_text(level, text);
}

void q4MessageLog::q4_trace(const char* format, ...) {
  char text[Q4_LOG_TEXT_SIZE];
  Q4_FORMAT_INTO(text, format);
  trace_text(text);
}

void q4MessageLog::q4_msgcont(const char* format, ...) {
  char text[Q4_LOG_TEXT_SIZE];
  Q4_FORMAT_INTO(text, format);
  msgcont_text(text);
}

void q4MessageLog::q4_msg(const char* format, ...) {
  char text[Q4_LOG_TEXT_SIZE];
  Q4_FORMAT_INTO(text, format);
  msg_text(text);
}

void q4MessageLog::q4_notify_setlevel(int level) {
  level_ = level;
  if (level == -1) stream_ = nullptr;
}

void q4MessageLog::q4_notify_set_facility(const char* name) {
  snprintf(facility_, sizeof facility_, "(%s)", name);
  facility_set_ = true;
}

void q4_notify(int level, const char* format, ...) {
  Q4_FORMAT_INTO(shared_text, format);
  defaultLogger.notify_text(level, shared_text);
}

void q4_msgcont(const char* format, ...) {
  Q4_FORMAT_INTO(shared_text, format);
  defaultLogger.msgcont_text(shared_text);
}

void q4_msg(const char* format, ...) {
  Q4_FORMAT_INTO(shared_text, format);
  defaultLogger.msg_text(shared_text);
}

void q4_trace(const char* format, ...) {
  Q4_FORMAT_INTO(shared_text, format);
  defaultLogger.trace_text(shared_text);
}

void q4_msg_print(int level) { defaultLogger.q4_msg_print(level); }
void q4_notify_setlevel(int level) { defaultLogger.q4_notify_setlevel(level); }
int q4_notify_getlevel() { return defaultLogger.q4_notify_getlevel(); }
void q4_notify_set_facility(const char* name) { defaultLogger.q4_notify_set_facility(name); }

void q4_notify_enable_console(bool enabled, bool force) {
  console_enabled = enabled;
  console_forced = force;
}

bool q4_notify_console_enabled() { return console_enabled; }
bool q4_notify_console_forced() { return console_forced; }
