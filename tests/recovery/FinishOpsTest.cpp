// finishOps: what a restart closes, and how.
#include <gtest/gtest.h>

#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "OpLogFixture.h"

using namespace JRX;
using jrxtest::OpLogRows;

namespace {

const char* kCanceled = "Operation was canceled by restart";

class FinishOpsTest : public jrxtest::OpLogFixture {
 protected:
  void SetUp() override {
    OpLogFixture::SetUp();
    OpLogRows::node(localEid);
    OpLogRows::node(remote);
  }

  // An operation recorded the normal way, running on `executing`; `running` sends a second
  // report so that it is in state 2 rather than 1.
  void record(const std::string& id, const JRXEID& executing, bool running = false) {
    JRXRequestProgressData report(id);
    report.name = "job";
    report.eid = executing;
    report.time = 1000;
    report.progress = 5;
    report.info = JRXInfo("begin");
    ASSERT_EQ(0, service.saveProgress(report));
    if (running) {
      report.time = 1001;
      report.progress = 50;
      report.info = JRXInfo("half way");
      ASSERT_EQ(0, service.saveProgress(report));
    }
  }

  // op_id of the only operation with that request identifier.
  static int opId(const std::string& id) {
    int found = 0;
    for (const auto& r : OpLogRows::ops())
      if (r.id == id) {
        EXPECT_EQ(0, found) << "several operations " << id;
        found = r.op_id;
      }
    return found;
  }

  static std::string text(const jrxtest::DataRow& row) {
    JRXInfo info;
    EXPECT_EQ(0, info.deserializeFromString(row.info.c_str()));
    return info.getText();
  }

  static long long dataRows() { return OpLogRows::count(op_log_data()); }

  const JRXEID remote{0x2222, 2};
  const JRXEID unknown{0x3333, 3};
  JRXOpLogLocal service{nullptr};
};

TEST_P(FinishOpsTest, ClosesLocalAndUnknownExecutorsButNotOtherNodes) {
  record("local-started", localEid);
  record("local-running", localEid, true);
  record("unknown", unknown, true);
  record("remote", remote, true);
  const long long before = dataRows();

  const int64_t from = time(nullptr);
  EXPECT_EQ(0, service.finishOps());
  const int64_t to = time(nullptr);

  std::set<int> closingTimes;
  for (const char* id : {"local-started", "local-running", "unknown"}) {
    SCOPED_TRACE(id);
    int op = opId(id);
    EXPECT_EQ(4, OpLogRows::status(op));
    auto rows = OpLogRows::data(op);
    ASSERT_FALSE(rows.empty());
    const auto& last = rows.back();
    EXPECT_EQ(4, last.status);
    EXPECT_EQ(100, last.progress);
    EXPECT_EQ(kCanceled, text(last));
    EXPECT_GE(last.time, from);
    EXPECT_LE(last.time, to);
    closingTimes.insert(last.time);
  }
  EXPECT_EQ(1u, closingTimes.size()) << "one restart, one time";

  int remoteOp = opId("remote");
  EXPECT_EQ(2, OpLogRows::status(remoteOp));
  EXPECT_EQ("half way", text(OpLogRows::data(remoteOp).back()));
  EXPECT_EQ(before + 3, dataRows());

  // The three closing reports ran as commands of their own inside finishOps.
  ASSERT_EQ(0, service.commandDepth());
  EXPECT_EQ(0, service.endedCommands().back().code);
}

TEST_P(FinishOpsTest, NothingUnfinishedEndsWithZeroAndWritesNothing) {
  for (int status : {3, 4, 5, 99}) {
    int op = OpLogRows::op("ended-" + std::to_string(status), "job", status, 1000);
    OpLogRows::link(op, OpLogRows::env(localEid, "local"), "P");
    OpLogRows::progress(op, 100, 1000, status, JRXInfo("over"));
  }
  record("remote", remote);
  const auto opsBefore = OpLogRows::ops();
  const long long before = dataRows();
  const size_t commandsBefore = service.endedCommands().size();

  EXPECT_EQ(0, service.finishOps());
  EXPECT_EQ(before, dataRows());
  const auto opsAfter = OpLogRows::ops();
  ASSERT_EQ(opsBefore.size(), opsAfter.size());
  for (size_t i = 0; i < opsBefore.size(); ++i) EXPECT_EQ(opsBefore[i].status, opsAfter[i].status);
  EXPECT_EQ(commandsBefore + 1, service.endedCommands().size()) << "no nested saveProgress";
}

TEST_P(FinishOpsTest, SecondCallFindsNothing) {
  record("a", localEid);
  record("b", unknown, true);
  ASSERT_EQ(0, service.finishOps());
  const long long after = dataRows();
  const size_t commands = service.endedCommands().size();
  EXPECT_EQ(0, service.finishOps());
  EXPECT_EQ(after, dataRows());
  EXPECT_EQ(commands + 1, service.endedCommands().size());
}

TEST_P(FinishOpsTest, SharedRequestIdentifierGetsOneClosingReport) {
  int p = OpLogRows::env(localEid, "local");
  int first = OpLogRows::op("dup", "job", 1, 1000);
  OpLogRows::link(first, p, "P");
  int second = OpLogRows::op("dup", "job", 2, 1001);
  OpLogRows::link(second, p, "P");
  const size_t commandsBefore = service.endedCommands().size();

  EXPECT_EQ(0, service.finishOps());
  EXPECT_EQ(commandsBefore + 2, service.endedCommands().size()) << "one saveProgress, one finishOps";
  const int s1 = OpLogRows::status(first), s2 = OpLogRows::status(second);
  EXPECT_TRUE((s1 == 4 && s2 == 2) || (s1 == 1 && s2 == 4)) << s1 << " " << s2;
  EXPECT_EQ(1u, OpLogRows::data(s1 == 4 ? first : second).size());
}

TEST_P(FinishOpsTest, FailedClosingReportDoesNotStopTheOthers) {
  record("a", localEid, true);
  record("b", localEid, true);
  record("c", localEid, true);
  // The closing report moves the status; the first such update fails.
  ASFaults::FailStatement(1, "UPDATE");
  EXPECT_EQ(0, service.finishOps());
  int closed = 0, open = 0;
  for (const char* id : {"a", "b", "c"}) {
    int s = OpLogRows::status(opId(id));
    if (s == 4) ++closed;
    if (s == 2) ++open;
  }
  EXPECT_EQ(2, closed);
  EXPECT_EQ(1, open);
  bool innerFailure = false;
  for (const auto& e : service.endedCommands()) innerFailure |= e.code == 3101;
  EXPECT_TRUE(innerFailure);
}

TEST_P(FinishOpsTest, DatabaseFailureOfTheSelectionEndsWith3101) {
  record("a", localEid);
  ASFaults::FailStatement(1, "DISTINCT", "selection failed");
  EXPECT_EQ(3101, service.finishOps());
  EXPECT_EQ(1, OpLogRows::status(opId("a")));
  EXPECT_EQ("selection failed", service.getContextLocal()->getLastError().message);
}

TEST_P(FinishOpsTest, FailedFinalCommitUndoesTheClosingReports) {
  record("a", localEid, true);
  record("b", unknown);
  const long long before = dataRows();
  // The closing reports are committed inside finishOps's own transaction; only its commit
  // makes them last.
  ASFaults::FailStatement(1, "COMMIT", "commit refused");
  EXPECT_EQ(3101, service.finishOps());
  EXPECT_EQ("commit refused", service.getContextLocal()->getLastError().message);
  EXPECT_EQ(2, OpLogRows::status(opId("a")));
  EXPECT_EQ(1, OpLogRows::status(opId("b")));
  EXPECT_EQ(before, dataRows());
  EXPECT_EQ(0, service.finishOps());
  EXPECT_EQ(4, OpLogRows::status(opId("a")));
}

INSTANTIATE_TEST_SUITE_P(Db, FinishOpsTest, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());

}  // namespace
