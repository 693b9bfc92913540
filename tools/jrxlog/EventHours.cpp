#include "EventHours.h"

#include "JRXConversions.h"
#include "JRXRdbms.h"
#include "store/LogTables.h"
#include "store/ValueEncodings.h"

namespace jrxlog {

namespace {

const long kHour = 3600;

// The walk of the listing: along the type's or category's index when it names one (only
// their events are read), else along the time index.
const char* walkIndex(const EventsQuery& q) {
  if (!q.type.empty()) return "events_log_type";
  if (!q.category.empty()) return "events_log_category";
  return "events_log_time";
}

ASComparison eventsOf(JRX::events_log& ev, const EventsQuery& q, long from) {
  ASComparison cond = ev->time >= JRX::logdb::timeToSql(from) &&
                      ev->time <= JRX::logdb::timeToSql(q.to);
  if (!q.category.empty()) cond = cond && ev->category == q.category;
  if (!q.type.empty()) cond = cond && ev->type == q.type;
  return cond;
}

long hourOf(long t) { return t - ((t % kHour) + kHour) % kHour; }

}  // namespace

HourCounts countEventsByHour(const EventsQuery& q, unsigned long long rows) {
  HourCounts counts;
  counts.since = q.from;
  if (rows == 0 || q.from > q.to) return counts;
  JRX::JRXRdbmsTran tran(AS_TRAN_READ);
  ASSession* session = *tran;
  const char* index = walkIndex(q);
  {
    // Where the rows that may be read end: the time of the one past them, whose second is
    // then left out whole.
    JRX::events_log ev;
    ASCursor c(session);
    c.Project() << ev->time;
    c.Set(eventsOf(ev, q, q.from));
    c.Order(-ev->time).Order(-ev->event_id).Limit(1, rows);
    c.UseIndex(ev, index);
    if (c.Fetch()) {
      counts.complete = false;
      counts.since = static_cast<long>(JRX::logdb::sqlToTime(ev.time)) + 1;
    }
  }
  if (counts.since > q.to) return counts;
  JRX::events_log ev;
  JRX::events_log_env link;
  JRX::env_log env;
  ASCursor c(session);
  c.Project() << ev->event_id << ev->time << ev->type;
  ASComparison cond = eventsOf(ev, q, counts.since);
  // Every event is stored with the link to its source: counted by their source without an
  // environment, the events themselves are counted, without a probe of the links per row.
  const bool linked = q.eid.isValid() || !q.bySource;
  if (linked)
    cond = cond && ev->event_id == link->event_id && link->role == (q.bySource ? "S" : "O");
  if (q.eid.isValid())
    cond = cond && link->env_id == env->id && env->eid == JRX::guidToRDBMSGuid(q.eid);
  c.Set(cond);
  // In the walk's order, so that the links of one event come together.
  c.Order(-ev->time).Order(-ev->event_id);
  c.UseIndex(ev, index);
  if (q.eid.isValid())
    c.JoinOrder({&ev, &link, &env}).UseIndex(env, ASPrimaryKey);
  else if (linked)
    c.JoinOrder({&ev, &link});
  if (linked) c.UseIndex(link, "events_log_env_link");
  c.PageRows(1000);
  long long last = -1;
  while (c.Fetch()) {
    // An event linked to the environment under several of its titles counts once.
    const long long id = ev.event_id.AsInt64();
    if (id == last) continue;
    last = id;
    ++counts.byHour[hourOf(static_cast<long>(JRX::logdb::sqlToTime(ev.time)))][ev.type.Bytes()];
    ++counts.counted;
  }
  return counts;
}

}  // namespace jrxlog
