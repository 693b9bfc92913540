// What compaction costs a writer: the latency of an agent's saveProgress calls (p50, p99 and
// the longest) on a log of many ended operations, alone, while `jrxlog compact ops` removes
// them in batches and sweeps what they leave, and while the compact service removes them in
// its one transaction. Each case gets a log of its own, filled alike; the ratios are to the
// writer alone.
//
// SQLite always; MariaDB when JRX_TEST_MARIADB_URL names a server. JRX_BENCH_SMALL=1 for a
// quick run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
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

enum Mode { kAlone, kBatched, kBatchedSweep, kOneTransaction };
const char* const kModeNames[] = {"writer alone", "beside compact in batches",
                                  "beside compact in batches, then sweep",
                                  "beside the compact service (one transaction)"};

struct Latencies {
  double p50 = 0, p99 = 0, max = 0;
};
std::map<std::string, std::map<Mode, Latencies>> results;

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
  return l;
}

void BM_Writer(benchmark::State& state, const std::string& backend, Mode mode) {
  const int ops = bySize(2000, 20000);
  const int aloneCalls = bySize(200, 2000);
  for (auto _ : state) {
    state.PauseTiming();
    BenchDb db = freshDb(backend, kLocal);
    putAgentEnvs();
    fillEndedOps(ops);
    state.ResumeTiming();

    // Beside compaction, the calls that start while it runs count.
    std::atomic<bool> compacting{mode != kAlone};
    std::vector<double> us;
    std::thread writer([&] {
      JRXOpLogLocal log(nullptr);
      for (int i = 0; mode == kAlone ? i < aloneCalls : compacting.load(); ++i) {
        const std::string id = "new-" + std::to_string(i / 4);
        JRXRequestProgressData rec = report(id, i % 4 == 0 ? 0 : 2, (i % 4) * 25, "now");
        rec.time = static_cast<int64_t>(time(nullptr));
        const auto t0 = std::chrono::steady_clock::now();
        retryService([&] { return log.saveProgress(rec); });
        us.push_back(std::chrono::duration<double, std::micro>(
                         std::chrono::steady_clock::now() - t0).count());
      }
    });
    if (mode == kBatched || mode == kBatchedSweep) {
      compactOpsInBatches(0, 5000, [](const char*, long long) {});
      if (mode == kBatchedSweep) sweepLog(5000, [](const char*, long long) {});
    } else if (mode == kOneTransaction) {
      JRXOpLogLocal::compact(0);
    }
    compacting = false;
    writer.join();

    state.PauseTiming();
    const Latencies l = percentiles(us);
    results[backend][mode] = l;
    state.counters["p50_us"] = l.p50;
    state.counters["p99_us"] = l.p99;
    state.counters["max_us"] = l.max;
    state.counters["calls"] = static_cast<double>(us.size());
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
    for (Mode mode : {kAlone, kBatched, kBatchedSweep, kOneTransaction})
      benchmark::RegisterBenchmark((backend + "/" + kModeNames[mode]).c_str(), BM_Writer,
                                   backend, mode)
          ->Iterations(1)
          ->UseRealTime()
          ->Unit(benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();
  std::printf("\nsaveProgress latency beside compaction, as ratios to the writer alone "
              "(p50 / p99 / max):\n");
  for (const auto& b : results) {
    const Latencies& alone = b.second.at(kAlone);
    for (Mode mode : {kBatched, kBatchedSweep, kOneTransaction}) {
      auto it = b.second.find(mode);
      if (it == b.second.end() || alone.p50 <= 0) continue;
      std::printf("  %-8s %-46s %6.2f / %6.2f / %6.2f\n", b.first.c_str(), kModeNames[mode],
                  it->second.p50 / alone.p50, it->second.p99 / alone.p99,
                  it->second.max / alone.max);
    }
  }
  benchmark::Shutdown();
  return 0;
}
