#include <gtest/gtest.h>
#include <unistd.h>

#include "JRXEnvDirectory.h"
#include "JRXInfo.h"
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

void reopen(const std::string& url) {
  JRXDatabase::close();
  JRXEnvDirectory::clear();
  JRXDatabase::open(url);
}

}  // namespace

// The local identifier is made with the database and kept; the directory is the database's.
TEST(FrameworkDb, LocalEnvironmentAndDirectoryPersist) {
  char host[256] = {0};
  gethostname(host, sizeof host - 1);
  for (const std::string& backend : jrxtest::backends()) {
    SCOPED_TRACE(backend);
    const std::string url = jrxtest::freshDatabaseUrl(backend);
    JRXConfiguration::setLocalEID(JRXEID());
    reopen(url);
    const JRXEID made = JRXConfiguration::getLocalEID(), vm = JRXGUID::generate();
    EXPECT_EQ("node/" + std::string(host), entry(made));
    JRXEnvDirectory::put(vm, "vm", "web-'1\"\\");
    JRXEnvDirectory::put(vm, "vm", "web-2");  // replaces
    JRXEnvDirectory::put(made, "node", "named-host");
    reopen(url);
    EXPECT_EQ(made, JRXConfiguration::getLocalEID());
    EXPECT_EQ("vm/web-2", entry(vm));
    // An environment's record names it, and what the directory knows of it.
    const JRXEnvInfo info(vm);
    std::string named;
    for (const char* name : {"eid", "type", "title"})
      named += (info.getParameter(name) ? info.getParameter(name)->getText() : "-") + " ";
    EXPECT_EQ(named, vm.toString() + " vm web-2 ");
    EXPECT_EQ(JRXEnvInfo(JRXGUID::generate()).getParameters().size(), 1u);
    EXPECT_EQ("node/named-host", entry(made));
    EXPECT_EQ("-", entry(JRXEID::EID_INVALID));

    const JRXEID configured = JRXGUID::generate();
    JRXConfiguration::setLocalEID(configured);
    EXPECT_EQ(configured, JRXConfiguration::getLocalEID());
    JRXConfiguration::setLocalEID(JRXEID());
    EXPECT_EQ(made, JRXConfiguration::getLocalEID());

    reopen(jrxtest::freshDatabaseUrl(backend));  // another database knows nothing of these
    EXPECT_EQ("-", entry(vm));
    JRXEnvDirectory::put(vm, "vm", "again");
    JRXEnvDirectory::clear();  // forgets what it holds, not what the database does
    EXPECT_EQ("-", entry(vm));
    const JRXEID other = JRXConfiguration::getLocalEID();
    EXPECT_NE(made, other);
    JRXDatabase::close();  // without a database, the process's own identifier
    JRXEnvDirectory::clear();
    EXPECT_NE(other, JRXConfiguration::getLocalEID());
    EXPECT_THROW(JRXRdbmsTran(), AException);
  }
}
