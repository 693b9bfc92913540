// Batch import: one nested command per record, stopping at the first failure.
#include "OpLogTestSupport.h"

using namespace JRX;
using namespace oplogtest;

namespace {

class PutOpsTest : public OpLogDbTest {};

TEST_P(PutOpsTest, EmptyBatchSucceeds) {
  JRXOpLogLocal log(nullptr);
  EXPECT_EQ(log.putOps({}), 0);
  ASSERT_EQ(log.endedCommands().size(), 1u);
  EXPECT_EQ(log.endedCommands()[0].code, 0);
  EXPECT_FALSE(log.getContextLocal()->hasLastError());
}

TEST_P(PutOpsTest, StoresEveryRecordInOrder) {
  JRXOpLogLocal log(nullptr);
  std::vector<JRXRequestProgressData> batch{
      report("req-1", "vm.start", 0, 0, kT0, "a"), report("req-2", "vm.stop", 0, 0, kT0, "a"),
      report("req-1", "", 0, 50, kT0 + 1, "b"), report("req-1", "", 7, 100, kT0 + 2, "c")};
  ASSERT_EQ(log.putOps(batch), 0);
  EXPECT_EQ(onlyOp("req-1").status, 7);
  EXPECT_EQ(dataRows(onlyOp("req-1").op_id).size(), 3u);
  EXPECT_EQ(onlyOp("req-2").status, 1);
  // Four nested commands, then the batch's own.
  ASSERT_EQ(log.endedCommands().size(), 5u);
  EXPECT_EQ(log.commandDepth(), 0);
}

TEST_P(PutOpsTest, StopsAtTheFirstFailureAndKeepsWhatCameBefore) {
  JRXOpLogLocal log(nullptr);
  std::vector<JRXRequestProgressData> batch{report("req-1", "vm.start", 0, 0, kT0, "a"),
                                            report("req-2", "", 0, 0, kT0, "no name"),
                                            report("req-3", "vm.start", 0, 0, kT0, "c")};
  EXPECT_EQ(log.putOps(batch), 3101);
  EXPECT_EQ(opRows("req-1").size(), 1u);
  EXPECT_TRUE(opRows("req-2").empty());
  EXPECT_TRUE(opRows("req-3").empty());

  const auto& ended = log.endedCommands();
  ASSERT_EQ(ended.size(), 3u);
  EXPECT_EQ(ended[2].code, 3101);
  EXPECT_EQ(ended[2].message, "");
  auto last = log.getContextLocal()->getLastError();
  EXPECT_EQ(last.code, 3101);
  EXPECT_EQ(last.message, "Can't save operation without name");
}

TEST_P(PutOpsTest, ABatchRefusedByRightsLeavesTheLastErrorAlone) {
  JRXOpLogLocal log(nullptr);
  NoRights client;
  EXPECT_EQ(log.putOps({report("req-1", "vm.start", 0, 0, kT0, "a"),
                        report("req-2", "vm.start", 0, 0, kT0, "a")}),
            414);
  EXPECT_TRUE(opRows("req-1").empty());
  EXPECT_FALSE(log.getContextLocal()->hasLastError());
  ASSERT_EQ(log.endedCommands().size(), 2u);

  // An earlier, telling error survives a later bare refusal.
  JRXAccessChecker::setClientContext(nullptr);
  EXPECT_EQ(log.putOps({report("req-3", "", 0, 0, kT0, "a")}), 3101);
  JRXAccessChecker::setClientContext(&client.checker);
  EXPECT_EQ(log.putOps({report("req-4", "vm.start", 0, 0, kT0, "a")}), 414);
  EXPECT_EQ(log.getContextLocal()->getLastError().message, "Can't save operation without name");
}

TEST_P(PutOpsTest, RestartInsideABatchBehavesLikeASingleReport) {
  JRXOpLogLocal log(nullptr);
  ASSERT_EQ(log.putOps({report("req-1", "vm.start", 0, 0, kT0, "a"),
                        report("req-1", "", 0, 50, kT0 + 1, "b"),
                        report("req-1", "vm.start", 1, 0, kT0 + 9, "again")}),
            0);
  OpRow op = onlyOp("req-1");
  EXPECT_EQ(op.time, kT0 + 9);
  EXPECT_EQ(dataRows(op.op_id).size(), 1u);
  auto records = logRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].text,
            "[saveProgress] New operation comes with the same ID (req-1), delete old operation "
            "(time 1701000000)");
}

INSTANTIATE_TEST_SUITE_P(Db, PutOpsTest, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());

}  // namespace
