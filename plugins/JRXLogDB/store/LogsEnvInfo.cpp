#include "store/LogsEnvInfo.h"

#include <algorithm>
#include <cstdint>
#include <tuple>

#include "JRXConversions.h"
#include "JRXEnvDirectory.h"
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

LogsEnvInfo::LogsEnvInfo(const JRXEID& eid, bool isDefault) : eid_(eid), default_(isDefault) {
  JRXEnvDirectory::lookup(eid, type_, title_);
}

namespace {

// The look-up of an environment's row, made for every environment a first report or an
// event names: kept by the thread and run with the key put into the row's own members.
struct FindEnv {
  env_log row;
  ASCursor c;
  FindEnv() {
    c.Project() << row->id;
    c.Set(row->eid == ASBound(row.eid) && row->title == ASBound(row.title));
    c.Limit(1);
    // Shared with other writers, held to the commit: the sweep leaves a row alone that a
    // writer has found and is about to link (store/LogSweep.cpp).
    c.ForShare();
  }
};

bool findEnv(ASSession* session, const Guid& guid, const std::string& title, int& id) {
  thread_local FindEnv find;
  env_log& row = find.row;
  row.eid = guid;
  row.title = title;
  if (!find.c.Reopen(session).Fetch()) return false;
  id = static_cast<int>(row.id.Int());
  return true;
}

}  // namespace

int LogsEnvInfo::getSqlID(JRXRdbmsTran& tran) const {
  ASSession* session = *tran;
  Guid guid = guidToRDBMSGuid(eid_);
  int id = 0;
  if (findEnv(session, guid, title_, id)) return id;
  env_log row;
  row.eid = guid;
  row.title = title_;
  row.type = type_;
  if (session->InsertNew(row)) return static_cast<int>(session->GetInsertId());
  // Another writer stored the same environment since the lookup: its row is the one.
  if (findEnv(session, guid, title_, id)) return id;
  throw AException("env_log: the row that holds the environment's key cannot be read");
}

void LogsEnvInfo::linkOperation(JRXRdbmsTran& tran, int op_id, char role) const {
  linkOperation(tran, op_id, role, getSqlID(tran));
}

void LogsEnvInfo::linkOperation(JRXRdbmsTran& tran, int op_id, char role, int env_id) const {
  ASSession* session = *tran;
  const std::string roleText(1, role);
  const char* defaultText = default_ ? "Y" : "N";

  // The operation's links of this role, all of them: whether this environment has one and
  // whether stand-ins are there to replace, in one read. Deleting stand-ins blindly would
  // be a search that finds nothing most of the time, and such a search locks the gap at the
  // end of the index on MariaDB, where every new operation's links go.
  bool found = false;
  bool storedDefault = false;
  bool standIns = false;
  {
    op_log_env t;
    ASCursor c(session);
    c.Project() << t->env_id << t->is_default;
    c.Set(t->op_id == op_id && t->role == roleText);
    while (c.Fetch()) {
      const bool isDefault = t.is_default.Bytes() == "Y";
      if (t.env_id.Int() == env_id) {
        found = true;
        storedDefault = isDefault;
      }
      standIns = standIns || isDefault;
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

  if (!default_ && standIns) {
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
  if (!session->InsertNew(row) && !default_) {
    // A concurrent call linked the same environment first: then it counts as found.
    op_log_env u;
    ASUpdater up(u);
    up << u->is_default.Set(ASOperand("N"));
    up.Where(u->op_id == op_id && u->env_id == env_id && u->role == roleText &&
             u->is_default == "Y");
    up.Execute(session);
  }
}

void LogsEnvInfo::linkNewOperation(JRXRdbmsTran& tran, int op_id, char role, int env_id) const {
  op_log_env row;
  row.op_id = op_id;
  row.env_id = env_id;
  row.role = std::string(1, role);
  row.is_default = default_ ? "Y" : "N";
  // An environment the report names twice for one role is linked once.
  (*tran)->InsertNew(row);
}

void LogsEnvInfo::linkEvent(JRXRdbmsTran& tran, int event_id, char role) const {
  linkEvent(tran, event_id, role, getSqlID(tran));
}

void LogsEnvInfo::linkEvent(JRXRdbmsTran& tran, int event_id, char role, int env_id) const {
  events_log_env row;
  row.event_id = event_id;
  row.env_id = env_id;
  row.role = std::string(1, role);
  (*tran)->Insert(row);
}

EnvRows::EnvRows(JRXRdbmsTran& tran, const std::vector<const LogsEnvInfo*>& envs) {
  // In the order of the stored key: the identifier's halves compare as its stored bytes
  // (big-endian) do in the database's index, then the title. Of two references to one
  // environment, the first one given makes its row.
  struct Keyed {
    uint64_t high, low;
    const LogsEnvInfo* env;
    size_t given;
  };
  std::vector<Keyed> ordered;
  ordered.reserve(envs.size());
  for (const LogsEnvInfo* env : envs) {
    const Guid g = guidToRDBMSGuid(env->getEID());
    ordered.push_back({g.First(), g.Second(), env, ordered.size()});
  }
  const auto key = [](const Keyed& k) { return std::tie(k.high, k.low, k.env->getTitle()); };
  std::sort(ordered.begin(), ordered.end(), [&](const Keyed& a, const Keyed& b) {
    return std::tuple_cat(key(a), std::tie(a.given)) < std::tuple_cat(key(b), std::tie(b.given));
  });
  rows_.reserve(ordered.size());
  for (size_t i = 0; i < ordered.size(); ++i) {
    if (i > 0 && key(ordered[i]) == key(ordered[i - 1])) continue;
    const LogsEnvInfo& env = *ordered[i].env;
    rows_.push_back({env.getEID(), env.getTitle(), env.getSqlID(tran)});
  }
}

int EnvRows::id(const LogsEnvInfo& env) const {
  for (const Row& row : rows_)
    if (row.eid == env.getEID() && row.title == env.getTitle()) return row.id;
  throw AException("env_log: an environment was linked without its row");
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
