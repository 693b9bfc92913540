// A statement's shape key and its SQL text must agree: statements with one key have one text
// (else a session would run the text prepared for another statement), and statements with
// different texts have different keys. Checked here in every build, on statements of every
// kind, each made several times with other values and other table objects.
#include <functional>
#include <map>

#include "ASShapeCheck.h"
#include "QueryFixture.h"

namespace {

using ShapeKey = QueryTest;
using Run = std::function<void(ASSession*, int)>;

void readAll(ASCursor& c) {
  while (c.Fetch()) {
  }
}

// A select of the items' names, built further by `build`.
Run select(std::function<void(ASCursor&, item&, tag&)> build) {
  return [build](ASSession* s, int) {
    item t;
    tag g;
    ASCursor c(s);
    c.Project() << t->name;
    build(c, t, g);
    readAll(c);
  };
}
Run where(std::function<ASComparison(item&, tag&)> condition) {
  return select([condition](ASCursor& c, item& t, tag& g) { c.Set(condition(t, g)); });
}

// The tags' labels in order, the first `limit` of them (0: all); on MariaDB the tags have no
// key to page along, so the statement reads them whole.
Run labels(unsigned long long limit) {
  return [limit](ASSession* s, int) {
    tag g;
    ASCursor c(s);
    c.Project() << g->label;
    c.Order(g->label);
    if (limit) c.Limit(limit);
    readAll(c);
  };
}

// Column `column` of table `table`, through a class whose objects name them as they are told.
Run named(const char* table, const char* column = "item_id") {
  return [table, column](ASSession* s, int) {
    struct named_domain : ASDomain {
      named_domain(const char* table, const char* column)
          : ASDomain(table), column{this, column, AS_VSTR} {}
      ASAttribute column;
    } d(table, column);
    ASCursor c(s);
    c.Project() << d.column;
    readAll(c);
  };
}

// The ids of the tags where `c` holds.
ASFilter tagIds(tag& g, const ASComparison& c) {
  ASFilter f;
  f.Project() << g->item_id;
  f.Set(c);
  return f;
}

// Every statement kind and every part of a statement a key takes, each differing from another
// in one part; a builder runs one statement on `s` with the values of round `r`. Row locks
// only where the dialect has them: SQLite's statements have none, and its keys still tell
// them apart, which costs a shape for each and nothing else.
std::vector<Run> everyKind(bool rowLocks) {
  std::vector<Run> kinds = {
      select([](ASCursor&, item&, tag&) {}),
      select([](ASCursor& c, item&, tag&) { c.Project().Distinct(); }),
      select([](ASCursor& c, item& t, tag&) { c.Project() << t->num; }),
      select([](ASCursor& c, item& t, tag&) { c.Project() << t->big; }),
      where([](item& t, tag&) { return t->num == 1; }),
      where([](item& t, tag&) { return t->num != 1; }),
      where([](item& t, tag&) { return t->big == 1; }),
      where([](item& t, tag&) { return t->num == t->big; }),
      [](ASSession* s, int) {  // the same columns of another object of the table
        item t, u;
        ASCursor c(s);
        c.Project() << t->name;
        c.Set(t->num == u->big);
        readAll(c);
      },
      where([](item& t, tag&) { return t->name.IsNull(); }),
      where([](item& t, tag&) { return t->num == 1 && t->big == 2; }),
      where([](item& t, tag&) { return t->num == 1 || t->big == 2; }),
      where([](item& t, tag&) { return !(t->num == 1); }),
      where([](item& t, tag& g) { return t->item_id.In(tagIds(g, g->label == "red").Select()); }),
      where([](item& t, tag& g) {
        return t->item_id.NotIn(tagIds(g, g->label == "red").Select());
      }),
      where([](item& t, tag& g) { return t->item_id.In(tagIds(g, g->label != "red").Select()); }),
      where([](item& t, tag& g) {
        return tagIds(g, g->item_id == t->item_id).UseIndex(g, "qt_tag_item").Limit(1).Exists({&t});
      }),
      where([](item& t, tag& g) {
        return tagIds(g, g->item_id == t->item_id).Limit(1).Exists({&t});
      }),
      where([](item& t, tag& g) { return tagIds(g, g->item_id == t->item_id).Exists({&t}); }),
      select([](ASCursor& c, item& t, tag& g) {
        c.Project() << g->label;
        c.Set(g->item_id == t->item_id);
      }),
      select([](ASCursor& c, item& t, tag& g) {
        g->item_id.SetKey(AS_KEY_LEFT_JOIN);
        c.Project() << g->label;
        c.Set(g->item_id == t->item_id);
      }),
      select([](ASCursor& c, item& t, tag& g) {
        g->item_id.SetKey(AS_KEY_LEFT_JOIN);
        c.Project() << g->label;
        c.Set(ASComparison((g->item_id == t->item_id).Query(), &t.domain(), &g.domain()));
      }),
      select([](ASCursor& c, item& t, tag& g) {
        c.Project() << g->label;
        c.Set(g->item_id == t->item_id).JoinOrder({&t, &g});
      }),
      select([](ASCursor& c, item& t, tag& g) {
        c.Project() << g->label;
        c.Set(g->item_id == t->item_id).JoinOrder({&g, &t});
      }),
      select([](ASCursor& c, item& t, tag&) { c.Order(t->num); }),
      select([](ASCursor& c, item& t, tag&) { c.Order(-t->num); }),
      select([](ASCursor& c, item& t, tag&) { c.Order(t->num).Order(t->name); }),
      select([](ASCursor& c, item&, tag&) { c.Limit(2); }),
      select([](ASCursor& c, item&, tag&) { c.Limit(2, 1); }),
      select([](ASCursor& c, item&, tag&) { c.Limit(1); }),
      labels(0),
      labels(2),
      named("qt_item"),  // one table class under two names, as an archive beside its table
      named("qt_tag"),
      select([](ASCursor& c, item& t, tag&) { c.Set(t->num >= 0).UseIndex(t, "qt_item_name"); }),
      select([](ASCursor& c, item& t, tag&) { c.Set(t->num >= 0).UseIndex(t, ASPrimaryKey); }),
      [](ASSession* s, int r) {
        item t;
        t.name = "n" + std::to_string(r);
        t.num = r;
        s->Insert(t);
        t.RemoveColumn(t->num);
        s->Insert(t);
      },
      [](ASSession* s, int r) {
        item t;
        tag g;
        (ASUpdater(t) << t->num.Set(r)).Where(t->name == "x").Execute(s);
        (ASUpdater(t) << t->big.Set(r)).Where(t->name == "x").Execute(s);
        (ASUpdater(t) << t->num.Set(r) << t->big.Set(r)).Execute(s);
        (ASUpdater(t) << t->big.Set(t->num)).Execute(s);
        (ASUpdater(t) << t->num.Set(tagIds(g, {}).Select())).Where(t->item_id == 0).Execute(s);
      },
      [](ASSession* s, int r) {
        item t;
        tag g;
        ASDeleter(t).Where(t->num == r + 1000).Execute(s);
        ASDeleter(g).Execute(s);
      },
  };
  if (rowLocks) {
    kinds.push_back(select([](ASCursor& c, item&, tag&) { c.ForUpdate(); }));
    kinds.push_back(select([](ASCursor& c, item&, tag&) { c.ForShare(); }));
    kinds.push_back(select([](ASCursor& c, item&, tag&) { c.ForUpdateSkipLocked(); }));
  }
  return kinds;
}

// Run with the check on, every kind three times (other values, other table objects: other
// serials) and in another order, no statement finds the text of another shape; and no two
// shapes have one text.
TEST_P(ShapeKey, EveryKindAgreesWithItsText) {
  addItem("a", 1, 1);
  ASDetail::CheckShapes(*s, true);
  const auto kinds = everyKind(std::string(s->Dialect()) != "sqlite");
  size_t firstRound = 0;
  for (int r = 0; r < 3; ++r) {
    for (size_t i = 0; i < kinds.size(); ++i) {
      SCOPED_TRACE("statement " + std::to_string(i) + ", round " + std::to_string(r));
      ASTransaction tran(s);
      kinds[r == 1 ? kinds.size() - 1 - i : i](s, r);
      tran.Commit();
    }
    if (r == 0) firstRound = ASDetail::ShapeTexts(*s).size();
  }
  ASDetail::CheckShapes(*s, false);

  std::map<std::string, std::string> keyOfSql;
  for (const ASDetail::ShapeText& t : ASDetail::ShapeTexts(*s)) {
    auto made = keyOfSql.emplace(t.sql, t.key);
    EXPECT_TRUE(made.second) << "two shapes with one text: " << t.sql;
  }
  // Making the statements again made no shape (and no statement was left out).
  EXPECT_EQ(keyOfSql.size(), firstRound);
  EXPECT_GT(firstRound, kinds.size() / 2);
}

// A sub-select's limit is written into its statement as a constant, so only the key tells
// statements with other limits apart: one prepared for another limit would answer wrongly.
TEST_P(ShapeKey, ASubSelectsLimitIsPartOfItsShape) {
  const long long one = addItem("one"), two = addItem("two");
  addItem("none");
  addTag(s, static_cast<int>(one), "red");
  addTag(s, static_cast<int>(two), "red");
  addTag(s, static_cast<int>(two), "blue");
  item t;
  tag g;
  auto withTags = [&](unsigned long long count, unsigned long long offset) {
    ASCursor c(s);
    c.Project() << t->name;
    c.Set(tagIds(g, g->item_id == t->item_id).Limit(count, offset).Exists({&t}));
    c.Order(t->item_id).Limit(10);  // read whole: a statement of the session's shapes
    return rows(c);
  };
  EXPECT_EQ(withTags(1, 0), (Rows{"one", "two"}));
  EXPECT_EQ(withTags(0, 0), Rows{});
  EXPECT_EQ(withTags(1, 1), Rows{"two"});
  EXPECT_EQ(withTags(1, 0), (Rows{"one", "two"}));
}

QUERY_TEST_SUITE(ShapeKey);

}  // namespace
