#include <thread>

#include "QueryFixture.h"

namespace {

using Transactions = QueryTest;

TEST_P(Transactions, InnerRollbackKeepsOuterWork) {
  item t;
  {
    ASTransaction outer(s);
    addItem("outer");
    {
      ASTransaction inner(s);
      EXPECT_EQ(inner.Level(), 2);
      addItem("inner");
      EXPECT_EQ(count(t->item_id), 2);
    }  // rolled back to its savepoint
    EXPECT_EQ(count(t->item_id), 1);
    {
      ASTransaction inner(s);
      addItem("kept");
      inner.Commit();
    }
    outer.Commit();
  }
  EXPECT_EQ(s->TransactionDepth(), 0);
  EXPECT_EQ(count(t->item_id, t->name == "inner"), 0);
  EXPECT_EQ(count(t->item_id, t->name == "kept"), 1);
  EXPECT_EQ(count(t->item_id, t->name == "outer"), 1);
}

TEST_P(Transactions, OuterRollbackDiscardsCommittedInnerWork) {
  item t;
  {
    ASTransaction outer(s);
    {
      ASTransaction inner(s);
      addItem("inner");
      {
        ASTransaction third(s);
        EXPECT_EQ(third.Level(), 3);
        addItem("third");
        third.Commit();
      }
      inner.Commit();
    }
    EXPECT_EQ(count(t->item_id), 2);
  }
  EXPECT_EQ(count(t->item_id), 0);
  EXPECT_EQ(s->TransactionDepth(), 0);
}

// Another connection sees a statement outside any transaction at once, a transaction's work
// only from its commit on, and a rolled back one never; an empty transaction is no error.
TEST_P(Transactions, OtherConnectionsSeeWorkWhenItIsCommitted) {
  auto other = ASDatabase::Open(url);
  auto seen = [&] {
    item t;
    ASCursor c(other->Session());
    c.Project() << t->item_id;
    long long n = 0;
    while (c.Fetch()) ++n;
    return n;
  };
  addItem("alone");
  EXPECT_EQ(seen(), 1);
  {
    ASTransaction tr(s);
    addItem("in");
    item t;
    EXPECT_EQ(count(t->item_id), 2);
    EXPECT_EQ(seen(), 1);
    tr.Commit();
  }
  EXPECT_EQ(seen(), 2);
  {
    ASTransaction tr(s);
    addItem("undone");
  }
  EXPECT_EQ(seen(), 2);
  ASTransaction empty(s);
  empty.Commit();
  addItem("after");
  EXPECT_EQ(seen(), 3);
}

TEST_P(Transactions, CommitOrderIsEnforced) {
  ASTransaction outer(s);
  ASTransaction inner(s);
  EXPECT_THROW(outer.Commit(), AException);
  inner.Commit();
  EXPECT_THROW(inner.Commit(), AException);
  outer.Commit();
}

TEST_P(Transactions, InsertIdsAreNeverHandedOutTwice) {
  long long a = addItem("a");
  long long b = addItem("b");
  EXPECT_EQ(b, a + 1);
  item d;
  ASDeleter(d).Where(d->item_id == b).Execute(s);
  long long c = addItem("c");
  EXPECT_GT(c, b);  // the newest key stays used although its row is gone
  // An insert into a table without auto-increment key leaves the id of a table with one
  // to be read right after that table's insert.
  tag g;
  g.item_id = 7;
  g.label = "x";
  s->Insert(g);
  step st;
  st.group_id = 1;
  s->Insert(st);
  long long firstStep = s->GetInsertId();
  s->Insert(st);
  EXPECT_EQ(s->GetInsertId(), firstStep + 1);
}

TEST_P(Transactions, RemovedColumnsTakeTheDefault) {
  item t;
  t.name = "full";
  t.num = 5;
  s->Insert(t);
  t.name = "partial";
  t->RemoveColumn(t->num);
  EXPECT_FALSE(t->InInsert(t->num.Index()));
  s->Insert(t);
  t->RestoreColumns();
  item r;
  ASCursor c(s);
  c.Project() << r->num;
  c.Set(r->name == "partial");
  ASSERT_TRUE(c.Fetch());
  EXPECT_TRUE(r.num.IsNull());
  EXPECT_THROW(t->RemoveColumn(r->num), AException);  // a column of another object
}

TEST_P(Transactions, EachThreadHasItsOwnSession) {
  ASSession* mine = db->Session();
  EXPECT_EQ(mine, db->Session());
  ASSession* other = nullptr;
  std::thread th([&] {
    other = db->Session();
    // A write on the other thread's connection is visible here once committed.
    ASTransaction tr(other);
    item t;
    t.name = "from thread";
    other->Insert(t);
    tr.Commit();
  });
  th.join();
  EXPECT_NE(mine, other);
  item q;
  EXPECT_EQ(count(q->item_id, q->name == "from thread"), 1);
}

INSTANTIATE_TEST_SUITE_P(Db, Transactions, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());

}  // namespace
