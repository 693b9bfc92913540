// One environment taking part in an operation or an event: resolves itself to its env_log
// row (by identifier and title) and writes the link rows.
#pragma once

#include <string>

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

  const JRXEID& getEID() const { return eid_; }
  const std::string& getType() const { return type_; }
  const std::string& getTitle() const { return title_; }
  bool isDefault() const { return default_; }

  int getSqlID(JRXRdbmsTran& tran) const;
  void linkOperation(JRXRdbmsTran& tran, int op_id, char role) const;
  void linkEvent(JRXRdbmsTran& tran, int event_id, char role) const;

 private:
  JRXEID eid_;
  std::string type_;
  std::string title_;
  bool default_ = false;
};

// 0 and `out` set when "source_env" names a valid environment; -1 and `out` unchanged else.
int getSourceEnv(const JRXInfo& info, LogsEnvInfo& out);

}  // namespace logdb
}  // namespace JRX
