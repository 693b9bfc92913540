// Tables described by the database's catalogue and brought to their domain's layout in place.
#include <algorithm>

#include "QueryFixture.h"

namespace {

using Layout = QueryTest;

// The tags' table as it is now: a key of its own, a new column, the label with a width, and
// an index of another name, unique.
struct tag_now_domain : ASDomain {
  tag_now_domain() : ASDomain("qt_tag") { SetPrimaryKey({&label, &item_id}); }
  void DeclareIndexes(ASIndexes& x) const override {
    x.Add("qt_tag_label", {&label, &item_id}, true);
  }
  ASAttribute item_id{this, "item_id", AS_INT};
  ASAttribute label{this, "label", AS_VSTR, AS_COL_NONE, 8};
  ASAttribute note{this, "note", AS_VSTR};
};

TEST_P(Layout, AnOlderTableIsBroughtToItsDomainWithItsRowsOnce) {
  EXPECT_FALSE(s->DescribeTable("qt_none").exists);
  // Tables just made are as their domains want them.
  EXPECT_EQ(s->ReshapeTable(item_domain()), Rows{});
  EXPECT_EQ(s->ReshapeTable(coded_domain()), Rows{});  // a unique index over texts of any length
  // MariaDB keeps such texts unique by a hash that lookups cannot use: they get an index of
  // their own beside it.
  if (GetParam() == "mariadb") {
    EXPECT_NE(s->DescribeTable("qt_code").Index("qt_code_text_find"), nullptr);
  }
  tag g;
  for (int i = 0; i < 3; ++i) addTag(s, i, "c" + std::to_string(i));
  // What changed, a line each, as the operator is told.
  const std::vector<std::string> changes = s->ReshapeTable(tag_now_domain());
  for (const char* change :
       {"qt_tag: column note added", "qt_tag: primary key (label, item_id) (had none)",
        "qt_tag: index qt_tag_item dropped",
        "qt_tag: unique index qt_tag_label (label, item_id) added"})
    EXPECT_EQ(std::count(changes.begin(), changes.end(), change), 1) << change;
  EXPECT_FALSE(s->DescribeTable("qt_tag_reshaped").exists);  // where SQLite made it anew
  // Done once (what was told is what was done); and an index and a column someone else made
  // on a table of the library's are left alone.
  s->ExecuteSql("CREATE INDEX someone_else ON qt_tag (item_id)");
  s->ExecuteSql("ALTER TABLE qt_tag ADD COLUMN someone_elses INT");
  EXPECT_EQ(s->ReshapeTable(tag_now_domain()), std::vector<std::string>());
  EXPECT_NE(s->DescribeTable("qt_tag").Index("someone_else"), nullptr);
  EXPECT_NE(s->DescribeTable("qt_tag").Column("someone_elses"), nullptr);
  // A later change beside a key that stays, made in place.
  struct tag_later_domain : tag_now_domain {
    void DeclareIndexes(ASIndexes& x) const override {
      tag_now_domain::DeclareIndexes(x);
      x.Add("qt_tag_added", {&added});
    }
    ASAttribute added{this, "added", AS_INT};
  };
  EXPECT_EQ(s->ReshapeTable(tag_later_domain()),
            (Rows{"qt_tag: column added added", "qt_tag: index qt_tag_added (added) added"}));
  EXPECT_EQ(s->ReshapeTable(tag_later_domain()), Rows{});
  // A column whose type alone changed.
  struct numbered_wide_domain : ASDomain {
    numbered_wide_domain() : ASDomain("qt_numbered") { SetPrimaryKey({&n}); }
    ASAttribute n{this, "n", AS_INT};
    ASAttribute note{this, "note", AS_INT64};
  };
  EXPECT_EQ(s->ReshapeTable(numbered_wide_domain()).size(), 1u);
  EXPECT_EQ(s->ReshapeTable(numbered_wide_domain()), Rows{});

  ASCursor c(s);
  c.Project() << g->item_id << g->label;
  c.Order(g->item_id);
  EXPECT_EQ(rows(c), (Rows{"0|c0", "1|c1", "2|c2"}));
  // The new key holds.
  g.item_id = 1;
  g.label = "c1";
  EXPECT_FALSE(s->InsertNew(g));
}

QUERY_TEST_SUITE(Layout);

}  // namespace
