#include <algorithm>
#include <tuple>

#include "QueryFixture.h"

namespace {

using Cursor = QueryTest;

// Rows with repeated and missing order values, so that paging has ties and NULLs to cross.
void fillForPaging(ASSession* s, int n) {
  ASTransaction tr(s);
  for (int i = 0; i < n; ++i) {
    item r;
    r.name = "r" + std::to_string(i % 7);
    if (i % 5 != 0) r.num = i % 4;  // every fifth row has NULL
    r.time = i / 3;
    s->Insert(r);
  }
  tr.Commit();
}

using Row = std::tuple<long long, bool, long long, std::string>;

std::vector<Row> readAll(ASSession* s, bool numDesc, unsigned long long page,
                         bool distinct = false) {
  item t;
  ASCursor c(s);
  c.PageRows(page);
  if (distinct)
    c.Project().Distinct() << t->num << t->name;
  else
    c.Project() << t->item_id << t->num << t->name;
  c.Order(numDesc ? -t->num : ASOrder(t->num)).Order(-t->name);
  std::vector<Row> out;
  while (c.Fetch())
    out.emplace_back(distinct ? 0 : t.item_id.Int().Value(), t.num.IsNull(),
                     t.num.IsNull() ? -1 : t.num.Int().Value(), t.name.Bytes());
  return out;
}

TEST_P(Cursor, PagesNeitherOverlapNorSkipRows) {
  fillForPaging(s, 103);
  for (bool desc : {false, true}) {
    SCOPED_TRACE(desc ? "descending" : "ascending");
    auto whole = readAll(s, desc, 1000);
    ASSERT_EQ(whole.size(), 103u);
    for (unsigned long long page : {1ull, 2ull, 7ull, 20ull, 102ull, 103ull}) {
      SCOPED_TRACE(page);
      EXPECT_EQ(readAll(s, desc, page), whole);
    }
    // NULLs sort first ascending, last descending, on both databases.
    EXPECT_EQ(std::get<1>(whole.front()), !desc);
    EXPECT_EQ(std::get<1>(whole.back()), desc);
    // Without an order a result longer than a page still comes whole, each row once.
    auto unordered = [&](unsigned long long page) {
      item t;
      ASCursor c(s);
      c.PageRows(page);
      c.Project() << t->item_id;
      std::vector<long long> ids;
      while (c.Fetch()) ids.push_back(t.item_id.Int().Value());
      std::sort(ids.begin(), ids.end());
      return ids;
    };
    std::vector<long long> ids;
    for (const Row& r : whole) ids.push_back(std::get<0>(r));
    std::sort(ids.begin(), ids.end());
    for (unsigned long long page : {1ull, 102ull, 103ull}) EXPECT_EQ(unordered(page), ids);
    auto distinct = readAll(s, desc, 1000, true);
    EXPECT_EQ(readAll(s, desc, 3, true), distinct);
    EXPECT_EQ(distinct.size(), 5u * 7u);
  }
}

TEST_P(Cursor, LongLimitWithOffsetAcrossPages) {
  fillForPaging(s, 50);
  auto page = [&](unsigned long long rows) {
    item t;
    ASCursor c(s);
    c.PageRows(rows);
    c.Project() << t->item_id;
    c.Order(-t->time).Limit(23, 9);
    std::vector<long long> ids;
    while (c.Fetch()) ids.push_back(t.item_id.Int().Value());
    return ids;
  };
  auto once = page(100);
  ASSERT_EQ(once.size(), 23u);
  EXPECT_EQ(page(4), once);
  EXPECT_EQ(page(1), once);
}

TEST_P(Cursor, StaysValidWhileTheSessionWrites) {
  for (int i = 0; i < 30; ++i) addItem("a" + std::to_string(i), 1, i);
  ASTransaction tr(s);
  item t;
  ASCursor outer(s);
  outer.PageRows(4);
  outer.Project() << t->item_id << t->name;
  outer.Set(t->num == 1);
  outer.Order(t->time);
  int seen = 0;
  std::vector<long long> ids;
  while (outer.Fetch()) {
    ids.push_back(t.item_id.Int().Value());
    // A second cursor, an insert and an update run between the outer cursor's rows.
    item u;
    ASCursor inner(s);
    inner.Project() << u->name;
    inner.Set(u->item_id == t.item_id.Int().Value());
    ASSERT_TRUE(inner.Fetch());
    EXPECT_EQ(u.name.Bytes(), t.name.Bytes());
    addItem("added", 2, 1000 + seen);
    item w;
    ASUpdater up(w);
    up << w->name.Set(Str("done"));
    up.Where(w->item_id == t.item_id.Int().Value());
    EXPECT_EQ(up.Execute(s), 1);
    ++seen;
  }
  EXPECT_EQ(seen, 30);
  EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
  tr.Commit();
  item q;
  EXPECT_EQ(count(q->item_id, q->name == "done"), 30);
  EXPECT_EQ(count(q->item_id, q->name == "added"), 30);
}

// Several rows of the joined table per row of the ordered one: the tie-breakers of both
// tables keep the pages apart, and rows of equal order come in the same sequence whether
// the limit fits one statement or not (the ordered table's key breaks ties first).
TEST_P(Cursor, JoinedScansPageLikeOneStatement) {
  for (int i = 0; i < 12; ++i) {
    long long id = addItem("i" + std::to_string(i), 0, i / 4);
    for (int k = 0; k < i % 3; ++k) {
      tag g;
      g.item_id = static_cast<int>(id);
      g.label = "l" + std::to_string(k);
      s->Insert(g);
    }
  }
  auto read = [&](unsigned long long page, bool left) {
    item t;
    tag g;
    if (left) g->item_id.SetKey(AS_KEY_LEFT_JOIN);
    ASCursor c(s);
    c.PageRows(page);
    c.Project() << g->label << t->name;
    c.Set(g->item_id == t->item_id);
    c.Order(-t->time).Limit(100);
    std::vector<std::string> out;
    while (c.Fetch()) out.push_back(t.name.Bytes() + "/" + (g.label.IsNull() ? "-" : g.label.Bytes()));
    return out;
  };
  for (bool left : {false, true}) {
    SCOPED_TRACE(left ? "left join" : "join");
    auto whole = read(1000, left);
    EXPECT_EQ(whole.size(), left ? 16u : 12u);
    std::vector<std::string> sorted = whole;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
    // The rows of one item among themselves come in the database's order at once.
    auto items = [](std::vector<std::string> rows) {
      for (std::string& r : rows) r.erase(r.find('/'));
      return rows;
    };
    auto paged = read(1, left);
    EXPECT_EQ(items(paged), items(whole));
    EXPECT_EQ(read(5, left), paged);
    std::sort(paged.begin(), paged.end());
    EXPECT_EQ(paged, sorted);
  }
}

TEST_P(Cursor, RowsInsertedWhileReadingStayOut) {
  for (int i = 0; i < 10; ++i) addItem("old", 1, i);
  ASTransaction tr(s);
  item t;
  ASCursor c(s);
  c.PageRows(3);
  c.Project() << t->name;
  c.Set(t->num == 1);
  c.Order(t->time);
  int n = 0;
  while (c.Fetch()) {
    EXPECT_EQ(t.name.Bytes(), "old");
    addItem("new", 1, 100 + n);  // matches the select and sorts after every old row
    ++n;
  }
  EXPECT_EQ(n, 10);
  tr.Commit();
}

TEST_P(Cursor, SeveralCursorsOpenAtOnce) {
  for (int i = 0; i < 12; ++i) addItem("n", i % 3, i);
  item a, b;
  ASCursor ca(s), cb(s);
  ca.PageRows(5);
  cb.PageRows(2);
  ca.Project() << a->time;
  ca.Order(a->time);
  cb.Project() << b->time;
  cb.Order(-b->time);
  int n = 0;
  while (ca.Fetch()) {
    ASSERT_TRUE(cb.Fetch());
    EXPECT_EQ(a.time.Int().Value() + b.time.Int().Value(), 11);
    ++n;
  }
  EXPECT_FALSE(cb.Fetch());
  EXPECT_EQ(n, 12);
  // Close() lets the cursor run again.
  ca.Close();
  ASSERT_TRUE(ca.Fetch());
  EXPECT_EQ(a.time.Int().Value(), 0);
}

INSTANTIATE_TEST_SUITE_P(Db, Cursor, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());

}  // namespace
