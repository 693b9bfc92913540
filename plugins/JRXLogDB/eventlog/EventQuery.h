// The selection behind getEvents: which events concern an environment, newest first.
#pragma once

#include <string>
#include <vector>

#include "JRXGUID.h"
#include "JRXRdbms.h"
#include "JRXRecords.h"

namespace JRX {

struct EventFilter {
  JRXEID eid;  // invalid: any environment
  bool asSource = true;
  unsigned int recordsLimit = 0;
  std::string category;  // empty: any
  std::string type;      // empty: any
  bool withData = false;
  long fromTime = 0;           // 0: no lower bound
  long toTime = 2147483647;    // 2147483647: no upper bound
};

// Appends the newest matching events to `out` until it holds recordsLimit elements.
void selectEvents(JRXRdbmsTran& tran, const EventFilter& filter, std::vector<JRXEvent>* out);

}  // namespace JRX
