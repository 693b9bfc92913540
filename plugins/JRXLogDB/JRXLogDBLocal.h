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

class JRXOpLogLocal : public JRXRequestModificatorLocal<JRXOpLog>, public virtual JRXOpLog {
 public:
  explicit JRXOpLogLocal(intrusive_ptr<JRXAccessProviderPrototype> provider);
  ~JRXOpLogLocal() override;

  int getOps(std::vector<JRXRequestProgressData>* result, const JRXEID& eid,
             const std::string& opName, const std::string& opId, const std::string& opParentId,
             bool firstOnly, bool activeOnly, unsigned int limit, long fromTime,
             long toTime) override;
  int putOps(const std::vector<JRXRequestProgressData>& records) override;

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
