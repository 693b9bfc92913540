// Which environments an operation is linked to, with which role and mark.
#include "OpLogTestSupport.h"
#include "oplog/LogOp.h"

using namespace JRX;
using namespace oplogtest;

namespace {

typedef std::vector<std::string> Lines;

class LinksTest : public OpLogDbTest {
 protected:
  int save(const JRXRequestProgressData& r) {
    JRXOpLogLocal log(nullptr);
    EXPECT_EQ(log.saveProgress(r), 0);
    return onlyOp(r.id).op_id;
  }
};

TEST_P(LinksTest, NothingNamedLinksTheLocalEnvironmentByDefault) {
  int op = save(report("req-1", "vm.start", 0, 0, kT0, "a"));
  EXPECT_EQ(linkSummary(op), (Lines{"O Y local-node", "P N node-1", "S Y local-node"}));
}

TEST_P(LinksTest, NamedSourceAndOperands) {
  auto r = report("req-1", "vm.migrate", 0, 0, kT0, "a");
  r.info.addParameter("source_env", envRef(kVm2, "vm", "the source"));
  r.operands = {kVm1, kVm2, kNode};  // the source is not an operand as well
  int op = save(r);
  EXPECT_EQ(linkSummary(op),
            (Lines{"O N node-1", "O N vm-1", "P N node-1", "S N the source"}));
}

TEST_P(LinksTest, EnvParametersCountOnlyWithAType) {
  auto r = report("req-1", "vm.start", 0, 0, kT0, "a");
  r.info.addParameter("env", envRef(kVm1, "vm", "named in info"));
  r.info.addParameter("env", envRef(kVm2, "", "no type"));
  r.info.addParameter("env", JRXInfo("no identifier"));
  r.operands = {kVm1};  // already named by an "env" parameter: linked once, with its title
  int op = save(r);
  EXPECT_EQ(linkSummary(op), (Lines{"O N named in info", "P N node-1", "S Y local-node"}));
}

TEST_P(LinksTest, OperandsUnknownToTheDirectoryAreDropped) {
  auto r = report("req-1", "vm.start", 0, 0, kT0, "a");
  r.operands = {kUnknown};
  int op = save(r);
  EXPECT_EQ(linkSummary(op), (Lines{"O Y local-node", "P N node-1", "S Y local-node"}));

  auto r2 = report("req-2", "vm.start", 0, 0, kT0, "a");
  r2.operands = {kUnknown, kVm1};
  EXPECT_EQ(linkSummary(save(r2)), (Lines{"O N vm-1", "P N node-1", "S Y local-node"}));
}

TEST_P(LinksTest, LocalEnvironmentAsOnlyOperandStaysADefault) {
  auto r = report("req-1", "node.update", 0, 0, kT0, "a");
  r.operands = {kLocal};
  EXPECT_EQ(linkSummary(save(r)), (Lines{"O Y local-node", "P N node-1", "S Y local-node"}));

  // With a named source, the local environment is an operand like any other.
  auto r2 = report("req-2", "node.update", 0, 0, kT0, "a");
  r2.operands = {kLocal};
  r2.info.addParameter("source_env", envRef(kVm1, "vm", "vm-1"));
  EXPECT_EQ(linkSummary(save(r2)), (Lines{"O N local-node", "P N node-1", "S N vm-1"}));
}

TEST_P(LinksTest, ExecutingEnvironmentIsLinkedWhateverItIs) {
  auto r = report("req-1", "vm.start", 0, 0, kT0, "a");
  r.eid = JRXEID::EID_INVALID;
  int op = save(r);
  auto rows = links(op);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1].role, "P");
  EXPECT_FALSE(rows[1].eid.isValid());
}

TEST_P(LinksTest, LaterNamedLinksReplaceTheDefaultsOfTheirRole) {
  int op = save(report("req-1", "vm.start", 0, 0, kT0, "a"));

  auto r = report("req-1", "", 0, 10, kT0 + 1, "b");
  r.operands = {kVm1};
  save(r);
  EXPECT_EQ(linkSummary(op), (Lines{"O N vm-1", "P N node-1", "S Y local-node"}));

  auto r2 = report("req-1", "", 0, 20, kT0 + 2, "c");
  r2.info.addParameter("source_env", envRef(kVm2, "vm", "vm-2"));
  r2.operands = {kVm1, kNode};
  save(r2);
  EXPECT_EQ(linkSummary(op), (Lines{"O N node-1", "O N vm-1", "P N node-1", "S N vm-2"}));

  // Naming the same environments again adds nothing.
  save(r2);
  EXPECT_EQ(links(op).size(), 4u);
}

TEST_P(LinksTest, SameIdentifierUnderTwoTitlesIsTwoEnvironments) {
  auto r = report("req-1", "vm.rename", 0, 0, kT0, "a");
  r.info.addParameter("env", envRef(kVm1, "vm", "old name"));
  int op = save(r);
  auto r2 = report("req-1", "", 0, 50, kT0 + 1, "b");
  r2.info.addParameter("env", envRef(kVm1, "vm", "new name"));
  save(r2);
  EXPECT_EQ(linkSummary(op), (Lines{"O N new name", "O N old name", "P N node-1", "S Y local-node"}));
  auto rows = links(op);
  EXPECT_EQ(rows[0].eid, kVm1);
  EXPECT_EQ(rows[1].eid, kVm1);
  env_log envs;
  EXPECT_EQ(countRows(envs), 4);  // local node, node-1, and vm-1 under each title
}

TEST_P(LinksTest, ReadBackPrefersTheSourceLinkOverTheExecutingOne) {
  auto r = report("req-1", "vm.migrate", 0, 0, kT0, "a");
  r.info.addParameter("source_env", envRef(kVm2, "vm", "vm-2"));
  r.operands = {kVm1};
  save(r);
  // Whatever order the database returns the links in, the source is the "S" one.
  for (int i = 0; i < 3; ++i) {
    JRXRdbmsTran tran;
    auto op = logdb::getOp(tran, "req-1");
    ASSERT_TRUE(op);
    EXPECT_EQ(op->source, kVm2);
    EXPECT_EQ(op->operands, JRXEIDList({kVm1}));
    EXPECT_EQ(op->name, "vm.migrate");
    EXPECT_EQ(op->info, JRXInfo());
    save(report("req-1", "", 0, 10 * i, kT0 + i, "b"));
  }
  JRXRdbmsTran tran;
  EXPECT_FALSE(logdb::getOp(tran, "req-2"));
}

TEST_P(LinksTest, RestartedOperationReadsOnlyItsOwnLinks) {
  auto r = report("req-1", "vm.migrate", 0, 0, kT0, "a");
  r.info.addParameter("source_env", envRef(kVm2, "vm", "vm-2"));
  r.operands = {kVm1};
  const int old = save(r);
  auto again = report("req-1", "vm.migrate", 1, 0, kT0 + 10, "b");
  again.operands = {kNode};
  const int now = save(again);
  ASSERT_NE(now, old);
  // The old links stay behind under the old key, out of the new operation's sight.
  EXPECT_EQ(linkSummary(old), (Lines{"O N vm-1", "P N node-1", "S N vm-2"}));
  JRXRdbmsTran tran;
  auto op = logdb::getOp(tran, "req-1");
  ASSERT_TRUE(op);
  EXPECT_EQ(op->op_id, now);
  EXPECT_EQ(op->operands, JRXEIDList({kNode}));
  EXPECT_EQ(op->source, kLocal);
}

INSTANTIATE_TEST_SUITE_P(Db, LinksTest, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());

}  // namespace
