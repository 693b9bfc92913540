#include <atomic>
#include <thread>

#include "ASFaults.h"
#include "QueryFixture.h"

namespace {

using Database = QueryTest;

TEST_P(Database, StatementsArePreparedOncePerConnection) {
  ASFaults::Clear();
  auto fdb = ASDatabase::Open("fault:" + url);
  ASSession* fs = fdb->Session();
  for (int i = 0; i < 5; ++i) {
    item t;  // a new table object (a new alias) every time: still the same statement
    t.name = "n" + std::to_string(i);
    fs->Insert(t);
    ASCursor c(fs);
    c.Project() << t->item_id;
    c.Set(t->name == t.name.Str());
    ASSERT_TRUE(c.Fetch());
  }
  EXPECT_EQ(ASFaults::StatementsPrepared(), 2);
  EXPECT_EQ(ASFaults::StatementsSeen(), 10);
  ASFaults::Clear();
}

TEST_P(Database, ConcurrentWritersOnTheirOwnConnections) {
  const int kThreads = 4, kRows = 25;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int n = 0; n < kThreads; ++n) {
    threads.emplace_back([&, n] {
      try {
        ASSession* mine = db->Session();
        mine->CreateTable(item_domain());  // concurrent creation of an existing table
        for (int i = 0; i < kRows; ++i) {
          ASTransaction tr(mine);
          item t;
          t.name = "w" + std::to_string(n);
          t.num = i;
          mine->Insert(t);
          long long id = mine->GetInsertId();
          item r;
          ASCursor c(mine);
          c.Project() << r->num;
          c.Set(r->item_id == id);
          if (!c.Fetch() || r.num.Int().Value() != i) ++failures;
          tr.Commit();
        }
      } catch (const AException& e) {
        ADD_FAILURE() << e.what();
        ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  item q;
  EXPECT_EQ(count(q->item_id), kThreads * kRows);
}

INSTANTIATE_TEST_SUITE_P(Db, Database, ::testing::ValuesIn(jrxtest::backends()),
                         jrxtest::BackendName());

TEST(MemoryDatabase, SharedByTheThreadsOfOnePoolOnly) {
  auto a = ASDatabase::Open("sqlite::memory:");
  auto b = ASDatabase::Open("sqlite::memory:");
  a->Session()->CreateTable(item_domain());
  b->Session()->CreateTable(item_domain());
  item t;
  t.name = "in a";
  a->Session()->Insert(t);
  long long seen = 0;
  std::thread th([&] {
    item r;
    ASCursor c(a->Session());
    c.Project() << r->name;
    while (c.Fetch()) ++seen;
  });
  th.join();
  EXPECT_EQ(seen, 1);
  item r;
  ASCursor c(b->Session());
  c.Project() << r->name;
  EXPECT_FALSE(c.Fetch());
}

}  // namespace
