// How the end of a running operation is estimated.
//
// The log keeps one row per text an operation reported, holding the latest report of that
// text (a repeated text refreshes its row's time and percent in place), so the rows are
// (time, percent) samples of the operation's pace, however often it reported.
//
// The current run. A restart closes every unfinished operation with an ended row ("canceled
// by restart", 100 %), and the agent may then go on reporting the same operation: rows up to
// the newest ended row belong to a run that is over, and its pace and start say nothing of
// this one. The same holds where the percent falls: the operation began again from a lower
// point. Only the rows after the newest such cut are read as the current run.
//
// Steady progress. Pace = percent gained between the run's first and last rows (at most
// kEstimateRows of them) over the time between them; the rest is expected at that pace from
// the last row. The average over the window rather than the last step: steps are uneven
// (a text per phase), and the average moves less from one report to the next.
//
// Stalled. Between two reports an operation is not late: for the mean time between its rows
// (at most a minute, as an operation whose texts repeat keeps few rows) the estimate stays
// as it is. Beyond that, the time without a report counts as time spent without progress: it
// is added to the elapsed time the pace is measured over, and the estimate moves later by
// more than the time that passed. So a stalled operation's estimate grows, and keeps growing
// while the stall lasts, rather than turning into "no estimate": an operation that is only
// slow keeps a useful figure, a stalled one is seen slipping (the later it gets, the
// clearer), and the figure comes back as soon as it reports progress again. An estimate never
// lies in the past: an operation past its expected end is expected any moment (now).
//
// No pace of its own (a single row, no gain, or no row at all). The median duration of the
// newest kEstimatePeers runs of the same name that ended done (first report to last row)
// stands in: the share of it that the operation's percent leaves, from its last row (or its
// first report). Runs that failed or were canceled stop early and would make it look short;
// the median keeps an odd run (one that waited out a restart) from moving it. Once that
// estimate has passed there is nothing to go on (the operation has outlasted its kind and
// tells no pace): no estimate.
//
// No history of its own and no ended run of its name: no estimate.
#include "Estimates.h"

#include <algorithm>
#include <cmath>

namespace jrxlog {

namespace {

const long kMaxAllowance = 60;  // seconds a report may be late before a stall counts
const long kLatestTime = 2147483647L;  // the log's times are 32 bits

bool ended(const ProgressPoint& p) { return p.status >= 3; }

int percent(int p) { return std::min(100, std::max(0, p)); }

// The rows of the current run, oldest first.
std::vector<ProgressPoint> currentRun(const std::vector<ProgressPoint>& newestFirst) {
  std::vector<ProgressPoint> run;
  for (const ProgressPoint& p : newestFirst) {
    if (ended(p)) break;
    if (!run.empty() && percent(p.progress) > percent(run.back().progress)) break;
    run.push_back(p);
  }
  std::reverse(run.begin(), run.end());
  return run;
}

bool hasPace(const std::vector<ProgressPoint>& run) {
  return run.size() >= 2 && percent(run.back().progress) > percent(run.front().progress) &&
         run.back().time > run.front().time;
}

std::optional<long> within(double eta, long now) {
  const double at = std::max(std::ceil(eta), static_cast<double>(now));
  if (at > static_cast<double>(kLatestTime)) return std::nullopt;
  return static_cast<long>(at);
}

}  // namespace

bool needsPeers(const std::vector<ProgressPoint>& newestFirst) {
  return !hasPace(currentRun(newestFirst));
}

std::optional<long> typicalDuration(std::vector<long> durations) {
  if (durations.empty()) return std::nullopt;
  const size_t middle = (durations.size() - 1) / 2;
  std::nth_element(durations.begin(), durations.begin() + static_cast<long>(middle),
                   durations.end());
  return durations[middle];
}

std::optional<long> estimateEnd(const std::vector<ProgressPoint>& newestFirst, long begun,
                                const std::vector<long>& peerDurations, long now) {
  // An operation whose newest row ended is not running: nothing to estimate.
  if (!newestFirst.empty() && ended(newestFirst.front())) return std::nullopt;
  const std::vector<ProgressPoint> run = currentRun(newestFirst);
  const double lastTime = run.empty() ? begun : run.back().time;
  const double left = 100 - (run.empty() ? 0 : percent(run.back().progress));

  if (hasPace(run)) {
    const double span = run.back().time - run.front().time;
    const double gained = percent(run.back().progress) - percent(run.front().progress);
    const double allowance =
        std::min(static_cast<double>(kMaxAllowance), span / static_cast<double>(run.size() - 1));
    const double behind = std::max(0.0, static_cast<double>(now) - lastTime - allowance);
    return within(lastTime + behind + left * (span + behind) / gained, now);
  }

  const std::optional<long> typical = typicalDuration(peerDurations);
  if (!typical) return std::nullopt;
  const double eta = lastTime + left * static_cast<double>(*typical) / 100.0;
  if (std::ceil(eta) < static_cast<double>(now)) return std::nullopt;
  return within(eta, now);
}

}  // namespace jrxlog
