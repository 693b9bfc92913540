// Querying events: the filters, the caps, the payloads, the rights check and the answer.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <cstdlib>
#include <set>
#include <string>

#include "EventLogFixture.h"
#include "JRXMessage.h"
#include "store/LogsEnvInfo.h"
#include "store/ValueEncodings.h"

using namespace JRX;

namespace jrxtest {
namespace {

const long kNoLower = 0;

class GetEventsTest : public EventLogFixture {
 protected:
  JRXEventLogLocal log{nullptr};
  const JRXEID nodeA{0xa1, 0x01};
  const JRXEID nodeB{0xb2, 0x02};
  const JRXEID vmC{0xc3, 0x03};

  JRXEvent save(const JRXEID& source, int64_t time, const JRXEID* operand = nullptr) {
    JRXEvent e = event(source, time);
    if (operand) e.info.addParameter("env", envRef(*operand, "vm", "vm"));
    EXPECT_EQ(0, log.saveEvent(e));
    return e;
  }

  std::vector<JRXEvent> query(const JRXEID& eid, bool asSource = true, unsigned limit = 100,
                              long from = kNoLower, long to = kNoUpper,
                              const std::string& category = "", const std::string& type = "",
                              bool withData = false) {
    std::vector<JRXEvent> out;
    EXPECT_EQ(0, log.getEvents(&out, eid, asSource, limit, category, type, withData, from, to));
    return out;
  }

  static std::vector<int64_t> times(const std::vector<JRXEvent>& v) {
    std::vector<int64_t> t;
    for (const auto& e : v) t.push_back(e.time);
    return t;
  }

  // Many events of one source (of two in turn, with `other`), written straight into the
  // tables in one transaction; `step` seconds apart.
  void bulk(const JRXEID& source, int n, int firstTime, const std::string* data = nullptr,
            const JRXEID* other = nullptr, int step = 1) {
    JRXRdbmsTran tran;
    const int envIds[2] = {logdb::LogsEnvInfo(envRef(source), false).getSqlID(tran),
                           logdb::LogsEnvInfo(envRef(other ? *other : source), false)
                               .getSqlID(tran)};
    std::string infoBin;
    ASSERT_EQ(0, logdb::putInfoToBinary(JRXInfo("bulk"), infoBin));
    for (int i = 0; i < n; ++i) {
      events_log ev;
      ev.guid = JRXGUID::generate().toString();
      ev.code = i;
      ev.time = firstTime + i * step;
      ev.category = "bulk";
      ev.type = "alert";
      ev.sid = "";
      ev.info_bin = RealBlob(infoBin.size(), infoBin.data(), false);
      ev.info = logdb::textBlob("bulk");
      if (data)
        ev.data = RealBlob(data->size(), data->data(), false);
      else
        ev.data.SetNull();
      (*tran)->Insert(ev);
      events_log_env l;
      l.event_id = static_cast<int>((*tran)->GetInsertId());
      l.env_id = envIds[i % 2];
      l.role = "S";
      (*tran)->Insert(l);
    }
    tran.commit();
  }
};

TEST_P(GetEventsTest, ReturnsTheEventsOfOneSourceNewestFirst) {
  JRXEvent a1 = save(nodeA, 100);
  JRXEvent b1 = save(nodeB, 150);
  JRXEvent a2 = save(nodeA, 300);
  JRXEvent a3 = save(nodeA, 200);
  std::vector<JRXEvent> got = query(nodeA);
  ASSERT_EQ(3u, got.size());
  EXPECT_EQ((std::vector<int64_t>{300, 200, 100}), times(got));
  EXPECT_EQ(a2.guid, got[0].guid);
  const JRXEvent& e = got[0];
  EXPECT_EQ(nodeA, e.eid);
  EXPECT_EQ(a2.category, e.category);
  EXPECT_EQ(a2.type, e.type);
  EXPECT_EQ(a2.code, e.code);
  EXPECT_EQ(a2.sid, e.sid);
  EXPECT_EQ(a2.info, e.info);
  EXPECT_FALSE(e.data);
  EXPECT_EQ(0, lastEnded(log).code);
}

TEST_P(GetEventsTest, LimitZeroAndTheCapOf6000) {
  bulk(nodeA, 6005, 1);
  std::vector<JRXEvent> none = query(nodeA, true, 0);
  EXPECT_TRUE(none.empty());
  ASSERT_NE(nullptr, log.answer());
  EXPECT_TRUE(log.answer()->root().children.empty());

  std::vector<JRXEvent> capped = query(nodeA, true, 10000);
  ASSERT_EQ(6000u, capped.size());
  EXPECT_EQ(6005, capped.front().time);
  EXPECT_EQ(6, capped.back().time);
}

// The query looks at recently recorded events first; what was recorded long ago must still
// be found when its time says it belongs to the answer.
TEST_P(GetEventsTest, OrderIsByTimeNotByRecording) {
  JRXEvent early = save(nodeA, 5000);  // recorded first, newest by time
  bulk(nodeA, 600, 1);
  std::vector<JRXEvent> got = query(nodeA, true, 3);
  ASSERT_EQ(3u, got.size());
  EXPECT_EQ(early.guid, got[0].guid);
  EXPECT_EQ((std::vector<int64_t>{5000, 600, 599}), times(got));
  // The upper bound puts the early event out of reach; the recent ones answer alone.
  EXPECT_EQ((std::vector<int64_t>{600, 599}), times(query(nodeA, true, 2, 0, 4000)));
}

TEST_P(GetEventsTest, QuietEnvironmentIsFoundBehindABusyOne) {
  save(nodeB, 7);
  bulk(nodeA, 700, 100);
  save(nodeB, 3000);
  bulk(nodeA, 700, 1000);
  EXPECT_EQ((std::vector<int64_t>{3000, 7}), times(query(nodeB)));
  EXPECT_EQ((std::vector<int64_t>{7}), times(query(nodeB, true, 100, 0, 3000)));
  std::vector<JRXEvent> busy = query(nodeA, true, 1000);
  ASSERT_EQ(1000u, busy.size());
  EXPECT_EQ(1699, busy.front().time);
  EXPECT_EQ(500, busy.back().time);
  std::vector<JRXEvent> any = query(JRXEID::EID_INVALID, true, 5);
  EXPECT_EQ((std::vector<int64_t>{3000, 1699, 1698, 1697, 1696}), times(any));
}

TEST_P(GetEventsTest, InvalidEidMeansEveryEnvironment) {
  save(nodeA, 10);
  save(nodeB, 20, &vmC);
  save(nodeA, 30, &nodeB);
  std::vector<JRXEvent> sources = query(JRXEID::EID_INVALID, true);
  ASSERT_EQ(3u, sources.size());
  EXPECT_EQ((std::vector<int64_t>{30, 20, 10}), times(sources));
  EXPECT_EQ(nodeA, sources[0].eid);
  EXPECT_EQ(nodeB, sources[1].eid);
  EXPECT_EQ(nodeA, sources[2].eid);

  std::vector<JRXEvent> operands = query(JRXEID::EID_INVALID, false);
  ASSERT_EQ(2u, operands.size());
  EXPECT_EQ(nodeB, operands[0].eid);
  EXPECT_EQ(vmC, operands[1].eid);
}

TEST_P(GetEventsTest, OperandQueriesSeeOnlyEventsNamingTheEnvironment) {
  save(nodeA, 10);            // no "env" at all
  save(nodeB, 20, &nodeA);    // names nodeA as further environment
  EXPECT_EQ((std::vector<int64_t>{20}), times(query(nodeA, false)));
  EXPECT_TRUE(query(nodeB, false).empty());
  EXPECT_EQ((std::vector<int64_t>{10}), times(query(nodeA, true)));
}

TEST_P(GetEventsTest, TimeBoundsAreStrict) {
  for (int t : {99, 100, 101, 150, 199, 200, 201}) save(nodeA, t);
  EXPECT_EQ((std::vector<int64_t>{199, 150, 101}), times(query(nodeA, true, 100, 100, 200)));
  EXPECT_EQ((std::vector<int64_t>{201, 200, 199, 150, 101}),
            times(query(nodeA, true, 100, 100, kNoUpper)));
  EXPECT_EQ(7u, query(nodeA, true, 100, kNoLower, kNoUpper).size());
}

TEST_P(GetEventsTest, OnlyTheLargestSecondRemovesTheUpperBound) {
  save(nodeA, 2147483647);
  save(nodeA, 2147483646);
  save(nodeA, 5);
  EXPECT_EQ((std::vector<int64_t>{5}), times(query(nodeA, true, 100, kNoLower, 2147483646)));
  EXPECT_EQ((std::vector<int64_t>{2147483647, 2147483646, 5}),
            times(query(nodeA, true, 100, kNoLower, kNoUpper)));
}

TEST_P(GetEventsTest, CategoryAndTypeFilter) {
  JRXEvent a = event(nodeA, 1, "alert");
  a.category = "disk";
  JRXEvent b = event(nodeA, 2, "notice");
  b.category = "disk";
  JRXEvent c = event(nodeA, 3, "alert");
  c.category = "net";
  for (const JRXEvent* e : {&a, &b, &c}) ASSERT_EQ(0, log.saveEvent(*e));
  EXPECT_EQ((std::vector<int64_t>{2, 1}), times(query(nodeA, true, 100, 0, kNoUpper, "disk")));
  EXPECT_EQ((std::vector<int64_t>{3, 1}),
            times(query(nodeA, true, 100, 0, kNoUpper, "", "alert")));
  EXPECT_EQ((std::vector<int64_t>{1}),
            times(query(nodeA, true, 100, 0, kNoUpper, "disk", "alert")));
  EXPECT_TRUE(query(nodeA, true, 100, 0, kNoUpper, "disk'--").empty());
}

TEST_P(GetEventsTest, TheCallersVectorCountsTowardsTheLimit) {
  for (int t = 1; t <= 8; ++t) save(nodeA, t);
  std::vector<JRXEvent> full(5, JRXEvent("caller"));
  EXPECT_EQ(0, log.getEvents(&full, nodeA, true, 5, "", "", false, 0, kNoUpper));
  EXPECT_EQ(5u, full.size());
  for (const auto& e : full) EXPECT_EQ("caller", e.category);

  std::vector<JRXEvent> some(2, JRXEvent("caller"));
  EXPECT_EQ(0, log.getEvents(&some, nodeA, true, 5, "", "", false, 0, kNoUpper));
  ASSERT_EQ(5u, some.size());
  EXPECT_EQ(8, some[2].time);
  EXPECT_EQ(6, some[4].time);
}

TEST_P(GetEventsTest, DroppedAndCompactedEventsAreGone) {
  save(nodeA, 1);
  save(nodeA, 2);
  JRXEvent failed = auditEvent(nodeA, "s", 4);
  ASSERT_EQ(0, log.saveEvent(failed));
  save(nodeA, 3);
  EXPECT_EQ((std::vector<int64_t>{3, 2, 1}), times(query(nodeA)));
  ASSERT_EQ(0, JRXEventLogLocal::compact(2));
  EXPECT_EQ((std::vector<int64_t>{3, 2}), times(query(nodeA)));
}

TEST_P(GetEventsTest, PayloadsOnlyWhenAskedFor) {
  JRXEvent e = auditEvent(nodeA, "sess", 0, "detail");
  ASSERT_EQ(0, log.saveEvent(e));
  std::vector<JRXEvent> bare = query(nodeA, true, 10, 0, kNoUpper, "", "", false);
  ASSERT_EQ(1u, bare.size());
  EXPECT_FALSE(bare[0].data);
  std::vector<JRXEvent> full = query(nodeA, true, 10, 0, kNoUpper, "", "", true);
  ASSERT_EQ(1u, full.size());
  auto audit = boost::dynamic_pointer_cast<JRXAuditEvent>(full[0].data);
  ASSERT_TRUE(audit);
  EXPECT_EQ(*boost::dynamic_pointer_cast<JRXAuditEvent>(e.data), *audit);

  // A NULL payload column reads as no payload, and the row is still returned whole.
  JRXEvent plain = save(nodeA, 5000);
  std::vector<JRXEvent> both = query(nodeA, true, 10, 0, kNoUpper, "", "", true);
  ASSERT_EQ(2u, both.size());
  EXPECT_EQ(plain.guid, both[0].guid);
  EXPECT_EQ(plain.info, both[0].info);
  EXPECT_FALSE(both[0].data);
  EXPECT_TRUE(boost::dynamic_pointer_cast<JRXAuditEvent>(both[1].data));
}

// A payload written by a newer sender, of a type this side has no parser for, is left out
// rather than guessed at.
TEST_P(GetEventsTest, PayloadOfAnUnknownTypeIsLeftOut) {
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

  std::vector<JRXEvent> got = query(nodeA, true, 10, 0, kNoUpper, "", "", true);
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(10, got[0].time);
  EXPECT_FALSE(got[0].data);
}

TEST_P(GetEventsTest, RefusedRightTouchesNeitherVectorNorDatabase) {
  save(nodeA, 1);
  auto rights = std::make_shared<JRXRightsTable>();
  rights->grant(nodeB, 54);
  actAs(rights);
  std::vector<JRXEvent> out(1, JRXEvent("caller"));
  ASFaults::Clear();
  EXPECT_EQ(414, log.getEvents(&out, nodeA, true, 10, "", "", false, 0, kNoUpper));
  EXPECT_EQ(0, ASFaults::StatementsSeen());
  EXPECT_EQ(1u, out.size());
  EXPECT_EQ("", lastEnded(log).message);
  // Any environment is only granted through "*".
  EXPECT_EQ(414, log.getEvents(&out, JRXEID::EID_INVALID, true, 10, "", "", false, 0, kNoUpper));
  EXPECT_EQ(0, log.getEvents(&out, nodeB, true, 10, "", "", false, 0, kNoUpper));
  EXPECT_FALSE(log.getContextLocal()->hasLastError());
}

// Events of equal time come in one order whether the answer is read at once or in pages.
TEST_P(GetEventsTest, EqualTimesInTheSameOrderAtAnyLimit) {
  bulk(nodeA, 600, 50, nullptr, &nodeB, 0);
  std::vector<JRXEvent> paged = query(JRXEID::EID_INVALID, true, 600);
  std::vector<JRXEvent> single = query(JRXEID::EID_INVALID, true, 500);
  ASSERT_EQ(600u, paged.size());
  ASSERT_EQ(500u, single.size());
  for (size_t i = 0; i < single.size(); ++i) ASSERT_EQ(single[i].guid, paged[i].guid) << i;
}

TEST_P(GetEventsTest, DatabaseFailureAnswers3101WithoutLastError) {
  save(nodeA, 1);
  ASFaults::FailStatement(1, "", "server went away");
  std::vector<JRXEvent> out;
  EXPECT_EQ(3101, log.getEvents(&out, nodeA, true, 10, "", "", false, 0, kNoUpper));
  EXPECT_EQ("server went away", lastEnded(log).message);
  EXPECT_FALSE(log.getContextLocal()->hasLastError());
  EXPECT_TRUE(out.empty());
}

// A few recent events of a busy log's quiet source are read by one statement, the older ones
// by another; when the second fails, what the first read stays with the caller.
TEST_P(GetEventsTest, FailureAfterSomeEventsKeepsThoseRead) {
  bulk(nodeA, 1100, 1);
  bulk(nodeB, 1021, 5000);
  bulk(nodeA, 3, 9000);
  const std::vector<JRXEvent> full = query(nodeA, true, 10);
  ASSERT_EQ(10u, full.size());
  ASFaults::FailStatement(2, "info_bin", "server went away");
  std::vector<JRXEvent> out;
  EXPECT_EQ(3101, log.getEvents(&out, nodeA, true, 10, "", "", false, 0, kNoUpper));
  ASFaults::Clear();
  ASSERT_FALSE(out.empty());
  ASSERT_LT(out.size(), full.size());
  for (size_t i = 0; i < out.size(); ++i) EXPECT_EQ(full[i].guid, out[i].guid) << i;
}

TEST_P(GetEventsTest, AnswerHoldsOneElementPerEventInVectorOrder) {
  save(nodeA, 1);
  save(nodeA, 3);
  save(nodeA, 2);
  std::vector<JRXEvent> out = query(nodeA);
  ASSERT_EQ(3u, out.size());
  const JRXMessage* answer = log.answer();
  ASSERT_NE(nullptr, answer);
  const auto& children = answer->root().children;
  ASSERT_EQ(3u, children.size());
  for (size_t i = 0; i < children.size(); ++i) {
    const JRXMessageElement& el = *children[i];
    EXPECT_EQ(1612, el.id);
    // The namespace is declared while the event is written and cleared afterwards.
    EXPECT_EQ(0, el.ns);
    EXPECT_EQ(292, el.typeNs);
    EXPECT_EQ(160, el.type);
    JRXEvent back;
    JRXEvent::Reader reader;
    ASSERT_EQ(0, reader(JRXMessageIterator(const_cast<JRXMessageElement*>(&el)), back));
    EXPECT_EQ(out[i].guid, back.guid);
    EXPECT_EQ(out[i].time, back.time);
  }
}

INSTANTIATE_TEST_SUITE_P(Db, GetEventsTest, ::testing::ValuesIn(backends()), BackendName());

}  // namespace
}  // namespace jrxtest
