// Readers that go on where they stopped: getEventsAfter read in parts of any size, each going
// on from the place of the previous part's last event (read with its events or alone), is
// the brute-force listing of the tables (newest first, the last recorded first within a
// second), beyond getEvents' cap, with thousands of events in one second and writers adding
// events between the parts; a follower's getEventsStored gives the stored events of key
// ranges.
#include <algorithm>
#include <random>

#include "LogDbFixture.h"

using namespace JRX;

namespace jrxtest {
namespace {

using Key = std::pair<long, long long>;  // time, key

class GetEventsAfterTest : public LogDbFixture {
 protected:
  struct Listing {
    Listing(JRXEID eid = JRXEID::EID_INVALID, std::string category = "", std::string type = "",
            JRXTimeBounds bounds = {}, bool asSource = true)
        : eid(eid), category(category), type(type), bounds(bounds), asSource(asSource) {}
    JRXEID eid;
    std::string category, type;
    JRXTimeBounds bounds;
    bool asSource;
  };

  std::vector<Key> bruteForce(const Listing& q) {
    events_log v;
    events_log_env l;
    env_log e;
    std::vector<Key> keys;
    for (const Lines& r : fieldsOf({&v, &l, &e}, {&v->event_id, &v->time, &v->category, &v->type, &e->eid},
                                   v->event_id == l->event_id && l->env_id == e->id &&
                                       l->role == (q.asSource ? "S" : "O"))) {
      const long time = std::stol(r[1]);
      if (time < q.bounds.from || time > q.bounds.to || (!q.category.empty() && r[2] != q.category) ||
          (!q.type.empty() && r[3] != q.type) || (q.eid.isValid() && r[4] != eidText(q.eid)))
        continue;
      keys.emplace_back(time, std::stoll(r[0]));
    }
    std::sort(keys.rbegin(), keys.rend());
    return keys;
  }

  // Each event is the one its place names.
  static void expectEventsOfPlaces(const std::vector<JRXEvent>& events,
                                   const std::vector<JRXListingPlace>& places) {
    ASSERT_EQ(events.size(), places.size());
    for (size_t i = 0; i < places.size(); ++i) {
      events_log v;
      EXPECT_EQ(rowsOf({&v}, {&v->guid, &v->time}, v->event_id == places[i].id),
                Lines{events[i].guid.toString() + "|" + std::to_string(places[i].time)});
    }
  }

  std::vector<Key> inParts(const Listing& q, std::mt19937& rng,
                           const std::function<void()>& between = nullptr) {
    JRXEventLogLocal service(nullptr);
    std::vector<Key> keys;
    JRXListingPlace place;
    for (bool placed = false;; placed = true) {
      const unsigned part = 1 + rng() % (rng() % 4 == 0 ? 7000 : 400);
      const unsigned cap = JRXEventLogLocal::kMaxEvents, answer = std::min(part, cap);
      const bool placesOnly = rng() % 3 == 0;
      std::vector<JRXEvent> events;
      std::vector<JRXListingPlace> places;
      EXPECT_EQ(service.getEventsAfter(placesOnly ? nullptr : &events, &places,
                                       placed ? &place : nullptr, q.eid, true, part, "", q.type,
                                       false, q.bounds),
                0);
      EXPECT_LE(places.size(), answer);
      for (size_t i = 0; i < places.size(); ++i) {
        keys.emplace_back(places[i].time, places[i].id);
        if (!placesOnly) {
          EXPECT_EQ(places[i].time, events[i].time);
        }
      }
      if (places.size() < answer || HasFailure()) return keys;
      place = places.back();
      if (between) between();
    }
  }

  // Events of two sources, two types and two categories over `seconds` seconds from kT0;
  // every fifth names kVm2 as a further environment.
  void randomEvents(std::mt19937& rng, int count, int seconds) {
    JRXEventLogLocal service(nullptr);
    for (int i = 0; i < count; ++i) {
      JRXEvent e = event(rng() % 2 ? kNode : kVm1, kT0 + rng() % seconds,
                         rng() % 2 ? "alert" : "notice");
      if (rng() % 2) e.category = "disk";
      if (i % 5 == 0) e.info.addParameter("env", envRef(kVm2, "vm", "vm-2"));
      ASSERT_EQ(service.saveEvent(e), 0);
    }
  }
};

TEST_P(GetEventsAfterTest, PartsOfAnySizeAreTheWholeListing) {
  const unsigned seed = randomSeed();
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
    EXPECT_EQ(inParts(q, rng), expected);
  }
}

TEST_P(GetEventsAfterTest, WritersBetweenPartsNeitherHideNorRepeatEvents) {
  const unsigned seed = randomSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  randomEvents(rng, 1200, 3);
  const std::vector<Key> before = bruteForce({});
  const std::vector<Key> listed = inParts({}, rng, [&] { randomEvents(rng, rng() % 5, 4); });
  expectInOrderOnce(listed, bruteForce({}), before);
}

// A follower asks for the events stored under key ranges, given in any order: it learns
// every key stored there, in key order, up to its limit, and gets those among them that
// match its filter, each with its place.
TEST_P(GetEventsAfterTest, StoredEventsOfKeyRanges) {
  const unsigned seed = randomSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  randomEvents(rng, 150, 3);
  std::vector<long long> all;
  for (const Lines& r : fieldsOf<events_log>()) all.push_back(std::stoll(r[0]));
  const long long third = all[all.size() / 3], half = all[all.size() / 2];
  JRXEventLogLocal service(nullptr);
  std::vector<long long> newest;
  ASSERT_EQ(service.getNewestKeys(&newest, 4), 0);
  EXPECT_EQ(newest, std::vector<long long>(all.end() - 4, all.end()));

  const JRXEID any = JRXEID::EID_INVALID;
  const struct Case {
    std::vector<JRXKeyRange> ranges;
    unsigned limit;
    Listing q;
  } cases[] = {
      {{{half, all.back()}, {0, third}}, 1000, {}},
      {{{0, all.back()}}, 30, {}},
      {{{third, half}, {half + 2, half + 2}}, 1000, {kVm1}},
      {{{0, all.back()}}, 1000, {kVm2, "", "", {}, false}},
      {{{0, half}}, 1000, {any, "disk", "alert"}},
      {{{0, all.back()}}, 1000, {any, "", "notice", {kT0 + 1, kT0 + 1}}},
      {{{half + 1, half}}, 1000, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    std::vector<JRXEvent> events;
    std::vector<JRXListingPlace> places;
    std::vector<long long> keys;
    ASSERT_EQ(service.getEventsStored(&events, &places, &keys, c.ranges, c.limit, c.q.eid,
                                      c.q.asSource, c.q.category, c.q.type, true, c.q.bounds),
              0);
    std::vector<Key> got;
    for (const JRXListingPlace& p : places) got.emplace_back(p.time, p.id);
    expectStoredOf(all, c.ranges, c.limit, bruteForce(c.q), keys, got);
    expectEventsOfPlaces(events, places);
    EXPECT_EQ(service.answer()->root().children.size(), events.size());
  }
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
    EXPECT_EQ(linesOf(events, [](const JRXEvent& e) { return e.type; }), types)
        << from << " to " << to;
  }
}

JRX_ON_EVERY_BACKEND(GetEventsAfterTest);

}  // namespace
}  // namespace jrxtest
