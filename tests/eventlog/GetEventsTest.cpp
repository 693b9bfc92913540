// The event log's listings against a brute-force listing of the tables; bounds, payloads, the
// caller's vector and the answer, rights and failures.
#include "ListingTest.h"
#include "ASHex.h"

using namespace JRX;

namespace jrxtest {
namespace {

using Key = std::pair<long, long long>;  // time, key

struct Listing {
  Listing(JRXEID eid = JRXEID::EID_INVALID, std::string category = "", std::string type = "",
          JRXTimeBounds bounds = {}, bool asSource = true)
      : eid(eid), category(category), type(type), bounds(bounds), asSource(asSource) {}
  JRXEID eid;
  std::string category, type;
  JRXTimeBounds bounds;
  bool asSource;
};

class GetEventsTest : public ListingTest<Key, Listing, JRXEvent> {
 protected:
  // Also notes "guid|environment" of each event listed, by its key, in `listed`.
  std::vector<Key> bruteForce(const Listing& q) override {
    events_log v;
    events_log_env l;
    env_log e;
    std::vector<Key> keys;
    for (const Lines& r :
         fieldsOf({&v, &l, &e}, {&v->event_id, &v->time, &v->category, &v->type, &e->eid, &v->guid},
                  v->event_id == l->event_id && l->env_id == e->id &&
                      l->role == (q.asSource ? "S" : "O"))) {
      const long time = std::stol(r[1]);
      if (time < q.bounds.from || time > q.bounds.to || (!q.category.empty() && r[2] != q.category) ||
          (!q.type.empty() && r[3] != q.type) || (q.eid.isValid() && r[4] != eidText(q.eid)))
        continue;
      keys.emplace_back(time, std::stoll(r[0]));
      listed[keys.back().second] = r[5] + "|" + r[4];
    }
    std::sort(keys.rbegin(), keys.rend());
    return keys;
  }

  // Each event is the one its key names, as the last brute-force listing saw it.
  void expectRecords(const Records& events, const std::vector<Key>& keys) override {
    ASSERT_EQ(events.size(), keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
      EXPECT_EQ(events[i].guid.toString() + "|" + eidText(events[i].eid), listed[keys[i].second]);
      EXPECT_EQ(events[i].time, keys[i].first);
    }
  }

  int readAfter(const Listing& q, unsigned part, const JRXListingPlace* after, Records* events,
                Places& places) override {
    return log.getEventsAfter(events, &places, after, q.eid, q.asSource, part, q.category, q.type,
                              false, q.bounds);
  }

  int readStored(const Listing& q, const Ranges& ranges, unsigned limit, Records& events,
                 Places& places, std::vector<long long>& keys) override {
    return log.getEventsStored(&events, &places, &keys, ranges, limit, q.eid, q.asSource,
                               q.category, q.type, true, q.bounds);
  }

  // Two sources, types and categories; every fifth names kVm2 as a further environment.
  void randomEvents(std::mt19937& rng, int count, int seconds) {
    for (int i = 0; i < count; ++i) {
      JRXEvent e = event(rng() % 2 ? kNode : kVm1, kT0 + rng() % seconds,
                         rng() % 2 ? "alert" : "notice");
      if (rng() % 2) e.category = "disk";
      if (i % 5 == 0) e.info.addParameter("env", envRef(kVm2, "vm", "vm-2"));
      ASSERT_EQ(log.saveEvent(e), 0);
    }
  }

  std::vector<JRXEvent> query(const JRXEID& eid, unsigned limit, bool withData = false) {
    std::vector<JRXEvent> out;
    EXPECT_EQ(0, log.getEvents(&out, eid, true, limit, "", "", withData, 0, kNoUpper));
    return out;
  }

  std::map<long long, std::string> listed;
  JRXEventLogLocal log{nullptr};
};

TEST_P(GetEventsTest, ListingsInPartsOfAnySizeAndTheNewestUpToTheCap) {
  const unsigned seed = randomSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  // Beyond the cap, most of them in one second.
  randomEvents(rng, 7000, 1);
  randomEvents(rng, 1500, 3);
  const JRXEID any = JRXEID::EID_INVALID;
  const Listing listings[] = {{},
                              {any, "", "alert"},
                              {kVm1, "disk"},
                              {any, "disk", "notice", {kT0, kT0 + 1}},
                              {kVm2, "", "", {}, false},
                              {any, "", "", {kT0 + 1, kT0 + 2}, false}};
  for (const Listing& q : listings) {
    SCOPED_TRACE(&q - listings);
    const std::vector<Key> expected = bruteForce(q);
    ASSERT_GT(expected.size(), &q == listings ? 6000u : 100u);
    EXPECT_EQ(inParts(q, rng, 7000, JRXEventLogLocal::kMaxEvents), expected);
  }
  // getEvents gives the newest up to its cap, whatever its limit.
  std::vector<JRXEvent> newest;
  ASSERT_EQ(log.getEvents(&newest, any, true, 10000, "", "", false, 0, kNoUpper), 0);
  const std::vector<Key> all = bruteForce({});
  expectRecords(newest, {all.begin(), all.begin() + JRXEventLogLocal::kMaxEvents});
  expectKeyRangeReads<events_log>(log, {{kVm1}, {kVm2, "", "", {}, false}, {any, "disk", "alert"},
                                        {any, "", "notice", {kT0 + 1, kT0 + 1}}});
  // Writers between the parts neither hide nor repeat an event.
  const std::vector<Key> before = bruteForce({});
  const std::vector<Key> listed = inParts({}, rng, 7000, JRXEventLogLocal::kMaxEvents, [&] {
    randomEvents(rng, rng() % 5, 4);
    bruteForce({});  // notes the new events
  });
  expectInOrderOnce(listed, bruteForce({}), before);
}

// getEvents' bounds exclude their second, 0 and kNoUpper being none, a bound beyond 32 bits
// wrapped; reversed ones hold nothing. The caller's events count towards the limit and stay.
TEST_P(GetEventsTest, BoundsTheCallersVectorAndTheAnswer) {
  std::vector<JRXEvent> saved;
  for (long t : {0L, 1L, 200L, 201L, 2147483646L, 2147483647L, -200L, -50L}) {
    saved.push_back(event(kNode, t, "t" + std::to_string(t)));
    saved.back().eid = kNode;
    ASSERT_EQ(log.saveEvent(saved.back()), 0);
  }
  const std::tuple<long, long, Lines> cases[] = {
      {-51, 2, {"t1", "t0", "t-50"}},
      {0, 2147483646, {"t201", "t200", "t1", "t0", "t-50", "t-200"}},
      {200, kNoUpper, {"t2147483647", "t2147483646", "t201"}},
      {1L << 32, (1L << 32) + 201, {"t200", "t1"}},
      {201, 200, {}},
  };
  for (const auto& [from, to, types] : cases) {
    std::vector<JRXEvent> events;
    ASSERT_EQ(log.getEvents(&events, JRXEID::EID_INVALID, true, 100, "", "", false, from, to), 0);
    EXPECT_EQ(linesOf(events, [](const JRXEvent& e) { return e.type; }), types) << from;
  }
  EXPECT_TRUE(query(JRXEID(0x99, 9), 100).empty());
  EXPECT_TRUE(query(kNode, 0).empty());
  EXPECT_TRUE(log.answer()->root().children.empty());

  std::vector<JRXEvent> mixed(2, JRXEvent("caller"));
  EXPECT_EQ(0, log.getEvents(&mixed, kNode, true, 5, "", "", false, 0, 2147483647));
  const std::vector<JRXEvent> expected{JRXEvent("caller"), JRXEvent("caller"), saved[5],
                                       saved[4], saved[3]};
  EXPECT_EQ(linesOf(mixed, eventLine), linesOf(expected, eventLine));
  ASSERT_EQ(5u, log.answer()->root().children.size());
  const JRXMessageElement& el = *log.answer()->root().children[2];
  EXPECT_TRUE(el.id == 1612 && el.ns == 0 && el.typeNs == 292 && el.type == 160);
  JRXEvent back;
  ASSERT_EQ(0, JRXEvent::Reader()(JRXMessageIterator(const_cast<JRXMessageElement*>(&el)), back));
  EXPECT_EQ(eventLine(back), eventLine(saved[5]));
}

// Payloads come only when asked for. A query failing at any statement keeps a prefix of its
// answer and sets no last error; a refusal touches neither the caller's vector nor the database.
TEST_P(GetEventsTest, PayloadsFailuresAndRefusals) {
  for (int i = 0; i < 5; ++i) {
    JRXEvent e = event(kNode, 100 + i);
    if (i % 2) e.info.addParameter("env", envRef(kVm1, "vm", "vm"));
    ASSERT_EQ(0, log.saveEvent(e));
  }
  const JRXEvent audit = auditEvent(kNode, "s-1", 1, "detail");
  ASSERT_EQ(0, log.saveEvent(audit));
  EXPECT_FALSE(query(kNode, 10)[0].data);
  auto back = boost::dynamic_pointer_cast<JRXAuditEvent>(query(kNode, 10, true)[0].data);
  ASSERT_TRUE(back);
  EXPECT_EQ(*boost::dynamic_pointer_cast<JRXAuditEvent>(audit.data), *back);
  // A payload of a type this side has no parser for (a newer sender's) is left out, and its
  // event is still listed.
  JRXAnyData newer(1307);
  newer.any().descend(1913);
  newer.any().putBytes(1, "SomethingNewer");
  newer.any().ascend();
  char* raw = nullptr;
  uint32_t length = 0;
  ASSERT_EQ(0, newer.serialize(&raw, &length));
  const std::string hex = ASHex(std::string(raw, length));
  std::free(raw);
  JRXRdbmsTran tran;
  (*tran)->ExecuteSql("UPDATE events_log SET data = x'" + hex + "' WHERE time = 100");
  tran.commit();
  const std::vector<JRXEvent> full = query(kNode, 10, true);
  ASSERT_EQ(full.size(), 6u);
  EXPECT_EQ(full.back().time, 100);
  EXPECT_FALSE(full.back().data);

  // Environment, as source, limit, category and type, with payloads.
  const std::tuple<JRXEID, bool, unsigned, std::string, std::string, bool> queries[] = {
      {JRXEID::EID_INVALID, true, 100, "", "", false},
      {kNode, true, 100, "monitor", "audit", true}};
  for (const auto& [eid, asSource, limit, category, type, withData] : queries) {
    SCOPED_TRACE(eidText(eid) + category);
    std::vector<JRXEvent> out;
    failEachQueryStatement(log, out, eventLine, [&] {
      out.clear();
      const int answer =
          log.getEvents(&out, eid, asSource, limit, category, type, withData, 0, kNoUpper);
      EXPECT_FALSE(log.getContextLocal()->hasLastError());
      return answer;
    });
  }

  auto rights = std::make_shared<JRXRightsTable>();
  rights->grant(kVm1, 54);
  actAs(rights);
  std::vector<JRXEvent> out(1, JRXEvent("caller"));
  ASFaults::Clear();
  EXPECT_EQ(414, log.getEvents(&out, kNode, true, 10, "", "", false, 0, kNoUpper));
  // Any environment is only granted through "*".
  EXPECT_EQ(414, log.getEvents(&out, JRXEID::EID_INVALID, true, 10, "", "", false, 0, kNoUpper));
  EXPECT_TRUE(ASFaults::StatementsSeen() == 0 && out.size() == 1u &&
              log.endedCommands().back().message.empty());
  EXPECT_EQ(0, log.getEvents(&out, kVm1, false, 10, "", "", false, 0, kNoUpper));
  EXPECT_TRUE(out.size() == 3u && !log.getContextLocal()->hasLastError());
}

JRX_ON_EVERY_BACKEND(GetEventsTest);

}  // namespace
}  // namespace jrxtest
