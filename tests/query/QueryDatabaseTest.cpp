#include <atomic>
#include <functional>
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

// Statements found again by their shape: each of these differs from another in one part
// only (operator, column, value type, limit, offset, connective, which object a column is
// of), and taking turns each must keep its own statement and values.
TEST_P(Database, ShapesDifferingInOnePartKeepTheirOwnStatements) {
  for (int i = 1; i <= 6; ++i) addItem("n" + std::to_string(i), i % 3, 100 * i);
  item t, u;
  const std::vector<std::pair<std::function<void(ASFilter&)>, long long>> cases = {
      {[&](ASFilter& f) { f.Set(t->time < 200); }, 1},
      {[&](ASFilter& f) { f.Set(t->time <= 200); }, 2},
      {[&](ASFilter& f) { f.Set(t->num <= 1); }, 4},
      {[&](ASFilter& f) { f.Set(t->name <= 1); }, 0},
      {[&](ASFilter& f) { f.Set(t->num <= 1).Limit(3); }, 3},
      {[&](ASFilter& f) { f.Set(t->num <= 1).Limit(3, 2); }, 2},
      {[&](ASFilter& f) { f.Set(t->num <= 1 && t->name != "n1"); }, 3},
      {[&](ASFilter& f) { f.Set(t->num <= 1 || t->name != "n1"); }, 6},
      {[&](ASFilter& f) { f.Set(t->item_id == t->num); }, 2},
      {[&](ASFilter& f) { f.Set(t->item_id == u->num); }, 4},
  };
  for (int round = 0; round < 2; ++round)
    for (size_t i = 0; i < cases.size(); ++i) {
      ASCursor c(s);
      c.Project() << t->name;
      cases[i].first(c);
      long long n = 0;
      while (c.Fetch()) ++n;
      EXPECT_EQ(n, cases[i].second) << "case " << i << ", round " << round;
    }
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ((ASUpdater(t) << t->time.Set(round)).Where(t->num == 0).Execute(s), 2);
    EXPECT_EQ((ASUpdater(t) << t->big.Set(round + 5)).Where(t->num == 0).Execute(s), 2);
    EXPECT_EQ(count(t->item_id, t->time == round && t->big == round + 5), 2);
  }
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
