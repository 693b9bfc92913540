#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "ASDomain.h"

namespace {

// Table objects are told apart in a statement by their serials, which each thread hands out
// from blocks of its own: threads never hand out the same one.
TEST(Serials, TwoThreadsNeverHandOutTheSameOne) {
  std::set<unsigned long> serials[2];
  auto make = [&](int n) {
    for (int i = 0; i < 100; ++i) serials[n].insert(ASDomain("t").Serial());
  };
  std::thread a(make, 0), b(make, 1);
  a.join();
  b.join();
  serials[0].insert(serials[1].begin(), serials[1].end());
  EXPECT_EQ(serials[0].size(), 200u);
}

}  // namespace
