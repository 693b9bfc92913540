// A statement's shape key and its SQL text agree: one key has one text (else a session runs the
// text prepared for another statement), and different texts have different keys.
#include <functional>
#include <map>

#include "ASShapeCheck.h"
#include "QueryFixture.h"

namespace {

using ShapeKey = QueryTest;
using Run = std::function<void(ASSession*, int)>;

// A select of the items' names, built further by `build`.
Run select(std::function<void(ASCursor&, item&, tag&)> build) {
  return [build](ASSession* s, int) {
    item t;
    tag g;
    ASCursor c(s);
    c.Project() << t->name;
    build(c, t, g);
    rows(c);
  };
}
Run where(std::function<ASComparison(item&, tag&)> condition) {
  return select([condition](auto& c, auto& t, auto& g) { c.Set(condition(t, g)); });
}

// The labels of the tags joined (LEFT JOINed where `left`) to their items, built further.
Run join(bool left, std::function<void(ASCursor&, item&, tag&)> build = nullptr) {
  return select([=](auto& c, auto& t, auto& g) {
    if (left) g->item_id.SetKey(AS_KEY_LEFT_JOIN);
    c.Project() << g->label;
    c.Set(g->item_id == t->item_id);
    if (build) build(c, t, g);
  });
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
    rows(c);
  };
}

// A column of `table`, through a class whose objects name the table as they are told.
Run named(const char* table) {
  return [table](ASSession* s, int) {
    struct named_domain : ASDomain {
      explicit named_domain(const char* table) : ASDomain(table) {}
      ASAttribute column{this, "item_id", AS_VSTR};
    } d(table);
    ASCursor c(s);
    c.Project() << d.column;
    while (c.Fetch()) {  // into no members: the class binds none
    }
  };
}

// The ids of the tags where `c` holds.
ASFilter ids(tag& g, const ASComparison& c) {
  ASFilter f;
  f.Project() << g->item_id;
  f.Set(c);
  return f;
}

// Every statement kind and part a key takes, each differing from another in one part, run on
// `s` with the values of round `r`; row locks only where the dialect has them.
std::vector<Run> everyKind(bool rowLocks) {
  std::vector<Run> kinds = {
      select([](auto&, auto&, auto&) {}),
      select([](auto& c, auto&, auto&) { c.Project().Distinct(); }),
      select([](auto& c, auto& t, auto&) { c.Project() << t->num; }),
      select([](auto& c, auto& t, auto&) { c.Project() << t->big; }),
      where([](auto& t, auto&) { return t->num == 1; }),
      where([](auto& t, auto&) { return t->num != 1; }),
      where([](auto& t, auto&) { return t->big == 1; }),
      where([](auto& t, auto&) { return t->num == t->big; }),
      [](ASSession* s, int) {  // the same columns of another object of the table
        item t, u;
        ASCursor c(s);
        c.Project() << t->name;
        c.Set(t->num == u->big);
        rows(c);
      },
      where([](auto& t, auto&) { return t->name.IsNull(); }),
      where([](auto& t, auto&) { return t->num == 1 && t->big == 2; }),
      where([](auto& t, auto&) { return t->num == 1 || t->big == 2; }),
      where([](auto& t, auto&) { return !(t->num == 1); }),
      where([](auto& t, auto& g) { return t->item_id.In(ids(g, g->label == "red").Select()); }),
      where([](auto& t, auto& g) { return t->item_id.NotIn(ids(g, g->label == "red").Select()); }),
      where([](auto& t, auto& g) { return t->item_id.In(ids(g, g->label != "red").Select()); }),
      where([](auto& t, auto& g) {
        return ids(g, g->item_id == t->item_id).UseIndex(g, "qt_tag_item").Limit(1).Exists({&t});
      }),
      where([](auto& t, auto& g) {
        return ids(g, g->item_id == t->item_id).Limit(1).Exists({&t});
      }),
      where([](auto& t, auto& g) { return ids(g, g->item_id == t->item_id).Exists({&t}); }),
      join(false),
      join(true),
      join(true,
           [](auto& c, auto& t, auto& g) {
             c.Set(ASComparison((g->item_id == t->item_id).Query(), &t.domain(), &g.domain()));
           }),
      join(false,
           [](auto& c, auto& t, auto& g) {
             c.JoinOrder({&t, &g});
           }),
      join(false,
           [](auto& c, auto& t, auto& g) {
             c.JoinOrder({&g, &t});
           }),
      select([](auto& c, auto& t, auto&) { c.Order(t->num); }),
      select([](auto& c, auto& t, auto&) { c.Order(-t->num); }),
      select([](auto& c, auto& t, auto&) { c.Order(t->num).Order(t->name); }),
      select([](auto& c, auto&, auto&) { c.Limit(2); }),
      select([](auto& c, auto&, auto&) { c.Limit(2, 1); }),
      select([](auto& c, auto&, auto&) { c.Limit(1); }),
      labels(0),
      labels(2),
      named("qt_item"),  // one table class under two names, as an archive beside its table
      named("qt_tag"),
      select([](auto& c, auto& t, auto&) { c.Set(t->num >= 0).UseIndex(t, "qt_item_name"); }),
      select([](auto& c, auto& t, auto&) { c.Set(t->num >= 0).UseIndex(t, ASPrimaryKey); }),
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
        (ASUpdater(t) << t->num.Set(ids(g, {}).Select())).Where(t->item_id == 0).Execute(s);
        ASDeleter(t).Where(t->num == r + 1000).Execute(s);
        ASDeleter(g).Execute(s);
      },
  };
  if (rowLocks) {
    kinds.push_back(select([](auto& c, auto&, auto&) { c.ForUpdate(); }));
    kinds.push_back(select([](auto& c, auto&, auto&) { c.ForShare(); }));
    kinds.push_back(select([](auto& c, auto&, auto&) { c.ForUpdateSkipLocked(); }));
  }
  return kinds;
}

// Every kind three times (other values and table objects), once in reverse: with the check on,
// no statement finds another shape's text, and no two shapes have one text.
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
  for (const ASDetail::ShapeText& t : ASDetail::ShapeTexts(*s))
    EXPECT_TRUE(keyOfSql.emplace(t.sql, t.key).second) << "two shapes with one text: " << t.sql;
  // Making the statements again made no shape (and no statement was left out).
  EXPECT_EQ(keyOfSql.size(), firstRound);
  EXPECT_GT(firstRound, kinds.size() / 2);
}

// A sub-select's limit is written into its statement as a constant, so only the key tells
// statements with other limits apart: one prepared for another limit would answer wrongly.
TEST_P(ShapeKey, ASubSelectsLimitIsPartOfItsShape) {
  const int one = addItem("one"), two = addItem("two");
  addItem("none");
  addTag(s, one, "red");
  addTag(s, two, "red");
  addTag(s, two, "blue");
  item t;
  tag g;
  auto withTags = [&](unsigned long long count, unsigned long long offset) {
    ASCursor c(s);
    c.Project() << t->name;
    c.Set(ids(g, g->item_id == t->item_id).Limit(count, offset).Exists({&t}));
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
