#include <sqlite3.h>

#include "QueryFixture.h"

namespace {

using Session = QueryTest;

// Another connection sees a transaction's work from the outermost commit on, a rolled back
// one never.
TEST_P(Session, TransactionsNestAsSavepointsAndOthersSeeWhatIsCommitted) {
  auto other = ASDatabase::Open(url);
  item t;
  const auto seen = [&] { return valuesOf(other->Session(), t->name); };
  {
    ASTransaction outer(s);
    addItem("outer");
    {
      ASTransaction inner(s);
      EXPECT_EQ(inner.Level(), 2);
      addItem("inner");
      EXPECT_THROW(outer.Commit(), AException);  // an inner one is still open
    }                                            // rolled back to its savepoint
    {
      ASTransaction inner(s);
      addItem("kept");
      inner.Commit();
      EXPECT_THAT(caught([&] { inner.Commit(); }).what(), HasSubstr("twice"));
    }
    EXPECT_EQ(valuesOf(s, t->name), (Rows{"outer", "kept"}));
    EXPECT_EQ(seen(), Rows{});
    outer.Commit();
  }
  EXPECT_EQ(seen(), (Rows{"outer", "kept"}));
  {
    ASTransaction outer(s);
    addItem("gone");
    ASTransaction inner(s);
    addItem("gone too");
    inner.Commit();
  }  // the outermost was not committed: neither stays
  EXPECT_EQ(valuesOf(s, t->name), (Rows{"outer", "kept"}));
  // A schema lock of a name keeps other sessions from taking it until it is released (on
  // SQLite the file's own locks do that work).
  {
    ASSchemaLock held(s, "qt_lock");
    const std::string e = caught([&] { ASSchemaLock(other->Session(), "qt_lock", 0); }).what();
    EXPECT_EQ(e.find("is held by another session") != std::string::npos, GetParam() != "sqlite");
  }
  EXPECT_STREQ(caught([&] { ASSchemaLock(other->Session(), "qt_lock", 0); }).what(), "none");
}

// A session gives back the memory of the pages it read and keeps its connection and its
// prepared statements.
TEST_P(Session, ReleasedCacheKeepsTheConnection) {
  {
    ASTransaction tr(s);
    for (int i = 0; i < 4000; ++i) addItem(std::string(1000, 'a' + i % 26), i);
    tr.Commit();
  }
  auto reader = ASDatabase::Open(url);  // anew: its pages are in no connection's cache yet
  ASSession* session = reader->Session();
  item t;
  const sqlite3_int64 before = sqlite3_memory_used();
  EXPECT_EQ(valuesOf(session, t->num).size(), 4000u);
  const sqlite3_int64 read = sqlite3_memory_used();
  reader->ReleaseSessionMemory();
  if (std::string(s->Dialect()) == "sqlite") {
    // Four megabytes of rows pass through the cache; most of them leave it.
    EXPECT_GT(read - before, 2000000) << "the rows did not pass through the connection's cache";
    EXPECT_LT(sqlite3_memory_used() - before, (read - before) / 4);
  }
  EXPECT_EQ(reader->Session(), session);
  EXPECT_EQ(valuesOf(session, t->num).back(), "3999");
}

QUERY_TEST_SUITE(Session);

}  // namespace
