// Failures arrive as AException with the database's own text and what they mean to the
// caller; the session stays usable, and a lost connection is replaced.
#include "ASFaults.h"
#include "QueryFixture.h"

namespace {

using Errors = QueryTest;

// The exception `f` throws (one with the text "none" when it throws nothing).
template <class F>
AException caught(F&& f) {
  try {
    f();
  } catch (const AException& e) {
    return e;
  }
  return AException("none");
}

TEST_P(Errors, DatabaseFailuresCarryTheirMessageAndKind) {
  AException e = caught([&] { s->ExecuteSql("SELEC nothing FROM nowhere"); });
  EXPECT_NE(e.Text().str().find("syntax"), std::string::npos) << e.what();
  EXPECT_TRUE(e.Code() != 0 && !e.ConnectionLost() && !e.Transient());
  e = caught([&] { s->ExecuteSql("SELECT no_such_column FROM qt_item"); });
  EXPECT_NE(e.Text().str().find("no_such_column"), std::string::npos) << e.what();

  s->CreateTable(coded_domain());  // again: no error
  ASTransaction tr(s);
  coded k;
  k.code = "k1";
  k.text = std::string(300, 'x');
  s->Insert(k);
  e = caught([&] { s->Insert(k); });
  EXPECT_EQ(e.Kind(), AS_ERROR_DUPLICATE_KEY) << e.what();
  EXPECT_FALSE(s->InsertNew(k));
  k.code = "k2";  // the same long text: unique as a whole
  EXPECT_FALSE(s->InsertNew(k));
  k.text = std::string(299, 'x') + "y";  // differs only beyond any index prefix
  EXPECT_TRUE(s->InsertNew(k));
  tr.Commit();  // the transaction went on
  // Outside a transaction a refused insert holds nothing that another writer would wait for.
  EXPECT_FALSE(s->InsertNew(k));
  auto other = ASDatabase::Open(url);
  EXPECT_EQ(ASDeleter(k).Where(k->code == "k2").Execute(other->Session()), 1);
  EXPECT_EQ(select(k->code), (Rows{"k1"}));
}

TEST_P(Errors, LostConnectionRollsBackAndReconnects) {
  ASFaults::Clear();
  auto fdb = ASDatabase::Open("fault:" + url);
  ASSession* fs = fdb->Session();
  {
    ASTransaction tr(fs);
    item t;
    t.name = "lost";
    fs->Insert(t);
    ASFaults::DropConnection(1, "COMMIT");
    AException e = caught([&] { tr.Commit(); });
    EXPECT_TRUE(e.ConnectionLost() && e.Transient()) << e.what();
    // Later statements of the dead transaction fail the same way instead of running
    // outside of it.
    EXPECT_TRUE(caught([&] { fs->Insert(t); }).ConnectionLost());
  }
  item q;
  EXPECT_EQ(select(q->item_id).size(), 0u);
  {
    ASTransaction tr(fs);  // on a fresh connection
    item t;
    t.name = "again";
    fs->Insert(t);
    tr.Commit();
  }
  for (int i = 0; i < 9; ++i) addItem("r", 0, i);
  ASCursor c(fs);
  c.PageRows(3).Project() << q->time;
  c.Order(q->time);
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
  EXPECT_EQ(select(q->time, ASComparison(), fdb->Session()).size(), 10u);
  ASFaults::Clear();
}

// The server ends the session's own connection.
TEST_P(Errors, ServerKilledConnection) {
  if (GetParam() != "mariadb") GTEST_SKIP() << "an embedded database has no server to lose";
  item q;
  {
    ASTransaction tr(s);
    addItem("gone");
    AException e = caught([&] { s->ExecuteSql("KILL CONNECTION_ID()"); });
    EXPECT_TRUE(e.ConnectionLost() && e.Code() != 0) << e.what();
    EXPECT_THROW(tr.Commit(), AException);
  }
  addItem("back");
  EXPECT_EQ(select(q->name), Rows{"back"});
  // Lost between transactions: the next statement finds out and the one after reconnects.
  EXPECT_TRUE(caught([&] { s->ExecuteSql("KILL CONNECTION_ID()"); }).ConnectionLost());
  EXPECT_EQ(select(q->name), Rows{"back"});
}

QUERY_TEST_SUITE(Errors);

TEST(DatabaseUrls, BadOnesAreRefusedWithTheReason) {
  const char* cases[][2] = {
      {"nosuch:thing", "unknown scheme 'nosuch'"},
      {"no scheme", "has no scheme"},
      {"sqlite:", "names no SQLite file"},
      {"sqlite:/nonexistent/folder/x.db", "cannot open"},
      {"fault:", "must wrap"},
      {"fault:fault:sqlite::memory:", "must wrap"},
      {"mysql:/h/db", "does not start with mysql://"},
      {"mysql://nouser", "names no database"},
      {"mysql://@h/db", "empty user"},
      {"mysql://u@h:99999/db", "bad port"},
      {"mysql://u@h:/db", "bad port"},
      {"mysql://u@h/d.b", "database name"},
      {"mysql://u@h/db?ssl-mode=SOMETIMES", "ssl-mode"},
      {"mysql://u@h/db?connect-timeout=0", "connect-timeout"},
      {"mysql://u@h/db?connect-timeout=3601", "connect-timeout"},
      {"mysql://u@h/db?socket=/s&sslmode=REQUIRED", "unknown parameter 'sslmode'"},
      {"mysql://u@h/db?defaults-file=/nonexistent/my.cnf", "cannot be read"},
      {"mysql://u@h/db?ssl-mode=required&ssl-ca=/nonexistent/ca.pem", "cannot be read"},
      {"mysql://u@h/db?ssl-cert=/nonexistent/c.pem", "cannot be read"},
      {"mysql://u@h/db?ssl-key=/nonexistent/k.pem", "cannot be read"},
  };
  for (const auto& c : cases) {
    try {
      ASDatabase::Open(c[0]);
      ADD_FAILURE() << "accepted: " << c[0];
    } catch (const AException& e) {
      EXPECT_NE(std::string(e.what()).find(c[1]), std::string::npos) << c[0] << ": " << e.what();
    }
  }
}

}  // namespace
