#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <thread>

#include "JRXRequest.h"

using namespace JRX;

namespace {

const JRXEID A(1, 1), B(2, 2), C(3, 3);

class AccessChecker : public ::testing::Test {
 protected:
  void SetUp() override { JRXConfiguration::setLocalEID(JRXEID(9, 9)); }
  void TearDown() override {
    JRXConfiguration::setLocalEID(JRXEID());
    JRXAccessChecker::setClientContext(nullptr);
    JRXAccessChecker::setDefault(nullptr);
  }
};

std::string writeFile(const std::string& text) {
  static int n = 0;
  std::string path = "/tmp/jrx-acl-" + std::to_string(getpid()) + "-" + std::to_string(++n) + ".json";
  std::ofstream(path) << text;
  return path;
}

}  // namespace

TEST_F(AccessChecker, NullPolicyGrantsEverything) {
  JRXAccessChecker all;
  EXPECT_EQ(0, all.accessCheck(A, 55));
  EXPECT_EQ(0, all.accessCheck(JRXEID::EID_INVALID, 54));
  EXPECT_EQ(0, all.accessCheck(188));
  JRXEIDList set{A, B};
  EXPECT_EQ(0, all.accessCheck(set, 55, true));
  EXPECT_EQ(2u, set.size());
  EXPECT_EQ(4, all.checksMade());
}

TEST_F(AccessChecker, EnvironmentFormAndStar) {
  auto t = std::make_shared<JRXRightsTable>();
  t->grant(A, 55);
  t->grantEverywhere(54);
  JRXAccessChecker c(t);
  EXPECT_EQ(0, c.accessCheck(A, 55));
  EXPECT_NE(0, c.accessCheck(B, 55));
  EXPECT_NE(0, c.accessCheck(A, 188));
  EXPECT_EQ(0, c.accessCheck(B, 54));
  EXPECT_EQ(0, c.accessCheck(JRXEID::EID_INVALID, 54));  // only through "*"
  EXPECT_NE(0, c.accessCheck(JRXEID::EID_INVALID, 55));
  EXPECT_NE(0, c.accessCheck(55));  // the local environment is not A
  t->grant(JRXEID(9, 9), 55);
  EXPECT_EQ(0, c.accessCheck(55));
}

TEST_F(AccessChecker, SetFormWithFlagNarrowsTheSet) {
  auto t = std::make_shared<JRXRightsTable>();
  t->grant(A, 55);
  t->grant(C, 55);
  JRXAccessChecker c(t);
  JRXEIDList set{A, B, C};
  EXPECT_EQ(0, c.accessCheck(set, 55, true));
  EXPECT_EQ((JRXEIDList{A, C}), set);

  JRXEIDList none{B};
  EXPECT_NE(0, c.accessCheck(none, 55, true));
  EXPECT_TRUE(none.empty());
  JRXEIDList empty;
  EXPECT_NE(0, c.accessCheck(empty, 55, true));
  t->grant(JRXEID(9, 9), 55);  // the right on the local environment covers an empty result
  JRXEIDList none2{B};
  EXPECT_EQ(0, c.accessCheck(none2, 55, true));
  EXPECT_TRUE(none2.empty());
}

TEST_F(AccessChecker, SetFormWithoutFlagNeedsEveryEnvironment) {
  auto t = std::make_shared<JRXRightsTable>();
  t->grant(A, 55);
  t->grant(B, 55);
  JRXAccessChecker c(t);
  JRXEIDList ab{A, B}, abc{A, B, C}, empty;
  EXPECT_EQ(0, c.accessCheck(ab, 55, false));
  EXPECT_NE(0, c.accessCheck(abc, 55, false));
  EXPECT_EQ(3u, abc.size());  // left as given
  EXPECT_EQ(0, c.accessCheck(empty, 55, false));
}

TEST_F(AccessChecker, ClientContextIsPerThread) {
  auto t = std::make_shared<JRXRightsTable>();
  JRXAccessChecker refusing(t);
  JRXAccessChecker* def = JRXAccessChecker::getClientContext();
  ASSERT_NE(nullptr, def);
  EXPECT_TRUE(Security::can(A, 1));
  JRXAccessChecker::setClientContext(&refusing);
  EXPECT_EQ(&refusing, JRXAccessChecker::getClientContext());
  EXPECT_TRUE(Security::cannot(A, 1));
  EXPECT_TRUE(Security::cannot(1));
  JRXEIDList set{A};
  EXPECT_TRUE(Security::cannot(set, 1, true));
  JRXAccessChecker* seenByOther = nullptr;
  std::thread([&] { seenByOther = JRXAccessChecker::getClientContext(); }).join();
  EXPECT_EQ(def, seenByOther);

  auto shared = std::make_shared<JRXAccessChecker>(t);
  JRXAccessChecker::setDefault(shared);
  std::thread([&] { seenByOther = JRXAccessChecker::getClientContext(); }).join();
  EXPECT_EQ(shared.get(), seenByOther);
  JRXAccessChecker::setClientContext(nullptr);
  EXPECT_EQ(shared.get(), JRXAccessChecker::getClientContext());
}

TEST_F(AccessChecker, AclFileGivesTheClientsRights) {
  std::string path = writeFile(R"({"clients": {
      "ops": {"00000000-0000-0001-0000-000000000001": [55, 188], "*": [54]},
      "viewer": {"{00000000-0000-0002-0000-000000000002}": [188]}}})");
  auto ops = JRXRightsTable::loadAclFile(path, "ops");
  EXPECT_TRUE(ops->holds(A, 55));
  EXPECT_TRUE(ops->holds(A, 188));
  EXPECT_FALSE(ops->holds(B, 55));
  EXPECT_TRUE(ops->holds(B, 54));
  EXPECT_TRUE(ops->holds(JRXEID::EID_INVALID, 54));
  auto viewer = JRXRightsTable::loadAclFile(path, "viewer");
  EXPECT_TRUE(viewer->holds(B, 188));
  EXPECT_FALSE(viewer->holds(A, 188));
  auto stranger = JRXRightsTable::loadAclFile(path, "stranger");
  EXPECT_FALSE(stranger->holds(A, 55));
  EXPECT_FALSE(stranger->holds(JRXEID::EID_INVALID, 54));
}

TEST_F(AccessChecker, MalformedAclFilesAreRefusedClearly) {
  struct Case {
    const char* text;
    const char* mentions;
  } cases[] = {
      {"{\"clients\": ", "not valid JSON"},
      {"[]", "\"clients\""},
      {"{\"clients\": []}", "\"clients\" must be an object"},
      {"{\"clients\": {\"x\": [1]}}", "client \"x\""},
      {"{\"clients\": {\"x\": {\"not-a-guid\": [1]}}}", "not a GUID"},
      {"{\"clients\": {\"x\": {\"*\": 5}}}", "list of integers"},
      {"{\"clients\": {\"x\": {\"*\": [\"55\"]}}}", "list of integers"},
      {"{\"clients\": {\"x\": {\"*\": [1.5]}}}", "list of integers"},
      {"{\"clients\": {\"other\": {\"*\": [99999999999]}}}", "out of range"},
  };
  for (const auto& c : cases) {
    std::string path = writeFile(c.text);
    try {
      JRXRightsTable::loadAclFile(path, "x");
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string::npos, std::string(e.what()).find(c.mentions)) << e.what();
      EXPECT_NE(std::string::npos, std::string(e.what()).find(path)) << e.what();
    }
  }
  EXPECT_THROW(JRXRightsTable::loadAclFile("/nonexistent/acl.json", "x"), std::runtime_error);
}
