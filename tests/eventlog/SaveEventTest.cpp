// Recording events: the rows each kind leaves, duplicates, refusals, the rules that drop
// worthless audit events, failures; which rows compaction leaves, and what it logs.
#include <climits>

#include "LogDbFixture.h"

using namespace JRX;

namespace jrxtest {
namespace {

class SaveEventTest : public LogDbFixture {
 protected:
  // The event tables: events without GUID and binary forms; links by environment identifier.
  static Lines eventTables() {
    events_log ev;
    events_log_env l;
    env_log e;
    events_log_audit a;
    Fields events = fieldsOf({&ev}, {&ev->event_id, &ev->code, &ev->time, &ev->category,
                                     &ev->type, &ev->sid, &ev->info, &ev->data});
    for (auto& r : events) r.back() = r.back() == "NULL" ? "-" : "payload";
    return ranked({{"event", events, {{0, 'v'}}},
                   {"link", fieldsOf({&l, &e}, {&l->event_id, &l->role, &e->eid}, l->env_id == e->id),
                    {{0, 'v'}}},
                   {"resource", fieldsOf<events_log_resource>(), {{0, 'v'}}},
                   {"status", fieldsOf<events_log_status>(), {{0, 'v'}}},
                   {"audit", fieldsOf({&a}, {&a->event_id, &a->session_id, &a->address, &a->address_bin, &a->detail}),
                    {{0, 'v'}}}});
  }

  // Saves the events in turn, each failing at every statement first, on an empty log where
  // operations ran under `busySessions`: the tables then hold `rows` and a source link of each
  // event but a second delivery; the plug-in logs `notes`.
  void check(const char* what, std::vector<JRXEvent> events, Lines rows,
             const Lines& notes = {}, const Lines& busySessions = {}) {
    SCOPED_TRACE(what);
    emptyLogTables();
    sink->clear();
    for (const std::string& s : busySessions) opRow("op-" + s, "deploy", 4, 5, "", s);
    std::set<std::string> guids;
    for (size_t i = 0; i < events.size(); ++i) {
      events[i].code = static_cast<int>(i);
      EXPECT_EQ(failEachStatement(&log, [&] { return log.saveEvent(events[i]); }), 0);
      if (guids.insert(events[i].guid.toString()).second)
        rows.push_back("link: " + std::to_string(guids.size()) + "|S|7a:1");
    }
    Lines stored = eventTables();
    std::sort(stored.begin(), stored.end());
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(stored, rows);
    std::set<std::string> logged;
    for (const auto& r : sink->records())
      if (r.category == "JRXLogDBLocal") logged.insert(r.text);
    EXPECT_EQ(Lines(logged.begin(), logged.end()), notes);
  }

  JRXEventLogLocal log{nullptr};
};

TEST_P(SaveEventTest, EachKindOfEventLeavesItsRows) {
  const std::string kText = "disk {id} is full";
  // An event row by its rank, code, time, type, display text and payload.
  auto row = [&](int n, int code, long time, const std::string& type = "alert",
                 const std::string& text = "disk {id} is full", const char* data = "-") {
    return "event: " + std::to_string(n) + "|" + std::to_string(code) + "|" +
           std::to_string(time) + "|monitor|" + type + "|0105ab|" + text + "\\0|" + data;
  };
  auto audit = [](int n, const std::string& session, const std::string& detail = "login") {
    return "audit: " + std::to_string(n) + "|" + session + "|::ffff:192.0.2.7|" +
           escaped(std::string("\0\0\0\0\0\0\0\0\0\0\xff\xff\xc0\0\x02\x07", 16)) + "|" + detail;
  };
  JRXEvent full = event(kVm1, (1LL << 32) + 1234);  // times keep their low 32 bits
  full.info.addParameter("id", "disk-7");
  full.info.addParameter("env", envRef(kVm2, "vm", "vm-2"));
  JRXEvent badEnv = event(kVm1), noEid = event(kVm1);
  JRXInfo bad("environment");
  bad.addParameter("eid", "not-a-guid");
  badEnv.info.addParameter("env", bad);
  noEid.info.addParameter("env", JRXInfo("environment"));
  JRXEvent idOnly = event(kVm1), typeOnly = event(kVm1), again = full;
  idOnly.info.addParameter("id", "disk-2");
  typeOnly.info.addParameter("type", "nic");
  again.category = "changed";
  check("environments, resources with a parameter missing, and a second delivery",
        {full, badEnv, noEid, idOnly, typeOnly, again},
        {row(1, 0, 1234, "alert", "disk disk-7 is full"), row(2, 1, 1000), row(3, 2, 1000),
         row(4, 3, 1000, "alert", "disk disk-2 is full"), row(5, 4, 1000), "link: 1|O|7a:2",
         "resource: 1|disk-7|NULL", "resource: 4|disk-2|NULL", "resource: 5|NULL|nic"});

  auto statusEvent = [&](const char* os, const char* ot, const char* ns, const char* nt) {
    JRXEvent e = event(kVm1, 1000, "env_status");
    for (auto p : {std::make_pair("old_status", os), std::make_pair("old_transition", ot),
                   std::make_pair("new_status", ns), std::make_pair("new_transition", nt)})
      e.info.addParameter(p.first, p.second);
    return e;
  };
  check("status changes, converted as the C library does",
        {statusEvent("3", "11", "4", "12"), statusEvent("  -12xyz", "+7", "running", "")},
        {row(1, 0, 1000, "env_status"), row(2, 1, 1000, "env_status"), "status: 1|3|11|4|12",
         "status: 2|-12|7|0|0"});

  JRXEvent auditNone = event(kVm1, 10, "audit"), auditPlain = event(kVm1, 11, "audit");
  auditPlain.data = boost::make_shared<JRXEventData>();
  check("payloads of any type, and audits without audit payload",
        {auditNone, auditPlain, auditEvent(kVm1, "s", 0, "opened")},
        {row(1, 0, 10, "audit"), row(2, 1, 11, "audit", kText, "payload"),
         row(3, 2, 2000, "audit", kText, "payload"), audit(3, "s", "opened")},
        {"[int JRX::logAudit(JRX::JRXRdbmsTran&, int, const JRX::JRXEvent&)] audit event "
         "without JRXAuditEvent data"});

  JRXEvent failedLogin = auditEvent(kVm1, "s", 4);
  failedLogin.info.addParameter("id", "console");
  check("a failed login is dropped, its detail rows are not; a session that ran operations "
        "keeps its audit rows",
        {failedLogin, auditEvent(kVm1, "busy", 0), auditEvent(kVm1, "busy", 2)},
        {"resource: 1|console|NULL", row(2, 1, 2000, "audit", kText, "payload"),
         row(3, 2, 2000, "audit", kText, "payload"), audit(2, "busy"), audit(3, "busy")},
        {"events about a login failure are dropped"}, {"busy"});
  // The dropped event's audit row stays; the closing event gets none, and a later one does
  // not drop it.
  check("an idle session's end drops its audited events",
        {auditEvent(kVm1, "idle", 0), auditEvent(kVm1, "other", 0), auditEvent(kVm1, "idle", 2),
         auditEvent(kVm1, "idle", 3)},
        {row(2, 1, 2000, "audit", kText, "payload"), row(3, 2, 2000, "audit", kText, "payload"),
         row(4, 3, 2000, "audit", kText, "payload"), audit(1, "idle"), audit(2, "other")},
        {"events about a session with no activity are dropped"});
}

TEST_P(SaveEventTest, RefusedEventsLeaveNothing) {
  JRXEvent noSource = event(kVm1), badSource = event(kVm1);
  noSource.info = JRXInfo("no source");
  noSource.info.addParameter("env", envRef(kVm2));
  noSource.info.addParameter("id", "r1");
  JRXInfo ref("environment");
  ref.addParameter("eid", "{nonsense}");
  badSource.info = JRXInfo("bad source");
  badSource.info.addParameter("source_env", ref);
  JRXEvent noTransition = event(kVm1, 1000, "env_status");
  for (const char* p : {"old_status", "old_transition", "new_status"}) noTransition.info.addParameter(p, "3");
  for (const JRXEvent& e : {noSource, badSource, noTransition}) {
    EXPECT_EQ(log.saveEvent(e), 3101);
    EXPECT_EQ(log.endedCommands().back().message, "");
  }
  EXPECT_EQ(allLogRows(), Lines());
  // The event log never records a last error.
  EXPECT_FALSE(log.getContextLocal()->hasLastError());
}

TEST_P(SaveEventTest, CompactionKeepsTheNewestRecordedEvents) {
  for (int i = 0; i < 8; ++i) {
    // Times run backwards: age is the order of recording, not the event's time.
    JRXEvent e = event(kNode, 1000 - i);
    e.code = i;
    ASSERT_EQ(0, log.saveEvent(e));
  }
  // Gaps among the keys: two events deleted, and one dropped as it was saved.
  events_log ev;
  {
    JRXRdbmsTran tran;
    ASDeleter(ev).Where(ev->code == 4 || ev->code == 6).Execute(*tran);
    tran.commit();
  }
  ASSERT_EQ(0, log.saveEvent(auditEvent(kNode, "idle", 4)));
  sink->clear();
  const Lines six{"0", "1", "2", "3", "5", "7"};
  const std::pair<int, Lines> steps[] = {
      {6, six}, {1000000, six}, {-1, six}, {INT_MIN, six}, {3, {"3", "5", "7"}}, {0, {}}};
  for (const auto& s : steps) {
    SCOPED_TRACE(s.first);
    EXPECT_EQ(0, failEachStatement(nullptr, [&] { return JRXEventLogLocal::compact(s.first); }));
    EXPECT_EQ(rowsOf({&ev}, {&ev->code}), s.second);
  }
  // Detail rows stay. A failure is logged before the framework's error handling logs it.
  EXPECT_EQ(fieldsOf<events_log_env>().size(), 9u);
  const Lines failed = records(1);
  EXPECT_EQ(failed, Lines(std::max<size_t>(failed.size(), 1), "Events compact failed."));
  EXPECT_EQ(sink->records().front().function + " " + sink->records().front().text,
            "compact Events compact failed.");
}

JRX_ON_EVERY_BACKEND(SaveEventTest);

}  // namespace
}  // namespace jrxtest
