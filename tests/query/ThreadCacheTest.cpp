// Table objects are told apart in a statement by their serials, which each thread hands out
// from a block it keeps: threads never hand out the same one.
#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "ASDomain.h"

TEST(ThreadCache, TableSerialsOfTwoThreadsNeverMeet) {
  std::set<unsigned long> serials;
  const auto make = [&] {
    for (int i = 0; i < 100; ++i) serials.insert(ASDomain("t").Serial());
  };
  std::thread other(make);
  other.join();
  make();
  EXPECT_EQ(serials.size(), 200u);
}
