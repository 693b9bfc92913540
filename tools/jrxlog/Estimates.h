// When a running operation will end, estimated from what the log holds of it: its own
// progress rows (time and percent of each), else how long ended runs of the same name took.
// The rules and the reasons for them are in Estimates.cpp.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace jrxlog {

// One progress row of an operation as stored: the latest report of each text.
struct ProgressPoint {
  long time = 0;
  int progress = 0;
  int status = 0;
};

// Progress rows read per operation, newest first: the pace is measured over these.
const size_t kEstimateRows = 32;
// Ended runs of the same name whose durations stand in where the operation's own rows show
// no pace.
const size_t kEstimatePeers = 20;

// The estimated end (seconds since 1970), or none. `newestFirst`: the operation's latest
// progress rows (at most kEstimateRows); `begun`: its first report's time, where no row
// tells when the current run began; `peerDurations`: seconds that ended runs of its name
// took (any order; may be empty); `now`: the time the estimate is for.
std::optional<long> estimateEnd(const std::vector<ProgressPoint>& newestFirst, long begun,
                                const std::vector<long>& peerDurations, long now);

// Whether estimateEnd needs the peers' durations for these rows (it has no pace of its own).
bool needsPeers(const std::vector<ProgressPoint>& newestFirst);

// The median of durations (the lower middle of an even count); none when empty.
std::optional<long> typicalDuration(std::vector<long> durations);

}  // namespace jrxlog
