#include "EventSteps.h"
#include "store/LogTables.h"

namespace JRX {

int dropFailedLogin(JRXRdbmsTran& tran, int event_id) {
  events_log ev;
  ASDeleter(ev).Where(ev->event_id == event_id).Execute(*tran);
  JRX_EVENTLOG_LOGGER("dropFailedLogin").put(4, "events about a login failure are dropped");
  return 0;
}

int dropIfNoTasks(JRXRdbmsTran& tran, const char* session) {
  {
    op_log op;
    ASCursor c(*tran);
    c.Project() << op->op_id;
    c.Set(op->session_id == session);
    c.Limit(1);
    if (c.Fetch()) return 0;
  }
  // The detail rows of the dropped events stay; only the events themselves go.
  events_log_audit audit;
  ASFilter audited;
  audited.Project() << audit->event_id;
  audited.Set(audit->session_id == session);
  events_log ev;
  ASDeleter(ev).Where(ev->event_id.In(audited.Select())).Execute(*tran);
  return 1;
}

}  // namespace JRX
