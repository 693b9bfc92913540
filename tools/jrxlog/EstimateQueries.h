// The estimated ends of running operations, read for the records a listing shows: each
// operation's own newest progress rows, and where they show no pace, the durations of the
// newest runs of its name that ended done. Every read goes through an index to a bounded
// number of rows, so an estimate costs the same on any size of log.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Estimates.h"

namespace jrxlog {

// What the log holds of one operation, for its estimate.
struct OperationHistory {
  bool found = false;
  bool running = false;  // started or running
  std::string name;
  long begun = 0;                     // its first report
  std::vector<ProgressPoint> newest;  // newest first, at most kEstimateRows
};

OperationHistory readHistory(const std::string& id);
// Seconds each of at most `count` runs of `name` that ended done took: runs begun in the
// last hour before `now`, then further back, a day, a week, a month, a year, then any.
std::vector<long> peerDurations(const std::string& name, long now, size_t count = kEstimatePeers);

// The estimates of one answer, all for the same `now`: each operation and each name is read
// once however many of its records the answer holds.
class OperationEstimates {
 public:
  explicit OperationEstimates(long now) : now_(now) {}

  struct Estimate {
    bool running = false;      // the operation runs now: its records carry an estimate
    std::optional<long> end;   // none: no estimate can be made
  };
  const Estimate& of(const std::string& id);
  long now() const { return now_; }

 private:
  long now_;
  std::map<std::string, Estimate> byId_;
  std::map<std::string, std::vector<long>> byName_;
};

// "in 5m 20s", "now", "-" (none): how a table shows an estimate.
std::string etaText(const OperationEstimates::Estimate& e, long now);

}  // namespace jrxlog
