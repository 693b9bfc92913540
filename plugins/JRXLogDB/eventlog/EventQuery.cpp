// Events of one environment, newest first, at a cost that does not grow with the log: the
// steps of store/TimeSteps.h over events_log and its links. The rows and their order are
// those of the plain selection (time descending, then the event's key descending). The
// statements fix their join order and indexes through plan hints, so that neither database
// can drift to a plan that reads the log.
//
// A category or a type has an index of its own, led by it and then ordered as the time
// index: a walk along it reads only the events of that category or type, so a filter that
// keeps few events, or none, costs what it keeps instead of the whole log. With both, the
// walk takes the one that reaches farther back for the same number of rows.
#include "EventQuery.h"

#include "JRXConversions.h"
#include "JRXLogDBLocal.h"
#include "store/LogTables.h"
#include "store/TimeSteps.h"
#include "store/ValueEncodings.h"

namespace JRX {

namespace {

ASComparison linkCondition(events_log_env& link, const EventFilter& f,
                           const std::vector<int>& envIds) {
  ASComparison cond = link->role == (f.asSource ? "S" : "O");
  if (f.eid.isValid()) cond = cond && logdb::anyOf(link->env_id, envIds);
  return cond;
}

// The matching events joined to their environment: the conditions both selections share,
// and each fetched row made a record and its place. Without records, only places are read.
struct EventRows {
  env_log env;
  events_log ev;
  events_log_env link;
  ASCursor c;
  ASComparison cond;

  EventRows(ASSession* session, const EventFilter& f, const std::vector<int>& envIds,
            bool records, bool keys)
      : c(session) {
    c.Project() << ev->time;
    if (records)
      c.Project() << env->eid << ev->category << ev->type << ev->sid << ev->info_bin << ev->guid
                  << ev->code << link->env_id;
    if (records && f.withData) c.Project() << ev->data;
    if (keys) c.Project() << ev->event_id;
    cond = ev->event_id == link->event_id && link->env_id == env->id;
    cond = cond && linkCondition(link, f, envIds);
    if (f.eid.isValid()) cond = cond && env->eid == guidToRDBMSGuid(f.eid);
    if (!f.category.empty()) cond = cond && ev->category == f.category;
    if (!f.type.empty()) cond = cond && ev->type == f.type;
  }

  void append(const EventFilter& f, std::vector<JRXEvent>* rows,
              std::vector<JRXListingPlace>* places) {
    if (rows) {
      rows->push_back(JRXEvent("agent"));
      JRXEvent& e = rows->back();
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
    if (places) {
      JRXListingPlace place;
      place.time = static_cast<long>(logdb::sqlToTime(ev.time));
      place.id = ev.event_id.Int();
      places->push_back(place);
    }
  }
};

// How many events a selection has listed: its records, or without them its places.
size_t listed(const std::vector<JRXEvent>* out, const std::vector<JRXListingPlace>* places) {
  return out ? out->size() : places->size();
}

// Appends to `rows` the newest matching events of the step, until `limit` are listed.
void selectStep(ASSession* session, const EventFilter& f, const std::vector<int>& envIds,
                const char* walkIndex, const logdb::TimeStep& step, size_t limit,
                std::vector<JRXEvent>* rows, std::vector<JRXListingPlace>* places) {
  const size_t want = limit - listed(rows, places);
  EventRows r(session, f, envIds, rows != nullptr, places != nullptr);
  events_log& ev = r.ev;
  ASComparison cond = r.cond && step.on(ev->time);
  if (f.after) {
    // The range already ends at the place's second; within it, the events before it by key.
    cond = cond && (ev->time < logdb::timeToSql(f.after->time) || ev->event_id < f.after->id);
  }
  ASCursor& c = r.c;
  c.Set(cond);
  // Ties of time by key, so that a listing can be continued from any of its events.
  c.Order(-ev->time).Order(-ev->event_id).Limit(want, 0);
  c.PageRows(want);
  if (step.walk) {
    c.JoinOrder({&ev, &r.link, &r.env}).UseIndex(ev, walkIndex);
    c.UseIndex(r.link, "events_log_env_link");
  } else {
    c.JoinOrder({&r.link, &ev, &r.env}).UseIndex(r.link, "events_log_env_role");
  }
  while (listed(rows, places) < limit && c.Fetch()) r.append(f, rows, places);
}

// The index a walk goes along, and the equality that leads it (none for the time index).
struct EventWalk {
  const char* index = "events_log_time";
  enum Column { TIME, CATEGORY, TYPE } column = TIME;

  ASComparison lead(events_log& ev, const EventFilter& f) const {
    if (column == CATEGORY) return ev->category == f.category;
    if (column == TYPE) return ev->type == f.type;
    return ASComparison();
  }
};

EventWalk walkFor(EventWalk::Column column) {
  EventWalk w;
  w.column = column;
  if (column == EventWalk::CATEGORY) w.index = "events_log_category";
  if (column == EventWalk::TYPE) w.index = "events_log_type";
  return w;
}

logdb::TimeSteps::TimeAtDepth depthAlong(ASSession* session, const EventFilter& f, EventWalk walk) {
  return [session, &f, walk](const logdb::TimeRange& range, unsigned long long budget,
                             int& time) {
    events_log ev;
    return logdb::timeAtDepth(session, ev->time, walk.index, range, true, budget, time,
                              walk.lead(ev, f));
  };
}

EventWalk chooseWalk(ASSession* session, const EventFilter& f, const logdb::TimeRange& range,
                     size_t wanted) {
  std::vector<EventWalk> walks;
  if (!f.category.empty()) walks.push_back(walkFor(EventWalk::CATEGORY));
  if (!f.type.empty()) walks.push_back(walkFor(EventWalk::TYPE));
  if (walks.empty()) return EventWalk();
  std::vector<logdb::TimeSteps::TimeAtDepth> probes;
  for (const EventWalk& w : walks) probes.push_back(depthAlong(session, f, w));
  return walks[logdb::mostSelective(probes, range, true, logdb::firstBudget(wanted))];
}

}  // namespace

void selectEvents(JRXRdbmsTran& tran, const EventFilter& f, std::vector<JRXEvent>* out,
                  std::vector<JRXListingPlace>* places) {
  ASSession* session = *tran;
  std::vector<int> envIds;
  if (f.eid.isValid()) {
    envIds = logdb::envIdsOf(session, f.eid);
    if (envIds.empty()) return;  // never linked to anything
  }
  const size_t limit = f.recordsLimit;
  if (listed(out, places) >= limit) return;

  // Every source link of the whole log is no shortcut: without an environment, events are
  // found by their source along the time index only.
  logdb::TimeSteps::LinksReach linksReach;
  if (f.eid.isValid() || !f.asSource)
    linksReach = [&](unsigned long long budget) {
      events_log_env link;
      return logdb::rowsReach(session, link->event_id, linkCondition(link, f, envIds),
                              "events_log_env_role", budget);
    };
  const logdb::TimeRange range = f.after ? logdb::rangeFrom(f.range, f.after->time, true) : f.range;
  const EventWalk walk = chooseWalk(session, f, range, limit);
  logdb::TimeSteps steps(linksReach, depthAlong(session, f, walk), true, range, limit);
  logdb::TimeStep step;
  while (listed(out, places) < limit && steps.next(step))
    selectStep(session, f, envIds, walk.index, step, limit, out, places);
}

void selectStoredEvents(JRXRdbmsTran& tran, const EventFilter& f,
                        const std::vector<JRXKeyRange>& ranges,
                        unsigned int limit, std::vector<long long>& stored,
                        std::vector<JRXEvent>* out, std::vector<JRXListingPlace>* places) {
  ASSession* session = *tran;
  {
    events_log keys;
    ASCursor c(session);
    c.Project() << keys->event_id;
    c.Set(logdb::inRanges(keys->event_id, ranges));
    c.Order(ASOrder(keys->event_id)).Limit(limit, 0);
    c.PageRows(limit);
    while (c.Fetch()) stored.push_back(keys.event_id.Int());
  }
  if (stored.empty()) return;
  std::vector<int> envIds;
  if (f.eid.isValid()) {
    envIds = logdb::envIdsOf(session, f.eid);
    if (envIds.empty()) return;
  }
  EventRows r(session, f, envIds, true, true);
  events_log& ev = r.ev;
  logdb::TimeStep within;
  within.range = f.range;
  r.c.Set(r.cond && logdb::inRanges(ev->event_id, ranges) && ev->event_id <= stored.back() &&
          within.on(ev->time));
  r.c.Order(ASOrder(ev->event_id));
  // The few events of the key range by their key, each one's links probed.
  r.c.JoinOrder({&ev, &r.link, &r.env}).UseIndex(r.link, "events_log_env_link");
  while (r.c.Fetch()) r.append(f, out, places);
}

void newestEventKeys(JRXRdbmsTran& tran, unsigned int count, std::vector<long long>& keys) {
  events_log ev;
  ASCursor c(*tran);
  c.Project() << ev->event_id;
  c.Order(-ev->event_id).Limit(count, 0);
  c.PageRows(count);
  while (c.Fetch()) keys.insert(keys.begin(), ev.event_id.Int());
}

}  // namespace JRX
