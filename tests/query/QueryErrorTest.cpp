#include "ASFaults.h"
#include "QueryFixture.h"

namespace {

// Errors arrive as AException with the database's own text; the session stays usable.
class Errors : public QueryTest {
 protected:
  void SetUp() override {
    QueryTest::SetUp();
    ASFaults::Clear();
    fdb = ASDatabase::Open("fault:" + url);
    fs = fdb->Session();
  }
  void TearDown() override { ASFaults::Clear(); }

  std::shared_ptr<ASDatabase> fdb;
  ASSession* fs = nullptr;
};

TEST_P(Errors, BrokenStatementCarriesTheDatabaseMessage) {
  try {
    s->ExecuteSql("SELEC nothing FROM nowhere");
    FAIL() << "no exception";
  } catch (const AException& e) {
    EXPECT_FALSE(e.Text().empty());
    EXPECT_NE(e.Text().str().find("syntax"), std::string::npos) << e.what();
    EXPECT_NE(e.Code(), 0);
    EXPECT_FALSE(e.ConnectionLost());
  }
  try {
    s->ExecuteSql("SELECT no_such_column FROM qt_item");
    FAIL() << "no exception";
  } catch (const AException& e) {
    EXPECT_NE(e.Text().str().find("no_such_column"), std::string::npos) << e.what();
  }
  EXPECT_EQ(addItem("after") > 0, true);
}

TEST_P(Errors, DuplicateKeyInsideATransaction) {
  struct uniq_domain : ASDomain {
    uniq_domain() : ASDomain("qt_uniq") { AddIndex("qt_uniq_code", {&code}, true); }
    ASAttribute code{this, "code", AS_VSTR};
  };
  struct uniq : ASTable<uniq_domain> {
    uniq() { BindValues({&code}); }
    ASVStr code;
  };
  s->CreateTable(uniq_domain());
  s->CreateTable(uniq_domain());  // idempotent
  ASTransaction tr(s);
  uniq u;
  u.code = "k1";
  s->Insert(u);
  try {
    s->Insert(u);
    FAIL() << "no exception";
  } catch (const AException& e) {
    const std::string& text = e.Text().str();
    EXPECT_TRUE(text.find("UNIQUE") != std::string::npos || text.find("Duplicate") != std::string::npos)
        << text;
  }
  u.code = "k2";
  s->Insert(u);  // the transaction goes on
  tr.Commit();
  uniq r;
  EXPECT_EQ(count(r->code), 2);
}

TEST_P(Errors, InjectedFailureLeavesTheConnectionUsable) {
  item t;
  t.name = "x";
  ASFaults::FailStatement(1, "INSERT INTO qt_item", "disk on fire");
  try {
    fs->Insert(t);
    FAIL() << "no exception";
  } catch (const AException& e) {
    EXPECT_EQ(e.Text().str(), "disk on fire");
    EXPECT_FALSE(e.ConnectionLost());
  }
  fs->Insert(t);
  EXPECT_GE(ASFaults::StatementsSeen(), 2);
  item q;
  EXPECT_EQ(count(q->item_id), 1);
}

TEST_P(Errors, LostConnectionRollsBackAndReconnects) {
  {
    ASTransaction tr(fs);
    item t;
    t.name = "lost";
    fs->Insert(t);
    ASFaults::DropConnection(1, "COMMIT");
    try {
      tr.Commit();
      FAIL() << "no exception";
    } catch (const AException& e) {
      EXPECT_TRUE(e.ConnectionLost());
      EXPECT_FALSE(e.Text().empty());
    }
    // Later statements of the dead transaction fail the same way instead of running
    // outside of it.
    try {
      fs->Insert(t);
      FAIL() << "no exception";
    } catch (const AException& e) {
      EXPECT_TRUE(e.ConnectionLost());
    }
  }
  item q;
  EXPECT_EQ(count(q->item_id), 0);
  // The next transaction runs on a fresh connection.
  {
    ASTransaction tr(fs);
    item t;
    t.name = "again";
    fs->Insert(t);
    tr.Commit();
  }
  EXPECT_EQ(count(q->item_id, q->name == "again"), 1);
}

TEST_P(Errors, LostConnectionMidCursorAndDroppedSession) {
  for (int i = 0; i < 10; ++i) addItem("r", 0, i);
  item t;
  ASCursor c(fs);
  c.PageRows(3);
  c.Project() << t->time;
  c.Order(t->time);
  ASSERT_TRUE(c.Fetch());
  ASFaults::DropConnection(1, "SELECT");
  int fetched = 1;
  EXPECT_THROW(
      {
        while (c.Fetch()) ++fetched;
      },
      AException);
  EXPECT_EQ(fetched, 3);  // the first page was already read
  fdb->DropSession();
  ASSession* fresh = fdb->Session();
  ASCursor again(fresh);
  again.Project() << t->time;
  int n = 0;
  while (again.Fetch()) ++n;
  EXPECT_EQ(n, 10);
}

// A real lost connection: the server ends the session's own connection.
TEST_P(Errors, ServerKilledConnection) {
  if (GetParam() != "mariadb") GTEST_SKIP() << "an embedded database has no server to lose";
  {
    ASTransaction tr(s);
    addItem("gone");
    try {
      s->ExecuteSql("KILL CONNECTION_ID()");
      FAIL() << "no exception";
    } catch (const AException& e) {
      EXPECT_TRUE(e.ConnectionLost()) << e.what();
      EXPECT_NE(e.Code(), 0);
    }
    EXPECT_THROW(tr.Commit(), AException);
  }
  item q;
  EXPECT_EQ(count(q->item_id), 0);
  addItem("back");
  EXPECT_EQ(count(q->item_id), 1);
  // Lost between transactions: the next statement finds out and the one after reconnects.
  try {
    s->ExecuteSql("KILL CONNECTION_ID()");
  } catch (const AException& e) {
    EXPECT_TRUE(e.ConnectionLost());
  }
  EXPECT_EQ(count(q->item_id), 1);
}

TEST_P(Errors, BadUrlsAreRefused) {
  EXPECT_THROW(ASDatabase::Open("nosuch:thing"), AException);
  EXPECT_THROW(ASDatabase::Open("no scheme"), AException);
  EXPECT_THROW(ASDatabase::Open("mysql://nouser"), AException);
  EXPECT_THROW(ASDatabase::Open("mysql://u@h:99999/db"), AException);
  EXPECT_THROW(ASDatabase::Open("sqlite:/nonexistent/folder/x.db"), AException);
  EXPECT_THROW(ASDatabase::Open("fault:"), AException);
}

INSTANTIATE_TEST_SUITE_P(Db, Errors, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());

}  // namespace
