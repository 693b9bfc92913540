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
#include "store/TimeSteps.h"
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

// What the reports said, so that a copy made from a listing links the same: the executing
// environment, and only the operands named (a copy links the default stand-in again).
void asReported(logdb::LogOp& op) {
  op.eid = op.executing;
  for (const JRXEID& standIn : op.defaultOperands) op.operands.erase(standIn);
}

// Appends the operation's progress rows (or the bare operation when it has none) and
// returns how many records were appended; stops once `room` records were appended. `after`:
// the place the listing goes on from, when it is this operation's. Without `result`, only
// the places are appended, and no report is read beyond its key.
unsigned int appendProgress(JRXRdbmsTran& tran, logdb::LogOp& op, long opTime, bool firstOnly,
                            const JRXListingPlace* after, unsigned int room,
                            std::vector<JRXRequestProgressData>* result,
                            std::vector<JRXListingPlace>* places) {
  if (after && after->report == JRXListingPlace::kWholeOperation) return 0;
  JRXListingPlace place;
  place.time = opTime;
  place.id = op.op_id;
  place.report = JRXListingPlace::kWholeOperation;
  if (!result && firstOnly && !after) {
    // Listed once whether it has reports or not: its reports need not be looked at.
    places->push_back(place);
    return 1;
  }
  op_log_data data;
  ASCursor cursor(*tran);
  if (result)
    logdb::selectAll(cursor.Project(), data);
  else
    cursor.Project() << data->data_id;
  ASComparison cond = data->op_id == op.op_id;
  if (after) cond = cond && data->data_id > after->report;
  cursor.Set(cond);
  cursor.Order(ASOrder(data->data_id));
  if (firstOnly) cursor.Limit(1, 0);

  unsigned int appended = 0;
  while (cursor.Fetch()) {
    if (result) {
      op.progress = static_cast<int>(data.progress.Int());
      op.time = logdb::sqlToTime(data.time);
      if (!firstOnly) op.status = static_cast<int>(data.status.Int());
      logdb::getInfoFromString(logdb::blobText(data.info).c_str(), op.info);
      result->push_back(static_cast<const JRXRequestProgressData&>(op));
    }
    if (!firstOnly) place.report = static_cast<long long>(data.data_id.Int());
    if (places) places->push_back(place);
    if (++appended >= room) break;
  }
  if (appended == 0 && !after) {
    if (result) result->push_back(static_cast<const JRXRequestProgressData&>(op));
    place.report = JRXListingPlace::kWholeOperation;
    if (places) places->push_back(place);
    appended = 1;
  }
  return appended;
}

// The records of the filter's operations, up to `recordsLimit`; false when one of them may
// not be seen (the whole listing is refused then).
// `places`: also each record's place, for readers that go on from it or copy the log; without
// `result`, the places alone.
bool listOps(JRXRdbmsTran& tran, const OpFilter& filter, bool firstOnly,
             unsigned int recordsLimit, std::vector<JRXRequestProgressData>* result,
             std::vector<JRXListingPlace>* places) {
  OpSelection selection(*tran, filter);
  unsigned int count = 0;
  while (count < recordsLimit) {
    const op_log* row = selection.next();
    if (!row) break;
    const long opTime = static_cast<long>(logdb::sqlToTime(row->time));
    std::unique_ptr<logdb::LogOp> op = logdb::getOp(tran, *row);
    switch (visibility(*op, filter.eid)) {
      case DENY:
        return false;
      case SKIP:
        continue;
      case KEEP:
        break;
    }
    if (result && places) asReported(*op);
    const JRXListingPlace* after =
        filter.after && filter.after->id == op->op_id ? filter.after : nullptr;
    count += appendProgress(tran, *op, opTime, firstOnly, after, recordsLimit - count, result,
                            places);
  }
  return true;
}

OpFilter filterOf(const JRXEID& eid, const std::string& opName, const std::string& opId,
                  const std::string& opParentId, bool activeOnly, unsigned int recordsLimit) {
  OpFilter filter;
  filter.eid = eid;
  filter.name = opName;
  filter.id = opId;
  filter.parentId = opParentId;
  filter.activeOnly = activeOnly;
  filter.wanted = recordsLimit;  // an operation kept gives at least one record
  return filter;
}

// The listing's frame: one read transaction, the whole answer refused when one of its
// operations may not be seen, the database's failure answered as such.
int answerListing(JRXOpLogLocal& log, const OpFilter& filter, bool firstOnly,
                  unsigned int recordsLimit, std::vector<JRXRequestProgressData>* result,
                  std::vector<JRXListingPlace>* places) {
  std::vector<JRXListingPlace> unasked;
  if (!result && !places) places = &unasked;
  try {
    JRXRdbmsTran tran(AS_TRAN_READ);
    if (!listOps(tran, filter, firstOnly, recordsLimit, result, places))
      return log.endCommand(JRXRequestErrorData(kRightRefused, ""));
    if (!result) return log.endCommand(JRXRequestErrorData(0, ""));
    return log.endCommandWithAnswer(newJRXWriterData(*result, 1175), JRXRequestErrorData(0, ""));
  } catch (const AException& e) {
    onRdbmsError(e);
    return log.endCommand(JRXRequestErrorData(kDatabaseFailure, e.Text().str()));
  }
}

}  // namespace

int JRXOpLogLocal::getOps(std::vector<JRXRequestProgressData>* result, const JRXEID& eid,
                          const std::string& opName, const std::string& opId,
                          const std::string& opParentId, bool firstOnly, bool activeOnly,
                          unsigned int limit, long fromTime, long toTime) {
  beginCommand();
  if (eid != JRXEID::EID_INVALID && Security::cannot(eid, kRightViewOps))
    return endCommand(JRXRequestErrorData(kRightRefused, ""));

  const unsigned int recordsLimit = getRecordsLimit(limit, kMaxRecords);
  OpFilter filter = filterOf(eid, opName, opId, opParentId, activeOnly, recordsLimit);
  // A caller that names a limit wants the newest operations; one that does not gets the
  // history from its beginning.
  filter.newestFirst = limit != kNoLimit;
  filter.range = logdb::timeRangeOf(fromTime, toTime);
  return answerListing(*this, filter, firstOnly, recordsLimit, result, nullptr);
}

int JRXOpLogLocal::getOpsAfter(std::vector<JRXRequestProgressData>* result,
                               std::vector<JRXListingPlace>* places,
                               const JRXListingPlace* after, const JRXEID& eid,
                               const std::string& opName, const std::string& opId,
                               const std::string& opParentId, bool firstOnly, bool activeOnly,
                               unsigned int limit, bool newestFirst,
                               const JRXTimeBounds& bounds) {
  beginCommand();
  if (eid != JRXEID::EID_INVALID && Security::cannot(eid, kRightViewOps))
    return endCommand(JRXRequestErrorData(kRightRefused, ""));
  const unsigned int recordsLimit = getRecordsLimit(limit, kMaxRecords);
  OpFilter filter = filterOf(eid, opName, opId, opParentId, activeOnly, recordsLimit);
  filter.newestFirst = newestFirst;
  filter.range = logdb::timeRangeWithin(bounds.from, bounds.to);
  filter.after = after;
  return answerListing(*this, filter, firstOnly, recordsLimit, result, places);
}

int JRXOpLogLocal::getOpsStored(std::vector<JRXRequestProgressData>* result,
                                std::vector<JRXListingPlace>* places,
                                std::vector<long long>* stored,
                                const std::vector<JRXKeyRange>& ranges, unsigned int limit, const JRXEID& eid, const std::string& opName,
                                const std::string& opId, const std::string& opParentId,
                                bool activeOnly, const JRXTimeBounds& bounds) {
  beginCommand();
  if (eid != JRXEID::EID_INVALID && Security::cannot(eid, kRightViewOps))
    return endCommand(JRXRequestErrorData(kRightRefused, ""));
  try {
    JRXRdbmsTran tran(AS_TRAN_READ);
    const unsigned int count = getRecordsLimit(limit, kMaxRecords);
    {
      op_log_data keys;
      ASCursor c(*tran);
      c.Project() << keys->data_id;
      c.Set(logdb::inRanges(keys->data_id, ranges));
      c.Order(ASOrder(keys->data_id)).Limit(count, 0);
      c.PageRows(count);
      while (c.Fetch()) stored->push_back(keys.data_id.Int());
    }
    if (stored->empty())
      return endCommandWithAnswer(newJRXWriterData(*result, 1175), JRXRequestErrorData(0, ""));

    op_log ops;
    op_log_data data;
    ASCursor c(*tran);
    logdb::selectAll(c.Project(), ops);
    c.Project() << data->data_id << data->progress << data->time << data->status << data->info;
    logdb::TimeStep within;
    within.range = logdb::timeRangeWithin(bounds.from, bounds.to);
    ASComparison cond = data->op_id == ops->op_id && logdb::inRanges(data->data_id, ranges) &&
                        data->data_id <= stored->back() && within.on(ops->time);
    if (!opName.empty()) cond = cond && ops->op == opName;
    if (!opId.empty()) cond = cond && ops->id == opId;
    if (!opParentId.empty()) cond = cond && ops->parent_id == opParentId;
    if (activeOnly) cond = cond && (ops->status == 1 || ops->status == 2);
    c.Set(cond);
    c.Order(ASOrder(data->data_id));
    // The few reports of the key range by their key, each one's operation by its key.
    c.JoinOrder({&data, &ops}).UseIndex(ops, ASPrimaryKey);
    std::unique_ptr<logdb::LogOp> op;  // of the previous report, with its links
    Visibility seen = SKIP;
    while (c.Fetch()) {
      if (!op || op->op_id != ops.op_id.Int()) {
        op = logdb::getOp(tran, ops);
        seen = visibility(*op, eid);
        if (seen == DENY) return endCommand(JRXRequestErrorData(kRightRefused, ""));
        asReported(*op);
      }
      if (seen == SKIP) continue;
      JRXListingPlace place;
      place.time = static_cast<long>(logdb::sqlToTime(ops.time));
      place.id = op->op_id;
      place.report = data.data_id.Int();
      op->progress = static_cast<int>(data.progress.Int());
      op->time = logdb::sqlToTime(data.time);
      op->status = static_cast<int>(data.status.Int());
      logdb::getInfoFromString(logdb::blobText(data.info).c_str(), op->info);
      result->push_back(static_cast<const JRXRequestProgressData&>(*op));
      if (places) places->push_back(place);
    }
    return endCommandWithAnswer(newJRXWriterData(*result, 1175), JRXRequestErrorData(0, ""));
  } catch (const AException& e) {
    onRdbmsError(e);
    return endCommand(JRXRequestErrorData(kDatabaseFailure, e.Text().str()));
  }
}

int JRXOpLogLocal::getNewestKeys(std::vector<long long>* keys, unsigned int count) {
  beginCommand();
  try {
    JRXRdbmsTran tran(AS_TRAN_READ);
    op_log_data data;
    ASCursor c(*tran);
    c.Project() << data->data_id;
    c.Order(-data->data_id).Limit(count, 0);
    c.PageRows(count);
    while (c.Fetch()) keys->insert(keys->begin(), data.data_id.Int());
  } catch (const AException& e) {
    onRdbmsError(e);
    return endCommand(JRXRequestErrorData(kDatabaseFailure, e.Text().str()));
  }
  return endCommand(JRXRequestErrorData(0, ""));
}

}  // namespace JRX
