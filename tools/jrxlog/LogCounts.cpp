#include "LogCounts.h"

#include "JRXRdbms.h"
#include "store/LogTables.h"

namespace jrxlog {

namespace {

long long countRows(ASSession* session, const ASAttribute& column) {
  ASCursor c(session);
  c.Project() << column;
  long long n = 0;
  while (c.Fetch()) ++n;
  return n;
}

}  // namespace

LogCounts countLog() {
  LogCounts counts;
  JRX::JRXRdbmsTran tran(AS_TRAN_READ);
  {
    JRX::op_log t;
    ASCursor c(*tran);
    c.Project() << t->status;
    while (c.Fetch()) {
      ++counts.operations;
      ++counts.operationsByStatus[static_cast<int>(t.status.Int())];
    }
  }
  {
    JRX::op_log_data t;
    counts.reports = countRows(*tran, t->data_id);
  }
  {
    JRX::events_log t;
    ASCursor c(*tran);
    c.Project() << t->type;
    while (c.Fetch()) {
      ++counts.events;
      ++counts.eventsByType[t.type.Str().str()];
    }
  }
  {
    JRX::events_log_audit t;
    counts.auditRows = countRows(*tran, t->event_id);
  }
  return counts;
}

long long countOperations() {
  JRX::JRXRdbmsTran tran(AS_TRAN_READ);
  JRX::op_log t;
  return countRows(*tran, t->op_id);
}

long long countEvents() {
  JRX::JRXRdbmsTran tran(AS_TRAN_READ);
  JRX::events_log t;
  return countRows(*tran, t->event_id);
}

bool hasEvent(const std::string& guid) {
  JRX::JRXRdbmsTran tran(AS_TRAN_READ);
  JRX::events_log t;
  ASCursor c(*tran);
  c.Project() << t->event_id;
  c.Set(t->guid == guid);
  return c.Fetch();
}

}  // namespace jrxlog
