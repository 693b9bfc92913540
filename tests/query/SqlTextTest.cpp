// The statements the library builds, as SQL text, with and without a database.
#include <functional>

#include "QueryFixture.h"

namespace {

TEST(SqlText, SelectsAndConditions) {
  item_domain t, u;
  tag_domain g, m, n;
  m.item_id.SetKey(AS_KEY_LEFT_JOIN);
  n.item_id.SetKey(AS_KEY_LEFT_JOIN);
  ASFilter sub;
  sub.Project() << g.item_id;
  sub.Set(g.label == "red");
  const ASComparison none;

  struct Case {
    std::function<void(ASFilter&)> build;
    const char* sql;
  } cases[] = {
      // The empty condition is neutral; top-level conjuncts stand without parentheses.
      {[&](ASFilter& f) {
         f.Project().Distinct() << t.num << t.name;
         f.Set(((none && t.num == 1) || none) && !(t.time > 2) &&
               (t.name != "x" || t.num <= 2 || t.num >= 3) && !none && t.big < 4);
         f.Order(-t.time).Order(t.name).Limit(5, 10);
       },
       "SELECT DISTINCT t1.num, t1.name FROM qt_item t1 WHERE t1.num = ? AND NOT (t1.time > ?) "
       "AND ((t1.name <> ? OR t1.num <= ?) OR t1.num >= ?) AND t1.big < ? "
       "ORDER BY t1.time DESC, t1.name LIMIT ? OFFSET ?"},
      // Every table object is an alias of its own, numbered by first appearance.
      {[&](ASFilter& f) {
         f.Project() << u.item_id << t.item_id;
         f.Set(t.num == u.num && u.name.IsNull() && t.item_id == t.num).Order(t.big).Limit(3);
       },
       "SELECT t1.item_id, t2.item_id FROM qt_item t1 JOIN qt_item t2 "
       "WHERE t2.num = t1.num AND t1.name IS NULL AND t2.item_id = t2.num ORDER BY t2.big LIMIT ?"},
      {[&](ASFilter& f) {
         f.Project() << t.name;
         f.Set(t.item_id.In(sub.Select()) && t.item_id.NotIn(ASAttribute(sub.Query())) &&
               t.num == sub.Select());
       },
       "SELECT t1.name FROM qt_item t1 WHERE "
       "t1.item_id IN (SELECT t2.item_id FROM qt_tag t2 WHERE t2.label = ?) AND "
       "t1.item_id NOT IN (SELECT t2.item_id FROM qt_tag t2 WHERE t2.label = ?) AND "
       "t1.num = (SELECT t2.item_id FROM qt_tag t2 WHERE t2.label = ?)"},
      // Equalities of the join key of a LEFT JOINed table with another table's column,
      // either way round, make its ON; one with a value filters the joined rows.
      {[&](ASFilter& f) {
         f.Project() << t.name << m.label;
         f.Set(m.item_id == t.item_id && m.label == "x" && t.item_id == m.item_id &&
               m.item_id >= t.num && m.item_id == 7);
       },
       "SELECT t1.name, t2.label FROM qt_item t1 LEFT JOIN qt_tag t2 "
       "ON t2.item_id = t1.item_id AND t1.item_id = t2.item_id "
       "WHERE t2.label = ? AND t2.item_id >= t1.num AND t2.item_id = ?"},
      // A table named in a condition only, on either side of a connective.
      {[&](ASFilter& f) {
         f.Project() << t.name;
         f.Set((g.label == "x" || g.label == "y") && t.num == 1);
       },
       "SELECT t1.name FROM qt_item t1 JOIN qt_tag t2 WHERE (t2.label = ? OR t2.label = ?) AND "
       "t1.num = ?"},
      {[&](ASFilter& f) {  // or in the order only
         f.Project() << t.name;
         f.Order(g.label);
       },
       "SELECT t1.name FROM qt_item t1 JOIN qt_tag t2 ORDER BY t2.label"},
      {[&](ASFilter& f) {  // each LEFT JOINed table with its own
         f.Project() << t.name << m.label << n.label;
         f.Set(n.item_id == t.item_id && m.item_id == t.num);
       },
       "SELECT t1.name, t2.label, t3.label FROM qt_item t1 LEFT JOIN qt_tag t2 ON t2.item_id = "
       "t1.num LEFT JOIN qt_tag t3 ON t3.item_id = t1.item_id"},
      {[&](ASFilter& f) { f.Project() << t.name << m.label; },
       "SELECT t1.name, t2.label FROM qt_item t1 LEFT JOIN qt_tag t2 ON 1 = 1"},
  };
  for (const Case& c : cases) {
    ASFilter f;
    c.build(f);
    EXPECT_EQ(f.Query().str(), c.sql);
  }
  EXPECT_EQ((t.num == 1 || !(t.name == "a")).Query().str(), "(t1.num = ? OR NOT (t1.name = ?))");
  EXPECT_EQ(none.Query().str(), "");

  // Statements that cannot be built are refused when they are made.
  const std::function<void()> refused[] = {
      [&] { ASFilter f; f.Project() << m.label; f.Query(); },      // LEFT JOINed only
      [&] { sub.Select() == 1; },                                  // a sub-select compared
      [&] { t.item_id.In(t.num); },                                // In() of a column
      [&] { ASFilter().Order(sub.Select()); },
      [&] { ASIndexes(t).Add("x", {&u.num}); },                    // another table's column
      [&] { coded_domain().SetPrimaryKey({&t.num}); },
      [&] { ASComparison(Str("\x01" "1 = 1"), &t, &u).Query(); },  // a broken alias mark
      [&] { (ASUpdater(t) << t.num.Set(1)).Execute(nullptr); },    // no session
  };
  for (const auto& f : refused) EXPECT_THROW(f(), AException);
  EXPECT_THAT(caught([] { ASFilter().Query(); }).what(),
              HasSubstr("at least one projected column"));
}

using Dialect = QueryTest;

// What a session sends in each dialect: hints (also on a LEFT JOINed table), join order, row
// keys, row locks, bare UPDATE and DELETE.
TEST_P(Dialect, StatementsAsSent) {
  const bool lite = GetParam() == "sqlite";
  tag g;
  for (int i = 0; i < 3; ++i)
    addTag(s, static_cast<int>(addItem("i" + std::to_string(i), i, i)), "l");
  std::vector<ASPlan> plans;
  s->RecordPlans(&plans);
  item t;
  {
    ASCursor c(s);
    c.PageRows(10).Project() << g->label << t->name;  // a limit that fits a page: one statement
    c.Set(g->item_id == t->item_id).Order(-t->time).Limit(10);
    c.UseIndex(t, "qt_item_time").UseIndex(g, "qt_tag_item").JoinOrder({&t, &g});
    EXPECT_EQ(rows(c), (Rows{"l|i2", "l|i1", "l|i0"}));
  }
  {
    tag m;
    m->item_id.SetKey(AS_KEY_LEFT_JOIN);
    ASCursor c(s);
    c.Project() << t->name << m->label;
    c.Set(m->item_id == t->item_id).Order(t->num).Limit(5).UseIndex(m, "qt_tag_item");
    EXPECT_EQ(rows(c).size(), 3u);
  }
  {
    ASCursor c(s);
    c.Project() << t->name;
    c.Set(t->item_id == 2);
    EXPECT_EQ(rows(c), Rows{"i1"});
  }
  // Each kind of row lock is a statement of its own, run where the database has it (on SQLite
  // a write transaction holds the whole file already).
  for (auto lock : {&ASFilter::ForUpdate, &ASFilter::ForShare, &ASFilter::ForUpdateSkipLocked}) {
    ASTransaction tr(s);
    ASCursor c(s);
    c.Project() << t->name;
    (c.Set(t->item_id == 2).*lock)();
    EXPECT_EQ(rows(c), Rows{"i1"});
    tr.Commit();
  }
  ASFilter sub;
  sub.Project() << g->item_id;
  sub.Set(g->label == "x");
  ASUpdater up(t);
  up << t->name.Set("n") << t->time.Set(t->num) << t->num.Set(sub.Select());
  EXPECT_EQ(up.Where(t->item_id.In(sub.Select()) || t->num > 1).Execute(s), 1);
  EXPECT_EQ(ASDeleter(t).Where(!(t->name == "n")).Execute(s), 2);
  s->RecordPlans(nullptr);

  const std::string hint = lite ? " INDEXED BY " : " FORCE INDEX (";
  const std::string end = lite ? "" : ")";
  const std::string sub1 = "(SELECT t1.item_id FROM qt_tag t1 WHERE t1.label = ?)";
  Rows expected = {
      "SELECT t1.label, t2.name FROM qt_item t2" + hint + "qt_item_time" + end +
          (lite ? " CROSS JOIN " : " STRAIGHT_JOIN ") + "qt_tag t1" + hint + "qt_tag_item" + end +
          " WHERE t1.item_id = t2.item_id ORDER BY t2.time DESC, t2.item_id DESC LIMIT ?",
      "SELECT t1.name, t2.label FROM qt_item t1 LEFT JOIN qt_tag t2" + hint + "qt_tag_item" + end +
          " ON t2.item_id = t1.item_id ORDER BY t1.num, t1.item_id LIMIT ?",
      "SELECT t1.name FROM qt_item t1 WHERE t1.item_id = ? LIMIT ?",
      "UPDATE qt_item SET name = ?, time = qt_item.num, num = " + sub1 +
          " WHERE (qt_item.item_id IN " + sub1 + " OR qt_item.num > ?)",
      "DELETE FROM qt_item WHERE NOT (qt_item.name = ?)",
  };
  for (const char* lock : {" FOR UPDATE SKIP LOCKED", " LOCK IN SHARE MODE", " FOR UPDATE"})
    expected.insert(expected.begin() + 3, expected[2] + (lite ? "" : lock));
  Rows sent, steps;
  for (const ASPlan& p : plans) {
    sent.push_back(p.sql);
    steps.emplace_back();
    for (const ASPlanStep& st : p.steps)
      steps.back() += st.table + ":" + st.index + (st.fullScan ? ":scan" : "") +
                      (st.sorts ? ":sorts" : "") + " ";
  }
  ASSERT_EQ(sent, expected);
  // Plans name the alias, the index read (the primary key by its own name), the walk of a
  // whole table and the sorting, and keep the database's own words.
  EXPECT_THAT(steps[0], HasSubstr("t1:qt_tag_item"));
  EXPECT_THAT(steps[1], ::testing::ContainsRegex("^t1:[a-z_]*:scan.*:sorts"));
  EXPECT_EQ(steps[2], "t1:" + std::string(ASPrimaryKey) + " ");
  const std::string detail = plans[2].steps[0].detail;
  const char* start = lite ? "SEARCH t1 USING INTEGER PRIMARY KEY" : "1 SIMPLE t1 const PRIMARY";
  EXPECT_EQ(detail.find(start), 0u) << detail;
}

QUERY_TEST_SUITE(Dialect);

}  // namespace
