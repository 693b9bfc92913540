#include <gtest/gtest.h>

#include <unistd.h>

#include <boost/intrusive_ptr.hpp>

#include "ASFaults.h"
#include "JRXEnvDirectory.h"
#include "JRXLog.h"
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
  void SetUp() override {
    url_ = jrxtest::freshDatabaseUrl(GetParam());
    JRXConfiguration::setLocalEID(JRXEID());
    reopen(url_);
  }
  void TearDown() override {
    JRXDatabase::close();
    JRXEnvDirectory::clear();
    ASFaults::Clear();
  }
  void reopen(const std::string& url) {
    JRXDatabase::close();
    JRXEnvDirectory::clear();
    JRXDatabase::open(url);
  }
  std::string url_;
};

}  // namespace

// The local environment's identifier is made with the database and kept; the directory of
// environments is the open database's.
TEST_P(FrameworkDb, LocalEnvironmentAndDirectoryPersist) {
  const JRXEID made = JRXConfiguration::getLocalEID(), vm = JRXGUID::generate();
  char host[256] = {0};
  gethostname(host, sizeof host - 1);
  EXPECT_EQ("node/" + std::string(host), entry(made));
  JRXEnvDirectory::put(vm, "vm", "web-'1\"\\");
  JRXEnvDirectory::put(vm, "vm", "web-2");  // replaces
  JRXEnvDirectory::put(made, "node", "named-host");
  reopen(url_);
  EXPECT_EQ(made, JRXConfiguration::getLocalEID());
  EXPECT_EQ("vm/web-2", entry(vm));
  JRXEnvInfo local(made);
  EXPECT_EQ(3u, local.getParameters().size());
  EXPECT_EQ("named-host", local.getParameter("title")->getText());
  EXPECT_EQ(made.toString(), local.getParameter("eid")->getText());
  EXPECT_EQ(1u, JRXEnvInfo(JRXGUID::generate()).getParameters().size());
  EXPECT_EQ("-", entry(JRXEID::EID_INVALID));

  const JRXEID configured = JRXGUID::generate();
  JRXConfiguration::setLocalEID(configured);
  EXPECT_EQ(configured, JRXConfiguration::getLocalEID());
  JRXConfiguration::setLocalEID(JRXEID());
  EXPECT_EQ(made, JRXConfiguration::getLocalEID());

  reopen(jrxtest::freshDatabaseUrl(GetParam()));  // another database knows nothing of these
  EXPECT_EQ("-", entry(vm));
  EXPECT_NE(made, JRXConfiguration::getLocalEID());
  JRXDatabase::close();
  EXPECT_FALSE(JRXDatabase::isOpen());
  EXPECT_THROW(JRXRdbmsTran(), AException);
  EXPECT_THROW(JRXDatabase::open("nosuchscheme:x"), AException);
  EXPECT_FALSE(JRXDatabase::isOpen());
}

// A failure is answered 3101 and logged; a lost connection is replaced at the next use, and
// what failed is neither stored nor remembered.
TEST_P(FrameworkDb, FailuresMapTo3101AndALostConnectionIsReplaced) {
  reopen("fault:" + url_);
  auto sink = std::make_shared<JRXCapturingLogSink>();
  auto previous = setLogSink(sink);
  boost::intrusive_ptr<ASSession> before(JRXDatabase::get()->Session());
  const JRXEID vm = JRXGUID::generate();
  ASFaults::DropConnection(1, "jrx_environment");
  int code = 0;
  try {
    JRXEnvDirectory::put(vm, "vm", "lost");
  } catch (const AException& e) {
    code = onRdbmsError(e);
  }
  EXPECT_EQ(3101, code);
  EXPECT_EQ("-", entry(vm));
  EXPECT_EQ(3101, onRdbmsError(AException("plain failure")));
  setLogSink(previous);
  auto records = sink->records();
  ASSERT_EQ(2u, records.size());
  EXPECT_NE(std::string::npos, records[0].text.find("connection lost"));
  EXPECT_EQ(1, records[1].level);
  EXPECT_NE(std::string::npos, records[1].text.find("plain failure"));

  EXPECT_NE(before.get(), JRXDatabase::get()->Session());  // the next use connects anew
  JRXEnvDirectory::put(vm, "vm", "after");
  reopen(url_);
  EXPECT_EQ("vm/after", entry(vm));
}

INSTANTIATE_TEST_SUITE_P(Db, FrameworkDb, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());
