#include "store/TimeSteps.h"

#include <algorithm>
#include <utility>

#include "JRXConversions.h"
#include "store/LogTables.h"
#include "store/ValueEncodings.h"

namespace JRX {
namespace logdb {

namespace {

const long kNoUpperTime = 2147483647;
const long kNoLowerTime = -2147483647 - 1;
const unsigned long long kSmallestBudget = 1024;
const unsigned long long kBudgetPerRow = 4;
const unsigned long long kBudgetGrowth = 4;

ASComparison rangeOn(const ASAttribute& time, const TimeRange& r) {
  ASComparison cond;
  if (r.from) cond = cond && time > r.fromTime;
  if (r.below) cond = cond && time < r.belowTime;
  return cond;
}

}  // namespace

ASComparison TimeStep::on(const ASAttribute& time) const {
  ASComparison cond = rangeOn(time, range);
  if (bounded) cond = cond && (newestFirst ? time >= edge : time <= edge);
  return cond;
}

TimeSteps::TimeSteps(LinksReach linksReach, TimeAtDepth timeAtDepth, bool newestFirst,
                     const TimeRange& range, size_t wanted)
    : linksReach_(std::move(linksReach)),
      timeAtDepth_(std::move(timeAtDepth)),
      newestFirst_(newestFirst),
      range_(range),
      budget_(firstBudget(wanted)) {}

unsigned long long firstBudget(size_t wanted) {
  return std::max<unsigned long long>(kSmallestBudget,
                                      kBudgetPerRow * static_cast<unsigned long long>(wanted));
}

size_t mostSelective(const std::vector<TimeSteps::TimeAtDepth>& walks, const TimeRange& range,
                     bool newestFirst, unsigned long long budget) {
  size_t best = 0;
  int bestEdge = 0;
  for (size_t i = 0; i < walks.size() && walks.size() > 1; ++i) {
    int edge = 0;
    if (!walks[i](range, budget, edge)) return i;  // fewer rows than the budget in all
    if (i == 0 || (newestFirst ? edge < bestEdge : edge > bestEdge)) {
      best = i;
      bestEdge = edge;
    }
  }
  return best;
}

bool TimeSteps::next(TimeStep& step) {
  if (done_) return false;
  step = TimeStep();
  step.newestFirst = newestFirst_;
  step.range = range_;
  if (linksReach_ && !linksReach_(budget_)) {
    done_ = true;
    return true;
  }
  step.walk = true;
  step.bounded = timeAtDepth_(range_, budget_, step.edge);
  if (!step.bounded) {
    done_ = true;  // the walk reaches the far end of the range
    return true;
  }
  if (newestFirst_) {
    range_.below = true;
    range_.belowTime = step.edge;
  } else {
    range_.from = true;
    range_.fromTime = step.edge;
  }
  budget_ *= kBudgetGrowth;
  return true;
}

TimeRange timeRangeOf(long fromTime, long toTime) {
  TimeRange r;
  r.from = fromTime != 0;
  r.fromTime = timeToSql(fromTime);
  r.below = toTime != kNoUpperTime;
  r.belowTime = timeToSql(toTime);
  return r;
}

TimeRange timeRangeWithin(long from, long to) {
  TimeRange r;
  // No stored time lies outside 32 bits, so a bound at either end is none; 0 is the callers'
  // default and stands for none too. Times before 1970 are stored and bounded like others.
  r.from = from != 0 && from > kNoLowerTime;
  r.fromTime = r.from ? timeToSql(from - 1) : 0;
  r.below = to < kNoUpperTime;
  r.belowTime = r.below ? timeToSql(to + 1) : 0;
  return r;
}

TimeRange rangeFrom(TimeRange range, long time, bool newestFirst) {
  if (newestFirst) {
    if (time >= kNoUpperTime) return range;
    const int below = timeToSql(time + 1);
    if (!range.below || below < range.belowTime) range.belowTime = below;
    range.below = true;
  } else {
    if (time <= 0) return range;
    const int from = timeToSql(time - 1);
    if (!range.from || from > range.fromTime) range.fromTime = from;
    range.from = true;
  }
  return range;
}

ASComparison inRanges(const ASAttribute& key, const std::vector<JRXKeyRange>& ranges) {
  ASComparison any = key < 0 && key > 0;
  for (size_t i = 0; i < ranges.size(); ++i) {
    const ASComparison one = key >= ranges[i].first && key <= ranges[i].last;
    any = i == 0 ? one : any || one;
  }
  return any;
}

bool rowsReach(ASSession* session, const ASAttribute& column, const ASComparison& cond,
               const std::string& index, unsigned long long budget) {
  ASCursor c(session);
  c.Project() << column;
  c.Set(cond);
  c.UseIndex(*column.Domain(), index);
  c.Limit(1, budget - 1);
  return c.Fetch() != 0;
}

bool timeAtDepth(ASSession* session, const ASAttribute& time, const std::string& index,
                 const TimeRange& range, bool newestFirst, unsigned long long budget,
                 int& found, const ASComparison& also) {
  ASCursor c(session);
  c.Project() << time;
  const ASComparison cond = rangeOn(time, range) && also;
  if (!cond.IsEmpty()) c.Set(cond);
  c.Order(ASOrder(time, newestFirst)).Limit(1, budget - 1);
  c.UseIndex(*time.Domain(), index);
  if (!c.Fetch()) return false;
  found = static_cast<int>(time.Domain()->Value(time.Index()).Int());
  return true;
}

std::vector<int> envIdsOf(ASSession* session, const JRXEID& eid) {
  env_log env;
  ASCursor c(session);
  c.Project() << env->id;
  c.Set(env->eid == guidToRDBMSGuid(eid));
  std::vector<int> ids;
  while (c.Fetch()) ids.push_back(static_cast<int>(env.id.Int()));
  return ids;
}

ASComparison anyOf(const ASAttribute& envId, const std::vector<int>& ids) {
  ASComparison cond;
  for (int id : ids) cond = cond || envId == id;
  return cond;
}

}  // namespace logdb
}  // namespace JRX
