// SIGINT, SIGTERM and SIGHUP as a request to stop: while a StopSignals lives they only set a
// flag, which the loops of `watch` and of following listings look at between their steps,
// so that they end in order (the terminal put back, the cursor kept).
#pragma once

#include <signal.h>

#include <chrono>

namespace jrxlog {

class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  static bool requested();
  // Waits `duration`, or less once a stop is requested.
  static void sleep(std::chrono::milliseconds duration);

 private:
  struct sigaction oldInt_ {}, oldTerm_ {}, oldHup_ {};
};

}  // namespace jrxlog
