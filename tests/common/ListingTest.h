// The listings both logs give alike, against a brute-force listing of the tables: in parts,
// each going on from the last place of the one before, and a follower's reads of key ranges.
// `Key` is what a place says of a row, the row's key last; `Record` what the service gives.
#pragma once

#include "LogDbFixture.h"

namespace jrxtest {

template <class Key, class Filter, class Record>
class ListingTest : public LogDbFixture {
 protected:
  using Places = std::vector<JRX::JRXListingPlace>;
  using Ranges = std::vector<JRX::JRXKeyRange>;
  using Records = std::vector<Record>;

  virtual std::vector<Key> bruteForce(const Filter& q) = 0;
  // Each record is the one its key names.
  virtual void expectRecords(const Records& records, const std::vector<Key>& keys) = 0;
  // The service's listing after a place (null: from the start), and its rows of key ranges.
  virtual int readAfter(const Filter& q, unsigned part, const JRX::JRXListingPlace* after,
                        Records* records, Places& places) = 0;
  virtual int readStored(const Filter& q, const Ranges& ranges, unsigned limit, Records& records,
                         Places& places, std::vector<long long>& keys) = 0;

  static std::vector<Key> keysOf(const Places& places) {
    std::vector<Key> keys;
    for (const JRX::JRXListingPlace& p : places) {
      if constexpr (std::tuple_size<Key>::value == 3) keys.emplace_back(p.time, p.id, p.report);
      else keys.emplace_back(p.time, p.id);
    }
    return keys;
  }

  // Parts of random sizes up to `most`, a third of them places alone; `between` runs after
  // each part that came full (`cap` records at most).
  std::vector<Key> inParts(const Filter& q, std::mt19937& rng, unsigned most, unsigned cap,
                           const std::function<void()>& between = nullptr) {
    Places all;
    JRX::JRXListingPlace place;
    for (bool placed = false;; placed = true) {
      const unsigned part = 1 + rng() % (rng() % 4 == 0 ? most : most / 15);
      const bool placesOnly = rng() % 3 == 0;
      Records records;
      Places places;
      EXPECT_EQ(readAfter(q, part, placed ? &place : nullptr, placesOnly ? nullptr : &records,
                          places),
                0);
      if (!placesOnly) expectRecords(records, keysOf(places));
      EXPECT_LE(places.size(), std::min(part, cap));
      all.insert(all.end(), places.begin(), places.end());
      if (places.size() < std::min(part, cap) || HasFailure()) return keysOf(all);
      place = places.back();
      if (between) between();
    }
  }

  // The keys of `Table`'s rows: the newest ones, then reads of ranges given out of order, a
  // limit below their count, a reversed range and none, and two ranges under each filter.
  template <class Table, class Service>
  void expectKeyRangeReads(Service& service, const std::vector<Filter>& filters) {
    std::vector<long long> all, newest;
    for (const Lines& r : fieldsOf<Table>()) all.push_back(std::stoll(r[0]));
    ASSERT_EQ(service.getNewestKeys(&newest, 5), 0);
    EXPECT_EQ(newest, std::vector<long long>(all.end() - 5, all.end()));
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
      const std::vector<Key> listing = bruteForce(filter);
      Records records;
      Places places;
      std::vector<long long> keys;
      EXPECT_EQ(readStored(filter, ranges, limit, records, places, keys), 0);
      expectRecords(records, keysOf(places));
      EXPECT_EQ(service.answer()->root().children.size(), records.size());
      expectStoredOf(all, ranges, limit, listing, keys, keysOf(places));
    }
  }
};

}  // namespace jrxtest
