// Restart recovery and operation compaction on large logs, on each database: finishOps
// closing ten thousand unfinished operations (one closing report each), and
// JRXOpLogLocal::compact removing the ended part of a million operations in one DELETE.
// Each is also run on a log a tenth (finishOps) or a hundredth (compact) the size as the
// baseline: the cost per operation should stay about the same. Time and peak memory are
// printed for every run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "BenchDb.h"
#include "CallCost.h"
#include "TableFill.h"
#include "store/LogTables.h"

using namespace JRX;
using namespace opbench;

namespace {

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

struct Line {
  std::string what;
  int size;
  CallCost cost;
  bool ok = false;
  bool ran = false;
};
std::vector<Line> lines;

// One call that changes the log, on a new database `fill` prepares, as a benchmark of one
// iteration; `call` returns whether the log is as it should be afterwards.
void registerRun(const std::string& what, const std::string& backend, int n,
                 std::function<void()> fill, std::function<bool(JRXOpLogLocal&)> call) {
  lines.push_back(Line{what + " " + backend, n, CallCost(), false, false});
  const size_t index = lines.size() - 1;
  const std::string name = what + "/" + backend + "/" + std::to_string(n);
  benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
    BenchDb db = freshDb(backend, kLocal);
    fill();
    Line& line = lines[index];
    {
      JRXOpLogLocal service(nullptr);
      for (auto _ : state) {
        line.cost = measureCall([&] { line.ok = call(service); });
        line.ran = true;
        if (!line.ok) state.SkipWithError("wrong outcome");
      }
    }
    state.counters["peak_rss_kB"] = static_cast<double>(line.cost.peakOverKb);
    dropDb(db);
  })->Iterations(1)->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (const std::string& backend : backends()) {
    for (int n : bySize(std::vector<int>{100, 1000}, std::vector<int>{1000, 10000}))
      registerRun("finishOps", backend, n, [n] { fillUnfinished(n); },
                  [n](JRXOpLogLocal& service) {
                    return service.finishOps() == 0 && countOps(4) == n;
                  });
    for (int n : bySize(std::vector<int>{2000, 20000}, std::vector<int>{10000, 1000000}))
      registerRun("compact", backend, n, [backend, n] {
        auto t0 = std::chrono::steady_clock::now();
        fillForCompaction(n);
        std::printf("%s: %d operations stored in %.1f s\n", backend.c_str(), n,
                    secondsSince(t0));
      }, [n](JRXOpLogLocal&) { return JRXOpLogLocal::compact(3600) == 0 && countOps(0) == n / 10; });
  }
  benchmark::RunSpecifiedBenchmarks();

  std::printf("\n%-20s %10s %10s %14s %14s\n", "run", "operations", "seconds", "us/operation",
              "peak RSS +kB");
  std::map<std::string, double> baseline;
  for (const Line& l : lines) {
    if (!l.ran) continue;
    const double per = l.cost.seconds * 1e6 / l.size;
    std::printf("%-20s %10d %10.3f %14.2f %14ld%s", l.what.c_str(), l.size, l.cost.seconds, per,
                l.cost.peakOverKb, l.ok ? "" : "  WRONG OUTCOME");
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
