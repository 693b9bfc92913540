// Events per hour by type over a time range, for the web view's chart: counted in the
// database along the index the events listing walks, at a bounded cost whatever the log's
// size. At most `rows` events of the range are read, newest first; a range that holds more
// is counted from its end back to where they reach, and the answer says so.
#pragma once

#include <map>
#include <string>

#include "ListingQueries.h"

namespace jrxlog {

struct HourCounts {
  std::map<long, std::map<std::string, long long>> byHour;  // hour's first second -> type -> events
  long long counted = 0;
  // The counts hold every event of the range from `since` on; `since` is the range's start
  // unless the range held more than the rows read.
  long since = 0;
  bool complete = true;
};

// The events the listing `q` gives (its environment, role, category, type and time bounds;
// not its limit), counted by the hour of their time.
HourCounts countEventsByHour(const EventsQuery& q, unsigned long long rows);

}  // namespace jrxlog
