#include "store/LogsEnvInfo.h"

#include "JRXConversions.h"
#include "store/LogTables.h"

namespace JRX {
namespace logdb {

LogsEnvInfo::LogsEnvInfo(const JRXInfo& info, bool isDefault) : default_(isDefault) {
  const JRXInfo* eid = info.getParameter("eid");
  if (eid == nullptr) return;
  // Read as a C string: what follows a NUL does not count.
  const std::string text = eid->toString();
  JRXEID parsed;
  if (parsed.fromString(text.c_str()) != 0) return;
  eid_ = parsed;
  if (const JRXInfo* type = info.getParameter("type")) type_ = type->toString();
  if (const JRXInfo* title = info.getParameter("title")) title_ = title->toString();
}

int LogsEnvInfo::getSqlID(JRXRdbmsTran& tran) const {
  ASSession* session = *tran;
  Guid guid = guidToRDBMSGuid(eid_);
  {
    env_log t;
    ASCursor c(session);
    c.Project() << t->id;
    c.Set(t->eid == guid && t->title == title_);
    c.Limit(1);
    if (c.Fetch()) return static_cast<int>(t.id.Int());
  }
  env_log row;
  row.eid = guid;
  row.title = title_;
  row.type = type_;
  session->Insert(row);
  return static_cast<int>(session->GetInsertId());
}

void LogsEnvInfo::linkOperation(JRXRdbmsTran& tran, int op_id, char role) const {
  ASSession* session = *tran;
  const std::string roleText(1, role);
  const char* defaultText = default_ ? "Y" : "N";
  int env_id = getSqlID(tran);

  bool found = false;
  bool storedDefault = false;
  {
    op_log_env t;
    ASCursor c(session);
    c.Project() << t->op_id << t->is_default;
    c.Set(t->op_id == op_id && t->env_id == env_id && t->role == roleText);
    c.Limit(1);
    if (c.Fetch()) {
      found = true;
      storedDefault = t.is_default.Bytes() == "Y";
    }
  }

  if (found) {
    if (!default_ && storedDefault) {
      op_log_env u;
      ASUpdater up(u);
      up << u->is_default.Set(ASOperand("N"));
      up.Where(u->op_id == op_id && u->env_id == env_id && u->role == roleText);
      up.Execute(session);
    }
    return;
  }

  if (!default_) {
    // The first environment the report names for a role replaces the stand-ins of that role.
    op_log_env d;
    ASDeleter(d)
        .Where(d->op_id == op_id && d->role == roleText && d->is_default == "Y")
        .Execute(session);
  }
  op_log_env row;
  row.op_id = op_id;
  row.env_id = env_id;
  row.role = roleText;
  row.is_default = defaultText;
  session->Insert(row);
}

void LogsEnvInfo::linkEvent(JRXRdbmsTran& tran, int event_id, char role) const {
  int env_id = getSqlID(tran);
  events_log_env row;
  row.event_id = event_id;
  row.env_id = env_id;
  row.role = std::string(1, role);
  (*tran)->Insert(row);
}

int getSourceEnv(const JRXInfo& info, LogsEnvInfo& out) {
  const JRXInfo* source = info.getParameter("source_env");
  if (source == nullptr) return -1;
  LogsEnvInfo env(*source, false);
  if (!env.getEID().isValid()) return -1;
  out = env;
  return 0;
}

}  // namespace logdb
}  // namespace JRX
