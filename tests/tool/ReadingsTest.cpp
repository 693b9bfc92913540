// The tool's own readings for estimates and /metrics, on a log where other indexes look
// attractive (one operation name, nearly every operation done, statistics refreshed), go
// through the indexes meant for them, so that their cost does not grow with the log.
#include <ctime>
#include <functional>
#include <set>

#include "EstimateQueries.h"
#include "EventHours.h"
#include "LogCounts.h"
#include "LogDbFixture.h"
#include "MetricsQueries.h"

using namespace JRX;

namespace jrxtest {
namespace {

const int kOps = 2000, kEvents = 2000, kRunningEvery = 200;

class ReadingsTest : public LogDbFixture {
 protected:
  void SetUp() override {
    openLogDb(false);
    JRXRdbmsTran tran;  // one commit for the whole fill: the services' own become savepoints
    JRXOpLogLocal ops(nullptr);
    JRXEventLogLocal events(nullptr);
    for (int i = 1; i <= kOps; ++i) {
      const std::string id = "bulk-" + std::to_string(i);
      const bool running = i % kRunningEvery == 0;
      ASSERT_EQ(0, ops.saveProgress(report(id, "bulk", 1, 0, kT0 + i, "queued")));
      ASSERT_EQ(0, ops.saveProgress(report(id, "bulk", running ? 0 : 3, running ? 40 : 100,
                                           kT0 + i + 30, running ? "copying" : "done")));
    }
    for (int i = 1; i <= kEvents; ++i)
      ASSERT_EQ(0, events.saveEvent(event(kNode, kT0 + i, i % 3 ? "alert" : "info")));
    tran.commit();
    JRXRdbmsTran stats;
    (*stats)->ExecuteSql(std::string((*stats)->Dialect()) == "sqlite"
                             ? "ANALYZE"
                             : "ANALYZE TABLE op_log, op_log_data, events_log");
    stats.commit();
  }

  // Each step of each statement `call` runs goes through one of `indexes` (ASPrimaryKey: the
  // table's key), without a sort, and walks a whole index only along time up to its limit.
  static void expectReads(const std::function<void()>& call, const std::set<std::string>& indexes) {
    std::set<std::string> used;
    for (const ASPlan& p : plansOf(call)) {
      // A cursor read in pages bounds them by each table's largest key, read at its end.
      if (p.sql.rfind("SELECT (SELECT MAX(", 0) == 0) continue;
      std::string text = p.sql;
      for (const ASPlanStep& step : p.steps) text += "\n    " + step.detail;
      for (const ASPlanStep& step : p.steps) {
        const std::string index = step.index.empty() ? ASPrimaryKey : step.index;
        if (!step.table.empty()) used.insert(index);
        EXPECT_TRUE(step.table.empty() ||
                    (!step.sorts && (!step.fullScan || index == "events_log_time"))) << text;
      }
    }
    EXPECT_EQ(used, indexes);
  }
};

TEST_P(ReadingsTest, EachReadGoesThroughItsIndexAndCountsInPartsAddUp) {
  const std::string running = "bulk-" + std::to_string(kRunningEvery);
  expectReads([&] { EXPECT_TRUE(jrxlog::readHistory(running).running); },
              {"op_log_id", "op_log_data_op"});
  const long now = static_cast<long>(std::time(nullptr));
  expectReads([&] { EXPECT_EQ(jrxlog::peerDurations("bulk", now).size(), jrxlog::kEstimatePeers); },
              {"op_log_name_status_time", "op_log_data_op"});
  expectReads([] { EXPECT_EQ(jrxlog::readLiveState().unfinished.at(2), kOps / kRunningEvery); },
              {"op_log_status_time", "events_log_time"});
  long long after = kOps / 2;
  std::map<int, long long> byStatus;
  expectReads([&] { EXPECT_EQ(jrxlog::countOperationsAfter(after, 100, byStatus), 100u); },
              {ASPrimaryKey});
  std::map<std::string, long long> byType;
  after = kEvents / 2;
  expectReads([&] { EXPECT_EQ(jrxlog::countEventsAfter(after, 100, byType), 100u); },
              {ASPrimaryKey});
  // What the live state holds.
  const jrxlog::LiveState live = jrxlog::readLiveState();
  EXPECT_EQ(std::make_tuple(live.unfinished.at(1), live.oldestUnfinished, live.latestEvent),
            std::make_tuple(0, kT0 + kRunningEvery, kT0 + kEvents));
  // Parts of any size add up to the counts of one whole read, also where keys have gaps.
  auto expectWhole = [] {
    std::map<int, long long> byStatus;
    std::map<std::string, long long> byType;
    long long opAfter = 0, eventAfter = 0;
    size_t parts = 0;
    while (jrxlog::countOperationsAfter(opAfter, 997, byStatus) == 997) ++parts;
    while (jrxlog::countEventsAfter(eventAfter, 997, byType) == 997) ++parts;
    const jrxlog::LogCounts whole = jrxlog::countLog();
    EXPECT_EQ(byStatus, whole.operationsByStatus);
    EXPECT_EQ(byType, whole.eventsByType);
    return parts;
  };
  EXPECT_EQ(expectWhole(), 4u);
  JRXEventLogLocal events(nullptr);
  ASSERT_EQ(0, events.compact(1000));
  JRXOpLogLocal ops(nullptr);
  // The ended operations begun in the first half of the log's time.
  ASSERT_EQ(0, ops.compact(static_cast<int>(std::time(nullptr) - (kT0 + kOps / 2))));
  EXPECT_LT(expectWhole(), 4u);
}

// Events per hour: the listing's own events, through the index its walk goes along; a count
// bounded below the range's rows counts whole seconds from the newest back, and says from when.
TEST_P(ReadingsTest, EventsPerHourCountTheListingsEvents) {
  JRXEventLogLocal events(nullptr);
  {
    JRXRdbmsTran tran;
    for (int i = 0; i < 300; ++i) {
      JRXEvent e = event(kVm2, kT0 + i * 97, i % 4 ? "heartbeat" : "alert");
      if (i % 3 == 0) e.info.addParameter("env", envRef(kVm1, "vm"));
      ASSERT_EQ(0, events.saveEvent(e));
    }
    tran.commit();
  }
  const long end = kT0 + 300 * 97;
  auto listed = [](const jrxlog::EventsQuery& q, long since) {
    std::map<long, std::map<std::string, long long>> byHour;
    jrxlog::listEvents(q, jrxlog::startOf(q), JRXEventLogLocal::kMaxEvents,
                       [&](const std::vector<JRXEvent>& part, const std::vector<JRXListingPlace>&) {
                         for (const JRXEvent& e : part)
                           if (e.time >= since) ++byHour[static_cast<long>(e.time) / 3600 * 3600][e.type];
                       });
    return byHour;
  };
  auto query = [&](const JRXEID& eid, bool bySource, const std::string& type) {
    jrxlog::EventsQuery q;
    q.eid = eid;
    q.bySource = bySource;
    q.type = type;
    q.from = kT0 + 1000;
    q.to = end - 1000;
    return q;
  };
  const std::pair<jrxlog::EventsQuery, std::set<std::string>> cases[] = {
      {query(JRXEID(), true, ""), {"events_log_time"}},
      {query(JRXEID(), true, "alert"), {"events_log_type"}},
      {query(JRXEID(), false, ""), {"events_log_time", "events_log_env_link"}},
      {query(kVm2, true, ""), {"events_log_time", "events_log_env_link", ASPrimaryKey}},
      {query(kVm1, false, "heartbeat"), {"events_log_type", "events_log_env_link", ASPrimaryKey}},
  };
  for (const auto& [q, indexes] : cases) {
    jrxlog::HourCounts all;
    expectReads([&] { all = jrxlog::countEventsByHour(q, 100000); }, indexes);
    long long n = 0;
    for (const auto& hour : all.byHour)
      for (const auto& type : hour.second) n += type.second;
    EXPECT_TRUE(all.complete && all.since == q.from && all.counted == n && n > 0) << n;
    EXPECT_EQ(all.byHour, listed(q, q.from)) << q.type;
    // Fewer rows than the range holds: the newest of them, whole seconds.
    const jrxlog::HourCounts part = jrxlog::countEventsByHour(q, static_cast<unsigned long long>(n / 3));
    EXPECT_TRUE(!part.complete && part.since > q.from && part.counted <= n / 3 && part.counted > 0)
        << part.counted;
    EXPECT_EQ(part.byHour, listed(q, part.since)) << q.type;
  }
}

JRX_ON_EVERY_BACKEND(ReadingsTest);

}  // namespace
}  // namespace jrxtest
