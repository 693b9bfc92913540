// The rows each kind of progress report leaves behind.
#include "OpLogTestSupport.h"

using namespace JRX;
using namespace oplogtest;

namespace {

class SaveProgressTest : public OpLogDbTest {};

TEST_P(SaveProgressTest, FirstReportCreatesAStartedOperation) {
  JRXOpLogLocal log(nullptr);
  auto r = report("req-1", "vm.start", 0, 10, kT0, "starting");
  r.parentId = "parent-9";
  r.sessionId = JRXSessionID("s-1");
  r.info.addParameter("task_id", "task-42");
  ASSERT_EQ(log.saveProgress(r), 0);
  EXPECT_EQ(log.commandDepth(), 0);

  OpRow op = onlyOp("req-1");
  EXPECT_EQ(op.op, "vm.start");
  EXPECT_EQ(op.parent_id, "parent-9");
  EXPECT_EQ(op.time, kT0);
  EXPECT_EQ(op.status, 1);
  EXPECT_EQ(op.session_id, "s-1");
  EXPECT_EQ(taskOf(op.op_id), "task-42");

  auto data = dataRows(op.op_id);
  ASSERT_EQ(data.size(), 1u);
  EXPECT_EQ(data[0].status, 1);
  EXPECT_EQ(data[0].progress, 10);
  EXPECT_EQ(data[0].time, kT0);
  EXPECT_EQ(data[0].info, stored(r.info));
  JRXInfo back;
  ASSERT_EQ(logdb::getInfoFromString(data[0].info.c_str(), back), 0);
  EXPECT_EQ(back, r.info);
}

TEST_P(SaveProgressTest, FirstReportKeepsAStatedStatusAndWritesNoTaskWithoutOne) {
  JRXOpLogLocal log(nullptr);
  ASSERT_EQ(log.saveProgress(report("req-1", "vm.stop", 5, 100, kT0, "")), 0);
  OpRow op = onlyOp("req-1");
  EXPECT_EQ(op.status, 5);
  int tasks = -1;
  taskOf(op.op_id, &tasks);
  EXPECT_EQ(tasks, 0);
  auto data = dataRows(op.op_id);
  ASSERT_EQ(data.size(), 1u);
  EXPECT_EQ(data[0].status, 5);
  EXPECT_EQ(data[0].info, stored(JRXInfo()));
}

TEST_P(SaveProgressTest, RunningReportsFoldRepeatedTextsAndAppendNewOnes) {
  JRXOpLogLocal log(nullptr);
  ASSERT_EQ(log.saveProgress(report("req-1", "vm.start", 0, 0, kT0, "starting")), 0);
  const int opId = onlyOp("req-1").op_id;

  // A later report without status: running; a new text is appended with status 2.
  ASSERT_EQ(log.saveProgress(report("req-1", "", 0, 20, kT0 + 1, "copying")), 0);
  EXPECT_EQ(onlyOp("req-1").status, 2);
  auto data = dataRows(opId);
  ASSERT_EQ(data.size(), 2u);
  EXPECT_EQ(data[1].status, 2);
  EXPECT_EQ(data[1].progress, 20);

  // The same text again: the latest row takes the newest progress and time.
  ASSERT_EQ(log.saveProgress(report("req-1", "", 0, 30, kT0 + 2, "copying")), 0);
  ASSERT_EQ(log.saveProgress(report("req-1", "", 2, 40, kT0 + 3, "copying")), 0);
  data = dataRows(opId);
  ASSERT_EQ(data.size(), 2u);
  EXPECT_EQ(data[1].progress, 40);
  EXPECT_EQ(data[1].time, kT0 + 3);
  EXPECT_EQ(data[0].progress, 0);

  // Another text appends a row, which the following identical reports refresh.
  ASSERT_EQ(log.saveProgress(report("req-1", "", 0, 50, kT0 + 4, "booting")), 0);
  ASSERT_EQ(log.saveProgress(report("req-1", "", 0, 60, kT0 + 5, "booting")), 0);
  data = dataRows(opId);
  ASSERT_EQ(data.size(), 3u);
  EXPECT_EQ(data[2].progress, 60);
  EXPECT_EQ(data[2].time, kT0 + 5);
  EXPECT_EQ(data[1].progress, 40);

  // The operation row keeps what its first report gave.
  OpRow op = onlyOp("req-1");
  EXPECT_EQ(op.op, "vm.start");
  EXPECT_EQ(op.time, kT0);
  EXPECT_EQ(op.op_id, opId);
}

TEST_P(SaveProgressTest, EndStatusAlwaysAppends) {
  JRXOpLogLocal log(nullptr);
  ASSERT_EQ(log.saveProgress(report("req-1", "vm.start", 0, 0, kT0, "working")), 0);
  ASSERT_EQ(log.saveProgress(report("req-1", "", 0, 50, kT0 + 1, "working")), 0);
  const int opId = onlyOp("req-1").op_id;
  ASSERT_EQ(dataRows(opId).size(), 1u);

  ASSERT_EQ(log.saveProgress(report("req-1", "", 3, 100, kT0 + 2, "working")), 0);
  ASSERT_EQ(log.saveProgress(report("req-1", "", 3, 100, kT0 + 3, "working")), 0);
  EXPECT_EQ(onlyOp("req-1").status, 3);
  auto data = dataRows(opId);
  ASSERT_EQ(data.size(), 3u);
  EXPECT_EQ(data[1].status, 3);
  EXPECT_EQ(data[2].status, 3);
  EXPECT_EQ(data[2].time, kT0 + 3);
}

TEST_P(SaveProgressTest, RunningReportFoldsIntoTheFirstRowWhenItRepeatsItsText) {
  JRXOpLogLocal log(nullptr);
  ASSERT_EQ(log.saveProgress(report("req-1", "vm.start", 0, 0, kT0, "same")), 0);
  ASSERT_EQ(log.saveProgress(report("req-1", "", 0, 10, kT0 + 1, "same")), 0);
  auto data = dataRows(onlyOp("req-1").op_id);
  ASSERT_EQ(data.size(), 1u);
  EXPECT_EQ(data[0].progress, 10);
  EXPECT_EQ(data[0].status, 1);
  EXPECT_EQ(onlyOp("req-1").status, 2);
}

TEST_P(SaveProgressTest, StatusOneRestartsTheOperationUnderTheSameId) {
  JRXOpLogLocal log(nullptr);
  auto first = report("req-1", "vm.start", 0, 0, kT0, "first run");
  first.info.addParameter("task_id", "old-task");
  ASSERT_EQ(log.saveProgress(first), 0);
  ASSERT_EQ(log.saveProgress(report("req-1", "", 0, 50, kT0 + 1, "half")), 0);
  const OpRow old = onlyOp("req-1");
  const auto oldLinks = links(old.op_id);
  ASSERT_FALSE(oldLinks.empty());
  sink->clear();

  ASSERT_EQ(log.saveProgress(report("req-1", "vm.restart", 1, 0, kT0 + 100, "second run")), 0);

  OpRow now = onlyOp("req-1");
  EXPECT_NE(now.op_id, old.op_id);
  EXPECT_EQ(now.op, "vm.restart");
  EXPECT_EQ(now.status, 1);
  EXPECT_EQ(now.time, kT0 + 100);
  EXPECT_TRUE(dataRows(old.op_id).empty());
  ASSERT_EQ(dataRows(now.op_id).size(), 1u);
  // Links and task of the old operation stay behind under its old key.
  EXPECT_EQ(links(old.op_id).size(), oldLinks.size());
  EXPECT_EQ(taskOf(old.op_id), "old-task");
  int tasks = -1;
  taskOf(now.op_id, &tasks);
  EXPECT_EQ(tasks, 0);

  auto records = logRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].level, 2);
  EXPECT_EQ(records[0].category, "JRXLogDBLocal");
  EXPECT_EQ(records[0].file, "plugins/JRXLogDB/JRXLogDBLocal");
  EXPECT_EQ(records[0].function, "saveProgress");
  EXPECT_NE(records[0].signature.find("saveProgress"), std::string::npos);
  EXPECT_EQ(records[0].text,
            "[saveProgress] New operation comes with the same ID (req-1), delete old operation "
            "(time 1701000000)");
}

TEST_P(SaveProgressTest, StatusOneForANewIdIsAnOrdinaryFirstReport) {
  JRXOpLogLocal log(nullptr);
  ASSERT_EQ(log.saveProgress(report("req-1", "vm.start", 1, 0, kT0, "go")), 0);
  EXPECT_EQ(onlyOp("req-1").status, 1);
  EXPECT_TRUE(logRecords().empty());
}

TEST_P(SaveProgressTest, ReportWithoutNameCannotCreateAnOperation) {
  JRXOpLogLocal log(nullptr);
  EXPECT_EQ(log.saveProgress(report("req-1", "", 0, 0, kT0, "x")), 3101);
  EXPECT_TRUE(opRows("req-1").empty());
  op_log ops;
  op_log_env env;
  op_log_data data;
  EXPECT_EQ(countRows(ops), 0);
  EXPECT_EQ(countRows(env), 0);
  EXPECT_EQ(countRows(data), 0);
  auto context = log.getContextLocal();
  ASSERT_TRUE(context->hasLastError());
  EXPECT_EQ(context->getLastError().code, 3101);
  EXPECT_EQ(context->getLastError().message, "Can't save operation without name");
  EXPECT_EQ(log.commandDepth(), 0);
}

TEST_P(SaveProgressTest, RefusedRestartKeepsTheOldOperation) {
  JRXOpLogLocal log(nullptr);
  ASSERT_EQ(log.saveProgress(report("req-1", "vm.start", 0, 0, kT0, "one")), 0);
  ASSERT_EQ(log.saveProgress(report("req-1", "", 0, 10, kT0 + 1, "two")), 0);
  const OpRow old = onlyOp("req-1");
  const auto oldData = dataRows(old.op_id);

  EXPECT_EQ(log.saveProgress(report("req-1", "", 1, 0, kT0 + 5, "again")), 3101);
  EXPECT_EQ(log.getContextLocal()->getLastError().message, "Can't save operation without name");
  OpRow kept = onlyOp("req-1");
  EXPECT_EQ(kept.op_id, old.op_id);
  EXPECT_EQ(kept.status, 2);
  EXPECT_EQ(dataRows(old.op_id).size(), oldData.size());
}

TEST_P(SaveProgressTest, UntranslatableInformationDropsTheWholeReport) {
  JRXOpLogLocal log(nullptr);
  ASSERT_EQ(log.saveProgress(report("req-1", "vm.start", 0, 0, kT0, "one")), 0);
  ASSERT_EQ(log.saveProgress(report("req-1", "", 0, 10, kT0 + 1, "two")), 0);
  const OpRow before = onlyOp("req-1");
  const auto linksBefore = links(before.op_id);

  // Status 0 keeps it running; the report also names a new operand, whose link must vanish.
  auto bad = report("req-1", "", 0, 20, kT0 + 2, "three");
  bad.info = untranslatableInfo();
  bad.info.addParameter("env", envRef(kVm2, "vm", "vm-2"));
  EXPECT_EQ(log.saveProgress(bad), 3101);
  EXPECT_EQ(log.getContextLocal()->getLastError().message,
            "Can't translate information into text");
  EXPECT_EQ(dataRows(before.op_id).size(), 2u);
  EXPECT_EQ(links(before.op_id).size(), linksBefore.size());

  // An end status never folds, so its text is appended as the conversion left it.
  auto ended = bad;
  ended.status = 3;
  EXPECT_EQ(log.saveProgress(ended), 0);
  EXPECT_EQ(onlyOp("req-1").status, 3);
}

TEST_P(SaveProgressTest, UntranslatableStatusChangeIsDroppedToo) {
  JRXOpLogLocal log(nullptr);
  ASSERT_EQ(log.saveProgress(report("req-1", "vm.start", 0, 0, kT0, "one")), 0);
  // Stored status 1; this report moves it to 2 and then fails on its text.
  auto bad = report("req-1", "", 0, 20, kT0 + 2, "");
  bad.info = untranslatableInfo();
  EXPECT_EQ(log.saveProgress(bad), 3101);
  EXPECT_EQ(onlyOp("req-1").status, 1);
  EXPECT_EQ(dataRows(onlyOp("req-1").op_id).size(), 1u);
}

TEST_P(SaveProgressTest, FirstReportStoresWhateverTheConversionGave) {
  JRXOpLogLocal log(nullptr);
  auto r = report("req-1", "vm.start", 0, 0, kT0, "");
  r.info = untranslatableInfo();
  ASSERT_EQ(log.saveProgress(r), 0);
  auto data = dataRows(onlyOp("req-1").op_id);
  ASSERT_EQ(data.size(), 1u);
  ASSERT_FALSE(data[0].info.empty());
  EXPECT_EQ(data[0].info.back(), '\0');
}

TEST_P(SaveProgressTest, TimesAreStoredAsTheirLow32Bits) {
  JRXOpLogLocal log(nullptr);
  ASSERT_EQ(log.saveProgress(report("req-1", "x", 0, 0, (1LL << 32) + 5, "a")), 0);
  ASSERT_EQ(log.saveProgress(report("req-2", "x", 0, 0, -100, "a")), 0);
  EXPECT_EQ(onlyOp("req-1").time, 5);
  EXPECT_EQ(dataRows(onlyOp("req-1").op_id)[0].time, 5);
  EXPECT_EQ(onlyOp("req-2").time, -100);
}

INSTANTIATE_TEST_SUITE_P(Db, SaveProgressTest, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());

}  // namespace
