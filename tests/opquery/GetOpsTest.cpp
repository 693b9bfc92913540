// getOps: which operations and progress rows come back, in which order, how many; right 188
// on the named environment or per operation; the answer message.
#include "LogDbFixture.h"
#include "answers/JRXWriterData.h"

using namespace JRX;

namespace jrxtest {
namespace {

class GetOpsTest : public LogDbFixture {
 protected:
  struct Query {
    JRXEID eid = JRXEID::EID_INVALID;
    std::string name, id, parent;
    bool firstOnly = false, activeOnly = false;
    unsigned int limit = kNoLimit;
  };

  int run(const Query& q, std::vector<JRXRequestProgressData>& out, JRXOpLogLocal& service) {
    return service.getOps(&out, q.eid, q.name, q.id, q.parent, q.firstOnly, q.activeOnly,
                          q.limit, 0, kNoUpper);
  }

  // "id|name|parent|session|progress|time|status|text|operands" of each record.
  static Lines records(const std::vector<JRXRequestProgressData>& v) {
    Lines out;
    for (const auto& r : v) {
      out.push_back(r.id + "|" + r.name + "|" + r.parentId + "|" + r.sessionId.text + "|" +
                    std::to_string(r.progress) + "|" + std::to_string(r.time) + "|" +
                    std::to_string(r.status) + "|" + r.info.getText() + "|");
      for (const JRXEID& e : r.operands) out.back() += " " + eidText(e);
    }
    return out;
  }
};

TEST_P(GetOpsTest, FiltersLimitsAndOrder) {
  const std::string tricky = "it's \"x\" \\ ' OR 1=1 --";
  const JRXEID x(0x77, 1), y(0x77, 2);
  const int ex = envRow(x), ey = envRow(y);
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
  for (auto link : {std::make_tuple(b, ex, "O"), std::make_tuple(b, ey, "O"),
                    std::make_tuple(c, ex, "S"), std::make_tuple(c, ey, "O"),
                    std::make_tuple(d, ex, "P"), std::make_tuple(d, ey, "O")})
    linkRow(std::get<0>(link), std::get<1>(link), std::get<2>(link));

  const std::string t0 = "t0|copy|||0|0|3||", a = "a|" + tricky + "|p2||0|100|3||",
                    cc = "c|other|p1|sess-1|0|200|1|| 77:2", bb = "b|" + tricky + "|p1||",
                    b1 = bb + "0|301|1|started| 77:1 77:2", b2 = bb + "50|302|2|half| 77:1 77:2",
                    b3 = bb + "100|303|5|done| 77:1 77:2", dd = tricky + "|other|p1||10|401|2|run| 77:2";
  const struct Case {
    std::function<void(Query&)> set;
    Lines records;
  } cases[] = {
      {[](Query&) {}, {t0, a, cc, b1, b2, b3, dd}},
      // A limit takes the newest operations, counting their progress rows, 1000 at most.
      {[](Query& q) { q.limit = 2; }, {dd, b1}},
      {[](Query& q) { q.limit = 1000000; }, {dd, b1, b2, b3, cc, a, t0}},
      {[](Query& q) { q.limit = 0; }, {}},
      {[&](Query& q) { q.id = tricky, q.parent = "p1"; }, {dd}},
  };
  JRXOpLogLocal service(nullptr);
  for (const Case& k : cases) {
    SCOPED_TRACE(&k - cases);
    Query q;
    k.set(q);
    std::vector<JRXRequestProgressData> out, back;
    ASSERT_EQ(0, run(q, out, service));
    EXPECT_EQ(records(out), k.records);
    // The answer holds one bare element 1175 per record, in the vector's order.
    const JRXMessageElement& root = service.answer()->root();
    EXPECT_TRUE(root.ns == 0 && root.nsName.empty() && root.type == 0 && root.typeName.empty());
    JRXMessageIterator it(const_cast<JRXMessageElement*>(&root));
    for (size_t i = 0; i < root.children.size(); ++i) {
      const JRXMessageElement& e = *root.children[i];
      EXPECT_TRUE(e.id == 1175 && e.ns == 0 && e.nsName.empty() && e.type == 0 &&
                  e.typeName.empty() && e.nsType == 0);
      back.emplace_back();
      ASSERT_EQ(0, it.getObj(back.back(), 1175, i));
    }
    EXPECT_EQ(records(back), records(out));
  }
  // The caller's records stay and do not count against the limit; the answer lists them.
  std::vector<JRXRequestProgressData> out{JRXRequestProgressData("mine")};
  Query q;
  q.limit = 2;
  ASSERT_EQ(0, run(q, out, service));
  EXPECT_EQ(records(out), (Lines{"mine||||0|0|0||", dd, b1}));
  EXPECT_EQ(3u, service.answer()->root().count(1175));
  // A failure at any statement answers 3101 with the database's text, keeping what was read.
  failEachQueryStatement(service, out, opLine, [&] {
    out.clear();
    const int answer = run(Query(), out, service);
    EXPECT_TRUE(!answer || service.getContextLocal()->getLastError().message == kInjected);
    return answer;
  });
}

// Without a named environment, one operation the client may not see fails the whole query;
// one whose operands are all hidden, while its source is too, is left out.
TEST_P(GetOpsTest, RightsOnTheNamedEnvironmentOrPerOperation) {
  const JRXEID a{0xA, 1}, b{0xB, 2}, c{0xC, 3};
  const int envA = envRow(a), envB = envRow(b), envC = envRow(c);
  const std::vector<std::pair<const char*, std::vector<std::pair<int, const char*>>>> ops{
      {"mixed", {{envA, "O"}, {envB, "O"}}}, {"by-source", {{envB, "O"}, {envA, "S"}}},
      {"stripped", {{envB, "O"}, {envC, "S"}}}, {"unlinked", {}}};
  int time = 100;
  for (const auto& op : ops) {
    const int id = opRow(op.first, "copy", 3, time += 100);
    for (const auto& l : op.second) linkRow(id, l.first, l.second);
  }
  const struct Case {
    std::vector<JRXEID> granted;
    JRXEID eid;
    int answer;
    Lines records;  // "id operands"
  } cases[] = {
      {{b}, a, 414, {"mine"}},
      {{a}, JRXEID::EID_INVALID, 414, {"mine", "mixed a:1"}},
      {{a, kLocal}, JRXEID::EID_INVALID, 0, {"mine", "mixed a:1", "by-source", "unlinked"}},
      {{a, b}, JRXEID::EID_INVALID, 414, {"mine", "mixed a:1 b:2", "by-source b:2", "stripped b:2"}},
      // Naming the environment vouches for the client: nothing narrows the operands.
      {{a}, a, 0, {"mine", "mixed a:1 b:2"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(&k - cases);
    auto rights = std::make_shared<JRXRightsTable>();
    for (const JRXEID& e : k.granted) rights->grant(e, 188);
    actAs(rights);
    JRXOpLogLocal service(nullptr);
    std::vector<JRXRequestProgressData> out{JRXRequestProgressData("mine")};
    const int statements = ASFaults::StatementsSeen();
    EXPECT_EQ(k.answer, service.getOps(&out, k.eid, "", "", "", false, false, kNoLimit, 0, kNoUpper));
    Lines got;
    for (const std::string& r : records(out)) got.push_back(r.substr(0, r.find('|')) + r.substr(r.rfind('|') + 1));
    EXPECT_EQ(got, k.records);
    EXPECT_EQ(k.answer != 0, service.answer() == nullptr);
    EXPECT_TRUE(!k.eid.isValid() || !k.answer || statements == ASFaults::StatementsSeen());
    // A bare refusal says nothing worth keeping as the last error.
    EXPECT_FALSE(service.getContextLocal()->hasLastError());
    // The places alone are read under the same rights, as far as the records were.
    std::vector<JRXListingPlace> places;
    EXPECT_EQ(k.answer, service.getOpsAfter(nullptr, &places, nullptr, k.eid, "", "", "", false,
                                            false, kNoLimit, false, {}));
    EXPECT_EQ(places.size(), k.records.size() - 1);
  }
}

// A record whose writer fails on demand: the list stops there with every element closed.
struct Flaky {
  bool fail = false;
  struct Writer : JRXWriterBase {
    int operator()(JRXMessageIterator& it, const Flaky& v) const {
      it.putInt(1, v.fail ? 1 : 0);
      return v.fail ? 7 : 0;
    }
  };
};

TEST(OpAnswerWriter, FailingRecordStopsTheListWithEveryElementClosed) {
  std::vector<Flaky> records(4);
  records[1].fail = true;
  std::unique_ptr<JRXMsgWriter> writer(newJRXWriterData(records, 1175));
  JRXMessage msg;
  JRXMessageIterator it(const_cast<JRXMessageElement*>(&msg.root()));
  EXPECT_EQ(1, writer->write(it));
  EXPECT_EQ(&msg.root(), it.element());
  ASSERT_EQ(2u, msg.root().children.size());
  EXPECT_EQ(1175, msg.root().children[1]->id);
}

JRX_ON_EVERY_BACKEND(GetOpsTest);

}  // namespace
}  // namespace jrxtest
