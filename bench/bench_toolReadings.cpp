// What jrxlog's own readings cost as the log grows: a scrape of serve's /metrics, one part of
// the background count behind it, and the estimated end of one running operation (from its
// own rows, and from the runs of its name), on logs of ten thousand, a hundred thousand and
// a million operations and as many events, as ratios to the smallest. A whole count, which
// runs in the background in parts, is timed once per size to show what it costs the
// database (it grows with the log by design; a scrape does not wait for it).
//
// The log: seven operation names, a hundred operations running at every size (two progress
// rows: queued, then 40 %), the others done (queued, then done 30 s later); events of five
// types; one running operation with a single row, whose estimate needs the runs of its name.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

#include "EstimateQueries.h"
#include "LogSizes.h"
#include "MetricsQueries.h"
#include "ServeMetrics.h"
#include "TableFill.h"

using namespace JRX;
using namespace opbench;

namespace {

const JRXEID kLocal(0x10c41, 0x1);
const int kT0 = 1700000000;
const int kRunning = 100;  // at every size: running operations do not pile up with the log
const char* const kTypes[] = {"alert", "info", "audit", "env_status", "heartbeat"};

bool running(int i, int n) { return i % (n / kRunning) == 0; }

void fill(int n) {
  const std::string queued = infoLiteral("queued"), done = infoLiteral("done"),
                    copying = infoLiteral("copying");
  {
    TableFill ops("op_log", "op_id, op, id, parent_id, time, status, session_id");
    for (int i = 1; i <= n; ++i)
      ops.row(std::to_string(i) + ",'op-" + std::to_string(i % 7) + "','req-" + std::to_string(i) +
              "',''," + std::to_string(kT0 + i) + "," + (running(i, n) ? "2" : "3") + ",''");
    ops.row(std::to_string(n + 1) + ",'op-3','lone',''," + std::to_string(kT0 + n + 1) + ",1,''");
  }
  {
    TableFill data("op_log_data", "op_id, progress, time, status, info");
    for (int i = 1; i <= n; ++i) {
      const bool runs = running(i, n);
      data.row(std::to_string(i) + ",0," + std::to_string(kT0 + i) + ",1," + queued);
      data.row(std::to_string(i) + "," + (runs ? "40," : "100,") + std::to_string(kT0 + i + 30) +
               (runs ? ",2," + copying : ",3," + done));
    }
    data.row(std::to_string(n + 1) + ",0," + std::to_string(kT0 + n + 1) + ",1," + queued);
  }
  {
    TableFill events("events_log", "event_id, guid, code, time, category, type, sid, info_bin, info");
    const std::string info = hex(std::string("disk {id} is full", 18));
    for (int i = 1; i <= n; ++i)
      events.row(std::to_string(i) + ",'bench-" + std::to_string(i) + "',0," +
                 std::to_string(kT0 + i) + ",'monitor','" + kTypes[i % 5] + "','',X'00'," + info);
  }
  // As a log that grew to this size would have them (see bench_logSize).
  JRXRdbmsTran tran;
  if (std::string((*tran)->Dialect()) == "mariadb")
    (*tran)->ExecuteSql("ANALYZE TABLE op_log, op_log_data, events_log");
}

LogSizes& logs() {
  static LogSizes sizes(kLocal, fill, "operations and events each");
  return sizes;
}

// The server's metrics of the log in use, made with the case that first needs them and
// dropped before the log changes (their counting thread reads it).
std::unique_ptr<jrxlog::ServeMetrics>& metrics() {
  static std::unique_ptr<jrxlog::ServeMetrics> m;
  return m;
}

void add(const std::string& backend, int size, const std::string& name,
         std::function<std::function<bool()>(int)> make, int iterations) {
  const std::string full = name + "/" + backend + "/" + std::to_string(size);
  benchmark::RegisterBenchmark(full.c_str(), [=](benchmark::State& state) {
    // Only the scrape's case keeps a server's counting thread running beside it.
    if (name != "scrape") metrics().reset();
    logs().use(backend, size);
    auto call = make(size);
    logs().timeCalls(state, backend, name, size, [] {}, call);
  })->Unit(benchmark::kMicrosecond)->Iterations(iterations);
}

void registerCases(const std::string& backend, int size, bool) {
  add(backend, size, "scrape", [](int) {
    metrics().reset(new jrxlog::ServeMetrics());
    // Timed once the first count is in, as a server that has run a while answers.
    while (metrics()->scrape().find("jrxlog_counts_age_seconds NaN") != std::string::npos) {
    }
    return [] { return metrics()->scrape().find("jrxlog_events{type=\"alert\"}") != std::string::npos; };
  }, 200);
  add(backend, size, "countPart", [](int n) {
    // One part as the background count reads it, at the end of the tables.
    const size_t part = std::min<size_t>(jrxlog::LogCountKeeper::kPartRows, n);
    return [n, part] {
      std::map<int, long long> byStatus;
      std::map<std::string, long long> byType;
      long long opsAfter = n - static_cast<long long>(part), eventsAfter = opsAfter;
      return jrxlog::countOperationsAfter(opsAfter, part, byStatus) == part &&
             jrxlog::countEventsAfter(eventsAfter, part, byType) == part;
    };
  }, 50);
  add(backend, size, "etaOwnPace", [](int n) {
    const int first = n / kRunning;  // the first running operation
    const std::string id = "req-" + std::to_string(first);
    return [id, first] {
      jrxlog::OperationEstimates estimates(kT0 + first + 40);
      return estimates.of(id).end.has_value();
    };
  }, 500);
  add(backend, size, "etaFromPeers", [](int n) {
    return [n] {
      jrxlog::OperationEstimates estimates(kT0 + n + 1);
      return estimates.of("lone").end == kT0 + n + 1 + 30;
    };
  }, 200);
  add(backend, size, "countWhole", [](int n) {
    return [n] {
      std::map<int, long long> byStatus;
      std::map<std::string, long long> byType;
      long long opsAfter = 0, eventsAfter = 0;
      const size_t part = jrxlog::LogCountKeeper::kPartRows;
      while (jrxlog::countOperationsAfter(opsAfter, part, byStatus) == part) {
      }
      while (jrxlog::countEventsAfter(eventsAfter, part, byType) == part) {
      }
      return byType["alert"] == n / 5;
    };
  }, 1);
}

}  // namespace

int main(int argc, char** argv) { return runBySize(argc, argv, logs(), 14, registerCases); }
