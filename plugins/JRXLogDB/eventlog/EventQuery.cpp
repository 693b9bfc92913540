// Events of one environment, newest first, without sorting the environment's whole history.
//
// The link table knows environments but not times, and the event table knows times but not
// environments, so no index serves "the newest events of this environment" directly: a plain
// join sorts every event of a busy environment before the limit applies, and walking the
// time index finds the few events of a quiet environment only after reading the whole log.
// Instead the selection looks at the most recently recorded events first: a window of
// event_id above a floor. Both tables can be cut to that window by their own indexes
// (events_log by its key, events_log_env by (env_id, role, event_id)), so whichever way the
// database joins them it reads at most the window. Recording order and event time normally
// agree, but they need not; the window's answer counts only when no event below the floor is
// newer than the last row it gave (one look along the time index). Otherwise, and when the
// window holds too few matching events, the window grows until it covers the whole log,
// which is then the plain selection.
#include "EventQuery.h"

#include <algorithm>

#include "JRXConversions.h"
#include "JRXLogDBLocal.h"
#include "store/LogTables.h"
#include "store/ValueEncodings.h"

namespace JRX {

namespace {

const long kNoUpperBound = 2147483647;
// A busy environment fills the first window; a quiet one takes a few steps to reach back.
const unsigned long long kFirstWindowPerRecord = 4;
const unsigned long long kSmallestWindow = 256;
const unsigned long long kWindowGrowth = 16;

std::vector<int> envIdsOf(ASSession* session, const JRXEID& eid) {
  env_log env;
  ASCursor c(session);
  c.Project() << env->id;
  c.Set(env->eid == guidToRDBMSGuid(eid));
  std::vector<int> ids;
  while (c.Fetch()) ids.push_back(static_cast<int>(env.id.Int()));
  return ids;
}

long long newestEventId(ASSession* session) {
  events_log ev;
  ASCursor c(session);
  c.Project() << ev->event_id;
  c.Order(-ev->event_id).Limit(1);
  return c.Fetch() ? ev.event_id.AsInt64() : 0;
}

// Is an event recorded at or below `floor` newer than `time` (and inside the upper bound)?
bool olderRecordIsNewer(ASSession* session, long long floor, int time, const EventFilter& f) {
  events_log ev;
  ASCursor c(session);
  c.Project() << ev->event_id;
  ASComparison cond = ev->time > time && ev->event_id <= floor;
  if (f.toTime != kNoUpperBound) cond = cond && ev->time < logdb::timeToSql(f.toTime);
  c.Set(cond);
  // Ordered along the time index, so that the look stops at the first older record found
  // and otherwise reads only the events newer than `time`.
  c.Order(ev->time).Limit(1);
  return c.Fetch() != 0;
}

// The matching events recorded above `floor` (all of them when floor < 0), newest first;
// at most `want` of them are appended to `rows`.
void selectWindow(ASSession* session, const EventFilter& f, const std::vector<int>* envIds,
                  long long floor, size_t want, std::vector<JRXEvent>& rows) {
  env_log env;
  events_log ev;
  events_log_env link;
  ASCursor c(session);
  c.Project() << env->eid << ev->time << ev->category << ev->type << ev->sid << ev->info_bin
              << ev->guid << ev->code << link->env_id;
  if (f.withData) c.Project() << ev->data;

  ASComparison cond(emptyStr(), nullptr, nullptr);
  cond = cond && ev->event_id == link->event_id && link->env_id == env->id;
  cond = cond && link->role == (f.asSource ? "S" : "O");
  if (f.eid.isValid()) {
    cond = cond && env->eid == guidToRDBMSGuid(f.eid);
    // The identifiers as values let the database range-scan the link index per environment
    // instead of reading every link of the environment it found through the join.
    ASComparison anyOf;
    for (int id : *envIds) anyOf = anyOf || link->env_id == id;
    cond = cond && anyOf;
  }
  if (!f.category.empty()) cond = cond && ev->category == f.category;
  if (!f.type.empty()) cond = cond && ev->type == f.type;
  if (f.fromTime != 0) cond = cond && ev->time > logdb::timeToSql(f.fromTime);
  if (f.toTime != kNoUpperBound) cond = cond && ev->time < logdb::timeToSql(f.toTime);
  if (floor >= 0) cond = cond && ev->event_id > floor && link->event_id > floor;
  c.Order(-ev->time).Limit(f.recordsLimit, 0);
  c.Set(cond);

  size_t taken = 0;
  while (taken < want && c.Fetch()) {
    rows.push_back(JRXEvent("agent"));
    ++taken;
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
  const size_t want = f.recordsLimit - out->size();

  const long long newest = newestEventId(session);
  unsigned long long window = std::max<unsigned long long>(
      kSmallestWindow, kFirstWindowPerRecord * static_cast<unsigned long long>(f.recordsLimit));
  for (;;) {
    const long long floor = static_cast<unsigned long long>(newest) > window
                                ? newest - static_cast<long long>(window)
                                : -1;
    // Appended to the caller's vector as they are read, so that a failure part-way leaves
    // there what was read before it; a window that does not count is taken back.
    const size_t before = out->size();
    selectWindow(session, f, &envIds, floor, want, *out);
    const bool whole = floor < 0;
    if (whole || (out->size() - before == want &&
                  !olderRecordIsNewer(session, floor, logdb::timeToSql(out->back().time), f)))
      return;
    out->erase(out->begin() + static_cast<std::ptrdiff_t>(before), out->end());
    window *= kWindowGrowth;
  }
}

}  // namespace JRX
