#include <mutex>
#include <vector>

#include "JRXRequest.h"
#include "JRXResultCodes.h"

namespace JRX {

namespace {

const int kRefused = kRightRefused;

thread_local JRXAccessChecker* threadChecker = nullptr;

std::mutex& defaultMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<JRXAccessChecker>& defaultChecker() {
  static std::shared_ptr<JRXAccessChecker> c = std::make_shared<JRXAccessChecker>();
  return c;
}

// getClientContext hands out plain pointers, so a replaced default is kept alive for calls
// still using it. Defaults are set up a few times per process at most.
std::vector<std::shared_ptr<JRXAccessChecker>>& retiredDefaults() {
  static std::vector<std::shared_ptr<JRXAccessChecker>> v;
  return v;
}

}  // namespace

JRXAccessChecker::JRXAccessChecker(std::shared_ptr<const JRXAccessPolicy> policy)
    : policy_(std::move(policy)) {}

JRXAccessChecker* JRXAccessChecker::getClientContext() {
  if (threadChecker) return threadChecker;
  std::lock_guard<std::mutex> lock(defaultMutex());
  return defaultChecker().get();
}

void JRXAccessChecker::setClientContext(JRXAccessChecker* checker) { threadChecker = checker; }

void JRXAccessChecker::setDefault(std::shared_ptr<JRXAccessChecker> checker) {
  if (!checker) checker = std::make_shared<JRXAccessChecker>();
  std::lock_guard<std::mutex> lock(defaultMutex());
  retiredDefaults().push_back(std::move(defaultChecker()));
  defaultChecker() = std::move(checker);
}

bool JRXAccessChecker::holds(const JRXEID& eid, int right) const {
  return !policy_ || policy_->holds(eid, right);
}

int JRXAccessChecker::accessCheck(const JRXEID& eid, int right) {
  ++checks_;
  return holds(eid, right) ? 0 : kRefused;
}

int JRXAccessChecker::accessCheck(std::set<JRXEID, JRXEnvIDComparator>& eids, int right,
                                  bool flag) {
  ++checks_;
  if (flag) {
    for (auto it = eids.begin(); it != eids.end();) {
      if (holds(*it, right)) ++it;
      else it = eids.erase(it);
    }
    if (!eids.empty() || holds(JRXConfiguration::getLocalEID(), right)) return 0;
    return kRefused;
  }
  for (const JRXEID& e : eids)
    if (!holds(e, right)) return kRefused;
  return 0;
}

int JRXAccessChecker::accessCheck(int right) {
  return accessCheck(JRXConfiguration::getLocalEID(), right);
}

}  // namespace JRX
