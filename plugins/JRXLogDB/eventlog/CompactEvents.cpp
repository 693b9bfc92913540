#include "EventSteps.h"
#include "JRXLogDBLocal.h"
#include "store/LogTables.h"

namespace JRX {

int JRXEventLogLocal::compact(int keep) {
  try {
    JRXRdbmsTran tran;
    events_log ev;
    int threshold;
    {
      // Age is the order of insertion, not the events' own time: a late event counts as new.
      ASCursor c(*tran);
      c.Project() << ev->event_id;
      c.Order(-ev->event_id).Limit(1, static_cast<unsigned int>(keep));
      if (!c.Fetch()) return 0;
      threshold = static_cast<int>(ev.event_id.Int());
    }
    ASDeleter(ev).Where(ev->event_id <= threshold).Execute(*tran);
    tran.commit();
    return 0;
  } catch (const AException& e) {
    JRX_EVENTLOG_LOGGER("compact").put(1, "Events compact failed.");
    return onRdbmsError(e);
  }
}

}  // namespace JRX
