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

struct fw_probe_domain : ASDomain {
  fw_probe_domain() : ASDomain("fw_probe") {}
  ASAttribute name{this, "name", AS_VSTR};
};
struct fw_probe : ASTable<fw_probe_domain> {
  fw_probe() { BindValues({&name}); }
  ASVStr name;
};

std::string names() {
  JRXRdbmsTran t(AS_TRAN_READ);
  fw_probe p;
  ASCursor c(*t);
  c.Project() << p->name;
  c.Order(p->name);
  std::string out;
  while (c.Fetch()) out += p.name.Str().str();
  return out;
}

void insert(ASSession* s, const char* name) {
  fw_probe p;
  p.name = name;
  s->Insert(p);
}

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
    JRXRdbmsTran t;
    t->CreateTable(fw_probe());
    t.commit();
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

TEST_P(FrameworkDb, TransactionsOfAThreadShareItsSession) {
  {
    JRXRdbmsTran t;
    insert(*t, "a");
    {
      JRXRdbmsTran inner;
      EXPECT_EQ(*t, *inner);
      insert(*inner, "b");
    }  // rolled back to its savepoint
    t.commit();
  }
  {
    JRXRdbmsTran outer;
    insert(*outer, "c");
    JRXRdbmsTran inner;
    inner.commit();
  }  // the outer never committed
  EXPECT_EQ("a", names());
}

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
}

TEST_P(FrameworkDb, FailuresMapTo3101AndALostConnectionIsReplaced) {
  reopen("fault:" + url_);
  auto sink = std::make_shared<JRXCapturingLogSink>();
  auto previous = setLogSink(sink);
  boost::intrusive_ptr<ASSession> before(JRXDatabase::get()->Session());
  ASFaults::DropConnection(1, "fw_probe");
  int code = 0;
  try {
    JRXRdbmsTran t;
    insert(*t, "lost");
    t.commit();
  } catch (const AException& e) {
    code = onRdbmsError(e);
  }
  EXPECT_EQ(3101, code);
  EXPECT_EQ(3101, onRdbmsError(AException("plain failure")));
  setLogSink(previous);
  auto records = sink->records();
  ASSERT_EQ(2u, records.size());
  EXPECT_NE(std::string::npos, records[0].text.find("connection lost"));
  EXPECT_EQ(1, records[1].level);
  EXPECT_NE(std::string::npos, records[1].text.find("plain failure"));

  EXPECT_NE(before.get(), JRXDatabase::get()->Session());  // the next use connects anew
  JRXRdbmsTran t;
  insert(*t, "after");
  t.commit();
  EXPECT_EQ("after", names());

  JRXDatabase::close();
  EXPECT_FALSE(JRXDatabase::isOpen());
  EXPECT_THROW(JRXRdbmsTran(), AException);
  EXPECT_THROW(JRXDatabase::open("nosuchscheme:x"), AException);
  EXPECT_FALSE(JRXDatabase::isOpen());
}

INSTANTIATE_TEST_SUITE_P(Db, FrameworkDb, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());
