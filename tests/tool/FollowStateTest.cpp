// What a follower remembers of the keys it handled: a missing key waited for as long as its
// patience, then given up, and the text of a follower's cursor read back only as written.
#include <gtest/gtest.h>

#include <stdexcept>

#include "Follow.h"

namespace jrxlog {
namespace {

using Ranges = std::vector<std::pair<long long, long long>>;
const std::chrono::seconds kPatience(60);
const long long kBeyond = 9223372036854775807LL;

Ranges wanted(const FollowState& s) {
  Ranges r;
  for (const auto& range : s.wanted()) r.emplace_back(range.first, range.last);
  return r;
}

// A gap that fills within the patience is handled once; one that does not is given up after
// it, each by the clock of when it was first seen missing, and the cursor's text moves on.
TEST(FollowPatience, GapsAreWaitedForThenGivenUp) {
  const FollowState::Clock::time_point t0;
  const auto half = kPatience / 2;
  FollowState s;
  for (long long key : {1, 3, 4, 6}) EXPECT_TRUE(s.handle(key));
  s.settle(t0, kPatience);
  EXPECT_EQ(wanted(s), (Ranges{{2, 2}, {5, 5}, {7, kBeyond}}));
  s.handle(9);  // 7 and 8 go missing half a patience later
  s.settle(t0 + half, kPatience);
  s.settle(t0 + kPatience - std::chrono::nanoseconds(1), kPatience);
  EXPECT_TRUE(s.handle(5));  // a late row within the patience: printed once
  EXPECT_FALSE(s.handle(5));
  EXPECT_EQ(s.text(), "1:3-6:9");
  s.settle(t0 + kPatience, kPatience);
  EXPECT_EQ(s.text(), "6:9");  // 2 given up, 8 still waited for
  EXPECT_EQ(wanted(s), (Ranges{{7, 8}, {10, kBeyond}}));
  EXPECT_FALSE(s.handle(2));  // a row that shows after it was given up is not printed
  s.settle(t0 + kPatience + half, kPatience);
  EXPECT_EQ(s.text(), "9");

  // A follower restarted from its cursor waits anew for what was missing when it stopped.
  FollowState resumed = FollowState::parse("5:7:9-12");
  resumed.settle(t0 + 10 * kPatience, kPatience);
  EXPECT_EQ(resumed.text(), "5:7:9-12");
  resumed.settle(t0 + 11 * kPatience, kPatience);
  EXPECT_EQ(resumed.text(), "12");
}

TEST(FollowCursorText, ReadBackOnlyAsWritten) {
  for (const char* text : {"0", "5:7", "5:7-9:11", "1:3-9223372036854775806"})
    EXPECT_EQ(FollowState::parse(text).text(), text);
  const std::string hostile[] = {
      "", ":", "5:", ":5", "5::7", "-1", " 5", "5 ", "+5", "05", "5:07", "0x10", "1e3", "5x",
      "5:7-", "5:-7", "5:7-6", "5:7-9-10", "5:6", "5:4", "5:7:8", "5:9:7", "5:7-9:9",
      "9223372036854775807", "0:9223372036854775807", "0:1-9223372036854775807",
      "99999999999999999999", "999999999999999999999999999999", "5:7\n", std::string("5\0:7", 4)};
  for (const std::string& text : hostile)
    EXPECT_THROW(FollowState::parse(text), std::invalid_argument) << text;
}

}  // namespace
}  // namespace jrxlog
