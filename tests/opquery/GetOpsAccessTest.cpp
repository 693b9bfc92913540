// getOps: right 188, on the named environment or per operation.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "OpLogFixture.h"

using namespace JRX;
using jrxtest::OpLogRows;

namespace {

const int kView = 188;

class GetOpsAccessTest : public jrxtest::OpLogFixture {
 protected:
  void SetUp() override {
    OpLogFixture::SetUp();
    envA = OpLogRows::env(a, "A");
    envB = OpLogRows::env(b, "B");
    envC = OpLogRows::env(c, "C");
  }

  // Every operation, oldest first.
  int all(std::vector<JRXRequestProgressData>& out) {
    return service.getOps(&out, JRXEID::EID_INVALID, "", "", "", false, false, kNoLimit, 0,
                          kNoUpper);
  }

  // An operation with one progress row and the given links.
  int operation(const std::string& id, int time, std::vector<std::pair<int, const char*>> links) {
    int op = OpLogRows::op(id, "copy", 3, time);
    OpLogRows::progress(op, 100, time, 3, JRXInfo("done"));
    for (auto& l : links) OpLogRows::link(op, l.first, l.second);
    return op;
  }

  static std::vector<std::string> ids(const std::vector<JRXRequestProgressData>& v) {
    std::vector<std::string> out;
    for (const auto& r : v) out.push_back(r.id);
    return out;
  }

  const JRXEID a{0xA, 1}, b{0xB, 2}, c{0xC, 3};
  int envA = 0, envB = 0, envC = 0;
  JRXOpLogLocal service{nullptr};
};

TEST_P(GetOpsAccessTest, RefusedOnTheNamedEnvironmentBeforeAnyDatabaseWork) {
  operation("r1", 100, {{envA, "O"}});
  auto rights = std::make_shared<JRXRightsTable>();
  rights->grant(b, kView);
  actAs(rights);

  std::vector<JRXRequestProgressData> out{JRXRequestProgressData("mine")};
  const int statements = ASFaults::StatementsSeen();
  EXPECT_EQ(414, service.getOps(&out, a, "", "", "", false, false, 5, 0, kNoUpper));
  EXPECT_EQ(statements, ASFaults::StatementsSeen());
  EXPECT_EQ((std::vector<std::string>{"mine"}), ids(out));
  EXPECT_EQ(nullptr, service.answer());
  // A bare refusal says nothing worth keeping as the last error.
  EXPECT_FALSE(service.getContextLocal()->hasLastError());
  ASSERT_FALSE(service.endedCommands().empty());
  EXPECT_EQ(414, service.endedCommands().back().code);
  EXPECT_EQ("", service.endedCommands().back().message);
}

TEST_P(GetOpsAccessTest, OneHiddenOperationFailsTheQueryAndKeepsEarlierRecords) {
  operation("visible", 100, {{envA, "O"}});
  operation("hidden", 200, {{envB, "O"}});
  operation("later", 300, {{envA, "O"}});
  auto rights = std::make_shared<JRXRightsTable>();
  rights->grant(a, kView);  // nothing on the local environment
  actAs(rights);

  std::vector<JRXRequestProgressData> out;
  EXPECT_EQ(414, all(out));
  EXPECT_EQ((std::vector<std::string>{"visible"}), ids(out));
  EXPECT_EQ(nullptr, service.answer());
  EXPECT_EQ(0, service.commandDepth());
}

TEST_P(GetOpsAccessTest, OperationLeftWithoutVisibleEnvironmentIsSkipped) {
  operation("stripped", 100, {{envB, "O"}, {envC, "S"}});
  operation("shown", 200, {{envA, "O"}, {envC, "S"}});
  auto rights = std::make_shared<JRXRightsTable>();
  rights->grant(a, kView);
  rights->grant(localEid, kView);
  actAs(rights);

  std::vector<JRXRequestProgressData> out;
  EXPECT_EQ(0, all(out));
  EXPECT_EQ((std::vector<std::string>{"shown"}), ids(out));
  ASSERT_NE(nullptr, service.answer());
  EXPECT_EQ(1u, service.answer()->root().count(1175));
}

TEST_P(GetOpsAccessTest, VisibleSourceKeepsAnOperationWhoseOperandsAreStripped) {
  operation("by-source", 100, {{envB, "O"}, {envA, "S"}});
  auto rights = std::make_shared<JRXRightsTable>();
  rights->grant(a, kView);
  rights->grant(localEid, kView);
  actAs(rights);

  std::vector<JRXRequestProgressData> out;
  EXPECT_EQ(0, all(out));
  ASSERT_EQ((std::vector<std::string>{"by-source"}), ids(out));
  // The record lists only the operand environments the client may see.
  EXPECT_TRUE(out[0].operands.empty());
}

TEST_P(GetOpsAccessTest, HiddenOperandsAreLeftOutOfTheRecord) {
  operation("mixed", 100, {{envA, "O"}, {envB, "O"}});
  auto rights = std::make_shared<JRXRightsTable>();
  rights->grant(a, kView);
  actAs(rights);

  std::vector<JRXRequestProgressData> out;
  EXPECT_EQ(0, all(out));
  ASSERT_EQ(1u, out.size());
  EXPECT_EQ(JRXEIDList{a}, out[0].operands);
}

TEST_P(GetOpsAccessTest, OperationWithoutEnvironmentsNeedsTheGeneralRight) {
  operation("unlinked", 100, {});
  auto rights = std::make_shared<JRXRightsTable>();
  rights->grant(a, kView);
  actAs(rights);
  std::vector<JRXRequestProgressData> out;
  EXPECT_EQ(414, all(out));
  EXPECT_TRUE(out.empty());

  rights->grant(localEid, kView);
  EXPECT_EQ(0, all(out));
  EXPECT_EQ((std::vector<std::string>{"unlinked"}), ids(out));
}

TEST_P(GetOpsAccessTest, NamedEnvironmentNeedsNoPerOperationRight) {
  operation("r1", 100, {{envA, "O"}, {envB, "O"}, {envC, "S"}});
  auto rights = std::make_shared<JRXRightsTable>();
  rights->grant(a, kView);
  actAs(rights);
  std::vector<JRXRequestProgressData> out;
  EXPECT_EQ(0, service.getOps(&out, a, "", "", "", false, false, kNoLimit, 0, kNoUpper));
  ASSERT_EQ(1u, out.size());
  // Nothing narrowed the operands: step 2 already vouched for the client.
  EXPECT_EQ((JRXEIDList{a, b}), out[0].operands);
}

INSTANTIATE_TEST_SUITE_P(Db, GetOpsAccessTest, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());

}  // namespace
