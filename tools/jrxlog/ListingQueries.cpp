#include "ListingQueries.h"

#include <algorithm>
#include <set>

#include "JsonRecords.h"
#include "Options.h"
#include "Services.h"

namespace jrxlog {

namespace {

unsigned int limitOption(const OptionSource& o, unsigned int fallback) {
  if (!o.has("limit")) return fallback;
  return static_cast<unsigned int>(parseInteger("limit", o.value("limit"), 0, 4294967295LL));
}

}  // namespace

JRX::JRXEID eidOption(const OptionSource& o) {
  if (!o.has("eid")) return JRX::JRXEID::EID_INVALID;
  try {
    return parseGuid("eid", o.value("eid"));
  } catch (const RecordError& e) {
    throw UsageError(std::string("--eid: ") + e.what());
  }
}

long timeOption(const OptionSource& o, const char* name, long fallback) {
  if (!o.has(name)) return fallback;
  return static_cast<long>(parseTime(name, o.value(name)));
}

const std::vector<std::string> kOpsFilters = {"eid",    "name",  "id",   "parent", "first-only",
                                              "active", "limit", "from", "to"};
const std::vector<std::string> kEventsFilters = {"eid",  "operand",   "limit", "category",
                                                 "type", "with-data", "from",  "to"};

OpsQuery opsQuery(const OptionSource& o) {
  OpsQuery q;
  q.eid = eidOption(o);
  q.name = o.value("name");
  q.id = o.value("id");
  q.parent = o.value("parent");
  q.firstOnly = o.flag("first-only");
  q.active = o.flag("active");
  q.limit = limitOption(o, q.limit);
  q.from = timeOption(o, "from", q.from);
  q.to = timeOption(o, "to", q.to);
  return q;
}

EventsQuery eventsQuery(const OptionSource& o) {
  EventsQuery q;
  q.eid = eidOption(o);
  q.bySource = !o.flag("operand");
  q.limit = limitOption(o, q.limit);
  q.category = o.value("category");
  q.type = o.value("type");
  q.withData = o.flag("with-data");
  q.from = timeOption(o, "from", q.from);
  q.to = timeOption(o, "to", q.to);
  return q;
}

std::vector<JRX::JRXRequestProgressData> fetchOps(const OpsQuery& q) {
  JRX::JRXOpLogLocal log(accessProvider());
  std::vector<JRX::JRXRequestProgressData> records;
  check(log, log.getOps(&records, q.eid, q.name, q.id, q.parent, q.firstOnly, q.active, q.limit,
                        q.from, q.to));
  return records;
}

std::vector<JRX::JRXEvent> fetchEvents(const EventsQuery& q) {
  std::vector<JRX::JRXEvent> events;
  // One part holds a whole answer: a single call.
  fetchEventsInParts(q, JRX::JRXEventLogLocal::kMaxEvents,
                     [&](const std::vector<JRX::JRXEvent>& part) {
                       events.insert(events.end(), part.begin(), part.end());
                     });
  return events;
}

void fetchEventsInParts(const EventsQuery& q, size_t part,
                        const std::function<void(const std::vector<JRX::JRXEvent>&)>& each) {
  JRX::JRXEventLogLocal log(accessProvider());
  size_t remaining = std::min<size_t>(q.limit, JRX::JRXEventLogLocal::kMaxEvents);
  // A part ends inside a second that may hold further events, so the next part asks for
  // that second again and leaves out what was handed of it already: by GUID, not by count,
  // so that an event recorded into that second meanwhile is not lost for an old one.
  long edge = 0;
  std::multiset<std::string> handedAtEdge;
  long to = q.to;
  do {  // at least one call, which may refuse the caller
    const size_t ask = std::min(remaining, part) + handedAtEdge.size();
    std::vector<JRX::JRXEvent> got;
    check(log, log.getEvents(&got, q.eid, q.bySource, static_cast<unsigned int>(ask),
                             q.category, q.type, q.withData, q.from, to));
    std::multiset<std::string> skip = handedAtEdge;
    std::vector<JRX::JRXEvent> fresh;
    for (JRX::JRXEvent& e : got) {
      if (fresh.size() == remaining) break;
      const std::string guid = e.guid.toString();
      if (e.time == edge) {
        auto seen = skip.find(guid);
        if (seen != skip.end()) {
          skip.erase(seen);
          continue;
        }
      } else {
        edge = static_cast<long>(e.time);
        handedAtEdge.clear();
      }
      handedAtEdge.insert(guid);
      fresh.push_back(std::move(e));
    }
    remaining -= fresh.size();
    if (!fresh.empty()) each(fresh);
    if (got.size() < ask) return;  // the service had no more
    to = edge + 1;
  } while (remaining > 0);
}

}  // namespace jrxlog
