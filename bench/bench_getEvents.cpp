// getEvents as the event log grows: the newest 100 events of one environment should cost
// about the same at ten thousand and at a million stored events, both for an environment
// that raised half of all events and for one that raised only twenty, spread over the whole
// history. The ratio lines compare the two sizes on each database; under 3 is the goal.
// Afterwards, the large log is compacted down to a tenth: time and peak memory.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "OpBench.h"
#include "store/LogTables.h"
#include "store/ValueEncodings.h"

using namespace JRX;
using namespace opbench;

namespace {

const JRXEID kLocal(0x10c41, 0x1);
const JRXEID kBusy(0xb0, 0x1);
const JRXEID kQuiet(0x9e, 0x2);
const int kOthers = 10;
const int kQuietEvents = 20;
const int kT0 = 1700000000;
const long kNoUpper = 2147483647;

JRXEID other(int k) { return JRXEID(0x07, 0x100 + k); }

// Every other event comes from kBusy, twenty from kQuiet at even distances, the rest from ten
// further environments. Times follow the order of recording with a jitter of a few seconds,
// so that the two orders disagree locally as they do in a real log.
void fill(int n) {
  {
    TableFill envs("env_log", "id, eid, title, type");
    envs.row("1," + guidLiteral(kBusy) + ",'busy','node'");
    envs.row("2," + guidLiteral(kQuiet) + ",'quiet','node'");
    for (int k = 0; k < kOthers; ++k)
      envs.row(std::to_string(3 + k) + "," + guidLiteral(other(k)) + ",'other','vm'");
  }
  std::string infoBin;
  logdb::putInfoToBinary(JRXInfo("disk {id} is full"), infoBin);
  const std::string infoBinLit = hex(infoBin);
  const std::string infoLit = hex(std::string("disk {id} is full", 18));
  const int quietStep = n / kQuietEvents;
  {
    TableFill events("events_log", "event_id, guid, code, time, category, type, sid, info_bin, info");
    for (int i = 1; i <= n; ++i)
      events.row(std::to_string(i) + ",'bench-" + std::to_string(i) + "'," +
                 std::to_string(i % 100) + "," + std::to_string(kT0 + i + static_cast<int>((i * 7919LL) % 13) - 6) +
                 ",'monitor','alert','0105ab'," + infoBinLit + "," + infoLit);
  }
  {
    TableFill links("events_log_env", "event_id, env_id, role");
    for (int i = 1; i <= n; ++i) {
      int env = i % 2 == 0 ? 1 : (i % quietStep == 1 ? 2 : 3 + i % kOthers);
      links.row(std::to_string(i) + "," + std::to_string(env) + ",'S'");
    }
  }  // A log that grew to this size over months has had its index statistics refreshed by
  // InnoDB many times (it does so on its own after every tenth of a table changed); a bulk
  // load outruns that background work, so the benchmark asks for it, as time would have.
  JRXRdbmsTran tran;
  if (std::string((*tran)->Dialect()) == "mariadb")
    (*tran)->ExecuteSql("ANALYZE TABLE events_log, events_log_env, env_log");
}

// The database the cases of one backend and size run on; made and filled when first needed.
void useDatabase(const std::string& backend, int size) {
  static BenchDb current;
  static int currentSize = 0;
  if (current.backend == backend && currentSize == size) return;
  if (!current.backend.empty()) dropDb(current);
  current = BenchDb();
  currentSize = size;
  if (backend.empty()) return;
  current = freshDb(backend, kLocal);
  auto t0 = std::chrono::steady_clock::now();
  fill(size);
  std::printf("%s: %d events stored in %.1f s\n", backend.c_str(), size,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  std::fflush(stdout);
}

struct Case {
  const char* name;
  JRXEID eid;
  size_t expect;
};

// Microseconds per call, by backend, case and size.
std::map<std::string, std::map<std::string, std::map<int, double>>> perCall;

void compactToATenth(int size);

void registerCases(const std::string& backend, int size, bool compactAfter) {
  const Case cases[] = {{"busy_env", kBusy, 100},
                        {"quiet_env", kQuiet, kQuietEvents},
                        {"any_env", JRXEID::EID_INVALID, 100}};
  for (const Case& c : cases) {
    const std::string name =
        std::string("getEvents_") + c.name + "/" + backend + "/" + std::to_string(size);
    const Case cc = c;
    benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
      useDatabase(backend, size);
      JRXEventLogLocal service(nullptr);
      std::vector<JRXEvent> out;
      double total = 0;
      long calls = 0;
      for (auto _ : state) {
        out.clear();
        auto t0 = std::chrono::steady_clock::now();
        int r = service.getEvents(&out, cc.eid, true, 100, "", "", false, 0, kNoUpper);
        total += std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0)
                     .count();
        ++calls;
        if (r != 0 || out.size() != cc.expect) {
          state.SkipWithError("getEvents did not return the expected events");
          break;
        }
      }
      if (calls) perCall[backend][cc.name][size] = total / calls;
    })->Unit(benchmark::kMicrosecond);
  }
  if (compactAfter) {
    const std::string name = "compact_to_a_tenth/" + backend + "/" + std::to_string(size);
    benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
      useDatabase(backend, size);
      for (auto _ : state) compactToATenth(size);
    })->Iterations(1)->Unit(benchmark::kMillisecond);
  }
}

long long countEvents() {
  JRXRdbmsTran tran;
  events_log ev;
  ASCursor c(*tran);
  c.Project() << ev->event_id;
  long long n = 0;
  while (c.Fetch()) ++n;
  return n;
}

void compactToATenth(int size) {
  const int keep = size / 10;
  const long before = rssKb();
  const bool reset = resetPeak();
  auto t0 = std::chrono::steady_clock::now();
  int r = JRXEventLogLocal::compact(keep);
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const long peak = peakKb();
  std::printf("  compact(%d) over %d events: result %d, %lld left, %.2f s, peak RSS %+ld kB over %ld kB%s\n",
              keep, size, r, countEvents(), s, peak - before, before,
              reset ? "" : " (peak not resettable: process peak)");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const std::vector<int> sizes = small() ? std::vector<int>{1000, 20000}
                                         : std::vector<int>{10000, 1000000};
  // Registered once and run once: each case switches to its database, filled on first use.
  for (const std::string& backend : backends())
    for (int size : sizes) registerCases(backend, size, size == sizes.back());
  benchmark::RunSpecifiedBenchmarks();
  useDatabase("", 0);

  std::printf("\nTime per call, small vs large log (goal: ratio under 3)\n");
  for (auto& b : perCall)
    for (auto& c : b.second) {
      auto& bySize = c.second;
      if (bySize.size() < 2) continue;
      double a = bySize.begin()->second, z = bySize.rbegin()->second;
      std::printf("  %-8s %-10s %8d events: %8.1f us   %8d events: %8.1f us   ratio %.2f\n",
                  b.first.c_str(), c.first.c_str(), bySize.begin()->first, a,
                  bySize.rbegin()->first, z, z / a);
    }
  benchmark::Shutdown();
  return 0;
}
