// The read side of the operation log: recorded operations with their progress history.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "ASQuery.h"
#include "JRXConversions.h"
#include "JRXLogDBLocal.h"
#include "JRXRdbms.h"
#include "JRXRequest.h"
#include "answers/JRXWriterData.h"
#include "oplog/LogOp.h"
#include "store/LogTables.h"
#include "store/ValueEncodings.h"

namespace JRX {

namespace {

const unsigned int kNoLimit = 2147483647;
const long kNoUpperTime = 2147483647;
const unsigned int kMaxRecords = 1000;
const int kRightViewOps = 188;
// Operations read per statement of the scan.
const unsigned int kMinPage = 8;
const unsigned int kMaxPage = 500;

enum Visibility { KEEP, SKIP, DENY };

// Decides whether the caller may see an operation. Without an environment filter a single
// operation the caller may not see fails the whole query; only an operation whose operand
// environments the access checker strips away entirely, while its source stays hidden, is
// silently left out.
Visibility visibility(logdb::LogOp& op, const JRXEID& eid) {
  if (eid != JRXEID::EID_INVALID)
    return op.operands.count(eid) != 0 ? KEEP : SKIP;
  const bool sourceVisible = op.source.isValid() && Security::can(op.source, kRightViewOps);
  if (op.operands.empty() && !sourceVisible)
    return Security::cannot(kRightViewOps) ? DENY : KEEP;
  if (Security::cannot(op.operands, kRightViewOps, true)) return DENY;
  if (op.operands.empty() && !sourceVisible) return SKIP;
  return KEEP;
}

// Appends the operation's progress rows (or the bare operation when it has none) and
// returns how many records were appended; stops once `room` records were appended.
unsigned int appendProgress(JRXRdbmsTran& tran, logdb::LogOp& op, bool firstOnly,
                            unsigned int room, std::vector<JRXRequestProgressData>& result) {
  op_log_data data;
  ASCursor cursor(*tran);
  logdb::selectAll(cursor.Project(), data);
  cursor.Set(data->op_id == op.op_id);
  cursor.Order(ASOrder(data->data_id));
  if (firstOnly) cursor.Limit(1, 0);

  unsigned int appended = 0;
  while (cursor.Fetch()) {
    op.progress = static_cast<int>(data.progress.Int());
    op.time = logdb::sqlToTime(data.time);
    if (!firstOnly) op.status = static_cast<int>(data.status.Int());
    logdb::getInfoFromString(logdb::blobText(data.info).c_str(), op.info);
    result.push_back(static_cast<const JRXRequestProgressData&>(op));
    if (++appended >= room) break;
  }
  if (appended == 0) {
    result.push_back(static_cast<const JRXRequestProgressData&>(op));
    appended = 1;
  }
  return appended;
}

}  // namespace

int JRXOpLogLocal::getOps(std::vector<JRXRequestProgressData>* result, const JRXEID& eid,
                          const std::string& opName, const std::string& opId,
                          const std::string& opParentId, bool firstOnly, bool activeOnly,
                          unsigned int limit, long fromTime, long toTime) {
  beginCommand();
  if (eid != JRXEID::EID_INVALID && Security::cannot(eid, kRightViewOps))
    return endCommand(JRXRequestErrorData(414, ""));

  try {
    JRXRdbmsTran tran(AS_TRAN_READ);
    op_log ops;
    ASCursor cursor(*tran);
    logdb::selectAll(cursor.Project(), ops);

    const unsigned int recordsLimit = getRecordsLimit(limit, kMaxRecords);

    ASComparison cond;
    if (!opName.empty()) cond = cond && (ops->op == opName);
    if (!opId.empty()) cond = cond && (ops->id == opId);
    if (!opParentId.empty()) cond = cond && (ops->parent_id == opParentId);
    if (activeOnly) cond = cond && (ops->status == 1 || ops->status == 2);
    if (fromTime != 0) cond = cond && (ops->time > logdb::timeToSql(fromTime));
    if (toTime != kNoUpperTime) cond = cond && (ops->time < logdb::timeToSql(toTime));
    if (eid != JRXEID::EID_INVALID) {
      // The scan keeps only operations that have `eid` among their operands; letting the
      // database drop the others spares one link query per operation of other environments,
      // which on a large log is nearly all of them. The kept set and its order are unchanged.
      op_log_env link;
      env_log env;
      ASFilter operandOf;
      operandOf.Project() << link->op_id;
      operandOf.Set(link->env_id == env->id && link->role == "O" &&
                    env->eid == guidToRDBMSGuid(eid));
      cond = cond && ops->op_id.In(operandOf.Select());
    }
    if (!cond.IsEmpty()) cursor.Set(cond);
    // The running operations are few however long the log: read them through their status
    // rather than walking the time index past every ended one (which the time order makes
    // look cheap). An operation asked for by identifier is found by that instead.
    if (activeOnly && opId.empty()) cursor.UseIndex(ops, "op_log_status_time");

    // A caller that names a limit wants the newest operations; one that does not gets the
    // history from its beginning.
    cursor.Order(ASOrder(ops->time, limit != kNoLimit));
    // The scan needs one operation more than it keeps records; reading a whole default
    // page for a small limit would make the newest few cost as much as hundreds, and a
    // selective filter (activeOnly) would walk the log until a full page matched.
    cursor.PageRows(std::min<unsigned long long>(std::max(recordsLimit, kMinPage - 1) + 1,
                                                 kMaxPage));

    unsigned int count = 0;
    while (cursor.Fetch()) {
      std::unique_ptr<logdb::LogOp> op = logdb::getOp(tran, ops);
      if (count >= recordsLimit) break;
      switch (visibility(*op, eid)) {
        case DENY:
          return endCommand(JRXRequestErrorData(414, ""));
        case SKIP:
          continue;
        case KEEP:
          break;
      }
      count += appendProgress(tran, *op, firstOnly, recordsLimit - count, *result);
    }

    return endCommandWithAnswer(newJRXWriterData(*result, 1175), JRXRequestErrorData(0, ""));
  } catch (const AException& e) {
    onRdbmsError(e);
    return endCommand(JRXRequestErrorData(3101, e.Text().str()));
  }
}

}  // namespace JRX
