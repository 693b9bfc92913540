// The selection behind getEvents: which events concern an environment, newest first.
#pragma once

#include <string>
#include <vector>

#include "JRXGUID.h"
#include "JRXLogDBLocal.h"
#include "JRXRdbms.h"
#include "JRXRecords.h"
#include "store/TimeSteps.h"

namespace JRX {

struct EventFilter {
  JRXEID eid;  // invalid: any environment
  bool asSource = true;
  unsigned int recordsLimit = 0;
  std::string category;  // empty: any
  std::string type;      // empty: any
  bool withData = false;
  logdb::TimeRange range;      // default: no bounds
  const JRXListingPlace* after = nullptr;  // only the events after this place
};

// Appends the newest matching events to `out` until it holds recordsLimit elements, and
// their places to `places` when not null; without `out`, the places alone until `places`
// holds recordsLimit.
void selectEvents(JRXRdbmsTran& tran, const EventFilter& filter, std::vector<JRXEvent>* out,
                  std::vector<JRXListingPlace>* places = nullptr);

// For a reader that follows the log: the keys of up to `limit` events stored with keys in
// `ranges` (whatever the filter) to `stored`, in key order, and the matching ones among
// them to `out` and `places`, in key order. The time range of the filter applies; `after`
// and `recordsLimit` do not.
void selectStoredEvents(JRXRdbmsTran& tran, const EventFilter& filter,
                        const std::vector<JRXKeyRange>& ranges,
                        unsigned int limit, std::vector<long long>& stored,
                        std::vector<JRXEvent>* out, std::vector<JRXListingPlace>* places);
// The `count` newest keys of the event log, oldest first.
void newestEventKeys(JRXRdbmsTran& tran, unsigned int count, std::vector<long long>& keys);

}  // namespace JRX
