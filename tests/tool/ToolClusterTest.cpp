// jrxlog writers on every node of a multi-primary cluster at once, about the same operations,
// events and environments. Rows written through different nodes meet only at commit, where
// one of two overlapping transactions is refused and must be replayed; afterwards every node
// must hold the same rows, each record once. Runs where JRX_TEST_CLUSTER_URLS names the nodes
// (scripts/test.sh starts a cluster with scripts/galera.sh when it can).
#include <algorithm>
#include <thread>

#include "ToolFixture.h"

namespace jrxtest {
namespace {

const int kWriters = 3, kSharedOps = 6, kOwnOps = 4, kEvents = 30, kVms = 5;
const int kReports = 8;  // later reports of each shared operation, per writer

std::string vm(int i) { return "11111111-1111-4111-8111-1111111111" + std::to_string(10 + i); }
std::string operands(int i) { return R"(,"operands":[")" + vm(i % kVms) + "\"]"; }
std::string envLines() {
  std::string s;
  for (int i = 0; i < kVms; ++i) s += envLine(vm(i), "web-" + std::to_string(i));
  return s;
}

// Every writer reports on every shared operation, each report with a text of its own so that
// each one adds a row, naming the machine the other writers name at the same step; creates
// operations of its own naming the shared machines; and sends all events in the same order:
// the writers keep running into each other.
std::string writerInput(int w) {
  std::string s = envLines(), me = "w" + std::to_string(w);
  for (int n = 0; n < kReports; ++n)
    for (int k = 0; k < kSharedOps; ++k)
      s += progressLine("op-" + std::to_string(k), "", 1701000100 + n,
                        operands(k + n) + R"(,"progress":)" + std::to_string(n) +
                            R"(,"info":{"text":")" + me + " step " + std::to_string(n) + "\"}");
  for (int j = 0; j < kOwnOps; ++j)
    s += progressLine(me + "-op-" + std::to_string(j), "vm.stop", 1701000200 + j, operands(j));
  for (int e = 0; e < kEvents; ++e)
    s += eventLine("3f1e0d2c-0000-4000-8000-0000000000" + std::to_string(10 + e), 1701000300 + e,
                   "alert", vm(e % kVms));
  return s;
}

// The MariaDB client on the node of `url` (mysql://root@localhost/DB?socket=PATH), reading
// only after the node has applied everything the cluster committed before.
ToolRun sqlOn(const std::string& url, const std::string& sql) {
  auto slash = url.find('/', url.find("://") + 3), query = url.find('?');
  ToolRun r = runProgram("mariadb", {"--no-defaults", "-uroot", "-S", url.substr(url.find("socket=") + 7),
                                     "-N", "-B", url.substr(slash + 1, query - slash - 1), "-e",
                                     "SET SESSION wsrep_sync_wait = 1; " + sql});
  EXPECT_EQ(r.status, 0) << r.err;
  return r;
}

// Every row of every table of the node, one line each, sorted: tables without a primary key
// need not list their rows in the same order on every node.
Strings rowsOn(const std::string& url) {
  Strings rows;
  for (const auto& table : sqlOn(url, "SHOW TABLES").lines())
    for (const auto& row : sqlOn(url, "SELECT * FROM " + table).lines())
      rows.push_back(table + "\t" + row);
  std::sort(rows.begin(), rows.end());
  return rows;
}

TEST(ToolCluster, WritersOnEveryNodeAtOnceLeaveEveryRecordOnceOnEveryNode) {
  if (clusterNodeUrls().size() < 2)
    GTEST_SKIP() << "no cluster: JRX_TEST_CLUSTER_URLS names no nodes "
                    "(scripts/galera.sh start DIR 3 prints them)";
  const Strings nodes = freshClusterDatabaseUrls();

  // The shared operations exist before the writers start: two first reports of one request
  // identifier at once would be two operations on a single server too.
  std::string first = envLines();
  for (int k = 0; k < kSharedOps; ++k)
    first += progressLine("op-" + std::to_string(k), "vm.start", 1701000000 + k, operands(k));
  ToolRun created = jrxOn(nodes[0], {"import"}, first);
  ASSERT_EQ(created.status, 0) << created.err;

  std::vector<ToolRun> runs(kWriters);
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w)  // small batches, so that transactions overlap many times
    writers.emplace_back([&, w] {
      runs[w] = jrxOn(nodes[w % nodes.size()], {"import", "--batch", "3"}, writerInput(w));
    });
  for (auto& t : writers) t.join();
  for (const ToolRun& r : runs) ASSERT_EQ(r.status, 0) << r.err;

  const Strings rows = rowsOn(nodes[0]);
  for (size_t n = 1; n < nodes.size(); ++n) EXPECT_EQ(rowsOn(nodes[n]), rows) << "node " << n + 1;

  // Each count beside its count of distinct keys: every record once, nothing lost.
  const std::string ops = std::to_string(kSharedOps + kWriters * kOwnOps);
  const std::string texts =
      std::to_string(kSharedOps * (1 + kWriters * kReports) + kWriters * kOwnOps);
  const std::pair<const char*, std::string> counts[] = {
      {"SELECT COUNT(*), COUNT(DISTINCT id) FROM op_log", ops + "\t" + ops},
      {"SELECT COUNT(*), COUNT(DISTINCT op_id, info) FROM op_log_data", texts + "\t" + texts},
      {"SELECT COUNT(*), COUNT(DISTINCT guid) FROM events_log",
       std::to_string(kEvents) + "\t" + std::to_string(kEvents)},
      {"SELECT COUNT(*) - COUNT(DISTINCT eid, title) FROM env_log", "0"},
      {"SELECT COUNT(*) FROM op_log WHERE status <> 2 AND id LIKE 'op-%'", "0"},
  };
  for (const auto& c : counts) EXPECT_EQ(sqlOn(nodes.back(), c.first).out, c.second + "\n") << c.first;
}

}  // namespace
}  // namespace jrxtest
