// getEventsAfter: the events listing read in parts of any size, each going on from the place
// of the previous part's last event, is the brute-force listing of the tables (newest first,
// the last recorded first within a second), beyond getEvents' cap, with thousands of events
// in one second and writers adding events between the parts.
#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "LogDbFixture.h"

using namespace JRX;

namespace jrxtest {
namespace {

using Key = std::pair<long, long long>;  // time, key

class GetEventsAfterTest : public LogDbFixture {
 protected:
  struct Listing {
    JRXEID eid = JRXEID::EID_INVALID;
    std::string type;
    JRXTimeBounds bounds;
  };

  std::vector<Key> bruteForce(const Listing& q) {
    events_log v;
    events_log_env l;
    env_log e;
    std::vector<Key> keys;
    for (const Lines& r : fieldsOf({&v, &l, &e}, {&v->event_id, &v->time, &v->type, &e->eid},
                                   v->event_id == l->event_id && l->env_id == e->id &&
                                       l->role == "S")) {
      const long time = std::stol(r[1]);
      if (time < q.bounds.from || time > q.bounds.to) continue;
      if (!q.type.empty() && r[2] != q.type) continue;
      if (q.eid.isValid() && r[3] != eidText(q.eid)) continue;
      keys.emplace_back(time, std::stoll(r[0]));
    }
    std::sort(keys.rbegin(), keys.rend());
    return keys;
  }

  std::vector<Key> inParts(const Listing& q, std::mt19937& rng,
                           const std::function<void()>& between = nullptr) {
    JRXEventLogLocal service(nullptr);
    std::vector<Key> keys;
    JRXListingPlace place;
    bool placed = false;
    for (;;) {
      const unsigned part = 1 + rng() % (rng() % 4 == 0 ? 7000 : 400);
      const unsigned cap = JRXEventLogLocal::kMaxEvents;
      const unsigned answer = std::min(part, cap);
      std::vector<JRXEvent> events;
      std::vector<JRXListingPlace> places;
      EXPECT_EQ(service.getEventsAfter(&events, &places, placed ? &place : nullptr, q.eid, true,
                                       part, "", q.type, false, q.bounds),
                0);
      EXPECT_EQ(events.size(), places.size());
      EXPECT_LE(events.size(), answer);
      for (size_t i = 0; i < places.size(); ++i) {
        keys.emplace_back(places[i].time, places[i].id);
        EXPECT_EQ(places[i].time, events[i].time);
      }
      if (events.size() < answer || HasFailure()) return keys;
      place = places.back();
      placed = true;
      if (between) between();
    }
  }

  // Events of two sources and two types over `seconds` seconds from kT0.
  void randomEvents(std::mt19937& rng, int count, int seconds) {
    JRXEventLogLocal service(nullptr);
    for (int i = 0; i < count; ++i)
      ASSERT_EQ(service.saveEvent(event(rng() % 2 ? kNode : kVm1, kT0 + rng() % seconds,
                                        rng() % 2 ? "alert" : "notice")),
                0);
  }
};

TEST_P(GetEventsAfterTest, PartsOfAnySizeAreTheWholeListing) {
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  // Beyond the cap, most of them in one second.
  randomEvents(rng, 7000, 1);
  randomEvents(rng, 1500, 3);
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Listing q;
    if (round == 1) q.type = "alert";
    if (round == 2) q.eid = kVm1;
    if (round == 3) q.bounds = {kT0, kT0 + 1};
    const std::vector<Key> expected = bruteForce(q);
    ASSERT_GT(expected.size(), round == 0 ? 6000u : 3000u);
    const std::vector<Key> listed = inParts(q, rng);
    EXPECT_EQ(listed.size(), expected.size());
    const auto differ = std::mismatch(listed.begin(), listed.end(), expected.begin(), expected.end());
    EXPECT_TRUE(differ.first == listed.end()) << "from event " << differ.first - listed.begin();
  }
}

TEST_P(GetEventsAfterTest, WritersBetweenPartsNeitherHideNorRepeatEvents) {
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  randomEvents(rng, 1200, 3);
  const std::vector<Key> before = bruteForce({});
  const std::vector<Key> listed = inParts({}, rng, [&] { randomEvents(rng, rng() % 5, 4); });
  const std::vector<Key> after = bruteForce({});
  std::map<Key, size_t> position;
  for (size_t i = 0; i < after.size(); ++i) position[after[i]] = i;
  for (size_t i = 0; i < listed.size(); ++i) {
    ASSERT_TRUE(position.count(listed[i])) << i;
    if (i > 0) {
      ASSERT_LT(position[listed[i - 1]], position[listed[i]]) << i;
    }
  }
  const std::set<Key> seen(listed.begin(), listed.end());
  for (const Key& k : before) EXPECT_TRUE(seen.count(k)) << k.second;
}

TEST_P(GetEventsAfterTest, BoundsIncludeTheirSecondAtEitherEnd) {
  JRXEventLogLocal service(nullptr);
  for (long t : {0L, 200L, 2147483646L, 2147483647L})
    ASSERT_EQ(service.saveEvent(event(kNode, t, "t" + std::to_string(t))), 0);
  const std::tuple<long, long, Lines> cases[] = {
      {200, 200, {"t200"}},
      {0, 0, {"t0"}},
      {2147483647, 2147483647, {"t2147483647"}},
      {1, 2147483646, {"t2147483646", "t200"}},
      {0, 2147483647, {"t2147483647", "t2147483646", "t200", "t0"}},
  };
  for (const auto& [from, to, types] : cases) {
    std::vector<JRXEvent> events;
    ASSERT_EQ(service.getEventsAfter(&events, nullptr, nullptr, JRXEID::EID_INVALID, true, 100,
                                     "", "", false, {from, to}),
              0);
    Lines got;
    for (const auto& e : events) got.push_back(e.type);
    EXPECT_EQ(got, types) << from << " to " << to;
  }
}

JRX_ON_EVERY_BACKEND(GetEventsAfterTest);

}  // namespace
}  // namespace jrxtest
