// The estimated end of running operations from histories stored as the agent stores them
// (saveProgress, finishOps): steady progress, a stall, a restart, and no history of its own.
#include <optional>

#include "EstimateQueries.h"
#include "LogDbFixture.h"

using namespace JRX;

namespace jrxtest {
namespace {

class EstimateTest : public LogDbFixture {
 protected:
  const long T = kT0;

  void say(const std::string& id, const std::string& name, int status, int progress, long time,
           const std::string& text) {
    JRXOpLogLocal log(nullptr);
    ASSERT_EQ(0, log.saveProgress(report(id, name, status, progress, time, text)));
  }

  // A report every `every` seconds from 0 to `to` percent by `step`, each with a text of its
  // own (a new row each), the first one starting the operation.
  void steady(const std::string& id, int to, int step, long every) {
    for (int p = 0; p <= to; p += step)
      say(id, "copy", p == 0 ? 1 : 0, p, T + p / step * every, "at " + std::to_string(p));
  }

  // A run of `name` that ended done `seconds` after it began.
  void ended(const std::string& id, const std::string& name, long begin, long seconds) {
    say(id, name, 1, 0, begin, "queued");
    say(id, name, 3, 100, begin + seconds, "done");
  }

  static std::optional<long> eta(const std::string& id, long now) {
    jrxlog::OperationEstimates estimates(now);
    const auto& e = estimates.of(id);
    EXPECT_TRUE(e.running) << id;
    return e.end;
  }
};

// The rest at the pace so far, until the next report is late: then the silence counts as time
// without progress, and the estimate moves later faster than the time passes.
TEST_P(EstimateTest, SteadyProgressGoesOnAtItsPaceUntilItStalls) {
  steady("op", 50, 10, 10);  // 0 % at T ... 50 % at T+50; mean gap 10 s
  EXPECT_EQ(eta("op", T + 50), T + 100);
  EXPECT_EQ(eta("op", T + 59), T + 100);  // the next report is not late yet
  const long at1 = T + 50 + 10 + 100, at2 = at1 + 100;
  const std::optional<long> first = eta("op", at1), second = eta("op", at2);
  EXPECT_EQ(first, T + 50 + 100 + 50 * (50 + 100) / 50);
  EXPECT_GT(second.value_or(0) - first.value_or(0), at2 - at1);
  // Progress again: the estimate comes back to the pace.
  say("op", "copy", 0, 60, at2, "at 60");
  EXPECT_EQ(eta("op", at2), at2 + (40 * (at2 - T) + 59) / 60);  // whole seconds, up

  say("folded", "copy", 1, 0, T, "queued");
  for (int p = 10; p <= 50; p += 10) say("folded", "copy", 0, p, T + p, "copying");
  EXPECT_EQ(eta("folded", T + 50), T + 100);
  // Never in the past: one that should have ended is expected now.
  steady("late", 99, 33, 33);  // 99 % at T+99
  EXPECT_EQ(eta("late", T + 100), T + 100);
  EXPECT_EQ(eta("late", T + 140), T + 140);
}

// A restart closes the run (an ended row at 100 %); the run reported after it is measured
// alone, not from the first report of the operation nor across the closing row.
TEST_P(EstimateTest, ARestartedOperationIsMeasuredFromItsNewRun) {
  steady("op", 80, 20, 100);  // 0.2 % a second before the restart
  ASSERT_EQ(0, JRXOpLogLocal(nullptr).finishOps());
  say("op", "copy", 0, 10, T + 5000, "resumed");
  // One report since: no pace of its own yet, and no ended run of the name to go by.
  EXPECT_EQ(eta("op", T + 5000), std::nullopt);
  say("op", "copy", 0, 20, T + 5010, "resumed, copying");  // 1 % a second now
  EXPECT_EQ(eta("op", T + 5010), T + 5010 + 80);
}

// Without a pace of its own, the median done run of its name (not failed ones, nor other names)
// stands in from its first report, until that has passed.
TEST_P(EstimateTest, WithoutHistoryRunsOfTheSameNameStandIn) {
  say("new", "backup", 1, 0, T + 1000, "queued");
  EXPECT_EQ(eta("new", T + 1000), std::nullopt);  // nothing to go by

  ended("b1", "backup", T, 100);
  ended("b2", "backup", T + 10, 400);
  ended("b3", "backup", T + 20, 120);
  say("b4", "backup", 1, 0, T + 30, "queued");
  say("b4", "backup", 5, 0, T + 31, "failed at once");
  ended("other", "restore", T, 5);
  EXPECT_EQ(eta("new", T + 1000), T + 1000 + 120);
  EXPECT_EQ(eta("new", T + 1120), T + 1120);
  EXPECT_EQ(eta("new", T + 1121), std::nullopt);  // it has outlasted its kind

  // The newest runs are taken first: the one of the last hour before one of a year ago.
  ended("old", "sync", T + 1000 - 400 * 86400, 999);
  ended("recent", "sync", T + 900, 50);
  EXPECT_EQ(jrxlog::peerDurations("sync", T + 1000, 1), std::vector<long>{50});
  EXPECT_EQ(jrxlog::peerDurations("sync", T + 1000).size(), 2u);

  // An operation that is not running has no estimate.
  EXPECT_FALSE(jrxlog::OperationEstimates(T + 1000).of("b1").end);
}

// Pure rules at the edges the log does not produce on its own.
TEST(Estimates, EdgesOfTheRules) {
  using jrxlog::estimateEnd;
  // Percents outside 0..100 are taken at the nearest end; the newest row ended: none.
  EXPECT_EQ(estimateEnd({{110, 150, 2}, {100, -20, 1}}, 100, {}, 110), 110);
  EXPECT_EQ(estimateEnd({{200, 100, 3}, {100, 10, 2}}, 100, {50}, 200), std::nullopt);
  // No progress between rows (or no time between them): the peers, else none.
  EXPECT_EQ(estimateEnd({{110, 20, 2}, {100, 20, 1}}, 100, {}, 110), std::nullopt);
  EXPECT_EQ(estimateEnd({{110, 20, 2}, {100, 20, 1}}, 100, {100}, 110), 190);
  EXPECT_EQ(estimateEnd({{100, 30, 2}, {100, 20, 1}}, 100, {}, 100), std::nullopt);
  // An estimate beyond the log's 32-bit times is none.
  EXPECT_EQ(estimateEnd({{2147483000, 1, 2}, {0, 0, 1}}, 0, {}, 2147483000), std::nullopt);
  EXPECT_EQ(jrxlog::typicalDuration({5, 1, 9, 7}), 5);
}

JRX_ON_EVERY_BACKEND(EstimateTest);

}  // namespace
}  // namespace jrxtest
