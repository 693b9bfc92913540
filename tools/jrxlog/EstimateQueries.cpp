#include "EstimateQueries.h"

#include <iterator>

#include "JRXRdbms.h"
#include "JRXResultCodes.h"
#include "Services.h"
#include "store/LogTables.h"
#include "store/ValueEncodings.h"

namespace jrxlog {

namespace {

const int kStarted = 1, kRunning = 2, kDone = 3;

// The operation's newest rows: through its own entries of the rows' index, newest first.
std::vector<ProgressPoint> newestRows(ASSession* s, long long opId, size_t count) {
  std::vector<ProgressPoint> rows;
  JRX::op_log_data d;
  ASCursor c(s);
  c.Project() << d->progress << d->time << d->status;
  c.Set(d->op_id == opId);
  c.Order(-d->data_id).Limit(count);
  c.UseIndex(d, "op_log_data_op");
  while (c.Fetch())
    rows.push_back({static_cast<long>(JRX::logdb::sqlToTime(d.time)),
                    static_cast<int>(d.progress.Int()), static_cast<int>(d.status.Int())});
  return rows;
}

}  // namespace

OperationHistory readHistory(const std::string& id) {
  OperationHistory h;
  JRX::JRXRdbmsTran tran(AS_TRAN_READ);
  long long opId = 0;
  {
    JRX::op_log t;
    ASCursor c(*tran);
    c.Project() << t->op_id << t->op << t->time << t->status;
    c.Set(t->id == id);
    c.Limit(1);
    c.UseIndex(t, "op_log_id");
    if (!c.Fetch()) return h;
    h.found = true;
    opId = t.op_id.Int();
    h.name = t.op.Bytes();
    h.begun = static_cast<long>(JRX::logdb::sqlToTime(t.time));
    const int status = static_cast<int>(t.status.Int());
    h.running = status == kStarted || status == kRunning;
  }
  if (h.running) h.newest = newestRows(*tran, opId, kEstimateRows);
  return h;
}

std::vector<long> peerDurations(const std::string& name, long now, size_t count) {
  JRX::JRXRdbmsTran tran(AS_TRAN_READ);
  std::vector<std::pair<long long, long>> runs;  // op_id, first report
  // The newest runs, a window of time after another going back. Within a window any of its
  // runs will do: MariaDB keeps the name in its index as a prefix only, and then sorts every
  // run of the name by time however few are asked for; without an order each window is a
  // range of the index read up to its limit.
  const long kWindows[] = {3600, 86400, 7 * 86400, 30 * 86400, 365 * 86400};
  long upper = 2147483647L;
  for (size_t w = 0; w <= std::size(kWindows) && runs.size() < count; ++w) {
    const long lower = w < std::size(kWindows) ? now - kWindows[w] : -2147483647L - 1;
    if (lower >= upper) continue;
    JRX::op_log t;
    ASCursor c(*tran);
    c.Project() << t->op_id << t->time;
    c.Set(t->op == name && t->status == kDone && t->time >= JRX::logdb::timeToSql(lower) &&
          t->time < JRX::logdb::timeToSql(upper));
    c.Limit(count - runs.size());
    c.UseIndex(t, "op_log_name_status_time");
    while (c.Fetch())
      runs.emplace_back(t.op_id.Int(), static_cast<long>(JRX::logdb::sqlToTime(t.time)));
    upper = lower;
  }
  std::vector<long> durations;
  for (const auto& run : runs) {
    const std::vector<ProgressPoint> last = newestRows(*tran, run.first, 1);
    if (!last.empty() && last.front().time >= run.second)
      durations.push_back(last.front().time - run.second);
  }
  return durations;
}

const OperationEstimates::Estimate& OperationEstimates::of(const std::string& id) {
  auto known = byId_.find(id);
  if (known != byId_.end()) return known->second;
  Estimate e;
  try {
    const OperationHistory h = readHistory(id);
    e.running = h.running;
    if (h.running) {
      static const std::vector<long> none;
      const std::vector<long>* peers = &none;
      if (needsPeers(h.newest)) {
        auto it = byName_.find(h.name);
        if (it == byName_.end()) it = byName_.emplace(h.name, peerDurations(h.name, now_)).first;
        peers = &it->second;
      }
      e.end = estimateEnd(h.newest, h.begun, *peers, now_);
    }
  } catch (const AException& failure) {
    // As a service's refusal: the listing that asked fails as a service call would, and a
    // lost connection is dropped for the next one.
    JRX::onRdbmsError(failure);
    throw ServiceFailure(JRX::kDatabaseFailure, failure.Text().str());
  }
  return byId_[id] = e;
}

std::string etaText(const OperationEstimates::Estimate& e, long now) {
  if (!e.running || !e.end) return "-";
  const long left = *e.end - now;
  if (left <= 0) return "now";
  // The two largest units.
  const long units[] = {86400, 3600, 60, 1};
  const char* names[] = {"d", "h", "m", "s"};
  size_t u = 0;
  while (u < 3 && left < units[u]) ++u;
  std::string text = "in " + std::to_string(left / units[u]) + names[u];
  if (u < 3) text += " " + std::to_string(left % units[u] / units[u + 1]) + names[u + 1];
  return text;
}

}  // namespace jrxlog
