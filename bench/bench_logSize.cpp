// Every service call as the log grows: the same call on logs of ten thousand, a hundred
// thousand and a million operations and events, on each database, as ratios to its own
// ten-thousand figure, with the peak memory of the calls. The goal is under 3 everywhere.
//
// The log: the local node is the source and executing node of every operation (the busy
// environment of the write path), each operation has one of ten operand environments and one
// progress row, and a hundred operations are unfinished at every size. Events come from a
// busy environment (every other one), a quiet one (twenty, spread over the history) and ten
// others; the first three hundred recorded are the newest by time, as after an import of
// older history. Listings read on from a place in the middle of the log cost what a part
// reads, not what lies before it. Afterwards, on the largest log: scans without a limit and a compaction to a
// tenth, with time and peak memory.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "LogSizes.h"
#include "TableFill.h"
#include "store/LogTables.h"
#include "store/LogsEnvInfo.h"
#include "store/ValueEncodings.h"

using namespace JRX;
using namespace opbench;

namespace {

const JRXEID kLocal(0x10c41, 0x1);
const JRXEID kBusy(0xb0, 0x1);
const JRXEID kQuiet(0x9e, 0x2);
const JRXEID kNeedle(0xbeef, 0x1);
const int kOthers = 10;
const int kQuietEvents = 20;
const int kRecentEvents = 300;
const int kUnfinished = 100;
const int kT0 = 1700000000;
const unsigned int kNoLimit = 2147483647;
const long kNoUpper = 2147483647;

JRXEID operandEnv(int k) { return JRXEID(0xe0, 1 + k); }
JRXEID otherSource(int k) { return JRXEID(0x07, 0x100 + k); }

struct Counts {
  int busy = 0, quiet = 0, events = 0;
  std::vector<int> unfinished;
};
Counts counts;

int localEnvId() {
  JRXRdbmsTran tran;
  int id = logdb::LogsEnvInfo(JRXEnvInfo(kLocal), true).getSqlID(tran);
  tran.commit();
  return id;
}

void fillOps(int n) {
  const int local = localEnvId();  // as the reports of the write path will find it
  const int firstOperand = local + 1;
  {
    TableFill envs("env_log", "id, eid, title, type");
    for (int k = 0; k < kOthers; ++k)
      envs.row(std::to_string(firstOperand + k) + "," + guidLiteral(operandEnv(k)) + ",'vm-" +
               std::to_string(k) + "','vm'");
    envs.row(std::to_string(firstOperand + kOthers) + "," + guidLiteral(kNeedle) +
             ",'needle','vm'");
  }
  counts.unfinished.clear();
  const int every = n / kUnfinished;
  {
    TableFill ops("op_log", "op_id, op, id, parent_id, time, status, session_id");
    for (int i = 1; i <= n; ++i) {
      const bool running = i % every == 0;
      if (running) counts.unfinished.push_back(i);
      ops.row(std::to_string(i) + ",'op-" + std::to_string(i % 7) + "','req-" +
              std::to_string(i) + "',''," + std::to_string(kT0 + i) + "," +
              (running ? "2" : "3") + ",''");
    }
  }
  const std::string done = infoLiteral("copied {n} files");
  const std::string running = infoLiteral("copying");
  {
    TableFill data("op_log_data", "op_id, progress, time, status, info");
    for (int i = 1; i <= n; ++i)
      data.row(std::to_string(i) + "," + (i % every == 0 ? "40" : "100") + "," +
               std::to_string(kT0 + i) + "," + (i % every == 0 ? "2," + running : "3," + done));
  }
  {
    TableFill links("op_log_env", "op_id, env_id, role, is_default");
    const std::string localText = std::to_string(local);
    for (int i = 1; i <= n; ++i) {
      const std::string op = std::to_string(i);
      links.row(op + "," + localText + ",'S','Y'");
      links.row(op + "," + localText + ",'P','N'");
      links.row(op + "," + std::to_string(firstOperand + i % kOthers) + ",'O','N'");
    }
    links.row(std::to_string(n) + "," + std::to_string(firstOperand + kOthers) + ",'O','N'");
  }
}

void fillEvents(int n) {
  int id = 0;
  {
    JRXRdbmsTran tran;
    env_log last;
    ASCursor c(*tran);
    c.Project() << last->id;
    c.Order(-last->id).Limit(1);
    if (c.Fetch()) id = static_cast<int>(last.id.Int());
  }
  const int busy = ++id, quiet = ++id, firstOther = id + 1;
  {
    TableFill envs("env_log", "id, eid, title, type");
    envs.row(std::to_string(busy) + "," + guidLiteral(kBusy) + ",'busy','node'");
    envs.row(std::to_string(quiet) + "," + guidLiteral(kQuiet) + ",'quiet','node'");
    for (int k = 0; k < kOthers; ++k)
      envs.row(std::to_string(firstOther + k) + "," + guidLiteral(otherSource(k)) + ",'other','vm'");
  }
  std::string infoBin;
  logdb::putInfoToBinary(JRXInfo("disk {id} is full"), infoBin);
  const std::string infoBinLit = hex(infoBin);
  const std::string infoLit = hex(std::string("disk {id} is full", 18));
  const int quietStep = n / kQuietEvents;
  counts = Counts{0, 0, n, counts.unfinished};
  {
    TableFill events("events_log",
                     "event_id, guid, code, time, category, type, sid, info_bin, info");
    for (int i = 1; i <= n; ++i) {
      // The first recorded are the newest: older history imported after them.
      const int time = i <= kRecentEvents ? kT0 + n + i : kT0 + i;
      events.row(std::to_string(i) + ",'bench-" + std::to_string(i) + "'," +
                 std::to_string(i % 100) + "," + std::to_string(time) +
                 ",'monitor','alert','0105ab'," + infoBinLit + "," + infoLit);
    }
  }
  {
    TableFill links("events_log_env", "event_id, env_id, role");
    for (int i = 1; i <= n; ++i) {
      int env = firstOther + i % kOthers;
      if (i % 2 == 0) {
        env = busy;
        ++counts.busy;
      } else if (i % quietStep == 1) {
        env = quiet;
        ++counts.quiet;
      }
      links.row(std::to_string(i) + "," + std::to_string(env) + ",'S'");
    }
  }
}

void fill(int n) {
  fillOps(n);
  fillEvents(n);
  // A log that grew to this size over months has had its index statistics refreshed by
  // InnoDB many times (it does so on its own after every tenth of a table changed); a bulk
  // load outruns that background work, so the benchmark asks for it, as time would have.
  JRXRdbmsTran tran;
  if (std::string((*tran)->Dialect()) == "mariadb")
    (*tran)->ExecuteSql(
        "ANALYZE TABLE op_log, op_log_env, op_log_data, env_log, events_log, events_log_env");
}

LogSizes& logs() {
  static LogSizes sizes(kLocal, fill, "rows");
  return sizes;
}

JRXRequestProgressData report(const std::string& id, int status, const std::string& text) {
  JRXRequestProgressData r(id);
  r.name = "vm.start";
  r.status = status;
  r.progress = status == 1 ? 0 : 50;
  r.time = kT0 + 5000000;
  r.info.setText(text);
  JRXInfo vm;
  vm.addParameter("eid", operandEnv(3).toString());
  vm.addParameter("type", "vm");
  vm.addParameter("title", "vm-3");
  r.info.addParameter("env", vm);
  r.eid = kLocal;
  return r;
}

JRXEvent event(int serial) {
  JRXEvent e("monitor");
  e.guid = JRXGUID::generate();
  e.time = kT0 + 5000000 + serial;
  e.category = "monitor";
  e.type = "alert";
  e.code = 7;
  e.info = JRXInfo("disk {id} is full");
  JRXInfo source;
  // Not the busy environment: its share of the log stays what the fill made it.
  source.addParameter("eid", otherSource(0).toString());
  source.addParameter("type", "vm");
  source.addParameter("title", "other");
  e.info.addParameter("source_env", source);
  return e;
}

void reopenUnfinished() {
  JRXRdbmsTran tran;
  for (int id : counts.unfinished) {
    op_log ops;
    ASUpdater up(ops);
    up << ops->status.Set(ASOperand(2));
    up.Where(ops->op_id == id).Execute(*tran);
  }
  tran.commit();
}

using Call = std::function<bool()>;

// Every size runs a case the same number of times, so that the writing cases grow each log
// alike.
void add(const std::string& backend, int size, const std::string& name,
         std::function<Call(int)> make, int iterations = 100,
         std::function<void()> reset = [] {}) {
  const std::string full = name + "/" + backend + "/" + std::to_string(size);
  benchmark::RegisterBenchmark(full.c_str(), [=](benchmark::State& state) {
    logs().use(backend, size);
    Call call = make(size);
    logs().timeCalls(state, backend, name, size, reset, call);
  })->Unit(benchmark::kMicrosecond)->Iterations(iterations);
}

void scanAndCompact(int size);

void registerCases(const std::string& backend, int size, bool last) {
  static int serial = 0;
  // A service per case: it keeps the result of every command it ended.
  auto opService = [] { return std::make_shared<JRXOpLogLocal>(nullptr); };
  auto eventService = [] { return std::make_shared<JRXEventLogLocal>(nullptr); };

  add(backend, size, "saveProgress_first", [=](int) {
    auto ops = opService();
    return [=] { return ops->saveProgress(report("new-" + std::to_string(++serial), 3, "done")) == 0; };
  });
  add(backend, size, "saveProgress_later", [=](int) {
    auto ops = opService();
    const std::string id = "running-" + std::to_string(++serial);
    ops->saveProgress(report(id, 1, "starting"));
    return [=] { return ops->saveProgress(report(id, 2, "step " + std::to_string(++serial))) == 0; };
  });
  add(backend, size, "putOps_batch50", [=](int) {
    auto ops = opService();
    return [=] {
      std::vector<JRXRequestProgressData> batch;
      for (int k = 0; k < 50; ++k) batch.push_back(report("batch-" + std::to_string(++serial), 3, "done"));
      return ops->putOps(batch) == 0;
    };
  });
  add(backend, size, "saveEvent", [=](int) {
    auto events = eventService();
    return [=] { return events->saveEvent(event(++serial)) == 0; };
  });

  struct OpsCase {
    const char* name;
    JRXEID eid;
    bool active;
  };
  // An operand of a tenth of the log is found walking the newest operations; the needle,
  // operand of one, through its link.
  for (const OpsCase& c : {OpsCase{"getOps_newest5", JRXEID(), false},
                           OpsCase{"getOps_active5", JRXEID(), true},
                           OpsCase{"getOps_operand5", operandEnv(3), false},
                           OpsCase{"getOps_needle5", kNeedle, false}}) {
    add(backend, size, c.name, [=](int) {
      auto ops = opService();
      return [=] {
        std::vector<JRXRequestProgressData> out;
        return ops->getOps(&out, c.eid, "", "", "", false, c.active, 5, 0, kNoUpper) == 0 &&
               out.size() == (c.eid == kNeedle ? 1u : 5u);
      };
    });
  }

  struct EventsCase {
    const char* name;
    JRXEID eid;
    unsigned limit;
  };
  for (const EventsCase& c :
       {EventsCase{"getEvents_busy100", kBusy, 100}, EventsCase{"getEvents_busy6000", kBusy, 6000},
        EventsCase{"getEvents_quiet100", kQuiet, 100},
        EventsCase{"getEvents_quiet6000", kQuiet, 6000},
        EventsCase{"getEvents_any100", JRXEID(), 100},
        EventsCase{"getEvents_any6000", JRXEID(), 6000}}) {
    add(backend, size, c.name, [=](int) {
      auto events = eventService();
      const int stored = c.eid == kBusy ? counts.busy : c.eid == kQuiet ? counts.quiet : counts.events;
      const size_t expect = std::min<size_t>(c.limit, static_cast<size_t>(stored));
      return [=] {
        std::vector<JRXEvent> out;
        return events->getEvents(&out, c.eid, true, c.limit, "", "", false, 0, kNoUpper) == 0 &&
               // saveEvent added to the log, not to the busy or quiet environment
               (c.eid.isValid() ? out.size() == expect : out.size() >= expect);
      };
    }, c.limit > 100 ? 20 : 100);
  }

  // A listing read on from the middle of the log: a part costs what it reads, however deep.
  add(backend, size, "getOpsAfter_middle100", [=](int n) {
    auto ops = opService();
    JRXListingPlace middle;
    middle.time = kT0 + n / 2;
    middle.id = n / 2;
    middle.report = n / 2;  // the fill gives operation i its one report i
    return [=] {
      std::vector<JRXRequestProgressData> out;
      std::vector<JRXListingPlace> places;
      return ops->getOpsAfter(&out, &places, &middle, JRXEID(), "", "", "", false, false, 100,
                              false, JRXTimeBounds()) == 0 &&
             out.size() == 100 && places.front().id == n / 2 + 1;
    };
  });
  // The service's own answer from the same second, for comparison.
  add(backend, size, "getEvents_middle100", [=](int n) {
    auto events = eventService();
    return [=] {
      std::vector<JRXEvent> out;
      return events->getEvents(&out, JRXEID(), true, 100, "", "", false, 0, kT0 + n / 2 + 1) ==
                 0 &&
             out.size() == 100;
    };
  });
  add(backend, size, "getEventsAfter_middle100", [=](int n) {
    auto events = eventService();
    JRXListingPlace middle;
    middle.time = kT0 + n / 2;
    middle.id = n / 2;
    return [=] {
      std::vector<JRXEvent> out;
      std::vector<JRXListingPlace> places;
      return events->getEventsAfter(&out, &places, &middle, JRXEID(), true, 100, "", "", false,
                                    JRXTimeBounds()) == 0 &&
             out.size() == 100 && places.front().id == n / 2 - 1;
    };
  });

  add(backend, size, "getUnfinishedOpIds", [=](int) {
    auto ops = opService();
    return [=] {
      std::vector<std::string> ids;
      long lastTime = 0;
      return ops->getUnfinishedOpIds(ids, lastTime, kLocal) == 0 && ids.size() == static_cast<size_t>(kUnfinished) + 1;
    };
  });
  add(backend, size, "finishOps", [=](int) {
        auto ops = opService();
        return [=] { return ops->finishOps() == 0; };
      },
      20, reopenUnfinished);

  if (last) {
    const std::string name = "scans_and_compaction/" + backend + "/" + std::to_string(size);
    benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
      logs().use(backend, size);
      for (auto _ : state) scanAndCompact(size);
    })->Iterations(1)->Unit(benchmark::kMillisecond);
  }
}

void scanAndCompact(int size) {
  JRXOpLogLocal ops(nullptr);
  std::vector<JRXRequestProgressData> out;
  int r = 0;
  CallCost cost = measureCall([&] {
    r = ops.getOps(&out, kNeedle, "", "", "", false, false, kNoLimit, 0, kNoUpper);
  });
  std::printf("  getOps without a limit for the one operation of an operand: result %d, %zu "
              "records, %s\n", r, out.size(), cost.text().c_str());
  out.clear();
  cost = measureCall([&] {
    r = ops.getOps(&out, JRXEID(), "", "", "", false, false, kNoLimit, 0, kNoUpper);
  });
  std::printf("  getOps without a limit, oldest first up to the cap: result %d, %zu records, %s\n",
              r, out.size(), cost.text().c_str());
  cost = measureCall([&] { r = JRXEventLogLocal::compact(size / 10); });
  std::printf("  compact(%d) of %d events: result %d, %s\n", size / 10, size, r,
              cost.text().c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) { return runBySize(argc, argv, logs(), 20, registerCases); }
