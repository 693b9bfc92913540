// The switches of ASFaults and the errors the wrapper raises.
#include "FaultError.h"

#include <mutex>
#include <vector>

#include "ASFaults.h"
#include "ASQuery.h"

namespace {

struct Armed {
  FaultAction action;
  int remaining;
  std::string match;
  std::string text;
  std::function<void()> act;  // FaultAction::None: only this runs
};

struct Switches {
  std::mutex mutex;
  std::vector<Armed> armed;
  int seen = 0;
  int prepared = 0;
};

Switches& switches() {
  static Switches s;
  return s;
}

void arm(FaultAction action, int nth, const std::string& match, const std::string& text,
         std::function<void()> act = nullptr) {
  if (nth < 1) throw AException("a fault must be armed for the 1st or a later statement");
  Switches& s = switches();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.armed.push_back({action, nth, match, text, std::move(act)});
}

}  // namespace

namespace ASFaults {

void FailStatement(int nth, const std::string& match, const std::string& text) {
  arm(FaultAction::Fail, nth, match, text);
}

void DropConnection(int nth, const std::string& match) {
  arm(FaultAction::Drop, nth, match, "");
}

void ConflictStatement(int nth, const std::string& match) {
  arm(FaultAction::Conflict, nth, match, "");
}

void BeforeStatement(int nth, const std::string& match, std::function<void()> act) {
  arm(FaultAction::None, nth, match, "", std::move(act));
}

void Clear() {
  Switches& s = switches();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.armed.clear();
  s.seen = 0;
  s.prepared = 0;
}

int StatementsSeen() {
  Switches& s = switches();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.seen;
}

int StatementsPrepared() {
  Switches& s = switches();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.prepared;
}

}  // namespace ASFaults

void faultCountPrepare() {
  Switches& s = switches();
  std::lock_guard<std::mutex> lock(s.mutex);
  ++s.prepared;
}

FaultAction faultCheck(const std::string& sql, std::string& text) {
  Switches& s = switches();
  std::unique_lock<std::mutex> lock(s.mutex);
  ++s.seen;
  FaultAction fired = FaultAction::None;
  std::vector<std::function<void()>> acts;
  for (auto it = s.armed.begin(); it != s.armed.end();) {
    if (it->match.empty() || sql.find(it->match) != std::string::npos) {
      if (--it->remaining == 0) {
        if (it->act) {
          acts.push_back(std::move(it->act));
        } else if (fired == FaultAction::None) {
          fired = it->action;
          text = it->text;
        }
        it = s.armed.erase(it);
        continue;
      }
    }
    ++it;
  }
  // An act runs statements of its own, which come through here.
  lock.unlock();
  for (const auto& act : acts) act();
  return fired;
}

void faultThrowFailure(const std::string& text) { throw AException(text, 0, false); }

void faultThrowLost() {
  throw AException("Lost connection to server during query (injected)", 2013, true);
}

void faultThrowConflict() {
  throw AException("Deadlock found when trying to get lock; try restarting transaction (injected)",
                   1213, false, AS_ERROR_CONFLICT);
}
