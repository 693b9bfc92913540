// A fresh event-log database per test, on every backend, opened through the fault-injecting
// driver so that any statement can be made to fail; helpers that build events and read back
// what was stored.
#pragma once

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <memory>
#include <string>
#include <vector>

#include "ASQuery.h"
#include "JRXConversions.h"
#include "JRXLog.h"
#include "JRXLogDBLocal.h"
#include "JRXRdbms.h"
#include "JRXRequest.h"
#include "LogDbFixture.h"
#include "RowCount.h"
#include "store/LogTables.h"

namespace jrxtest {

class EventLogFixture : public LogDbFixture {
 protected:
  void SetUp() override { openLogDb(true); }

  static JRX::JRXInfo envRef(const JRX::JRXEID& eid, const std::string& title = "node-1",
                             const std::string& type = "node") {
    JRX::JRXInfo ref("environment");
    ref.addParameter("eid", eid.toString());
    ref.addParameter("type", type);
    ref.addParameter("title", title);
    return ref;
  }

  // An ordinary event raised about `source`.
  static JRX::JRXEvent event(const JRX::JRXEID& source, int64_t time = 1000,
                             const std::string& type = "alert") {
    JRX::JRXEvent e("monitor");
    e.guid = JRX::JRXGUID::generate();
    e.time = time;
    e.category = "monitor";
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

  // The last command that ended on the service: its code and message.
  static JRX::JRXRequestErrorData lastEnded(const JRX::JRXRequestLocal& r) {
    return r.endedCommands().empty() ? JRX::JRXRequestErrorData(-1, "none")
                                     : r.endedCommands().back();
  }

  // Number of rows of the table that satisfy `cond` (the empty condition: all).
  template <class Table>
  static int count(Table& t, const ASComparison& cond = ASComparison()) {
    return static_cast<int>(countRows(t, cond));
  }

  template <class Table>
  static int count() {
    Table t;
    return count(t);
  }

  // The stored row of the event with that GUID; false when there is none.
  static bool storedEvent(const JRX::JRXGUID& guid, JRX::events_log& row) {
    JRX::JRXRdbmsTran tran;
    ASCursor c(*tran);
    for (size_t i = 0; i < row.Size(); ++i) c.Project() << row.Attribute(i);
    c.Set(row->guid == guid.toString());
    return c.Fetch() != 0;
  }

  static int eventId(const JRX::JRXGUID& guid) {
    JRX::events_log row;
    return storedEvent(guid, row) ? static_cast<int>(row.event_id.Int()) : -1;
  }

  // Log records of the plug-in at that level, texts only.
  std::vector<std::string> records(int level) const {
    std::vector<std::string> out;
    for (const auto& r : sink->records())
      if (r.category == "JRXLogDBLocal" && r.level == level) out.push_back(r.text);
    return out;
  }
};

}  // namespace jrxtest
