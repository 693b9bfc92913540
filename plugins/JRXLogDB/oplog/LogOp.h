// An operation held in memory, and moving it between memory and the tables.
#pragma once

#include <memory>
#include <string>

#include "JRXRdbms.h"
#include "JRXRecords.h"
#include "store/LogTables.h"

namespace JRX {
namespace logdb {

class LogOp : public JRXRequestProgressData {
 public:
  LogOp() : JRXRequestProgressData(std::string()) {}
  explicit LogOp(const JRXRequestProgressData& r) : JRXRequestProgressData(r) {}
  int op_id = 0;
  JRXEID source;  // the "S" link when there is one, else another non-"O" link
  JRXEID executing;  // the "P" link: the report's `eid`, which getOps leaves unfilled
  // The operands linked by default (the local environment standing in): no report named them.
  JRXEIDList defaultOperands;
};

// All columns of a table into a projection, in column order.
void selectAll(ASProjection& p, const ASDomain& d);

// What a report needs of its stored operation: no links, no texts.
struct OpState {
  int op_id = 0;
  int status = 0;
  long time = 0;  // which a restart logs
};

// Both lock the operation's row for the rest of the transaction (when there is one).
bool findOp(JRXRdbmsTran& tran, const std::string& id, OpState& out);
std::unique_ptr<LogOp> getOp(JRXRdbmsTran& tran, const std::string& id);
std::unique_ptr<LogOp> getOp(JRXRdbmsTran& tran, const op_log& row);
// The new operation's op_id; `status` is stored in place of the record's.
int insertOp(JRXRdbmsTran& tran, const JRXRequestProgressData& record, int status);
void deleteOp(JRXRdbmsTran& tran, int op_id);
// Stored with `status` in place of the record's; `text`: the record's information already in
// its text form, when the caller has it.
void logOpData(JRXRdbmsTran& tran, int op_id, const JRXRequestProgressData& record, int status,
               const std::string* text = nullptr);

}  // namespace logdb
}  // namespace JRX
