// One environment taking part in an operation or an event: resolves itself to its env_log
// row (by identifier and title) and writes the link rows.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "JRXGUID.h"
#include "JRXInfo.h"
#include "JRXRdbms.h"

namespace JRX {
namespace logdb {

class LogsEnvInfo {
 public:
  LogsEnvInfo() = default;
  // From a reference record with parameters "eid", "type", "title"; `isDefault` marks the
  // local environment standing in for a missing source or operand list.
  LogsEnvInfo(const JRXInfo& info, bool isDefault);
  // With the type and title the framework knows for the identifier (none when it knows
  // nothing of it), as read from its environment information record.
  LogsEnvInfo(const JRXEID& eid, bool isDefault);

  const JRXEID& getEID() const { return eid_; }
  const std::string& getType() const { return type_; }
  const std::string& getTitle() const { return title_; }
  bool isDefault() const { return default_; }

  int getSqlID(JRXRdbmsTran& tran) const;
  void linkOperation(JRXRdbmsTran& tran, int op_id, char role) const;
  void linkEvent(JRXRdbmsTran& tran, int event_id, char role) const;
  // The same with this environment's env_log id already known (EnvRows).
  void linkOperation(JRXRdbmsTran& tran, int op_id, char role, int env_id) const;
  void linkEvent(JRXRdbmsTran& tran, int event_id, char role, int env_id) const;
  // The link of an operation created in this transaction, which has no links but those the
  // same call makes: nothing to look for, replace or mark.
  void linkNewOperation(JRXRdbmsTran& tran, int op_id, char role, int env_id) const;

 private:
  JRXEID eid_;
  std::string type_;
  std::string title_;
  bool default_ = false;
};

// The env_log ids of the environments one call links, found or created in the order of
// their key (eid, title) before any of them is linked. Two writers that both create the
// same new environments then lock their keys in one order: in any other order, one holds a
// new row the other waits for, while its own next insert waits behind that waiting lock.
class EnvRows {
 public:
  EnvRows(JRXRdbmsTran& tran, const std::vector<const LogsEnvInfo*>& envs);
  int id(const LogsEnvInfo& env) const;  // of one of the environments it was made with

 private:
  struct Row {
    JRXEID eid;
    std::string title;
    int id;
  };
  std::vector<Row> rows_;  // a call links a handful: searched in turn
};

// 0 and `out` set when "source_env" names a valid environment; -1 and `out` unchanged else.
int getSourceEnv(const JRXInfo& info, LogsEnvInfo& out);

}  // namespace logdb
}  // namespace JRX
