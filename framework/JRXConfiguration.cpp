#include <mutex>

#include "FrameworkState.h"
#include "JRXRequest.h"

namespace JRX {

namespace {

struct LocalEIDState {
  std::mutex m;
  JRXEID configured;
  JRXEID stored;
  JRXEID madeForProcess;
};

LocalEIDState& state() {
  static LocalEIDState s;
  return s;
}

}  // namespace

JRXEID JRXConfiguration::getLocalEID() {
  LocalEIDState& s = state();
  std::lock_guard<std::mutex> lock(s.m);
  if (s.configured.isValid()) return s.configured;
  if (s.stored.isValid()) return s.stored;
  // Without configuration or database the host still needs one stable identity for the
  // lifetime of the process.
  if (!s.madeForProcess.isValid()) s.madeForProcess = JRXGUID::generate();
  return s.madeForProcess;
}

void JRXConfiguration::setLocalEID(const JRXEID& eid) {
  LocalEIDState& s = state();
  std::lock_guard<std::mutex> lock(s.m);
  s.configured = eid;
}

namespace detail {

void setStoredLocalEID(const JRXEID& eid) {
  LocalEIDState& s = state();
  std::lock_guard<std::mutex> lock(s.m);
  s.stored = eid;
}

}  // namespace detail

}  // namespace JRX
