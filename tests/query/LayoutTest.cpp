// Tables described by the database's catalogue and brought to their domain's layout in place,
// and the row locks of selects, on every backend.
#include <algorithm>
#include <string>
#include <vector>

#include "QueryFixture.h"

namespace {

using Layout = QueryTest;

// An older layout of one table: no key, an index that has gone since, a text without width.
struct old_pair_domain : ASDomain {
  old_pair_domain() : ASDomain("qt_pair") {}
  void DeclareIndexes(ASIndexes& x) const override {
    x.Add("qt_pair_left", {&left});
  }
  ASAttribute left{this, "left_id", AS_INT};
  ASAttribute code{this, "code", AS_VSTR};
};
struct old_pair : ASTable<old_pair_domain> {
  old_pair() { BindValues({&left, &code}); }
  ASInt left;
  ASVStr code;
};

// The same table as it is now: a key of its own, a new column, the code with a width, and
// an index of another name, unique.
struct pair_domain : ASDomain {
  pair_domain() : ASDomain("qt_pair") {
    SetPrimaryKey({&left, &code});
  }
  void DeclareIndexes(ASIndexes& x) const override {
    x.Add("qt_pair_code", {&code, &left}, true);
  }
  ASAttribute left{this, "left_id", AS_INT};
  ASAttribute code{this, "code", AS_VSTR, AS_COL_NONE, 8};
  ASAttribute note{this, "note", AS_VSTR};
};
struct pair : ASTable<pair_domain> {
  pair() { BindValues({&left, &code, &note}); }
  ASInt left;
  ASVStr code;
  ASVStr note;
};

TEST_P(Layout, AnOlderTableIsBroughtToItsDomainWithItsRowsOnce) {
  EXPECT_FALSE(s->DescribeTable("qt_pair").exists);
  s->CreateTable(old_pair_domain());
  for (int i = 0; i < 3; ++i) {
    old_pair row;
    row.left = i;
    row.code = "c" + std::to_string(i);
    s->Insert(row);
  }
  const ASTableLayout before = s->DescribeTable("qt_pair");
  ASSERT_TRUE(before.exists);
  EXPECT_TRUE(before.primaryKey.empty());
  ASSERT_NE(before.Index("qt_pair_left"), nullptr);

  // What changed, a line each, as the operator is told.
  const std::vector<std::string> changes = s->ReshapeTable(pair_domain());
  for (const char* change :
       {"qt_pair: column note added", "qt_pair: primary key (left_id, code) (had none)",
        "qt_pair: index qt_pair_left dropped",
        "qt_pair: unique index qt_pair_code (code, left_id) added"})
    EXPECT_EQ(std::count(changes.begin(), changes.end(), change), 1) << change;
  const ASTableLayout after = s->DescribeTable("qt_pair");
  EXPECT_EQ(after.primaryKey, (std::vector<std::string>{"left_id", "code"}));
  EXPECT_EQ(after.Index("qt_pair_left"), nullptr);
  ASSERT_NE(after.Index("qt_pair_code"), nullptr);
  EXPECT_TRUE(after.Index("qt_pair_code")->unique);
  ASSERT_NE(after.Column("note"), nullptr);
  // Done once; and an index someone else made on a table of the library's is left alone.
  s->ExecuteSql("CREATE INDEX someone_else ON qt_pair (left_id)");
  EXPECT_EQ(s->ReshapeTable(pair_domain()), std::vector<std::string>());
  EXPECT_NE(s->DescribeTable("qt_pair").Index("someone_else"), nullptr);

  pair p;
  ASCursor c(s);
  c.Project() << p->left << p->code << p->note;
  c.Order(p->left);
  EXPECT_EQ(rows(c), (Rows{"0|c0|-", "1|c1|-", "2|c2|-"}));
  // The new key holds.
  pair again;
  again.left = 1;
  again.code = "c1";
  EXPECT_FALSE(s->InsertNew(again));
}

// Each kind of row lock is a statement of its own, and runs where the database has it (on
// SQLite a write transaction holds the whole file already).
TEST_P(Layout, SelectsLockTheirRowsEachInItsOwnWay) {
  addItem("a", 1);
  item t;
  const std::pair<void (*)(ASCursor&), std::string> locks[] = {
      {[](ASCursor&) {}, ""},
      {[](ASCursor& c) { c.ForUpdate(); }, " FOR UPDATE"},
      {[](ASCursor& c) { c.ForShare(); }, " LOCK IN SHARE MODE"},
      {[](ASCursor& c) { c.ForUpdateSkipLocked(); }, " FOR UPDATE SKIP LOCKED"},
  };
  for (const auto& [lock, clause] : locks) {
    std::vector<ASPlan> plans;
    s->RecordPlans(&plans);
    ASTransaction tran(s);
    ASCursor c(s);
    c.Project() << t->name;
    c.Set(t->num == 1);
    lock(c);
    EXPECT_EQ(rows(c), Rows{"a"}) << clause;
    tran.Commit();
    s->RecordPlans(nullptr);
    ASSERT_EQ(plans.size(), 1u);
    EXPECT_EQ(plans[0].sql, "SELECT t1.name FROM qt_item t1 WHERE t1.num = ? LIMIT ?" +
                                (GetParam() == "sqlite" ? std::string() : clause));
  }
}

QUERY_TEST_SUITE(Layout);

}  // namespace
