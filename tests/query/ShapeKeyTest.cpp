// A statement's shape key and its SQL text must agree: statements with one key have one text
// (else a session would run the text prepared for another statement), and statements with
// different texts have different keys. Checked here in every build, on statements of every
// kind, each made several times with other values and other table objects.
#include <functional>
#include <map>
#include <set>

#include "ASKeyTag.h"
#include "ASShapeCheck.h"
#include "QueryFixture.h"

namespace {

using ShapeKey = QueryTest;

// Every statement kind and every part of a statement a key takes: each builder runs one
// statement on `s` with the values of round `r`.
// Row locks only where the dialect has them: SQLite's statements have none, and its keys
// still tell them apart, which costs a shape for each and nothing else.
std::vector<std::function<void(ASSession*, int)>> everyKind(bool rowLocks) {
  using Run = std::function<void(ASSession*, int)>;
  auto select = [](std::function<void(ASCursor&, item&, tag&)> build) -> Run {
    return [build](ASSession* s, int) {
      item t;
      tag g;
      ASCursor c(s);
      build(c, t, g);
      while (c.Fetch()) {
      }
    };
  };
  std::vector<Run> kinds = {
      select([](ASCursor& c, item& t, tag&) { c.Project() << t->name; }),
      select([](ASCursor& c, item& t, tag&) { c.Project().Distinct() << t->name; }),
      select([](ASCursor& c, item& t, tag&) { c.Project() << t->name << t->num; }),
      select([](ASCursor& c, item& t, tag&) { c.Project() << t->num << t->name; }),
      select([](ASCursor& c, item& t, tag&) { c.Project() << t->name; c.Set(t->num == 1); }),
      select([](ASCursor& c, item& t, tag&) { c.Project() << t->name; c.Set(t->num != 1); }),
      select([](ASCursor& c, item& t, tag&) { c.Project() << t->name; c.Set(t->num < 1); }),
      select([](ASCursor& c, item& t, tag&) { c.Project() << t->name; c.Set(t->num > 1); }),
      select([](ASCursor& c, item& t, tag&) { c.Project() << t->name; c.Set(t->num <= 1); }),
      select([](ASCursor& c, item& t, tag&) { c.Project() << t->name; c.Set(t->num >= 1); }),
      select([](ASCursor& c, item& t, tag&) { c.Project() << t->name; c.Set(t->big == 1); }),
      select([](ASCursor& c, item& t, tag&) { c.Project() << t->name; c.Set(t->num == t->big); }),
      select([](ASCursor& c, item& t, tag&) { c.Project() << t->name; c.Set(t->name.IsNull()); }),
      select([](ASCursor& c, item& t, tag&) {
        c.Project() << t->name;
        c.Set(t->num == 1 && t->big == 2);
      }),
      select([](ASCursor& c, item& t, tag&) {
        c.Project() << t->name;
        c.Set(t->num == 1 || t->big == 2);
      }),
      select([](ASCursor& c, item& t, tag&) { c.Project() << t->name; c.Set(!(t->num == 1)); }),
      select([](ASCursor& c, item& t, tag& g) {
        ASFilter sub;
        sub.Project() << g->item_id;
        sub.Set(g->label == "red");
        c.Project() << t->name;
        c.Set(t->item_id.In(sub.Select()));
      }),
      select([](ASCursor& c, item& t, tag& g) {
        ASFilter sub;
        sub.Project() << g->item_id;
        sub.Set(g->label == "red");
        c.Project() << t->name;
        c.Set(t->item_id.NotIn(sub.Select()));
      }),
      select([](ASCursor& c, item& t, tag& g) {
        ASFilter sub;
        sub.Project() << g->item_id;
        sub.Set(g->label != "red");
        c.Project() << t->name;
        c.Set(t->item_id.In(sub.Select()));
      }),
      select([](ASCursor& c, item& t, tag& g) {
        ASFilter sub;
        sub.Project() << g->item_id;
        sub.Set(g->item_id == t->item_id).UseIndex(g, "qt_tag_item").Limit(1);
        c.Project() << t->name;
        c.Set(sub.Exists({&t}));
      }),
      select([](ASCursor& c, item& t, tag& g) {
        ASFilter sub;
        sub.Project() << g->item_id;
        sub.Set(g->item_id == t->item_id).Limit(1);
        c.Project() << t->name;
        c.Set(sub.Exists({&t}));
      }),
      select([](ASCursor& c, item& t, tag& g) {
        c.Project() << t->name << g->label;
        c.Set(g->item_id == t->item_id);
      }),
      select([](ASCursor& c, item& t, tag& g) {
        g->item_id.SetKey(AS_KEY_LEFT_JOIN);
        c.Project() << t->name << g->label;
        c.Set(g->item_id == t->item_id);
      }),
      select([](ASCursor& c, item& t, tag& g) {
        g->item_id.SetKey(AS_KEY_LEFT_JOIN);
        c.Project() << t->name << g->label;
        c.Set(ASComparison((g->item_id == t->item_id).Query(), &t.domain(), &g.domain()));
      }),
      select([](ASCursor& c, item& t, tag& g) {
        c.Project() << t->name << g->label;
        c.Set(g->item_id == t->item_id).JoinOrder({&t, &g});
      }),
      select([](ASCursor& c, item& t, tag& g) {
        c.Project() << t->name << g->label;
        c.Set(g->item_id == t->item_id).JoinOrder({&g, &t});
      }),
      select([](ASCursor& c, item& t, tag&) { c.Project() << t->name; c.Order(t->num); }),
      select([](ASCursor& c, item& t, tag&) { c.Project() << t->name; c.Order(-t->num); }),
      select([](ASCursor& c, item& t, tag&) {
        c.Project() << t->name;
        c.Order(t->num).Order(t->name);
      }),
      select([](ASCursor& c, item& t, tag&) { c.Project() << t->name; c.Limit(2); }),
      select([](ASCursor& c, item& t, tag&) { c.Project() << t->name; c.Limit(2, 1); }),
      select([](ASCursor& c, item& t, tag&) { c.Project() << t->name; c.Limit(1); }),
      select([](ASCursor& c, item& t, tag&) {
        c.Project() << t->name;
        c.Set(t->num >= 0).UseIndex(t, "qt_item_name");
      }),
      select([](ASCursor& c, item& t, tag&) {
        c.Project() << t->name;
        c.Set(t->num >= 0).UseIndex(t, ASPrimaryKey);
      }),
      [](ASSession* s, int r) {
        item t;
        t.name = "n" + std::to_string(r);
        t.num = r;
        s->Insert(t);
      },
      [](ASSession* s, int r) {
        item t;
        t.name = "m" + std::to_string(r);
        t.RemoveColumn(t->num);
        s->Insert(t);
      },
      [](ASSession* s, int r) {
        item t;
        (ASUpdater(t) << t->num.Set(r)).Where(t->name == "x").Execute(s);
      },
      [](ASSession* s, int r) {
        item t;
        (ASUpdater(t) << t->num.Set(r) << t->big.Set(r)).Execute(s);
      },
      [](ASSession* s, int) {
        item t;
        (ASUpdater(t) << t->big.Set(t->num)).Execute(s);
      },
      [](ASSession* s, int) {
        item t;
        tag g;
        ASFilter sub;
        sub.Project() << g->item_id;
        (ASUpdater(t) << t->num.Set(sub.Select())).Where(t->item_id == 0).Execute(s);
      },
      [](ASSession* s, int r) {
        item t;
        ASDeleter(t).Where(t->num == r + 1000).Execute(s);
      },
      [](ASSession* s, int) {
        tag g;
        ASDeleter(g).Execute(s);
      },
  };
  if (rowLocks) {
    kinds.push_back(select([](ASCursor& c, item& t, tag&) { c.Project() << t->name; c.ForUpdate(); }));
    kinds.push_back(select([](ASCursor& c, item& t, tag&) { c.Project() << t->name; c.ForShare(); }));
    kinds.push_back(select([](ASCursor& c, item& t, tag&) {
      c.Project() << t->name;
      c.ForUpdateSkipLocked();
    }));
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

// DISTINCT and plain selects of one shape are two statements.
TEST_P(ShapeKey, DistinctIsAShapeOfItsOwn) {
  ASDetail::CheckShapes(*s, true);
  for (bool distinct : {false, true, false, true}) {
    item t;
    ASCursor c(s);
    if (distinct) c.Project().Distinct();
    c.Project() << t->num;
    c.Set(t->num >= 0);
    rows(c);
  }
  const auto texts = ASDetail::ShapeTexts(*s);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_NE(texts[0].key, texts[1].key);
  EXPECT_NE(texts[0].sql, texts[1].sql);
}

// Objects of one table class whose columns differ by object have one key and two texts:
// what the check is there to find.
struct shifty_domain : ASDomain {
  explicit shifty_domain(const char* column) : ASDomain("qt_item"), name{this, column, AS_VSTR} {}
  ASAttribute name;
};
TEST_P(ShapeKey, TheCheckFindsOneKeyWithTwoTexts) {
  ASDetail::CheckShapes(*s, true);
  auto run = [&](const char* column) {
    shifty_domain d(column);
    ASCursor c(s);
    c.Project() << d.name;
    while (c.Fetch()) {
    }
  };
  run("name");
  EXPECT_THROW(run("num"), AException);
}

QUERY_TEST_SUITE(ShapeKey);

TEST(KeyTags, OneLetterAndOneTextEach) {
  std::set<char> letters;
  std::set<std::string> names;
  for (const ASKeyTagInfo& t : kASKeyTags) {
    EXPECT_TRUE(letters.insert(static_cast<char>(t.tag)).second) << t.name;
    EXPECT_TRUE(names.insert(t.name).second) << t.name;
  }
  EXPECT_STREQ(ASKeySql(ASKeyTag::NotEqual), " <> ");
  EXPECT_STREQ(ASKeySql(ASKeyTag::SelectDistinct), "SELECT DISTINCT ");
  EXPECT_STREQ(ASKeySql(ASKeyTag::Delete), "DELETE FROM ");
}

}  // namespace
