// The time `jrxlog init` takes to bring a log of the first layout up to date, on each
// database: a million operations (fifty thousand with JRX_BENCH_SMALL=1), each with two
// progress rows, two environment links and a task row, and an event for every fourth with
// two links and a status row, over a thousand environments of which a hundred are kept twice
// (the first layout had no unique environment key; the upgrade merges them). The log is
// made with the first layout's own SQL and filled with bulk SQL; the timed part is the tool's
// run alone, as an operator starts it. Prints seconds and rows per second, and the time of
// a second `jrxlog init` on the log now up to date, and the processor time the first took
// (user and system), which a busy machine inflates less than the time on the clock.
// JRX_BENCH_OPERATIONS=N: N operations; several, comma-separated, run one after another.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchDb.h"
#include "CallCost.h"
#include "OldLogLayouts.h"
#include "TableFill.h"
#include "store/LogTables.h"

using namespace JRX;
using namespace opbench;

namespace {

const int kEnvs = 1000;
const int kTwice = 100;

std::string jrxlogPath() {
  if (const char* p = std::getenv("JRXLOG")) return p;
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string("./x");
  return dir.substr(0, dir.rfind('/')) + "/jrxlog";
}

// Runs `jrxlog --db URL init`, its output thrown away; whether it exited with 0.
bool runInit(const std::string& url) {
  const std::string command = "'" + jrxlogPath() + "' --db '" + url + "' init >/dev/null";
  const int status = std::system(command.c_str());
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

long long countRows(ASSession* s, const ASAttribute& column) {
  ASCursor c(s);
  c.Project() << column;
  long long n = 0;
  while (c.Fetch()) ++n;
  return n;
}

// The rows of `ops` operations in the first layout; answers how many rows it stored.
long long fillFirstLayout(ASSession* s, int ops) {
  const bool sqlite = std::string(s->Dialect()) == "sqlite";
  for (const char* sql : sqlite ? jrxtest::kFirst.sqlite : jrxtest::kFirst.mariadb) s->ExecuteSql(sql);
  // Numbers 1..ops, made from a thousand by crossing it with itself.
  s->ExecuteSql("CREATE TABLE jrx_thousand (n INT)");
  s->ExecuteSql("CREATE TABLE jrx_seq (n INT)");
  {
    std::string values;
    for (int i = 1; i <= 1000; ++i) values += (i > 1 ? ",(" : "(") + std::to_string(i) + ")";
    s->ExecuteSql("INSERT INTO jrx_thousand (n) VALUES " + values);
  }
  s->ExecuteSql("INSERT INTO jrx_seq (n) SELECT a.n + 1000 * (b.n - 1) FROM jrx_thousand a, "
                "jrx_thousand b WHERE a.n + 1000 * (b.n - 1) <= " + std::to_string(ops));
  {
    std::string values;
    for (int i = 1; i <= kEnvs + kTwice; ++i) {
      const int env = i <= kEnvs ? i : i - kEnvs;  // the last hundred repeat the first
      values += std::string(i > 1 ? "," : "") + "(" + std::to_string(i) + "," +
                guidLiteral(JRXEID(0xe0, env)) + ",'vm-" + std::to_string(env) + "','vm')";
    }
    s->ExecuteSql("INSERT INTO env_log (id, eid, title, type) VALUES " + values);
  }
  const std::string envs = std::to_string(kEnvs + kTwice);
  const std::string working = infoLiteral("Copying the image of {vm}");
  const std::string done = infoLiteral("{vm} is running");
  for (const std::string& sql : std::vector<std::string>{
           "INSERT INTO op_log (op_id, op, id, parent_id, time, status, session_id) SELECT n, "
           "'vm.start', n, '', 1600000000 + n, CASE WHEN n % 100 = 0 THEN 2 ELSE 3 END, n % 97 "
           "FROM jrx_seq",
           "INSERT INTO op_log_data (op_id, progress, time, status, info) SELECT n, 50, "
           "1600000000 + n, 2, " + working + " FROM jrx_seq",
           "INSERT INTO op_log_data (op_id, progress, time, status, info) SELECT n, 100, "
           "1600000001 + n, 3, " + done + " FROM jrx_seq WHERE n % 100 <> 0",
           "INSERT INTO op_log_env (op_id, env_id, role, is_default) SELECT n, 1 + n % " + envs +
               ", 'S', 'N' FROM jrx_seq",
           "INSERT INTO op_log_env (op_id, env_id, role, is_default) SELECT n, 1 + (n * 7) % " +
               envs + ", 'O', 'Y' FROM jrx_seq",
           "INSERT INTO op_log_task (op_id, task_id) SELECT n, n FROM jrx_seq",
           "INSERT INTO events_log (event_id, guid, code, time, category, type, sid, info_bin, "
           "info, data) SELECT n / 4, n / 4, 0, 1600000000 + n, 'vm', 'env_status', '', NULL, " +
               done + ", NULL FROM jrx_seq WHERE n % 4 = 0",
           "INSERT INTO events_log_env (event_id, env_id, role) SELECT n / 4, 1 + n % " + envs +
               ", 'S' FROM jrx_seq WHERE n % 4 = 0",
           "INSERT INTO events_log_env (event_id, env_id, role) SELECT n / 4, 1 + (n * 7) % " +
               envs + ", 'O' FROM jrx_seq WHERE n % 4 = 0",
           "INSERT INTO events_log_status (event_id, old_status, old_transition, new_status, "
           "new_transition) SELECT n / 4, 4, 0, 1, 0 FROM jrx_seq WHERE n % 4 = 0",
           "DROP TABLE jrx_seq", "DROP TABLE jrx_thousand"})
    s->ExecuteSql(sql);
  const long long withEvent = ops / 4, running = ops / 100;
  return ops * 6LL - running + kEnvs + kTwice + withEvent * 4;
}

struct Line {
  std::string backend;
  int ops = 0;
  long long rows = 0;
  double fillSeconds = 0, seconds = 0, cpuSeconds = 0, againSeconds = 0;
  bool ok = false, ran = false;
};
std::vector<Line> lines;

// Processor time of the child processes waited for so far.
double childCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void registerUpgrade(const std::string& backend, int ops) {
  lines.push_back(Line{backend, ops});
  const size_t index = lines.size() - 1;
  benchmark::RegisterBenchmark(("init/" + backend + "/" + std::to_string(ops)).c_str(),
                               [=](benchmark::State& state) {
    Line& line = lines[index];
    BenchDb db = emptyDb(backend);
    {
      auto t0 = std::chrono::steady_clock::now();
      auto database = ASDatabase::Open(db.url);
      line.rows = fillFirstLayout(database->Session(), ops);
      line.fillSeconds = secondsSince(t0);
    }
    std::printf("%s: %lld rows of the first layout stored in %.1f s\n", backend.c_str(),
                line.rows, line.fillSeconds);
    std::fflush(stdout);
    for (auto _ : state) {
      auto t0 = std::chrono::steady_clock::now();
      const double cpu0 = childCpuSeconds();
      line.ok = runInit(db.url);
      line.seconds = secondsSince(t0);
      line.cpuSeconds = childCpuSeconds() - cpu0;
    }
    auto t0 = std::chrono::steady_clock::now();
    line.ok = line.ok && runInit(db.url);
    line.againSeconds = secondsSince(t0);
    {
      // Every operation still there, and the environments kept twice merged into one.
      auto database = ASDatabase::Open(db.url);
      op_log o;
      env_log e;
      line.ok = line.ok && countRows(database->Session(), o->op_id) == ops &&
                countRows(database->Session(), e->id) == kEnvs;
    }
    line.ran = true;
    if (!line.ok) state.SkipWithError("jrxlog init failed or lost rows");
    dropDb(db);
  })->Iterations(1)->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::vector<int> sizes;
  if (const char* given = std::getenv("JRX_BENCH_OPERATIONS"))
    for (const char* p = given; *p;) {
      char* end = nullptr;
      const long n = std::strtol(p, &end, 10);
      if (end == p) break;
      if (n > 0) sizes.push_back(static_cast<int>(n));
      p = *end == ',' ? end + 1 : end;
    }
  if (sizes.empty()) sizes.push_back(bySize(50000, 1000000));
  for (const std::string& backend : backends())
    for (int ops : sizes) registerUpgrade(backend, ops);
  benchmark::RunSpecifiedBenchmarks();

  std::printf("\n%-8s %10s %10s %10s %12s %10s %14s\n", "database", "operations", "rows",
              "init (s)", "rows/s", "cpu (s)", "again (s)");
  for (const Line& l : lines) {
    if (!l.ran) continue;
    std::printf("%-8s %10d %10lld %10.1f %12.0f %10.1f %14.2f%s\n", l.backend.c_str(), l.ops,
                l.rows, l.seconds, l.rows / l.seconds, l.cpuSeconds, l.againSeconds,
                l.ok ? "" : "  WRONG OUTCOME");
  }
  benchmark::Shutdown();
  return 0;
}
