// What a follower remembers of the keys it handled: a missing key waited for as long as its
// patience, then given up, and the text of a follower's cursor read back only as written.
#include <gtest/gtest.h>

#include <stdexcept>

#include "Follow.h"

namespace jrxlog {
namespace {

using Clock = FollowState::Clock;
using Ranges = std::vector<std::pair<long long, long long>>;

const std::chrono::seconds kPatience(60);
const long long kBeyond = 9223372036854775807LL;

Ranges wanted(const FollowState& s) {
  Ranges r;
  for (const auto& range : s.wanted()) r.emplace_back(range.first, range.last);
  return r;
}

TEST(FollowPatience, AGapThatFillsInTimeIsHandledOnce) {
  const Clock::time_point t0;
  FollowState s;
  for (long long key : {1, 2, 4}) EXPECT_TRUE(s.handle(key));
  s.settle(t0, kPatience);
  s.settle(t0 + kPatience - std::chrono::seconds(1), kPatience);
  EXPECT_EQ(wanted(s), (Ranges{{3, 3}, {5, kBeyond}}));
  EXPECT_EQ(s.text(), "2:4");
  EXPECT_TRUE(s.handle(3));  // the late row: printed
  EXPECT_FALSE(s.handle(3));  // and only once
  EXPECT_EQ(s.text(), "4");
  EXPECT_EQ(wanted(s), (Ranges{{5, kBeyond}}));
}

TEST(FollowPatience, AGapGivenUpAfterItsPatienceEachByItsOwnClock) {
  const Clock::time_point t0;
  const auto half = kPatience / 2;
  FollowState s;
  for (long long key : {1, 3}) s.handle(key);
  s.settle(t0, kPatience);
  s.handle(5);  // key 4 goes missing half a patience later
  s.settle(t0 + half, kPatience);
  s.settle(t0 + kPatience - std::chrono::nanoseconds(1), kPatience);
  EXPECT_EQ(s.text(), "1:3:5");
  s.settle(t0 + kPatience, kPatience);
  EXPECT_EQ(s.text(), "3:5");  // 2 given up, 4 still waited for
  EXPECT_EQ(wanted(s), (Ranges{{4, 4}, {6, kBeyond}}));
  EXPECT_FALSE(s.handle(2));  // a row that shows after it was given up is not printed
  s.settle(t0 + kPatience + half, kPatience);
  EXPECT_EQ(s.text(), "5");
  EXPECT_EQ(wanted(s), (Ranges{{6, kBeyond}}));

  // A follower restarted from its cursor waits anew for what was missing when it stopped.
  FollowState resumed = FollowState::parse("5:7:9-12");
  resumed.settle(t0 + 10 * kPatience, kPatience);
  EXPECT_EQ(resumed.text(), "5:7:9-12");
  EXPECT_TRUE(resumed.handle(8));
  EXPECT_EQ(resumed.text(), "5:7-12");
  resumed.settle(t0 + 11 * kPatience, kPatience);
  EXPECT_EQ(resumed.text(), "12");
}

TEST(FollowCursorText, ReadBackOnlyAsWritten) {
  for (const char* text : {"0", "5", "5:7", "5:7-9:11", "9223372036854775806",
                           "1:3-9223372036854775806"}) {
    EXPECT_EQ(FollowState::parse(text).text(), text);
    EXPECT_EQ(wanted(FollowState::parse(FollowState::parse(text).text())),
              wanted(FollowState::parse(text)));
  }
  const std::string hostile[] = {
      "", ":", "5:", ":5", "5::7", "-1", " 5", "5 ", "+5", "05", "5:07", "0x10", "1e3", "5x",
      "5:7-", "5:-7", "5:7-6", "5:7-9-10", "5:6", "5:4", "5:7:8", "5:9:7", "5:7-9:9",
      "9223372036854775807", "0:9223372036854775807", "0:1-9223372036854775807",
      "99999999999999999999", "18446744073709551616", "999999999999999999999999999999",
      "5:7\n", std::string("5\0:7", 4)};
  for (const std::string& text : hostile) {
    EXPECT_THROW(FollowState::parse(text), std::invalid_argument) << text;
  }
}

}  // namespace
}  // namespace jrxlog
