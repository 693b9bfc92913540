// A fresh log database per test on every backend, through the fault-injecting driver: the log
// tables, a local node, a directory of a few environments, no client rights, records captured.
// Header only: it needs the plug-in, which the common library does not link.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <boost/make_shared.hpp>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <tuple>

#include "ASFaults.h"
#include "HostileTexts.h"
#include "JRXEnvDirectory.h"
#include "JRXLog.h"
#include "JRXLogDBLocal.h"
#include "LogRows.h"
#include "TestDb.h"

namespace jrxtest {

class LogDbFixture : public ::testing::TestWithParam<std::string> {
 protected:
  // The widest record limit and upper time bound the query calls take.
  static constexpr unsigned int kNoLimit = 2147483647;
  static constexpr long kNoUpper = 2147483647, kT0 = 1701000000;
  // The local node, the node executing the reported operations, two machines, and one the
  // directory does not know.
  static inline const JRX::JRXEID kLocal{0x10c41, 1}, kNode{0x70de, 1}, kVm1{0x7a, 1},
      kVm2{0x7a, 2}, kUnknown{0xdead, 0xbeef};
  static inline const std::string kInjected = "statement failed on purpose";

  void SetUp() override {
    sink = std::make_shared<JRX::JRXCapturingLogSink>();
    previousSink = JRX::setLogSink(sink);
    openLogDb();
  }

  void TearDown() override {
    for (const auto& r : sink ? sink->records() : std::vector<JRX::JRXLogRecord>())
      EXPECT_EQ(r.text.find("without a command begun"), std::string::npos) << r.text;
    ASFaults::Clear();
    JRX::setLogSink(previousSink);
    JRX::JRXAccessChecker::setClientContext(nullptr);
    JRX::JRXDatabase::close();
  }

  void openLogDb(bool throughFaults = true) {
    ASFaults::Clear();
    const std::string url = freshDatabaseUrl(GetParam());
    JRX::JRXDatabase::open(throughFaults ? "fault:" + url : url);
    JRX::JRXConfiguration::setLocalEID(kLocal);
    JRX::createLogTables();
    JRX::JRXEnvDirectory::put(kLocal, "node", "local-node");
    JRX::JRXEnvDirectory::put(kNode, "node", "node-1");
    JRX::JRXEnvDirectory::put(kVm1, "vm", "vm-1");
    JRX::JRXEnvDirectory::put(kVm2, "vm", "vm-2");
    JRX::JRXAccessChecker::setClientContext(nullptr);
  }

  // The client of this thread holds exactly the rights of `rights` from now on.
  void actAs(std::shared_ptr<JRX::JRXRightsTable> rights) {
    checker.reset(new JRX::JRXAccessChecker(rights));
    JRX::JRXAccessChecker::setClientContext(checker.get());
  }

  // A report of the executing node.
  static JRX::JRXRequestProgressData report(const std::string& id, const std::string& name,
                                            int status, int progress, long time,
                                            const std::string& text) {
    JRX::JRXRequestProgressData r(id);
    r.name = name;
    r.status = status;
    r.progress = progress;
    r.time = time;
    r.info.setText(text);
    r.eid = kNode;
    return r;
  }

  // An environment as records name it; an empty type or title is left out.
  static JRX::JRXInfo envRef(const JRX::JRXEID& eid, const std::string& type = "node",
                             const std::string& title = "node-1") {
    JRX::JRXInfo ref("environment");
    ref.addParameter("eid", eid.toString());
    if (!type.empty()) ref.addParameter("type", type);
    if (!title.empty()) ref.addParameter("title", title);
    return ref;
  }

  static JRX::JRXEvent event(const JRX::JRXEID& source, int64_t time = 1000,
                             const std::string& type = "alert") {
    JRX::JRXEvent e("monitor");
    e.guid = JRX::JRXGUID::generate();
    e.time = time;
    e.type = type;
    e.code = 7;
    e.sid = JRX::JRXSID({0x01, 0x05, 0xab});
    e.info = JRX::JRXInfo("disk {id} is full");
    e.info.addParameter("source_env", envRef(source));
    return e;
  }
  static JRX::JRXEvent auditEvent(const JRX::JRXEID& source, const std::string& session,
                                  int kind, const std::string& detail = "login") {
    JRX::JRXEvent e = event(source, 2000, "audit");
    auto a = boost::make_shared<JRX::JRXAuditEvent>();
    a->session = session;
    a->address.fromString("192.0.2.7");
    a->detail = detail;
    a->kind = kind;
    e.data = a;
    return e;
  }

  // A log with a bit of everything: operations run here and elsewhere, started only (req-2),
  // ended (req-1, -3, -5, operand kVm1; kVm2 of the others), with sources, parents, tasks, a
  // session; events with environments, resources, status changes and an audit event.
  void fillLog() {
    JRX::JRXOpLogLocal log(nullptr);
    JRX::JRXEventLogLocal events(nullptr);
    for (int i = 0; i < 6; ++i) {
      const std::string n = std::to_string(i);
      auto r = report("req-" + n, i % 2 ? "vm.stop" : "vm.start", 0, 0, kT0 + i, "starting {vm}");
      r.eid = i < 3 ? kLocal : kNode;
      r.parentId = i ? "req-0" : "";
      r.operands = {i % 2 ? kVm1 : kVm2};
      r.info.addParameter("vm", "web-" + n);
      r.info.addParameter("task_id", "task-" + n);
      if (i % 3 == 0) r.info.addParameter("source_env", envRef(JRX::JRXEID(0xe0, i), "vm", "src-" + n));
      if (i == 1) r.sessionId = JRX::JRXSessionID("s-1");
      ASSERT_EQ(log.saveProgress(r), 0);
      if (i == 2) continue;
      r.status = i % 2 ? 3 : 2;
      r.progress = 50;
      r.time = kT0 + 10 + i;
      r.info = JRX::JRXInfo("half way");
      ASSERT_EQ(log.saveProgress(r), 0);
    }
    for (int i = 0; i < 4; ++i) {
      const std::string n = std::to_string(i);
      JRX::JRXEvent e = event(JRX::JRXEID(0xe1, i), kT0 + i, "env_status");
      e.guid = JRX::JRXGUID(0xe1, i);  // the same rows each time
      e.info.addParameter("env", envRef(JRX::JRXEID(0xe2, i), "vm", "other-" + n));
      for (const char* p : {"old_status", "new_status", "old_transition", "new_transition"})
        e.info.addParameter(p, n);
      e.info.addParameter("id", "disk-" + n);
      e.info.addParameter("type", "disk");
      ASSERT_EQ(events.saveEvent(e), 0);
    }
    JRX::JRXEvent alert = event(kVm2, kT0 + 5), audit = auditEvent(kNode, "s-1", 0);
    alert.guid = JRX::JRXGUID(0xa1, 1);
    audit.guid = JRX::JRXGUID(0xa1, 2);
    alert.info.addParameter("env", envRef(kVm1, "vm", "vm-1"));
    ASSERT_EQ(events.saveEvent(alert), 0);
    ASSERT_EQ(events.saveEvent(audit), 0);
  }

  // Runs `call` once per statement it makes (after `prepare`), that statement failing: each
  // run answers 3101, with the failure's text as the message of a command it ended on `service`,
  // leaving the log as it was (or as `after(commands ended)` says); a call that writes nothing
  // may answer 0 when its rollback fails. Then runs it unharmed and returns its answer.
  int failEachStatement(const JRX::JRXRequestLocal* service, const std::function<int()>& call,
                        const std::function<Lines(size_t)>& after = nullptr,
                        const std::function<void()>& prepare = nullptr) {
    const bool failedBefore = HasFailure();
    for (int n = 1, harmless = 0;; ++n) {
      SCOPED_TRACE("statement " + std::to_string(n) + " failing");
      if (prepare) prepare();
      const Lines before = allLogRows();
      ASFaults::Clear();
      ASFaults::FailStatement(n, "", kInjected);
      const int answer = call();
      const int seen = ASFaults::StatementsSeen();
      ASFaults::Clear();
      if (seen < n) {
        EXPECT_TRUE(!harmless || (harmless == seen && allLogRows() == before));
        return answer;
      }
      bool told = !service || answer == 0;
      for (size_t i = 0; service && i < service->endedCommands().size(); ++i)
        told = told || service->endedCommands()[i].message == kInjected;
      EXPECT_TRUE(told);
      if (answer == 0) {
        // The driver leaves the transaction whose rollback failed open: start afresh.
        harmless = n;
        JRX::JRXDatabase::get()->DropSession();
      } else {
        EXPECT_EQ(answer, 3101);
      }
      EXPECT_EQ(allLogRows(), after ? after(service->endedCommands().size()) : before);
      if (!failedBefore && HasFailure()) return -1;
    }
  }

  static std::string infoText(const JRX::JRXInfo& info) {
    std::string text;
    info.serializeToString(text);
    return text;
  }
  // A record as "id|name|parent|session|progress|time|status|information|eid| operands...".
  static std::string opLine(const JRX::JRXRequestProgressData& r) {
    std::string operands;
    for (const JRX::JRXEID& e : r.operands) operands += " " + eidText(e);
    return joined({r.id, r.name, r.parentId, r.sessionId.text, std::to_string(r.progress),
                   std::to_string(r.time), std::to_string(r.status), infoText(r.info),
                   eidText(r.eid), operands});
  }
  // An event as "guid|time|category|type|code|sid bytes|source|information|payload".
  static std::string eventLine(const JRX::JRXEvent& e) {
    return e.guid.toString() + "|" + std::to_string(e.time) + "|" + e.category + "|" + e.type +
           "|" + std::to_string(e.code) + "|" + std::to_string(e.sid.data.size()) + "|" +
           eidText(e.eid) + "|" + infoText(e.info) + "|" + (e.data ? "data" : "");
  }
  template <class Record, class Line>
  static Lines linesOf(const std::vector<Record>& records, Line line) {
    Lines out;
    for (const Record& r : records) out.push_back(line(r));
    return out;
  }

  // What a follower that read the rows stored under `ranges` must have got: as `keys`, each
  // key of `all` (ascending) in one of them, up to `limit`; as `got`, those of `listing` (the
  // brute-force listing of its filter, each ending with its row's key) among them, by key.
  template <class Key>
  static void expectStoredOf(const std::vector<long long>& all,
                             const std::vector<JRX::JRXKeyRange>& ranges, unsigned limit,
                             const std::vector<Key>& listing, const std::vector<long long>& keys,
                             const std::vector<Key>& got) {
    std::vector<long long> stored;
    for (long long key : all)
      for (const JRX::JRXKeyRange& r : ranges)
        if (key >= r.first && key <= r.last && stored.size() < limit) stored.push_back(key);
    const auto rowKey = [](const Key& k) { return std::get<std::tuple_size<Key>::value - 1>(k); };
    std::vector<Key> expected;
    for (const Key& k : listing)
      if (std::binary_search(stored.begin(), stored.end(), rowKey(k))) expected.push_back(k);
    std::sort(expected.begin(), expected.end(),
              [&](const Key& x, const Key& y) { return rowKey(x) < rowKey(y); });
    EXPECT_EQ(keys, stored);
    EXPECT_EQ(got, expected);
  }

  // What a reader that went on while writers wrote must have seen: each of `required`, else
  // only elements of `all`, each once and in the order of `all`.
  template <class Key>
  static void expectInOrderOnce(const std::vector<Key>& listed, const std::vector<Key>& all,
                                const std::vector<Key>& required) {
    std::map<Key, size_t> position;
    for (size_t i = 0; i < all.size(); ++i) position[all[i]] = i;
    for (size_t i = 0; i < listed.size(); ++i) {
      ASSERT_TRUE(position.count(listed[i])) << i;
      ASSERT_TRUE(i == 0 || position[listed[i - 1]] < position[listed[i]]) << i;
    }
    const std::set<Key> seen(listed.begin(), listed.end());
    for (const Key& k : required) EXPECT_TRUE(seen.count(k));
  }

  // Runs `query` (which fills `out` afresh) once, then with each of its statements failing in
  // turn (failEachStatement): each failed run keeps a prefix of the clean answer in `out`.
  template <class Record, class Line>
  void failEachQueryStatement(const JRX::JRXRequestLocal& service, std::vector<Record>& out,
                              Line line, const std::function<int()>& query) {
    ASSERT_EQ(query(), 0);
    const Lines clean = linesOf(out, line);
    ASSERT_FALSE(clean.empty());
    EXPECT_EQ(failEachStatement(&service, [&] {
                const int answer = query();
                const Lines part = linesOf(out, line);
                EXPECT_TRUE(part.size() <= clean.size() &&
                            std::equal(part.begin(), part.end(), clean.begin()));
                return answer;
              }),
              0);
    EXPECT_EQ(linesOf(out, line), clean);
  }

  // The plans of every statement `call` runs on this thread's session.
  static std::vector<ASPlan> plansOf(const std::function<void()>& call) {
    std::vector<ASPlan> plans;
    ASSession* s = JRX::JRXDatabase::get()->Session();
    s->RecordPlans(&plans);
    call();
    s->RecordPlans(nullptr);
    return plans;
  }

  // Texts of the plug-in's log records at that level.
  Lines records(int level) const {
    Lines out;
    for (const auto& r : sink->records())
      if (r.category == "JRXLogDBLocal" && r.level == level) out.push_back(r.text);
    return out;
  }

  std::shared_ptr<JRX::JRXCapturingLogSink> sink;

 private:
  std::shared_ptr<JRX::JRXLogSink> previousSink;
  std::unique_ptr<JRX::JRXAccessChecker> checker;
};

#define JRX_ON_EVERY_BACKEND(Suite)                                                      \
  INSTANTIATE_TEST_SUITE_P(Db, Suite, ::testing::ValuesIn(jrxtest::backends()), \
                           jrxtest::BackendName())

}  // namespace jrxtest
