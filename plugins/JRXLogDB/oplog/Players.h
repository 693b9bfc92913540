// Which environments an operation is linked to: those a report names (Players), the links of
// a new operation (First) and those a later report adds (Next).
#pragma once

#include <vector>

#include "JRXRdbms.h"
#include "JRXRecords.h"
#include "store/LogsEnvInfo.h"

namespace JRX {
namespace logdb {

class Players {
 public:
  explicit Players(const JRXRequestProgressData& record);
  // Invalid identifier when the report names no valid source.
  const LogsEnvInfo& source() const { return source_; }
  const std::vector<LogsEnvInfo>& operands() const { return operands_; }

 private:
  LogsEnvInfo source_;
  std::vector<LogsEnvInfo> operands_;
};

class Next {
 public:
  explicit Next(const JRXRequestProgressData& record) : players_(record) {}
  void update(int op_id, JRXRdbmsTran& tran) const;
  static void update(const LogsEnvInfo& source, const std::vector<LogsEnvInfo>& operands,
                     int op_id, JRXRdbmsTran& tran);

 private:
  friend class First;
  // `also`: a further environment the caller links after these (null: none), whose row
  // must be found in the same order as theirs; the rows are returned for it. `created`: the
  // operation was created by this call and has no links yet.
  static EnvRows link(const LogsEnvInfo& source, const std::vector<LogsEnvInfo>& operands,
                      int op_id, JRXRdbmsTran& tran, const LogsEnvInfo* also, bool created);

  Players players_;
};

class First {
 public:
  explicit First(const JRXRequestProgressData& record);
  void update(int op_id, JRXRdbmsTran& tran) const;

 private:
  Players players_;
  LogsEnvInfo local_;
  LogsEnvInfo executing_;
};

}  // namespace logdb
}  // namespace JRX
