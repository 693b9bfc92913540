// The operation log's listings against a brute-force listing of the tables; getOps' limits,
// the caller's records, the answer, failures, and right 188.
#include "ListingTest.h"

using namespace JRX;

namespace jrxtest {
namespace {

using Key = std::tuple<long, long long, long long>;  // operation's time, its key, report's key

struct Listing {
  Listing(JRXEID eid = JRXEID::EID_INVALID, std::string name = "", std::string id = "",
          std::string parent = "", bool activeOnly = false, JRXTimeBounds bounds = {})
      : eid(eid), name(name), id(id), parent(parent), activeOnly(activeOnly), bounds(bounds) {}
  JRXEID eid;
  std::string name, id, parent;
  bool activeOnly, firstOnly = false, newestFirst = false;
  JRXTimeBounds bounds;
};

class GetOpsTest : public ListingTest<Key, Listing, JRXRequestProgressData> {
 protected:
  // Operations by time, then key, their reports by key; notes what each record must say.
  std::vector<Key> bruteForce(const Listing& q) override {
    std::set<long long> linked;  // operations with an operand link to q.eid
    op_log_env l;
    env_log e;
    for (const Lines& r : fieldsOf({&l, &e}, {&l->op_id, &l->role, &e->eid}, l->env_id == e->id))
      if (r[1] == "O" && r[2] == eidText(q.eid)) linked.insert(std::stoll(r[0]));
    std::map<long long, Fields> reports;  // key, operation, progress, time, status, information
    for (const Lines& r : fieldsOf<op_log_data>()) reports[std::stoll(r[1])].push_back(r);
    std::vector<Key> keys;
    for (const Lines& op : fieldsOf<op_log>()) {  // key, name, id, parent, time, status
      const long long key = std::stoll(op[0]);
      const long time = std::stol(op[4]);
      if (time < q.bounds.from || time > q.bounds.to || (q.eid.isValid() && !linked.count(key)) ||
          (!q.name.empty() && op[1] != q.name) || (!q.id.empty() && op[2] != q.id) ||
          (!q.parent.empty() && op[3] != q.parent) || (q.activeOnly && op[5] != "1" && op[5] != "2"))
        continue;
      Fields rows = reports[key];
      // Listed alone, the first report stands for its whole operation, with its status.
      if (q.firstOnly && !rows.empty()) {
        rows.resize(1);
        rows[0][0] = std::to_string(JRXListingPlace::kWholeOperation);
        rows[0][4] = op[5];
      }
      for (const Lines& r : rows) {
        keys.emplace_back(time, key, std::stoll(r[0]));
        noted[{key, std::stoll(r[0])}] = r[3] + "|" + r[2] + "|" + r[4] + "|" + op[2] + "|" + r[5];
      }
    }
    std::sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
      const auto op = [](const Key& k) { return std::make_pair(std::get<0>(k), std::get<1>(k)); };
      if (op(a) != op(b)) return q.newestFirst ? op(a) > op(b) : op(a) < op(b);
      return std::get<2>(a) < std::get<2>(b);
    });
    return keys;
  }

  // Read with places, records say what was reported: the executing node, no stand-ins.
  void expectRecords(const Records& records, const std::vector<Key>& keys) override {
    ASSERT_EQ(records.size(), keys.size());
    for (size_t i = 0; i < keys.size(); ++i) {
      const JRXRequestProgressData& r = records[i];
      EXPECT_EQ(std::to_string(r.time) + "|" + std::to_string(r.progress) + "|" +
                    std::to_string(r.status) + "|" + r.id + "|" + escaped(infoText(r.info) + '\0'),
                noted[std::make_pair(std::get<1>(keys[i]), std::get<2>(keys[i]))]);
      EXPECT_TRUE(eidText(r.eid) == eidText(kNode) && !r.operands.count(kLocal));
    }
  }

  int readAfter(const Listing& q, unsigned part, const JRXListingPlace* after, Records* records,
                Places& places) override {
    return log.getOpsAfter(records, &places, after, q.eid, q.name, q.id, q.parent, q.firstOnly,
                           q.activeOnly, part, q.newestFirst, q.bounds);
  }

  int readStored(const Listing& q, const Ranges& ranges, unsigned limit, Records& records,
                 Places& places, std::vector<long long>& keys) override {
    return log.getOpsStored(&records, &places, &keys, ranges, limit, q.eid, q.name, q.id,
                            q.parent, q.activeOnly, q.bounds);
  }

  // Up to four reports each; every third names kVm1 as operand, every fourth has a parent.
  void addOperation(std::mt19937& rng, long time) {
    const std::string id = "op-" + std::to_string(made_++);
    JRXRequestProgressData first = report(id, rng() % 2 ? "a" : "b", 0, 0, time, id);
    if (made_ % 3 == 0) first.operands.insert(kVm1);
    if (made_ % 5 == 0) first.info.addParameter("source_env", envRef(kVm1));
    if (made_ % 4 == 0) first.parentId = "p";
    ASSERT_EQ(log.saveProgress(first), 0);
    for (int n = rng() % 5; n > 0; --n) addReport(id, time + rng() % 3);
  }

  void addReport(const std::string& id, long time) {
    // Distinct texts: a repeated one would only refresh the latest report.
    const int n = ++reports_;
    const std::string text = "step " + std::to_string(n);
    ASSERT_EQ(log.saveProgress(report(id, "", n % 7 ? 2 : 3, n % 100, time, text)), 0);
  }

  std::map<std::pair<long long, long long>, std::string> noted;
  int made_ = 0, reports_ = 0;
  JRXOpLogLocal log{nullptr};
};

TEST_P(GetOpsTest, PartsOfAnySizeAreTheWholeListingWhateverWritersAdd) {
  const unsigned seed = randomSeed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  // Some 2000 reports, hundreds in each second, created out of time order.
  for (int i = 0; i < 700; ++i) addOperation(rng, kT0 + rng() % 4);
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
    EXPECT_EQ(inParts(q, rng, 1200, 1000), expected);
  }
  const JRXEID any = JRXEID::EID_INVALID;
  expectKeyRangeReads<op_log_data>(log, {{kVm1}, {any, "a", "", "p"}, {any, "", "op-300"},
                                         {any, "", "", "", true},
                                         {any, "", "", "", false, {kT0 + 1, kT0 + 1}}});
  // Writers add operations and reports around the listing's place: what existed comes once,
  // in order, and so does what is added after the place.
  for (bool newestFirst : {false, true}) {
    Listing q;
    q.newestFirst = newestFirst;
    const std::vector<Key> before = bruteForce(q);
    const std::vector<Key> listed = inParts(q, rng, 1200, 1000, [&] {
      for (int n = rng() % 4; n > 0; --n) addOperation(rng, kT0 - 1 + rng() % 6);
      addReport("op-" + std::to_string(rng() % made_), kT0);
      bruteForce(q);  // notes the new reports
    });
    expectInOrderOnce(listed, bruteForce(q), before);
  }
}

TEST_P(GetOpsTest, LimitsFieldsTheAnswerAndFailures) {
  const std::string tricky = "it's \"x\" \\ ' OR 1=1 --";
  const JRXEID any = JRXEID::EID_INVALID;
  const int ex = envRow(JRXEID(0x77, 1)), ey = envRow(JRXEID(0x77, 2));
  // Stored out of time order: the order must come from the times, not from the keys.
  const int c = opRow("c", "other", 1, 200, "p1", "sess-1");
  opRow("a", tricky, 3, 100, "p2");
  opRow("t0", "copy", 3, 0);
  const int d = opRow(tricky, "other", 2, 400, "p1");
  const int b = opRow("b", tricky, 5, 300, "p1");
  progressRow(b, 0, 301, 1, "started");
  progressRow(d, 10, 401, 2, "run");
  progressRow(b, 50, 302, 2, "half");
  progressRow(b, 100, 303, 5, "done");
  // Only operand links are read back as operands.
  for (auto [op, env, role] : std::vector<std::tuple<int, int, const char*>>{
           {b, ex, "O"}, {b, ey, "O"}, {c, ex, "S"}, {c, ey, "O"}, {d, ex, "P"}, {d, ey, "O"}})
    linkRow(op, env, role);

  const std::string none = R"({"text":""}|0:0|)", bb = "b|" + tricky + "|p1||";
  const std::string t0 = "t0|copy|||0|0|3|" + none, a = "a|" + tricky + "|p2||0|100|3|" + none,
                    cc = "c|other|p1|sess-1|0|200|1|" + none + " 77:2",
                    b1 = bb + R"(0|301|1|{"text":"started"}|0:0| 77:1 77:2)",
                    b2 = bb + R"(50|302|2|{"text":"half"}|0:0| 77:1 77:2)",
                    b3 = bb + R"(100|303|5|{"text":"done"}|0:0| 77:1 77:2)",
                    dd = tricky + R"(|other|p1||10|401|2|{"text":"run"}|0:0| 77:2)";
  // A limit takes the newest operations, counting their progress rows, 1000 at most.
  const std::tuple<unsigned, std::string, std::string, Lines> cases[] = {
      {kNoLimit, "", "", {t0, a, cc, b1, b2, b3, dd}},
      {2, "", "", {dd, b1}},
      {0, "", "", {}},
      {kNoLimit, tricky, "p1", {dd}},
  };
  for (const auto& [limit, id, parent, expected] : cases) {
    std::vector<JRXRequestProgressData> out, back;
    ASSERT_EQ(0, log.getOps(&out, any, "", id, parent, false, false, limit, 0, kNoUpper));
    EXPECT_EQ(linesOf(out, opLine), expected) << limit;
    // The answer holds one element 1175 per record, in the vector's order.
    const JRXMessageElement& root = log.answer()->root();
    JRXMessageIterator it(const_cast<JRXMessageElement*>(&root));
    for (size_t i = 0; i < root.children.size(); ++i) {
      back.emplace_back();
      ASSERT_EQ(0, it.getObj(back.back(), 1175, i));
    }
    EXPECT_EQ(linesOf(back, opLine), linesOf(out, opLine));
  }
  // The caller's records stay and do not count against the limit; the answer lists them.
  std::vector<JRXRequestProgressData> out{JRXRequestProgressData("mine")};
  ASSERT_EQ(0, log.getOps(&out, any, "", "", "", false, false, 2, 0, kNoUpper));
  EXPECT_EQ(linesOf(out, opLine), (Lines{"mine||||0|0|0|" + none, dd, b1}));
  EXPECT_EQ(3u, log.answer()->root().count(1175));
  // A failure at any statement answers 3101 with the database's text, keeping what was read.
  failEachQueryStatement(log, out, opLine, [&] {
    out.clear();
    const int answer = log.getOps(&out, any, "", "", "", false, false, kNoLimit, 0, kNoUpper);
    EXPECT_TRUE(!answer || log.getContextLocal()->getLastError().message == kInjected);
    return answer;
  });
}

// Without a named environment, one operation the client may not see fails the whole query;
// one whose operands are all hidden, while its source is too, is left out.
TEST_P(GetOpsTest, RightsOnTheNamedEnvironmentOrPerOperation) {
  const JRXEID a{0xA, 1}, b{0xB, 2}, any = JRXEID::EID_INVALID;
  const int envA = envRow(a), envB = envRow(b), envC = envRow(JRXEID(0xC, 3));
  const int mixed = opRow("mixed", "copy", 3, 200), bySource = opRow("by-source", "copy", 3, 300),
            stripped = opRow("stripped", "copy", 3, 400);
  opRow("unlinked", "copy", 3, 500);
  for (auto [op, env, role] : std::vector<std::tuple<int, int, const char*>>{
           {mixed, envA, "O"}, {mixed, envB, "O"}, {bySource, envB, "O"}, {bySource, envA, "S"},
           {stripped, envB, "O"}, {stripped, envC, "S"}})
    linkRow(op, env, role);
  // Granted, environment named, answer, "id operands" of the records.
  const std::tuple<std::vector<JRXEID>, JRXEID, int, Lines> cases[] = {
      {{b}, a, 414, {"mine"}},
      {{a}, any, 414, {"mine", "mixed a:1"}},
      {{a, kLocal}, any, 0, {"mine", "mixed a:1", "by-source", "unlinked"}},
      {{a, b}, any, 414, {"mine", "mixed a:1 b:2", "by-source b:2", "stripped b:2"}},
      // Naming the environment vouches for the client: nothing narrows the operands.
      {{a}, a, 0, {"mine", "mixed a:1 b:2"}},
  };
  for (const auto& [granted, eid, answer, expected] : cases) {
    SCOPED_TRACE(expected.back());
    auto rights = std::make_shared<JRXRightsTable>();
    for (const JRXEID& e : granted) rights->grant(e, 188);
    actAs(rights);
    JRXOpLogLocal service(nullptr);
    std::vector<JRXRequestProgressData> out{JRXRequestProgressData("mine")};
    const int statements = ASFaults::StatementsSeen();
    EXPECT_EQ(answer, service.getOps(&out, eid, "", "", "", false, false, kNoLimit, 0, kNoUpper));
    Lines got;
    for (const std::string& r : linesOf(out, opLine))
      got.push_back(r.substr(0, r.find('|')) + r.substr(r.rfind('|') + 1));
    EXPECT_EQ(got, expected);
    EXPECT_EQ(answer != 0, service.answer() == nullptr);
    EXPECT_TRUE(!eid.isValid() || !answer || statements == ASFaults::StatementsSeen());
    // A bare refusal says nothing worth keeping as the last error.
    EXPECT_FALSE(service.getContextLocal()->hasLastError());
    // The places alone are read under the same rights, as far as the records were.
    std::vector<JRXListingPlace> places;
    EXPECT_EQ(answer, service.getOpsAfter(nullptr, &places, nullptr, eid, "", "", "", false, false,
                                          kNoLimit, false, {}));
    EXPECT_EQ(places.size(), expected.size() - 1);
  }
}

JRX_ON_EVERY_BACKEND(GetOpsTest);

}  // namespace
}  // namespace jrxtest
