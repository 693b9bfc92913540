#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <functional>

#include "JRXRequest.h"
#include "JRXResultCodes.h"

using namespace JRX;

TEST(AccessChecker, AclFileGivesTheClientsRights) {
  const JRXEID A(1, 1), B(2, 2);
  const std::string path = "/tmp/jrx-acl-" + std::to_string(getpid());
  std::ofstream(path) << R"({"clients": {
      "ops": {"00000000-0000-0001-0000-000000000001": [55, 188], "*": [54]},
      "viewer": {"{00000000-0000-0002-0000-000000000002}": [188]}}})";
  auto ops = JRXRightsTable::loadAclFile(path, "ops");
  auto viewer = JRXRightsTable::loadAclFile(path, "viewer");
  auto stranger = JRXRightsTable::loadAclFile(path, "stranger");
  EXPECT_TRUE(ops->holds(A, 55) && ops->holds(A, 188) && ops->holds(B, 54));
  EXPECT_TRUE(ops->holds(JRXEID::EID_INVALID, 54) && viewer->holds(B, 188));
  EXPECT_FALSE(ops->holds(B, 55) || viewer->holds(A, 188) || viewer->holds(B, 54));
  EXPECT_FALSE(stranger->holds(A, 55) || stranger->holds(JRXEID::EID_INVALID, 54));

  // A checker of one client: one environment, a set (each or any of it, the local
  // environment standing in for an emptied set), the local environment; a thread's checker
  // before the process default, which grants everything until one is set.
  JRXAccessChecker checker(ops);
  EXPECT_TRUE(checker.accessCheck(A, 55) == 0 && checker.accessCheck(B, 55) == kRightRefused);
  using Envs = std::set<JRXEID, JRXEnvIDComparator>;
  Envs both{A, B}, onlyB{B}, none;
  EXPECT_EQ(kRightRefused, checker.accessCheck(both, 55, false));
  EXPECT_EQ(0, checker.accessCheck(both, 55, true));
  EXPECT_EQ(both, Envs{A});
  EXPECT_EQ(0, checker.accessCheck(both, 55, false));
  EXPECT_EQ(kRightRefused, checker.accessCheck(onlyB, 55, true));
  EXPECT_TRUE(onlyB.empty() && checker.accessCheck(none, 54, true) == 0);
  EXPECT_TRUE(checker.accessCheck(54) == 0 && checker.accessCheck(55) == kRightRefused);
  EXPECT_EQ(checker.checksMade(), 9);
  EXPECT_TRUE(Security::can(B, 55));
  JRXAccessChecker::setClientContext(&checker);
  EXPECT_TRUE(Security::cannot(B, 55) && Security::can(A, 55));
  JRXAccessChecker::setClientContext(nullptr);
  JRXAccessChecker::setDefault(std::make_shared<JRXAccessChecker>(viewer));
  EXPECT_TRUE(Security::cannot(A, 188) && Security::can(B, 188));
  JRXAccessChecker::setDefault(nullptr);
  EXPECT_TRUE(Security::can(A, 188));

  // The error names the file and what is wrong in it, whichever client is asked for.
  const auto error = [](const std::function<void()>& load) -> std::string {
    try {
      load();
      return "accepted";
    } catch (const std::runtime_error& e) {
      return e.what();
    }
  };
  const char* bad[][2] = {
      {R"({"clients": )", "not valid JSON"}, {"[]", "\"clients\""},
      {R"({"clients": []})", "\"clients\" must be an object"},
      {R"({"clients": {"x": [1]}})", "client \"x\""},
      {R"({"clients": {"x": {"not-a-guid": [1]}}})", "not a GUID"},
      {R"({"clients": {"x": {"*": 5}}})", "list of integers"},
      {R"({"clients": {"x": {"*": ["55"]}}})", "list of integers"},
      {R"({"clients": {"other": {"*": [2147483648]}}})", "out of range"},
      {R"({"clients": {"other": {"*": [-2147483649]}}})", "out of range"}};
  for (const auto& c : bad) {
    const std::string e = error([&] { JRXRightsTable::parseAcl(c[0], "x", "acl.json"); });
    EXPECT_TRUE(e.find(c[1]) != std::string::npos && e.find("ACL file acl.json") == 0) << e;
  }
  EXPECT_TRUE(JRXRightsTable::parseAcl(R"({"clients": {"x": {"*": [2147483647, -2147483648]}}})",
                                       "x", "acl.json")
                  ->holds(A, -2147483647 - 1));
  EXPECT_NE(std::string::npos,
            error([] { JRXRightsTable::loadAclFile("/nonexistent/acl.json", "x"); })
                .find("cannot be read"));
}
