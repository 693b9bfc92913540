// Every statement of restart recovery failing in turn: each failure answers 3101 with the
// database's text or leaves one operation open, and the next call gives the log a call without
// a fault gives.
#include <algorithm>

#include "LogDbFixture.h"

using namespace JRX;

namespace jrxtest {
namespace {

class OpLogStatementFaultsTest : public LogDbFixture {
 protected:
  void SetUp() override {
    LogDbFixture::SetUp();
    nodeRow(kLocal);
    fillLog();
  }

  // The whole stored state, with the keys and times of the restart's own reports left out:
  // the order in which it closes operations is the database's.
  static Lines withoutRestartTimes(Lines rows) {
    for (std::string& r : rows) {
      if (r.rfind("op_log_data: ", 0) != 0) continue;
      size_t at = 0;
      for (int field = 0; field < 3; ++field) at = r.find('|', at) + 1;
      const size_t end = r.find('|', at);
      if (r.compare(end + 1, 2, "4|") != 0) continue;
      r.replace(at, end - at, "now");
      r.replace(13, r.find('|') - 13, "new");
    }
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  JRXOpLogLocal service{nullptr};
};

// A failure of finishOps's own statements leaves everything as it was; one inside a closing
// report leaves that operation open, whole, and closes the others. The next call closes what
// is left, and the log ends as a call without a fault leaves it.
TEST_P(OpLogStatementFaultsTest, RestartClosingFailsWholeOrLeavesOneOperationOpen) {
  const Lines start = allLogRows();
  ASSERT_EQ(service.finishOps(), 0);
  const Lines closed = withoutRestartTimes(allLogRows());
  ASSERT_NE(closed, withoutRestartTimes(start));
  auto openOps = [] {
    op_log o;
    return rowsOf({&o}, {&o->id}, o->status != 3 && o->status != 4 && o->status != 5);
  };
  auto closingRows = [] {
    op_log_data d;
    return rowsOf({&d}, {&d->op_id}, d->status == 4);
  };
  const size_t leftOpen = openOps().size();
  for (int n = 1;; ++n) {
    SCOPED_TRACE("statement " + std::to_string(n) + " failing");
    emptyLogTables();
    fillLog();
    ASSERT_EQ(allLogRows(), start);
    ASFaults::Clear();
    ASFaults::FailStatement(n, "", kInjected);
    const int answer = service.finishOps();
    const bool reached = ASFaults::StatementsSeen() >= n;
    ASFaults::Clear();
    if (!reached) {
      EXPECT_EQ(answer, 0);
      EXPECT_EQ(withoutRestartTimes(allLogRows()), closed);
      break;
    }
    if (answer != 0) {
      EXPECT_EQ(answer, 3101);
      EXPECT_EQ(service.getContextLocal()->getLastError().message, kInjected);
      EXPECT_EQ(allLogRows(), start);
    } else {
      // One closing report failed with the database's text, and only its operation is open.
      int failedReports = 0;
      for (size_t i = 0; i < service.endedCommands().size(); ++i)
        failedReports += service.endedCommands()[i].message == kInjected ? 1 : 0;
      EXPECT_EQ(failedReports, 1);
      EXPECT_EQ(openOps().size(), leftOpen + 1);
      op_log o;
      EXPECT_EQ(closingRows(), rowsOf({&o}, {&o->op_id}, o->status == 4));
    }
    EXPECT_EQ(service.finishOps(), 0);
    EXPECT_EQ(withoutRestartTimes(allLogRows()), closed);
    if (HasFailure()) break;
  }
}

JRX_ON_EVERY_BACKEND(OpLogStatementFaultsTest);

}  // namespace
}  // namespace jrxtest
