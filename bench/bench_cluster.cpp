// Write rate on a multi-primary cluster against a single server: progress reports and events
// per second written by one agent process through one node, and by three agent processes at
// once, each through its own node, each as a ratio to the same writers on the single server.
// Every writer is a process of its own, as agents on different hosts are; each saves whole
// operations (a first report, later reports, an event) about environments all writers share.
//
// The single server: JRX_BENCH_MARIADB_URL or JRX_TEST_MARIADB_URL. The cluster: the node URLs
// in JRX_BENCH_CLUSTER_URLS or JRX_TEST_CLUSTER_URLS (separated by spaces, as
// scripts/galera.sh prints them). JRX_BENCH_SMALL=1 for a quick run.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <sstream>
#include <string>
#include <vector>

#include "AgentRecords.h"
#include "BenchDb.h"
#include "JRXLog.h"
#include "JRXRequest.h"
#include "JRXRetry.h"
#include "RatioReporter.h"

using namespace JRX;
using namespace opbench;

namespace {

const int kLaterReports = 3;
const int kRecordsPerOp = 1 + kLaterReports + 1;  // reports and the event

std::vector<std::string> clusterNodes() {
  std::vector<std::string> nodes;
  for (const char* name : {"JRX_BENCH_CLUSTER_URLS", "JRX_TEST_CLUSTER_URLS"}) {
    const char* u = std::getenv(name);
    std::istringstream in(u ? u : "");
    for (std::string url; in >> url;) nodes.push_back(url);
    if (!nodes.empty()) break;
  }
  return nodes;
}

// One agent's share of a round, in a process of its own; false on the first refused call.
bool writeOps(const std::string& url, const std::string& prefix, int ops) {
  JRXDatabase::open(url);
  putAgentEnvs();
  JRXOpLogLocal log(nullptr);
  JRXEventLogLocal events(nullptr);
  auto refused = [](const auto& service) {
    std::fprintf(stderr, "%s\n", service.getContextLocal()->getLastError().message.c_str());
    return false;
  };
  // A call that lost a certification conflict (or a deadlock) is replayed, as agents do.
  auto save = [&](const JRXRequestProgressData& r) {
    return retryService([&] { return log.saveProgress(r); });
  };
  for (int i = 0; i < ops; ++i) {
    const std::string id = prefix + "-" + std::to_string(i);
    if (save(report(id, 0, 0, "starting")) != 0) return refused(log);
    for (int n = 1; n <= kLaterReports; ++n)
      if (save(report(id, 0, n * 25, "step " + std::to_string(n))) != 0) return refused(log);
    const JRXEvent e = event(id);
    if (retryService([&] { return events.saveEvent(e); }) != 0) return refused(events);
  }
  return true;
}

// Shared environments exist before the writers start, as they do in a running system.
void prepare(const std::string& url) {
  JRXDatabase::open(url);
  putAgentEnvs();
  createLogTables();
  JRXOpLogLocal(nullptr).saveProgress(report("warm-up", 0, 0, "warm-up"));
  JRXEventLogLocal(nullptr).saveEvent(event("warm-up"));
  JRXDatabase::close();
}

// Creates (or drops) the database `name` through the server or cluster node `server`.
void makeDatabase(const std::string& server, const std::string& name, bool create) {
  auto admin = ASDatabase::Open(mariaUrl("", server));
  admin->Session()->ExecuteSql("DROP DATABASE IF EXISTS " + name);
  if (create) admin->Session()->ExecuteSql("CREATE DATABASE " + name);
}

// `writers` processes at once, writer k through urls[k % urls.size()]; each round's time is
// the wall time until the last one is done.
void BM_Writers(benchmark::State& state, std::vector<std::string> servers, int writers) {
  const int opsPerWriter = bySize(10, 60);
  static int counter = 0;
  const std::string name = "jrxbench_c" + std::to_string(getpid()) + "_" + std::to_string(++counter);
  makeDatabase(servers[0], name, true);
  std::vector<std::string> urls;
  for (const auto& s : servers) urls.push_back(mariaUrl(name, s));
  prepare(urls[0]);
  int round = 0;
  for (auto _ : state) {
    ++round;
    auto start = std::chrono::steady_clock::now();
    std::vector<pid_t> children;
    for (int w = 0; w < writers; ++w) {
      pid_t pid = fork();
      if (pid == 0) {
        // _exit: the parent's connections, shared with the child, must stay open.
        bool ok = false;
        try {
          ok = writeOps(urls[w % urls.size()],
                        "r" + std::to_string(round) + "w" + std::to_string(w), opsPerWriter);
        } catch (const std::exception& e) {
          std::fprintf(stderr, "writer %d: %s\n", w, e.what());
        }
        _exit(ok ? 0 : 1);
      }
      children.push_back(pid);
    }
    bool ok = true;
    for (pid_t pid : children) {
      int status = 0;
      waitpid(pid, &status, 0);
      ok = ok && pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (!ok) {
      state.SkipWithError("a writer's call was refused");
      break;
    }
  }
  state.counters["records/s"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * writers * opsPerWriter * kRecordsPerOp,
      benchmark::Counter::kIsRate);
  makeDatabase(servers[0], name, false);
}

}  // namespace

int main(int argc, char** argv) {
  setLogSink(std::make_shared<JRXCapturingLogSink>());
  const std::vector<std::string> nodes = clusterNodes();
  if (!mariaServer() || nodes.size() < 3) {
    std::fprintf(stderr,
                 "bench_cluster needs a single server (JRX_TEST_MARIADB_URL, scripts/mariadb.sh) "
                 "and a cluster of 3 nodes (JRX_TEST_CLUSTER_URLS, scripts/galera.sh start DIR 3)\n");
    return 2;
  }
  const int rounds = bySize(2, 5);
  const std::vector<std::string> single{mariaServer()};
  struct Case {
    const char* name;
    std::vector<std::string> servers;
    int writers;
  };
  const Case cases[] = {{"server/1 writer", single, 1},
                        {"server/3 writers", single, 3},
                        {"cluster/1 node", {nodes[0]}, 1},
                        {"cluster/3 nodes", {nodes[0], nodes[1], nodes[2]}, 3}};
  for (const Case& c : cases)
    benchmark::RegisterBenchmark(c.name, BM_Writers, c.servers, c.writers)
        ->Iterations(rounds)
        ->UseManualTime();
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter("records/s");
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\nwrite rate on the cluster / the same writers on the single server:\n");
  for (const char* pair : {"1 writer", "3 writers"}) {
    const std::string clusterCase = std::string(pair) == "1 writer" ? "cluster/1 node"
                                                                   : "cluster/3 nodes";
    double cluster = 0, server = 0;
    if (reporter.both(clusterCase, std::string("server/") + pair, cluster, server))
      std::printf("  %-16s %8.0f vs %8.0f records/s  ratio %.2f\n", clusterCase.c_str(), cluster,
                  server, cluster / server);
  }
  double three = 0, one = 0;
  if (reporter.both("cluster/3 nodes", "server/1 writer", three, one))
    std::printf("  %-16s %8.0f vs %8.0f records/s  ratio %.2f (to one writer on the server)\n",
                "cluster/3 nodes", three, one, three / one);
  benchmark::Shutdown();
  return 0;
}
