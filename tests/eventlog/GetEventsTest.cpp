// Querying events: the filters, the caps, the order on busy and quiet logs, the payloads,
// the rights check, failures and the answer.
#include <cstdlib>

#include "JRXMessage.h"
#include "LogDbFixture.h"
#include "store/ValueEncodings.h"

using namespace JRX;

namespace jrxtest {
namespace {

typedef std::vector<int64_t> Times;

class GetEventsTest : public LogDbFixture {
 protected:
  JRXEvent save(const JRXEID& source, int64_t time, const JRXEID* operand = nullptr) {
    JRXEvent e = event(source, time);
    if (operand) e.info.addParameter("env", envRef(*operand, "vm", "vm"));
    EXPECT_EQ(0, log.saveEvent(e));
    return e;
  }

  std::vector<JRXEvent> query(const JRXEID& eid, bool asSource = true, unsigned limit = 100,
                              long from = 0, long to = kNoUpper, const std::string& category = "",
                              const std::string& type = "", bool withData = false) {
    std::vector<JRXEvent> out;
    EXPECT_EQ(0, log.getEvents(&out, eid, asSource, limit, category, type, withData, from, to));
    return out;
  }

  static Times times(const std::vector<JRXEvent>& v) {
    Times t;
    for (const auto& e : v) t.push_back(e.time);
    return t;
  }

  // Many events of one source written straight into the tables, `step` seconds apart, with
  // `data` as their payload bytes.
  void bulk(const JRXEID& source, int n, int firstTime, const std::string* data = nullptr,
            int step = 1) {
    JRXRdbmsTran tran;
    const int envId = logdb::LogsEnvInfo(envRef(source), false).getSqlID(tran);
    std::string infoBin;
    logdb::putInfoToBinary(JRXInfo("bulk"), infoBin);
    for (int i = 0; i < n; ++i) {
      events_log ev;
      ev.guid = JRXGUID::generate().toString();
      ev.code = i;
      ev.time = firstTime + i * step;
      ev.category = "bulk";
      ev.sid = "";
      ev.type = "alert";
      ev.info_bin = RealBlob(infoBin.size(), infoBin.data(), false);
      ev.info = logdb::textBlob("bulk");
      if (data) ev.data = RealBlob(data->size(), data->data(), false);
      (*tran)->Insert(ev);
      events_log_env l;
      l.event_id = static_cast<int>((*tran)->GetInsertId());
      l.env_id = envId;
      l.role = "S";
      (*tran)->Insert(l);
    }
    tran.commit();
  }

  JRXEventLogLocal log{nullptr};
  const JRXEID nodeA{0xa1, 0x01}, nodeB{0xb2, 0x02}, vmC{0xc3, 0x03};
};

TEST_P(GetEventsTest, FiltersSelectAndTheNewestComeFirst) {
  for (int t : {99, 100, 101, 150, 199, 200, 2147483647, 2147483646}) save(nodeA, t);
  const JRXEvent saved = save(nodeA, 201);
  save(nodeB, 20, &vmC);
  save(nodeA, 30, &nodeB);
  JRXEvent disk = event(nodeB, 1, "alert"), notice = event(nodeB, 2, "notice"),
           net = event(nodeB, 3, "alert");
  disk.category = notice.category = "disk";
  net.category = "net";
  for (const JRXEvent* e : {&disk, &notice, &net}) ASSERT_EQ(0, log.saveEvent(*e));
  // Dropped, its link left behind.
  ASSERT_EQ(0, log.saveEvent(auditEvent(nodeB, "s", 4)));

  const JRXEID any = JRXEID::EID_INVALID;
  struct Case {
    JRXEID eid;
    bool asSource;
    unsigned limit;
    long from, to;
    const char *category, *type;
    Times times;
  } cases[] = {
      {nodeA, true, 100, 100, 200, "", "", {199, 150, 101}},
      {nodeA, true, 100, 100, kNoUpper, "", "", {2147483647, 2147483646, 201, 200, 199, 150, 101}},
      {nodeA, true, 4, 0, 2147483646, "", "", {201, 200, 199, 150}},
      {nodeA, true, 100, 0, 100, "", "", {99, 30}},
      {nodeA, false, 100, 0, kNoUpper, "", "", {}},
      {nodeB, false, 100, 0, kNoUpper, "", "", {30}},
      {vmC, false, 100, 0, kNoUpper, "", "", {20}},
      {any, false, 100, 0, kNoUpper, "", "", {30, 20}},
      {any, true, 3, 0, 100, "", "", {99, 30, 20}},
      {nodeB, true, 100, 0, kNoUpper, "", "", {20, 3, 2, 1}},
      {nodeB, true, 100, 0, kNoUpper, "disk", "", {2, 1}},
      {nodeB, true, 100, 0, kNoUpper, "", "alert", {20, 3, 1}},
      {nodeB, true, 100, 0, kNoUpper, "disk", "alert", {1}},
      {nodeB, true, 100, 0, kNoUpper, "disk'--", "", {}},
      {JRXEID(0x99, 9), true, 100, 0, kNoUpper, "", "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    auto got = query(c.eid, c.asSource, c.limit, c.from, c.to, c.category, c.type);
    EXPECT_EQ(times(got), c.times);
    for (const JRXEvent& e : got) EXPECT_TRUE(!c.eid.isValid() || e.eid == c.eid);
  }
  EXPECT_EQ(query(any, false)[1].eid, vmC);
  const JRXEvent e = query(nodeA, true, 1, 0, 202)[0];
  EXPECT_TRUE(e.eid == nodeA && e.guid == saved.guid && e.time == 201 &&
              e.category == saved.category && e.type == saved.type && e.code == saved.code &&
              e.sid == saved.sid && e.info == saved.info && !e.data);
}

// At most 6000 events come back; events of equal time come in one order whichever plan
// reads them (the few through the time index, all of them through the links). The caller's
// events count towards the limit and stay; the answer lists the whole vector.
TEST_P(GetEventsTest, CapOrderOfEqualTimesAndTheCallersVector) {
  bulk(nodeA, 6001, 50, nullptr, 0);
  const std::vector<JRXEvent> all = query(nodeA, true, 10000), some = query(nodeA, true, 500);
  ASSERT_EQ(6000u, all.size());
  ASSERT_EQ(500u, some.size());
  for (size_t i = 0; i < some.size(); ++i) ASSERT_EQ(some[i].guid, all[i].guid) << i;
  EXPECT_TRUE(query(nodeA, true, 0).empty());
  EXPECT_TRUE(log.answer()->root().children.empty());

  std::vector<JRXEvent> full(5, JRXEvent("caller")), mixed(2, JRXEvent("caller"));
  EXPECT_EQ(0, log.getEvents(&full, nodeA, true, 5, "", "", false, 0, kNoUpper));
  EXPECT_EQ((Times{0, 0, 0, 0, 0}), times(full));
  EXPECT_EQ(0, log.getEvents(&mixed, nodeA, true, 5, "", "", false, 0, kNoUpper));
  EXPECT_EQ((Times{0, 0, 50, 50, 50}), times(mixed));
  EXPECT_EQ(mixed[4].guid, all[2].guid);
  ASSERT_EQ(5u, log.answer()->root().children.size());
  const JRXMessageElement& el = *log.answer()->root().children[2];
  EXPECT_TRUE(el.id == 1612 && el.ns == 0 && el.typeNs == 292 && el.type == 160);
  JRXEvent back;
  ASSERT_EQ(0, JRXEvent::Reader()(JRXMessageIterator(const_cast<JRXMessageElement*>(&el)), back));
  EXPECT_EQ(back.guid, all[0].guid);
}

// Payloads come only when asked for; one of a type this side has no parser for (written by
// a newer sender) is left out rather than guessed at.
TEST_P(GetEventsTest, PayloadsOnlyWhenAskedFor) {
  JRXEvent audit = auditEvent(nodeA, "sess", 0, "detail");
  ASSERT_EQ(0, log.saveEvent(audit));
  save(nodeA, 5000);
  JRXAnyData any(1307);
  JRXMessageIterator& it = any.any();
  it.descend(1913);
  it.putBytes(1, "SomethingNewer");
  it.descend(2);
  it.putInt(1, 5);
  it.ascend();
  it.ascend();
  char* raw = nullptr;
  uint32_t length = 0;
  ASSERT_EQ(0, any.serialize(&raw, &length));
  const std::string bytes(raw, length);
  std::free(raw);
  bulk(nodeA, 1, 10, &bytes);

  EXPECT_FALSE(query(nodeA, true, 10)[1].data);
  std::vector<JRXEvent> full = query(nodeA, true, 10, 0, kNoUpper, "", "", true);
  ASSERT_EQ((Times{5000, 2000, 10}), times(full));
  auto back = boost::dynamic_pointer_cast<JRXAuditEvent>(full[1].data);
  ASSERT_TRUE(back);
  EXPECT_EQ(*boost::dynamic_pointer_cast<JRXAuditEvent>(audit.data), *back);
  EXPECT_FALSE(full[0].data || full[2].data);
}

// A refusal touches neither the caller's vector nor the database; a failure keeps what was
// read: a few recent events of a busy log's quiet source come from one statement, the older
// ones from another. Neither is a last error.
TEST_P(GetEventsTest, RefusalsAndFailures) {
  bulk(nodeA, 1100, 1);
  bulk(nodeB, 1021, 5000);
  bulk(nodeA, 3, 9000);
  const std::vector<JRXEvent> full = query(nodeA, true, 10);
  ASSERT_EQ(10u, full.size());
  for (int n : {1, 2}) {
    ASFaults::FailStatement(n, "info_bin", "server went away");
    std::vector<JRXEvent> out;
    EXPECT_EQ(3101, log.getEvents(&out, nodeA, true, 10, "", "", false, 0, kNoUpper));
    ASFaults::Clear();
    EXPECT_EQ("server went away", log.endedCommands().back().message);
    ASSERT_EQ(n == 1, out.empty());
    ASSERT_LT(out.size(), full.size());
    for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(full[i].guid, out[i].guid) << i;
  }

  auto rights = std::make_shared<JRXRightsTable>();
  rights->grant(nodeB, 54);
  actAs(rights);
  std::vector<JRXEvent> out(1, JRXEvent("caller"));
  ASFaults::Clear();
  EXPECT_EQ(414, log.getEvents(&out, nodeA, true, 10, "", "", false, 0, kNoUpper));
  // Any environment is only granted through "*".
  EXPECT_EQ(414, log.getEvents(&out, JRXEID::EID_INVALID, true, 10, "", "", false, 0, kNoUpper));
  EXPECT_EQ(0, ASFaults::StatementsSeen());
  EXPECT_EQ(1u, out.size());
  EXPECT_EQ("", log.endedCommands().back().message);
  EXPECT_EQ(0, log.getEvents(&out, nodeB, true, 10, "", "", false, 0, kNoUpper));
  EXPECT_FALSE(log.getContextLocal()->hasLastError());
}

// Each query failing at each of its statements in turn answers 3101 with the database's
// text, keeps a prefix of its answer, sets no last error and changes no table; the next one
// answers in full.
TEST_P(GetEventsTest, EveryStatementFailingInTurn) {
  for (int i = 0; i < 4; ++i) save(nodeA, 100 + i, i % 2 ? &vmC : nullptr);
  save(nodeB, 50, &vmC);
  ASSERT_EQ(0, log.saveEvent(auditEvent(nodeA, "s-1", 1)));
  struct Query {
    const char* what;
    JRXEID eid;
    bool asSource;
    unsigned limit;
    std::string category, type;
    bool withData;
  };
  const std::vector<Query> queries{
      {"every source", JRXEID::EID_INVALID, true, 100, "", "", false},
      {"one source with payloads", nodeA, true, 100, "", "", true},
      {"an operand", vmC, false, 2, "", "", false},
      {"category and type", nodeA, true, 100, "monitor", "audit", true},
  };
  for (const Query& q : queries) {
    SCOPED_TRACE(q.what);
    std::vector<JRXEvent> out;
    failEachQueryStatement(log, out, eventLine, [&] {
      out.clear();
      const int answer = log.getEvents(&out, q.eid, q.asSource, q.limit, q.category, q.type,
                                       q.withData, 0, kNoUpper);
      EXPECT_FALSE(log.getContextLocal()->hasLastError());
      return answer;
    });
  }
}

JRX_ON_EVERY_BACKEND(GetEventsTest);

}  // namespace
}  // namespace jrxtest
