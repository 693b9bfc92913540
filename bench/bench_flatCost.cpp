// Every reading at a flat cost: a part of a paged listing at the log's start and at its far
// end, listings whose filter keeps nothing (a category, a type, a name, a parent that no row
// has, or one that only a busy environment's rows could have), and recovery's listing of
// unfinished operations, each on a log of ten thousand and of a million rows, on each
// database, as ratios to the small log's figure (goal: about 1). Then, on the million-row
// log, `jrxlog serve` answering 32 listings at once: its peak resident memory, and what it
// holds once they are done.
//
// The log: events of two categories and two types from a busy source (every other one) and
// ten others, in time order; operations of seven names, one in fifty with a parent, each
// with one report, executed by the local node (every other one) or by dead agents; a hundred
// unfinished operations of the local node and a thousand of dead agents at every size.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "EventHours.h"
#include "ListingQueries.h"
#include "Listings.h"
#include "LogSizes.h"
#include "RatioReporter.h"
#include "TableFill.h"
#include "store/LogsEnvInfo.h"
#include "store/ValueEncodings.h"

using namespace JRX;
using namespace opbench;

namespace {

const JRXEID kLocal(0x10c41, 0x1);
const JRXEID kBusy(0xb0, 0x1);
const JRXEID kStranger(0x5757, 0x1);  // executed three operations, long ended
const int kOthers = 10;
const int kDeadAgents = 20;
const int kLocalUnfinished = 100;
const int kDeadUnfinished = 1000;
const int kT0 = 1600000000;
const unsigned kPart = 200;

JRXEID otherEnv(int k) { return JRXEID(0x07, 0x100 + k); }
JRXEID deadAgent(int k) { return JRXEID(0xdead, 0x100 + k); }

void fill(int n) {
  int local = 0;
  {
    JRXRdbmsTran tran;
    local = logdb::LogsEnvInfo(JRXEnvInfo(kLocal), true).getSqlID(tran);
    tran.commit();
  }
  const int busy = local + 1, stranger = local + 2, firstOther = local + 3,
            firstDead = firstOther + kOthers;
  {
    TableFill envs("env_log", "id, eid, title, type");
    envs.row(std::to_string(busy) + "," + guidLiteral(kBusy) + ",'busy','node'");
    envs.row(std::to_string(stranger) + "," + guidLiteral(kStranger) + ",'stranger','node'");
    for (int k = 0; k < kOthers; ++k)
      envs.row(std::to_string(firstOther + k) + "," + guidLiteral(otherEnv(k)) + ",'vm-" +
               std::to_string(k) + "','vm'");
    for (int k = 0; k < kDeadAgents; ++k)
      envs.row(std::to_string(firstDead + k) + "," + guidLiteral(deadAgent(k)) + ",'dead-" +
               std::to_string(k) + "','node'");
  }
  // Unfinished: the last hundred of the local node's, a thousand of the dead agents' spread.
  auto executor = [&](int i) { return i % 2 == 0 ? local : firstDead + i % kDeadAgents; };
  const int deadEvery = std::max(1, n / kDeadUnfinished);
  auto unfinished = [&](int i) {
    return executor(i) == local ? i > n - 2 * kLocalUnfinished : i % deadEvery == 1;
  };
  {
    TableFill ops("op_log", "op_id, op, id, parent_id, time, status, session_id");
    for (int i = 1; i <= n; ++i)
      ops.row(std::to_string(i) + ",'vm.op-" + std::to_string(i % 7) + "','req-" +
              std::to_string(i) + "','" + (i % 50 == 0 ? "req-" + std::to_string(i - 1) : "") +
              "'," + std::to_string(kT0 + i) + "," + (unfinished(i) ? "2" : "3") + ",'s'");
  }
  {
    const std::string info = infoLiteral("copied {n} files");
    TableFill data("op_log_data", "op_id, progress, time, status, info");
    for (int i = 1; i <= n; ++i)
      data.row(std::to_string(i) + "," + (unfinished(i) ? "40," : "100,") +
               std::to_string(kT0 + i) + "," + (unfinished(i) ? "2," : "3,") + info);
  }
  {
    TableFill links("op_log_env", "op_id, env_id, role, is_default");
    for (int i = 1; i <= n; ++i) {
      const std::string op = std::to_string(i), exec = std::to_string(executor(i));
      links.row(op + "," + exec + ",'S','Y'");
      links.row(op + "," + exec + ",'P','N'");
      links.row(op + "," + std::to_string(firstOther + i % kOthers) + ",'O','N'");
    }
    for (int i = 1; i <= 3; ++i) links.row(std::to_string(i * 2 + 1) + "," +
                                           std::to_string(stranger) + ",'P','N'");
  }
  {
    std::string infoBin;
    logdb::putInfoToBinary(JRXInfo("disk {id} is full"), infoBin);
    const std::string infoLit = hex(infoBin);
    TableFill events("events_log",
                     "event_id, guid, code, time, category, type, sid, info_bin, info");
    for (int i = 1; i <= n; ++i)
      events.row(std::to_string(i) + ",'bench-" + std::to_string(i) + "'," +
                 std::to_string(i % 100) + "," + std::to_string(kT0 + i) + "," +
                 (i % 3 ? "'vm'" : "'node'") + "," + (i % 5 ? "'env_status'" : "'alert'") +
                 ",'0105ab'," + infoLit + "," + infoLit);
  }
  {
    TableFill links("events_log_env", "event_id, env_id, role");
    for (int i = 1; i <= n; ++i)
      links.row(std::to_string(i) + "," +
                std::to_string(i % 2 == 0 ? busy : firstOther + i % kOthers) + ",'S'");
  }
  JRXRdbmsTran tran;
  if (std::string((*tran)->Dialect()) == "mariadb")
    (*tran)->ExecuteSql(
        "ANALYZE TABLE op_log, op_log_env, op_log_data, env_log, events_log, events_log_env");
  else
    (*tran)->ExecuteSql("ANALYZE");
  tran.commit();
}

LogSizes& logs() {
  static LogSizes sizes(kLocal, fill, "rows");
  return sizes;
}

using Call = std::function<bool()>;

// The median time per call (µs) by backend, case and size: a shared machine's stalls hit a
// few calls of a case, which a mean would carry into its ratio.
std::map<std::string, std::map<std::string, std::map<int, double>>> medians;

void add(const std::string& backend, int size, const std::string& name,
         std::function<Call(int)> make) {
  const std::string full = name + "/" + backend + "/" + std::to_string(size);
  benchmark::RegisterBenchmark(full.c_str(), [=](benchmark::State& state) {
    logs().use(backend, size);
    Call call = make(size);
    call();  // statements prepared, pages read once: each case is timed warm
    std::vector<double> times;
    for (auto _ : state) {
      const auto t0 = std::chrono::steady_clock::now();
      if (!call()) {
        state.SkipWithError(("wrong outcome of " + name).c_str());
        return;
      }
      times.push_back(secondsSince(t0) * 1e6);
    }
    medians[backend][name][size] = median(times);
  })->Unit(benchmark::kMicrosecond)->Iterations(31);
}

// What naming an answer's end in its header adds to the answer, and what it added when the
// records were read for it.
void printAnswerEnd() {
  for (auto& b : medians)
    for (const std::string listing : {"events", "ops"}) {
      auto& answer = b.second["answer_" + listing];
      auto& end = b.second["answer_" + listing + "_end"];
      auto& byRecords = b.second["answer_" + listing + "_end_records"];
      for (auto& s : answer)
        if (end.count(s.first) && byRecords.count(s.first))
          std::printf("  %-8s %7d rows: an answer of %s %.1f ms, its end found first %.1f ms "
                      "more (x%.2f; reading its records %.1f ms, x%.2f)\n",
                      b.first.c_str(), s.first, listing.c_str(), s.second / 1e3,
                      end[s.first] / 1e3, (s.second + end[s.first]) / s.second,
                      byRecords[s.first] / 1e3, (s.second + byRecords[s.first]) / s.second);
    }
}

void printRatios() {
  std::printf("\nMedian time per call by rows stored, as ratio to the smallest log (goal: about 1)\n");
  for (auto& b : medians)
    for (auto& c : b.second) {
      if (c.second.size() < 2) continue;
      const double base = c.second.begin()->second;
      std::printf("  %-8s %-26s", b.first.c_str(), c.first.c_str());
      for (auto& s : c.second) {
        std::printf("  %7d: %9.1f us", s.first, s.second);
        if (s.first != c.second.begin()->first) std::printf(" x%.2f", s.second / base);
      }
      std::printf("\n");
    }
}

struct EventsCase {
  const char* name;
  JRXEID eid;
  const char *category, *type;
  bool deep;  // after the place of the log's oldest events but a part
  size_t kept;
};

struct OpsCase {
  const char* name;
  JRXEID eid;
  const char *opName, *parent;
  bool deep;
  size_t kept;
};

// Reads `/proc/PID/status` field (kB).
long statusKb(pid_t pid, const char* field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  const std::string key = std::string(field) + ":";
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, key.size(), key) == 0) return std::atol(line.c_str() + key.size());
  return -1;
}

// The tool beside this program, serving the log being measured: its pid and port.
bool startServe(pid_t& pid, int& port) {
  char self[PATH_MAX] = {0};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return false;
  std::string tool = self;
  tool = tool.substr(0, tool.rfind('/') + 1) + "jrxlog";
  const std::string url = JRXDatabase::get()->Url();
  int out[2];
  if (pipe(out) != 0) return false;
  pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    execl(tool.c_str(), tool.c_str(), "--db", url.c_str(), "--local-eid",
          kLocal.toString().c_str(), "serve", "--listen", "127.0.0.1:0", (char*)nullptr);
    _exit(127);
  }
  close(out[1]);
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  close(out[0]);
  const size_t colon = line.rfind(':');
  port = colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1);
  return port > 0;
}

// 32 listings at once, of 6000 events each (most of them) or 1000 operations.
void serveMemory(const std::string& backend, int size) {
  pid_t pid = -1;
  int port = 0;
  if (!startServe(pid, port)) {
    std::printf("  serve: cannot start %s\n", "jrxlog serve");
    return;
  }
  // A plain request alone, then while eight listings whose filters keep nothing run.
  auto plain = [&] {
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(600, 0);
    const auto t = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) client.Get("/api/events?limit=50");
    return secondsSince(t) / 5;
  };
  plain();
  const double alone = plain();
  std::atomic<bool> busy{true};
  std::vector<std::thread> empty;
  for (int i = 0; i < 8; ++i)
    empty.emplace_back([&, i] {
      httplib::Client client("127.0.0.1", port);
      client.set_read_timeout(600, 0);
      while (busy) client.Get(i % 2 ? "/api/events?category=nosuch" : "/api/ops?name=nosuch");
    });
  const double beside = plain();
  busy = false;
  for (auto& t : empty) t.join();
  std::printf("  serve %s %d rows: a plain request %.1f ms alone, %.1f ms beside 8 listings "
              "that keep nothing (x%.2f)\n",
              backend.c_str(), size, alone * 1e3, beside * 1e3, beside / alone);

  const long before = statusKb(pid, "VmRSS");
  std::vector<std::thread> clients;
  std::vector<size_t> bytes(32, 0);
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 32; ++i)
    clients.emplace_back([&, i] {
      httplib::Client client("127.0.0.1", port);
      client.set_read_timeout(600, 0);
      auto res = client.Get(i % 4 == 3 ? "/api/ops?limit=1000" : "/api/events?limit=6000");
      if (res && res->status == 200) bytes[i] = res->body.size();
    });
  for (auto& t : clients) t.join();
  const double seconds = secondsSince(t0);
  const long peak = statusKb(pid, "VmHWM");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const long idle = statusKb(pid, "VmRSS");
  size_t total = 0, answered = 0;
  for (size_t b : bytes) {
    total += b;
    answered += b > 0;
  }
  std::printf("  serve %s %d rows: 32 parallel listings (%zu answered, %.1f MB in all) in %.1f s: "
              "peak RSS %.1f MB (%.1f MB before), %.1f MB once done\n",
              backend.c_str(), size, answered, total / 1e6, seconds, peak / 1024.0,
              before / 1024.0, idle / 1024.0);
  std::fflush(stdout);
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

// An API answer of the listing `q` made as the server makes it ("answer_LISTING": its
// records read and printed a part at a time), and the pass that first finds where the same
// listing ends, to name that place in the answer's header ("answer_LISTING_end"), beside the
// same pass reading the records and dropping them ("answer_LISTING_end_records").
template <class Query, class List, class Print>
void addAnswer(const std::string& backend, int size, const std::string& listing, const Query& q,
               bool withEnvs, List list, Print print) {
  add(backend, size, "answer_" + listing, [=](int n) -> Call {
    return [=] {
      std::ostringstream out;
      jrxlog::EnvWriter envs(out, withEnvs);
      size_t got = 0;
      list(q, jrxlog::startOf(q), kPart, [&](const auto& part, const std::vector<JRXListingPlace>&) {
        print(part, out, envs);
        got += part.size();
        out.str("");
      });
      return got == std::min<size_t>(q.limit, n);
    };
  });
  add(backend, size, "answer_" + listing + "_end", [=](int n) -> Call {
    return [=] {
      size_t got = 0;
      jrxlog::endOf(q, jrxlog::startOf(q), got);
      return got == std::min<size_t>(q.limit, n);
    };
  });
  add(backend, size, "answer_" + listing + "_end_records", [=](int n) -> Call {
    return [=] {
      size_t got = 0;
      list(q, jrxlog::startOf(q), kPart,
           [&](const auto& part, const std::vector<JRXListingPlace>&) { got += part.size(); });
      return got == std::min<size_t>(q.limit, n);
    };
  });
}

void registerCases(const std::string& backend, int size, bool last) {
  const JRXEID none;
  for (const EventsCase& c : {
           EventsCase{"events_part_start", none, "", "", false, kPart},
           EventsCase{"events_part_deep", none, "", "", true, kPart},
           EventsCase{"events_category_none", none, "nosuch", "", false, 0},
           EventsCase{"events_type_none", none, "", "nosuch", false, 0},
           EventsCase{"events_both_none", none, "vm", "nosuch", false, 0},
           EventsCase{"events_busy_category_none", kBusy, "nosuch", "", false, 0},
           EventsCase{"events_category_part", none, "node", "alert", true, kPart},
       }) {
    add(backend, size, c.name, [c](int n) -> Call {
      auto log = std::make_shared<JRXEventLogLocal>(nullptr);
      JRXListingPlace deep;
      deep.time = kT0 + 4 * kPart;
      deep.id = 4 * kPart;
      (void)n;
      return [=] {
        std::vector<JRXEvent> out;
        std::vector<JRXListingPlace> places;
        return log->getEventsAfter(&out, &places, c.deep ? &deep : nullptr, c.eid, true, kPart,
                                   c.category, c.type, false, JRXTimeBounds()) == 0 &&
               out.size() >= std::min<size_t>(c.kept, 1) && out.size() <= c.kept;
      };
    });
  }
  for (const OpsCase& c : {
           OpsCase{"ops_part_start", none, "", "", false, kPart},
           OpsCase{"ops_part_deep", none, "", "", true, kPart},
           OpsCase{"ops_name_none", none, "nosuch", "", false, 0},
           OpsCase{"ops_parent_none", none, "", "nosuch", false, 0},
           OpsCase{"ops_operand_name_none", otherEnv(3), "nosuch", "", false, 0},
       }) {
    add(backend, size, c.name, [c](int n) -> Call {
      auto log = std::make_shared<JRXOpLogLocal>(nullptr);
      JRXListingPlace deep;  // newest first: the far end is the oldest operations
      deep.time = kT0 + 2 * kPart;
      deep.id = 2 * kPart;
      deep.report = 2 * kPart;
      (void)n;
      return [=] {
        std::vector<JRXRequestProgressData> out;
        std::vector<JRXListingPlace> places;
        return log->getOpsAfter(&out, &places, c.deep ? &deep : nullptr, c.eid, c.opName, "",
                                c.parent, false, false, kPart, true, JRXTimeBounds()) == 0 &&
               out.size() == std::min<size_t>(c.kept, c.deep ? 2 * kPart - 1 : c.kept);
      };
    });
  }
  add(backend, size, "unfinished_local", [](int) -> Call {
    auto log = std::make_shared<JRXOpLogLocal>(nullptr);
    return [=] {
      std::vector<std::string> ids;
      long last = 0;
      return log->getUnfinishedOpIds(ids, last, kLocal) == 0 &&
             ids.size() == static_cast<size_t>(kLocalUnfinished);
    };
  });
  add(backend, size, "unfinished_stranger", [](int) -> Call {
    auto log = std::make_shared<JRXOpLogLocal>(nullptr);
    return [=] {
      std::vector<std::string> ids;
      long last = 0;
      return log->getUnfinishedOpIds(ids, last, kStranger) == 0 && ids.empty();
    };
  });
  // An API answer of 6000 events (the listing's default) and of 6000 operations.
  jrxlog::EventsQuery events;
  events.withData = true;
  addAnswer(backend, size, "events", events, false, jrxlog::listEvents,
            [](const std::vector<JRXEvent>& part, std::ostream& out, jrxlog::EnvWriter& envs) {
              jrxlog::printEventsJson(part, out, envs);
            });
  jrxlog::OpsQuery ops;
  ops.limit = 6000;
  ops.newestFirst = true;
  addAnswer(backend, size, "ops", ops, true, jrxlog::listOps,
            [](const std::vector<JRXRequestProgressData>& part, std::ostream& out,
               jrxlog::EnvWriter& envs) { jrxlog::printOpsJson(part, out, envs); });
  // The web view's events per hour over a week: on the large log more than one count reads.
  add(backend, size, "count_hours_week", [](int n) -> Call {
    return [n] {
      jrxlog::EventsQuery q;
      q.to = kT0 + n;
      q.from = q.to - 7 * 86400 + 1;
      return jrxlog::countEventsByHour(q, 50000).counted == std::min(n, 50000);
    };
  });
  if (last) {
    const std::string name = "serve_32_parallel/" + backend + "/" + std::to_string(size);
    benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
      logs().use(backend, size);
      for (auto _ : state) serveMemory(backend, size);
    })->Iterations(1)->Unit(benchmark::kMillisecond);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const std::vector<int> sizes = bySize(std::vector<int>{2000, 20000}, std::vector<int>{10000, 1000000});
  for (const std::string& backend : backends())
    for (int size : sizes) registerCases(backend, size, size == sizes.back());
  benchmark::RunSpecifiedBenchmarks();
  logs().close();
  printRatios();
  printAnswerEnd();
  benchmark::Shutdown();
  return 0;
}
