#include <gtest/gtest.h>

#include "JRXLog.h"
#include "JRXRdbms.h"
#include "JRXResultCodes.h"
#include "JRXRetry.h"

using namespace JRX;

// A service call is replayed while it fails for a transient reason the framework noted, up to
// the policy's runs, after pauses that double up to the longest, each drawn from its upper
// half; any other answer or failure ends it. Work that throws is replayed alike.
TEST(Retry, OnlyTransientFailuresAreReplayedAsThePolicySays) {
  const std::shared_ptr<JRXLogSink> previous = setLogSink(std::make_shared<JRXNullLogSink>());
  JRXRetryPolicy policy;
  policy.runs = 6;
  policy.firstPause = std::chrono::milliseconds(1);
  policy.longestPause = std::chrono::milliseconds(10);
  const AException busy("busy", 5, false, AS_ERROR_CONFLICT), bad("syntax", 1);
  std::vector<std::pair<int, long long>> told;
  const JRXRetryNotice notice = [&](int run, const std::string& why, std::chrono::milliseconds p) {
    EXPECT_EQ(why, "busy");
    told.emplace_back(run, p.count());
  };
  int calls = 0;
  const auto alwaysBusy = [&] { ++calls; return onRdbmsError(busy); };
  EXPECT_EQ(kDatabaseFailure, retryService(alwaysBusy, policy, notice));
  EXPECT_EQ(calls, 6);
  ASSERT_EQ(told.size(), 5u);
  const long long least[] = {1, 1, 2, 4, 5}, most[] = {1, 2, 4, 8, 10};
  for (size_t k = 0; k < told.size(); ++k) {
    EXPECT_EQ(told[k].first, static_cast<int>(k) + 1);
    EXPECT_TRUE(told[k].second >= least[k] && told[k].second <= most[k]) << told[k].second;
  }
  const JRXRdbmsFailure last = lastRdbmsFailure();
  EXPECT_TRUE(last.code == 5 && last.transient && last.text == "busy" && last.serial > 0);

  calls = 0;
  EXPECT_EQ(7, retryService([&] { return ++calls == 1 ? onRdbmsError(busy) : 7; }, policy));
  EXPECT_EQ(calls, 2);
  calls = 0;  // the transient failure noted before this call is not the call's
  EXPECT_EQ(kDatabaseFailure, retryService([&] { ++calls; return kDatabaseFailure; }, policy));
  EXPECT_EQ(calls, 1);

  calls = 0;
  EXPECT_EQ(3, retryRdbms([&] { return ++calls < 3 ? throw busy : calls; }, policy));
  calls = 0;
  policy.runs = 2;
  EXPECT_THROW(retryRdbms([&] { ++calls; throw busy; }, policy), AException);
  EXPECT_EQ(calls, 2);
  EXPECT_THROW(retryRdbms([&] { ++calls; throw bad; }, policy), AException);
  EXPECT_EQ(calls, 3);
  setLogSink(previous);
}
