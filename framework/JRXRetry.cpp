#include "JRXRetry.h"
#include "JRXResultCodes.h"

#include <algorithm>
#include <random>
#include <thread>

namespace JRX {

namespace {

JRXRdbmsFailure& lastFailure() {
  thread_local JRXRdbmsFailure f;
  return f;
}

std::chrono::milliseconds pauseAfter(const JRXRetryPolicy& policy, int failedRun) {
  thread_local std::minstd_rand random(std::random_device{}());
  long long ms = policy.firstPause.count();
  for (int i = 1; i < failedRun && ms < policy.longestPause.count(); ++i) ms *= 2;
  ms = std::min<long long>(ms, policy.longestPause.count());
  if (ms <= 1) return std::chrono::milliseconds(ms);
  std::uniform_int_distribution<long long> half(ms / 2, ms);
  return std::chrono::milliseconds(half(random));
}

}  // namespace

namespace detail {

void noteRdbmsFailure(const AException& e) {
  JRXRdbmsFailure& f = lastFailure();
  ++f.serial;
  f.code = e.Code();
  f.transient = e.Transient();
  f.text = e.Text().str();
}

bool pauseBeforeReplay(const JRXRetryPolicy& policy, const JRXRetryNotice& notice,
                       int failedRun, const std::string& reason) {
  if (failedRun >= policy.runs) return false;
  const std::chrono::milliseconds pause = pauseAfter(policy, failedRun);
  if (notice) notice(failedRun, reason, pause);
  std::this_thread::sleep_for(pause);
  return true;
}

}  // namespace detail

JRXRdbmsFailure lastRdbmsFailure() { return lastFailure(); }

int retryService(const std::function<int()>& call, const JRXRetryPolicy& policy,
                 const JRXRetryNotice& notice) {
  for (int run = 1;; ++run) {
    const unsigned long before = lastFailure().serial;
    const int result = call();
    if (result != kDatabaseFailure) return result;
    const JRXRdbmsFailure& f = lastFailure();
    if (f.serial == before || !f.transient) return result;
    if (!detail::pauseBeforeReplay(policy, notice, run, f.text)) return result;
  }
}

}  // namespace JRX
