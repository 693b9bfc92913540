// JRXOpLogLocal::compact: which operations go, what stays, and what is logged when.
#include <gtest/gtest.h>

#include <climits>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "OpLogFixture.h"

using namespace JRX;
using jrxtest::OpLogRows;

namespace {

// Remembers, with each record, how many statements had run when it was written.
class StatementStampingSink : public JRXLogSink {
 public:
  // The framework's own records (a failure it maps) are not the plug-in's business here.
  void write(const JRXLogRecord& r) override {
    if (r.category != "JRXLogDBLocal") return;
    records.push_back(r);
    stamps.push_back(ASFaults::StatementsSeen());
  }
  std::vector<JRXLogRecord> records;
  std::vector<int> stamps;
};

class CompactOpsTest : public jrxtest::OpLogFixture {
 protected:
  void SetUp() override {
    OpLogFixture::SetUp();
    sink = std::make_shared<StatementStampingSink>();
    previous = setLogSink(sink);
    env = OpLogRows::env(JRXEID(0x99, 9), "node");
  }
  void TearDown() override {
    setLogSink(previous);
    OpLogFixture::TearDown();
  }

  // An operation with a progress row, a link and a task row.
  int operation(const std::string& id, int status, int time) {
    int op = OpLogRows::op(id, "job", status, time);
    OpLogRows::progress(op, 100, time, status, JRXInfo("x"));
    OpLogRows::link(op, env, "P");
    JRXRdbmsTran tran;
    op_log_task task;
    task.op_id = op;
    task.task_id = "task-" + id;
    (*tran)->Insert(task);
    tran.commit();
    return op;
  }

  static std::vector<std::string> remaining() {
    std::vector<std::string> ids;
    for (const auto& r : OpLogRows::ops()) ids.push_back(r.id);
    return ids;
  }

  static int now() { return static_cast<int>(time(nullptr)); }

  std::shared_ptr<StatementStampingSink> sink;
  std::shared_ptr<JRXLogSink> previous;
  int env = 0;
};

TEST_P(CompactOpsTest, UnfinishedOperationsSurviveAnyAge) {
  operation("started-1970", 1, 0);
  operation("running-1901", 2, INT_MIN);
  operation("ended-1970", 3, 0);
  operation("canceled-future", 4, now() + 100000);
  EXPECT_EQ(0, JRXOpLogLocal::compact(-1000000));
  EXPECT_EQ((std::vector<std::string>{"started-1970", "running-1901"}), remaining());
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
    if (now() != before) {
      ASSERT_EQ(0, JRXOpLogLocal::compact(-10));
      continue;
    }
    EXPECT_EQ((std::vector<std::string>{"after"}), remaining());
    return;
  }
  FAIL() << "the clock kept moving during compaction";
}

TEST_P(CompactOpsTest, AgeZeroAndNegativeAges) {
  const int t = now();
  operation("past", 5, t - 10);
  operation("future", 5, t + 1000);
  operation("future-running", 2, t + 1000);
  EXPECT_EQ(0, JRXOpLogLocal::compact(0));
  EXPECT_EQ((std::vector<std::string>{"future", "future-running"}), remaining());
  EXPECT_EQ(0, JRXOpLogLocal::compact(-3600));
  EXPECT_EQ((std::vector<std::string>{"future-running"}), remaining());
}

TEST_P(CompactOpsTest, ThresholdIsComputedIn32Bits) {
  // now - INT_MIN wraps to a time decades before 1970: only older operations go.
  operation("ancient", 3, INT_MIN + 1);
  operation("epoch", 3, 0);
  EXPECT_EQ(0, JRXOpLogLocal::compact(INT_MIN));
  EXPECT_EQ((std::vector<std::string>{"epoch"}), remaining());
}

TEST_P(CompactOpsTest, OperationsAreAgedByTheirFirstReport) {
  JRXOpLogLocal service(nullptr);
  const int t = now();
  JRXRequestProgressData report("long");
  report.name = "job";
  report.time = t - 7200;
  report.info = JRXInfo("begin");
  ASSERT_EQ(0, service.saveProgress(report));
  report.status = 3;
  report.time = t;
  report.info = JRXInfo("done");
  ASSERT_EQ(0, service.saveProgress(report));
  // It ended just now, but it began two hours ago.
  EXPECT_EQ(0, JRXOpLogLocal::compact(3600));
  EXPECT_TRUE(remaining().empty());
}

TEST_P(CompactOpsTest, DetailRowsOfDeletedOperationsStay) {
  operation("old-1", 3, 100);
  operation("old-2", 4, 200);
  const long long data = OpLogRows::count(op_log_data());
  const long long links = OpLogRows::count(op_log_env());
  const long long tasks = OpLogRows::count(op_log_task());
  const long long envs = OpLogRows::count(env_log());
  EXPECT_EQ(0, JRXOpLogLocal::compact(0));
  EXPECT_TRUE(remaining().empty());
  EXPECT_EQ(data, OpLogRows::count(op_log_data()));
  EXPECT_EQ(links, OpLogRows::count(op_log_env()));
  EXPECT_EQ(tasks, OpLogRows::count(op_log_task()));
  EXPECT_EQ(envs, OpLogRows::count(env_log()));
}

TEST_P(CompactOpsTest, SuccessIsLoggedAfterTheCommit) {
  operation("old", 3, 100);
  const int start = ASFaults::StatementsSeen();
  ASSERT_EQ(0, JRXOpLogLocal::compact(77));
  ASSERT_EQ(1u, sink->records.size());
  const JRXLogRecord& r = sink->records[0];
  EXPECT_EQ(1, r.level);
  EXPECT_EQ("compact 77", r.text);
  EXPECT_EQ("JRXLogDBLocal", r.category);
  EXPECT_EQ("plugins/JRXLogDB/JRXLogDBLocal", r.file);
  EXPECT_EQ("compact", r.function);
  // Nothing ran after the record: the commit came before it.
  EXPECT_GT(sink->stamps[0], start);
  EXPECT_EQ(ASFaults::StatementsSeen(), sink->stamps[0]);
}

TEST_P(CompactOpsTest, FailedDeleteLogsOnlyTheFailure) {
  operation("old", 3, 100);
  ASFaults::FailStatement(1, "DELETE");
  EXPECT_EQ(3101, JRXOpLogLocal::compact(0));
  ASSERT_EQ(1u, sink->records.size());
  EXPECT_EQ("Operations compact failed.", sink->records[0].text);
  EXPECT_EQ(1, sink->records[0].level);
  EXPECT_EQ("compact", sink->records[0].function);
  EXPECT_EQ((std::vector<std::string>{"old"}), remaining());
}

TEST_P(CompactOpsTest, FailedCommitDeletesNothingAndLogsOnlyTheFailure) {
  operation("old", 3, 100);
  ASFaults::FailStatement(1, "COMMIT");
  EXPECT_EQ(3101, JRXOpLogLocal::compact(0));
  ASSERT_EQ(1u, sink->records.size());
  EXPECT_EQ("Operations compact failed.", sink->records[0].text);
  EXPECT_EQ((std::vector<std::string>{"old"}), remaining());
}

TEST_P(CompactOpsTest, LostConnectionAtTheDeleteDeletesNothing) {
  operation("old", 3, 100);
  ASFaults::DropConnection(1, "DELETE");
  EXPECT_EQ(3101, JRXOpLogLocal::compact(0));
  ASSERT_EQ(1u, sink->records.size());
  EXPECT_EQ("Operations compact failed.", sink->records[0].text);
  // The next call reconnects and works.
  EXPECT_EQ((std::vector<std::string>{"old"}), remaining());
  EXPECT_EQ(0, JRXOpLogLocal::compact(0));
  EXPECT_TRUE(remaining().empty());
}

INSTANTIATE_TEST_SUITE_P(Db, CompactOpsTest, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());

}  // namespace
