#include "StopSignals.h"

#include <thread>

namespace jrxlog {

namespace {

volatile sig_atomic_t stopRequested = 0;

void onSignal(int) { stopRequested = 1; }

}  // namespace

StopSignals::StopSignals() {
  stopRequested = 0;
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  // A database call under way finishes first: its reads are restarted, not failed.
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, &oldInt_);
  sigaction(SIGTERM, &sa, &oldTerm_);
  sigaction(SIGHUP, &sa, &oldHup_);
}

StopSignals::~StopSignals() {
  sigaction(SIGINT, &oldInt_, nullptr);
  sigaction(SIGTERM, &oldTerm_, nullptr);
  sigaction(SIGHUP, &oldHup_, nullptr);
}

bool StopSignals::requested() { return stopRequested != 0; }

void StopSignals::sleep(std::chrono::milliseconds duration) {
  const auto until = std::chrono::steady_clock::now() + duration;
  while (!requested() && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

}  // namespace jrxlog
