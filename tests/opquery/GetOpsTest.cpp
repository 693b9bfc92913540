// getOps: which operations and progress rows come back, in which order, how many.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "JRXEnvDirectory.h"
#include "OpLogFixture.h"

using namespace JRX;
using jrxtest::OpLogRows;

namespace {

class GetOpsTest : public jrxtest::OpLogFixture {
 protected:
  struct Query {
    JRXEID eid = JRXEID::EID_INVALID;
    std::string name, id, parent;
    bool firstOnly = false, activeOnly = false;
    unsigned int limit = kNoLimit;
    long from = 0, to = kNoUpper;
  };

  int run(const Query& q, std::vector<JRXRequestProgressData>& out) {
    return service.getOps(&out, q.eid, q.name, q.id, q.parent, q.firstOnly, q.activeOnly,
                          q.limit, q.from, q.to);
  }
  std::vector<JRXRequestProgressData> run(const Query& q) {
    std::vector<JRXRequestProgressData> out;
    EXPECT_EQ(0, run(q, out));
    return out;
  }

  static std::vector<std::string> ids(const std::vector<JRXRequestProgressData>& v) {
    std::vector<std::string> out;
    for (const auto& r : v) out.push_back(r.id);
    return out;
  }

  JRXOpLogLocal service{nullptr};
};

TEST_P(GetOpsTest, LimitZeroReturnsNoRecordButAnAnswer) {
  for (int i = 0; i < 3; ++i) OpLogRows::op("r" + std::to_string(i), "deploy", 3, 100 + i);
  Query q;
  q.limit = 0;
  EXPECT_TRUE(run(q).empty());
  ASSERT_NE(nullptr, service.answer());
  EXPECT_TRUE(service.answer()->root().children.empty());
}

TEST_P(GetOpsTest, WithoutLimitTheOldestThousandComeFirst) {
  // Inserted in random order: the order must come from the times, not from the keys.
  std::vector<int> order(1200);
  for (int i = 0; i < 1200; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(7));
  {
    JRXRdbmsTran tran;
    for (int i : order) {
      op_log row;
      row.op = "scan";
      row.id = "r" + std::to_string(i);
      row.parent_id = "";
      row.time = 10000 + i;
      row.status = 3;
      row.session_id = "";
      (*tran)->Insert(row);
    }
    tran.commit();
  }
  auto out = run(Query());
  ASSERT_EQ(1000u, out.size());
  for (int i = 0; i < 1000; ++i) {
    EXPECT_EQ("r" + std::to_string(i), out[i].id);
    EXPECT_EQ(10000 + i, out[i].time);
  }
}

TEST_P(GetOpsTest, LimitCountsProgressRowsAndTakesTheNewestOperation) {
  int older = OpLogRows::op("old", "copy", 3, 50);
  OpLogRows::progress(older, 100, 51, 3, JRXInfo("done"));
  int op = OpLogRows::op("ten", "copy", 2, 100);
  for (int i = 0; i < 10; ++i)
    OpLogRows::progress(op, i * 10, 100 + i, 2, JRXInfo("step " + std::to_string(i)));

  Query q;
  q.limit = 5;
  auto out = run(q);
  ASSERT_EQ(5u, out.size());
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ("ten", out[i].id);
    EXPECT_EQ(i * 10, out[i].progress);
    EXPECT_EQ(100 + i, out[i].time);
    EXPECT_EQ("step " + std::to_string(i), out[i].info.getText());
  }
}

TEST_P(GetOpsTest, LimitGivesNewestOperationsFirst) {
  for (int i = 0; i < 5; ++i) OpLogRows::op("r" + std::to_string(i), "copy", 3, 100 + i);
  Query q;
  q.limit = 3;
  EXPECT_EQ((std::vector<std::string>{"r4", "r3", "r2"}), ids(run(q)));
  q.limit = 1000000;  // more than the cap of 1000, still newest first
  EXPECT_EQ((std::vector<std::string>{"r4", "r3", "r2", "r1", "r0"}), ids(run(q)));
}

TEST_P(GetOpsTest, TimeBoundsAreStrictAndUseTheLow32Bits) {
  OpLogRows::op("t0", "copy", 3, 0);
  OpLogRows::op("t100", "copy", 3, 100);
  OpLogRows::op("t200", "copy", 3, 200);
  OpLogRows::op("t300", "copy", 3, 300);

  Query q;
  q.from = 100;
  q.to = 300;
  EXPECT_EQ((std::vector<std::string>{"t200"}), ids(run(q)));
  q.from = 99;
  q.to = 301;
  EXPECT_EQ((std::vector<std::string>{"t100", "t200", "t300"}), ids(run(q)));

  // 2^32 is a bound (it is not the no-filter value 0) whose stored form is 0.
  q = Query();
  q.from = 1L << 32;
  EXPECT_EQ((std::vector<std::string>{"t100", "t200", "t300"}), ids(run(q)));
  q = Query();
  q.to = (1L << 32) + 200;
  EXPECT_EQ((std::vector<std::string>{"t0", "t100"}), ids(run(q)));
}

TEST_P(GetOpsTest, FirstOnlyGivesTheFirstRowWithTheCurrentStatus) {
  int op = OpLogRows::op("r", "backup", 5, 100);
  OpLogRows::progress(op, 0, 101, 1, JRXInfo("started"));
  OpLogRows::progress(op, 50, 102, 2, JRXInfo("half"));
  OpLogRows::progress(op, 100, 103, 5, JRXInfo("done"));

  Query q;
  q.firstOnly = true;
  auto out = run(q);
  ASSERT_EQ(1u, out.size());
  EXPECT_EQ(0, out[0].progress);
  EXPECT_EQ(101, out[0].time);
  EXPECT_EQ("started", out[0].info.getText());
  EXPECT_EQ(5, out[0].status);

  auto all = run(Query());
  ASSERT_EQ(3u, all.size());
  EXPECT_EQ((std::vector<int>{1, 2, 5}),
            (std::vector<int>{all[0].status, all[1].status, all[2].status}));
  EXPECT_EQ("half", all[1].info.getText());
}

TEST_P(GetOpsTest, ActiveOnlyKeepsStartedAndRunning) {
  for (int status = 1; status <= 5; ++status)
    OpLogRows::op("s" + std::to_string(status), "copy", status, 100 + status);
  Query q;
  q.activeOnly = true;
  EXPECT_EQ((std::vector<std::string>{"s1", "s2"}), ids(run(q)));
}

TEST_P(GetOpsTest, NameIdAndParentFiltersCombine) {
  const std::string tricky = "it's \"x\" \\ ' OR 1=1 --";
  OpLogRows::op("a", tricky, 3, 100, "p1");
  OpLogRows::op("b", tricky, 3, 101, "p2");
  OpLogRows::op("c", "other", 3, 102, "p1");
  OpLogRows::op(tricky, "other", 3, 103, "p1");

  Query q;
  q.name = tricky;
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), ids(run(q)));
  q.parent = "p1";
  EXPECT_EQ((std::vector<std::string>{"a"}), ids(run(q)));
  q = Query();
  q.parent = "p1";
  q.id = tricky;
  EXPECT_EQ((std::vector<std::string>{tricky}), ids(run(q)));
  q.name = "copy";
  EXPECT_TRUE(run(q).empty());
}

TEST_P(GetOpsTest, EnvironmentFilterCountsOnlyOperandLinks) {
  const JRXEID x(0x77, 1);
  const JRXEID y(0x77, 2);
  int ex = OpLogRows::env(x);
  int ey = OpLogRows::env(y);
  int asOperand = OpLogRows::op("operand", "copy", 3, 100);
  OpLogRows::link(asOperand, ex, "O");
  OpLogRows::link(asOperand, ey, "O");
  int asSource = OpLogRows::op("source", "copy", 3, 101);
  OpLogRows::link(asSource, ex, "S");
  OpLogRows::link(asSource, ey, "O");
  int asExecutor = OpLogRows::op("executor", "copy", 3, 102);
  OpLogRows::link(asExecutor, ex, "P");
  OpLogRows::link(asExecutor, ey, "O");

  Query q;
  q.eid = x;
  auto out = run(q);
  ASSERT_EQ((std::vector<std::string>{"operand"}), ids(out));
  EXPECT_EQ((JRXEIDList{x, y}), out[0].operands);
  q.eid = y;
  EXPECT_EQ((std::vector<std::string>{"operand", "source", "executor"}), ids(run(q)));
}

TEST_P(GetOpsTest, OperationWithoutProgressRowsComesFromItsRow) {
  int bare = OpLogRows::op("bare", "restart", 2, 300, "parent", "sess-1");
  (void)bare;
  int full = OpLogRows::op("full", "restart", 2, 400);
  OpLogRows::progress(full, 40, 410, 2, JRXInfo("running"));

  auto out = run(Query());
  ASSERT_EQ(2u, out.size());
  const JRXRequestProgressData fresh;
  EXPECT_EQ("bare", out[0].id);
  EXPECT_EQ("restart", out[0].name);
  EXPECT_EQ("parent", out[0].parentId);
  EXPECT_EQ("sess-1", out[0].sessionId.text);
  EXPECT_EQ(300, out[0].time);
  EXPECT_EQ(2, out[0].status);
  EXPECT_EQ(fresh.progress, out[0].progress);
  EXPECT_EQ(fresh.info, out[0].info);
  EXPECT_EQ(fresh.eid, out[0].eid);
  EXPECT_EQ("full", out[1].id);
  EXPECT_EQ(410, out[1].time);
}

TEST_P(GetOpsTest, CallersRecordsStayAndDoNotCountAgainstTheLimit) {
  for (int i = 0; i < 5; ++i) OpLogRows::op("r" + std::to_string(i), "copy", 3, 100 + i);
  std::vector<JRXRequestProgressData> out{JRXRequestProgressData("mine-1"),
                                          JRXRequestProgressData("mine-2")};
  Query q;
  q.limit = 3;
  ASSERT_EQ(0, run(q, out));
  EXPECT_EQ((std::vector<std::string>{"mine-1", "mine-2", "r4", "r3", "r2"}), ids(out));
  // The answer is written from the caller's vector, so it lists those records too.
  EXPECT_EQ(5u, service.answer()->root().count(1175));
}

TEST_P(GetOpsTest, RecordedOperationsComeBackAsReported) {
  const JRXEID target(0x55, 9);
  JRXEnvDirectory::put(target, "node", "target");
  JRXRequestProgressData report("req-1");
  report.name = "install";
  report.parentId = "req-0";
  report.sessionId = JRXSessionID("s-42");
  report.operands.insert(target);
  report.time = 1000;
  report.status = 0;
  report.progress = 10;
  report.info = JRXInfo("installing {pkg}");
  report.info.addParameter("pkg", "editor");
  ASSERT_EQ(0, service.saveProgress(report));
  report.time = 1010;
  report.progress = 60;
  report.info = JRXInfo("configuring");
  ASSERT_EQ(0, service.saveProgress(report));

  Query q;
  q.eid = target;
  auto out = run(q);
  ASSERT_EQ(2u, out.size());
  EXPECT_EQ("installing editor", out[0].info.toString());
  EXPECT_EQ(1, out[0].status);
  EXPECT_EQ(2, out[1].status);
  EXPECT_EQ(60, out[1].progress);
  EXPECT_EQ(1010, out[1].time);
  for (const auto& r : out) {
    EXPECT_EQ("req-1", r.id);
    EXPECT_EQ("install", r.name);
    EXPECT_EQ("req-0", r.parentId);
    EXPECT_EQ("s-42", r.sessionId.text);
    EXPECT_EQ(JRXEIDList{target}, r.operands);
  }
}

TEST_P(GetOpsTest, DatabaseFailureEndsWith3101AndKeepsWhatWasRead) {
  for (int i = 0; i < 3; ++i) {
    int op = OpLogRows::op("r" + std::to_string(i), "copy", 3, 100 + i);
    OpLogRows::progress(op, 100, 100 + i, 3, JRXInfo("done"));
  }
  // The second operation's progress rows cannot be read.
  ASFaults::FailStatement(2, "op_log_data", "disk on fire");
  std::vector<JRXRequestProgressData> out;
  EXPECT_EQ(3101, run(Query(), out));
  EXPECT_EQ((std::vector<std::string>{"r0"}), ids(out));
  EXPECT_EQ(nullptr, service.answer());
  ASSERT_TRUE(service.getContextLocal()->hasLastError());
  EXPECT_EQ(3101, service.getContextLocal()->getLastError().code);
  EXPECT_EQ("disk on fire", service.getContextLocal()->getLastError().message);
  EXPECT_EQ(0, service.commandDepth());
}

INSTANTIATE_TEST_SUITE_P(Db, GetOpsTest, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());

}  // namespace
