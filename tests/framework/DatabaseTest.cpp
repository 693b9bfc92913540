#include <gtest/gtest.h>

#include <unistd.h>

#include "JRXEnvDirectory.h"
#include "JRXRdbms.h"
#include "JRXRequest.h"
#include "TestDb.h"

using namespace JRX;

namespace {

// Type and title the directory gives `eid`, "-" when it knows nothing.
std::string entry(const JRXEID& eid) {
  std::string type, title;
  return JRXEnvDirectory::lookup(eid, type, title) ? type + "/" + title : "-";
}

class FrameworkDb : public ::testing::TestWithParam<std::string> {
 protected:
  void TearDown() override {
    JRXDatabase::close();
    JRXEnvDirectory::clear();
  }
};

void reopen(const std::string& url) {
  JRXDatabase::close();
  JRXEnvDirectory::clear();
  JRXDatabase::open(url);
}

}  // namespace

// The local environment's identifier is made with the database and kept; the directory of
// environments is the open database's.
TEST_P(FrameworkDb, LocalEnvironmentAndDirectoryPersist) {
  const std::string url = jrxtest::freshDatabaseUrl(GetParam());
  JRXConfiguration::setLocalEID(JRXEID());
  reopen(url);
  const JRXEID made = JRXConfiguration::getLocalEID(), vm = JRXGUID::generate();
  char host[256] = {0};
  gethostname(host, sizeof host - 1);
  EXPECT_EQ("node/" + std::string(host), entry(made));
  JRXEnvDirectory::put(vm, "vm", "web-'1\"\\");
  JRXEnvDirectory::put(vm, "vm", "web-2");  // replaces
  JRXEnvDirectory::put(made, "node", "named-host");
  reopen(url);
  EXPECT_EQ(made, JRXConfiguration::getLocalEID());
  EXPECT_EQ("vm/web-2", entry(vm));
  EXPECT_EQ("node/named-host", entry(made));
  EXPECT_EQ("-", entry(JRXEID::EID_INVALID));

  const JRXEID configured = JRXGUID::generate();
  JRXConfiguration::setLocalEID(configured);
  EXPECT_EQ(configured, JRXConfiguration::getLocalEID());
  JRXConfiguration::setLocalEID(JRXEID());
  EXPECT_EQ(made, JRXConfiguration::getLocalEID());

  reopen(jrxtest::freshDatabaseUrl(GetParam()));  // another database knows nothing of these
  EXPECT_EQ("-", entry(vm));
  const JRXEID other = JRXConfiguration::getLocalEID();
  EXPECT_NE(made, other);
  JRXDatabase::close();  // without a database, the process's own identifier
  EXPECT_NE(other, JRXConfiguration::getLocalEID());
  EXPECT_THROW(JRXRdbmsTran(), AException);
}

INSTANTIATE_TEST_SUITE_P(Db, FrameworkDb, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());
