// The filters of the `ops` and `events` listings and the service calls they make, read from
// any source of named option texts: the command line, or the query of a web request. Both
// read them here so that the same text means the same filter wherever it is given.
#pragma once

#include <functional>
#include <string>
#include <vector>

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

// As constructed: no filter (the services' own "no filter" values).
struct OpsQuery {
  JRX::JRXEID eid = JRX::JRXEID::EID_INVALID;
  std::string name, id, parent;
  bool firstOnly = false;
  bool active = false;
  unsigned int limit = 2147483647u;
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

// The names each listing reads (its output options are the caller's own).
extern const std::vector<std::string> kOpsFilters;
extern const std::vector<std::string> kEventsFilters;

// Throw UsageError naming the option whose text is wrong. Unset options mean "no filter".
OpsQuery opsQuery(const OptionSource& options);
EventsQuery eventsQuery(const OptionSource& options);

// Single options shared with other commands.
JRX::JRXEID eidOption(const OptionSource& options);
long timeOption(const OptionSource& options, const char* name, long fallback);

// The services' answers; a refusal throws ServiceFailure.
std::vector<JRX::JRXRequestProgressData> fetchOps(const OpsQuery& q);
std::vector<JRX::JRXEvent> fetchEvents(const EventsQuery& q);
// The answer of fetchEvents in parts of about `part` events, each handed to `each` as soon as
// it is read, so that a long listing is never held whole: each part is a call of the service
// that continues where the previous one ended. Together the parts are the one call's answer.
void fetchEventsInParts(const EventsQuery& q, size_t part,
                        const std::function<void(const std::vector<JRX::JRXEvent>&)>& each);

}  // namespace jrxlog
