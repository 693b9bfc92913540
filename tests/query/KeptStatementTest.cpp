// Kept statements: made once, run again and again with the values their bound members hold
// at each run, their shape looked up on a session's first run only.
#include "ASShapeCheck.h"
#include "QueryFixture.h"

namespace {

using KeptStatement = QueryTest;

// A select and an update of one row by its key, kept and bound to the row's own members, as
// the log's writers keep theirs.
struct Kept {
  item row;
  ASCursor select;
  ASUpdater update{row};
  Kept() {
    select.Project() << row->name << row->num;
    // A plain value beside the bound ones: it stays where the first run found it.
    select.Set(row->item_id == ASBound(row.item_id) && row->time == 5).Limit(1);
    update << row->num.Set(ASBound(row.num));
    update.Where(row->item_id == ASBound(row.item_id)).Keep();
  }
  std::string read(ASSession* s, long long id) {
    row.item_id = static_cast<int>(id);
    if (!select.Reopen(s).Fetch()) return "none";
    return row.name.Bytes() + "|" + std::to_string(row.num.Int());
  }
};

// Each run binds the values its members hold then, also after the session dropped its
// statements and on another session; the unchecked way is the one that skips the look-up, so
// a statement changed after a run must be looked up again there. Where shapes are checked, a
// change no call counted (columns added through a projection taken earlier) is refused.
TEST_P(KeptStatement, RunsWithTheValuesOfEachRunAndIsLookedUpAgainOnceChanged) {
  ASDetail::CheckShapes(*s, false);
  const long long a = addItem("a", 1, 5), b = addItem("b", 2, 5), c = addItem("c", 3, 6);
  Kept k;
  EXPECT_EQ(k.read(s, a), "a|1");
  EXPECT_EQ(k.read(s, b), "b|2");
  EXPECT_EQ(k.read(s, c), "none");  // the plain value still counts

  k.row.item_id = static_cast<int>(a);
  k.row.num = 10;
  EXPECT_EQ(k.update.Execute(s), 1);
  k.row.item_id = static_cast<int>(b);
  k.row.num = 20;
  EXPECT_EQ(k.update.Execute(s), 1);
  item t;
  EXPECT_EQ(valuesOf(s, t->num), (Rows{"10", "20", "3"}));

  s->Vacuum();  // drops the session's statements
  EXPECT_EQ(k.read(s, a), "a|10");
  k.row.num = 11;
  EXPECT_EQ(k.update.Execute(s), 1);

  auto other = ASDatabase::Open(url);
  ASDetail::CheckShapes(*other->Session(), false);
  EXPECT_EQ(k.read(other->Session(), a), "a|11");
  EXPECT_EQ(k.read(s, b), "b|20");

  k.select.Set(k.row->name == "b");
  EXPECT_EQ(k.read(s, a), "b|20");
  k.update.Where(k.row->name == "b");
  k.row.num = 7;
  EXPECT_EQ(k.update.Execute(s), 1);
  EXPECT_EQ(k.read(s, a), "b|7");

  ASDetail::CheckShapes(*s, true);
  ASProjection& columns = k.select.Project();
  EXPECT_EQ(k.read(s, a), "b|7");
  columns << k.row->time;
  EXPECT_THROW(k.read(s, a), AException);
}

QUERY_TEST_SUITE(KeptStatement);

}  // namespace
