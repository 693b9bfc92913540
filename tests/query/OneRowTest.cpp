#include <string>

#include "QueryFixture.h"

namespace {

using OneRow = QueryTest;

// A select of one row goes straight into the value members (on MariaDB inside a transaction
// without keeping the result aside, whatever the length of its values): it reads its row
// once, nothing after it, the connection is free for the next statement at once, and a
// closed cursor reads the row again.
TEST_P(OneRow, IsReadOnceWhateverItsLengthAndLeavesTheConnectionFree) {
  const std::string longName(70000, 'n');
  for (bool inTransaction : {true, false}) {
    SCOPED_TRACE(inTransaction);
    ASTransaction tr(s);
    if (!inTransaction) tr.Commit();
    const long long id = addItem(longName, 7);
    const std::string next = inTransaction ? "next in" : "next out";
    item t;
    ASCursor c(s);
    c.Project() << t->name << t->num;
    c.Set(t->item_id == id).Limit(1);
    ASSERT_TRUE(c.Fetch());
    EXPECT_EQ(t.name.Bytes(), longName);
    EXPECT_EQ(t.num.Int(), 7);
    addItem(next);  // the connection is free
    EXPECT_FALSE(c.Fetch());
    t.name = "changed";
    c.Close();
    ASSERT_TRUE(c.Fetch());
    EXPECT_EQ(t.name.Bytes(), longName);

    ASCursor none(s);
    none.Project() << t->name;
    none.Set(t->item_id == -1).Limit(1);
    EXPECT_FALSE(none.Fetch());
    EXPECT_EQ(select(t->name, t->name == next), Rows{next});
    if (inTransaction) tr.Commit();
  }
}

QUERY_TEST_SUITE(OneRow);

}  // namespace
