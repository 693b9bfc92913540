#include <algorithm>
#include <set>

#include "QueryFixture.h"

namespace {

using Select = QueryTest;

std::vector<std::string> names(ASCursor& c, const ASVStr& v) {
  std::vector<std::string> out;
  while (c.Fetch()) out.push_back(v.Bytes());
  return out;
}

TEST_P(Select, ComparisonsAndCompoundConditions) {
  for (int i = 1; i <= 6; ++i) addItem("n" + std::to_string(i), i % 3, 100 * i);
  item t;
  auto run = [&](const ASComparison& where) {
    ASCursor c(s);
    c.Project() << t->name;
    c.Set(where);
    c.Order(t->item_id);
    return names(c, t.name);
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(run(t->num == 0), (V{"n3", "n6"}));
  EXPECT_EQ(run(t->num != 0 && t->time > 200), (V{"n4", "n5"}));
  EXPECT_EQ(run(t->time < 200 || t->time >= 600), (V{"n1", "n6"}));
  EXPECT_EQ(run(t->time <= 200), (V{"n1", "n2"}));
  EXPECT_EQ(run(!(t->num == 1) && !(t->num == 2)), (V{"n3", "n6"}));
  EXPECT_EQ(run((t->num == 1 || t->num == 2) && t->name != "n1"), (V{"n2", "n4", "n5"}));
  // The empty condition is neutral everywhere.
  ASComparison none(Str(), nullptr, nullptr);
  EXPECT_TRUE(none.IsEmpty());
  EXPECT_TRUE((!none).IsEmpty());
  EXPECT_EQ(run(none && t->num == 0), (V{"n3", "n6"}));
  EXPECT_EQ(run(t->num == 0 || none), (V{"n3", "n6"}));
  EXPECT_EQ(run(!none).size(), 6u);
  // A column compared with a column of the same row.
  EXPECT_EQ(run(t->item_id == t->num), (V{"n1", "n2"}));
}

TEST_P(Select, UpdatesAndDeletesWithCompoundConditions) {
  for (int i = 1; i <= 6; ++i) addItem("n" + std::to_string(i), i % 3, 100 * i);
  item u;
  EXPECT_THROW(ASUpdater(u).Where(u->num == 1).Execute(s), AException);  // sets nothing
  ASUpdater up(u);
  up << u->name.Set(Str("hit")) << u->time.Set(ASExpression(u->num));
  up.Where((u->num == 1 || u->num == 2) && u->time > 100);
  EXPECT_EQ(up.Execute(s), 3);

  item t;
  ASCursor c(s);
  c.Project() << t->name << t->time;
  c.Order(t->item_id);
  std::vector<std::string> got;
  while (c.Fetch()) got.push_back(t.name.Bytes() + "/" + t.time.Str().str());
  EXPECT_EQ(got, (std::vector<std::string>{"n1/100", "hit/2", "n3/300", "hit/1", "hit/2",
                                           "n6/600"}));

  item d;
  EXPECT_EQ(ASDeleter(d).Where(!(d->name == "hit") && (d->time >= 600 || d->num == 1)).Execute(s),
            2);
  EXPECT_EQ(count(d->item_id), 4);
  EXPECT_EQ(count(d->item_id, d->name == "n1" || d->name == "n6"), 0);
  EXPECT_EQ(ASDeleter(d).Execute(s), 4);
}

TEST_P(Select, SubSelectsAndIn) {
  long long a = addItem("a"), b = addItem("b");
  addItem("c");
  tag g;
  g.item_id = static_cast<int>(a);
  g.label = "red";
  s->Insert(g);
  g.item_id = static_cast<int>(b);
  g.label = "blue";
  s->Insert(g);

  item t;
  tag sub;
  ASFilter f;
  f.Project() << sub->item_id;
  f.Set(sub->label == "red" || sub->label == "blue");
  {
    ASCursor c(s);
    c.Project() << t->name;
    c.Set(t->item_id.In(f.Select()));
    c.Order(t->name);
    EXPECT_EQ(names(c, t.name), (std::vector<std::string>{"a", "b"}));
  }
  {
    // The text form, as a caller keeps it, and a value bound inside it.
    Str q = f.Query();
    EXPECT_NE(q.str().find("SELECT"), std::string::npos);
    EXPECT_EQ(q.str().find("red"), std::string::npos);
    ASCursor c(s);
    c.Project() << t->name;
    c.Set(t->item_id.NotIn(ASAttribute(q)) && t->name != "zzz");
    EXPECT_EQ(names(c, t.name), (std::vector<std::string>{"c"}));
  }
}

TEST_P(Select, DistinctLimitOffsetAndOrder) {
  for (int i = 0; i < 10; ++i) addItem("n" + std::to_string(i % 4), i % 4, i);
  item t;
  {
    ASCursor c(s);
    c.Project().Distinct() << t->name << t->num;
    c.Order(-t->num);
    EXPECT_EQ(names(c, t.name), (std::vector<std::string>{"n3", "n2", "n1", "n0"}));
  }
  {
    ASCursor c(s);
    c.Project() << t->time;
    c.Order(-t->time).Limit(3, 2);
    std::vector<int> got;
    while (c.Fetch()) got.push_back(static_cast<int>(t.time.Int()));
    EXPECT_EQ(got, (std::vector<int>{7, 6, 5}));
  }
  {
    ASCursor c(s);
    c.Project() << t->time;
    c.Order(t->num).Order(-t->time).Limit(4, 0);
    std::vector<int> got;
    while (c.Fetch()) got.push_back(static_cast<int>(t.time.Int()));
    EXPECT_EQ(got, (std::vector<int>{8, 4, 0, 9}));
  }
  {
    ASCursor c(s);
    c.Project() << t->time;
    c.Limit(0);
    EXPECT_FALSE(c.Fetch());
  }
  {
    // A single statement that finds nothing.
    ASCursor c(s);
    c.Project() << t->time;
    c.Set(t->name == "none");
    c.Limit(1);
    EXPECT_FALSE(c.Fetch());
    EXPECT_FALSE(c.Fetch());
  }
}

TEST_P(Select, TwoObjectsOfOneTableAreIndependentAliases) {
  long long a = addItem("a", 1);
  addItem("b", 2);
  long long c2 = addItem("c", 1);
  item x, y;
  ASCursor c(s);
  c.Project() << x->item_id << y->item_id;
  c.Set(x->num == y->num && x->item_id < y->item_id);
  ASSERT_TRUE(c.Fetch());
  EXPECT_EQ(x.item_id.Int().Value(), a);
  EXPECT_EQ(y.item_id.Int().Value(), c2);
  EXPECT_FALSE(c.Fetch());
}

// The newest step of every group, as restart recovery reads the newest progress row of an
// operation: latest LEFT JOIN later ON (same group, later is newer) WHERE later IS NULL.
TEST_P(Select, LeftJoinGivesOneRowPerGroup) {
  long long g1 = addItem("g1"), g2 = addItem("g2"), g3 = addItem("g3");
  step st;
  auto addStep = [&](long long g, const char* note) {
    st.group_id = static_cast<int>(g);
    st.note = note;
    s->Insert(st);
  };
  addStep(g1, "first");
  addStep(g2, "only");
  addStep(g1, "second");
  addStep(g1, "third");
  (void)g3;  // a group without steps yields no row

  item it;
  step latest, later;
  later->group_id.SetKey(AS_KEY_LEFT_JOIN);
  ASComparison newer(ASComparison(latest->step_id < later->step_id).Query(), &latest, &later);
  ASCursor c(s);
  c.Project() << it->name << latest->note;
  c.Set(latest->group_id == later->group_id && newer && later->step_id.IsNull() &&
        latest->group_id == it->item_id);
  c.Order(it->name);
  std::vector<std::string> got;
  while (c.Fetch()) got.push_back(it.name.Bytes() + ":" + latest.note.Bytes());
  EXPECT_EQ(got, (std::vector<std::string>{"g1:third", "g2:only"}));
}

TEST_P(Select, LeftJoinedRowsMayBeMissing) {
  long long a = addItem("a");
  addItem("b");
  tag g;
  g.item_id = static_cast<int>(a);
  g.label = "x";
  s->Insert(g);
  item t;
  tag m;
  m->item_id.SetKey(AS_KEY_LEFT_JOIN);
  ASCursor c(s);
  c.Project() << t->name << m->label;
  c.Set(m->item_id == t->item_id);
  c.Order(t->name);
  ASSERT_TRUE(c.Fetch());
  EXPECT_EQ(m.label.Bytes(), "x");
  ASSERT_TRUE(c.Fetch());
  EXPECT_EQ(t.name.Bytes(), "b");
  EXPECT_TRUE(m.label.IsNull());
  EXPECT_FALSE(c.Fetch());
}

INSTANTIATE_TEST_SUITE_P(Db, Select, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());

}  // namespace
