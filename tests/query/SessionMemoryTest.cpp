// A session gives back the memory of the pages it read and keeps its connection and its
// prepared statements.
#include <sqlite3.h>

#include "QueryFixture.h"

namespace {

using SessionMemory = QueryTest;

TEST_P(SessionMemory, ReleasedCacheKeepsTheConnection) {
  {
    ASTransaction tr(s);
    for (int i = 0; i < 4000; ++i) addItem(std::string(1000, 'a' + i % 26), i);
    tr.Commit();
  }
  // A database opened anew: its pages are in no connection's cache yet.
  auto reader = ASDatabase::Open(url);
  ASSession* session = reader->Session();
  item t;
  const auto readAll = [&] {
    ASCursor c(session);
    c.Project() << t->name << t->num;
    c.Order(t->item_id);
    long long sum = 0;
    while (c.Fetch()) sum += t.num.Int();
    return sum;
  };
  const sqlite3_int64 before = sqlite3_memory_used();
  EXPECT_EQ(readAll(), 3999LL * 4000 / 2);
  const sqlite3_int64 read = sqlite3_memory_used();
  reader->ReleaseSessionMemory();
  const sqlite3_int64 released = sqlite3_memory_used();
  if (std::string(s->Dialect()) == "sqlite") {
    // Four megabytes of rows pass through the cache; most of them leave it.
    EXPECT_GT(read - before, 2000000) << "the rows did not pass through the connection's cache";
    EXPECT_LT(released - before, (read - before) / 4);
  }
  EXPECT_EQ(reader->Session(), session);
  EXPECT_EQ(readAll(), 3999LL * 4000 / 2);
}

QUERY_TEST_SUITE(SessionMemory);

}  // namespace
