#include "QueryFixture.h"

namespace {

using Cursor = QueryTest;

// Ties and NULLs to cross: a result read in pages of any size is the result read at once.
TEST_P(Cursor, PagesNeitherOverlapNorSkipRows) {
  ASTransaction tr(s);
  for (int i = 0; i < 103; ++i) {
    item r;
    r.name = "r" + std::to_string(i % 7);
    if (i % 5 != 0) r.num = i % 4;  // every fifth row has NULL
    r.time = i / 3;
    s->Insert(r);
  }
  tr.Commit();
  auto read = [&](bool desc, unsigned long long page, bool distinct) {
    item t;
    ASCursor c(s);
    c.PageRows(page);
    (distinct ? c.Project().Distinct() : c.Project() << t->item_id) << t->num << t->name;
    c.Order(desc ? -t->num : ASOrder(t->num)).Order(-t->name);
    return rows(c);
  };
  for (bool desc : {false, true}) {
    SCOPED_TRACE(desc ? "descending" : "ascending");
    const Rows whole = read(desc, 1000, false);
    ASSERT_EQ(whole.size(), 103u);
    for (unsigned long long page : {1ull, 2ull, 7ull, 20ull, 102ull, 103ull})
      EXPECT_EQ(read(desc, page, false), whole) << page;
    // NULLs sort first ascending, last descending, on both databases.
    EXPECT_EQ(whole.front().find("|-|") != std::string::npos, !desc);
    EXPECT_EQ(whole.back().find("|-|") != std::string::npos, desc);
    const Rows distinct = read(desc, 1000, true);
    EXPECT_TRUE(read(desc, 3, true) == distinct && distinct.size() == 5u * 7u);
  }
  item t;
  // With a limit and an offset, reaching over several pages.
  auto limited = [&](unsigned long long page) {
    ASCursor c(s);
    c.PageRows(page).Project() << t->item_id;
    c.Order(-t->time).Limit(23, 9);
    return rows(c);
  };
  const Rows whole = limited(100);
  EXPECT_TRUE(whole.size() == 23u && limited(4) == whole && limited(1) == whole);
}

// Rows added behind a paged read are left out where a key grows with insertion (SQLite's row
// number under any table), in each table of a join; a natural key alone does not bound it.
TEST_P(Cursor, RowsAddedBehindAPagedReadAreLeftOutWhereAKeyGrows) {
  s->ExecuteSql("INSERT INTO qt_code VALUES ('a', 'a'), ('b', 'b'), ('c', 'c'), ('d', 'd')");
  coded k;
  ASCursor c(s);
  c.PageRows(2).Project() << k->code;
  Rows seen;
  while (c.Fetch()) {
    seen.push_back(k.code.Bytes());
    if (seen.size() == 1) s->ExecuteSql("INSERT INTO qt_code VALUES ('z', 'z')");
  }
  const Rows before{"a", "b", "c", "d"}, after{"a", "b", "c", "d", "z"};
  EXPECT_EQ(seen, GetParam() == "sqlite" ? before : after);

  for (int i = 0; i < 4; ++i) addItem("", i % 2);
  item t, u;
  ASCursor pairs(s);
  pairs.PageRows(2).Project() << t->item_id << u->item_id;
  pairs.Set(t->num == u->num);
  size_t read = 0;
  while (pairs.Fetch())
    if (++read == 1) addItem("", 0);  // pairs with every item of its number, on either side
  EXPECT_EQ(read, 8u);
}

QUERY_TEST_SUITE(Cursor);

}  // namespace
