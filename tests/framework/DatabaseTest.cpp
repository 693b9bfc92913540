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

std::string names(ASSession* s) {
  fw_probe p;
  ASCursor c(s);
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

std::string hostName() {
  char buf[256] = {0};
  gethostname(buf, sizeof buf - 1);
  return buf;
}

class FrameworkDb : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    url_ = jrxtest::freshDatabaseUrl(GetParam());
    JRXEnvDirectory::clear();
    JRXConfiguration::setLocalEID(JRXEID());
    JRXDatabase::open(url_);
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
    t->CreateTable(fw_probe());
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
  JRXRdbmsTran t(AS_TRAN_READ);
  EXPECT_EQ("a", names(*t));
}

TEST_P(FrameworkDb, LocalEnvironmentIsMadeOnceAndKept) {
  JRXEID made = JRXConfiguration::getLocalEID();
  ASSERT_TRUE(made.isValid());
  reopen(url_);
  EXPECT_EQ(made, JRXConfiguration::getLocalEID());

  JRXEnvInfo local(made);
  ASSERT_NE(nullptr, local.getParameter("type"));
  EXPECT_EQ("node", local.getParameter("type")->getText());
  EXPECT_EQ(hostName(), local.getParameter("title")->getText());
  EXPECT_EQ(made.toString(), local.getParameter("eid")->getText());

  JRXEID configured = JRXGUID::generate();
  JRXConfiguration::setLocalEID(configured);
  EXPECT_EQ(configured, JRXConfiguration::getLocalEID());
  JRXConfiguration::setLocalEID(JRXEID());
  EXPECT_EQ(made, JRXConfiguration::getLocalEID());
}

TEST_P(FrameworkDb, EnvironmentDirectoryPersists) {
  JRXEID vm = JRXGUID::generate(), other = JRXGUID::generate();
  JRXEnvDirectory::put(vm, "vm", "web-'1\"\\");
  JRXEnvDirectory::put(other, "node", "host-1");
  JRXEnvDirectory::put(vm, "vm", "web-2");  // replaces
  JRXEnvDirectory::put(JRXConfiguration::getLocalEID(), "node", "named-host");
  reopen(url_);

  std::string type, title;
  ASSERT_TRUE(JRXEnvDirectory::lookup(vm, type, title));
  EXPECT_EQ("vm", type);
  EXPECT_EQ("web-2", title);
  ASSERT_TRUE(JRXEnvDirectory::lookup(other, type, title));
  EXPECT_EQ("host-1", title);
  JRXEnvInfo local(JRXConfiguration::getLocalEID());
  EXPECT_EQ("named-host", local.getParameter("title")->getText());

  JRXEnvInfo unknown(JRXGUID::generate());
  EXPECT_EQ(1u, unknown.getParameters().size());
  EXPECT_NE(nullptr, unknown.getParameter("eid"));
  EXPECT_FALSE(JRXEnvDirectory::lookup(JRXEID::EID_INVALID, type, title));

  // Another database knows nothing of these.
  JRXDatabase::open(jrxtest::freshDatabaseUrl(GetParam()));
  EXPECT_FALSE(JRXEnvDirectory::lookup(vm, type, title));
}

TEST_P(FrameworkDb, FailuresMapTo3101AndALostConnectionIsReplaced) {
  reopen("fault:" + url_);
  {
    JRXRdbmsTran t;
    t->CreateTable(fw_probe());
    t.commit();
  }
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
    EXPECT_TRUE(e.ConnectionLost());
    code = onRdbmsError(e);
  }
  EXPECT_EQ(3101, code);
  EXPECT_EQ(3101, onRdbmsError(AException("plain failure")));
  setLogSink(previous);
  auto records = sink->records();
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ(1, records[0].level);
  EXPECT_NE(std::string::npos, records[1].text.find("plain failure"));

  EXPECT_NE(before.get(), JRXDatabase::get()->Session());  // the next use connects anew
  JRXRdbmsTran t;
  insert(*t, "after");
  t.commit();
  JRXRdbmsTran check;
  EXPECT_EQ("after", names(*check));
}

TEST(FrameworkDbClosed, TransactionsNeedAnOpenDatabase) {
  JRXDatabase::close();
  EXPECT_FALSE(JRXDatabase::isOpen());
  EXPECT_THROW(JRXRdbmsTran(), AException);
  EXPECT_THROW(JRXDatabase::get(), AException);
  EXPECT_THROW(JRXDatabase::open("nosuchscheme:x"), AException);
}

INSTANTIATE_TEST_SUITE_P(Db, FrameworkDb, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());
