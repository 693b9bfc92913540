// The steps of recording one event and the rules that drop worthless audit events. They run
// inside the saving transaction and never commit; query failures travel as AException.
#pragma once

#include "JRXLog.h"
#include "JRXRdbms.h"
#include "JRXRecords.h"

// Every record of the plug-in names the same category and source, whichever file writes it.
#define JRX_EVENTLOG_LOGGER(function)                                                    \
  ::JRX::Log2("JRXLogDBLocal", "plugins/JRXLogDB/JRXLogDBLocal", __LINE__, function, \
              __PRETTY_FUNCTION__)

namespace JRX {

// Links the source environment ("S") and the one named by "env" ("O"); -1 without a source.
int logEventEnvs(JRXRdbmsTran& tran, int event_id, const JRXEvent& event);
// The resource named by the parameters "id" and "type", when either is there.
void logAlertInfoIfExists(const JRXRdbmsTran& tran, int event_id, const JRXEvent& event);
// The status change of an "env_status" event; -1 when one of its four numbers is missing.
int logStatusChange(JRXRdbmsTran& tran, int event_id, const JRXEvent& event);
// The audit row, unless a drop rule decides the event is worthless.
int logAudit(JRXRdbmsTran& tran, int event_id, const JRXEvent& event);

// Removes the event being saved; always 0.
int dropFailedLogin(JRXRdbmsTran& tran, int event_id);
// 1 (and the session's audit-recorded events deleted) when the session ran no operation.
int dropIfNoTasks(JRXRdbmsTran& tran, const char* session);

}  // namespace JRX
