// The filters of the `ops` and `events` listings and the service calls they make, read from
// any source of named option texts: the command line, or the query of a web request. Both
// read them here so that the same text means the same filter wherever it is given.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "JRXLogDBLocal.h"
#include "JRXRecords.h"

namespace jrxlog {

// Named option texts. `flag` is a switch that is either present or not; sources that can
// spell "off" (a query's "active=0") say so there.
class OptionSource {
 public:
  virtual ~OptionSource() = default;
  virtual bool has(const std::string& name) const = 0;
  virtual std::string value(const std::string& name) const = 0;
  virtual bool flag(const std::string& name) const { return has(name); }
};

// As constructed: no filter (the services' own "no filter" values). Time bounds include
// their own second, as the help says.
struct OpsQuery {
  JRX::JRXEID eid = JRX::JRXEID::EID_INVALID;
  std::string name, id, parent;
  bool firstOnly = false;
  bool active = false;
  // A caller that names a limit wants the newest operations first, as of getOps.
  bool newestFirst = false;
  unsigned int limit = 1000;  // records: getOps' own cap unless asked for more
  long from = 0;
  long to = 2147483647L;
};

struct EventsQuery {
  JRX::JRXEID eid = JRX::JRXEID::EID_INVALID;
  bool bySource = true;
  unsigned int limit = 6000;  // the listing's default: a bound on a large log
  std::string category, type;
  bool withData = false;
  long from = 0;
  long to = 2147483647L;
};

// Where a listing stopped: the place of its last record (none before the first), and a
// hash of the listing's filters and order, so that it continues only the same listing.
struct ListingCursor {
  bool placed = false;
  JRX::JRXListingPlace place;
  uint64_t filters = 0;
};

// The names each listing reads (its output options are the caller's own).
extern const std::vector<std::string> kOpsFilters;
extern const std::vector<std::string> kEventsFilters;

// Throw UsageError naming the option whose text is wrong. Unset options mean "no filter".
OpsQuery opsQuery(const OptionSource& options);
EventsQuery eventsQuery(const OptionSource& options);

// Single options shared with other commands.
JRX::JRXEID eidOption(const OptionSource& options);
long timeOption(const OptionSource& options, const char* name, long fallback);

// The cursor at the start of a listing, and its text: "ops:HASH[:TIME:ID:REPORT]",
// "events:HASH[:TIME:ID]". Reading a text throws UsageError unless it is a cursor of the
// listing whose start is `start`.
ListingCursor startOf(const OpsQuery& q);
ListingCursor startOf(const EventsQuery& q);
std::string cursorText(const char* listing, const ListingCursor& cursor);
ListingCursor readCursor(const char* listing, const ListingCursor& start, const std::string& text);
// Whether place `a` comes after place `b` in the order the listing gives its records.
bool comesAfter(const OpsQuery& q, const JRX::JRXListingPlace& a, const JRX::JRXListingPlace& b);
bool comesAfter(const EventsQuery& q, const JRX::JRXListingPlace& a,
                const JRX::JRXListingPlace& b);
// A follower's cursor: "ops~:HASH:STATE" (Follow.h), for the listing whose start is `start`.
bool isFollowCursor(const char* listing, const std::string& text);
std::string followCursorText(const char* listing, const ListingCursor& start,
                             const std::string& state);
// The state part of a follower's cursor; throws UsageError as readCursor does.
std::string readFollowCursor(const char* listing, const ListingCursor& start,
                             const std::string& text);

// Records one call of the operation log gives at most: getOps' own cap.
const size_t kMostOpsPerCall = 1000;

// The listing after `cursor`, up to the query's limit, handed to `each` in parts of at most
// `part` records as they are read, each part one call of the log that goes on exactly where
// the previous one ended; returns the cursor after the last record. A refusal throws
// ServiceFailure.
using OpsPart = std::function<void(const std::vector<JRX::JRXRequestProgressData>&,
                                   const std::vector<JRX::JRXListingPlace>&)>;
using EventsPart = std::function<void(const std::vector<JRX::JRXEvent>&,
                                      const std::vector<JRX::JRXListingPlace>&)>;
ListingCursor listOps(const OpsQuery& q, const ListingCursor& cursor, size_t part,
                      const OpsPart& each);
ListingCursor listEvents(const EventsQuery& q, const ListingCursor& cursor, size_t part,
                         const EventsPart& each);
// Where the listing after `cursor` ends, up to the query's limit: the cursor after its last
// record, found without reading the records themselves; `records` gets how many it holds.
ListingCursor endOf(const OpsQuery& q, const ListingCursor& cursor, size_t& records);
ListingCursor endOf(const EventsQuery& q, const ListingCursor& cursor, size_t& records);
// The whole listing at once (from the start).
std::vector<JRX::JRXRequestProgressData> fetchOps(const OpsQuery& q);

}  // namespace jrxlog
