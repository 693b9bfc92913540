// Restart recovery: closing the operations a restart left unfinished, and listing the
// unfinished operations of one environment.
#include <ctime>
#include <string>
#include <vector>

#include "ASQuery.h"
#include "JRXConversions.h"
#include "JRXLogDBLocal.h"
#include "JRXRdbms.h"
#include "JRXRequest.h"
#include "oplog/RecoveryConditions.h"
#include "store/LogTables.h"
#include "store/ValueEncodings.h"
#include "JRXResultCodes.h"

namespace JRX {

namespace {
const unsigned long long kSelectionPage = 20000;
}  // namespace

namespace logdb {

ASComparison getOpsSourceCondition(env_log& envs) {
  Environment nodes;
  ASFilter otherNodes;
  otherNodes.Project() << nodes->eid;
  otherNodes.Set(nodes->eid != guidToRDBMSGuid(JRXConfiguration::getLocalEID()));
  ASAttribute subselect(otherNodes.Query());
  return envs->eid.NotIn(subselect);
}

ASComparison getLeftJoin(op_log_data& latest, op_log_data& later, const ASAttribute& opKey) {
  later->op_id.SetKey(AS_KEY_LEFT_JOIN);
  ASComparison newer((latest->data_id < later->data_id).Query(), &latest.domain(),
                     &later.domain());
  return (latest->op_id == later->op_id) && newer && later->data_id.IsNull() &&
         (latest->op_id == opKey);
}

}  // namespace logdb

int JRXOpLogLocal::finishOps() {
  beginCommand();
  try {
    JRXRdbmsTran tran;
    op_log ops;
    op_log_env links;
    env_log envs;
    ASCursor cursor(*tran);
    cursor.Project().Distinct() << ops->id;
    cursor.Set(envs->id == links->env_id && links->role == "P" &&
               logdb::getOpsSourceCondition(envs) && ops->op_id == links->op_id &&
               (ops->status == 1 || ops->status == 2));
    // Driven by the unfinished operations, which are few however long the log is; the
    // executing node's links would be the whole log.
    cursor.JoinOrder({&ops, &links, &envs}).UseIndex(ops, "op_log_status_time");
    cursor.UseIndex(links, ASPrimaryKey);
    // Every page re-evaluates the whole join, and a page holds only request identifiers:
    // large pages keep a restart after a long outage from going quadratic.
    cursor.PageRows(kSelectionPage);

    if (!cursor.Fetch()) return endCommand(JRXRequestErrorData(0, ""));

    // One report for all: every operation closed by this restart carries the same time.
    JRXRequestProgressData report{std::string()};
    report.status = 4;
    report.time = time(nullptr);
    report.progress = 100;
    report.info = JRXInfo("Operation was canceled by restart", "", true);
    do {
      report.id = ops.id.Str().str();
      // A failure is reported by that command itself; the operation stays unfinished and
      // the others are still closed.
      saveProgress(report);
    } while (cursor.Fetch());

    tran.commit();
    return endCommand(JRXRequestErrorData(0, ""));
  } catch (const AException& e) {
    onRdbmsError(e);
    return endCommand(JRXRequestErrorData(kDatabaseFailure, e.Text().str()));
  }
}

int JRXOpLogLocal::getUnfinishedOpIds(std::vector<std::string>& ids, long& lastTime,
                                      const JRXEID& eid) {
  try {
    JRXRdbmsTran tran(AS_TRAN_READ);
    op_log ops;
    op_log_env links;
    env_log envs;
    op_log_data latest;
    op_log_data later;
    ASCursor cursor(*tran);
    cursor.Project() << ops->id << latest->time;
    cursor.Set(envs->id == links->env_id && links->role == "P" &&
               envs->eid == guidToRDBMSGuid(eid) && ops->op_id == links->op_id &&
               (ops->status == 2 || ops->status == 1) &&
               logdb::getLeftJoin(latest, later, ops->op_id));
    // As in finishOps: from the unfinished operations, never from the environment's links.
    cursor.JoinOrder({&ops, &links, &envs, &latest}).UseIndex(ops, "op_log_status_time");
    cursor.UseIndex(links, ASPrimaryKey).UseIndex(latest, "op_log_data_op");
    cursor.UseIndex(later, "op_log_data_op");
    cursor.PageRows(kSelectionPage);  // as in finishOps: the whole join per page

    std::vector<std::string> found;
    long newest = lastTime;
    while (cursor.Fetch()) {
      found.push_back(ops.id.Str().str());
      const long t = static_cast<long>(logdb::sqlToTime(latest.time));
      if (t > newest) newest = t;
    }
    ids.swap(found);
    lastTime = newest;
    return 0;
  } catch (const AException& e) {
    return onRdbmsError(e);
  }
}

}  // namespace JRX
