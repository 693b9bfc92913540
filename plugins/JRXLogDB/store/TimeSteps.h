// The newest (or oldest) rows that concern one environment, at a cost that does not grow
// with the log.
//
// A link table knows environments but not times, and the table it links knows times but not
// environments, so no index serves "the newest rows of this environment" directly. Two
// plans read only part of the log, each good where the other is bad:
//   - the walk: the table along its time index in the order of the answer, each row's link
//     probed by its whole key. It stops as soon as it has enough rows, so it is cheap when
//     the environment is common among recent rows.
//   - the links: the environment's links through their (role, environment) index, each row
//     read by its key, all of them sorted by time. It costs what the environment has.
// A call alternates between them with a growing budget: when the links number fewer than
// the budget (one index walk that stops at the budget tells), they are read; otherwise the
// walk reads the next `budget` rows (their time bound found along the time index) and keeps
// what matches; then the budget grows. So a call reads about the smaller of the two,
// whatever the history: recorded in time order or not, busy environment or quiet.
//
// Every step is exact: a walk takes all rows up to and including a time, and the next step
// continues strictly beyond it; the links take everything beyond the last walk's time. The
// rows and their order are those of the plain selection.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "ASQuery.h"
#include "JRXGUID.h"
#include "JRXLogDBLocal.h"

namespace JRX {
namespace logdb {

// Exclusive bounds on a time column, in the stored form.
struct TimeRange {
  bool from = false;  // only rows after `fromTime`
  int fromTime = 0;
  bool below = false;  // only rows before `belowTime`
  int belowTime = 0;
};

struct TimeStep {
  bool walk = false;  // along the time index; otherwise through the links
  bool newestFirst = true;
  TimeRange range;
  bool bounded = false;  // a walk that ends at `edge`, the rows at `edge` included
  int edge = 0;
  // The step's rows as a condition on the table's time column.
  ASComparison on(const ASAttribute& time) const;
};

class TimeSteps {
 public:
  // Whether the links of the selection number at least `budget`.
  using LinksReach = std::function<bool(unsigned long long budget)>;
  // The time of the budget-th row inside the range along the time index, in the answer's
  // direction; false when there are fewer.
  using TimeAtDepth = std::function<bool(const TimeRange&, unsigned long long budget, int& time)>;

  // `linksReach` empty: the links are no shortcut (every row has one), only walks.
  // `wanted`: how many rows the caller expects to keep at most.
  TimeSteps(LinksReach linksReach, TimeAtDepth timeAtDepth, bool newestFirst,
            const TimeRange& range, size_t wanted);
  // The next step; false once the last one was given.
  bool next(TimeStep& step);

 private:
  LinksReach linksReach_;
  TimeAtDepth timeAtDepth_;
  bool newestFirst_;
  TimeRange range_;
  unsigned long long budget_;
  bool done_ = false;
};

// The range of a service call's time filter (0 and 2147483647: none).
TimeRange timeRangeOf(long fromTime, long toTime);
// The range of inclusive bounds, exact at both ends of the 32-bit range of times.
TimeRange timeRangeWithin(long from, long to);
// The range cut down to the rows at `time` and beyond it in the listing's direction.
TimeRange rangeFrom(TimeRange range, long time, bool newestFirst);
// Whether `key` lies in one of the ranges (inclusive); false for none.
ASComparison inRanges(const ASAttribute& key, const std::vector<JRXKeyRange>& ranges);
// Whether at least `budget` rows of `column`'s table match `cond` read through `index`.
bool rowsReach(ASSession* session, const ASAttribute& column, const ASComparison& cond,
               const std::string& index, unsigned long long budget);
// TimeSteps' probe for a table's time column read through `index`; `also`: the equality
// that leads `index` when it is a filter's (its rows are in time order within it).
bool timeAtDepth(ASSession* session, const ASAttribute& time, const std::string& index,
                 const TimeRange& range, bool newestFirst, unsigned long long budget,
                 int& found, const ASComparison& also = ASComparison());
// Of several walks that each hold every row of the answer (one per filter that has an index
// of its own, led by its column), the one that reaches farthest in the answer's direction
// in `budget` rows: the filter that keeps the fewest rows there. Each probe costs at most
// `budget` index entries, so the choice costs what a step does. 0 when there is one walk.
size_t mostSelective(const std::vector<TimeSteps::TimeAtDepth>& walks, const TimeRange& range,
                     bool newestFirst, unsigned long long budget);
// The budget TimeSteps begins with for `wanted` rows.
unsigned long long firstBudget(size_t wanted);
// The env_log rows of an environment identifier (one per title it was known by).
std::vector<int> envIdsOf(ASSession* session, const JRXEID& eid);
// `envId` is one of `ids`.
ASComparison anyOf(const ASAttribute& envId, const std::vector<int>& ids);

}  // namespace logdb
}  // namespace JRX
