// Restart recovery: closing the operations a restart left unfinished, and listing the
// unfinished operations of one environment.
#include <algorithm>
#include <ctime>
#include <tuple>
#include <string>
#include <vector>

#include "ASQuery.h"
#include "JRXConversions.h"
#include "JRXLogDBLocal.h"
#include "JRXRdbms.h"
#include "JRXRequest.h"
#include "oplog/RecoveryConditions.h"
#include "store/LogTables.h"
#include "store/TimeSteps.h"
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

namespace {

// Whether the unfinished operations are fewer than the environment's own links as executing
// node, told by two index walks that stop at a budget growing until one of them falls short:
// so the choice costs about what the smaller side holds, however large the other one.
bool fewerUnfinished(ASSession* session, const std::vector<int>& envIds) {
  for (unsigned long long budget = 1024;; budget *= 4) {
    op_log ops;
    if (!logdb::rowsReach(session, ops->op_id, ops->status == 2 || ops->status == 1,
                          "op_log_status_time", budget))
      return true;
    op_log_env link;
    if (!logdb::rowsReach(session, link->op_id,
                          link->role == "P" && logdb::anyOf(link->env_id, envIds),
                          "op_log_env_env", budget))
      return false;
  }
}

struct Unfinished {
  long long status, time, opId;
  std::string id;
  long latest;
};

}  // namespace

int JRXOpLogLocal::getUnfinishedOpIds(std::vector<std::string>& ids, long& lastTime,
                                      const JRXEID& eid) {
  try {
    JRXRdbmsTran tran(AS_TRAN_READ);
    // An environment that was never linked runs nothing: answered without reading the log.
    const std::vector<int> envIds = logdb::envIdsOf(*tran, eid);
    std::vector<Unfinished> found;
    if (!envIds.empty()) {
      op_log ops;
      op_log_env links;
      op_log_data latest;
      op_log_data later;
      ASCursor cursor(*tran);
      cursor.Project() << ops->id << latest->time << ops->status << ops->time << ops->op_id;
      ASComparison cond = links->role == "P" && logdb::anyOf(links->env_id, envIds) &&
                          ops->op_id == links->op_id && (ops->status == 2 || ops->status == 1) &&
                          logdb::getLeftJoin(latest, later, ops->op_id);
      // As in finishOps: from the unfinished operations, unless the environment's own links
      // are fewer (a log that many agents left unfinished operations in).
      op_log unfinished;
      if (fewerUnfinished(*tran, envIds)) {
        // The unfinished operations' keys from their index alone, each one's link probed;
        // only the environment's own operations are then read, scattered as they may be.
        cursor.Set(cond && (unfinished->status == 2 || unfinished->status == 1) &&
                   unfinished->op_id == links->op_id);
        cursor.JoinOrder({&unfinished, &links, &ops, &latest});
        cursor.UseIndex(unfinished, "op_log_status_time").UseIndex(links, ASPrimaryKey);
        cursor.UseIndex(ops, ASPrimaryKey);
      } else {
        cursor.Set(cond);
        cursor.JoinOrder({&links, &ops, &latest}).UseIndex(links, "op_log_env_env");
        cursor.UseIndex(ops, ASPrimaryKey);
      }
      cursor.UseIndex(latest, "op_log_data_op").UseIndex(later, "op_log_data_op");
      cursor.PageRows(kSelectionPage);  // as in finishOps: the whole join per page
      while (cursor.Fetch())
        found.push_back({ops.status.AsInt64(), ops.time.AsInt64(), ops.op_id.AsInt64(), ops.id.Str().str(),
                         static_cast<long>(logdb::sqlToTime(latest.time))});
    }
    // In the order of the status index, whichever side led.
    std::stable_sort(found.begin(), found.end(), [](const Unfinished& a, const Unfinished& b) {
      return std::tie(a.status, a.time, a.opId) < std::tie(b.status, b.time, b.opId);
    });
    std::vector<std::string> result;
    long newest = lastTime;
    for (Unfinished& u : found) {
      result.push_back(std::move(u.id));
      if (u.latest > newest) newest = u.latest;
    }
    ids.swap(result);
    lastTime = newest;
    return 0;
  } catch (const AException& e) {
    return onRdbmsError(e);
  }
}

}  // namespace JRX
