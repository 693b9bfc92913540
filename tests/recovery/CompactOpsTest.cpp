// JRXOpLogLocal::compact: which operations go, what stays, and what is logged when.
#include <climits>
#include <ctime>

#include "LogDbFixture.h"

using namespace JRX;

namespace jrxtest {
namespace {

class CompactOpsTest : public LogDbFixture {
 protected:
  // An operation with a progress row, a link and a task row.
  static void operation(const std::string& id, int status, int time) {
    const int op = opRow(id, "job", status, time);
    progressRow(op, 100, time, status, "x");
    linkRow(op, envRow(JRXEID(0x99, 9)), "P");
    op_log_task task;
    task.op_id = op;
    task.task_id = "task-" + id;
    insertRow(task);
  }

  static std::vector<std::string> remaining() {
    op_log o;
    return rowsOf({&o}, {&o->op_id, &o->id});
  }

  // Every row but those of op_log.
  static std::vector<std::string> details() {
    std::vector<std::string> rows;
    for (const std::string& r : allLogRows())
      if (r.compare(0, 8, "op_log: ") != 0) rows.push_back(r);
    return rows;
  }

  static int now() { return static_cast<int>(time(nullptr)); }
};

// Ended operations whose first report is at least `age` seconds old go, the threshold
// computed in 32 bits as the times are stored; unfinished ones stay at any age, and so do
// the detail rows of those that go.
TEST_P(CompactOpsTest, RemovesEndedOperationsOlderThanTheAge) {
  const int t = now();
  operation("running-1901", 2, INT_MIN);
  operation("ancient", 3, INT_MIN + 1);
  operation("started-1970", 1, 0);
  operation("epoch", 3, 0);
  operation("past", 5, t - 10);
  operation("future", 5, t + 1000);
  operation("future-running", 2, t + 1000);
  operation("canceled-future", 4, t + 100000);
  const std::vector<std::string> kept = details();
  const std::pair<int, std::vector<std::string>> steps[] = {
      // now - INT_MIN wraps to a time decades before 1970.
      {INT_MIN, {"1|running-1901", "3|started-1970", "4|epoch", "5|past", "6|future", "7|future-running", "8|canceled-future"}},
      {0, {"1|running-1901", "3|started-1970", "6|future", "7|future-running", "8|canceled-future"}},
      {-3600, {"1|running-1901", "3|started-1970", "7|future-running", "8|canceled-future"}},
      {-1000000, {"1|running-1901", "3|started-1970", "7|future-running"}}};
  for (const auto& s : steps) {
    SCOPED_TRACE(s.first);
    sink->clear();
    EXPECT_EQ(0, failEachStatement(nullptr, [&] { return JRXOpLogLocal::compact(s.first); }));
    EXPECT_EQ(remaining(), s.second);
    // Each failed run logs its failure; success is logged once, after the commit.
    std::vector<std::string> logged = records(1);
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.back(), "compact " + std::to_string(s.first));
    logged.pop_back();
    EXPECT_EQ(logged, std::vector<std::string>(logged.size(), "Operations compact failed."));
  }
  EXPECT_EQ(details(), kept);
  EXPECT_EQ(sink->records().back().function, "compact");
}

TEST_P(CompactOpsTest, ThresholdIsInclusive) {
  // The threshold is taken from the clock inside compact; a run that straddles a second
  // proves nothing and is repeated.
  for (int attempt = 0; attempt < 5; ++attempt) {
    const int t = now() - 3600;
    operation("at", 3, t);
    operation("after", 3, t + 1);
    const int before = now();
    ASSERT_EQ(0, JRXOpLogLocal::compact(before - t));
    if (now() == before) {
      op_log o;
      EXPECT_EQ(rowsOf({&o}, {&o->id}), std::vector<std::string>{"after"});
      return;
    }
    ASSERT_EQ(0, JRXOpLogLocal::compact(-10));
  }
  FAIL() << "the clock kept moving during compaction";
}

JRX_ON_EVERY_BACKEND(CompactOpsTest);

}  // namespace
}  // namespace jrxtest
