// A fresh log database per test, on every backend, opened through the fault-injecting driver
// so that a test can make any statement fail: the log tables, a local node, a directory that
// knows a few environments, no client rights set and the log records captured. Helpers make
// the records the services take.
// Header only: it needs the plug-in, which the common library does not link.
#pragma once

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <functional>
#include <memory>

#include "ASFaults.h"
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
  // The local node, the node that executes the reported operations, two machines, and an
  // environment the directory does not know.
  static inline const JRX::JRXEID kLocal{0x10c41, 1}, kNode{0x70de, 1}, kVm1{0x7a, 1},
      kVm2{0x7a, 2}, kUnknown{0xdead, 0xbeef};
  static inline const std::string kInjected = "statement failed on purpose";

  void SetUp() override {
    sink = std::make_shared<JRX::JRXCapturingLogSink>();
    previousSink = JRX::setLogSink(sink);
    openLogDb();
  }

  void TearDown() override {
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

  // Runs `call` once per statement it makes (after `prepare`), that statement failing: every
  // run must answer 3101, give the failure's text as the message of a command it ended on
  // `service` (when there is one), and leave the log tables as they were, or as
  // `after(commands ended)` says. Only a call that writes nothing may answer 0 when its last
  // statement (the rollback) fails. Then `call` runs with nothing failing; returns its answer.
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
