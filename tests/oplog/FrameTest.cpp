// The request frame around the write path: rights before any database work, database
// failures turned into 3101 with nothing committed, the last-error rule, and the local
// modificators.
#include "JRXRetry.h"
#include "OpLogTestSupport.h"

using namespace JRX;
using namespace oplogtest;

namespace {

TEST(EndCommand, OnlyFailuresWithAMessageBecomeTheLastError) {
  JRXOpLogLocal log(nullptr);
  auto context = log.getContextLocal();

  log.beginCommand();
  EXPECT_EQ(log.endCommand(JRXRequestErrorData(0, "fine, really")), 0);
  EXPECT_FALSE(context->hasLastError());

  log.beginCommand();
  EXPECT_EQ(log.endCommand(JRXRequestErrorData(414, "")), 414);
  EXPECT_FALSE(context->hasLastError());

  log.beginCommand();
  EXPECT_EQ(log.endCommand(JRXRequestErrorData(3101, "broken")), 3101);
  ASSERT_TRUE(context->hasLastError());
  EXPECT_EQ(context->getLastError().code, 3101);
  EXPECT_EQ(context->getLastError().message, "broken");

  // Neither success nor a bare code replaces it.
  log.beginCommand();
  log.endCommand(JRXRequestErrorData(0, ""));
  log.beginCommand();
  log.endCommand(JRXRequestErrorData(500, ""));
  EXPECT_EQ(context->getLastError().message, "broken");
  EXPECT_EQ(log.commandDepth(), 0);
  EXPECT_EQ(log.endedCommands().size(), 5u);
}

template <class Service, class Face>
void expectLocalModificators(Service& s, Face* self) {
  EXPECT_EQ(s.beginTransaction(), nullptr);
  EXPECT_EQ(s.endTransaction(nullptr), nullptr);
  EXPECT_EQ(s.remote("peer", true), self);
  EXPECT_EQ(s.exclusive(), self);
  EXPECT_EQ(s.connection(nullptr), self);
  EXPECT_EQ(s.session("s-1"), self);
  EXPECT_EQ(s.getThis(), self);
  // The framework's own modificators still record their settings.
  EXPECT_EQ(s.priority(7), self);
  EXPECT_EQ(s.settings().priorityValue, 7);
}

TEST(Modificators, LocalServicesHaveNoTransactionPeerConnectionOrSession) {
  JRXOpLogLocal ops(nullptr);
  JRXOpLog* opFace = &ops;
  expectLocalModificators(ops, opFace);
  // Also through the functional interface, as the framework calls them.
  EXPECT_EQ(opFace->beginTransaction(), nullptr);
  EXPECT_EQ(opFace->remote("x", false), opFace);

  JRXEventLogLocal events(nullptr);
  JRXEventLog* eventFace = &events;
  expectLocalModificators(events, eventFace);
  EXPECT_EQ(eventFace->session("y"), eventFace);
  EXPECT_EQ(events.commandDepth(), 0);
}

TEST(Helpers, RecordsLimitAndEmptyString) {
  EXPECT_EQ(getRecordsLimit(3, 10), 3u);
  EXPECT_EQ(getRecordsLimit(10, 3), 3u);
  EXPECT_EQ(getRecordsLimit(0, 5), 0u);
  EXPECT_EQ(getRecordsLimit(~0u, ~0u), ~0u);
  EXPECT_TRUE(emptyStr().empty());
  EXPECT_EQ(&emptyStr(), &emptyStr());
  EXPECT_TRUE(ASComparison(emptyStr(), nullptr, nullptr).IsEmpty());
}

class FrameTest : public OpLogDbTest {
 protected:
  bool throughFaults() const override { return true; }
};

TEST_P(FrameTest, RefusedRightTouchesNoDatabase) {
  JRXOpLogLocal log(nullptr);
  NoRights client;
  auto r = report("req-1", "vm.start", 0, 0, kT0, "a");
  r.operands = {kVm1};
  ASFaults::Clear();
  EXPECT_EQ(log.saveProgress(r), 414);
  EXPECT_EQ(ASFaults::StatementsSeen(), 0);
  EXPECT_EQ(client.checker.checksMade(), 1);
  ASSERT_EQ(log.endedCommands().size(), 1u);
  EXPECT_EQ(log.endedCommands()[0].message, "");
  EXPECT_FALSE(log.getContextLocal()->hasLastError());
}

TEST_P(FrameTest, RightIsCheckedOverTheOperands) {
  auto rights = std::make_shared<JRXRightsTable>();
  rights->grant(kVm1, 55);
  JRXAccessChecker checker(rights);
  JRXAccessChecker::setClientContext(&checker);
  JRXOpLogLocal log(nullptr);

  auto r = report("req-1", "vm.start", 0, 0, kT0, "a");
  r.operands = {kVm2};
  EXPECT_EQ(log.saveProgress(r), 414);
  // The check narrows a copy; the operand it refused is still linked from the record.
  r.operands = {kVm1, kVm2};
  EXPECT_EQ(log.saveProgress(r), 0);
  EXPECT_EQ(linkSummary(onlyOp("req-1").op_id),
            (std::vector<std::string>{"O N vm-1", "O N vm-2", "P N node-1", "S Y local-node"}));

  auto wrongRight = std::make_shared<JRXRightsTable>();
  wrongRight->grantEverywhere(54);
  JRXAccessChecker other(wrongRight);
  JRXAccessChecker::setClientContext(&other);
  EXPECT_EQ(log.saveProgress(report("req-2", "vm.start", 0, 0, kT0, "a")), 414);
}

TEST_P(FrameTest, DatabaseFailureEndsWith3101AndCommitsNothing) {
  JRXOpLogLocal log(nullptr);
  auto r = report("req-1", "vm.start", 0, 0, kT0, "a");
  r.info.addParameter("task_id", "t");
  // The operation row, its task and its links are written before the first text fails.
  ASFaults::FailStatement(1, "op_log_data", "the disk is full");
  EXPECT_EQ(log.saveProgress(r), 3101);
  ASFaults::Clear();
  auto last = log.getContextLocal()->getLastError();
  EXPECT_EQ(last.code, 3101);
  EXPECT_EQ(last.message, "the disk is full");
  EXPECT_EQ(log.commandDepth(), 0);
  op_log ops;
  op_log_env env;
  op_log_task tasks;
  env_log envs;
  EXPECT_EQ(countRows(ops), 0);
  EXPECT_EQ(countRows(env), 0);
  EXPECT_EQ(countRows(tasks), 0);
  EXPECT_EQ(countRows(envs), 0);

  // The same object works on afterwards.
  EXPECT_EQ(log.saveProgress(r), 0);
  EXPECT_EQ(onlyOp("req-1").status, 1);
}

TEST_P(FrameTest, FailureOfALaterReportKeepsTheOperationAsItWas) {
  JRXOpLogLocal log(nullptr);
  ASSERT_EQ(log.saveProgress(report("req-1", "vm.start", 0, 0, kT0, "a")), 0);
  const OpRow before = onlyOp("req-1");
  auto r = report("req-1", "", 4, 100, kT0 + 1, "b");
  r.operands = {kVm1};
  ASFaults::FailStatement(1, "op_log_data", "gone");
  EXPECT_EQ(log.saveProgress(r), 3101);
  ASFaults::Clear();
  EXPECT_EQ(onlyOp("req-1").status, before.status);
  EXPECT_EQ(dataRows(before.op_id).size(), 1u);
  EXPECT_EQ(links(before.op_id).size(), 3u);
}

TEST_P(FrameTest, RunningReportsLeaveARunningOperationRowAlone) {
  JRXOpLogLocal log(nullptr);
  ASSERT_EQ(log.saveProgress(report("req-1", "vm.start", 0, 0, kT0, "a")), 0);
  ASSERT_EQ(log.saveProgress(report("req-1", "", 0, 10, kT0 + 1, "b")), 0);
  ASSERT_EQ(onlyOp("req-1").status, 2);
  // Any write to the operation row now fails the report that makes it.
  ASFaults::FailStatement(1, "UPDATE op_log SET", "op_log touched");
  EXPECT_EQ(log.saveProgress(report("req-1", "", 0, 20, kT0 + 2, "c")), 0);
  EXPECT_EQ(log.saveProgress(report("req-1", "", 2, 30, kT0 + 3, "c")), 0);
  EXPECT_EQ(dataRows(onlyOp("req-1").op_id).size(), 3u);
  // The armed fault does catch a status change, so the reports above really wrote none.
  EXPECT_EQ(log.saveProgress(report("req-1", "", 3, 100, kT0 + 4, "d")), 3101);
  EXPECT_EQ(log.getContextLocal()->getLastError().message, "op_log touched");
  EXPECT_EQ(onlyOp("req-1").status, 2);
}

TEST_P(FrameTest, LostConnectionIsReportedAndTheNextCallReconnects) {
  JRXOpLogLocal log(nullptr);
  ASSERT_EQ(log.saveProgress(report("req-1", "vm.start", 0, 0, kT0, "a")), 0);
  ASFaults::DropConnection(1);
  EXPECT_EQ(log.saveProgress(report("req-1", "", 0, 5, kT0 + 1, "b")), 3101);
  ASFaults::Clear();
  EXPECT_FALSE(log.getContextLocal()->getLastError().message.empty());
  EXPECT_EQ(log.saveProgress(report("req-1", "", 0, 5, kT0 + 1, "b")), 0);
  EXPECT_EQ(dataRows(onlyOp("req-1").op_id).size(), 2u);
}

// The helper replays a call only for failures that other sessions' work caused, and the
// frame makes each failed run leave nothing, so the replays store the report exactly once.
TEST_P(FrameTest, RetryHelperReplaysOnlyTransientFailures) {
  enum Fault { kConflict, kLost, kPlain };
  struct Case {
    Fault fault;
    int faultyRuns;
    int answer;
    size_t replays;
  };
  const JRXRetryPolicy policy{3, std::chrono::milliseconds(0), std::chrono::milliseconds(0)};
  for (const Case& c : {Case{kConflict, 1, 0, 1}, Case{kLost, 2, 0, 2}, Case{kPlain, 1, 3101, 0},
                        Case{kConflict, 3, 3101, 2}}) {
    SCOPED_TRACE(std::to_string(c.fault) + " x" + std::to_string(c.faultyRuns));
    const std::string id = "req-" + std::to_string(c.fault) + "-" + std::to_string(c.faultyRuns);
    for (int run = 1; run <= c.faultyRuns; ++run) {
      if (c.fault == kConflict) ASFaults::ConflictStatement(run, "op_log_data");
      if (c.fault == kLost) ASFaults::DropConnection(run, "op_log_data");
      if (c.fault == kPlain) ASFaults::FailStatement(run, "op_log_data", "the disk is full");
    }
    JRXOpLogLocal log(nullptr);
    std::vector<int> noticed;
    int answer = retryService(
        [&] { return log.saveProgress(report(id, "vm.start", 0, 0, kT0, "a")); }, policy,
        [&](int failedRun, const std::string&, std::chrono::milliseconds) {
          noticed.push_back(failedRun);
        });
    ASFaults::Clear();
    EXPECT_EQ(answer, c.answer);
    EXPECT_EQ(noticed.size(), c.replays);
    EXPECT_EQ(opRows(id).size(), c.answer == 0 ? 1u : 0u);
    if (c.answer == 0) {
      EXPECT_EQ(dataRows(onlyOp(id).op_id).size(), 1u);
    }
  }
}

TEST_P(FrameTest, NoDatabaseIsADatabaseFailure) {
  JRXDatabase::close();
  JRXOpLogLocal log(nullptr);
  EXPECT_EQ(log.saveProgress(report("req-1", "vm.start", 0, 0, kT0, "a")), 3101);
  EXPECT_FALSE(log.getContextLocal()->getLastError().message.empty());
  EXPECT_EQ(log.commandDepth(), 0);
}

INSTANTIATE_TEST_SUITE_P(Db, FrameTest, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());

}  // namespace
