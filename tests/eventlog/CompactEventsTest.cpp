// Event compaction: which rows survive, and what is logged.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "EventLogFixture.h"

using namespace JRX;

namespace jrxtest {
namespace {

class CompactEventsTest : public EventLogFixture {
 protected:
  JRXEventLogLocal log{nullptr};
  const JRXEID node{0xa1, 0x01};

  std::vector<int> saveMany(int n) {
    std::vector<int> ids;
    for (int i = 0; i < n; ++i) {
      // Times run backwards: age is the order of recording, not the event's time.
      JRXEvent e = event(node, 1000 - i);
      EXPECT_EQ(0, log.saveEvent(e));
      ids.push_back(eventId(e.guid));
    }
    return ids;
  }

  static std::vector<int> storedIds() {
    events_log ev;
    JRXRdbmsTran tran;
    ASCursor c(*tran);
    c.Project() << ev->event_id;
    c.Order(ev->event_id);
    std::vector<int> ids;
    while (c.Fetch()) ids.push_back(static_cast<int>(ev.event_id.Int()));
    return ids;
  }
};

TEST_P(CompactEventsTest, KeepsTheNewestRecordedEvents) {
  std::vector<int> ids = saveMany(6);
  EXPECT_EQ(0, JRXEventLogLocal::compact(4));
  EXPECT_EQ(std::vector<int>(ids.begin() + 2, ids.end()), storedIds());
  EXPECT_EQ(0, JRXEventLogLocal::compact(0));
  EXPECT_TRUE(storedIds().empty());
  // Detail rows are not compaction's business.
  EXPECT_EQ(6, count<events_log_env>());
  EXPECT_TRUE(records(1).empty());
}

TEST_P(CompactEventsTest, NothingToDoWhenTheLogIsSmallEnough) {
  std::vector<int> ids = saveMany(3);
  for (int keep : {3, 4, 1000000, -1, -2147483647 - 1}) {
    EXPECT_EQ(0, JRXEventLogLocal::compact(keep)) << keep;
    EXPECT_EQ(ids, storedIds()) << keep;
  }
  EXPECT_TRUE(records(1).empty());
}

TEST_P(CompactEventsTest, GapsInEventIdsDoNotMatter) {
  std::vector<int> ids = saveMany(8);
  {
    events_log ev;
    JRXRdbmsTran tran;
    ASDeleter(ev).Where(ev->event_id == ids[6] || ev->event_id == ids[4]).Execute(*tran);
    tran.commit();
  }
  ASSERT_EQ(0, log.saveEvent(auditEvent(node, "idle", 4)));  // dropped again: one more gap
  EXPECT_EQ(0, JRXEventLogLocal::compact(3));
  EXPECT_EQ((std::vector<int>{ids[3], ids[5], ids[7]}), storedIds());
}

TEST_P(CompactEventsTest, FailureIsLoggedAndChangesNothing) {
  std::vector<int> ids = saveMany(5);
  ASFaults::FailStatement(2, "events_log", "lock wait timeout");
  EXPECT_EQ(3101, JRXEventLogLocal::compact(1));
  ASFaults::Clear();
  EXPECT_EQ(ids, storedIds());
  EXPECT_EQ(std::vector<std::string>{"Events compact failed."}, records(1));
  // Logged before the failure is handed to the framework's error handling.
  const auto all = sink->records();
  auto mine = std::find_if(all.begin(), all.end(),
                           [](const JRXLogRecord& r) { return r.text == "Events compact failed."; });
  ASSERT_NE(all.end(), mine);
  EXPECT_EQ("compact", mine->function);
  EXPECT_EQ("plugins/JRXLogDB/JRXLogDBLocal", mine->file);
  auto mapped = std::find_if(all.begin(), all.end(),
                             [](const JRXLogRecord& r) { return r.function == "onRdbmsError"; });
  if (mapped != all.end()) {
    EXPECT_LT(mine - all.begin(), mapped - all.begin());
  }

  ASFaults::FailStatement(1, "events_log", "no such table");
  EXPECT_EQ(3101, JRXEventLogLocal::compact(1));
  ASFaults::Clear();
  EXPECT_EQ(2u, records(1).size());
  EXPECT_EQ(ids, storedIds());
}

INSTANTIATE_TEST_SUITE_P(Db, CompactEventsTest, ::testing::ValuesIn(backends()), BackendName());

}  // namespace
}  // namespace jrxtest
