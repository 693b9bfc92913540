// getOpsAfter: a listing read in parts of any size, each going on from the place of the
// previous part's last record, is the brute-force listing of the tables (operations by time,
// then key; their reports by key), however many records share a second, beyond getOps' cap,
// and while writers add operations and reports between the parts. Time bounds include their
// own second, at both ends of the 32-bit range.
#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "LogDbFixture.h"

using namespace JRX;

namespace jrxtest {
namespace {

using Key = std::tuple<long, long long, long long>;  // operation's time, its key, report's key

class GetOpsAfterTest : public LogDbFixture {
 protected:
  struct Listing {
    JRXEID eid = JRXEID::EID_INVALID;
    std::string name;
    bool firstOnly = false, newestFirst = false;
    JRXTimeBounds bounds;
  };

  // The listing from the tables: every report of the matching operations, in listing order.
  std::vector<Key> bruteForce(const Listing& q) {
    std::map<long long, std::pair<long, std::string>> ops;  // key: time, name
    for (const Lines& r : fieldsOf<op_log>())
      ops[std::stoll(r[0])] = {std::stol(r[4]), r[1]};
    std::set<long long> linked;  // operations with an operand link to q.eid
    op_log_env l;
    env_log e;
    for (const Lines& r : fieldsOf({&l, &e}, {&l->op_id, &l->role, &e->eid}, l->env_id == e->id))
      if (r[1] == "O" && r[2] == eidText(q.eid)) linked.insert(std::stoll(r[0]));
    std::map<long long, std::vector<long long>> reports;
    for (const Lines& r : fieldsOf<op_log_data>()) reports[std::stoll(r[1])].push_back(std::stoll(r[0]));
    std::vector<Key> keys;
    for (const auto& [id, op] : ops) {
      if (op.first < q.bounds.from || op.first > q.bounds.to) continue;
      if (!q.name.empty() && op.second != q.name) continue;
      if (q.eid.isValid() && !linked.count(id)) continue;
      std::vector<long long>& rows = reports[id];
      std::sort(rows.begin(), rows.end());
      // Listed alone, the first report stands for its whole operation.
      if (q.firstOnly && !rows.empty()) rows = {JRXListingPlace::kWholeOperation};
      for (long long row : rows) keys.emplace_back(op.first, id, row);
    }
    std::sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
      const auto op = [](const Key& k) { return std::make_pair(std::get<0>(k), std::get<1>(k)); };
      if (op(a) != op(b)) return q.newestFirst ? op(a) > op(b) : op(a) < op(b);
      return std::get<2>(a) < std::get<2>(b);
    });
    return keys;
  }

  // The listing in parts of random sizes; `between` runs after each part.
  std::vector<Key> inParts(const Listing& q, std::mt19937& rng,
                           const std::function<void()>& between = nullptr) {
    JRXOpLogLocal service(nullptr);
    std::vector<Key> keys;
    JRXListingPlace place;
    bool placed = false;
    for (;;) {
      const unsigned part = 1 + rng() % (rng() % 4 == 0 ? 1200 : 90);
      std::vector<JRXRequestProgressData> records;
      std::vector<JRXListingPlace> places;
      EXPECT_EQ(service.getOpsAfter(&records, &places, placed ? &place : nullptr, q.eid, q.name,
                                    "", "", q.firstOnly, false, part, q.newestFirst, q.bounds),
                0);
      EXPECT_EQ(records.size(), places.size());
      EXPECT_LE(records.size(), std::min(part, 1000u));
      for (size_t i = 0; i < places.size(); ++i) {
        const JRXListingPlace& p = places[i];
        keys.emplace_back(p.time, p.id, p.report);
        // The record is the report the place names.
        op_log_data d;
        const Lines row = rowsOf({&d}, {&d->time, &d->progress}, d->data_id == p.report);
        if (!q.firstOnly) {
          EXPECT_EQ(row, Lines{std::to_string(records[i].time) + "|" +
                               std::to_string(records[i].progress)});
        }
      }
      if (records.size() < std::min(part, 1000u)) return keys;
      place = places.back();
      placed = true;
      if (between) between();
      if (HasFailure()) return keys;
    }
  }

  // Operations at few distinct times, created out of time order, with up to four reports
  // each; every third names kVm1 as its operand. Returns how many were made.
  int randomLog(std::mt19937& rng, int operations, long t0, int seconds) {
    JRXOpLogLocal service(nullptr);
    for (int i = 0; i < operations; ++i) addOperation(rng, service, t0 + rng() % seconds);
    return operations;
  }

  void addOperation(std::mt19937& rng, JRXOpLogLocal& service, long time) {
    const std::string id = "op-" + std::to_string(made_++);
    JRXRequestProgressData first = report(id, rng() % 2 ? "a" : "b", 0, 0, time, id);
    if (made_ % 3 == 0) first.operands.insert(kVm1);
    ASSERT_EQ(service.saveProgress(first), 0);
    for (int n = rng() % 5; n > 0; --n) addReport(service, id, time + rng() % 3);
  }

  void addReport(JRXOpLogLocal& service, const std::string& id, long time) {
    // Distinct texts: a repeated one would only refresh the latest report.
    const int n = ++reports_;
    ASSERT_EQ(service.saveProgress(report(id, "", 2, n % 100, time, "step " + std::to_string(n))),
              0);
  }

  int made_ = 0, reports_ = 0;
};

TEST_P(GetOpsAfterTest, PartsOfAnySizeAreTheWholeListing) {
  const char* given = std::getenv("JRX_TEST_SEED");  // to replay a failure
  const unsigned seed = given ? std::stoul(given) : std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  randomLog(rng, 700, kT0, 4);  // some 2000 reports, hundreds in each second

  for (int round = 0; round < 8; ++round) {
    Listing q;
    q.newestFirst = round % 2;
    q.firstOnly = round == 2 || round == 3;
    if (round == 4) q.name = "a";
    if (round == 5) q.eid = kVm1;
    if (round >= 6) {
      q.bounds.from = kT0 + 1;
      q.bounds.to = kT0 + 2;
    }
    SCOPED_TRACE("round " + std::to_string(round));
    const std::vector<Key> expected = bruteForce(q);
    ASSERT_GT(expected.size(), round < 2 ? 1000u : 200u);
    const std::vector<Key> listed = inParts(q, rng);
    EXPECT_EQ(listed.size(), expected.size());
    const auto differ = std::mismatch(listed.begin(), listed.end(), expected.begin(), expected.end());
    EXPECT_TRUE(differ.first == listed.end()) << "from record " << differ.first - listed.begin();
  }
}

// Writers add operations (in the second the listing stands in, and around it) and reports to
// operations already listed or not yet: what existed when the listing began comes exactly
// once, in order; what is added after the listing's place comes too.
TEST_P(GetOpsAfterTest, WritersBetweenPartsNeitherHideNorRepeatRecords) {
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  randomLog(rng, 300, kT0, 3);
  for (bool newestFirst : {false, true}) {
    Listing q;
    q.newestFirst = newestFirst;
    const std::vector<Key> before = bruteForce(q);
    JRXOpLogLocal writer(nullptr);
    const std::vector<Key> listed = inParts(q, rng, [&] {
      for (int n = rng() % 4; n > 0; --n) addOperation(rng, writer, kT0 - 1 + rng() % 5);
      addReport(writer, "op-" + std::to_string(rng() % made_), kT0);
    });
    const std::vector<Key> after = bruteForce(q);
    // In order, without repeats: the listing is a subsequence of the final brute force.
    std::map<Key, size_t> position;
    for (size_t i = 0; i < after.size(); ++i) position[after[i]] = i;
    for (size_t i = 0; i < listed.size(); ++i) {
      ASSERT_TRUE(position.count(listed[i])) << i;
      if (i > 0) {
        ASSERT_LT(position[listed[i - 1]], position[listed[i]]) << i;
      }
    }
    std::set<Key> seen(listed.begin(), listed.end());
    EXPECT_EQ(seen.size(), listed.size());
    for (const Key& k : before) EXPECT_TRUE(seen.count(k)) << std::get<1>(k);
  }
}

TEST_P(GetOpsAfterTest, BoundsIncludeTheirSecondAtEitherEnd) {
  JRXOpLogLocal service(nullptr);
  const long times[] = {0, 1, 200, 201, 2147483646, 2147483647};
  for (long t : times)
    ASSERT_EQ(service.saveProgress(report("t" + std::to_string(t), "n", 0, 0, t, "x")), 0);
  const std::tuple<long, long, Lines> cases[] = {
      {200, 200, {"t200"}},
      {0, 0, {"t0"}},
      {1, 200, {"t1", "t200"}},
      {2147483647, 2147483647, {"t2147483647"}},
      {201, 2147483646, {"t201", "t2147483646"}},
      {0, 2147483647, {"t0", "t1", "t200", "t201", "t2147483646", "t2147483647"}},
      {201, 200, {}},
  };
  for (const auto& [from, to, ids] : cases) {
    std::vector<JRXRequestProgressData> records;
    ASSERT_EQ(service.getOpsAfter(&records, nullptr, nullptr, JRXEID::EID_INVALID, "", "", "",
                                  false, false, 100, false, {from, to}),
              0);
    Lines got;
    for (const auto& r : records) got.push_back(r.id);
    EXPECT_EQ(got, ids) << from << " to " << to;
  }
}

JRX_ON_EVERY_BACKEND(GetOpsAfterTest);

}  // namespace
}  // namespace jrxtest
