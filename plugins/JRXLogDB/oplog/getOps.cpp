// The read side of the operation log: recorded operations with their progress history.
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
#include "oplog/OpSelection.h"
#include "store/LogTables.h"
#include "store/ValueEncodings.h"
#include "JRXResultCodes.h"

namespace JRX {

namespace {

const unsigned int kNoLimit = 2147483647;
const unsigned int kMaxRecords = 1000;
const int kRightViewOps = 188;

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
    return endCommand(JRXRequestErrorData(kRightRefused, ""));

  try {
    JRXRdbmsTran tran(AS_TRAN_READ);
    const unsigned int recordsLimit = getRecordsLimit(limit, kMaxRecords);
    OpFilter filter;
    filter.eid = eid;
    filter.name = opName;
    filter.id = opId;
    filter.parentId = opParentId;
    filter.activeOnly = activeOnly;
    // A caller that names a limit wants the newest operations; one that does not gets the
    // history from its beginning.
    filter.newestFirst = limit != kNoLimit;
    filter.fromTime = fromTime;
    filter.toTime = toTime;
    filter.wanted = recordsLimit;  // an operation kept gives at least one record
    OpSelection selection(*tran, filter);

    unsigned int count = 0;
    while (count < recordsLimit) {
      const op_log* row = selection.next();
      if (!row) break;
      std::unique_ptr<logdb::LogOp> op = logdb::getOp(tran, *row);
      switch (visibility(*op, eid)) {
        case DENY:
          return endCommand(JRXRequestErrorData(kRightRefused, ""));
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
    return endCommand(JRXRequestErrorData(kDatabaseFailure, e.Text().str()));
  }
}

}  // namespace JRX
