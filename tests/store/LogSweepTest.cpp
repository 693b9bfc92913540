// The maintenance path: compaction in batches removes what the compact services remove, the
// sweep removes what they leave behind and nothing else, also while writers are at work; the
// batches' size follows their time.
#include <future>
#include <thread>

#include "JRXLogMaintenance.h"
#include "LogDbFixture.h"
#include "store/BatchPace.h"

using namespace JRX;

namespace jrxtest {
namespace {

class LogSweepTest : public LogDbFixture {
 protected:
  // Column `at` of every row of Table.
  template <class Table>
  static std::multiset<long long> column(size_t at) {
    std::multiset<long long> out;
    for (const Lines& r : fieldsOf<Table>()) out.insert(std::stoll(r[at]));
    return out;
  }
  template <class Table>
  static std::set<long long> ids(size_t at = 0) {
    const std::multiset<long long> all = column<Table>(at);
    return std::set<long long>(all.begin(), all.end());
  }
  // Rows of Child whose parent (its column `at` in `parents`) is gone.
  template <class Child>
  static long long orphans(size_t at, const std::set<long long>& parents) {
    long long n = 0;
    for (long long id : column<Child>(at)) n += parents.count(id) ? 0 : 1;
    return n;
  }

  // Rows of each table whose parent is gone: what a sweep should remove (environment rows
  // aside).
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

  // Every link names an environment row that is there.
  static void expectLinksWhole() {
    const std::set<long long> envs = ids<env_log>();
    EXPECT_EQ(orphans<op_log_env>(1, envs), 0);
    EXPECT_EQ(orphans<events_log_env>(1, envs), 0);
  }

  static void expectNoOrphans() {
    for (const auto& t : childOrphans()) EXPECT_EQ(t.second, 0) << t.first;
    expectLinksWhole();
  }

  std::map<std::string, long long> removed;
  JRXRemovedRows sink = [this](const char* table, long long rows) { removed[table] += rows; };

  // The operations and events that stay, and every child row.
  static std::vector<std::set<long long>> parentsAndChildren() {
    return {ids<op_log>(), ids<events_log>(), ids<op_log_data>(), ids<op_log_task>(),
            ids<events_log_status>()};
  }
};

// The batched path, batch after batch, removes the very rows the one-transaction services
// remove (seen inside a transaction that is then rolled back), and only those; the sweep then
// removes what the removed parents left behind and nothing else.
TEST_P(LogSweepTest, CompactionInBatchesThenTheSweepRemoveWhatTheServicesLeaveBehind) {
  fillLog();
  const std::vector<std::set<long long>> before = parentsAndChildren();
  std::vector<std::set<long long>> byServices;
  {
    JRXRdbmsTran around;
    ASSERT_EQ(JRXOpLogLocal::compact(0), 0);
    ASSERT_EQ(JRXEventLogLocal::compact(2), 0);
    byServices = parentsAndChildren();
  }
  ASSERT_EQ(parentsAndChildren(), before);
  EXPECT_EQ(byServices[0].size(), 3u);
  EXPECT_EQ(byServices[1].size(), 2u);

  // A batch whose commit met a conflict is replayed, and its rows told once.
  ASFaults::ConflictStatement(2, "COMMIT");
  compactOpsInBatches(0, 1, sink);
  ASFaults::ConflictStatement(1, "COMMIT");
  compactEventsInBatches(2, 2, sink);
  EXPECT_EQ(parentsAndChildren(), byServices);
  EXPECT_EQ(removed["op_log"], 3);
  EXPECT_EQ(removed["events_log"], static_cast<long long>(before[1].size()) - 2);

  removed.clear();
  const std::map<std::string, long long> left = childOrphans();
  EXPECT_EQ(left.at("op_log_data"), 6);
  EXPECT_EQ(left.at("op_log_task"), 3);
  const std::set<long long> opsBefore = ids<op_log>(), eventsBefore = ids<events_log>();
  ASFaults::ConflictStatement(3, "COMMIT");
  sweepLog(2, sink);
  expectNoOrphans();
  for (const auto& t : left) EXPECT_EQ(removed[t.first], t.second) << t.first;
  // The sources of the ended operations and the environments of removed events are linked
  // no more; the operands, the node and the sources of what stays are.
  EXPECT_GT(removed["env_log"], 0);
  std::set<long long> linked = ids<op_log_env>(1);
  for (long long id : ids<events_log_env>(1)) linked.insert(id);
  EXPECT_EQ(ids<env_log>(), linked);
  // A second sweep finds nothing.
  removed.clear();
  sweepLog(1000, sink);
  for (const auto& r : removed) EXPECT_EQ(r.second, 0) << r.first;
  // Parents are the sweep's to read, never to remove.
  EXPECT_EQ(ids<op_log>(), opsBefore);
  EXPECT_EQ(ids<events_log>(), eventsBefore);
}

// The moment that matters, made to happen: a writer has found an environment row that
// nothing links to, and links it only after the sweep has run. The row must still be there.
TEST_P(LogSweepTest, AnEnvironmentRowAWriterHasFoundIsNotSweptBeforeItsLink) {
  JRXEventLogLocal events(nullptr);
  JRXEvent e = event(kNode, kT0);
  ASSERT_EQ(events.saveEvent(e), 0);
  const long long eventId = *ids<events_log>().begin();
  const JRXInfo ref = envRef(JRXEID(0xe7, 1), "vm", "found-not-linked");
  envRow(JRXEID(0xe7, 1), "found-not-linked");

  std::promise<void> found, swept;
  std::thread writer([&] {
    JRXRdbmsTran tran;
    logdb::LogsEnvInfo env(ref, false);
    const int id = env.getSqlID(tran);
    found.set_value();
    // SQLite: the sweep waits for this transaction, so this wait runs out first.
    swept.get_future().wait_for(std::chrono::seconds(2));
    env.linkEvent(tran, static_cast<int>(eventId), 'O', id);
    tran.commit();
  });
  found.get_future().wait();
  sweepLog(10, sink);
  swept.set_value();
  writer.join();
  expectNoOrphans();
  std::vector<JRXEvent> got;
  ASSERT_EQ(events.getEvents(&got, JRXEID(0xe7, 1), false, kNoLimit, "", "", false, 0, kNoUpper),
            0);
  EXPECT_EQ(got.size(), 1u);
}

// The other moment: a writer finds and links the row, and commits, after the sweep has
// listed it as unlinked and before it locks it. The sweep must look again under its lock.
// (SQLite's writers take turns, so there the sweep holds the log until it is done.)
TEST_P(LogSweepTest, AnEnvironmentRowLinkedAfterTheSweepListedItStays) {
  if (GetParam() != "mariadb") GTEST_SKIP() << "writers take turns";
  JRXEventLogLocal events(nullptr);
  ASSERT_EQ(events.saveEvent(event(kNode, kT0)), 0);
  const long long eventId = *ids<events_log>().begin();
  envRow(JRXEID(0xe7, 1), "linked-late");
  ASFaults::BeforeStatement(1, "SKIP LOCKED", [&] {
    std::thread([&] {
      JRXRdbmsTran tran;
      logdb::LogsEnvInfo env(envRef(JRXEID(0xe7, 1), "vm", "linked-late"), false);
      env.linkEvent(tran, static_cast<int>(eventId), 'O', env.getSqlID(tran));
      tran.commit();
    }).join();
  });
  sweepLog(10, sink);
  expectNoOrphans();
  EXPECT_EQ(removed["env_log"], 0);
}

// Each path failing at each of its statements in turn stops with the database's text; the
// batches committed before the failing one stay, nothing of that one does, every link is
// whole, and the next run ends where a run without a fault ends.
TEST_P(LogSweepTest, EveryStatementFailingInTurnLeavesTheCommittedBatches) {
  struct Path {
    const char* what;
    bool compacted;  // by the services first: the sweep's work
    std::function<void(const JRXRemovedRows&)> run;
  };
  const std::vector<Path> paths{
      {"operations in batches", false,
       [](const JRXRemovedRows& r) { compactOpsInBatches(0, 2, r); }},
      {"events in batches", false,
       [](const JRXRemovedRows& r) { compactEventsInBatches(2, 3, r); }},
      {"sweep", true, [](const JRXRemovedRows& r) { sweepLog(4, r); }},
  };
  for (const Path& p : paths) {
    SCOPED_TRACE(p.what);
    auto restart = [&] {
      emptyLogTables();
      fillLog();
      if (p.compacted) {
        ASSERT_EQ(JRXOpLogLocal::compact(0), 0);
        ASSERT_EQ(JRXEventLogLocal::compact(2), 0);
      }
    };
    // The state after each batch's report of a run without a fault.
    restart();
    std::vector<Lines> states{allLogRows()};
    p.run([&](const char*, long long) { states.push_back(allLogRows()); });
    ASSERT_GT(states.size(), 2u);  // two batches at least
    const Lines done = states.back();
    for (int n = 1;; ++n) {
      SCOPED_TRACE("statement " + std::to_string(n) + " failing");
      restart();
      ASFaults::Clear();
      ASFaults::FailStatement(n, "", kInjected);
      size_t told = 0;
      bool failed = false;
      try {
        p.run([&](const char*, long long) { ++told; });
      } catch (const AException& e) {
        failed = true;
        EXPECT_EQ(e.Text().str(), kInjected);
      }
      EXPECT_TRUE(failed || told == states.size() - 1);
      const bool reached = ASFaults::StatementsSeen() >= n;
      ASFaults::Clear();
      if (!reached) break;
      // Only the end of a read may fail unseen: nothing was left to undo, and the work went on.
      ASSERT_LT(told, states.size());
      EXPECT_EQ(allLogRows(), failed ? states[told] : done);
      expectLinksWhole();
      p.run([](const char*, long long) {});
      EXPECT_EQ(allLogRows(), done);
      if (HasFailure()) break;
    }
  }
}

JRX_ON_EVERY_BACKEND(LogSweepTest);

// Batches are never empty and never larger than the caller allows; fewer rows than the least
// are taken as they are, whatever the batches' time.
TEST(BatchPaceTest, BatchesGrowByStepsUpToTheCallersRowsAndShrinkWithTheirTime) {
  using std::chrono::milliseconds;
  BatchPace pace(5000);
  EXPECT_EQ(pace.rows(), 100u);
  // Quick batches double, and never pass what the caller allows.
  for (unsigned rows : {200u, 400u, 800u, 1600u, 3200u, 5000u, 5000u}) {
    pace.took(milliseconds(0));
    EXPECT_EQ(pace.rows(), rows);
  }
  // A batch that held its transaction ten times too long makes the next a tenth.
  pace.took(kBatchHold * 10);
  EXPECT_EQ(pace.rows(), 500u);
  // However long a batch took, the next takes the least.
  for (int i = 0; i < 5; ++i) pace.took(std::chrono::hours(1));
  EXPECT_EQ(pace.rows(), BatchPace::kLeastRows);
  pace.took(kBatchHold / 4);
  EXPECT_EQ(pace.rows(), 2 * BatchPace::kLeastRows);

  for (unsigned most : {3u, 0u}) {
    BatchPace few(most);
    EXPECT_EQ(few.rows(), std::max(most, 1u));
    few.took(milliseconds(0));
    EXPECT_EQ(few.rows(), std::max(most, 1u));
    few.took(std::chrono::hours(1));
    EXPECT_EQ(few.rows(), std::max(most, 1u));
  }
}

}  // namespace
}  // namespace jrxtest
