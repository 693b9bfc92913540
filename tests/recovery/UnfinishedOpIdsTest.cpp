// getUnfinishedOpIds and the newest-progress-row join it is built on.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "OpLogFixture.h"
#include "oplog/RecoveryConditions.h"

using namespace JRX;
using jrxtest::OpLogRows;

namespace {

class UnfinishedOpIdsTest : public jrxtest::OpLogFixture {
 protected:
  void SetUp() override {
    OpLogFixture::SetUp();
    execEnv = OpLogRows::env(executor, "exec");
    otherEnv = OpLogRows::env(other, "other");
  }

  // An operation executed by env row `env` with progress rows at the given times.
  int operation(const std::string& id, int status, int env, std::vector<int> times,
                const char* role = "P") {
    int op = OpLogRows::op(id, "job", status, 100);
    OpLogRows::link(op, env, role);
    for (int t : times) OpLogRows::progress(op, 1, t, status, JRXInfo("p"));
    return op;
  }

  static std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  }

  const JRXEID executor{0x4444, 4};
  const JRXEID other{0x5555, 5};
  int execEnv = 0, otherEnv = 0;
  JRXOpLogLocal service{nullptr};
};

TEST_P(UnfinishedOpIdsTest, ListsUnfinishedOperationsOfTheExecutorWithTheirNewestTime) {
  // The newest row is the one with the highest data_id, not the highest time.
  operation("started", 1, execEnv, {500, 300});
  operation("running", 2, execEnv, {200, 400, 250});
  operation("ended", 3, execEnv, {900});
  operation("elsewhere", 2, otherEnv, {950});
  operation("operand-only", 2, execEnv, {960}, "O");
  operation("source-only", 1, execEnv, {970}, "S");

  std::vector<std::string> ids{"stale"};
  long lastTime = 0;
  EXPECT_EQ(0, service.getUnfinishedOpIds(ids, lastTime, executor));
  EXPECT_EQ((std::vector<std::string>{"running", "started"}), sorted(ids));
  EXPECT_EQ(300, lastTime);
}

TEST_P(UnfinishedOpIdsTest, OperationWithoutProgressRowsIsLeftOut) {
  operation("bare", 2, execEnv, {});
  operation("reported", 2, execEnv, {120});
  std::vector<std::string> ids;
  long lastTime = 0;
  EXPECT_EQ(0, service.getUnfinishedOpIds(ids, lastTime, executor));
  EXPECT_EQ((std::vector<std::string>{"reported"}), ids);
  EXPECT_EQ(120, lastTime);
}

TEST_P(UnfinishedOpIdsTest, LastTimeIsARunningMaximum) {
  operation("a", 2, execEnv, {700});
  std::vector<std::string> ids;
  long lastTime = 5000;
  EXPECT_EQ(0, service.getUnfinishedOpIds(ids, lastTime, executor));
  EXPECT_EQ(5000, lastTime);
  EXPECT_EQ(1u, ids.size());

  // A time before 1970 reads back negative; read as unsigned it would win the maximum.
  operation("b", 1, execEnv, {-20});
  lastTime = -100;
  EXPECT_EQ(0, service.getUnfinishedOpIds(ids, lastTime, executor));
  EXPECT_EQ(700, lastTime);
}

TEST_P(UnfinishedOpIdsTest, NothingFoundEmptiesTheListAndKeepsLastTime) {
  operation("ended", 4, execEnv, {800});
  std::vector<std::string> ids{"x", "y"};
  long lastTime = 42;
  EXPECT_EQ(0, service.getUnfinishedOpIds(ids, lastTime, executor));
  EXPECT_TRUE(ids.empty());
  EXPECT_EQ(42, lastTime);
}

TEST_P(UnfinishedOpIdsTest, DatabaseFailureLeavesTheCallersValues) {
  operation("a", 2, execEnv, {700});
  std::vector<std::string> ids{"kept"};
  long lastTime = 7;
  ASFaults::FailStatement(1, "", "gone");
  EXPECT_EQ(3101, service.getUnfinishedOpIds(ids, lastTime, executor));
  EXPECT_EQ((std::vector<std::string>{"kept"}), ids);
  EXPECT_EQ(7, lastTime);
  // Outside a command: no command was opened or ended.
  EXPECT_TRUE(service.endedCommands().empty());
}

TEST_P(UnfinishedOpIdsTest, LeftJoinKeepsExactlyTheNewestRowOfEachOperation) {
  int a = operation("a", 2, execEnv, {10, 30, 20});
  int b = operation("b", 2, execEnv, {40});
  operation("c", 2, execEnv, {});

  JRXRdbmsTran tran;
  op_log ops;
  op_log_data latest, later;
  ASCursor c(*tran);
  c.Project() << ops->op_id << latest->data_id << latest->time;
  c.Set(logdb::getLeftJoin(latest, later, ops->op_id));
  std::vector<std::pair<int, int>> rows;
  while (c.Fetch())
    rows.emplace_back(static_cast<int>(ops.op_id.Int()), static_cast<int>(latest.time.Int()));
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ((std::vector<std::pair<int, int>>{{a, 20}, {b, 40}}), rows);
}

TEST_P(UnfinishedOpIdsTest, SourceConditionPassesLocalAndUnknownEnvironments) {
  const JRXEID remote(0x6666, 6);
  OpLogRows::node(localEid);
  OpLogRows::node(remote);
  OpLogRows::node(other);
  OpLogRows::env(localEid, "local");
  OpLogRows::env(remote, "remote");
  // executor and other already have rows; only other is a listed node.

  JRXRdbmsTran tran;
  env_log envs;
  ASCursor c(*tran);
  c.Project() << envs->title;
  c.Set(logdb::getOpsSourceCondition(envs));
  std::vector<std::string> titles;
  while (c.Fetch()) titles.push_back(envs.title.Bytes());
  EXPECT_EQ((std::vector<std::string>{"exec", "local"}), sorted(titles));
}

INSTANTIATE_TEST_SUITE_P(Db, UnfinishedOpIdsTest, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());

}  // namespace
