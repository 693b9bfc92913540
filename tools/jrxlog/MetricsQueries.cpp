#include "MetricsQueries.h"

#include "JRXRdbms.h"
#include "store/LogTables.h"
#include "store/ValueEncodings.h"

namespace jrxlog {

namespace {

const int kUnfinished[] = {1, 2};

}  // namespace

LiveState readLiveState() {
  LiveState live;
  JRX::JRXRdbmsTran tran(AS_TRAN_READ);
  for (int status : kUnfinished) {
    // Through the status index: its entries of one status, oldest first.
    JRX::op_log t;
    ASCursor c(*tran);
    c.Project() << t->time;
    c.Set(t->status == status);
    c.Order(t->time);
    c.UseIndex(t, "op_log_status_time");
    c.PageRows(5000);
    long long n = 0;
    while (c.Fetch()) {
      if (n++ == 0) {
        const long first = static_cast<long>(JRX::logdb::sqlToTime(t.time));
        if (!live.oldestUnfinished || first < *live.oldestUnfinished) live.oldestUnfinished = first;
      }
    }
    live.unfinished[status] = n;
  }
  {
    JRX::events_log e;
    ASCursor c(*tran);
    c.Project() << e->time;
    c.Order(-e->time).Order(-e->event_id).Limit(1);
    c.UseIndex(e, "events_log_time");
    if (c.Fetch()) live.latestEvent = static_cast<long>(JRX::logdb::sqlToTime(e.time));
  }
  return live;
}

size_t countOperationsAfter(long long& after, size_t rows, std::map<int, long long>& byStatus) {
  JRX::JRXRdbmsTran tran(AS_TRAN_READ);
  JRX::op_log t;
  ASCursor c(*tran);
  c.Project() << t->op_id << t->status;
  c.Set(t->op_id > after);
  c.Order(t->op_id).Limit(rows);
  c.UseIndex(t, ASPrimaryKey);
  c.PageRows(rows);
  size_t n = 0;
  while (c.Fetch()) {
    ++n;
    after = t.op_id.Int();
    ++byStatus[static_cast<int>(t.status.Int())];
  }
  return n;
}

size_t countEventsAfter(long long& after, size_t rows, std::map<std::string, long long>& byType) {
  JRX::JRXRdbmsTran tran(AS_TRAN_READ);
  JRX::events_log e;
  ASCursor c(*tran);
  c.Project() << e->event_id << e->type;
  c.Set(e->event_id > after);
  c.Order(e->event_id).Limit(rows);
  c.UseIndex(e, ASPrimaryKey);
  c.PageRows(rows);
  size_t n = 0;
  while (c.Fetch()) {
    ++n;
    after = e.event_id.Int();
    ++byType[e.type.Bytes()];
  }
  return n;
}

}  // namespace jrxlog
