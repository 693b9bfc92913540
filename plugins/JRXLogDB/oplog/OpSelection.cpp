// The operations of an environment are found in the steps of store/TimeSteps.h: walks of
// the time index that probe each operation's operand link by its whole key, or the
// environment's operand links read through their own index, each joined to its operation.
// The join gives an operation linked under several titles of the environment once per
// title, next to each other; it is kept once, so the rows and their order are those of the
// plain selection (time, then the operation's key, in the answer's direction). An operation
// asked for by identifier, and the running ones, are few whatever the log holds: they are
// read through their own index in one statement, each probed like a walk's.
//
// A name or a parent has an index of its own, led by it and then ordered as the time index,
// so that a walk reads only the operations of that name or parent: one that is rare or
// missing costs what it keeps, not the log. Given both, the walk takes the one that reaches
// farther for the same number of rows.
#include "oplog/OpSelection.h"

#include <algorithm>

#include "oplog/LogOp.h"
#include "store/ValueEncodings.h"

namespace JRX {

namespace {

// Operations read per statement: the caller's need, not a default page, so that the newest
// few cost no more than a few; bounded, so that a walk through a selective filter does not
// read far ahead of what is kept.
const unsigned int kMinPage = 8;
const unsigned int kMaxPage = 500;

// The columns a walk may go along, each with its index.
enum WalkColumn { TIME, NAME, PARENT };
const char* const kWalkIndex[] = {"op_log_time", "op_log_name", "op_log_parent"};

// The equality that leads the index of `column` (none for the time index).
ASComparison walkLead(op_log& ops, int column, const OpFilter& f) {
  if (column == NAME) return ops->op == f.name;
  if (column == PARENT) return ops->parent_id == f.parentId;
  return ASComparison();
}

}  // namespace

OpSelection::OpSelection(ASSession* session, const OpFilter& filter)
    : session_(session), filter_(filter) {
  if (filter_.eid.isValid()) {
    envIds_ = logdb::envIdsOf(session_, filter_.eid);
    none_ = envIds_.empty();  // never linked to anything
    if (none_) return;
  }
  // The identifier's index and the status index lead to few operations anyway.
  if (filter_.id.empty() && !filter_.activeOnly) {
    std::vector<int> columns;
    if (!filter_.name.empty()) columns.push_back(NAME);
    if (!filter_.parentId.empty()) columns.push_back(PARENT);
    std::vector<logdb::TimeSteps::TimeAtDepth> probes;
    for (int column : columns) probes.push_back(depthAlong(column));
    if (!columns.empty())
      walk_ = columns[logdb::mostSelective(probes, range(), filter_.newestFirst,
                                           logdb::firstBudget(filter_.wanted))];
  }
  if (!filter_.eid.isValid() || filter_.activeOnly || !filter_.id.empty()) return;
  steps_.reset(new logdb::TimeSteps(
      [this](unsigned long long budget) {
        op_log_env link;
        return logdb::rowsReach(session_, link->op_id,
                                link->role == "O" && logdb::anyOf(link->env_id, envIds_),
                                "op_log_env_env", budget);
      },
      depthAlong(walk_), filter_.newestFirst, range(), filter_.wanted));
}

OpSelection::~OpSelection() = default;

logdb::TimeSteps::TimeAtDepth OpSelection::depthAlong(int column) const {
  return [this, column](const logdb::TimeRange& range, unsigned long long budget, int& time) {
    op_log ops;
    return logdb::timeAtDepth(session_, ops->time, kWalkIndex[column], range,
                              filter_.newestFirst, budget, time, walkLead(ops, column, filter_));
  };
}

const op_log* OpSelection::next() {
  for (;;) {
    while (cursor_ && cursor_->Fetch()) {
      const long long id = ops_.op_id.Int();
      if (id == lastId_) continue;  // the same operation under another title
      lastId_ = id;
      return &ops_;
    }
    cursor_.reset();
    logdb::TimeStep step;
    if (steps_) {
      if (!steps_->next(step)) return nullptr;
    } else {
      if (started_ || none_) return nullptr;
      started_ = true;
      step.walk = true;  // with an environment: each operation probed
      step.range = range();
    }
    cursor_ = open(step);
  }
}

logdb::TimeRange OpSelection::range() const {
  if (!filter_.after) return filter_.range;
  return logdb::rangeFrom(filter_.range, filter_.after->time, filter_.newestFirst);
}

std::unique_ptr<ASCursor> OpSelection::open(const logdb::TimeStep& step) {
  std::unique_ptr<ASCursor> c(new ASCursor(session_));
  logdb::selectAll(c->Project(), ops_);

  ASComparison cond = step.on(ops_->time);
  if (!filter_.name.empty()) cond = cond && (ops_->op == filter_.name);
  if (!filter_.id.empty()) cond = cond && (ops_->id == filter_.id);
  if (!filter_.parentId.empty()) cond = cond && (ops_->parent_id == filter_.parentId);
  if (filter_.activeOnly) cond = cond && (ops_->status == 1 || ops_->status == 2);
  if (filter_.after) {
    // The range already starts at the place's second; within it, the place's operation
    // and those after it by key.
    const int time = logdb::timeToSql(filter_.after->time);
    const long long id = filter_.after->id;
    cond = cond && (filter_.newestFirst ? ops_->time < time || ops_->op_id <= id
                                        : ops_->time > time || ops_->op_id >= id);
  }
  if (filter_.eid.isValid()) {
    const ASComparison operand = link_->role == "O" && logdb::anyOf(link_->env_id, envIds_);
    if (step.walk) {
      ASFilter probe;
      probe.Project() << link_->op_id;
      probe.Set(link_->op_id == ops_->op_id && operand).UseIndex(link_, ASPrimaryKey);
      cond = cond && probe.Exists({&ops_});
    } else {
      cond = cond && link_->op_id == ops_->op_id && operand;
      c->JoinOrder({&link_, &ops_}).UseIndex(link_, "op_log_env_env");
      c->UseIndex(ops_, ASPrimaryKey);
    }
  }
  if (!cond.IsEmpty()) c->Set(cond);
  // The running operations are few however long the log: read them through their status
  // rather than walking the time index past every ended one (which the time order makes
  // look cheap). An operation asked for by identifier is found by that instead.
  if (filter_.activeOnly && filter_.id.empty())
    c->UseIndex(ops_, "op_log_status_time");
  else if ((steps_ || walk_ != TIME) && step.walk)
    c->UseIndex(ops_, kWalkIndex[walk_]);

  // Ties of time by key, so that a listing can be continued from any of its records.
  c->Order(ASOrder(ops_->time, filter_.newestFirst)).Order(ASOrder(ops_->op_id, filter_.newestFirst));
  c->PageRows(std::min(std::max(filter_.wanted, kMinPage), kMaxPage));
  return c;
}

}  // namespace JRX
