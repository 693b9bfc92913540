// getOps as the operation log grows: the newest five records (and the newest five of the
// running operations) should cost about the same at ten thousand and at a million stored
// operations. The ratio lines at the end compare the two sizes on each database; under 3
// is the goal. Afterwards, the memory a scan without a limit takes over the large log: one
// that stops at the cap of 1000 records, and one that has to visit every operation.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "OpBench.h"

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
const JRXEID kNeedle(0xbeef, 0x1);
const int kT0 = 1700000000;
const int kEnvs = 10;
const unsigned int kNoLimit = 2147483647;
const long kNoUpper = 2147483647;

// Every operation has one progress row, a source and an operand; one in fifty still runs.
// Only the newest operation has kNeedle among its operands.
void fill(int n) {
  {
    TableFill envs("env_log", "id, eid, title, type");
    for (int e = 1; e <= kEnvs; ++e)
      envs.row(std::to_string(e) + "," + guidLiteral(JRXEID(0xe0, e)) + ",'env-" +
               std::to_string(e) + "','node'");
    envs.row(std::to_string(kEnvs + 1) + "," + guidLiteral(kNeedle) + ",'needle','node'");
  }
  {
    TableFill ops("op_log", "op_id, op, id, parent_id, time, status, session_id");
    for (int i = 1; i <= n; ++i)
      ops.row(std::to_string(i) + ",'op-" + std::to_string(i % 7) + "','req-" + std::to_string(i) +
              "',''," + std::to_string(kT0 + i) + "," + (i % 50 == 0 ? "2" : "3") + ",''");
  }
  const std::string done = infoLiteral("copied {n} files");
  const std::string running = infoLiteral("copying");
  {
    TableFill data("op_log_data", "op_id, progress, time, status, info");
    for (int i = 1; i <= n; ++i)
      data.row(std::to_string(i) + "," + (i % 50 == 0 ? "40" : "100") + "," +
               std::to_string(kT0 + i) + "," + (i % 50 == 0 ? "2," + running : "3," + done));
  }
  {
    TableFill links("op_log_env", "op_id, env_id, role, is_default");
    for (int i = 1; i <= n; ++i) {
      links.row(std::to_string(i) + "," + std::to_string(1 + i % kEnvs) + ",'S','N'");
      links.row(std::to_string(i) + "," + std::to_string(1 + (i + 3) % kEnvs) + ",'O','N'");
    }
    links.row(std::to_string(n) + "," + std::to_string(kEnvs + 1) + ",'O','N'");
  }
}

struct Case {
  const char* name;
  bool activeOnly;
};
const Case kCases[] = {{"newest5", false}, {"newest5_running", true}};

// Microseconds per call of the last (measured) run, by backend, case and size.
std::map<std::string, std::map<std::string, std::map<int, double>>> perCall;

void registerCases(const std::string& backend, int size) {
  for (const Case& c : kCases) {
    const std::string name = std::string("getOps_") + c.name + "/" + backend + "/" +
                             std::to_string(size);
    const bool active = c.activeOnly;
    const std::string caseName = c.name;
    benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
      JRXOpLogLocal service(nullptr);
      std::vector<JRXRequestProgressData> out;
      double total = 0;
      long calls = 0;
      for (auto _ : state) {
        out.clear();
        auto t0 = std::chrono::steady_clock::now();
        int r = service.getOps(&out, JRXEID::EID_INVALID, "", "", "", false, active, 5, 0,
                               kNoUpper);
        total += std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0)
                     .count();
        ++calls;
        if (r != 0 || out.size() != 5) {
          state.SkipWithError("getOps did not return five records");
          break;
        }
      }
      if (calls) perCall[backend][caseName][size] = total / calls;
    })->Unit(benchmark::kMicrosecond);
  }
}

// Memory and time of one call, printed.
void scan(const char* what, const JRXEID& eid, size_t expect) {
  JRXOpLogLocal service(nullptr);
  std::vector<JRXRequestProgressData> out;
  const long before = rssKb();
  const bool reset = resetPeak();
  auto t0 = std::chrono::steady_clock::now();
  int r = service.getOps(&out, eid, "", "", "", false, false, kNoLimit, 0, kNoUpper);
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const long peak = peakKb();
  std::printf("  %-44s result %d, %zu records (expected %zu), %.2f s, peak RSS %+ld kB over %ld kB%s\n",
              what, r, out.size(), expect, s, peak - before, before,
              reset ? "" : " (peak not resettable: process peak)");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const std::vector<int> sizes = small() ? std::vector<int>{1000, 20000}
                                         : std::vector<int>{10000, 1000000};
  for (const std::string& backend : backends()) {
    for (int size : sizes) {
      BenchDb db = freshDb(backend, kLocal);
      auto t0 = std::chrono::steady_clock::now();
      fill(size);
      std::printf("%s: %d operations stored in %.1f s\n", backend.c_str(), size,
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
      std::fflush(stdout);
      registerCases(backend, size);
      runRegistered();
      if (size == sizes.back()) {
        std::printf("%s: scans without a limit over %d operations\n", backend.c_str(), size);
        scan("oldest first, stops at the cap", JRXEID::EID_INVALID, 1000);
        scan("one matching operand, visits every operation", kNeedle, 1);
      }
      std::fflush(stdout);
      dropDb(db);
    }
  }

  std::printf("\nTime per call, small vs large log (goal: ratio under 3)\n");
  for (auto& b : perCall)
    for (auto& c : b.second) {
      auto& bySize = c.second;
      if (bySize.size() < 2) continue;
      double a = bySize.begin()->second, z = bySize.rbegin()->second;
      std::printf("  %-8s %-16s %8d ops: %8.1f us   %8d ops: %8.1f us   ratio %.2f\n",
                  b.first.c_str(), c.first.c_str(), bySize.begin()->first, a,
                  bySize.rbegin()->first, z, z / a);
    }
  benchmark::Shutdown();
  return 0;
}
