// getOps: which operations and progress rows come back, in which order, how many; right 188
// on the named environment or per operation; the answer message.
#include <algorithm>
#include <random>

#include "LogDbFixture.h"
#include "answers/JRXWriterData.h"

using namespace JRX;

namespace jrxtest {
namespace {

const int kView = 188;

class GetOpsTest : public LogDbFixture {
 protected:
  struct Query {
    JRXEID eid = JRXEID::EID_INVALID;
    std::string name, id, parent;
    bool firstOnly = false, activeOnly = false;
    unsigned int limit = kNoLimit;
    long from = 0, to = kNoUpper;
  };

  int run(const Query& q, std::vector<JRXRequestProgressData>& out) {
    return service.getOps(&out, q.eid, q.name, q.id, q.parent, q.firstOnly, q.activeOnly,
                          q.limit, q.from, q.to);
  }

  // "id|progress|time|status|text" of each record.
  static Lines records(const std::vector<JRXRequestProgressData>& v) {
    Lines out;
    for (const auto& r : v)
      out.push_back(r.id + "|" + std::to_string(r.progress) + "|" + std::to_string(r.time) + "|" +
                    std::to_string(r.status) + "|" + r.info.getText());
    return out;
  }

  JRXOpLogLocal service{nullptr};
};

TEST_P(GetOpsTest, FiltersLimitsAndOrder) {
  const std::string tricky = "it's \"x\" \\ ' OR 1=1 --";
  const JRXEID x(0x77, 1), y(0x77, 2);
  const int ex = envRow(x), ey = envRow(y);
  opRow("t0", "copy", 3, 0);
  opRow("a", tricky, 3, 100, "p2");
  const int c = opRow("c", "other", 1, 200, "p1", "sess-1");
  const int b = opRow("b", tricky, 5, 300, "p1");
  progressRow(b, 0, 301, 1, "started");
  progressRow(b, 50, 302, 2, "half");
  progressRow(b, 100, 303, 5, "done");
  const int d = opRow(tricky, "other", 2, 400, "p1");
  progressRow(d, 10, 401, 2, "run");
  // Only operand links count for the environment filter.
  for (auto link : {std::make_tuple(b, ex, "O"), std::make_tuple(b, ey, "O"),
                    std::make_tuple(c, ex, "S"), std::make_tuple(c, ey, "O"),
                    std::make_tuple(d, ex, "P"), std::make_tuple(d, ey, "O")})
    linkRow(std::get<0>(link), std::get<1>(link), std::get<2>(link));

  const std::string t0 = "t0|0|0|3|", a = "a|0|100|3|", cc = "c|0|200|1|",
                    b1 = "b|0|301|1|started", b2 = "b|50|302|2|half", b3 = "b|100|303|5|done",
                    dd = tricky + "|10|401|2|run";
  struct Case {
    const char* what;
    std::function<void(Query&)> set;
    Lines records;
  };
  const Case cases[] = {
      {"everything, oldest first", [](Query&) {}, {t0, a, cc, b1, b2, b3, dd}},
      {"a limit takes the newest, counting progress rows", [](Query& q) { q.limit = 2; }, {dd, b1}},
      {"a limit beyond the cap", [](Query& q) { q.limit = 1000000; }, {dd, b1, b2, b3, cc, a, t0}},
      {"no record", [](Query& q) { q.limit = 0; }, {}},
      {"strict bounds", [](Query& q) { q.from = 100, q.to = 300; }, {cc}},
      {"strict bounds, wider", [](Query& q) { q.from = 99, q.to = 301; }, {a, cc, b1, b2, b3}},
      // 2^32 is a bound (it is not the no-filter value 0) whose stored form is 0.
      {"lower bound of 2^32", [](Query& q) { q.from = 1L << 32; }, {a, cc, b1, b2, b3, dd}},
      {"upper bound beyond 2^32", [](Query& q) { q.to = (1L << 32) + 200; }, {t0, a}},
      {"the first row with the current status",
       [](Query& q) { q.firstOnly = true; }, {t0, a, cc, "b|0|301|5|started", dd}},
      {"started and running", [](Query& q) { q.activeOnly = true; }, {cc, dd}},
      {"name", [&](Query& q) { q.name = tricky; }, {a, b1, b2, b3}},
      {"name and parent", [&](Query& q) { q.name = tricky, q.parent = "p1"; }, {b1, b2, b3}},
      {"id and parent", [&](Query& q) { q.id = tricky, q.parent = "p1"; }, {dd}},
      {"id, parent and another name",
       [&](Query& q) { q.id = tricky, q.parent = "p1", q.name = "copy"; }, {}},
      {"operand environment", [&](Query& q) { q.eid = x; }, {b1, b2, b3}},
      {"another operand environment", [&](Query& q) { q.eid = y; }, {cc, b1, b2, b3, dd}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    Query q;
    k.set(q);
    std::vector<JRXRequestProgressData> out;
    ASSERT_EQ(0, run(q, out));
    EXPECT_EQ(records(out), k.records);
    // The answer holds one bare element 1175 per record, in the vector's order.
    const JRXMessageElement& root = service.answer()->root();
    EXPECT_TRUE(root.ns == 0 && root.nsName.empty() && root.type == 0 && root.typeName.empty());
    ASSERT_EQ(root.children.size(), out.size());
    JRXMessageIterator it(const_cast<JRXMessageElement*>(&root));
    for (size_t i = 0; i < out.size(); ++i) {
      const JRXMessageElement& e = *root.children[i];
      EXPECT_TRUE(e.id == 1175 && e.ns == 0 && e.nsName.empty() && e.type == 0 &&
                  e.typeName.empty() && e.nsType == 0);
      JRXRequestProgressData back;
      ASSERT_EQ(0, it.getObj(back, 1175, i));
      EXPECT_EQ(records({back}), records({out[i]}));
      EXPECT_TRUE(back.name == out[i].name && back.parentId == out[i].parentId &&
                  back.sessionId.text == out[i].sessionId.text && back.operands == out[i].operands);
    }
  }
  std::vector<JRXRequestProgressData> out;
  Query q;
  q.eid = y;
  ASSERT_EQ(0, run(q, out));
  EXPECT_TRUE(out[0].name == "other" && out[0].parentId == "p1" && out[0].sessionId.text == "sess-1");
  EXPECT_EQ((JRXEIDList{x, y}), out[1].operands);

  // The caller's records stay and do not count against the limit; the answer lists them.
  out = {JRXRequestProgressData("mine")};
  q = Query();
  q.limit = 2;
  ASSERT_EQ(0, run(q, out));
  EXPECT_EQ(records(out), (Lines{"mine|0|0|0|", dd, b1}));
  EXPECT_EQ(3u, service.answer()->root().count(1175));

  // A failure keeps what was read, and says why.
  ASFaults::FailStatement(2, "op_log_data", "disk on fire");
  JRXOpLogLocal failing(nullptr);
  out.clear();
  EXPECT_EQ(3101, failing.getOps(&out, JRXEID::EID_INVALID, "", "", "", false, false, kNoLimit, 0, kNoUpper));
  EXPECT_EQ(records(out), (Lines{t0}));
  EXPECT_EQ(nullptr, failing.answer());
  EXPECT_EQ("disk on fire", failing.getContextLocal()->getLastError().message);
}

TEST_P(GetOpsTest, WithoutLimitTheOldestThousandComeFirst) {
  // Stored in random order: the order must come from the times, not from the keys.
  std::vector<int> order(1200);
  for (int i = 0; i < 1200; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), std::mt19937(7));
  {
    JRXRdbmsTran tran;
    for (int i : order) {
      op_log row;
      row.op = "scan";
      row.id = "r" + std::to_string(i);
      row.parent_id = row.session_id = "";
      row.time = 10000 + i;
      row.status = 3;
      (*tran)->Insert(row);
    }
    tran.commit();
  }
  std::vector<JRXRequestProgressData> out;
  ASSERT_EQ(0, run(Query(), out));
  Lines expected;
  for (int i = 0; i < 1000; ++i) expected.push_back("r" + std::to_string(i) + "|0|" + std::to_string(10000 + i) + "|3|");
  EXPECT_EQ(records(out), expected);
}

// Without a named environment, one operation the client may not see fails the whole query;
// one whose operands are all hidden, while its source is too, is left out.
TEST_P(GetOpsTest, RightsOnTheNamedEnvironmentOrPerOperation) {
  const JRXEID a{0xA, 1}, b{0xB, 2}, c{0xC, 3};
  const int envA = envRow(a, "A"), envB = envRow(b, "B"), envC = envRow(c, "C");
  const std::vector<std::pair<const char*, std::vector<std::pair<int, const char*>>>> ops{
      {"mixed", {{envA, "O"}, {envB, "O"}}}, {"by-source", {{envB, "O"}, {envA, "S"}}},
      {"stripped", {{envB, "O"}, {envC, "S"}}}, {"unlinked", {}}};
  int time = 100;
  for (const auto& op : ops) {
    const int id = opRow(op.first, "copy", 3, time += 100);
    for (const auto& l : op.second) linkRow(id, l.first, l.second);
  }
  struct Case {
    std::vector<JRXEID> granted;
    JRXEID eid;
    int answer;
    Lines records;  // "id operands..."
  };
  const Case cases[] = {
      {{b}, a, 414, {"mine"}},
      {{a}, JRXEID::EID_INVALID, 414, {"mine", "mixed A"}},
      {{a, kLocal}, JRXEID::EID_INVALID, 0, {"mine", "mixed A", "by-source", "unlinked"}},
      {{a, b}, JRXEID::EID_INVALID, 414, {"mine", "mixed A B", "by-source B", "stripped B"}},
      // Naming the environment vouches for the client: nothing narrows the operands.
      {{a}, a, 0, {"mine", "mixed A B"}},
  };
  for (const Case& k : cases) {
    auto rights = std::make_shared<JRXRightsTable>();
    for (const JRXEID& e : k.granted) rights->grant(e, kView);
    actAs(rights);
    JRXOpLogLocal service(nullptr);
    std::vector<JRXRequestProgressData> out{JRXRequestProgressData("mine")};
    const int statements = ASFaults::StatementsSeen();
    EXPECT_EQ(k.answer, service.getOps(&out, k.eid, "", "", "", false, false, kNoLimit, 0, kNoUpper));
    Lines got;
    for (const auto& r : out) {
      got.push_back(r.id);
      for (const JRXEID& e : r.operands) got.back() += e == a ? " A" : e == b ? " B" : " ?";
    }
    EXPECT_EQ(got, k.records);
    EXPECT_EQ(k.answer != 0, service.answer() == nullptr);
    EXPECT_TRUE(!k.eid.isValid() || !k.answer || statements == ASFaults::StatementsSeen());
    // A bare refusal says nothing worth keeping as the last error.
    EXPECT_FALSE(service.getContextLocal()->hasLastError());
    EXPECT_EQ(0, service.commandDepth());
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
