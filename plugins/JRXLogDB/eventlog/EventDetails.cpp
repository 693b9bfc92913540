#include <cstdlib>
#include <string>

#include <boost/shared_ptr.hpp>

#include "EventSteps.h"
#include "JRXConversions.h"
#include "store/LogTables.h"
#include "store/LogsEnvInfo.h"

namespace JRX {

namespace {
// The record names the function by its full signature, spelled the way readers of the log
// know it, whatever the compiler would print.
const char kLogAuditSignature[] = "int JRX::logAudit(JRX::JRXRdbmsTran&, int, const JRX::JRXEvent&)";
}  // namespace

int logEventEnvs(JRXRdbmsTran& tran, int event_id, const JRXEvent& event) {
  logdb::LogsEnvInfo source;
  if (logdb::getSourceEnv(event.info, source) != 0) return -1;
  logdb::LogsEnvInfo other;
  if (const JRXInfo* env = event.info.getParameter("env")) other = logdb::LogsEnvInfo(*env, false);
  // A further environment that cannot be identified is not worth refusing the event for.
  const bool linkOther = other.getEID().isValid();

  std::vector<const logdb::LogsEnvInfo*> envs{&source};
  if (linkOther) envs.push_back(&other);
  logdb::EnvRows rows(tran, envs);
  source.linkEvent(tran, event_id, 'S', rows.id(source));
  if (linkOther) other.linkEvent(tran, event_id, 'O', rows.id(other));
  return 0;
}

void logAlertInfoIfExists(const JRXRdbmsTran& tran, int event_id, const JRXEvent& event) {
  const JRXInfo* id = event.info.getParameter("id");
  const JRXInfo* type = event.info.getParameter("type");
  if (!id && !type) return;

  events_log_resource row;
  row.event_id = event_id;
  if (id)
    row.resource_id = id->toString();
  else
    row.RemoveColumn(row->resource_id);
  if (type)
    row.resource_type = type->toString();
  else
    row.RemoveColumn(row->resource_type);
  (*tran)->Insert(row);
}

int logStatusChange(JRXRdbmsTran& tran, int event_id, const JRXEvent& event) {
  const JRXInfo* oldStatus = event.info.getParameter("old_status");
  const JRXInfo* newStatus = event.info.getParameter("new_status");
  const JRXInfo* oldTransition = event.info.getParameter("old_transition");
  const JRXInfo* newTransition = event.info.getParameter("new_transition");
  if (!oldStatus || !newStatus || !oldTransition || !newTransition) return -1;

  events_log_status row;
  row.event_id = event_id;
  row.old_status = std::atoi(oldStatus->toString().c_str());
  row.old_transition = std::atoi(oldTransition->toString().c_str());
  row.new_status = std::atoi(newStatus->toString().c_str());
  row.new_transition = std::atoi(newTransition->toString().c_str());
  (*tran)->Insert(row);
  return 0;
}

int logAudit(JRXRdbmsTran& tran, int event_id, const JRXEvent& event) {
  boost::shared_ptr<JRXAuditEvent> audit = boost::dynamic_pointer_cast<JRXAuditEvent>(event.data);
  if (!audit) {
    Log2("JRXLogDBLocal", "plugins/JRXLogDB/JRXLogDBLocal", __LINE__, "logAudit",
         kLogAuditSignature)
        .put(1, "[%s] audit event without JRXAuditEvent data", kLogAuditSignature);
    return 0;
  }
  if (audit->kind == 4) return dropFailedLogin(tran, event_id);
  if (audit->kind != 0 && dropIfNoTasks(tran, audit->session.c_str())) {
    Log2("JRXLogDBLocal", "plugins/JRXLogDB/JRXLogDBLocal", __LINE__, "logAudit",
         kLogAuditSignature)
        .put(4, "events about a session with no activity are dropped");
    return 0;
  }

  IPv6Format::SQLString address(audit->address);
  events_log_audit row;
  row.event_id = event_id;
  row.session_id = audit->session;
  row.address = address.text();
  row.address_bin = address.binary();
  row.detail = audit->detail;
  (*tran)->Insert(row);
  return 0;
}

}  // namespace JRX
