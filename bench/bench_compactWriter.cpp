// What compaction costs a writer: the latency of an agent's saveProgress calls (p50, p99 and
// the longest) on a log of many ended operations while `jrxlog compact ops` removes them in
// batches, while it does and then sweeps what they leave, and while the compact service
// removes them in its one transaction; then, on the same log, the same writer alone for as
// long again, which each case's ratios are to (measured right after, so that the load the
// machine had then weighs on both). Each case gets a log of its own, filled alike.
// Goal for the tool's path (batches, then the sweep): p99 at most 3 times the writer alone
// and no call as long as a second.
//
// SQLite always; MariaDB when JRX_TEST_MARIADB_URL names a server. JRX_BENCH_SMALL=1 for a
// quick run; JRX_BENCH_OPERATIONS=N: N operations to remove (default 20 000).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "AgentRecords.h"
#include "BenchDb.h"
#include "JRXLogMaintenance.h"
#include "JRXRetry.h"

using namespace JRX;
using namespace opbench;

namespace {

enum Mode { kBatched, kBatchedSweep, kOneTransaction };
const char* const kModeNames[] = {"beside compact in batches",
                                  "beside compact in batches, then sweep",
                                  "beside the compact service (one transaction)"};

struct Latencies {
  double p50 = 0, p99 = 0, max = 0;
  size_t calls = 0;
};
struct Case {
  Latencies beside, alone;
};
std::map<std::string, std::map<Mode, Case>> results;

// Ended operations recorded long ago, four reports each, put in batches as an import does.
void fillEndedOps(int ops) {
  JRXOpLogLocal log(nullptr);
  std::vector<JRXRequestProgressData> batch;
  for (int i = 0; i < ops; ++i) {
    const std::string id = "old-" + std::to_string(i);
    for (int r = 0; r < 4; ++r) {
      JRXRequestProgressData rec = report(id, r == 0 ? 0 : r == 3 ? 3 : 2, r * 30, "step");
      rec.time = kT0;
      batch.push_back(rec);
    }
    if (batch.size() >= 400 || i + 1 == ops) {
      if (retryService([&] { return log.putOps(batch); }) != 0)
        throw std::runtime_error("filling the log failed");
      batch.clear();
    }
  }
}

Latencies percentiles(std::vector<double> us) {
  Latencies l;
  if (us.empty()) return l;
  std::sort(us.begin(), us.end());
  l.p50 = us[us.size() / 2];
  l.p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
  l.max = us.back();
  l.calls = us.size();
  return l;
}

// One writer's saveProgress calls, each timed, until `more` says stop.
template <class More>
std::vector<double> writerCalls(const std::string& prefix, More&& more) {
  JRXOpLogLocal log(nullptr);
  std::vector<double> us;
  for (int i = 0; more(i); ++i) {
    const std::string id = prefix + std::to_string(i / 4);
    JRXRequestProgressData rec = report(id, i % 4 == 0 ? 0 : 2, (i % 4) * 25, "now");
    rec.time = static_cast<int64_t>(time(nullptr));
    const auto t0 = std::chrono::steady_clock::now();
    retryService([&] { return log.saveProgress(rec); });
    us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0)
                     .count());
  }
  return us;
}

void BM_Writer(benchmark::State& state, const std::string& backend, Mode mode) {
  const char* given = std::getenv("JRX_BENCH_OPERATIONS");
  const int ops = given && std::atoi(given) > 0 ? std::atoi(given) : bySize(2000, 20000);
  const size_t leastAloneCalls = bySize(200u, 2000u);
  for (auto _ : state) {
    state.PauseTiming();
    BenchDb db = freshDb(backend, kLocal);
    putAgentEnvs();
    fillEndedOps(ops);
    state.ResumeTiming();

    // Beside compaction, the calls that start while it runs count.
    std::atomic<bool> compacting{true};
    std::vector<double> beside;
    const auto began = std::chrono::steady_clock::now();
    std::thread writer(
        [&] { beside = writerCalls("new-", [&](int) { return compacting.load(); }); });
    if (mode == kBatched || mode == kBatchedSweep) {
      compactOpsInBatches(0, 5000, [](const char*, long long) {});
      if (mode == kBatchedSweep) sweepLog(5000, [](const char*, long long) {});
    } else {
      JRXOpLogLocal::compact(0);
    }
    compacting = false;
    writer.join();
    const auto took = std::chrono::steady_clock::now() - began;

    state.PauseTiming();
    const auto until = std::chrono::steady_clock::now() + took;
    const std::vector<double> alone = writerCalls("alone-", [&](int i) {
      return static_cast<size_t>(i) < leastAloneCalls || std::chrono::steady_clock::now() < until;
    });
    Case& c = results[backend][mode];
    c.beside = percentiles(beside);
    c.alone = percentiles(alone);
    state.counters["p50_us"] = c.beside.p50;
    state.counters["p99_us"] = c.beside.p99;
    state.counters["max_us"] = c.beside.max;
    state.counters["calls"] = static_cast<double>(beside.size());
    state.counters["alone_p99_us"] = c.alone.p99;
    state.counters["alone_max_us"] = c.alone.max;
    dropDb(db);
    state.ResumeTiming();
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::vector<std::string> backends = {"sqlite"};
  if (mariaServer()) backends.push_back("mariadb");
  for (const std::string& backend : backends)
    for (Mode mode : {kBatched, kBatchedSweep, kOneTransaction})
      benchmark::RegisterBenchmark((backend + "/" + kModeNames[mode]).c_str(), BM_Writer,
                                   backend, mode)
          ->Iterations(1)
          ->UseRealTime()
          ->Unit(benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();
  std::printf("\nsaveProgress latency beside compaction, as ratios to the writer alone for as "
              "long right after\n(p50 / p99 / max; goal for batches then sweep: p99 <= 3, "
              "max < 1 s):\n");
  for (const auto& b : results)
    for (const auto& m : b.second) {
      const Latencies& x = m.second.beside;
      const Latencies& a = m.second.alone;
      if (a.p50 <= 0 || a.p99 <= 0 || a.max <= 0) continue;
      std::printf("  %-8s %-46s %6.2f / %6.2f / %6.2f   max %7.1f ms  (%zu calls; alone p99 "
                  "%.2f ms, %zu calls)\n",
                  b.first.c_str(), kModeNames[m.first], x.p50 / a.p50, x.p99 / a.p99,
                  x.max / a.max, x.max / 1000, x.calls, a.p99 / 1000, a.calls);
    }
  benchmark::Shutdown();
  return 0;
}
