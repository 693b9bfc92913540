#include "LogCounts.h"

#include "JRXRdbms.h"
#include "store/LogTables.h"

namespace jrxlog {

namespace {

// The rows of the table of `column`, each fetched into its table object for `each`.
template <class Each>
long long countRows(ASSession* session, const ASAttribute& column, const Each& each) {
  ASCursor c(session);
  c.Project() << column;
  long long n = 0;
  for (; c.Fetch(); ++n) each();
  return n;
}

long long countRows(const ASAttribute& column) {
  JRX::JRXRdbmsTran tran(AS_TRAN_READ);
  return countRows(*tran, column, [] {});
}

}  // namespace

LogCounts countLog() {
  LogCounts counts;
  JRX::JRXRdbmsTran tran(AS_TRAN_READ);
  JRX::op_log o;
  JRX::op_log_data d;
  JRX::events_log e;
  counts.operations = countRows(*tran, o->status, [&] {
    ++counts.operationsByStatus[static_cast<int>(o.status.Int())];
  });
  counts.reports = countRows(*tran, d->data_id, [] {});
  counts.events = countRows(*tran, e->type, [&] { ++counts.eventsByType[e.type.Str().str()]; });
  return counts;
}

long long countOperations() {
  JRX::op_log t;
  return countRows(t->op_id);
}

long long countEvents() {
  JRX::events_log t;
  return countRows(t->event_id);
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
