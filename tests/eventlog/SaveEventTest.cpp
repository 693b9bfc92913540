// Recording events: the rows each kind of event leaves, duplicates, refusals and failures.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <memory>
#include <string>

#include "EventLogFixture.h"
#include "OpLogRows.h"
#include "JRXMessage.h"
#include "store/ValueEncodings.h"

using namespace JRX;

namespace jrxtest {
namespace {

class SaveEventTest : public EventLogFixture {
 protected:
  JRXEventLogLocal log{nullptr};
  const JRXEID nodeA{0xa1, 0x01};
  const JRXEID nodeB{0xb2, 0x02};

  // The environments linked to the event, as "role:eid" texts in role order.
  std::vector<std::string> links(int event_id) {
    std::vector<std::string> out;
    JRXRdbmsTran tran;
    events_log_env l;
    env_log v;
    ASCursor c(*tran);
    c.Project() << l->role << v->eid;
    c.Set(l->event_id == event_id && l->env_id == v->id);
    while (c.Fetch())
      out.push_back(l.role.Str().str() + ":" +
                    JRXEID(rdbmsGuidToGuid(v.eid.Guid())).toString());
    std::sort(out.begin(), out.end());
    return out;
  }

  std::string link(const char* role, const JRXEID& eid) {
    return std::string(role) + ":" + eid.toString();
  }
};

TEST_P(SaveEventTest, StoresTheEventRowInItsStoredForms) {
  JRXEvent e = event(nodeA, 1234);
  e.info.addParameter("id", "disk-7");
  ASSERT_EQ(0, log.saveEvent(e));
  EXPECT_EQ(0, lastEnded(log).code);
  EXPECT_EQ("", lastEnded(log).message);

  events_log row;
  ASSERT_TRUE(storedEvent(e.guid, row));
  EXPECT_EQ(7, row.code.Int());
  EXPECT_EQ(1234, row.time.Int());
  EXPECT_EQ("monitor", row.category.Str().str());
  EXPECT_EQ("alert", row.type.Str().str());
  EXPECT_EQ(sidToSql(e.sid), row.sid.Str().str());

  // The display text with its terminating NUL.
  const std::string text = e.info.toString();
  EXPECT_EQ("disk disk-7 is full", text);
  ASSERT_EQ(text.size() + 1, row.info.size());
  EXPECT_EQ(text + std::string(1, '\0'), row.info.Bytes());

  JRXInfo back;
  ASSERT_EQ(0, logdb::getInfoFromBinary(row.info_bin.voidptr(), row.info_bin.size(), back));
  EXPECT_EQ(e.info, back);
  EXPECT_TRUE(row.data.IsNull());
}

TEST_P(SaveEventTest, LinksSourceAndFurtherEnvironment) {
  JRXEvent both = event(nodeA);
  both.info.addParameter("env", envRef(nodeB, "vm-2", "vm"));
  JRXEvent sourceOnly = event(nodeA);
  JRXEvent badEnv = event(nodeA);
  JRXInfo bad("environment");
  bad.addParameter("eid", "not-a-guid");
  badEnv.info.addParameter("env", bad);
  JRXEvent noEid = event(nodeA);
  noEid.info.addParameter("env", JRXInfo("environment"));

  for (const JRXEvent* e : {&both, &sourceOnly, &badEnv, &noEid}) ASSERT_EQ(0, log.saveEvent(*e));

  EXPECT_EQ((std::vector<std::string>{link("O", nodeB), link("S", nodeA)}),
            links(eventId(both.guid)));
  EXPECT_EQ(std::vector<std::string>{link("S", nodeA)}, links(eventId(sourceOnly.guid)));
  EXPECT_EQ(std::vector<std::string>{link("S", nodeA)}, links(eventId(badEnv.guid)));
  EXPECT_EQ(std::vector<std::string>{link("S", nodeA)}, links(eventId(noEid.guid)));
  // Both environments once in env_log, whichever event named them.
  EXPECT_EQ(2, count<env_log>());
}

TEST_P(SaveEventTest, RefusesAnEventWithoutSourceAndLeavesNothing) {
  JRXEvent noSource = event(nodeA);
  noSource.info = JRXInfo("no source");
  noSource.info.addParameter("env", envRef(nodeB));
  noSource.info.addParameter("id", "r1");
  JRXEvent badSource = event(nodeA);
  badSource.info = JRXInfo("bad source");
  JRXInfo ref("environment");
  ref.addParameter("eid", "{nonsense}");
  badSource.info.addParameter("source_env", ref);

  for (const JRXEvent* e : {&noSource, &badSource}) {
    EXPECT_EQ(3101, log.saveEvent(*e));
    EXPECT_EQ("", lastEnded(log).message);
  }
  EXPECT_EQ(0, count<events_log>());
  EXPECT_EQ(0, count<events_log_env>());
  EXPECT_EQ(0, count<events_log_resource>());
  EXPECT_EQ(0, count<env_log>());
  // The event log never records a last error.
  EXPECT_FALSE(log.getContextLocal()->hasLastError());
}

TEST_P(SaveEventTest, ResourceRowLeavesOutAbsentParameters) {
  JRXEvent bothParams = event(nodeA);
  bothParams.info.addParameter("id", "disk-1");
  bothParams.info.addParameter("type", "disk");
  JRXEvent idOnly = event(nodeA);
  idOnly.info.addParameter("id", "disk-2");
  JRXEvent typeOnly = event(nodeA);
  typeOnly.info.addParameter("type", "nic");
  JRXEvent neither = event(nodeA);
  for (const JRXEvent* e : {&bothParams, &idOnly, &typeOnly, &neither})
    ASSERT_EQ(0, log.saveEvent(*e));

  auto resource = [&](const JRXEvent& e, events_log_resource& r) {
    JRXRdbmsTran tran;
    ASCursor c(*tran);
    c.Project() << r->event_id << r->resource_id << r->resource_type;
    c.Set(r->event_id == eventId(e.guid));
    int n = 0;
    while (c.Fetch()) ++n;
    return n;
  };
  events_log_resource r;
  ASSERT_EQ(1, resource(bothParams, r));
  EXPECT_EQ("disk-1", r.resource_id.Str().str());
  EXPECT_EQ("disk", r.resource_type.Str().str());
  events_log_resource r2;
  ASSERT_EQ(1, resource(idOnly, r2));
  EXPECT_EQ("disk-2", r2.resource_id.Str().str());
  EXPECT_TRUE(r2.resource_type.IsNull() || r2.resource_type.Str().str().empty());
  events_log_resource r3;
  ASSERT_EQ(1, resource(typeOnly, r3));
  EXPECT_TRUE(r3.resource_id.IsNull() || r3.resource_id.Str().str().empty());
  EXPECT_EQ("nic", r3.resource_type.Str().str());
  events_log_resource r4;
  EXPECT_EQ(0, resource(neither, r4));
}

TEST_P(SaveEventTest, StatusChangeConvertsLikeTheCLibrary) {
  auto statusEvent = [&](const char* os, const char* ot, const char* ns, const char* nt) {
    JRXEvent e = event(nodeA, 1000, "env_status");
    if (os) e.info.addParameter("old_status", os);
    if (ot) e.info.addParameter("old_transition", ot);
    if (ns) e.info.addParameter("new_status", ns);
    if (nt) e.info.addParameter("new_transition", nt);
    return e;
  };
  JRXEvent numeric = statusEvent("3", "11", "4", "12");
  JRXEvent odd = statusEvent("  -12xyz", "+7", "running", "");
  JRXEvent missing = statusEvent("3", "11", "4", nullptr);
  JRXEvent wrongCase = statusEvent("3", "11", "4", "12");
  wrongCase.type = "Env_Status";

  ASSERT_EQ(0, log.saveEvent(numeric));
  ASSERT_EQ(0, log.saveEvent(odd));
  EXPECT_EQ(3101, log.saveEvent(missing));
  EXPECT_EQ("", lastEnded(log).message);
  EXPECT_EQ(-1, eventId(missing.guid));
  ASSERT_EQ(0, log.saveEvent(wrongCase));

  auto status = [&](const JRXEvent& e) {
    events_log_status s;
    JRXRdbmsTran tran;
    ASCursor c(*tran);
    c.Project() << s->old_status << s->old_transition << s->new_status << s->new_transition;
    c.Set(s->event_id == eventId(e.guid));
    std::vector<long long> v;
    while (c.Fetch())
      v.insert(v.end(), {s.old_status.Int(), s.old_transition.Int(), s.new_status.Int(),
                         s.new_transition.Int()});
    return v;
  };
  EXPECT_EQ((std::vector<long long>{3, 11, 4, 12}), status(numeric));
  EXPECT_EQ((std::vector<long long>{-12, 7, 0, 0}), status(odd));
  EXPECT_TRUE(status(wrongCase).empty());
  EXPECT_EQ(2, count<events_log_status>());
}

TEST_P(SaveEventTest, TimeKeepsItsLow32Bits) {
  JRXEvent wrapped = event(nodeA, 4294967296LL + 5);
  JRXEvent negative = event(nodeA, 2147483648LL + 10);
  ASSERT_EQ(0, log.saveEvent(wrapped));
  ASSERT_EQ(0, log.saveEvent(negative));
  events_log row;
  ASSERT_TRUE(storedEvent(wrapped.guid, row));
  EXPECT_EQ(5, row.time.Int());
  ASSERT_TRUE(storedEvent(negative.guid, row));
  EXPECT_EQ(-2147483638LL, logdb::sqlToTime(row.time));
}

TEST_P(SaveEventTest, SameGuidTwiceStoresOneEvent) {
  JRXEvent e = event(nodeA);
  e.info.addParameter("env", envRef(nodeB));
  e.info.addParameter("id", "x");
  ASSERT_EQ(0, log.saveEvent(e));
  JRXEvent again = e;
  again.category = "changed";
  EXPECT_EQ(0, log.saveEvent(again));
  EXPECT_EQ(0, lastEnded(log).code);
  EXPECT_EQ(1, count<events_log>());
  EXPECT_EQ(2, count<events_log_env>());
  EXPECT_EQ(1, count<events_log_resource>());
  events_log row;
  ASSERT_TRUE(storedEvent(e.guid, row));
  EXPECT_EQ("monitor", row.category.Str().str());
}

TEST_P(SaveEventTest, PayloadReadsBackAsTheSameAuditEvent) {
  JRXEvent e = auditEvent(nodeA, "sess-1", 0, "logged in");
  ASSERT_EQ(0, log.saveEvent(e));
  events_log row;
  ASSERT_TRUE(storedEvent(e.guid, row));
  ASSERT_FALSE(row.data.IsNull());
  boost::shared_ptr<JRXEventData> back;
  logdb::getEventDataFromBinary(row.data.voidptr(), row.data.size(), back);
  auto audit = boost::dynamic_pointer_cast<JRXAuditEvent>(back);
  ASSERT_TRUE(audit);
  EXPECT_EQ(*boost::dynamic_pointer_cast<JRXAuditEvent>(e.data), *audit);
}

// A payload type nobody registered is no reason to lose the event: it is kept with the
// payload as the base type.
struct UnregisteredPayload : JRXEventData {};

TEST_P(SaveEventTest, KeepsAnEventWhosePayloadTypeIsUnregistered) {
  JRXEvent e = event(nodeA);
  e.data = boost::make_shared<UnregisteredPayload>();
  EXPECT_EQ(0, log.saveEvent(e));
  EXPECT_EQ("", lastEnded(log).message);
  events_log row;
  ASSERT_TRUE(storedEvent(e.guid, row));
  ASSERT_FALSE(row.data.IsNull());
  boost::shared_ptr<JRXEventData> back;
  logdb::getEventDataFromBinary(row.data.voidptr(), row.data.size(), back);
  ASSERT_TRUE(back);
  EXPECT_FALSE(boost::dynamic_pointer_cast<JRXAuditEvent>(back));
}

// A registered payload whose writer gives up half way: only the serialiser's result counts.
struct HalfWrittenPayload : JRXEventData {};
struct HalfWrittenParser : JRXDerivedParserFactory<JRXEventData>::Parser {
  const char* name() const override { return "HalfWrittenPayload"; }
  int write(JRXMessageIterator& it, const JRXEventData&) const override {
    it.putInt(1, 1);
    return 5;
  }
  boost::shared_ptr<JRXEventData> read(const JRXMessageIterator&) const override {
    return boost::make_shared<HalfWrittenPayload>();
  }
};

TEST_P(SaveEventTest, APayloadWriterThatFailsDoesNotRefuseTheEvent) {
  auto& registry = JRXDerivedParserFactory<JRXEventData>::instance();
  if (!registry.byType(typeid(HalfWrittenPayload)))
    registry.add(typeid(HalfWrittenPayload), std::make_unique<HalfWrittenParser>());
  JRXEvent e = event(nodeA);
  e.data = boost::make_shared<HalfWrittenPayload>();
  EXPECT_EQ(0, log.saveEvent(e));
  EXPECT_EQ("", lastEnded(log).message);
  events_log row;
  ASSERT_TRUE(storedEvent(e.guid, row));
  EXPECT_FALSE(row.data.IsNull());
}

TEST_P(SaveEventTest, AuditWithoutAuditPayloadIsStoredAndLogged) {
  JRXEvent none = event(nodeA, 10, "audit");
  JRXEvent plain = event(nodeA, 11, "audit");
  plain.data = boost::make_shared<JRXEventData>();
  ASSERT_EQ(0, log.saveEvent(none));
  ASSERT_EQ(0, log.saveEvent(plain));
  EXPECT_NE(-1, eventId(none.guid));
  EXPECT_NE(-1, eventId(plain.guid));
  EXPECT_EQ(0, count<events_log_audit>());

  const std::string text =
      "[int JRX::logAudit(JRX::JRXRdbmsTran&, int, const JRX::JRXEvent&)] "
      "audit event without JRXAuditEvent data";
  EXPECT_EQ((std::vector<std::string>{text, text}), records(1));
  const JRXLogRecord r = sink->records().front();
  EXPECT_EQ("logAudit", r.function);
  EXPECT_EQ("plugins/JRXLogDB/JRXLogDBLocal", r.file);
}

TEST_P(SaveEventTest, AuditKindZeroWritesTheAuditRow) {
  JRXEvent e = auditEvent(nodeA, "sess-0", 0, "opened console");
  ASSERT_EQ(0, log.saveEvent(e));
  events_log_audit a;
  JRXRdbmsTran tran;
  ASCursor c(*tran);
  for (size_t i = 0; i < a.Size(); ++i) c.Project() << a.Attribute(i);
  ASSERT_TRUE(c.Fetch());
  EXPECT_EQ(eventId(e.guid), a.event_id.Int());
  EXPECT_EQ("sess-0", a.session_id.Str().str());
  EXPECT_EQ("::ffff:192.0.2.7", a.address.Str().str());
  const auto& ip = boost::dynamic_pointer_cast<JRXAuditEvent>(e.data)->address;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ip.bytes), 16), a.address_bin.Bytes());
  EXPECT_EQ("opened console", a.detail.Str().str());
  EXPECT_FALSE(c.Fetch());
}

TEST_P(SaveEventTest, FailedLoginDropsTheEventButNotItsDetailRows) {
  JRXEvent e = auditEvent(nodeA, "sess-x", 4);
  e.info.addParameter("id", "console");
  ASSERT_EQ(0, log.saveEvent(e));
  EXPECT_EQ(0, lastEnded(log).code);
  EXPECT_EQ(-1, eventId(e.guid));
  EXPECT_EQ(0, count<events_log>());
  EXPECT_EQ(1, count<events_log_env>());
  EXPECT_EQ(1, count<events_log_resource>());
  EXPECT_EQ(0, count<events_log_audit>());
  EXPECT_EQ(std::vector<std::string>{"events about a login failure are dropped"}, records(4));
  EXPECT_EQ("dropFailedLogin", sink->records().back().function);
}

TEST_P(SaveEventTest, SessionWithOperationsKeepsItsAuditRows) {
  jrxtest::OpLogRows::op("req-1", "deploy", 4, 5, "", "busy");
  JRXEvent first = auditEvent(nodeA, "busy", 0);
  JRXEvent second = auditEvent(nodeA, "busy", 2);
  ASSERT_EQ(0, log.saveEvent(first));
  ASSERT_EQ(0, log.saveEvent(second));
  EXPECT_EQ(2, count<events_log>());
  EXPECT_EQ(2, count<events_log_audit>());
  EXPECT_TRUE(records(4).empty());
}

TEST_P(SaveEventTest, IdleSessionDropsItsEarlierAuditedEvents) {
  JRXEvent login = auditEvent(nodeA, "idle", 0);
  JRXEvent other = auditEvent(nodeA, "other", 0);
  JRXEvent logout = auditEvent(nodeA, "idle", 2);
  JRXEvent logoutAgain = auditEvent(nodeA, "idle", 3);
  ASSERT_EQ(0, log.saveEvent(login));
  ASSERT_EQ(0, log.saveEvent(other));
  ASSERT_EQ(0, log.saveEvent(logout));
  EXPECT_EQ(-1, eventId(login.guid));
  EXPECT_NE(-1, eventId(other.guid));
  EXPECT_NE(-1, eventId(logout.guid));
  // The dropped event's audit row stays; the new event gets none.
  EXPECT_EQ(2, count<events_log_audit>());

  ASSERT_EQ(0, log.saveEvent(logoutAgain));
  EXPECT_NE(-1, eventId(logout.guid));
  EXPECT_NE(-1, eventId(logoutAgain.guid));
  EXPECT_EQ(3, count<events_log>());
  EXPECT_EQ(2, count<events_log_audit>());
  const std::string text = "events about a session with no activity are dropped";
  EXPECT_EQ((std::vector<std::string>{text, text}), records(4));
  EXPECT_EQ("logAudit", sink->records().back().function);
}

TEST_P(SaveEventTest, EmptySessionMatchesOnlyEmptySessions) {
  jrxtest::OpLogRows::op("req-1", "deploy", 4, 5, "", "busy");
  JRXEvent anonymous = auditEvent(nodeA, "", 0);
  JRXEvent named = auditEvent(nodeA, "x", 0);
  JRXEvent spaced = auditEvent(nodeA, " ", 0);
  JRXEvent logout = auditEvent(nodeA, "", 2);
  for (const JRXEvent* e : {&anonymous, &named, &spaced, &logout})
    ASSERT_EQ(0, log.saveEvent(*e));
  EXPECT_EQ(-1, eventId(anonymous.guid));
  EXPECT_NE(-1, eventId(named.guid));
  EXPECT_NE(-1, eventId(spaced.guid));
  EXPECT_NE(-1, eventId(logout.guid));

  // Once an operation ran under the empty session, its audit rows are written again.
  jrxtest::OpLogRows::op("req-2", "deploy", 4, 6, "", "");
  JRXEvent again = auditEvent(nodeA, "", 2);
  ASSERT_EQ(0, log.saveEvent(again));
  events_log_audit a;
  EXPECT_EQ(1, count(a, a->event_id == eventId(again.guid)));
  EXPECT_NE(-1, eventId(logout.guid));
}

TEST_P(SaveEventTest, DatabaseFailureMidwayLeavesNothing) {
  JRXEvent e = event(nodeA);
  e.info.addParameter("env", envRef(nodeB));
  e.info.addParameter("id", "x");
  // The first link row is written after the event row and the source's env_log row.
  ASFaults::FailStatement(1, "events_log_env", "disk I/O on fire");
  EXPECT_EQ(3101, log.saveEvent(e));
  EXPECT_EQ("disk I/O on fire", lastEnded(log).message);
  EXPECT_FALSE(log.getContextLocal()->hasLastError());
  ASFaults::Clear();
  EXPECT_EQ(0, count<events_log>());
  EXPECT_EQ(0, count<events_log_env>());
  EXPECT_EQ(0, count<env_log>());
  EXPECT_EQ(0, count<events_log_resource>());

  // Nothing is held back: the same event saves afterwards.
  EXPECT_EQ(0, log.saveEvent(e));
  EXPECT_EQ(1, count<events_log>());
}

TEST_P(SaveEventTest, LostConnectionDuringAuditRuleLeavesNothing) {
  JRXEvent e = auditEvent(nodeA, "s", 4);
  ASFaults::DropConnection(1, "DELETE");
  EXPECT_EQ(3101, log.saveEvent(e));
  EXPECT_FALSE(lastEnded(log).message.empty());
  ASFaults::Clear();
  EXPECT_EQ(0, count<events_log>());
  EXPECT_EQ(0, count<events_log_env>());
  EXPECT_EQ(0, log.saveEvent(e));
}

INSTANTIATE_TEST_SUITE_P(Db, SaveEventTest, ::testing::ValuesIn(backends()), BackendName());

}  // namespace
}  // namespace jrxtest
