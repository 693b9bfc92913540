// Events of one environment, newest first, at a cost that does not grow with the log.
//
// The link table knows environments but not times, and the event table knows times but not
// environments, so no index serves "the newest events of this environment" directly. Two
// plans read only part of the log, each good where the other is bad:
//   - the walk: the event table along its time index, newest first, each event's link probed
//     by (event_id, role, env_id). It stops as soon as it has enough rows, so it is cheap when
//     the environment (or role) is common among recent events.
//   - the links: the environment's links of the role by (role, env_id, event_id), each event
//     read by its key, all of them sorted by time. It costs what the environment has.
// Each call alternates between them with a growing budget: when the links number fewer than
// the budget (one index walk that stops at the budget tells), they are read; otherwise the
// walk reads the newest `budget` events (their time bound found along the time index) and
// keeps what matches; then the budget grows. So a call reads about the smaller of the two,
// whatever the history: recorded in time order or not, busy environment or quiet.
//
// Every step is exact: the walk takes all events at or after a time and the next step
// continues strictly before it; the links take everything before the last step's time. The
// rows and their order are those of the plain selection (time descending, then the event's
// key descending). The statements fix their join order and indexes through plan hints, so
// that neither database can drift to a plan that reads the log.
#include "EventQuery.h"

#include <algorithm>

#include "JRXConversions.h"
#include "JRXLogDBLocal.h"
#include "store/LogTables.h"
#include "store/ValueEncodings.h"

namespace JRX {

namespace {

const long kNoUpperBound = 2147483647;
const unsigned long long kSmallestBudget = 1024;
const unsigned long long kBudgetPerRecord = 4;
const unsigned long long kBudgetGrowth = 4;

struct Bounds {
  bool below = false;  // only events before `belowTime`
  int belowTime = 0;
  bool from = false;  // only events after `fromTime`
  int fromTime = 0;
};

std::vector<int> envIdsOf(ASSession* session, const JRXEID& eid) {
  env_log env;
  ASCursor c(session);
  c.Project() << env->id;
  c.Set(env->eid == guidToRDBMSGuid(eid));
  std::vector<int> ids;
  while (c.Fetch()) ids.push_back(static_cast<int>(env.id.Int()));
  return ids;
}

ASComparison linkCondition(events_log_env& link, const EventFilter& f,
                           const std::vector<int>& envIds) {
  ASComparison cond = link->role == (f.asSource ? "S" : "O");
  if (f.eid.isValid()) {
    ASComparison anyOf;
    for (int id : envIds) anyOf = anyOf || link->env_id == id;
    cond = cond && anyOf;
  }
  return cond;
}

ASComparison timeCondition(events_log& ev, const Bounds& b) {
  ASComparison cond;
  if (b.from) cond = cond && ev->time > b.fromTime;
  if (b.below) cond = cond && ev->time < b.belowTime;
  return cond;
}

// Whether the links of the filter number at least `budget`: one walk of the link index
// that stops at the budget-th entry.
bool linksReach(ASSession* session, const EventFilter& f, const std::vector<int>& envIds,
                unsigned long long budget) {
  events_log_env link;
  ASCursor c(session);
  c.Project() << link->event_id;
  c.Set(linkCondition(link, f, envIds));
  c.UseIndex(link, "events_log_env_role");
  c.Limit(1, budget - 1);
  return c.Fetch() != 0;
}

// The time of the budget-th newest event inside the bounds, along the time index alone;
// false when there are fewer.
bool timeAtDepth(ASSession* session, const Bounds& b, unsigned long long budget, int& time) {
  events_log ev;
  ASCursor c(session);
  c.Project() << ev->time;
  ASComparison cond = timeCondition(ev, b);
  if (!cond.IsEmpty()) c.Set(cond);
  c.Order(-ev->time).Limit(1, budget - 1);
  c.UseIndex(ev, "events_log_time");
  if (!c.Fetch()) return false;
  time = static_cast<int>(ev.time.Int());
  return true;
}

// Appends to `rows` the newest matching events inside the bounds (and at or after `atLeast`
// when `bounded`), until `rows` holds `limit` elements. `walk` picks the plan: the time index driving, or
// the links.
void selectStep(ASSession* session, const EventFilter& f, const std::vector<int>& envIds,
                const Bounds& b, bool walk, bool bounded, int atLeast, size_t limit,
                std::vector<JRXEvent>& rows) {
  const size_t want = limit - rows.size();
  env_log env;
  events_log ev;
  events_log_env link;
  ASCursor c(session);
  c.Project() << env->eid << ev->time << ev->category << ev->type << ev->sid << ev->info_bin
              << ev->guid << ev->code << link->env_id;
  if (f.withData) c.Project() << ev->data;

  ASComparison cond = ev->event_id == link->event_id && link->env_id == env->id;
  cond = cond && linkCondition(link, f, envIds);
  if (f.eid.isValid()) cond = cond && env->eid == guidToRDBMSGuid(f.eid);
  if (!f.category.empty()) cond = cond && ev->category == f.category;
  if (!f.type.empty()) cond = cond && ev->type == f.type;
  cond = cond && timeCondition(ev, b);
  if (bounded) cond = cond && ev->time >= atLeast;
  c.Set(cond);
  c.Order(-ev->time).Limit(want, 0);
  c.PageRows(want);
  if (walk) {
    c.JoinOrder({&ev, &link, &env}).UseIndex(ev, "events_log_time");
    c.UseIndex(link, "events_log_env_link");
  } else {
    c.JoinOrder({&link, &ev, &env}).UseIndex(link, "events_log_env_role");
  }

  while (rows.size() < limit && c.Fetch()) {
    rows.push_back(JRXEvent("agent"));
    JRXEvent& e = rows.back();
    e.eid = JRXEID(rdbmsGuidToGuid(env.eid.Guid()));
    e.guid.fromString(ev.guid.Str().c_str());
    e.time = logdb::sqlToTime(ev.time);
    e.category = ev.category.Str().str();
    e.type = ev.type.Str().str();
    e.code = static_cast<int>(ev.code.Int());
    e.sid = sqlToSid(ev.sid.Str());
    logdb::getInfoFromBinary(ev.info_bin.voidptr(), ev.info_bin.size(), e.info);
    // Without the default parser an unknown payload type stays unread instead of guessed.
    if (f.withData) logdb::getEventDataFromBinary(ev.data.voidptr(), ev.data.size(), e.data);
  }
}

}  // namespace

void selectEvents(JRXRdbmsTran& tran, const EventFilter& f, std::vector<JRXEvent>* out) {
  ASSession* session = *tran;
  std::vector<int> envIds;
  if (f.eid.isValid()) {
    envIds = envIdsOf(session, f.eid);
    if (envIds.empty()) return;  // never linked to anything
  }
  if (out->size() >= f.recordsLimit) return;
  const size_t limit = f.recordsLimit;

  Bounds b;
  b.from = f.fromTime != 0;
  b.fromTime = logdb::timeToSql(f.fromTime);
  b.below = f.toTime != kNoUpperBound;
  b.belowTime = logdb::timeToSql(f.toTime);
  // Every source link of the whole log is no shortcut: without an environment, events are
  // found by their source along the time index only.
  const bool linksNarrow = f.eid.isValid() || !f.asSource;

  unsigned long long budget = std::max<unsigned long long>(
      kSmallestBudget, kBudgetPerRecord * static_cast<unsigned long long>(limit));
  for (;;) {
    if (out->size() >= limit) return;
    if (linksNarrow && !linksReach(session, f, envIds, budget)) {
      selectStep(session, f, envIds, b, false, false, 0, limit, *out);
      return;
    }
    int atLeast = 0;
    const bool bounded = timeAtDepth(session, b, budget, atLeast);
    selectStep(session, f, envIds, b, true, bounded, atLeast, limit, *out);
    if (!bounded) return;  // the walk reached the oldest event
    b.below = true;
    b.belowTime = atLeast;
    budget *= kBudgetGrowth;
  }
}

}  // namespace JRX
