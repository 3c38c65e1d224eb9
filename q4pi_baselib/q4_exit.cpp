#include "q4_exit.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "q4_log.h"

namespace {

struct ExitHandler {
  void (*fn)(void*);
  void* arg;
  ExitHandler* next;
};

ExitHandler* handlers = nullptr;
bool handlers_installed = false;

const int caught_signals[] = {SIGHUP,  SIGINT, SIGQUIT, SIGABRT, SIGTERM, SIGTSTP, SIGFPE,
                              SIGBUS,  SIGSEGV, SIGTRAP, SIGILL,  SIGXCPU, SIGXFSZ, SIGALRM};

void run_at_exit() { call_exit_handlers(); }

}  // namespace

void register_exit_handler(void (*fn)(void*), void* arg) {
  if (!fn) return;
  // The list lives outside the tracked heap: it must outlast every report.
  ExitHandler* record = static_cast<ExitHandler*>(malloc(sizeof(ExitHandler)));
  if (!record) return;
  if (!handlers_installed) {
    for (int signal : caught_signals) std::signal(signal, call_exit_handlers_abend);
    static bool at_exit_registered = false;
    if (!at_exit_registered) at_exit_registered = atexit(run_at_exit) == 0;
    handlers_installed = true;
  }
  *record = {fn, arg, handlers};
  handlers = record;
}

void call_exit_handlers() {
  while (handlers) {
    ExitHandler* record = handlers;
    handlers = record->next;
    void (*fn)(void*) = record->fn;
    void* arg = record->arg;
    free(record);
    fn(arg);
  }
  handlers_installed = false;
}

void call_exit_handlers_abend(int signal) {
  printf("In call_exit_handlers_abend( %d )\n", signal);
  fflush(stdout);
  switch (signal) {
    case SIGHUP:
    case SIGINT:
    case SIGQUIT:
    case SIGABRT:
    case SIGTERM:
    case SIGTSTP:
      q4_notify(Q4_LOG_DEBUG, "SIGNAL: Interrupted by user (signal %d)\n", signal);
      exit(1);
    case SIGILL:
    case SIGTRAP:
    case SIGBUS:
    case SIGFPE:
    case SIGSEGV:
      q4_notify(Q4_LOG_DEBUG, "SIGNAL: Fatal internal error (signal %d)\n", signal);
      exit(2);
    case SIGALRM:
      fprintf(stderr, "SIGNAL: Alarm call (signal %d)\n", signal);
      exit(3);
    case SIGXCPU:
    case SIGXFSZ:
      fprintf(stderr, "SIGNAL: Quota exceeded (signal %d)\n", signal);
      exit(3);
    default:
      return;
  }
}

void exit_wait(int status) { exit(status); }

extern "C" void exit_wait_c(int status) { exit_wait(status); }
