#include "ListingQueries.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

#include <boost/algorithm/string.hpp>

#include "ASHex.h"
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
  q.newestFirst = o.has("limit");
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

namespace {

// FNV-1a over the filters, each field preceded by its length, so that no two different sets
// of filters hash the same bytes.
class FilterHash {
 public:
  FilterHash& operator<<(const std::string& text) {
    add(std::to_string(text.size()));
    add(":");
    add(text);
    return *this;
  }
  FilterHash& operator<<(long long n) { return *this << std::to_string(n); }
  uint64_t value() const { return h_; }

 private:
  void add(const std::string& bytes) {
    for (unsigned char c : bytes) {
      h_ ^= c;
      h_ *= 1099511628211ULL;
    }
  }
  uint64_t h_ = 14695981039346656037ULL;
};

std::string hex16(uint64_t v) { return ASHexNumber(v, 16); }

std::string eidText(const JRX::JRXEID& eid) { return eid.isValid() ? eid.toString() : ""; }

[[noreturn]] void foreignCursor(const char* listing) {
  throw UsageError(std::string("--after: not a cursor of this listing: a cursor continues only "
                               "the ") +
                   listing +
                   " listing with the filters (and, for ops, the presence of --limit) it was "
                   "made with");
}

}  // namespace

ListingCursor startOf(const OpsQuery& q) {
  ListingCursor c;
  FilterHash h;
  h << "ops" << eidText(q.eid) << q.name << q.id << q.parent << q.firstOnly << q.active
    << q.newestFirst << q.from << q.to;
  c.filters = h.value();
  return c;
}

ListingCursor startOf(const EventsQuery& q) {
  ListingCursor c;
  FilterHash h;
  h << "events" << eidText(q.eid) << q.bySource << q.category << q.type << q.from << q.to;
  c.filters = h.value();
  return c;
}

std::string cursorText(const char* listing, const ListingCursor& c) {
  std::string text = std::string(listing) + ":" + hex16(c.filters);
  if (!c.placed) return text;
  text += ":" + std::to_string(c.place.time) + ":" + std::to_string(c.place.id);
  if (std::string(listing) == "ops") text += ":" + std::to_string(c.place.report);
  return text;
}

ListingCursor readCursor(const char* listing, const ListingCursor& start, const std::string& text) {
  std::vector<std::string> parts;
  boost::split(parts, text, boost::is_any_of(":"));
  const bool ops = std::string(listing) == "ops";
  const size_t placed = ops ? 5 : 4;
  if (parts[0] != listing || (parts.size() != 2 && parts.size() != placed))
    throw UsageError("--after: '" + text.substr(0, 80) + "' is not a cursor of jrxlog " +
                     listing);
  if (parts[1] != hex16(start.filters)) foreignCursor(listing);
  ListingCursor c = start;
  if (parts.size() == 2) return c;
  auto number = [&](const std::string& t, long long min, long long max) {
    return parseInteger("after", t, min, max);
  };
  c.placed = true;
  c.place.time = static_cast<long>(number(parts[2], 0, 2147483647LL));
  c.place.id = number(parts[3], 0, 9223372036854775807LL);
  if (ops) c.place.report = number(parts[4], 0, 9223372036854775807LL);
  return c;
}

bool comesAfter(const OpsQuery& q, const JRX::JRXListingPlace& a, const JRX::JRXListingPlace& b) {
  // Operations by time then key, in the listing's direction; an operation's reports by key.
  if (a.time != b.time || a.id != b.id)
    return q.newestFirst ? std::tie(a.time, a.id) < std::tie(b.time, b.id)
                         : std::tie(a.time, a.id) > std::tie(b.time, b.id);
  return a.report > b.report;
}

bool comesAfter(const EventsQuery&, const JRX::JRXListingPlace& a, const JRX::JRXListingPlace& b) {
  return std::tie(a.time, a.id) < std::tie(b.time, b.id);
}

bool isFollowCursor(const char* listing, const std::string& text) {
  return text.rfind(std::string(listing) + "~:", 0) == 0;
}

std::string followCursorText(const char* listing, const ListingCursor& start,
                             const std::string& state) {
  return std::string(listing) + "~:" + hex16(start.filters) + ":" + state;
}

std::string readFollowCursor(const char* listing, const ListingCursor& start,
                             const std::string& text) {
  const std::string head = std::string(listing) + "~:";
  if (!isFollowCursor(listing, text) || text.size() < head.size() + 18 ||
      text[head.size() + 16] != ':')
    throw UsageError("--after: '" + text.substr(0, 80) + "' is not a cursor of jrxlog " +
                     listing + " --follow");
  if (text.compare(head.size(), 16, hex16(start.filters)) != 0) foreignCursor(listing);
  return text.substr(head.size() + 17);
}

namespace {

const size_t kMostEventsPerCall = JRX::JRXEventLogLocal::kMaxEvents;

// Reads a listing in parts of at most `part` records after `cursor`, up to `limit` records in
// all, handing each part to `each`; `read(after, ask, records, places)` is one service call,
// which reads the places alone when `records` is null (so does this, without `withRecords`).
// Returns the cursor of the last record read.
template <class Record, class Read, class Each>
ListingCursor readInParts(const ListingCursor& cursor, size_t limit, size_t part,
                          bool withRecords, Read read, const Each& each) {
  ListingCursor at = cursor;
  size_t remaining = limit;
  // At least one call, which may refuse the caller.
  do {
    const size_t ask = std::min(remaining, part);
    std::vector<Record> records;
    std::vector<JRX::JRXListingPlace> places;
    read(at.placed ? &at.place : nullptr, static_cast<unsigned int>(ask),
         withRecords ? &records : nullptr, places);
    if (places.empty()) break;
    at.placed = true;
    at.place = places.back();
    remaining -= places.size();
    each(records, places);
    if (places.size() < ask) break;  // the log had no more
  } while (remaining > 0);
  return at;
}

// One call of the log for the listing `q`.
auto opsReader(JRX::JRXOpLogLocal& log, const OpsQuery& q) {
  return [&log, &q](const JRX::JRXListingPlace* after, unsigned int ask,
                    std::vector<JRX::JRXRequestProgressData>* records,
                    std::vector<JRX::JRXListingPlace>& places) {
    check(log, log.getOpsAfter(records, &places, after, q.eid, q.name, q.id, q.parent,
                               q.firstOnly, q.active, ask, q.newestFirst, {q.from, q.to}));
  };
}

auto eventsReader(JRX::JRXEventLogLocal& log, const EventsQuery& q) {
  return [&log, &q](const JRX::JRXListingPlace* after, unsigned int ask,
                    std::vector<JRX::JRXEvent>* events, std::vector<JRX::JRXListingPlace>& places) {
    check(log, log.getEventsAfter(events, &places, after, q.eid, q.bySource, ask, q.category,
                                  q.type, q.withData, {q.from, q.to}));
  };
}

// Counts the records of each part into `records`.
struct PlacesCount {
  size_t& records;
  template <class Part>
  void operator()(const Part&, const std::vector<JRX::JRXListingPlace>& places) const {
    records += places.size();
  }
};

}  // namespace

ListingCursor listOps(const OpsQuery& q, const ListingCursor& cursor, size_t part,
                      const OpsPart& each) {
  JRX::JRXOpLogLocal log(accessProvider());
  return readInParts<JRX::JRXRequestProgressData>(cursor, q.limit, part, true,
                                                  opsReader(log, q), each);
}

ListingCursor listEvents(const EventsQuery& q, const ListingCursor& cursor, size_t part,
                         const EventsPart& each) {
  JRX::JRXEventLogLocal log(accessProvider());
  return readInParts<JRX::JRXEvent>(cursor, q.limit, part, true, eventsReader(log, q), each);
}

ListingCursor endOf(const OpsQuery& q, const ListingCursor& cursor, size_t& records) {
  JRX::JRXOpLogLocal log(accessProvider());
  records = 0;
  return readInParts<JRX::JRXRequestProgressData>(cursor, q.limit, kMostOpsPerCall, false,
                                                  opsReader(log, q), PlacesCount{records});
}

ListingCursor endOf(const EventsQuery& q, const ListingCursor& cursor, size_t& records) {
  JRX::JRXEventLogLocal log(accessProvider());
  records = 0;
  return readInParts<JRX::JRXEvent>(cursor, q.limit, kMostEventsPerCall, false,
                                    eventsReader(log, q), PlacesCount{records});
}

std::vector<JRX::JRXRequestProgressData> fetchOps(const OpsQuery& q) {
  std::vector<JRX::JRXRequestProgressData> records;
  listOps(q, startOf(q), kMostOpsPerCall,
          [&](const std::vector<JRX::JRXRequestProgressData>& part,
              const std::vector<JRX::JRXListingPlace>&) {
            records.insert(records.end(), part.begin(), part.end());
          });
  return records;
}

}  // namespace jrxlog
