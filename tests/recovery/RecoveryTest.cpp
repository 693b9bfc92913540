// Restart recovery: what finishOps closes, also when any statement fails; the unfinished
// operations of one executor. Compaction: what goes, what stays, what is logged.
#include <climits>
#include <ctime>

#include "LogDbFixture.h"
#include "store/CompactionRules.h"

using namespace JRX;

namespace jrxtest {
namespace {

class RecoveryTest : public LogDbFixture {
 protected:
  // "id|status" of each operation, and "id|progress|status|text" of each progress row.
  static Lines opsAndTexts() {
    op_log o;
    op_log_data d;
    Lines rows = rowsOf({&o}, {&o->id, &o->status});
    for (auto& r : fieldsOf({&o, &d}, {&o->id, &d->data_id, &d->progress, &d->status, &d->info},
                            o->op_id == d->op_id)) {
      JRXInfo info;
      info.deserializeFromString(r[4].substr(0, r[4].size() - 2).c_str());
      rows.push_back(r[0] + "|" + r[2] + "|" + r[3] + "|" + info.getText());
    }
    return rows;
  }

  // An operation with a progress row, a link and a task row.
  static void operation(const std::string& id, int status, int time) {
    const int op = opRow(id, "job", status, time);
    progressRow(op, 100, time, status, "x");
    linkRow(op, envRow(JRXEID(0x99, 9)), "P");
    op_log_task task;
    task.op_id = op;
    task.task_id = "task-" + id;
    insertRow(task);
  }

  JRXOpLogLocal service{nullptr};
};

// Operations executed here or by an environment that is no known node are closed, with one
// report of the restart's time each; those of other nodes and ended ones are not.
TEST_P(RecoveryTest, ClosesWhatThisNodeLeftUnfinished) {
  const JRXEID remote{0x2222, 2};
  nodeRow(kLocal);
  nodeRow(remote);
  for (auto [id, executing, running] : std::vector<std::tuple<std::string, JRXEID, bool>>{
           {"local-running", kLocal, true}, {"local-started", kLocal, false},
           {"remote", remote, true}, {"unknown", JRXEID(0x3333, 3), true}}) {
    JRXRequestProgressData r = report(id, "job", 0, 5, 1000, "begin");
    r.eid = executing;
    ASSERT_EQ(0, service.saveProgress(r));
    r.time = 1001;
    r.info = JRXInfo("half way");
    EXPECT_TRUE(!running || service.saveProgress(r) == 0);
  }
  for (int status : {3, 4, 5, 99})
    linkRow(opRow("ended-" + std::to_string(status), "job", status, 1000), envRow(kLocal), "P");

  const int64_t from = time(nullptr);
  EXPECT_EQ(0, service.finishOps());
  const int64_t to = time(nullptr);
  const std::string canceled = "|100|4|Operation was canceled by restart";
  EXPECT_EQ(opsAndTexts(),
            (Lines{"ended-3|3", "ended-4|4", "ended-5|5", "ended-99|99", "local-running|4",
                   "local-started|4", "remote|2", "unknown|4", "local-running|5|1|begin",
                   "local-running|5|2|half way", "local-running" + canceled,
                   "local-started|5|1|begin", "local-started" + canceled, "remote|5|1|begin",
                   "remote|5|2|half way", "unknown|5|1|begin", "unknown|5|2|half way",
                   "unknown" + canceled}));
  // One restart, one time; the closing report keeps the flag of its text.
  op_log_data d;
  const Lines times = rowsOf({&d}, {&d->time}, d->status == 4);
  ASSERT_EQ(times, Lines(3, times[0]));
  EXPECT_TRUE(std::stol(times[0]) >= from && std::stol(times[0]) <= to);
  std::vector<JRXRequestProgressData> closed;
  ASSERT_EQ(0, service.getOps(&closed, JRXEID::EID_INVALID, "", "unknown", "", false, false,
                              kNoLimit, 0, kNoUpper));
  EXPECT_TRUE(closed.back().info.getFlag());
}

// The newest progress row is the one with the highest key, not the latest time; operations
// without progress rows and links other than the executor's do not count.
TEST_P(RecoveryTest, UnfinishedOperationsOfAnExecutorWithTheirNewestTime) {
  const JRXEID executor{0x4444, 4};
  const int exec = envRow(executor, "exec"), other = envRow(JRXEID(0x5555, 5), "other");
  for (auto [id, status, env, times, role] :
       std::vector<std::tuple<const char*, int, int, std::vector<int>, const char*>>{
           {"started", 1, exec, {500, 300}, "P"}, {"running", 2, exec, {200, 400, 250}, "P"},
           {"before-1970", 2, exec, {-20}, "P"}, {"bare", 2, exec, {}, "P"},
           {"ended", 3, exec, {900}, "P"}, {"elsewhere", 2, other, {950}, "P"},
           {"operand-only", 2, exec, {960}, "O"}, {"source-only", 1, exec, {970}, "S"}}) {
    const int op = opRow(id, "job", status, 100);
    linkRow(op, env, role);
    for (int t : times) progressRow(op, 1, t, status, "p");
  }
  // The time is a running maximum; a time before 1970 reads back negative. A failure at any
  // statement answers 3101 and leaves the caller's values as they were.
  for (long start : {0L, 5000L, -100L}) {
    Lines ids;
    long lastTime;
    EXPECT_EQ(0, failEachStatement(nullptr, [&] {
                ids = {"stale"};
                lastTime = start;
                const int answer = service.getUnfinishedOpIds(ids, lastTime, executor);
                EXPECT_TRUE(!answer || (ids == Lines{"stale"} && lastTime == start));
                return answer;
              }));
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(ids, (Lines{"before-1970", "running", "started"}));
    EXPECT_EQ(lastTime, std::max(start, 300L));
  }
  // A stranger has none, and the time stays; it all runs outside any command.
  Lines ids{"x"};
  long lastTime = 42;
  EXPECT_EQ(0, service.getUnfinishedOpIds(ids, lastTime, kUnknown));
  EXPECT_TRUE(ids.empty() && lastTime == 42);
  EXPECT_TRUE(service.endedCommands().empty());
}

// A failure of finishOps's own statements changes nothing; one inside a closing report leaves
// that operation open and closes the others. The next call ends as a clean one.
TEST_P(RecoveryTest, AFailureClosesNothingOrLeavesOneOperationOpen) {
  fillLog();
  const Lines start = allLogRows(), unclosed = opsAndTexts();
  ASSERT_EQ(service.finishOps(), 0);
  // Left out of the comparisons: the keys and times of the restart's own reports.
  const Lines closed = opsAndTexts();
  ASSERT_NE(closed, unclosed);
  op_log o;
  op_log_data d;
  const auto openOps = [&] { return rowsOf({&o}, {&o->id}, o->status < 3 || o->status > 5); };
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
      EXPECT_EQ(opsAndTexts(), closed);
      break;
    }
    if (answer != 0) {
      EXPECT_EQ(answer, 3101);
      EXPECT_EQ(service.getContextLocal()->getLastError().message, kInjected);
      EXPECT_EQ(allLogRows(), start);
    } else {
      // One closing report failed with the database's text, and only its operation is open.
      const auto& ended = service.endedCommands();
      EXPECT_EQ(1, std::count_if(ended.begin(), ended.end(),
                                 [&](const auto& c) { return c.message == kInjected; }));
      EXPECT_EQ(openOps().size(), leftOpen + 1);
      EXPECT_EQ(rowsOf({&d}, {&d->op_id}, d->status == 4),
                rowsOf({&o}, {&o->op_id}, o->status == 4));
    }
    EXPECT_EQ(service.finishOps(), 0);
    EXPECT_EQ(opsAndTexts(), closed);
    if (HasFailure()) break;
  }
}

// Ended operations at least `age` seconds old go (in 32-bit time); unfinished ones stay, and
// so do the detail rows of those that go.
TEST_P(RecoveryTest, CompactRemovesEndedOperationsOlderThanTheAge) {
  const int t = static_cast<int>(time(nullptr));
  for (auto [id, status, time] : std::vector<std::tuple<const char*, int, int>>{
           {"running-1901", 2, INT_MIN}, {"ancient", 3, INT_MIN + 1}, {"started-1970", 1, 0},
           {"epoch", 3, 0}, {"past", 5, t - 10}, {"future", 5, t + 1000},
           {"future-running", 2, t + 1000}, {"canceled-future", 4, t + 100000}})
    operation(id, status, time);
  // An operation exactly `age` old goes.
  op_log o;
  EXPECT_EQ(rowsOf({&o}, {&o->id}, compactedOps(o, 10, t)), (Lines{"ancient", "epoch", "past"}));
  // The age, and what stays; now - INT_MIN wraps to a time decades before 1970.
  const std::pair<int, Lines> steps[] = {
      {INT_MIN, {"1|running-1901", "3|started-1970", "4|epoch", "5|past", "6|future",
                 "7|future-running", "8|canceled-future"}},
      {0,
       {"1|running-1901", "3|started-1970", "6|future", "7|future-running", "8|canceled-future"}},
      {-3600, {"1|running-1901", "3|started-1970", "7|future-running", "8|canceled-future"}},
      {-1000000, {"1|running-1901", "3|started-1970", "7|future-running"}}};
  for (const auto& [age, left] : steps) {
    SCOPED_TRACE(age);
    sink->clear();
    EXPECT_EQ(0, failEachStatement(nullptr, [&, a = age] { return JRXOpLogLocal::compact(a); }));
    EXPECT_EQ(rowsOf({&o}, {&o->op_id, &o->id}), left);
    // Each failed run logs its failure; success is logged once, after the commit.
    Lines logged = records(1);
    ASSERT_FALSE(logged.empty());
    EXPECT_EQ(logged.back(), "compact " + std::to_string(age));
    logged.pop_back();
    EXPECT_EQ(logged, Lines(logged.size(), "Operations compact failed."));
  }
  EXPECT_EQ(fieldsOf<op_log_data>().size() + fieldsOf<op_log_env>().size() +
                fieldsOf<op_log_task>().size(),
            24u);
}

JRX_ON_EVERY_BACKEND(RecoveryTest);

}  // namespace
}  // namespace jrxtest
