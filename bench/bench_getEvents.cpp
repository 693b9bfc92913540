// getEvents as the event log grows: the newest 100 events of one environment should cost
// about the same at ten thousand and at a million stored events, both for an environment
// that raised half of all events and for one that raised only twenty, spread over the whole
// history. The ratio lines compare the two sizes on each database; under 3 is the goal.
// Afterwards, the large log is compacted down to a tenth: time and peak memory.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "LogSizes.h"
#include "TableFill.h"
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

LogSizes& logs() {
  static LogSizes sizes(kLocal, fill, "events");
  return sizes;
}

void compactToATenth(int size);

void registerCases(const std::string& backend, int size, bool compactAfter) {
  struct Case {
    const char* name;
    JRXEID eid;
    size_t expect;
  };
  const Case cases[] = {{"busy_env", kBusy, 100},
                        {"quiet_env", kQuiet, kQuietEvents},
                        {"any_env", JRXEID::EID_INVALID, 100}};
  for (const Case& c : cases) {
    const std::string name =
        std::string("getEvents_") + c.name + "/" + backend + "/" + std::to_string(size);
    benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
      logs().use(backend, size);
      JRXEventLogLocal service(nullptr);
      std::vector<JRXEvent> out;
      logs().timeCalls(state, backend, c.name, size, [&] { out.clear(); }, [&] {
        return service.getEvents(&out, c.eid, true, 100, "", "", false, 0, kNoUpper) == 0 &&
               out.size() == c.expect;
      });
    })->Unit(benchmark::kMicrosecond);
  }
  if (compactAfter) {
    const std::string name = "compact_to_a_tenth/" + backend + "/" + std::to_string(size);
    benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
      logs().use(backend, size);
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
  int r = 0;
  CallCost cost = measureCall([&] { r = JRXEventLogLocal::compact(keep); });
  std::printf("  compact(%d) over %d events: result %d, %lld left, %s\n", keep, size, r,
              countEvents(), cost.text().c_str());
}

}  // namespace

int main(int argc, char** argv) { return runBySize(argc, argv, logs(), 10, registerCases); }
