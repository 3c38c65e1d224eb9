#include "q4_pause.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <ctime>

namespace {
std::atomic<bool> pauses_enabled{true};
}

void q4_set_pauses_enabled(bool enabled) { pauses_enabled = enabled; }

bool q4_pauses_enabled() { return pauses_enabled; }

void q4_pause(double seconds) {
  if (!pauses_enabled || !(seconds > 0.0)) return;
  timespec wait;
  wait.tv_sec = static_cast<time_t>(seconds);
  wait.tv_nsec = static_cast<long>(std::fmod(seconds, 1.0) * 1e9);
  while (nanosleep(&wait, &wait) == -1 && errno == EINTR) {
  }
}
