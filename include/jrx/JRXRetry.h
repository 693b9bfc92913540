// Replaying work that failed only because other sessions' work got in its way: a deadlock
// the server resolved by rolling this transaction back, a lock wait timeout, a busy SQLite
// file, a lost connection, a cluster's certification conflict. Such a failure says nothing
// about the work itself, so the whole unit (every transaction it opens, from the start) may
// be run again after a pause. A unit must be safe to replay: a failed run leaves nothing
// behind (a service call that answers 3101 does not), and a run that committed does not
// fail afterwards.
//
//     int rc = JRX::retryService([&] { return log.saveProgress(record); });
//     JRX::retryRdbms([&] { JRX::JRXRdbmsTran t; ...; t.commit(); });
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "ASQuery.h"
#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

namespace JRX {

struct JRXRetryPolicy {
  int runs = 5;                                  // in all, the first run included
  std::chrono::milliseconds firstPause{20};      // doubled before each further replay,
  std::chrono::milliseconds longestPause{1000};  // up to this; each drawn at random from
                                                 // its upper half, so rivals fall apart
};

// Told before each replay: which run failed (1 = the first), why, and the pause before the
// next run.
typedef std::function<void(int failedRun, const std::string& reason,
                           std::chrono::milliseconds pause)>
    JRXRetryNotice;

// Whether a database failure leaves the work worth replaying.
inline bool isTransientRdbmsError(const AException& e) { return e.Transient(); }

// The last database failure the framework mapped on this thread (onRdbmsError); `serial`
// grows with each, 0 before the first.
struct JRXRdbmsFailure {
  unsigned long serial = 0;
  int code = 0;
  bool transient = false;
  std::string text;
};
JRXRdbmsFailure lastRdbmsFailure();

namespace detail {
// Notifies and sleeps before the replay after failed run `failedRun`; false when the policy
// allows no further run.
bool pauseBeforeReplay(const JRXRetryPolicy& policy, const JRXRetryNotice& notice,
                       int failedRun, const std::string& reason);
}  // namespace detail

// Runs `unit`, which throws AException when it fails, until it returns, fails for a reason
// that is not transient, or has used up the policy's runs; the last failure is rethrown.
template <class F>
auto retryRdbms(F&& unit, const JRXRetryPolicy& policy = JRXRetryPolicy(),
                const JRXRetryNotice& notice = JRXRetryNotice()) -> decltype(unit()) {
  for (int run = 1;; ++run) {
    try {
      return unit();
    } catch (const AException& e) {
      if (!e.Transient() || !detail::pauseBeforeReplay(policy, notice, run, e.Text().str()))
        throw;
    }
  }
}

// Runs `call`, a service call that answers a result code, and replays it while it answers
// 3101 because of a transient database failure that the framework mapped during the call.
// Returns the last answer.
int retryService(const std::function<int()>& call, const JRXRetryPolicy& policy = JRXRetryPolicy(),
                 const JRXRetryNotice& notice = JRXRetryNotice());

}  // namespace JRX

JRX_PUBLIC_END
