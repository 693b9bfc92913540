// jrxlog writers on every node of a multi-primary cluster at once, about the same operations,
// events and environments. Rows written through different nodes meet only at commit, where
// one of two overlapping transactions is refused and must be replayed; afterwards every node
// must hold the same rows, each record once. Runs where JRX_TEST_CLUSTER_URLS names the nodes
// (scripts/test.sh starts a cluster with scripts/galera.sh when it can).
#include <algorithm>
#include <cstdio>
#include <thread>

#include "ToolFixture.h"

namespace jrxtest {
namespace {

const int kWriters = 3;
const int kSharedOps = 6;
const int kReportsPerWriter = 8;  // later reports of each shared operation, per writer
const int kOwnOps = 4;            // operations each writer creates itself
const int kEvents = 30;           // sent by every writer, stored once
const int kVms = 5;

std::string vm(int i) {
  char eid[37];
  std::snprintf(eid, sizeof eid, "11111111-1111-4111-8111-1111111111%02d", i);
  return eid;
}

std::string eventGuid(int e) {
  char guid[37];
  std::snprintf(guid, sizeof guid, "3f1e0d2c-0000-4000-8000-0000000000%02d", e);
  return guid;
}

ToolRun jrxOn(const std::string& url, std::vector<std::string> args, const std::string& input) {
  args.insert(args.begin(), {"--db", url, "--local-eid", kLocal});
  return runJrxlog(args, input);
}

std::string operands(int i) { return "\"operands\":[\"" + vm(i % kVms) + "\"]"; }

std::string envLines() {
  std::string s;
  for (int i = 0; i < kVms; ++i) {
    std::string eid = vm(i), title = "web-" + std::to_string(i);
    s += envLine(eid.c_str(), "vm", title.c_str());
  }
  return s;
}

// Every writer reports on every shared operation, each report with a text of its own so that
// each one adds a row, naming the machine the other writers name at the same step; creates
// operations of its own naming the shared machines; and sends all events in the same order:
// the writers keep running into each other.
std::string writerInput(int w) {
  std::string s = envLines();
  for (int n = 0; n < kReportsPerWriter; ++n)
    for (int k = 0; k < kSharedOps; ++k)
      s += progressLine("op-" + std::to_string(k), "", 0, n, 1701000100 + n,
                        "w" + std::to_string(w) + " step " + std::to_string(n),
                        operands(k + n));
  for (int j = 0; j < kOwnOps; ++j)
    s += progressLine("w" + std::to_string(w) + "-op-" + std::to_string(j), "vm.stop", 0, 0,
                      1701000200 + j, "own", operands(j));
  for (int e = 0; e < kEvents; ++e) {
    std::string env = vm(e % kVms), title = "web-" + std::to_string(e % kVms);
    s += eventLine(eventGuid(e), 1701000300 + e, "alert",
                   ",\"env\":{\"params\":{\"eid\":\"" + env + "\",\"type\":\"vm\",\"title\":\"" +
                       title + "\"}}");
  }
  return s;
}

// The MariaDB client on the node of `url` (mysql://root@localhost/DB?socket=PATH), reading
// only after the node has applied everything the cluster committed before.
ToolRun sqlOn(const std::string& url, const std::string& sql) {
  auto slash = url.find('/', url.find("://") + 3), query = url.find('?');
  std::string db = url.substr(slash + 1, query - slash - 1);
  std::string socket = url.substr(url.find("socket=") + 7);
  return runProgram("mariadb", {"--no-defaults", "-uroot", "-S", socket, "-N", "-B", db, "-e",
                                "SET SESSION wsrep_sync_wait = 1; " + sql});
}

// Every row of every table of the node, one line each, sorted: tables without a primary key
// need not list their rows in the same order on every node.
std::vector<std::string> rowsOn(const std::string& url) {
  ToolRun tables = sqlOn(url, "SHOW TABLES");
  EXPECT_EQ(tables.status, 0) << tables.err;
  std::vector<std::string> rows;
  for (const auto& table : tables.lines()) {
    ToolRun r = sqlOn(url, "SELECT * FROM " + table);
    EXPECT_EQ(r.status, 0) << r.err;
    for (const auto& row : r.lines()) rows.push_back(table + "\t" + row);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

TEST(ToolCluster, WritersOnEveryNodeAtOnceLeaveEveryRecordOnceOnEveryNode) {
  if (clusterNodeUrls().size() < 2)
    GTEST_SKIP() << "no cluster: JRX_TEST_CLUSTER_URLS names no nodes "
                    "(scripts/galera.sh start DIR 3 prints them)";
  const std::vector<std::string> nodes = freshClusterDatabaseUrls();

  // The shared operations exist before the writers start: two first reports of one request
  // identifier at once would be two operations on a single server too.
  std::string first = envLines();
  for (int k = 0; k < kSharedOps; ++k)
    first += progressLine("op-" + std::to_string(k), "vm.start", 0, 0, 1701000000 + k, "created",
                          operands(k));
  ToolRun created = jrxOn(nodes[0], {"import"}, first);
  ASSERT_EQ(created.status, 0) << created.err;

  std::vector<ToolRun> runs(kWriters);
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w)
    writers.emplace_back([&, w] {
      // Small batches, so that the writers' transactions overlap many times.
      runs[w] = jrxOn(nodes[w % nodes.size()], {"import", "--batch", "3"}, writerInput(w));
    });
  for (auto& t : writers) t.join();
  for (int w = 0; w < kWriters; ++w) ASSERT_EQ(runs[w].status, 0) << "writer " << w << ": "
                                                                  << runs[w].err;

  const std::vector<std::string> rows = rowsOn(nodes[0]);
  for (size_t n = 1; n < nodes.size(); ++n) EXPECT_EQ(rowsOn(nodes[n]), rows) << "node " << n + 1;

  // Each count beside its count of distinct keys: every record once, nothing lost.
  struct Count {
    const char* sql;
    std::string expected;
  };
  const int ops = kSharedOps + kWriters * kOwnOps;
  const int texts = kSharedOps * (1 + kWriters * kReportsPerWriter) + kWriters * kOwnOps;
  const Count counts[] = {
      {"SELECT COUNT(*), COUNT(DISTINCT id) FROM op_log",
       std::to_string(ops) + "\t" + std::to_string(ops)},
      {"SELECT COUNT(*), COUNT(DISTINCT op_id, info) FROM op_log_data",
       std::to_string(texts) + "\t" + std::to_string(texts)},
      {"SELECT COUNT(*), COUNT(DISTINCT guid) FROM events_log",
       std::to_string(kEvents) + "\t" + std::to_string(kEvents)},
      {"SELECT COUNT(*) - COUNT(DISTINCT eid, title) FROM env_log", "0"},
      {"SELECT COUNT(*) FROM op_log WHERE status <> 2 AND id LIKE 'op-%'", "0"},
  };
  for (const auto& c : counts) {
    ToolRun r = sqlOn(nodes[nodes.size() - 1], c.sql);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.expected + "\n") << c.sql;
  }
}

}  // namespace
}  // namespace jrxtest
