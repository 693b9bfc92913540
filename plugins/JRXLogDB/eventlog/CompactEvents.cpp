#include "EventSteps.h"
#include "JRXLogDBLocal.h"
#include "store/CompactionRules.h"
#include "store/LogTables.h"

namespace JRX {

int JRXEventLogLocal::compact(int keep) {
  try {
    JRXRdbmsTran tran;
    events_log ev;
    long long threshold;
    if (!compactedEventsThrough(*tran, keep, threshold)) return 0;
    ASDeleter(ev).Where(ev->event_id <= threshold).Execute(*tran);
    tran.commit();
    return 0;
  } catch (const AException& e) {
    JRX_EVENTLOG_LOGGER("compact").put(1, "Events compact failed.");
    return onRdbmsError(e);
  }
}

}  // namespace JRX
