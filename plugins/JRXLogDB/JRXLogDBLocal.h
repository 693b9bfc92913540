// The database-backed operation log and event log services, and the operation-log observer
// factory.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ASQuery.h"
#include "JRXRequest.h"
#include "JRXVisibility.h"

JRX_PUBLIC_BEGIN

namespace JRX {

// A record's place in the total order of a listing of getOpsAfter or getEventsAfter. A
// listing given a place goes on strictly after it: ties of time are ordered by the row keys,
// so a second holding any number of records is crossed exactly, and the cost of a part is
// that of the records it skips in the place's own second, not of the log behind it.
struct JRXListingPlace {
  // An operation listed as one record (first report only, or none stored): nothing of it is
  // left to list after this place.
  static const long long kWholeOperation = 9223372036854775807LL;
  long time = 0;          // the operation's time (its first report's) or the event's
  long long id = 0;       // the operation's or the event's row key
  long long report = 0;   // the report's row key within its operation (operations only)
};

// Keys from `first` to `last`, both included.
struct JRXKeyRange {
  long long first = 0;
  long long last = 9223372036854775807LL;
};

// Inclusive time bounds of a listing (the services' own bounds are exclusive).
struct JRXTimeBounds {
  long from = 0;
  long to = 2147483647;
};

class JRXOpLogLocal : public JRXRequestModificatorLocal<JRXOpLog>, public virtual JRXOpLog {
 public:
  explicit JRXOpLogLocal(intrusive_ptr<JRXAccessProviderPrototype> provider);
  ~JRXOpLogLocal() override;

  int getOps(std::vector<JRXRequestProgressData>* result, const JRXEID& eid,
             const std::string& opName, const std::string& opId, const std::string& opParentId,
             bool firstOnly, bool activeOnly, unsigned int limit, long fromTime,
             long toTime) override;
  int putOps(const std::vector<JRXRequestProgressData>& records) override;
  // getOps for readers that go on where they stopped: the same rights and records, up to
  // `limit` of them (at most getOps' own cap), in the order given by `newestFirst`, within
  // inclusive bounds, after `after` when not null; `places` receives each record's place.
  // With `places`, records say what the reports said: the executing environment (`eid`) is
  // filled, and operands only the reports named (not the local environment standing in).
  // Without `result`, only the places are read: where a listing ends, without reading or
  // answering its records.
  int getOpsAfter(std::vector<JRXRequestProgressData>* result,
                  std::vector<JRXListingPlace>* places, const JRXListingPlace* after,
                  const JRXEID& eid, const std::string& opName, const std::string& opId,
                  const std::string& opParentId, bool firstOnly, bool activeOnly,
                  unsigned int limit, bool newestFirst, const JRXTimeBounds& bounds);
  // For readers that follow the log as reports are stored: `stored` gets the keys of up to
  // `limit` reports stored with keys in `ranges`, whatever they belong to, in key order;
  // `result` and `places` the reports among them of the matching operations, as getOpsAfter
  // gives them.
  int getOpsStored(std::vector<JRXRequestProgressData>* result,
                   std::vector<JRXListingPlace>* places, std::vector<long long>* stored,
                   const std::vector<JRXKeyRange>& ranges, unsigned int limit, const JRXEID& eid,
                   const std::string& opName, const std::string& opId,
                   const std::string& opParentId, bool activeOnly, const JRXTimeBounds& bounds);
  // The `count` newest report keys, oldest first.
  int getNewestKeys(std::vector<long long>* keys, unsigned int count);

  int saveProgress(const JRXRequestProgressData& record);
  int finishOps();
  int getUnfinishedOpIds(std::vector<std::string>& ids, long& lastTime, const JRXEID& eid);
  // Ends the current command; a failure with a message becomes the context's last error.
  int endCommand(const JRXRequestErrorData& error);

  static int compact(int age);
};

class JRXEventLogLocal : public JRXRequestModificatorLocal<JRXEventLog>,
                         public virtual JRXEventLog {
 public:
  explicit JRXEventLogLocal(intrusive_ptr<JRXAccessProviderPrototype> provider);
  ~JRXEventLogLocal() override;

  int getEvents(std::vector<JRXEvent>* result, const JRXEID& eid, bool asSource,
                unsigned int limit, const std::string& category, const std::string& type,
                bool withData, long fromTime, long toTime) override;
  int saveEvent(const JRXEvent& event);
  // getEvents going on after a place (see getOpsAfter); newest first, inclusive bounds;
  // without `result`, the places alone.
  int getEventsAfter(std::vector<JRXEvent>* result, std::vector<JRXListingPlace>* places,
                     const JRXListingPlace* after, const JRXEID& eid, bool asSource,
                     unsigned int limit, const std::string& category, const std::string& type,
                     bool withData, const JRXTimeBounds& bounds);
  // getOpsStored for events: the keys of up to `limit` events stored with keys in `ranges`
  // and the matching ones among them, in key order.
  int getEventsStored(std::vector<JRXEvent>* result, std::vector<JRXListingPlace>* places,
                      std::vector<long long>* stored, const std::vector<JRXKeyRange>& ranges,
                      unsigned int limit,
                      const JRXEID& eid, bool asSource, const std::string& category,
                      const std::string& type, bool withData, const JRXTimeBounds& bounds);
  // The `count` newest event keys, oldest first.
  int getNewestKeys(std::vector<long long>* keys, unsigned int count);

  static int compact(int keep);
  // The most events one getEvents answer holds, whatever limit it is given.
  static const unsigned int kMaxEvents = 6000;
};

// The smaller of the two counts.
unsigned int getRecordsLimit(unsigned int a, unsigned int b);

// The process-wide empty string; with two null domains it makes the empty condition.
const Str& emptyStr();

// Creates the tables of both logs when missing, on the calling thread's connection.
void createLogTables();

// The tables of both logs, in the order they are created: the one list that creating them and
// copying a whole log (jrxlog copy) go by, so a table missing from it (store/LogTables.cpp) is
// neither made nor copied.
std::vector<std::unique_ptr<ASDomain>> logTables();

}  // namespace JRX

JRX_PUBLIC_END
