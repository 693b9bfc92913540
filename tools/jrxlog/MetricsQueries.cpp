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

namespace {

// The next at most `rows` rows of `t` after key `after`, along its key: `keyValue` is the
// member that `key` fetches into; `add` takes each row (`t` holds it).
template <class Table, class Add>
size_t readAfter(Table& t, const ASAttribute& key, const ASAttribute& counted,
                 const ASValue& keyValue, long long& after, size_t rows, const Add& add) {
  JRX::JRXRdbmsTran tran(AS_TRAN_READ);
  ASCursor c(*tran);
  c.Project() << key << counted;
  c.Set(key > after);
  c.Order(key).Limit(rows);
  c.UseIndex(t, ASPrimaryKey);
  c.PageRows(rows);
  size_t n = 0;
  while (c.Fetch()) {
    ++n;
    after = keyValue.AsInt64();
    add();
  }
  return n;
}

}  // namespace

size_t countOperationsAfter(long long& after, size_t rows, std::map<int, long long>& byStatus) {
  JRX::op_log t;
  return readAfter(t, t->op_id, t->status, t.op_id, after, rows,
                   [&] { ++byStatus[static_cast<int>(t.status.Int())]; });
}

size_t countEventsAfter(long long& after, size_t rows, std::map<std::string, long long>& byType) {
  JRX::events_log e;
  return readAfter(e, e->event_id, e->type, e.event_id, after, rows,
                   [&] { ++byType[e.type.Bytes()]; });
}

}  // namespace jrxlog
