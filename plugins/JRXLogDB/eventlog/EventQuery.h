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
// their places to `places` when not null.
void selectEvents(JRXRdbmsTran& tran, const EventFilter& filter, std::vector<JRXEvent>* out,
                  std::vector<JRXListingPlace>* places = nullptr);

}  // namespace JRX
