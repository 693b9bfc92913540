// jrxlog writers on every node of a multi-primary cluster at once, about the same records,
// replay what commit refuses: every node holds the same rows, each record once. Runs where
// JRX_TEST_CLUSTER_URLS names the nodes (scripts/test.sh starts them).
#include <future>

#include "ToolFixture.h"

namespace jrxtest {
namespace {

const int kWriters = 3, kOps = 6, kReports = 8 /* per writer and operation */, kEvents = 30;

std::string n(int i) { return std::to_string(i); }
std::string vm(int i) { return "\"11111111-1111-4111-8111-1111111111" + n(10 + i % 5) + "\""; }

std::string machines() {
  std::string s;
  for (int i = 0; i < 5; ++i) s += R"({"kind":"env","type":"vm","eid":)" + vm(i) + "}\n";
  return s;
}

// Operation k's report of a step, naming one of the machines; the first step creates it.
std::string report(int k, int step, const std::string& text) {
  return R"({"kind":"progress","id":"op-)" + n(k) + R"(","name":"vm.start","time":)" +
         n(1701000000 + step) + R"(,"progress":)" + n(step) + R"(,"operands":[)" + vm(k + step) +
         R"(],"info":{"text":")" + text + "\"}}\n";
}

// Every writer reports on every operation, each report with a text of its own so that each
// one adds a row, naming the machine the other writers name at the same step, and sends all
// events, about the same machines, in the same order: the writers keep running into each other.
std::string writerInput(int w) {
  std::string s = machines();
  for (int step = 1; step <= kReports; ++step)
    for (int k = 0; k < kOps; ++k) s += report(k, step, "w" + n(w) + " step " + n(step));
  for (int e = 0; e < kEvents; ++e)
    s += R"({"kind":"event","guid":"3f1e0d2c-0000-4000-8000-0000000000)" + n(10 + e) +
         R"(","type":"alert","info":{"params":{"source_env":{"params":{"eid":")" + kNode +
         R"(","type":"node"}},"env":{"params":{"eid":)" + vm(e) + R"(,"type":"vm"}}}}})" + "\n";
  return s;
}

// The MariaDB client on the node of `url` (mysql://root@localhost/DB?socket=PATH), reading
// only after the node has applied everything the cluster committed before.
ToolRun sqlOn(const std::string& url, const std::string& sql) {
  auto slash = url.find('/', url.find("://") + 3), query = url.find('?');
  ToolRun r = runProgram("mariadb", {"--no-defaults", "-uroot", "-S",
                                     url.substr(url.find("socket=") + 7), "-N", "-B",
                                     url.substr(slash + 1, query - slash - 1), "-e",
                                     "SET SESSION wsrep_sync_wait = 1; " + sql});
  EXPECT_EQ(r.status, 0) << r.err;
  return r;
}

// Every row of every table of the node, "\nTABLE\tCOLUMNS..." each, sorted: tables without a
// primary key need not list their rows in the same order on every node.
std::string rowsOn(const std::string& url) {
  Strings rows;
  for (const auto& table : sqlOn(url, "SHOW TABLES").lines())
    for (const auto& row : sqlOn(url, "SELECT * FROM " + table).lines())
      rows.push_back("\n" + table + "\t" + row);
  std::string all;
  for (const auto& row : sorted(rows)) all += row;
  return all;
}

TEST(ToolCluster, WritersOnEveryNodeAtOnceLeaveEveryRecordOnceOnEveryNode) {
  if (clusterNodeUrls().size() < 2)
    GTEST_SKIP() << "no cluster: JRX_TEST_CLUSTER_URLS names no nodes "
                    "(scripts/galera.sh start DIR 3 prints them)";
  const Strings nodes = freshClusterDatabaseUrls();
  // The operations exist before the writers start: two first reports of one request
  // identifier at once would be two operations on a single server too.
  std::string first = machines();
  for (int k = 0; k < kOps; ++k) first += report(k, 0, "created");
  ToolRun created = jrxOn(nodes[0], {"import"}, first);
  ASSERT_EQ(created.status, 0) << created.err;
  std::vector<std::future<ToolRun>> writers;
  for (int w = 0; w < kWriters; ++w)  // small batches, so that transactions overlap many times
    writers.push_back(std::async(std::launch::async, [&, w] {
      return jrxOn(nodes[w % nodes.size()], {"import", "--batch", "3"}, writerInput(w));
    }));
  for (auto& w : writers) {
    const ToolRun r = w.get();
    EXPECT_EQ(r.status, 0) << r.err;
  }

  const std::string rows = rowsOn(nodes[0]);
  for (size_t i = 1; i < nodes.size(); ++i) EXPECT_TRUE(rowsOn(nodes[i]) == rows) << "node " << i;
  // Every record once, nothing lost; the later reports kept the operations running.
  EXPECT_EQ(count(rows, "\nop_log\t"), static_cast<size_t>(kOps));
  EXPECT_EQ(count(rows, "\nop_log_data\t"), static_cast<size_t>(kOps * (1 + kWriters * kReports)));
  EXPECT_EQ(count(rows, "\nevents_log\t"), static_cast<size_t>(kEvents));
  EXPECT_EQ(sqlOn(nodes[0], "SELECT COUNT(*) - COUNT(DISTINCT eid, title) FROM env_log UNION ALL "
                            "SELECT COUNT(*) FROM op_log WHERE status <> 2").out, "0\n0\n");
}

}  // namespace
}  // namespace jrxtest
