// getOps as the operation log grows: the newest five records (and the newest five of the
// running operations) should cost about the same at ten thousand and at a million stored
// operations. The ratio lines at the end compare the two sizes on each database; under 3
// is the goal. Afterwards, the memory a scan without a limit takes over the large log: one
// that stops at the cap of 1000 records, and one that has to visit every operation.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "LogSizes.h"
#include "TableFill.h"

using namespace JRX;
using namespace opbench;

namespace {

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

LogSizes& logs() {
  static LogSizes sizes(kLocal, fill, "operations");
  return sizes;
}

// Memory and time of one call, printed.
void scan(const char* what, const JRXEID& eid, size_t expect) {
  JRXOpLogLocal service(nullptr);
  std::vector<JRXRequestProgressData> out;
  int r = 0;
  CallCost cost = measureCall([&] {
    r = service.getOps(&out, eid, "", "", "", false, false, kNoLimit, 0, kNoUpper);
  });
  std::printf("  %-44s result %d, %zu records (expected %zu), %s\n", what, r, out.size(), expect,
              cost.text().c_str());
}

void registerCases(const std::string& backend, int size, bool scansAfter) {
  struct Case {
    const char* name;
    bool activeOnly;
  };
  for (const Case& c : {Case{"newest5", false}, Case{"newest5_running", true}}) {
    const std::string name = std::string("getOps_") + c.name + "/" + backend + "/" +
                             std::to_string(size);
    benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
      logs().use(backend, size);
      JRXOpLogLocal service(nullptr);
      std::vector<JRXRequestProgressData> out;
      logs().timeCalls(state, backend, c.name, size, [&] { out.clear(); }, [&] {
        return service.getOps(&out, JRXEID::EID_INVALID, "", "", "", false, c.activeOnly, 5, 0,
                              kNoUpper) == 0 &&
               out.size() == 5;
      });
    })->Unit(benchmark::kMicrosecond);
  }
  if (scansAfter) {
    const std::string name = "scans_without_limit/" + backend + "/" + std::to_string(size);
    benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
      logs().use(backend, size);
      for (auto _ : state) {
        std::printf("%s: scans without a limit over %d operations\n", backend.c_str(), size);
        scan("oldest first, stops at the cap", JRXEID::EID_INVALID, 1000);
        scan("one operation with the asked operand", kNeedle, 1);
        std::fflush(stdout);
      }
    })->Iterations(1)->Unit(benchmark::kMillisecond);
  }
}

}  // namespace

int main(int argc, char** argv) { return runBySize(argc, argv, logs(), 16, registerCases); }
