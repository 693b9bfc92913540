// Restart recovery and operation compaction on large logs, on each database: finishOps
// closing ten thousand unfinished operations (one closing report each), and
// JRXOpLogLocal::compact removing the ended part of a million operations in one DELETE.
// Each is also run on a log a tenth (finishOps) or a hundredth (compact) the size as the
// baseline: the cost per operation should stay about the same. Time and peak memory are
// printed for every run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "OpBench.h"
#include "store/LogTables.h"

using namespace JRX;
using namespace opbench;

namespace {

// One run per data set: the library's own default reporter cannot be reused across runs.
void runRegistered() {
  benchmark::ConsoleReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::ClearRegisteredBenchmarks();
}

const JRXEID kLocal(0x10c41, 0x1);
const JRXEID kRemote(0x4e30, 0x2);

// `unfinished` running operations executed by the local node, each with a progress row,
// between ten times as many ended ones and a few running on another node.
void fillUnfinished(int unfinished) {
  {
    TableFill nodes("Environment", "eid");
    nodes.row(guidLiteral(kLocal));
    nodes.row(guidLiteral(kRemote));
  }
  {
    TableFill envs("env_log", "id, eid, title, type");
    envs.row("1," + guidLiteral(kLocal) + ",'local-node','node'");
    envs.row("2," + guidLiteral(kRemote) + ",'remote-node','node'");
  }
  // One table at a time: each fill runs its own transactions.
  const int total = unfinished * 11 + 100;
  auto remote = [unfinished](int i) { return i > unfinished * 11; };
  auto running = [&](int i) { return remote(i) || i % 11 == 0; };
  {
    TableFill ops("op_log", "op_id, op, id, parent_id, time, status, session_id");
    for (int i = 1; i <= total; ++i)
      ops.row(std::to_string(i) + ",'job','req-" + std::to_string(i) + "',''," +
              std::to_string(1700000000 + i) + "," + (running(i) ? "2" : "3") + ",''");
  }
  {
    const std::string info = infoLiteral("working");
    TableFill data("op_log_data", "op_id, progress, time, status, info");
    for (int i = 1; i <= total; ++i)
      data.row(std::to_string(i) + ",50," + std::to_string(1700000000 + i) + "," +
               (running(i) ? "2," : "3,") + info);
  }
  {
    TableFill links("op_log_env", "op_id, env_id, role, is_default");
    for (int i = 1; i <= total; ++i) {
      links.row(std::to_string(i) + "," + (remote(i) ? "2" : "1") + ",'P','N'");
      links.row(std::to_string(i) + ",1,'S','Y'");
    }
  }
}

// `rows` operations, one in ten still running, all recorded long ago.
void fillForCompaction(int rows) {
  TableFill ops("op_log", "op_id, op, id, parent_id, time, status, session_id");
  for (int i = 1; i <= rows; ++i)
    ops.row(std::to_string(i) + ",'job','req-" + std::to_string(i) + "','',"
            + std::to_string(1000000000 + i) + "," + (i % 10 == 0 ? "1" : "4") + ",''");
}

long long countOps(int status) {
  JRXRdbmsTran tran;
  op_log ops;
  ASCursor c(*tran);
  c.Project() << ops->op_id;
  if (status != 0) c.Set(ops->status == status);
  long long n = 0;
  while (c.Fetch()) ++n;
  return n;
}

struct Run {
  double seconds = 0;
  long peakKb = 0;
  bool ok = false;
};

// Times one call in a benchmark of its own (one iteration: the call changes the log).
Run measure(const std::string& name, const std::function<bool()>& call) {
  Run run;
  benchmark::RegisterBenchmark(name.c_str(), [&](benchmark::State& state) {
    for (auto _ : state) {
      const long before = rssKb();
      resetPeak();
      auto t0 = std::chrono::steady_clock::now();
      run.ok = call();
      run.seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      run.peakKb = peakKb() - before;
      if (!run.ok) state.SkipWithError("wrong outcome");
    }
    state.counters["peak_rss_kB"] = static_cast<double>(run.peakKb);
  })->Iterations(1)->Unit(benchmark::kMillisecond);
  runRegistered();
  return run;
}

struct Line {
  std::string what;
  int size;
  Run run;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const std::vector<int> finishSizes = small() ? std::vector<int>{100, 1000}
                                               : std::vector<int>{1000, 10000};
  const std::vector<int> compactSizes = small() ? std::vector<int>{2000, 20000}
                                                : std::vector<int>{10000, 1000000};
  std::vector<Line> lines;

  for (const std::string& backend : backends()) {
    for (int n : finishSizes) {
      BenchDb db = freshDb(backend, kLocal);
      fillUnfinished(n);
      JRXOpLogLocal service(nullptr);
      Run r = measure("finishOps/" + backend + "/" + std::to_string(n), [&] {
        return service.finishOps() == 0 && countOps(4) == n;
      });
      lines.push_back({"finishOps " + backend, n, r});
      dropDb(db);
    }
    for (int n : compactSizes) {
      BenchDb db = freshDb(backend, kLocal);
      auto t0 = std::chrono::steady_clock::now();
      fillForCompaction(n);
      std::printf("%s: %d operations stored in %.1f s\n", backend.c_str(), n,
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
      Run r = measure("compact/" + backend + "/" + std::to_string(n), [&] {
        return JRXOpLogLocal::compact(3600) == 0 && countOps(0) == n / 10;
      });
      lines.push_back({"compact " + backend, n, r});
      dropDb(db);
    }
  }

  std::printf("\n%-20s %10s %10s %14s %14s\n", "run", "operations", "seconds", "us/operation",
              "peak RSS +kB");
  std::map<std::string, double> baseline;
  for (const Line& l : lines) {
    const double per = l.run.seconds * 1e6 / l.size;
    std::printf("%-20s %10d %10.3f %14.2f %14ld%s", l.what.c_str(), l.size, l.run.seconds, per,
                l.run.peakKb, l.run.ok ? "" : "  WRONG OUTCOME");
    auto b = baseline.find(l.what);
    if (b == baseline.end())
      baseline[l.what] = per;
    else
      std::printf("   per-operation ratio to the small run %.2f", per / b->second);
    std::printf("\n");
  }
  benchmark::Shutdown();
  return 0;
}
