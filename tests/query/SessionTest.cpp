#include <functional>

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
      const std::string twice = caught([&] { inner.Commit(); }).what();
      EXPECT_NE(twice.find("twice"), std::string::npos) << twice;
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

// A schema lock of a name keeps other sessions from taking it until it is released (on
// SQLite the file's own locks do that work).
TEST_P(Session, SchemaLocksAreHeldUntilReleased) {
  auto other = ASDatabase::Open(url);
  {
    ASSchemaLock held(s, "qt_lock");
    const std::string e = caught([&] { ASSchemaLock(other->Session(), "qt_lock", 0); }).what();
    EXPECT_EQ(e.find("is held by another session") != std::string::npos, GetParam() != "sqlite");
  }
  EXPECT_EQ(std::string(caught([&] { ASSchemaLock(other->Session(), "qt_lock", 0); }).what()),
            "none");
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

// Statements are found again by their shape: each of these differs from another in one part
// only (operator, column, limit, offset, connective, which object a column is of, a locking
// read, the table's name), and taking turns each must keep its own statement and values.
TEST_P(Session, ShapesDifferingInOnePartKeepTheirOwnStatements) {
  for (int i = 1; i <= 6; ++i) addItem("n" + std::to_string(i), i % 3, 100 * i);
  item t, u;
  tag g;
  for (int i = 1; i <= 6; ++i) {
    g.item_id = i;
    g.label = i <= 2 ? "x" : "y";
    s->Insert(g);
  }
  // An EXISTS whose sub-select differs in its own condition.
  auto tagged = [&](const ASComparison& label, unsigned long long limit = 1) {
    ASFilter e;
    e.Project() << g->item_id;
    e.Set(g->item_id == t->item_id && label).Limit(limit);
    return e.Exists({&t});
  };
  const std::pair<std::function<void(ASFilter&)>, size_t> cases[] = {
      {[&](ASFilter& f) { f.Set(t->time < 200); }, 1},
      {[&](ASFilter& f) { f.Set(t->time <= 200); }, 2},
      {[&](ASFilter& f) { f.Set(t->num <= 1); }, 4},
      {[&](ASFilter& f) { f.Set(t->num <= 1).Limit(3); }, 3},
      {[&](ASFilter& f) { f.Set(t->num <= 1).Limit(3, 2); }, 2},
      {[&](ASFilter& f) { f.Set(t->num <= 1 && t->name != "n1"); }, 3},
      {[&](ASFilter& f) { f.Set(t->num <= 1 || t->name != "n1"); }, 6},
      {[&](ASFilter& f) { f.Set(t->item_id == t->num); }, 2},
      {[&](ASFilter& f) { f.Set(t->item_id == u->num); }, 4},
      {[&](ASFilter& f) { f.Set(t->item_id == u->num).ForUpdate(); }, 4},
      {[&](ASFilter& f) { f.Set(tagged(g->label == "x")); }, 2},
      {[&](ASFilter& f) { f.Set(tagged(g->label != "x")); }, 4},
      {[&](ASFilter& f) { f.Set(tagged(g->label != "x", 0)); }, 0},
  };
  for (int round = 0; round < 2; ++round)
    for (const auto& c : cases) {
      ASTransaction tr(s);
      ASCursor cursor(s);
      cursor.Project() << t->num;
      c.first(cursor);
      EXPECT_EQ(rows(cursor).size(), c.second) << &c - cases << ", round " << round;
    }
  // One table class under two names, as an archive beside its live table.
  struct named_domain : ASDomain {
    explicit named_domain(const char* table) : ASDomain(table) {}
    ASAttribute v{this, "v", AS_INT};
  };
  s->CreateTable(named_domain("qt_live"));
  s->CreateTable(named_domain("qt_archive"));
  s->ExecuteSql("INSERT INTO qt_archive (v) VALUES (1), (2)");
  for (int round = 0; round < 2; ++round)
    for (const char* table : {"qt_live", "qt_archive"}) {
      named_domain d(table);
      ASCursor c(s);
      c.Project() << d.v;
      size_t n = 0;
      while (c.Fetch()) ++n;
      EXPECT_EQ(n, std::string(table) == "qt_live" ? 0u : 2u) << table;
    }
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ((ASUpdater(t) << t->time.Set(round)).Where(t->num == 0).Execute(s), 2);
    EXPECT_EQ((ASUpdater(t) << t->big.Set(round + 5)).Where(t->num == 0).Execute(s), 2);
    EXPECT_EQ(select(t->name, t->time == round && t->big == round + 5).size(), 2u);
  }
}

QUERY_TEST_SUITE(Session);

}  // namespace
