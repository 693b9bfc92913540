// getOpsAfter read in parts of any size, each going on from the previous part's last place, is
// the brute-force listing of the tables (operations by time, then key; their reports by key),
// also while writers add between the parts; getOps gives the first records of that listing;
// a follower's getOpsStored gives the stored reports of key ranges.
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
    Listing(JRXEID eid = JRXEID::EID_INVALID, std::string name = "", std::string id = "",
            std::string parent = "", bool activeOnly = false, JRXTimeBounds bounds = {})
        : eid(eid), name(name), id(id), parent(parent), activeOnly(activeOnly), bounds(bounds) {}
    JRXEID eid;
    std::string name, id, parent;
    bool activeOnly, firstOnly = false, newestFirst = false;
    JRXTimeBounds bounds;
  };

  // The listing from the tables: every report of the matching operations, in listing order.
  std::vector<Key> bruteForce(const Listing& q) {
    std::set<long long> linked;  // operations with an operand link to q.eid
    op_log_env l;
    env_log e;
    for (const Lines& r : fieldsOf({&l, &e}, {&l->op_id, &l->role, &e->eid}, l->env_id == e->id))
      if (r[1] == "O" && r[2] == eidText(q.eid)) linked.insert(std::stoll(r[0]));
    std::map<long long, std::vector<long long>> reports;
    for (const Lines& r : fieldsOf<op_log_data>()) reports[std::stoll(r[1])].push_back(std::stoll(r[0]));
    std::vector<Key> keys;
    for (const Lines& op : fieldsOf<op_log>()) {  // key, name, id, parent, time, status
      const long long key = std::stoll(op[0]);
      const long time = std::stol(op[4]);
      if (time < q.bounds.from || time > q.bounds.to || (q.eid.isValid() && !linked.count(key)) ||
          (!q.name.empty() && op[1] != q.name) || (!q.id.empty() && op[2] != q.id) ||
          (!q.parent.empty() && op[3] != q.parent) || (q.activeOnly && op[5] != "1" && op[5] != "2"))
        continue;
      std::vector<long long>& rows = reports[key];
      std::sort(rows.begin(), rows.end());
      // Listed alone, the first report stands for its whole operation.
      if (q.firstOnly && !rows.empty()) rows = {JRXListingPlace::kWholeOperation};
      for (long long row : rows) keys.emplace_back(time, key, row);
    }
    std::sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
      const auto op = [](const Key& k) { return std::make_pair(std::get<0>(k), std::get<1>(k)); };
      if (op(a) != op(b)) return q.newestFirst ? op(a) > op(b) : op(a) < op(b);
      return std::get<2>(a) < std::get<2>(b);
    });
    return keys;
  }

  // Each record is the report its place names, or for a whole operation its first report
  // with the operation's status; read with places, as reported: the executing node, and no
  // stand-in for operands none named.
  static void expectReportsOfPlaces(const std::vector<JRXRequestProgressData>& records,
                                    const std::vector<JRXListingPlace>& places,
                                    bool asReported = true) {
    ASSERT_EQ(records.size(), places.size());
    for (size_t i = 0; i < places.size(); ++i) {
      op_log_data d;
      op_log o;
      const bool whole = places[i].report == JRXListingPlace::kWholeOperation;
      const Lines rows = rowsOf({&d, &o},
                                {&d->data_id, &d->time, &d->progress,
                                 whole ? &o->status : &d->status, &o->id, &o->time, &d->info},
                                d->op_id == o->op_id && o->op_id == places[i].id &&
                                    (whole ? d->data_id > 0 : d->data_id == places[i].report));
      ASSERT_FALSE(rows.empty());
      EXPECT_EQ(rows[0].substr(rows[0].find('|') + 1),
                std::to_string(records[i].time) + "|" + std::to_string(records[i].progress) +
                    "|" + std::to_string(records[i].status) + "|" + records[i].id + "|" +
                    std::to_string(places[i].time) + "|" +
                    escaped(infoText(records[i].info) + '\0'));
      if (!asReported) continue;
      EXPECT_EQ(eidText(records[i].eid), eidText(kNode));
      EXPECT_EQ(records[i].operands.count(kLocal), 0u);
    }
  }

  static std::vector<JRXListingPlace> placesOf(const std::vector<Key>& keys) {
    std::vector<JRXListingPlace> places(keys.size());
    for (size_t i = 0; i < keys.size(); ++i)
      std::tie(places[i].time, places[i].id, places[i].report) = keys[i];
    return places;
  }

  // The listing in parts of random sizes, a third of them places alone; `between` runs after
  // each part.
  std::vector<Key> inParts(const Listing& q, std::mt19937& rng,
                           const std::function<void()>& between = nullptr) {
    JRXOpLogLocal service(nullptr);
    std::vector<Key> keys;
    JRXListingPlace place;
    for (bool placed = false;; placed = true) {
      const unsigned part = 1 + rng() % (rng() % 4 == 0 ? 1200 : 90);
      const bool placesOnly = rng() % 3 == 0;
      std::vector<JRXRequestProgressData> records;
      std::vector<JRXListingPlace> places;
      EXPECT_EQ(service.getOpsAfter(placesOnly ? nullptr : &records, &places,
                                    placed ? &place : nullptr, q.eid, q.name, q.id, q.parent,
                                    q.firstOnly, q.activeOnly, part, q.newestFirst, q.bounds),
                0);
      EXPECT_LE(places.size(), std::min(part, 1000u));
      for (const JRXListingPlace& p : places) keys.emplace_back(p.time, p.id, p.report);
      if (!placesOnly) expectReportsOfPlaces(records, places);
      if (places.size() < std::min(part, 1000u) || HasFailure()) return keys;
      place = places.back();
      if (between) between();
    }
  }

  // Operations at `seconds` distinct times from t0, created out of time order, with up to
  // four reports each; every third names kVm1 as its operand, every fourth has a parent.
  void randomLog(std::mt19937& rng, int operations, long t0, int seconds) {
    JRXOpLogLocal service(nullptr);
    for (int i = 0; i < operations; ++i) addOperation(rng, service, t0 + rng() % seconds);
  }

  void addOperation(std::mt19937& rng, JRXOpLogLocal& service, long time) {
    const std::string id = "op-" + std::to_string(made_++);
    JRXRequestProgressData first = report(id, rng() % 2 ? "a" : "b", 0, 0, time, id);
    if (made_ % 3 == 0) first.operands.insert(kVm1);
    if (made_ % 5 == 0) first.info.addParameter("source_env", envRef(kVm1));
    if (made_ % 4 == 0) first.parentId = "p";
    ASSERT_EQ(service.saveProgress(first), 0);
    for (int n = rng() % 5; n > 0; --n) addReport(service, id, time + rng() % 3);
  }

  void addReport(JRXOpLogLocal& service, const std::string& id, long time) {
    // Distinct texts: a repeated one would only refresh the latest report.
    const int n = ++reports_;
    ASSERT_EQ(service.saveProgress(report(id, "", n % 7 ? 2 : 3, n % 100, time,
                                          "step " + std::to_string(n))),
              0);
  }

  int made_ = 0, reports_ = 0;
};

TEST_P(GetOpsAfterTest, PartsOfAnySizeAreTheWholeListingWhateverWritersAdd) {
  const unsigned seed = randomSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  randomLog(rng, 700, kT0, 4);  // some 2000 reports, hundreds in each second
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Listing q;
    q.newestFirst = round % 2;
    q.firstOnly = round == 2 || round == 3;
    if (round == 4) q.name = "a", q.activeOnly = true;
    if (round == 5) q.eid = kVm1, q.parent = "p";
    if (round >= 6) q.bounds = {kT0 + 1, kT0 + 2};
    const std::vector<Key> expected = bruteForce(q);
    ASSERT_GT(expected.size(), round < 2 ? 1000u : round == 5 ? 10u : 200u);
    EXPECT_EQ(inParts(q, rng), expected);
    // getOps: with a limit the newest operations first, else the oldest, 1000 records at
    // most; its bounds exclude their second.
    std::vector<JRXRequestProgressData> records;
    JRXOpLogLocal service(nullptr);
    ASSERT_EQ(service.getOps(&records, q.eid, q.name, q.id, q.parent, q.firstOnly, q.activeOnly,
                             q.newestFirst ? 300 : kNoLimit, q.bounds.from ? q.bounds.from - 1 : 0,
                             q.bounds.to < kNoUpper ? q.bounds.to + 1 : kNoUpper),
              0);
    const size_t n = std::min<size_t>(q.newestFirst ? 300 : 1000, expected.size());
    expectReportsOfPlaces(records, placesOf({expected.begin(), expected.begin() + n}), false);
  }
  // Writers add operations (in the second the listing stands in, and around it) and reports
  // to operations already listed or not yet: what existed when the listing began comes
  // exactly once, in order; what is added after the listing's place comes too.
  for (bool newestFirst : {false, true}) {
    Listing q;
    q.newestFirst = newestFirst;
    const std::vector<Key> before = bruteForce(q);
    JRXOpLogLocal writer(nullptr);
    const std::vector<Key> listed = inParts(q, rng, [&] {
      for (int n = rng() % 4; n > 0; --n) addOperation(rng, writer, kT0 - 1 + rng() % 6);
      addReport(writer, "op-" + std::to_string(rng() % made_), kT0);
    });
    expectInOrderOnce(listed, bruteForce(q), before);
  }
}

// A follower asks for the reports stored under key ranges, given in any order: it learns
// every key stored there, in key order, up to its limit, and gets the records of those among
// them whose operations match its filter, each with its place.
TEST_P(GetOpsAfterTest, StoredReportsOfKeyRanges) {
  const unsigned seed = randomSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  randomLog(rng, 120, kT0, 3);
  std::vector<long long> all;
  for (const Lines& r : fieldsOf<op_log_data>()) all.push_back(std::stoll(r[0]));
  const long long third = all[all.size() / 3], half = all[all.size() / 2];
  JRXOpLogLocal service(nullptr);
  std::vector<long long> newest;
  ASSERT_EQ(service.getNewestKeys(&newest, 5), 0);
  EXPECT_EQ(newest, std::vector<long long>(all.end() - 5, all.end()));

  const struct Case {
    std::vector<JRXKeyRange> ranges;
    unsigned limit;
    Listing q;
  } cases[] = {
      {{{half, all.back()}, {0, third}}, 1000, {}},
      {{{0, all.back()}}, 25, {}},
      {{{third, half}, {half + 3, half + 3}}, 1000, {kVm1}},
      {{{0, half}}, 1000, {JRXEID::EID_INVALID, "a", "", "p"}},
      {{{0, half}}, 1000, {JRXEID::EID_INVALID, "", "op-7"}},
      {{{third, all.back()}}, 1000, {JRXEID::EID_INVALID, "", "", "", true}},
      {{{0, all.back()}}, 1000, {JRXEID::EID_INVALID, "", "", "", false, {kT0 + 1, kT0 + 1}}},
      {{{half + 1, half}}, 1000, {}},
      {{}, 1000, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    std::vector<JRXRequestProgressData> records;
    std::vector<JRXListingPlace> places;
    std::vector<long long> keys;
    ASSERT_EQ(service.getOpsStored(&records, &places, &keys, c.ranges, c.limit, c.q.eid, c.q.name,
                                   c.q.id, c.q.parent, c.q.activeOnly, c.q.bounds),
              0);
    std::vector<Key> got;
    for (const JRXListingPlace& p : places) got.emplace_back(p.time, p.id, p.report);
    expectStoredOf(all, c.ranges, c.limit, bruteForce(c.q), keys, got);
    expectReportsOfPlaces(records, places);
    EXPECT_EQ(service.answer()->root().children.size(), records.size());
  }
}

JRX_ON_EVERY_BACKEND(GetOpsAfterTest);

}  // namespace
}  // namespace jrxtest
