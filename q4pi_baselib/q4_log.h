#ifndef Q4_LOG_H
#define Q4_LOG_H

#include <cstdio>

// The levelled message log. Lines look like
//   "(FACILITY) hh:mm:ss.ss LEVEL: text"
// and go to standard error unless another stream is set.
enum {
  Q4_LOG_NONE = 0,
  Q4_LOG_ERROR = 1,
  Q4_LOG_WARN = 2,
  Q4_LOG_INFO = 3,
  Q4_LOG_DEBUG = 4,
  Q4_LOG_TRACE = 5,
  Q4_LOG_CONTINUATION = 6
};

enum { Q4_LOG_TEXT_SIZE = 4096, Q4_LOG_FACILITY_SIZE = 80 };

class q4MessageLog {
 public:
  // constexpr so that defaultLogger is constant-initialised: it is set up
  // before any static constructor of the program can log through it.
  constexpr explicit q4MessageLog(FILE* stream)
      : clock_base_(0.0),
        seconds_of_day_(0.0),
        level_(Q4_LOG_INFO),
        last_level_(-1),
        stream_(stream),
        text_(),
        facility_{"(Q4 LIB)"},
        facility_set_(false) {}

  void q4_notify(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void q4_trace(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void q4_msgcont(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void q4_msg(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void q4_msg_print(int level);

  void q4_notify_setlevel(int level);
  int q4_notify_getlevel() const { return level_; }
  void q4_notify_set_facility(const char* name);
  void setFile(FILE* stream) { stream_ = stream; }
  bool q4_have_logfile() const { return stream_ != nullptr && facility_set_; }
  FILE* stream() const { return stream_; }

  // Forms of the above that take an already formatted text.
  void notify_text(int level, const char* text);
  void trace_text(const char* text);
  void msgcont_text(const char* text);
  void msg_text(const char* text);

 private:
  void set_text(const char* text);
  FILE* out();

  double clock_base_;
  double seconds_of_day_;
  int level_;
  int last_level_;
  FILE* stream_;
  char text_[Q4_LOG_TEXT_SIZE];
  char facility_[Q4_LOG_FACILITY_SIZE];
  bool facility_set_;
};

extern q4MessageLog defaultLogger;

// Splits seconds since midnight (wrapped into one day) into the line's
// hours, minutes and seconds columns.
void q4_log_split_time(double t, int* hours, int* minutes, double* seconds);

void q4_notify(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
void q4_msgcont(const char* format, ...) __attribute__((format(printf, 1, 2)));
void q4_msg(const char* format, ...) __attribute__((format(printf, 1, 2)));
void q4_trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
void q4_msg_print(int level);
void q4_notify_setlevel(int level);
int q4_notify_getlevel();
void q4_notify_set_facility(const char* name);
void q4_notify_enable_console(bool enabled, bool force);
bool q4_notify_console_enabled();
bool q4_notify_console_forced();

#endif
