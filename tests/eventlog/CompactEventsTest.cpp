// Event compaction: which rows survive, and what is logged.
#include <climits>

#include "LogDbFixture.h"

using namespace JRX;

namespace jrxtest {
namespace {

class CompactEventsTest : public LogDbFixture {};

TEST_P(CompactEventsTest, KeepsTheNewestRecordedEvents) {
  JRXEventLogLocal log(nullptr);
  for (int i = 0; i < 8; ++i) {
    // Times run backwards: age is the order of recording, not the event's time.
    JRXEvent e = event(kNode, 1000 - i);
    e.code = i;
    ASSERT_EQ(0, log.saveEvent(e));
  }
  // Gaps among the keys: two events deleted, and one dropped as it was saved.
  events_log ev;
  {
    JRXRdbmsTran tran;
    ASDeleter(ev).Where(ev->code == 4 || ev->code == 6).Execute(*tran);
    tran.commit();
  }
  ASSERT_EQ(0, log.saveEvent(auditEvent(kNode, "idle", 4)));
  sink->clear();
  const Lines six{"0", "1", "2", "3", "5", "7"};
  const std::pair<int, Lines> steps[] = {
      {6, six}, {1000000, six}, {-1, six}, {INT_MIN, six}, {3, {"3", "5", "7"}}, {0, {}}};
  for (const auto& s : steps) {
    SCOPED_TRACE(s.first);
    EXPECT_EQ(0, failEachStatement(nullptr, [&] { return JRXEventLogLocal::compact(s.first); }));
    EXPECT_EQ(rowsOf({&ev}, {&ev->code}), s.second);
  }
  // Detail rows are not compaction's business.
  EXPECT_EQ(fieldsOf<events_log_env>().size(), 9u);
  // A failure is logged before it is handed to the framework's error handling.
  const auto all = sink->records();
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.front().text, "Events compact failed.");
  for (const auto& r : all)
    EXPECT_TRUE(r.category != "JRXLogDBLocal" ||
                (r.text == "Events compact failed." && r.function == "compact" &&
                 r.file == "plugins/JRXLogDB/JRXLogDBLocal" && r.level == 1))
        << r.text;
}

JRX_ON_EVERY_BACKEND(CompactEventsTest);

}  // namespace
}  // namespace jrxtest
