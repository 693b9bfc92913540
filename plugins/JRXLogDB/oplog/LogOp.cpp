#include "oplog/LogOp.h"

#include <string_view>

#include "JRXConversions.h"
#include "oplog/Players.h"
#include "store/ValueEncodings.h"

namespace JRX {
namespace logdb {

void selectAll(ASProjection& p, const ASDomain& d) {
  for (size_t i = 0; i < d.Size(); ++i) p << d.Attribute(i);
}

namespace {

// The cursor that finds an operation by its request identifier, projecting what the caller
// asks for.
void byId(ASCursor& c, op_log& row, ASOperand id) {
  c.Set(row->id == std::move(id));
  c.Limit(1);
  // Writers about one operation take turns from here: each finds the links, status and
  // texts the one before left, instead of both adding the same link and then both waiting
  // to change it. Through the index only, so that no other operation's row is locked.
  c.UseIndex(row, "op_log_id").ForUpdate();
}

// The look-up every later report starts with: kept by the thread and run with the
// identifier put into the row's own member.
struct FindOp {
  op_log row;
  ASCursor c;
  FindOp() {
    c.Project() << row->op_id << row->status << row->time;
    byId(c, row, ASBound(row.id));
  }
};

}  // namespace

bool findOp(JRXRdbmsTran& tran, const std::string& id, OpState& out) {
  thread_local FindOp find;
  op_log& row = find.row;
  row.id = id;
  if (!find.c.Reopen(*tran).Fetch()) return false;
  out.op_id = static_cast<int>(row.op_id.Int());
  out.status = static_cast<int>(row.status.Int());
  out.time = sqlToTime(row.time);
  return true;
}

std::unique_ptr<LogOp> getOp(JRXRdbmsTran& tran, const std::string& id) {
  op_log row;
  {
    ASCursor c(*tran);
    selectAll(c.Project(), row.domain());
    byId(c, row, id);
    if (!c.Fetch()) return nullptr;
  }
  return getOp(tran, row);
}

std::unique_ptr<LogOp> getOp(JRXRdbmsTran& tran, const op_log& row) {
  std::unique_ptr<LogOp> op(new LogOp());
  op->op_id = static_cast<int>(row.op_id.Int());
  op->name = row.op.Bytes();
  op->id = row.id.Bytes();
  op->parentId = row.parent_id.Bytes();
  op->time = sqlToTime(row.time);
  op->status = static_cast<int>(row.status.Int());
  op->sessionId = JRXSessionID(row.session_id.Bytes());

  op_log_env link;
  env_log env;
  ASCursor c(*tran);
  c.Project() << env->eid << link->role << link->is_default;
  c.Set(link->op_id == op->op_id && env->id == link->env_id);
  // The operation's few links first, each environment by its key: never the other way
  // round, which would read every link of the environments.
  c.JoinOrder({&link, &env}).UseIndex(link, ASPrimaryKey);
  bool sourceLinked = false;
  while (c.Fetch()) {
    JRXEID eid = rdbmsGuidToGuid(env.eid.Guid());
    const std::string_view role = link.role.Bytes();  // compared with literals in place
    if (role == "O") {
      op->operands.insert(eid);
      if (link.is_default.Bytes() == std::string_view("Y")) op->defaultOperands.insert(eid);
    } else if (role == "S") {
      // The "S" link names the source itself; the "P" link is only a fallback for
      // operations that lack one.
      op->source = eid;
      sourceLinked = true;
    } else {
      if (role == "P") op->executing = eid;
      if (!sourceLinked) op->source = eid;
    }
  }
  return op;
}

int insertOp(JRXRdbmsTran& tran, const JRXRequestProgressData& record, int status) {
  ASSession* session = *tran;
  op_log row;
  row.op = record.name;
  row.id = record.id;
  row.time = timeToSql(record.time);
  row.status = status;
  row.parent_id = record.parentId;
  row.session_id = record.sessionId.text;
  session->Insert(row);
  const int op_id = static_cast<int>(session->GetInsertId());

  if (const JRXInfo* task = record.info.getParameter("task_id")) {
    op_log_task taskRow;
    taskRow.op_id = op_id;
    taskRow.task_id = task->toString();
    session->Insert(taskRow);
  }

  First(record).update(op_id, tran);
  logOpData(tran, op_id, record, status);
  return op_id;
}

void deleteOp(JRXRdbmsTran& tran, int op_id) {
  op_log_data data;
  ASDeleter(data).Where(data->op_id == op_id).Execute(*tran);
  op_log row;
  ASDeleter(row).Where(row->op_id == op_id).Execute(*tran);
}

void logOpData(JRXRdbmsTran& tran, int op_id, const JRXRequestProgressData& record, int status,
               const std::string* text) {
  std::string own;
  if (!text) {
    putInfoToString(record.info, own);
    text = &own;
  }
  op_log_data row;
  row.op_id = op_id;
  row.progress = record.progress;
  row.time = timeToSql(record.time);
  row.status = status;
  row.info = textBlob(*text);
  (*tran)->Insert(row);
}

}  // namespace logdb
}  // namespace JRX
