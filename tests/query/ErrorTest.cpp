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
  fdb->DropSession();
  EXPECT_EQ(select(q->name, ASComparison(), fdb->Session()), Rows{"again"});
  ASFaults::Clear();
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
