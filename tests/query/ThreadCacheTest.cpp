// What a thread keeps for its next uses: its own, zero at first, and given back by its owner
// when the thread ends, once, and only where it kept something.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "ASDomain.h"
#include "ASThreadCache.h"

namespace {

struct Kept {
  int* block;  // owned: given back when the thread ends
  int uses;
};
std::atomic<int> givenBack{0};
struct GiveBack {
  void ThreadEnds(Kept& k) {
    if (k.block) ++givenBack;
    delete k.block;
    k.block = nullptr;
  }
};
using Cache = ASThreadCache<Kept, GiveBack>;

// Table objects are told apart in a statement by their serials, which each thread hands out
// from blocks of its own (a cache as above): threads never hand out the same one.
TEST(ThreadCache, EachThreadHasItsOwnAndItsOwnerGivesItBack) {
  Cache::Mine().data.uses = 7;
  std::vector<unsigned long> serials[2];
  auto keep = [&](int n) {
    Cache::Slot& slot = Cache::Mine();
    EXPECT_EQ(slot.data.uses, 0);  // not the other thread's
    EXPECT_EQ(slot.data.block, nullptr);
    ASSERT_TRUE(slot.Keep());
    slot.data.block = new int(1);
    EXPECT_NE(Cache::Owned(), nullptr);
    for (int i = 0; i < 100; ++i) serials[n].push_back(ASDomain("t").Serial());
  };
  std::thread a(keep, 0), b(keep, 1);
  a.join();
  b.join();
  EXPECT_EQ(givenBack, 2);
  EXPECT_EQ(Cache::Mine().data.uses, 7);
  std::set<unsigned long> all(serials[0].begin(), serials[0].end());
  all.insert(serials[1].begin(), serials[1].end());
  EXPECT_EQ(all.size(), 200u);

  // A thread that kept nothing has no owner to run.
  std::thread c([] { ++Cache::Mine().data.uses; });
  c.join();
  EXPECT_EQ(givenBack, 2);
}

}  // namespace
