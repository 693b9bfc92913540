// What a thread keeps for its next uses: its own, zero at first, and given back by its owner
// when the thread ends, once, and only where it kept something.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include "ASThreadCache.h"
#include "ASDomain.h"

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

TEST(ThreadCache, EachThreadHasItsOwnAndItsOwnerGivesItBack) {
  givenBack = 0;
  Cache::Mine().data.uses = 7;
  auto keep = [] {
    Cache::Slot& slot = Cache::Mine();
    EXPECT_EQ(slot.data.uses, 0);  // not the other thread's
    EXPECT_EQ(slot.data.block, nullptr);
    ASSERT_TRUE(slot.Keep());
    slot.data.block = new int(1);
    EXPECT_NE(Cache::Owned(), nullptr);
  };
  std::thread a(keep), b(keep);
  a.join();
  b.join();
  EXPECT_EQ(givenBack, 2);
  EXPECT_EQ(Cache::Mine().data.uses, 7);

  // A thread that kept nothing has no owner to run.
  std::thread c([] { ++Cache::Mine().data.uses; });
  c.join();
  EXPECT_EQ(givenBack, 2);
}

// Table objects are told apart in a statement by their serials, which each thread hands out
// from blocks of its own: threads never hand out the same one.
TEST(ThreadCache, TableSerialsOfTwoThreadsNeverMeet) {
  auto serials = [](std::vector<unsigned long>& out) {
    for (int i = 0; i < 100; ++i) out.push_back(ASDomain("t").Serial());
  };
  std::vector<unsigned long> a, b;
  std::thread ta(serials, std::ref(a)), tb(serials, std::ref(b));
  ta.join();
  tb.join();
  std::set<unsigned long> all(a.begin(), a.end());
  all.insert(b.begin(), b.end());
  EXPECT_EQ(all.size(), a.size() + b.size());
}

}  // namespace
