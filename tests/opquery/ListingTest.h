// The listings both logs give the same way: one read in parts of any size, each going on from
// the last place of the one before, and a follower's reads of the rows stored under key ranges.
// `Key` is what a place says of a row, its row key last; `Filter` is a test's listing filter.
#pragma once

#include "LogDbFixture.h"

namespace jrxtest {

template <class Key, class Filter>
class ListingTest : public LogDbFixture {
 protected:
  static std::vector<Key> keysOf(const std::vector<JRX::JRXListingPlace>& places) {
    std::vector<Key> keys;
    for (const JRX::JRXListingPlace& p : places) {
      if constexpr (std::tuple_size<Key>::value == 3) keys.emplace_back(p.time, p.id, p.report);
      else keys.emplace_back(p.time, p.id);
    }
    return keys;
  }

  // The keys of a listing read in parts of random sizes up to `most`, a third of them places
  // alone: `read(part, after, placesOnly)` reads one part and checks its records; `between`
  // runs after each part that came full (`cap` records at most).
  template <class Read>
  std::vector<Key> inParts(std::mt19937& rng, unsigned most, unsigned cap, Read read,
                           const std::function<void()>& between) {
    std::vector<Key> keys;
    JRX::JRXListingPlace place;
    for (bool placed = false;; placed = true) {
      const unsigned part = 1 + rng() % (rng() % 4 == 0 ? most : most / 15);
      const std::vector<JRX::JRXListingPlace> places =
          read(part, placed ? &place : nullptr, rng() % 3 == 0);
      EXPECT_LE(places.size(), std::min(part, cap));
      const std::vector<Key> more = keysOf(places);
      keys.insert(keys.end(), more.begin(), more.end());
      if (places.size() < std::min(part, cap) || HasFailure()) return keys;
      place = places.back();
      if (between) between();
    }
  }

  // Keys of the rows of `Table`, the newest ones, then reads of ranges given out of order, a
  // limit below their count, a reversed range and none, and two ranges under each of
  // `filters`: `read(ranges, limit, filter, keys, got)` reads one, giving the keys it learnt
  // and those of the rows it got; `listing(filter)` is the brute-force listing.
  template <class Table, class Service, class Listing, class Read>
  void expectKeyRangeReads(Service& service, const std::vector<Filter>& filters,
                           Listing listing, Read read) {
    std::vector<long long> all, newest;
    for (const Lines& r : fieldsOf<Table>()) all.push_back(std::stoll(r[0]));
    ASSERT_EQ(service.getNewestKeys(&newest, 5), 0);
    EXPECT_EQ(newest, std::vector<long long>(all.end() - 5, all.end()));
    using Ranges = std::vector<JRX::JRXKeyRange>;
    const long long third = all[all.size() / 3], half = all[all.size() / 2];
    std::vector<std::tuple<Ranges, unsigned, Filter>> cases{
        {Ranges{{half, all.back()}, {0, third}}, 1000, Filter()},
        {Ranges{{0, all.back()}}, 25, Filter()},
        {Ranges{{half + 1, half}}, 1000, Filter()},
        {Ranges{}, 1000, Filter()}};
    for (const Filter& f : filters)
      cases.emplace_back(Ranges{{third, half}, {half + 2, all.back()}}, 1000, f);
    for (size_t i = 0; i < cases.size(); ++i) {
      SCOPED_TRACE(i);
      const auto& [ranges, limit, filter] = cases[i];
      const std::vector<Key> listed = listing(filter);
      std::vector<long long> keys;
      std::vector<Key> got;
      read(ranges, limit, filter, keys, got);
      expectStoredOf(all, ranges, limit, listed, keys, got);
    }
  }
};

}  // namespace jrxtest
