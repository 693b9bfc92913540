#include "ASFaults.h"
#include "QueryFixture.h"

namespace {

using Session = QueryTest;

TEST_P(Session, TransactionsNestAsSavepoints) {
  item t;
  {
    ASTransaction outer(s);
    addItem("outer");
    {
      ASTransaction inner(s);
      EXPECT_EQ(inner.Level(), 2);
      addItem("inner");
      EXPECT_THROW(outer.Commit(), AException);  // an inner one is still open
    }  // rolled back to its savepoint
    {
      ASTransaction inner(s);
      addItem("kept");
      inner.Commit();
      EXPECT_THROW(inner.Commit(), AException);
    }
    EXPECT_EQ(select(t->name), (Rows{"outer", "kept"}));
    outer.Commit();
  }
  {
    ASTransaction outer(s);
    addItem("gone");
    ASTransaction inner(s);
    addItem("gone too");
    inner.Commit();
  }  // the outermost was not committed: neither stays
  EXPECT_EQ(select(t->name), (Rows{"outer", "kept"}));
}

// Another connection sees a statement outside any transaction at once, a transaction's work
// from its commit on, a rolled back one never; a reading transaction keeps its picture.
TEST_P(Session, OtherConnectionsSeeCommittedWork) {
  auto other = ASDatabase::Open(url);
  item t;
  auto seen = [&] { return select(t->name, ASComparison(), other->Session()).size(); };
  addItem("alone");
  EXPECT_EQ(seen(), 1u);
  {
    ASTransaction tr(s);
    addItem("in");
    EXPECT_EQ(select(t->name).size(), 2u);
    EXPECT_EQ(seen(), 1u);
    tr.Commit();
  }
  EXPECT_EQ(seen(), 2u);
  {
    ASTransaction tr(s);
    addItem("undone");
  }
  ASTransaction(s).Commit();  // an empty one is no error
  {
    ASTransaction read(other->Session(), AS_TRAN_READ);
    EXPECT_EQ(seen(), 2u);
    addItem("after");
    EXPECT_EQ(seen(), 2u);
    read.Commit();
  }
  EXPECT_EQ(seen(), 3u);
  s->ExecuteSql("DELETE FROM qt_item WHERE name = 'alone'");  // a statement of its own too
  EXPECT_EQ(seen(), 2u);
}

// A statement is prepared once per connection, whatever table objects built it.
TEST_P(Session, StatementsArePreparedOncePerConnection) {
  ASFaults::Clear();
  auto fdb = ASDatabase::Open("fault:" + url);
  ASSession* fs = fdb->Session();
  for (int i = 0; i < 5; ++i) {
    item t;
    t.name = "n" + std::to_string(i);
    fs->Insert(t);
    EXPECT_EQ(select(t->name, t->name == t.name.Str(), fs), Rows{t.name.Bytes()});
  }
  EXPECT_EQ(ASFaults::StatementsPrepared(), 2);
  EXPECT_EQ(ASFaults::StatementsSeen(), 10);
  ASFaults::Clear();
}

QUERY_TEST_SUITE(Session);

}  // namespace
