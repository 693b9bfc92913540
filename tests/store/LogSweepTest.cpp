// Environment rows and links under concurrent writers, and the maintenance path: compaction
// in batches removes what the compact services remove, the sweep what they leave behind and
// nothing else, also beside writers (runs killed halfway: scripts/crashloop.py).
#include <future>
#include <thread>

#include "JRXLogMaintenance.h"
#include "LogDbFixture.h"

using namespace JRX;
using JRX::logdb::LogsEnvInfo;

namespace jrxtest {
namespace {

class LogSweepTest : public LogDbFixture {
 protected:
  // The values of column `at` of Table.
  template <class Table>
  static std::set<long long> ids(size_t at = 0) {
    std::set<long long> out;
    for (const Lines& r : fieldsOf<Table>()) out.insert(std::stoll(r[at]));
    return out;
  }
  // Rows of Child whose column `at` names none of `parents`.
  template <class Child>
  static long long orphans(size_t at, const std::set<long long>& parents) {
    long long n = 0;
    for (const Lines& r : fieldsOf<Child>()) n += parents.count(std::stoll(r[at])) ? 0 : 1;
    return n;
  }

  // Rows of each table whose parent is gone: what a sweep should remove (environments aside).
  static std::map<std::string, long long> childOrphans() {
    const std::set<long long> ops = ids<op_log>(), events = ids<events_log>();
    return {{"op_log_data", orphans<op_log_data>(1, ops)},
            {"op_log_env", orphans<op_log_env>(0, ops)},
            {"op_log_task", orphans<op_log_task>(0, ops)},
            {"events_log_env", orphans<events_log_env>(0, events)},
            {"events_log_resource", orphans<events_log_resource>(0, events)},
            {"events_log_status", orphans<events_log_status>(0, events)},
            {"events_log_audit", orphans<events_log_audit>(0, events)}};
  }

  // No child without its parent, no link to an environment row that is not there.
  static void expectNoOrphans() {
    for (const auto& t : childOrphans()) EXPECT_EQ(t.second, 0) << t.first;
    const std::set<long long> envs = ids<env_log>();
    EXPECT_EQ(orphans<op_log_env>(1, envs) + orphans<events_log_env>(1, envs), 0);
  }

  // An event and an environment row nothing links to yet; returns the event's key.
  int eventBesideAnUnlinkedEnv() {
    EXPECT_EQ(JRXEventLogLocal(nullptr).saveEvent(event(kNode, kT0)), 0);
    envRow(kFound, "found");
    return static_cast<int>(*ids<events_log>().begin());
  }
  // What a writer does: finds the row (and its key lock), then links it to the event.
  static void linkFound(int eventId, const std::function<void()>& betweenFindAndLink = nullptr) {
    JRXRdbmsTran tran;
    LogsEnvInfo env(envRef(kFound, "vm", "found"), false);
    const int id = env.getSqlID(tran);
    if (betweenFindAndLink) betweenFindAndLink();
    env.linkEvent(tran, eventId, 'O', id);
    tran.commit();
  }

  static inline const JRXEID kFound{0xe7, 1};
  std::map<std::string, long long> removed;
  std::vector<long long> batches;  // the rows of each batch, as told
  JRXRemovedRows sink = [this](const char* table, long long rows) {
    removed[table] += rows;
    batches.push_back(rows);
  };
};

// The batched path removes the very rows the one-transaction services remove (seen in a
// transaction then rolled back); the sweep then removes what those left behind, only that.
TEST_P(LogSweepTest, CompactionInBatchesThenTheSweepRemoveWhatTheServicesLeaveBehind) {
  fillLog();
  const Lines before = allLogRows();
  Lines byServices;
  {
    JRXRdbmsTran around;
    ASSERT_EQ(JRXOpLogLocal::compact(0), 0);
    ASSERT_EQ(JRXEventLogLocal::compact(2), 0);
    byServices = allLogRows();
    EXPECT_EQ(ids<op_log>().size(), 3u);
    EXPECT_EQ(ids<events_log>().size(), 2u);
  }
  ASSERT_EQ(allLogRows(), before);

  // Batches no larger than asked; one whose commit met a conflict is replayed, told once.
  ASFaults::ConflictStatement(2, "COMMIT");
  compactOpsInBatches(0, 1, sink);
  ASFaults::ConflictStatement(1, "COMMIT");
  compactEventsInBatches(2, 2, sink);
  EXPECT_EQ(allLogRows(), byServices);
  EXPECT_EQ(batches, (std::vector<long long>{1, 1, 1, 2, 2}));

  removed.clear();
  const std::map<std::string, long long> left = childOrphans();
  EXPECT_EQ(left.at("op_log_data"), 6);
  EXPECT_EQ(left.at("op_log_task"), 3);
  const Lines parents[] = {rowsOf<op_log>(), rowsOf<events_log>()};
  ASFaults::ConflictStatement(3, "COMMIT");
  sweepLog(2, sink);
  expectNoOrphans();
  for (const auto& t : left) EXPECT_EQ(removed[t.first], t.second) << t.first;
  // Environments linked no more go; parents are the sweep's to read, never to remove.
  EXPECT_GT(removed["env_log"], 0);
  std::set<long long> linked = ids<op_log_env>(1);
  for (long long id : ids<events_log_env>(1)) linked.insert(id);
  EXPECT_EQ(ids<env_log>(), linked);
  EXPECT_EQ(rowsOf<op_log>(), parents[0]);
  EXPECT_EQ(rowsOf<events_log>(), parents[1]);
  removed.clear();
  sweepLog(1000, sink);
  for (const auto& r : removed) EXPECT_EQ(r.second, 0) << r.first;
}

// A writer has found an environment row that nothing links to, and links it only after the
// sweep ran: the row must still be there. (SQLite: the sweep waits for the writer.)
TEST_P(LogSweepTest, AnEnvironmentRowAWriterHasFoundIsNotSweptBeforeItsLink) {
  const int eventId = eventBesideAnUnlinkedEnv();
  std::promise<void> found, swept;
  std::thread writer([&] {
    linkFound(eventId, [&] {
      found.set_value();
      swept.get_future().wait_for(std::chrono::seconds(2));
    });
  });
  found.get_future().wait();
  sweepLog(10, sink);
  swept.set_value();
  writer.join();
  expectNoOrphans();
  EXPECT_EQ(ids<events_log_env>(1).size(), 2u);
}

// A writer finds and links the row, and commits, after the sweep listed it as unlinked and
// before it locks it: the sweep must look again under its lock. (SQLite's writers take turns.)
TEST_P(LogSweepTest, AnEnvironmentRowLinkedAfterTheSweepListedItStays) {
  if (GetParam() != "mariadb") GTEST_SKIP() << "writers take turns";
  const int eventId = eventBesideAnUnlinkedEnv();
  ASFaults::BeforeStatement(1, "SKIP LOCKED", [&] {
    std::thread(linkFound, eventId, nullptr).join();
  });
  sweepLog(10, sink);
  expectNoOrphans();
  EXPECT_EQ(removed["env_log"], 0);
}

JRX_ON_EVERY_BACKEND(LogSweepTest);

class EnvRefsTest : public LogDbFixture {};

// A named link that meets the same environment's stand-in link, which another session made
// and committed while this one was linking, takes it over: the link ends named either way.
TEST_P(EnvRefsTest, ANamedLinkTakesOverAStandInLinkedMeanwhile) {
  const auto env = [](bool standIn) { return LogsEnvInfo(envRef(kVm1, "vm", "web"), standIn); };
  {
    JRXRdbmsTran tran;
    env(false).getSqlID(tran);
    tran.commit();
  }
  std::promise<void> linked;
  std::thread other([&] {
    JRXRdbmsTran tran;
    env(true).linkOperation(tran, 9, 'O');
    linked.set_value();
    // Long enough for the named link to look before this one is committed: it then finds
    // the stand-in only as it inserts its own (SQLite: it waits to begin at all).
    std::this_thread::sleep_for(std::chrono::seconds(1));
    tran.commit();
  });
  linked.get_future().wait();
  JRXRdbmsTran tran;
  env(false).linkOperation(tran, 9, 'O');
  tran.commit();
  other.join();
  op_log_env l;
  env_log e;
  EXPECT_EQ(rowsOf({&l, &e}, {&l->op_id, &l->role, &l->is_default, &e->title}, l->env_id == e->id),
            Lines{"9|O|N|web"});
}

JRX_ON_EVERY_BACKEND(EnvRefsTest);

}  // namespace
}  // namespace jrxtest
