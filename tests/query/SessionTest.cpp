#include <thread>

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
  EXPECT_EQ(s->TransactionDepth(), 0);
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

TEST_P(Session, InsertIdsAndLeftOutColumns) {
  long long a = addItem("a", 1), b = addItem("b", 2);
  EXPECT_EQ(b, a + 1);
  item d;
  EXPECT_EQ(ASDeleter(d).Where(d->item_id == b).Execute(s), 1);
  EXPECT_GT(addItem("c", 3), b);  // the newest key stays used although its row is gone
  item t;
  t.name = "partial";
  t.num = 5;
  t->RemoveColumn(t->num);
  s->Insert(t);
  for (size_t i = 0; i < t->Size(); ++i) t->RemoveColumn(t->Attribute(i));
  s->Insert(t);  // nothing left: the table's defaults
  t->RestoreColumns();
  s->Insert(t);
  ASCursor c(s);
  c.Project() << d->name << d->num;
  c.Order(d->item_id);
  EXPECT_EQ(rows(c), (Rows{"a|1", "c|3", "partial|-", "-|-", "partial|5"}));
}

// A statement is prepared once per connection and found again by its text, whatever table
// objects built it.
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

TEST(MemoryDatabase, SharedByTheThreadsOfOnePoolOnly) {
  auto a = ASDatabase::Open("sqlite::memory:"), b = ASDatabase::Open("sqlite::memory:");
  for (auto* d : {a.get(), b.get()}) d->Session()->CreateTable(item_domain());
  item t;
  a->Session()->Insert(t);
  auto count = [&t](ASDatabase* d) {
    ASCursor c(d->Session());
    c.Project() << t->item_id;
    return rows(c).size();
  };
  size_t inA = 0;
  ASSession* other = nullptr;  // each thread has a session of its own
  std::thread([&] {
    inA = count(a.get());
    other = a->Session();
  }).join();
  EXPECT_EQ(inA * 10 + count(b.get()), 10u);
  EXPECT_TRUE(other != a->Session() && a->Session() == a->Session());
}

}  // namespace
